// Kept apart from the assimp loader so that the web page, which reads its
// meshes in the browser, orients them with the same code.
#include <cstdint>
#include <unordered_map>
#include <utility>

#include "mesh.h"

namespace render {

void orient(mesh &m) {
    m.closed = false;
    // Each directed edge must appear once, and its reverse once.
    std::unordered_map<std::uint64_t, int> edges;
    const auto key = [](std::uint32_t a, std::uint32_t b) {
        return (static_cast<std::uint64_t>(a) << 32) | b;
    };
    for (const auto &t : m.triangles) {
        for (int i = 0; i < 3; ++i) {
            if (++edges[key(t[i], t[(i + 1) % 3])] > 1) {
                return;
            }
        }
    }
    for (const auto &[edge, count] : edges) {
        const auto a = static_cast<std::uint32_t>(edge >> 32);
        const auto b = static_cast<std::uint32_t>(edge & 0xFFFFFFFFU);
        if (edges.find(key(b, a)) == edges.end()) {
            return;
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
