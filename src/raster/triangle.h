// Triangle setup shared by the three engines: the clipped edges become a
// convex polygon, which is put in angular order, shaded once and cut into a
// fan of triangles for a span filler.
#ifndef TREL_RASTER_TRIANGLE_H
#define TREL_RASTER_TRIANGLE_H

#include <cstdint>

#include <quim/quim.h>

#include "../clip/clip.h"
#include "../geom/world.h"
#include "surface.h"

namespace trel::detail {

// Up to six clipped edge points and four picture corners.
struct polygon {
    static constexpr int capacity = 10;
    int n = 0;
    int x[capacity] = {};
    int y[capacity] = {};
    int a[capacity] = {}; // depth attribute (trunc of world y) for the depth engine
};

enum class trimode {
    plain,  // the caller's colour, flat filler
    shaded, // shaded colour, flat filler
    depth,  // shaded colour with channels 0 and 2 exchanged, depth filler
};

// Appends each picture corner that lies strictly inside the projected triangle,
// in the order top-left, top-right, bottom-right, bottom-left, with its depth
// attribute interpolated over the triangle's plane. Clipping the edges one by
// one never yields a corner, so without this a triangle covering a corner
// would lose it.
void addcorners(polygon &poly, const projected (&tri)[3], int xsize, int ysize);

// Orders a polygon of more than three vertices by angle about its integer
// centroid: a stable exchange sort, counter-clockwise as seen in the picture.
void orderpolygon(polygon &poly);

// The triangle p1, p2, p3 of an X-Z engine whose class origin is `o`:
// flat-shaded (trimode::shaded) or shaded and depth-tested (trimode::depth).
void trianglexz(const surface &s, origin o, const quim::point &p1, const quim::point &p2,
                const quim::point &p3, unsigned long colour, trimode mode);

// The triangle p1, p2, p3 of the X-Y engine, filled with the caller's colour.
void trianglexy(const surface &s, origin o, const quim::point &p1, const quim::point &p2,
                const quim::point &p3, unsigned long colour);

// trianglexz and trianglexy always the long way: every edge through the
// clipper, the picture's corners tested and the polygon completed, even for a
// triangle whose corners all lie inside the picture, which the two above
// fill directly. Both ways write the same pixels and depths.
void trianglexzclipped(const surface &s, origin o, const quim::point &p1, const quim::point &p2,
                       const quim::point &p3, unsigned long colour, trimode mode);
void trianglexyclipped(const surface &s, origin o, const quim::point &p1, const quim::point &p2,
                       const quim::point &p3, unsigned long colour);

} // namespace trel::detail

#endif
