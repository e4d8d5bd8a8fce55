#include "load.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <new>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <assimp/Importer.hpp>
#include <assimp/commonMetaData.h>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

namespace trel::loader {

using scene::failure;
using scene::mesh;
using scene::nocolour;
using scene::vec3;

namespace {

// Polygons are cut into triangles; corners are joined by position here rather
// than by assimp, which also compares normals, texture coordinates and colours
// the program never reads, at a cost that grows faster than the mesh.
constexpr unsigned importflags = aiProcess_Triangulate | aiProcess_ValidateDataStructure;

// A message from a parser on one line: control characters become spaces,
// runs of spaces one, and a very long message is cut short.
std::string cleanline(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const bool space = static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == ' ';
        if (space) {
            if (!out.empty() && out.back() != ' ') {
                out += ' ';
            }
        } else {
            out += c;
        }
    }
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    constexpr std::size_t longest = 300;
    if (out.size() > longest) {
        out.resize(longest);
        out += "...";
    }
    return out;
}

// A colour channel from 0 to 1 as a byte, rounded; beyond the range (or not
// a number) it is clamped.
std::uint32_t channel(float value) {
    if (!(value > 0.0F)) {
        return 0;
    }
    if (!(value < 1.0F)) {
        return 255;
    }
    return static_cast<std::uint32_t>(static_cast<double>(value) * 255.0 + 0.5);
}

// The colour word of an assimp colour, red in bits 0-7; alpha is not drawn.
std::uint32_t colourof(const aiColor4D &c) {
    return channel(c.r) | channel(c.g) << 8 | channel(c.b) << 16;
}

// Appends `colour` for element `index` to `colours`, which stays empty while
// every element so far has none.
void addcolour(std::vector<std::uint32_t> &colours, std::size_t index, std::uint32_t colour) {
    if (colours.empty()) {
        if (colour == nocolour) {
            return;
        }
        colours.assign(index, nocolour);
    }
    colours.push_back(colour);
}

// The mean of the colours of a face's corners (the mesh's first set of vertex
// colours), as a colour word.
std::uint32_t cornercolour(const aiMesh &m, const aiFace &face) {
    aiColor4D sum(0.0F, 0.0F, 0.0F, 0.0F);
    for (unsigned k = 0; k < face.mNumIndices; ++k) {
        const aiColor4D &c = m.mColors[0][face.mIndices[k]];
        sum.r += c.r;
        sum.g += c.g;
        sum.b += c.b;
    }
    const auto n = static_cast<float>(face.mNumIndices);
    return colourof(aiColor4D(sum.r / n, sum.g / n, sum.b / n, 1.0F));
}

// Appends the triangles, lines and points of one mesh, moved by `transform`,
// with their colours: the mean of their corners' colours where the mesh has
// vertex colours, else its material's colour (`materials`, by index; or
// nocolour). Colours are taken per face before corners are joined, since
// corners at one position may carry different colours.
void gathermesh(const aiMesh &m, const aiMatrix4x4 &transform,
                const std::vector<std::uint32_t> &materials, mesh &out) {
    if (m.mVertices == nullptr) {
        return;
    }
    static_assert(sizeof(aiVector3D) == 3 * sizeof(float));
    std::uint32_t distinct = 0;
    const std::vector<std::uint32_t> number =
        trel::scene::weld(&m.mVertices[0].x, m.mNumVertices, distinct);
    if (out.vertices.size() + distinct > std::numeric_limits<std::uint32_t>::max()) {
        return;
    }
    const auto base = static_cast<std::uint32_t>(out.vertices.size());
    if (out.vertices.capacity() < out.vertices.size() + distinct) {
        out.vertices.reserve(std::max(out.vertices.size() + distinct, 2 * out.vertices.size()));
    }
    std::uint32_t next = 0;
    for (unsigned v = 0; v < m.mNumVertices; ++v) {
        if (number[v] != next) {
            continue; // a position already taken
        }
        ++next;
        // The transform is applied in doubles: model coordinates can be large.
        const aiVector3D &p = m.mVertices[v];
        const auto row = [&transform, &p](int r) {
            return static_cast<double>(transform[r][0]) * p.x +
                   static_cast<double>(transform[r][1]) * p.y +
                   static_cast<double>(transform[r][2]) * p.z +
                   static_cast<double>(transform[r][3]);
        };
        out.vertices.push_back({row(0), row(1), row(2)});
    }
    if (out.triangles.empty()) {
        out.triangles.reserve(m.mNumFaces);
    }
    const bool cornercolours = m.mColors[0] != nullptr;
    const std::uint32_t material =
        m.mMaterialIndex < materials.size() ? materials[m.mMaterialIndex] : nocolour;
    for (unsigned f = 0; f < m.mNumFaces; ++f) {
        const aiFace &face = m.mFaces[f];
        // Polygons were cut into triangles: a face has 3 corners, or 2 (a
        // line) or 1 (a point), which stay as they are.
        if (face.mNumIndices < 1 || face.mNumIndices > 3 || face.mIndices == nullptr) {
            continue;
        }
        bool inside = true;
        for (unsigned k = 0; k < face.mNumIndices; ++k) {
            inside = inside && face.mIndices[k] < m.mNumVertices;
        }
        if (!inside) {
            continue;
        }
        const std::uint32_t colour = cornercolours ? cornercolour(m, face) : material;
        const auto at = [&](unsigned k) { return base + number[face.mIndices[k]]; };
        switch (face.mNumIndices) {
        case 3:
            addcolour(out.trianglecolours, out.triangles.size(), colour);
            out.triangles.push_back({at(0), at(1), at(2)});
            break;
        case 2:
            addcolour(out.linecolours, out.lines.size(), colour);
            out.lines.push_back({at(0), at(1)});
            break;
        default:
            addcolour(out.pointcolours, out.points.size(), colour);
            out.points.push_back(at(0));
            break;
        }
    }
}

// The colour of each of the scene's materials, or nocolour for those that
// assimp made up for meshes that have none: OBJ, STL and most importers name
// theirs "DefaultMaterial"; glTF 2 adds an unnamed one after the file's own;
// and every material of an OFF or PLY file is made up (assimp reads colours
// from them only as vertex colours). A glTF material's colour is its base
// colour factor; elsewhere it is the diffuse colour.
std::vector<std::uint32_t> materialcolours(const aiScene &scene) {
    std::vector<std::uint32_t> colours(scene.mNumMaterials, nocolour);
    if (scene.mMaterials == nullptr) {
        return colours;
    }
    aiString format;
    if (scene.mMetaData != nullptr) {
        scene.mMetaData->Get(AI_METADATA_SOURCE_FORMAT, format);
    }
    const std::string_view importer(format.C_Str());
    const bool gltf2 = importer.find("glTF2") != std::string_view::npos;
    if (importer.find("OFF") != std::string_view::npos ||
        importer.find("PLY") != std::string_view::npos) {
        return colours;
    }
    for (unsigned i = 0; i < scene.mNumMaterials; ++i) {
        const aiMaterial *material = scene.mMaterials[i];
        if (material == nullptr || (gltf2 && i + 1 == scene.mNumMaterials)) {
            continue;
        }
        aiString name;
        if (material->Get(AI_MATKEY_NAME, name) == AI_SUCCESS &&
            std::string_view(name.C_Str()) == AI_DEFAULT_MATERIAL_NAME) {
            continue;
        }
        aiColor4D colour;
        if (material->Get(AI_MATKEY_BASE_COLOR, colour) == AI_SUCCESS ||
            material->Get(AI_MATKEY_COLOR_DIFFUSE, colour) == AI_SUCCESS) {
            colours[i] = colourof(colour);
        }
    }
    return colours;
}

// Appends the triangles, lines and points of every mesh in the node tree,
// each moved by the transforms from the root down to its node. The tree is
// walked with a stack of its own: a file may nest nodes deeper than the
// program's stack allows.
void gather(const aiScene &scene, mesh &out) {
    const std::vector<std::uint32_t> materials = materialcolours(scene);
    std::vector<std::pair<const aiNode *, aiMatrix4x4>> pending{{scene.mRootNode, aiMatrix4x4()}};
    while (!pending.empty()) {
        const auto [node, parent] = pending.back();
        pending.pop_back();
        const aiMatrix4x4 transform = parent * node->mTransformation;
        for (unsigned i = 0; i < node->mNumMeshes; ++i) {
            if (node->mMeshes[i] < scene.mNumMeshes && scene.mMeshes[node->mMeshes[i]] != nullptr) {
                gathermesh(*scene.mMeshes[node->mMeshes[i]], transform, materials, out);
            }
        }
        // Children go on in reverse, so that they come off in the file's order.
        for (unsigned i = node->mNumChildren; i-- > 0;) {
            if (node->mChildren[i] != nullptr) {
                pending.emplace_back(node->mChildren[i], transform);
            }
        }
    }
}

// The mesh of an imported scene, checked for what trel-render cannot place.
mesh fromscene(const aiScene *scene, const std::string &name, const std::string &error) {
    if (scene == nullptr) {
        const std::string why = cleanline(error);
        throw failure("cannot load mesh '" + name +
                      "': " + (why.empty() ? std::string("not a mesh assimp can read") : why));
    }
    mesh out;
    if (scene->mRootNode != nullptr) {
        gather(*scene, out);
    }
    trel::scene::finish(out, name);
    return out;
}

// ---- Counts declared in headers ----------------------------------------------
//
// OFF and PLY files declare how many vertices and faces follow before giving
// them, and parsers size their arrays from those counts. A count that the rest
// of the file cannot hold is refused before the parser sees it.

// Whitespace-separated words of `text`.
std::vector<std::string_view> words(std::string_view text) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) {
            ++i;
        }
        std::size_t j = i;
        while (j < text.size() && std::isspace(static_cast<unsigned char>(text[j])) == 0) {
            ++j;
        }
        if (j > i) {
            out.push_back(text.substr(i, j - i));
        }
        i = j;
    }
    return out;
}

