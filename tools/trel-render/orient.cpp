// Kept apart from the assimp loader so that the web page, which reads its
// meshes in the browser, orients them with the same code.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "mesh.h"

namespace render {
namespace {

using triangle = std::array<std::uint32_t, 3>;

// Half-edge h runs along side h % 3 of triangle h / 3, from its corner h % 3
// to the next one.
std::uint32_t tail(const std::vector<triangle> &t, std::uint32_t h) { return t[h / 3][h % 3]; }
std::uint32_t head(const std::vector<triangle> &t, std::uint32_t h) {
    return t[h / 3][(h % 3 + 1) % 3];
}

// In `partner`: a side no other triangle shares, or one that three or more share.
constexpr std::uint32_t alone = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint32_t crowded = alone - 1;

bool degenerate(const triangle &t) { return t[0] == t[1] || t[1] == t[2] || t[0] == t[2]; }

// For each half-edge, the one other half-edge along the same edge, or alone,
// or crowded. The half-edges are grouped by the lower-numbered corner of
// their edge (those of vertex a are byedge[start[a]] ... byedge[start[a + 1] -
// 1]), and each group sorted by the other corner, so that the half-edges of
// one edge lie side by side. Time and memory grow with the mesh (a few bytes
// an edge), unlike a map keyed by edge. Degenerate triangles (a corner
// repeated) share no edge.
std::vector<std::uint32_t> partners(const mesh &m) {
    const std::vector<triangle> &t = m.triangles;
    const std::size_t count = m.vertices.size();
    const auto halfedges = static_cast<std::uint32_t>(3 * t.size());
    const auto low = [&t](std::uint32_t h) { return std::min(tail(t, h), head(t, h)); };
    const auto high = [&t](std::uint32_t h) { return std::max(tail(t, h), head(t, h)); };

    std::vector<std::uint32_t> start(count + 2, 0);
    for (std::uint32_t h = 0; h < halfedges; ++h) {
        if (!degenerate(t[h / 3])) {
            ++start[low(h) + 2];
        }
    }
    for (std::size_t a = 2; a < start.size(); ++a) {
        start[a] += start[a - 1];
    }
    // start[a + 1] is now where a's group begins; filling moves it to its
    // end, which is where a + 1's group begins.
    std::vector<std::uint32_t> byedge(start.back());
    for (std::uint32_t h = 0; h < halfedges; ++h) {
        if (!degenerate(t[h / 3])) {
            byedge[start[low(h) + 1]++] = h;
        }
    }

    std::vector<std::uint32_t> partner(halfedges, alone);
    for (std::size_t a = 0; a < count; ++a) {
        const auto first = byedge.begin() + static_cast<std::ptrdiff_t>(start[a]);
        const auto last = byedge.begin() + static_cast<std::ptrdiff_t>(start[a + 1]);
        // Ties broken by the half-edge itself: the same mesh always gives the
        // same result.
        std::sort(first, last, [&high](std::uint32_t g, std::uint32_t h) {
            return std::pair{high(g), g} < std::pair{high(h), h};
        });
        for (auto run = first; run != last;) {
            auto end = run + 1;
            while (end != last && high(*end) == high(*run)) {
                ++end;
            }
            if (end - run == 2) {
                partner[run[0]] = run[1];
                partner[run[1]] = run[0];
            } else if (end - run > 2) {
                for (auto h = run; h != end; ++h) {
                    partner[*h] = crowded;
                }
            }
            run = end;
        }
    }
    return partner;
}

// Six times the volume of the tetrahedron from `o` to the triangle a, b, c:
// positive when the triangle winds counter-clockwise seen from the side away
// from o.
double volume(const vec3 &o, const vec3 &a, const vec3 &b, const vec3 &c) {
    const vec3 u{a.x - o.x, a.y - o.y, a.z - o.z};
    const vec3 v{b.x - o.x, b.y - o.y, b.z - o.z};
    const vec3 w{c.x - o.x, c.y - o.y, c.z - o.z};
    return u.x * (v.y * w.z - v.z * w.y) - u.y * (v.x * w.z - v.z * w.x) +
           u.z * (v.x * w.y - v.y * w.x);
}

} // namespace

void orient(mesh &m) {
    m.closed = false;
    m.sealed.clear();
    const std::size_t count = m.vertices.size();
    const std::size_t faces = m.triangles.size();
    // Half-edges are numbered in 32 bits, two numbers kept for alone and crowded.
    if (faces == 0 || faces > (std::numeric_limits<std::uint32_t>::max() - 2) / 3) {
        return;
    }
    for (const triangle &t : m.triangles) {
        for (const std::uint32_t i : t) {
            if (i >= count) {
                return;
            }
        }
    }
    const std::vector<std::uint32_t> partner = partners(m);
    std::vector<triangle> &t = m.triangles;

    // Each part is walked from its first triangle across the edges that
    // exactly two triangles share. A neighbour running along the shared edge
    // in the same direction as the triangle it was reached from winds the
    // other way, so it is to be turned round relative to that triangle:
    // `turn` holds 0 (kept) or 1 (turned) relative to the part's first
    // triangle, and `unseen` triangles not yet reached. The turns agree all
    // round unless the surface is one-sided (a Moebius strip). A part is
    // closed when they agree, no edge of it lies alone or crowded, no
    // triangle is degenerate, and it encloses a volume.
    constexpr std::uint8_t unseen = 2;
    std::vector<std::uint8_t> turn(faces, unseen);
    std::vector<std::uint8_t> sealed(faces, 0);
    std::vector<std::uint32_t> part;
    std::size_t sealedcount = 0;
    for (std::size_t seed = 0; seed < faces; ++seed) {
        if (turn[seed] != unseen) {
            continue;
        }
        part.clear();
        part.push_back(static_cast<std::uint32_t>(seed));
        turn[seed] = 0;
        bool agree = true;
        bool edgesshared = true;
        for (std::size_t k = 0; k < part.size(); ++k) {
            const std::uint32_t f = part[k];
            if (degenerate(t[f])) {
                edgesshared = false;
                continue;
            }
            for (std::uint32_t side = 0; side < 3; ++side) {
                const std::uint32_t h = 3 * f + side;
                const std::uint32_t p = partner[h];
                if (p == alone || p == crowded) {
                    edgesshared = false;
                    continue;
                }
                const std::uint32_t g = p / 3;
                const bool samedirection = tail(t, h) == tail(t, p);
                const auto wanted = static_cast<std::uint8_t>(turn[f] ^ (samedirection ? 1 : 0));
                if (turn[g] == unseen) {
                    turn[g] = wanted;
                    part.push_back(g);
                } else if (turn[g] != wanted) {
                    agree = false;
                }
            }
        }
        if (!agree) {
            continue; // its faces are lit from the side the viewer sees, one by one
        }
        // Six times the enclosed volume, positive when the part's first
        // triangle winds counter-clockwise seen from outside; measured from
        // the middle of the part's box, which the order of the triangles and
        // of their corners does not move (and near the part, so that far-off
        // coordinates lose less).
        constexpr double inf = std::numeric_limits<double>::infinity();
        vec3 low{inf, inf, inf};
        vec3 high{-inf, -inf, -inf};
        for (const std::uint32_t f : part) {
            for (const std::uint32_t i : t[f]) {
                const vec3 &v = m.vertices[i];
                low = {std::min(low.x, v.x), std::min(low.y, v.y), std::min(low.z, v.z)};
                high = {std::max(high.x, v.x), std::max(high.y, v.y), std::max(high.z, v.z)};
            }
        }
        const vec3 o{low.x / 2 + high.x / 2, low.y / 2 + high.y / 2, low.z / 2 + high.z / 2};
        double enclosed = 0.0;
        for (const std::uint32_t f : part) {
            const double v =
                volume(o, m.vertices[t[f][0]], m.vertices[t[f][1]], m.vertices[t[f][2]]);
            enclosed += turn[f] != 0 ? -v : v;
        }
        if (!(enclosed != 0.0)) {
            continue; // flat or degenerate: no inside to hide faces behind
        }
        // An open part that can be wound one way is wound as if it were
        // closed: its faces are still lit from the side the viewer sees, but
        // a file and the same file wound the other way draw the same picture
        // (where a face and one turned away meet on the outline, the first
        // drawn stays).
        const std::uint8_t outward = enclosed < 0.0 ? 1 : 0;
        for (const std::uint32_t f : part) {
            if ((turn[f] ^ outward) != 0) {
                std::swap(t[f][1], t[f][2]);
            }
            sealed[f] = edgesshared ? 1 : 0;
        }
        if (edgesshared) {
            sealedcount += part.size();
        }
    }
    if (sealedcount == faces) {
        m.closed = true;
    } else if (sealedcount > 0) {
        m.sealed = std::move(sealed);
    }
}

} // namespace render
