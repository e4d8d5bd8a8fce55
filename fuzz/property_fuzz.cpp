// Checks the library's internal routines against properties that a slow,
// independent path can decide:
//   - the depth filler visits exactly the pixels the flat filler writes for
//     the same three vertices;
//   - the X-Z clippers write only points inside the picture, no more than two,
//     keep visible endpoints where they are, agree with each other on
//     positions and interpolate their attribute between the endpoints';
//   - the X-Y clipper writes at most four points and accepts only with both
//     final endpoints inside the picture;
//   - a line between two points inside the picture writes exactly the pixels
//     of the closed form of its 16.16 stepper, and the depth-tested line the
//     same pixels with the depths of that closed form;
//   - every vector form of the depth span writes the same words as the
//     scalar form, the one-block form of short spans over the whole row;
//   - filltri and filltriz write the same words and depths as the reference
//     forms that limit every span, over any stored pixels and depths;
//   - the triangle setups fill a triangle inside the picture directly and
//     write what the long way through the clipper and the corners writes;
//   - the flat-shaded and the depth engine draw the same pixels for the same
//     triangles and lines whenever every depth passes;
//   - the intensity's table path gives the level the geometry library's
//     angle gives, for any three points.
// Any difference aborts with the inputs that caused it.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "clip/clip.h"
#include "raster/depthspan.h"
#include "raster/fill.h"
#include "raster/fixed.h"
#include "raster/line.h"
#include "raster/shade.h"
#include "raster/triangle.h"
#include "values.h"
#include <trel/trel.h>

namespace {

using trel::detail::fillvertex;
using trel::detail::surface;

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "property_fuzz: %s\n", what);
    std::abort();
}

void expect(bool ok, const char *what) {
    if (!ok) {
        fail(what);
    }
}

// The reciprocal table as the engines build it: entry i = 65536 / i, 0 at 0.
const int *reciprocals() {
    static const std::vector<int> table = [] {
        std::vector<int> t(4096, 0);
        for (int i = 1; i < 4096; ++i) {
            t[static_cast<std::size_t>(i)] = 65536 / i;
        }
        return t;
    }();
    return table.data();
}

// A picture size for the raster routines: mostly small, sometimes a few
// hundred, sometimes long and thin up to the largest picture; never more than
// 90,000 pixels.
void decodepicture(FuzzedDataProvider &in, int &width, int &height) {
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0:
        width = in.ConsumeIntegralInRange<int>(1, 4096);
        height = in.ConsumeIntegralInRange<int>(1, 8);
        break;
    case 1:
        width = in.ConsumeIntegralInRange<int>(1, 8);
        height = in.ConsumeIntegralInRange<int>(1, 4096);
        break;
    case 2:
        width = in.ConsumeIntegralInRange<int>(1, 300);
        height = in.ConsumeIntegralInRange<int>(1, 300);
        break;
    default:
        width = in.ConsumeIntegralInRange<int>(1, 48);
        height = in.ConsumeIntegralInRange<int>(1, 48);
        break;
    }
}

// A coordinate inside 0 ... size - 1, often on an edge or on `other`.
int decodeinside(FuzzedDataProvider &in, int size, int other) {
    switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0:
        return 0;
    case 1:
        return size - 1;
    case 2:
        return std::clamp(other, 0, size - 1);
    case 3:
        return std::clamp(other + in.ConsumeIntegralInRange<int>(-2, 2), 0, size - 1);
    default:
        return in.ConsumeIntegralInRange<int>(0, size - 1);
    }
}

// The two ends of a segment near the picture; one time in eight the same
// point twice.
void decodesegment(FuzzedDataProvider &in, int reach, const int (&edges)[2], quim::point &a,
                   quim::point &b) {
    a = decodepoint(in, reach, edges);
    b = decodepoint(in, reach, edges);
    if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
        b = a;
    }
}

// --- Filling ------------------------------------------------------------------

// Every pixel written has depth d.
TREL_FUZZ_UNTRACED bool keepsdepth(const std::vector<std::uint32_t> &pixels,
                                   const std::vector<std::int16_t> &zbuf, int d) {
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        if (pixels[i] != 0 && zbuf[i] != d) {
            return false;
        }
    }
    return true;
}

