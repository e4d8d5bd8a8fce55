#include <trel/trel.h>

#include "../clip/clip.h"
#include "../raster/line.h"
#include "../raster/triangle.h"
#include "enginecore.h"

namespace trel {

int engine2d::orgx = 0;
int engine2d::orgy = 0;
int engine2d::rcptab[detail::rcpsize] = {};
int engine2d::rcpcount = 0;

// The origin's row sits 20 rows above the middle of the picture
// (engineclass<engine2d>::orgyshift).
engine2d::engine2d(int width, int height, void *buffer) {
    detail::construct(*this, width, height, buffer);
}

engine2d::engine2d(const engine2d &other) noexcept : engine(other) {
    detail::copyconstruct(*this, other);
}

engine2d &engine2d::operator=(const engine2d &other) noexcept {
    detail::copyassign(*this, other);
    return *this;
}

engine2d::~engine2d() { detail::destroy(*this); }

int engine2d::width() { return xsize; }
int engine2d::height() { return ysize; }
bool engine2d::depth() { return false; }

void engine2d::clear(unsigned long colour) { detail::clear(*this, colour); }

void engine2d::dot(const quim::point &p, unsigned long colour) { detail::plot(*this, p, colour); }

void engine2d::line(const quim::point *pts, int n, unsigned long colour) {
    detail::polyline(*this, pts, n, colour);
}

void engine2d::line(const quim::point &a, const quim::point &b, unsigned long colour) {
    if (npixels == 0) {
        return;
    }
    int xs[2];
    int ys[2];
    if (detail::clipsegment(detail::originof<engine2d>(), xsize - 1, ysize - 1, a, b, xs, ys, true,
                            true) != 2) {
        return;
    }
    detail::flatline(detail::surfaceof(*this), xs[0], ys[0], xs[1], ys[1],
                     detail::colourword(colour));
}

void engine2d::tri(const quim::point &, const quim::point &, const quim::point *, int,
                   unsigned long) {}

void engine2d::tri(const quim::point &, const quim::point *, int, unsigned long) {}

void engine2d::tri(const quim::point &p1, const quim::point &p2, const quim::point &p3,
                   unsigned long colour) {
    detail::trianglexz(detail::surfaceof(*this), detail::originof<engine2d>(), p1, p2, p3, colour,
                       detail::trimode::shaded);
}

void engine2d::text(const quim::point &, const char *, unsigned long) {}

} // namespace trel
