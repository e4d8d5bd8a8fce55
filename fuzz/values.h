// World coordinates decoded from fuzz input, and what else the fuzz targets share.
#ifndef TREL_FUZZ_VALUES_H
#define TREL_FUZZ_VALUES_H

#include <bit>
#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>

#include <fuzzer/FuzzedDataProvider.h>

#include <quim/quim.h>

// The fuzz targets' own checking loops are left out of coverage, so that only
// the library's branches guide the search and the loops stay fast.
#define TREL_FUZZ_UNTRACED __attribute__((no_sanitize("coverage")))

// A world coordinate: mostly near the picture, sometimes on its edges, huge,
// or not a number at all. The picture reaches about `reach` either side of the
// origin; `edges` are the half width and half height.
inline double decodecoordinate(FuzzedDataProvider &in, int reach, const int (&edges)[2]) {
    static constexpr double huge[] = {
        1e6,          -1e6,          1e9,     -1e9,          1399999999.0, 1.4e9,
        1400000001.0, -1399999999.0, -1.4e9,  -1400000001.0, 1073741824.0, -1073741824.0,
        2147483648.0, -2147483649.0, 9.3e18,  -9.3e18,       1e12,         -1e12,
        1e300,        -1e300,        DBL_MAX, -DBL_MAX,      DBL_MIN,      -DBL_TRUE_MIN};
    static constexpr double inf = std::numeric_limits<double>::infinity();
    switch (in.ConsumeIntegralInRange<int>(0, 15)) {
    case 0:
    case 1:
        return in.ConsumeIntegralInRange<int>(-16 * reach, 16 * reach) / 16.0;
    case 2: {
        // A picture edge, a pixel either side of it, or half a pixel off.
        const int edge =
            edges[in.ConsumeIntegralInRange<int>(0, 1)] * in.ConsumeIntegralInRange<int>(-1, 1) +
            in.ConsumeIntegralInRange<int>(-22, 22);
        return edge + in.ConsumeIntegralInRange<int>(-2, 2) * 0.25;
    }
    case 3:
    case 4:
        return huge[in.ConsumeIntegralInRange<std::size_t>(0, std::size(huge) - 1)] *
               (in.ConsumeBool() ? 1.0 : 0.5);
    case 5: {
        switch (in.ConsumeIntegralInRange<int>(0, 2)) {
        case 0:
            return std::numeric_limits<double>::quiet_NaN();
        case 1:
            return inf;
        default:
            return -inf;
        }
    }
    case 6:
        return std::bit_cast<double>(in.ConsumeIntegral<std::uint64_t>());
    case 7:
        return in.ConsumeIntegralInRange<int>(-100 * reach - 100, 100 * reach + 100);
    default:
        return in.ConsumeIntegralInRange<int>(-reach - 4, reach + 4);
    }
}

// A point whose three coordinates are drawn as above.
inline quim::point decodepoint(FuzzedDataProvider &in, int reach, const int (&edges)[2]) {
    quim::point p;
    p.x = decodecoordinate(in, reach, edges);
    p.y = decodecoordinate(in, reach, edges);
    p.z = decodecoordinate(in, reach, edges);
    return p;
}

#endif
