// Lines between two clipped points, stepped in 16.16 fixed point.
#ifndef TREL_RASTER_LINE_H
#define TREL_RASTER_LINE_H

#include <cstdint>

#include <quim/quim.h>

namespace trel {
class engine;
}

namespace trel::detail {

// The plane a line or triangle is drawn into.
struct surface {
    std::uint32_t *pixels;
    std::int16_t *zbuf; // null without a depth plane
    int stride;         // also the picture width
    int rows;
    const int *rcp;
};

// Writes `word` on every pixel of the line from (x1, y1) to (x2, y2), both
// inside the picture.
void flatline(const surface &s, int x1, int y1, int x2, int y2, std::uint32_t word);

// The same line, depth-tested: endpoint depths d1 and d2 are interpolated along
// it, and a pixel is written (colour and depth) only where the line's depth is
// strictly greater than the stored one.
void depthline(const surface &s, int x1, int y1, std::int32_t d1, int x2, int y2, std::int32_t d2,
               std::uint32_t word);

// Draws pts[0] to pts[1], pts[1] to pts[2], ... through the engine's own
// two-point line; fewer than two points draw nothing.
void polyline(engine &e, const quim::point *pts, int n, unsigned long colour);

} // namespace trel::detail

#endif
