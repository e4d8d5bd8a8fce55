// The line stepper between clipped points, flat and depth-tested.
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "raster/line.h"
#include "support.h"

namespace {

using trel::test::pixelset;

// A picture with its own pixel and depth planes, the depth cleared to -32000.
struct picture {
    int w;
    int h;
    std::vector<std::uint32_t> px;
    std::vector<std::int16_t> z;
    picture(int w, int h)
        : w(w), h(h), px(static_cast<std::size_t>(w) * h, 0),
          z(static_cast<std::size_t>(w) * h, -32000) {}
    trel::detail::surface surface() {
        return {px.data(), z.data(), w, h, trel::test::reciprocals()};
    }
    pixelset line(int x1, int y1, int x2, int y2) {
        std::fill(px.begin(), px.end(), 0);
        trel::detail::flatline(surface(), x1, y1, x2, y2, 1);
        return trel::test::written(px.data(), w, h, 0);
    }
    std::int16_t depth(int x, int y) const { return z[static_cast<std::size_t>(y) * w + x]; }
    std::uint32_t pixel(int x, int y) const { return px[static_cast<std::size_t>(y) * w + x]; }
};

TEST(FlatLine, PixelLists) {
    picture p(20, 20);
    EXPECT_EQ(p.line(0, 0, 3, 1), (pixelset{{0, 0}, {1, 0}, {2, 1}, {3, 1}}));
    EXPECT_EQ(p.line(3, 1, 0, 0), (pixelset{{0, 0}, {1, 0}, {2, 1}, {3, 1}}));
    EXPECT_EQ(p.line(10, 10, 16, 7),
              (pixelset{{10, 10}, {11, 10}, {12, 9}, {13, 9}, {14, 8}, {15, 8}, {16, 7}}));
    const pixelset steep{{5, 10}, {5, 9}, {5, 8}, {5, 7}, {6, 6}, {6, 5}, {6, 4}};
    EXPECT_EQ(p.line(5, 10, 6, 4), steep);
    EXPECT_EQ(p.line(6, 4, 5, 10), steep);
    EXPECT_EQ(p.line(0, 0, 4, 3), (pixelset{{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 3}}));
    EXPECT_EQ(p.line(0, 0, 3, 3), (pixelset{{0, 0}, {1, 1}, {2, 2}, {3, 3}}));
    EXPECT_EQ(p.line(7, 2, 7, 6), (pixelset{{7, 2}, {7, 3}, {7, 4}, {7, 5}, {7, 6}}));
    EXPECT_EQ(p.line(7, 6, 7, 2), (pixelset{{7, 2}, {7, 3}, {7, 4}, {7, 5}, {7, 6}}));
    EXPECT_EQ(p.line(9, 9, 9, 9), (pixelset{{9, 9}}));
    EXPECT_EQ(p.line(19, 0, 0, 19).size(), 20U);
}

// The truncated table entry makes long lines fall behind on the minor axis.
TEST(FlatLine, LongLinesEndShort) {
    picture p(1001, 1000);
    auto last = [&](int x1, int y1, int x2, int y2, int ex, int ey) {
        const pixelset s = p.line(x1, y1, x2, y2);
        EXPECT_EQ(s.size(),
                  static_cast<std::size_t>(std::max(std::abs(x2 - x1), std::abs(y2 - y1)) + 1));
        EXPECT_TRUE(s.count({ex, ey})) << x2 << "," << y2;
        EXPECT_FALSE(s.count({x2, y2}));
    };
    last(0, 0, 640, 479, 640, 477);
    last(0, 479, 640, 0, 640, 2);
    last(0, 0, 479, 640, 477, 640);
    last(0, 0, 1000, 999, 1000, 991);
    // A power-of-two length reaches its far end exactly.
    EXPECT_TRUE(p.line(0, 0, 512, 301).count({512, 301}));
}

TEST(DepthLine, DepthsAlongTheLine) {
    picture p(16, 16);
    // Depths are handed over directly; endpoints (0,0) and (4,0) at -10 and -50.
    trel::detail::depthline(p.surface(), 0, 0, -10, 4, 0, -50, 7);
    for (int x = 0; x <= 4; ++x) {
        EXPECT_EQ(p.depth(x, 0), -10 - 10 * x);
    }
    picture q(16, 16);
    trel::detail::depthline(q.surface(), 4, 0, -50, 0, 0, -10, 7);
    EXPECT_EQ(q.z, p.z);

    // The shift rounds toward minus infinity.
    picture r(16, 16);
    trel::detail::depthline(r.surface(), 0, 0, -10, 3, 0, -20, 7);
    EXPECT_EQ((std::vector<int>{r.depth(0, 0), r.depth(1, 0), r.depth(2, 0), r.depth(3, 0)}),
              (std::vector<int>{-10, -13, -17, -20}));
    picture s(16, 16);
    trel::detail::depthline(s.surface(), 0, 0, -10, 0, 6, -7, 7);
    std::vector<int> down;
    for (int y = 0; y <= 6; ++y) {
        down.push_back(s.depth(0, y));
    }
    EXPECT_EQ(down, (std::vector<int>{-10, -10, -9, -9, -8, -8, -7}));
}

TEST(DepthLine, StrictTestAndWrappedStart) {
    picture p(8, 8);
    trel::detail::depthline(p.surface(), 0, 3, -10, 7, 3, -10, 1);
    trel::detail::depthline(p.surface(), 3, 0, -15, 3, 7, -15, 2); // behind
    EXPECT_EQ(p.pixel(3, 3), 1U);
    trel::detail::depthline(p.surface(), 3, 0, -10, 3, 7, -10, 3); // equal: the first stays
    EXPECT_EQ(p.pixel(3, 3), 1U);
    EXPECT_EQ(p.pixel(3, 2), 3U);                                // nearer than the line behind
    trel::detail::depthline(p.surface(), 3, 0, -5, 3, 7, -5, 4); // nearer
    EXPECT_EQ(p.pixel(3, 3), 4U);
    EXPECT_EQ(p.depth(3, 3), -5);

    // -32000 never passes a freshly cleared plane; -31999 does.
    picture q(8, 8);
    trel::detail::depthline(q.surface(), 1, 1, -32000, 1, 1, -32000, 5);
    EXPECT_EQ(q.pixel(1, 1), 0U);
    trel::detail::depthline(q.surface(), 1, 1, -31999, 1, 1, -31999, 5);
    EXPECT_EQ(q.pixel(1, 1), 5U);

    // A start depth beyond 16 bits passes the start pixel on its full value
    // and stores its low 16 bits; the stepped pixels carry the wrapped depth.
    picture w(8, 8);
    trel::detail::depthline(w.surface(), 0, 0, 40000, 2, 0, 40000, 6);
    EXPECT_EQ(w.pixel(0, 0), 6U);
    EXPECT_EQ(w.depth(0, 0), static_cast<std::int16_t>(40000 - 65536));
    EXPECT_EQ(w.pixel(1, 0), 6U); // -25536 still beats -32000
    EXPECT_EQ(w.depth(1, 0), -25536);
}

} // namespace
