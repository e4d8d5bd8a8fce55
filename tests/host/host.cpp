// Draws with all three engines into blocks of its own and reads the pixels
// back, then draws a mesh through the scene layer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <trel/scene.h>
#include <trel/trel.h>

namespace {

int failures = 0;

void expect(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "host: %s\n", what);
        ++failures;
    }
}

} // namespace

int main() {
    expect(std::strcmp(trel::version(), TREL_EXPECTED_VERSION) == 0, "version");

    std::vector<std::uint32_t> flat(32 * 24);
    trel::engine2d e2(32, 24, flat.data());
    e2.clear(0x00102030);
    e2.dot({0.0, 0.0, 0.0}, 0x00FFFFFF); // column 16, row 24 / 2 - 20 = -8: off the picture
    e2.dot({1.0, 0.0, -10.0}, 0x00ABCDEF);
    expect(flat[0] == 0x00102030, "engine2d clear");
    expect(flat[2 * 32 + 17] == 0x00ABCDEF, "engine2d dot");

    std::vector<std::uint32_t> plane(32 * 24);
    trel::engine2dxy exy(30, 24, plane.data());
    exy.clear(1);
    exy.dot({-16.0, 12.0, 0.0}, 2);
    expect(exy.width() == 32 && plane[0] == 2 && plane[1] == 1, "engine2dxy dot");

    std::vector<std::uint32_t> deep(32 * 24 * 6 / 4);
    trel::engine3d e3(32, 24, deep.data());
    e3.clear(3);
    e3.dot({0.0, 0.0, 0.0}, 4);
    expect(deep[12 * 32 + 16] == 4, "engine3d dot");
    expect(e3.zbuf[0] == -32000, "engine3d depth plane");

    trel::engine &base = e3;
    base.tri({-8.0, 0.0, -8.0}, {8.0, 0.0, -8.0}, {0.0, 0.0, 8.0}, 0x00FFFFFF);
    expect(e3.zbuf[12 * 32 + 16] == 0, "engine3d triangle depth");

    // A tetrahedron, welded from its soup, fills the middle of a 64 x 48
    // picture in the given colour's shades and leaves the corners alone.
    const float soup[] = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0,
                          0, 0, 0, 0, 1, 0, 0, 0, 1, 1, 0, 0, 0, 0, 1, 0, 1, 0};
    trel::scene::mesh tetra = trel::scene::fromsoup(soup, 4);
    trel::scene::finish(tetra, "tetrahedron");
    expect(tetra.vertices.size() == 4 && tetra.closed, "scene weld and orientation");
    trel::scene::drawsettings settings;
    settings.width = 64;
    settings.height = 48;
    const trel::scene::image picture = trel::scene::render(tetra, {}, settings);
    const auto pixel = [&picture](int column, int row) {
        const std::size_t at = (static_cast<std::size_t>(row) * 64 + column) * 3;
        return std::vector<int>(picture.bytes.begin() + at, picture.bytes.begin() + at + 3);
    };
    const trel::scene::rgb back = trel::scene::defaultbackground;
    expect(pixel(0, 0) == std::vector<int>{back.r, back.g, back.b}, "scene background");
    expect(pixel(32, 24) != pixel(0, 0), "scene mesh drawn");

    std::puts(failures == 0 ? "host: ok" : "host: FAILED");
    return failures == 0 ? 0 : 1;
}
