// What trel-render writes beyond an opaque PNG: transparent backgrounds, WebP
// stills and animations, depth pictures on a fixed range and in 16 bits, and
// the times --stats reports. Each test runs the program as a user does and
// decodes what it left.
#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <webp/decode.h>
#include <webp/demux.h>

#include "runner.h"

namespace {

using namespace rendertest;

// The stored samples of a grey PNG as they are, with their bit depth: the
// simplified reader would turn 16-bit grey into linear light.
struct greypng {
    int width = 0;
    int height = 0;
    int bits = 0;
    int type = -1;
    std::vector<int> values;
    int at(int column, int row) const {
        return values[static_cast<std::size_t>(row) * width + column];
    }
};

greypng readgrey(const fs::path &path) {
    greypng g;
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        ADD_FAILURE() << "cannot open " << path;
        return g;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(file);
        ADD_FAILURE() << "cannot decode " << path;
        return greypng{};
    }
    png_init_io(png, file);
    png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    g.width = static_cast<int>(png_get_image_width(png, info));
    g.height = static_cast<int>(png_get_image_height(png, info));
    g.bits = png_get_bit_depth(png, info);
    g.type = png_get_color_type(png, info);
    png_bytepp rows = png_get_rows(png, info);
    g.values.reserve(static_cast<std::size_t>(g.width) * g.height);
    for (int y = 0; y < g.height; ++y) {
        for (int x = 0; x < g.width; ++x) {
            g.values.push_back(g.bits == 16 ? rows[y][2 * x] << 8 | rows[y][2 * x + 1]
                                            : rows[y][x]);
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return g;
}

struct animation {
    int width = 0;
    int height = 0;
    int loops = -1;
    std::vector<rgbapicture> frames;
    std::vector<int> timestamps; // when each frame ends, in milliseconds
};

std::string bytesof(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A WebP file decoded frame by frame with libwebp's animation decoder, each
// frame the whole canvas as RGBA.
animation readwebp(const fs::path &path) {
    const std::string file = bytesof(path);
    animation a;
    WebPData data{reinterpret_cast<const std::uint8_t *>(file.data()), file.size()};
    WebPAnimDecoderOptions options;
    if (WebPAnimDecoderOptionsInit(&options) == 0) {
        ADD_FAILURE() << "libwebp refused its options";
        return a;
    }
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    WebPAnimDecoder *decoder = WebPAnimDecoderNew(&data, &options);
    if (decoder == nullptr) {
        ADD_FAILURE() << path << " is not a WebP file";
        return a;
    }
    WebPAnimInfo info;
    if (WebPAnimDecoderGetInfo(decoder, &info) != 0) {
        a.width = static_cast<int>(info.canvas_width);
        a.height = static_cast<int>(info.canvas_height);
        a.loops = static_cast<int>(info.loop_count);
    }
    while (WebPAnimDecoderHasMoreFrames(decoder) != 0) {
        std::uint8_t *pixels = nullptr;
        int timestamp = 0;
        if (WebPAnimDecoderGetNext(decoder, &pixels, &timestamp) == 0) {
            ADD_FAILURE() << "cannot decode frame " << a.frames.size() << " of " << path;
            break;
        }
        rgbapicture frame;
        frame.width = a.width;
        frame.height = a.height;
        frame.bytes.assign(pixels, pixels + static_cast<std::size_t>(a.width) * a.height * 4);
        a.frames.push_back(std::move(frame));
        a.timestamps.push_back(timestamp);
    }
    WebPAnimDecoderDelete(decoder);
    return a;
}

// Where the two pictures differ, as RGBA; pixels transparent in both agree
// whatever colour they carry. -1 when they agree everywhere.
long firstdifference(const rgbapicture &a, const rgbapicture &b) {
    if (a.width != b.width || a.height != b.height || a.bytes.size() != b.bytes.size()) {
        return 0;
    }
    for (std::size_t i = 0; i < a.bytes.size(); i += 4) {
        if (a.bytes[i + 3] == 0 && b.bytes[i + 3] == 0) {
            continue;
        }
        if (!std::equal(a.bytes.begin() + static_cast<long>(i),
                        a.bytes.begin() + static_cast<long>(i) + 4,
                        b.bytes.begin() + static_cast<long>(i))) {
            return static_cast<long>(i / 4);
        }
    }
    return -1;
}

// The cube of side 2 as OBJ, with `extra` appended.
std::string cubeobj(const std::string &extra = "") { return cubemeshes()[0].second + extra; }

// Two unit squares facing the viewer, off to either side of the cube, one 3
// units in front of its centre and one 3 behind: the box round it all keeps
// the cube's centre, but the depths drawn reach from -3 to 3.
const std::string sidesquares = "v 4 -1 3\nv 6 -1 3\nv 6 1 3\nv 4 1 3\n"
                                "v -6 -1 -3\nv -4 -1 -3\nv -4 1 -3\nv -6 1 -3\n"
                                "f 9 10 11\nf 9 11 12\nf 13 14 15\nf 13 15 16\n";

TEST_F(trelrender, TransparentBackgroundIsWhereNothingWasDrawn) {
    write("cube.obj", cubeobj());
    for (const std::string engine : {"3d", "2d", "2dxy"}) {
        for (const std::string style : {"solid", "wire", "both"}) {
            SCOPED_TRACE(engine + " " + style);
            const std::vector<std::string> common = {
                "cube.obj", "--engine", engine,    "--style",       style,    "--size",
                "160x120",  "--colour", "#ff0000", "--edge-colour", "#00ff00"};
            std::vector<std::string> clear = common;
            clear.insert(clear.end(), {"--background", "none", "-o", "clear.png"});
            std::vector<std::string> blue = common;
            blue.insert(blue.end(), {"--background", "#0000ff", "-o", "blue.png"});
            ASSERT_EQ(run(clear).status, 0);
            ASSERT_EQ(run(blue).status, 0);
            const rgbapicture p = readrgba(dir / "clear.png");
            const picture opaque = readpng(dir / "blue.png");
            ASSERT_EQ(p.width, 160);
            ASSERT_EQ(p.height, 120);
            for (const auto &[column, row] :
                 std::vector<std::array<int, 2>>{{0, 0}, {159, 0}, {0, 119}, {159, 119}}) {
                EXPECT_EQ(p.alpha(column, row), 0) << column << "," << row;
            }
            // Red faces and green outlines never come out blue: the opaque
            // picture tells exactly which pixels were drawn, and there the
            // transparent one has the same colour at full alpha.
            long drawn = 0;
            long holes = 0;
            for (int row = 0; row < p.height; ++row) {
                for (int column = 0; column < p.width; ++column) {
                    const auto c = opaque.at(column, row);
                    const std::uint8_t *q = p.at(column, row);
                    if (c == std::array<int, 3>{0, 0, 255}) {
                        ASSERT_EQ(q[3], 0) << column << "," << row;
                        ++holes;
                    } else {
                        ASSERT_EQ(q[3], 255) << column << "," << row;
                        ASSERT_EQ((std::array<int, 3>{q[0], q[1], q[2]}), c)
                            << column << "," << row;
                        ++drawn;
                    }
                }
            }
            EXPECT_GT(drawn, 1000);
            // A wireframe is transparent between its lines: the middle of the
            // picture, on the cube, has holes round it.
            if (style == "wire") {
                int open = 0;
                for (int row = 40; row < 80; ++row) {
                    for (int column = 60; column < 100; ++column) {
                        open += p.alpha(column, row) == 0 ? 1 : 0;
                    }
                }
                EXPECT_GT(open, 400);
            } else {
                EXPECT_EQ(p.alpha(80, 60), 255);
            }
            EXPECT_GT(holes, 2000);
        }
    }
}

TEST_F(trelrender, FacesColouredLikeTheBackgroundStayOpaque) {
    // Whatever colour the faces have, the background's own, black (what the
    // transparent pixels decode to) or white, they cover the same pixels.
    write("cube.obj", cubeobj());
    for (const std::string engine : {"3d", "2d", "2dxy"}) {
        SCOPED_TRACE(engine);
        std::vector<std::uint8_t> mask;
        for (const std::string colour : {"#ff0000", "#242c3a", "#000000", "#ffffff"}) {
            SCOPED_TRACE(colour);
            const result r = run({"cube.obj", "--engine", engine, "--size", "120x90",
                                  "--background", "none", "--colour", colour, "-o", "c.png"});
            ASSERT_EQ(r.status, 0) << r.err;
            const rgbapicture p = readrgba(dir / "c.png");
            std::vector<std::uint8_t> alpha;
            for (std::size_t i = 3; i < p.bytes.size(); i += 4) {
                alpha.push_back(p.bytes[i]);
            }
            EXPECT_EQ(p.alpha(60, 45), 255);
            EXPECT_GT(std::count(alpha.begin(), alpha.end(), 255), 1500);
            if (mask.empty()) {
                mask = alpha;
            } else {
                EXPECT_TRUE(alpha == mask) << "the faces' colour changed what is transparent";
            }
        }
    }
    // The background given with none is still not a colour anything is
    // keyed on, in a turntable as in one picture.
    const result r = run({"--background", "none", "--colour", "#242c3a", "--size", "100x80",
                          "--frames", "2", "-o", "f.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readrgba(dir / "f-001.png").alpha(50, 40), 255);
}

TEST_F(trelrender, TurntableToWebPIsOneLoopingAnimation) {
    write("cube.obj", cubeobj());
    for (const bool transparent : {false, true}) {
        SCOPED_TRACE(transparent ? "transparent" : "opaque");
        std::vector<std::string> common = {"cube.obj", "--size", "96x64", "--frames", "5"};
        if (transparent) {
            common.insert(common.end(), {"--background", "none"});
        }
        std::vector<std::string> webp = common;
        webp.insert(webp.end(), {"-o", "spin.webp"});
        std::vector<std::string> png = common;
        png.insert(png.end(), {"-o", "frame.png"});
        const result r = run(webp);
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(run(png).status, 0);
        // One file, no numbered ones beside it, no temporary left.
        std::set<std::string> expected = {"cube.obj", "spin.webp"};
        for (int k = 0; k < 5; ++k) {
            expected.insert("frame-00" + std::to_string(k) + ".png");
        }
        EXPECT_EQ(files(), expected);

        const animation a = readwebp(dir / "spin.webp");
        EXPECT_EQ(a.width, 96);
        EXPECT_EQ(a.height, 64);
        EXPECT_EQ(a.loops, 0); // for ever
        ASSERT_EQ(a.frames.size(), 5U);
        // Five frames share four seconds.
        EXPECT_EQ(a.timestamps, (std::vector<int>{800, 1600, 2400, 3200, 4000}));
        for (int k = 0; k < 5; ++k) {
            SCOPED_TRACE(k);
            const rgbapicture frame = readrgba(dir / ("frame-00" + std::to_string(k) + ".png"));
            EXPECT_EQ(firstdifference(a.frames[k], frame), -1);
            EXPECT_EQ(a.frames[k].alpha(0, 0), transparent ? 0 : 255);
            EXPECT_EQ(a.frames[k].alpha(48, 32), 255);
        }
        // The frames differ: the cube turns.
        EXPECT_NE(firstdifference(a.frames[0], a.frames[1]), -1);
        for (const std::string &name : files()) {
            if (name != "cube.obj") {
                fs::remove(dir / name);
            }
        }
    }
}

TEST_F(trelrender, StillWebPHoldsThePicture) {
    ASSERT_EQ(run({"--size", "120x90", "-o", "still.webp"}).status, 0);
    ASSERT_EQ(run({"--size", "120x90", "-o", "still.png"}).status, 0);
    ASSERT_EQ(run({"--size", "120x90", "--background", "none", "-o", "clear.webp"}).status, 0);
    ASSERT_EQ(run({"--size", "120x90", "--background", "none", "-o", "clear.png"}).status, 0);
    for (const std::string name : {"still", "clear"}) {
        SCOPED_TRACE(name);
        const std::string file = bytesof(dir / (name + ".webp"));
        WebPBitstreamFeatures features;
        ASSERT_EQ(WebPGetFeatures(reinterpret_cast<const std::uint8_t *>(file.data()), file.size(),
                                  &features),
                  VP8_STATUS_OK);
        EXPECT_EQ(features.has_animation, 0);
        EXPECT_EQ(features.has_alpha != 0, name == "clear");
        EXPECT_EQ(features.format, 2); // lossless
        const animation a = readwebp(dir / (name + ".webp"));
        ASSERT_EQ(a.frames.size(), 1U);
        EXPECT_EQ(firstdifference(a.frames[0], readrgba(dir / (name + ".png"))), -1);
    }
}

TEST_F(trelrender, WebPOutputKeepsTheOutputRules) {
    write("cube.obj", cubeobj());
    write("broken.obj", "v 1 2\nf 1 2 3\n");
    write("spin.webp", earlierpicture("old"));
    // A mesh that fails leaves the old file as it was and nothing beside it.
    refused({"broken.obj", "--frames", "3", "-o", "spin.webp"}, "broken.obj");
    EXPECT_EQ(slurp("spin.webp"), earlierpicture("old"));
    // The depth picture of a WebP turntable is still numbered PNGs.
    refused({"cube.obj", "--frames", "3", "-o", "spin.webp", "--depth", "d.webp"}, "name it .png");
    // A symbolic link is written through: the link stays, its target is
    // replaced by the animation.
    fs::create_directory(dir / "real");
    write("real/target.webp", earlierpicture("old"));
    fs::create_symlink("real/target.webp", dir / "link.webp");
    const result r = run(
        {"cube.obj", "--frames", "3", "--size", "64x48", "-o", "link.webp", "--depth", "d.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir / "link.webp"));
    EXPECT_EQ(readwebp(dir / "real" / "target.webp").frames.size(), 3U);
    EXPECT_EQ(std::set<std::string>({"target.webp"}), [&] {
        std::set<std::string> names;
        for (const auto &entry : fs::directory_iterator(dir / "real")) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }());
    for (const std::string name : {"d-000.png", "d-001.png", "d-002.png"}) {
        EXPECT_EQ(readgrey(dir / name).width, 64) << name;
    }
    // The animation and the mesh are never the same file.
    fs::create_symlink("cube.obj", dir / "tomesh.webp");
    refused({"cube.obj", "--frames", "2", "-o", "tomesh.webp"}, "the mesh being drawn");
    EXPECT_EQ(slurp("cube.obj"), cubeobj());
}

TEST_F(trelrender, DepthRangeMakesDepthsCompare) {
    write("cube.obj", cubeobj());
    write("wide.obj", cubeobj(sidesquares));
    // Seen from the front, the cube's face is 1 unit in front of the centre
    // in both meshes; the squares make the second picture's depths reach
    // from -3 to 3, and the turn round to 90 degrees shows another face at 1.
    const auto centre = [this](const std::vector<std::string> &args, const std::string &file) {
        std::vector<std::string> all = args;
        all.insert(all.end(), {"--view", "0,0", "--size", "200x100", "--depth", "d.png"});
        const result r = run(all);
        EXPECT_EQ(r.status, 0) << r.err;
        const greypng g = readgrey(dir / file);
        EXPECT_EQ(g.bits, 8);
        return g.width == 200 ? g.at(100, 50) : -1;
    };
    // Unfixed, each picture stretches its own depths: the same face is at
    // full brightness alone and dimmer beside the nearer square.
    const int alone = centre({"cube.obj"}, "d.png");
    const int beside = centre({"wide.obj"}, "d.png");
    EXPECT_EQ(alone, 255);
    EXPECT_LT(beside, 230);
    // Fixed from 4 (brightest) to -4 (darkest drawn), depth 1 is grey
    // 48 + 207 * 5 / 8 = 177 in every picture and every frame.
    EXPECT_NEAR(centre({"cube.obj", "--depth-range", "4,-4"}, "d.png"), 177, 1);
    EXPECT_NEAR(centre({"wide.obj", "--depth-range", "4,-4"}, "d.png"), 177, 1);
    EXPECT_NEAR(centre({"wide.obj", "--depth-range", "4,-4", "--frames", "4"}, "d-000.png"), 177,
                1);
    EXPECT_NEAR(centre({"wide.obj", "--depth-range", "4,-4", "--frames", "4"}, "d-001.png"), 177,
                1);
    // Unfixed, the two frames do not agree.
    EXPECT_NE(centre({"wide.obj", "--frames", "4"}, "d-000.png"),
              centre({"wide.obj", "--frames", "4"}, "d-001.png"));
    // Depths beyond the range are held at its ends; the background stays black.
    EXPECT_EQ(centre({"cube.obj", "--depth-range", "0.5,-0.5"}, "d.png"), 255);
    EXPECT_EQ(centre({"cube.obj", "--depth-range", "5,3"}, "d.png"), 48);
    const greypng g = readgrey(dir / "d.png");
    EXPECT_EQ(g.at(0, 0), 0);
}

TEST_F(trelrender, SixteenBitDepthFollowsTheDepth) {
    write("cube.obj", cubeobj());
    // Turned 30 degrees, the cube shows two faces meeting in its nearest edge;
    // along the middle row the depth falls away from that edge both ways.
    const std::vector<std::string> common = {"cube.obj", "--view", "30,0", "--size", "800x600"};
    std::vector<std::string> sixteen = common;
    sixteen.insert(sixteen.end(), {"--depth", "d16.png", "--depth16"});
    std::vector<std::string> eight = common;
    eight.insert(eight.end(), {"--depth", "d8.png"});
    ASSERT_EQ(run(sixteen).status, 0);
    ASSERT_EQ(run(eight).status, 0);
    const greypng d16 = readgrey(dir / "d16.png");
    const greypng d8 = readgrey(dir / "d8.png");
    ASSERT_EQ(d16.bits, 16);
    ASSERT_EQ(d16.type, PNG_COLOR_TYPE_GRAY);
    ASSERT_EQ(d16.width, 800);
    ASSERT_EQ(d8.bits, 8);
    const int row = 300;
    int edge = 0;
    for (int column = 0; column < 800; ++column) {
        if (d16.at(column, row) > d16.at(edge, row)) {
            edge = column;
        }
    }
    int left = edge;
    while (left > 0 && d16.at(left - 1, row) != 0) {
        --left;
    }
    int right = edge;
    while (right < 799 && d16.at(right + 1, row) != 0) {
        ++right;
    }
    ASSERT_GT(edge - left, 50);
    ASSERT_GT(right - edge, 50);
    for (int column = left; column < edge; ++column) {
        ASSERT_LE(d16.at(column, row), d16.at(column + 1, row)) << column;
    }
    for (int column = edge; column < right; ++column) {
        ASSERT_GE(d16.at(column, row), d16.at(column + 1, row)) << column;
    }
    // Stretched, the nearest drawn depth is the brightest value and the
    // farthest the darkest drawn one; the 8-bit picture is the same to
    // within a grey, and the 16-bit one tells apart far more depths.
    int nearest = 0;
    int farthest = 65535;
    std::set<int> distinct16;
    std::set<int> distinct8;
    for (int y = 0; y < 600; ++y) {
        for (int x = 0; x < 800; ++x) {
            const int v = d16.at(x, y);
            ASSERT_EQ(v == 0, d8.at(x, y) == 0) << x << "," << y;
            if (v == 0) {
                continue;
            }
            nearest = std::max(nearest, v);
            farthest = std::min(farthest, v);
            distinct16.insert(v);
            distinct8.insert(d8.at(x, y));
            ASSERT_NEAR(v / 257.0, d8.at(x, y), 1.0) << x << "," << y;
        }
    }
    EXPECT_EQ(nearest, 65535);
    EXPECT_EQ(farthest, 48 * 257);
    EXPECT_GT(distinct16.size(), distinct8.size() + 50);

    // On a fixed range, the 16-bit values stand for the same depths: the face
    // at 1 of a front view, on 4 to -4, is 5/8 of the way up.
    ASSERT_EQ(run({"cube.obj", "--view", "0,0", "--size", "200x100", "--depth", "f.png",
                   "--depth16", "--depth-range", "4,-4"})
                  .status,
              0);
    EXPECT_NEAR(readgrey(dir / "f.png").at(100, 50), 48 * 257 + (65535 - 48 * 257) * 5 / 8.0,
                53199 / 8.0 / 20);
}

TEST_F(trelrender, StatsGiveLoadDrawAndWriteApart) {
    write("cube.obj", cubeobj());
    const result r = run({"cube.obj", "--stats", "--frames", "2", "--size", "64x48", "-o", "s.webp",
                          "--depth", "d.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::map<std::string, std::string> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        const std::size_t colon = line.find(": ");
        ASSERT_NE(colon, std::string::npos) << line;
        lines[line.substr(0, colon)] = line.substr(colon + 2);
    }
    EXPECT_EQ(lines["triangles"], "12");
    EXPECT_EQ(lines["frames"], "2");
    EXPECT_EQ(lines.count("up"), 1U);
    EXPECT_EQ(lines.count("time per frame"), 1U);
    for (const std::string stage : {"load", "draw", "write"}) {
        SCOPED_TRACE(stage);
        ASSERT_EQ(lines.count(stage), 1U) << r.out;
        const std::string &value = lines[stage];
        ASSERT_GE(value.size(), 4U);
        EXPECT_EQ(value.substr(value.size() - 3), " ms");
        char *end = nullptr;
        const double ms = std::strtod(value.c_str(), &end);
        EXPECT_EQ(std::string(end), " ms");
        EXPECT_GE(ms, 0.0);
        EXPECT_LT(ms, 120000.0);
    }
}

// An output replaces an existing file only when it is a picture trel-render
// writes (PNG or WebP) or empty, as thumbnailers leave it, or with --force;
// any other file (notes, a makefile, a mesh named by mistake) keeps its bytes.
TEST_F(trelrender, OutputsReplaceOnlyPicturesUnlessForced) {
    const std::string webp = std::string("RIFF\x10\0\0\0WEBPVP8L", 16);
    struct replacement {
        std::string old;
        bool force;
        bool replaced;
    };
    const replacement cases[] = {
        {"notes\n", false, false},   {cubeobj(), false, false},
        {"", false, true},           {earlierpicture("old"), false, true},
        {webp + "old", false, true}, {"notes\n", true, true},
        {cubeobj(), true, true},     {"\x89PNG", false, false},
    };
    write("cube.obj", cubeobj());
    for (const std::string name : {"NOTES", "out.png", "spin.webp"}) {
        for (const replacement &c : cases) {
            SCOPED_TRACE(name + " holding '" + c.old.substr(0, 8) + "'" +
                         (c.force ? " --force" : ""));
            write(name, c.old);
            std::vector<std::string> args = {"cube.obj", "--size", "40x30", "-o", name};
            if (c.force) {
                args.push_back("--force");
            }
            if (!c.replaced) {
                refused(args, "--force");
                EXPECT_EQ(slurp(name), c.old);
                continue;
            }
            const result r = run(args);
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_NE(slurp(name), c.old);
            EXPECT_EQ(files(), (std::set<std::string>{"cube.obj", name}));
        }
        fs::remove(dir / name);
    }
}

// A replaced picture keeps its file's mode, so a private file stays private,
// also when reached through a symbolic link; a new one gets the umask's mode.
TEST_F(trelrender, ReplacedFilesKeepTheirMode) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct modecase {
        const char *name; // the name given to -o
        mode_t before;    // 0: no file yet
        mode_t after;
    };
    const modecase cases[] = {
        {"private.png", 0600, 0600},
        {"group.png", 0640, 0640},
        {"readonly.png", 0444, 0444},
        {"link.png", 0600, 0600}, // through a link to real.png
        {"new.png", 0, static_cast<mode_t>(0666 & ~mask)},
    };
    fs::create_symlink("real.png", dir / "link.png");
    for (const modecase &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = std::string(c.name) == "link.png" ? "real.png" : c.name;
        if (c.before != 0) {
            write(file, earlierpicture("old"));
            ASSERT_EQ(::chmod((dir / file).c_str(), c.before), 0);
        }
        const result r = run({"--size", "40x30", "-o", c.name});
        ASSERT_EQ(r.status, 0) << r.err;
        struct stat st {};
        ASSERT_EQ(::stat((dir / file).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.after);
        EXPECT_EQ(readpng(dir / file).width, 40);
    }
}

// Any name the file system takes is written, up to 255 bytes, also in a
// batch and in letters of several bytes: the temporary file's name is cut
// short, never the picture's.
TEST_F(trelrender, LongestNamesAreWritten) {
    const auto named = [](std::size_t bytes, const std::string &letter, const std::string &ext) {
        std::string stem;
        while (stem.size() + letter.size() + ext.size() <= bytes) {
            stem += letter;
        }
        stem.append(bytes - stem.size() - ext.size(), 'x');
        return stem + ext;
    };
    write("cube.obj", cubeobj());
    for (const std::size_t bytes : {248U, 251U, 254U, 255U}) {
        for (const std::string letter : {"a", "\xC3\xA9", "\xE2\x82\xAC"}) {
            SCOPED_TRACE(std::to_string(bytes) + " bytes of " + letter);
            const std::string picture = named(bytes, letter, ".png");
            ASSERT_EQ(picture.size(), bytes);
            const result single = run({"cube.obj", "--size", "40x30", "-o", picture});
            ASSERT_EQ(single.status, 0) << single.err;
            EXPECT_EQ(readpng(dir / picture).width, 40);
            EXPECT_EQ(files(), (std::set<std::string>{"cube.obj", picture}));
            fs::remove(dir / picture);

            const std::string mesh = picture.substr(0, picture.size() - 4) + ".obj";
            write(mesh, cubeobj());
            const result batch = run({mesh, "--out-dir", "out", "--size", "40x30"});
            ASSERT_EQ(batch.status, 0) << batch.err;
            EXPECT_EQ(readpng(dir / "out" / picture).width, 40);
            EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()),
                      1);
            fs::remove_all(dir / "out");
            fs::remove(dir / mesh);
        }
    }
}

// --print-names names every file the run wrote, one a line, and each of them
// is there: numbered frames (with their format's extension when the name has
// none), one animation, depth pictures.
TEST_F(trelrender, PrintNamesListsWhatWasWritten) {
    struct namecase {
        std::vector<std::string> args;
        std::vector<std::string> written;
    };
    const namecase cases[] = {
        {{"-o", "out2.png", "--frames", "3"}, {"out2-000.png", "out2-001.png", "out2-002.png"}},
        {{"-o", "noext", "--frames", "2"}, {"noext-000.png", "noext-001.png"}},
        {{"-o", "spin.webp", "--frames", "3"}, {"spin.webp"}},
        {{"-o", "SPIN.WEBP", "--frames", "2", "--depth", "d"},
         {"SPIN.WEBP", "d-000.png", "d-001.png"}},
        {{"-o", "one.png", "--depth", "d.png"}, {"one.png", "d.png"}},
        {{"-o", "plain"}, {"plain"}},
    };
    for (const namecase &c : cases) {
        std::vector<std::string> args = {"--size", "40x30", "--print-names"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(c.args[1]);
        const result r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        std::string listed;
        for (const std::string &name : c.written) {
            listed += name + "\n";
        }
        EXPECT_EQ(r.out, listed);
        EXPECT_EQ(files(), std::set<std::string>(c.written.begin(), c.written.end()));
        for (const std::string &name : c.written) {
            fs::remove(dir / name);
        }
    }
}

} // namespace
