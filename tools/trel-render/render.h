// Drawing a placed mesh with one of the library's engines, and reading the
// picture back as 8-bit RGB or RGBA (and the depth plane as 8- or 16-bit grey).
#ifndef TREL_RENDER_RENDER_H
#define TREL_RENDER_RENDER_H

#include <cstddef>
#include <cstdint>
#include <variant>
#include <vector>

#include <trel/trel.h>

#include "mesh.h"
#include "options.h"
#include "placement.h"

namespace render {

struct image {
    int width = 0;
    int height = 0;
    int channels = 3; // 4: RGBA, 3: RGB, 1: grey
    int bits = 8;     // per sample: 8, or 16 (grey only) stored high byte first
    std::vector<std::uint8_t> bytes;
};

// On a transparent background the picture is cleared with this fourth byte
// set in every word. No drawing operation can store it: shaded triangles and
// engine3d's lines store 0 there, and the flat lines, dots and engine2dxy's
// triangles store the fourth byte of the colour they are handed, which here
// is always 0 (colours are 24-bit). So a word that still has it was never
// drawn on, whatever its colour, on every engine and in every style.
inline constexpr std::uint32_t undrawn = 0xFF000000U;

// How the depth picture turns the engine's depths into greys when the range
// is fixed (--depth-range): a depth of `near` (in the mesh's units, in front
// of its centre) is the brightest grey, one of `far` the darkest drawn grey,
// depths beyond either end are held at that end. `unit` is the engine depth
// that one mesh unit became: the placement's scale (pixels per mesh unit)
// times the depth squeeze of the frame (see depthsqueeze).
struct depthmapping {
    double near = 1.0;
    double far = -1.0;
    double unit = 1.0;
};

// The greys of the depth picture: the background is 0, drawn depths run from
// the darkest drawn grey to the brightest.
inline constexpr int darkest8 = 48;
inline constexpr int brightest8 = 255;
inline constexpr int darkest16 = darkest8 * 257;
inline constexpr int brightest16 = 65535;

// How far in front of its own face, in depth units, an outline is drawn in
// style both on the 3d engine. The engine already puts every line 10 units
// behind a face at the same world y (so that in a wireframe the edges of
// hidden faces stay hidden behind the faces drawn over them); outlines meant
// to show on their faces must come out ahead of that.
inline constexpr double outlinelift = 12.0;

// The nearness the 3d engine's 16-bit depth plane holds comfortably either
// side of the mesh's centre; deeper meshes are squeezed in depth to fit.
inline constexpr double depthreach = 30000.0;

// The factor that brings the nearness of every point within the reach of
// engine3d's depth plane: 1 unless the mesh is deeper than that. The engine
// depth of a point is then its nearness times this factor.
double depthsqueeze(const std::vector<screenpoint> &points);

class canvas {
  public:
    // The engine itself, held as its own class, which is the class it is
    // destroyed through (in render.cpp only, see there).
    using engines = std::variant<trel::engine3d, trel::engine2d, trel::engine2dxy>;

    // Throws failure when the engine cannot be made (no memory).
    canvas(enginekind kind, int width, int height);
    ~canvas();
    canvas(const canvas &) = delete;
    canvas &operator=(const canvas &) = delete;

    // Clears to the background and draws every triangle of `m`, whose
    // vertices are placed at `points`, in the style and colours of `opts`.
    void draw(const mesh &m, const std::vector<screenpoint> &points, const options &opts);

    // The picture as 8-bit RGB, or with `transparent` as RGBA whose alpha is
    // 0 (and colour black) where nothing was drawn and 255 elsewhere; the
    // picture must then have been drawn with options::transparent.
    image colour(bool transparent = false) const;
    // Writes the picture as 8-bit red, green and blue into `out`, row by row
    // without padding, starting a pixel every `step` bytes (3: packed RGB; 4
    // leaves every fourth byte, an alpha, as it was).
    void readrgb(std::uint8_t *out, std::size_t step) const;
    enginekind kind() const { return kind_; }
    // The depth plane, near = bright and the background black (3d engine
    // only), in 8-bit grey or with `sixteen` in 16-bit grey. Without a
    // mapping the drawn depths are stretched from the darkest drawn grey
    // (farthest) to the brightest (nearest), each picture on its own; with
    // one, every picture maps the same depth to the same grey.
    image depth(const depthmapping *mapping = nullptr, bool sixteen = false) const;

  private:
    trel::engine &base();

    enginekind kind_;
    int width_;
    int height_;
    engines engine_;
    const std::uint32_t *pixels_ = nullptr;
    int stride_ = 0;
};

} // namespace render

#endif
