// trel's benchmarks. Every workload runs beside its baseline, memset over the
// planes of the same picture, in the same process, and the program ends with
// one table of times and ratios; absolute times drift from run to run on a
// shared machine, the ratios much less. Run through scripts/bench.
//
// Google Benchmark's own flags work as usual (--benchmark_filter,
// --benchmark_min_time, --benchmark_repetitions); with repetitions, the table
// takes each workload's best run. TREL_BUNNY names another bunny.obj.
#include <algorithm>
#include <array>
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
// when there is one, `times` times.
template <class E> void memsetplanes(E &e, int times) {
    const auto n = static_cast<std::size_t>(e.npixels);
    for (int i = 0; i < times; ++i) {
        std::memset(e.pixels, 0x5A, n * sizeof(std::uint32_t));
        if constexpr (hasdepth<E>) {
            std::memset(e.zbuf, 0x5A, n * sizeof(std::int16_t));
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

template <class E> void memsetbench(benchmark::State &state, picture p, int times) {
    auto e = makeengine<E>(p);
    for (auto _ : state) {
        memsetplanes(*e, times);
    }
}

template <class E> void clearbench(benchmark::State &state, picture p) {
    auto e = makeengine<E>(p);
    for (auto _ : state) {
        e->clear(clearcolour);
        benchmark::ClobberMemory();
    }
}

// The depth plane starts afresh (outside the timing) once the nearing
// triangles have used up the depth range.
template <class E> void forgetdepth(benchmark::State &state, E &e, int &depth, int needed) {
    if constexpr (hasdepth<E>) {
        if (depth - needed < -30000) {
            state.PauseTiming();
            e.clear(clearcolour);
            depth = 30000;
            state.ResumeTiming();
        }
    }
}

// 100 triangles, each half the picture cut along the diagonal from the top
// right corner to the bottom left one, the halves taken in turn; on engine3d
// each triangle lies nearer than the one before, so every pixel is written.
template <class E> void fillbench(benchmark::State &state, picture p) {
    auto e = makeengine<E>(p);
    const double right = e->width() - 1;
    const double bottom = e->height() - 1;
    int depth = 30000;
    for (auto _ : state) {
        forgetdepth(state, *e, depth, 100);
        for (int i = 0; i < 100; ++i) {
            const double y = hasdepth<E> ? depth-- : 0;
            if (i % 2 == 0) {
                e->tri(at<E>(0, 0, y), at<E>(right, 0, y), at<E>(0, bottom, y), fillcolour);
            } else {
                e->tri(at<E>(right, 0, y), at<E>(right, bottom, y), at<E>(0, bottom, y),
                       fillcolour);
            }
        }
        benchmark::ClobberMemory();
    }
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

template <class E> void bunnybench(benchmark::State &state, picture p, bool wire) {
    auto e = makeengine<E>(p);
    const auto faces = worldfaces<E>(p);
    if (faces.empty()) {
        state.SkipWithError(("cannot read " + bunnypath()).c_str());
        return;
    }
    for (auto _ : state) {
        e->clear(clearcolour);
        for (const auto &f : faces) {
            if (wire) {
                const quim::point loop[4] = {f[0], f[1], f[2], f[0]};
                e->line(loop, 4, fillcolour);
            } else {
                e->tri(f[0], f[1], f[2], fillcolour);
            }
        }
        benchmark::ClobberMemory();
    }
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
    int depth = 30000;
    for (auto _ : state) {
        forgetdepth(state, *e, depth, 1);
        const double y = hasdepth<E> ? depth-- : 0;
        for (const auto &s : shapes) {
            const auto corner = [&](int k) { return at<E>(s[k][0], s[k][1], y); };
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
        benchmark::ClobberMemory();
    }
}

// The reciprocal table of a 4096 x 4096 engine filled on every construction:
// the class's table is forgotten first. The block is borrowed and never
// touched.
void constructbench(benchmark::State &state) {
    constexpr int side = 4096;
    const std::unique_ptr<std::uint32_t[]> block(new std::uint32_t[std::size_t{side} * side]);
    for (auto _ : state) {
        trel::engine2d::rcpcount = 0;
        trel::engine2d e(side, side, block.get());
        benchmark::DoNotOptimize(e.rcp);
        benchmark::ClobberMemory();
    }
}

void tablememsetbench(benchmark::State &state) {
    for (auto _ : state) {
        std::memset(trel::engine2d::rcptab, 0x5A, sizeof trel::engine2d::rcptab);
        benchmark::ClobberMemory();
    }
    trel::engine2d::rcpcount = 0; // the table is garbage now: have it filled again
}

// One line of the table: a workload, its baseline, the goal for the ratio (0
// for none) and the work done per run for the rate column.
struct row {
    std::string workload;
    std::string baseline;
    double goal;
    double work;
    const char *unit; // "Mpx/s" or "prim/s"
};

std::vector<row> rows;

template <class F, class... Args> void add(const std::string &name, F fn, Args... args) {
    benchmark::RegisterBenchmark(name.c_str(), fn, args...)->Unit(benchmark::kMicrosecond);
}

void registerall() {
    for (const picture &p : pictures) {
        const bool goals = &p == &small;
        const double px = static_cast<double>(p.width) * p.height;
        const std::string colour = "memset colour " + p.name;
        const std::string both = "memset colour+depth " + p.name;
        const std::string fifty = "memset colour x50 " + p.name;
        add(colour, memsetbench<trel::engine2d>, p, 1);
        add(both, memsetbench<trel::engine3d>, p, 1);
        add(fifty, memsetbench<trel::engine2d>, p, 50);

        const auto clearrow = [&](auto engine, const std::string &baseline) {
            using E = typename decltype(engine)::type;
            const std::string name = std::string("clear ") + enginename<E>() + " " + p.name;
            add(name, clearbench<E>, p);
            rows.push_back({name, baseline, goals ? 1.2 : 0, px, "Mpx/s"});
        };
        clearrow(std::type_identity<trel::engine2d>{}, colour);
        clearrow(std::type_identity<trel::engine2dxy>{}, colour);
        clearrow(std::type_identity<trel::engine3d>{}, both);

        add("fill engine2d " + p.name, fillbench<trel::engine2d>, p);
        rows.push_back({"fill engine2d " + p.name, fifty, goals ? 2.0 : 0, 50 * px, "Mpx/s"});
        add("fillz engine3d " + p.name, fillbench<trel::engine3d>, p);
        rows.push_back({"fillz engine3d " + p.name, fifty, goals ? 4.0 : 0, 50 * px, "Mpx/s"});

        const auto bunnyrow = [&](auto engine, const std::string &baseline, double goal,
                                  bool wire) {
            using E = typename decltype(engine)::type;
            const std::string name =
                std::string(wire ? "bunny wire " : "bunny ") + enginename<E>() + " " + p.name;
            add(name, bunnybench<E>, p, wire);
            rows.push_back({name, baseline, goals ? goal : 0, 3674, "prim/s"});
        };
        bunnyrow(std::type_identity<trel::engine2d>{}, colour, 0, false);
        bunnyrow(std::type_identity<trel::engine2dxy>{}, colour, 0, false);
        bunnyrow(std::type_identity<trel::engine3d>{}, both, 30.0, false);
        bunnyrow(std::type_identity<trel::engine2d>{}, colour, 0, true);
    }

    // Per primitive, on the small picture: 1024 primitives a run, measured
    // against one memset of the planes.
    const std::pair<primitive, const char *> kinds[] = {{primitive::tri10, "tri 10px"},
                                                        {primitive::tri1000, "tri 1000px"},
                                                        {primitive::line10, "line 10px"},
                                                        {primitive::line500, "line 500px"},
                                                        {primitive::dot, "dot"}};
    add("memset colour " + small.name + " (again)", memsetbench<trel::engine2d>, small, 1);
    add("memset colour+depth " + small.name + " (again)", memsetbench<trel::engine3d>, small, 1);
    for (const auto &[kind, label] : kinds) {
        const std::string name2d = std::string(label) + " x1024 engine2d";
        add(name2d, primbench<trel::engine2d>, small, kind);
        rows.push_back({name2d, "memset colour " + small.name + " (again)", 0, batch, "prim/s"});
        const std::string name3d = std::string(label) + " x1024 engine3d";
        add(name3d, primbench<trel::engine3d>, small, kind);
        rows.push_back(
            {name3d, "memset colour+depth " + small.name + " (again)", 0, batch, "prim/s"});
    }

    add("memset 4096-entry table", tablememsetbench);
    add("construct engine2d 4096x4096", constructbench);
    rows.push_back({"construct engine2d 4096x4096", "memset 4096-entry table", 0, 1, "prim/s"});
}

// Keeps each benchmark's best time per run, in seconds, and says nothing.
class collector : public benchmark::BenchmarkReporter {
  public:
    std::map<std::string, double> best;
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
            if (r.iterations == 0) {
                continue;
            }
            const double t = r.cpu_accumulated_time / static_cast<double>(r.iterations);
            const auto it = best.find(name);
            if (it == best.end() || t < it->second) {
                best[name] = t;
            }
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
    std::printf("%-34s %12s %-34s %12s %8s  %-14s %s\n", "workload", "time", "baseline",
                "baseline time", "ratio", "goal", "rate");
    for (const row &r : rows) {
        const auto w = c.best.find(r.workload);
        const auto b = c.best.find(r.baseline);
        if (w == c.best.end()) {
            const auto f = c.failed.find(r.workload);
            if (f != c.failed.end()) {
                std::printf("%-34s skipped: %s\n", r.workload.c_str(), f->second.c_str());
            }
            continue;
        }
        std::string ratio = "-";
        std::string goal = "-";
        if (b != c.best.end()) {
            const double x = w->second / b->second;
            char buf[32];
            std::snprintf(buf, sizeof buf, "%.2fx", x);
            ratio = buf;
            if (r.goal > 0) {
                std::snprintf(buf, sizeof buf, "<=%.1fx %s", r.goal,
                              x <= r.goal ? "met" : "MISSED");
                goal = buf;
            }
        }
        std::printf("%-34s %12s %-34s %12s %8s  %-14s %s\n", r.workload.c_str(),
                    duration(w->second).c_str(), r.baseline.c_str(),
                    b != c.best.end() ? duration(b->second).c_str() : "-", ratio.c_str(),
                    goal.c_str(), rate(r.work, w->second, r.unit).c_str());
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
