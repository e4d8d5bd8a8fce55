#include "clip.h"

#include <optional>

#include "outcode.h"

namespace trel::detail {
namespace {

// No segment is written more than four points; the caller's arrays hold four.
constexpr int maxpoints = 4;

} // namespace

// The outcode method against the sides x = xsize and y = ysize, writing each
// crossing as it is computed: a moved endpoint lands on the last column or
// row.
cutresult cutprojected(int xsize, int ysize, projected p1, projected p2, int *xs, int *ys, int *zs,
                       bool wanta, bool wantb) {
    cutresult result;
    const std::int64_t xlast = std::int64_t{xsize} - 1;
    const std::int64_t ylast = std::int64_t{ysize} - 1;
    int code1 = outcode(p1.x, p1.y, xlast, ylast);
    int code2 = outcode(p2.x, p2.y, xlast, ylast);

    // Every value written lies between the two projected endpoints, so it fits.
    auto put = [&](const projected &p) {
        xs[result.count] = static_cast<int>(p.x);
        ys[result.count] = static_cast<int>(p.y);
        if (zs != nullptr) {
            zs[result.count] = static_cast<int>(p.a);
        }
        ++result.count;
    };
    if (wanta && code1 == 0) {
        put(p1);
    }
    if (wantb && code2 == 0) {
        put(p2);
    }
    while ((code1 | code2) != 0) {
        if ((code1 & code2) != 0 || result.count == maxpoints) {
            return result;
        }
        const bool first = code1 != 0;
        const std::optional<projected> moved =
            crossing(first ? code1 : code2, p1, p2, xsize, ysize);
        if (!moved) {
            return result;
        }
        put(*moved);
        if (first) {
            p1 = *moved;
            code1 = outcode(p1.x, p1.y, xlast, ylast);
        } else {
            p2 = *moved;
            code2 = outcode(p2.x, p2.y, xlast, ylast);
        }
    }
    result.accepted = true;
    result.x1 = static_cast<int>(p1.x);
    result.y1 = static_cast<int>(p1.y);
    result.x2 = static_cast<int>(p2.x);
    result.y2 = static_cast<int>(p2.y);
    return result;
}

cutresult cutsegment(origin o, int xsize, int ysize, const quim::point &a, const quim::point &b,
                     int *xs, int *ys, int *zs, bool wanta, bool wantb) {
    const bool attribute = zs != nullptr;
    if (!projectable(a, view::xy, attribute) || !projectable(b, view::xy, attribute)) {
        return {};
    }
    return cutprojected(xsize, ysize, project(a, o, view::xy, attribute),
                        project(b, o, view::xy, attribute), xs, ys, zs, wanta, wantb);
}

} // namespace trel::detail
