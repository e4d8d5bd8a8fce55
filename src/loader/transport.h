// The parsing process: a mesh file is parsed in a forked child held to the
// limits, which hands the mesh (or the message that ends the run) back on a
// pipe.
#ifndef TREL_LOADER_TRANSPORT_H
#define TREL_LOADER_TRANSPORT_H

#include <string>

#include <trel/scene.h>

#include "load.h"

namespace trel::loader {

// How the child ends, as its exit status.
enum childstatus : int {
    sent = 0,        // the record is written: a mesh or a message
    outofmemory = 3, // an allocation failed under the address-space limit
    orphaned = 4,    // the program that forked it had already ended
    unsent = 5,      // the mesh could not be written to the pipe
};

// The mesh `parse` makes of `path`, run in a child process held to `limits`.
// Throws failure with the child's message, or with a line saying which limit
// it went beyond or how it stopped.
scene::mesh parseisolated(const std::string &path, const limits &limits,
                          scene::mesh (*parse)(const std::string &path));

} // namespace trel::loader

#endif