// A count: a whole number, saturated at the largest uint64; nothing for a
// word that is not one (the parser will refuse it in its own words).
std::optional<std::uint64_t> count(std::string_view word) {
    if (!word.empty() && word.front() == '+') {
        word.remove_prefix(1);
    }
    std::uint64_t value = 0;
    const char *end = word.data() + word.size();
    const auto [ptr, ec] = std::from_chars(word.data(), end, value);
    if (word.empty() || ptr != end) {
        return std::nullopt;
    }
    if (ec == std::errc::result_out_of_range) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    if (ec != std::errc()) {
        return std::nullopt;
    }
    return value;
}

[[noreturn]] void toomany(const std::string &name, std::uint64_t declared, std::string_view what,
                          std::uint64_t bytes) {
    throw failure("cannot load mesh '" + name + "': its header declares " +
                  std::to_string(declared) + " " + std::string(what) + ", more than its " +
                  std::to_string(bytes) + " bytes of data can hold");
}

// OFF: an optional comment, a keyword ending in OFF (OFF, COFF, NOFF, ...), then
// the numbers of vertices, faces and edges. Every vertex and face takes at
// least a number and a separator: two bytes.
void checkoff(const std::string &name, std::string_view head, std::uint64_t filesize) {
    std::string uncommented;
    std::size_t line = 0;
    while (line < head.size()) {
        std::size_t end = head.find('\n', line);
        end = end == std::string_view::npos ? head.size() : end;
        const std::string_view text = head.substr(line, end - line);
        uncommented.append(text.substr(0, text.find('#')));
        uncommented += '\n';
        line = end + 1;
    }
    const std::vector<std::string_view> w = words(uncommented);
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

// PLY: "ply", "format ascii|binary_little_endian|binary_big_endian 1.0", then
// "element NAME COUNT" lines each followed by its "property ..." lines, up to
// "end_header". In ASCII every property of every element takes at least two
// bytes; in binary, its size (a list at least the size of its length).
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

    static const std::map<std::string_view, std::uint64_t> sizes = {
        {"char", 1},  {"uchar", 1},   {"int8", 1},   {"uint8", 1},  {"short", 2}, {"ushort", 2},
        {"int16", 2}, {"uint16", 2},  {"int", 4},    {"uint", 4},   {"int32", 4}, {"uint32", 4},
        {"float", 4}, {"float32", 4}, {"double", 8}, {"float64", 8}};
    bool ascii = true;
    struct element {
        std::string_view name;
        std::uint64_t count = 0;
        std::uint64_t bytes = 0; // the least one instance takes
    };
    std::vector<element> elements;
    std::size_t line = 0;
    while (line < dataat) {
        std::size_t stop = head.find('\n', line);
        stop = stop == std::string_view::npos ? head.size() : stop;
        const std::vector<std::string_view> w = words(head.substr(line, stop - line));
        line = stop + 1;
        if (w.size() >= 2 && w[0] == "format") {
            ascii = w[1] == "ascii";
        } else if (w.size() >= 3 && w[0] == "element") {
            const auto n = count(w[2]);
            if (!n) {
                return;
            }
            elements.push_back({w[1], *n, 0});
        } else if (w.size() >= 3 && w[0] == "property" && !elements.empty()) {
            std::uint64_t least = 2;
            if (!ascii) {
                const auto size = sizes.find(w[1] == "list" ? w[2] : w[1]);
                least = size == sizes.end() ? 1 : size->second;
            }
            elements.back().bytes += least;
        }
    }
    std::uint64_t room = data;
    for (const element &e : elements) {
        const std::uint64_t each = std::max<std::uint64_t>(e.bytes, 1);
        if (e.count > room / each) {
            toomany(name, e.count, "'" + std::string(e.name) + "' elements", data);
        }
        room -= e.count * each;
    }
}

