// trel's benchmarks. Every workload runs beside its baseline, memset over the
// planes of the same picture: each iteration times the baseline and then the
// workload, and the table compares the best iteration of each. Absolute times
// drift on a shared machine; the ratio of two times taken a moment apart, each
// the best of many, drifts much less. Run through scripts/bench.
//
// Google Benchmark's own flags work as usual (--benchmark_filter,
// --benchmark_min_time, --benchmark_repetitions). TREL_BUNNY names another
// bunny.obj.
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <numbers>
#include <string>
#include <type_traits>
#include <vector>

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <benchmark/benchmark.h>

#include <trel/trel.h>

namespace {

struct picture {
    int width;
    int height;
    std::string name;
};

const picture pictures[] = {{640, 480, "640x480"}, {1920, 1080, "1920x1080"}};
const picture &small = pictures[0];

constexpr unsigned long clearcolour = 0x203040;
constexpr unsigned long fillcolour = 0xC08040;

template <class E> constexpr bool hasdepth = std::is_same_v<E, trel::engine3d>;

template <class E> const char *enginename() {
    if constexpr (std::is_same_v<E, trel::engine2d>) {
        return "engine2d";
    } else if constexpr (std::is_same_v<E, trel::engine2dxy>) {
        return "engine2dxy";
    } else {
        return "engine3d";
    }
}

// The world point drawn at (column, row) with world depth `depth` (world y on
// the X-Z engines, world z on engine2dxy), taken for the engine class's
// current origin. Whole columns and rows convert exactly.
template <class E> quim::point at(double column, double row, double depth) {
    const double h = column - E::orgx;
    const double v = E::orgy - row;
    if constexpr (std::is_same_v<E, trel::engine2dxy>) {
        return {h, v, depth};
    } else {
        return {h, depth, v};
    }
}

// The baseline: memset over the colour plane, and the depth plane after it
// when `depth` is set, `times` times.
template <class E> void memsetplanes(E &e, int times, bool depth) {
    const auto n = static_cast<std::size_t>(e.npixels);
    for (int i = 0; i < times; ++i) {
        std::memset(e.pixels, 0x5A, n * sizeof(std::uint32_t));
        if constexpr (hasdepth<E>) {
            if (depth) {
                std::memset(e.zbuf, 0x5A, n * sizeof(std::int16_t));
            }
        }
        benchmark::ClobberMemory();
    }
}

// Pixels and depths of a picture that lives for the whole benchmark.
template <class E> std::unique_ptr<E> makeengine(const picture &p) {
    auto e = std::make_unique<E>(p.width, p.height, nullptr);
    e->clear(clearcolour);
    return e;
}

// Each iteration times `baseline`, runs `prepare` untimed (to put back the
// state the workload starts from) and times `work`. The best iteration of
// each goes to the counters the table reads; the iteration time Google
// Benchmark sees is the sum of both.
template <class B, class P, class W>
void paired(benchmark::State &state, B baseline, P prepare, W work) {
    using clock = std::chrono::steady_clock;
    double bestbase = HUGE_VAL;
    double bestwork = HUGE_VAL;
    for (auto _ : state) {
        const auto t0 = clock::now();
        baseline();
        benchmark::ClobberMemory();
        const auto t1 = clock::now();
        prepare();
        benchmark::ClobberMemory();
        const auto t2 = clock::now();
        work();
        benchmark::ClobberMemory();
        const auto t3 = clock::now();
        const double base = std::chrono::duration<double>(t1 - t0).count();
        const double w = std::chrono::duration<double>(t3 - t2).count();
        bestbase = std::min(bestbase, base);
        bestwork = std::min(bestwork, w);
        state.SetIterationTime(base + w);
    }
    state.counters["baseline"] = bestbase;
    state.counters["workload"] = bestwork;
}

void nothing() {}

// The same planes, the whole picture: memset against clear.
template <class E> void clearbench(benchmark::State &state, picture p) {
    auto e = makeengine<E>(p);
    paired(
        state, [&] { memsetplanes(*e, 1, true); }, nothing, [&] { e->clear(clearcolour); });
}

// 100 triangles, each half the picture cut along the diagonal from the top
// right corner to the bottom left one, the halves taken in turn, against 50
// memsets of the colour plane; on engine3d each triangle lies nearer than the
// one before, so every pixel is written.
template <class E> void fillbench(benchmark::State &state, picture p) {
    auto e = makeengine<E>(p);
    const double right = e->width() - 1;
    const double bottom = e->height() - 1;
    paired(
        state, [&] { memsetplanes(*e, 50, false); }, [&] { e->clear(clearcolour); },
        [&] {
            for (int i = 0; i < 100; ++i) {
                const double y = hasdepth<E> ? 1000 - i : 0;
                if (i % 2 == 0) {
                    e->tri(at<E>(0, 0, y), at<E>(right, 0, y), at<E>(0, bottom, y), fillcolour);
                } else {
                    e->tri(at<E>(right, 0, y), at<E>(right, bottom, y), at<E>(0, bottom, y),
                           fillcolour);
                }
            }
        });
}

// The bunny's faces in picture units: horizontal and vertical offsets from
// the picture's centre and a depth (positive toward the viewer).
struct face {
    std::array<double, 3> h;
    std::array<double, 3> v;
    std::array<double, 3> d;
};

std::string bunnypath() {
    const char *env = std::getenv("TREL_BUNNY");
    return env != nullptr ? env : TREL_BENCH_BUNNY;
}

// The mesh as read, in model units, y up.
const std::vector<std::array<aiVector3D, 3>> &bunnymesh() {
    static const std::vector<std::array<aiVector3D, 3>> mesh = [] {
        std::vector<std::array<aiVector3D, 3>> faces;
        Assimp::Importer importer;
        const aiScene *scene = importer.ReadFile(bunnypath(), aiProcess_Triangulate);
        if (scene == nullptr) {
            return faces;
        }
        for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
            const aiMesh *mesh = scene->mMeshes[m];
            for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
                const aiFace &af = mesh->mFaces[f];
                if (af.mNumIndices == 3) {
                    faces.push_back({mesh->mVertices[af.mIndices[0]],
                                     mesh->mVertices[af.mIndices[1]],
                                     mesh->mVertices[af.mIndices[2]]});
                }
            }
        }
        return faces;
    }();
    return mesh;
}

