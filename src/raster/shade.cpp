#include "shade.h"

#include <array>
#include <cmath>
#include <numbers>

namespace trel::detail {
namespace {

// The fixed light, as a unit vector.
const quim::vector &light() {
    static const quim::vector l = [] {
        quim::vector v(1.0, 1.0, -1.0);
        v.normalize();
        return v;
    }();
    return l;
}

// cos(k degrees) for k = 0 ... 180, falling from 1 to -1. The angle is at
// least k whole degrees exactly when the cosine is at most the k-th entry.
const std::array<double, 181> &cosines() {
    static const std::array<double, 181> table = [] {
        std::array<double, 181> t{};
        for (int k = 0; k <= 180; ++k) {
            t[static_cast<std::size_t>(k)] = std::cos(k * std::numbers::pi / 180.0);
        }
        return t;
    }();
    return table;
}

// A cosine this close to a whole degree's takes the exact path. The fast
// cosine and the table are both within about 1e-15 of the true values, and
// the exact path's own rounding moves the angle by far less than the
// 1e-9 radians the margin stands for, so outside it both paths truncate the
// same angle to the same whole degree.
constexpr double margin = 1e-9;

} // namespace

int intensityexact(const quim::point &a, const quim::point &b, const quim::point &c) {
    const quim::plane plane(a, b, c, true);
    const double t = plane.normal.angle(light());
    // A degenerate plane has no angle: it is shaded at full intensity.
    if (!(t >= 0.0 && t <= 180.0)) {
        return 180;
    }
    return 180 - static_cast<int>(t);
}

int intensity(const quim::point &a, const quim::point &b, const quim::point &c) {
    // The plane's normal, formed exactly as the geometry library forms it.
    const double ux = b.x - a.x;
    const double uy = b.y - a.y;
    const double uz = b.z - a.z;
    const double vx = c.x - a.x;
    const double vy = c.y - a.y;
    const double vz = c.z - a.z;
    const double nx = uy * vz - uz * vy;
    const double ny = uz * vx - ux * vz;
    const double nz = ux * vy - uy * vx;
    const double len2 = nx * nx + ny * ny + nz * nz;
    // Normals so short or so long that their squares lose precision, and
    // degenerate or non-finite ones, go the exact way.
    if (!(len2 > 1e-280 && len2 < 1e280)) {
        return intensityexact(a, b, c);
    }
    const quim::vector &l = light();
    const double cosine = (nx * l.x + ny * l.y + nz * l.z) / std::sqrt(len2);
    // Whole degrees k with cosine <= cos(k degrees): a branch-free binary
    // search over the falling table. Entry 0 (cosine 1) never counts.
    const auto &table = cosines();
    int k = 0;
    for (int step = 128; step > 0; step >>= 1) {
        const int probe = k + step;
        k = (probe <= 180 && cosine <= table[static_cast<std::size_t>(probe)]) ? probe : k;
    }
    // k whole degrees: the cosine lies in (cos(k + 1), cos(k)]. Near either
    // end, or at -1 and below, the exact path decides.
    if (k >= 180 || cosine - table[static_cast<std::size_t>(k + 1)] <= margin ||
        table[static_cast<std::size_t>(k)] - cosine <= margin) {
        return intensityexact(a, b, c);
    }
    return 180 - k;
}

std::uint32_t shadeword(std::uint32_t colour, int intensity, bool exchange) {
    const auto scale = [intensity](std::uint32_t c) {
        return static_cast<std::uint32_t>(static_cast<int>(c & 0xFFU) * intensity / 180);
    };
    const std::uint32_t s0 = scale(colour);
    const std::uint32_t s1 = scale(colour >> 8);
    const std::uint32_t s2 = scale(colour >> 16);
    return exchange ? (s2 | (s1 << 8) | (s0 << 16)) : (s0 | (s1 << 8) | (s2 << 16));
}

} // namespace trel::detail
