// The outcode method both clippers share: where a position lies relative to
// the picture, and where a segment crosses the side it is moved onto.
#ifndef TREL_CLIP_OUTCODE_H
#define TREL_CLIP_OUTCODE_H

#include <cstdint>
#include <optional>

#include "../geom/world.h"

namespace trel::detail {

// Outcode bits. At most one of left and right and one of above and below is
// set; a clipper works on them in the order below, above, right, left, so a
// position beyond a corner is moved vertically first.
inline constexpr int outleft = 1;
inline constexpr int outright = 2;
inline constexpr int outabove = 4;
inline constexpr int outbelow = 8;
inline constexpr int outvertical = outabove | outbelow;

// The outcode of (x, y) against columns 0 ... xlast and rows 0 ... ylast: a
// position on the last column or row is inside.
inline int outcode(std::int64_t x, std::int64_t y, std::int64_t xlast, std::int64_t ylast) {
    int code = 0;
    if (x < 0) {
        code = outleft;
    } else if (x > xlast) {
        code = outright;
    }
    if (y < 0) {
        code |= outabove;
    } else if (y > ylast) {
        code |= outbelow;
    }
    return code;
}

// Where the segment p1-p2 crosses the side named by the first of the bits
// below, above, right, left set in `code`. The crossing is measured from p1,
// whichever endpoint is being moved, with the product formed before the
// division truncates toward zero. The right and bottom sides are the lines
// x = xedge and y = yedge: the crossing is computed there, and the position
// is then set one column or row inside; the left and top sides are column
// and row 0. The attribute is interpolated with the same fraction.
//
// Empty when the segment runs along the side (no crossing), which a clipper
// never asks for: it moves an endpoint across a side only when the other
// endpoint is not beyond the same side.
inline std::optional<projected> crossing(int code, const projected &p1, const projected &p2,
                                         std::int64_t xedge, std::int64_t yedge) {
    const std::int64_t dx = p2.x - p1.x;
    const std::int64_t dy = p2.y - p1.y;
    projected moved{};
    std::int64_t t = 0;
    std::int64_t d = 0;
    if ((code & outvertical) != 0) {
        const bool below = (code & outbelow) != 0;
        t = below ? yedge - p1.y : -p1.y;
        d = dy;
        if (d == 0) {
            return std::nullopt;
        }
        moved.x = p1.x + t * dx / d;
        moved.y = below ? yedge - 1 : 0;
    } else {
        const bool right = (code & outright) != 0;
        t = right ? xedge - p1.x : -p1.x;
        d = dx;
        if (d == 0) {
            return std::nullopt;
        }
        moved.x = right ? xedge - 1 : 0;
        moved.y = p1.y + t * dy / d;
    }
    moved.a = p1.a + (p2.a - p1.a) * t / d;
    return moved;
}

} // namespace trel::detail

#endif
