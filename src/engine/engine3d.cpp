#include <trel/trel.h>

#include "../clip/clip.h"
#include "../raster/fixed.h"
#include "../raster/line.h"
#include "../raster/triangle.h"
#include "enginecore.h"

namespace trel {

int engine3d::orgx = 0;
int engine3d::orgy = 0;
int engine3d::rcptab[detail::rcpsize] = {};
int engine3d::rcpcount = 0;

engine3d::engine3d(int width, int height, void *buffer) {
    detail::construct(*this, width, height, buffer);
}

engine3d::engine3d(const engine3d &other) noexcept : engine(other) {
    detail::copyconstruct(*this, other);
}

engine3d &engine3d::operator=(const engine3d &other) noexcept {
    detail::copyassign(*this, other);
    return *this;
}

engine3d::~engine3d() { detail::destroy(*this); }

int engine3d::width() { return xsize; }
int engine3d::height() { return ysize; }
bool engine3d::depth() { return true; }

// Both planes: every depth becomes fardepth.
void engine3d::clear(unsigned long colour) { detail::clear(*this, colour); }

// Dots neither test nor write depth, and keep the caller's channel order.
void engine3d::dot(const quim::point &p, unsigned long colour) { detail::plot(*this, p, colour); }

void engine3d::line(const quim::point *pts, int n, unsigned long colour) {
    detail::polyline(*this, pts, n, colour);
}

// A line lies linedepthoffset depth units behind a face at the same world y,
// so that edges drawn over their own faces stay hidden.
void engine3d::line(const quim::point &a, const quim::point &b, unsigned long colour) {
    if (npixels == 0) {
        return;
    }
    int xs[2];
    int ys[2];
    int as[2];
    if (detail::clipsegmentz(detail::originof<engine3d>(), xsize - 1, ysize - 1, a, b, xs, ys, as,
                             true, true) != 2) {
        return;
    }
    const std::int32_t d1 = detail::wrapdiff(-linedepthoffset, as[0]);
    const std::int32_t d2 = detail::wrapdiff(-linedepthoffset, as[1]);
    detail::depthline(detail::surfaceof(*this), xs[0], ys[0], d1, xs[1], ys[1], d2,
                      detail::exchangechannels(detail::colourword(colour)));
}

void engine3d::tri(const quim::point &, const quim::point &, const quim::point *, int,
                   unsigned long) {}

void engine3d::tri(const quim::point &, const quim::point *, int, unsigned long) {}

void engine3d::tri(const quim::point &p1, const quim::point &p2, const quim::point &p3,
                   unsigned long colour) {
    detail::trianglexz(detail::surfaceof(*this), detail::originof<engine3d>(), p1, p2, p3, colour,
                       detail::trimode::depth);
}

void engine3d::text(const quim::point &, const char *, unsigned long) {}

} // namespace trel
