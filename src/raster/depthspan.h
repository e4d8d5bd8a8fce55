// The depth-tested pixels of one span, in each form the library has. The
// filler calls the fastest form the target has; every form writes exactly the
// words depthspanscalar writes, which the library's tests and fuzzers check.
#ifndef TREL_RASTER_DEPTHSPAN_H
#define TREL_RASTER_DEPTHSPAN_H

#include <cstdint>

#include "fixed.h"

namespace trel::detail {

// Pixel i of the n from px (and its depth at zb) has depth whole(z + i *
// step) and is written, colour and depth, only where that is greater than the
// stored depth.
void depthspanscalar(std::uint32_t *px, std::int16_t *zb, int n, fixed z, fixed step,
                     std::uint32_t word);

#if defined(__SSE2__)
// The same, eight pixels at a time.
void depthspansse2(std::uint32_t *px, std::int16_t *zb, int n, fixed z, fixed step,
                   std::uint32_t word);
#endif

// The form the filler uses.
inline void depthspan(std::uint32_t *px, std::int16_t *zb, int n, fixed z, fixed step,
                      std::uint32_t word) {
#if defined(__SSE2__)
    depthspansse2(px, zb, n, z, step, word);
#else
    depthspanscalar(px, zb, n, z, step, word);
#endif
}

} // namespace trel::detail

#endif