void checkfill(FuzzedDataProvider &in) {
    int width = 0;
    int height = 0;
    decodepicture(in, width, height);
    fillvertex v[3] = {};
    const bool flatdepth = in.ConsumeIntegralInRange<int>(0, 3) == 0;
    const int flat = in.ConsumeIntegralInRange<int>(-32000, 32000);
    for (int i = 0; i < 3; ++i) {
        const fillvertex &prev = v[i == 0 ? 2 : i - 1];
        v[i].x = decodeinside(in, width, prev.x);
        v[i].y = decodeinside(in, height, prev.y);
        // Depths far enough above the stored depth (-32640) that every pixel
        // the filler visits passes the test, however far a span reaches.
        v[i].d = flatdepth ? flat : in.ConsumeIntegralInRange<int>(0, 4000);
    }
    const auto count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    const int *rcp = reciprocals();
    // A few guard words after the flat plane: long spans are stored with a
    // string instruction that the address checker does not see.
    constexpr std::size_t guardwords = 16;
    std::vector<std::uint32_t> flatpixels(count + guardwords, 0xDEADBEEFU);
    std::fill_n(flatpixels.begin(), count, 0U);
    filltri(surface{flatpixels.data(), nullptr, width, height, rcp}, v[0], v[1], v[2], 1);
    for (std::size_t i = count; i < count + guardwords; ++i) {
        expect(flatpixels[i] == 0xDEADBEEFU, "filltri wrote past the picture");
    }
    flatpixels.resize(count);
    std::vector<std::uint32_t> depthpixels(count);
    std::vector<std::int16_t> zbuf(count);
    std::memset(zbuf.data(), 0x80, count * sizeof(std::int16_t));
    filltriz(surface{depthpixels.data(), zbuf.data(), width, height, rcp}, v[0], v[1], v[2], 1);
    if (flatpixels != depthpixels) {
        std::fprintf(stderr, "picture %d x %d, vertices (%d %d %d) (%d %d %d) (%d %d %d)\n", width,
                     height, v[0].x, v[0].y, v[0].d, v[1].x, v[1].y, v[1].d, v[2].x, v[2].y,
                     v[2].d);
        for (std::size_t i = 0; i < count; ++i) {
            if (flatpixels[i] != depthpixels[i]) {
                std::fprintf(stderr, "  pixel (%zu, %zu): flat %u depth %u\n",
                             i % static_cast<std::size_t>(width),
                             i / static_cast<std::size_t>(width), flatpixels[i], depthpixels[i]);
            }
        }
        fail("the depth filler and the flat filler differ");
    }
    if (flatdepth) {
        expect(keepsdepth(depthpixels, zbuf, flat), "a flat triangle with another depth");
    }
}

// filltri and filltriz against their reference forms: any three vertices
// inside the picture (now and then one a little outside, which both must
// leave to the careful way), over stored pixels and depths near the
// triangle's own, so that some pixels pass and some fail. Both planes carry
// guard words after them.
void checkfastfill(FuzzedDataProvider &in) {
    int width = 0;
    int height = 0;
    decodepicture(in, width, height);
    const bool outside = in.ConsumeIntegralInRange<int>(0, 15) == 0;
    fillvertex v[3] = {};
    for (fillvertex &t : v) {
        t.d = in.ConsumeIntegralInRange<int>(-300, 300);
    }
    for (int i = 0; i < 3; ++i) {
        v[i].x = decodeinside(in, width, v[(i + 2) % 3].x);
        v[i].y = decodeinside(in, height, v[(i + 2) % 3].y);
    }
    if (outside) {
        v[0].x += in.ConsumeBool() ? width : -in.ConsumeIntegralInRange<int>(1, 3);
    }
    const auto count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    constexpr std::size_t guardwords = 16;
    std::vector<std::uint32_t> px(count + guardwords, 0xDEADBEEFU);
    std::vector<std::int16_t> zb(count + guardwords, 0x5A5A);
    const int mode = in.ConsumeIntegralInRange<int>(0, 2);
    for (std::size_t i = 0; i < count; ++i) {
        px[i] = static_cast<std::uint32_t>(i) * 0x9E3779B9U;
        zb[i] = static_cast<std::int16_t>(mode == 0   ? -32000
                                          : mode == 1 ? in.ConsumeIntegralInRange<int>(-320, 320)
                                                      : 32767);
    }
    std::vector<std::uint32_t> refpx = px;
    std::vector<std::int16_t> refzb = zb;
    const int *rcp = reciprocals();
    const bool depth = in.ConsumeBool();
    const std::uint32_t word = in.ConsumeIntegral<std::uint32_t>();
    if (depth) {
        trel::detail::filltriz(surface{px.data(), zb.data(), width, height, rcp}, v[0], v[1], v[2],
                               word);
        trel::detail::filltrizreference(surface{refpx.data(), refzb.data(), width, height, rcp},
                                        v[0], v[1], v[2], word);
    } else {
        trel::detail::filltri(surface{px.data(), nullptr, width, height, rcp}, v[0], v[1], v[2],
                              word);
        trel::detail::filltrireference(surface{refpx.data(), nullptr, width, height, rcp}, v[0],
                                       v[1], v[2], word);
    }
    if (px != refpx || zb != refzb) {
        std::fprintf(stderr, "picture %d x %d, %s, vertices (%d %d %d) (%d %d %d) (%d %d %d)\n",
                     width, height, depth ? "depth" : "flat", v[0].x, v[0].y, v[0].d, v[1].x,
                     v[1].y, v[1].d, v[2].x, v[2].y, v[2].d);
        fail("the filler and its reference form differ");
    }
}

