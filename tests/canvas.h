// An engine drawing into a borrowed block fenced by guard words, for the
// tests that draw through the public interface: any write outside the
// picture fails the test that made it.
#ifndef TREL_TESTS_CANVAS_H
#define TREL_TESTS_CANVAS_H

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>
#include <trel/trel.h>

#include "support.h"

namespace trel::test {

// What a canvas is cleared to.
inline constexpr std::uint32_t background = 0xFEEDF00DU;

// An engine of class E over a guarded block, cleared, with helpers to place
// points by their screen position.
template <class E> struct canvas {
    int w;
    int h;
    guardedblock block;
    E engine;
    int orgx;
    int orgy;

    canvas(int width, int height)
        : w((width + 3) & ~3), h(height),
          block(blockwords(w, height, std::is_same_v<E, trel::engine3d>)),
          engine(width, height, block.data()), orgx(E::orgx), orgy(E::orgy) {
        engine.clear(background);
    }
    // World point for screen (x, y) with attribute a: world y for the X-Z
    // engines (depth: a face's stored depth there is -a), world z for the X-Y
    // engine.
    quim::point at(int x, int y, double a = 0.0) const {
        if constexpr (std::is_same_v<E, trel::engine2dxy>) {
            return xy(orgx, orgy, x, y, a);
        } else {
            return xz(orgx, orgy, x, y, a);
        }
    }
    // The triangle with corners at screen (x, y) and attribute a.
    void tri(int x1, int y1, double a1, int x2, int y2, double a2, int x3, int y3, double a3,
             unsigned long colour = 0x00FFFFFFU) {
        engine.tri(at(x1, y1, a1), at(x2, y2, a2), at(x3, y3, a3), colour);
    }
    std::uint32_t pixel(int x, int y) const { return engine.pixels[y * w + x]; }
    int depth(int x, int y) const { return engine.zbuf[y * w + x]; }
    pixelset drawn() const { return written(engine.pixels, w, h, background); }
    std::vector<std::int16_t> depths() const {
        return {engine.zbuf, engine.zbuf + static_cast<std::ptrdiff_t>(w) * h};
    }
    ~canvas() { EXPECT_TRUE(block.intact()) << "write outside the picture"; }
};

} // namespace trel::test

#endif
