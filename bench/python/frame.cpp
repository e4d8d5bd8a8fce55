// The bunny frame drawn from C++: the triangles bench/python/frame.py hands to
// trel.Engine3D.triangles, read from a file and drawn with the same calls, so
// that the two times differ only by what Python adds.
//   frame CORNERS.f64 ROUNDS   prints the median milliseconds of one frame
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include <trel/trel.h>

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: frame CORNERS.f64 ROUNDS\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<quim::point> corners(bytes.size() / sizeof(quim::point));
    std::copy(bytes.begin(),
              bytes.begin() + static_cast<std::ptrdiff_t>(corners.size() * sizeof(quim::point)),
              reinterpret_cast<char *>(corners.data()));
    const int rounds = std::max(1, std::atoi(argv[2]));
    trel::engine3d e(640, 480, nullptr);
    std::vector<double> ms;
    for (int r = 0; r < rounds; ++r) {
        const auto start = std::chrono::steady_clock::now();
        e.clear(0x00202020);
        for (std::size_t i = 0; i + 2 < corners.size(); i += 3) {
            e.tri(corners[i], corners[i + 1], corners[i + 2], 0x00a6d0f2);
        }
        const auto end = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::nth_element(ms.begin(), ms.begin() + ms.size() / 2, ms.end());
    std::printf("%.4f\n", ms[ms.size() / 2]);
    return 0;
}
