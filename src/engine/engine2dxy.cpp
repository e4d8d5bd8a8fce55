#include <trel/trel.h>

#include "../clip/clip.h"
#include "../raster/line.h"
#include "../raster/triangle.h"
#include "enginecore.h"

namespace trel {

int engine2dxy::orgx = 0;
int engine2dxy::orgy = 0;
int engine2dxy::rcptab[detail::rcpsize] = {};
int engine2dxy::rcpcount = 0;

engine2dxy::engine2dxy(int width, int height, void *buffer) {
    detail::construct(*this, width, height, buffer);
}

engine2dxy::engine2dxy(const engine2dxy &other) noexcept : engine(other) {
    detail::copyconstruct(*this, other);
}

engine2dxy &engine2dxy::operator=(const engine2dxy &other) noexcept {
    detail::copyassign(*this, other);
    return *this;
}

engine2dxy::~engine2dxy() { detail::destroy(*this); }

int engine2dxy::width() { return xsize; }
int engine2dxy::height() { return ysize; }
bool engine2dxy::depth() { return false; }

void engine2dxy::clear(unsigned long colour) { detail::clear(*this, colour); }

void engine2dxy::dot(const quim::point &p, unsigned long colour) { detail::plot(*this, p, colour); }

void engine2dxy::line(const quim::point *pts, int n, unsigned long colour) {
    detail::polyline(*this, pts, n, colour);
}

// Draws between the final positions of the two endpoints whenever the clipper
// accepts the segment, so that a line leaving the picture past a corner keeps
// its visible piece.
void engine2dxy::line(const quim::point &a, const quim::point &b, unsigned long colour) {
    if (npixels == 0) {
        return;
    }
    int xs[4];
    int ys[4];
    const detail::cutresult cut = detail::cutsegment(detail::originof<engine2dxy>(), xsize, ysize,
                                                     a, b, xs, ys, nullptr, true, true);
    if (!cut.accepted) {
        return;
    }
    detail::flatline(detail::surfaceof(*this), cut.x1, cut.y1, cut.x2, cut.y2,
                     detail::colourword(colour));
}

void engine2dxy::tri(const quim::point &, const quim::point &, const quim::point *, int,
                     unsigned long) {}

void engine2dxy::tri(const quim::point &, const quim::point *, int, unsigned long) {}

void engine2dxy::tri(const quim::point &p1, const quim::point &p2, const quim::point &p3,
                     unsigned long colour) {
    detail::trianglexy(detail::surfaceof(*this), detail::originof<engine2dxy>(), p1, p2, p3,
                       colour);
}

void engine2dxy::text(const quim::point &, const char *, unsigned long) {}

int engine2dxy::cutpoints(int *xs, int *ys, const quim::point &a, const quim::point &b, bool wanta,
                          bool wantb) {
    return detail::cutsegment(detail::originof<engine2dxy>(), xsize, ysize, a, b, xs, ys, nullptr,
                              wanta, wantb)
        .count;
}

int engine2dxy::cutpoints(int *xs, int *ys, int *zs, const quim::point &a, const quim::point &b,
                          bool wanta, bool wantb) {
    return detail::cutsegment(detail::originof<engine2dxy>(), xsize, ysize, a, b, xs, ys, zs, wanta,
                              wantb)
        .count;
}

} // namespace trel
