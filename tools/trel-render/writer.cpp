#include "writer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "encode.h"
#include "failure.h"
#include "text.h"

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

constexpr int endsignals[] = {SIGINT, SIGTERM, SIGHUP};

// Which of endsignals were ignored when the program started, read once
// before any handler is installed.
const std::array<bool, std::size(endsignals)> &ignoredsignals() {
    static const std::array<bool, std::size(endsignals)> ignored = [] {
        std::array<bool, std::size(endsignals)> out{};
        for (std::size_t i = 0; i < std::size(endsignals); ++i) {
            struct sigaction old {};
            out[i] = ::sigaction(endsignals[i], nullptr, &old) == 0 && old.sa_handler == SIG_IGN;
        }
        return out;
    }();
    return ignored;
}

temporaryfile *remember(const std::string &path) {
    auto *t = new temporaryfile{new char[path.size() + 1], 1, temporaries.load()};
    std::memcpy(t->path, path.c_str(), path.size() + 1);
    while (!temporaries.compare_exchange_weak(t->next, t)) {
    }
    return t;
}

// The permissions a newly created file gets here; mkstemp's are 0600.
mode_t filemode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

bool isstdout(const std::string &path) { return path == "-"; }

// Writes `data` whole onto the temporary file's descriptor, which is closed,
// or keeps it in `bytes` for standard output. The problem, or empty.
std::string writebytes(int &fd, std::vector<unsigned char> &bytes,
                       std::vector<unsigned char> &&data) {
    if (fd < 0) {
        bytes = std::move(data);
        return {};
    }
    int error = writeall(fd, data.data(), data.size()) ? 0 : errno;
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    fd = -1;
    return error != 0 ? std::strerror(error) : std::string();
}

// Encodes `picture` into its file: the temporary file's descriptor, which is
// closed, or memory for standard output. The problem, or empty.
std::string writepicture(int &fd, std::vector<unsigned char> &bytes, const image &picture,
                         trel::encode::format format) {
    std::vector<unsigned char> encoded;
    try {
        encoded = trel::encode::encoded(picture, format);
    } catch (const failure &e) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
        return e.what();
    }
    return writebytes(fd, bytes, std::move(encoded));
}

// The longest file name the file systems trel-render writes to take, in bytes.
constexpr std::size_t longestname = 255;
// What mkstemp replaces at the end of a temporary's name.
constexpr std::string_view uniquepart = "XXXXXX";

// The start of the names of process `pid`'s temporaries for `target`:
// ".NAME-PID-", in NAME's folder. NAME is cut short (at a character's start)
// where the whole would not fit in a file name, so that a temporary can be
// made whenever the destination's own name fits.
std::string temporaryprefix(const std::string &target, pid_t pid) {
    const std::string tail = "-" + std::to_string(pid) + "-";
    std::string name = fs::path(target).filename().string();
    const std::size_t room = longestname - 1 - tail.size() - uniquepart.size();
    if (name.size() > room) {
        std::size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
            --cut; // not inside a UTF-8 sequence
        }
        name.resize(cut);
    }
    return (folderof(target) / ("." + name + tail)).string();
}

// The mode the temporary for `target` gets: an existing file's own (without
// set-id bits), so that a replacement is never readable by more people; else
// the umask's, as a new file gets.
mode_t modefor(const std::string &target) {
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        return st.st_mode & 0777;
    }
    return filemode();
}

} // namespace

std::filesystem::path folderof(const std::string &path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

bool ignoredatstart(int signal) {
    for (std::size_t i = 0; i < std::size(endsignals); ++i) {
        if (endsignals[i] == signal) {
            return ignoredsignals()[i];
        }
    }
    return false;
}

void catchsignals() {
    static const bool caught = [] {
        struct sigaction action {};
        action.sa_handler = interrupted;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(endsignals); ++i) {
            if (!ignoredsignals()[i]) {
                ::sigaction(endsignals[i], &action, nullptr);
            }
        }
        return true;
    }();
    (void)caught;
}

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

void removetemporaries(const std::string &path, pid_t pid) {
    std::string target;
    try {
        target = throughlinks(path);
    } catch (const failure &) {
        return;
    }
    const std::string prefix = fs::path(temporaryprefix(target, pid)).filename().string();
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(folderof(target), ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() == prefix.size() + uniquepart.size() && name.rfind(prefix, 0) == 0 &&
            entry.is_regular_file(ec)) {
            ::unlink(entry.path().c_str());
        }
    }
}

writer::writer(unsigned workers)
    : wanted_(workers != 0 ? workers : std::max(1U, std::thread::hardware_concurrency())) {}

writer::~writer() {
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

void writer::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) {
            return;
        }
        task next = std::move(queue_.front());
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
                    writepicture(next.file->fd, next.file->bytes, next.picture, next.file->format);
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

void writer::finish() {
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

void writer::throwfailed() {
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

writer::pending *writer::open(const std::string &path) {
    throwfailed();
    pending *file = nullptr;
    if (isstdout(path)) {
        const std::lock_guard<std::mutex> lock(mutex_);
        files_.push_back({{}, path, path, {}, -1, {}, false, nullptr, {}});
        file = &files_.back();
    } else {
        const std::string written = throughlinks(path);
        // A hidden temporary beside the target, renamed over it once complete.
        std::string name = temporaryprefix(written, ::getpid()) + std::string(uniquepart);
        const int fd = ::mkstemp(name.data());
        if (fd < 0) {
            throw failure("cannot write '" + path + "': " + std::strerror(errno));
        }
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            files_.push_back({name, written, path, {}, fd, {}, false, remember(name), {}});
            file = &files_.back();
        }
        ::fchmod(fd, modefor(written));
    }
    return file;
}

void writer::addencoded(const std::string &path, std::vector<unsigned char> bytes) {
    pending *file = open(path);
    std::string problem = writebytes(file->fd, file->bytes, std::move(bytes));
    if (!problem.empty()) {
        const std::lock_guard<std::mutex> lock(mutex_);
        file->problem = std::move(problem);
        failed_ = true;
    }
    throwfailed();
}

void writer::add(const std::string &path, image picture, trel::encode::format format) {
    pending *file = open(path);
    file->format = format;
    if (workers_.size() < wanted_) {
        try {
            workers_.emplace_back([this] { work(); });
        } catch (const std::system_error &) {
            // No more threads: the ones running, or this one, encode.
        }
    }
    if (workers_.empty()) {
        file->problem = writepicture(file->fd, file->bytes, picture, file->format);
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

void writer::commit() {
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
