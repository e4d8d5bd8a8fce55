#include "line.h"

#include <cstddef>

#include "fixed.h"

namespace trel::detail {
namespace {

// Walks the pixels of the line between two points inside the picture, from
// the left endpoint (the first one when both share a column), along the major
// axis one pixel at a time. The minor coordinate is a 16.16 accumulator
// seeded just under one half and stepped by the displacement times the table
// entry of the major length; since the entry is truncated, long lines can end
// a pixel or two short of the far endpoint on the minor axis.
//
// The pen is told where the walk starts (and whether it starts from the second
// point) and then receives each pixel's offset in the plane, in order.
template <class Pen> void walkline(const surface &s, int x1, int y1, int x2, int y2, Pen &pen) {
    int dx = x2 - x1;
    int dy = y2 - y1;
    int xs = x1;
    int ys = y1;
    const bool swapped = dx < 0;
    if (swapped) {
        xs = x2;
        ys = y2;
        dx = -dx;
        dy = -dy;
    }
    const int ady = dy < 0 ? -dy : dy;
    // Held here: the pen's stores could otherwise be taken to change it.
    const std::ptrdiff_t stride = s.stride;
    const std::ptrdiff_t rowstep = dy < 0 ? -stride : stride;
    std::ptrdiff_t off = static_cast<std::ptrdiff_t>(ys) * stride + xs;
    fixed acc = fixedseed;
    if (dx >= ady && dx > 0) {
        const int r = s.rcp[dx];
        pen.start(off, swapped, r);
        // |dy * r| <= 65536, so the row moves by at most one per column, in
        // the direction of dy: the whole part of the accumulator counts the
        // rows moved (negatively upward), and gives the offset without a
        // branch.
        const fixed step = times(dy, r);
        for (int k = 1; k <= dx; ++k) {
            acc += step;
            pen.next(off + k + static_cast<std::ptrdiff_t>(whole(acc)) * stride);
        }
    } else if (dy != 0) {
        const int r = s.rcp[ady];
        pen.start(off, swapped, r);
        // Likewise the whole part counts the columns moved to the right.
        const fixed step = times(dx, r);
        for (int k = 1; k <= ady; ++k) {
            acc += step;
            pen.next(off + k * rowstep + whole(acc));
        }
    } else {
        pen.start(off, swapped, 0);
    }
}

struct flatpen {
    std::uint32_t *pixels;
    std::uint32_t word;
    void start(std::ptrdiff_t off, bool, int) { pixels[off] = word; }
    void next(std::ptrdiff_t off) { pixels[off] = word; }
};

struct depthpen {
    std::uint32_t *pixels;
    std::int16_t *zbuf;
    std::uint32_t word;
    std::int32_t d1;
    std::int32_t d2;
    fixed depth = 0;
    fixed step = 0;

    void start(std::ptrdiff_t off, bool swapped, int r) {
        const std::int32_t ds = swapped ? d2 : d1;
        const std::int32_t dd = swapped ? wrapdiff(d1, d2) : wrapdiff(d2, d1);
        step = times(dd, r);
        depth = depthseed(ds);
        // The start pixel compares the full 32-bit depth, not its low 16 bits.
        if (ds > zbuf[off]) {
            zbuf[off] = static_cast<std::int16_t>(static_cast<std::uint16_t>(ds));
            pixels[off] = word;
        }
    }
    void next(std::ptrdiff_t off) {
        depth += step;
        const std::int32_t z = whole(depth);
        if (z > zbuf[off]) {
            zbuf[off] = static_cast<std::int16_t>(z);
            pixels[off] = word;
        }
    }
};

} // namespace

void flatline(const surface &s, int x1, int y1, int x2, int y2, std::uint32_t word) {
    flatpen pen{s.pixels, word};
    walkline(s, x1, y1, x2, y2, pen);
}

void depthline(const surface &s, int x1, int y1, std::int32_t d1, int x2, int y2, std::int32_t d2,
               std::uint32_t word) {
    depthpen pen{s.pixels, s.zbuf, word, d1, d2};
    walkline(s, x1, y1, x2, y2, pen);
}

} // namespace trel::detail