// Reads the start of the file and checks the counts its header declares.
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
    std::string head(64 * 1024, '\0');
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
    ::close(fd);
    head.resize(got);
    const auto filesize = static_cast<std::uint64_t>(st.st_size);
    if (head.rfind("ply", 0) == 0 && head.size() > 3 && (head[3] == '\n' || head[3] == '\r')) {
        checkply(name, head, filesize);
    } else {
        checkoff(name, head, filesize);
    }
}

// Reads and checks a mesh file in this process, with `importer`, which keeps
// the parsed scene: the parse the child runs.
mesh readmesh(const std::string &path, Assimp::Importer &importer) {
    // Assimp's own messages for a missing file are vague; the system's are not.
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        throw failure("cannot load mesh '" + path + "': it is a folder");
    }
    checkcounts(path);
    const aiScene *scene = importer.ReadFile(path, importflags);
    return fromscene(scene, path, importer.GetErrorString());
}

// ---- The parsing process -------------------------------------------------------
//
// The child parses the file and writes one record on a pipe: a header, then
// either the mesh (each of its arrays in turn, as they lie in memory, in the
// order of `arrays` below) or a message. Its stderr goes to a second pipe,
// whose last line explains a crash (assimp's internal checks print there
// before they abort).

enum recordkind : std::uint32_t { meshrecord = 1, failurerecord = 2, memoryrecord = 3 };

