// trel's scene layer: whole meshes drawn into pictures with the library's
// engines. trel-render, the web page and the Python module all draw through
// it, so one mesh with one set of settings gives one picture everywhere.
//
//   mesh          triangles, lines and points over shared vertices, in the
//                 model's own units, with the file's own colours
//   weld, finish  corners at one position joined (-0 is 0), the mesh checked
//                 (nothing to draw, NaN, beyond 1e15, no extent) and its closed
//                 parts wound outward
//   viewsettings  azimuth and elevation (or a named view), up axis, margin
//   drawsettings  engine, style, size, colours, background or transparent
//   canvas        one engine drawing placed meshes, read back as an image
//   turntable     the frames of one run sharing one placement
//
// It uses only trel/trel.h and the standard library, so it builds wherever
// the library does. Errors in what a caller hands over are thrown as
// trel::scene::failure, one line each.
#ifndef TREL_SCENE_H
#define TREL_SCENE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include <trel/trel.h>

namespace trel::scene {

// A problem with a mesh or a setting, told in one line.
class failure : public std::runtime_error {
  public:
    explicit failure(const std::string &message) : std::runtime_error(message) {}
};

// ---- Meshes -------------------------------------------------------------------

struct vec3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

// In a mesh's colour lists: the element has no colour of its own and is drawn
// in the run's colour.
inline constexpr std::uint32_t nocolour = 0xffffffffU;

// Coordinates beyond this size are refused: they are almost certainly broken
// data, and placing them would lose the model's detail to rounding.
inline constexpr double largestcoordinate = 1e15;

using triangle = std::array<std::uint32_t, 3>;
using segment = std::array<std::uint32_t, 2>;

struct mesh {
    std::vector<vec3> vertices;
    std::vector<triangle> triangles;   // indices into vertices
    std::vector<segment> lines;        // segments, drawn as lines
    std::vector<std::uint32_t> points; // drawn as single pixels
    // The file's own colours, one for each triangle, line or point, or empty
    // when the file gives none: colour words as the engines take them, red in
    // bits 0-7, green in 8-15, blue in 16-23; or nocolour.
    std::vector<std::uint32_t> trianglecolours;
    std::vector<std::uint32_t> linecolours;
    std::vector<std::uint32_t> pointcolours;
    // Which triangles lie in a closed part: a set of triangles joined by shared
    // edges where every edge is shared by exactly two triangles running along
    // it in opposite directions, wound counter-clockwise seen from outside. A
    // triangle of a closed part turned away from the viewer is hidden; any
    // other triangle turned away is drawn from its visible side. `closed` says
    // it of every triangle when `sealed` is empty; otherwise `sealed` holds
    // one entry per triangle, not 0 in closed parts.
    bool closed = false;
    std::vector<std::uint8_t> sealed;
    // The file came in a format whose models are Z-up in practice (STL, 3MF):
    // the automatic up axis takes Z for it.
    bool zupfile = false;

