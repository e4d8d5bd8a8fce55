// A host built with -Wnon-virtual-dtor -Werror (and the usual warnings) that
// includes the public header and uses every engine: it must compile.
#include <cstdint>
#include <vector>

#include <trel/trel.h>

// The warning stays on for the host's own classes: only the header's
// declarations are spared.
#if defined(TREL_EXPECT_HOST_WARNING)
class hostshape {
  public:
    virtual void draw() {}
    ~hostshape() {}
};
#endif

int main() {
    std::vector<std::uint32_t> block(8 * 8 * 6 / 4);
    trel::engine3d deep(8, 8, block.data());
    trel::engine2d flat(8, 8, nullptr);
    trel::engine2dxy plane(8, 8, nullptr);
    trel::engine &e = deep;
    e.clear(0);
    flat.clear(0);
    plane.clear(0);
    return e.width() == 8 ? 0 : 1;
}
