// Writing pictures as PNG files so that a run either writes all of them or
// none: each goes to a temporary file beside its destination, and they are
// renamed into place together once every one has been written. A destination
// that is a symbolic link is written through: the temporary goes beside the
// file the link leads to and replaces that file. The name "-" stands for
// standard output.
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

// Throws failure unless every one of `paths` may be written: each must be
// writable, must not exist or be a regular file, must not be the file `mesh`
// (empty: no mesh file), and must not be the same file as another of them,
// however each is spelt. "-" is standard output, which must not be a terminal.
void checkoutputs(const std::vector<std::string> &paths, const std::string &mesh);

class pngset {
  public:
    pngset() = default;
    pngset(const pngset &) = delete;
    pngset &operator=(const pngset &) = delete;
    // Removes every file written but not committed.
    ~pngset();

    // Writes `picture` to a temporary file beside `path` (to memory for "-").
    // Throws failure.
    void add(const std::string &path, const image &picture);
    // Writes the picture for standard output, then renames every temporary
    // file to its destination. Throws failure, and then leaves none of the
    // temporary files behind.
    void commit();

  private:
    struct pending {
        std::string temporary;            // empty for standard output
        std::string path;                 // the file written: a symbolic link's target
        std::vector<unsigned char> bytes; // the PNG for standard output
        bool renamed = false;
        temporaryfile *signalled = nullptr; // its entry for the signal handler
    };
    std::vector<pending> files_;
};

} // namespace render

#endif
