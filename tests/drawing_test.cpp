// Lines, polylines and triangles drawn through the engines, into borrowed
// blocks fenced by guard words: any write outside the picture fails a test.
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include <gtest/gtest.h>
#include <trel/trel.h>

#include "canvas.h"
#include "support.h"

namespace {

using trel::test::background;
using trel::test::canvas;
using trel::test::guardedblock;
using trel::test::pixelset;

TEST(Lines, XzEnginesClipOneInsideTheFarEdges) {
    canvas<trel::engine2d> c(100, 80);
    c.engine.line(c.at(99, 10), c.at(50, 10), 1);
    EXPECT_EQ(c.pixel(99, 10), 1U); // an endpoint on the last column stays there
    c.engine.line(c.at(10, 5), c.at(150, 45), 2);
    EXPECT_EQ(c.pixel(98, 30), 2U); // leaves the picture one column early
    EXPECT_EQ(c.pixel(99, 30), background);
    c.engine.line(c.at(50, 40), c.at(50, 200), 3);
    EXPECT_EQ(c.pixel(50, 78), 3U);
    EXPECT_EQ(c.pixel(50, 79), background);
    // The colour is stored unchanged, top byte included.
    c.engine.line(c.at(0, 0), c.at(3, 1), 0xFF000001UL);
    EXPECT_EQ(c.pixel(2, 1), 0xFF000001U);
}

TEST(Lines, XyEngineKeepsTheVisiblePiece) {
    canvas<trel::engine2dxy> c(40, 30);
    c.engine.line(c.at(-10, 15), c.at(50, 15), 1);
    pixelset row;
    for (int x = 0; x < 40; ++x) {
        row.insert({x, 15});
    }
    EXPECT_EQ(c.drawn(), row);
    // A line leaving past the bottom-right corner keeps its piece inside,
    // from (10, 10) to the final crossing (39, 24).
    canvas<trel::engine2dxy> corner(40, 30);
    corner.engine.line(corner.at(10, 10), corner.at(50, 30), 2);
    EXPECT_EQ(corner.pixel(10, 10), 2U);
    EXPECT_EQ(corner.pixel(39, 24), 2U);
    EXPECT_EQ(corner.drawn().size(), 30U);
    // One that misses the picture draws nothing.
    canvas<trel::engine2dxy> miss(40, 30);
    miss.engine.line(miss.at(66, 55), miss.at(37, -7), 3);
    EXPECT_TRUE(miss.drawn().empty());
}

TEST(Lines, DepthTestedLines) {
    canvas<trel::engine3d> c(16, 16);
    c.engine.line(c.at(0, 0, 0.0), c.at(4, 0, 40.0), 0x00123456UL);
    for (int x = 0; x <= 4; ++x) {
        EXPECT_EQ(c.depth(x, 0), -10 - 10 * x);
        EXPECT_EQ(c.pixel(x, 0), 0x00563412U); // channels 0 and 2 exchanged
    }
    c.engine.line(c.at(0, 2, 0.0), c.at(5, 2, 0.0), 0xFF000000UL);
    EXPECT_EQ(c.pixel(3, 2), 0U); // the fourth byte is dropped
    // A point at attribute 31990 has depth -32000 and never passes.
    c.engine.line(c.at(8, 8, 31990.0), c.at(8, 8, 31990.0), 1);
    EXPECT_EQ(c.pixel(8, 8), background);
    c.engine.line(c.at(8, 8, 31989.0), c.at(8, 8, 31989.0), 1);
    EXPECT_EQ(c.pixel(8, 8), 0x00010000U);
}

TEST(Lines, PolylinesDrawThroughTheEngineOwnLine) {
    canvas<trel::engine3d> c(32, 32);
    const std::array<quim::point, 4> pts{c.at(2, 2), c.at(20, 2), c.at(20, 20), c.at(2, 20)};
    c.engine.line(pts.data(), 0, 1);
    c.engine.line(pts.data(), 1, 1);
    c.engine.line(pts.data(), -3, 1);
    c.engine.line(nullptr, 4, 1);
    EXPECT_TRUE(c.drawn().empty());
    trel::engine &base = c.engine;
    base.line(pts.data(), 4, 0x000000FFUL);
    EXPECT_EQ(c.drawn().size(), 3U * 18U + 1U); // three sides, nothing closes the outline
    EXPECT_EQ(c.pixel(20, 10), 0x00FF0000U);    // the depth-tested line's channel order
    EXPECT_EQ(c.depth(20, 10), -10);
    EXPECT_EQ(c.pixel(2, 10), background);

    canvas<trel::engine2dxy> xy(32, 32);
    const std::array<quim::point, 3> chain{xy.at(1, 1), xy.at(30, 1), xy.at(30, 5)};
    xy.engine.line(chain.data(), 3, 5);
    EXPECT_EQ(xy.drawn().size(), 30U + 4U);
}

// Lines from far outside that cross the picture land where they cross it.
TEST(Lines, FarEndpointsCrossExactly) {
    for (double far : {1e6, 1e9, -1e6, -1e9}) {
        canvas<trel::engine2d> c(64, 48);
        const double ox = c.orgx;
        const double oy = c.orgy;
        // The diagonal through the world origin.
        c.engine.line({-far, 0.0, -far}, {far, 0.0, far}, 1);
        const pixelset s = c.drawn();
        EXPECT_GE(s.size(), 36U) << far; // from (36, 0) down to (0, 36)
        for (const auto &[x, y] : s) {
            EXPECT_LE(std::abs((x - ox) - (oy - y)), 1.0) << far;
        }
        canvas<trel::engine3d> d(64, 48);
        d.engine.line({-far, 5.0, 3.0}, {far, 5.0, 3.0}, 1);
        EXPECT_EQ(d.drawn().size(), 63U) << far; // one column short of the right edge
        EXPECT_EQ(d.depth(10, d.orgy - 3), -15);
        canvas<trel::engine2dxy> e(64, 48);
        e.engine.line({3.0, -far, 0.0}, {3.0, far, 0.0}, 1);
        EXPECT_EQ(e.drawn().size(), 48U) << far;
    }
}

TEST(Lines, NonFiniteCoordinatesDrawNothing) {
    const double bad[] = {std::nan(""), HUGE_VAL, -HUGE_VAL};
    for (double v : bad) {
        canvas<trel::engine2d> a(16, 16);
        a.engine.line({v, 0.0, 0.0}, {1.0, 0.0, 1.0}, 1);
        a.engine.line({0.0, 0.0, 1.0}, {2.0, 0.0, v}, 1);
        EXPECT_TRUE(a.drawn().empty());
        a.engine.line(a.at(0, 5, v), a.at(3, 5), 1); // y is not shown by this engine
        EXPECT_EQ(a.drawn().size(), 4U);
        canvas<trel::engine3d> b(16, 16);
        b.engine.line({0.0, v, 0.0}, {3.0, 0.0, 0.0}, 1); // but is this engine's depth
        EXPECT_TRUE(b.drawn().empty());
        canvas<trel::engine2dxy> c(16, 16);
        const std::array<quim::point, 3> chain{
            quim::point{0.0, 0.0, 0.0}, {v, 1.0, 0.0}, {1.0, 5.0, 0.0}};
        c.engine.line(chain.data(), 3, 1);
        EXPECT_TRUE(c.drawn().empty());
    }
}

// Screen-space triangle coverage: pixels well inside must be drawn, pixels
// well outside must not. `margin` absorbs truncation along the edges.
template <class E>
void expectcoverage(canvas<E> &c, std::array<std::array<double, 2>, 3> v, double margin = 2.5) {
    const pixelset s = c.drawn();
    double area = 0.0;
    for (int i = 0; i < 3; ++i) {
        const auto &a = v[i];
        const auto &b = v[(i + 1) % 3];
        area += a[0] * b[1] - b[0] * a[1];
    }
    const double sign = area > 0 ? 1.0 : -1.0;
    // X-Z engines clip crossings of the right and bottom edges one pixel in.
    const bool xz = !std::is_same_v<E, trel::engine2dxy>;
    for (int y = 0; y < c.h; ++y) {
        for (int x = 0; x < c.w; ++x) {
            double inside = 1e300;
            for (int i = 0; i < 3; ++i) {
                const auto &a = v[i];
                const auto &b = v[(i + 1) % 3];
                const double ex = b[0] - a[0];
                const double ey = b[1] - a[1];
                const double d = sign * (ex * (y - a[1]) - ey * (x - a[0])) / std::hypot(ex, ey);
                inside = std::min(inside, d);
            }
            const bool edge = xz && (x == c.w - 1 || y == c.h - 1);
            if (inside > margin && !edge) {
                ASSERT_TRUE(s.count({x, y})) << "missing " << x << "," << y;
            }
            if (inside < -margin) {
                ASSERT_FALSE(s.count({x, y})) << "stray " << x << "," << y;
            }
        }
    }
}

template <class E> void coveragecases() {
    using tri = std::array<std::array<double, 2>, 3>;
    const tri cases[] = {
        {{{5, 5}, {30, 8}, {12, 25}}},                     // inside
        {{{-20, 10}, {50, -15}, {30, 40}}},                // crossing every border
        {{{-50, -50}, {60, -50}, {-50, 60}}},              // one corner
        {{{-50, -5}, {90, -5}, {20, 20}}},                 // two corners
        {{{-300, -200}, {300, -200}, {0, 300}}},           // the whole picture
        {{{-5000, 40}, {5000, -30}, {0, 4000}}},           // the whole picture, far vertices
        {{{20, -1000000}, {21, 1000000}, {-1000000, 15}}}, // far, three corners
    };
    for (const auto &t : cases) {
        canvas<E> c(40, 30);
        c.engine.tri(c.at(static_cast<int>(t[0][0]), static_cast<int>(t[0][1])),
                     c.at(static_cast<int>(t[1][0]), static_cast<int>(t[1][1])),
                     c.at(static_cast<int>(t[2][0]), static_cast<int>(t[2][1])), 0x00808080UL);
        SCOPED_TRACE(::testing::Message() << t[0][0] << "," << t[0][1] << " " << t[1][0] << ","
                                          << t[1][1] << " " << t[2][0] << "," << t[2][1]);
        expectcoverage(c, t);
    }
}

TEST(Triangles, CoverageAcrossBordersAndCorners) {
    coveragecases<trel::engine2d>();
    coveragecases<trel::engine2dxy>();
    coveragecases<trel::engine3d>();
}

TEST(Triangles, WholePictureFillsEveryPixel) {
    canvas<trel::engine2dxy> xy(40, 30);
    xy.engine.tri(xy.at(-100, -100), xy.at(300, -100), xy.at(-100, 300), 0xFF123456UL);
    EXPECT_EQ(xy.drawn().size(), 40U * 30U);
    EXPECT_EQ(xy.pixel(39, 29), 0xFF123456U); // unshaded, all 32 bits

    canvas<trel::engine3d> d(40, 30);
    d.engine.tri(d.at(-100, -100, 7.0), d.at(300, -100, 7.0), d.at(-100, 300, 7.0), 0x00FFFFFFUL);
    EXPECT_EQ(d.drawn().size(), 40U * 30U);
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            ASSERT_EQ(d.depth(x, y), -7) << x << "," << y;
        }
    }
    // A plane whose depth falls off to the right: every depth, the corners'
    // included, follows it to within the steppers' rounding.
    canvas<trel::engine3d> s(40, 30);
    const auto p = [&](int x, int y) { return s.at(x, y, static_cast<double>(x - s.orgx)); };
    s.engine.tri(p(-300, -300), p(400, -300), p(-300, 400), 1);
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            ASSERT_LE(std::abs(s.depth(x, y) + (x - s.orgx)), 2) << x << "," << y;
        }
    }
    EXPECT_EQ(s.depth(0, 0), s.orgx);
}