    bool insealedpart(std::size_t t) const { return sealed.empty() ? closed : sealed[t] != 0; }
};

// For each of `corners` positions (three floats each, at `xyz`), the number
// of its position among the distinct positions, numbered in the order they
// first appear; `distinct` receives their count. Positions are compared as
// values: -0 is 0. Time and memory grow in step with the corners.
std::vector<std::uint32_t> weld(const float *xyz, std::size_t corners, std::uint32_t &distinct);

// A triangle soup (nine floats to a triangle: three corners of x, y, z)
// welded into triangles over shared vertices, unchecked (see finish).
mesh fromsoup(const float *soup, std::size_t triangles);

// What finish refuses, in the order it looks.
enum class meshproblem {
    none,
    nothingtodraw, // no triangles, lines or points
    notanumber,    // a coordinate is NaN
    toolarge,      // a coordinate beyond largestcoordinate, or infinite
    noextent,      // every vertex is the same point
};

// Keeps only the vertices that triangles, lines and points use (numbered in
// the order the triangles, then the lines, then the points first use them),
// checks what is left and, when nothing is wrong, winds the closed parts
// outward (orient). Returns the first problem found; the mesh is then left
// pruned but not oriented.
meshproblem check(mesh &m);

// The one line trel-render says of `problem` in the mesh called `name`.
std::string describe(meshproblem problem, const std::string &name);

// check, throwing failure with describe's line.
void finish(mesh &m, const std::string &name);

// Finds the mesh's parts (triangles joined by shared edges) and sets closed
// and sealed. The triangles of each closed part are wound counter-clockwise
// seen from outside: any that run the other way are turned round, so that
// every closed part winds the same way, whatever the rest of the file does.
// Time and memory grow in step with the mesh.
void orient(mesh &m);

// The box round the mesh's vertices.
struct box {
    vec3 low;
    vec3 high;
    vec3 centre() const {
        return {low.x / 2 + high.x / 2, low.y / 2 + high.y / 2, low.z / 2 + high.z / 2};
    }
};
box bounds(const mesh &m);

// ---- Settings -----------------------------------------------------------------

// Which of the library's engines draws the picture, named after its class:
// 3d, 2d or 2dxy.
enum class enginekind {
    engine3d,   // shaded, depth-tested
    engine2d,   // shaded, faces painted far to near
    engine2dxy, // unshaded silhouettes, painted far to near
};

enum class drawstyle { solid, wire, both };

// The model's up axis; automatic takes Z for the formats whose models are
// Z-up in practice (mesh::zupfile) and Y for everything else.
enum class upaxis { automatic, y, z };

struct rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    bool operator==(const rgb &) const = default;
};

// The colour meshes are drawn in when neither the caller nor the file gives
// one, and the other defaults.
inline constexpr rgb defaultcolour{0xf2, 0xd0, 0xa6};
inline constexpr rgb defaultbackground{0x24, 0x2c, 0x3a};
inline constexpr rgb defaultedgecolour{0x14, 0x14, 0x14};

// How a picture is drawn.
struct drawsettings {
    enginekind engine = enginekind::engine3d;
    drawstyle style = drawstyle::solid;
    int width = 800;
    int height = 600;
    rgb colour = defaultcolour;
    bool colourgiven = false; // colour overrides the file's own colours
    rgb background = defaultbackground;
    bool transparent = false;           // alpha 0 where nothing was drawn
    rgb edgecolour = defaultedgecolour; // the outlines drawn over faces in style both
};

// Where the mesh is seen from.
struct viewsettings {
    double azimuth = -30.0; // degrees, turning the model about its vertical axis
    double elevation = 15.0;
    upaxis up = upaxis::automatic;
    double margin = 5.0; // percent of the picture's width and height left free on each side
};

// The named values, in any case; each throws failure naming what it expected.
// A view is AZIMUTH,ELEVATION in degrees or one of the names front, back,
// left, right, top, bottom and iso.
void parseview(const std::string &text, double &azimuth, double &elevation);
// #rrggbb, #rgb or a colour name.
rgb parsecolour(const std::string &text);
// WIDTHxHEIGHT, each from 1 to trel::largestside.
void parsesize(const std::string &text, int &width, int &height);
enginekind parseengine(const std::string &text); // 3d, 2d, 2dxy
drawstyle parsestyle(const std::string &text);   // solid, wire, both
upaxis parseup(const std::string &text);         // auto, y, z
// The names parseengine, parsestyle and parseup take, in the order the help
// lists them.
const std::vector<std::string> &enginenames();
const std::vector<std::string> &stylenames();
const std::vector<std::string> &upnames();

// Whether `m` is taken with Z up under `up`.
bool zup(upaxis up, const mesh &m);

// ---- Placement ----------------------------------------------------------------

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
// picture under every one of `views`, centred on the union of their outlines:
// with `fill` 1 the outline reaches the first and the last column or row.
placement fit(const mesh &m, std::span<const rotation> views, int width, int height,
              double fill = 0.9);

// Centred on the middle of the bounding box and scaled so that the sphere
// round that centre through the farthest vertex spans `fill` of the picture's
// smaller side: the mesh keeps its size and never leaves the picture,
// whichever way it is turned.
placement spherefit(const mesh &m, int width, int height, double fill = 0.95);

// A placed vertex: column and row in the picture (real-valued: pixel k at k,
// the picture from 0 to width - 1 and height - 1, its centre at (width - 1) / 2,
// (height - 1) / 2; the canvas draws each at its nearest pixel) and nearness in
// pixels (bigger is nearer).
struct screenpoint {
    double column = 0.0;
    double row = 0.0;
    double near = 0.0;
};

