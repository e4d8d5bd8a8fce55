#include "clip.h"

#include <initializer_list>
#include <utility>

#include "../engine/world.h"

namespace trel::detail {
namespace {

// Outcode bits: 1 left, 2 right, 4 above, 8 below. A position on the bound
// itself is inside.
int outcode(std::int64_t x, std::int64_t y, std::int64_t xbound, std::int64_t ybound) {
    int code = 0;
    if (x < 0) {
        code = 1;
    } else if (x > xbound) {
        code = 2;
    }
    if (y < 0) {
        code |= 4;
    } else if (y > ybound) {
        code |= 8;
    }
    return code;
}

// A segment needs at most two moves per endpoint; the bound only guards
// against a picture so thin that a move lands beyond the opposite side.
constexpr int maxmoves = 8;

// Projects both endpoints, refusing non-finite ones, and clips them.
int clip(int orgx, int orgy, int xbound, int ybound, const quim::point &pa, const quim::point &pb,
         int *xs, int *ys, int *as, bool wantfirst, bool wantsecond) {
    if (!finite(pa.x) || !finite(pa.z) || !finite(pb.x) || !finite(pb.z)) {
        return 0;
    }
    if (as != nullptr && (!finite(pa.y) || !finite(pb.y))) {
        return 0;
    }
    const projected p1{orgx + toint(pa.x), orgy - toint(pa.z), as != nullptr ? toint(pa.y) : 0};
    const projected p2{orgx + toint(pb.x), orgy - toint(pb.z), as != nullptr ? toint(pb.y) : 0};
    return clipprojected(xbound, ybound, p1, p2, xs, ys, as, wantfirst, wantsecond);
}

} // namespace

// Cohen-Sutherland on exact 64-bit positions. Crossings are measured from the
// first endpoint whichever endpoint moves, products are formed before the
// truncating division, and a crossing on the right or bottom bound is set one
// column or row inside it.
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
        const int k = first ? c1 : c2;
        const std::int64_t dx = p2.x - p1.x;
        const std::int64_t dy = p2.y - p1.y;
        projected moved{};
        std::int64_t t = 0;
        std::int64_t d = 0;
        if ((k & 8) != 0) {
            t = ybound - p1.y;
            d = dy;
        } else if ((k & 4) != 0) {
            t = -p1.y;
            d = dy;
        } else if ((k & 2) != 0) {
            t = xbound - p1.x;
            d = dx;
        } else {
            t = -p1.x;
            d = dx;
        }
        if (d == 0) {
            return 0; // never happens: the other projected is not beyond this side
        }
        if ((k & 12) != 0) {
            moved.x = p1.x + t * dx / d;
            moved.y = (k & 8) != 0 ? ybound - 1 : 0;
        } else {
            moved.x = (k & 2) != 0 ? xbound - 1 : 0;
            moved.y = p1.y + t * dy / d;
        }
        moved.a = p1.a + (p2.a - p1.a) * t / d;
        if (first) {
            p1 = moved;
            moved1 = true;
            c1 = outcode(p1.x, p1.y, xbound, ybound);
        } else {
            p2 = moved;
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

int clipsegment(int orgx, int orgy, int xbound, int ybound, const quim::point &a,
                const quim::point &b, int *xs, int *ys, bool wantfirst, bool wantsecond) {
    return clip(orgx, orgy, xbound, ybound, a, b, xs, ys, nullptr, wantfirst, wantsecond);
}

int clipsegmentz(int orgx, int orgy, int xbound, int ybound, const quim::point &a,
                 const quim::point &b, int *xs, int *ys, int *as, bool wantfirst, bool wantsecond) {
    return clip(orgx, orgy, xbound, ybound, a, b, xs, ys, as, wantfirst, wantsecond);
}

} // namespace trel::detail
