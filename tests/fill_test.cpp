// The span fillers and the triangle setup's ordering, called directly with
// pixel vertices.
#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <numeric>
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

// The vector forms of the depth span write exactly what the scalar form
// writes, for every length from 0 to 40 and some longer ones (the short
// spans, one block, and the overlapping last block among them; the AVX2 form,
// where the processor has it, from 16 pixels), where every pixel passes, where
// none does and where stored depths near the span's own make some pass; and
// they write nothing past the span.
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
    std::vector<int> lengths(41);
    std::iota(lengths.begin(), lengths.end(), 0);
    lengths.insert(lengths.end(), {47, 48, 63, 64, 65, 100, 257});
    for (const int n : lengths) {
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
#if TREL_AVX2_SPANS
            if (n >= 16 && trel::detail::avx2spans) {
                std::vector<std::int16_t> widezb = zb;
                std::vector<std::uint32_t> widepx = px;
                trel::detail::depthspanavx2(widepx.data(), widezb.data(), n, z, step, 0xC0FFEEU);
                ASSERT_EQ(widezb, scalarzb) << "AVX2, length " << n << ", round " << round;
                ASSERT_EQ(widepx, scalarpx) << "AVX2, length " << n << ", round " << round;
            }
#endif
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

// The quicker forms of the fillers (spans walked without limits for
// triangles inside the picture, short depth spans as one block) write exactly
// the words and depths of the reference forms, which limit every span: over
// random triangles with stored depths that let some pixels pass and some fail,
// and over the triangles whose lower half overshoots past either side border.
TEST(FillTri, QuickerFormsWriteWhatTheReferenceFormsWrite) {
    std::mt19937 random(29);
    const auto between = [&random](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(random);
    };
    struct shape {
        int w;
        int h;
        std::array<fillvertex, 3> t;
    };
    std::vector<shape> shapes = {
        {640, 99, {{{639, 0, 0}, {39, 97, 50}, {639, 98, 9}}}},
        {640, 99, {{{0, 0, 0}, {600, 97, 50}, {0, 98, 9}}}},
        {640, 480, {{{0, 0, 5}, {600, 479, -5}, {0, 479, 0}}}},
        {12, 12, {{{11, 0, 3}, {0, 11, 3}, {11, 11, 3}}}},
        {5, 9, {{{4, 8, 0}, {0, 0, 100}, {4, 0, -100}}}},
    };
    for (int i = 0; i < 400; ++i) {
        const int w = between(1, 48);
        const int h = between(1, 48);
        shape sh{w, h, {}};
        for (auto &v : sh.t) {
            v = {between(0, w - 1), between(0, h - 1), between(-200, 200)};
        }
        if (i % 4 == 0) { // small triangles, the common case
            for (int k = 1; k < 3; ++k) {
                sh.t[k].x = std::clamp(sh.t[0].x + between(-5, 5), 0, w - 1);
                sh.t[k].y = std::clamp(sh.t[0].y + between(-5, 5), 0, h - 1);
            }
        }
        shapes.push_back(sh);
    }
    for (const shape &sh : shapes) {
        for (const bool depth : {false, true}) {
            picture quick(sh.w, sh.h);
            picture reference(sh.w, sh.h);
            for (std::size_t i = 0; i < quick.z.size(); ++i) {
                quick.z[i] = reference.z[i] = static_cast<std::int16_t>(between(-220, 220));
                quick.block.words()[i] = reference.block.words()[i] = static_cast<std::uint32_t>(i);
            }
            const auto &[a, b, c] = sh.t;
            if (depth) {
                trel::detail::filltriz(quick.surface(), a, b, c, 0xC0FFEEU);
                trel::detail::filltrizreference(reference.surface(), a, b, c, 0xC0FFEEU);
            } else {
                trel::detail::filltri(quick.surface(), a, b, c, 0xC0FFEEU);
                trel::detail::filltrireference(reference.surface(), a, b, c, 0xC0FFEEU);
            }
            const auto words = [](picture &p) {
                return std::vector<std::uint32_t>(p.block.words(),
                                                  p.block.words() + p.block.size());
            };
            ASSERT_TRUE(quick.block.intact());
            ASSERT_EQ(words(quick), words(reference))
                << (depth ? "depth" : "flat") << " " << sh.w << "x" << sh.h << " (" << a.x << ","
                << a.y << ") (" << b.x << "," << b.y << ") (" << c.x << "," << c.y << ")";
            ASSERT_EQ(quick.z, reference.z);
        }
    }
}

// Whether depthrun, given the span of `n` columns from `left` in a row of
// `width` depths and pixels, writes there what the scalar span writes, and
// leaves every other word of the row as it was.
::testing::AssertionResult runmatchesscalar(std::vector<std::int16_t> zb,
                                            std::vector<std::uint32_t> px, int width, int left,
                                            int n, trel::detail::fixed z,
                                            trel::detail::fixed step) {
    std::vector<std::int16_t> scalarzb = zb;
    std::vector<std::uint32_t> scalarpx = px;
    trel::detail::depthspanscalar(scalarpx.data() + left, scalarzb.data() + left, n, z, step,
                                  0xC0FFEEU);
    trel::detail::depthrun(px.data(), zb.data(), width, left, n, z, step, 0xC0FFEEU);
    if (zb != scalarzb || px != scalarpx) {
        return ::testing::AssertionFailure()
               << "row of " << width << ", span of " << n << " from " << left;
    }
    return ::testing::AssertionSuccess();
}

// A short depth span is tested and written as one block of eight columns
// inside its row, shifted left where the span ends near the row's end: the
// span's words are what the scalar form writes, and every other word of the
// row stays as it was, for every length up to eight at every place in rows of
// eight to twenty columns; among the stored depths the farthest there is,
// -32768, which the block's lanes outside the span must not replace.
TEST(DepthSpan, ShortSpanBlockTouchesOnlyItsSpan) {
    using trel::detail::fixed;
    std::mt19937 random(31);
    const auto between = [&random](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(random);
    };
    for (int width = 8; width <= 20; ++width) {
        for (int n = 1; n <= 8; ++n) {
            for (int left = 0; left + n <= width; ++left) {
                for (int round = 0; round < 4; ++round) {
                    const auto size = static_cast<std::size_t>(width);
                    std::vector<std::int16_t> zb(size);
                    std::vector<std::uint32_t> px(size);
                    for (std::size_t i = 0; i < size; ++i) {
                        zb[i] = static_cast<std::int16_t>(round == 0   ? -32000
                                                          : round == 3 ? -32768
                                                                       : between(-40, 40));
                        px[i] = static_cast<std::uint32_t>(between(0, 1 << 30));
                    }
                    const fixed z = trel::detail::depthseed(between(-40, 40));
                    const auto step = static_cast<fixed>(between(-8 * 65536, 8 * 65536));
                    ASSERT_TRUE(runmatchesscalar(zb, px, width, left, n, z, step)) << round;
                }
            }
        }
    }
}

// A span of any length is tested and written in blocks of eight columns that
// do not overlap, the last one with its lanes past the span switched off, when
// the row has room for them after the span, and otherwise the ways above: the
// span's words are what the scalar form writes and every other word of the
// row stays as it was, for every length and place in rows of one to forty
// columns, where every pixel passes, where none does and where some do.
TEST(DepthSpan, SpansInBlocksTouchOnlyTheirSpan) {
    using trel::detail::fixed;
    std::mt19937 random(41);
    const auto between = [&random](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(random);
    };
    for (int width = 1; width <= 40; ++width) {
        for (int n = 1; n <= width; ++n) {
            for (int left = 0; left + n <= width; ++left) {
                for (int round = 0; round < 3; ++round) {
                    const auto size = static_cast<std::size_t>(width);
                    std::vector<std::int16_t> zb(size);
                    std::vector<std::uint32_t> px(size);
                    for (std::size_t i = 0; i < size; ++i) {
                        zb[i] = static_cast<std::int16_t>(round == 0   ? -32768
                                                          : round == 1 ? 32767
                                                                       : between(-40, 40));
                        px[i] = static_cast<std::uint32_t>(between(0, 1 << 30));
                    }
                    const fixed z = trel::detail::depthseed(between(-40, 40)) +
                                    static_cast<fixed>(between(0, 0xffff));
                    const auto step = static_cast<fixed>(between(-4 * 65536, 4 * 65536));
                    ASSERT_TRUE(runmatchesscalar(zb, px, width, left, n, z, step)) << round;
                }
            }
        }
    }
}

// A triangle whose corners all lie inside the picture is filled without the
// clipper; the long way writes the same pixels and depths, on all three
// setups, for triangles inside, touching the last column and row, and
// reaching out of the picture.
TEST(Triangle, InsideTrianglesSkipTheClipperWithoutChangingAPixel) {
    using trel::detail::trimode;
    std::mt19937 random(37);
    const auto between = [&random](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(random);
    };
    constexpr int w = 24;
    constexpr int h = 20;
    const trel::detail::origin o{w / 2, h / 2};
    int inside = 0;
    for (int i = 0; i < 600; ++i) {
        quim::point p[3];
        for (quim::point &q : p) {
            q = {between(-52, 52) / 4.0, between(-48, 48) / 4.0, between(-48, 48) / 4.0};
        }
        const int mode = i % 4;
        picture quick(w, h);
        picture reference(w, h);
        for (std::size_t k = 0; k < quick.z.size(); ++k) {
            quick.z[k] = reference.z[k] = static_cast<std::int16_t>(between(-12, 12));
        }
        if (mode == 3) {
            trel::detail::trianglexy(quick.surface(), o, p[0], p[1], p[2], 0x123456);
            trel::detail::trianglexyclipped(reference.surface(), o, p[0], p[1], p[2], 0x123456);
        } else {
            const trimode m = mode == 0   ? trimode::plain
                              : mode == 1 ? trimode::shaded
                                          : trimode::depth;
            trel::detail::trianglexz(quick.surface(), o, p[0], p[1], p[2], 0x123456, m);
            trel::detail::trianglexzclipped(reference.surface(), o, p[0], p[1], p[2], 0x123456, m);
        }
        const bool in = std::all_of(p, p + 3, [&](const quim::point &q) {
            const double up = mode == 3 ? q.y : q.z;
            const long x = o.x + static_cast<long>(q.x);
            const long y = o.y - static_cast<long>(up);
            return x >= 0 && x < w && y >= 0 && y < h;
        });
        inside += in ? 1 : 0;
        ASSERT_TRUE(std::equal(quick.block.words(), quick.block.words() + quick.block.size(),
                               reference.block.words()))
            << "case " << i;
        ASSERT_EQ(quick.z, reference.z) << "case " << i;
    }
    EXPECT_GT(inside, 100); // the quick path was taken often
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
