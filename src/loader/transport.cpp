// The child parses the file and writes one record on a pipe: a header, then
// either the mesh (each of its arrays in turn, as they lie in memory, in the
// order of `eacharray` below) or a message. Its stderr goes to a second pipe,
// whose last line explains a crash (assimp's internal checks print there
// before they abort).
#include "transport.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "text.h"

namespace trel::loader {

using scene::failure;
using scene::mesh;
using scene::vec3;

namespace {

enum recordkind : std::uint32_t { meshrecord = 1, failurerecord = 2, memoryrecord = 3 };

// The longest message a failure record may carry.
constexpr std::uint64_t longestmessage = 64 * 1024;

// What the child writes first: what follows, and for a mesh the length of
// each of its arrays, in elements.
struct record {
    std::uint32_t kind = 0;
    std::uint16_t closed = 0;
    std::uint16_t zupfile = 0;
    std::uint64_t message = 0; // a failure's message, in bytes
    std::uint64_t vertices = 0;
    std::uint64_t triangles = 0;
    std::uint64_t lines = 0;
    std::uint64_t points = 0;
    std::uint64_t trianglecolours = 0;
    std::uint64_t linecolours = 0;
    std::uint64_t pointcolours = 0;
    std::uint64_t sealed = 0;
};

static_assert(sizeof(vec3) == 3 * sizeof(double));
static_assert(sizeof(std::array<std::uint32_t, 3>) == 3 * sizeof(std::uint32_t));
static_assert(sizeof(std::array<std::uint32_t, 2>) == 2 * sizeof(std::uint32_t));

// Calls `f(array, length)` for each array of `m` with its length in `r`, in
// the order they travel.
template <class Record, class F> void eacharray(mesh &m, Record &r, F f) {
    f(m.vertices, r.vertices);
    f(m.triangles, r.triangles);
    f(m.lines, r.lines);
    f(m.points, r.points);
    f(m.trianglecolours, r.trianglecolours);
    f(m.linecolours, r.linecolours);
    f(m.pointcolours, r.pointcolours);
    f(m.sealed, r.sealed);
}

// The data pipe, for the allocation failure handler of the child.
int recordfd = -1;

bool writeall(int fd, const void *data, std::size_t size) {
    const auto *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Called by operator new in the child when the address-space limit refuses
// memory: reports it and ends the child, whoever would have caught bad_alloc.
void reportoutofmemory() {
    record r;
    r.kind = memoryrecord;
    writeall(recordfd, &r, sizeof r);
    ::_exit(childstatus::outofmemory);
}

void sendfailure(const std::string &message) {
    record r;
    r.kind = failurerecord;
    r.message = message.size();
    writeall(recordfd, &r, sizeof r);
    writeall(recordfd, message.data(), message.size());
}

// Writes the mesh record: the lengths, then every array as it lies in memory.
bool sendmesh(int fd, mesh &m) {
    record r;
    r.kind = meshrecord;
    r.closed = m.closed ? 1U : 0U;
    r.zupfile = m.zupfile ? 1U : 0U;
    eacharray(m, r, [](const auto &array, std::uint64_t &length) { length = array.size(); });
    bool sent = writeall(fd, &r, sizeof r);
    eacharray(m, r, [&](const auto &array, std::uint64_t) {
        sent = sent && writeall(fd, array.data(), array.size() * sizeof(array[0]));
    });
    return sent;
}

#if defined(__SANITIZE_ADDRESS__)
#define TREL_RENDER_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TREL_RENDER_SANITIZED 1
#endif
#endif

// Sets the child's limits and the way it reports: standard output to
// /dev/null, standard error to `errfd`, the record to `datafd`.
void preparechild(const limits &limits, int datafd, int errfd) {
    // Nothing of the parser's reaches the program's own output, which may be
    // the picture itself (-o -); its complaints go to the parent.
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDOUT_FILENO);
    }
    ::dup2(errfd, STDERR_FILENO);
    recordfd = datafd;

    const rlimit nocore{0, 0};
    ::setrlimit(RLIMIT_CORE, &nocore);
#if !defined(TREL_RENDER_SANITIZED)
    // A sanitizer reserves terabytes of address space up front, so sanitized
    // builds parse under the time limit only.
    const rlim_t bytes = static_cast<rlim_t>(limits.memorymib) << 20;
    const rlimit space{bytes, bytes};
    ::setrlimit(RLIMIT_AS, &space);
#else
    (void)limits;
#endif
    std::set_new_handler(reportoutofmemory);
    // Large blocks come from the heap and stay there when freed, rather than
    // each being mapped afresh and returned: the parser's file buffer and
    // scratch then become the joined mesh's arrays without faulting in new
    // pages, which costs more than the copying on a virtual machine.
    ::mallopt(M_MMAP_THRESHOLD, 1 << 30);
    ::mallopt(M_TRIM_THRESHOLD, 1 << 30);
    ::mallopt(M_TOP_PAD, 16 << 20);
}

// The parent's end of the two pipes, read against one deadline.
class childpipes {
  public:
    childpipes(int data, int err, std::chrono::steady_clock::time_point deadline)
        : data_(data), err_(err), deadline_(deadline) {}
    ~childpipes() {
        ::close(data_);
        if (err_ >= 0) {
            ::close(err_);
        }
    }
    childpipes(const childpipes &) = delete;
    childpipes &operator=(const childpipes &) = delete;

