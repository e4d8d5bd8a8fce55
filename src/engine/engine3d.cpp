#include <trel/trel.h>

#include <algorithm>

#include "../clip/clip.h"
#include "../raster/fixed.h"
#include "../raster/line.h"
#include "../raster/triangle.h"
#include "enginecore.h"

namespace trel {

int engine3d::orgx = 0;
int engine3d::orgy = 0;
int engine3d::rcptab[4096] = {};
int engine3d::rcpcount = 0;

namespace {

// What clear puts in the depth plane: 0x8300, the farthest depth in use.
constexpr std::int16_t fardepth = -32000;

// Lines store the colour with channels 0 and 2 exchanged and the fourth byte 0.
std::uint32_t exchangedword(unsigned long colour) {
    const std::uint32_t c = detail::colourword(colour);
    return ((c >> 16) & 0xFFU) | (c & 0xFF00U) | ((c & 0xFFU) << 16);
}

} // namespace

// The depth plane follows the colour plane in the same block.
engine3d::engine3d(int width, int height, void *buffer) {
    if (detail::construct(*this, width, height, buffer, {6, 0}) && pixels != nullptr) {
        zbuf = reinterpret_cast<std::int16_t *>(pixels + npixels);
    }
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

// Both planes with string stores on x86, as clearpixels does.
void engine3d::clear(unsigned long colour) {
    detail::clearpixels(*this, colour);
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
    void *to = zbuf;
    auto count = static_cast<std::size_t>(npixels);
    __asm__ volatile("rep stosw"
                     : "+D"(to), "+c"(count)
                     : "a"(static_cast<std::uint16_t>(fardepth))
                     : "memory");
#else
    std::fill_n(zbuf, npixels, fardepth);
#endif
}

// Dots neither test nor write depth, and keep the caller's channel order.
void engine3d::dot(const quim::point &p, unsigned long colour) {
    detail::plot(*this, p.x, p.z, colour);
}

void engine3d::line(const quim::point *pts, int n, unsigned long colour) {
    detail::polyline(*this, pts, n, colour);
}

// A line lies 10 depth units behind a face at the same world y, so that edges
// drawn over their own faces stay hidden.
void engine3d::line(const quim::point &a, const quim::point &b, unsigned long colour) {
    if (npixels == 0) {
        return;
    }
    int xs[2];
    int ys[2];
    int as[2];
    if (detail::clipsegmentz(orgx, orgy, xsize - 1, ysize - 1, a, b, xs, ys, as, true, true) != 2) {
        return;
    }
    const std::int32_t d1 = detail::wrapdiff(-10, as[0]);
    const std::int32_t d2 = detail::wrapdiff(-10, as[1]);
    detail::depthline({pixels, zbuf, xsize, ysize, rcp}, xs[0], ys[0], d1, xs[1], ys[1], d2,
                      exchangedword(colour));
}

void engine3d::tri(const quim::point &, const quim::point &, const quim::point *, int,
                   unsigned long) {}

void engine3d::tri(const quim::point &, const quim::point *, int, unsigned long) {}

void engine3d::tri(const quim::point &p1, const quim::point &p2, const quim::point &p3,
                   unsigned long colour) {
    detail::trianglexz({pixels, zbuf, xsize, ysize, rcp}, orgx, orgy, p1, p2, p3, colour,
                       detail::trimode::depth);
}

void engine3d::text(const quim::point &, const char *, unsigned long) {}

} // namespace trel
