#include <trel/scene.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace trel::scene {

rotation rotation::view(double azimuthdegrees, double elevationdegrees, bool zup) {
    const double az = azimuthdegrees * std::numbers::pi / 180.0;
    const double el = elevationdegrees * std::numbers::pi / 180.0;
    const double ca = std::cos(az);
    const double sa = std::sin(az);
    const double ce = std::cos(el);
    const double se = std::sin(el);
    // About Y:  x' = x ca - z sa,  z' = x sa + z ca.
    // About X:  y'' = y ce - z' se,  z'' = y se + z' ce.
    rotation r;
    r.m[0][0] = ca;
    r.m[0][1] = 0.0;
    r.m[0][2] = -sa;
    r.m[1][0] = -sa * se;
    r.m[1][1] = ce;
    r.m[1][2] = -ca * se;
    r.m[2][0] = sa * ce;
    r.m[2][1] = se;
    r.m[2][2] = ca * ce;
    if (zup) {
        // Model (x, y, z) is first taken to (x, z, -y): a quarter turn about X.
        for (auto &row : r.m) {
            const double y = row[1];
            row[1] = -row[2];
            row[2] = y;
        }
    }
    return r;
}

vec3 rotation::apply(const vec3 &v) const {
    return {m[0][0] * v.x + m[0][1] * v.y + m[0][2] * v.z,
            m[1][0] * v.x + m[1][1] * v.y + m[1][2] * v.z,
            m[2][0] * v.x + m[2][1] * v.y + m[2][2] * v.z};
}

namespace {

vec3 minus(const vec3 &a, const vec3 &b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

// The distance from the first pixel of `pixels` to the last, at least 1.
double span(int pixels) { return std::max(1, pixels - 1); }

} // namespace

placement fit(const mesh &m, std::span<const rotation> views, int width, int height, double fill) {
    placement p;
    p.centre = bounds(m).centre();

    constexpr double inf = std::numeric_limits<double>::infinity();
    double left = inf;
    double right = -inf;
    double bottom = inf;
    double top = -inf;
    for (const rotation &r : views) {
        for (const vec3 &v : m.vertices) {
            const vec3 s = r.apply(minus(v, p.centre));
            left = std::min(left, s.x);
            right = std::max(right, s.x);
            bottom = std::min(bottom, s.y);
            top = std::max(top, s.y);
        }
    }
    p.right = left / 2 + right / 2;
    p.up = bottom / 2 + top / 2;

    // The outline spans pixel positions 0 to width - 1 and 0 to height - 1
    // (with `fill` 1): the first and the last pixel of each row and column. A
    // mesh flat in one direction of the picture is fitted by the other; one
    // with no extent at all (every vertex the same point) is drawn at scale 1.
    double scale = inf;
    if (right > left) {
        scale = std::min(scale, fill * span(width) / (right - left));
    }
    if (top > bottom) {
        scale = std::min(scale, fill * span(height) / (top - bottom));
    }
    p.scale = std::isfinite(scale) ? scale : 1.0;
    return p;
}

placement spherefit(const mesh &m, int width, int height, double fill) {
    placement p;
    p.centre = bounds(m).centre();
    double radius = 0.0;
    for (const vec3 &v : m.vertices) {
        const double dx = v.x - p.centre.x;
        const double dy = v.y - p.centre.y;
        const double dz = v.z - p.centre.z;
        radius = std::max(radius, std::sqrt(dx * dx + dy * dy + dz * dz));
    }
    p.scale = radius > 0.0 ? fill * std::min(span(width), span(height)) / (2.0 * radius) : 1.0;
    return p;
}

std::vector<screenpoint> place(const mesh &m, const rotation &view, const placement &p, int width,
                               int height) {
    std::vector<screenpoint> out;
    out.reserve(m.vertices.size());
    for (const vec3 &v : m.vertices) {
        const vec3 s = view.apply(minus(v, p.centre));
        out.push_back({(width - 1) / 2.0 + (s.x - p.right) * p.scale,
                       (height - 1) / 2.0 - (s.y - p.up) * p.scale, s.z * p.scale});
    }
    return out;
}

} // namespace trel::scene