// --- Depth spans --------------------------------------------------------------

// Every vector form of the depth span writes the same words as the scalar
// form, over any stored depths and any accumulator, and nothing past the span.
void checkspan(FuzzedDataProvider &in) {
#if defined(__SSE2__)
    const int n = in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(1, 20)
                                   : in.ConsumeIntegralInRange<int>(1, 600);
    const auto z = in.ConsumeIntegral<std::uint32_t>();
    std::uint32_t step = 0;
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        step = in.ConsumeIntegral<std::uint32_t>();
        break;
    case 1:
        step = static_cast<std::uint32_t>(in.ConsumeIntegralInRange<int>(-65536, 65536));
        break;
    case 2:
        step = static_cast<std::uint32_t>(in.ConsumeIntegralInRange<int>(-1024, 1024));
        break;
    default:
        break;
    }
    const std::uint32_t word = in.ConsumeIntegral<std::uint32_t>();
    const auto size = static_cast<std::size_t>(n);
    std::vector<std::uint32_t> px(size);
    std::vector<std::int16_t> zb(size);
    // Stored depths: random, near the span's own depths, or a constant.
    const int mode = in.ConsumeIntegralInRange<int>(0, 2);
    const auto fixedz = static_cast<std::int16_t>(in.ConsumeIntegral<std::uint16_t>());
    std::uint32_t acc = z;
    for (std::size_t i = 0; i < size; ++i) {
        px[i] = static_cast<std::uint32_t>(i) * 0x9E3779B9U;
        switch (mode) {
        case 0:
            zb[i] = static_cast<std::int16_t>(in.ConsumeIntegral<std::uint16_t>());
            break;
        case 1:
            zb[i] = static_cast<std::int16_t>(trel::detail::whole(acc) +
                                              in.ConsumeIntegralInRange<int>(-1, 1));
            break;
        default:
            zb[i] = fixedz;
            break;
        }
        acc += step;
    }
    std::vector<std::uint32_t> scalarpx = px;
    std::vector<std::int16_t> scalarzb = zb;
    trel::detail::depthspanscalar(scalarpx.data(), scalarzb.data(), n, z, step, word);
#if TREL_AVX2_SPANS
    if (n >= 16 && trel::detail::avx2spans) {
        std::vector<std::uint32_t> widepx = px;
        std::vector<std::int16_t> widezb = zb;
        trel::detail::depthspanavx2(widepx.data(), widezb.data(), n, z, step, word);
        if (widepx != scalarpx || widezb != scalarzb) {
            std::fprintf(stderr, "span of %d, z %08x, step %08x\n", n, z, step);
            fail("the AVX2 depth span differs from the scalar one");
        }
    }
#endif
    trel::detail::depthspansse2(px.data(), zb.data(), n, z, step, word);
    if (px != scalarpx || zb != scalarzb) {
        std::fprintf(stderr, "span of %d, z %08x, step %08x\n", n, z, step);
        fail("the SSE2 depth span differs from the scalar one");
    }
#else
    (void)in;
#endif
}

// The block forms of a depth span (blocks of eight from the span's first
// column with the last one's lanes past the span switched off, or one block
// shifted left at the row's end) against the scalar form over a whole row: the
// span's words as the scalar form writes them, and every other word of the row
// as it was.
void checkrun(FuzzedDataProvider &in) {
    const int width = in.ConsumeIntegralInRange<int>(1, 64);
    const int n = in.ConsumeIntegralInRange<int>(1, in.ConsumeBool() ? std::min(width, 12) : width);
    const int left = in.ConsumeBool() ? width - n : in.ConsumeIntegralInRange<int>(0, width - n);
    const auto z = in.ConsumeIntegral<std::uint32_t>();
    const auto step = in.ConsumeBool()
                          ? in.ConsumeIntegral<std::uint32_t>()
                          : static_cast<std::uint32_t>(in.ConsumeIntegralInRange<int>(-1024, 1024));
    const std::uint32_t word = in.ConsumeIntegral<std::uint32_t>();
    const auto size = static_cast<std::size_t>(width);
    std::vector<std::uint32_t> px(size);
    std::vector<std::int16_t> zb(size);
    const int mode = in.ConsumeIntegralInRange<int>(0, 2);
    std::uint32_t acc = z - static_cast<std::uint32_t>(left) * step;
    for (std::size_t i = 0; i < size; ++i) {
        px[i] = static_cast<std::uint32_t>(i) * 0x9E3779B9U;
        zb[i] = static_cast<std::int16_t>(
            mode == 0   ? -32768
            : mode == 1 ? trel::detail::whole(acc) + in.ConsumeIntegralInRange<int>(-1, 1)
                        : static_cast<std::int16_t>(in.ConsumeIntegral<std::uint16_t>()));
        acc += step;
    }
    std::vector<std::uint32_t> refpx = px;
    std::vector<std::int16_t> refzb = zb;
    trel::detail::depthspanscalar(refpx.data() + left, refzb.data() + left, n, z, step, word);
    trel::detail::depthrun(px.data(), zb.data(), width, left, n, z, step, word);
    if (px != refpx || zb != refzb) {
        std::fprintf(stderr, "row of %d, span of %d from %d, z %08x, step %08x\n", width, n, left,
                     z, step);
        fail("the short depth span differs from the scalar one");
    }
}

