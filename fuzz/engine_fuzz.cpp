// Drives engines of all three classes through a sequence of operations decoded
// from the input: construction over guarded borrowed blocks and over blocks of
// their own, copies, assignments and destruction in any order, clears, dots,
// lines, polylines, triangles and the reserved calls, with coordinates that
// range from small values and picture edges to huge values, NaN and infinities.
//
// After every operation the guard bytes around every borrowed block are
// checked, and a block lent to a refused engine must stay untouched as a
// whole. Clears, dots and the reserved calls are also checked for what they
// write. Any fault aborts.
#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>
#include <trel/trel.h>

#include "values.h"

namespace {

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "engine_fuzz: %s\n", what);
    std::abort();
}

void expect(bool ok, const char *what) {
    if (!ok) {
        fail(what);
    }
}

// A block lent to an engine, with guard bytes before and after it. The guards
// start out in a fixed pattern and must keep it; so must the inside when
// `untouchable` is set (the block of a refused engine).
class guardedblock {
  public:
    static constexpr std::size_t guardbytes = 64;

    TREL_FUZZ_UNTRACED guardedblock(std::size_t bytes, bool untouchable)
        : words_((2 * guardbytes + bytes + 7) / 8),
          storage_(std::make_unique<std::uint64_t[]>(words_)), bytes_(bytes),
          untouchable_(untouchable) {
        visit([](unsigned char &b, unsigned char p) {
            b = p;
            return true;
        });
    }

    void *inside() { return rawbytes() + guardbytes; }

    TREL_FUZZ_UNTRACED bool intact() {
        return visit([](unsigned char &b, unsigned char p) { return b == p; });
    }

  private:
    // Calls f(byte, pattern) on every byte that must keep the pattern, until f
    // returns false. Left out of coverage: only the library's branches count.
    template <class F> TREL_FUZZ_UNTRACED bool visit(F f) {
        unsigned char *raw = rawbytes();
        const std::size_t total = words_ * 8;
        for (std::size_t i = 0; i < total; ++i) {
            if (!f(raw[i], static_cast<unsigned char>(0xA5U ^ (i * 29U)))) {
                return false;
            }
            if (i + 1 == guardbytes && !untouchable_) {
                i += bytes_;
            }
        }
        return true;
    }

    unsigned char *rawbytes() { return reinterpret_cast<unsigned char *>(storage_.get()); }

    std::size_t words_;
    std::unique_ptr<std::uint64_t[]> storage_;
    std::size_t bytes_;
    bool untouchable_;
};

constexpr int maxblocks = 12;
constexpr int maxops = 160;
constexpr int slotcount = 3;
constexpr int maxpoints = 8;

// What construction promises: the stride, or 0 for a refused size.
struct picturesize {
    bool accepted;
    std::int64_t stride;
    std::int64_t rows;
};

picturesize expectedsize(int width, int height) {
    if (width < 0 || height < 0) {
        return {false, 0, 0};
    }
    const std::int64_t stride = (static_cast<std::int64_t>(width) + 3) & ~std::int64_t{3};
    if (std::max<std::int64_t>(stride, height) > 4096) {
        return {false, 0, 0};
    }
    return {true, stride, height};
}

// A picture size: mostly small, sometimes a few hundred, sometimes long and
// thin up to the largest accepted stride, sometimes refused. Accepted pictures
// are kept under a million pixels so that every run stays quick.
void decodesize(FuzzedDataProvider &in, int &width, int &height) {
    static constexpr int oddsizes[] = {-1,   -4,   -4096, std::numeric_limits<int>::min(),
                                       4097, 4100, 8192,  std::numeric_limits<int>::max(),
                                       4093, 4094, 4095,  4096};
    switch (in.ConsumeIntegralInRange<int>(0, 15)) {
    case 0:
        width = in.ConsumeIntegralInRange<int>(0, 256);
        height = in.ConsumeIntegralInRange<int>(0, 256);
        break;
    case 1:
    case 2:
    case 3:
        width = oddsizes[in.ConsumeIntegralInRange<std::size_t>(0, std::size(oddsizes) - 1)];
        height = in.ConsumeIntegralInRange<int>(0, 6);
        break;
    case 4:
    case 5:
        width = in.ConsumeIntegralInRange<int>(0, 6);
        height = oddsizes[in.ConsumeIntegralInRange<std::size_t>(0, std::size(oddsizes) - 1)];
        break;
    case 6:
        width = in.ConsumeIntegral<int>();
        height = in.ConsumeIntegral<int>();
        break;
    default:
        width = in.ConsumeIntegralInRange<int>(0, 40);
        height = in.ConsumeIntegralInRange<int>(0, 40);
        break;
    }
    const picturesize size = expectedsize(width, height);
    if (size.accepted && size.stride * size.rows > (1 << 20)) {
        height %= 8;
    }
}

// An engine held by value the way a host holds it. Final, so that destroying
// it needs no virtual destructor.
template <class E> struct held final : E { using E::E; };

// The slots of one engine class.
template <class E> struct family { std::optional<held<E>> slot[slotcount]; };

