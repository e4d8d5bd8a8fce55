#include "clip.h"

#include <initializer_list>
#include <optional>
#include <utility>

#include "outcode.h"

namespace trel::detail {
namespace {

// A segment needs at most two moves per endpoint; the bound only guards
// against a picture so thin that a move lands beyond the opposite side.
constexpr int maxmoves = 8;

// Projects both endpoints onto the X-Z picture, refusing non-finite ones, and
// clips them.
int clip(origin o, int xbound, int ybound, const quim::point &pa, const quim::point &pb, int *xs,
         int *ys, int *as, bool wantfirst, bool wantsecond) {
    const bool attribute = as != nullptr;
    if (!projectable(pa, view::xz, attribute) || !projectable(pb, view::xz, attribute)) {
        return 0;
    }
    return clipprojected(xbound, ybound, project(pa, o, view::xz, attribute),
                         project(pb, o, view::xz, attribute), xs, ys, as, wantfirst, wantsecond);
}

} // namespace

// Cohen-Sutherland on exact 64-bit positions against the bounds themselves: a
// crossing of the right or bottom bound is set one column or row inside it.
int clipprojected(int xbound, int ybound, projected p1, projected p2, int *xs, int *ys, int *as,
                  bool wantfirst, bool wantsecond) {
    int c1 = outcode(p1.x, p1.y, xbound, ybound);
    int c2 = outcode(p2.x, p2.y, xbound, ybound);
    bool moved1 = false;
    bool moved2 = false;
    for (int moves = 0; (c1 | c2) != 0; ++moves) {
        if ((c1 & c2) != 0 || moves == maxmoves) {
            return 0;
        }
        const bool first = c1 != 0;
        const std::optional<projected> moved = crossing(first ? c1 : c2, p1, p2, xbound, ybound);
        if (!moved) {
            return 0;
        }
        if (first) {
            p1 = *moved;
            moved1 = true;
            c1 = outcode(p1.x, p1.y, xbound, ybound);
        } else {
            p2 = *moved;
            moved2 = true;
            c2 = outcode(p2.x, p2.y, xbound, ybound);
        }
    }
    int count = 0;
    for (const auto &[p, write] :
         {std::pair{p1, moved1 || wantfirst}, std::pair{p2, moved2 || wantsecond}}) {
        if (!write) {
            continue;
        }
        xs[count] = static_cast<int>(p.x);
        ys[count] = static_cast<int>(p.y);
        if (as != nullptr) {
            as[count] = static_cast<int>(p.a);
        }
        ++count;
    }
    return count;
}

int clipsegment(origin o, int xbound, int ybound, const quim::point &a, const quim::point &b,
                int *xs, int *ys, bool wantfirst, bool wantsecond) {
    return clip(o, xbound, ybound, a, b, xs, ys, nullptr, wantfirst, wantsecond);
}

int clipsegmentz(origin o, int xbound, int ybound, const quim::point &a, const quim::point &b,
                 int *xs, int *ys, int *as, bool wantfirst, bool wantsecond) {
    return clip(o, xbound, ybound, a, b, xs, ys, as, wantfirst, wantsecond);
}

} // namespace trel::detail