// A triangle whose corners all lie inside the picture is filled directly by
// the setups; the long way (every edge through the clipper, the corners
// tested, the polygon completed) must write the same pixels and depths, on
// every engine's setup. Corners mostly inside, sometimes on or over an edge.
void checkinside(FuzzedDataProvider &in) {
    const int width = 4 * in.ConsumeIntegralInRange<int>(1, 16);
    const int height = in.ConsumeIntegralInRange<int>(1, 64);
    const trel::detail::origin o{width / 2, height / 2};
    quim::point p[3];
    for (quim::point &q : p) {
        // Whole and fractional world units, from just outside to just inside.
        q.x = in.ConsumeIntegralInRange<int>(-4 * (width / 2 + 2), 4 * (width / 2 + 2)) / 4.0;
        q.y = in.ConsumeIntegralInRange<int>(-4 * (height / 2 + 2), 4 * (height / 2 + 2)) / 4.0;
        q.z = in.ConsumeIntegralInRange<int>(-4 * (height / 2 + 2), 4 * (height / 2 + 2)) / 4.0;
    }
    const int mode = in.ConsumeIntegralInRange<int>(0, 3);
    const unsigned long colour = in.ConsumeIntegral<unsigned long>();
    const auto count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::vector<std::uint32_t> px(count, 0x11111111U);
    std::vector<std::int16_t> zb(count);
    for (std::size_t i = 0; i < count; ++i) {
        zb[i] = static_cast<std::int16_t>(in.ConsumeIntegralInRange<int>(-64, 64));
    }
    std::vector<std::uint32_t> refpx = px;
    std::vector<std::int16_t> refzb = zb;
    const int *rcp = reciprocals();
    const surface fast{px.data(), mode == 2 ? zb.data() : nullptr, width, height, rcp};
    const surface slow{refpx.data(), mode == 2 ? refzb.data() : nullptr, width, height, rcp};
    using trel::detail::trimode;
    switch (mode) {
    case 0:
    case 1:
    case 2: {
        const trimode m = mode == 0 ? trimode::plain : mode == 1 ? trimode::shaded : trimode::depth;
        trel::detail::trianglexz(fast, o, p[0], p[1], p[2], colour, m);
        trel::detail::trianglexzclipped(slow, o, p[0], p[1], p[2], colour, m);
        break;
    }
    default:
        trel::detail::trianglexy(fast, o, p[0], p[1], p[2], colour);
        trel::detail::trianglexyclipped(slow, o, p[0], p[1], p[2], colour);
        break;
    }
    if (px != refpx || zb != refzb) {
        std::fprintf(stderr, "picture %d x %d, mode %d\n", width, height, mode);
        for (const quim::point &q : p) {
            std::fprintf(stderr, "  (%.17g, %.17g, %.17g)\n", q.x, q.y, q.z);
        }
        fail("a triangle inside the picture is filled otherwise than the long way fills it");
    }
}

// --- Clipping -----------------------------------------------------------------

// The projection the clippers start from, for coordinates well inside the
// range that converts exactly: trunc, as a 64-bit integer.
bool exact(double v) { return std::fabs(v) < 1e9; }
std::int64_t truncated(double v) { return static_cast<std::int64_t>(v); }

bool between(std::int64_t v, std::int64_t a, std::int64_t b) {
    return v >= std::min(a, b) && v <= std::max(a, b);
}

// The attribute bounds of a clipper: trunc held within the library's limit.
std::int64_t attribute(double v) {
    constexpr double limit = 1'400'000'000.0;
    if (v >= limit) {
        return 1'400'000'000;
    }
    if (v <= -limit) {
        return -1'400'000'000;
    }
    return static_cast<std::int64_t>(v);
}

