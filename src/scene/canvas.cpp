// The canvas holds its engine in a std::variant, which destroys it through
// its own class; clang warns of any destructor call on a class with virtual
// functions and no virtual destructor, inside <variant>, so the warning is
// turned off before anything includes it. The canvas's destructor is defined
// here, so that no other file destroys the variant.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wdelete-non-abstract-non-virtual-dtor"
#endif

#include <trel/scene.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>
#include <type_traits>

namespace trel::scene {
namespace {

// The colour word with red in channel 0, the order engine2d and engine2dxy
// keep throughout.
unsigned long colourword(const rgb &c) {
    return static_cast<unsigned long>(c.r) | (static_cast<unsigned long>(c.g) << 8) |
           (static_cast<unsigned long>(c.b) << 16);
}

// engine3d stores its triangles and lines with channels 0 and 2 exchanged, so
// its pictures hold red in channel 2; the background is handed to clear (which
// stores the word as given) already in that order.
unsigned long exchanged(const rgb &c) { return colourword({c.b, c.g, c.r}); }

// The engine of `kind`, made in place over a block of its own.
canvas::engines makeengine(enginekind kind, int width, int height) {
    switch (kind) {
    case enginekind::engine2d:
        return canvas::engines{std::in_place_type<trel::engine2d>, width, height, nullptr};
    case enginekind::engine2dxy:
        return canvas::engines{std::in_place_type<trel::engine2dxy>, width, height, nullptr};
    case enginekind::engine3d:
        break;
    }
    return canvas::engines{std::in_place_type<trel::engine3d>, width, height, nullptr};
}

// Where the picture puts the world origin: each engine class puts it where
// its newest construction chose.
struct origin {
    int column;
    int row;
};

origin originof(const canvas::engines &engine) {
    return std::visit(
        [](const auto &e) {
            using E = std::remove_cvref_t<decltype(e)>;
            return origin{E::orgx, E::orgy};
        },
        engine);
}

// The word the picture is cleared with: the background, and on a transparent
// background the mark of a pixel not drawn on.
unsigned long clearword(const drawsettings &settings, bool depthtested) {
    const unsigned long background =
        depthtested ? exchanged(settings.background) : colourword(settings.background);
    return settings.transparent ? background | undrawn : background;
}

// The world points the engine is handed for the placed vertices: the picture
// positions, each rounded to the nearest pixel, measured from the engine's
// origin. Rounded here, a position lands on its nearest pixel on either side
// of the origin (the engine truncates toward it, which would pull the right
// and lower halves of a picture one pixel in). The X-Z engines look along +Y,
// nearer being smaller Y; the X-Y engine looks down -Z, so there nearer is
// larger Z.
std::vector<quim::point> worldpoints(const std::vector<screenpoint> &points, origin o,
                                     bool showsxy) {
    const double squeeze = depthsqueeze(points);
    std::vector<quim::point> world(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        const double x = std::floor(points[i].column + 0.5) - o.column;
        const double up = o.row - std::floor(points[i].row + 0.5);
        world[i] = showsxy ? quim::point{x, up, points[i].near}
                           : quim::point{x, -points[i].near * squeeze, up};
    }
    return world;
}

// Whether the triangle's corners run counter-clockwise on the picture, whose
// rows grow downward: whether it faces the viewer.
bool facesviewer(const std::vector<screenpoint> &points, const triangle &t) {
    const screenpoint &a = points[t[0]];
    const screenpoint &b = points[t[1]];
    const screenpoint &c = points[t[2]];
    const double cross =
        (b.column - a.column) * (c.row - a.row) - (b.row - a.row) * (c.column - a.column);
    return cross < 0.0;
}

// What the drawing order holds: triangle i as i, line i as triangles + i,
// point i as triangles + lines + i.
struct itemcounts {
    std::size_t triangles;
    std::size_t lines;
    std::size_t points;
    std::size_t total() const { return triangles + lines + points; }
};

// The triangles, lines and points to draw, by index (see itemcounts), in the
// order to draw them.
std::vector<std::size_t> drawingorder(const mesh &m, const std::vector<screenpoint> &points,
                                      bool faces, bool depthtested) {
    const itemcounts n{m.triangles.size(), m.lines.size(), m.points.size()};
    std::vector<std::size_t> order(n.total());
    std::iota(order.begin(), order.end(), std::size_t{0});
    const auto towards = [&](std::size_t i) {
        return i >= n.triangles || facesviewer(points, m.triangles[i]);
    };
    if (faces) {
        // Faces of closed parts turned away are hidden behind the others.
        // Leaving them out matters on the outline: there the rasterized edges
        // of a face turned away and of its visible neighbour differ by a
        // pixel here and there.
        order.erase(std::remove_if(order.begin(), order.end(),
                                   [&](std::size_t i) {
                                       return i < n.triangles && m.insealedpart(i) && !towards(i);
                                   }),
                    order.end());
    }
    if (depthtested) {
        // On the outline a face turned away lies at the same depth as the
        // visible one beside it; the depth test keeps the first drawn. Lines
        // and points, lifted ahead of the faces they lie on, come after them.
        std::stable_partition(order.begin(), order.end(), towards);
        return order;
    }
    // Without a depth plane, everything is painted from the farthest to the
    // nearest, by the mean nearness of its corners (three times it).
    const auto nearness = [&](std::size_t i) {
        if (i < n.triangles) {
            const triangle &t = m.triangles[i];
            return points[t[0]].near + points[t[1]].near + points[t[2]].near;
        }
        if (i < n.triangles + n.lines) {
            const auto &l = m.lines[i - n.triangles];
            return 1.5 * (points[l[0]].near + points[l[1]].near);
        }
        return 3.0 * points[m.points[i - n.triangles - n.lines]].near;
    };
    std::vector<double> near(n.total());
    for (std::size_t i = 0; i < near.size(); ++i) {
        near[i] = nearness(i);
    }
    std::stable_sort(order.begin(), order.end(),
                     [&near](std::size_t a, std::size_t b) { return near[a] < near[b]; });
    return order;
}

// The X-Z engines shade a face by the angle between the normal (b - a) x
// (c - a) and their light (1, 1, -1). Faces facing the viewer wind counter-
// clockwise on the picture, so handing the corners over as a, c, b turns that
// normal away from the viewer, and the faces lit best are those looking up,
// left and towards the viewer. A face turned away (in an open part) is handed
// over as a, b, c, which shades its visible side in the same way. The X-Y
// engine does not shade.
void drawface(trel::engine &engine, const std::vector<quim::point> &world, const triangle &t,
              unsigned long colour, bool showsxy, bool turnedaway) {
    if (showsxy || turnedaway) {
        engine.tri(world[t[0]], world[t[1]], world[t[2]], colour);
    } else {
        engine.tri(world[t[0]], world[t[2]], world[t[1]], colour);
    }
}

// The triangle's outline, closed, moved `lift` depth units towards the
// viewer of an X-Z engine when lift is not 0.
void drawoutline(trel::engine &engine, const std::vector<quim::point> &world, const triangle &t,
                 unsigned long colour, double lift) {
    quim::point loop[4] = {world[t[0]], world[t[1]], world[t[2]], world[t[0]]};
    if (lift != 0.0) {
        for (quim::point &p : loop) {
            p.y -= lift;
        }
    }
    engine.line(loop, 4, colour);
}

quim::point lifted(quim::point p, double lift) {
    p.y -= lift;
    return p;
}

// A line of the mesh, moved `lift` depth units towards the viewer of an X-Z
// engine when lift is not 0.
void drawline(trel::engine &engine, const std::vector<quim::point> &world,
              const std::array<std::uint32_t, 2> &l, unsigned long colour, double lift) {
    engine.line(lifted(world[l[0]], lift), lifted(world[l[1]], lift), colour);
}

// A point of the mesh: a dot, except on the 3d engine, whose dots ignore the
// depth plane: there it is a line from the point to itself, one pixel drawn
// with the depth test (lifted like the lines), in the colour order of its
// lines and faces.
void drawpoint(trel::engine &engine, const std::vector<quim::point> &world, std::uint32_t p,
               unsigned long colour, double lift, bool depthtested) {
    if (depthtested) {
        const quim::point q = lifted(world[p], lift);
        engine.line(q, q, colour);
    } else {
        engine.dot(world[p], colour);
    }
}

// One drawing's elements put on the engine: faces, outlines, and the mesh's
// own lines and points, each by its index in the drawing order (see
// itemcounts); each draws only elements of its own kind.
class painter {
  public:
    painter(trel::engine &engine, const mesh &m, const std::vector<screenpoint> &points,
            const drawsettings &settings, origin o, enginekind kind)
        : engine_(engine), mesh_(m), points_(points), settings_(settings),
          showsxy_(kind == enginekind::engine2dxy), depthtested_(kind == enginekind::engine3d),
          // Lines and points lying on a face show on the 3d engine, as outlines do.
          lift_(depthtested_ ? outlinelift : 0.0), world_(worldpoints(points, o, showsxy_)),
          given_(colourword(settings.colour)), edge_(colourword(settings.edgecolour)) {}

