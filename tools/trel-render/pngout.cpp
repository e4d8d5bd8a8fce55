#include "pngout.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>

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

// Encodes `picture` into memory; throws failure naming `path`.
std::vector<unsigned char> encode(const image &picture, const std::string &path) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(picture.width);
    png.height = static_cast<png_uint_32>(picture.height);
    png.format = picture.channels == 1 ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    std::vector<unsigned char> bytes;
    if (png_image_write_get_memory_size(png, size, 0, picture.bytes.data(), 0, nullptr) != 0) {
        bytes.resize(size);
        if (png_image_write_to_memory(&png, bytes.data(), &size, 0, picture.bytes.data(), 0,
                                      nullptr) != 0) {
            bytes.resize(size);
            return bytes;
        }
    }
    std::string message = png.message;
    png_image_free(&png);
    throw failure("cannot write '" + path +
                  "': " + (message.empty() ? std::string("PNG encoding failed") : message));
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

pngset::~pngset() {
    for (const pending &f : files_) {
        if (f.signalled == nullptr) {
            continue; // standard output: nothing on disk
        }
        std::remove(f.renamed ? f.path.c_str() : f.temporary.c_str());
        f.signalled->live = 0;
    }
}

void pngset::add(const std::string &path, const image &picture) {
    if (isstdout(path)) {
        files_.push_back({{}, path, encode(picture, path), false, nullptr});
        return;
    }
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
    files_.push_back({name, written, {}, false, remember(name)});
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
