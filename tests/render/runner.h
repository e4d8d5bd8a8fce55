// What the trel-render tests share: a fixture that runs the program as a user
// does, in a folder of its own, and helpers that write meshes and decode the
// PNG files it leaves.
#ifndef TREL_RENDER_TESTS_RUNNER_H
#define TREL_RENDER_TESTS_RUNNER_H
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace rendertest {

namespace fs = std::filesystem;

struct result {
    int status = -1;
    std::string out;
    std::string err;
};

struct picture {
    int width = 0;
    int height = 0;
    int channels = 3;
    std::vector<std::uint8_t> bytes;

    std::array<int, 3> at(int column, int row) const {
        const std::size_t i = (static_cast<std::size_t>(row) * width + column) * channels;
        return channels == 1 ? std::array<int, 3>{bytes[i], bytes[i], bytes[i]}
                             : std::array<int, 3>{bytes[i], bytes[i + 1], bytes[i + 2]};
    }
};

// The bounding box of the pixels that differ from the top-left one.
struct extent {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    long covered = 0;
};

inline extent covered(const picture &p) {
    extent e;
    const auto background = p.at(0, 0);
    for (int row = 0; row < p.height; ++row) {
        for (int column = 0; column < p.width; ++column) {
            if (p.at(column, row) != background) {
                e.left = std::min(e.left, column);
                e.right = std::max(e.right, column);
                e.top = std::min(e.top, row);
                e.bottom = std::max(e.bottom, row);
                ++e.covered;
            }
        }
    }
    return e;
}

// Decodes the PNG at `path` into `bytes` (libpng's simplified API), in the
// format `choose` picks from the one stored, giving its size; a failure is a
// test failure.
template <class Choose>
void decodefile(const fs::path &path, Choose choose, int &width, int &height,
                std::vector<std::uint8_t> &bytes) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&png, path.c_str()) == 0) {
        ADD_FAILURE() << "cannot read " << path << ": " << png.message;
        return;
    }
    png.format = choose(png.format);
    width = static_cast<int>(png.width);
    height = static_cast<int>(png.height);
    bytes.resize(PNG_IMAGE_SIZE(png));
    if (png_image_finish_read(&png, nullptr, bytes.data(), 0, nullptr) == 0) {
        ADD_FAILURE() << "cannot decode " << path << ": " << png.message;
    }
}

// A colour PNG as RGB, a grey one as grey.
inline picture readpng(const fs::path &path) {
    picture p;
    const auto choose = [&p](std::uint32_t stored) -> std::uint32_t {
        p.channels = (stored & PNG_FORMAT_FLAG_COLOR) != 0 ? 3 : 1;
        return p.channels == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    };
    decodefile(path, choose, p.width, p.height, p.bytes);
    return p;
}

// An RGBA picture (a PNG without alpha reads as opaque), or 16-bit grey values in `grey`.
struct rgbapicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bytes; // RGBA
    std::vector<int> grey;           // 16-bit grey

    const std::uint8_t *at(int column, int row) const {
        return bytes.data() + (static_cast<std::size_t>(row) * width + column) * 4;
    }
    int alpha(int column, int row) const { return at(column, row)[3]; }
};

// Any PNG decoded to 8-bit RGBA.
inline rgbapicture readrgba(const fs::path &path) {
    rgbapicture p;
    decodefile(
        path, [](std::uint32_t) -> std::uint32_t { return PNG_FORMAT_RGBA; }, p.width, p.height,
        p.bytes);
    return p;
}

// FNV-1a over the size and the decoded samples: the picture, whatever the
// PNG encoder's compression made of it.
inline std::uint64_t pixelhash(const picture &p) {
    std::uint64_t h = 14695981039346656037ULL;
    const auto add = [&h](std::uint8_t byte) { h = (h ^ byte) * 1099511628211ULL; };
    for (const int v : {p.width, p.height}) {
        for (int shift = 0; shift < 32; shift += 8) {
            add(static_cast<std::uint8_t>(static_cast<unsigned>(v) >> shift));
        }
    }
    for (const std::uint8_t b : p.bytes) {
        add(b);
    }
    return h;
}

// A cube of side 2 about the origin, faces wound counter-clockwise seen from outside.
inline constexpr double cubevertices[8][3] = {{-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1},
                                              {-1, -1, 1},  {1, -1, 1},  {1, 1, 1},  {-1, 1, 1}};