    void face(std::size_t i) const {
        if (i < mesh_.triangles.size()) {
            const triangle &t = mesh_.triangles[i];
            drawface(engine_, world_, t, colourof(mesh_.trianglecolours, i), showsxy_,
                     !facesviewer(points_, t));
        }
    }

    void outline(std::size_t i, double lift) const {
        if (i < mesh_.triangles.size()) {
            const unsigned long colour =
                settings_.style == drawstyle::both ? edge_ : colourof(mesh_.trianglecolours, i);
            drawoutline(engine_, world_, mesh_.triangles[i], colour, lift);
        }
    }

    // A line or a point of the mesh.
    void other(std::size_t i) const {
        const std::size_t triangles = mesh_.triangles.size();
        const std::size_t firstpoint = triangles + mesh_.lines.size();
        if (i < triangles) {
            return;
        }
        if (i < firstpoint) {
            drawline(engine_, world_, mesh_.lines[i - triangles],
                     colourof(mesh_.linecolours, i - triangles), lift_);
        } else {
            drawpoint(engine_, world_, mesh_.points[i - firstpoint],
                      colourof(mesh_.pointcolours, i - firstpoint), lift_, depthtested_);
        }
    }

  private:
    // Each element in the file's own colour, unless the caller gave one or
    // the element has none.
    unsigned long colourof(const std::vector<std::uint32_t> &own, std::size_t i) const {
        if (settings_.colourgiven || own.empty() || own[i] == nocolour) {
            return given_;
        }
        return own[i] & 0xffffffU; // 24-bit: the fourth byte marks pixels not drawn on
    }

