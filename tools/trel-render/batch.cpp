#include "batch.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "failure.h"
#include "job.h"
#include "load.h"
#include "plan.h"
#include "text.h"
#include "writer.h"

namespace render {
namespace {

namespace fs = std::filesystem;

// Each mesh once, in the order first given: the same file named twice (or
// through two spellings, or a link) makes one picture, and a note says so.
std::vector<std::string> distinctmeshes(const std::vector<std::string> &meshes) {
    std::vector<std::string> kept;
    std::map<fileid, std::string> files;
    std::set<std::string> names;
    for (const std::string &m : meshes) {
        const auto id = identify(m);
        const auto [first, fresh] =
            id ? files.emplace(*id, m) : std::pair{files.end(), names.insert(m).second};
        if (fresh) {
            kept.push_back(m);
        } else {
            const std::string &earlier = first != files.end() ? first->second : m;
            std::fprintf(stderr, "trel-render: note: '%s' is the same file as '%s': drawn once\n",
                         m.c_str(), earlier.c_str());
        }
    }
    return kept;
}

// True when `mesh` has an extension that no loader reads files of (a
// README.md among data/*): unless its content turns out to be a mesh after
// all, a batch skips it.
bool claimednot(const std::string &mesh) { return !trel::loader::claims(mesh); }

// The meshes a batch draws: each file once.
std::vector<std::string> batchmeshes(const std::vector<std::string> &given) {
    return given.empty() ? std::vector<std::string>{std::string()} : distinctmeshes(given);
}

// --- Signals -------------------------------------------------------------

// What the signal handlers see of the batch: the children running (0 for a
// free slot), the folders the batch made, and the pipe that wakes the main
// loop when a child ends.
std::atomic<pid_t> *runningpids = nullptr;
std::size_t runningslots = 0;
const char *const *madefolders = nullptr; // deepest first
std::size_t madecount = 0;
int wakefd = -1;

extern "C" void childended(int) {
    const int saved = errno;
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(wakefd, &byte, 1);
    errno = saved;
}

// Ctrl-C, a hang-up or a kill: every child is sent the same signal (each
// removes its own temporary files on it) and waited for, a folder the batch
// made and left empty goes, and the batch ends on the signal itself.
extern "C" void stopped(int signal) {
    for (std::size_t i = 0; i < runningslots; ++i) {
        if (const pid_t pid = runningpids[i].load(); pid > 0) {
            ::kill(pid, signal);
        }
    }
    for (std::size_t i = 0; i < runningslots; ++i) {
        if (const pid_t pid = runningpids[i].load(); pid > 0) {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
    }
    for (std::size_t i = 0; i < madecount; ++i) {
        ::rmdir(madefolders[i]);
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

constexpr int stopsignals[] = {SIGINT, SIGTERM, SIGHUP};

sigset_t stopset() {
    sigset_t set;
    sigemptyset(&set);
    for (const int s : stopsignals) {
        sigaddset(&set, s);
    }
    return set;
}

// Holds the stop signals back while the table of children changes, so that
// the handler never sends a signal to a pid that has been reaped (and may
// have been given to another process).
class holdsignals {
  public:
    holdsignals() {
        const sigset_t set = stopset();
        ::sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~holdsignals() { ::sigprocmask(SIG_SETMASK, &old_, nullptr); }
    holdsignals(const holdsignals &) = delete;
    holdsignals &operator=(const holdsignals &) = delete;
    const sigset_t &before() const { return old_; }

  private:
    sigset_t old_;
};

// Installs the batch's handlers for as long as it runs.
class batchsignals {
  public:
    batchsignals() {
        struct sigaction action {};
        sigemptyset(&action.sa_mask);
        action.sa_handler = childended;
        action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
        ::sigaction(SIGCHLD, &action, &oldchld_);
        action.sa_handler = stopped;
        action.sa_flags = 0;
        action.sa_mask = stopset();
        for (std::size_t i = 0; i < std::size(stopsignals); ++i) {
            // A signal ignored at the start (a shell's background job) stays so.
            ::sigaction(stopsignals[i], ignoredatstart(stopsignals[i]) ? nullptr : &action,
                        &oldstop_[i]);
        }
    }
    ~batchsignals() {
        ::sigaction(SIGCHLD, &oldchld_, nullptr);
        for (std::size_t i = 0; i < std::size(stopsignals); ++i) {
            ::sigaction(stopsignals[i], &oldstop_[i], nullptr);
        }
    }
    batchsignals(const batchsignals &) = delete;
    batchsignals &operator=(const batchsignals &) = delete;

  private:
    struct sigaction oldchld_ {};
    struct sigaction oldstop_[std::size(stopsignals)]{};
};

// --- The output folder ---------------------------------------------------

// Makes `outdir` and whatever of its parents is missing, and remembers which
// it made: those that end the batch empty are removed again.
class outputfolder {
  public:
    explicit outputfolder(const std::string &outdir) {
        std::error_code ec;
        const fs::file_status status = fs::status(outdir, ec);
        if (fs::exists(status)) {
            if (!fs::is_directory(status)) {
                throw failure("--out-dir '" + outdir + "' is not a folder");
            }
        } else {
            std::vector<fs::path> missing;
            fs::path folder = fs::path(outdir).lexically_normal();
            if (!folder.has_filename()) {
                folder = folder.parent_path(); // "thumbs/" is "thumbs"
            }
            for (fs::path p = folder; !p.empty(); p = p.parent_path()) {
                if (fs::exists(fs::symlink_status(p, ec)) || p == p.parent_path()) {
                    break;
                }
                missing.push_back(p);
            }
            if (!fs::create_directories(outdir, ec) && ec) {
                throw failure("cannot make the folder '" + outdir + "': " + ec.message());
            }
            for (const fs::path &p : missing) {
                made_.push_back(p.string());
            }
        }
        if (::access(outdir.c_str(), W_OK | X_OK) != 0) {
            removeempty();
            throw failure("cannot write into '" + outdir + "': " + std::strerror(errno));
        }
        for (const std::string &m : made_) {
            names_.push_back(m.c_str());
        }
        madefolders = names_.data();
        madecount = names_.size();
    }
    ~outputfolder() {
        madecount = 0;
        madefolders = nullptr;
    }
    outputfolder(const outputfolder &) = delete;
    outputfolder &operator=(const outputfolder &) = delete;

    // Removes the folders made here that hold nothing.
    void removeempty() {
        for (const std::string &m : made_) {
            ::rmdir(m.c_str());
        }
    }

  private:
    std::vector<std::string> made_; // deepest first
    std::vector<const char *> names_;
};

// --- Children --------------------------------------------------------------

// One mesh being drawn by a child: its pid, and the parent's ends of the two
// pipes it writes to, its standard output and its failure message.
struct worker {
    std::size_t mesh = 0;
    pid_t pid = -1;
    int out = -1;
    int message = -1;
    std::string said;    // its standard output, relayed when it ends
    std::string problem; // its failure message
};

void closefd(int &fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// Reads what `fd` holds now into `into` (up to `limit` bytes in all); closes
// it at its end.
void readsome(int &fd, std::string &into, std::size_t limit) {
    char buffer[4096];
    while (fd >= 0) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            const std::size_t room = limit - std::min(limit, into.size());
            into.append(buffer, std::min(room, static_cast<std::size_t>(n)));
        } else if (n == 0) {
            closefd(fd);
        } else if (errno != EINTR) {
            if (errno != EAGAIN) {
                closefd(fd);
            }
            return;
        }
    }
}

// The child: draws one mesh and ends, its failure (if any) written to
// `message` on one line.
[[noreturn]] void drawinchild(const options &opts, const job &work, int out, int message,
                              const sigset_t &mask, pid_t parent) {
    // The batch's handlers are the parent's: the child ends on a signal the
    // way a single run does (removing its temporary files). The signals the
    // parent held back while forking are let through only then.
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    ::sigaction(SIGCHLD, &standard, nullptr);
    for (const int s : stopsignals) {
        ::signal(s, ignoredatstart(s) ? SIG_IGN : SIG_DFL);
    }
    runningpids = nullptr;
    runningslots = 0;
    madecount = 0;
    ::sigprocmask(SIG_SETMASK, &mask, nullptr);
    // Ends with the batch however the batch ends, even on SIGKILL.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) {
        ::_exit(statusfailed);
    }
    ::dup2(out, STDOUT_FILENO);
    ::close(out);

    int status = statusdone;
    std::string problem;
    try {
        if (claimednot(work.mesh)) {
            try {
                static_cast<void>(trel::loader::loadmesh(work.mesh, opts.limits));
            } catch (const failure &) {
                std::exit(statusnotamesh);
            }
        }
        renderjob(opts, work);
    } catch (const failure &e) {
        problem = e.what();
    } catch (const std::bad_alloc &) {
        problem = "out of memory";
    } catch (const std::exception &e) {
        problem = e.what();
    }
    if (!problem.empty()) {
        writeall(message, problem);
        status = statusfailed;
    }
    std::fflush(stdout);
    std::exit(status);
}

// The processor cores this program may run on.
unsigned availablecores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
        return static_cast<unsigned>(CPU_COUNT(&set));
    }
    return std::max(1U, std::thread::hardware_concurrency());
}

std::string signalname(int signal) {
    const char *name = ::sigabbrev_np(signal);
    return name != nullptr ? "SIG" + std::string(name) : "signal " + std::to_string(signal);
}

// A batch as it runs: the queue of meshes, the children drawing them a few
// at a time, what each child wrote and how it ended, and the report.
class batchrun {
  public:
    batchrun(const options &opts, std::vector<std::string> meshes, std::vector<std::string> outputs)
        : opts_(opts), meshes_(std::move(meshes)), outputs_(std::move(outputs)),
          slots_(std::min<std::size_t>(
              meshes_.size(), opts.jobs > 0 ? static_cast<unsigned>(opts.jobs) : availablecores())),
          pids_(slots_), workers_(slots_), bar_(meshes_.size()) {
        if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
            throw failure(std::string("cannot start the batch: ") + std::strerror(errno));
        }
        wakefd = wake_[1];
        runningpids = pids_.data();
        runningslots = slots_;
    }
    ~batchrun() {
        runningpids = nullptr;
        runningslots = 0;
        ::close(wake_[0]);
        ::close(wake_[1]);
        wakefd = -1;
    }
    batchrun(const batchrun &) = delete;
    batchrun &operator=(const batchrun &) = delete;

