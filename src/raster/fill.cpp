#include "fill.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "depthspan.h"
#include "fixed.h"
#include "store.h"

namespace trel::detail {

void depthspanscalar(std::uint32_t *px, std::int16_t *zb, int n, fixed z, fixed step,
                     std::uint32_t word) {
    for (int i = 0; i < n; ++i) {
        const std::int32_t d = whole(z);
        if (d > zb[i]) {
            zb[i] = static_cast<std::int16_t>(d);
            px[i] = word;
        }
        z += step;
    }
}

#if defined(__SSE2__)
namespace {

int lane(fixed v) { return static_cast<int>(v); }

// Spans of up to three pixels, one at a time. Both words are stored whatever
// the test gives, so that the test needs no branch.
void depthspanbelowfour(std::uint32_t *px, std::int16_t *zb, int n, fixed z, fixed step,
                        std::uint32_t word) {
    for (int i = 0; i < n; ++i) {
        const std::int32_t d = whole(z);
        const std::int32_t old = zb[i];
        const std::uint32_t pass = 0U - static_cast<std::uint32_t>(d > old);
        zb[i] = static_cast<std::int16_t>((static_cast<std::uint32_t>(d) & pass) |
                                          (static_cast<std::uint32_t>(old) & ~pass));
        px[i] = (word & pass) | (px[i] & ~pass);
        z += step;
    }
}

// Four pixels from `at`, whose first accumulator is z + at * step. Lanes that
// fail keep what they hold.
void depthspanfour(std::uint32_t *px, std::int16_t *zb, int at, fixed z, fixed step,
                   __m128i colour) {
    const fixed first = z + static_cast<fixed>(at) * step;
    const __m128i acc = _mm_setr_epi32(lane(first), lane(first + step), lane(first + 2 * step),
                                       lane(first + 3 * step));
    const __m128i d = _mm_packs_epi32(_mm_srai_epi32(acc, 16), _mm_setzero_si128());
    auto *zp = reinterpret_cast<__m128i *>(zb + at);
    auto *pp = reinterpret_cast<__m128i *>(px + at);
    const __m128i old = _mm_loadl_epi64(zp);
    const __m128i pass = _mm_cmpgt_epi16(d, old);
    const int mask = _mm_movemask_epi8(pass) & 0xFF;
    if (mask == 0xFF) {
        _mm_storel_epi64(zp, d);
        _mm_storeu_si128(pp, colour);
    } else if (mask != 0) {
        _mm_storel_epi64(zp, _mm_or_si128(_mm_and_si128(pass, d), _mm_andnot_si128(pass, old)));
        const __m128i wide = _mm_unpacklo_epi16(pass, pass);
        _mm_storeu_si128(pp, _mm_or_si128(_mm_and_si128(wide, colour),
                                          _mm_andnot_si128(wide, _mm_loadu_si128(pp))));
    }
}

// Spans of four to seven pixels: the first four, then the last four,
// overlapping. The test is strict, so a pixel written by the first block
// holds exactly the depth it is tested with again, fails and keeps it.
void depthspanbeloweight(std::uint32_t *px, std::int16_t *zb, int n, fixed z, fixed step,
                         __m128i colour) {
    depthspanfour(px, zb, 0, z, step, colour);
    depthspanfour(px, zb, n - 4, z, step, colour);
}

} // namespace

// Eight pixels at a time. The whole part of a 32-bit accumulator always fits
// in 16 bits, so the saturating pack keeps it as it is, and the signed 16-bit
// comparison is the scalar one. Lanes that fail keep what they hold: they are
// stored back unchanged.
void depthspansse2(std::uint32_t *px, std::int16_t *zb, int n, fixed z, fixed step,
                   std::uint32_t word) {
    if (n < 4) {
        depthspanbelowfour(px, zb, n, z, step, word);
        return;
    }
    const __m128i colour = _mm_set1_epi32(lane(word));
    if (n < 8) {
        depthspanbeloweight(px, zb, n, z, step, colour);
        return;
    }
    const __m128i step8 = _mm_set1_epi32(lane(8 * step));
    // The accumulators of pixels at to at + 3 and at + 4 to at + 7.
    const auto lanesat = [&](int at, __m128i &lo, __m128i &hi) {
        const fixed first = z + static_cast<fixed>(at) * step;
        lo = _mm_setr_epi32(lane(first), lane(first + step), lane(first + 2 * step),
                            lane(first + 3 * step));
        hi = _mm_add_epi32(lo, _mm_set1_epi32(lane(4 * step)));
    };
    const auto eight = [&](int at, __m128i lo, __m128i hi) {
        const __m128i d = _mm_packs_epi32(_mm_srai_epi32(lo, 16), _mm_srai_epi32(hi, 16));
        auto *zp = reinterpret_cast<__m128i *>(zb + at);
        auto *pp = reinterpret_cast<__m128i *>(px + at);
        const __m128i old = _mm_loadu_si128(zp);
        const __m128i pass = _mm_cmpgt_epi16(d, old);
        const int mask = _mm_movemask_epi8(pass);
        if (mask == 0xFFFF) {
            _mm_storeu_si128(zp, d);
            _mm_storeu_si128(pp, colour);
            _mm_storeu_si128(pp + 1, colour);
        } else if (mask != 0) {
            const auto select = [](__m128i m, __m128i a, __m128i b) {
                return _mm_or_si128(_mm_and_si128(m, a), _mm_andnot_si128(m, b));
            };
            _mm_storeu_si128(zp, select(pass, d, old));
            _mm_storeu_si128(pp,
                             select(_mm_unpacklo_epi16(pass, pass), colour, _mm_loadu_si128(pp)));
            _mm_storeu_si128(
                pp + 1, select(_mm_unpackhi_epi16(pass, pass), colour, _mm_loadu_si128(pp + 1)));
        }
    };
    __m128i zlo;
    __m128i zhi;
    lanesat(0, zlo, zhi);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        eight(i, zlo, zhi);
        zlo = _mm_add_epi32(zlo, step8);
        zhi = _mm_add_epi32(zhi, step8);
    }
    if (i < n) {
        // The last eight pixels, overlapping some already done. The test is
        // strict, so those fail now and keep what they hold: a pixel written
        // above holds exactly the depth it is tested with again.
        lanesat(n - 8, zlo, zhi);
        eight(n - 8, zlo, zhi);
    }
}
#endif