// The number of arrays a mesh is sent in.
constexpr std::size_t meshparts = 8;

struct record {
    std::uint32_t kind = 0;
    std::uint32_t closed = 0;
    // The length of each of the mesh's arrays, in elements; for a failure
    // the message's length is the first.
    std::array<std::uint64_t, meshparts> lengths{};
};

static_assert(sizeof(vec3) == 3 * sizeof(double));
static_assert(sizeof(std::array<std::uint32_t, 3>) == 3 * sizeof(std::uint32_t));
static_assert(sizeof(std::array<std::uint32_t, 2>) == 2 * sizeof(std::uint32_t));

// One array of a mesh as it travels: where its elements lie, how many there
// are and the size of one.
struct meshpart {
    void *data;
    std::size_t length;
    std::size_t size;
};

template <class T> meshpart partof(std::vector<T> &v) { return {v.data(), v.size(), sizeof(T)}; }

// The arrays of `m`, in the order they travel.
std::array<meshpart, meshparts> arrays(mesh &m) {
    return {partof(m.vertices),     partof(m.triangles),       partof(m.lines),
            partof(m.points),       partof(m.trianglecolours), partof(m.linecolours),
            partof(m.pointcolours), partof(m.sealed)};
}

// The data pipe, for the allocation failure handler of the child.
int recordfd = -1;

