// The one kind of error trel-render reports: a problem with what the user asked
// for or gave it, told in one line and ending the run with status 2.
#ifndef TREL_RENDER_FAILURE_H
#define TREL_RENDER_FAILURE_H

#include <trel/scene.h>

namespace render {

using failure = trel::scene::failure;

} // namespace render

#endif
