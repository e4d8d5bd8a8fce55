// What the three engine classes share as objects: construction over a borrowed
// or owned block, the per-class origin and reciprocal table, copying with a
// shared block, destruction, clearing and dots, and the views of an engine
// that the clippers and rasterisers take. Each engine's own source file
// instantiates these for its class.
#ifndef TREL_ENGINE_ENGINECORE_H
#define TREL_ENGINE_ENGINECORE_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "../geom/world.h"
#include "../raster/colour.h"
#include "../raster/fixed.h"
#include "../raster/store.h"
#include "../raster/surface.h"
#include "block.h"
#include <trel/trel.h>

namespace trel::detail {

// The raster layer cannot see the public header; its constants are the ones
// the header promises.
static_assert(rcpsize == trel::largestside);
static_assert(fardepth == trel::fardepth);

// How the three engine classes differ as objects: the bytes a pixel takes in
// the block (a depth plane after the pixels makes 6), how many rows above the
// middle of the picture the origin's row sits, and the world plane shown.
template <class E> struct engineclass;

template <> struct engineclass<engine2d> {
    static constexpr int bytesperpixel = 4;
    static constexpr int orgyshift = 20;
    static constexpr view shows = view::xz;
};

template <> struct engineclass<engine2dxy> {
    static constexpr int bytesperpixel = 4;
    static constexpr int orgyshift = 0;
    static constexpr view shows = view::xy;
};

template <> struct engineclass<engine3d> {
    static constexpr int bytesperpixel = 6;
    static constexpr int orgyshift = 0;
    static constexpr view shows = view::xz;
};

template <class E> constexpr bool hasdepth = requires(E &e) { e.zbuf; };

// The class's origin as it stands now; the newest construction moved it.
template <class E> origin originof() { return {E::orgx, E::orgy}; }

// The planes of an engine as the rasterisers draw into them.
template <class E> surface surfaceof(const E &e) {
    if constexpr (hasdepth<E>) {
        return {e.pixels, e.zbuf, e.xsize, e.ysize, e.rcp};
    } else {
        return {e.pixels, nullptr, e.xsize, e.ysize, e.rcp};
    }
}

template <class E> void makezero(E &e) {
    e.pixels = nullptr;
    e.npixels = 0;
    e.xsize = 0;
    e.ysize = 0;
}

// Builds engine `e` of `width` x `height` over `buffer` (or a block of its own
// when buffer is null). Returns false and leaves the engine empty when the
// size is refused or the allocation fails; the class's table and origin are
// then untouched.
template <class E> bool construct(E &e, int width, int height, void *buffer) {
    static_assert(std::extent_v<decltype(E::rcptab)> == rcpsize);
    using traits = engineclass<E>;
    e.bpp = 32;
    e.extbuf = buffer != nullptr;
    makezero(e);
    if (width < 0 || height < 0) {
        return false;
    }
    // The stride is the width rounded up to a multiple of 4; formed in 64 bits
    // so that no width near INT_MAX can overflow it.
    const std::int64_t stride = (static_cast<std::int64_t>(width) + 3) & ~std::int64_t{3};
    const std::int64_t n = std::max<std::int64_t>(stride, height);
    if (n > rcpsize) {
        return false;
    }
    const std::int64_t count = stride * height;
    if (buffer != nullptr) {
        e.pixels = static_cast<std::uint32_t *>(buffer);
    } else if (count > 0) {
        e.pixels = static_cast<std::uint32_t *>(allocblock(
            static_cast<std::size_t>(count) * static_cast<std::size_t>(traits::bytesperpixel)));
        if (e.pixels == nullptr) {
            return false;
        }
    }
    // A picture without pixels (width or height 0) is a valid engine that
    // draws nothing; it still sets the class's table and origin.
    e.npixels = static_cast<int>(count);
    e.xsize = static_cast<int>(stride);
    e.ysize = height;
    e.rcp = E::rcptab;
    if (n > E::rcpcount) {
        E::rcptab[0] = 0;
        for (int i = 1; i < n; ++i) {
            E::rcptab[i] = static_cast<int>(65536U / static_cast<unsigned>(i));
        }
        E::rcpcount = static_cast<int>(n);
    }
    E::orgx = e.xsize / 2;
    E::orgy = e.ysize / 2 - traits::orgyshift;
    // The depth plane follows the colour plane in the same block.
    if constexpr (hasdepth<E>) {
        if (e.pixels != nullptr) {
            e.zbuf = reinterpret_cast<std::int16_t *>(e.pixels + e.npixels);
        }
    }
    return true;
}

template <class E> bool ownsblock(const E &e) { return !e.extbuf && e.pixels != nullptr; }

template <class E> void copyfields(E &to, const E &from) {
    to.extbuf = from.extbuf;
    to.pixels = from.pixels;
    if constexpr (hasdepth<E>) {
        to.zbuf = from.zbuf;
    }
    to.rcp = from.rcp;
    to.npixels = from.npixels;
    to.xsize = from.xsize;
    to.ysize = from.ysize;
    to.bpp = from.bpp;
}

template <class E> void copyconstruct(E &to, const E &from) {
    copyfields(to, from);
    if (ownsblock(from)) {
        retainblock(from.pixels);
    }
}

// The target gives up its share of its own block (freeing it if it was the
// last) and takes a share of the source's.
template <class E> void copyassign(E &to, const E &from) {
    if (&to == &from) {
        return;
    }
    if (ownsblock(from)) {
        retainblock(from.pixels);
    }
    if (ownsblock(to)) {
        releaseblock(to.pixels);
    }
    copyfields(to, from);
}

template <class E> void destroy(E &e) {
    if (ownsblock(e)) {
        releaseblock(e.pixels);
    }
    makezero(e);
}

// Every pixel to `colour`, all 32 bits, and every depth to fardepth.
template <class E> void clear(E &e, unsigned long colour) {
    const auto count = static_cast<std::size_t>(e.npixels);
    stringstore(e.pixels, count, colourword(colour));
    if constexpr (hasdepth<E>) {
        stringstore(e.zbuf, count, fardepth);
    }
}

// Plots one pixel at the projection of p; points off the picture or with a
// non-finite coordinate draw nothing. Depth is neither tested nor written.
template <class E> void plot(E &e, const quim::point &p, unsigned long colour) {
    constexpr view shows = engineclass<E>::shows;
    if (!projectable(p, shows, false)) {
        return;
    }
    const projected at = project(p, originof<E>(), shows, false);
    if (at.x < 0 || at.y < 0 || at.x >= e.xsize || at.y >= e.ysize) {
        return;
    }
    e.pixels[at.y * e.xsize + at.x] = colourword(colour);
}

// Draws pts[0] to pts[1], pts[1] to pts[2], ... through the engine's own
// two-point line, so that each engine's clipping and depth apply; fewer than
// two points draw nothing.
void polyline(engine &e, const quim::point *pts, int n, unsigned long colour);

} // namespace trel::detail

#endif
