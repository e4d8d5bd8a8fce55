// The page's WebAssembly module: a small C interface over one viewer, called
// from trel.js. Numbers cross as JavaScript numbers; the soup and the picture
// stay in the module's memory, where the page writes and reads them.
#include <cstdlib>

#include <emscripten/emscripten.h>

#include <trel/trel.h>

#include "scene.h"

namespace {

web::viewer &theviewer() {
    static web::viewer v;
    return v;
}

trel::scene::enginekind kindof(int engine) {
    switch (engine) {
    case 1:
        return trel::scene::enginekind::engine2d;
    case 2:
        return trel::scene::enginekind::engine2dxy;
    default:
        return trel::scene::enginekind::engine3d;
    }
}

trel::scene::drawstyle styleof(int style) {
    switch (style) {
    case 1:
        return trel::scene::drawstyle::wire;
    case 2:
        return trel::scene::drawstyle::both;
    default:
        return trel::scene::drawstyle::solid;
    }
}

} // namespace

extern "C" {

// Room for a soup of `triangles` triangles, to be filled by the page and
// handed to trelweb_setmesh, which frees it. Up to 40 million triangles: the
// soup's 36 bytes a triangle must stay well inside the 32-bit address space.
EMSCRIPTEN_KEEPALIVE float *trelweb_soup(int triangles) {
    if (triangles <= 0 || triangles > 40'000'000) {
        return nullptr;
    }
    return static_cast<float *>(
        std::malloc(static_cast<std::size_t>(triangles) * 9 * sizeof(float)));
}

// Takes the soup as the mesh to draw; returns a web::meshstatus.
EMSCRIPTEN_KEEPALIVE int trelweb_setmesh(float *soup, int triangles) {
    const web::meshstatus status =
        theviewer().setmesh(soup, triangles > 0 ? static_cast<std::size_t>(triangles) : 0);
    std::free(soup);
    return static_cast<int>(status);
}

EMSCRIPTEN_KEEPALIVE int trelweb_triangles() {
    return static_cast<int>(theviewer().mesh().triangles.size());
}

// engine: 0 engine3d, 1 engine2d, 2 engine2dxy; style: 0 solid, 1 wire, 2 both.
// Returns the RGBA picture's address, or 0.
EMSCRIPTEN_KEEPALIVE const unsigned char *trelweb_frame(int engine, int style, double azimuth,
                                                        double elevation, int zup, int width,
                                                        int height) {
    return theviewer().frame(kindof(engine), styleof(style), azimuth, elevation, zup != 0, width,
                             height);
}

EMSCRIPTEN_KEEPALIVE double trelweb_drawms() { return theviewer().drawms(); }

// The largest width and height a picture may have.
EMSCRIPTEN_KEEPALIVE int trelweb_largestside() { return trel::largestside; }

EMSCRIPTEN_KEEPALIVE const char *trelweb_version() { return trel::version(); }
}
