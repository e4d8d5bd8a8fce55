// The mesh trel-render draws: triangles, lines and points over shared
// vertices, in the model's own units, Y up, with the file's own colours; and
// the closed-part test that decides which faces can be hidden. Kept apart
// from the loader, which needs assimp, so that the web page builds the same
// code.
#ifndef TREL_RENDER_MESH_H
#define TREL_RENDER_MESH_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace render {

struct vec3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

// In a mesh's colour lists: the element has no colour of its own and is drawn
// in the run's colour.
inline constexpr std::uint32_t nocolour = 0xffffffffU;

struct mesh {
    std::vector<vec3> vertices;
    std::vector<std::array<std::uint32_t, 3>> triangles; // indices into vertices
    std::vector<std::array<std::uint32_t, 2>> lines;     // segments, drawn as lines
    std::vector<std::uint32_t> points;                   // drawn as single pixels
    // The file's own colours, one for each triangle, line or point, or empty
    // when the file gives none: colour words as the engines take them, red in
    // bits 0-7, green in 8-15, blue in 16-23; or nocolour.
    std::vector<std::uint32_t> trianglecolours;
    std::vector<std::uint32_t> linecolours;
    std::vector<std::uint32_t> pointcolours;
    // Which triangles lie in a closed part: a set of triangles joined by shared
    // edges where every edge is shared by exactly two triangles running along
    // it in opposite directions, wound counter-clockwise seen from outside. A
    // triangle of a closed part turned away from the viewer is hidden; any
    // other triangle turned away is drawn from its visible side. `closed` says
    // it of every triangle when `sealed` is empty; otherwise `sealed` holds
    // one entry per triangle, not 0 in closed parts.
    bool closed = false;
    std::vector<std::uint8_t> sealed;

    bool insealedpart(std::size_t triangle) const {
        return sealed.empty() ? closed : sealed[triangle] != 0;
    }
};

// Coordinates beyond this size are refused: they are almost certainly broken
// data, and placing them would lose the model's detail to rounding.
inline constexpr double largestcoordinate = 1e15;

// Finds the mesh's parts (triangles joined by shared edges) and sets closed
// and sealed. The triangles of each closed part are wound counter-clockwise
// seen from outside: any that run the other way are turned round, so that
// every closed part winds the same way, whatever the rest of the file does.
// Time and memory grow in step with the mesh.
void orient(mesh &m);

} // namespace render

#endif
