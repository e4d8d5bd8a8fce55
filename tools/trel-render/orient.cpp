// Kept apart from the assimp loader so that the web page, which reads its
// meshes in the browser, orients them with the same code.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "mesh.h"

namespace render {

void orient(mesh &m) {
    m.closed = false;
    // Each directed edge must appear once, and its reverse once. The edges are
    // grouped by the corner they leave (ends[start[a]] ... ends[start[a + 1] - 1]
    // are where the edges from a arrive), each group sorted: a repeated edge is
    // then two equal neighbours, and a reverse is found by a binary search.
    // Time and memory grow with the mesh (a few bytes an edge), unlike a map.
    const std::size_t count = m.vertices.size();
    std::vector<std::size_t> start(count + 2, 0);
    for (const auto &t : m.triangles) {
        for (const std::uint32_t i : t) {
            if (i >= count) {
                return;
            }
            ++start[i + 2];
        }
    }
    for (std::size_t a = 2; a < start.size(); ++a) {
        start[a] += start[a - 1];
    }
    // start[a + 1] is now where a's group begins; filling moves it to its end,
    // which is where a + 1's group begins.
    std::vector<std::uint32_t> ends(3 * m.triangles.size());
    for (const auto &t : m.triangles) {
        for (int i = 0; i < 3; ++i) {
            ends[start[t[i] + 1]++] = t[(i + 1) % 3];
        }
    }
    const auto group = [&](std::uint32_t a) {
        return std::pair{ends.begin() + static_cast<std::ptrdiff_t>(start[a]),
                         ends.begin() + static_cast<std::ptrdiff_t>(start[a + 1])};
    };
    for (std::uint32_t a = 0; a < count; ++a) {
        const auto [first, last] = group(a);
        std::sort(first, last);
        if (std::adjacent_find(first, last) != last) {
            return;
        }
    }
    for (std::uint32_t a = 0; a < count; ++a) {
        const auto [first, last] = group(a);
        for (auto b = first; b != last; ++b) {
            const auto [back, backend] = group(*b);
            if (!std::binary_search(back, backend, a)) {
                return;
            }
        }
    }
    // Six times the enclosed volume, positive when the faces wind
    // counter-clockwise seen from outside.
    double volume = 0.0;
    for (const auto &t : m.triangles) {
        const vec3 &a = m.vertices[t[0]];
        const vec3 &b = m.vertices[t[1]];
        const vec3 &c = m.vertices[t[2]];
        volume += a.x * (b.y * c.z - b.z * c.y) - a.y * (b.x * c.z - b.z * c.x) +
                  a.z * (b.x * c.y - b.y * c.x);
    }
    if (!(volume != 0.0)) {
        return; // flat or degenerate: no inside to hide faces behind
    }
    if (volume < 0.0) {
        for (auto &t : m.triangles) {
            std::swap(t[1], t[2]);
        }
    }
    m.closed = true;
}

} // namespace render
