// The parsing process: a mesh file is parsed in a child process held to the
// limits, which hands the mesh (or the message that ends the run) back on a
// pipe.
#ifndef TREL_LOADER_TRANSPORT_H
#define TREL_LOADER_TRANSPORT_H

#include <string>

#include <sys/types.h>

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

// What the child runs: the mesh of the file at `path`.
using parser = scene::mesh (*)(const std::string &path);

// The mesh `parse` makes of `path`, run in a child process held to `limits`.
// Throws failure with the child's message, or with a line saying which limit
// it went beyond or how it stopped.
scene::mesh parseisolated(const std::string &path, const limits &limits, parser parse);

// The child's whole life, in the child: limits set, `path` parsed, the record
// written to `datafd`, stderr sent to `errfd`; ends at once when `parent` is
// no longer its parent.
[[noreturn]] void runparse(const std::string &path, const limits &limits, parser parse, int datafd,
                           int errfd, pid_t parent);

class parserserver;

// A started parsing process, and the way to learn how it ended. One that was
// never waited for is killed and waited for when it goes.
class childprocess {
  public:
    childprocess(pid_t pid, parserserver *server) : pid_(pid), server_(server) {}
    childprocess(const childprocess &) = delete;
    childprocess &operator=(const childprocess &) = delete;
    ~childprocess();

    // The child's pid; -1 when it could not be started.
    pid_t pid() const { return pid_; }

    // Waits for the child's end; its wait status (the same on later calls).
    int wait();

  private:
    pid_t pid_;
    parserserver *server_; // the one that started it, or none: a fork of this process
    bool waited_ = false;
    int status_ = 0;
};

// Starts the child that parses `path`, given both pipes (element 1 the
// child's end): a fork of this process running `parse` when it runs on one
// thread, else a fork of this thread's parser program (see start.cpp). When
// it could not be started, its pid is -1 and errno says why.
childprocess startparser(const std::string &path, const limits &limits, parser parse,
                         const int (&data)[2], const int (&err)[2]);

// The parser program's way in: trel-parser --serve PARENTPID, requests read
// from the socket on descriptor 3, each parsed in a fork of the program.
int servemain(int argc, char **argv, parser parse);

} // namespace trel::loader

#endif
