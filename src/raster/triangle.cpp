#include "triangle.h"

#include <algorithm>
#include <utility>

#include "../clip/clip.h"
#include "../geom/world.h"
#include "colour.h"
#include "fill.h"
#include "fixed.h"
#include "shade.h"
#include "wide.h"

namespace trel::detail {
namespace {

// The sign of the cross product (b - a) x (c - a), exactly.
int side(const projected &a, const projected &b, std::int64_t cx, std::int64_t cy) {
    const wide cross = widen(b.x - a.x) * widen(cy - a.y) - widen(b.y - a.y) * widen(cx - a.x);
    return iszero(cross) ? 0 : (isnegative(cross) ? -1 : 1);
}

// The depth attribute of the triangle's plane at (cx, cy), from the corner's
// barycentric weights, in exact integers with the quotient truncated.
int attributeat(const projected (&t)[3], std::int64_t cx, std::int64_t cy) {
    const wide dx2 = widen(t[1].x - t[0].x);
    const wide dy2 = widen(t[1].y - t[0].y);
    const wide dx3 = widen(t[2].x - t[0].x);
    const wide dy3 = widen(t[2].y - t[0].y);
    const wide px = widen(cx - t[0].x);
    const wide py = widen(cy - t[0].y);
    const wide det = dx2 * dy3 - dx3 * dy2;
    const wide u = px * dy3 - dx3 * py;
    const wide v = dx2 * py - px * dy2;
    const wide num = widen(t[1].a - t[0].a) * u + widen(t[2].a - t[0].a) * v;
    // The corner lies inside, so the result lies between the three attributes.
    return static_cast<int>(t[0].a + quotient(num, det));
}

void exchange(polygon &poly, double *angle, int i, int j) {
    std::swap(angle[i], angle[j]);
    std::swap(poly.x[i], poly.x[j]);
    std::swap(poly.y[i], poly.y[j]);
    std::swap(poly.a[i], poly.a[j]);
}

} // namespace

void addcorners(polygon &poly, const projected (&tri)[3], int xsize, int ysize) {
    const std::int64_t corners[4][2] = {
        {0, 0}, {xsize - 1, 0}, {xsize - 1, ysize - 1}, {0, ysize - 1}};
    // Only a corner within the triangle's bounding box can lie inside it; most
    // triangles cover no corner and are done with here.
    const auto [xmin, xmax] = std::minmax({tri[0].x, tri[1].x, tri[2].x});
    const auto [ymin, ymax] = std::minmax({tri[0].y, tri[1].y, tri[2].y});
    for (const auto &corner : corners) {
        const std::int64_t cx = corner[0];
        const std::int64_t cy = corner[1];
        if (cx <= xmin || cx >= xmax || cy <= ymin || cy >= ymax) {
            continue;
        }
        const int s1 = side(tri[0], tri[1], cx, cy);
        const int s2 = side(tri[1], tri[2], cx, cy);
        const int s3 = side(tri[2], tri[0], cx, cy);
        if (s1 == 0 || s1 != s2 || s2 != s3 || poly.n == polygon::capacity) {
            continue;
        }
        poly.x[poly.n] = static_cast<int>(cx);
        poly.y[poly.n] = static_cast<int>(cy);
        poly.a[poly.n] = attributeat(tri, cx, cy);
        ++poly.n;
    }
}

void orderpolygon(polygon &poly) {
    const int n = poly.n;
    int sx = 0;
    int sy = 0;
    for (int i = 0; i < n; ++i) {
        sx += poly.x[i];
        sy += poly.y[i];
    }
    const int cx = sx / n;
    const int cy = sy / n;
    const quim::vector reference(1.0, 0.0);
    double angle[polygon::capacity];
    for (int i = 0; i < n; ++i) {
        const quim::vector v(static_cast<double>(poly.x[i] - cx),
                             static_cast<double>(poly.y[i] - cy));
        angle[i] = v.sangle(reference);
        // Rows grow downward: a vertex below the centroid takes the negative angle.
        if (poly.y[i] > cy) {
            angle[i] = -angle[i];
        }
    }
    // Equal angles, and NaN, never compare less, so such vertices keep their order.
    for (int pass = 1; pass < n; ++pass) {
        for (int j = 1; j < n; ++j) {
            if (angle[j] < angle[j - 1]) {
                exchange(poly, angle, j - 1, j);
            }
        }
    }
}

namespace {

// Adds the picture corners the triangle covers to its clipped edges and puts
// the polygon in angular order. False when fewer than three vertices remain:
// the triangle draws nothing.
bool completepolygon(polygon &poly, const projected (&tri)[3], const surface &s) {
    addcorners(poly, tri, s.stride, s.rows);
    if (poly.n < 3) {
        return false;
    }
    if (poly.n > 3) {
        orderpolygon(poly);
    }
    return true;
}

// The one word every pixel of the triangle receives: the caller's colour, or
// the colour shaded by the plane of p1, p2, p3 (with channels 0 and 2
// exchanged for the depth engine).
std::uint32_t triangleword(const quim::point &p1, const quim::point &p2, const quim::point &p3,
                           unsigned long colour, trimode mode) {
    const std::uint32_t word = colourword(colour);
    if (mode == trimode::plain) {
        return word;
    }
    return shadeword(word, intensity(p1, p2, p3), mode == trimode::depth);
}

// Cuts the polygon into the fan of triangles sharing its first vertex and
// fills them one after another. Vertex depths are the negated attributes: a
// smaller world y is nearer.
void fillfan(const surface &s, const polygon &poly, std::uint32_t word, trimode mode) {
    const auto vertex = [&poly](int i) {
        return fillvertex{poly.x[i], poly.y[i], wrapneg(poly.a[i])};
    };
    for (int k = 0; k + 2 < poly.n; ++k) {
        if (mode == trimode::depth) {
            filltriz(s, vertex(0), vertex(k + 1), vertex(k + 2), word);
        } else {
            filltri(s, vertex(0), vertex(k + 1), vertex(k + 2), word);
        }
    }
}

// Everything after clipping, for a triangle whose edges have been clipped
// into `poly`; every vertex of `poly` lies inside the picture.
void drawclipped(const surface &s, polygon &poly, const projected (&tri)[3], const quim::point &p1,
                 const quim::point &p2, const quim::point &p3, unsigned long colour, trimode mode) {
    if (!completepolygon(poly, tri, s)) {
        return;
    }
    fillfan(s, poly, triangleword(p1, p2, p3, colour, mode), mode);
}

// Whether the triangle can be drawn at all: a picture with pixels and three
// corners with every coordinate finite.
bool drawable(const surface &s, const quim::point &p1, const quim::point &p2, const quim::point &p3,
              view v) {
    return s.stride != 0 && s.rows != 0 && projectable(p1, v, true) && projectable(p2, v, true) &&
           projectable(p3, v, true);
}

} // namespace

namespace {

// Whether all three projected corners lie inside the picture. Then each edge's
// clipping keeps just its start, no picture corner lies strictly inside the
// triangle, and the polygon is the triangle itself in call order.
bool inside(const surface &s, const projected (&tri)[3]) {
    const auto in = [&s](const projected &p) {
        return static_cast<std::uint64_t>(p.x) < static_cast<std::uint64_t>(s.stride) &&
               static_cast<std::uint64_t>(p.y) < static_cast<std::uint64_t>(s.rows);
    };
    return in(tri[0]) && in(tri[1]) && in(tri[2]);
}

// The fan of a triangle inside the picture: the one triangle, p1, p2, p3.
void drawinside(const surface &s, const projected (&tri)[3], const quim::point &p1,
                const quim::point &p2, const quim::point &p3, unsigned long colour, trimode mode) {
    const auto x = [&tri](int i) { return static_cast<int>(tri[i].x); };
    const auto y = [&tri](int i) { return static_cast<int>(tri[i].y); };
    const auto d = [&tri](int i) { return wrapneg(static_cast<int>(tri[i].a)); };
    const std::uint32_t word = triangleword(p1, p2, p3, colour, mode);
    if (mode == trimode::depth) {
        filltrizvalues(s, x(0), y(0), d(0), x(1), y(1), d(1), x(2), y(2), d(2), word);
    } else {
        filltrivalues(s, x(0), y(0), x(1), y(1), x(2), y(2), word);
    }
}

// Each edge contributes its start (or entry point) and its exit point.
void clipxz(const surface &s, const projected (&tri)[3], const quim::point &p1,
            const quim::point &p2, const quim::point &p3, unsigned long colour, trimode mode) {
    polygon poly;
    for (int i = 0; i < 3; ++i) {
        poly.n += clipprojected(s.stride - 1, s.rows - 1, tri[i], tri[(i + 1) % 3], poly.x + poly.n,
                                poly.y + poly.n, mode == trimode::depth ? poly.a + poly.n : nullptr,
                                true, false);
    }
    drawclipped(s, poly, tri, p1, p2, p3, colour, mode);
}

// The clipper also writes crossings that lie outside the picture (the first
// of two crossings of an endpoint beyond a corner, or those of an edge it
// rejects after all); only the points inside enter the polygon.
void clipxy(const surface &s, const projected (&tri)[3], const quim::point &p1,
            const quim::point &p2, const quim::point &p3, unsigned long colour) {
    polygon poly;
    for (int i = 0; i < 3; ++i) {
        int xs[4];
        int ys[4];
        const cutresult cut =
            cutprojected(s.stride, s.rows, tri[i], tri[(i + 1) % 3], xs, ys, nullptr, true, false);
        for (int k = 0; k < cut.count && poly.n < polygon::capacity; ++k) {
            if (xs[k] >= 0 && xs[k] < s.stride && ys[k] >= 0 && ys[k] < s.rows) {
                poly.x[poly.n] = xs[k];
                poly.y[poly.n] = ys[k];
                ++poly.n;
            }
        }
    }
    drawclipped(s, poly, tri, p1, p2, p3, colour, trimode::plain);
}

// Projects each corner once, the attribute along on the X-Z engines. False,
// projecting nothing, when the triangle cannot be drawn at all.
bool projectcorners(const surface &s, origin o, view v, const quim::point &p1,
                    const quim::point &p2, const quim::point &p3, projected (&tri)[3]) {
    if (!drawable(s, p1, p2, p3, v)) {
        return false;
    }
    const bool attribute = v == view::xz;
    tri[0] = project(p1, o, v, attribute);
    tri[1] = project(p2, o, v, attribute);
    tri[2] = project(p3, o, v, attribute);
    return true;
}

} // namespace

void trianglexz(const surface &s, origin o, const quim::point &p1, const quim::point &p2,
                const quim::point &p3, unsigned long colour, trimode mode) {
    projected tri[3];
    if (!projectcorners(s, o, view::xz, p1, p2, p3, tri)) {
        return;
    }
    if (inside(s, tri)) {
        drawinside(s, tri, p1, p2, p3, colour, mode);
    } else {
        clipxz(s, tri, p1, p2, p3, colour, mode);
    }
}

void trianglexzclipped(const surface &s, origin o, const quim::point &p1, const quim::point &p2,
                       const quim::point &p3, unsigned long colour, trimode mode) {
    projected tri[3];
    if (projectcorners(s, o, view::xz, p1, p2, p3, tri)) {
        clipxz(s, tri, p1, p2, p3, colour, mode);
    }
}

void trianglexy(const surface &s, origin o, const quim::point &p1, const quim::point &p2,
                const quim::point &p3, unsigned long colour) {
    projected tri[3];
    if (!projectcorners(s, o, view::xy, p1, p2, p3, tri)) {
        return;
    }
    if (inside(s, tri)) {
        drawinside(s, tri, p1, p2, p3, colour, trimode::plain);
    } else {
        clipxy(s, tri, p1, p2, p3, colour);
    }
}

void trianglexyclipped(const surface &s, origin o, const quim::point &p1, const quim::point &p2,
                       const quim::point &p3, unsigned long colour) {
    projected tri[3];
    if (projectcorners(s, o, view::xy, p1, p2, p3, tri)) {
        clipxy(s, tri, p1, p2, p3, colour);
    }
}

} // namespace trel::detail
