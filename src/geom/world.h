// World points as the engines see them: truncation toward zero, finiteness,
// and the projection of a point onto the picture through a class's origin.
// The lowest layer of the renderer: the clippers, the rasterisers and the
// engines all project through here.
#ifndef TREL_GEOM_WORLD_H
#define TREL_GEOM_WORLD_H

#include <cmath>
#include <cstdint>

#include <quim/quim.h>

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

// The world plane an engine shows. Both put world x across the picture;
// `xz` puts z up and carries y as the attribute (the depth engine's depth),
// `xy` puts y up and carries z.
enum class view { xz, xy };

// The screen column and row of the world origin: an engine class's orgx and
// orgy.
struct origin {
    int x;
    int y;
};

// A world point projected onto the picture: column, row and attribute, before
// any clipping. Held in 64 bits, as a far point lies well outside 32.
struct projected {
    std::int64_t x;
    std::int64_t y;
    std::int64_t a;
};

// Whether every coordinate the projection reads is finite: x and the up
// coordinate, and the attribute's coordinate when it is carried.
inline bool projectable(const quim::point &p, view v, bool attribute) {
    const double up = v == view::xz ? p.z : p.y;
    const double third = v == view::xz ? p.y : p.z;
    return finite(p.x) && finite(up) && (!attribute || finite(third));
}

// Column orgx + trunc(x), row orgy - trunc(up); the attribute is trunc of the
// remaining coordinate when carried, else 0. Truncation comes first, then the
// origin, so the origin's column and row are two world units wide.
inline projected project(const quim::point &p, origin o, view v, bool attribute) {
    const double up = v == view::xz ? p.z : p.y;
    const double third = v == view::xz ? p.y : p.z;
    return {o.x + toint(p.x), o.y - toint(up), attribute ? toint(third) : 0};
}

} // namespace trel::detail

#endif