    trel::engine &engine_;
    const mesh &mesh_;
    const std::vector<screenpoint> &points_;
    const drawsettings &settings_;
    bool showsxy_;
    bool depthtested_;
    double lift_;
    std::vector<quim::point> world_;
    unsigned long given_;
    unsigned long edge_;
};

// engine3d's depth plane as the depth picture reads it. clear() fills the
// plane with trel::fardepth; anything above was drawn.
struct depthplane {
    const std::int16_t *zbuf;
    int stride;
    int width;
    int height;

    int at(int row, int column) const {
        return static_cast<int>(zbuf[static_cast<std::size_t>(row) * stride + column]);
    }

    // Writes the grey of every depth, row by row, to `to`: `grey` of a drawn
    // depth, 0 for the background; one byte each, or two high byte first.
    template <class Grey> void put(std::uint8_t *to, bool sixteen, const Grey &grey) const {
        for (int row = 0; row < height; ++row) {
            for (int column = 0; column < width; ++column) {
                const int d = at(row, column);
                const int g = d > trel::fardepth ? grey(d) : 0;
                if (sixteen) {
                    *to++ = static_cast<std::uint8_t>(g >> 8);
                }
                *to++ = static_cast<std::uint8_t>(g);
            }
        }
    }
};

// The greys drawn depths may take, farthest to nearest.
struct greyrange {
    int darkest;
    int brightest;
};

// A fixed mapping: a depth d is d / unit mesh units in front of the centre;
// its place between far (0) and near (1) is d * slope + offset, held to 0..1.
class mappedgrey {
  public:
    mappedgrey(const depthmapping &m, greyrange greys)
        : slope_(1.0 / (m.unit * (m.near - m.far))), offset_(-m.far / (m.near - m.far)),
          darkest_(greys.darkest), greys_(greys.brightest - greys.darkest) {}

    int operator()(int d) const {
        double place = d * slope_ + offset_;
        if (!(place >= 0.0)) { // also a NaN
            place = 0.0;
        } else if (place > 1.0) {
            place = 1.0;
        }
        return darkest_ + static_cast<int>(std::lround(place * greys_));
    }

  private:
    double slope_;
    double offset_;
    int darkest_;
    double greys_;
};

// The picture's own drawn depths stretched over the darkest drawn grey
// (farthest) to the brightest (nearest); a picture at one depth is all
// nearest.
class stretchedgrey {
  public:
    stretchedgrey(const depthplane &plane, greyrange greys)
        : darkest_(greys.darkest), greys_(greys.brightest - greys.darkest) {
        int nearest = trel::fardepth;
        int farthest = 32767;
        for (int row = 0; row < plane.height; ++row) {
            for (int column = 0; column < plane.width; ++column) {
                const int d = plane.at(row, column);
                if (d > trel::fardepth) {
                    nearest = std::max(nearest, d);
                    farthest = std::min(farthest, d);
                }
            }
        }
        if (nearest == farthest) {
            --farthest;
        }
        farthest_ = farthest;
        span_ = nearest - farthest;
    }

    int operator()(int d) const {
        return darkest_ + static_cast<int>((d - farthest_) * greys_ / span_);
    }