TEST(Triangles, ShadedColourWords) {
    // A face of constant world y whose corners run clockwise on the screen:
    // its normal points along +y, 54.74 degrees from the light, so the
    // intensity is 126 of 180.
    const auto scaled = [](std::uint32_t c, int i) { return (c & 0xFFU) * i / 180; };
    canvas<trel::engine2d> c(32, 32);
    c.engine.tri(c.at(0, 0), c.at(10, 0), c.at(0, 10), 0xFFFF8040UL);
    const std::uint32_t word =
        scaled(0x40, 126) | (scaled(0x80, 126) << 8) | (scaled(0xFF, 126) << 16);
    EXPECT_EQ(c.pixel(0, 0), word);
    EXPECT_EQ(c.pixel(10, 0), word);
    EXPECT_EQ(c.pixel(0, 10), word);
    EXPECT_EQ(c.drawn().size(), 11U + 10U * 11U / 2U + 0U); // rows of 11, 10, ..., 1

    canvas<trel::engine3d> d(32, 32);
    d.engine.tri(d.at(0, 0), d.at(10, 0), d.at(0, 10), 0xFFFF8040UL);
    EXPECT_EQ(d.pixel(3, 3),
              scaled(0xFF, 126) | (scaled(0x80, 126) << 8) | (scaled(0x40, 126) << 16));
    // The same face wound the other way faces along -y: intensity 55.
    canvas<trel::engine2d> back(32, 32);
    back.engine.tri(back.at(0, 0), back.at(0, 10), back.at(10, 0), 0x000000FFUL);
    EXPECT_EQ(back.pixel(2, 2), scaled(0xFF, 55));
    // Collinear world points shade at full intensity.
    canvas<trel::engine2d> flat(32, 32);
    flat.engine.tri({0, 0, 0}, {4, 4, 4}, {8, 8, 8}, 0xFF123456UL);
    for (const auto &[x, y] : flat.drawn()) {
        EXPECT_EQ(flat.pixel(x, y), 0x00123456U);
    }
}

