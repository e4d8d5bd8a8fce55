// Placing a mesh in the picture: turned to the view, centred, and scaled so
// that it fills most of the picture. Everything here is in doubles; the
// engines' world coordinates are formed from the result by render.cpp.
#ifndef TREL_RENDER_PLACEMENT_H
#define TREL_RENDER_PLACEMENT_H

#include <span>
#include <vector>

#include "load.h"

namespace render {

// Turns model coordinates (Y up and the viewer on +Z; or, for a model with Z
// up, the viewer on -Y) into view coordinates x = right, y = up, z = toward
// the viewer: first about the vertical axis by the azimuth (the viewer walks
// round to the model's +X side as it grows), then about the horizontal axis by
// the elevation (the viewer rises).
struct rotation {
    double m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

    static rotation view(double azimuthdegrees, double elevationdegrees, bool zup = false);
    vec3 apply(const vec3 &v) const;
};

// The fit shared by every frame of a run: a centre in model units and a scale
// from model units to pixels, plus where the centre lands in view space.
struct placement {
    vec3 centre;
    double scale = 1.0;
    double right = 0.0; // the view-space point, in model units, put mid-picture
    double up = 0.0;
};

// Chooses one placement that keeps the mesh inside `fill` of a width x height
// picture under every one of `views`, centred on the union of their outlines.
placement fit(const mesh &m, std::span<const rotation> views, int width, int height,
              double fill = 0.9);

// A placed vertex: column and row in the picture (real-valued, the picture's
// centre at width / 2, height / 2) and nearness in pixels (bigger is nearer).
struct screenpoint {
    double column = 0.0;
    double row = 0.0;
    double near = 0.0;
};

std::vector<screenpoint> place(const mesh &m, const rotation &view, const placement &p, int width,
                               int height);

} // namespace render

#endif
