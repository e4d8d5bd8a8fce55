// The one kind of error trel-render reports: a problem with what the user asked
// for or gave it, told in one line and ending the run with status 2; and the
// statuses a run (or a batch's child drawing one mesh) ends with.
#ifndef TREL_RENDER_FAILURE_H
#define TREL_RENDER_FAILURE_H

#include <trel/scene.h>

namespace render {

using failure = trel::scene::failure;

// The run (or the child's mesh) was drawn and written.
inline constexpr int statusdone = 0;
// A problem was reported in one line: nothing was written (in a batch, some
// meshes may have been).
inline constexpr int statusfailed = 2;
// A batch's child: the file is not a mesh (no loader reads its extension and
// its content is none the loader knows either), so the batch skips it.
inline constexpr int statusnotamesh = 3;

} // namespace render

#endif
