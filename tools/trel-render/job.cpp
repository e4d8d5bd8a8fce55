#include "job.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include "defaultscene.h"
#include "failure.h"
#include "load.h"
#include "pngout.h"
#include "webpout.h"

namespace render {

using trel::scene::canvas;
using trel::scene::depthmapping;
using trel::scene::mesh;
using trel::scene::screenpoint;
using trel::scene::turntable;

namespace {

// NAME.png as the numbered NAME-007.png of a turntable of `frames` pictures.
std::string framename(const std::string &path, int index, int frames) {
    std::string number = std::to_string(index);
    const std::size_t digits = std::max<std::size_t>(3, std::to_string(frames - 1).size());
    number.insert(0, digits - number.size(), '0');
    const std::filesystem::path p(path);
    return p.parent_path() / (p.stem().string() + "-" + number + p.extension().string());
}

// "[#####     ] 3/10" on one line of a terminal.
void progress(int done, int total) {
    constexpr int cells = 30;
    const int filled = static_cast<int>(static_cast<long long>(done) * cells / total);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(cells - filled), ' ');
    std::fprintf(stderr, "\r[%s] %d/%d", bar.c_str(), done, total);
    if (done == total) {
        std::fputc('\n', stderr);
    }
    std::fflush(stderr);
}

} // namespace

void renderjob(const options &opts, const job &work) {
    using clock = std::chrono::steady_clock;
    const int frames = opts.frames > 0 ? opts.frames : 1;
    // A turntable to a .webp is one animated file; to a .png, numbered files.
    bool animated = false;
    try {
        animated = opts.frames > 0 && formatof(work.output) == fileformat::webp;
    } catch (const failure &) {
        // An extension nothing is written as: told below, after the outputs
        // were checked.
    }
    const auto outname = [&opts](const std::string &path, int index) {
        return opts.frames > 0 ? framename(path, index, opts.frames) : path;
    };
    const auto picturename = [&](int index) {
        return animated ? work.output : outname(work.output, index);
    };
    if (opts.frames > 0 && (work.output == "-" || work.depth == "-")) {
        throw failure("--frames writes numbered files: standard output ('-') cannot take them");
    }
    std::vector<std::string> outputs;
    for (int k = 0; k < frames; ++k) {
        if (k == 0 || !animated) {
            outputs.push_back(picturename(k));
        }
        if (!work.depth.empty()) {
            outputs.push_back(outname(work.depth, k));
        }
    }
    const std::string &meshpath = work.mesh;
    checkoutputs(outputs, meshpath);
    // Told after the outputs were checked against the mesh, which is the
    // worse mistake to name.
    static_cast<void>(formatof(work.output));
    if (!work.depth.empty() && formatof(work.depth) != fileformat::png) {
        throw failure("the depth picture '" + work.depth + "' is written as a PNG: name it .png");
    }

    const auto loadstart = clock::now();
    const mesh m = meshpath.empty()
                       ? trel::loader::loadmemory(defaultscene(), "obj", "bunny.obj")
                       : trel::loader::loadmesh(meshpath, {opts.maxmemory, opts.loadtimeout});
    const std::chrono::duration<double> loading = clock::now() - loadstart;
    const turntable turn(m, viewsettingsof(opts), frames, opts.width, opts.height);
    const bool zup = turn.zup();
    const trel::scene::drawsettings settings = drawsettingsof(opts);

    canvas picture(opts.engine, opts.width, opts.height);
    pngset files;
    // The animation's frames go into the encoder as they are drawn; it keeps
    // what it needs of them, so no more than one frame is held raw here.
    std::optional<webpanimation> animation;
    if (animated) {
        animation.emplace(opts.width, opts.height, frames);
    }
    const bool bar = opts.frames > 0 && ::isatty(STDERR_FILENO) == 1;
    std::chrono::duration<double> drawing{0.0};
    std::chrono::duration<double> writing{0.0};
    for (int k = 0; k < frames; ++k) {
        const std::vector<screenpoint> points = turn.points(k);
        const auto start = clock::now();
        picture.draw(m, points, settings);
        const auto drawn = clock::now();
        drawing += drawn - start;
        if (animation) {
            animation->add(picture.colour(opts.transparent));
        } else {
            files.add(picturename(k), picture.colour(opts.transparent));
        }
        if (!work.depth.empty()) {
            depthmapping mapping;
            if (opts.depthrange) {
                mapping = turn.mapping(opts.depthrange->first, opts.depthrange->second, points);
            }
            files.add(outname(work.depth, k),
                      picture.depth(opts.depthrange ? &mapping : nullptr, opts.depth16));
        }
        writing += clock::now() - drawn;
        if (bar) {
            progress(k + 1, frames);
        }
    }
    const auto finishing = clock::now();
    if (animation) {
        files.addencoded(work.output, animation->finish());
        animation.reset();
    }
    files.commit();
    writing += clock::now() - finishing;

    if (opts.stats) {
        // Beside a picture on standard output, the figures go to stderr.
        std::FILE *to = work.output == "-" || work.depth == "-" ? stderr : stdout;
        const double seconds = drawing.count();
        const double pixels = static_cast<double>(opts.width) * opts.height * frames;
        std::fprintf(to, "triangles: %zu\n", m.triangles.size());
        if (!m.lines.empty() || !m.points.empty()) {
            std::fprintf(to, "lines: %zu\npoints: %zu\n", m.lines.size(), m.points.size());
        }
        std::fprintf(to, "up: %s%s\n", zup ? "z" : "y",
                     opts.up == upaxis::automatic ? " (auto)" : "");
        std::fprintf(to, "frames: %d\n", frames);
        std::fprintf(to, "time per frame: %.3f ms\n", seconds * 1000.0 / frames);
        if (seconds > 0.0) {
            std::fprintf(to, "throughput: %.1f Mpixel/s\n", pixels / seconds / 1e6);
        }
        // The three stages apart, in wall-clock time: writing counts what the
        // run waited for (reading pictures back, encoding, files); encoding
        // that went on beside the drawing is not counted twice.
        std::fprintf(to, "load: %.3f ms\n", loading.count() * 1000.0);
        std::fprintf(to, "draw: %.3f ms\n", seconds * 1000.0);
        std::fprintf(to, "write: %.3f ms\n", writing.count() * 1000.0);
    }
}

} // namespace render
