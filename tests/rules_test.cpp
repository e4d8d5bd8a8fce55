// Small scenes, each holding one exact rule where the library must choose
// between two equally reasonable answers: which of two tied vertices, edges or
// axes comes first, whether a comparison is strict. Each scene is drawn
// through the engines as a host draws, and each would draw other pixels or
// depths if its rule were decided the other way.
#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <trel/trel.h>

#include "canvas.h"
#include "support.h"

namespace {

using trel::test::background;
using trel::test::canvas;
using trel::test::pixelset;

pixelset row(int y, int from, int to) {
    pixelset s;
    for (int x = from; x <= to; ++x) {
        s.insert({x, y});
    }
    return s;
}

// A fan triangle's vertices are ordered by row with strict comparisons, so
// vertices on one row keep the order they were handed over in. Three vertices
// on one row draw the stretch between the first two of them only; two
// vertices on one pixel keep their order, which shows in their depths.
TEST(TieRule, TriangleVerticesSharingARowKeepTheirOrder) {
    struct oneline {
        int x1, x2, x3;
        int from, to;
    };
    for (const oneline &t :
         {oneline{0, 4, 9, 0, 4}, oneline{0, 9, 4, 0, 9}, oneline{9, 4, 0, 4, 9},
          oneline{4, 9, 0, 4, 9}, oneline{9, 0, 4, 0, 9}, oneline{4, 0, 9, 0, 4}}) {
        canvas<trel::engine2dxy> c(16, 16);
        c.tri(t.x1, 7, 0, t.x2, 7, 0, t.x3, 7, 0);
        EXPECT_EQ(c.drawn(), row(7, t.from, t.to)) << t.x1 << " " << t.x2 << " " << t.x3;
    }

    // Two vertices on one pixel at the bottom, at depths 0 and 40, below a
    // top vertex at depth 0. Handed over as (first, second, top), the
    // ordering gives top, second, first: the first vertex ends last and its
    // edge is the long edge, whose depth a row takes where the two edges meet.
    // Every row is one pixel on the edge from the top at depth 0 to the first
    // vertex at depth 0.
    canvas<trel::engine3d> c(8, 8);
    c.tri(2, 6, 0, 2, 6, -40, 6, 2, 0);
    EXPECT_EQ(c.drawn(), (pixelset{{6, 2}, {5, 3}, {4, 4}, {3, 5}, {2, 6}}));
    for (const auto &[x, y] : c.drawn()) {
        EXPECT_EQ(c.depth(x, y), 0) << x << "," << y;
    }
}

// Where the short and the long edge of a row stand at the same 16.16
// position, the long edge is the left end (the test is strict: short edge
// left only when strictly less), so the one-pixel span takes the long edge's
// depth. In the triangle (6,0), (0,3), (6,6) the long edge is upright at
// column 6 and the short edge comes back to exactly the same position on row
// 6. The long edge runs from depth -30000 to 0 over 6 rows with the table
// entry 65536 / 6 = 10922, which falls short: 6 x 10922 = 65532, so it ends
// at depth -2 there, while the short edge arrives at exactly 0.
TEST(TieRule, EdgesAtTheSamePositionTakeTheLongEdgesDepth) {
    canvas<trel::engine3d> c(8, 8);
    c.tri(6, 0, 30000, 0, 3, 0, 6, 6, 0);
    EXPECT_NE(c.pixel(6, 6), background);
    EXPECT_EQ(c.depth(6, 6), -2);
    EXPECT_EQ(c.drawn().count({7, 6}), 0U);
    EXPECT_EQ(c.drawn().count({5, 6}), 0U);
}

// A flat top whose two top vertices share a column (so they are one pixel):
// the edge from the first of them is the left one (the second is left only
// when it lies strictly left of the first). Both edges run to the same bottom
// vertex; the first top vertex is at depth 0 like the bottom one, the second
// at depth 40, so every pixel has depth 0 when the first one's edge is
// taken.
TEST(TieRule, FlatTopWithTopVerticesInOneColumnTakesTheFirstsEdge) {
    canvas<trel::engine3d> c(8, 8);
    c.tri(2, 2, 0, 2, 2, -40, 6, 6, 0);
    EXPECT_EQ(c.drawn(), (pixelset{{2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}}));
    for (const auto &[x, y] : c.drawn()) {
        EXPECT_EQ(c.depth(x, y), 0) << x << "," << y;
    }
    // Handed over the other way round the second-given vertex is the first.
    canvas<trel::engine3d> d(8, 8);
    d.tri(2, 2, -40, 2, 2, 0, 6, 6, 0);
    EXPECT_EQ(d.depth(2, 2), 40);
    EXPECT_EQ(d.depth(6, 6), 0);
}

// At the middle vertex the short edge's column goes on from where the upper
// half left it, but its depth starts again from the middle vertex's depth.
// The triangle (11,0), (0,11), (11,15): the upper short edge runs 11 rows
// from depth -30000 to 0 with the table entry 65536 / 11 = 5957, which falls
// short (11 x 5957 = 65527) and would arrive near depth -4. The lower short
// edge, from (0,11) to (11,15), lies at depth 0 at both ends, and the left end
// of each lower row lies on it: depth 0 exactly.
TEST(TieRule, LowerShortEdgeDepthRestartsAtTheMiddleVertex) {
    canvas<trel::engine3d> c(12, 16);
    c.tri(11, 0, 30000, 0, 11, 0, 11, 15, 0);
    EXPECT_EQ(c.depth(0, 11), -4); // the upper half's last row, where it falls short
    for (int y = 12; y <= 14; ++y) {
        int left = 0;
        while (left < 12 && c.pixel(left, y) == background) {
            ++left;
        }
        ASSERT_LT(left, 12) << "row " << y;
        EXPECT_EQ(c.depth(left, y), 0) << "row " << y;
    }
}

// Draws the fan (v[0], v[k+1], v[k+2]) of pixel vertices as separate
// triangles, each wholly inside the picture, so each is filled as handed over.
template <class E>
void drawfan(canvas<E> &c, const std::vector<std::array<int, 3>> &v, unsigned long colour) {
    for (std::size_t k = 0; k + 2 < v.size(); ++k) {
        c.tri(v[0][0], v[0][1], v[0][2], v[k + 1][0], v[k + 1][1], v[k + 1][2], v[k + 2][0],
              v[k + 2][1], v[k + 2][2], colour);
    }
}

// Draws the triangle with corners at screen positions `corners`, which the
// X-Y engine cuts at the left border, and the same polygon as an explicit fan
// in the order the rule gives and in the order the other choice would give:
// the triangle must match the first, and the scene must tell the two apart.
void expectxyfan(const std::vector<std::array<int, 3>> &corners,
                 const std::vector<std::array<int, 3>> &fan,
                 const std::vector<std::array<int, 3>> &otherfan) {
    canvas<trel::engine2dxy> clipped(40, 30);
    clipped.tri(corners[0][0], corners[0][1], 0, corners[1][0], corners[1][1], 0, corners[2][0],
                corners[2][1], 0);
    canvas<trel::engine2dxy> expected(40, 30);
    drawfan(expected, fan, 0x00FFFFFFU);
    EXPECT_EQ(clipped.drawn(), expected.drawn());
    canvas<trel::engine2dxy> other(40, 30);
    drawfan(other, otherfan, 0x00FFFFFFU);
    EXPECT_NE(expected.drawn(), other.drawn()) << "the scene no longer tells the orders apart";
}

// The clipped polygon's centroid is the integer mean of its vertices,
// truncated. The triangle (28,15), (11,16), (-20,21) on a 40 x 30 X-Y engine
// is cut at the left border into (28,15), (11,16), (0,17), (0,19): the mean
// is (9.75, 16.75), so the centroid is (9,16), and (0,17), one row below it,
// takes a negative angle and comes first. The fan is ((0,17), (0,19),
// (11,16)) and ((0,17), (11,16), (28,15)). A rounded centroid (10,17) would
// put (0,17) on the centroid's row and last, and the fan from (0,19) draws
// other pixels.
TEST(TieRule, ClippedPolygonCentroidIsTruncated) {
    expectxyfan({{28, 15, 0}, {11, 16, 0}, {-20, 21, 0}},
                {{0, 17, 0}, {0, 19, 0}, {11, 16, 0}, {28, 15, 0}},
                {{0, 19, 0}, {28, 15, 0}, {11, 16, 0}, {0, 17, 0}});
}

// A vertex on the centroid's row keeps the positive angle (only a vertex
// strictly below the centroid is negated), so one straight left of the
// centroid, at 180 degrees, comes last. The triangle (7,23), (32,3), (-3,3)
// is cut into (7,23), (32,3), (0,3), (0,9) with centroid (9,9): (0,9) lies on
// the centroid's row, and the fan starts at (7,23).
TEST(TieRule, VertexOnTheCentroidsRowComesLast) {
    expectxyfan({{7, 23, 0}, {32, 3, 0}, {-3, 3, 0}},
                {{7, 23, 0}, {32, 3, 0}, {0, 3, 0}, {0, 9, 0}},
                {{0, 9, 0}, {7, 23, 0}, {32, 3, 0}, {0, 3, 0}});
}

// Vertices at equal angles keep the order the clipper delivered them in. The
// triangle (20,20), (20,10), (-1,10) of an X-Z engine with depth leaves the
// picture on edge 2 and comes back on edge 3 at the same pixel (0,10): the
// exit point P (depth attribute 0, from edge 2) and the entry point Q
// (attribute 100, from edge 3) have equal angles about the centroid (10,12).
// P stays before Q, so the fan is ((20,20), (20,10), P) and ((20,20), P, Q),
// and the depths are those of that fan.
TEST(TieRule, PolygonVerticesAtEqualAnglesKeepTheirOrder) {
    canvas<trel::engine3d> clipped(24, 24);
    clipped.tri(20, 20, 2100, 20, 10, 0, -1, 10, 0);
    canvas<trel::engine3d> fan(24, 24);
    drawfan(fan, {{20, 20, 2100}, {20, 10, 0}, {0, 10, 0}, {0, 10, 100}}, 0x00FFFFFFU);
    EXPECT_EQ(clipped.drawn(), fan.drawn());
    EXPECT_EQ(clipped.depths(), fan.depths());
    canvas<trel::engine3d> other(24, 24);
    drawfan(other, {{20, 20, 2100}, {20, 10, 0}, {0, 10, 100}, {0, 10, 0}}, 0x00FFFFFFU);
    EXPECT_NE(fan.depths(), other.depths()) << "the scene no longer tells the two orders apart";
}

// A line whose axes tie (|dx| = |dy|) is stepped along x: every column is
// reached exactly and the row falls behind where the table entry is
// truncated. 270 x (65536 / 270) = 65340, so after 270 steps the row lags by
// 0.81 and the far end is drawn one row short; stepped along y it would be one
// column short instead.
// The rules that hold alike in every engine run once per engine class.
template <class E> class TieRuleInEveryEngine : public ::testing::Test {};
using engines = ::testing::Types<trel::engine2d, trel::engine2dxy, trel::engine3d>;
TYPED_TEST_SUITE(TieRuleInEveryEngine, engines);

TYPED_TEST(TieRuleInEveryEngine, DiagonalLinesStepAlongX) {
    using E = TypeParam;
    struct diagonal {
        int x1, y1, x2, y2; // the endpoints
        int lastrow;        // the row drawn in the far column
    };
    for (const diagonal &d : {diagonal{0, 0, 270, 270, 269}, diagonal{0, 290, 270, 20, 21}}) {
        canvas<E> c(300, 300);
        c.engine.line(c.at(d.x1, d.y1, -50), c.at(d.x2, d.y2, -50), 1);
        const pixelset drawn = c.drawn();
        EXPECT_EQ(drawn.size(), 271U);
        std::vector<int> percolumn(300, 0);
        for (const auto &[x, y] : drawn) {
            ++percolumn[static_cast<std::size_t>(x)];
        }
        for (int x = 0; x <= 270; ++x) {
            EXPECT_EQ(percolumn[static_cast<std::size_t>(x)], 1) << "column " << x;
        }
        EXPECT_EQ(drawn.count({d.x2, d.lastrow}), 1U);
        EXPECT_EQ(drawn.count({d.x2, d.y2}), 0U);
        EXPECT_EQ(drawn.count({d.x2 - 1, d.y2}), 0U);
    }
}

// A line whose endpoints share a column starts at its first point (the start
// moves to the second point only when that lies strictly to the left). The
// depth is interpolated from the start: exact there, and at the far end short
// by the table's truncation (11 rows, 11 x 5957 = 65527 instead of 65536).
TEST(TieRule, UprightDepthLineStepsFromItsFirstPoint) {
    canvas<trel::engine3d> down(8, 16);
    down.engine.line(down.at(3, 0, 0), down.at(3, 11, -30000), 1);
    EXPECT_EQ(down.depth(3, 0), -10);
    EXPECT_EQ(down.depth(3, 11), 29986);
    canvas<trel::engine3d> up(8, 16);
    up.engine.line(up.at(3, 11, -30000), up.at(3, 0, 0), 1);
    EXPECT_EQ(up.depth(3, 11), 29990);
    EXPECT_EQ(up.depth(3, 0), -6);
}

// Only crossings inside the picture (column < width(), row < height())
// enter the X-Y engine's polygon, on a 40 x 30 picture:
// - the edge from (10,10) to (42,31) meets row 30 at column 40, just outside,
//   and then column 40 at row 29: the clipper reports both, and the first is
//   left out. The polygon is (10,10), (39,29), (36,29), (5,25), filled as the
//   fan from (5,25);
// - the edge from (50,25) to (20,40) passes below the bottom-right corner: the
//   clipper reports its crossing of column 40 at row 30, just outside, and
//   rejects it. The polygon is (18,29), (10,5), (39,20) and the covered
//   corner (39,29), filled as the fan from (18,29).
TEST(TieRule, XyCrossingsOnTheFarBordersStayOutOfThePolygon) {
    canvas<trel::engine2dxy> clipped(40, 30);
    clipped.tri(10, 10, 0, 42, 31, 0, 5, 25, 0);
    canvas<trel::engine2dxy> expected(40, 30);
    drawfan(expected, {{5, 25, 0}, {36, 29, 0}, {39, 29, 0}, {10, 10, 0}}, 0x00FFFFFFU);
    EXPECT_EQ(clipped.drawn(), expected.drawn());

    canvas<trel::engine2dxy> below(40, 30);
    below.tri(50, 25, 0, 20, 40, 0, 10, 5, 0);
    canvas<trel::engine2dxy> belowfan(40, 30);
    drawfan(belowfan, {{18, 29, 0}, {39, 29, 0}, {39, 20, 0}, {10, 5, 0}}, 0x00FFFFFFU);
    EXPECT_EQ(below.drawn(), belowfan.drawn());
}

// A dot is drawn on every column from 0 to width() - 1 and every row from 0
// to height() - 1, the first and last included, and nowhere beyond them.
TYPED_TEST(TieRuleInEveryEngine, DotsReachTheFirstAndLastColumnsAndRows) {
    using E = TypeParam;
    canvas<E> c(10, 8);
    const int w = c.w;
    const int h = c.h;
    for (const auto &[x, y] :
         {std::pair{0, 0}, std::pair{w - 1, 0}, std::pair{0, h - 1}, std::pair{w - 1, h - 1},
          std::pair{-1, 3}, std::pair{w, 3}, std::pair{4, -1}, std::pair{4, h}}) {
        c.engine.dot(c.at(x, y), 0x00ABCDEFU);
    }
    EXPECT_EQ(c.drawn(), (pixelset{{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}}));
}

} // namespace
