#include <trel/trel.h>

#include <cstdio>

#include "enginecore.h"
#include "versionnumbers.h"

namespace trel {
namespace {

char versiontext[16];

} // namespace

const char *version(int &major, int &minor, int &patch) {
    major = TREL_VERSION_MAJOR;
    minor = TREL_VERSION_MINOR;
    patch = TREL_VERSION_PATCH;
    std::snprintf(versiontext, sizeof versiontext, "%d.%d.%d", major, minor, patch);
    return versiontext;
}

const char *version() {
    int major = 0;
    int minor = 0;
    int patch = 0;
    return version(major, minor, patch);
}

engine::engine() noexcept = default;
engine::engine(const engine &) noexcept = default;
engine &engine::operator=(const engine &) noexcept { return *this; }

void engine::begin() {}
void engine::end() {}

void detail::polyline(engine &e, const quim::point *pts, int n, unsigned long colour) {
    if (pts == nullptr) {
        return;
    }
    for (int i = 0; i + 1 < n; ++i) {
        e.line(pts[i], pts[i + 1], colour);
    }
}

} // namespace trel