void checkclip(FuzzedDataProvider &in) {
    int width = 0;
    int height = 0;
    decodepicture(in, width, height);
    const int stride = (width + 3) & ~3;
    const int orgx = stride / 2;
    const int orgy = height / 2 - (in.ConsumeBool() ? 20 : 0);
    const int xbound = stride - 1;
    const int ybound = height - 1;
    const int reach = std::max(stride, height) / 2 + 2;
    const int edges[2] = {stride / 2, height / 2};
    quim::point a;
    quim::point b;
    decodesegment(in, reach, edges, a, b);
    const bool wantfirst = in.ConsumeBool();
    const bool wantsecond = in.ConsumeBool();

    int xs[3] = {INT_MIN, INT_MIN, INT_MIN};
    int ys[3] = {INT_MIN, INT_MIN, INT_MIN};
    const int n = trel::detail::clipsegment({orgx, orgy}, xbound, ybound, a, b, xs, ys, wantfirst,
                                            wantsecond);
    expect(n >= 0 && n <= 2, "clipsegment count out of range");
    expect(xs[2] == INT_MIN && ys[2] == INT_MIN, "clipsegment wrote a third point");
    for (int i = 0; i < 3; ++i) {
        if (i < n) {
            expect(xs[i] >= 0 && xs[i] <= xbound && ys[i] >= 0 && ys[i] <= ybound,
                   "clipsegment wrote a point outside the picture");
        } else {
            expect(xs[i] == INT_MIN && ys[i] == INT_MIN, "clipsegment wrote beyond its count");
        }
    }

    // Endpoints already inside the picture stay where they are and are
    // written exactly when asked for; one inside endpoint keeps the segment.
    const bool finiteends =
        std::isfinite(a.x) && std::isfinite(a.z) && std::isfinite(b.x) && std::isfinite(b.z);
    if (finiteends && exact(a.x) && exact(a.z) && exact(b.x) && exact(b.z)) {
        const std::int64_t x1 = orgx + truncated(a.x);
        const std::int64_t y1 = orgy - truncated(a.z);
        const std::int64_t x2 = orgx + truncated(b.x);
        const std::int64_t y2 = orgy - truncated(b.z);
        const bool in1 = x1 >= 0 && x1 <= xbound && y1 >= 0 && y1 <= ybound;
        const bool in2 = x2 >= 0 && x2 <= xbound && y2 >= 0 && y2 <= ybound;
        const int expected = (in1 ? (wantfirst ? 1 : 0) : 1) + (in2 ? (wantsecond ? 1 : 0) : 1);
        if (in1 || in2) {
            expect(n == expected, "clipsegment lost a segment with a visible endpoint");
        } else {
            expect(n == 0 || n == expected, "clipsegment wrote the wrong number of points");
        }
        if (n == expected) {
            int k = 0;
            if (in1 && wantfirst) {
                expect(xs[k] == x1 && ys[k] == y1, "clipsegment moved a visible first endpoint");
            }
            k += in1 && !wantfirst ? 0 : 1;
            if (in2 && wantsecond && k < n) {
                expect(xs[k] == x2 && ys[k] == y2, "clipsegment moved a visible second endpoint");
            }
        }
    }

    // The attribute-carrying clipper writes the same positions, and every
    // attribute lies between those of the two endpoints.
    int zx[3] = {INT_MIN, INT_MIN, INT_MIN};
    int zy[3] = {INT_MIN, INT_MIN, INT_MIN};
    int za[3] = {INT_MIN, INT_MIN, INT_MIN};
    const int nz = trel::detail::clipsegmentz({orgx, orgy}, xbound, ybound, a, b, zx, zy, za,
                                              wantfirst, wantsecond);
    if (!std::isfinite(a.y) || !std::isfinite(b.y)) {
        expect(nz == 0, "clipsegmentz took a non-finite attribute");
        expect(zx[0] == INT_MIN && za[0] == INT_MIN, "clipsegmentz wrote for a refused segment");
        return;
    }
    expect(nz == n, "clipsegment and clipsegmentz differ in count");
    expect(za[2] == INT_MIN && zx[2] == INT_MIN, "clipsegmentz wrote a third point");
    for (int i = 0; i < n; ++i) {
        expect(zx[i] == xs[i] && zy[i] == ys[i], "clipsegment and clipsegmentz differ in position");
        expect(between(za[i], attribute(a.y), attribute(b.y)),
               "clipsegmentz attribute outside its endpoints'");
    }
}

