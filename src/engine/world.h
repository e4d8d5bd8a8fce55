// Conversion of world coordinates to the integers the engines work with.
#ifndef TREL_ENGINE_WORLD_H
#define TREL_ENGINE_WORLD_H

#include <cmath>
#include <cstdint>

namespace trel::detail {

// World coordinates are truncated toward zero and then held within
// +-coordlimit. Every picture is at most 4096 pixels across, so a clamped
// coordinate is still far outside it, and the clippers' 64-bit crossing
// products (differences of up to 2 * coordlimit squared) cannot overflow.
// Coordinates up to 2^30 in size are converted exactly.
inline constexpr std::int64_t coordlimit = 1'400'000'000;

inline bool finite(double v) { return std::isfinite(v); }

// trunc(v) clamped to +-coordlimit. NaN, which has no integer, gives 0; callers
// refuse non-finite input before they project it.
inline std::int64_t toint(double v) {
    if (!(v == v)) {
        return 0;
    }
    if (v >= static_cast<double>(coordlimit)) {
        return coordlimit;
    }
    if (v <= -static_cast<double>(coordlimit)) {
        return -coordlimit;
    }
    return static_cast<std::int64_t>(v);
}

// The low 32 bits of a colour argument.
inline std::uint32_t colourword(unsigned long colour) {
    return static_cast<std::uint32_t>(colour & 0xFFFFFFFFUL);
}

} // namespace trel::detail

#endif