bool writeall(int fd, const void *data, std::size_t size) {
    const auto *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Called by operator new in the child when the address-space limit refuses
// memory: reports it and ends the child, whoever would have caught bad_alloc.
void outofmemory() {
    const record r{memoryrecord, 0, {}};
    writeall(recordfd, &r, sizeof r);
    ::_exit(3);
}

void sendfailure(const std::string &message) {
    const record r{failurerecord, 0, {message.size()}};
    writeall(recordfd, &r, sizeof r);
    writeall(recordfd, message.data(), message.size());
}

#if defined(__SANITIZE_ADDRESS__)
#define TREL_RENDER_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TREL_RENDER_SANITIZED 1
#endif
#endif

[[noreturn]] void child(const std::string &path, const limits &limits, int datafd, int errfd,
                        pid_t parent) {
    // Ends with the parent, whatever ends it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) {
        ::_exit(4);
    }
    // Nothing of the parser's reaches the program's own output, which may be
    // the picture itself (-o -); its complaints go to the parent.
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDOUT_FILENO);
    }
    ::dup2(errfd, STDERR_FILENO);
    recordfd = datafd;

    const rlimit nocore{0, 0};
    ::setrlimit(RLIMIT_CORE, &nocore);
#if !defined(TREL_RENDER_SANITIZED)
    // A sanitizer reserves terabytes of address space up front, so sanitized
    // builds parse under the time limit only.
    const rlim_t bytes = static_cast<rlim_t>(limits.memorymib) << 20;
    const rlimit space{bytes, bytes};
    ::setrlimit(RLIMIT_AS, &space);
#else
    (void)limits;
#endif
    std::set_new_handler(outofmemory);
    // Large blocks come from the heap and stay there when freed, rather than
    // each being mapped afresh and returned: the parser's file buffer and
    // scratch then become the joined mesh's arrays without faulting in new
    // pages, which costs more than the copying on a virtual machine.
    ::mallopt(M_MMAP_THRESHOLD, 1 << 30);
    ::mallopt(M_TRIM_THRESHOLD, 1 << 30);
    ::mallopt(M_TOP_PAD, 16 << 20);

    try {
        // The importer and the mesh are never freed: the child exits as soon
        // as the mesh is sent, and its memory goes back whole.
        auto *importer = new Assimp::Importer;
        mesh &m = *new mesh(readmesh(path, *importer));
        record r{meshrecord, m.closed ? 1U : 0U, {}};
        const std::array<meshpart, meshparts> parts = arrays(m);
        for (std::size_t i = 0; i < meshparts; ++i) {
            r.lengths[i] = parts[i].length;
        }
        bool sent = writeall(datafd, &r, sizeof r);
        for (const meshpart &part : parts) {
            sent = sent && writeall(datafd, part.data, part.length * part.size);
        }
        ::_exit(sent ? 0 : 5);
    } catch (const failure &e) {
        sendfailure(e.what());
    } catch (const std::bad_alloc &) {
        outofmemory();
    } catch (const std::exception &e) {
        sendfailure("cannot load mesh '" + path + "': " + cleanline(e.what()));
    }
    ::_exit(0);
}

// The parent's end of the two pipes, read against one deadline.
class childpipes {
  public:
    childpipes(int data, int err, std::chrono::steady_clock::time_point deadline)
        : data_(data), err_(err), deadline_(deadline) {}
    ~childpipes() {
        ::close(data_);
        if (err_ >= 0) {
            ::close(err_);
        }
    }
    childpipes(const childpipes &) = delete;
    childpipes &operator=(const childpipes &) = delete;

    enum class outcome { complete, ended, late };

