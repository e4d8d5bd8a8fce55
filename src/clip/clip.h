// Clipping of world segments against a picture, for the engines' lines and
// triangle edges. Internal to the library.
#ifndef TREL_CLIP_CLIP_H
#define TREL_CLIP_CLIP_H

#include <quim/quim.h>

#include "../geom/world.h"

namespace trel::detail {

// X-Z engines. Projects a and b to (o.x + trunc(x), o.y - trunc(z)) and clips
// the segment by outcodes against 0 <= x <= xbound, 0 <= y <= ybound. Writes
// the first endpoint when it was moved or `wantfirst` is set, then the second
// when it was moved or `wantsecond` is set, and returns how many it wrote (0 to
// 2); a rejected segment writes nothing. An endpoint moved onto the right or
// bottom bound is set one column or row inside it. Segments with a non-finite
// coordinate are rejected.
int clipsegment(origin o, int xbound, int ybound, const quim::point &a, const quim::point &b,
                int *xs, int *ys, bool wantfirst, bool wantsecond);

// The same, carrying trunc(y) along as an attribute interpolated onto moved
// endpoints and written to `as`.
int clipsegmentz(origin o, int xbound, int ybound, const quim::point &a, const quim::point &b,
                 int *xs, int *ys, int *as, bool wantfirst, bool wantsecond);

// The clipping of clipsegmentz for endpoints already projected and known to
// be finite; `as` may be null when no attribute is wanted.
int clipprojected(int xbound, int ybound, projected p1, projected p2, int *xs, int *ys, int *as,
                  bool wantfirst, bool wantsecond);

// What the X-Y engine's clipper found for one segment.
struct cutresult {
    int count = 0;         // points written, 0 to 4
    bool accepted = false; // both endpoints ended inside the picture
    int x1 = 0;            // final positions of the two endpoints when accepted
    int y1 = 0;
    int x2 = 0;
    int y2 = 0;
};

// X-Y engine. Projects a and b to (o.x + trunc(x), o.y - trunc(y)[, trunc(z)])
// and clips against 0 <= x < xsize, 0 <= y < ysize, writing the endpoints that
// start inside (when flagged) and then every crossing it computes, inside the
// picture or not. `zs` may be null when no attribute is wanted. Segments with
// a non-finite coordinate are refused: nothing is written.
cutresult cutsegment(origin o, int xsize, int ysize, const quim::point &a, const quim::point &b,
                     int *xs, int *ys, int *zs, bool wanta, bool wantb);

// The clipping of cutsegment for endpoints already projected.
cutresult cutprojected(int xsize, int ysize, projected p1, projected p2, int *xs, int *ys, int *zs,
                       bool wanta, bool wantb);

} // namespace trel::detail

#endif
