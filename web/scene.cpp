#include "scene.h"

#include <chrono>
#include <new>

namespace web {

namespace scene = trel::scene;

meshstatus weld(const float *soup, std::size_t triangles, scene::mesh &out) {
    out = scene::fromsoup(soup, triangles);
    switch (scene::check(out)) {
    case scene::meshproblem::none:
        return meshstatus::ok;
    case scene::meshproblem::nothingtodraw:
        return meshstatus::notriangles;
    case scene::meshproblem::notanumber:
        return meshstatus::notanumber;
    case scene::meshproblem::toolarge:
        return meshstatus::toolarge;
    case scene::meshproblem::noextent:
        break;
    }
    return meshstatus::noextent;
}

meshstatus viewer::setmesh(const float *soup, std::size_t triangles) {
    scene::mesh m;
    const meshstatus status = weld(soup, triangles, m);
    if (status == meshstatus::ok) {
        mesh_ = std::move(m);
        placedwidth_ = 0; // placed afresh at the next frame
    }
    return status;
}

const std::uint8_t *viewer::frame(scene::enginekind kind, scene::drawstyle style, double azimuth,
                                  double elevation, bool zup, int width, int height) {
    if (mesh_.triangles.empty() || width <= 0 || height <= 0) {
        return nullptr;
    }
    try {
        if (!canvas_ || canvas_->kind() != kind || canvas_->width() != width ||
            canvas_->height() != height) {
            canvas_.reset();
            canvas_ = std::make_unique<scene::canvas>(kind, width, height);
            rgba_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4,
                         255);
        }
    } catch (const scene::failure &) {
        return nullptr;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    if (placedwidth_ != width || placedheight_ != height) {
        placement_ = scene::spherefit(mesh_, width, height);
        placedwidth_ = width;
        placedheight_ = height;
    }
    const scene::rotation view = scene::rotation::view(azimuth, elevation, zup);
    const std::vector<scene::screenpoint> points =
        scene::place(mesh_, view, placement_, width, height);
    scene::drawsettings settings;
    settings.engine = kind;
    settings.style = style;

    const auto start = std::chrono::steady_clock::now();
    canvas_->draw(mesh_, points, settings);
    drawms_ =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();

    canvas_->readrgb(rgba_.data(), 4); // alpha stays 255
    return rgba_.data();
}

} // namespace web
