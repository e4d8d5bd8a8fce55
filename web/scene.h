// The scene the web page shows, shared by the page's WebAssembly module and
// the native program that renders the same frames for comparison: a mesh
// handed over as a triangle soup, placed so that it stays the same size
// however it is turned, drawn by trel-render's canvas and read back as RGBA.
#ifndef TREL_WEB_SCENE_H
#define TREL_WEB_SCENE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "mesh.h"
#include "options.h"
#include "placement.h"
#include "render.h"

namespace web {

// What setmesh makes of a soup.
enum class meshstatus {
    ok = 0,
    notriangles = 1, // nothing to draw
    notanumber = 2,  // a coordinate is NaN
    toolarge = 3,    // a coordinate beyond render::largestcoordinate, or infinite
    noextent = 4,    // every corner is the same point
};

// Welds a triangle soup (nine floats to a triangle: three corners of x, y, z)
// into triangles over shared vertices: corners with the same three floats
// become one vertex, numbered in the order the triangles first use them. Then
// checks the coordinates as trel-render checks a file's, and orients the
// faces of a closed mesh.
meshstatus weld(const float *soup, std::size_t triangles, render::mesh &out);

class viewer {
  public:
    meshstatus setmesh(const float *soup, std::size_t triangles);
    const render::mesh &mesh() const { return mesh_; }

    // Draws the mesh turned to (azimuth, elevation) degrees, its Z axis up
    // when zup, into a width x height picture, and returns the picture as
    // RGBA bytes, row by row without padding, alpha 255. Null when there is
    // no mesh or the engine cannot be made.
    const std::uint8_t *frame(render::enginekind kind, render::drawstyle style, double azimuth,
                              double elevation, bool zup, int width, int height);

    // How long the last frame's drawing took (the engine's work, without
    // the RGBA read-back), in milliseconds.
    double drawms() const { return drawms_; }

  private:
    render::mesh mesh_;
    render::placement placement_;
    int placedwidth_ = 0;
    int placedheight_ = 0;
    std::unique_ptr<render::canvas> canvas_;
    int canvaswidth_ = 0;
    int canvasheight_ = 0;
    std::vector<std::uint8_t> rgba_;
    double drawms_ = 0.0;
};

} // namespace web

#endif
