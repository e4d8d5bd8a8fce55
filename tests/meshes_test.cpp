// The scene layer's own rules: the weld, what a mesh is refused for, closed
// parts wound outward, the fit and the views, and the settings as pixels.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <trel/scene.h>

namespace {

namespace scene = trel::scene;

// A closed tetrahedron as a soup, wound outward; `origin` stands for the
// corner at 0, 0, 0 in the three faces that meet there.
std::vector<float> tetrahedron(const float origin[3]) {
    const float o[3] = {origin[0], origin[1], origin[2]};
    return {o[0], o[1], o[2], 0, 1, 0, 1, 0, 0, // z = 0 face, seen from -z
            o[0], o[1], o[2], 1, 0, 0, 0, 0, 1, // y = 0 face
            o[0], o[1], o[2], 0, 0, 1, 0, 1, 0, // x = 0 face
            1,    0,    0,    0, 1, 0, 0, 0, 1};
}

scene::mesh welded(const std::vector<float> &soup) {
    return scene::fromsoup(soup.data(), soup.size() / 9);
}

TEST(Weld, PositionsAreComparedAsValues) {
    const float zero[3] = {0.0F, 0.0F, 0.0F};
    const float negative[3] = {-0.0F, 0.0F, -0.0F};
    for (const float *origin : {zero, negative}) {
        std::vector<float> soup = tetrahedron(zero);
        // The second and third faces name the corner with the other zeros.
        std::copy(origin, origin + 3, soup.begin() + 9);
        std::copy(origin, origin + 3, soup.begin() + 18);
        scene::mesh m = welded(soup);
        EXPECT_EQ(m.vertices.size(), 4U);
        // Numbered in the order the corners first appear.
        EXPECT_EQ(m.triangles[0], (scene::triangle{0, 1, 2}));
        EXPECT_EQ(m.triangles[3], (scene::triangle{2, 1, 3}));
        scene::finish(m, "tetrahedron");
        EXPECT_TRUE(m.closed) << "a corner at -0 left the mesh open";
        EXPECT_FALSE(std::signbit(m.vertices[0].x));
    }
    // Positions a rounding apart stay apart.
    const float near[3] = {std::nextafter(0.0F, 1.0F), 0.0F, 0.0F};
    std::vector<float> soup = tetrahedron(zero);
    std::copy(near, near + 3, soup.begin() + 9);
    EXPECT_EQ(welded(soup).vertices.size(), 5U);
}

TEST(Check, RefusesWhatCannotBePlaced) {
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    constexpr float inf = std::numeric_limits<float>::infinity();
    struct refusal {
        std::vector<float> soup;
        scene::meshproblem problem;
        std::string said;
    };
    const std::vector<refusal> table = {
        {{},
         scene::meshproblem::nothingtodraw,
         "mesh 'm' has nothing to draw: no faces, lines or points"},
        {{0, 0, 0, 1, 0, 0, nan, 0, 0},
         scene::meshproblem::notanumber,
         "mesh 'm' has a coordinate that is not a number"},
        {{0, 0, 0, 1, 0, 0, 0, inf, 0},
         scene::meshproblem::toolarge,
         "mesh 'm' has a coordinate beyond +-1e15"},
        {{0, 0, 0, 2e15F, 0, 0, 0, 1, 0},
         scene::meshproblem::toolarge,
         "mesh 'm' has a coordinate beyond +-1e15"},
        {{1, 2, 3, 1, 2, 3, 1, 2, 3},
         scene::meshproblem::noextent,
         "mesh 'm' has no extent: all its vertices are one point"},
        {{0, 0, 0, 1, 0, 0, 0, 1e15F / 2, 0}, scene::meshproblem::none, ""},
    };
    for (const refusal &r : table) {
        scene::mesh m = welded(r.soup);
        EXPECT_EQ(scene::check(m), r.problem) << r.said;
        scene::mesh again = welded(r.soup);
        if (r.problem == scene::meshproblem::none) {
            EXPECT_NO_THROW(scene::finish(again, "m"));
            continue;
        }
        try {
            scene::finish(again, "m");
            ADD_FAILURE() << "not refused: " << r.said;
        } catch (const scene::failure &e) {
            EXPECT_EQ(std::string(e.what()), r.said);
        }
    }
    // A vertex nothing uses is dropped before the checks: it neither widens
    // the fit nor gets the mesh refused.
    scene::mesh m = welded({0, 0, 0, 1, 0, 0, 0, 1, 0});
    m.vertices.push_back({std::nan(""), 0, 0});
    EXPECT_EQ(scene::check(m), scene::meshproblem::none);
    EXPECT_EQ(m.vertices.size(), 3U);
    // A caller's index past the vertices is refused, not followed.
    m.triangles.push_back({0, 1, 7});
    EXPECT_THROW(scene::check(m), scene::failure);
}

TEST(Orient, ClosedPartsAreWoundOutward) {
    const float zero[3] = {0, 0, 0};
    std::vector<float> soup = tetrahedron(zero);
    // The last face wound the wrong way, and a second, open part beside it.
    std::swap_ranges(soup.begin() + 30, soup.begin() + 33, soup.begin() + 33);
    for (const float f : {5.0F, 0.0F, 0.0F, 6.0F, 0.0F, 0.0F, 5.0F, 1.0F, 0.0F}) {
        soup.push_back(f);
    }
    scene::mesh m = welded(soup);
    scene::finish(m, "parts");
    ASSERT_EQ(m.sealed.size(), 5U);
    for (std::size_t t = 0; t < 4; ++t) {
        EXPECT_TRUE(m.insealedpart(t)) << t;
        // Outward: the normal points away from the tetrahedron's middle.
        const scene::vec3 &a = m.vertices[m.triangles[t][0]];
        const scene::vec3 &b = m.vertices[m.triangles[t][1]];
        const scene::vec3 &c = m.vertices[m.triangles[t][2]];
        const scene::vec3 u{b.x - a.x, b.y - a.y, b.z - a.z};
        const scene::vec3 v{c.x - a.x, c.y - a.y, c.z - a.z};
        const scene::vec3 n{u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
        const double out = n.x * (a.x - 0.25) + n.y * (a.y - 0.25) + n.z * (a.z - 0.25);
        EXPECT_GT(out, 0.0) << "face " << t << " wound inward";
    }
    EXPECT_FALSE(m.insealedpart(4));
}

TEST(Views, NamesAnglesAndRefusals) {
    struct named {
        std::string text;
        double azimuth;
        double elevation;
    };
    for (const named &v : std::vector<named>{{"front", 0, 0},
                                             {"ISO", 45, 35.264389682754654},
                                             {"Top", 0, 90},
                                             {"-30,15", -30, 15},
                                             {"400,-90", 400, -90}}) {
        double az = 1;
        double el = 1;
        scene::parseview(v.text, az, el);
        EXPECT_EQ(az, v.azimuth) << v.text;
        EXPECT_EQ(el, v.elevation) << v.text;
    }
    for (const std::string bad : {"", "sideways", "10", "10,91", "nan,0", "1e7,0", "1,2,3"}) {
        double az = 0;
        double el = 0;
        EXPECT_THROW(scene::parseview(bad, az, el), scene::failure) << bad;
    }
    EXPECT_EQ(scene::parseengine("2DXY"), scene::enginekind::engine2dxy);
    EXPECT_EQ(scene::parsestyle("Both"), scene::drawstyle::both);
    EXPECT_EQ(scene::parseup("Z"), scene::upaxis::z);
    EXPECT_EQ(scene::parsecolour("Navy"), (scene::rgb{0, 0, 128}));
    EXPECT_EQ(scene::parsecolour("#f80"), (scene::rgb{255, 136, 0}));
    EXPECT_THROW(scene::parseengine("4d"), scene::failure);
    EXPECT_THROW(scene::parsecolour("#12345"), scene::failure);
}

TEST(Fit, EveryFrameKeepsTheMeshInsideItsMargin) {
    const float zero[3] = {0, 0, 0};
    scene::mesh m = welded(tetrahedron(zero));
    scene::finish(m, "tetrahedron");
    m.zupfile = true;
    struct framing {
        double margin;
        int frames;
        int width;
        int height;
    };
    for (const framing &f :
         std::vector<framing>{{5, 1, 800, 600}, {0, 8, 101, 99}, {25, 3, 64, 256}}) {
        const scene::turntable turn(m, {-30, 15, scene::upaxis::automatic, f.margin}, f.frames,
                                    f.width, f.height);
        EXPECT_TRUE(turn.zup());
        // Positions run from 0 (the first pixel) to width - 1 (the last).
        const double wide = f.width - 1;
        const double high = f.height - 1;
        const double left = wide * f.margin / 100;
        const double top = high * f.margin / 100;
        double widest = 0;
        double tallest = 0;
        for (int k = 0; k < f.frames; ++k) {
            double lo[2] = {1e9, 1e9};
            double hi[2] = {-1e9, -1e9};
            for (const scene::screenpoint &p : turn.points(k)) {
                lo[0] = std::min(lo[0], p.column);
                hi[0] = std::max(hi[0], p.column);
                lo[1] = std::min(lo[1], p.row);
                hi[1] = std::max(hi[1], p.row);
            }
            EXPECT_GE(lo[0], left - 1e-6);
            EXPECT_LE(hi[0], wide - left + 1e-6);
            EXPECT_GE(lo[1], top - 1e-6);
            EXPECT_LE(hi[1], high - top + 1e-6);
            widest = std::max(widest, hi[0] - lo[0]);
            tallest = std::max(tallest, hi[1] - lo[1]);
        }
        // One side is filled to the margin in some frame.
        const bool filled = std::fabs(widest - (wide - 2 * left)) < 1e-6 ||
                            std::fabs(tallest - (high - 2 * top)) < 1e-6;
        EXPECT_TRUE(filled) << f.margin << " " << f.frames;
    }
    EXPECT_THROW(scene::turntable(m, {0, 0, scene::upaxis::y, 50}, 1, 10, 10), scene::failure);
    EXPECT_THROW(scene::turntable(m, {}, 0, 10, 10), scene::failure);
}

TEST(Settings, BecomeThePicturesPixels) {
    const float zero[3] = {0, 0, 0};
    scene::mesh m = welded(tetrahedron(zero));
    scene::finish(m, "tetrahedron");
    m.trianglecolours.assign(m.triangles.size(), 0x0000FF00U); // the file's own green
    for (const scene::enginekind engine : {scene::enginekind::engine3d, scene::enginekind::engine2d,
                                           scene::enginekind::engine2dxy}) {
        scene::drawsettings s;
        s.engine = engine;
        s.width = 60;
        s.height = 40;
        s.background = {1, 2, 3};
        const scene::image own = scene::render(m, {}, s);
        ASSERT_EQ(own.bytes.size(), 60U * 40U * 3U);
        EXPECT_EQ(std::vector<int>(own.bytes.begin(), own.bytes.begin() + 3),
                  (std::vector<int>{1, 2, 3}));
        const std::size_t middle = (20 * 60 + 30) * 3;
        // Green and only green, in every engine's channel order.
        EXPECT_GT(own.bytes[middle + 1], 0);
        EXPECT_EQ(own.bytes[middle] + own.bytes[middle + 2], 0);
        // A given colour overrides the file's; transparency marks the undrawn.
        s.colour = {255, 0, 0};
        s.colourgiven = true;
        s.transparent = true;
        const scene::image given = scene::render(m, {}, s);
        ASSERT_EQ(given.channels, 4);
        EXPECT_EQ(given.bytes[3], 0);
        const std::size_t at = (20 * 60 + 30) * 4;
        EXPECT_GT(given.bytes[at], 0);
        EXPECT_EQ(given.bytes[at + 1] + given.bytes[at + 2], 0);
        EXPECT_EQ(given.bytes[at + 3], 255);
        // Only the 3d engine has depths to show.
        const scene::image depth = scene::renderdepth(m, {}, s);
        EXPECT_EQ(depth.bits, 16);
        EXPECT_EQ(depth.bytes[2 * (20 * 60 + 30)] != 0, engine == scene::enginekind::engine3d);
    }
}

} // namespace
