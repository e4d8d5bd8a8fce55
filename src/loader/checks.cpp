// OFF and PLY files declare how many vertices and faces follow before giving
// them, and parsers size their arrays from those counts. A count that the rest
// of the file cannot hold is refused before the parser sees it, and so is a
// file cut short (see below).
#include "checks.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string_view>
#include <utility>
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
bool checkoff(const std::string &name, std::string_view head, std::uint64_t filesize) {
    const std::string text = uncommented(head);
    const std::vector<std::string_view> w = words(text);
    if (w.size() < 3 || w[0].size() < 3 || w[0].substr(w[0].size() - 3) != "OFF") {
        return false;
    }
    const auto vertices = count(w[1]);
    const auto faces = count(w[2]);
    if (!vertices || !faces) {
        return false;
    }
    const std::uint64_t room = filesize / 2;
    if (*vertices > room) {
        toomany(name, *vertices, "vertices", filesize);
    }
    if (*faces > room - *vertices) {
        toomany(name, *faces, "faces", filesize);
    }
    return true;
}

// An element a PLY header declares: its name, how many there are and the
// least one instance takes in the file.
struct plyelement {
    std::string_view name;
    std::uint64_t count = 0;
    std::uint64_t bytes = 0;
    std::vector<bool> lists; // for each property, whether it is a list
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
            elements.push_back({w[1], *n, 0, {}});
        } else if (w.size() >= 3 && w[0] == "property" && !elements.empty()) {
            elements.back().bytes += ascii ? 2 : binarysize(w[1] == "list" ? w[2] : w[1]);
            elements.back().lists.push_back(w[1] == "list");
        }
    }
    return elements;
}

// PLY: "ply", "format ascii|binary_little_endian|binary_big_endian 1.0", then
// "element NAME COUNT" lines each followed by its "property ..." lines, up to
// "end_header". The elements, when the header is whole and its counts are
// numbers.
std::optional<std::vector<plyelement>> checkply(const std::string &name, std::string_view head,
                                                std::uint64_t filesize) {
    const std::size_t end = head.find("end_header");
    if (end == std::string_view::npos) {
        if (filesize <= head.size()) {
            throw failure("cannot load mesh '" + name + "': its PLY header has no end_header");
        }
        return std::nullopt; // a header longer than the part read: left to the parser
    }
    const std::size_t dataat = head.find('\n', end);
    const std::uint64_t data = dataat == std::string_view::npos ? 0 : filesize - (dataat + 1);
    const auto elements = plyelements(head, dataat);
    if (!elements) {
        return std::nullopt;
    }
    std::uint64_t room = data;
    for (const plyelement &e : *elements) {
        const std::uint64_t each = std::max<std::uint64_t>(e.bytes, 1);
        if (e.count > room / each) {
            toomany(name, e.count, "'" + std::string(e.name) + "' elements", data);
        }
        room -= e.count * each;
    }
    return elements;
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

// ---- Files cut short -----------------------------------------------------------
//
// A text mesh cut short (a download or a copy that stopped) can still parse,
// into part of the mesh. A file is refused when its end is not where its
// format says the data ends: PLY and OFF hold as many element lines as their
// headers declare, the last of them whole; an ASCII STL ends with endsolid;
// an OBJ's last line, when no newline ends it, holds a whole element.

[[noreturn]] void cutshort(const std::string &name, const std::string &why) {
    throw failure("cannot load mesh '" + name + "': it is cut short: " + why);
}

// Calls `each(line)` for each line of `fd` from `offset` on, without its
// line end, until it returns false or the file ends.
template <class F> void eachline(int fd, std::uint64_t offset, F each) {
    std::vector<char> buffer(1 << 20);
    std::string carry;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        offset += static_cast<std::uint64_t>(n);
        std::string_view chunk(buffer.data(), static_cast<std::size_t>(n));
        for (std::size_t end = chunk.find('\n'); end != std::string_view::npos;
             end = chunk.find('\n')) {
            // A line within the chunk is passed where it lies.
            const std::string_view line =
                carry.empty() ? chunk.substr(0, end) : carry.append(chunk.substr(0, end));
            chunk.remove_prefix(end + 1);
            if (!each(line)) {
                return;
            }
            carry.clear();
        }
        carry.append(chunk);
    }
    if (!carry.empty()) {
        each(std::string_view(carry));
    }
}

// Whether `line` holds nothing but spaces, or a comment from `comment` on.
bool blank(std::string_view line, char comment) {
    for (const char c : line) {
        if (std::isspace(static_cast<unsigned char>(c)) == 0) {
            return c == comment;
        }
    }
    return true;
}

