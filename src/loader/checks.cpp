// OFF and PLY files declare how many vertices and faces follow before giving
// them, and parsers size their arrays from those counts. A count that the rest
// of the file cannot hold is refused before the parser sees it.
#include "checks.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <trel/scene.h>

#include "text.h"

namespace trel::loader {

using scene::failure;

namespace {

[[noreturn]] void toomany(const std::string &name, std::uint64_t declared, std::string_view what,
                          std::uint64_t bytes) {
    throw failure("cannot load mesh '" + name + "': its header declares " +
                  std::to_string(declared) + " " + std::string(what) + ", more than its " +
                  std::to_string(bytes) + " bytes of data can hold");
}

// `head` with every comment (from '#' to the end of its line) taken out.
std::string uncommented(std::string_view head) {
    std::string out;
    std::size_t line = 0;
    while (line < head.size()) {
        std::size_t end = head.find('\n', line);
        end = end == std::string_view::npos ? head.size() : end;
        const std::string_view text = head.substr(line, end - line);
        out.append(text.substr(0, text.find('#')));
        out += '\n';
        line = end + 1;
    }
    return out;
}

// OFF: an optional comment, a keyword ending in OFF (OFF, COFF, NOFF, ...), then
// the numbers of vertices, faces and edges. Every vertex and face takes at
// least a number and a separator: two bytes.
void checkoff(const std::string &name, std::string_view head, std::uint64_t filesize) {
    const std::string text = uncommented(head);
    const std::vector<std::string_view> w = words(text);
    if (w.size() < 3 || w[0].size() < 3 || w[0].substr(w[0].size() - 3) != "OFF") {
        return;
    }
    const auto vertices = count(w[1]);
    const auto faces = count(w[2]);
    if (!vertices || !faces) {
        return;
    }
    const std::uint64_t room = filesize / 2;
    if (*vertices > room) {
        toomany(name, *vertices, "vertices", filesize);
    }
    if (*faces > room - *vertices) {
        toomany(name, *faces, "faces", filesize);
    }
}

// An element a PLY header declares: its name, how many there are and the
// least one instance takes in the file.
struct plyelement {
    std::string_view name;
    std::uint64_t count = 0;
    std::uint64_t bytes = 0;
};

// The bytes a property of the given type takes in binary; a list at least
// the size of its length.
std::uint64_t binarysize(std::string_view type) {
    static const std::map<std::string_view, std::uint64_t> sizes = {
        {"char", 1},  {"uchar", 1},   {"int8", 1},   {"uint8", 1},  {"short", 2}, {"ushort", 2},
        {"int16", 2}, {"uint16", 2},  {"int", 4},    {"uint", 4},   {"int32", 4}, {"uint32", 4},
        {"float", 4}, {"float32", 4}, {"double", 8}, {"float64", 8}};
    const auto size = sizes.find(type);
    return size == sizes.end() ? 1 : size->second;
}

// The elements of the PLY header in `head` up to `end` (the line after
// end_header), or nothing when a count is not a number (the parser's to
// refuse). In ASCII every property takes at least two bytes; in binary,
// its size.
std::optional<std::vector<plyelement>> plyelements(std::string_view head, std::size_t end) {
    bool ascii = true;
    std::vector<plyelement> elements;
    std::size_t line = 0;
    while (line < end) {
        std::size_t stop = head.find('\n', line);
        stop = stop == std::string_view::npos ? head.size() : stop;
        const std::vector<std::string_view> w = words(head.substr(line, stop - line));
        line = stop + 1;
        if (w.size() >= 2 && w[0] == "format") {
            ascii = w[1] == "ascii";
        } else if (w.size() >= 3 && w[0] == "element") {
            const auto n = count(w[2]);
            if (!n) {
                return std::nullopt;
            }
            elements.push_back({w[1], *n, 0});
        } else if (w.size() >= 3 && w[0] == "property" && !elements.empty()) {
            elements.back().bytes += ascii ? 2 : binarysize(w[1] == "list" ? w[2] : w[1]);
        }
    }
    return elements;
}

// PLY: "ply", "format ascii|binary_little_endian|binary_big_endian 1.0", then
// "element NAME COUNT" lines each followed by its "property ..." lines, up to
// "end_header".
void checkply(const std::string &name, std::string_view head, std::uint64_t filesize) {
    const std::size_t end = head.find("end_header");
    if (end == std::string_view::npos) {
        if (filesize <= head.size()) {
            throw failure("cannot load mesh '" + name + "': its PLY header has no end_header");
        }
        return; // a header longer than the part read: left to the parser
    }
    const std::size_t dataat = head.find('\n', end);
    const std::uint64_t data = dataat == std::string_view::npos ? 0 : filesize - (dataat + 1);
    const auto elements = plyelements(head, dataat);
    if (!elements) {
        return;
    }
    std::uint64_t room = data;
    for (const plyelement &e : *elements) {
        const std::uint64_t each = std::max<std::uint64_t>(e.bytes, 1);
        if (e.count > room / each) {
            toomany(name, e.count, "'" + std::string(e.name) + "' elements", data);
        }
        room -= e.count * each;
    }
}

// Up to `size` bytes from the start of `fd`.
std::string readhead(int fd, std::size_t size) {
    std::string head(size, '\0');
    std::size_t got = 0;
    while (got < head.size()) {
        const ssize_t n = ::read(fd, head.data() + got, head.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    head.resize(got);
    return head;
}

} // namespace

void checkcounts(const std::string &name) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw failure("cannot load mesh '" + name + "': " + std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return; // no size to measure counts against
    }
    const std::string head = readhead(fd, 64 * 1024);
    ::close(fd);
    const auto filesize = static_cast<std::uint64_t>(st.st_size);
    if (head.rfind("ply", 0) == 0 && head.size() > 3 && (head[3] == '\n' || head[3] == '\r')) {
        checkply(name, head, filesize);
    } else {
        checkoff(name, head, filesize);
    }
}

} // namespace trel::loader
