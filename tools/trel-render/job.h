// One picture (or one turntable) of one mesh: the stages a run goes through,
// from checking the outputs to committing the written files.
#ifndef TREL_RENDER_JOB_H
#define TREL_RENDER_JOB_H

#include <string>

#include "options.h"

namespace render {

// What one mesh becomes.
struct job {
    std::string mesh;   // empty: the built-in bunny
    std::string output; // the picture, or the name the frames are numbered from
    std::string depth;  // empty: no depth picture
};

// Checks the outputs, loads, places and draws the mesh, and writes the
// pictures, all or none. Throws failure naming the first problem.
void renderjob(const options &opts, const job &work);

} // namespace render

#endif
