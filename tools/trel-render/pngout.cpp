#include "pngout.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <new>
#include <optional>
#include <system_error>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "encode.h"
#include "failure.h"
#include "options.h"

namespace render {

// The temporary files of the run, for removal when a signal ends it. Entries
// are only ever added, at the head, and stay reachable until the program ends;
// `live` is cleared once the file has been renamed or removed.
struct temporaryfile {
    char *path;
    volatile std::sig_atomic_t live;
    temporaryfile *next;
};

namespace {

namespace fs = std::filesystem;

std::atomic<temporaryfile *> temporaries{nullptr};

extern "C" void interrupted(int signal) {
    for (temporaryfile *t = temporaries.load(); t != nullptr; t = t->next) {
        if (t->live != 0) {
            ::unlink(t->path);
        }
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

void catchsignals() {
    static const bool caught = [] {
        struct sigaction action {};
        action.sa_handler = interrupted;
        sigemptyset(&action.sa_mask);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            ::sigaction(signal, &action, nullptr);
        }
        return true;
    }();
    (void)caught;
}

temporaryfile *remember(const std::string &path) {
    catchsignals();
    auto *t = new temporaryfile{new char[path.size() + 1], 1, temporaries.load()};
    std::memcpy(t->path, path.c_str(), path.size() + 1);
    while (!temporaries.compare_exchange_weak(t->next, t)) {
    }
    return t;
}

fs::path folderof(const std::string &path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

// The permissions a newly created file gets here; mkstemp's are 0600.
mode_t filemode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

bool isstdout(const std::string &path) { return path == "-"; }

// The file `path` names once symbolic links are followed to their end, even
// when the last one leads nowhere yet: that file is the one to replace.
std::string throughlinks(const std::string &path) {
    std::string p = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return p;
        }
        std::error_code ec;
        const fs::path target = fs::read_symlink(p, ec);
        if (ec) {
            throw failure("cannot write '" + path + "': " + ec.message());
        }
        p = target.is_absolute() ? target.string() : (fs::path(p).parent_path() / target).string();
    }
    throw failure("cannot write '" + path + "': too many levels of symbolic links");
}

// What a name stands for, however it is spelt: an existing file's device and
// inode, or its folder's and its own name for a file yet to be made.
struct fileid {
    dev_t device = 0;
    ino_t inode = 0;
    std::string name;
    auto operator<=>(const fileid &) const = default;
};

std::optional<fileid> identify(const std::string &path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        return fileid{st.st_dev, st.st_ino, {}};
    }
    if (::stat(folderof(path).c_str(), &st) == 0) {
        return fileid{st.st_dev, st.st_ino, fs::path(path).filename().string()};
    }
    return std::nullopt;
}

const char *kindof(mode_t mode) {
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a regular file";
}

// Writes `data` whole onto the temporary file's descriptor, which is closed,
// or keeps it in `bytes` for standard output. The problem, or empty.
std::string writebytes(int &fd, std::vector<unsigned char> &bytes,
                       std::vector<unsigned char> &&data) {
    if (fd < 0) {
        bytes = std::move(data);
        return {};
    }
    const unsigned char *at = data.data();
    std::size_t left = data.size();
    int error = 0;
    while (left > 0) {
        const ssize_t wrote = ::write(fd, at, left);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            error = wrote < 0 ? errno : EIO;
            break;
        }
        at += wrote;
        left -= static_cast<std::size_t>(wrote);
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    fd = -1;
    return error != 0 ? std::strerror(error) : std::string();
}

// Encodes `picture` into its file: the temporary file's descriptor, which is
// closed, or memory for standard output. The problem, or empty.
std::string writepicture(int &fd, std::vector<unsigned char> &bytes, const image &picture,
                         bool webp) {
    std::vector<unsigned char> encoded;
    try {
        encoded = webp ? trel::encode::webp(picture) : trel::encode::png(picture);
    } catch (const failure &e) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
        return e.what();
    }
    return writebytes(fd, bytes, std::move(encoded));
}

} // namespace

void checkwritable(const std::string &path) {
    const fs::path folder = folderof(path);
    std::error_code ec;
    const fs::file_status status = fs::status(folder, ec);
    if (!fs::exists(status)) {
        throw failure("cannot write '" + path + "': folder '" + folder.string() +
                      "' does not exist");
    }
    if (!fs::is_directory(status)) {
        throw failure("cannot write '" + path + "': '" + folder.string() + "' is not a folder");
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        throw failure("cannot write '" + path + "': folder '" + folder.string() +
                      "' is not writable");
    }
    if (fs::is_directory(path, ec)) {
        throw failure("cannot write '" + path + "': it is a folder");
    }
}

void checkoutputs(const std::vector<std::string> &paths, const std::string &mesh) {
    std::optional<fileid> meshid;
    if (struct stat st{}; !mesh.empty() && ::stat(mesh.c_str(), &st) == 0) {
        meshid = fileid{st.st_dev, st.st_ino, {}};
    }
    std::map<fileid, std::string> seen;
    bool tostdout = false;
    for (const std::string &path : paths) {
        if (isstdout(path)) {
            if (tostdout) {
                throw failure("only one picture can go to standard output ('-')");
            }
            tostdout = true;
            if (::isatty(STDOUT_FILENO) == 1) {
                throw failure("will not write a PNG to a terminal: redirect standard output "
                              "or name a file with -o");
            }
            continue;
        }
        const std::string target = throughlinks(path);
        checkwritable(target);
        struct stat st {};
        if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
            throw failure("cannot write '" + path + "': it is " + kindof(st.st_mode) +
                          ", not a regular file");
        }
        const std::optional<fileid> id = identify(target);
        if (!id) {
            continue; // checkwritable found its folder; it has just gone
        }
        if (meshid && *id == *meshid) {
            throw failure("cannot write '" + path + "': it is the mesh being drawn, '" + mesh +
                          "'");
        }
        const auto [other, fresh] = seen.emplace(*id, path);
        if (!fresh) {
            throw failure("cannot write both '" + other->second + "' and '" + path +
                          "': they are the same file");
        }
    }
}

