#include "shade.h"

#include <array>
#include <cmath>
#include <numbers>

#include "colour.h"

namespace trel::detail {
namespace {

// Everything the table path needs, built on first use.
struct shadetables {
    // The fixed light, as a unit vector.
    quim::vector light{1.0, 1.0, -1.0};
    // cos(k degrees) for k = 0 ... 180, falling from 1 to -1. The angle is at
    // least k whole degrees exactly when the cosine is at most the k-th entry.
    std::array<double, 181> cosines{};
    // The cosines -1 ... 1 cut into equal buckets; first[b] is where the
    // search for a cosine in bucket b starts: the whole degrees of the
    // cosine at the top of the bucket above, so that it never starts past
    // the answer even for a cosine rounded into the bucket below its own.
    static constexpr int buckets = 2048;
    std::array<std::uint8_t, buckets> first{};

    shadetables() {
        light.normalize();
        for (int k = 0; k <= 180; ++k) {
            cosines[static_cast<std::size_t>(k)] = std::cos(k * std::numbers::pi / 180.0);
        }
        for (int b = 0; b < buckets; ++b) {
            const double top = -1.0 + 2.0 * (b + 2) / buckets;
            first[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(degrees(top, 0));
        }
    }

    // The largest k <= 180 with cosine <= cos(k degrees), searched upwards
    // from a k known to qualify.
    int degrees(double cosine, int k) const {
        while (k < 180 && cosine <= cosines[static_cast<std::size_t>(k + 1)]) {
            ++k;
        }
        return k;
    }

    int bucket(double cosine) const {
        const double t = (cosine + 1.0) * (buckets / 2);
        if (!(t >= 0.0)) {
            return 0;
        }
        return t >= buckets - 1 ? buckets - 1 : static_cast<int>(t);
    }
};

const shadetables &tables() {
    static const shadetables t;
    return t;
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
    const double t = plane.normal.angle(tables().light);
    // A degenerate plane has no angle: it is shaded at full intensity.
    if (!(t >= 0.0 && t <= 180.0)) {
        return 180;
    }
    return 180 - static_cast<int>(t);
}

int intensity(const quim::point &a, const quim::point &b, const quim::point &c) {
    // The plane's normal as the geometry library forms it, before it is made
    // a unit vector.
    const quim::vector n = quim::plane(a, b, c, false).normal;
    const double len2 = n.x * n.x + n.y * n.y + n.z * n.z;
    // Normals so short or so long that their squares lose precision, and
    // degenerate or non-finite ones, go the exact way.
    if (!(len2 > 1e-280 && len2 < 1e280)) {
        return intensityexact(a, b, c);
    }
    const shadetables &t = tables();
    const quim::vector &l = t.light;
    const double cosine = (n.x * l.x + n.y * l.y + n.z * l.z) / std::sqrt(len2);
    const int k = t.degrees(cosine, t.first[static_cast<std::size_t>(t.bucket(cosine))]);
    const auto &table = t.cosines;
    // The table's answer stands only when the cosine lies well inside
    // (cos(k + 1), cos(k)]: near either end, beyond either end (a search that
    // went wrong), or at -1 and below, the exact path decides.
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
    const std::uint32_t shaded =
        scale(colour) | (scale(colour >> 8) << 8) | (scale(colour >> 16) << 16);
    return exchange ? exchangechannels(shaded) : shaded;
}

} // namespace trel::detail
