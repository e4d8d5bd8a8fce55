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

#include <png.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "failure.h"
#include "options.h"
#include "webpout.h"

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

// libpng reports a failure by jumping back to where encode() set it up; the
// message is kept here on the way.
struct pngfailure {
    char message[200];
    std::jmp_buf back;
};

extern "C" void pngerror(png_structp png, png_const_charp message) {
    auto *failure = static_cast<pngfailure *>(png_get_error_ptr(png));
    std::snprintf(failure->message, sizeof failure->message, "%s", message);
    std::longjmp(failure->back, 1);
}

extern "C" void pngwarning(png_structp, png_const_charp) {}

// A colour picture as indices into at most 256 colours, numbered in the order
// they first appear; false when it holds more. Flat-shaded pictures hold a few
// dozen: a third of the bytes to deflate, and a smaller file. An RGBA picture
// gives each colour its alpha in `alphas`.
bool topalette(const image &picture, std::vector<std::uint8_t> &indices,
               std::vector<png_color> &colours, std::vector<std::uint8_t> &alphas) {
    if ((picture.channels != 3 && picture.channels != 4) || picture.bits != 8) {
        return false;
    }
    const bool rgba = picture.channels == 4;
    const std::size_t step = rgba ? 4 : 3;
    constexpr std::size_t slots = 1024;                // at most a quarter full
    constexpr std::uint64_t empty = ~std::uint64_t{0}; // no colour
    std::array<std::uint64_t, slots> keys;
    std::array<std::uint8_t, slots> values{};
    keys.fill(empty);
    colours.clear();
    alphas.clear();
    const std::size_t pixels = static_cast<std::size_t>(picture.width) * picture.height;
    indices.resize(pixels);
    const std::uint8_t *rgb = picture.bytes.data();
    constexpr bool littleendian = std::endian::native == std::endian::little;
    std::uint64_t last = empty;
    std::uint8_t lastindex = 0;
    for (std::size_t k = 0; k < pixels; ++k, rgb += step) {
        // Four bytes at once where a fourth follows; the last RGB pixel by bytes.
        std::uint32_t c = 0;
        if (rgba || k + 1 < pixels) {
            std::memcpy(&c, rgb, sizeof c);
            if (!littleendian) {
                c = rgb[0] | rgb[1] << 8 | rgb[2] << 16 | static_cast<std::uint32_t>(rgb[3]) << 24;
            }
            if (!rgba) {
                c &= 0xFFFFFFU;
            }
        } else {
            c = rgb[0] | static_cast<std::uint32_t>(rgb[1]) << 8 |
                static_cast<std::uint32_t>(rgb[2]) << 16;
        }
        if (c != last) {
            std::size_t slot = (c * 0x9E3779B1U) >> 22;
            while (keys[slot] != empty && keys[slot] != c) {
                slot = (slot + 1) & (slots - 1);
            }
            if (keys[slot] == empty) {
                if (colours.size() == 256) {
                    return false;
                }
                keys[slot] = c;
                values[slot] = static_cast<std::uint8_t>(colours.size());
                colours.push_back({rgb[0], rgb[1], rgb[2]});
                alphas.push_back(rgba ? rgb[3] : 255);
            }
            last = c;
            lastindex = values[slot];
        }
        indices[k] = lastindex;
    }
    // Entries past the last transparent one are opaque without saying so.
    while (!alphas.empty() && alphas.back() == 255) {
        alphas.pop_back();
    }
    return true;
}

// Encodes `picture` onto `file`; the message of libpng's failure, or empty.
// A colour picture of at most 256 colours is stored as `indices` into
// `colours` (when `indices` is given), with the colours' `alphas` where some
// are not opaque, which decodes to the same pixels.
// The rows are stored unfiltered and deflated at zlib's level 3: the pictures
// are mostly flat areas of a few colours, which deflate finds as long repeats,
// and filters only break those up. Against libpng's defaults (level 6, every
// filter tried on every row) this encodes about ten times faster, for files
// about 30% smaller with a palette and up to 15% larger without (bench/README.md).
// Nothing with a destructor lives between setjmp and the libpng calls that
// can jump back to it.
std::string encode(std::FILE *file, const image &picture, const std::vector<std::uint8_t> *indices,
                   const std::vector<png_color> &colours, const std::vector<std::uint8_t> &alphas) {
    pngfailure failure{};
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &failure, pngerror, pngwarning);
    if (png == nullptr) {
        return "out of memory";
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return "out of memory";
    }
    if (setjmp(failure.back) != 0) {
        png_destroy_write_struct(&png, &info);
        return failure.message[0] != '\0' ? failure.message : "PNG encoding failed";
    }
    png_init_io(png, file);
    const int type = indices != nullptr      ? PNG_COLOR_TYPE_PALETTE
                     : picture.channels == 1 ? PNG_COLOR_TYPE_GRAY
                     : picture.channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA
                                             : PNG_COLOR_TYPE_RGB;
    const int bits = indices != nullptr ? 8 : picture.bits;
    png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width),
                 static_cast<png_uint_32>(picture.height), bits, type, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (indices != nullptr) {
        png_set_PLTE(png, info, colours.data(), static_cast<int>(colours.size()));
        if (!alphas.empty()) {
            png_set_tRNS(png, info, alphas.data(), static_cast<int>(alphas.size()), nullptr);
        }
    }
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, 3);
    png_write_info(png, info);
    const std::uint8_t *rows = indices != nullptr ? indices->data() : picture.bytes.data();
    // 16-bit samples are stored high byte first, as PNG keeps them.
    const std::size_t row =
        static_cast<std::size_t>(picture.width) *
        (indices != nullptr ? 1 : static_cast<std::size_t>(picture.channels * picture.bits / 8));
    for (int y = 0; y < picture.height; ++y) {
        png_write_row(png, rows + static_cast<std::size_t>(y) * row);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return {};
}

// Encodes `picture` onto `file`, as indices into a palette when it can.
std::string encode(std::FILE *file, const image &picture) {
    std::vector<std::uint8_t> indices;
    std::vector<png_color> colours;
    std::vector<std::uint8_t> alphas;
    const bool indexed = topalette(picture, indices, colours, alphas);
    return encode(file, picture, indexed ? &indices : nullptr, colours, alphas);
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
    if (webp) {
        std::vector<unsigned char> encoded;
        const std::string problem = encodewebp(picture, encoded);
        if (!problem.empty()) {
            if (fd >= 0) {
                ::close(fd);
                fd = -1;
            }
            return problem;
        }
        return writebytes(fd, bytes, std::move(encoded));
    }
    if (fd < 0) {
        char *memory = nullptr;
        std::size_t size = 0;
        std::FILE *stream = ::open_memstream(&memory, &size);
        if (stream == nullptr) {
            return std::strerror(errno);
        }
        const std::string problem = encode(stream, picture);
        const bool closed = std::fclose(stream) == 0;
        if (problem.empty() && closed) {
            bytes.assign(memory, memory + size);
        }
        std::free(memory);
        return !problem.empty() ? problem : (closed ? std::string() : "out of memory");
    }
    std::FILE *file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        fd = -1;
        return std::strerror(error);
    }
    fd = -1; // closed with the stream
    const std::string problem = encode(file, picture);
    int error = std::fflush(file) == 0 ? 0 : errno;
    if (std::fclose(file) != 0 && error == 0) {
        error = errno;
    }
    if (!problem.empty()) {
        return problem;
    }
    return error != 0 ? std::strerror(error) : std::string();
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