namespace {

// Writes one span of `count` + 1 pixels from column `left` of `row`, with
// depth z0 at the left end rising by `step` per pixel. The span is limited to
// the picture: a lower half that overshoots the triangle can reach past either
// side border, and every pixel still written keeps the depth the whole span
// gives it there. Always inlined: as a call per row, which the compiler
// otherwise makes it, it adds a tenth to the flat fill's instructions.
template <bool Depth>
[[gnu::always_inline]] inline void span(const surface &s, std::uint32_t word, int row, int left,
                                        int count, fixed z0, fixed step) {
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
        // A long span takes the string store.
        if (n >= stringstoremin) {
            stringstore(s.pixels + off, static_cast<std::size_t>(n), word);
        } else {
            std::fill_n(s.pixels + off, n, word);
        }
    } else {
        depthspan(s.pixels + off, s.zbuf + off, n, z0, step, word);
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

// The general case, t1 above t2: the apex alone on the top row, then one span
// per row between the long edge t1-t3 and the short edges t1-t2 and t2-t3.
template <bool Depth>
void fillgeneral(const surface &s, const fillvertex &t1, const fillvertex &t2, const fillvertex &t3,
                 std::uint32_t word) {
    edge longedge = makeedge(t1, t3, rcpat(s.rcp, t3.y - t1.y));
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
}

// The flat top, t1 and t2 on one row: edges t1-t3 (from t1's column) and
// t2-t3 (from t2's column). Which one is left is decided once, from the two
// top vertices (t1 on a tie); each span's length comes from the difference
// of the full 16.16 positions.
template <bool Depth>
void fillflattop(const surface &s, const fillvertex &t1, const fillvertex &t2, const fillvertex &t3,
                 std::uint32_t word) {
    const int r13 = rcpat(s.rcp, t3.y - t1.y);
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

// Orders the vertices by row with strict comparisons: vertices on one row
// keep their order.
[[gnu::always_inline]] inline void orderbyrow(fillvertex &t1, fillvertex &t2, fillvertex &t3) {
    if (t1.y > t2.y) {
        std::swap(t1, t2);
    }
    if (t1.y > t3.y) {
        std::swap(t1, t3);
    }
    if (t2.y > t3.y) {
        std::swap(t2, t3);
    }
}

template <bool Depth>
void fill(const surface &s, fillvertex t1, fillvertex t2, fillvertex t3, std::uint32_t word) {
    orderbyrow(t1, t2, t3);
    if (t1.y < t2.y) {
        fillgeneral<Depth>(s, t1, t2, t3, word);
    } else {
        fillflattop<Depth>(s, t1, t2, t3, word);
    }
}

} // namespace

void filltrireference(const surface &s, fillvertex t1, fillvertex t2, fillvertex t3,
                      std::uint32_t word) {
    fill<false>(s, t1, t2, t3, word);
}

void filltrizreference(const surface &s, fillvertex t1, fillvertex t2, fillvertex t3,
                       std::uint32_t word) {
    fill<true>(s, t1, t2, t3, word);
}

namespace {

// The n words from p, all set to `word`, each stored exactly once or, where
// two stores overlap, twice with the same word; nothing outside them.
[[gnu::always_inline]] inline void flatrun(std::uint32_t *p, int n, std::uint32_t word) {
#if defined(__SSE2__)
    if (n < 4) {
        // One to three words: the first, the middle and the last.
        p[0] = word;
        p[n >> 1] = word;
        p[n - 1] = word;
        return;
    }
    const __m128i colour = _mm_set1_epi32(static_cast<int>(word));
    auto *q = reinterpret_cast<__m128i *>(p);
    auto *last = reinterpret_cast<__m128i *>(p + n - 4);
    if (n <= 8) {
        _mm_storeu_si128(q, colour);
        _mm_storeu_si128(last, colour);
        return;
    }
    if (n >= stringstoremin) {
        stringstore(p, static_cast<std::size_t>(n), word);
        return;
    }
    for (int i = 0; i + 4 < n; i += 4) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p + i), colour);
    }
    _mm_storeu_si128(last, colour);
#else
    if (n >= stringstoremin) {
        stringstore(p, static_cast<std::size_t>(n), word);
    } else {
        std::fill_n(p, n, word);
    }
#endif
}