  private:
    int darkest_;
    long long greys_;
    int farthest_ = 0;
    long long span_ = 1;
};

} // namespace

double depthsqueeze(const std::vector<screenpoint> &points) {
    double deepest = 0.0;
    for (const screenpoint &p : points) {
        deepest = std::max(deepest, std::fabs(p.near));
    }
    return deepest > depthreach ? depthreach / deepest : 1.0;
}

canvas::canvas(enginekind kind, int width, int height)
    : kind_(kind), width_(width), height_(height), engine_(makeengine(kind, width, height)),
      pixels_(
          std::visit([](const auto &e) -> const std::uint32_t * { return e.pixels; }, engine_)) {
    trel::engine &engine = base();
    if (engine.width() < width || engine.height() != height || pixels_ == nullptr) {
        throw failure("cannot make a " + std::to_string(width) + "x" + std::to_string(height) +
                      " picture: out of memory");
    }
    stride_ = engine.width();
}

canvas::~canvas() = default;

trel::engine &canvas::base() {
    return std::visit([](auto &e) -> trel::engine & { return e; }, engine_);
}

void canvas::draw(const mesh &m, const std::vector<screenpoint> &points,
                  const drawsettings &settings) {
    const bool depthtested = kind_ == enginekind::engine3d;
    trel::engine &engine = base();
    const painter paint(engine, m, points, settings, originof(engine_), kind_);
    const std::vector<std::size_t> order =
        drawingorder(m, points, settings.style != drawstyle::wire, depthtested);
    engine.clear(clearword(settings, depthtested));
    if (settings.style == drawstyle::both && depthtested) {
        // On the 3d engine the outlines in style both go after all faces,
        // lifted towards the viewer.
        for (const std::size_t i : order) {
            paint.face(i);
        }
        for (const std::size_t i : order) {
            paint.outline(i, outlinelift);
            paint.other(i);
        }
        return;
    }
    // Elsewhere each outline follows its own face.
    const bool faces = settings.style != drawstyle::wire;
    const bool outlines = settings.style != drawstyle::solid;
    for (const std::size_t i : order) {
        if (faces) {
            paint.face(i);
        }
        if (outlines) {
            paint.outline(i, 0.0);
        }
        paint.other(i);
    }
}

image canvas::colour(bool transparent) const {
    const int channels = transparent ? 4 : 3;
    image out{width_, height_, channels, 8, {}};
    out.bytes.resize(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) *
                     static_cast<std::size_t>(channels));
    readrgb(out.bytes.data(), static_cast<std::size_t>(channels));
    if (!transparent) {
        return out;
    }
    std::uint8_t *rgba = out.bytes.data();
    for (int row = 0; row < height_; ++row) {
        const std::uint32_t *line = pixels_ + static_cast<std::size_t>(row) * stride_;
        for (int column = 0; column < width_; ++column, rgba += 4) {
            if ((line[column] & undrawn) == undrawn) {
                // Black under alpha 0, so that every pixel not drawn on is the
                // same and a palette needs one entry for them.
                rgba[0] = rgba[1] = rgba[2] = rgba[3] = 0;
            } else {
                rgba[3] = 255;
            }
        }
    }
    return out;
}

void canvas::readrgb(std::uint8_t *out, std::size_t step) const {
    // engine3d holds red in channel 2, the others in channel 0.
    const int redshift = kind_ == enginekind::engine3d ? 16 : 0;
    const int blueshift = 16 - redshift;
    for (int row = 0; row < height_; ++row) {
        const std::uint32_t *line = pixels_ + static_cast<std::size_t>(row) * stride_;
        for (int column = 0; column < width_; ++column) {
            const std::uint32_t w = line[column];
            out[0] = static_cast<std::uint8_t>(w >> redshift);
            out[1] = static_cast<std::uint8_t>(w >> 8);
            out[2] = static_cast<std::uint8_t>(w >> blueshift);
            out += step;
        }
    }
}

image canvas::depth(const depthmapping *mapping, bool sixteen) const {
    const std::size_t bytes = sixteen ? 2 : 1;
    image out{width_, height_, 1, sixteen ? 16 : 8, {}};
    out.bytes.assign(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * bytes,
                     0);
    const auto *engine = std::get_if<trel::engine3d>(&engine_);
    if (engine == nullptr) {
        return out;
    }
    const depthplane plane{engine->zbuf, stride_, width_, height_};
    const greyrange greys{sixteen ? darkest16 : darkest8, sixteen ? brightest16 : brightest8};
    if (mapping != nullptr) {
        plane.put(out.bytes.data(), sixteen, mappedgrey(*mapping, greys));
    } else {
        plane.put(out.bytes.data(), sixteen, stretchedgrey(plane, greys));
    }
    return out;
}

} // namespace trel::scene