pngset::pngset(unsigned workers)
    : wanted_(workers != 0 ? workers : std::max(1U, std::thread::hardware_concurrency())) {}

pngset::~pngset() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        failed_ = true; // pictures still queued are dropped
    }
    finish();
    for (pending &f : files_) {
        if (f.fd >= 0) {
            ::close(f.fd);
        }
        if (f.signalled == nullptr) {
            continue; // standard output: nothing on disk
        }
        std::remove(f.renamed ? f.path.c_str() : f.temporary.c_str());
        f.signalled->live = 0;
    }
}

void pngset::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) {
            return;
        }
        job next = std::move(queue_.front());
        queue_.pop_front();
        const bool drop = failed_;
        changed_.notify_all(); // room in the queue
        lock.unlock();
        std::string problem;
        if (drop) {
            if (next.file->fd >= 0) {
                ::close(next.file->fd);
                next.file->fd = -1;
            }
        } else {
            try {
                problem =
                    writepicture(next.file->fd, next.file->bytes, next.picture, next.file->webp);
            } catch (const std::bad_alloc &) {
                problem = "out of memory";
            }
        }
        next.picture = image{}; // its memory goes back before the next one is taken
        lock.lock();
        if (!problem.empty()) {
            next.file->problem = std::move(problem);
            failed_ = true;
        }
        changed_.notify_all();
    }
}

void pngset::finish() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread &worker : workers_) {
        worker.join();
    }
    workers_.clear();
    stopping_ = false;
}

void pngset::throwfailed() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!failed_) {
        return;
    }
    // The first picture that failed, in the order they were added.
    for (const pending &f : files_) {
        if (!f.problem.empty()) {
            throw failure("cannot write '" + f.shown + "': " + f.problem);
        }
    }
}

pngset::pending *pngset::open(const std::string &path) {
    throwfailed();
    pending *file = nullptr;
    if (isstdout(path)) {
        const std::lock_guard<std::mutex> lock(mutex_);
        files_.push_back({{}, path, path, {}, -1, {}, false, nullptr});
        file = &files_.back();
    } else {
        const std::string written = throughlinks(path);
        const fs::path target(written);
        // A hidden temporary beside the target, renamed over it once complete.
        std::string hidden = ".";
        hidden += target.filename().string();
        hidden += "-XXXXXX";
        std::string name = (folderof(written) / hidden).string();
        const int fd = ::mkstemp(name.data());
        if (fd < 0) {
            throw failure("cannot write '" + path + "': " + std::strerror(errno));
        }
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            files_.push_back({name, written, path, {}, fd, {}, false, remember(name)});
            file = &files_.back();
        }
        ::fchmod(fd, filemode());
    }
    return file;
}

void pngset::addencoded(const std::string &path, std::vector<unsigned char> bytes) {
    pending *file = open(path);
    std::string problem = writebytes(file->fd, file->bytes, std::move(bytes));
    if (!problem.empty()) {
        const std::lock_guard<std::mutex> lock(mutex_);
        file->problem = std::move(problem);
        failed_ = true;
    }
    throwfailed();
}

void pngset::add(const std::string &path, image picture) {
    pending *file = open(path);
    file->webp = formatof(path) == fileformat::webp;
    if (workers_.size() < wanted_) {
        try {
            workers_.emplace_back([this] { work(); });
        } catch (const std::system_error &) {
            // No more threads: the ones running, or this one, encode.
        }
    }
    if (workers_.empty()) {
        file->problem = writepicture(file->fd, file->bytes, picture, file->webp);
        if (!file->problem.empty()) {
            failed_ = true;
        }
        throwfailed();
        return;
    }
    {
        std::unique_lock<std::mutex> lock(mutex_);
        // A few pictures a worker wait their turn; beyond that the caller waits.
        changed_.wait(lock, [this] { return queue_.size() < 2 * workers_.size() || failed_; });
        if (!failed_) {
            queue_.push_back({file, std::move(picture)});
        }
    }
    changed_.notify_all();
    throwfailed();
}

void pngset::commit() {
    finish();
    throwfailed();
    for (pending &f : files_) {
        if (!f.temporary.empty()) {
            continue;
        }
        // A reader that has gone away is an error to report, not a signal
        // that ends the run with the temporary files left behind.
        ::signal(SIGPIPE, SIG_IGN);
        if (std::fwrite(f.bytes.data(), 1, f.bytes.size(), stdout) != f.bytes.size() ||
            std::fflush(stdout) != 0) {
            throw failure("cannot write the picture to standard output: " +
                          std::string(std::strerror(errno)));
        }
    }
    for (pending &f : files_) {
        if (f.temporary.empty()) {
            continue;
        }
        if (std::rename(f.temporary.c_str(), f.path.c_str()) != 0) {
            throw failure("cannot write '" + f.path + "': " + std::strerror(errno));
        }
        f.renamed = true;
        f.signalled->live = 0;
    }
    files_.clear();
}

} // namespace render