// A triangle whose every span is known to lie inside the picture: the rows
// are walked by pointer, and no span is limited.
// Everything in it is a copy: the planes are written through pointers that
// the compiler must assume may reach the caller's surface, so values read
// from there would be read again after every store.
template <bool Depth> struct rows {
    std::uint32_t *prow;
    std::int16_t *zrow;
    int stride;
    std::uint32_t word;
#if defined(__SSE2__)
    __m128i colour; // the word in every lane, for the depth blocks
#endif

    rows(const surface &s, std::uint32_t w, int y) : stride(s.stride), word(w) {
        const std::ptrdiff_t off = static_cast<std::ptrdiff_t>(y) * s.stride;
        prow = s.pixels + off;
        zrow = Depth ? s.zbuf + off : nullptr;
#if defined(__SSE2__)
        colour = _mm_set1_epi32(static_cast<int>(w));
#endif
    }

    [[gnu::always_inline]] void next() {
        prow += stride;
        if constexpr (Depth) {
            zrow += stride;
        }
    }

    // count + 1 pixels (count >= 0) from column left.
    [[gnu::always_inline]] void span(int left, int count, fixed z, fixed step) const {
        if constexpr (Depth) {
#if defined(__SSE2__)
            depthrun(prow, zrow, stride, left, count + 1, z, step, word, colour);
#else
            depthrun(prow, zrow, stride, left, count + 1, z, step, word);
#endif
        } else {
            flatrun(prow + left, count + 1, word);
        }
    }
};

