// The one writer of trel-render, for single runs and batches alike: every
// file goes to a hidden temporary beside its destination and is renamed into
// place once every file of the run has been written, so that a run writes
// all of its files or none. A destination that is a symbolic link is written
// through: the file it leads to is replaced. A replaced file keeps its mode
// (a new one gets the umask's). The name "-" stands for standard output.
// A signal that ends the run removes the temporaries first.
#ifndef TREL_RENDER_WRITER_H
#define TREL_RENDER_WRITER_H

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

#include <trel/scene.h>

#include "encode.h"

namespace render {

using trel::scene::image;

// A temporary file as the signal handler sees it.
struct temporaryfile;

// The signals that end a run (SIGINT, SIGTERM, SIGHUP) remove the run's
// temporary files before it ends; a signal ignored when the program started
// (a background job of a shell) stays ignored. Called at the start of a run.
void catchsignals();

// True when SIGINT, SIGTERM or SIGHUP `signal` was ignored at the start.
bool ignoredatstart(int signal);

// The folder `path` is in: "." for a bare name.
std::filesystem::path folderof(const std::string &path);

// The file `path` names once symbolic links are followed to their end, even
// when the last one leads nowhere yet: that file is the one to replace.
std::string throughlinks(const std::string &path);

// Removes the temporary files process `pid` made for `path` (a batch's child
// that died before it could). Safe from any process.
void removetemporaries(const std::string &path, pid_t pid);

// Pictures are encoded by worker threads while the caller draws the next
// ones: add() hands a picture over and returns, waiting only while a few
// pictures per worker are already queued, so memory stays bounded.
class writer {
  public:
    // `workers` threads encode (0: one per processor core).
    explicit writer(unsigned workers = 0);
    writer(const writer &) = delete;
    writer &operator=(const writer &) = delete;
    // Stops the workers and removes every file written but not committed.
    ~writer();

    // Creates a temporary file for `path` (or, for "-", keeps the bytes in
    // memory) and queues `picture` to be encoded into it as `format`. Throws
    // failure, for this picture or for an earlier one whose encoding failed.
    void add(const std::string &path, image picture, trel::encode::format format);
    // The same for a file already encoded (an animation).
    void addencoded(const std::string &path, std::vector<unsigned char> bytes);
    // Waits for every picture, writes the one for standard output, then
    // renames every temporary file to its destination. Throws failure, and
    // then leaves none of the temporary files behind.
    void commit();

  private:
    struct pending {
        std::string temporary;            // empty for standard output
        std::string path;                 // the file written: a symbolic link's target
        std::string shown;                // the name given, for messages
        std::vector<unsigned char> bytes; // the file for standard output
        int fd = -1;                      // the temporary file until it is written
        std::string problem;              // why it could not be written
        bool renamed = false;
        temporaryfile *signalled = nullptr; // its entry for the signal handler
        trel::encode::format format = trel::encode::format::png;
    };
    struct task {
        pending *file;
        image picture;
    };
    pending *open(const std::string &path); // a new entry and its temporary file
    void work();
    void finish(); // waits for the queue to empty and the workers to end
    void throwfailed();

    std::deque<pending> files_; // a deque: workers hold pointers into it
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<task> queue_;
    std::vector<std::thread> workers_;
    unsigned wanted_ = 1;
    bool stopping_ = false;
    bool failed_ = false;
};

} // namespace render

#endif
