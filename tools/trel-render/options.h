// What the command line asks for.
#ifndef TREL_RENDER_OPTIONS_H
#define TREL_RENDER_OPTIONS_H

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <trel/scene.h>

namespace render {

using trel::scene::drawstyle;
using trel::scene::enginekind;
using trel::scene::rgb;
using trel::scene::upaxis;

struct options {
    std::vector<std::string> meshes; // none: the default scene
    std::string outdir;              // batch: one picture per mesh in this folder
    int jobs = 0;                    // meshes drawn at once in a batch; 0: one per core
    int thumbnail = 0;               // 0: none; else the side of a square thumbnail
    enginekind engine = enginekind::engine3d;
    drawstyle style = drawstyle::solid;
    int width = 800;
    int height = 600;
    double azimuth = -30.0; // degrees, turning the model about its vertical axis
    double elevation = 15.0;
    upaxis up = upaxis::automatic;
    double margin = 5.0; // percent of the picture's width and height left free on each side
    rgb colour = trel::scene::defaultcolour;
    bool colourgiven = false; // --colour was given: it overrides the file's own colours
    rgb background = trel::scene::defaultbackground;
    bool transparent = false; // --background none: alpha 0 where nothing was drawn
    rgb edgecolour = trel::scene::defaultedgecolour; // the outlines drawn over faces in style both
    std::string output = "render.png";
    std::string depth; // empty: no depth picture
    int frames = 0;    // 0: one picture, written to `output` itself
    // --depth-range NEAR,FAR: the depths that the depth picture's brightest and
    // darkest drawn greys stand for, the same for every frame and file; depths
    // beyond them are held at them. A depth is in the mesh's own units, along
    // the line of sight from the centre of the mesh's bounding box, positive
    // towards the viewer (the engine's depth divided by the placement's scale
    // and the depth squeeze). Unset, each picture stretches its own.
    std::optional<std::pair<double, double>> depthrange;
    bool depth16 = false; // the depth picture in 16-bit grey (0 background, 12336..65535)
    bool stats = false;
    std::uint64_t maxmemory = 4096; // MiB of address space for parsing the mesh
    double loadtimeout = 30.0;      // seconds for parsing the mesh
};

// Reads the command line into `opts`. Returns the status to exit with when the
// run ends here (help, version, or a usage error already reported on stderr),
// nothing when the picture is to be rendered.
std::optional<int> parseoptions(int argc, char **argv, options &opts);

// The settings the scene layer draws and places with.
trel::scene::drawsettings drawsettingsof(const options &opts);
trel::scene::viewsettings viewsettingsof(const options &opts);

// The formats trel-render writes, told by an output's extension (in any
// case): .png, or .webp (an animation with --frames). A name without an
// extension is a PNG, as thumbnailers and "-" expect. Throws failure for any
// other extension.
enum class fileformat { png, webp };
fileformat formatof(const std::string &path);

} // namespace render

#endif
