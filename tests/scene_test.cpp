// One fixed scene drawn by each engine, its pictures reduced to FNV-1a hashes
// and compared with pinned values. The same values hold for every build: the
// 64-bit Linux build and the 32-bit Windows build (under wine) must produce
// the same pixel words and depths, bit for bit.
//
// Beside each hash the picture is kept as a PNG in tests/golden/ (see
// golden.h). When a picture differs, the test writes actual.png, expected.png
// and diff.png (changed pixels in magenta) under
// <build>/tests/golden-failures/<scene>/ and prints their paths.
//
// When the look of a primitive changes on purpose, regenerate both: build and
// run this program on Linux with TREL_RECORD=1,
//   cmake --build build/default --target trel_scene_tests &&
//   TREL_RECORD=1 build/default/bin/trel_scene_tests
// which rewrites the golden pictures (review them as pictures), and copy the
// computed hashes (the first "Which is" value of each failing expectation)
// into `pinned` below. Then run scripts/test-windows to confirm that the
// Windows build draws the same pictures (it checks the hashes only).
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>
#include <trel/trel.h>

#if defined(TREL_GOLDEN)
#include "golden.h"
#endif

namespace {

static_assert(sizeof(unsigned long) >= 4, "colours need 32 bits");

// The scene's picture: a width that is not a multiple of 4, so the stride
// has padding columns, which are hashed too (they must hold the clear colour).
constexpr int width = 150;
constexpr int height = 101;

// A colour argument with every bit above the low 32 set where unsigned long
// is wider (64-bit Linux); the engines must ignore them, so both builds see
// the same colour words. Where unsigned long has 32 bits the mask is 0.
unsigned long colour(std::uint32_t word) {
    return static_cast<unsigned long>(word) | (ULONG_MAX & ~0xFFFFFFFFUL);
}

constexpr std::uint32_t background = 0xFF203040U;

// 64-bit FNV-1a over bytes, fed in a fixed (little-endian) order whatever the
// host's byte order.
class fnv1a {
  public:
    void byte(std::uint8_t b) {
        hash_ ^= b;
        hash_ *= 0x100000001B3ULL;
    }
    void word32(std::uint32_t w) {
        for (int i = 0; i < 4; ++i) {
            byte(static_cast<std::uint8_t>(w >> (8 * i)));
        }
    }
    void word16(std::int16_t w) {
        const auto u = static_cast<std::uint16_t>(w);
        byte(static_cast<std::uint8_t>(u));
        byte(static_cast<std::uint8_t>(u >> 8));
    }
    std::uint64_t value() const { return hash_; }

  private:
    std::uint64_t hash_ = 0xCBF29CE484222325ULL;
};

std::string hex(std::uint64_t v) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%016llX", static_cast<unsigned long long>(v));
    return text;
}

// Scene positions are (h, v, d): h to the right, v up, d the depth (world y
// for the X-Z engines, nearer when smaller; world z for the X-Y engine). The
// origin is near the middle of the picture, so h runs about -75..74 and v
// about -50..50 on it.
struct place {
    double h;
    double v;
    double d;
};

quim::point at(const place &p, bool xy) {
    return xy ? quim::point{p.h, p.v, p.d} : quim::point{p.h, p.d, p.v};
}

