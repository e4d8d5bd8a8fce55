// The segment clippers, called directly: the X-Z engines' clipsegment and
// clipsegmentz, and the X-Y engine's cutpoints.
#include <array>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>
#include <trel/trel.h>

#include "clip/clip.h"
#include "support.h"

namespace trel {

// Reaches the X-Y engine's private clipper.
struct cutpointsaccess {
    static int cut(engine2dxy &e, int *xs, int *ys, const quim::point &a, const quim::point &b,
                   bool wa, bool wb) {
        return e.cutpoints(xs, ys, a, b, wa, wb);
    }
    static int cut(engine2dxy &e, int *xs, int *ys, int *zs, const quim::point &a,
                   const quim::point &b, bool wa, bool wb) {
        return e.cutpoints(xs, ys, zs, a, b, wa, wb);
    }
};

} // namespace trel

namespace {

using trel::detail::clipsegment;
using trel::detail::clipsegmentz;
using trel::detail::cutsegment;

struct pt {
    int x;
    int y;
    int a = 0;
    bool operator==(const pt &) const = default;
};

std::ostream &operator<<(std::ostream &os, const pt &p) {
    return os << "(" << p.x << ", " << p.y << ", " << p.a << ")";
}

// Clips screen positions (x, y, a) with the origin at (0, 0), so that world x
// is the column, world z the negated row and world y the attribute, against a
// picture of 100 x 80 (bounds 99 and 79).
std::vector<pt> clipz(pt a, pt b, bool wantfirst = true, bool wantsecond = true, int xbound = 99,
                      int ybound = 79) {
    std::array<int, 3> xs{-7, -7, -7};
    std::array<int, 3> ys{-7, -7, -7};
    std::array<int, 3> as{-7, -7, -7};
    const int n = clipsegmentz({0, 0}, xbound, ybound, trel::test::xz(0, 0, a.x, a.y, a.a),
                               trel::test::xz(0, 0, b.x, b.y, b.a), xs.data(), ys.data(), as.data(),
                               wantfirst, wantsecond);
    std::vector<pt> out;
    for (int i = 0; i < n; ++i) {
        out.push_back({xs[i], ys[i], as[i]});
    }
    // Entries beyond the count are never touched.
    for (int i = n; i < 3; ++i) {
        EXPECT_EQ(xs[i], -7);
    }
    // The variant without attributes writes the same positions.
    std::array<int, 2> px{};
    std::array<int, 2> py{};
    const int m =
        clipsegment({0, 0}, xbound, ybound, trel::test::xz(0, 0, a.x, a.y),
                    trel::test::xz(0, 0, b.x, b.y), px.data(), py.data(), wantfirst, wantsecond);
    EXPECT_EQ(m, n);
    for (int i = 0; i < m && i < n; ++i) {
        EXPECT_EQ(px[i], xs[i]);
        EXPECT_EQ(py[i], ys[i]);
    }
    return out;
}

using pts = std::vector<pt>;

TEST(ClipSegment, MovesEndpointsOntoTheBorder) {
    EXPECT_EQ(clipz({99, 79}, {0, 0}), (pts{{99, 79}, {0, 0}}));
    EXPECT_EQ(clipz({100, 79}, {0, 79}), (pts{{98, 79}, {0, 79}}));
    EXPECT_EQ(clipz({100, 10}, {50, 10}), (pts{{98, 10}, {50, 10}}));
    EXPECT_EQ(clipz({50, 200}, {50, -100}), (pts{{50, 78}, {50, 0}}));
    // The second attribute is interpolated from the already moved first endpoint.
    EXPECT_EQ(clipz({-10, 5, 0}, {110, 5, 100}), (pts{{0, 5, 8}, {98, 5, 90}}));
}

TEST(ClipSegment, TriangleEdgesAskForTheStartOnly) {
    EXPECT_EQ(clipz({10, 5}, {150, 45}, true, false), (pts{{10, 5}, {98, 30}}));
    // The same crossing measured from the other end lands one row lower.
    EXPECT_EQ(clipz({150, 45}, {10, 5}, true, false), (pts{{98, 31}}));
    EXPECT_EQ(clipz({-50, -50}, {200, 120}, true, false), (pts{{23, 0}, {98, 51}}));
    EXPECT_EQ(clipz({10, 5}, {20, 6}, true, false), (pts{{10, 5}}));
    EXPECT_EQ(clipz({10, 5}, {20, 6}, false, false), (pts{}));
}

TEST(ClipSegment, RejectsAndDegenerates) {
    EXPECT_EQ(clipz({-20, 10}, {10, -20}), pts{}); // passes outside the top-left corner
    EXPECT_EQ(clipz({-5, 5}, {-5, 5}), pts{});
    EXPECT_EQ(clipz({5, 5, 7}, {5, 5, 7}), (pts{{5, 5, 7}, {5, 5, 7}}));
    EXPECT_EQ(clipz({5, 5, 7}, {5, 5, 7}, true, false), (pts{{5, 5, 7}}));
    EXPECT_EQ(clipz({200, 10}, {300, 70}), pts{});
    // An empty picture rejects everything.
    EXPECT_EQ(clipz({0, 0}, {3, 3}, true, true, -1, -1), pts{});
    EXPECT_EQ(clipz({-5, 3}, {8, 3}, true, true, -1, 40), pts{});
}

TEST(ClipSegment, TruncatesTowardZeroAroundTheOrigin) {
    int xs[2];
    int ys[2];
    int as[2];
    ASSERT_EQ(clipsegmentz({50, 40}, 99, 79, {-0.9, -2.7, 0.5}, {0.9, 2.7, -0.99}, xs, ys, as, true,
                           true),
              2);
    EXPECT_EQ(xs[0], 50);
    EXPECT_EQ(xs[1], 50);
    EXPECT_EQ(ys[0], 40);
    EXPECT_EQ(ys[1], 40);
    EXPECT_EQ(as[0], -2);
    EXPECT_EQ(as[1], 2);
}

// Crossings of segments whose ends lie far outside are computed exactly: the
// crossing products no longer fit 32 bits, but every clipped point still lies
// on the segment.
TEST(ClipSegment, FarEndpointsClipExactly) {
    for (int far : {1'000'000, 1'000'000'000, 1 << 30}) {
        EXPECT_EQ(clipz({-far, -far, -far}, {far, far, far}), (pts{{0, 0, 0}, {79, 78, 79}}))
            << far;
        EXPECT_EQ(clipz({-far, 40}, {far, 40}), (pts{{0, 40}, {98, 40}})) << far;
        EXPECT_EQ(clipz({30, -far}, {30, far}), (pts{{30, 0}, {30, 78}})) << far;
        EXPECT_EQ(clipz({far, 10}, {-far, 10}, true, false), (pts{{98, 10}, {0, 10}})) << far;
        EXPECT_EQ(clipz({-far, 90}, {far, 90}), pts{}) << far;
    }
    // Beyond the exact range and for non-finite input only inside points, if any.
    const double huge[] = {1e12, -1e12, 1e300, -1e300, HUGE_VAL, -HUGE_VAL, std::nan("")};
    for (double u : huge) {
        for (double v : huge) {
            int xs[2];
            int ys[2];
            int as[2];
            const int n =
                clipsegmentz({50, 40}, 99, 79, {u, v, v}, {-v, u, 3.0}, xs, ys, as, true, true);
            ASSERT_GE(n, 0);
            ASSERT_LE(n, 2);
            for (int i = 0; i < n; ++i) {
                EXPECT_TRUE(xs[i] >= 0 && xs[i] <= 99 && ys[i] >= 0 && ys[i] <= 79);
            }
            if (std::isnan(u) || std::isnan(v) || std::isinf(u) || std::isinf(v)) {
                EXPECT_EQ(n, 0);
            }
        }
    }
}

// cutpoints against a picture of 40 x 30; positions given as screen points.
std::vector<pt> cut(pt a, pt b, bool wa = true, bool wb = true, bool *accepted = nullptr,
                    int xsize = 40, int ysize = 30) {
    std::array<int, 5> xs{};
    std::array<int, 5> ys{};
    std::array<int, 5> zs{};
    const trel::detail::cutresult r =
        cutsegment({0, 0}, xsize, ysize, trel::test::xy(0, 0, a.x, a.y, a.a),
                   trel::test::xy(0, 0, b.x, b.y, b.a), xs.data(), ys.data(), zs.data(), wa, wb);
    EXPECT_LE(r.count, 4);
    if (accepted != nullptr) {
        *accepted = r.accepted;
    }
    std::vector<pt> out;
    for (int i = 0; i < r.count; ++i) {
        out.push_back({xs[i], ys[i], zs[i]});
    }
    return out;
}

TEST(CutPoints, WritesEndpointsThenCrossings) {
    bool accepted = false;
    EXPECT_EQ(cut({5, 5}, {30, 20}), (pts{{5, 5}, {30, 20}}));
    EXPECT_EQ(cut({5, 5}, {30, 20}, true, false), (pts{{5, 5}}));
    EXPECT_EQ(cut({5, 5}, {30, 20}, false, false, &accepted), pts{});
    EXPECT_TRUE(accepted);
    EXPECT_EQ(cut({-5, 3}, {-10, 20}, true, true, &accepted), pts{});
    EXPECT_FALSE(accepted);
    // The attribute is taken where the segment leaves, at column 40.
    EXPECT_EQ(cut({10, 10, 0}, {50, 10, 100}), (pts{{10, 10, 0}, {39, 10, 75}}));
    EXPECT_EQ(cut({50, 10, 100}, {10, 10, 0}), (pts{{10, 10, 0}, {39, 10, 75}}));
    EXPECT_EQ(cut({-10, 15}, {50, 15}), (pts{{0, 15}, {39, 15}}));
    EXPECT_EQ(cut({-20, -20}, {60, 50}), (pts{{2, 0}, {36, 29}}));
    // -21 / 8 truncates toward zero to -2: row 5, not 4.
    EXPECT_EQ(cut({-3, 7}, {5, 0}), (pts{{5, 0}, {0, 5}}));
}

TEST(CutPoints, CornersAndRejection) {
    bool accepted = false;
    // Beyond the bottom-right corner: moved to the bottom row first, where it
    // is still right of the picture, then to the last column.
    EXPECT_EQ(cut({10, 10}, {50, 30}, true, true, &accepted), (pts{{10, 10}, {50, 29}, {39, 24}}));
    EXPECT_TRUE(accepted);
    EXPECT_EQ(cut({39, 29}, {40, 30}), (pts{{39, 29}, {40, 29}, {39, 29}}));
    // Two crossings of the first endpoint, both outside, then rejection.
    EXPECT_EQ(cut({66, 55}, {37, -7}, true, true, &accepted), (pts{{55, 29}, {39, -1}}));
    EXPECT_FALSE(accepted);
    std::array<int, 4> xs{};
    std::array<int, 4> ys{};
    std::array<int, 4> zs{};
    ASSERT_EQ(cutsegment({0, 0}, 40, 30, {1.0, -1.0, -2.7}, {2.0, -2.0, 0.0}, xs.data(), ys.data(),
                         zs.data(), true, false)
                  .count,
              1);
    EXPECT_EQ(zs[0], -2);
    // An empty picture rejects every segment, after at most one point.
    for (pt a : {pt{0, 0}, pt{-5, 3}, pt{5, -3}, pt{7, 7}}) {
        for (pt b : {pt{0, 0}, pt{9, -4}, pt{-6, 8}, pt{3, 3}}) {
            const auto out = cut(a, b, true, true, &accepted, 0, 0);
            EXPECT_LE(out.size(), 1U);
            EXPECT_FALSE(accepted);
        }
    }
}

TEST(CutPoints, FarAndNonFiniteInput) {
    bool accepted = false;
    for (int far : {1'000'000, 1'000'000'000}) {
        EXPECT_EQ(cut({-far, 15}, {far, 15}, true, true, &accepted), (pts{{0, 15}, {39, 15}}));
        // The bottom crossing is taken on row 30, then set one row up.
        EXPECT_EQ(cut({-far, -far}, {far, far}, true, true, &accepted), (pts{{0, 0}, {30, 29}}));
        EXPECT_TRUE(accepted);
    }
    const double bad[] = {std::nan(""), HUGE_VAL, -HUGE_VAL};
    for (double v : bad) {
        int xs[4];
        int ys[4];
        EXPECT_EQ(
            cutsegment({0, 0}, 40, 30, {v, 1.0, 0.0}, {1.0, 1.0, 0.0}, xs, ys, nullptr, true, true)
                .count,
            0);
    }
}

TEST(CutPoints, MemberOverloadsUseTheEngine) {
    trel::engine2dxy e(40, 30, nullptr); // origin at column 20, row 15
    int xs[4];
    int ys[4];
    int zs[4];
    EXPECT_EQ(trel::cutpointsaccess::cut(e, xs, ys, trel::test::xy(20, 15, 10, 10),
                                         trel::test::xy(20, 15, 50, 30), true, true),
              3);
    EXPECT_EQ(xs[2], 39);
    EXPECT_EQ(ys[2], 24);
    EXPECT_EQ(trel::cutpointsaccess::cut(e, xs, ys, zs, trel::test::xy(20, 15, 10, 10, 0.0),
                                         trel::test::xy(20, 15, 50, 10, 100.0), true, true),
              2);
    EXPECT_EQ(zs[1], 75);
}

} // namespace
