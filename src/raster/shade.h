// Flat shading: one intensity per triangle from the angle between its plane
// and the fixed light, and the colour word it scales.
#ifndef TREL_RASTER_SHADE_H
#define TREL_RASTER_SHADE_H

#include <cstdint>

#include <quim/quim.h>

namespace trel::detail {

// 180 minus the whole degrees between the plane of a, b, c and the fixed light
// (1, 1, -1); 180 for a degenerate plane. Equal to intensityexact for every
// input, but takes the angle from a table of cosines unless the cosine lies
// within a hair of a whole degree.
int intensity(const quim::point &a, const quim::point &b, const quim::point &c);

// The same intensity through the geometry library: the plane's unit normal,
// its angle to the light in degrees, truncated.
int intensityexact(const quim::point &a, const quim::point &b, const quim::point &c);

// The colour word of a shaded triangle: each channel scaled by intensity / 180,
// the fourth byte dropped, channels 0 and 2 exchanged when `exchange` is set.
std::uint32_t shadeword(std::uint32_t colour, int intensity, bool exchange);

} // namespace trel::detail

#endif
