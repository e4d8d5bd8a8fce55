// Writing pictures as PNG files so that a run either writes all of them or
// none: each goes to a temporary file beside its destination, and they are
// renamed into place together once every one has been written.
#ifndef TREL_RENDER_PNGOUT_H
#define TREL_RENDER_PNGOUT_H

#include <string>
#include <vector>

#include "render.h"

namespace render {

// A temporary file as the signal handler sees it.
struct temporaryfile;

// Throws failure when `path` cannot be written: its folder is missing, is
// not a folder, or is not writable, or `path` is itself a folder.
void checkwritable(const std::string &path);

class pngset {
  public:
    pngset() = default;
    pngset(const pngset &) = delete;
    pngset &operator=(const pngset &) = delete;
    // Removes every file written but not committed.
    ~pngset();

    // Writes `picture` to a temporary file beside `path`. Throws failure.
    void add(const std::string &path, const image &picture);
    // Renames every temporary file to its destination. Throws failure, and
    // then leaves none of them behind.
    void commit();

  private:
    struct pending {
        std::string temporary;
        std::string path;
        bool renamed = false;
        temporaryfile *signalled = nullptr; // its entry for the signal handler
    };
    std::vector<pending> files_;
};

} // namespace render

#endif