    // Draws every mesh; the number that failed.
    std::size_t run() {
        const batchsignals handlers;
        while (done_ < meshes_.size()) {
            for (std::size_t slot = 0; slot < slots_ && next_ < meshes_.size(); ++slot) {
                if (workers_[slot].pid <= 0) {
                    start(slot);
                }
            }
            if (running_ > 0) {
                waitforchildren();
                reap();
            }
        }
        return failed_;
    }

  private:
    const std::string &meshname(std::size_t mesh) const {
        static const std::string bunny = "bunny";
        return meshes_[mesh].empty() ? bunny : meshes_[mesh];
    }

    void report(std::size_t mesh, const std::string &problem) {
        ++failed_;
        bar_.say("trel-render: " + meshname(mesh) + ": " + problem, done_);
    }

    // Forks the child that draws the next mesh in `slot`.
    void start(std::size_t slot) {
        worker &w = workers_[slot];
        w = worker{};
        w.mesh = next_++;
        int out[2];
        int message[2];
        if (::pipe2(out, O_CLOEXEC) != 0) {
            ++done_;
            return report(w.mesh, std::string("cannot start drawing it: ") + std::strerror(errno));
        }
        if (::pipe2(message, O_CLOEXEC) != 0) {
            const int error = errno;
            ::close(out[0]);
            ::close(out[1]);
            ++done_;
            return report(w.mesh, std::string("cannot start drawing it: ") + std::strerror(error));
        }
        // Nothing buffered is written twice, by the parent and the child.
        std::fflush(nullptr);
        const pid_t parent = ::getpid();
        const holdsignals hold;
        const pid_t pid = ::fork();
        if (pid == 0) {
            closeinchild(w, out[0], message[0]);
            drawinchild(opts_, {meshes_[w.mesh], outputs_[w.mesh], {}}, out[1], message[1],
                        hold.before(), parent);
        }
        const int forkerror = errno;
        ::close(out[1]);
        ::close(message[1]);
        if (pid < 0) {
            ::close(out[0]);
            ::close(message[0]);
            ++done_;
            return report(w.mesh,
                          std::string("cannot start drawing it: ") + std::strerror(forkerror));
        }
        w.pid = pid;
        w.out = out[0];
        w.message = message[0];
        ::fcntl(w.out, F_SETFL, O_NONBLOCK);
        ::fcntl(w.message, F_SETFL, O_NONBLOCK);
        pids_[slot].store(pid);
        ++running_;
    }