    // Fills `size` bytes at `into` from the data pipe, collecting stderr on
    // the way: complete, or the child closed the pipe first, or the deadline passed.
    outcome read(void *into, std::size_t size) {
        auto *bytes = static_cast<char *>(into);
        while (size > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline_ - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return outcome::late;
            }
            pollfd fds[2] = {{data_, POLLIN, 0}, {err_, POLLIN, 0}};
            const int ready =
                ::poll(fds, err_ >= 0 ? 2 : 1,
                       static_cast<int>(std::min<long long>(left.count() + 1, 1000 * 1000)));
            if (ready < 0 && errno != EINTR) {
                throw failure("cannot load mesh: " + std::string(std::strerror(errno)));
            }
            if (ready <= 0) {
                continue;
            }
            if (err_ >= 0 && fds[1].revents != 0) {
                drainerr();
            }
            if (fds[0].revents != 0) {
                const ssize_t n = ::read(data_, bytes, size);
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                if (n <= 0) {
                    return outcome::ended;
                }
                bytes += n;
                size -= static_cast<std::size_t>(n);
            }
        }
        return outcome::complete;
    }

    // Whatever the child still writes to stderr, until it closes it or the
    // deadline passes.
    void finisherr() {
        while (err_ >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline_ - std::chrono::steady_clock::now());
            pollfd fd{err_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count() + 1)) <= 0) {
                return;
            }
            drainerr();
        }
    }

    // The last line the child wrote to stderr, cleaned.
    std::string lastline() const {
        std::string_view text(err_text_);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.remove_suffix(1);
        }
        const std::size_t start = text.find_last_of('\n');
        return cleanline(start == std::string_view::npos ? text : text.substr(start + 1));
    }

  private:
    void drainerr() {
        char buffer[4096];
        const ssize_t n = ::read(err_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            return;
        }
        if (n <= 0) {
            ::close(err_);
            err_ = -1;
            return;
        }
        err_text_.append(buffer, static_cast<std::size_t>(n));
        // Only the end matters: keep the last few KiB.
        constexpr std::size_t keep = 16 * 1024;
        if (err_text_.size() > 2 * keep) {
            err_text_.erase(0, err_text_.size() - keep);
        }
    }

    int data_;
    int err_;
    std::chrono::steady_clock::time_point deadline_;
    std::string err_text_;
};

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// Whether the file at `path` is of a format whose models are Z-up in
// practice: STL and 3MF.
bool zupformat(const std::string &path) {
    std::string extension = std::filesystem::path(path).extension().string();
    for (char &c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return extension == ".stl" || extension == ".3mf";
}

} // namespace

void restartwithhugepages(char **argv) {
#if defined(__GLIBC__)
    constexpr const char *setting = "glibc.malloc.hugetlb=1";
    const char *current = std::getenv("GLIBC_TUNABLES");
    std::string tunables = current != nullptr ? current : "";
    if (tunables.find("glibc.malloc.hugetlb") != std::string::npos) {
        return; // set by the user, or by the start before this one
    }
    tunables += tunables.empty() ? setting : std::string(":") + setting;
    if (::setenv("GLIBC_TUNABLES", tunables.c_str(), 1) == 0) {
        ::execv("/proc/self/exe", argv);
    }
    // No exec: nothing has changed but the variable, which does no harm.
#else
    (void)argv;
#endif
}

