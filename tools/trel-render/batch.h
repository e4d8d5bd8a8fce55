// A batch: many meshes in one run, one picture each in an output folder, drawn
// by child processes, several at once. Each child runs one mesh's whole job
// (its engine, its pictures), so no engine class's origin or reciprocal table
// is ever shared between two drawings.
#ifndef TREL_RENDER_BATCH_H
#define TREL_RENDER_BATCH_H

#include <string>
#include <vector>

#include "options.h"

namespace render {

// The picture each of `meshes` becomes in `outdir`, in the same order:
// STEM.png after the mesh's file name; NAME.png (a.stl.png, a.obj.png) for
// every mesh whose STEM.png another would also take (names compared under
// foldcase, as case-insensitive file systems compare them); and, where even
// that is taken, NAME-2.png, NAME-3.png, ... for the second, third, ... such
// mesh in command-line order. A name is taken
// too when it already is one of the batch's meshes (or the same file as an
// earlier picture) in `outdir`. An empty mesh name stands for the built-in
// bunny, bunny.png.
std::vector<std::string> batchoutputs(const std::vector<std::string> &meshes,
                                      const std::string &outdir);

// Draws every mesh of `opts.meshes` (the bunny when there are none; each file
// once; a file that is not a mesh skipped with a note) into `opts.outdir`, making the folder when
// it is missing, `opts.jobs` at a time (0: one per processor core the program may run on). A mesh
// that fails is reported on stderr in one line beginning with its name and skipped; the others are
// still written. Returns 0, or 2 when any mesh failed. Throws failure, having written nothing, when
// the batch as a whole cannot run.
int runbatch(const options &opts);

} // namespace render

#endif
