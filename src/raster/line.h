// Lines between two clipped points, stepped in 16.16 fixed point.
#ifndef TREL_RASTER_LINE_H
#define TREL_RASTER_LINE_H

#include <cstdint>

#include "surface.h"

namespace trel::detail {

// Writes `word` on every pixel of the line from (x1, y1) to (x2, y2), both
// inside the picture.
void flatline(const surface &s, int x1, int y1, int x2, int y2, std::uint32_t word);

// The same line, depth-tested: endpoint depths d1 and d2 are interpolated along
// it, and a pixel is written (colour and depth) only where the line's depth is
// strictly greater than the stored one.
void depthline(const surface &s, int x1, int y1, std::int32_t d1, int x2, int y2, std::int32_t d2,
               std::uint32_t word);

} // namespace trel::detail

#endif
