// One picture (or one turntable) of one mesh, followed from file to written
// picture: the outputs planned and checked, the mesh loaded, placed and
// drawn frame by frame, the pictures encoded and written, all or none.
#ifndef TREL_RENDER_JOB_H
#define TREL_RENDER_JOB_H

#include "options.h"
#include "plan.h"

namespace render {

// Runs `work` with `opts`. Throws failure naming the first problem.
void renderjob(const options &opts, const job &work);

} // namespace render

#endif
