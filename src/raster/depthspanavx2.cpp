// Long depth spans sixteen pixels at a time, for processors with AVX2. The
// library is built for plain SSE2, so this one form is compiled for AVX2 on
// its own and taken only where the processor reports it; the words it writes
// are the scalar form's, as everywhere else.
#include "depthspan.h"

#if TREL_AVX2_SPANS
#include <immintrin.h>

namespace trel::detail {

namespace {

bool detectavx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}

int lane(fixed v) { return static_cast<int>(v); }

// The accumulators z + i * step of pixels 0 to 7 (a) and 8 to 15 (b); the
// products wrap in 32 bits as the scalar steps do.
[[gnu::target("avx2"), gnu::always_inline]] inline void lanes16(fixed z, fixed step, __m256i &a,
                                                                __m256i &b) {
    const __m256i s = _mm256_set1_epi32(lane(step));
    a = _mm256_add_epi32(_mm256_set1_epi32(lane(z)),
                         _mm256_mullo_epi32(s, _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)));
    b = _mm256_add_epi32(a, _mm256_set1_epi32(lane(8 * step)));
}

// Sixteen pixels from px and zb. The whole parts fit in 16 bits, so the
// saturating pack keeps them; it packs within each half of the register, and
// the permute puts the pixels back in order. Lanes that fail keep what they
// hold; a block that passes whole stores its colours without reading them.
[[gnu::target("avx2"), gnu::always_inline]] inline void
block16(std::uint32_t *px, std::int16_t *zb, __m256i a, __m256i b, __m256i colour) {
    const __m256i d = _mm256_permute4x64_epi64(
        _mm256_packs_epi32(_mm256_srai_epi32(a, 16), _mm256_srai_epi32(b, 16)), 0xD8);
    auto *zp = reinterpret_cast<__m256i *>(zb);
    auto *pp = reinterpret_cast<__m256i *>(px);
    const __m256i old = _mm256_loadu_si256(zp);
    const __m256i pass = _mm256_cmpgt_epi16(d, old);
    const unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(pass));
    if (mask == 0) {
        return;
    }
    if (mask == 0xFFFFFFFFU) {
        _mm256_storeu_si256(zp, d);
        _mm256_storeu_si256(pp, colour);
        _mm256_storeu_si256(pp + 1, colour);
        return;
    }
    _mm256_storeu_si256(zp, _mm256_max_epi16(d, old));
    // Each pixel's 16-bit test widened to its 32-bit colour word.
    const __m256i first = _mm256_cvtepi16_epi32(_mm256_castsi256_si128(pass));
    const __m256i second = _mm256_cvtepi16_epi32(_mm256_extracti128_si256(pass, 1));
    _mm256_storeu_si256(pp, _mm256_blendv_epi8(_mm256_loadu_si256(pp), colour, first));
    _mm256_storeu_si256(pp + 1, _mm256_blendv_epi8(_mm256_loadu_si256(pp + 1), colour, second));
}

} // namespace

const bool avx2spans = detectavx2();

[[gnu::target("avx2")]] void depthspanavx2(std::uint32_t *px, std::int16_t *zb, int n, fixed z,
                                           fixed step, std::uint32_t word) {
    const __m256i colour = _mm256_set1_epi32(lane(word));
    const __m256i step16 = _mm256_set1_epi32(lane(16 * step));
    __m256i a;
    __m256i b;
    lanes16(z, step, a, b);
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        block16(px + i, zb + i, a, b, colour);
        a = _mm256_add_epi32(a, step16);
        b = _mm256_add_epi32(b, step16);
    }
    if (i < n) {
        // The last sixteen pixels, overlapping some already done. The test is
        // strict, so those fail now and keep what they hold: a pixel written
        // above holds exactly the depth it is tested with again.
        lanes16(z + static_cast<fixed>(n - 16) * step, step, a, b);
        block16(px + n - 16, zb + n - 16, a, b, colour);
    }
}

} // namespace trel::detail
#endif
