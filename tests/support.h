// Helpers shared by the tests: pixel blocks fenced by guard words, and world
// points for a wanted screen position.
#ifndef TREL_TESTS_SUPPORT_H
#define TREL_TESTS_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include <quim/quim.h>

namespace trel::test {

// A block of `words` 32-bit words with guard words before and after it. Any
// write outside the block changes a guard.
class guardedblock {
  public:
    static constexpr std::size_t guardwords = 64;
    static constexpr std::uint32_t guard = 0xDEADBEEFU;

    explicit guardedblock(std::size_t words)
        : store_(words + 2 * guardwords, guard), words_(words) {}

    void *data() { return store_.data() + guardwords; }
    std::uint32_t *words() { return store_.data() + guardwords; }
    std::size_t size() const { return words_; }

    bool intact() const {
        for (std::size_t i = 0; i < guardwords; ++i) {
            if (store_[i] != guard || store_[guardwords + words_ + i] != guard) {
                return false;
            }
        }
        return true;
    }

  private:
    std::vector<std::uint32_t> store_;
    std::size_t words_;
};

// Words needed for a picture: 4 bytes per pixel, 6 with a depth plane.
inline std::size_t blockwords(int stride, int height, bool depth) {
    const std::size_t pixels = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
    return depth ? (pixels * 6 + 3) / 4 : pixels;
}

// A reciprocal table as the engines fill it: entry i = 65536 / i, entry 0 = 0.
inline const int *reciprocals() {
    static const std::vector<int> table = [] {
        std::vector<int> t(4096, 0);
        for (int i = 1; i < 4096; ++i) {
            t[i] = 65536 / i;
        }
        return t;
    }();
    return table.data();
}

using pixelset = std::set<std::pair<int, int>>; // (column, row)

// Every pixel of the picture that does not hold `background`.
inline pixelset written(const std::uint32_t *pixels, int stride, int height,
                        std::uint32_t background) {
    pixelset out;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < stride; ++x) {
            if (pixels[static_cast<std::size_t>(y) * stride + x] != background) {
                out.insert({x, y});
            }
        }
    }
    return out;
}

// World points whose projection through origin (orgx, orgy) is the screen
// position (x, y): X-Z engines map z upward, the X-Y engine maps y upward. The
// remaining coordinate is the depth attribute (world y) or the z attribute.
inline quim::point xz(int orgx, int orgy, int x, int y, double a = 0.0) {
    return quim::point{static_cast<double>(x - orgx), a, static_cast<double>(orgy - y)};
}
inline quim::point xy(int orgx, int orgy, int x, int y, double z = 0.0) {
    return quim::point{static_cast<double>(x - orgx), static_cast<double>(orgy - y), z};
}

} // namespace trel::test

#endif