void checkcut(FuzzedDataProvider &in) {
    int xsize = 0;
    int ysize = 0;
    decodepicture(in, xsize, ysize);
    const int orgx = xsize / 2;
    const int orgy = ysize / 2;
    const int reach = std::max(xsize, ysize) / 2 + 2;
    const int edges[2] = {xsize / 2, ysize / 2};
    quim::point a;
    quim::point b;
    decodesegment(in, reach, edges, a, b);
    const bool wanta = in.ConsumeBool();
    const bool wantb = in.ConsumeBool();

    int xs[5];
    int ys[5];
    int zs[5];
    std::fill_n(xs, 5, INT_MIN);
    std::fill_n(ys, 5, INT_MIN);
    std::fill_n(zs, 5, INT_MIN);
    const trel::detail::cutresult cut =
        trel::detail::cutsegment({orgx, orgy}, xsize, ysize, a, b, xs, ys, zs, wanta, wantb);
    expect(cut.count >= 0 && cut.count <= 4, "cutsegment count out of range");
    for (int i = cut.count; i < 5; ++i) {
        expect(xs[i] == INT_MIN && ys[i] == INT_MIN && zs[i] == INT_MIN,
               "cutsegment wrote beyond its count");
    }
    if (cut.accepted) {
        expect(cut.x1 >= 0 && cut.x1 < xsize && cut.y1 >= 0 && cut.y1 < ysize && cut.x2 >= 0 &&
                   cut.x2 < xsize && cut.y2 >= 0 && cut.y2 < ysize,
               "cutsegment accepted an endpoint outside the picture");
    }
    const bool finiteall = std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z) &&
                           std::isfinite(b.x) && std::isfinite(b.y) && std::isfinite(b.z);
    if (!finiteall) {
        expect(cut.count == 0 && !cut.accepted, "cutsegment took a non-finite coordinate");
        return;
    }
    for (int i = 0; i < cut.count; ++i) {
        expect(between(zs[i], attribute(a.z), attribute(b.z)),
               "cutsegment attribute outside its endpoints'");
    }
    if (exact(a.x) && exact(a.y) && exact(b.x) && exact(b.y)) {
        const std::int64_t x1 = orgx + truncated(a.x);
        const std::int64_t y1 = orgy - truncated(a.y);
        const std::int64_t x2 = orgx + truncated(b.x);
        const std::int64_t y2 = orgy - truncated(b.y);
        const bool in1 = x1 >= 0 && x1 < xsize && y1 >= 0 && y1 < ysize;
        const bool in2 = x2 >= 0 && x2 < xsize && y2 >= 0 && y2 < ysize;
        if (in1 || in2) {
            expect(cut.accepted, "cutsegment lost a segment with a visible endpoint");
        }
        if (in1) {
            expect(cut.x1 == x1 && cut.y1 == y1, "cutsegment moved a visible first endpoint");
        }
        if (in2) {
            expect(cut.x2 == x2 && cut.y2 == y2, "cutsegment moved a visible second endpoint");
        }
        int k = 0;
        if (in1 && wanta) {
            expect(xs[k] == x1 && ys[k] == y1, "cutsegment did not write the first endpoint");
            ++k;
        }
        if (in2 && wantb) {
            expect(xs[k] == x2 && ys[k] == y2, "cutsegment did not write the second endpoint");
        }
    }

    // Without the attribute the same points come out.
    int px[5];
    int py[5];
    std::fill_n(px, 5, INT_MIN);
    std::fill_n(py, 5, INT_MIN);
    const trel::detail::cutresult plain =
        trel::detail::cutsegment({orgx, orgy}, xsize, ysize, a, b, px, py, nullptr, wanta, wantb);
    expect(plain.count == cut.count && plain.accepted == cut.accepted && plain.x1 == cut.x1 &&
               plain.y1 == cut.y1 && plain.x2 == cut.x2 && plain.y2 == cut.y2,
           "cutsegment differs without the attribute");
    for (int i = 0; i < 5; ++i) {
        expect(px[i] == xs[i] && py[i] == ys[i], "cutsegment points differ without the attribute");
    }
}

// --- Lines --------------------------------------------------------------------

// floor(v / 65536) for any 64-bit v.
std::int64_t floorwhole(std::int64_t v) { return v >= 0 ? v / 65536 : -((-v + 65535) / 65536); }

struct linepixel {
    int x;
    int y;
    std::int64_t depth;
};

