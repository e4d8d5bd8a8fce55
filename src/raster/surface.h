// The planes a line or triangle is drawn into, as the rasterisers see an
// engine: its pixels, its depth plane if it has one, its size and its class's
// reciprocal table.
#ifndef TREL_RASTER_SURFACE_H
#define TREL_RASTER_SURFACE_H

#include <cstdint>

namespace trel::detail {

// The depth clear writes, 0x8300: the farthest depth in use. A larger depth
// is nearer, and only a strictly greater depth replaces a stored one. The
// public header promises it to hosts as trel::fardepth; the engine layer
// checks that the two agree.
inline constexpr std::int16_t fardepth = -32000;

struct surface {
    std::uint32_t *pixels;
    std::int16_t *zbuf; // null without a depth plane
    int stride;         // also the picture width
    int rows;
    const int *rcp;
};

} // namespace trel::detail

#endif
