// trel-webref: renders a frame of the web page's scene natively, for the
// browser test to compare the page's canvas with.
//
//   trel-webref SOUP ENGINE STYLE AZIMUTH ELEVATION ZUP WIDTH HEIGHT OUT [REPEAT]
//
// SOUP holds the mesh as the page hands it to its module: little-endian
// 32-bit floats, nine to a triangle. ENGINE is 3d, 2d or xy; STYLE solid, wire
// or both; ZUP 0 or 1. OUT receives the picture as RGBA bytes, exactly as the
// page puts it on its canvas. The frame is drawn REPEAT times (default 1) and
// the mean drawing time printed, to set the page's frame time beside.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "scene.h"

namespace {

int usage(const char *why) {
    std::cerr << "trel-webref: " << why << "\n";
    return 2;
}

// The engine an ENGINE word names, if any.
std::optional<trel::scene::enginekind> enginenamed(const std::string &word) {
    if (word == "3d") {
        return trel::scene::enginekind::engine3d;
    }
    if (word == "2d") {
        return trel::scene::enginekind::engine2d;
    }
    if (word == "xy") {
        return trel::scene::enginekind::engine2dxy;
    }
    return std::nullopt;
}

// The style a STYLE word names, if any.
std::optional<trel::scene::drawstyle> stylenamed(const std::string &word) {
    if (word == "solid") {
        return trel::scene::drawstyle::solid;
    }
    if (word == "wire") {
        return trel::scene::drawstyle::wire;
    }
    if (word == "both") {
        return trel::scene::drawstyle::both;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 10 && argc != 11) {
        return usage("usage: trel-webref SOUP ENGINE STYLE AZIMUTH ELEVATION ZUP WIDTH HEIGHT OUT "
                     "[REPEAT]");
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        return usage("cannot read the soup file");
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    if (bytes.size() % (9 * sizeof(float)) != 0) {
        return usage("the soup file is not a whole number of triangles");
    }
    std::vector<float> soup(bytes.size() / sizeof(float));
    std::memcpy(soup.data(), bytes.data(), bytes.size());

    const auto kind = enginenamed(argv[2]);
    if (!kind) {
        return usage("ENGINE must be 3d, 2d or xy");
    }
    const auto drawstyle = stylenamed(argv[3]);
    if (!drawstyle) {
        return usage("STYLE must be solid, wire or both");
    }
    const double azimuth = std::strtod(argv[4], nullptr);
    const double elevation = std::strtod(argv[5], nullptr);
    const bool zup = std::string(argv[6]) == "1";
    const int width = std::atoi(argv[7]);
    const int height = std::atoi(argv[8]);
    const int repeat = argc == 11 ? std::max(1, std::atoi(argv[10])) : 1;

    web::viewer viewer;
    if (viewer.setmesh(soup.data(), soup.size() / 9) != web::meshstatus::ok) {
        return usage("the soup is no mesh to draw");
    }
    const std::uint8_t *rgba = nullptr;
    double total = 0.0;
    for (int i = 0; i < repeat; ++i) {
        rgba = viewer.frame(*kind, *drawstyle, azimuth, elevation, zup, width, height);
        if (rgba == nullptr) {
            return usage("cannot make a picture of that size");
        }
        total += viewer.drawms();
    }
    std::ofstream out(argv[9], std::ios::binary);
    out.write(reinterpret_cast<const char *>(rgba),
              static_cast<std::streamsize>(width) * height * 4);
    if (!out) {
        return usage("cannot write the picture");
    }
    std::printf("draw ms: %.3f\n", total / repeat);
    return 0;
}