    enum class outcome { complete, ended, late };

    // Fills `size` bytes at `into` from the data pipe, collecting stderr on
    // the way: complete, or the child closed the pipe first, or the deadline passed.
    outcome read(void *into, std::size_t size) {
        auto *bytes = static_cast<char *>(into);
        while (size > 0) {
            const auto left = timeleft();
            if (left.count() <= 0) {
                return outcome::late;
            }
            pollfd fds[2] = {{data_, POLLIN, 0}, {err_, POLLIN, 0}};
            const int ready =
                ::poll(fds, err_ >= 0 ? 2 : 1,
                       static_cast<int>(std::min<long long>(left.count() + 1, 1000 * 1000)));
            if (ready < 0 && errno != EINTR) {
                throw failure("cannot load mesh: " + std::string(std::strerror(errno)));
            }
            if (ready <= 0) {
                continue;
            }
            if (err_ >= 0 && fds[1].revents != 0) {
                drainerr();
            }
            if (fds[0].revents != 0) {
                const ssize_t n = ::read(data_, bytes, size);
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                if (n <= 0) {
                    return outcome::ended;
                }
                bytes += n;
                size -= static_cast<std::size_t>(n);
            }
        }
        return outcome::complete;
    }

    // Whatever the child still writes to stderr, until it closes it or the
    // deadline passes.
    void finisherr() {
        while (err_ >= 0) {
            const auto left = timeleft();
            pollfd fd{err_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count() + 1)) <= 0) {
                return;
            }
            drainerr();
        }
    }

    // The last line the child wrote to stderr, cleaned.
    std::string lastline() const {
        std::string_view text(err_text_);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.remove_suffix(1);
        }
        const std::size_t start = text.find_last_of('\n');
        return cleanline(start == std::string_view::npos ? text : text.substr(start + 1));
    }

  private:
    std::chrono::milliseconds timeleft() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline_ - std::chrono::steady_clock::now());
    }

    void drainerr() {
        char buffer[4096];
        const ssize_t n = ::read(err_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            return;
        }
        if (n <= 0) {
            ::close(err_);
            err_ = -1;
            return;
        }
        err_text_.append(buffer, static_cast<std::size_t>(n));
        // Only the end matters: keep the last few KiB.
        constexpr std::size_t keep = 16 * 1024;
        if (err_text_.size() > 2 * keep) {
            err_text_.erase(0, err_text_.size() - keep);
        }
    }

    int data_;
    int err_;
    std::chrono::steady_clock::time_point deadline_;
    std::string err_text_;
};

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// The parent's side of one parse: the child, its pipes and its limits, and
// the failures that name them.
class receiver {
  public:
    receiver(const std::string &path, const limits &limits, childprocess &child, childpipes &pipes)
        : path_(path), limits_(limits), child_(child), pipes_(pipes) {}

    // Reads exactly `size` bytes from the child, or throws what stopped it.
    void readall(void *into, std::size_t size) {
        switch (pipes_.read(into, size)) {
        case childpipes::outcome::late:
            throw late();
        case childpipes::outcome::ended:
            throw ended();
        case childpipes::outcome::complete:
            break;
        }
    }

    // The child is still running at the deadline: it is killed.
    failure late() {
        ::kill(child_.pid(), SIGKILL);
        child_.wait();
        return failure("loading mesh '" + path_ + "' took longer than --load-timeout " +
                       seconds(limits_.seconds) + " s");
    }

    // The child closed the pipe before its record was whole.
    failure ended() {
        pipes_.finisherr();
        const int status = child_.wait();
        std::string why = "the parser stopped";
        if (WIFSIGNALED(status)) {
            const char *name = ::sigabbrev_np(WTERMSIG(status));
            why += " on signal SIG" + std::string(name != nullptr ? name : "?");
        }
        const std::string said = pipes_.lastline();
        return failure("cannot load mesh '" + path_ + "': " + why +
                       (said.empty() ? std::string() : ": " + said));
    }

    // Throws the failure a record that carries no mesh stands for.
    void refuse(const record &r) {
        if (r.kind == memoryrecord) {
            child_.wait();
            throw failure("loading mesh '" + path_ + "' exceeds --max-memory " +
                          std::to_string(limits_.memorymib) + " MiB");
        }
        if (r.kind == failurerecord && r.message <= longestmessage) {
            std::string message(r.message, '\0');
            if (pipes_.read(message.data(), message.size()) == childpipes::outcome::late) {
                throw late();
            }
            child_.wait();
            throw failure(cleanline(message));
        }
    }