// Turned 30 degrees about the vertical axis, then scaled and centred so that
// the larger of its extents fills 90% of the picture.
std::vector<face> bunny(const picture &p) {
    const auto &mesh = bunnymesh();
    const double angle = std::numbers::pi / 6;
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    std::vector<face> faces(mesh.size());
    double hmin = HUGE_VAL, hmax = -HUGE_VAL, vmin = HUGE_VAL, vmax = -HUGE_VAL;
    for (std::size_t i = 0; i < mesh.size(); ++i) {
        for (int k = 0; k < 3; ++k) {
            const aiVector3D &m = mesh[i][k];
            faces[i].h[k] = c * m.x + s * m.z;
            faces[i].v[k] = m.y;
            faces[i].d[k] = -s * m.x + c * m.z;
            hmin = std::min(hmin, faces[i].h[k]);
            hmax = std::max(hmax, faces[i].h[k]);
            vmin = std::min(vmin, faces[i].v[k]);
            vmax = std::max(vmax, faces[i].v[k]);
        }
    }
    const double scale = 0.9 * std::min(p.width / (hmax - hmin), p.height / (vmax - vmin));
    const double hmid = (hmin + hmax) / 2;
    const double vmid = (vmin + vmax) / 2;
    for (face &f : faces) {
        for (int k = 0; k < 3; ++k) {
            f.h[k] = (f.h[k] - hmid) * scale;
            f.v[k] = (f.v[k] - vmid) * scale;
            f.d[k] *= scale;
        }
    }
    return faces;
}

