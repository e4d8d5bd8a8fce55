#include "pngout.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <png.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "failure.h"

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

// Encodes `picture` onto `file`; the message of libpng's failure, or empty.
std::string encode(std::FILE *file, const image &picture) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(picture.width);
    png.height = static_cast<png_uint_32>(picture.height);
    png.format = picture.channels == 1 ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
    if (png_image_write_to_stdio(&png, file, 0, picture.bytes.data(), 0, nullptr) != 0) {
        return {};
    }
    std::string message = png.message;
    png_image_free(&png);
    return message.empty() ? std::string("PNG encoding failed") : message;
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

pngset::~pngset() {
    for (const pending &f : files_) {
        std::remove(f.renamed ? f.path.c_str() : f.temporary.c_str());
        f.signalled->live = 0;
    }
}

void pngset::add(const std::string &path, const image &picture) {
    const fs::path target(path);
    // A hidden temporary beside the target, renamed over it once complete.
    std::string hidden = ".";
    hidden += target.filename().string();
    hidden += "-XXXXXX";
    std::string name = (folderof(path) / hidden).string();
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        throw failure("cannot write '" + path + "': " + std::strerror(errno));
    }
    files_.push_back({name, path, false, remember(name)});
    ::fchmod(fd, filemode());
    std::FILE *file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        throw failure("cannot write '" + path + "': " + std::strerror(error));
    }
    const std::string problem = encode(file, picture);
    int error = std::fflush(file) == 0 ? 0 : errno;
    if (std::fclose(file) != 0 && error == 0) {
        error = errno;
    }
    if (!problem.empty()) {
        throw failure("cannot write '" + path + "': " + problem);
    }
    if (error != 0) {
        throw failure("cannot write '" + path + "': " + std::strerror(error));
    }
}

void pngset::commit() {
    for (pending &f : files_) {
        if (std::rename(f.temporary.c_str(), f.path.c_str()) != 0) {
            throw failure("cannot write '" + f.path + "': " + std::strerror(errno));
        }
        f.renamed = true;
        f.signalled->live = 0;
    }
    files_.clear();
}

} // namespace render
