// trel-render as a user runs it: each test starts the program in a folder of
// its own, then decodes and checks the PNG files it left there.
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
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "runner.h"

namespace {

using namespace rendertest;

TEST_F(trelrender, DefaultSceneFillsAndCentresThePicture) {
    ASSERT_EQ(run({}).status, 0);
    const picture p = readpng(dir / "render.png");
    ASSERT_EQ(p.width, 800);
    ASSERT_EQ(p.height, 600);
    EXPECT_EQ(p.at(0, 0), (std::array<int, 3>{0x24, 0x2c, 0x3a}));
    const extent e = covered(p);
    // The bunny is taller than the picture's shape: its height takes 90%.
    EXPECT_NEAR(e.bottom - e.top + 1, 540, 3);
    EXPECT_NEAR((e.top + e.bottom) / 2.0, 300, 2);
    EXPECT_NEAR((e.left + e.right) / 2.0, 400, 2);
}

// The default picture, pinned by a hash of its decoded pixels (not of the PNG
// file, whose bytes depend on the zlib at hand). When the look changes on
// purpose, run
//   BUILD/bin/trel_render_tests --gtest_filter='*DefaultPixelsPinned*'
// and copy the new value from its failure message here.
TEST_F(trelrender, DefaultPixelsPinned) {
    const picture p = render({});
    EXPECT_EQ(pixelhash(p), 0xd82265aeceab6e79ULL) << "new value: 0x" << std::hex << pixelhash(p);
}

TEST_F(trelrender, EveryEngineAndStyleKeepsTheColourChannels) {
    for (const std::string engine : {"3d", "2d", "2dxy"}) {
        for (const std::string style : {"solid", "wire", "both"}) {
            SCOPED_TRACE(engine + " " + style);
            const result r = run({"--engine", engine, "--style", style, "--size", "160x120",
                                  "--colour", "#ff0000", "--background", "#0000ff", "--edge-colour",
                                  "#00ff00", "-o", "out.png"});
            ASSERT_EQ(r.status, 0) << r.err;
            // Outlines over the faces are drawn in style both only; elsewhere a note says so.
            EXPECT_EQ(r.err.find("--edge-colour has no effect") != std::string::npos,
                      style != "both")
                << r.err;
            const picture p = readpng(dir / "out.png");
            ASSERT_EQ(p.width, 160);
            long red = 0;
            long green = 0;
            for (int row = 0; row < p.height; ++row) {
                for (int column = 0; column < p.width; ++column) {
                    const auto c = p.at(column, row);
                    if (c == std::array<int, 3>{0, 0, 255}) {
                        continue;
                    }
                    // Shading scales the mesh's red; the outlines are pure green.
                    const bool isred = c[0] > 0 && c[1] == 0 && c[2] == 0;
                    const bool isgreen = c == std::array<int, 3>{0, 255, 0};
                    ASSERT_TRUE(isred || (style == "both" && isgreen))
                        << column << "," << row << ": " << c[0] << " " << c[1] << " " << c[2];
                    (isred ? red : green) += 1;
                }
            }
            EXPECT_GT(red, 1000);
            EXPECT_EQ(green > 1000, style == "both");
        }
    }
}

// A right triangle with its right angle at the bottom left, twice as tall as
// wide: seen from the front it must stand upright and unmirrored everywhere.
TEST_F(trelrender, PicturesAreUprightAndUnmirrored) {
    write("corner.obj", "v 0 0 0\nv 1 0 0\nv 0 2 0\nf 1 2 3\n");
    for (const std::string engine : {"3d", "2d", "2dxy"}) {
        SCOPED_TRACE(engine);
        const picture p = render({"corner.obj", "--engine", engine, "--view", "0,0"});
        const extent e = covered(p);
        EXPECT_NEAR(e.bottom - e.top + 1, 540, 3);
        EXPECT_NEAR(e.right - e.left + 1, 270, 3);
        // Each engine class puts the world origin elsewhere; the mesh is centred all the same.
        EXPECT_NEAR((e.top + e.bottom) / 2.0, 300, 2);
        EXPECT_NEAR((e.left + e.right) / 2.0, 400, 2);
        const auto background = p.at(0, 0);
        EXPECT_NE(p.at(e.left + 5, e.bottom - 5), background);
        EXPECT_EQ(p.at(e.right - 5, e.top + 5), background);
    }
    // The same triangle in a model whose Z axis is up, seen from its front (-Y).
    write("zup.obj", "v 0 0 0\nv 1 0 0\nv 0 0 2\nf 1 2 3\n");
    const picture front = render({"corner.obj", "--view", "0,0"});
    EXPECT_TRUE(render({"zup.obj", "--up", "z", "--view", "0,0"}).bytes == front.bytes);
}

// A near vertical strip listed first, crossing a far, tilted horizontal one:
// the near strip covers the crossing on the engines that shade.
TEST_F(trelrender, NearFacesHideFarOnes) {
    write("cross.obj", "v -0.5 -3 2\nv 0.5 -3 2\nv 0.5 3 2\nv -0.5 3 2\n"
                       "v -3 -0.5 -2.5\nv 3 -0.5 -2.5\nv 3 0.5 -1.5\nv -3 0.5 -1.5\n"
                       "f 1 2 3\nf 1 3 4\nf 5 6 7\nf 5 7 8\n");
    for (const std::string engine : {"3d", "2d"}) {
        SCOPED_TRACE(engine);
        const picture p = render({"cross.obj", "--engine", engine, "--view", "0,0"});
        const auto nearstrip = p.at(400, 100);
        const auto farstrip = p.at(150, 300);
        ASSERT_NE(nearstrip, farstrip);
        EXPECT_EQ(p.at(400, 300), nearstrip);
    }
}

TEST_F(trelrender, DepthPictureIsBrightNear) {
    // Two squares facing the viewer, the left one nearer.
    write("steps.obj", "v -3 -1 1\nv -1 -1 1\nv -1 1 1\nv -3 1 1\n"
                       "v 1 -1 -1\nv 3 -1 -1\nv 3 1 -1\nv 1 1 -1\n"
                       "f 1 2 3\nf 1 3 4\nf 5 6 7\nf 5 7 8\n");
    const result r = run({"steps.obj", "--view", "0,0", "--depth", "depth.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    const picture colour = readpng(dir / "render.png");
    const picture depth = readpng(dir / "depth.png");
    ASSERT_EQ(depth.channels, 1);
    ASSERT_EQ(depth.width, colour.width);
    EXPECT_EQ(depth.at(0, 0)[0], 0);
    EXPECT_EQ(depth.at(200, 300)[0], 255);
    EXPECT_GT(depth.at(600, 300)[0], 0);
    EXPECT_LT(depth.at(600, 300)[0], 128);
    // Drawn exactly where the colour picture is.
    for (int row = 0; row < depth.height; row += 7) {
        for (int column = 0; column < depth.width; column += 7) {
            EXPECT_EQ(depth.at(column, row)[0] != 0, colour.at(column, row) != colour.at(0, 0));
        }
    }
}

TEST_F(trelrender, EveryFormatGivesTheSamePicture) {
    // Every format of the same cube; the glTF one is a taller cube.
    std::string obj;
    std::vector<std::string> names;
    for (const auto &[format, text] : cubemeshes()) {
        if (format == "gltf") {
            continue;
        }
        write("cube." + format, text);
        if (format == "obj") {
            obj = text;
        } else {
            names.push_back("cube." + format);
        }
    }

    const picture reference = render({"cube.obj", "--size", "200x200"});
    const extent e = covered(reference);
    EXPECT_GT(e.covered, 10000);
    // A closed mesh shows only faces turned towards the viewer: every shade
    // covers a good part of a face, with no specks of hidden faces on the outline.
    std::map<std::array<int, 3>, long> shades;
    for (int row = 0; row < reference.height; ++row) {
        for (int column = 0; column < reference.width; ++column) {
            ++shades[reference.at(column, row)];
        }
    }
    for (const auto &[shade, count] : shades) {
        EXPECT_GT(count, 1000) << shade[0] << " " << shade[1] << " " << shade[2];
    }
    // Wound the other way round, it is the same cube.
    std::string inverted = obj;
    for (const auto &f : cubefaces) {
        const std::string face = "f " + std::to_string(f[0] + 1) + " " + std::to_string(f[1] + 1) +
                                 " " + std::to_string(f[2] + 1) + "\n";
        inverted.replace(inverted.find(face), face.size(),
                         "f " + std::to_string(f[0] + 1) + " " + std::to_string(f[2] + 1) + " " +
                             std::to_string(f[1] + 1) + "\n");
    }
    write("inverted.obj", inverted);
    names.push_back("inverted.obj");
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        // Every file here is Y-up, STL too.
        const picture p = render({name, "--size", "200x200", "--up", "y"});
        EXPECT_TRUE(p.bytes == reference.bytes);
    }
}

// Corners at the same position are one corner whatever else they carry: a
// binary STL whose facets hold their true normals, and an OBJ giving each face
// its own normal, are the same closed cube as the plain OBJ, with no specks of
// hidden faces on the outline.
TEST_F(trelrender, CornersAtOnePositionAreJoinedWhateverTheirNormals) {
    std::ostringstream obj, normals;
    std::string binary(80, ' ');
    const auto put = [&binary](const void *data, std::size_t n) {
        binary.append(static_cast<const char *>(data), n);
    };
    const std::uint32_t count = 12;
    put(&count, 4);
    for (const auto &v : cubevertices) {
        obj << "v " << v[0] << " " << v[1] << " " << v[2] << "\n";
        normals << "v " << v[0] << " " << v[1] << " " << v[2] << "\n";
    }
    int n = 0;
    for (const auto &f : cubefaces) {
        const auto &a = cubevertices[f[0]];
        const auto &b = cubevertices[f[1]];
        const auto &c = cubevertices[f[2]];
        const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
        const double w[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
        const float normal[3] = {static_cast<float>(u[1] * w[2] - u[2] * w[1]) / 4,
                                 static_cast<float>(u[2] * w[0] - u[0] * w[2]) / 4,
                                 static_cast<float>(u[0] * w[1] - u[1] * w[0]) / 4};
        put(normal, sizeof normal);
        for (const int i : f) {
            const float corner[3] = {static_cast<float>(cubevertices[i][0]),
                                     static_cast<float>(cubevertices[i][1]),
                                     static_cast<float>(cubevertices[i][2])};
            put(corner, sizeof corner);
        }
        const std::uint16_t attributes = 0;
        put(&attributes, 2);
        obj << "f " << f[0] + 1 << " " << f[1] + 1 << " " << f[2] + 1 << "\n";
        normals << "vn " << normal[0] << " " << normal[1] << " " << normal[2] << "\n";
        ++n;
        normals << "f " << f[0] + 1 << "//" << n << " " << f[1] + 1 << "//" << n << " " << f[2] + 1
                << "//" << n << "\n";
    }
    write("cube.obj", obj.str());
    write("normals.stl", binary);
    write("normals.obj", normals.str());
    const picture reference = render({"cube.obj", "--size", "200x200", "--view", "-40,25"});
    EXPECT_GT(covered(reference).covered, 10000);
    for (const std::string name : {"normals.stl", "normals.obj"}) {
        SCOPED_TRACE(name);
        for (const std::string engine : {"3d", "2d"}) {
            const picture p = render({name, "--size", "200x200", "--view", "-40,25", "--engine",
                                      engine, "--style", "both", "--up", "y"});
            const picture q = render({"cube.obj", "--size", "200x200", "--view", "-40,25",
                                      "--engine", engine, "--style", "both"});
            EXPECT_TRUE(p.bytes == q.bytes) << engine;
        }
        EXPECT_TRUE(render({name, "--size", "200x200", "--view", "-40,25", "--up", "y"}).bytes ==
                    reference.bytes);
    }
}

// Every frame of a turntable reaches its own file, however the frames are
// shared out for encoding: a turntable started a step further round draws
// the same pictures (its views are the same set, so the mesh is placed the
// same), each one file earlier.
TEST_F(trelrender, TurntableFramesReachTheirOwnFiles) {
    constexpr int frames = 12;
    ASSERT_EQ(run({"--frames", std::to_string(frames), "--size", "160x120", "-o", "a.png",
                   "--depth", "da.png"})
                  .status,
              0);
    ASSERT_EQ(run({"--frames", std::to_string(frames), "--size", "160x120", "--view", "0,15", "-o",
                   "b.png", "--depth", "db.png"})
                  .status,
              0);
    const auto name = [](const std::string &stem, int k) {
        std::string number = std::to_string(k);
        number.insert(0, 3 - number.size(), '0');
        return stem + "-" + number + ".png";
    };
    std::set<std::uint64_t> distinct;
    for (int k = 0; k < frames; ++k) {
        SCOPED_TRACE(k);
        const picture a = readpng(dir / name("a", (k + 1) % frames));
        const picture b = readpng(dir / name("b", k));
        ASSERT_EQ(a.width, 160);
        EXPECT_TRUE(a.bytes == b.bytes);
        EXPECT_TRUE(readpng(dir / name("da", (k + 1) % frames)).bytes ==
                    readpng(dir / name("db", k)).bytes);
        distinct.insert(pixelhash(a));
    }
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(frames));
    // Nothing but the pictures is left behind.
    EXPECT_EQ(files().size(), 4U * frames);
}

// glTF, with the node's transform applied: the same picture as the stretched
// cube written out as OBJ.
TEST_F(trelrender, GltfNodesAreTransformed) {
    std::ostringstream obj;
    for (const auto &v : cubevertices) {
        obj << "v " << v[0] << " " << 2 * v[1] << " " << v[2] << "\n";
    }
    for (const auto &f : cubefaces) {
        obj << "f " << f[0] + 1 << " " << f[1] + 1 << " " << f[2] + 1 << "\n";
    }
    write("tall.obj", obj.str());
    write("tall.gltf", tallcubegltf());
    const picture reference = render({"tall.obj", "--size", "200x200"});
    const extent e = covered(reference);
    EXPECT_GT(e.bottom - e.top, 2 * (e.right - e.left) - 80);
    const picture p = render({"tall.gltf", "--size", "200x200"});
    EXPECT_TRUE(p.bytes == reference.bytes);
}

TEST_F(trelrender, TurntableWritesNumberedFrames) {
    const result r = run({"--frames", "2", "--size", "200x150", "-o", "spin.png", "--depth",
                          "depth.png", "--stats"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(files(), (std::set<std::string>{"depth-000.png", "depth-001.png", "spin-000.png",
                                              "spin-001.png"}));
    EXPECT_NE(r.out.find("triangles: 3674"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("frames: 2"), std::string::npos) << r.out;
    // Stderr is not a terminal here: no progress bar.
    EXPECT_EQ(r.err, "");
    const picture front = readpng(dir / "spin-000.png");
    const picture back = readpng(dir / "spin-001.png");
    ASSERT_EQ(front.width, 200);
    EXPECT_TRUE(front.bytes != back.bytes);
    // Half a turn mirrors the outline, so the covered areas match closely.
    const double a = static_cast<double>(covered(front).covered);
    const double b = static_cast<double>(covered(back).covered);
    EXPECT_NEAR(a / b, 1.0, 0.05);
}

TEST_F(trelrender, VersionAndHelp) {
    const result version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "0.9.1\n");
    const result help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--engine"), std::string::npos);
    EXPECT_EQ(files(), std::set<std::string>{});
}

TEST_F(trelrender, BadMeshesAreRefused) {
    write("empty.obj", "");
    write("points.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\n");
    write("text.stl", "These are not the triangles you are looking for.\n");
    write("nan.obj", "v nan 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    write("huge.obj", "v 1e30 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    write("infinite.off", "OFF\n3 1 0\n1e300 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
    write("point.obj", "v 1 1 1\nv 1 1 1\nv 1 1 1\nf 1 2 3\n");
    refused({"missing.obj"}, "No such file");
    refused({"point.obj"}, "no extent");
    refused({"empty.obj"}, "empty.obj");
    refused({"points.obj"}, "points.obj");
    refused({"text.stl"}, "text.stl");
    refused({"nan.obj"}, "not a number");
    refused({"huge.obj"}, "beyond");
    refused({"infinite.off"}, "beyond");
    fs::create_directory(dir / "folder.obj");
    refused({"folder.obj"}, "folder");
    if (::geteuid() != 0) { // root reads any file
        write("secret.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
        fs::permissions(dir / "secret.obj", fs::perms::none);
        refused({"secret.obj"}, "Permission denied");
    }
}

TEST_F(trelrender, BadOptionsAreRefused) {
    for (const std::string size : {"0x600", "800x0", "-800x600", "800x-1", "wide", "800", "80ax600",
                                   "4097x600", "800x5000", "800x600x1"}) {
        refused({"--size", size}, "size");
    }
    refused({"--frobnicate"}, "--frobnicate");
    refused({"--engine", "4d"}, "4d");
    refused({"--style", "dotted"}, "dotted");
    refused({"--frames", "0"}, "frames");
    refused({"--view", "30"}, "view");
    refused({"--view", "0,91"}, "view");
    refused({"--colour", "#12345"}, "colour");
    refused({"--engine", "2d", "--depth", "depth.png"}, "3d");
    refused({"--up", "x"}, "x");
    refused({"-o", "same.png", "--depth", "same.png"}, "same.png");
}

TEST_F(trelrender, UnwritableOutputsAreRefused) {
    refused({"-o", "missing/out.png"}, "missing");
    write("file", "");
    refused({"-o", "file/out.png"}, "file");
    refused({"--depth", "missing/depth.png"}, "missing");
    fs::create_directory(dir / "out.png");
    refused({"-o", "out.png"}, "folder");
    fs::remove(dir / "out.png");
    if (::geteuid() != 0) { // root writes into any folder
        fs::create_directory(dir / "locked");
        fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
        refused({"-o", "locked/out.png"}, "locked");
    }
}

// An output that is the mesh, however it is named, or that is another output
// is refused before anything is written: the mesh keeps its bytes.
TEST_F(trelrender, OutputsNeverReplaceTheMeshOrEachOther) {
    const std::string cube = cubemeshes()[4].second; // ASCII STL
    write("p.stl", cube);
    fs::create_hard_link(dir / "p.stl", dir / "hard.png");
    fs::create_symlink("p.stl", dir / "link.png");
    refused({"p.stl", "-o", "p.stl"}, "mesh");
    refused({"p.stl", "-o", "./p.stl"}, "mesh");
    refused({"p.stl", "-o", dir.string() + "/../" + dir.filename().string() + "/p.stl"}, "mesh");
    refused({"p.stl", "--depth", "p.stl"}, "mesh");
    refused({"p.stl", "-o", "hard.png"}, "mesh");
    refused({"p.stl", "-o", "link.png"}, "mesh");
    EXPECT_TRUE(slurp("p.stl") == cube);
    EXPECT_TRUE(fs::is_symlink(dir / "link.png"));
    // Two outputs that are one file: the colour picture would be lost.
    refused({"-o", "o.png", "--depth", "./o.png"}, "same file");
    write("o.png", earlierpicture("the picture of an earlier run"));
    refused({"-o", "o.png", "--depth", "./o.png"}, "same file");
    refused({"p.stl", "-o", "o.png", "--depth", "link.png"}, "mesh");
    EXPECT_EQ(slurp("o.png"), earlierpicture("the picture of an earlier run"));
    EXPECT_TRUE(slurp("p.stl") == cube);
}

// Devices, FIFOs and folders stay what they are.
TEST_F(trelrender, NonRegularOutputsAreRefused) {
    ASSERT_EQ(::mkfifo((dir / "fifo.png").c_str(), 0644), 0);
    refused({"-o", "fifo.png"}, "FIFO");
    refused({"--depth", "fifo.png"}, "FIFO");
    EXPECT_TRUE(fs::is_fifo(dir / "fifo.png"));
    fs::create_directory(dir / "folder.png");
    refused({"--depth", "folder.png"}, "folder");
    EXPECT_TRUE(fs::is_directory(dir / "folder.png"));
    // A device of the test's own where it may make one; the system's otherwise
    // (which only root could replace, and which is then not touched).
    std::string device = "/dev/full";
    if (::geteuid() == 0 && ::mknod((dir / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0) {
        device = "full";
    }
    refused({"-o", device}, "device");
    fs::create_symlink(device, dir / "device.png");
    refused({"-o", "device.png"}, "device");
    EXPECT_TRUE(fs::is_character_file(device[0] == '/' ? fs::path(device) : dir / device));
}

// A symbolic link is written through: the file it leads to gets the picture,
// and the link stays a link. Nothing else is left in either folder.
TEST_F(trelrender, SymbolicLinksAreWrittenThrough) {
    fs::create_directory(dir / "pictures");
    std::ofstream(dir / "pictures" / "real.png") << earlierpicture("an earlier picture");
    fs::create_symlink("pictures/real.png", dir / "link.png");
    fs::create_symlink("link.png", dir / "chain.png");
    fs::create_symlink("pictures/new.png", dir / "dangling.png");
    fs::create_symlink("pictures/depth.png", dir / "depth.png");
    const result r = run({"--size", "80x60", "-o", "chain.png", "--depth", "depth.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir / "link.png"));
    EXPECT_TRUE(fs::is_symlink(dir / "chain.png"));
    EXPECT_TRUE(fs::is_symlink(dir / "depth.png"));
    EXPECT_EQ(readpng(dir / "pictures" / "real.png").width, 80);
    EXPECT_EQ(readpng(dir / "pictures" / "depth.png").channels, 1);
    ASSERT_EQ(run({"--size", "80x60", "-o", "dangling.png"}).status, 0);
    EXPECT_TRUE(fs::is_symlink(dir / "dangling.png"));
    EXPECT_EQ(readpng(dir / "pictures" / "new.png").width, 80);
    EXPECT_EQ(files(), (std::set<std::string>{"chain.png", "dangling.png", "depth.png", "link.png",
                                              "pictures"}));
    std::set<std::string> pictures;
    for (const auto &entry : fs::directory_iterator(dir / "pictures")) {
        pictures.insert(entry.path().filename().string());
    }
    EXPECT_EQ(pictures, (std::set<std::string>{"depth.png", "new.png", "real.png"}));
}

// "-o -" writes the picture to standard output, and no file named "-".
TEST_F(trelrender, DashWritesToStandardOutput) {
    const picture file = render({"--size", "120x90"});
    const result r = run({"--size", "120x90", "-o", "-", "--stats"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_GT(r.out.size(), 8U);
    EXPECT_EQ(r.out.substr(0, 8), "\x89PNG\r\n\x1a\n");
    // With the picture on stdout, the figures go to stderr.
    EXPECT_NE(r.err.find("triangles: 3674"), std::string::npos) << r.err;
    const picture p = decodepng(r.out);
    EXPECT_EQ(p.width, 120);
    EXPECT_TRUE(p.bytes == file.bytes);
    EXPECT_EQ(files(), std::set<std::string>{"out.png"});
    refused({"--frames", "2", "-o", "-"}, "standard output");
}

// Files that hung the parser, or made it take all the memory there is, end
// quickly with status 2 and a line naming the problem or the limit.
TEST_F(trelrender, MeshesEndWithinTheirLimits) {
    const auto meshes = cubemeshes();
    write("h.ply", "ply\nformat ascii 1.0\n");
    refused({"h.ply"}, "end_header");
    const std::string binary = meshes[3].second;
    write("cut.ply", binary.substr(0, binary.find("end_header\n") + 11 + 10));
    refused({"cut.ply"}, "'vertex' elements");
    write("vertices.off", "OFF\n99999999999 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
    refused({"vertices.off"}, "declares 99999999999 vertices");
    write("faces.off", replaced(meshes[1].second, "8 12 0", "8 4000000000 0"));
    refused({"faces.off"}, "declares 4000000000 faces");
    write("vertices.ply",
          replaced(meshes[2].second, "element vertex 8", "element vertex 4294967295"));
    refused({"vertices.ply"}, "'vertex' elements");
    write("faces.ply", replaced(binary, "element face 12", "element face 2147483648"));
    refused({"faces.ply"}, "'face' elements");

    // Large enough that parsing it needs more than 64 MiB of address space.
    write("grid.obj", gridobj(300));
    refused({"grid.obj", "--load-timeout", "0.001"}, "took longer than --load-timeout 0.001 s");
#if !defined(TREL_RENDER_SANITIZED) // a sanitized program parses under the time limit only
    refused({"grid.obj", "--max-memory", "64"}, "exceeds --max-memory 64 MiB");
#endif
    EXPECT_EQ(render({"grid.obj", "--size", "80x60"}).width, 80);
}

// Truncated, bit-flipped and header-inflated copies of the cube in every
// format: each run ends with status 0 and a picture, or status 2 and one
// line, within its limits and without leaving anything behind.
TEST_F(trelrender, HostileMeshesEndCleanly) {
    std::vector<std::pair<std::string, std::string>> cases;
    std::uint64_t state = 0x9e3779b97f4a7c15ULL;
    const auto random = [&state](std::size_t below) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::size_t>((state >> 33) % below);
    };
    for (const auto &[format, bytes] : cubemeshes()) {
        for (int k = 0; k < 10; ++k) {
            cases.emplace_back("cut" + std::to_string(k) + "." + format,
                               bytes.substr(0, bytes.size() * k / 10 + random(8)));
        }
        for (int k = 0; k < 12; ++k) {
            std::string flipped = bytes;
            for (int n = 0; n <= k % 3; ++n) {
                flipped[random(flipped.size())] ^= static_cast<char>(1 << random(8));
            }
            cases.emplace_back("flip" + std::to_string(k) + "." + format, flipped);
        }
    }
    // The bunny as ASCII PLY, cut short at forty places: many of the cuts
    // once stopped the parser on an internal check (status 134).
    std::ifstream bunnyfile(TREL_SOURCE_DIR "/data/bunny.obj");
    std::ostringstream vertices, faces;
    int vertexcount = 0, facecount = 0;
    for (std::string line; std::getline(bunnyfile, line);) {
        std::istringstream in(line);
        std::string kind;
        in >> kind;
        if (kind == "v") {
            double x = 0, y = 0, z = 0;
            in >> x >> y >> z;
            vertices << x << " " << y << " " << z << "\n";
            ++vertexcount;
        } else if (kind == "f") {
            std::vector<int> corners;
            for (std::string corner; in >> corner;) {
                corners.push_back(std::stoi(corner) - 1);
            }
            faces << corners.size();
            for (const int c : corners) {
                faces << " " << c;
            }
            faces << "\n";
            ++facecount;
        }
    }
    ASSERT_GT(facecount, 1000);
    const std::string bunny =
        "ply\nformat ascii 1.0\nelement vertex " + std::to_string(vertexcount) +
        "\nproperty float x\nproperty float y\nproperty float z\n"
        "element face " +
        std::to_string(facecount) + "\nproperty list uchar int vertex_indices\nend_header\n" +
        vertices.str() + faces.str();
    for (int k = 1; k <= 40; ++k) {
        cases.emplace_back("bunny" + std::to_string(k) + ".ply",
                           bunny.substr(0, bunny.size() * k / 41));
    }
    const auto &m = cubemeshes();
    std::string stlhuge = m[5].second;
    const std::uint32_t facets = 0xFFFFFFFFU;
    stlhuge.replace(80, 4, reinterpret_cast<const char *>(&facets), 4);
    for (const auto &[name, bytes] : std::vector<std::pair<std::string, std::string>>{
             {"huge.obj", replaced(m[0].second, "f 1 2 6", "f 1 2 4294967295")},
             {"huge.off", replaced(m[1].second, "8 12 0", "2147483647 2147483647 0")},
             {"huge-a.ply", replaced(m[2].second, "element face 12", "element face 4294967295")},
             {"huge-b.ply", replaced(m[3].second, "element vertex 8", "element vertex 1000000")},
             {"huge.stl", stlhuge},
             {"huge-count.gltf", replaced(m[6].second, "\"count\": 8", "\"count\": 4294967295")},
             {"huge-length.gltf",
              replaced(m[6].second, "\"byteLength\": 96", "\"byteLength\": 4294967295")}}) {
        cases.emplace_back(name, bytes);
    }
    for (const auto &[name, bytes] : cases) {
        SCOPED_TRACE(name);
        write(name, bytes);
        // Under the default limits of 4096 MiB and 30 s.
        const result r = run({name, "--size", "16x12", "-o", "out.png"});
        ASSERT_TRUE(r.status == 0 || r.status == 2) << r.status << ": " << r.err;
        if (r.status == 0) {
            // At most a note: a damaged mesh may keep nothing that faces the view.
            EXPECT_TRUE(r.err.empty() || (r.err.rfind("trel-render: note: nothing of ", 0) == 0 &&
                                          std::count(r.err.begin(), r.err.end(), '\n') == 1))
                << r.err;
            EXPECT_EQ(readpng(dir / "out.png").width, 16);
            fs::remove(dir / "out.png");
        } else {
            EXPECT_EQ(r.err.rfind("trel-render: ", 0), 0U) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
        fs::remove(dir / name);
        EXPECT_EQ(files(), std::set<std::string>{}) << r.err;
    }
}

} // namespace
