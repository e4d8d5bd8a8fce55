// The command line's small print: named views, the up axis chosen from the
// file's kind, margins, colour spellings, and the mistakes users make.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runner.h"

namespace {

using namespace rendertest;

// A right triangle twice as tall as wide, Y up, and the same one Z up.
const std::string corner = "v 0 0 0\nv 1 0 0\nv 0 2 0\nf 1 2 3\n";
const std::string cornerzup = "solid c\nfacet normal 0 0 0\nouter loop\nvertex 0 0 0\n"
                              "vertex 1 0 0\nvertex 0 0 2\nendloop\nendfacet\nendsolid c\n";

TEST_F(trelrender, NamedViewsAreTheirAngles) {
    write("cube.obj", cubemeshes()[0].second);
    const std::vector<std::pair<std::string, std::string>> views = {
        {"front", "0,0"},
        {"back", "180,0"},
        {"left", "-90,0"},
        {"right", "90,0"},
        {"top", "0,90"},
        {"bottom", "0,-90"},
        {"ISO", "45,35.264389682754654"}};
    for (const auto &[name, angles] : views) {
        SCOPED_TRACE(name);
        const picture named = render({"cube.obj", "--view", name, "--size", "120x90"});
        const picture numbered = render({"cube.obj", "--view", angles, "--size", "120x90"});
        ASSERT_EQ(named.width, 120);
        EXPECT_TRUE(named.bytes == numbered.bytes);
    }
    // The views differ: from the front one face shows, from iso three shades.
    const picture front = render({"cube.obj", "--view", "front", "--size", "120x90"});
    const picture iso = render({"cube.obj", "--view", "iso", "--size", "120x90"});
    EXPECT_FALSE(front.bytes == iso.bytes);
    refused({"--view", "sideways"}, "sideways");
}

TEST_F(trelrender, UpAxisFollowsTheFileUnlessGiven) {
    write("corner.obj", corner);
    write("corner.stl", cornerzup);
    const picture upright = render({"corner.obj", "--view", "front"});
    // An STL is Z-up unless told otherwise; the same shape stands the same way.
    EXPECT_TRUE(render({"corner.stl", "--view", "front"}).bytes == upright.bytes);
    EXPECT_TRUE(render({"corner.stl", "--view", "front", "--up", "z"}).bytes == upright.bytes);
    // The wrong axis lays the triangle flat, seen edge-on: a note says so.
    for (const std::string mesh : {"corner.stl", "corner.obj"}) {
        const result flat = run(
            {mesh, "--view", "front", "--up", mesh == "corner.stl" ? "y" : "z", "-o", "flat.png"});
        EXPECT_EQ(flat.status, 0) << flat.err;
        EXPECT_EQ(flat.err, "trel-render: note: nothing of " + mesh + " faces the view\n");
        EXPECT_FALSE(readpng(dir / "flat.png").bytes == upright.bytes);
    }
    // --stats says which axis was taken and why.
    result r = run({"corner.stl", "--stats", "-o", "s.png"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("up: z (auto)"), std::string::npos) << r.out;
    r = run({"corner.obj", "--stats", "--up", "y", "-o", "s.png"});
    EXPECT_NE(r.out.find("up: y\n"), std::string::npos) << r.out;
}

TEST_F(trelrender, MarginLeavesItsShareFree) {
    write("corner.obj", corner);
    for (const auto &[margin, height] :
         std::vector<std::pair<std::string, int>>{{"0", 600}, {"5", 540}, {"25", 300}}) {
        SCOPED_TRACE(margin);
        const picture p = render({"corner.obj", "--view", "front", "--margin", margin});
        const extent e = covered(p);
        EXPECT_NEAR(e.bottom - e.top + 1, height, 3);
        EXPECT_NEAR((e.top + e.bottom) / 2.0, 300, 2);
    }
    // The default is 5%.
    EXPECT_TRUE(render({"corner.obj", "--margin", "5"}).bytes == render({"corner.obj"}).bytes);
    refused({"--margin", "50"}, "--margin");
    refused({"--margin", "-1"}, "--margin");
    refused({"--margin", "wide"}, "not a number");
}

// With no margin a square seen face-on reaches the first and the last row (or
// column) of the picture and lies in its middle: as many free columns (rows)
// on each side, one more on one side only when the difference is odd.
TEST_F(trelrender, NoMarginFillsThePictureCentred) {
    write("square.obj", "v -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\nf 1 2 3\nf 1 3 4\n");
    const std::array<int, 3> magenta = {255, 0, 255};
    for (const auto &[width, height] :
         std::vector<std::pair<int, int>>{{100, 100}, {160, 100}, {101, 99}, {64, 257}}) {
        for (const std::string engine : {"3d", "2d", "2dxy"}) {
            for (const std::string style : {"solid", "wire"}) {
                SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + " " + engine +
                             " " + style);
                const picture p =
                    render({"square.obj", "--view", "front", "--margin", "0", "--size",
                            std::to_string(width) + "x" + std::to_string(height), "--engine",
                            engine, "--style", style, "--background", "#ff00ff"});
                extent e;
                for (int row = 0; row < p.height; ++row) {
                    for (int column = 0; column < p.width; ++column) {
                        if (p.at(column, row) != magenta) {
                            e = {std::min(e.left, column), std::min(e.top, row),
                                 std::max(e.right, column), std::max(e.bottom, row)};
                        }
                    }
                }
                const int side = std::min(width, height);
                EXPECT_EQ(e.right - e.left + 1, side);
                EXPECT_EQ(e.bottom - e.top + 1, side);
                EXPECT_LE(std::abs(e.left - (width - 1 - e.right)), (width - side) % 2);
                EXPECT_LE(std::abs(e.top - (height - 1 - e.bottom)), (height - side) % 2);
            }
        }
    }
}

TEST_F(trelrender, ColoursTakeEverySpelling) {
    write("cube.obj", cubemeshes()[0].second);
    const auto drawn = [this](const std::string &colour, const std::string &background) {
        return render({"cube.obj", "--size", "80x60", "--colour", colour, "--background",
                       background, "--engine", "2dxy"});
    };
    const picture reference = drawn("#ff0000", "#000080");
    EXPECT_EQ(reference.at(0, 0), (std::array<int, 3>{0, 0, 128}));
    EXPECT_EQ(reference.at(40, 30), (std::array<int, 3>{255, 0, 0}));
    for (const auto &[colour, background] : std::vector<std::pair<std::string, std::string>>{
             {"#f00", "navy"}, {"RED", "Navy"}, {"f00", "#000080"}, {"#FF0000", "NAVY"}}) {
        SCOPED_TRACE(colour + " on " + background);
        EXPECT_TRUE(drawn(colour, background).bytes == reference.bytes);
    }
    refused({"--colour", "#ff00"}, "colour");
    refused({"--colour", "#ggg"}, "colour");
    refused({"--background", "nothing"}, "colour");
}

TEST_F(trelrender, SmallMistakesAreCaughtOrMeantWell) {
    refused({"--frames", "abc"}, "not a number");
    refused({"--frames", "12x"}, "not a number");
    refused({"--frames", "0"}, "--frames");
    refused({"-o", "x.jpg"}, "x.jpg");
    refused({"-o", "x.png.gif"}, ".png and .webp");
    refused({"--depth", "d.webp"}, "d.webp");
    // An upper-case extension, or none (as thumbnailers name their files), is a PNG.
    EXPECT_EQ(render({"--size", "40x30"}, "upper.PNG").width, 40);
    EXPECT_EQ(render({"--size", "40x30"}, "plain").width, 40);

    // --edge-colour alone asks for outlines over the faces.
    write("cube.obj", cubemeshes()[0].second);
    const auto greens = [](const picture &p) {
        long n = 0;
        for (int row = 0; row < p.height; ++row) {
            for (int column = 0; column < p.width; ++column) {
                n += p.at(column, row) == std::array<int, 3>{0, 255, 0} ? 1 : 0;
            }
        }
        return n;
    };
    const std::vector<std::string> base = {"cube.obj", "--size",        "160x120", "--colour",
                                           "red",      "--edge-colour", "#0f0"};
    const picture implied = render(base);
    std::vector<std::string> both = base;
    both.insert(both.end(), {"--style", "both"});
    EXPECT_GT(greens(implied), 100);
    EXPECT_TRUE(implied.bytes == render(both).bytes);
    // A style given on purpose stays: solid leaves outlines out, a wireframe is
    // in --colour, and a note says the edge colour had no effect.
    for (const std::string style : {"solid", "wire"}) {
        std::vector<std::string> given = base;
        given.insert(given.end(), {"--style", style, "-o", "out.png"});
        const result r = run(given);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("note: --edge-colour has no effect with --style " + style),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(greens(readpng(dir / "out.png")), 0) << style;
    }
}

// Every mistake on the command line is told in trel-render's own words, in
// one line, with status 2 and nothing written: values out of range, options
// given twice or without their value, unknown options, empty values.
TEST_F(trelrender, OptionMistakesAreToldInItsOwnWords) {
    struct mistake {
        std::vector<std::string> args;
        std::string said;
    };
    const mistake cases[] = {
        {{"--load-timeout", "abc"}, "bad --load-timeout 'abc'"},
        {{"--load-timeout", "0"}, "0.001 to 86400 seconds"},
        {{"--max-memory", "20"}, "bad --max-memory '20': loading a mesh needs at least 64 MiB"},
        {{"--max-memory", "lots"}, "bad --max-memory 'lots': not a number"},
        {{"-o", "a.png", "-o", "b.png"}, "--output was given 2 times"},
        {{"--size", "10x10", "--size", "20x20"}, "--size was given 2 times"},
        {{"--size"}, "--size needs a value"},
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
        {{"--colour", ""}, "--colour was given an empty value"},
        {{"--background", ""}, "--background was given an empty value"},
        {{"--edge-colour", ""}, "--edge-colour was given an empty value"},
        {{"--view", ""}, "--view was given an empty value"},
        {{"-o", ""}, "--output was given an empty value"},
    };
    for (const mistake &c : cases) {
        SCOPED_TRACE(c.args.front());
        const result r = run(c.args);
        refused(c.args, c.said);
        for (const std::string leak : {"required", "not in range", "Value ", "At Most"}) {
            EXPECT_EQ(r.err.find(leak), std::string::npos) << r.err;
        }
    }
}

// The names an option takes (engines, styles, up axes, views, colours,
// "none") are read in any case, one rule for all of them.
TEST_F(trelrender, NamedValuesAreReadInAnyCase) {
    write("cube.stl", cubemeshes()[4].second);
    const std::pair<std::string, std::string> cases[][2] = {
        {{"--up", "z"}, {"--up", "Z"}},
        {{"--up", "auto"}, {"--up", "AUTO"}},
        {{"--engine", "3d"}, {"--engine", "3D"}},
        {{"--engine", "2dxy"}, {"--engine", "2DXY"}},
        {{"--style", "wire"}, {"--style", "Wire"}},
        {{"--view", "iso"}, {"--view", "ISO"}},
        {{"--colour", "red"}, {"--colour", "RED"}},
        {{"--background", "none"}, {"--background", "None"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c[1].first + " " + c[1].second);
        const picture lower = render({"cube.stl", "--size", "64x48", c[0].first, c[0].second});
        const picture upper = render({"cube.stl", "--size", "64x48", c[1].first, c[1].second});
        ASSERT_EQ(upper.width, 64);
        EXPECT_EQ(pixelhash(lower), pixelhash(upper));
    }
}

// The help fits in 80 columns and names what a user looks for in it.
TEST_F(trelrender, HelpFitsEightyColumns) {
    const result help = run({"--help"});
    ASSERT_EQ(help.status, 0);
    std::istringstream lines(help.out);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        EXPECT_LE(line.size(), 80U) << line;
    }
    EXPECT_GT(count, 20);
    for (const std::string named :
         {"-o,--output", "standard output", "--force", "--print-names", "--engine", "--out-dir"}) {
        EXPECT_NE(help.out.find(named), std::string::npos) << named;
    }
}

// A run that drew nothing of the mesh, or an option that changed nothing,
// still succeeds, with a note on stderr saying so; a run that drew the mesh
// as asked says nothing.
TEST_F(trelrender, NotesSayWhatHadNoEffect) {
    // A flat square in the model's ground plane.
    write("flat.obj", "v -1 0 -1\nv 1 0 -1\nv 1 0 1\nv -1 0 1\nf 1 2 3\nf 1 3 4\n");
    write("cube.obj", cubemeshes()[0].second);
    struct notecase {
        std::vector<std::string> args;
        std::string note; // empty: none
    };
    const notecase cases[] = {
        {{"flat.obj", "--view", "0,0"}, "note: nothing of flat.obj faces the view"},
        {{"flat.obj", "--view", "0,0", "--background", "none"},
         "note: nothing of flat.obj faces the view"},
        {{"flat.obj", "--view", "0,30"}, ""},
        {{"cube.obj", "--edge-colour", "red", "--style", "solid"},
         "note: --edge-colour has no effect with --style solid"},
        {{"cube.obj", "--edge-colour", "red", "--style", "BOTH"}, ""},
        {{"cube.obj", "--edge-colour", "red"}, ""},
    };
    for (const notecase &c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--size", "64x48", "-o", "out.png"});
        SCOPED_TRACE(args[1] + " " + args[2]);
        const result r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, c.note.empty()
                             ? ""
                             : "trel-render: " + c.note +
                                   (c.note.find("edge") != std::string::npos
                                        ? ": only --style both draws outlines over the faces\n"
                                        : "\n"));
        EXPECT_EQ(readpng(dir / "out.png").width, 64);
    }
}

} // namespace
