// What the three engine classes share as objects: construction over a borrowed
// or owned block, the per-class origin and reciprocal table, copying with a
// shared block, destruction, clearing and dots. Each engine's own source file
// instantiates these for its class.
#ifndef TREL_ENGINE_ENGINECORE_H
#define TREL_ENGINE_ENGINECORE_H

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "block.h"
#include "world.h"
#include <trel/trel.h>

namespace trel::detail {

inline constexpr int rcpsize = 4096;

// How an engine class differs as an object.
struct enginekind {
    int bytesperpixel; // 4, or 6 with a depth plane after the pixels
    int orgyshift;     // subtracted from height / 2 to place the origin's row
};

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
template <class E> bool construct(E &e, int width, int height, void *buffer, enginekind kind) {
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
            static_cast<std::size_t>(count) * static_cast<std::size_t>(kind.bytesperpixel)));
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
    E::orgy = e.ysize / 2 - kind.orgyshift;
    return true;
}

template <class E> bool ownsblock(const E &e) { return !e.extbuf && e.pixels != nullptr; }

template <class E> void copyfields(E &to, const E &from) {
    to.extbuf = from.extbuf;
    to.pixels = from.pixels;
    if constexpr (requires { to.zbuf; }) {
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

// On x86 a string store fills the plane as fast as memset does: the processor
// writes whole cache lines without reading them first, which no loop of vector
// stores achieves. Elsewhere a plain loop.
template <class E> void clearpixels(E &e, unsigned long colour) {
    const std::uint32_t word = colourword(colour);
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
    void *to = e.pixels;
    auto count = static_cast<std::size_t>(e.npixels);
    __asm__ volatile("rep stosl" : "+D"(to), "+c"(count) : "a"(word) : "memory");
#else
    std::fill_n(e.pixels, e.npixels, word);
#endif
}

// Plots one pixel at (column, row) = (orgx + trunc(h), orgy - trunc(v)); points
// off the picture or with a non-finite coordinate draw nothing.
template <class E> void plot(E &e, double h, double v, unsigned long colour) {
    if (!finite(h) || !finite(v)) {
        return;
    }
    const std::int64_t column = E::orgx + toint(h);
    const std::int64_t row = E::orgy - toint(v);
    if (column < 0 || row < 0 || column >= e.xsize || row >= e.ysize) {
        return;
    }
    e.pixels[row * e.xsize + column] = colourword(colour);
}

} // namespace trel::detail

#endif
