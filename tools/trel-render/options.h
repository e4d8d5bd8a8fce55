// The first stage: the command line read into settings. What is drawn and
// how (the scene layer's drawsettings and viewsettings), what is written
// where, and the limits the mesh is loaded under.
#ifndef TREL_RENDER_OPTIONS_H
#define TREL_RENDER_OPTIONS_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <trel/scene.h>

#include "load.h"

namespace render {

struct options {
    std::vector<std::string> meshes; // none: the default scene
    std::string outdir;              // batch: one picture per mesh in this folder
    int jobs = 0;                    // meshes drawn at once in a batch; 0: one per core
    int thumbnail = 0;               // 0: none; else the side of a square thumbnail
    trel::scene::drawsettings draw;
    trel::scene::viewsettings view;
    std::string output = "render.png";
    std::string depth; // empty: no depth picture
    int frames = 0;    // 0: one picture, written to `output` itself
    // --depth-range NEAR,FAR: the depths that the depth picture's brightest and
    // darkest drawn greys stand for, the same for every frame and file; depths
    // beyond them are held at them. A depth is in the mesh's own units, along
    // the line of sight from the centre of the mesh's bounding box, positive
    // towards the viewer. Unset, each picture stretches its own.
    std::optional<std::pair<double, double>> depthrange;
    bool depth16 = false; // the depth picture in 16-bit grey (0 background, 12336..65535)
    bool stats = false;
    bool force = false;      // an output may replace any regular file, not only a picture
    bool printnames = false; // each file written is named on a line of its own
    trel::loader::limits limits;
};

// Reads the command line into `opts`. Returns the status to exit with when the
// run ends here (help, version, or a usage error already reported on stderr),
// nothing when the picture is to be rendered.
std::optional<int> parseoptions(int argc, char **argv, options &opts);

} // namespace render

#endif