struct fuzzer {
    FuzzedDataProvider in;
    std::vector<std::unique_ptr<guardedblock>> blocks;
    family<trel::engine2d> flat;
    family<trel::engine2dxy> plain;
    family<trel::engine3d> deep;

    fuzzer(const std::uint8_t *data, std::size_t size) : in(data, size) {}

    ~fuzzer() {
        // Engines go first, in an order the input chooses, then their blocks.
        const bool reverse = !blocks.empty() && blocks.size() % 2 == 0;
        for (int i = 0; i < slotcount; ++i) {
            const int k = reverse ? slotcount - 1 - i : i;
            deep.slot[k].reset();
            flat.slot[k].reset();
            plain.slot[k].reset();
        }
        checkblocks();
    }

    TREL_FUZZ_UNTRACED void checkblocks() {
        for (const auto &block : blocks) {
            expect(block->intact(), "a write outside a borrowed block (or into a refused one)");
        }
    }

    // The picture being drawn into, as far as coordinates care.
    int reach = 0;
    int edges[2] = {};

    quim::point point() { return decodepoint(in, reach, edges); }

    template <class E> void construct(family<E> &f, int bytesperpixel) {
        const int k = in.ConsumeIntegralInRange<int>(0, slotcount - 1);
        int width = 0;
        int height = 0;
        decodesize(in, width, height);
        const picturesize want = expectedsize(width, height);
        void *buffer = nullptr;
        if (in.ConsumeBool() && static_cast<int>(blocks.size()) < maxblocks) {
            const std::size_t bytes =
                want.accepted ? static_cast<std::size_t>(want.stride * want.rows * bytesperpixel)
                              : 64;
            blocks.push_back(std::make_unique<guardedblock>(bytes, !want.accepted));
            buffer = blocks.back()->inside();
        }
        f.slot[k].emplace(width, height, buffer);
        E &e = *f.slot[k];
        expect(e.width() == want.stride && e.height() == want.rows, "wrong picture size");
        expect(e.depth() == (bytesperpixel == 6), "wrong depth flag");
        expect(!want.accepted || want.stride * want.rows == 0 || e.pixels != nullptr,
               "an accepted picture without pixels");
        if (want.accepted && buffer != nullptr) {
            expect(e.pixels == buffer, "a borrowed block not drawn into");
        }
    }

    template <class E> void copy(family<E> &f) {
        const int to = in.ConsumeIntegralInRange<int>(0, slotcount - 1);
        const int from = in.ConsumeIntegralInRange<int>(0, slotcount - 1);
        if (!f.slot[from]) {
            return;
        }
        if (to == from) {
            // Assignment to itself.
            E &e = *f.slot[to];
            e = *f.slot[from];
            return;
        }
        if (f.slot[to] && in.ConsumeBool()) {
            *f.slot[to] = *f.slot[from];
        } else {
            f.slot[to].emplace(*f.slot[from]);
        }
        E &a = *f.slot[to];
        E &b = *f.slot[from];
        expect(a.pixels == b.pixels && a.width() == b.width() && a.height() == b.height(),
               "a copy that does not share the picture");
    }

    // Dots at exact integer positions land on the pixel the origin gives them.
    template <class E> void checkdot(E &e, const quim::point &p, double v, unsigned long colour) {
        if (!(std::fabs(p.x) < 1e6 && std::fabs(v) < 1e6)) {
            return;
        }
        const std::int64_t column = E::orgx + static_cast<std::int64_t>(p.x);
        const std::int64_t row = E::orgy - static_cast<std::int64_t>(v);
        if (column < 0 || row < 0 || column >= e.xsize || row >= e.ysize) {
            return;
        }
        expect(e.pixels[row * e.xsize + column] == static_cast<std::uint32_t>(colour),
               "a dot not on its pixel");
    }

    template <class E> TREL_FUZZ_UNTRACED void checkclear(E &e, unsigned long colour) {
        const auto word = static_cast<std::uint32_t>(colour);
        for (int i = 0; i < e.npixels; ++i) {
            expect(e.pixels[i] == word, "clear left a pixel");
        }
        if constexpr (requires { e.zbuf; }) {
            for (int i = 0; i < e.npixels; ++i) {
                expect(e.zbuf[i] == -32000, "clear left a depth");
            }
        }
    }

    // Both planes of an engine, to tell whether a call drew anything.
    struct planes {
        std::vector<std::uint32_t> pixels;
        std::vector<std::int16_t> depths;
        bool operator==(const planes &) const = default;
    };

    static std::uint32_t colourword(unsigned long colour) {
        return static_cast<std::uint32_t>(colour);
    }

    // The word a line writes: the caller's colour, or on the depth engine the
    // colour with channels 0 and 2 exchanged and the fourth byte dropped.
    template <class E> static std::uint32_t lineword(unsigned long colour) {
        const std::uint32_t c = colourword(colour);
        if constexpr (std::is_same_v<E, trel::engine3d>) {
            return ((c >> 16) & 0xFFU) | (c & 0xFF00U) | ((c & 0xFFU) << 16);
        }
        return c;
    }

