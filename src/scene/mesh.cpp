// Meshes as every front end builds them: corners welded, unused vertices
// dropped, the rest checked, closed parts wound outward.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include <trel/scene.h>

namespace trel::scene {
namespace {

// The bits of a coordinate, with -0 taken as 0: positions are compared as values.
std::uint32_t bitsof(float value) {
    const float v = value == 0.0F ? 0.0F : value;
    std::uint32_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

struct position {
    std::uint32_t x;
    std::uint32_t y;
    std::uint32_t z;
    bool operator==(const position &) const = default;
};

position positionof(const float *xyz, std::size_t corner) {
    const float *p = xyz + 3 * corner;
    return {bitsof(p[0]), bitsof(p[1]), bitsof(p[2])};
}

std::size_t slotof(const position &p, std::size_t mask) {
    std::uint64_t h = (static_cast<std::uint64_t>(p.x) << 32 | p.y) * 0x9E3779B97F4A7C15ULL;
    h = (h ^ (h >> 29) ^ p.z) * 0xBF58476D1CE4E5B9ULL;
    return static_cast<std::size_t>(h >> 32) & mask;
}

// Drops the vertices no triangle, line or point uses, renumbering the rest in
// the order the triangles, then the lines, then the points first use them;
// often (an STL file) that is already their order, and then they stay where
// they are.
void prune(mesh &m) {
    constexpr std::uint32_t unused = std::numeric_limits<std::uint32_t>::max();
    std::vector<std::uint32_t> renumber(m.vertices.size(), unused);
    std::uint32_t used = 0;
    bool inplace = true;
    const auto keep = [&](std::uint32_t &i) {
        if (renumber[i] == unused) {
            inplace = inplace && i == used;
            renumber[i] = used++;
        }
        i = renumber[i];
    };
    for (triangle &t : m.triangles) {
        std::for_each(t.begin(), t.end(), keep);
    }
    for (segment &l : m.lines) {
        std::for_each(l.begin(), l.end(), keep);
    }
    std::for_each(m.points.begin(), m.points.end(), keep);
    if (inplace) {
        m.vertices.resize(used);
        return;
    }
    std::vector<vec3> kept(used);
    for (std::size_t i = 0; i < renumber.size(); ++i) {
        if (renumber[i] != unused) {
            kept[renumber[i]] = m.vertices[i];
        }
    }
    m.vertices = std::move(kept);
}

// Whether every index names a vertex: a mesh built by a caller may not.
bool indexed(const mesh &m) {
    const auto count = m.vertices.size();
    const auto inside = [count](std::uint32_t i) { return i < count; };
    const auto allinside = [&inside](const auto &corners) {
        return std::all_of(corners.begin(), corners.end(), inside);
    };
    return std::all_of(m.triangles.begin(), m.triangles.end(), allinside) &&
           std::all_of(m.lines.begin(), m.lines.end(), allinside) && allinside(m.points);
}

} // namespace

std::vector<std::uint32_t> weld(const float *xyz, std::size_t corners, std::uint32_t &distinct) {
    // An open-addressed table holds the first corner at each position seen so
    // far; it doubles whenever it is half full.
    constexpr std::uint32_t empty = std::numeric_limits<std::uint32_t>::max();
    if (corners >= empty) {
        throw failure("a mesh of " + std::to_string(corners) + " corners is too large");
    }
    std::vector<std::uint32_t> table(1024, empty);
    std::size_t mask = table.size() - 1;
    std::vector<std::uint32_t> number(corners);
    distinct = 0;
    for (std::size_t v = 0; v < corners; ++v) {
        const position p = positionof(xyz, v);
        for (std::size_t slot = slotof(p, mask);; slot = (slot + 1) & mask) {
            const std::uint32_t u = table[slot];
            if (u == empty) {
                table[slot] = static_cast<std::uint32_t>(v);
                number[v] = distinct++;
                break;
            }
            if (positionof(xyz, u) == p) {
                number[v] = number[u];
                break;
            }
        }
        if (2 * static_cast<std::size_t>(distinct) > table.size()) {
            std::vector<std::uint32_t> larger(2 * table.size(), empty);
            mask = larger.size() - 1;
            for (const std::uint32_t u : table) {
                if (u != empty) {
                    std::size_t slot = slotof(positionof(xyz, u), mask);
                    while (larger[slot] != empty) {
                        slot = (slot + 1) & mask;
                    }
                    larger[slot] = u;
                }
            }
            table = std::move(larger);
        }
    }
    return number;
}

mesh fromsoup(const float *soup, std::size_t triangles) {
    mesh out;
    std::uint32_t distinct = 0;
    const std::vector<std::uint32_t> number = weld(soup, 3 * triangles, distinct);
    out.vertices.resize(distinct);
    for (std::size_t c = 0; c < number.size(); ++c) {
        const float *p = soup + 3 * c;
        // Every corner at a position gives the same vertex: -0 is taken as 0.
        out.vertices[number[c]] = {p[0] == 0.0F ? 0.0 : p[0], p[1] == 0.0F ? 0.0 : p[1],
                                   p[2] == 0.0F ? 0.0 : p[2]};
    }
    out.triangles.resize(triangles);
    for (std::size_t t = 0; t < triangles; ++t) {
        out.triangles[t] = {number[3 * t], number[3 * t + 1], number[3 * t + 2]};
    }
    return out;
}

meshproblem check(mesh &m) {
    if (m.triangles.empty() && m.lines.empty() && m.points.empty()) {
        return meshproblem::nothingtodraw;
    }
    if (!indexed(m)) {
        throw failure("a mesh names a vertex it does not have");
    }
    prune(m);
    for (const vec3 &v : m.vertices) {
        for (const double c : {v.x, v.y, v.z}) {
            if (std::isnan(c)) {
                return meshproblem::notanumber;
            }
            if (!(std::fabs(c) <= largestcoordinate)) {
                return meshproblem::toolarge;
            }
        }
    }
    const vec3 &first = m.vertices.front();
    if (std::all_of(m.vertices.begin(), m.vertices.end(), [&first](const vec3 &v) {
            return v.x == first.x && v.y == first.y && v.z == first.z;
        })) {
        return meshproblem::noextent;
    }
    orient(m);
    return meshproblem::none;
}

std::string describe(meshproblem problem, const std::string &name) {
    switch (problem) {
    case meshproblem::none:
        break;
    case meshproblem::nothingtodraw:
        return "mesh '" + name + "' has nothing to draw: no faces, lines or points";
    case meshproblem::notanumber:
        return "mesh '" + name + "' has a coordinate that is not a number";
    case meshproblem::toolarge:
        return "mesh '" + name + "' has a coordinate beyond +-1e15";
    case meshproblem::noextent:
        return "mesh '" + name + "' has no extent: all its vertices are one point";
    }
    return "mesh '" + name + "' is fine";
}

void finish(mesh &m, const std::string &name) {
    const meshproblem problem = check(m);
    if (problem != meshproblem::none) {
        throw failure(describe(problem, name));
    }
}

box bounds(const mesh &m) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    box b{{inf, inf, inf}, {-inf, -inf, -inf}};
    for (const vec3 &v : m.vertices) {
        b.low = {std::min(b.low.x, v.x), std::min(b.low.y, v.y), std::min(b.low.z, v.z)};
        b.high = {std::max(b.high.x, v.x), std::max(b.high.y, v.y), std::max(b.high.z, v.z)};
    }
    return b;
}

} // namespace trel::scene