    // In a new child: the parent's ends of every pipe are closed.
    void closeinchild(const worker &self, int out, int message) {
        ::close(out);
        ::close(message);
        ::close(wake_[0]);
        ::close(wake_[1]);
        for (const worker &other : workers_) {
            if (&other != &self && other.pid > 0) {
                ::close(other.out);
                ::close(other.message);
            }
        }
    }

    // Waits until a child ends or writes, reading what the children wrote.
    void waitforchildren() {
        std::vector<pollfd> fds{{wake_[0], POLLIN, 0}};
        for (const worker &w : workers_) {
            for (const int fd : {w.out, w.message}) {
                if (w.pid > 0 && fd >= 0) {
                    fds.push_back({fd, POLLIN, 0});
                }
            }
        }
        // The wake pipe ends the wait when a child ends; the timeout is only
        // a backstop.
        ::poll(fds.data(), fds.size(), 1000);
        std::string ignored;
        int wakeread = wake_[0];
        readsome(wakeread, ignored, 0);
        for (worker &w : workers_) {
            if (w.pid > 0) {
                readsome(w.out, w.said, std::size_t{1} << 20);
                readsome(w.message, w.problem, std::size_t{64} << 10);
            }
        }
    }

    // Every child that has ended is reaped and its outcome reported.
    void reap() {
        for (;;) {
            int status = 0;
            std::size_t slot = 0;
            {
                const holdsignals hold;
                const pid_t pid = ::waitpid(-1, &status, WNOHANG);
                if (pid <= 0) {
                    return;
                }
                while (slot < slots_ && workers_[slot].pid != pid) {
                    ++slot;
                }
                if (slot < slots_) {
                    pids_[slot].store(0);
                }
            }
            if (slot < slots_) {
                finish(slot, status);
            }
        }
    }

