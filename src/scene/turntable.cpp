// The frames of one run, placed once, and single pictures drawn through them.
#include <cmath>

#include <trel/scene.h>

namespace trel::scene {

turntable::turntable(const mesh &m, const viewsettings &view, int frames, int width, int height)
    : mesh_(&m), width_(width), height_(height), zup_(scene::zup(view.up, m)) {
    if (!(view.margin >= 0.0 && view.margin < 50.0)) {
        throw failure("bad margin " + std::to_string(view.margin) +
                      ": expected 0 to below 50 percent");
    }
    if (frames < 1) {
        throw failure("bad number of frames " + std::to_string(frames) + ": expected 1 or more");
    }
    views_.reserve(static_cast<std::size_t>(frames));
    for (int k = 0; k < frames; ++k) {
        views_.push_back(rotation::view(view.azimuth + 360.0 * k / frames, view.elevation, zup_));
    }
    // The margin is left on each side: a 5% margin fills 90% of the picture.
    fitted_ = fit(m, views_, width, height, (100.0 - 2.0 * view.margin) / 100.0);
}

std::vector<screenpoint> turntable::points(int frame) const {
    return place(*mesh_, view(frame), fitted_, width_, height_);
}

depthmapping turntable::mapping(double near, double far,
                                const std::vector<screenpoint> &points) const {
    // The engine's depth is the nearness in pixels (the placement's scale)
    // times the frame's squeeze: a depth in the mesh's units becomes the same
    // grey in every frame.
    return {near, far, fitted_.scale * depthsqueeze(points)};
}

namespace {

// Draws the turntable's one frame on `picture`, keeping where the vertices landed.
canvas &drawn(canvas &picture, const mesh &m, const drawsettings &settings,
              std::vector<screenpoint> &points, const turntable &turn) {
    points = turn.points(0);
    picture.draw(m, points, settings);
    return picture;
}

} // namespace

image render(const mesh &m, const viewsettings &view, const drawsettings &settings) {
    const turntable turn(m, view, 1, settings.width, settings.height);
    canvas picture(settings.engine, settings.width, settings.height);
    std::vector<screenpoint> points;
    return drawn(picture, m, settings, points, turn).colour(settings.transparent);
}

image renderdepth(const mesh &m, const viewsettings &view, const drawsettings &settings,
                  std::optional<std::pair<double, double>> range, bool sixteen) {
    const turntable turn(m, view, 1, settings.width, settings.height);
    canvas picture(settings.engine, settings.width, settings.height);
    std::vector<screenpoint> points;
    drawn(picture, m, settings, points, turn);
    if (!range) {
        return picture.depth(nullptr, sixteen);
    }
    const depthmapping mapping = turn.mapping(range->first, range->second, points);
    return picture.depth(&mapping, sixteen);
}

} // namespace trel::scene