// World corners of the faces for the engine class's current origin. Nearer
// means a smaller world y on engine3d.
template <class E> std::vector<std::array<quim::point, 3>> worldfaces(const picture &p) {
    std::vector<std::array<quim::point, 3>> out;
    for (const face &f : bunny(p)) {
        std::array<quim::point, 3> w;
        for (int k = 0; k < 3; ++k) {
            w[k] = at<E>(p.width / 2 + f.h[k], p.height / 2 - f.v[k], -f.d[k]);
        }
        out.push_back(w);
    }
    return out;
}

// A frame: clear, then every face (or its outline through the polyline),
// against a memset of the planes.
template <class E> void bunnybench(benchmark::State &state, picture p, bool wire) {
    auto e = makeengine<E>(p);
    const auto faces = worldfaces<E>(p);
    if (faces.empty()) {
        state.SkipWithError(("cannot read " + bunnypath()).c_str());
        return;
    }
    paired(
        state, [&] { memsetplanes(*e, 1, true); }, nothing,
        [&] {
            e->clear(clearcolour);
            for (const auto &f : faces) {
                if (wire) {
                    const quim::point loop[4] = {f[0], f[1], f[2], f[0]};
                    e->line(loop, 4, fillcolour);
                } else {
                    e->tri(f[0], f[1], f[2], fillcolour);
                }
            }
        });
}

// Single primitives at 1024 places spread over the picture, all inside it.
enum class primitive { tri10, tri1000, line10, line500, dot };
constexpr int batch = 1024;

struct lcg {
    std::uint32_t state = 12345;
    int below(int n) {
        state = state * 1664525U + 1013904223U;
        return static_cast<int>((state >> 8) % static_cast<std::uint32_t>(n));
    }
};

template <class E> void primbench(benchmark::State &state, picture p, primitive kind) {
    auto e = makeengine<E>(p);
    const int w = e->width();
    const int h = e->height();
    // Pixel corners: a triangle uses all three, a line the first two, a dot one.
    std::vector<std::array<std::array<int, 2>, 3>> shapes(batch);
    lcg rng;
    for (auto &s : shapes) {
        switch (kind) {
        case primitive::tri10: { // legs of 4 and 4: 10 to 15 pixels
            const int x = rng.below(w - 5);
            const int y = rng.below(h - 5);
            s = {{{x, y}, {x + 4, y}, {x, y + 4}}};
            break;
        }
        case primitive::tri1000: { // legs of 44: about 1000 pixels
            const int x = rng.below(w - 45);
            const int y = rng.below(h - 45);
            s = {{{x, y}, {x + 44, y + rng.below(2) * 44}, {x, y + 44}}};
            break;
        }
        case primitive::line10: { // 10 pixels along the longer axis
            const int x = 10 + rng.below(w - 20);
            const int y = 10 + rng.below(h - 20);
            const int minor = rng.below(19) - 9;
            const bool steep = rng.below(2) == 1;
            s = {{{x, y}, {x + (steep ? minor : 9), y + (steep ? 9 : minor)}, {}}};
            break;
        }
        case primitive::line500: { // 500 pixels along x, any slope up to 1/2
            const int y = 125 + rng.below(h - 250);
            const int x = rng.below(w - 500);
            s = {{{x, y}, {x + 499, y + rng.below(241) - 120}, {}}};
            break;
        }
        case primitive::dot:
            s = {{{rng.below(w), rng.below(h)}, {}, {}}};
            break;
        }
    }
    // Against one memset of the planes; the picture is cleared between runs,
    // so that on engine3d every primitive is nearer than what it covers.
    paired(
        state, [&] { memsetplanes(*e, 1, true); }, [&] { e->clear(clearcolour); },
        [&] {
            for (const auto &s : shapes) {
                const auto corner = [&](int k) { return at<E>(s[k][0], s[k][1], 0); };
                switch (kind) {
                case primitive::tri10:
                case primitive::tri1000:
                    e->tri(corner(0), corner(1), corner(2), fillcolour);
                    break;
                case primitive::line10:
                case primitive::line500:
                    e->line(corner(0), corner(1), fillcolour);
                    break;
                case primitive::dot:
                    e->dot(corner(0), fillcolour);
                    break;
                }
            }
        });
}

