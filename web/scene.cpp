#include "scene.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <unordered_map>

#include "failure.h"

namespace web {
namespace {

// The share of the picture's smaller side that the mesh's bounding sphere
// spans: the mesh never leaves the picture, whichever way it is turned.
constexpr double fill = 0.95;

// The three floats of a corner, bit for bit, as one key.
struct cornerkey {
    std::uint32_t bits[3];
    bool operator==(const cornerkey &o) const {
        return bits[0] == o.bits[0] && bits[1] == o.bits[1] && bits[2] == o.bits[2];
    }
};

struct cornerhash {
    std::size_t operator()(const cornerkey &k) const {
        std::uint64_t h = 1469598103934665603ULL;
        for (const std::uint32_t b : k.bits) {
            h = (h ^ b) * 1099511628211ULL;
        }
        return static_cast<std::size_t>(h);
    }
};

// Centred on the middle of the bounding box and scaled so that the sphere
// round that centre through the farthest vertex fits the picture.
render::placement spherefit(const render::mesh &m, int width, int height) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    render::vec3 low{inf, inf, inf};
    render::vec3 high{-inf, -inf, -inf};
    for (const render::vec3 &v : m.vertices) {
        low = {std::min(low.x, v.x), std::min(low.y, v.y), std::min(low.z, v.z)};
        high = {std::max(high.x, v.x), std::max(high.y, v.y), std::max(high.z, v.z)};
    }
    render::placement p;
    p.centre = {low.x / 2 + high.x / 2, low.y / 2 + high.y / 2, low.z / 2 + high.z / 2};
    double radius = 0.0;
    for (const render::vec3 &v : m.vertices) {
        const double dx = v.x - p.centre.x;
        const double dy = v.y - p.centre.y;
        const double dz = v.z - p.centre.z;
        radius = std::max(radius, std::sqrt(dx * dx + dy * dy + dz * dz));
    }
    p.scale = radius > 0.0 ? fill * std::min(width, height) / (2.0 * radius) : 1.0;
    return p;
}

} // namespace

meshstatus weld(const float *soup, std::size_t triangles, render::mesh &out) {
    out = render::mesh{};
    std::unordered_map<cornerkey, std::uint32_t, cornerhash> index;
    out.triangles.reserve(triangles);
    for (std::size_t t = 0; t < triangles; ++t) {
        std::array<std::uint32_t, 3> tri{};
        for (std::size_t c = 0; c < 3; ++c) {
            const float *f = soup + 9 * t + 3 * c;
            cornerkey key{};
            std::memcpy(key.bits, f, sizeof key.bits);
            const auto [at, added] =
                index.try_emplace(key, static_cast<std::uint32_t>(out.vertices.size()));
            if (added) {
                out.vertices.push_back({f[0], f[1], f[2]});
            }
            tri[c] = at->second;
        }
        out.triangles.push_back(tri);
    }
    if (out.triangles.empty()) {
        return meshstatus::notriangles;
    }
    for (const render::vec3 &v : out.vertices) {
        for (const double c : {v.x, v.y, v.z}) {
            if (std::isnan(c)) {
                return meshstatus::notanumber;
            }
            if (!(std::fabs(c) <= render::largestcoordinate)) {
                return meshstatus::toolarge;
            }
        }
    }
    if (out.vertices.size() == 1) {
        return meshstatus::noextent;
    }
    render::orient(out);
    return meshstatus::ok;
}

meshstatus viewer::setmesh(const float *soup, std::size_t triangles) {
    render::mesh m;
    const meshstatus status = weld(soup, triangles, m);
    if (status == meshstatus::ok) {
        mesh_ = std::move(m);
        placedwidth_ = 0; // placed afresh at the next frame
    }
    return status;
}

const std::uint8_t *viewer::frame(render::enginekind kind, render::drawstyle style, double azimuth,
                                  double elevation, bool zup, int width, int height) {
    if (mesh_.triangles.empty() || width <= 0 || height <= 0) {
        return nullptr;
    }
    try {
        if (!canvas_ || canvas_->kind() != kind || canvaswidth_ != width ||
            canvasheight_ != height) {
            canvas_.reset();
            canvas_ = std::make_unique<render::canvas>(kind, width, height);
            rgba_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4,
                         255);
            canvaswidth_ = width;
            canvasheight_ = height;
        }
    } catch (const render::failure &) {
        return nullptr;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    if (placedwidth_ != width || placedheight_ != height) {
        placement_ = spherefit(mesh_, width, height);
        placedwidth_ = width;
        placedheight_ = height;
    }
    const render::rotation view = render::rotation::view(azimuth, elevation, zup);
    const std::vector<render::screenpoint> points =
        render::place(mesh_, view, placement_, width, height);
    render::options opts;
    opts.engine = kind;
    opts.style = style;

    const auto start = std::chrono::steady_clock::now();
    canvas_->draw(mesh_, points, opts);
    drawms_ =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();

    canvas_->readrgb(rgba_.data(), 4); // alpha stays 255
    return rgba_.data();
}

} // namespace web