// Draws the scene through the interface hosts use.
void drawscene(trel::engine &e, bool xy) {
    const auto pt = [xy](double h, double v, double d) { return at({h, v, d}, xy); };
    e.clear(colour(background));
    e.begin();

    // Triangles over each corner of the picture, reaching well outside it.
    e.tri(pt(-120, 80, 30), pt(-20, 90, 10), pt(-95, -5, 50), colour(0xFFC03020U));
    e.tri(pt(40, 70, 20), pt(140, 65, 40), pt(90, 20, 0), colour(0xFF20C030U));
    e.tri(pt(-110, -90, 0), pt(-40, -70, 60), pt(-90, -20, 20), colour(0xFF3020C0U));
    e.tri(pt(100, -100, 10), pt(95, -10, 30), pt(30, -60, 70), colour(0xFFC0C020U));
    // Corners given clockwise and counter-clockwise: both must draw.
    e.tri(pt(-40, -10, 15), pt(-10, 35, 5), pt(5, -30, 25), colour(0xFF80FF80U));
    e.tri(pt(10, 30, 5), pt(15, -25, 25), pt(45, 5, 45), colour(0xFF8080FFU));
    // Flat top and flat bottom, a thin sliver and fractional corners.
    e.tri(pt(-60, 20, 40), pt(-30, 20, 40), pt(-45, -15, 10), colour(0xFFFF8000U));
    e.tri(pt(20, -40, 8), pt(60, -40, 12), pt(40, -5, 30), colour(0xFF00FFFFU));
    e.tri(pt(-70, -45, 5), pt(70, -43, 35), pt(-69, -44, 65), colour(0xFFFFFFFFU));
    e.tri(pt(12.75, 44.5, 3.25), pt(33.5, 12.25, 17.75), pt(-7.5, 8.875, 9.5), colour(0xFFA0A0A0U));
    // Two triangles crossing in depth, and one wholly outside the picture.
    e.tri(pt(-20, 10, 0), pt(20, 10, 40), pt(0, -20, 20), colour(0xFFFF00FFU));
    e.tri(pt(-20, -10, 40), pt(20, -10, 0), pt(0, 25, 20), colour(0xFF00FF00U));
    e.tri(pt(200, 200, 0), pt(260, 210, 0), pt(230, 290, 0), colour(0xFFFFFFFFU));

    // The reserved operations: triangles over point lists and text draw
    // nothing, and the hashes hold them to it.
    const quim::point fan[] = {pt(-50, 40, 20), pt(-35, 48, 25), pt(-28, 35, 30), pt(-40, 25, 35)};
    e.tri(pt(-42, 38, 10), fan, 4, colour(0xFF406080U));
    const quim::point strip[] = {pt(60, -20, 20), pt(80, 0, 30), pt(70, 30, 40)};
    e.tri(pt(50, -30, 10), pt(65, -35, 15), strip, 3, colour(0xFF806040U));
    e.text(pt(-20, 0, 0), "trel", colour(0xFFFFFFFFU));

    // Lines: level, upright, both diagonals, steep and shallow, across the
    // borders, fractional, and one wholly outside.
    e.line(pt(-75, 0, 5), pt(74, 0, 5), colour(0xFF102030U));
    e.line(pt(0, -50, 5), pt(0, 50, 5), colour(0xFF302010U));
    e.line(pt(-90, -70, 1), pt(90, 70, 60), colour(0xFFE0E0E0U));
    e.line(pt(-90, 70, 60), pt(90, -70, 1), colour(0xFF0E0E0EU));
    e.line(pt(30, -60, 2), pt(37, 60, 2), colour(0xFF123456U));
    e.line(pt(-80, 33.7, 3), pt(80, 29.2, 3), colour(0xFF654321U));
    e.line(pt(-12.6, -3.3, 4), pt(17.9, 21.4, 44), colour(0xFFABCDEFU));
    e.line(pt(100, 100, 0), pt(300, 120, 0), colour(0xFFFEDCBAU));

    // A polyline that leaves the picture and comes back.
    const quim::point zigzag[] = {pt(-70, -30, 2),   pt(-50, 10, 8),  pt(-30, -60, 14),
                                  pt(-10, 15, 20),   pt(10, -25, 26), pt(100, 5, 32),
                                  pt(55.5, 47.5, 38)};
    e.line(zigzag, 7, colour(0xFF77AA33U));

    // Dots inside, on the edges, truncated toward zero, and outside.
    e.dot(pt(0, 0, 0), colour(0xFFFFFF00U));
    e.dot(pt(-0.9, 0.9, 0), colour(0xFF00FF7FU));
    e.dot(pt(-75, 50, 0), colour(0xFF7F00FFU));
    e.dot(pt(74, -50, 0), colour(0xFFFF7F00U));
    e.dot(pt(-75.5, 0, 0), colour(0xFFFFFFFFU));
    e.dot(pt(33.3, -17.7, 0), colour(0xFF0000FFU));
    e.dot(pt(1000, 1000, 0), colour(0xFFFFFFFFU));

    e.end();
}

struct picture {
    std::uint64_t pixels = 0;
    std::uint64_t depths = 0;
    int drawn = 0;       // pixels that no longer hold the clear colour
    int colourwords = 0; // distinct pixel words
    int stride = 0;
    std::vector<std::uint32_t> words;     // the colour plane, stride words per row
    std::vector<std::int16_t> depthplane; // engine3d only
};

template <class E> picture render() {
    E e(width, height, nullptr);
    const bool xy = std::is_same_v<E, trel::engine2dxy>;
    drawscene(e, xy);
    picture out;
    fnv1a pixels;
    std::set<std::uint32_t> words;
    for (int i = 0; i < e.xsize * e.ysize; ++i) {
        pixels.word32(e.pixels[i]);
        words.insert(e.pixels[i]);
        out.drawn += e.pixels[i] != background ? 1 : 0;
    }
    out.pixels = pixels.value();
    out.stride = e.xsize;
    out.words.assign(e.pixels, e.pixels + e.xsize * e.ysize);
    out.colourwords = static_cast<int>(words.size());
    if constexpr (std::is_same_v<E, trel::engine3d>) {
        fnv1a depths;
        for (int i = 0; i < e.xsize * e.ysize; ++i) {
            depths.word16(e.zbuf[i]);
        }
        out.depths = depths.value();
        out.depthplane.assign(e.zbuf, e.zbuf + e.xsize * e.ysize);
    }
    return out;
}

