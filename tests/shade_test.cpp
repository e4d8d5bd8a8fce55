// The shade of a triangle: colour words, and the intensity's table path
// against the geometry library's angle.
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>

#include <gtest/gtest.h>
#include <quim/quim.h>

#include "raster/shade.h"

namespace {

TEST(Shading, ColourWords) {
    EXPECT_EQ(trel::detail::shadeword(0x00FF8040U, 120, false), 0x00AA552AU);
    EXPECT_EQ(trel::detail::shadeword(0x00FF8040U, 120, true), 0x002A55AAU);
    EXPECT_EQ(trel::detail::shadeword(0xFF123456U, 180, false), 0x00123456U);
    EXPECT_EQ(trel::detail::shadeword(0x000000FFU, 180, true), 0x00FF0000U);
    EXPECT_EQ(trel::detail::shadeword(0x000000FFU, 90, true), 0x007F0000U);
    EXPECT_EQ(trel::detail::shadeword(0x00FFFFFFU, 0, false), 0U);
}

TEST(Shading, IntensityFromThePlane) {
    // A plane of constant y lies at 54.7356 or 125.2644 degrees to the light.
    const quim::point a{0.0, 5.0, 0.0};
    const quim::point b{10.0, 5.0, 0.0};
    const quim::point c{0.0, 5.0, 10.0};
    EXPECT_EQ(trel::detail::intensity(a, b, c), 55);
    EXPECT_EQ(trel::detail::intensity(a, c, b), 126);
    // Facing the light keeps the colour, facing away turns it black.
    // (1, -1, 0) x (0, 1, 1) = (-1, -1, 1): straight away from the light.
    EXPECT_EQ(trel::detail::intensity({0, 0, 0}, {1, -1, 0}, {0, 1, 1}), 0);
    EXPECT_EQ(trel::detail::intensity({0, 0, 0}, {0, 1, 1}, {1, -1, 0}), 180);
    // Collinear points have no plane: full intensity.
    EXPECT_EQ(trel::detail::intensity({0, 0, 0}, {1, 1, 1}, {2, 2, 2}), 180);
    EXPECT_EQ(trel::detail::intensity({3, 3, 3}, {3, 3, 3}, {3, 3, 3}), 180);
}

// A triangle at the origin whose normal (b x c) is close to `n`.
struct face {
    quim::point a, b, c;
};

face facewithnormal(double nx, double ny, double nz) {
    const double len = std::sqrt(nx * nx + ny * ny + nz * nz);
    nx /= len;
    ny /= len;
    nz /= len;
    // u: any unit vector across n; w = n x u completes the frame, u x w = n.
    double ux = 0.0, uy = -nz, uz = ny;
    if (std::fabs(nx) > 0.5) {
        ux = -ny;
        uy = nx;
        uz = 0.0;
    }
    const double ul = std::sqrt(ux * ux + uy * uy + uz * uz);
    ux /= ul;
    uy /= ul;
    uz /= ul;
    const double wx = ny * uz - nz * uy;
    const double wy = nz * ux - nx * uz;
    const double wz = nx * uy - ny * ux;
    return {{0.0, 0.0, 0.0}, {ux, uy, uz}, {wx, wy, wz}};
}

TEST(Shading, TablePathAgreesWithTheAngle) {
    // Normals at whole degrees from the light and a hair either side of
    // them, where truncating the angle flips between levels, in several
    // directions about the light and at several scales.
    const double s3 = 1.0 / std::sqrt(3.0);
    const double lx = s3, ly = s3, lz = -s3;
    // Two unit vectors across the light.
    const double px = 1.0 / std::sqrt(2.0), py = -1.0 / std::sqrt(2.0), pz = 0.0;
    const double qx = ly * pz - lz * py, qy = lz * px - lx * pz, qz = lx * py - ly * px;
    const double offsets[] = {0.0, 1e-15, -1e-15, 1e-12, -1e-12, 1e-9, -1e-9, 3e-7, -3e-7, 0.3};
    const double scales[] = {1.0, 1e-30, 1e6, 1e150};
    int seen[181] = {};
    for (int k = 0; k <= 180; ++k) {
        for (const double off : offsets) {
            const double angle = (k + off) * std::numbers::pi / 180.0;
            for (int turn = 0; turn < 4; ++turn) {
                const double phi = turn * 1.7;
                const double dx = std::cos(phi) * px + std::sin(phi) * qx;
                const double dy = std::cos(phi) * py + std::sin(phi) * qy;
                const double dz = std::cos(phi) * pz + std::sin(phi) * qz;
                face f = facewithnormal(std::cos(angle) * lx + std::sin(angle) * dx,
                                        std::cos(angle) * ly + std::sin(angle) * dy,
                                        std::cos(angle) * lz + std::sin(angle) * dz);
                for (const double scale : scales) {
                    const quim::point b{f.b.x * scale, f.b.y * scale, f.b.z * scale};
                    const quim::point c{f.c.x * scale, f.c.y * scale, f.c.z * scale};
                    const int fast = trel::detail::intensity(f.a, b, c);
                    ASSERT_EQ(fast, trel::detail::intensityexact(f.a, b, c))
                        << "k " << k << " offset " << off << " turn " << turn << " scale " << scale;
                    ASSERT_GE(fast, 0);
                    ASSERT_LE(fast, 180);
                    ++seen[fast];
                }
            }
        }
    }
    // Every level is reached, so the search covers the whole table.
    for (int level = 0; level <= 180; ++level) {
        EXPECT_GT(seen[level], 0) << "level " << level;
    }

    // Arbitrary triangles, far from the origin and degenerate ones included.
    std::mt19937_64 rng(12345);
    std::uniform_real_distribution<double> coord(-1000.0, 1000.0);
    for (int i = 0; i < 200000; ++i) {
        const double shift = (i % 3 == 0) ? 1e7 : 0.0;
        const quim::point a{coord(rng) + shift, coord(rng), coord(rng)};
        const quim::point b{coord(rng) + shift, coord(rng), coord(rng)};
        const quim::point c =
            (i % 97 == 0) ? b : quim::point{coord(rng) + shift, coord(rng), coord(rng)};
        ASSERT_EQ(trel::detail::intensity(a, b, c), trel::detail::intensityexact(a, b, c)) << i;
    }
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(trel::detail::intensity({0, 0, 0}, {inf, 0, 0}, {0, 0, 1}), 180);
    EXPECT_EQ(trel::detail::intensity({0, 0, 0}, {1e200, 0, 0}, {0, 0, 1e200}),
              trel::detail::intensityexact({0, 0, 0}, {1e200, 0, 0}, {0, 0, 1e200}));
    EXPECT_EQ(trel::detail::intensity({0, 0, 0}, {1e-160, 0, 0}, {0, 0, 1e-160}),
              trel::detail::intensityexact({0, 0, 0}, {1e-160, 0, 0}, {0, 0, 1e-160}));
}

} // namespace
