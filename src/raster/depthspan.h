// The depth-tested pixels of one span, in each form the library has. The
// filler calls the fastest form the target has; every form writes exactly the
// words depthspanscalar writes, which the library's tests and fuzzers check.
#ifndef TREL_RASTER_DEPTHSPAN_H
#define TREL_RASTER_DEPTHSPAN_H

#include <algorithm>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "fixed.h"

// Long depth spans have a form for AVX2, compiled for it on its own and taken
// only on processors that report it (GCC and Clang on x86).
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__)) &&                             \
    (defined(__GNUC__) || defined(__clang__))
#define TREL_AVX2_SPANS 1
#else
#define TREL_AVX2_SPANS 0
#endif

namespace trel::detail {

// Pixel i of the n from px (and its depth at zb) has depth whole(z + i *
// step) and is written, colour and depth, only where that is greater than the
// stored depth.
void depthspanscalar(std::uint32_t *px, std::int16_t *zb, int n, fixed z, fixed step,
                     std::uint32_t word);

#if defined(__SSE2__)
// The same, eight pixels at a time.
void depthspansse2(std::uint32_t *px, std::int16_t *zb, int n, fixed z, fixed step,
                   std::uint32_t word);

// The accumulators z + i * step of lanes 0 to 3 and 4 to 7.
[[gnu::always_inline]] inline void depthlanes(fixed z, fixed step, __m128i &lo, __m128i &hi) {
    const __m128i s = _mm_set1_epi32(static_cast<int>(step));
    // 0, s, s, s, then running sums: 0, s, 2s, 3s.
    __m128i ramp = _mm_slli_si128(s, 4);
    ramp = _mm_add_epi32(ramp, _mm_slli_si128(ramp, 4));
    ramp = _mm_add_epi32(ramp, _mm_slli_si128(ramp, 8));
    lo = _mm_add_epi32(_mm_set1_epi32(static_cast<int>(z)), ramp);
    hi = _mm_add_epi32(lo, _mm_slli_epi32(s, 2));
}

// A span of one to eight pixels from column `left` of a row `width` pixels
// wide (at least eight) that starts at prow and zrow, as one block of eight
// columns inside the row: the block starts at the span's first column, or
// ends at the row's last column when the span lies nearer the end than that.
// Lanes outside the span and lanes that fail the test are stored back as they
// were read; the block never leaves the row.
[[gnu::always_inline]] inline void depthblocksse2(std::uint32_t *prow, std::int16_t *zrow,
                                                  int width, int left, int n, fixed z, fixed step,
                                                  std::uint32_t word) {
    const int start = std::min(left, width - 8);
    const int shift = left - start;
    __m128i lo;
    __m128i hi;
    depthlanes(z - static_cast<fixed>(shift) * step, step, lo, hi);
    const __m128i d = _mm_packs_epi32(_mm_srai_epi32(lo, 16), _mm_srai_epi32(hi, 16));
    auto *zp = reinterpret_cast<__m128i *>(zrow + start);
    const __m128i old = _mm_loadu_si128(zp);
    const __m128i lane = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
    const __m128i inside =
        _mm_andnot_si128(_mm_cmplt_epi16(lane, _mm_set1_epi16(static_cast<short>(shift))),
                         _mm_cmplt_epi16(lane, _mm_set1_epi16(static_cast<short>(shift + n))));
    const __m128i pass = _mm_and_si128(_mm_cmpgt_epi16(d, old), inside);
    const int mask = _mm_movemask_epi8(pass);
    if (mask == 0) {
        return;
    }
    const auto select = [](__m128i m, __m128i a, __m128i b) {
        return _mm_or_si128(_mm_and_si128(m, a), _mm_andnot_si128(m, b));
    };
    _mm_storeu_si128(zp, select(pass, d, old));
    const __m128i colour = _mm_set1_epi32(static_cast<int>(word));
    auto *pp = reinterpret_cast<__m128i *>(prow + start);
    _mm_storeu_si128(pp, select(_mm_unpacklo_epi16(pass, pass), colour, _mm_loadu_si128(pp)));
    _mm_storeu_si128(pp + 1,
                     select(_mm_unpackhi_epi16(pass, pass), colour, _mm_loadu_si128(pp + 1)));
}
#endif

#if TREL_AVX2_SPANS
// Whether this processor runs depthspanavx2: set once while the library is
// loaded (false until then, so that anything drawn earlier takes the SSE2
// forms).
extern const bool avx2spans;

// The same as depthspanscalar for n >= 16, sixteen pixels at a time; only on
// processors with AVX2.
void depthspanavx2(std::uint32_t *px, std::int16_t *zb, int n, fixed z, fixed step,
                   std::uint32_t word);

// Spans this long and longer take depthspanavx2 where it runs: shorter ones
// gain less from the wider blocks than the call costs.
inline constexpr int avx2spanmin = 32;
#endif

#if defined(__SSE2__)
// Row n of the table holds, in lane i, the largest depth (32767) where i < n
// and the smallest (-32768) elsewhere: a block's depths limited by it lose
// the depth test outside the span's first n lanes, whatever is stored there.
alignas(16) inline constexpr std::int16_t depthcaps[9][8] = {
    {-32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768},
    {32767, -32768, -32768, -32768, -32768, -32768, -32768, -32768},
    {32767, 32767, -32768, -32768, -32768, -32768, -32768, -32768},
    {32767, 32767, 32767, -32768, -32768, -32768, -32768, -32768},
    {32767, 32767, 32767, 32767, -32768, -32768, -32768, -32768},
    {32767, 32767, 32767, 32767, 32767, -32768, -32768, -32768},
    {32767, 32767, 32767, 32767, 32767, 32767, -32768, -32768},
    {32767, 32767, 32767, 32767, 32767, 32767, 32767, -32768},
    {32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767},
};

// One block of eight pixels from px and zb whose accumulators are lo (lanes
// 0 to 3) and hi (lanes 4 to 7). With Capped, the depths are first limited
// lane by lane by cap: a lane whose cap is -32768 fails whatever is stored
// there, as no stored depth is less. A lane that passes holds the larger of
// its depth and the stored one, and a lane that fails holds the stored one,
// so the depth plane takes the lane-wise maximum; colours of lanes that fail
// are stored back as they were read. A whole block skips the stores where no
// lane passes and stores its colours without reading them where every lane
// does. The capped block, the last of every span, always stores: whether its
// lanes pass waits on the depth words just read, often a miss at the start
// of a new row, and a branch on it, mispredicted, throws away the work
// started on the rows after it; storing back unchanged words costs less.
template <bool Capped>
[[gnu::always_inline]] inline void depthblock(std::uint32_t *px, std::int16_t *zb, __m128i lo,
                                              __m128i hi, __m128i cap, __m128i colour) {
    __m128i d = _mm_packs_epi32(_mm_srai_epi32(lo, 16), _mm_srai_epi32(hi, 16));
    if constexpr (Capped) {
        d = _mm_min_epi16(d, cap);
    }
    auto *zp = reinterpret_cast<__m128i *>(zb);
    auto *pp = reinterpret_cast<__m128i *>(px);
    const __m128i old = _mm_loadu_si128(zp);
    const __m128i pass = _mm_cmpgt_epi16(d, old);
    if constexpr (!Capped) {
        const int mask = _mm_movemask_epi8(pass);
        if (mask == 0) {
            return;
        }
        if (mask == 0xFFFF) {
            _mm_storeu_si128(zp, d);
            _mm_storeu_si128(pp, colour);
            _mm_storeu_si128(pp + 1, colour);
            return;
        }
    }
    _mm_storeu_si128(zp, _mm_max_epi16(d, old));
    const auto select = [](__m128i m, __m128i a, __m128i b) {
        return _mm_or_si128(_mm_and_si128(m, a), _mm_andnot_si128(m, b));
    };
    _mm_storeu_si128(pp, select(_mm_unpacklo_epi16(pass, pass), colour, _mm_loadu_si128(pp)));
    _mm_storeu_si128(pp + 1,
                     select(_mm_unpackhi_epi16(pass, pass), colour, _mm_loadu_si128(pp + 1)));
}

// The columns a span of n pixels takes as blocks of eight: n rounded up to
// a multiple of eight.
inline int blockcolumns(int n) { return (n + 7) & ~7; }

// A span of n >= 1 pixels from px and zb with blockcolumns(n) columns of its
// row from there: whole blocks of eight, then one block for the last one to
// eight pixels whose lanes past the span are capped off. No two blocks
// overlap, so no block reads words that the one before it has just stored.
[[gnu::always_inline]] inline void depthblocks(std::uint32_t *px, std::int16_t *zb, int n, fixed z,
                                               fixed step, __m128i colour) {
    __m128i lo;
    __m128i hi;
    depthlanes(z, step, lo, hi);
    int i = 0;
    if (n > 8) {
        const __m128i step8 = _mm_set1_epi32(static_cast<int>(8 * step));
        for (; i + 8 < n; i += 8) {
            depthblock<false>(px + i, zb + i, lo, hi, colour, colour);
            lo = _mm_add_epi32(lo, step8);
            hi = _mm_add_epi32(hi, step8);
        }
    }
    depthblock<true>(px + i, zb + i, lo, hi, *reinterpret_cast<const __m128i *>(depthcaps[n - i]),
                     colour);
}
#endif

// The n pixels from column `left` of a row `width` pixels wide that starts at
// prow and zrow: what depthspanscalar writes there. A long span takes
// depthspanavx2 where the processor has AVX2; otherwise a span with room for
// its blocks of eight in the row takes depthblocks, a short one near the row's
// end one block shifted left (depthblocksse2); either may read and store back
// unchanged words of the same row outside the span. `colour` is the word in
// every lane (the filler makes it once per triangle).
#if defined(__SSE2__)
[[gnu::always_inline]] inline void depthrun(std::uint32_t *prow, std::int16_t *zrow, int width,
                                            int left, int n, fixed z, fixed step,
                                            std::uint32_t word, __m128i colour) {
#if TREL_AVX2_SPANS
    if (n >= avx2spanmin && avx2spans) {
        depthspanavx2(prow + left, zrow + left, n, z, step, word);
        return;
    }
#endif
    if (left + blockcolumns(n) <= width) {
        depthblocks(prow + left, zrow + left, n, z, step, colour);
    } else if (n <= 8 && width >= 8) {
        depthblocksse2(prow, zrow, width, left, n, z, step, word);
    } else {
        depthspansse2(prow + left, zrow + left, n, z, step, word);
    }
}
#endif

[[gnu::always_inline]] inline void depthrun(std::uint32_t *prow, std::int16_t *zrow, int width,
                                            int left, int n, fixed z, fixed step,
                                            std::uint32_t word) {
#if defined(__SSE2__)
    depthrun(prow, zrow, width, left, n, z, step, word, _mm_set1_epi32(static_cast<int>(word)));
#else
    (void)width;
    depthspanscalar(prow + left, zrow + left, n, z, step, word);
#endif
}

// The form the filler uses.
inline void depthspan(std::uint32_t *px, std::int16_t *zb, int n, fixed z, fixed step,
                      std::uint32_t word) {
#if defined(__SSE2__)
    depthspansse2(px, zb, n, z, step, word);
#else
    depthspanscalar(px, zb, n, z, step, word);
#endif
}

} // namespace trel::detail

#endif