inline constexpr int cubefaces[12][3] = {{0, 3, 2}, {0, 2, 1}, {4, 5, 6}, {4, 6, 7},
                                         {0, 1, 5}, {0, 5, 4}, {3, 7, 6}, {3, 6, 2},
                                         {0, 4, 7}, {0, 7, 3}, {1, 2, 6}, {1, 6, 5}};

inline std::string base64(const std::string &bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            group = group << 8 | (k < n ? static_cast<std::uint8_t>(bytes[i + k]) : 0U);
        }
        for (std::size_t k = 0; k < 4; ++k) {
            out += k <= n ? digits[(group >> (18 - 6 * k)) & 63U] : '=';
        }
    }
    return out;
}

// The cube as a glTF scene whose node stretches it to twice its height.
inline std::string tallcubegltf() {
    std::string buffer;
    for (const auto &v : cubevertices) {
        for (const double c : v) {
            const auto f = static_cast<float>(c);
            buffer.append(reinterpret_cast<const char *>(&f), sizeof f);
        }
    }
    for (const auto &f : cubefaces) {
        for (const int i : f) {
            const auto index = static_cast<std::uint16_t>(i);
            buffer.append(reinterpret_cast<const char *>(&index), sizeof index);
        }
    }
    std::ostringstream gltf;
    gltf << R"({"asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}],
        "nodes": [{"mesh": 0, "scale": [1, 2, 1]}],
        "meshes": [{"primitives": [{"attributes": {"POSITION": 0}, "indices": 1}]}],
        "buffers": [{"byteLength": 168, "uri": "data:application/octet-stream;base64,)"
         << base64(buffer) << R"("}],
        "bufferViews": [{"buffer": 0, "byteOffset": 0, "byteLength": 96},
                        {"buffer": 0, "byteOffset": 96, "byteLength": 72}],
        "accessors": [{"bufferView": 0, "componentType": 5126, "count": 8, "type": "VEC3",
                       "min": [-1, -1, -1], "max": [1, 1, 1]},
                      {"bufferView": 1, "componentType": 5123, "count": 36, "type": "SCALAR"}]})";
    return gltf.str();
}

// The cube in every format trel-render reads, named by format.
inline std::vector<std::pair<std::string, std::string>> cubemeshes() {
    std::ostringstream obj, off, ply, stl;
    std::string plyb = "ply\nformat binary_little_endian 1.0\nelement vertex 8\n"
                       "property float x\nproperty float y\nproperty float z\nelement face 12\n"
                       "property list uchar int vertex_indices\nend_header\n";
    std::string stlb(80, ' ');
    const auto put = [](std::string &to, const void *data, std::size_t n) {
        to.append(static_cast<const char *>(data), n);
    };
    off << "OFF\n8 12 0\n";
    ply << "ply\nformat ascii 1.0\nelement vertex 8\nproperty float x\nproperty float y\n"
           "property float z\nelement face 12\nproperty list uchar int vertex_indices\n"
           "end_header\n";
    stl << "solid cube\n";
    for (const auto &v : cubevertices) {
        obj << "v " << v[0] << " " << v[1] << " " << v[2] << "\n";
        off << v[0] << " " << v[1] << " " << v[2] << "\n";
        ply << v[0] << " " << v[1] << " " << v[2] << "\n";
        for (const double c : v) {
            const auto f = static_cast<float>(c);
            put(plyb, &f, sizeof f);
        }
    }
    const std::uint32_t facets = 12;
    put(stlb, &facets, sizeof facets);
    for (const auto &f : cubefaces) {
        obj << "f " << f[0] + 1 << " " << f[1] + 1 << " " << f[2] + 1 << "\n";
        off << "3 " << f[0] << " " << f[1] << " " << f[2] << "\n";
        ply << "3 " << f[0] << " " << f[1] << " " << f[2] << "\n";
        const std::uint8_t three = 3;
        put(plyb, &three, 1);
        for (const int i : f) {
            const auto index = static_cast<std::int32_t>(i);
            put(plyb, &index, sizeof index);
        }
        stl << "facet normal 0 0 0\nouter loop\n";
        const float normal[3] = {0, 0, 0};
        put(stlb, normal, sizeof normal);
        for (const int i : f) {
            const auto &v = cubevertices[i];
            stl << "vertex " << v[0] << " " << v[1] << " " << v[2] << "\n";
            for (const double c : v) {
                const auto corner = static_cast<float>(c);
                put(stlb, &corner, sizeof corner);
            }
        }
        stl << "endloop\nendfacet\n";
        const std::uint16_t attributes = 0;
        put(stlb, &attributes, sizeof attributes);
    }
    stl << "endsolid cube\n";
    return {{"obj", obj.str()},      {"off", off.str()},       {"ascii.ply", ply.str()},
            {"binary.ply", plyb},    {"ascii.stl", stl.str()}, {"binary.stl", stlb},
            {"gltf", tallcubegltf()}};
}

