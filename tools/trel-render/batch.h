// A batch: many meshes in one run, one picture each in an output folder, drawn
// by child processes, several at once. Each child runs one mesh's whole job
// (its engine, its pictures), so no engine class's origin or reciprocal table
// is ever shared between two drawings.
#ifndef TREL_RENDER_BATCH_H
#define TREL_RENDER_BATCH_H

#include "options.h"

namespace render {

// Draws every mesh of `opts.meshes` (the bunny when there are none; each file
// once; a file that is not a mesh skipped with a note) into `opts.outdir`, making the folder when
// it is missing, `opts.jobs` at a time (0: one per processor core the program may run on). A mesh
// that fails is reported on stderr in one line beginning with its name and skipped; the others are
// still written. Returns 0, or 2 when any mesh failed. Throws failure, having written nothing, when
// the batch as a whole cannot run.
int runbatch(const options &opts);

} // namespace render

#endif