// The reciprocal table of a 4096 x 4096 engine filled on every construction
// (the class's table is forgotten first), against a memset of the table. The
// block is borrowed and never touched.
void constructbench(benchmark::State &state) {
    constexpr int side = 4096;
    const std::unique_ptr<std::uint32_t[]> block(new std::uint32_t[std::size_t{side} * side]);
    paired(
        state, [] { std::memset(trel::engine2d::rcptab, 0x5A, sizeof trel::engine2d::rcptab); },
        [] { trel::engine2d::rcpcount = 0; },
        [&] {
            trel::engine2d e(side, side, block.get());
            benchmark::DoNotOptimize(e.rcp);
        });
}

// One line of the table: a workload, what its baseline does, the goal for the
// ratio (0 for none) and the work done per run for the rate column.
struct row {
    std::string workload;
    std::string baseline;
    double goal;
    double work;
    const char *unit; // "Mpx/s" or "prim/s"
};

std::vector<row> rows;

template <class W> void add(row r, W workload) {
    benchmark::RegisterBenchmark(r.workload.c_str(), workload)
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
    rows.push_back(std::move(r));
}

void registerall() {
    const double faces = static_cast<double>(bunnymesh().size());
    for (const picture &p : pictures) {
        const bool goals = &p == &small;
        const double px = static_cast<double>(p.width) * p.height;
        const std::string colour = "memset colour " + p.name;
        const std::string both = "memset colour+depth " + p.name;
        const std::string fifty = "memset colour x50 " + p.name;

        const auto clearrow = [&](auto engine) {
            using E = typename decltype(engine)::type;
            add({std::string("clear ") + enginename<E>() + " " + p.name,
                 hasdepth<E> ? both : colour, goals ? 1.2 : 0, px, "Mpx/s"},
                [p](benchmark::State &state) { clearbench<E>(state, p); });
        };
        clearrow(std::type_identity<trel::engine2d>{});
        clearrow(std::type_identity<trel::engine2dxy>{});
        clearrow(std::type_identity<trel::engine3d>{});

        add({"fill engine2d " + p.name, fifty, goals ? 2.0 : 0, 50 * px, "Mpx/s"},
            [p](benchmark::State &state) { fillbench<trel::engine2d>(state, p); });
        add({"fillz engine3d " + p.name, fifty, goals ? 4.0 : 0, 50 * px, "Mpx/s"},
            [p](benchmark::State &state) { fillbench<trel::engine3d>(state, p); });

        const auto bunnyrow = [&](auto engine, double goal, bool wire) {
            using E = typename decltype(engine)::type;
            add({std::string(wire ? "bunny wire " : "bunny ") + enginename<E>() + " " + p.name,
                 hasdepth<E> ? both : colour, goals ? goal : 0, faces, "prim/s"},
                [p, wire](benchmark::State &state) { bunnybench<E>(state, p, wire); });
        };
        bunnyrow(std::type_identity<trel::engine2d>{}, 0, false);
        bunnyrow(std::type_identity<trel::engine2dxy>{}, 0, false);
        bunnyrow(std::type_identity<trel::engine3d>{}, 30.0, false);
        bunnyrow(std::type_identity<trel::engine2d>{}, 0, true);
    }

    // Per primitive, on the small picture: 1024 primitives a run.
    const std::pair<primitive, const char *> kinds[] = {{primitive::tri10, "tri 10px"},
                                                        {primitive::tri1000, "tri 1000px"},
                                                        {primitive::line10, "line 10px"},
                                                        {primitive::line500, "line 500px"},
                                                        {primitive::dot, "dot"}};
    for (const auto &[kind, label] : kinds) {
        const primitive k = kind;
        add({std::string(label) + " x1024 engine2d", "memset colour " + small.name, 0, batch,
             "prim/s"},
            [k](benchmark::State &state) { primbench<trel::engine2d>(state, small, k); });
        add({std::string(label) + " x1024 engine3d", "memset colour+depth " + small.name, 0, batch,
             "prim/s"},
            [k](benchmark::State &state) { primbench<trel::engine3d>(state, small, k); });
    }

    add({"construct engine2d 4096x4096", "memset 4096-entry table", 0, 1, "prim/s"},
        constructbench);
}

