// 16.16 fixed point and the reciprocal table, as the steppers use them.
#ifndef TREL_RASTER_FIXED_H
#define TREL_RASTER_FIXED_H

#include <cstdint>

namespace trel::detail {

// Accumulators are 32-bit and wrap; they are kept unsigned so that the wrap is
// defined, and read as signed only to take their whole part.
using fixed = std::uint32_t;

// Every accumulator starts just under one half, so that an exact position of
// k + 1/2 rounds to k.
inline constexpr fixed fixedseed = 0x7fff;

// The whole part: the arithmetic shift right by 16, rounding toward minus
// infinity.
inline std::int32_t whole(fixed v) { return static_cast<std::int32_t>(v) >> 16; }

// A depth accumulator starting at depth d: d shifted left 16 (only its low 16
// bits survive) plus the seed.
inline fixed depthseed(std::int32_t d) { return (static_cast<fixed>(d) << 16) + fixedseed; }

// A signed value times a table entry, wrapping in 32 bits.
inline fixed times(std::int32_t v, int r) { return static_cast<fixed>(v) * static_cast<fixed>(r); }

// The difference b - a of two 32-bit values, wrapping.
inline std::int32_t wrapdiff(std::int32_t b, std::int32_t a) {
    return static_cast<std::int32_t>(static_cast<fixed>(b) - static_cast<fixed>(a));
}

// -v, wrapping in 32 bits.
inline std::int32_t wrapneg(std::int32_t v) {
    return static_cast<std::int32_t>(fixed{0} - static_cast<fixed>(v));
}

// Entries in each engine class's reciprocal table (entry i = 65536 / i, entry
// 0 = 0), and so the largest width and height an engine accepts: the public
// header's trel::largestside, which the engine layer checks it against.
inline constexpr int rcpsize = 4096;

// Table entry i; an index outside the table reads as 0.
inline int rcpat(const int *rcp, std::int32_t i) {
    return static_cast<std::uint32_t>(i) < static_cast<std::uint32_t>(rcpsize) ? rcp[i] : 0;
}

} // namespace trel::detail

#endif
