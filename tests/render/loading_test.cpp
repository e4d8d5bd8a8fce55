// How mesh files are loaded: files cut short, the up axis of a file whatever
// its name, meshes that are not regular files, and the least memory a parse
// can be given. The program is run as a user runs it; the loader's own
// functions are called where trel-render cannot reach them.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "load.h"
#include "runner.h"

namespace {

using namespace rendertest;

std::string datafile(const std::string &name) {
    std::ifstream in(std::string(TREL_SOURCE_DIR "/data/") + name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// `text` up to the end of the `n`th occurrence of `mark` from its end (n = 1:
// the last), keeping `extra` bytes more.
std::string upto(const std::string &text, const std::string &mark, int n, std::size_t extra = 0) {
    std::size_t at = text.size();
    for (int k = 0; k < n; ++k) {
        at = text.rfind(mark, at - 1);
        EXPECT_NE(at, std::string::npos) << mark;
        if (at == std::string::npos) {
            return text;
        }
    }
    return text.substr(0, at + mark.size() + extra);
}

// A text mesh cut short is refused with one line, wherever the cut falls:
// within a vertex, within the last face, between two faces, before the
// closing word. A file that is whole but for its last newline, or cut within
// its closing word, is drawn as the whole file is.
TEST_F(trelrender, CutTextMeshesAreRefusedOrDrawnWhole) {
    const auto meshes = cubemeshes();
    const std::string obj = meshes[0].second, off = meshes[1].second, ply = meshes[2].second,
                      stl = meshes[4].second;
    write("whole.obj", obj);
    write("whole.off", off);
    write("whole.ply", ply);
    write("whole.stl", stl);
    const std::string tower = datafile("tower.off");
    struct cut {
        std::string name, bytes;
        // Drawn as the whole file is when empty; else the line that refuses
        // it says this.
        std::string why = "is cut short";
    };
    const std::vector<cut> cuts = {
        {"gear.stl", datafile("gear.stl").substr(0, 30000)},
        {"facet.stl", upto(stl, "outer loop\n", 1)},
        {"vertex.stl", upto(stl, "vertex 1", 1)},
        {"noend.stl", upto(stl, "endfacet\n", 1)},
        {"word.stl", upto(stl, "endso", 1)},
        {"name.stl", upto(stl, "endsolid c", 1), ""},
        {"nonewline.stl", stl.substr(0, stl.size() - 1), ""},
        {"face.obj", upto(obj, "f 2", 1)},
        {"corners.obj", upto(obj, "f 2 7", 1)},
        {"vertex.obj", upto(obj, "v 1 -1", 1)},
        {"number.obj", upto(obj, "v 1 -1 -", 1)},
        {"nonewline.obj", obj.substr(0, obj.size() - 1), ""},
        {"vertex.off", upto(off, "\n1 1", 1)},
        {"lastface.off", upto(off, "\n3 1 6", 1)},
        {"faces.off", upto(off, "\n", 3, 0)},
        {"tower.off", tower.substr(0, tower.size() / 2)},
        {"nonewline.off", off.substr(0, off.size() - 1), ""},
        // Too short for its header's counts: refused as such.
        {"vertex.ply", upto(ply, "\n1 1", 1), "its header declares 12 'face' elements"},
        {"lastface.ply", upto(ply, "\n3 1 6", 1)},
        {"faces.ply", upto(ply, "\n", 3, 0)},
        {"torus.ply", datafile("torus.ply").substr(0, 20000)},
        {"nonewline.ply", ply.substr(0, ply.size() - 1), ""},
    };
    for (const cut &c : cuts) {
        SCOPED_TRACE(c.name);
        write(c.name, c.bytes);
        if (c.why.empty()) {
            const std::string whole = "whole" + c.name.substr(c.name.find('.'));
            EXPECT_TRUE(render({c.name, "--size", "60x45"}, "cut.png").bytes ==
                        render({whole, "--size", "60x45"}, "whole.png").bytes);
        } else {
            refused({c.name, "--size", "60x45", "-o", "cut.png"}, c.why);
        }
    }
}

// A binary STL of one right triangle twice as tall as wide, Z up.
std::string cornerstl() {
    std::string stl(80, ' ');
    const auto put = [&stl](const auto &value) {
        stl.append(reinterpret_cast<const char *>(&value), sizeof value);
    };
    put(std::uint32_t{1});
    for (const float f : {0.0F, 0.0F, 0.0F, 0.0F, 0.0F, 0.0F, 1.0F, 0.0F, 0.0F, 0.0F, 0.0F, 2.0F}) {
        put(f);
    }
    put(std::uint16_t{0});
    return stl;
}

// The up axis follows the format the file is in, whatever its name says:
// an STL named without its extension, or with another, stands as the STL
// does; in memory, the bytes decide, not the name.
TEST_F(trelrender, UpAxisFollowsTheFormatRead) {
    const std::string gear = datafile("gear.stl");
    const std::string binary = cornerstl();
    for (const std::string name : {"gear.stl", "gear", "GEAR.STL", "gear.dat"}) {
        write(name, gear);
    }
    const picture upright = render({"gear.stl", "--up", "z", "--size", "80x60"});
    EXPECT_FALSE(render({"gear.stl", "--up", "y", "--size", "80x60"}).bytes == upright.bytes);
    for (const std::string name : {"gear.stl", "gear", "GEAR.STL", "gear.dat"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(render({name, "--size", "80x60"}).bytes == upright.bytes);
        const result r = run({name, "--stats", "-o", "s.png"});
        EXPECT_NE(r.out.find("up: z (auto)"), std::string::npos) << r.out;
    }

    // Meshes held in memory: the bytes decide, not the name they are given.
    const auto bytes = [](const std::string &text) {
        return std::span(reinterpret_cast<const unsigned char *>(text.data()), text.size());
    };
    EXPECT_TRUE(trel::loader::loadmemory(bytes(gear), "", "gear").zupfile);
    EXPECT_TRUE(trel::loader::loadmemory(bytes(binary), "stl", "tall").zupfile);
    EXPECT_FALSE(
        trel::loader::loadmemory(bytes(cubemeshes()[0].second), "obj", "cube.stl").zupfile);
}

// A mesh that is not a regular file is refused at once, before any parse:
// a FIFO (which would wait for a writer), a device, a socket, and links to
// them. A folder is named as one.
TEST_F(trelrender, NonRegularMeshesAreRefused) {
    ASSERT_EQ(::mkfifo((dir / "waits.obj").c_str(), 0644), 0);
    fs::create_symlink(dir / "waits.obj", dir / "link.stl");
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(s, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketpath = (dir / "socket.obj").string();
    ASSERT_LT(socketpath.size(), sizeof address.sun_path);
    socketpath.copy(address.sun_path, socketpath.size());
    ASSERT_EQ(::bind(s, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    fs::create_directory(dir / "folder.obj");
    const std::vector<std::pair<std::string, std::string>> meshes = {
        {"waits.obj", "it is a FIFO, not a regular file"},
        {"link.stl", "it is a FIFO, not a regular file"},
        {"/dev/null", "it is a character device, not a regular file"},
        {"socket.obj", "it is a socket, not a regular file"},
        {"folder.obj", "it is a folder"}};
    for (const auto &[mesh, why] : meshes) {
        SCOPED_TRACE(mesh);
        refused({mesh, "-o", "out.png"}, "cannot load mesh '" + mesh + "': " + why);
    }
    ::close(s);
    // Standard input cannot stand for a mesh; the line says so.
    refused({"waits.obj", "-o", "out.png"}, "standard input");
}

// Every parse needs some memory before it reads a byte. A limit below that
// floor is refused at once, naming the floor; at the floor, a small mesh of
// every format loads.
TEST_F(trelrender, MemoryLimitHasAFloor) {
    const std::string floor = std::to_string(trel::loader::leastmemorymib);
    const std::string message = "needs at least " + floor + " MiB";
    write("cube.obj", cubemeshes()[0].second);
    for (const std::uint64_t mib :
         {std::uint64_t{16}, std::uint64_t{40}, trel::loader::leastmemorymib - 1}) {
        SCOPED_TRACE(mib);
        refused({"cube.obj", "--max-memory", std::to_string(mib), "-o", "out.png"}, message);
        try {
            trel::loader::loadmesh((dir / "cube.obj").string(), {mib, 30.0});
            ADD_FAILURE() << "loaded under " << mib << " MiB";
        } catch (const trel::scene::failure &e) {
            EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
        }
    }
    for (const auto &[format, bytes] : cubemeshes()) {
        SCOPED_TRACE(format);
        write("cube." + format, bytes);
        EXPECT_EQ(render({"cube." + format, "--max-memory", floor, "--size", "40x30"}).width, 40);
    }
}

// What loading `path` gives: the mesh's arrays as bytes, or the failure.
std::string outcome(const std::string &path, trel::loader::limits limits) {
    try {
        const trel::scene::mesh m = trel::loader::loadmesh(path, limits);
        const auto bytes = [](const auto &array) {
            return std::string(reinterpret_cast<const char *>(array.data()),
                               array.size() * sizeof(array[0]));
        };
        return bytes(m.vertices) + "|" + bytes(m.triangles) + "|" + bytes(m.trianglecolours) + "|" +
               bytes(m.sealed) + "|" + std::to_string(m.closed) + std::to_string(m.zupfile);
    } catch (const trel::scene::failure &e) {
        return std::string("failure: ") + e.what();
    }
}

// A program with threads has its meshes parsed by the parser program rather
// than by a fork of itself; meshes, refusals and limits come out the same,
// and no child is left behind.
TEST_F(trelrender, ThreadedProgramsLoadAlike) {
    const auto beside = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    ASSERT_TRUE(std::filesystem::exists(beside / "trel-parser"));
    write("notamesh.obj", "this is not a mesh\n");
    write("cut.stl", upto(datafile("gear.stl"), "endfacet", 5));
    // 400,000 triangles in rows of squares: well over 64 MiB to parse.
    std::string big(80, '\0');
    const std::uint32_t count = 400000;
    big.append(reinterpret_cast<const char *>(&count), 4);
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto x = static_cast<float>(i % 1000), y = static_cast<float>(i / 1000);
        const float facet[12] = {0, 0, 1, x, y, 0, x + 1, y, 0, x, y + 1, 0};
        big.append(reinterpret_cast<const char *>(facet), sizeof facet).append(2, '\0');
    }
    write("big.stl", big);
    const std::string bigpath = (dir / "big.stl").string();
    const std::string data = TREL_SOURCE_DIR "/data/";
    const std::vector<std::pair<std::string, trel::loader::limits>> cases = {
        {data + "bunny.obj", {}},
        {data + "box.3mf", {}},
        {data + "fels.3ds", {}},
        {data + "torus.ply", {}},
        {data + "gear.stl", {}},
        {(dir / "notamesh.obj").string(), {}},
        {(dir / "cut.stl").string(), {}},
        {(dir / "missing.off").string(), {}},
        {bigpath, {}},
        {bigpath, {64, 30.0}},
        {data + "wuson.obj", {4096, 1e-6}},
    };
    std::vector<std::string> alone;
    for (const auto &[path, limits] : cases) {
        alone.push_back(outcome(path, limits));
    }
    // Loaded on a second thread while the first waits: the program has two.
    std::vector<std::string> threaded;
    std::thread([&] {
        for (const auto &[path, limits] : cases) {
            threaded.push_back(outcome(path, limits));
        }
    }).join();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(threaded[i], alone[i]) << cases[i].first;
    }
    // The thread's parser program ended with it; no child is left.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
}

} // namespace
