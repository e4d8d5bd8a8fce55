// Writing pictures as PNG (or WebP) files so that a run either writes all of
// them or none: each goes to a temporary file beside its destination, and they are
// renamed into place together once every one has been written. A destination
// that is a symbolic link is written through: the temporary goes beside the
// file the link leads to and replaces that file. The name "-" stands for
// standard output.
#ifndef TREL_RENDER_PNGOUT_H
#define TREL_RENDER_PNGOUT_H

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <trel/scene.h>

namespace render {

using trel::scene::image;

// A temporary file as the signal handler sees it.
struct temporaryfile;

// Throws failure when `path` cannot be written: its folder is missing, is
// not a folder, or is not writable, or `path` is itself a folder.
void checkwritable(const std::string &path);

// Throws failure unless every one of `paths` may be written: each must be
// writable, must not exist or be a regular file, must not be the file `mesh`
// (empty: no mesh file), and must not be the same file as another of them,
// however each is spelt. "-" is standard output, which must not be a terminal.
void checkoutputs(const std::vector<std::string> &paths, const std::string &mesh);

// Pictures are encoded by worker threads while the caller draws the next
// ones: add() hands a picture over and returns, waiting only while a few
// pictures per worker are already queued, so memory stays bounded.
class pngset {
  public:
    // `workers` threads encode (0: one per processor core).
    explicit pngset(unsigned workers = 0);
    pngset(const pngset &) = delete;
    pngset &operator=(const pngset &) = delete;
    // Stops the workers and removes every file written but not committed.
    ~pngset();

    // Creates a temporary file beside `path` (or, for "-", keeps the PNG in
    // memory) and queues `picture` to be encoded into it: as a lossless WebP
    // when `path` ends in .webp, else as a PNG (RGBA and 16-bit grey
    // pictures too). Throws failure, for this picture or for an earlier one
    // whose encoding failed.
    void add(const std::string &path, image picture);
    // The same for a file already encoded (an animation): `bytes` are written
    // to a temporary file beside `path` at once, renamed with the others.
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
        std::vector<unsigned char> bytes; // the PNG for standard output
        int fd = -1;                      // the temporary file until it is written
        std::string problem;              // why it could not be written
        bool renamed = false;
        temporaryfile *signalled = nullptr; // its entry for the signal handler
        bool webp = false;                  // encoded as WebP rather than PNG
    };
    struct job {
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
    std::deque<job> queue_;
    std::vector<std::thread> workers_;
    unsigned wanted_ = 1;
    std::size_t busy_ = 0;
    bool stopping_ = false;
    bool failed_ = false;
};

} // namespace render

#endif