// Whether a column lies inside the picture.
bool column(const surface &s, int x) {
    return static_cast<unsigned>(x) < static_cast<unsigned>(s.stride);
}

// The general case as fillgeneral draws it, for a triangle inside the
// picture; false, drawing nothing, when the short edge's lower half would
// leave the picture, which only its last row can show (the edges are
// straight, so each half's extreme columns lie on its first and last rows,
// and the other rows of both edges stay between the vertices' columns).
template <bool Depth>
bool fastgeneral(const surface &s, const fillvertex &t1, const fillvertex &t2, const fillvertex &t3,
                 std::uint32_t word) {
    const int dy12 = t2.y - t1.y;
    const int dy23 = t3.y - t2.y;
    const int *rcp = s.rcp;
    const int r12 = rcp[dy12];
    const int r13 = rcp[t3.y - t1.y];
    const int r23 = rcp[dy23];
    const fixed sl = times(t3.x - t1.x, r13);
    const fixed s12 = times(t2.x - t1.x, r12);
    const fixed s23 = times(t3.x - t2.x, r23);
    fixed xs = fixedseed + s12 * static_cast<fixed>(dy12);
    if (!column(s, t1.x + whole(xs + s23 * static_cast<fixed>(dy23)))) {
        return false;
    }
    xs = fixedseed;
    fixed xl = fixedseed;
    fixed zl = depthseed(t1.d);
    fixed zs = zl;
    const fixed zsl = Depth ? times(wrapdiff(t3.d, t1.d), r13) : 0;
    fixed zss = Depth ? times(wrapdiff(t2.d, t1.d), r12) : 0;
    const int x1 = t1.x; // a copy, for the reason rows gives
    rows<Depth> r(s, word, t1.y);
    r.span(x1, 0, zl, 0);
    fixed ss = s12;
    const auto row = [&]() __attribute__((always_inline)) {
        r.next();
        xs += ss;
        xl += sl;
        const bool shortleft = static_cast<std::int32_t>(xs) < static_cast<std::int32_t>(xl);
        const fixed lx = shortleft ? xs : xl;
        const fixed rx = shortleft ? xl : xs;
        const int left = whole(lx);
        const int count = whole(rx) - left;
        fixed z = 0;
        fixed step = 0;
        if constexpr (Depth) {
            zs += zss;
            zl += zsl;
            z = shortleft ? zs : zl;
            const fixed zr = shortleft ? zl : zs;
            step = times(whole(zr - z), rcp[count]);
        }
        r.span(x1 + left, count, z, step);
    };
    for (int i = 0; i < dy12; ++i) {
        row();
    }
    ss = s23;
    if constexpr (Depth) {
        zs = depthseed(t2.d);
        zss = times(wrapdiff(t3.d, t2.d), r23);
    }
    for (int i = 0; i < dy23; ++i) {
        row();
    }
    return true;
}