// The pinned hashes. See the top of this file for how they are regenerated.
struct pinned {
    static constexpr std::uint64_t engine2d = 0xF90571FAAE60C27EULL;
    static constexpr std::uint64_t engine2dxy = 0x250DF24A4BA67786ULL;
    static constexpr std::uint64_t engine3d = 0x7540C10F08E99805ULL;
    static constexpr std::uint64_t engine3ddepth = 0x643F83B2D6BCB08BULL;
    static constexpr std::uint64_t wholedegrees = 0x9D924060285E9D58ULL;
};

// A scene that drew little would make the hashes prove little.
void expectbusy(const picture &p) {
    EXPECT_GT(p.drawn, width * height / 3);
    EXPECT_GT(p.colourwords, 20);
}

// The colour plane and the depth plane against the golden pictures; a
// mismatch of the picture or of its pinned hash leaves the three pictures in
// the build tree. Where the tests cannot read PNG files (the Windows builds)
// the hashes alone hold the pictures.
enum class plane { colour, depth };

void expectgolden(const char *name, const picture &p, plane which, bool pinnedmatch) {
#if defined(TREL_GOLDEN)
    const trel::test::goldenpicture drawn =
        which == plane::colour ? trel::test::colourpicture(p.words.data(), p.stride, height)
                               : trel::test::depthpicture(p.depthplane.data(), p.stride, height);
    const std::string message = trel::test::comparegolden(name, drawn, pinnedmatch);
    EXPECT_TRUE(message.empty()) << message;
#else
    (void)name;
    (void)p;
    (void)which;
    (void)pinnedmatch;
#endif
}

TEST(Scene, Engine2d) {
    const picture p = render<trel::engine2d>();
    expectbusy(p);
    EXPECT_EQ(hex(p.pixels), hex(pinned::engine2d));
    expectgolden("engine2d", p, plane::colour, p.pixels == pinned::engine2d);
}

TEST(Scene, Engine2dxy) {
    const picture p = render<trel::engine2dxy>();
    expectbusy(p);
    EXPECT_EQ(hex(p.pixels), hex(pinned::engine2dxy));
    expectgolden("engine2dxy", p, plane::colour, p.pixels == pinned::engine2dxy);
}

TEST(Scene, Engine3d) {
    const picture p = render<trel::engine3d>();
    expectbusy(p);
    EXPECT_EQ(hex(p.pixels), hex(pinned::engine3d));
    EXPECT_EQ(hex(p.depths), hex(pinned::engine3ddepth));
    expectgolden("engine3d", p, plane::colour, p.pixels == pinned::engine3d);
    expectgolden("engine3d-depth", p, plane::depth, p.depths == pinned::engine3ddepth);
}

// Drawing the scene twice into fresh engines gives the same picture: nothing
// left over in the class state changes what is drawn.
TEST(Scene, Repeatable) {
    EXPECT_EQ(render<trel::engine2d>().pixels, render<trel::engine2d>().pixels);
    EXPECT_EQ(render<trel::engine2dxy>().pixels, render<trel::engine2dxy>().pixels);
    const picture first = render<trel::engine3d>();
    const picture second = render<trel::engine3d>();
    EXPECT_EQ(first.pixels, second.pixels);
    EXPECT_EQ(first.depths, second.depths);
}

// Faces turned to the light by whole degrees, a hair either side of them and
// a quarter degree either side, where truncating the angle decides between
// two intensities: the arc cosine must give the same bits on every platform
// for the picture to match. The faces are built with + - * / and sqrt only
// (the test's own series for the sine and cosine), so every build draws the
// same triangles.
double seriescos(double a) {
    double term = 1.0, sum = 1.0;
    for (int n = 1; n <= 30; ++n) {
        term = -term * a * a / ((2 * n - 1) * (2 * n));
        sum += term;
    }
    return sum;
}

double seriessin(double a) {
    double term = a, sum = a;
    for (int n = 1; n <= 30; ++n) {
        term = -term * a * a / ((2 * n) * (2 * n + 1));
        sum += term;
    }
    return sum;
}

struct normal {
    double x, y, z;
};

