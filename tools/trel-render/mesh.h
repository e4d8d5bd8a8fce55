// Meshes as trel-render draws them: triangles over shared vertices, in the
// model's own units, Y up.
#ifndef TREL_RENDER_MESH_H
#define TREL_RENDER_MESH_H

#include <array>
#include <cstdint>
#include <string>
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

// Sets m.closed, turning the faces of a closed mesh wound clockwise (seen from
// outside) round so that all closed meshes wind the same way.
void orient(mesh &m);

// Coordinates beyond this size are refused: they are almost certainly broken
// data, and placing them would lose the model's detail to rounding.
inline constexpr double largestcoordinate = 1e15;

// Reads every mesh of the file's scene, each moved by its node's transform.
// Throws failure when the file cannot be read, is not a mesh, holds no
// triangles, or holds a coordinate that is not a number or too large.
mesh loadmesh(const std::string &path);

// The built-in bunny.
mesh loaddefaultmesh();

} // namespace render

#endif
