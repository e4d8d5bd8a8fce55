// How mesh files are loaded: the up axis of a file whatever its name, meshes
// that are not regular files, and the least memory a parse can be given. The program is run as a
// user runs it; the loader's own functions are called where trel-render cannot reach them.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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

} // namespace
