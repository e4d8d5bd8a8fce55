// The scene the web page shows, shared by the page's WebAssembly module and
// the native program that renders the same frames for comparison: a mesh
// handed over as a triangle soup, welded and checked as trel-render welds and
// checks a file's, placed so that it stays the same size however it is
// turned, drawn by the scene layer's canvas and read back as RGBA.
#ifndef TREL_WEB_SCENE_H
#define TREL_WEB_SCENE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <trel/scene.h>

namespace web {

// What setmesh makes of a soup; the numbers are what the page is handed.
enum class meshstatus {
    ok = 0,
    notriangles = 1, // nothing to draw
    notanumber = 2,  // a coordinate is NaN
    toolarge = 3,    // a coordinate beyond trel::scene::largestcoordinate, or infinite
    noextent = 4,    // every corner is the same point
};

// Welds a triangle soup (nine floats to a triangle: three corners of x, y, z)
// into triangles over shared vertices with the scene layer's weld, checks it
// and orients the faces of its closed parts.
meshstatus weld(const float *soup, std::size_t triangles, trel::scene::mesh &out);

class viewer {
  public:
    meshstatus setmesh(const float *soup, std::size_t triangles);
    const trel::scene::mesh &mesh() const { return mesh_; }

    // Draws the mesh turned to (azimuth, elevation) degrees, its Z axis up
    // when zup, into a width x height picture, and returns the picture as
    // RGBA bytes, row by row without padding, alpha 255. Null when there is
    // no mesh or the engine cannot be made.
    const std::uint8_t *frame(trel::scene::enginekind kind, trel::scene::drawstyle style,
                              double azimuth, double elevation, bool zup, int width, int height);

    // How long the last frame's drawing took (the engine's work, without
    // the RGBA read-back), in milliseconds.
    double drawms() const { return drawms_; }

  private:
    trel::scene::mesh mesh_;
    trel::scene::placement placement_;
    int placedwidth_ = 0;
    int placedheight_ = 0;
    std::unique_ptr<trel::scene::canvas> canvas_;
    std::vector<std::uint8_t> rgba_;
    double drawms_ = 0.0;
};

} // namespace web

#endif