// The last `size` bytes of the file, or all of a shorter one.
std::string readtail(int fd, std::uint64_t filesize, std::size_t size) {
    const std::uint64_t from = filesize > size ? filesize - size : 0;
    std::string tail(static_cast<std::size_t>(filesize - from), '\0');
    std::size_t got = 0;
    while (got < tail.size()) {
        const ssize_t n =
            ::pread(fd, tail.data() + got, tail.size() - got, static_cast<off_t>(from + got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    tail.resize(got);
    return tail;
}

// The last line of `text`, after any line end or space that ends it.
std::string_view lastline(std::string_view text) {
    while (!text.empty() &&
           (std::isspace(static_cast<unsigned char>(text.back())) != 0 || text.back() == '\0')) {
        text.remove_suffix(1);
    }
    const std::size_t start = text.find_last_of("\r\n");
    return start == std::string_view::npos ? text : text.substr(start + 1);
}

// Whether an instance of `e` in an ASCII PLY holds all its values: a list
// its length and that many values. A length that is not a number is the
// parser's to refuse.
bool wholeinstance(std::string_view line, const plyelement &e) {
    const std::vector<std::string_view> w = words(line);
    std::size_t at = 0;
    for (const bool list : e.lists) {
        if (at >= w.size()) {
            return false;
        }
        const auto length = list ? count(w[at]) : std::optional<std::uint64_t>(0);
        if (!length) {
            return true;
        }
        if (*length >= w.size() - at) {
            return false;
        }
        at += 1 + static_cast<std::size_t>(*length);
    }
    return true;
}

// "8 'vertex' and 12 'face' elements", as the header declares them.
std::string declared(const std::vector<plyelement> &elements) {
    std::string out;
    for (const plyelement &e : elements) {
        out += (out.empty() ? "" : " and ") + std::to_string(e.count) + " '" + std::string(e.name) +
               "'";
    }
    return out + " elements";
}

// An ASCII PLY's body, from `offset`: an element instance to a line.
void checkplybody(const std::string &name, int fd, std::uint64_t offset,
                  const std::vector<plyelement> &elements) {
    std::uint64_t total = 0;
    const plyelement *lastelement = nullptr;
    for (const plyelement &e : elements) {
        total += e.count; // each fits in the file, so their sum does
        lastelement = e.count > 0 ? &e : lastelement;
    }
    if (lastelement == nullptr) {
        return;
    }
    std::uint64_t seen = 0;
    std::string last;
    eachline(fd, offset, [&](std::string_view line) {
        if (blank(line, '\0')) {
            return true;
        }
        if (++seen < total) {
            return true;
        }
        last = line;
        return false;
    });
    if (seen < total || !wholeinstance(last, *lastelement)) {
        cutshort(name,
                 "its header declares " + declared(elements) + ", and it ends before their last");
    }
}

// The vertex and face counts of an OFF header (its first four words: the
// keyword and three counts), or nothing for a form these checks do not know.
std::optional<std::pair<std::uint64_t, std::uint64_t>>
offcounts(const std::vector<std::string> &header) {
    const auto vertices = count(header[1]);
    const auto faces = count(header[2]);
    if (!vertices || !faces || header[0].find_first_of("n4") != std::string::npos) {
        return std::nullopt;
    }
    return std::pair{*vertices, *faces};
}

// An OFF file's body: after the keyword and three counts, a line for each
// vertex and then one for each face, its number of corners first.
void checkoffbody(const std::string &name, int fd) {
    std::vector<std::string> header;
    std::optional<std::pair<std::uint64_t, std::uint64_t>> counts;
    std::uint64_t seen = 0;
    std::string last;
    eachline(fd, 0, [&](std::string_view line) {
        if (blank(line, '#')) {
            return true;
        }
        // A comment runs from '#' to the end of its line.
        line = header.size() < 4 || seen + 1 >= counts->first + counts->second
                   ? line.substr(0, line.find('#'))
                   : line;
        if (header.size() < 4) {
            for (const std::string_view w : words(line)) {
                header.emplace_back(w);
            }
            counts = header.size() < 4 ? std::nullopt : offcounts(header);
            return header.size() < 4 || (counts && counts->first + counts->second > 0);
        }
        if (++seen < counts->first + counts->second) {
            return true;
        }
        last = line;
        return false;
    });
    if (!counts || counts->first + counts->second == 0) {
        return;
    }
    const std::vector<std::string_view> w = words(last);
    const auto corners =
        counts->second == 0 || w.empty() ? std::optional<std::uint64_t>(2) : count(w[0]);
    if (seen < counts->first + counts->second || (corners && *corners >= w.size())) {
        cutshort(name, "its header declares " + header[1] + " vertices and " + header[2] +
                           " faces, and it ends before their last");
    }
}

// Whether the file is an ASCII STL, as assimp tells: not of a binary STL's
// size for the count it holds, starting with "solid", and no byte above 127
// in its first 500.
bool asciistl(std::string_view head, std::uint64_t filesize) {
    if (filesize >= 84 && head.size() >= 84) {
        std::uint32_t facets = 0;
        std::memcpy(&facets, head.data() + 80, sizeof facets);
        if (84 + 50 * std::uint64_t{facets} == filesize) {
            return false;
        }
    }
    const std::size_t start = head.find_first_not_of(" \t\r\n\f\v");
    if (start == std::string_view::npos || head.compare(start, 5, "solid") != 0) {
        return false;
    }
    const std::string_view first = head.substr(start, 500);
    return std::none_of(first.begin(), first.end(),
                        [](char c) { return static_cast<unsigned char>(c) > 127; });
}

// An ASCII STL ends with endsolid (and perhaps the solid's name).
void checkstlending(const std::string &name, int fd, std::uint64_t filesize) {
    std::string last(lastline(readtail(fd, filesize, 4096)));
    for (char &c : last) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const std::size_t start = last.find_first_not_of(" \t");
    if (start == std::string::npos || last.compare(start, 8, "endsolid") != 0) {
        cutshort(name, "it ends without endsolid");
    }
}

// An OBJ has no count and no end mark; a last line that no newline ends is
// refused when it stops within a vertex, a face or a line: fewer values than
// one needs, or a last value that does not end in a digit.
void checkobjending(const std::string &name, int fd, std::uint64_t filesize) {
    const std::string tail = readtail(fd, filesize, 4096);
    if (tail.empty() || tail.back() == '\n' || tail.back() == '\r') {
        return;
    }
    const std::size_t start = tail.find_last_of("\r\n");
    const std::string_view line =
        std::string_view(tail).substr(start == std::string::npos ? 0 : start + 1);
    const std::vector<std::string_view> w = words(line);
    static const std::map<std::string_view, std::pair<std::size_t, const char *>> elements = {
        {"v", {4, "a vertex"}}, {"f", {4, "a face"}}, {"l", {3, "a line"}}};
    const auto element = w.empty() ? elements.end() : elements.find(w[0]);
    if (element == elements.end()) {
        return;
    }
    const bool digit = std::isdigit(static_cast<unsigned char>(w.back().back())) != 0;
    if (w.size() < element->second.first || !digit) {
        cutshort(name, std::string("its last line stops within ") + element->second.second);
    }
}

// The file's extension, lower case.
std::string extensionof(const std::string &name) {
    std::string extension = std::filesystem::path(name).extension().string();
    for (char &c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return extension;
}

// Opens the file; -1 when it is not a regular file (no size to measure
// against: the parser's to refuse).
int openregular(const std::string &name, std::uint64_t &filesize) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw failure("cannot load mesh '" + name + "': " + std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    filesize = static_cast<std::uint64_t>(st.st_size);
    return fd;
}

// The checks of one open file, by what its start says it is.
void checkopen(const std::string &name, int fd, std::uint64_t filesize) {
    const std::string head = readhead(fd, 64 * 1024);
    if (head.rfind("ply", 0) == 0 && head.size() > 3 && (head[3] == '\n' || head[3] == '\r')) {
        const auto elements = checkply(name, head, filesize);
        const std::size_t end = head.find("end_header");
        if (elements && head.find("format ascii") < end) {
            checkplybody(name, fd, head.find('\n', end) + 1, *elements);
        }
    } else if (checkoff(name, head, filesize)) {
        checkoffbody(name, fd);
    } else if (asciistl(head, filesize)) {
        checkstlending(name, fd, filesize);
    } else if (extensionof(name) == ".obj") {
        checkobjending(name, fd, filesize);
    }
}

// Runs `check` on the file opened, when it is a regular one.
template <class Check> void withfile(const std::string &name, Check check) {
    std::uint64_t filesize = 0;
    const int fd = openregular(name, filesize);
    if (fd < 0) {
        return;
    }
    try {
        check(name, fd, filesize);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
}

} // namespace

void checkfile(const std::string &name) { withfile(name, checkopen); }

void checkobjfile(const std::string &name) { withfile(name, checkobjending); }

} // namespace trel::loader
