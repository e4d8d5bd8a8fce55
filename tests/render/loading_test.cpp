// How mesh files are loaded: meshes that are not regular files, and the
// least memory a parse can be given. The program is run as a user runs it;
// the loader's own functions are called where trel-render cannot reach them.
#include <cstdint>
#include <filesystem>
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