// The closed form of the line stepper: from the left endpoint (the first
// when both share a column) along the major axis, pixel k of L + 1 lies k
// steps along it and floor((0x7fff + k * m * r) / 65536) across, where m is
// the far endpoint's displacement across and r = 65536 / L truncated. The
// depth follows the same form from the start's depth, the start pixel keeping
// its depth whole.
std::vector<linepixel> closedform(int x1, int y1, std::int64_t d1, int x2, int y2,
                                  std::int64_t d2) {
    if (x2 < x1) {
        std::swap(x1, x2);
        std::swap(y1, y2);
        std::swap(d1, d2);
    }
    const int dx = x2 - x1;
    const int dy = y2 - y1;
    const int ady = dy < 0 ? -dy : dy;
    std::vector<linepixel> out;
    if (dx == 0 && dy == 0) {
        out.push_back({x1, y1, d1});
        return out;
    }
    const bool xmajor = dx >= ady;
    const int length = xmajor ? dx : ady;
    const std::int64_t r = 65536 / length;
    const std::int64_t m = xmajor ? dy : dx;
    const int along = xmajor ? 1 : (dy < 0 ? -1 : 1);
    for (int k = 0; k <= length; ++k) {
        const std::int64_t across = floorwhole(0x7fff + k * m * r);
        const std::int64_t depth =
            k == 0 ? d1 : floorwhole(d1 * 65536 + 0x7fff + k * (d2 - d1) * r);
        if (xmajor) {
            out.push_back({x1 + k, static_cast<int>(y1 + across), depth});
        } else {
            out.push_back({static_cast<int>(x1 + across), y1 + k * along, depth});
        }
    }
    return out;
}

// Planes as large as the largest picture, kept between runs: a line touches
// only its own pixels, which are put back after every check.
struct lineplanes {
    static constexpr std::size_t size = std::size_t{4096} * 4096;
    std::vector<std::uint32_t> flat = std::vector<std::uint32_t>(size, 0);
    std::vector<std::uint32_t> deep = std::vector<std::uint32_t>(size, 0);
    std::vector<std::int16_t> zbuf = std::vector<std::int16_t>(size, INT16_MIN);
};

void checkline(FuzzedDataProvider &in) {
    static lineplanes planes;
    int width = 0;
    int height = 0;
    if (in.ConsumeIntegralInRange<int>(0, 3) == 0) {
        width = in.ConsumeIntegralInRange<int>(1, 4096);
        height = in.ConsumeIntegralInRange<int>(1, 4096);
    } else {
        decodepicture(in, width, height);
    }
    const int x1 = decodeinside(in, width, 0);
    const int y1 = decodeinside(in, height, 0);
    const int x2 = decodeinside(in, width, x1);
    const int y2 = decodeinside(in, height, y1);
    const int d1 = in.ConsumeIntegralInRange<int>(-32000, 32000);
    const int d2 = in.ConsumeBool() ? d1 : in.ConsumeIntegralInRange<int>(-32000, 32000);
    const std::uint32_t word = in.ConsumeIntegralInRange<std::uint32_t>(1, UINT32_MAX);
    const int *rcp = reciprocals();

    const std::vector<linepixel> expected = closedform(x1, y1, d1, x2, y2, d2);
    const bool xmajor = std::abs(x2 - x1) >= std::abs(y2 - y1) && x2 != x1;
    const auto report = [&](const char *what) {
        std::fprintf(stderr, "picture %d x %d, line (%d, %d, %d) to (%d, %d, %d)\n", width, height,
                     x1, y1, d1, x2, y2, d2);
        fail(what);
    };
    // Pixel (x, y) as an index, or -1 off the picture.
    const auto at = [width, height](int x, int y) -> std::ptrdiff_t {
        if (x < 0 || x >= width || y < 0 || y >= height) {
            return -1;
        }
        return static_cast<std::ptrdiff_t>(y) * width + x;
    };
    for (const linepixel &p : expected) {
        if (at(p.x, p.y) < 0) {
            report("the line's closed form leaves the picture");
        }
    }

    trel::detail::flatline(surface{planes.flat.data(), nullptr, width, height, rcp}, x1, y1, x2, y2,
                           word);
    const surface deep{planes.deep.data(), planes.zbuf.data(), width, height, rcp};
    trel::detail::depthline(deep, x1, y1, d1, x2, y2, d2, word);
    for (const linepixel &p : expected) {
        const auto i = static_cast<std::size_t>(at(p.x, p.y));
        if (planes.flat[i] != word) {
            report("flatline missed a pixel of the closed form");
        }
        if (planes.deep[i] != word) {
            report("depthline missed a pixel of the closed form");
        }
        if (planes.zbuf[i] != p.depth) {
            report("depthline wrote a depth off the closed form");
        }
    }
    // The test is strict: the same line again changes nothing.
    trel::detail::depthline(deep, x1, y1, d1, x2, y2, d2, word ^ 1U);
    for (const linepixel &p : expected) {
        const auto i = static_cast<std::size_t>(at(p.x, p.y));
        if (planes.deep[i] != word) {
            report("depthline overwrote an equal depth");
        }
        planes.flat[i] = 0;
        planes.deep[i] = 0;
        planes.zbuf[i] = INT16_MIN;
    }
    // Nothing else was written beside the line: every step writes one pixel,
    // so a stray one lies within two pixels across of the line.
    for (const linepixel &p : expected) {
        for (int off = -2; off <= 2; ++off) {
            const std::ptrdiff_t i = xmajor ? at(p.x, p.y + off) : at(p.x + off, p.y);
            if (i >= 0 && (planes.flat[static_cast<std::size_t>(i)] != 0 ||
                           planes.deep[static_cast<std::size_t>(i)] != 0 ||
                           planes.zbuf[static_cast<std::size_t>(i)] != INT16_MIN)) {
                report("a line wrote a pixel off the closed form");
            }
        }
    }
}