    // The mesh a mesh record announces, read into arrays of its lengths.
    // The lengths are checked before anything is allocated for them: the
    // child could only have held them all within its own limit, and each
    // colour or closed-part list has one entry for each of its elements, or
    // none.
    mesh receive(record &r) {
        mesh m;
        std::uint64_t room = limits_.memorymib << 20;
        bool fits = r.kind == meshrecord;
        eacharray(m, r, [&](auto &array, std::uint64_t length) {
            const std::uint64_t each = sizeof(array[0]);
            fits = fits && length <= room / each;
            room -= fits ? length * each : 0;
        });
        const auto listfor = [](std::uint64_t list, std::uint64_t elements) {
            return list == 0 || list == elements;
        };
        if (!fits || !listfor(r.trianglecolours, r.triangles) || !listfor(r.linecolours, r.lines) ||
            !listfor(r.pointcolours, r.points) || !listfor(r.sealed, r.triangles)) {
            ::kill(child_.pid(), SIGKILL);
            throw ended();
        }
        m.closed = r.closed != 0;
        m.zupfile = r.zupfile != 0;
        eacharray(m, r, [&](auto &array, std::uint64_t length) {
            array.resize(length);
            readall(array.data(), array.size() * sizeof(array[0]));
        });
        return m;
    }

  private:
    const std::string &path_;
    const limits &limits_;
    childprocess &child_;
    childpipes &pipes_;
};

// Whether every triangle, line and point of `m` names one of its vertices,
// and it has something to draw.
bool whole(const mesh &m) {
    const auto count = static_cast<std::uint32_t>(m.vertices.size());
    const auto inside = [count](const auto &corners) {
        return std::all_of(corners.begin(), corners.end(),
                           [count](std::uint32_t i) { return i < count; });
    };
    const bool indexed = inside(m.points) &&
                         std::all_of(m.triangles.begin(), m.triangles.end(), inside) &&
                         std::all_of(m.lines.begin(), m.lines.end(), inside);
    const bool drawable = !m.triangles.empty() || !m.lines.empty() || !m.points.empty();
    return indexed && drawable && m.vertices.size() <= std::numeric_limits<std::uint32_t>::max();
}

// The two pipes: data[0], err[0] for the parent, data[1], err[1] for the child.
void openpipes(const std::string &path, int (&data)[2], int (&err)[2]) {
    if (::pipe2(data, O_CLOEXEC) != 0) {
        throw failure("cannot load mesh '" + path + "': " + std::strerror(errno));
    }
    if (::pipe2(err, O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(data[0]);
        ::close(data[1]);
        throw failure("cannot load mesh '" + path + "': " + std::strerror(error));
    }
    // Fewer, larger reads for a big mesh; the default size works too.
    ::fcntl(data[1], F_SETPIPE_SZ, 1 << 20);
}

} // namespace

[[noreturn]] void runparse(const std::string &path, const limits &limits, parser parse, int datafd,
                           int errfd, pid_t parent) {
    // Ends with the parent, whatever ends it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) {
        ::_exit(childstatus::orphaned);
    }
    preparechild(limits, datafd, errfd);
    try {
        // The mesh is never freed: the child exits as soon as it is sent, and
        // its memory goes back whole.
        mesh &m = *new mesh(parse(path));
        ::_exit(sendmesh(datafd, m) ? childstatus::sent : childstatus::unsent);
    } catch (const failure &e) {
        sendfailure(e.what());
    } catch (const std::bad_alloc &) {
        reportoutofmemory();
    } catch (const std::exception &e) {
        sendfailure("cannot load mesh '" + path + "': " + cleanline(e.what()));
    }
    ::_exit(childstatus::sent);
}

mesh parseisolated(const std::string &path, const limits &limits, parser parsefile) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(limits.seconds));
    int data[2];
    int err[2];
    openpipes(path, data, err);
    childprocess child = startparser(path, limits, parsefile, data, err);
    const int starterror = errno;
    ::close(data[1]);
    ::close(err[1]);
    childpipes pipes(data[0], err[0], deadline);
    if (child.pid() <= 0) {
        throw failure("cannot load mesh '" + path + "': " + std::strerror(starterror));
    }
    receiver run(path, limits, child, pipes);
    record r;
    run.readall(&r, sizeof r);
    run.refuse(r);
    mesh m = run.receive(r);
    const int status = child.wait();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != childstatus::sent || !whole(m)) {
        throw failure("cannot load mesh '" + path + "': the parser handed back a broken mesh");
    }
    return m;
}

} // namespace trel::loader
