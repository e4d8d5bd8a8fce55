// What the command line asks for.
#ifndef TREL_RENDER_OPTIONS_H
#define TREL_RENDER_OPTIONS_H

#include <cstdint>
#include <optional>
#include <string>

namespace render {

// Which of the library's engines draws the picture, named after its class;
// --engine chooses it as 3d, 2d or 2dxy.
enum class enginekind {
    engine3d,   // shaded, depth-tested
    engine2d,   // shaded, faces painted far to near
    engine2dxy, // unshaded silhouettes, painted far to near
};

enum class drawstyle { solid, wire, both };

struct rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
};

struct options {
    std::string mesh; // empty: the default scene
    enginekind engine = enginekind::engine3d;
    drawstyle style = drawstyle::solid;
    int width = 800;
    int height = 600;
    double azimuth = -30.0; // degrees, turning the model about its vertical axis
    double elevation = 15.0;
    bool zup = false; // the model's Z axis is up rather than its Y axis
    rgb colour{0xf2, 0xd0, 0xa6};
    rgb background{0x24, 0x2c, 0x3a};
    rgb edgecolour{0x14, 0x14, 0x14}; // the outlines drawn over faces in style both
    std::string output = "render.png";
    std::string depth; // empty: no depth picture
    int frames = 0;    // 0: one picture, written to `output` itself
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
void parseview(const std::string &text, double &azimuth, double &elevation);
rgb parsecolour(const std::string &text);

} // namespace render

#endif