    // Every pixel that differs between `before` and `after` now holds `word`,
    // and no more than `most` of them differ. With `keepdepths` no depth may
    // change at all.
    static TREL_FUZZ_UNTRACED bool changedonly(const planes &before, const planes &after,
                                               std::uint32_t word, int most,
                                               bool keepdepths = false) {
        int changed = 0;
        for (std::size_t i = 0; i < before.pixels.size(); ++i) {
            if (before.pixels[i] != after.pixels[i] &&
                (after.pixels[i] != word || ++changed > most)) {
                return false;
            }
        }
        return !keepdepths || before.depths == after.depths;
    }

    template <class E> planes snapshot(E &e) {
        planes p;
        p.pixels.assign(e.pixels, e.pixels + e.npixels);
        if constexpr (requires { e.zbuf; }) {
            p.depths.assign(e.zbuf, e.zbuf + e.npixels);
        }
        return p;
    }

    template <class E> void draw(family<E> &f, int op) {
        const int k = in.ConsumeIntegralInRange<int>(0, slotcount - 1);
        if (!f.slot[k]) {
            return;
        }
        E &e = *f.slot[k];
        trel::engine &base = e; // hosts call through the interface
        reach = std::max(e.xsize, e.ysize) / 2 + 2;
        edges[0] = e.xsize / 2;
        edges[1] = e.ysize / 2;
        const unsigned long colour = in.ConsumeIntegral<unsigned long>();
        switch (op) {
        case 0:
            base.clear(colour);
            checkclear(e, colour);
            break;
        case 1: {
            const quim::point p = point();
            const planes before = snapshot(e);
            base.dot(p, colour);
            checkdot(e, p, std::is_same_v<E, trel::engine2dxy> ? p.y : p.z, colour);
            // A dot writes one pixel at most, and never a depth.
            expect(changedonly(before, snapshot(e), colourword(colour), 1, true),
                   "a dot wrote more than its pixel");
            break;
        }
        case 2: {
            const quim::point a = point();
            const quim::point b = in.ConsumeBool() ? a : point();
            const planes before = snapshot(e);
            base.line(a, b, colour);
            expect(changedonly(before, snapshot(e), lineword<E>(colour), e.npixels),
                   "a line wrote another colour");
            break;
        }
        case 3: {
            quim::point pts[maxpoints];
            const int n = in.ConsumeIntegralInRange<int>(-2, maxpoints);
            for (int i = 0; i < std::min(n, maxpoints); ++i) {
                pts[i] = point();
            }
            const planes before = snapshot(e);
            if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
                base.line(nullptr, std::max(n, 0) % 3, colour);
            } else {
                base.line(pts, n, colour);
            }
            expect(changedonly(before, snapshot(e), lineword<E>(colour), e.npixels),
                   "a polyline wrote another colour");
            break;
        }
        case 4: {
            const quim::point a = point();
            const quim::point b = in.ConsumeBool() ? a : point();
            const quim::point c = point();
            const planes before = snapshot(e);
            base.tri(a, b, c, colour);
            // The X-Y engine fills with the caller's colour as it is.
            if constexpr (std::is_same_v<E, trel::engine2dxy>) {
                expect(changedonly(before, snapshot(e), colourword(colour), e.npixels),
                       "a triangle wrote another colour");
            }
            break;
        }
        default: {
            // The reserved calls draw nothing.
            const planes before = snapshot(e);
            quim::point pts[maxpoints];
            const int n = in.ConsumeIntegralInRange<int>(-1, maxpoints);
            for (int i = 0; i < std::min(n, maxpoints); ++i) {
                pts[i] = point();
            }
            const quim::point *list = in.ConsumeBool() ? pts : nullptr;
            const quim::point a = point();
            const quim::point b = point();
            base.begin();
            base.tri(a, b, list, n, colour);
            base.tri(a, list, n, colour);
            base.text(a, in.ConsumeBool() ? "trel" : nullptr, colour);
            base.end();
            expect(snapshot(e) == before, "a reserved call drew");
            break;
        }
        }
    }

    template <class E> void step(family<E> &f, int bytesperpixel) {
        const int op = in.ConsumeIntegralInRange<int>(0, 12);
        switch (op) {
        case 0:
            construct(f, bytesperpixel);
            break;
        case 1:
            copy(f);
            break;
        case 2:
            f.slot[in.ConsumeIntegralInRange<int>(0, slotcount - 1)].reset();
            break;
        default: {
            // Drawing is the common case: lines and triangles most of all.
            static constexpr int drawing[] = {0, 1, 5, 2, 2, 2, 3, 4, 4, 4};
            draw(f, drawing[op - 3]);
            break;
        }
        }
    }

    void run() {
        for (int ops = 0; ops < maxops && in.remaining_bytes() > 0; ++ops) {
            switch (in.ConsumeIntegralInRange<int>(0, 2)) {
            case 0:
                step(flat, 4);
                break;
            case 1:
                step(plain, 4);
                break;
            default:
                step(deep, 6);
                break;
            }
            checkblocks();
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    {
        fuzzer f(data, size);
        f.run();
    }
    return 0;
}
