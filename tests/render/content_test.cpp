// What a mesh file holds beyond its triangles, as trel-render draws it: the
// file's own colours, faces seen from either side, and lines and points.
// Each test runs the program as a user does and reads the pictures back.
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runner.h"

namespace {

using namespace rendertest;

using rgb = std::array<int, 3>;

constexpr rgb defaultcolour{0xf2, 0xd0, 0xa6};
constexpr rgb red{255, 0, 0};
constexpr rgb green{0, 255, 0};
constexpr rgb blue{0, 0, 255};

// Where assimp's own sample models are installed (the assimp-testmodels package).
const std::filesystem::path samples = "/usr/share/assimp/models";

// How many pixels of each colour the picture holds, the background (the
// top-left pixel's colour) left out.
std::map<rgb, long> colours(const picture &p) {
    std::map<rgb, long> out;
    const rgb background = p.at(0, 0);
    for (int row = 0; row < p.height; ++row) {
        for (int column = 0; column < p.width; ++column) {
            if (p.at(column, row) != background) {
                ++out[p.at(column, row)];
            }
        }
    }
    return out;
}

// How many drawn pixels `test` holds for.
long count(const picture &p, const std::function<bool(const rgb &)> &test) {
    long n = 0;
    for (const auto &[c, k] : colours(p)) {
        n += test(c) ? k : 0;
    }
    return n;
}

bool reddish(const rgb &c) { return c[0] > 0 && c[1] == 0 && c[2] == 0; }
bool greenish(const rgb &c) { return c[1] > 0 && c[0] == 0 && c[2] == 0; }
bool blueish(const rgb &c) { return c[2] > 0 && c[0] == 0 && c[1] == 0; }

std::set<rgb> colourset(const picture &p) {
    std::set<rgb> out;
    for (const auto &[c, k] : colours(p)) {
        out.insert(c);
    }
    return out;
}

// The pixels in which two pictures of one size differ.
long differing(const picture &a, const picture &b) {
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
    long n = 0;
    for (int row = 0; row < std::min(a.height, b.height); ++row) {
        for (int column = 0; column < std::min(a.width, b.width); ++column) {
            n += a.at(column, row) != b.at(column, row) ? 1 : 0;
        }
    }
    return n;
}

// The test cube as OBJ lines, scaled by `size` and moved `dx` along X, its
// vertices numbered from `first`; wound the other way round when `reversed`.
// `materials` names the material of the first six and of the last six faces
// (none when empty).
std::string cubeobj(double dx, double size, bool reversed, int first,
                    const std::array<std::string, 2> &materials = {}) {
    std::ostringstream obj;
    for (const auto &v : cubevertices) {
        obj << "v " << v[0] * size + dx << " " << v[1] * size << " " << v[2] * size << "\n";
    }
    int n = 0;
    for (const auto &f : cubefaces) {
        if (n % 6 == 0 && !materials[n / 6].empty()) {
            obj << "usemtl " << materials[n / 6] << "\n";
        }
        ++n;
        const int b = reversed ? f[2] : f[1];
        const int c = reversed ? f[1] : f[2];
        obj << "f " << f[0] + first << " " << b + first << " " << c + first << "\n";
    }
    return obj.str();
}

// A glTF 2 scene of one primitive: the points `positions` (x, y, z each)
// drawn as `mode` (0 points, 1 lines, 4 triangles) through `indices`, with
// `material` as its one material (a JSON object; empty: the primitive has none).
std::string gltf(const std::vector<float> &positions, const std::vector<std::uint16_t> &indices,
                 int mode, const std::string &material = "") {
    std::string buffer(reinterpret_cast<const char *>(positions.data()),
                       positions.size() * sizeof(float));
    buffer.append(reinterpret_cast<const char *>(indices.data()),
                  indices.size() * sizeof(std::uint16_t));
    std::array<float, 3> low{1e30F, 1e30F, 1e30F};
    std::array<float, 3> high{-1e30F, -1e30F, -1e30F};
    for (std::size_t i = 0; i < positions.size(); ++i) {
        low[i % 3] = std::min(low[i % 3], positions[i]);
        high[i % 3] = std::max(high[i % 3], positions[i]);
    }
    const std::size_t vertexbytes = positions.size() * sizeof(float);
    std::ostringstream g;
    g << R"({"asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}],
        "nodes": [{"mesh": 0}],
        "meshes": [{"primitives": [{"attributes": {"POSITION": 0}, "indices": 1, "mode": )"
      << mode << (material.empty() ? "" : R"(, "material": 0)") << "}]}],\n";
    if (!material.empty()) {
        g << R"("materials": [)" << material << "],\n";
    }
    g << R"("buffers": [{"byteLength": )" << buffer.size()
      << R"(, "uri": "data:application/octet-stream;base64,)" << base64(buffer) << R"("}],
        "bufferViews": [{"buffer": 0, "byteOffset": 0, "byteLength": )"
      << vertexbytes << R"(},
                        {"buffer": 0, "byteOffset": )"
      << vertexbytes << R"(, "byteLength": )" << indices.size() * sizeof(std::uint16_t) << R"(}],
        "accessors": [{"bufferView": 0, "componentType": 5126, "count": )"
      << positions.size() / 3 << R"(, "type": "VEC3", "min": [)" << low[0] << ", " << low[1] << ", "
      << low[2] << "], \"max\": [" << high[0] << ", " << high[1] << ", " << high[2] << R"(]},
                      {"bufferView": 1, "componentType": 5123, "count": )"
      << indices.size() << R"(, "type": "SCALAR"}]})";
    return g.str();
}

// The test cube's corners and faces as glTF positions and indices.
std::vector<float> cubepositions() {
    std::vector<float> out;
    for (const auto &v : cubevertices) {
        for (const double c : v) {
            out.push_back(static_cast<float>(c));
        }
    }
    return out;
}

std::vector<std::uint16_t> cubeindices() {
    std::vector<std::uint16_t> out;
    for (const auto &f : cubefaces) {
        for (const int i : f) {
            out.push_back(static_cast<std::uint16_t>(i));
        }
    }
    return out;
}

const std::vector<std::string> engines = {"3d", "2d", "2dxy"};

// Materials give faces their colours, per face, shaded as the default colour
// is; --colour overrides them; and meshes whose files give no colour (assimp
// makes up a material for them) keep the default colour.
TEST_F(trelrender, MaterialColoursAreDrawnUnlessColourIsGiven) {
    write("two.mtl", "newmtl warm\nKd 1 0 0\nnewmtl cold\nKd 0 0 1\n");
    write("two.obj", "mtllib two.mtl\n" + cubeobj(0, 1, false, 1, {"warm", "cold"}));
    for (const std::string &engine : engines) {
        SCOPED_TRACE(engine);
        const picture p = render({"two.obj", "--size", "200x200", "--engine", engine});
        const long drawn = covered(p).covered;
        EXPECT_GT(drawn, 10000);
        // Every pixel drawn is a shade of one of the two materials.
        EXPECT_GT(count(p, reddish), 1000);
        EXPECT_GT(count(p, blueish), 1000);
        EXPECT_EQ(count(p, reddish) + count(p, blueish), drawn);
        if (engine == "2dxy") {
            EXPECT_EQ(colourset(p), (std::set<rgb>{red, blue}));
        }
        const picture given =
            render({"two.obj", "--size", "200x200", "--engine", engine, "--colour", "lime"});
        EXPECT_EQ(count(given, greenish), covered(given).covered);
        EXPECT_GT(covered(given).covered, 10000);
    }

    // A glTF material's base colour factor, to the nearest byte.
    write("coloured.gltf",
          gltf(cubepositions(), cubeindices(), 4,
               R"({"pbrMetallicRoughness": {"baseColorFactor": [0.2, 0.4, 0.6, 1]}})"));
    EXPECT_EQ(colourset(render({"coloured.gltf", "--size", "100x100", "--engine", "2dxy"})),
              (std::set<rgb>{{51, 102, 153}}));
    const picture shaded = render({"coloured.gltf", "--size", "100x100"});
    EXPECT_GT(covered(shaded).covered, 2000);
    for (const auto &[c, k] : colours(shaded)) {
        // Shading scales the three channels alike: 1 : 2 : 3, within rounding.
        EXPECT_NEAR(c[1], 2 * c[0], 2) << c[0] << " " << c[1] << " " << c[2];
        EXPECT_NEAR(c[2], 3 * c[0], 3) << c[0] << " " << c[1] << " " << c[2];
    }

    // Files without colours of their own: OBJ without a material library,
    // STL, OFF and PLY, glTF without a material.
    for (const auto &[format, text] : cubemeshes()) {
        SCOPED_TRACE(format);
        write("cube." + format, text);
        EXPECT_EQ(colourset(render({"cube." + format, "--size", "100x100", "--engine", "2dxy"})),
                  (std::set<rgb>{defaultcolour}));
    }
}

// Vertex colours: each face takes the mean of its corners' colours, taken
// before corners at one position are joined, so that faces meeting there
// keep their own.
TEST_F(trelrender, VertexColoursAreAveragedPerFace) {
    // Two triangles sharing an edge by position only: the first red, red and
    // blue at its corners, the second green all round.
    write("coloured.ply", "ply\nformat ascii 1.0\nelement vertex 6\n"
                          "property float x\nproperty float y\nproperty float z\n"
                          "property uchar red\nproperty uchar green\nproperty uchar blue\n"
                          "element face 2\nproperty list uchar int vertex_indices\nend_header\n"
                          "0 0 0 255 0 0\n1 0 0 255 0 0\n0 1 0 0 0 255\n"
                          "1 0 0 0 255 0\n1 1 0 0 255 0\n0 1 0 0 255 0\n"
                          "3 0 1 2\n3 3 4 5\n");
    for (const std::string &engine : engines) {
        SCOPED_TRACE(engine);
        const picture p =
            render({"coloured.ply", "--size", "100x100", "--engine", engine, "--view", "front"});
        if (engine == "2dxy") {
            EXPECT_EQ(colourset(p), (std::set<rgb>{{170, 0, 85}, green}));
        }
        EXPECT_GT(count(p, greenish), 1000);
        // The mean of red, red and blue, shaded: twice as much red as blue.
        const long mixed = count(p, [](const rgb &c) {
            return c[1] == 0 && c[2] > 0 && c[0] >= 2 * c[2] - 2 && c[0] <= 2 * c[2] + 2;
        });
        EXPECT_GT(mixed, 1000);
        EXPECT_EQ(mixed + count(p, greenish), covered(p).covered);
    }
    const picture given = render({"coloured.ply", "--size", "100x100", "--engine", "2dxy", "--view",
                                  "front", "--colour", "#123"});
    EXPECT_EQ(colourset(given), (std::set<rgb>{{0x11, 0x22, 0x33}}));
}

// assimp's own sample of vertex colours, where it is installed.
TEST_F(trelrender, SampleVertexColoursShowSeveralHues) {
    const auto cube = samples / "OBJ" / "cube_with_vertexcolors.obj";
    if (!std::filesystem::exists(cube)) {
        GTEST_SKIP() << cube << " is missing (the assimp-testmodels package)";
    }
    const picture flat = render({cube.string(), "--size", "200x200", "--engine", "2dxy"});
    EXPECT_GE(colourset(flat).size(), 4U);
    EXPECT_EQ(count(flat, [](const rgb &c) { return c == defaultcolour; }), 0);
    const picture shaded = render({cube.string(), "--size", "200x200"});
    EXPECT_GE(colourset(shaded).size(), 4U);
    const picture given =
        render({cube.string(), "--size", "200x200", "--engine", "2dxy", "--colour", "white"});
    EXPECT_EQ(colourset(given), (std::set<rgb>{{255, 255, 255}}));
}

// Closed parts are each wound outward, whatever the others do: two cubes,
// each wound either way, draw one picture, and it holds only the shades of
// a cube's outside.
TEST_F(trelrender, EachClosedPartShowsItsOutside) {
    write("alone.obj", cubeobj(0, 1, false, 1));
    for (const std::string engine : {"3d", "2d"}) {
        SCOPED_TRACE(engine);
        const std::vector<std::string> args = {"--size", "300x200", "--engine", engine};
        std::vector<std::string> alone = {"alone.obj"};
        alone.insert(alone.end(), args.begin(), args.end());
        const picture single = render(alone);
        const std::set<rgb> outside = colourset(single);
        EXPECT_EQ(outside.size(), 3U); // the three faces in view
        // A closed cube with two of its faces wound the wrong way in the
        // file is wound outward all round.
        std::string mixed = cubeobj(0, 1, false, 1);
        mixed = replaced(mixed, "f 5 6 7\n", "f 5 7 6\n");
        mixed = replaced(mixed, "f 4 8 7\n", "f 4 7 8\n");
        write("mixed.obj", mixed);
        std::vector<std::string> wrong = {"mixed.obj"};
        wrong.insert(wrong.end(), args.begin(), args.end());
        EXPECT_TRUE(render(wrong).bytes == single.bytes);
        picture reference;
        for (const int turned : {0, 1, 2, 3}) {
            SCOPED_TRACE(turned);
            // A big cube and a small one, apart; `turned` says which are
            // wound the other way (1: the small one, 2: the big one).
            const std::string name = "pair" + std::to_string(turned) + ".obj";
            write(name, cubeobj(-1.5, 1.0, (turned & 2) != 0, 1) +
                            cubeobj(1.5, 0.5, (turned & 1) != 0, 9));
            std::vector<std::string> all = {name};
            all.insert(all.end(), args.begin(), args.end());
            const picture p = render(all);
            EXPECT_EQ(colourset(p), outside);
            if (turned == 0) {
                reference = p;
                EXPECT_GT(covered(p).covered, 10000);
            } else {
                EXPECT_TRUE(p.bytes == reference.bytes);
            }
        }
    }
}

// A face of an open part turned away from the viewer is shaded as the side
// the viewer sees: a square seen face-on from in front and from behind, wound
// either way, is drawn in one shade.
TEST_F(trelrender, OpenFacesAreLitFromTheSideSeen) {
    const std::string square = "v -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\n";
    write("square.obj", square + "f 1 2 3\nf 1 3 4\n");
    write("turned.obj", square + "f 1 3 2\nf 1 4 3\n");
    for (const std::string engine : {"3d", "2d"}) {
        SCOPED_TRACE(engine);
        std::set<rgb> shades;
        for (const std::string name : {"square.obj", "turned.obj"}) {
            for (const std::string view : {"front", "back"}) {
                const picture p =
                    render({name, "--size", "100x100", "--engine", engine, "--view", view});
                EXPECT_GT(covered(p).covered, 5000) << name << " " << view;
                const std::set<rgb> seen = colourset(p);
                shades.insert(seen.begin(), seen.end());
            }
        }
        EXPECT_EQ(shades.size(), 1U);
    }

    // An open box seen from above, into it: its inside is drawn as lit as
    // its outside would be, whichever way the file winds it.
    std::ostringstream box, turned;
    for (const auto &v : cubevertices) {
        box << "v " << v[0] << " " << v[1] << " " << v[2] << "\n";
    }
    turned << box.str();
    for (std::size_t i = 0; i < 12; ++i) {
        const auto &f = cubefaces[i];
        if (i == 6 || i == 7) {
            continue; // the top (+Y) is left open
        }
        box << "f " << f[0] + 1 << " " << f[1] + 1 << " " << f[2] + 1 << "\n";
        turned << "f " << f[0] + 1 << " " << f[2] + 1 << " " << f[1] + 1 << "\n";
    }
    write("box.obj", box.str());
    write("turnedbox.obj", turned.str());
    write("cube.obj", cubeobj(0, 1, false, 1));
    for (const std::string engine : {"3d", "2d"}) {
        SCOPED_TRACE(engine);
        const std::vector<std::string> args = {"--size", "200x200", "--engine",
                                               engine,   "--view",  "-30,50"};
        std::vector<std::string> a = {"box.obj"};
        std::vector<std::string> b = {"turnedbox.obj"};
        a.insert(a.end(), args.begin(), args.end());
        b.insert(b.end(), args.begin(), args.end());
        const picture p = render(a);
        EXPECT_TRUE(p.bytes == render(b).bytes);
        // The floor inside faces up, as the closed cube's top does: the box
        // shows that shade over much of it.
        std::vector<std::string> c = {"cube.obj"};
        c.insert(c.end(), args.begin(), args.end());
        const picture closed = render(c);
        const rgb top = closed.at(100, 60); // high on the cube: its top face
        EXPECT_GT(count(p, [&top](const rgb &x) { return x == top; }), 1000);
        // Every shade inside the box is one the closed cube's faces show from
        // outside in some view: none is the dark of a face lit from behind.
        const std::set<rgb> outside = colourset(closed);
        const rgb darkest =
            *std::min_element(outside.begin(), outside.end(), [](const rgb &x, const rgb &y) {
                return x[0] + x[1] + x[2] < y[0] + y[1] + y[2];
            });
        for (const rgb &x : colourset(p)) {
            EXPECT_GE(x[0] + x[1] + x[2], (darkest[0] + darkest[1] + darkest[2]) / 2)
                << x[0] << " " << x[1] << " " << x[2];
        }
    }
}

// assimp's OFF and PLY samples of one model, wound differently, draw alike.
TEST_F(trelrender, WusonOffDrawsLikeWusonPly) {
    const auto off = samples / "OFF" / "Wuson.off";
    const auto ply = samples / "PLY" / "Wuson.ply";
    if (!std::filesystem::exists(off) || !std::filesystem::exists(ply)) {
        GTEST_SKIP() << "the Wuson samples of the assimp-testmodels package are missing";
    }
    for (const std::string engine : {"3d", "2d"}) {
        SCOPED_TRACE(engine);
        const picture a = render({off.string(), "--size", "300x300", "--engine", engine});
        const picture b = render({ply.string(), "--size", "300x300", "--engine", engine});
        const long drawn = covered(b).covered;
        EXPECT_GT(drawn, 20000);
        // The files start their triangles at different corners, which moves
        // a pixel here and there on the outline.
        EXPECT_LE(differing(a, b), drawn / 1000);
    }
}

// Lines and points are drawn with the engines' own lines and dots, in the
// run's colour (lines and dots are not shaded), and count in the fit.
TEST_F(trelrender, LinesAndPointsAreDrawn) {
    const std::string square = "v -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\nv 0 0 0\n";
    write("lines.obj", square + "l 1 2 3 4 1\n");
    write("points.obj", square + "p 1 2 3 4 5\n");
    const std::vector<float> corners = {-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0, 0, 0, 0};
    write("lines.gltf", gltf(corners, {0, 1, 1, 2, 2, 3, 3, 0}, 1));
    write("points.gltf", gltf(corners, {0, 1, 2, 3, 4}, 0));
    for (const std::string &engine : engines) {
        for (const std::string name : {"lines.obj", "lines.gltf"}) {
            SCOPED_TRACE(engine + " " + name);
            const picture p =
                render({name, "--size", "200x200", "--engine", engine, "--view", "front"});
            EXPECT_EQ(colourset(p), (std::set<rgb>{defaultcolour}));
            // The square's outline, fitted to 90% of the picture.
            const extent e = covered(p);
            EXPECT_GT(e.covered, 600);
            EXPECT_LT(e.covered, 800);
            EXPECT_NEAR(e.right - e.left, 180, 2);
            EXPECT_NEAR(e.bottom - e.top, 180, 2);
        }
        for (const std::string name : {"points.obj", "points.gltf"}) {
            SCOPED_TRACE(engine + " " + name);
            const picture p =
                render({name, "--size", "200x200", "--engine", engine, "--view", "front"});
            EXPECT_EQ(colourset(p), (std::set<rgb>{defaultcolour}));
            const extent e = covered(p);
            EXPECT_EQ(e.covered, 5);
            EXPECT_NEAR(e.right - e.left, 180, 2);
        }
        SCOPED_TRACE(engine);
        const picture given =
            render({"lines.obj", "--size", "200x200", "--engine", engine, "--colour", "#0000ff"});
        EXPECT_EQ(colourset(given), (std::set<rgb>{blue}));
    }
}

// A mesh of faces, lines and points draws all three, each in its material's
// colour, nearer ones over farther ones.
TEST_F(trelrender, FacesLinesAndPointsTogether) {
    write("mixed.mtl", "newmtl face\nKd 1 0 0\nnewmtl line\nKd 0 0 1\nnewmtl point\nKd 0 1 0\n");
    // A small triangle, a line reaching far to its right and a point to its
    // left: the fit takes in the line and the point.
    write("mixed.obj", "mtllib mixed.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nv 10 0.5 0\nv -2 0.5 0\n"
                       "usemtl face\nf 1 2 3\nusemtl line\nl 2 4\nusemtl point\np 5\n");
    // A square with a point behind its middle and one in front of it.
    write("depth.mtl", "newmtl face\nKd 1 0 0\nnewmtl behind\nKd 0 0 1\nnewmtl ahead\nKd 0 1 0\n");
    write("depth.obj", "mtllib depth.mtl\nv -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\n"
                       "v 0 0 -1\nv 0.5 0.5 1\nusemtl face\nf 1 2 3\nf 1 3 4\n"
                       "usemtl behind\np 5\nusemtl ahead\np 6\n");
    for (const std::string &engine : engines) {
        SCOPED_TRACE(engine);
        const picture p =
            render({"mixed.obj", "--size", "240x120", "--engine", engine, "--view", "front"});
        EXPECT_GT(count(p, reddish), 20);
        EXPECT_GT(count(p, [](const rgb &c) { return c == blue; }), 100);
        EXPECT_EQ(count(p, [](const rgb &c) { return c == green; }), 1);
        EXPECT_EQ(count(p, reddish) + count(p, [](const rgb &c) { return c == blue; }) + 1,
                  covered(p).covered);
        const extent e = covered(p);
        EXPECT_GT(e.right - e.left, 200);

        const picture given = render({"mixed.obj", "--size", "240x120", "--engine", engine,
                                      "--view", "front", "--colour", "white"});
        EXPECT_EQ(count(given, reddish) + count(given, blueish) + count(given, greenish), 0);
        // Faces shaded grey, lines and points white.
        EXPECT_EQ(count(given, [](const rgb &c) { return c[0] == c[1] && c[1] == c[2]; }),
                  covered(given).covered);
        EXPECT_GT(count(given, [](const rgb &c) { return c == rgb{255, 255, 255}; }), 100);

        const picture depth =
            render({"depth.obj", "--size", "100x100", "--engine", engine, "--view", "front"});
        EXPECT_EQ(count(depth, [](const rgb &c) { return c == green; }), 1);
        EXPECT_EQ(count(depth, [](const rgb &c) { return c == blue; }), 0);
        EXPECT_GT(count(depth, reddish), 5000);
    }
}

// assimp's samples of lines and points, where they are installed: an OBJ of
// lines, one of points, and glTF primitives drawn as points and as lines.
TEST_F(trelrender, SampleLinesAndPointsAreDrawn) {
    const std::vector<std::filesystem::path> files = {
        samples / "OBJ" / "testline.obj", samples / "OBJ" / "testpoints.obj",
        samples / "glTF2" / "glTF-Asset-Generator" / "Mesh_PrimitiveMode" /
            "Mesh_PrimitiveMode_00.gltf",
        samples / "glTF2" / "glTF-Asset-Generator" / "Mesh_PrimitiveMode" /
            "Mesh_PrimitiveMode_01.gltf"};
    for (const auto &file : files) {
        if (!std::filesystem::exists(file)) {
            GTEST_SKIP() << file << " is missing (the assimp-testmodels package)";
        }
    }
    for (const auto &file : files) {
        for (const std::string &engine : engines) {
            SCOPED_TRACE(file.string() + " " + engine);
            const picture p = render({file.string(), "--size", "200x200", "--engine", engine});
            EXPECT_GE(covered(p).covered, 8);
        }
    }
}

} // namespace
