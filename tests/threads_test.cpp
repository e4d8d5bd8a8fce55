// Drawing from several threads at once, each thread on an engine of its own,
// after every engine has been constructed. Drawing reads the class's origin
// and reciprocal table and writes only its own engine's block, so this is
// safe; built with ThreadSanitizer (the `tsan` preset) the test shows that no
// drawing operation writes anything the threads share.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>
#include <trel/trel.h>

namespace {

constexpr int width = 96;
constexpr int height = 72;
constexpr int rounds = 20;

// A frame touching every drawing operation: clear, dots, lines, a polyline
// and triangles that cross the borders and get clipped into polygons.
void drawframe(trel::engine &e, int seed) {
    e.clear(0xFF000000UL | static_cast<unsigned long>(seed));
    e.begin();
    for (int i = 0; i < 12; ++i) {
        const double s = static_cast<double>((seed * 7 + i * 13) % 40);
        e.tri({-60.0 + s, 10.0 + i, -50.0 + s}, {55.0 - s, 20.0 - i, 40.0 - s},
              {s - 10.0, 30.0, -s}, 0x00102030UL * static_cast<unsigned long>(i + 1));
        e.line({-70.0 + s, s, -40.0}, {70.0 - s, -s, 45.0}, 0x00FFFFFFUL);
        e.dot({s - 20.0, 0.0, s - 20.0}, 0x0000FF00UL);
    }
    const quim::point zigzag[] = {{-40, 5, -30}, {-10, 0, 30}, {20, -5, -20}, {50, 10, 25}};
    e.line(zigzag, 4, 0x00FF00FFUL);
    e.end();
}

template <class E> std::vector<std::uint32_t> words(const E &e) {
    std::vector<std::uint32_t> out(e.pixels, e.pixels + static_cast<std::ptrdiff_t>(e.npixels));
    if constexpr (std::is_same_v<E, trel::engine3d>) {
        for (int i = 0; i < e.npixels; ++i) {
            out.push_back(static_cast<std::uint16_t>(e.zbuf[i]));
        }
    }
    return out;
}

// Two engines of class E per thread pair: all are built first, on this
// thread, then each thread draws its own engine over and over; afterwards
// each picture must equal the one drawn here without threads.
template <class E> void drawinthreads(int threads) {
    std::vector<std::unique_ptr<E>> engines;
    for (int t = 0; t < threads; ++t) {
        engines.push_back(std::make_unique<E>(width, height, nullptr));
    }
    E reference(width, height, nullptr);
    std::vector<std::vector<std::uint32_t>> expected;
    for (int t = 0; t < threads; ++t) {
        drawframe(reference, t);
        expected.push_back(words(reference));
    }

    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&engines, t] {
            for (int r = 0; r < rounds; ++r) {
                drawframe(*engines[static_cast<std::size_t>(t)], t);
            }
        });
    }
    for (std::thread &w : workers) {
        w.join();
    }
    for (int t = 0; t < threads; ++t) {
        EXPECT_EQ(words(*engines[static_cast<std::size_t>(t)]),
                  expected[static_cast<std::size_t>(t)])
            << "thread " << t;
    }
}

TEST(Threads, SeparateEnginesDrawAtOnce) {
    drawinthreads<trel::engine2d>(4);
    drawinthreads<trel::engine2dxy>(4);
    drawinthreads<trel::engine3d>(4);
}

// Engines of different classes share nothing: one class may even be
// constructed while engines of the other classes draw.
TEST(Threads, ClassesAreIndependent) {
    trel::engine2d flat(width, height, nullptr);
    trel::engine2d flatreference(width, height, nullptr);
    drawframe(flatreference, 3);
    std::thread drawer([&flat] {
        for (int r = 0; r < rounds; ++r) {
            drawframe(flat, 3);
        }
    });
    for (int r = 0; r < rounds; ++r) {
        trel::engine3d deep(width + 4 * r, height, nullptr);
        drawframe(deep, r);
        trel::engine2dxy plain(width, height + r, nullptr);
        drawframe(plain, r);
    }
    drawer.join();
    EXPECT_EQ(words(flat), words(flatreference));
}

} // namespace
