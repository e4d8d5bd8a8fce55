// The second stage: what one run writes, decided once before anything is
// loaded. The names (one picture, numbered frames or one animation, and the
// depth pictures), each one's format, and the checks that every name may be
// written: its folder is there and writable, it is not the mesh, not another
// output, and it replaces no file but a picture (or an empty file) unless
// --force was given.
#ifndef TREL_RENDER_PLAN_H
#define TREL_RENDER_PLAN_H

#include <compare>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

#include "encode.h"
#include "options.h"

namespace render {

// The format `path` is written in, told by its extension in any case; a name
// without one is a PNG, as thumbnailers and "-" expect. Throws failure for
// any other extension.
trel::encode::format formatof(const std::string &path);

// What one mesh becomes.
struct job {
    std::string mesh;   // empty: the built-in bunny
    std::string output; // the picture, or the name the frames are numbered from
    std::string depth;  // empty: no depth picture
};

struct outputplan {
    int frames = 1;                    // pictures drawn
    bool animated = false;             // the frames go into one WebP animation
    trel::encode::format format;       // of the pictures
    std::vector<std::string> pictures; // one a frame, or the one animation
    std::vector<std::string> depths;   // one a frame, or none
    bool tostdout = false;             // a picture goes to standard output
    // Every file, in the order they are reported written.
    std::vector<std::string> all() const;
};

// The plan for `work`, checked. Throws failure naming the first problem.
outputplan planoutputs(const options &opts, const job &work);

using trel::encode::fileid;
using trel::encode::identify;

// Throws failure when `path` cannot be written: its folder is missing, is
// not a folder, or is not writable, or `path` is itself a folder.
void checkwritable(const std::string &path);

} // namespace render

#endif
