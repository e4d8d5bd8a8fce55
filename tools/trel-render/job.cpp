#include "job.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "defaultscene.h"
#include "encode.h"
#include "failure.h"
#include "load.h"
#include "text.h"
#include "writer.h"

namespace render {

using trel::scene::canvas;
using trel::scene::depthmapping;
using trel::scene::mesh;
using trel::scene::screenpoint;
using trel::scene::turntable;

namespace {

using seconds = std::chrono::duration<double>;
using clock = std::chrono::steady_clock;

// What a run measured, for --stats.
struct timings {
    seconds loading{0.0};
    seconds drawing{0.0};
    seconds writing{0.0};
};

mesh loadjobmesh(const options &opts, const job &work) {
    if (work.mesh.empty()) {
        return trel::loader::loadmemory(defaultscene(), "obj", "bunny.obj");
    }
    return trel::loader::loadmesh(work.mesh, opts.limits);
}

// True when some of `m` faces the view from `points`: a triangle seen with
// an area (not edge-on), or a line or a point, which are drawn however seen.
bool facesview(const mesh &m, const std::vector<screenpoint> &points, const options &opts) {
    if (!m.lines.empty() || !m.points.empty()) {
        return true;
    }
    // Twice a triangle's area in pixels below which it is taken as edge-on.
    const double flat = 1e-9 * opts.draw.width * opts.draw.height;
    for (const auto &t : m.triangles) {
        const screenpoint &a = points[t[0]];
        const screenpoint &b = points[t[1]];
        const screenpoint &c = points[t[2]];
        const double twice =
            (b.column - a.column) * (c.row - a.row) - (c.column - a.column) * (b.row - a.row);
        if (std::fabs(twice) > flat) {
            return true;
        }
    }
    return false;
}

// Draws every frame of the plan and hands each picture to `files` (or the
// frames to one animation, handed over whole at the end).
bool drawframes(const options &opts, const job &work, const outputplan &plan, const mesh &m,
                const turntable &turn, writer &files, timings &time) {
    canvas picture(opts.draw.engine, opts.draw.width, opts.draw.height);
    // The animation's frames go into the encoder as they are drawn; it keeps
    // what it needs of them, so no more than one frame is held raw here.
    std::optional<trel::encode::animation> animation;
    if (plan.animated) {
        animation.emplace(opts.draw.width, opts.draw.height, plan.frames);
    }
    progressbar bar(opts.frames > 0 ? static_cast<std::size_t>(plan.frames) : 0);
    bool anything = false;
    for (int k = 0; k < plan.frames; ++k) {
        const std::vector<screenpoint> points = turn.points(k);
        const auto start = clock::now();
        picture.draw(m, points, opts.draw);
        const auto drawn = clock::now();
        time.drawing += drawn - start;
        anything = anything || facesview(m, points, opts);
        image colour = picture.colour(opts.draw.transparent);
        if (animation) {
            animation->add(colour);
        } else {
            files.add(plan.pictures[static_cast<std::size_t>(k)], std::move(colour), plan.format);
        }
        if (!work.depth.empty()) {
            depthmapping mapping;
            if (opts.depthrange) {
                mapping = turn.mapping(opts.depthrange->first, opts.depthrange->second, points);
            }
            files.add(plan.depths[static_cast<std::size_t>(k)],
                      picture.depth(opts.depthrange ? &mapping : nullptr, opts.depth16),
                      trel::encode::format::png);
        }
        time.writing += clock::now() - drawn;
        bar.draw(static_cast<std::size_t>(k + 1));
    }
    if (animation) {
        files.addencoded(work.output, animation->finish());
    }
    return anything;
}

void printstats(std::FILE *to, const options &opts, const outputplan &plan, const mesh &m, bool zup,
                const timings &time) {
    const double drawing = time.drawing.count();
    const double pixels = static_cast<double>(opts.draw.width) * opts.draw.height * plan.frames;
    std::fprintf(to, "triangles: %zu\n", m.triangles.size());
    if (!m.lines.empty() || !m.points.empty()) {
        std::fprintf(to, "lines: %zu\npoints: %zu\n", m.lines.size(), m.points.size());
    }
    std::fprintf(to, "up: %s%s\n", zup ? "z" : "y",
                 opts.view.up == trel::scene::upaxis::automatic ? " (auto)" : "");
    std::fprintf(to, "frames: %d\n", plan.frames);
    std::fprintf(to, "time per frame: %.3f ms\n", drawing * 1000.0 / plan.frames);
    if (drawing > 0.0) {
        std::fprintf(to, "throughput: %.1f Mpixel/s\n", pixels / drawing / 1e6);
    }
    // The three stages apart, in wall-clock time: writing counts what the
    // run waited for (reading pictures back, encoding, files); encoding
    // that went on beside the drawing is not counted twice.
    std::fprintf(to, "load: %.3f ms\n", time.loading.count() * 1000.0);
    std::fprintf(to, "draw: %.3f ms\n", drawing * 1000.0);
    std::fprintf(to, "write: %.3f ms\n", time.writing.count() * 1000.0);
}

} // namespace

void renderjob(const options &opts, const job &work) {
    catchsignals();
    const outputplan plan = planoutputs(opts, work);

    timings time;
    const auto loadstart = clock::now();
    const mesh m = loadjobmesh(opts, work);
    time.loading = clock::now() - loadstart;
    const turntable turn(m, opts.view, plan.frames, opts.draw.width, opts.draw.height);

    writer files;
    const bool anything = drawframes(opts, work, plan, m, turn, files, time);
    const auto finishing = clock::now();
    files.commit();
    time.writing += clock::now() - finishing;

    if (!anything) {
        std::fprintf(stderr, "trel-render: note: nothing of %s faces the view\n",
                     work.mesh.empty() ? "bunny" : work.mesh.c_str());
    }
    // Beside a picture on standard output, the reports go to stderr.
    std::FILE *to = plan.tostdout ? stderr : stdout;
    if (opts.stats) {
        printstats(to, opts, plan, m, turn.zup(), time);
    }
    if (opts.printnames) {
        for (const std::string &name : plan.all()) {
            std::fprintf(to, "%s\n", name.c_str());
        }
    }
}

} // namespace render
