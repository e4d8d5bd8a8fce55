// What the command line asks for.
#ifndef TREL_RENDER_OPTIONS_H
#define TREL_RENDER_OPTIONS_H

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace render {

// Which of the library's engines draws the picture, named after its class;
// --engine chooses it as 3d, 2d or 2dxy.
enum class enginekind {
    engine3d,   // shaded, depth-tested
    engine2d,   // shaded, faces painted far to near
    engine2dxy, // unshaded silhouettes, painted far to near
};

enum class drawstyle { solid, wire, both };

// The model's up axis; automatic takes Z for STL and 3MF files (Z-up in
// practice) and Y for everything else.
enum class upaxis { automatic, y, z };

struct rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
};

// The colour meshes are drawn in when neither the command line nor the file
// gives one.
inline constexpr rgb defaultcolour{0xf2, 0xd0, 0xa6};

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
    rgb colour = defaultcolour;
    bool colourgiven = false; // --colour was given: it overrides the file's own colours
    rgb background{0x24, 0x2c, 0x3a};
    bool transparent = false;         // --background none: alpha 0 where nothing was drawn
    rgb edgecolour{0x14, 0x14, 0x14}; // the outlines drawn over faces in style both
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

// The pieces of the command line with a syntax of their own; each throws
// failure naming the problem.
void parsesize(const std::string &text, int &width, int &height);
// A view is AZIMUTH,ELEVATION in degrees or one of the names front, back,
// left, right, top, bottom and iso.
void parseview(const std::string &text, double &azimuth, double &elevation);
// #rrggbb, #rgb or a colour name, in any case.
rgb parsecolour(const std::string &text);

// The formats trel-render writes, told by an output's extension (in any
// case): .png, or .webp (an animation with --frames). A name without an
// extension is a PNG, as thumbnailers and "-" expect. Throws failure for any
// other extension.
enum class fileformat { png, webp };
fileformat formatof(const std::string &path);

// Whether the mesh at `path` is taken with Z up under `up`: automatic says
// yes for STL and 3MF files.
bool zupfor(upaxis up, const std::string &path);

} // namespace render

#endif