    // A child has ended with `status`: its pipes are read to their end, a
    // child ended by a signal has its temporary files removed, and its
    // outcome is reported.
    void finish(std::size_t slot, int status) {
        worker &w = workers_[slot];
        readsome(w.out, w.said, std::size_t{1} << 20);
        readsome(w.message, w.problem, std::size_t{64} << 10);
        closefd(w.out);
        closefd(w.message);
        if (WIFSIGNALED(status)) {
            removetemporaries(outputs_[w.mesh], w.pid);
        }
        w.pid = -1;
        --running_;
        ++done_;
        if (!w.said.empty()) {
            writeall(STDOUT_FILENO, "mesh: " + meshname(w.mesh) + "\n" + w.said);
        }
        if (WIFSIGNALED(status)) {
            report(w.mesh, "drawing it stopped on signal " + signalname(WTERMSIG(status)));
        } else if (WIFEXITED(status) && WEXITSTATUS(status) == statusnotamesh) {
            skipped_.push_back(w.mesh);
            bar_.draw(done_);
        } else if (!w.problem.empty()) {
            report(w.mesh, oneline(w.problem));
        } else if (!WIFEXITED(status) || WEXITSTATUS(status) != statusdone) {
            report(w.mesh, "drawing it ended with status " + std::to_string(WEXITSTATUS(status)));
        } else {
            bar_.draw(done_);
        }
    }

    const options &opts_;
    const std::vector<std::string> meshes_;
    const std::vector<std::string> outputs_;
    const std::size_t slots_;
    std::vector<std::atomic<pid_t>> pids_;
    std::vector<worker> workers_;
    progressbar bar_;
    int wake_[2] = {-1, -1};
    std::size_t next_ = 0;
    std::size_t done_ = 0;
    std::size_t failed_ = 0;
    std::size_t running_ = 0;

  public:
    std::vector<std::size_t> skipped_; // the files found not to be meshes
};

// Says how many files the batch skipped as no meshes, naming the first.
void reportskipped(const std::vector<std::string> &meshes, std::vector<std::size_t> skipped) {
    if (skipped.empty()) {
        return;
    }
    std::sort(skipped.begin(), skipped.end());
    std::fprintf(stderr,
                 "trel-render: note: skipped %zu file%s that no loader reads (%s%s): no picture\n",
                 skipped.size(), skipped.size() == 1 ? "" : "s", meshes[skipped.front()].c_str(),
                 skipped.size() > 1 ? ", ..." : "");
}

} // namespace

int runbatch(const options &opts) {
    if (opts.frames > 0) {
        throw failure("--frames turns one mesh into numbered pictures: it does not go with "
                      "--out-dir");
    }
    if (!opts.depth.empty()) {
        throw failure("--depth names one depth picture: it does not go with --out-dir");
    }
    const std::vector<std::string> meshes = batchmeshes(opts.meshes);
    outputfolder folder(opts.outdir);
    std::vector<std::string> outputs = trel::encode::batchoutputs(meshes, opts.outdir);
    batchrun batch(opts, meshes, std::move(outputs));
    const std::size_t failed = batch.run();
    if (failed + batch.skipped_.size() == meshes.size()) {
        folder.removeempty();
    }
    if (batch.skipped_.size() == meshes.size()) {
        throw failure("none of the " + std::to_string(meshes.size()) +
                      " files given is a mesh that a loader reads");
    }
    reportskipped(meshes, batch.skipped_);
    return failed > 0 ? statusfailed : statusdone;
}

} // namespace render
