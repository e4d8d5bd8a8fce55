// The mesh trel-render draws: triangles over shared vertices, in the model's
// own units, Y up; and the closed-mesh test that decides which faces can be
// hidden. Kept apart from the loader, which needs assimp, so that the web
// page builds the same code.
#ifndef TREL_RENDER_MESH_H
#define TREL_RENDER_MESH_H

#include <array>
#include <cstdint>
#include <vector>

namespace render {

struct vec3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

struct mesh {
    std::vector<vec3> vertices;
    std::vector<std::array<std::uint32_t, 3>> triangles; // indices into vertices
    // Every edge is shared by exactly two triangles that run along it in
    // opposite directions, and the faces wind counter-clockwise seen from
    // outside: a face turned away from the viewer is then always hidden.
    bool closed = false;
};

// Coordinates beyond this size are refused: they are almost certainly broken
// data, and placing them would lose the model's detail to rounding.
inline constexpr double largestcoordinate = 1e15;

// Sets m.closed, turning the faces of a closed mesh wound clockwise (seen from
// outside) round so that all closed meshes wind the same way.
void orient(mesh &m);

} // namespace render

#endif
