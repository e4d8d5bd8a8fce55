// The span fillers and the triangle setup's ordering, called directly with
// pixel vertices.
#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include <gtest/gtest.h>
#include <quim/quim.h>

#include "raster/depthspan.h"
#include "raster/fill.h"
#include "raster/triangle.h"
#include "support.h"

namespace {

using trel::detail::fillvertex;

// Rows of a fill: row -> (first column, last column), with every row checked
// to be one unbroken span.
using rows = std::map<int, std::pair<int, int>>;

struct picture {
    int w;
    int h;
    trel::test::guardedblock block;
    std::vector<std::int16_t> z;
    picture(int w, int h)
        : w(w), h(h), block(static_cast<std::size_t>(w) * h),
          z(static_cast<std::size_t>(w) * h, -32000) {
        std::fill_n(block.words(), block.size(), 0U);
    }
    trel::detail::surface surface() {
        return {block.words(), z.data(), w, h, trel::test::reciprocals()};
    }
    std::uint32_t pixel(int x, int y) { return block.words()[static_cast<std::size_t>(y) * w + x]; }
    int depth(int x, int y) const { return z[static_cast<std::size_t>(y) * w + x]; }
    rows spans() {
        rows out;
        for (const auto &[x, y] : trel::test::written(block.words(), w, h, 0)) {
            auto [it, fresh] = out.try_emplace(y, x, x);
            if (!fresh) {
                EXPECT_EQ(x, it->second.second + 1) << "gap in row " << y;
                it->second.second = x;
            }
        }
        return out;
    }
};

rows fill(fillvertex a, fillvertex b, fillvertex c, int w = 16, int h = 16) {
    picture p(w, h);
    trel::detail::filltri(p.surface(), a, b, c, 1);
    EXPECT_TRUE(p.block.intact());
    return p.spans();
}

TEST(FillTri, FlatTop) {
    rows expect;
    expect[0] = {0, 10};
    for (int r = 1; r <= 10; ++r) {
        expect[r] = {0, 10 - r};
    }
    EXPECT_EQ(fill({0, 0, 0}, {10, 0, 0}, {0, 10, 0}), expect);
    // The right edge still lies at column 1 on row 1, but the span's length
    // comes from the difference of the full positions.
    EXPECT_EQ(fill({0, 0, 0}, {1, 0, 0}, {0, 3, 0}),
              (rows{{0, {0, 1}}, {1, {0, 0}}, {2, {0, 0}}, {3, {0, 0}}}));
}

TEST(FillTri, GeneralCase) {
    EXPECT_EQ(fill({0, 0, 0}, {10, 5, 0}, {2, 10, 0}), (rows{{0, {0, 0}},
                                                             {1, {0, 2}},
                                                             {2, {0, 4}},
                                                             {3, {1, 6}},
                                                             {4, {1, 8}},
                                                             {5, {1, 10}},
                                                             {6, {1, 8}},
                                                             {7, {1, 7}},
                                                             {8, {2, 5}},
                                                             {9, {2, 4}},
                                                             {10, {2, 2}}}));
    EXPECT_EQ(fill({5, 0, 0}, {0, 4, 0}, {9, 4, 0}),
              (rows{{0, {5, 5}}, {1, {4, 6}}, {2, {2, 7}}, {3, {1, 8}}, {4, {0, 9}}}));
}

TEST(FillTri, OneRowAndOrder) {
    // Three vertices on one row: only the stretch between the first two.
    EXPECT_EQ(fill({0, 7, 0}, {4, 7, 0}, {9, 7, 0}), (rows{{7, {0, 4}}}));
    EXPECT_EQ(fill({0, 7, 0}, {9, 7, 0}, {4, 7, 0}), (rows{{7, {0, 9}}}));
    EXPECT_EQ(fill({3, 3, 0}, {3, 3, 0}, {3, 3, 0}), (rows{{3, {3, 3}}}));
    // Otherwise the order in which the vertices come does not matter.
    std::array<fillvertex, 3> v{{{1, 1, 0}, {14, 6, 0}, {5, 13, 0}}};
    const rows first = fill(v[0], v[1], v[2]);
    std::sort(v.begin(), v.end(), [](auto &a, auto &b) { return a.x < b.x; });
    do {
        EXPECT_EQ(fill(v[0], v[1], v[2]), first);
    } while (std::next_permutation(v.begin(), v.end(), [](auto &a, auto &b) { return a.x < b.x; }));
}

TEST(FillTri, LongEdgeFallsShort) {
    const rows r = fill({0, 0, 0}, {600, 479, 0}, {0, 479, 0}, 640, 480);
    EXPECT_EQ(r.at(479), (std::pair{0, 596}));
    // The short edge goes on from where the upper half left it rather than
    // from its middle vertex, overshooting the triangle near the bottom.
    EXPECT_EQ(fill({469, 50, 0}, {83, 448, 0}, {475, 450, 0}, 480, 460).at(450).second, 477);
}

// A lower half that overshoots past the picture's side is cut at the border,
// on the last row too, where the next word is past the end of the plane.
TEST(FillTri, OvershootStaysInsideThePicture) {
    picture right(640, 99);
    trel::detail::filltriz(right.surface(), {639, 0, 0}, {39, 97, 0}, {639, 98, 0}, 1);
    EXPECT_TRUE(right.block.intact());
    EXPECT_EQ(right.pixel(639, 98), 1U);
    picture left(640, 99);
    trel::detail::filltri(left.surface(), {0, 0, 0}, {600, 97, 0}, {0, 98, 0}, 1);
    EXPECT_TRUE(left.block.intact());
    for (int y = 0; y < 99; ++y) {
        EXPECT_EQ(left.pixel(639, y), 0U) << "row " << y; // no wrap into the row above
    }
    EXPECT_EQ(left.pixel(0, 98), 1U);
}

TEST(FillTriZ, DepthRows) {
    picture p(8, 8);
    trel::detail::filltriz(p.surface(), {0, 0, 0}, {4, 0, 40}, {0, 4, 0}, 1);
    for (int y = 0; y <= 4; ++y) {
        for (int x = 0; x <= 4 - y; ++x) {
            EXPECT_EQ(p.depth(x, y), 10 * x) << x << "," << y;
        }
        EXPECT_EQ(p.depth(5 - y, y), -32000);
    }
    picture g(8, 8);
    trel::detail::filltriz(g.surface(), {0, 0, 0}, {4, 2, 40}, {2, 4, 80}, 1);
    const rows expect{{0, {0, 0}}, {1, {0, 2}}, {2, {1, 4}}, {3, {1, 3}}, {4, {2, 2}}};
    EXPECT_EQ(g.spans(), expect);
    for (const auto &[y, span] : expect) {
        for (int x = span.first; x <= span.second; ++x) {
            EXPECT_EQ(g.depth(x, y), 20 * y) << x << "," << y;
        }
    }
}

TEST(FillTriZ, SamePixelsAsTheFlatFill) {
    const std::array<std::array<fillvertex, 3>, 6> cases{{
        {{{0, 0, 5}, {10, 5, -7}, {2, 10, 100}}},
        {{{5, 0, 0}, {0, 4, 3}, {9, 4, 1}}},
        {{{12, 3, 0}, {1, 3, 9}, {7, 14, -30}}},
        {{{0, 7, 0}, {9, 7, 0}, {4, 7, 0}}},
        {{{15, 0, 0}, {0, 15, 0}, {15, 15, 0}}},
        {{{3, 9, 1000}, {14, 2, -1000}, {8, 15, 0}}},
    }};
    for (const auto &t : cases) {
        picture flat(16, 16);
        picture deep(16, 16);
        trel::detail::filltri(flat.surface(), t[0], t[1], t[2], 1);
        trel::detail::filltriz(deep.surface(), t[0], t[1], t[2], 1);
        EXPECT_EQ(flat.spans(), deep.spans());
    }
}

// The vector form of the depth span writes exactly what the scalar form
// writes, for every length from 0 to 40 (the short spans, one block, and the
// overlapping last block among them), where every pixel passes, where none
// does and where stored depths near the span's own make some pass; and it
// writes nothing past the span.
TEST(DepthSpan, VectorFormWritesWhatTheScalarFormWrites) {
#if !defined(__SSE2__)
    GTEST_SKIP() << "this target has only the scalar form";
#else
    using trel::detail::fixed;
    constexpr int beyond = 9; // words after the span that must stay as they are
    std::mt19937 random(13);
    const auto between = [&random](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(random);
    };
    for (int n = 0; n <= 40; ++n) {
        for (int round = 0; round < 24; ++round) {
            const auto size = static_cast<std::size_t>(n + beyond);
            std::vector<std::int16_t> zb(size);
            std::vector<std::uint32_t> px(size);
            for (std::size_t i = 0; i < size; ++i) {
                const int stored = round == 0 ? -32000 : round == 1 ? 32767 : between(-300, 300);
                zb[i] = static_cast<std::int16_t>(stored);
                px[i] = static_cast<std::uint32_t>(between(0, 1 << 30));
            }
            const fixed z = trel::detail::depthseed(between(-200, 200)) +
                            static_cast<fixed>(between(0, 0xffff));
            const auto step = static_cast<fixed>(between(-3 * 65536, 3 * 65536));
            std::vector<std::int16_t> scalarzb = zb;
            std::vector<std::uint32_t> scalarpx = px;
            trel::detail::depthspanscalar(scalarpx.data(), scalarzb.data(), n, z, step, 0xC0FFEEU);
            trel::detail::depthspansse2(px.data(), zb.data(), n, z, step, 0xC0FFEEU);
            ASSERT_EQ(zb, scalarzb) << "length " << n << ", round " << round;
            ASSERT_EQ(px, scalarpx) << "length " << n << ", round " << round;
            if (round == 0 && n > 0) {
                ASSERT_EQ(px[static_cast<std::size_t>(n - 1)], 0xC0FFEEU) << "length " << n;
            }
            if (round == 1) {
                ASSERT_EQ(std::count(px.begin(), px.end(), 0xC0FFEEU), 0) << "length " << n;
            }
        }
    }
#endif
}

TEST(Polygon, AngularOrderAboutTheCentroid) {
    trel::detail::polygon square;
    square.n = 4;
    const int xs[] = {10, 30, 30, 10};
    const int ys[] = {20, 20, 40, 40};
    for (int i = 0; i < 4; ++i) {
        square.x[i] = xs[i];
        square.y[i] = ys[i];
        square.a[i] = i;
    }
    trel::detail::orderpolygon(square);
    EXPECT_EQ((std::vector<int>(square.x, square.x + 4)), (std::vector<int>{10, 30, 30, 10}));
    EXPECT_EQ((std::vector<int>(square.y, square.y + 4)), (std::vector<int>{40, 40, 20, 20}));
    EXPECT_EQ((std::vector<int>(square.a, square.a + 4)), (std::vector<int>{3, 2, 1, 0}));

    // Equal angles keep their order; a vertex on the centroid's row takes the
    // positive angle (180 degrees, last), one a row lower the negative one.
    trel::detail::polygon p;
    p.n = 5;
    const int px[] = {20, 5, 10, 5, 30};
    const int py[] = {10, 10, 10, 11, 10};
    for (int i = 0; i < 5; ++i) {
        p.x[i] = px[i];
        p.y[i] = py[i];
        p.a[i] = i;
    }
    trel::detail::orderpolygon(p); // centroid (14, 10)
    EXPECT_EQ((std::vector<int>(p.a, p.a + 5)), (std::vector<int>{3, 0, 4, 1, 2}));
}

} // namespace