mesh loadmesh(const std::string &path, const limits &limits) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(limits.seconds));
    int data[2];
    int err[2];
    if (::pipe2(data, O_CLOEXEC) != 0) {
        throw failure("cannot load mesh '" + path + "': " + std::strerror(errno));
    }
    if (::pipe2(err, O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(data[0]);
        ::close(data[1]);
        throw failure("cannot load mesh '" + path + "': " + std::strerror(error));
    }
    // Fewer, larger reads for a big mesh; the default size works too.
    ::fcntl(data[1], F_SETPIPE_SZ, 1 << 20);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(data[0]);
        ::close(err[0]);
        child(path, limits, data[1], err[1], parent);
    }
    const int forkerror = errno;
    ::close(data[1]);
    ::close(err[1]);
    childpipes pipes(data[0], err[0], deadline);
    if (pid < 0) {
        throw failure("cannot load mesh '" + path + "': " + std::strerror(forkerror));
    }

    const auto late = [&] {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return failure("loading mesh '" + path + "' took longer than --load-timeout " +
                       seconds(limits.seconds) + " s");
    };
    const auto ended = [&] {
        pipes.finisherr();
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        std::string why = "the parser stopped";
        if (WIFSIGNALED(status)) {
            const char *name = ::sigabbrev_np(WTERMSIG(status));
            why += " on signal SIG" + std::string(name != nullptr ? name : "?");
        }
        const std::string said = pipes.lastline();
        return failure("cannot load mesh '" + path + "': " + why +
                       (said.empty() ? std::string() : ": " + said));
    };

    // Reads exactly `size` bytes from the child, or throws what stopped it.
    const auto readall = [&](void *into, std::size_t size) {
        switch (pipes.read(into, size)) {
        case childpipes::outcome::late:
            throw late();
        case childpipes::outcome::ended:
            throw ended();
        case childpipes::outcome::complete:
            break;
        }
    };
    record r;
    readall(&r, sizeof r);
    const std::uint64_t limitbytes = limits.memorymib << 20;
    if (r.kind == memoryrecord) {
        ::waitpid(pid, nullptr, 0);
        throw failure("loading mesh '" + path + "' exceeds --max-memory " +
                      std::to_string(limits.memorymib) + " MiB");
    }
    if (r.kind == failurerecord && r.lengths[0] <= 64 * 1024) {
        std::string message(r.lengths[0], '\0');
        const auto got = pipes.read(message.data(), message.size());
        if (got == childpipes::outcome::late) {
            throw late();
        }
        ::waitpid(pid, nullptr, 0);
        throw failure(cleanline(message));
    }
    // The sizes are checked before anything is allocated for them: the child
    // could only have held them all within its own limit, and each colour or
    // closed-part list has one entry for each of its elements, or none.
    mesh m;
    std::array<meshpart, meshparts> parts = arrays(m);
    std::uint64_t room = limitbytes;
    bool fits = r.kind == meshrecord;
    for (std::size_t i = 0; i < meshparts && fits; ++i) {
        fits = r.lengths[i] <= room / parts[i].size;
        if (fits) {
            room -= r.lengths[i] * parts[i].size;
        }
    }
    const auto &n = r.lengths;
    const auto listfor = [](std::uint64_t list, std::uint64_t elements) {
        return list == 0 || list == elements;
    };
    if (!fits || !listfor(n[4], n[1]) || !listfor(n[5], n[2]) || !listfor(n[6], n[3]) ||
        !listfor(n[7], n[1])) {
        ::kill(pid, SIGKILL);
        throw ended();
    }
    m.closed = r.closed != 0;
    m.vertices.resize(n[0]);
    m.triangles.resize(n[1]);
    m.lines.resize(n[2]);
    m.points.resize(n[3]);
    m.trianglecolours.resize(n[4]);
    m.linecolours.resize(n[5]);
    m.pointcolours.resize(n[6]);
    m.sealed.resize(n[7]);
    parts = arrays(m);
    for (const meshpart &part : parts) {
        readall(part.data, part.length * part.size);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const auto count = static_cast<std::uint32_t>(m.vertices.size());
    const auto inside = [count](const auto &corners) {
        return std::all_of(corners.begin(), corners.end(),
                           [count](std::uint32_t i) { return i < count; });
    };
    const bool indexed = inside(m.points) &&
                         std::all_of(m.triangles.begin(), m.triangles.end(), inside) &&
                         std::all_of(m.lines.begin(), m.lines.end(), inside);
    const bool drawable = !m.triangles.empty() || !m.lines.empty() || !m.points.empty();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !indexed || !drawable ||
        m.vertices.size() > std::numeric_limits<std::uint32_t>::max()) {
        throw failure("cannot load mesh '" + path + "': the parser handed back a broken mesh");
    }
    m.zupfile = zupformat(path);
    return m;
}

mesh loadmemory(std::span<const unsigned char> bytes, const char *hint, const std::string &name) {
    Assimp::Importer importer;
    const aiScene *scene =
        importer.ReadFileFromMemory(bytes.data(), bytes.size(), importflags, hint);
    mesh m = fromscene(scene, name, importer.GetErrorString());
    m.zupfile = zupformat(name);
    return m;
}

} // namespace trel::loader