// A triangle over a 6 x 6 pixel cell whose plane has the normal n (n.y not
// near 0, so that it covers pixels in the X-Z picture), corners ordered so
// that the plane's normal points along n.
void drawface(trel::engine2d &e, int column, int row, const normal &n) {
    const double x0 = column * 6 - trel::engine2d::orgx;
    const double z0 = trel::engine2d::orgy - (row * 6 + 5);
    const double s = 5.0;
    const quim::point a{x0, 0.0, z0};
    const quim::point b{x0 + s, -n.x * s / n.y, z0};
    const quim::point c{x0, -n.z * s / n.y, z0 + s};
    // (b - a) x (c - a) = -(s^2 / n.y) n.
    if (n.y < 0.0) {
        e.tri(a, b, c, colour(0x00B4B4B4U));
    } else {
        e.tri(a, c, b, colour(0x00B4B4B4U));
    }
}

TEST(Scene, ShadesAtWholeDegrees) {
    constexpr int columns = 64;
    constexpr int rows = 42;
    trel::engine2d e(columns * 6, rows * 6, nullptr);
    e.clear(colour(0));
    // The light, and two directions across it: p leans toward +y, q is p
    // turned 30 degrees about the light.
    const double r3 = std::sqrt(3.0), r6 = std::sqrt(6.0), r2 = std::sqrt(2.0);
    const normal l{1.0 / r3, 1.0 / r3, -1.0 / r3};
    const normal p{-1.0 / r6, 2.0 / r6, 1.0 / r6};
    const normal q0{1.0 / r2, 0.0, 1.0 / r2};
    const normal q{(r3 / 2) * p.x + 0.5 * q0.x, (r3 / 2) * p.y + 0.5 * q0.y,
                   (r3 / 2) * p.z + 0.5 * q0.z};
    const double pi = 0x1.921fb54442d18p+1;
    const double offsets[] = {0.0, 1e-13, -1e-13, 1e-10, -1e-10, 0.25, -0.25};
    struct drawn {
        int column, row;
        double degrees;
    };
    std::vector<drawn> faces;
    int cell = 0;
    for (int k = 0; k <= 180; ++k) {
        for (const double offset : offsets) {
            const double degrees = k + offset;
            if (degrees < 0.0 || degrees > 180.0) {
                continue;
            }
            for (const normal &d : {p, q}) {
                // Beyond 90 degrees the direction across the light is
                // reversed, which keeps the normal's y away from 0.
                const double sign = degrees <= 90.0 ? 1.0 : -1.0;
                const double a = degrees * pi / 180.0;
                const double cs = seriescos(a), sn = sign * seriessin(a);
                const normal n{cs * l.x + sn * d.x, cs * l.y + sn * d.y, cs * l.z + sn * d.z};
                const int column = cell % columns, row = cell / columns;
                drawface(e, column, row, n);
                faces.push_back({column, row, degrees});
                ++cell;
            }
        }
    }
    // Exactly along the light, across it and against it.
    const normal exact[] = {{1.0, 1.0, -1.0}, {1.0, -1.0, 0.0}, {-1.0, -1.0, 1.0}};
    for (const normal &n : exact) {
        drawface(e, cell % columns, cell / columns, n);
        ++cell;
    }
    ASSERT_LE(cell, columns * rows);

    // The intensity of a face is each channel of its colour: 180 * I / 180.
    const auto intensity = [&e](int column, int row) {
        return static_cast<int>(e.pixels[(row * 6 + 4) * e.xsize + column * 6 + 1] & 0xFFU);
    };
    std::set<int> levels;
    for (const drawn &f : faces) {
        const int level = intensity(f.column, f.row);
        levels.insert(level);
        // Truncating the angle gives 180 - floor(angle), or one more where
        // the angle falls just short of a whole degree.
        const double whole = static_cast<int>(f.degrees + 0.5);
        if (f.degrees == whole + 0.25) {
            EXPECT_EQ(level, 180 - static_cast<int>(whole)) << f.degrees;
        } else if (f.degrees == whole - 0.25) {
            EXPECT_EQ(level, 181 - static_cast<int>(whole)) << f.degrees;
        } else {
            EXPECT_GE(level, 180 - static_cast<int>(whole)) << f.degrees;
            EXPECT_LE(level, 181 - static_cast<int>(whole)) << f.degrees;
        }
    }
    EXPECT_EQ(levels.size(), 181U);
    const int last = cell - 3;
    EXPECT_EQ(intensity(last % columns, last / columns), 180);
    EXPECT_EQ(intensity((last + 1) % columns, (last + 1) / columns), 90);
    EXPECT_LE(intensity((last + 2) % columns, (last + 2) / columns), 1);

    fnv1a hash;
    for (int i = 0; i < e.xsize * e.ysize; ++i) {
        hash.word32(e.pixels[i]);
    }
    EXPECT_EQ(hex(hash.value()), hex(pinned::wholedegrees));
}

} // namespace
