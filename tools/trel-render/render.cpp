// The canvas holds its engine in a unique_ptr of the engine's own class, which
// is the class it is destroyed through; clang warns of any delete of a class
// with virtual functions and no virtual destructor, inside <memory>, so the
// warning is turned off before anything includes it.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wdelete-non-abstract-non-virtual-dtor"
#endif

#include "render.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "failure.h"

namespace render {
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

} // namespace

canvas::canvas(enginekind kind, int width, int height)
    : kind_(kind), width_(width), height_(height) {
    switch (kind) {
    case enginekind::xz2d:
        xz2d_ = std::make_unique<trel::engine2d>(width, height, nullptr);
        engine_ = xz2d_.get();
        pixels_ = xz2d_->pixels;
        break;
    case enginekind::xy2d:
        xy2d_ = std::make_unique<trel::engine2dxy>(width, height, nullptr);
        engine_ = xy2d_.get();
        pixels_ = xy2d_->pixels;
        break;
    case enginekind::xz3d:
        xz3d_ = std::make_unique<trel::engine3d>(width, height, nullptr);
        engine_ = xz3d_.get();
        pixels_ = xz3d_->pixels;
        break;
    }
    if (engine_->width() < width || engine_->height() != height || pixels_ == nullptr) {
        throw failure("cannot make a " + std::to_string(width) + "x" + std::to_string(height) +
                      " picture: out of memory");
    }
    stride_ = engine_->width();
}

canvas::~canvas() = default;