TEST(Triangles, NearerFacesHideFartherOnesAndLines) {
    const auto draw = [](canvas<trel::engine3d> &c, double y, unsigned long colour) {
        c.engine.tri(c.at(2, 2, y), c.at(28, 4, y), c.at(6, 28, y), colour);
    };
    for (bool nearfirst : {true, false}) {
        canvas<trel::engine3d> c(32, 32);
        if (nearfirst) {
            draw(c, -10.0, 0x0000FF);
            draw(c, 10.0, 0x00FF00);
        } else {
            draw(c, 10.0, 0x00FF00);
            draw(c, -10.0, 0x0000FF);
        }
        EXPECT_EQ(c.depth(8, 8), 10);
        EXPECT_EQ(c.pixel(8, 8) & 0x00FF00FFU, c.pixel(8, 8)); // the blue (near) face
        EXPECT_NE(c.pixel(8, 8), background);
    }
    // Of two faces at equal depth the first stays; a line at the face's own y
    // stays hidden behind it, one 20 units nearer shows.
    canvas<trel::engine3d> c(32, 32);
    draw(c, 0.0, 0x0000FF);
    const std::uint32_t face = c.pixel(8, 8);
    draw(c, 0.0, 0x00FF00);
    EXPECT_EQ(c.pixel(8, 8), face);
    c.engine.line(c.at(0, 8, 0.0), c.at(31, 8, 0.0), 0x777777);
    EXPECT_EQ(c.pixel(8, 8), face);
    EXPECT_EQ(c.pixel(30, 8), 0x777777U); // outside the face
    c.engine.line(c.at(0, 9, -20.0), c.at(31, 9, -20.0), 0x777777);
    EXPECT_EQ(c.pixel(8, 9), 0x777777U);
    EXPECT_EQ(c.depth(8, 9), 10);
    // And a face drawn after a line at its own y covers the line.
    canvas<trel::engine3d> late(32, 32);
    late.engine.line(late.at(0, 8, 0.0), late.at(31, 8, 0.0), 0x777777);
    draw(late, 0.0, 0x0000FF);
    EXPECT_EQ(late.pixel(8, 8), face);
}