// --- Engines ------------------------------------------------------------------

// An engine held by value; final, so that destroying it needs no virtual
// destructor.
template <class E> struct held final : E { using E::E; };

// Marks what an engine wrote over a clear with a fourth byte no drawing keeps.
template <class E> TREL_FUZZ_UNTRACED std::vector<bool> written(const E &e) {
    std::vector<bool> out(static_cast<std::size_t>(e.npixels));
    for (int i = 0; i < e.npixels; ++i) {
        out[static_cast<std::size_t>(i)] = (e.pixels[i] & 0xFF000000U) == 0;
    }
    return out;
}

// The flat-shaded engine and the depth engine share their clipping, corners,
// ordering and fans, so over a picture of the same size, with depths that
// always pass, they draw the same pixels for the same triangle or line. The
// depth engine's origin sits 20 rows lower, so its points are moved 20 up.
void checkengines(FuzzedDataProvider &in) {
    const int width = in.ConsumeIntegralInRange<int>(0, 64);
    const int height = in.ConsumeIntegralInRange<int>(0, 64);
    held<trel::engine2d> flat(width, height, nullptr);
    held<trel::engine3d> deep(width, height, nullptr);
    flat.clear(0xFF000000UL);
    deep.clear(0xFF000000UL);
    const int reach = std::max(width, height) / 2 + 2;
    const int edges[2] = {width / 2, height / 2};
    quim::point pts[3];
    quim::point moved[3];
    for (int i = 0; i < 3; ++i) {
        pts[i].x = decodecoordinate(in, reach, edges);
        pts[i].y = in.ConsumeIntegralInRange<int>(-1000, 1000);
        // Integral heights within the exact range, so that moving them is exact.
        pts[i].z = in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(-reach - 30, reach + 30)
                                    : in.ConsumeIntegralInRange<int>(-999'999'000, 999'999'000);
        moved[i] = pts[i];
        moved[i].z += 20;
    }
    // Flat lines keep the colour's fourth byte; it is left 0 to tell them.
    const unsigned long colour = in.ConsumeIntegral<unsigned long>() & 0x00FFFFFFUL;
    const char *what = nullptr;
    if (in.ConsumeBool()) {
        flat.line(pts[0], pts[1], colour);
        deep.line(moved[0], moved[1], colour);
        what = "the flat and the depth engine draw another line";
    } else {
        flat.tri(pts[0], pts[1], pts[2], colour);
        deep.tri(moved[0], moved[1], moved[2], colour);
        what = "the flat and the depth engine draw another triangle";
    }
    if (written(flat) != written(deep)) {
        std::fprintf(stderr, "picture %d x %d\n", width, height);
        for (const quim::point &p : pts) {
            std::fprintf(stderr, "  (%.17g, %.17g, %.17g)\n", p.x, p.y, p.z);
        }
        fail(what);
    }
}

// The shade of any three points, through the table and through the angle.
void checkshade(FuzzedDataProvider &in) {
    const int edges[2] = {300, 200};
    const quim::point p[3] = {decodepoint(in, 400, edges), decodepoint(in, 400, edges),
                              decodepoint(in, 400, edges)};
    if (trel::detail::intensity(p[0], p[1], p[2]) !=
        trel::detail::intensityexact(p[0], p[1], p[2])) {
        for (const quim::point &q : p) {
            std::fprintf(stderr, "  (%.17g, %.17g, %.17g)\n", q.x, q.y, q.z);
        }
        fail("the table and the angle give another intensity");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange<int>(0, 6)) {
    case 0:
        checkfill(in);
        break;
    case 1:
        checkclip(in);
        break;
    case 2:
        checkcut(in);
        break;
    case 3:
        checkengines(in);
        break;
    case 4:
        checkspan(in);
        break;
    case 5:
        checkshade(in);
        break;
    default: {
        // The quicker paths' checks share the last selector with the lines,
        // so that the seeds of the others keep their meaning.
        using check = void (*)(FuzzedDataProvider &);
        static constexpr check checks[] = {checkfastfill, checkrun, checkinside, checkline};
        checks[in.ConsumeIntegralInRange<std::size_t>(0, std::size(checks) - 1)](in);
        break;
    }
    }
    return 0;
}
