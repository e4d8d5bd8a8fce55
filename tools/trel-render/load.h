// Loading meshes as trel-render draws them: triangles over shared vertices, in
// the model's own units, Y up. A mesh file is parsed in a child process under
// an address-space limit and a wall-time limit (see docs/render.md), so that no
// file can hang, crash or exhaust the program that reads it.
#ifndef TREL_RENDER_LOAD_H
#define TREL_RENDER_LOAD_H

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

// The limits a mesh file is parsed under.
struct loadlimits {
    std::uint64_t memorymib = 4096; // address space of the parsing process, in MiB
    double seconds = 30.0;          // wall time from the start of the parse
};

// Reads every mesh of the file's scene, each moved by its node's transform.
// The file is parsed in a child process held to `limits`. Throws failure when
// the file cannot be read, is not a mesh, declares more elements than its size
// can hold, holds no triangles, holds a coordinate that is not a number or too
// large, or when parsing it crashes or goes beyond a limit.
mesh loadmesh(const std::string &path, const loadlimits &limits);

// The built-in bunny, parsed in this process: it is part of the program.
mesh loaddefaultmesh();

} // namespace render

#endif