// The flat top as fillflattop draws it, for a triangle inside the picture:
// both edges run from the top row to the bottom vertex, so every span lies
// between the vertices' columns.
template <bool Depth>
void fastflattop(const surface &s, const fillvertex &t1, const fillvertex &t2, const fillvertex &t3,
                 std::uint32_t word) {
    const int *rcp = s.rcp;
    const int dy = t3.y - t1.y;
    const int r13 = rcp[dy];
    const bool leftis23 = t2.x < t1.x;
    const fillvertex &tl = leftis23 ? t2 : t1;
    const fillvertex &tr = leftis23 ? t1 : t2;
    const int width = tr.x - tl.x;
    const int x0 = tl.x; // a copy, for the reason rows gives
    rows<Depth> r(s, word, t1.y);
    fixed zl = 0;
    fixed zr = 0;
    fixed zsl = 0;
    fixed zsr = 0;
    if constexpr (Depth) {
        zl = depthseed(tl.d);
        zr = depthseed(tr.d);
        zsl = times(wrapdiff(t3.d, tl.d), r13);
        zsr = times(wrapdiff(t3.d, tr.d), r13);
        r.span(x0, width, zl, times(wrapdiff(tr.d, tl.d), rcp[width]));
    } else {
        r.span(x0, width, 0, 0);
    }
    const fixed sl = times(t3.x - tl.x, r13);
    const fixed sr = times(t3.x - tr.x, r13);
    fixed xl = fixedseed;
    // The span's count, whole(xr - xl) + width, kept as one accumulator: the
    // edges' difference plus width shifted left 16. Its whole part is the
    // count exactly, since columns inside the picture stay below 4096 and so
    // no value here comes near 2^31. The depths' difference is kept the same
    // way; it wraps exactly as zr - zl does.
    fixed xc = static_cast<fixed>(width) << 16;
    const fixed sc = sr - sl;
    fixed zd = zr - zl;
    const fixed zsd = zsr - zsl;
    for (int i = 0; i < dy; ++i) {
        r.next();
        xl += sl;
        xc += sc;
        // A span never shorter than one pixel; a negative count reads table
        // entry 0, which is 0, so the depth step is 0.
        const int count = std::max(whole(xc), 0);
        fixed step = 0;
        if constexpr (Depth) {
            zl += zsl;
            zd += zsd;
            step = times(whole(zd), rcp[count]);
        }
        r.span(x0 + whole(xl), count, zl, step);
    }
}

// Always inlined into its callers: as a call of its own it takes the
// vertices whole, which brings back the stall filltrivalues avoids.
template <bool Depth>
[[gnu::always_inline]] inline void fastfill(const surface &s, fillvertex t1, fillvertex t2,
                                            fillvertex t3, std::uint32_t word) {
    orderbyrow(t1, t2, t3);
    // Vertices outside the picture, or a picture taller than the table, go
    // the careful way, which limits every span.
    const bool inside = t1.y >= 0 && t3.y < s.rows && s.rows <= rcpsize && s.stride <= rcpsize &&
                        column(s, t1.x) && column(s, t2.x) && column(s, t3.x);
    if (inside) {
        if (t1.y < t2.y) {
            if (fastgeneral<Depth>(s, t1, t2, t3, word)) {
                return;
            }
        } else {
            fastflattop<Depth>(s, t1, t2, t3, word);
            return;
        }
    }
    fill<Depth>(s, t1, t2, t3, word);
}

} // namespace

void filltri(const surface &s, fillvertex t1, fillvertex t2, fillvertex t3, std::uint32_t word) {
    fastfill<false>(s, t1, t2, t3, word);
}

void filltriz(const surface &s, fillvertex t1, fillvertex t2, fillvertex t3, std::uint32_t word) {
    fastfill<true>(s, t1, t2, t3, word);
}

void filltrivalues(const surface &s, int x1, int y1, int x2, int y2, int x3, int y3,
                   std::uint32_t word) {
    fastfill<false>(s, {x1, y1, 0}, {x2, y2, 0}, {x3, y3, 0}, word);
}

void filltrizvalues(const surface &s, int x1, int y1, std::int32_t d1, int x2, int y2,
                    std::int32_t d2, int x3, int y3, std::int32_t d3, std::uint32_t word) {
    fastfill<true>(s, {x1, y1, d1}, {x2, y2, d2}, {x3, y3, d3}, word);
}

} // namespace trel::detail
