// Drawing a placed mesh with one of the library's engines, and reading the
// picture back as 8-bit RGB (and the depth plane as 8-bit grey).
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
    int channels = 3; // 3: RGB, 1: grey
    std::vector<std::uint8_t> bytes;
};

// How far in front of its own face, in depth units, an outline is drawn in
// style both on the 3d engine. The engine already puts every line 10 units
// behind a face at the same world y (so that in a wireframe the edges of
// hidden faces stay hidden behind the faces drawn over them); outlines meant
// to show on their faces must come out ahead of that.
inline constexpr double outlinelift = 12.0;

// The nearness the 3d engine's 16-bit depth plane holds comfortably either
// side of the mesh's centre; deeper meshes are squeezed in depth to fit.
inline constexpr double depthreach = 30000.0;

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

    image colour() const;
    // Writes the picture as 8-bit red, green and blue into `out`, row by row
    // without padding, starting a pixel every `step` bytes (3: packed RGB; 4
    // leaves every fourth byte, an alpha, as it was).
    void readrgb(std::uint8_t *out, std::size_t step) const;
    enginekind kind() const { return kind_; }
    // The depth plane, near = bright and the background black (3d engine only).
    image depth() const;

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
