// Span filling of one triangle given by three pixel vertices inside the picture.
#ifndef TREL_RASTER_FILL_H
#define TREL_RASTER_FILL_H

#include <cstdint>

#include "surface.h"

namespace trel::detail {

struct fillvertex {
    int x;
    int y;
    std::int32_t d; // depth; read only by the depth-tested filler
};

// Fills the triangle row by row with `word`. The rows run from the top vertex
// to the bottom one; the two edges bounding each row are stepped in 16.16
// fixed point with the reciprocal table.
void filltri(const surface &s, fillvertex t1, fillvertex t2, fillvertex t3, std::uint32_t word);

// Visits exactly the pixels filltri writes for the same vertices, carrying a
// depth along edges and spans; a pixel is written (colour and depth) only where
// its depth is strictly greater than the stored one.
void filltriz(const surface &s, fillvertex t1, fillvertex t2, fillvertex t3, std::uint32_t word);

// filltri and filltriz with each vertex's values as separate arguments, for a
// caller that holds them one by one: a vertex passed whole goes in registers
// that hold two of its values each, which the caller fills by storing the
// values one by one and reading them back in pairs, and that read has to wait.
void filltrivalues(const surface &s, int x1, int y1, int x2, int y2, int x3, int y3,
                   std::uint32_t word);
void filltrizvalues(const surface &s, int x1, int y1, std::int32_t d1, int x2, int y2,
                    std::int32_t d2, int x3, int y3, std::int32_t d3, std::uint32_t word);

// The forms filltri and filltriz take for every triangle their quicker paths
// do not cover: each span is limited to the picture separately, and nothing
// is assumed of the vertices. filltri and filltriz write exactly what these
// write, which the library's tests and fuzzers check.
void filltrireference(const surface &s, fillvertex t1, fillvertex t2, fillvertex t3,
                      std::uint32_t word);
void filltrizreference(const surface &s, fillvertex t1, fillvertex t2, fillvertex t3,
                       std::uint32_t word);

} // namespace trel::detail

#endif