TEST(Triangles, OvershootOnTheLastRowStaysInside) {
    // The lower half's short edge overshoots to column 640 on the last row,
    // one word past the end of both planes.
    canvas<trel::engine3d> right(640, 99);
    right.engine.tri(right.at(639, 0), right.at(39, 97), right.at(639, 98), 1);
    EXPECT_NE(right.pixel(638, 97), background);
    canvas<trel::engine2d> left(640, 99);
    left.engine.tri(left.at(0, 0), left.at(600, 97), left.at(0, 98), 1);
    for (const auto &[x, y] : left.drawn()) {
        EXPECT_LE(x, 600);
    }
}

TEST(Triangles, DegenerateAndRefusedInput) {
    canvas<trel::engine2d> c(32, 32);
    c.engine.tri(c.at(-50, 5), c.at(-40, 9), c.at(-60, 20), 1); // wholly outside
    c.engine.tri(c.at(3, 3), c.at(3, 3), c.at(3, 3), 1);
    EXPECT_EQ(c.drawn(), (pixelset{{3, 3}}));
    c.engine.tri(c.at(1, 20), c.at(10, 20), c.at(25, 20), 1); // three on a row
    EXPECT_EQ(c.drawn().size(), 1U + 10U);
    c.engine.tri(c.at(0, 31), c.at(31, 0), c.at(15, 16), 1); // a sliver
    for (double v : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        canvas<trel::engine3d> d(32, 32);
        d.engine.tri({v, 0, 0}, {5, 0, 5}, {-5, 0, 5}, 1);
        d.engine.tri({0, 0, 0}, {5, v, 5}, {-5, 0, 5}, 1);
        d.engine.tri({0, 0, 0}, {5, 0, 5}, {-5, 0, v}, 1);
        EXPECT_TRUE(d.drawn().empty());
        canvas<trel::engine2dxy> e(32, 32);
        e.engine.tri({0, 0, v}, {5, 5, 0}, {-5, 5, 0}, 1);
        EXPECT_TRUE(e.drawn().empty());
    }
    for (double far : {1e12, 1e300}) {
        canvas<trel::engine3d> d(32, 32);
        d.engine.tri({-far, 0, -far}, {far, far, -far}, {0, -far, far}, 1);
        canvas<trel::engine2dxy> e(32, 32);
        e.engine.tri({-far, -far, 0}, {far, -far, 0}, {0, far, 0}, 1);
    }
}

} // namespace