// Keeps each benchmark's best workload and baseline times, in seconds, over
// all its repetitions, and says nothing.
class collector : public benchmark::BenchmarkReporter {
  public:
    struct times {
        double workload = HUGE_VAL;
        double baseline = HUGE_VAL;
    };
    std::map<std::string, times> best;
    std::map<std::string, std::string> failed;

    bool ReportContext(const Context &) override { return true; }

    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &r : runs) {
            if (r.run_type != Run::RT_Iteration) {
                continue;
            }
            const std::string &name = r.run_name.function_name;
            if (r.error_occurred) {
                failed[name] = r.error_message;
                continue;
            }
            const auto w = r.counters.find("workload");
            const auto b = r.counters.find("baseline");
            if (w == r.counters.end() || b == r.counters.end()) {
                continue;
            }
            times &t = best[name];
            t.workload = std::min(t.workload, w->second.value);
            t.baseline = std::min(t.baseline, b->second.value);
        }
    }
};

std::string duration(double seconds) {
    char buf[32];
    if (seconds >= 1e-3) {
        std::snprintf(buf, sizeof buf, "%.3f ms", seconds * 1e3);
    } else {
        std::snprintf(buf, sizeof buf, "%.2f us", seconds * 1e6);
    }
    return buf;
}

std::string rate(double perrun, double seconds, const char *unit) {
    char buf[32];
    if (std::strcmp(unit, "Mpx/s") == 0) {
        std::snprintf(buf, sizeof buf, "%.0f Mpx/s", perrun / seconds / 1e6);
    } else {
        const double r = perrun / seconds;
        if (r >= 1e6) {
            std::snprintf(buf, sizeof buf, "%.2f Mprim/s", r / 1e6);
        } else {
            std::snprintf(buf, sizeof buf, "%.0f prim/s", r);
        }
    }
    return buf;
}

void printtable(const collector &c) {
    std::printf("%-30s %11s  %-26s %13s %8s  %-14s %s\n", "workload", "time", "baseline",
                "baseline time", "ratio", "goal", "rate");
    for (const row &r : rows) {
        const auto found = c.best.find(r.workload);
        if (found == c.best.end()) {
            const auto f = c.failed.find(r.workload);
            if (f != c.failed.end()) {
                std::printf("%-30s skipped: %s\n", r.workload.c_str(), f->second.c_str());
            }
            continue;
        }
        const collector::times &t = found->second;
        const double x = t.workload / t.baseline;
        char ratio[32];
        std::snprintf(ratio, sizeof ratio, "%.2fx", x);
        char goal[32] = "-";
        if (r.goal > 0) {
            std::snprintf(goal, sizeof goal, "<=%.1fx %s", r.goal, x <= r.goal ? "met" : "MISSED");
        }
        std::printf("%-30s %11s  %-26s %13s %8s  %-14s %s\n", r.workload.c_str(),
                    duration(t.workload).c_str(), r.baseline.c_str(), duration(t.baseline).c_str(),
                    ratio, goal, rate(r.work, t.workload, r.unit).c_str());
    }
}

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    registerall();
    collector c;
    benchmark::RunSpecifiedBenchmarks(&c);
    printtable(c);
    benchmark::Shutdown();
    return 0;
}
