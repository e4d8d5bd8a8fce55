// Exact signed 128-bit integers for the few products that need them: the
// determinant of a triangle far outside the picture and the depth it gives a
// picture corner. Portable to targets without a native 128-bit type.
#ifndef TREL_RASTER_WIDE_H
#define TREL_RASTER_WIDE_H

#include <cstdint>

namespace trel::detail {

struct wide {
    std::uint64_t hi = 0;
    std::uint64_t lo = 0;
};

inline wide widen(std::int64_t v) {
    return {v < 0 ? ~std::uint64_t{0} : 0, static_cast<std::uint64_t>(v)};
}

inline wide operator+(wide a, wide b) {
    wide r;
    r.lo = a.lo + b.lo;
    r.hi = a.hi + b.hi + (r.lo < a.lo ? 1 : 0);
    return r;
}

inline wide operator-(wide a) { return wide{~a.hi, ~a.lo} + wide{0, 1}; }
inline wide operator-(wide a, wide b) { return a + -b; }
inline bool isnegative(wide a) { return (a.hi >> 63) != 0; }
inline bool iszero(wide a) { return a.hi == 0 && a.lo == 0; }

// The full 128-bit product of two unsigned 64-bit values.
inline wide mulfull(std::uint64_t a, std::uint64_t b) {
    const std::uint64_t a0 = a & 0xFFFFFFFFU;
    const std::uint64_t a1 = a >> 32;
    const std::uint64_t b0 = b & 0xFFFFFFFFU;
    const std::uint64_t b1 = b >> 32;
    const std::uint64_t p00 = a0 * b0;
    const std::uint64_t p01 = a0 * b1;
    const std::uint64_t p10 = a1 * b0;
    const std::uint64_t p11 = a1 * b1;
    const std::uint64_t mid = (p00 >> 32) + (p01 & 0xFFFFFFFFU) + (p10 & 0xFFFFFFFFU);
    wide r;
    r.lo = (mid << 32) | (p00 & 0xFFFFFFFFU);
    r.hi = p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32);
    return r;
}

// The product modulo 2^128, which is exact whenever the true product fits.
inline wide operator*(wide a, wide b) {
    wide r = mulfull(a.lo, b.lo);
    r.hi += a.hi * b.lo + a.lo * b.hi;
    return r;
}

inline bool lessunsigned(wide a, wide b) { return a.hi != b.hi ? a.hi < b.hi : a.lo < b.lo; }

// a / b truncated toward zero; b must not be zero, and the quotient must fit
// in 64 bits.
inline std::int64_t quotient(wide a, wide b) {
    const bool negative = isnegative(a) != isnegative(b);
    const wide n = isnegative(a) ? -a : a;
    const wide d = isnegative(b) ? -b : b;
    wide q;
    wide rem;
    for (int bit = 127; bit >= 0; --bit) {
        rem.hi = (rem.hi << 1) | (rem.lo >> 63);
        rem.lo <<= 1;
        const std::uint64_t nbit = bit >= 64 ? (n.hi >> (bit - 64)) & 1U : (n.lo >> bit) & 1U;
        rem.lo |= nbit;
        if (!lessunsigned(rem, d)) {
            rem = rem - d;
            if (bit >= 64) {
                q.hi |= std::uint64_t{1} << (bit - 64);
            } else {
                q.lo |= std::uint64_t{1} << bit;
            }
        }
    }
    const wide signedq = negative ? -q : q;
    return static_cast<std::int64_t>(signedq.lo);
}

} // namespace trel::detail

#endif
