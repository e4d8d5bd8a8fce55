#include "fill.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "fixed.h"

namespace trel::detail {
namespace {

// Writes one span of `count` + 1 pixels from column `left` of `row`, with
// depth z0 at the left end rising by `step` per pixel. The span is limited to
// the picture: a lower half that overshoots the triangle can reach past either
// side border, and every pixel still written keeps the depth the whole span
// gives it there.
template <bool Depth>
void span(const surface &s, std::uint32_t word, int row, int left, int count, fixed z0,
          fixed step) {
    if (row < 0 || row >= s.rows) {
        return;
    }
    int right = left + std::max(count, 0);
    if (left < 0) {
        if constexpr (Depth) {
            z0 += step * static_cast<fixed>(-left);
        }
        left = 0;
    }
    right = std::min(right, s.stride - 1);
    if (right < left) {
        return;
    }
    const std::ptrdiff_t off = static_cast<std::ptrdiff_t>(row) * s.stride + left;
    const int n = right - left + 1;
    if constexpr (!Depth) {
        std::fill_n(s.pixels + off, n, word);
    } else {
        std::uint32_t *px = s.pixels + off;
        std::int16_t *zb = s.zbuf + off;
        for (int i = 0; i < n; ++i) {
            const std::int32_t z = whole(z0);
            if (z > zb[i]) {
                zb[i] = static_cast<std::int16_t>(z);
                px[i] = word;
            }
            z0 += step;
        }
    }
}

// One edge of the triangle: a column accumulator measured from an anchor
// column and, with depth, a depth accumulator.
struct edge {
    fixed x = fixedseed;
    fixed xstep = 0;
    fixed z = 0;
    fixed zstep = 0;

    void advance() {
        x += xstep;
        z += zstep;
    }
};

edge makeedge(const fillvertex &from, const fillvertex &to, int r) {
    edge e;
    e.xstep = times(to.x - from.x, r);
    e.z = depthseed(from.d);
    e.zstep = times(wrapdiff(to.d, from.d), r);
    return e;
}

// The span between a short and a long edge both measured from column x0. The
// left end is decided afresh on every row from the full 16.16 positions; the
// depth step comes from the integer part of the depth difference.
template <bool Depth>
void spanbetween(const surface &s, std::uint32_t word, int row, int x0, const edge &shortedge,
                 const edge &longedge) {
    const bool shortleft =
        static_cast<std::int32_t>(shortedge.x) < static_cast<std::int32_t>(longedge.x);
    const edge &l = shortleft ? shortedge : longedge;
    const edge &r = shortleft ? longedge : shortedge;
    const int count = whole(r.x) - whole(l.x);
    fixed step = 0;
    if constexpr (Depth) {
        step = times(whole(r.z - l.z), rcpat(s.rcp, count));
    }
    span<Depth>(s, word, row, x0 + whole(l.x), count, l.z, step);
}

template <bool Depth>
void fill(const surface &s, fillvertex t1, fillvertex t2, fillvertex t3, std::uint32_t word) {
    // Order by row with strict comparisons: vertices on one row keep their order.
    if (t1.y > t2.y) {
        std::swap(t1, t2);
    }
    if (t1.y > t3.y) {
        std::swap(t1, t3);
    }
    if (t2.y > t3.y) {
        std::swap(t2, t3);
    }
    const int r13 = rcpat(s.rcp, t3.y - t1.y);
    if (t1.y < t2.y) {
        // General case: the apex alone on the top row, then one span per row
        // between the long edge t1-t3 and the short edges t1-t2 and t2-t3.
        edge longedge = makeedge(t1, t3, r13);
        edge shortedge = makeedge(t1, t2, rcpat(s.rcp, t2.y - t1.y));
        span<Depth>(s, word, t1.y, t1.x, 0, longedge.z, 0);
        for (int y = t1.y + 1; y <= t2.y; ++y) {
            shortedge.advance();
            longedge.advance();
            spanbetween<Depth>(s, word, y, t1.x, shortedge, longedge);
        }
        // The short edge turns at t2 without restarting its column: it goes on
        // from where the upper half left it, still measured from t1's column.
        // Its depth starts again at t2.
        const edge lower = makeedge(t2, t3, rcpat(s.rcp, t3.y - t2.y));
        shortedge.xstep = lower.xstep;
        shortedge.z = lower.z;
        shortedge.zstep = lower.zstep;
        for (int y = t2.y + 1; y <= t3.y; ++y) {
            shortedge.advance();
            longedge.advance();
            spanbetween<Depth>(s, word, y, t1.x, shortedge, longedge);
        }
        return;
    }
    // Flat top: edges t1-t3 (from t1's column) and t2-t3 (from t2's column).
    // Which one is left is decided once, from the two top vertices; each
    // span's length comes from the difference of the full 16.16 positions.
    edge e13 = makeedge(t1, t3, r13);
    edge e23 = makeedge(t2, t3, r13);
    const bool leftis23 = t2.x < t1.x;
    const fillvertex &topleft = leftis23 ? t2 : t1;
    const fillvertex &topright = leftis23 ? t1 : t2;
    {
        const int count = topright.x - topleft.x;
        fixed step = 0;
        if constexpr (Depth) {
            step = times(wrapdiff(topright.d, topleft.d), rcpat(s.rcp, count));
        }
        span<Depth>(s, word, t1.y, topleft.x, count, depthseed(topleft.d), step);
    }
    const edge &l = leftis23 ? e23 : e13;
    const edge &r = leftis23 ? e13 : e23;
    for (int y = t1.y + 1; y <= t3.y; ++y) {
        e13.advance();
        e23.advance();
        const int count = whole(r.x - l.x) + topright.x - topleft.x;
        fixed step = 0;
        if constexpr (Depth) {
            step = times(whole(r.z - l.z), rcpat(s.rcp, count));
        }
        span<Depth>(s, word, y, topleft.x + whole(l.x), count, l.z, step);
    }
}

} // namespace

void filltri(const surface &s, fillvertex t1, fillvertex t2, fillvertex t3, std::uint32_t word) {
    fill<false>(s, t1, t2, t3, word);
}

void filltriz(const surface &s, fillvertex t1, fillvertex t2, fillvertex t3, std::uint32_t word) {
    fill<true>(s, t1, t2, t3, word);
}

} // namespace trel::detail