// `text` with its first `from` replaced by `to`.
inline std::string replaced(std::string text, const std::string &from, const std::string &to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// A flat grid of n x n vertices and 2 (n - 1)^2 triangles, as OBJ.
inline std::string gridobj(int n) {
    std::ostringstream obj;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            obj << "v " << i << " " << j << " " << (i * 7 + j * 3) % 5 << "\n";
        }
    }
    for (int i = 0; i + 1 < n; ++i) {
        for (int j = 0; j + 1 < n; ++j) {
            const int a = i * n + j + 1;
            obj << "f " << a << " " << a + 1 << " " << a + n << "\nf " << a + 1 << " " << a + n + 1
                << " " << a + n << "\n";
        }
    }
    return obj.str();
}

inline picture decodepng(const std::string &bytes) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    picture p;
    if (png_image_begin_read_from_memory(&png, bytes.data(), bytes.size()) == 0) {
        ADD_FAILURE() << "cannot read the PNG: " << png.message;
        return p;
    }
    png.format = PNG_FORMAT_RGB;
    p.width = static_cast<int>(png.width);
    p.height = static_cast<int>(png.height);
    p.bytes.resize(PNG_IMAGE_SIZE(png));
    if (png_image_finish_read(&png, nullptr, p.bytes.data(), 0, nullptr) == 0) {
        ADD_FAILURE() << "cannot decode the PNG: " << png.message;
    }
    return p;
}

// A file that stands for a picture an earlier run wrote: it begins as a PNG
// does, so an output may replace it.
inline std::string earlierpicture(const std::string &text) {
    return std::string("\x89PNG\r\n\x1a\n", 8) + text;
}

class trelrender : public ::testing::Test {
  protected:
    fs::path dir;

    void SetUp() override {
        std::string name = (fs::temp_directory_path() / "trel-render-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(name.data()), nullptr);
        dir = name;
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir, ec);
    }

    result run(const std::vector<std::string> &args) {
        // A run that hangs is killed, and fails, rather than stopping the suite.
        std::string command =
            "cd '" + dir.string() + "' && timeout -s KILL 120 '" TREL_RENDER_PROGRAM "'";
        for (const std::string &a : args) {
            command += " '" + a + "'";
        }
        command += " >stdout.txt 2>stderr.txt";
        const int status = std::system(command.c_str());
        result r;
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = slurp("stdout.txt");
        r.err = slurp("stderr.txt");
        fs::remove(dir / "stdout.txt");
        fs::remove(dir / "stderr.txt");
        return r;
    }

    std::string slurp(const std::string &name) {
        std::ifstream in(dir / name, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    void write(const std::string &name, const std::string &text) {
        std::ofstream(dir / name, std::ios::binary) << text;
    }

    std::set<std::string> files() {
        std::set<std::string> names;
        for (const auto &entry : fs::directory_iterator(dir)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

    // The run fails with status 2 and one line on stderr that mentions
    // `about`, and leaves the folder as it found it.
    void refused(const std::vector<std::string> &args, const std::string &about) {
        const std::set<std::string> before = files();
        const result r = run(args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.err.rfind("trel-render: ", 0), 0U) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(about), std::string::npos) << r.err;
        EXPECT_EQ(files(), before) << r.err;
    }

    picture render(const std::vector<std::string> &args, const std::string &name = "out.png") {
        std::vector<std::string> all = args;
        all.insert(all.end(), {"-o", name});
        const result r = run(all);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        return readpng(dir / name);
    }
};

} // namespace rendertest

#endif
