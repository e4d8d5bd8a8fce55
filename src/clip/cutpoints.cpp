#include "clip.h"

#include <trel/trel.h>

#include "../engine/world.h"

namespace trel::detail {
namespace {

// Outcode against columns 0 ... xsize - 1 and rows 0 ... ysize - 1.
int outcode(std::int64_t x, std::int64_t y, int xsize, int ysize) {
    int code = 0;
    if (x < 0) {
        code = 1;
    } else if (x >= xsize) {
        code = 2;
    }
    if (y < 0) {
        code |= 4;
    } else if (y >= ysize) {
        code |= 8;
    }
    return code;
}

// No segment is written more than four points; the caller's arrays hold four.
constexpr int maxpoints = 4;

} // namespace

cutresult cutsegment(int orgx, int orgy, int xsize, int ysize, const quim::point &a,
                     const quim::point &b, int *xs, int *ys, int *zs, bool wanta, bool wantb) {
    cutresult result;
    if (!finite(a.x) || !finite(a.y) || !finite(b.x) || !finite(b.y)) {
        return result;
    }
    if (zs != nullptr && (!finite(a.z) || !finite(b.z))) {
        return result;
    }
    std::int64_t x1 = orgx + toint(a.x);
    std::int64_t y1 = orgy - toint(a.y);
    std::int64_t z1 = zs != nullptr ? toint(a.z) : 0;
    std::int64_t x2 = orgx + toint(b.x);
    std::int64_t y2 = orgy - toint(b.y);
    std::int64_t z2 = zs != nullptr ? toint(b.z) : 0;
    int code1 = outcode(x1, y1, xsize, ysize);
    int code2 = outcode(x2, y2, xsize, ysize);

    // Every value written lies between the two projected endpoints, so it fits.
    auto put = [&](std::int64_t x, std::int64_t y, std::int64_t z) {
        xs[result.count] = static_cast<int>(x);
        ys[result.count] = static_cast<int>(y);
        if (zs != nullptr) {
            zs[result.count] = static_cast<int>(z);
        }
        ++result.count;
    };
    if (wanta && code1 == 0) {
        put(x1, y1, z1);
    }
    if (wantb && code2 == 0) {
        put(x2, y2, z2);
    }
    while ((code1 | code2) != 0) {
        if ((code1 & code2) != 0 || result.count == maxpoints) {
            return result;
        }
        const bool first = code1 != 0;
        const int mc = first ? code1 : code2;
        const std::int64_t dx = x2 - x1;
        const std::int64_t dy = y2 - y1;
        std::int64_t m = 0;
        std::int64_t d = 0;
        std::int64_t x = 0;
        std::int64_t y = 0;
        if ((mc & 12) != 0) {
            m = (mc & 8) != 0 ? ysize - y1 : -y1;
            d = dy;
            if (d == 0) {
                return result; // never happens: the other endpoint is not beyond this side
            }
            x = x1 + dx * m / d;
            y = (mc & 8) != 0 ? ysize - 1 : 0;
        } else {
            m = (mc & 2) != 0 ? xsize - x1 : -x1;
            d = dx;
            if (d == 0) {
                return result;
            }
            x = (mc & 2) != 0 ? xsize - 1 : 0;
            y = y1 + dy * m / d;
        }
        const std::int64_t z = z1 + (z2 - z1) * m / d;
        put(x, y, z);
        if (first) {
            x1 = x;
            y1 = y;
            z1 = z;
            code1 = outcode(x1, y1, xsize, ysize);
        } else {
            x2 = x;
            y2 = y;
            z2 = z;
            code2 = outcode(x2, y2, xsize, ysize);
        }
    }
    result.accepted = true;
    result.x1 = static_cast<int>(x1);
    result.y1 = static_cast<int>(y1);
    result.x2 = static_cast<int>(x2);
    result.y2 = static_cast<int>(y2);
    return result;
}

} // namespace trel::detail

namespace trel {

int engine2dxy::cutpoints(int *xs, int *ys, const quim::point &a, const quim::point &b, bool wanta,
                          bool wantb) {
    return detail::cutsegment(orgx, orgy, xsize, ysize, a, b, xs, ys, nullptr, wanta, wantb).count;
}

int engine2dxy::cutpoints(int *xs, int *ys, int *zs, const quim::point &a, const quim::point &b,
                          bool wanta, bool wantb) {
    return detail::cutsegment(orgx, orgy, xsize, ysize, a, b, xs, ys, zs, wanta, wantb).count;
}

} // namespace trel