std::vector<screenpoint> place(const mesh &m, const rotation &view, const placement &p, int width,
                               int height);

// ---- Pictures -----------------------------------------------------------------

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
// is fixed: a depth of `near` (in the mesh's units, in front of its centre) is
// the brightest grey, one of `far` the darkest drawn grey, depths beyond
// either end are held at that end. `unit` is the engine depth that one mesh
// unit became: the placement's scale (pixels per mesh unit) times the depth
// squeeze of the frame (see depthsqueeze).
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
// style both on the 3d engine. The engine draws every line
// trel::linedepthoffset units behind a face at the same world y (so that in a
// wireframe the edges of hidden faces stay hidden behind the faces drawn over
// them); outlines meant to show on their faces must come out ahead of that.
inline constexpr double outlinelift = trel::linedepthoffset + 2.0;

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
    // destroyed through (in canvas.cpp only, see there).
    using engines = std::variant<trel::engine3d, trel::engine2d, trel::engine2dxy>;

    // Throws failure when the engine cannot be made (no memory).
    canvas(enginekind kind, int width, int height);
    ~canvas();
    canvas(const canvas &) = delete;
    canvas &operator=(const canvas &) = delete;

    // Clears to the background and draws every triangle, line and point of
    // `m`, whose vertices are placed at `points`, in the style and colours of
    // `settings` (its engine and size are the canvas's own).
    void draw(const mesh &m, const std::vector<screenpoint> &points, const drawsettings &settings);

    // The picture as 8-bit RGB, or with `transparent` as RGBA whose alpha is
    // 0 (and colour black) where nothing was drawn and 255 elsewhere; the
    // picture must then have been drawn with drawsettings::transparent.
    image colour(bool transparent = false) const;
    // Writes the picture as 8-bit red, green and blue into `out`, row by row
    // without padding, starting a pixel every `step` bytes (3: packed RGB; 4
    // leaves every fourth byte, an alpha, as it was).
    void readrgb(std::uint8_t *out, std::size_t step) const;
    enginekind kind() const { return kind_; }
    int width() const { return width_; }
    int height() const { return height_; }
    // The depth plane, near = bright and the background black (3d engine
    // only; elsewhere all black), in 8-bit grey or with `sixteen` in 16-bit
    // grey. Without a mapping the drawn depths are stretched from the darkest
    // drawn grey (farthest) to the brightest (nearest), each picture on its
    // own; with one, every picture maps the same depth to the same grey.
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

// The frames of one run: `frames` views turned evenly about the vertical
// axis from the view's azimuth (one frame: the view itself), all placed by one
// fit, so that the mesh keeps its size and place from frame to frame.
class turntable {
  public:
    // Throws failure for a margin outside 0 to below 50 (percent) or fewer
    // than one frame.
    turntable(const mesh &m, const viewsettings &view, int frames, int width, int height);

    int frames() const { return static_cast<int>(views_.size()); }
    bool zup() const { return zup_; }
    const placement &fitted() const { return fitted_; }
    const rotation &view(int frame) const { return views_.at(static_cast<std::size_t>(frame)); }
    // Where the mesh's vertices land in frame `frame`.
    std::vector<screenpoint> points(int frame) const;
    // The mapping of a fixed depth range (near, far in the mesh's units) in a
    // frame placed at `points`.
    depthmapping mapping(double near, double far, const std::vector<screenpoint> &points) const;

  private:
    const mesh *mesh_;
    int width_;
    int height_;
    bool zup_;
    std::vector<rotation> views_;
    placement fitted_;
};

// One picture of `m`: RGB, or RGBA with settings.transparent.
image render(const mesh &m, const viewsettings &view, const drawsettings &settings);
// Its depth picture (the 3d engine's depth plane; all black for the others),
// 16-bit grey unless `sixteen` is false: stretched over the drawn depths, or
// with `range` (near, far in the mesh's units, see depthmapping) mapped.
image renderdepth(const mesh &m, const viewsettings &view, const drawsettings &settings,
                  std::optional<std::pair<double, double>> range = std::nullopt,
                  bool sixteen = true);

} // namespace trel::scene

#endif
