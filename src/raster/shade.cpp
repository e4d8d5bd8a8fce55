#include "shade.h"

#include <array>
#include <cmath>

#include "colour.h"

namespace trel::detail {
namespace {

// cos(k degrees) for k = 0 ... 180, falling from 1 to -1: the angle is at
// least k whole degrees about when the cosine is at most the k-th entry (the
// margin below settles "about"). Each is the double nearest the true value,
// written out so that no platform's cosine enters the table.
// scripts/shade-cosines prints these lines and, with --check, evaluates them
// afresh and compares.
// clang-format off
constexpr std::array<double, 181> cosines = {
    0x1.0000000000000p+0, 0x1.ffec097f5af8ap-1, 0x1.ffb0278bf0567p-1,
    0x1.ff4c5ed12e61dp-1, 0x1.fec0b7170fff6p-1, 0x1.fe0d3b41815a2p-1,
    0x1.fd31f94f867c6p-1, 0x1.fc2f025a23e8bp-1, 0x1.fb046a930947ap-1,
    0x1.f9b24942fe45cp-1, 0x1.f838b8c811c17p-1, 0x1.f697d6938b6c2p-1,
    0x1.f4cfc327a0080p-1, 0x1.f2e0a214e870fp-1, 0x1.f0ca99f79ba25p-1,
    0x1.ee8dd4748bf15p-1, 0x1.ec2a7e35e7b80p-1, 0x1.e9a0c6e7bdb1fp-1,
    0x1.e6f0e134454ffp-1, 0x1.e41b02bfeb4cbp-1, 0x1.e11f642522d1cp-1,
    0x1.ddfe40effb805p-1, 0x1.dab7d7997cb58p-1, 0x1.d74c6982c666fp-1,
    0x1.d3bc3aeff7f95p-1, 0x1.d0079302dd767p-1, 0x1.cc2ebbb5638cap-1,
    0x1.c83201d3d2c6dp-1, 0x1.c411b4f6d2708p-1, 0x1.bfce277d339c7p-1,
    0x1.bb67ae8584caap-1, 0x1.b6dea1e76eadep-1, 0x1.b2335c2cda945p-1,
    0x1.ad663a8ae2fdcp-1, 0x1.a8779cda8eea5p-1, 0x1.a367e59158747p-1,
    0x1.9e3779b97f4a8p-1, 0x1.98e6c0ea27a14p-1, 0x1.9376253f463d1p-1,
    0x1.8de613515a328p-1, 0x1.8836fa2cf5039p-1, 0x1.82694b4a11c37p-1,
    0x1.7c7d7a833bec2p-1, 0x1.7673fe0c86982p-1, 0x1.704d4e6a54d39p-1,
    0x1.6a09e667f3bcdp-1, 0x1.63aa430e07310p-1, 0x1.5d2ee398c9c2bp-1,
    0x1.5698496e20bd8p-1, 0x1.4fe6f81384fd4p-1, 0x1.491b7523c161dp-1,
    0x1.4236484487abep-1, 0x1.3b37fb1bdc939p-1, 0x1.342119455beb6p-1,
    0x1.2cf2304755a5ep-1, 0x1.25abcf87c4978p-1, 0x1.1e4e88411fd12p-1,
    0x1.16daed770771dp-1, 0x1.0f5193eacdd2ap-1, 0x1.07b3120fddf13p-1,
    0x1.0000000000000p-1, 0x1.f071eedefa0ecp-2, 0x1.e0bd274245078p-2,
    0x1.d0e2e2b44de01p-2, 0x1.c0e45dabe05c8p-2, 0x1.b0c2d77379853p-2,
    0x1.a07f921061ad1p-2, 0x1.901bd2298ffabp-2, 0x1.7f98deee59681p-2,
    0x1.6ef801fced33cp-2, 0x1.5e3a8748a0bf5p-2, 0x1.4d61bd000cddbp-2,
    0x1.3c6ef372fe950p-2, 0x1.2b637cf83d5c7p-2, 0x1.1a40add328e29p-2,
    0x1.0907dc1930690p-2, 0x1.ef74bf2e4b91dp-3, 0x1.ccb3236cdc675p-3,
    0x1.a9cd9ac4258f6p-3, 0x1.86c6ddd76624fp-3, 0x1.63a1a7e0b738ap-3,
    0x1.4060b67a85375p-3, 0x1.1d06c968d9e19p-3, 0x1.f32d44c4f62d3p-4,
    0x1.ac2609b3c576cp-4, 0x1.64fd6b8c28103p-4, 0x1.1db8f6d6a5128p-4,
    0x1.acbc748efc90ep-5, 0x1.1de58c9f7dc27p-5, 0x1.1df0b2b89dd1ep-6,
    0x0p+0, -0x1.1df0b2b89dd1ep-6, -0x1.1de58c9f7dc27p-5,
    -0x1.acbc748efc90ep-5, -0x1.1db8f6d6a5128p-4, -0x1.64fd6b8c28103p-4,
    -0x1.ac2609b3c576cp-4, -0x1.f32d44c4f62d3p-4, -0x1.1d06c968d9e19p-3,
    -0x1.4060b67a85375p-3, -0x1.63a1a7e0b738ap-3, -0x1.86c6ddd76624fp-3,
    -0x1.a9cd9ac4258f6p-3, -0x1.ccb3236cdc675p-3, -0x1.ef74bf2e4b91dp-3,
    -0x1.0907dc1930690p-2, -0x1.1a40add328e29p-2, -0x1.2b637cf83d5c7p-2,
    -0x1.3c6ef372fe950p-2, -0x1.4d61bd000cddbp-2, -0x1.5e3a8748a0bf5p-2,
    -0x1.6ef801fced33cp-2, -0x1.7f98deee59681p-2, -0x1.901bd2298ffabp-2,
    -0x1.a07f921061ad1p-2, -0x1.b0c2d77379853p-2, -0x1.c0e45dabe05c8p-2,
    -0x1.d0e2e2b44de01p-2, -0x1.e0bd274245078p-2, -0x1.f071eedefa0ecp-2,
    -0x1.0000000000000p-1, -0x1.07b3120fddf13p-1, -0x1.0f5193eacdd2ap-1,
    -0x1.16daed770771dp-1, -0x1.1e4e88411fd12p-1, -0x1.25abcf87c4978p-1,
    -0x1.2cf2304755a5ep-1, -0x1.342119455beb6p-1, -0x1.3b37fb1bdc939p-1,
    -0x1.4236484487abep-1, -0x1.491b7523c161dp-1, -0x1.4fe6f81384fd4p-1,
    -0x1.5698496e20bd8p-1, -0x1.5d2ee398c9c2bp-1, -0x1.63aa430e07310p-1,
    -0x1.6a09e667f3bcdp-1, -0x1.704d4e6a54d39p-1, -0x1.7673fe0c86982p-1,
    -0x1.7c7d7a833bec2p-1, -0x1.82694b4a11c37p-1, -0x1.8836fa2cf5039p-1,
    -0x1.8de613515a328p-1, -0x1.9376253f463d1p-1, -0x1.98e6c0ea27a14p-1,
    -0x1.9e3779b97f4a8p-1, -0x1.a367e59158747p-1, -0x1.a8779cda8eea5p-1,
    -0x1.ad663a8ae2fdcp-1, -0x1.b2335c2cda945p-1, -0x1.b6dea1e76eadep-1,
    -0x1.bb67ae8584caap-1, -0x1.bfce277d339c7p-1, -0x1.c411b4f6d2708p-1,
    -0x1.c83201d3d2c6dp-1, -0x1.cc2ebbb5638cap-1, -0x1.d0079302dd767p-1,
    -0x1.d3bc3aeff7f95p-1, -0x1.d74c6982c666fp-1, -0x1.dab7d7997cb58p-1,
    -0x1.ddfe40effb805p-1, -0x1.e11f642522d1cp-1, -0x1.e41b02bfeb4cbp-1,
    -0x1.e6f0e134454ffp-1, -0x1.e9a0c6e7bdb1fp-1, -0x1.ec2a7e35e7b80p-1,
    -0x1.ee8dd4748bf15p-1, -0x1.f0ca99f79ba25p-1, -0x1.f2e0a214e870fp-1,
    -0x1.f4cfc327a0080p-1, -0x1.f697d6938b6c2p-1, -0x1.f838b8c811c17p-1,
    -0x1.f9b24942fe45cp-1, -0x1.fb046a930947ap-1, -0x1.fc2f025a23e8bp-1,
    -0x1.fd31f94f867c6p-1, -0x1.fe0d3b41815a2p-1, -0x1.fec0b7170fff6p-1,
    -0x1.ff4c5ed12e61dp-1, -0x1.ffb0278bf0567p-1, -0x1.ffec097f5af8ap-1,
    -0x1.0000000000000p+0,
};
// clang-format on

// Everything the table path needs, built on first use.
struct shadetables {
    // The fixed light, as a unit vector.
    quim::vector light{1.0, 1.0, -1.0};
    // The cosines -1 ... 1 cut into equal buckets; first[b] is where the
    // search for a cosine in bucket b starts: the whole degrees of the
    // cosine at the top of the bucket above, so that it never starts past
    // the answer even for a cosine rounded into the bucket below its own.
    static constexpr int buckets = 2048;
    std::array<std::uint8_t, buckets> first{};

    shadetables() {
        light.normalize();
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
    // a unit vector. Its components are read one by one, as the geometry
    // library stores them: a copy of the whole vector is read in wider pieces
    // than were just stored, which has to wait for the stores.
    const quim::plane plane(a, b, c, false);
    const double nx = plane.normal.x;
    const double ny = plane.normal.y;
    const double nz = plane.normal.z;
    const double len2 = nx * nx + ny * ny + nz * nz;
    // Normals so short or so long that their squares lose precision, and
    // degenerate or non-finite ones, go the exact way.
    if (!(len2 > 1e-280 && len2 < 1e280)) {
        return intensityexact(a, b, c);
    }
    const shadetables &t = tables();
    const quim::vector &l = t.light;
    const double cosine = (nx * l.x + ny * l.y + nz * l.z) / std::sqrt(len2);
    const int k = t.degrees(cosine, t.first[static_cast<std::size_t>(t.bucket(cosine))]);
    const auto &table = cosines;
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