void canvas::draw(const mesh &m, const std::vector<screenpoint> &points, const options &opts) {
    const bool xy = kind_ == enginekind::xy2d;
    // Each engine class puts the world origin where its newest construction
    // chose; world points are the picture positions measured from there.
    const int orgx = xy ? trel::engine2dxy::orgx
                        : (kind_ == enginekind::xz2d ? trel::engine2d::orgx : trel::engine3d::orgx);
    const int orgy = xy ? trel::engine2dxy::orgy
                        : (kind_ == enginekind::xz2d ? trel::engine2d::orgy : trel::engine3d::orgy);

    double deepest = 0.0;
    for (const screenpoint &p : points) {
        deepest = std::max(deepest, std::fabs(p.near));
    }
    const double squeeze = deepest > depthreach ? depthreach / deepest : 1.0;

    // The X-Z engines look along +Y, nearer being smaller Y; the X-Y engine
    // looks down -Z, so there nearer is larger Z.
    std::vector<quim::point> world(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        const double x = points[i].column - orgx;
        const double up = orgy - points[i].row;
        world[i] =
            xy ? quim::point{x, up, points[i].near} : quim::point{x, -points[i].near * squeeze, up};
    }

    const rgb wirecolour = opts.style == drawstyle::both ? opts.edgecolour : opts.colour;
    const unsigned long face = colourword(opts.colour);
    const unsigned long edge = colourword(wirecolour);
    engine_->clear(kind_ == enginekind::xz3d ? exchanged(opts.background)
                                             : colourword(opts.background));

    const bool faces = opts.style != drawstyle::wire;
    const bool outlines = opts.style != drawstyle::solid;
    std::vector<std::size_t> order(m.triangles.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    const auto towards = [&](std::size_t i) {
        const screenpoint &a = points[m.triangles[i][0]];
        const screenpoint &b = points[m.triangles[i][1]];
        const screenpoint &c = points[m.triangles[i][2]];
        // Counter-clockwise on the picture, whose rows grow downward.
        const double cross =
            (b.column - a.column) * (c.row - a.row) - (b.row - a.row) * (c.column - a.column);
        return cross < 0.0;
    };
    if (faces && m.closed) {
        // Faces turned away are hidden behind the others. Leaving them out
        // matters on the outline: there the rasterized edges of a face turned
        // away and of its visible neighbour differ by a pixel here and there.
        order.erase(std::remove_if(order.begin(), order.end(),
                                   [&towards](std::size_t i) { return !towards(i); }),
                    order.end());
    } else if (kind_ == enginekind::xz3d) {
        // On the outline a face turned away lies at the same depth as the
        // visible one beside it; the depth test keeps the first drawn.
        std::stable_partition(order.begin(), order.end(), towards);
    }
    if (kind_ != enginekind::xz3d) {
        // Without a depth plane, faces are painted from the farthest to the nearest.
        std::vector<double> near(m.triangles.size());
        for (std::size_t i = 0; i < m.triangles.size(); ++i) {
            const auto &t = m.triangles[i];
            near[i] = points[t[0]].near + points[t[1]].near + points[t[2]].near;
        }
        std::stable_sort(order.begin(), order.end(),
                         [&near](std::size_t a, std::size_t b) { return near[a] < near[b]; });
    }

    // On the 3d engine the outlines in style both go after all faces, lifted
    // towards the viewer; elsewhere each follows its own face.
    const bool lift = faces && outlines && kind_ == enginekind::xz3d;
    const auto outline = [&](const std::array<std::uint32_t, 3> &t) {
        quim::point loop[4] = {world[t[0]], world[t[1]], world[t[2]], world[t[0]]};
        if (lift) {
            for (quim::point &p : loop) {
                p.y -= outlinelift;
            }
        }
        engine_->line(loop, 4, edge);
    };
    for (const std::size_t i : order) {
        const auto &t = m.triangles[i];
        if (faces) {
            // The X-Z engines shade a face by the angle between the normal
            // (b - a) x (c - a) and their light (1, 1, -1). Meshes wind their
            // faces counter-clockwise seen from outside, so handing the corners
            // over as a, c, b turns that normal inward, and the faces lit best
            // are those looking up, left and towards the viewer.
            if (xy) {
                engine_->tri(world[t[0]], world[t[1]], world[t[2]], face);
            } else {
                engine_->tri(world[t[0]], world[t[2]], world[t[1]], face);
            }
        }
        if (outlines && !lift) {
            outline(t);
        }
    }
    if (lift) {
        for (const std::size_t i : order) {
            outline(m.triangles[i]);
        }
    }
}

image canvas::colour() const {
    image out{width_, height_, 3, {}};
    out.bytes.resize(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 3);
    const int redshift = kind_ == enginekind::xz3d ? 16 : 0;
    const int blueshift = 16 - redshift;
    std::size_t k = 0;
    for (int row = 0; row < height_; ++row) {
        const std::uint32_t *line = pixels_ + static_cast<std::size_t>(row) * stride_;
        for (int column = 0; column < width_; ++column) {
            const std::uint32_t w = line[column];
            out.bytes[k++] = static_cast<std::uint8_t>(w >> redshift);
            out.bytes[k++] = static_cast<std::uint8_t>(w >> 8);
            out.bytes[k++] = static_cast<std::uint8_t>(w >> blueshift);
        }
    }
    return out;
}

image canvas::depth() const {
    image out{width_, height_, 1, {}};
    out.bytes.assign(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_), 0);
    if (!xz3d_) {
        return out;
    }
    // clear() fills the plane with -32000; anything above was drawn.
    constexpr int cleared = -32000;
    const std::int16_t *zbuf = xz3d_->zbuf;
    const auto at = [zbuf, this](int row, int column) {
        return static_cast<int>(zbuf[static_cast<std::size_t>(row) * stride_ + column]);
    };
    int nearest = cleared;
    int farthest = 32767;
    for (int row = 0; row < height_; ++row) {
        for (int column = 0; column < width_; ++column) {
            const int d = at(row, column);
            if (d > cleared) {
                nearest = std::max(nearest, d);
                farthest = std::min(farthest, d);
            }
        }
    }
    // The drawn depths are stretched over 48 (farthest) to 255 (nearest); a
    // picture at one depth is all nearest.
    if (nearest == farthest) {
        --farthest;
    }
    const int span = nearest - farthest;
    std::size_t k = 0;
    for (int row = 0; row < height_; ++row) {
        for (int column = 0; column < width_; ++column) {
            const int d = at(row, column);
            out.bytes[k++] =
                d > cleared ? static_cast<std::uint8_t>(48 + (d - farthest) * 207 / span) : 0;
        }
    }
    return out;
}

} // namespace render
