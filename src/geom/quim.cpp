#include <quim/quim.h>

#include "geom/arccos.h"

#include <cmath>
#include <numbers>

namespace quim {
namespace {

double length(const vector &v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

double dot(const vector &a, const vector &b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// Angle between two vectors in degrees. The cosine is clamped into [-1, 1] so
// that rounding never pushes it out of the arc cosine's domain; a NaN cosine
// (a zero vector) passes the clamp unchanged and yields NaN. The arc cosine
// is the library's own, correctly rounded, so the angle has the same bits on
// every platform.
double degreesbetween(const vector &a, const vector &b) {
    double c = dot(a, b) / (length(a) * length(b));
    if (c > 1.0) {
        c = 1.0;
    } else if (c < -1.0) {
        c = -1.0;
    }
    return detail::arccos(c) * 180.0 / std::numbers::pi;
}

} // namespace

vector::vector(const double &x, const double &y) : x(x), y(y), z(0.0) {}

vector::vector(const double &x, const double &y, const double &z) : x(x), y(y), z(z) {}

double vector::sangle(const vector &ref) const { return degreesbetween(*this, ref); }

double vector::angle(const vector &other) const { return degreesbetween(*this, other); }

void vector::normalize() {
    const double len = length(*this);
    x = x / len;
    y = y / len;
    z = z / len;
}

namespace {

vector planenormal(const point &a, const point &b, const point &c, bool unit) {
    const double ux = b.x - a.x;
    const double uy = b.y - a.y;
    const double uz = b.z - a.z;
    const double vx = c.x - a.x;
    const double vy = c.y - a.y;
    const double vz = c.z - a.z;
    vector n(uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx);
    if (unit) {
        n.normalize();
    }
    return n;
}

} // namespace

plane::plane(const point &a, const point &b, const point &c, bool unit)
    : base(a), normal(planenormal(a, b, c, unit)) {}

} // namespace quim
