#include "batch.h"

#include <algorithm>
#include <atomic>
#include <cctype>
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

namespace render {
namespace {

namespace fs = std::filesystem;

std::string lowercase(std::string text) {
    for (char &c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// A message on one line, whatever the child put in it.
std::string oneline(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

// A file as the file system knows it, however its name is spelt.
using fileid = std::pair<dev_t, ino_t>;

std::optional<fileid> identify(const fs::path &path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return fileid{st.st_dev, st.st_ino};
}

// The mesh's file name, without the slashes a folder name may end in; the
// built-in bunny is "bunny".
std::string filenameof(const std::string &mesh) {
    if (mesh.empty()) {
        return "bunny";
    }
    std::string p = mesh;
    while (p.size() > 1 && p.back() == '/') {
        p.pop_back();
    }
    const std::string name = fs::path(p).filename().string();
    return name.empty() || name == "." || name == ".." || name == "/" ? "mesh" : name;
}

// Each mesh once, in the order first given: the same file named twice (or
// through two spellings, or a link) makes one picture.
std::vector<std::string> distinctmeshes(const std::vector<std::string> &meshes) {
    std::vector<std::string> kept;
    std::set<fileid> files;
    std::set<std::string> names;
    for (const std::string &m : meshes) {
        const auto id = identify(m);
        if (id ? files.insert(*id).second : names.insert(m).second) {
            kept.push_back(m);
        }
    }
    return kept;
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
            ::sigaction(stopsignals[i], &action, &oldstop_[i]);
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

void writeall(int fd, const std::string &text) {
    const char *p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
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
        ::sigaction(s, &standard, nullptr);
    }
    runningpids = nullptr;
    runningslots = 0;
    madecount = 0;
    ::sigprocmask(SIG_SETMASK, &mask, nullptr);
    // Ends with the batch however the batch ends, even on SIGKILL.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) {
        ::_exit(2);
    }
    ::dup2(out, STDOUT_FILENO);
    ::close(out);

    int status = 0;
    std::string problem;
    try {
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
        status = 2;
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

// "[#########       ] 12/40" on one line of a terminal.
class progressbar {
  public:
    explicit progressbar(std::size_t total) : total_(total), shown_(::isatty(STDERR_FILENO) == 1) {
        draw(0);
    }
    // A line of its own, above the bar.
    void say(const std::string &line, std::size_t done) {
        std::string text = shown_ ? "\r\033[K" : "";
        text += line + "\n";
        writeall(STDERR_FILENO, text);
        draw(done);
    }
    void draw(std::size_t done) {
        if (!shown_) {
            return;
        }
        constexpr std::size_t cells = 30;
        const std::size_t filled = done * cells / total_;
        std::string text = "\r[" + std::string(filled, '#') + std::string(cells - filled, ' ') +
                           "] " + std::to_string(done) + "/" + std::to_string(total_);
        if (done == total_) {
            text += "\n";
        }
        writeall(STDERR_FILENO, text);
    }

  private:
    std::size_t total_;
    bool shown_;
};

std::string signalname(int signal) {
    const char *name = ::sigabbrev_np(signal);
    return name != nullptr ? "SIG" + std::string(name) : "signal " + std::to_string(signal);
}

} // namespace

std::vector<std::string> batchoutputs(const std::vector<std::string> &meshes,
                                      const std::string &outdir) {
    const std::size_t n = meshes.size();
    std::vector<std::string> whole(n);
    std::vector<std::string> preferred(n);
    std::map<std::string, int> stems;
    for (std::size_t i = 0; i < n; ++i) {
        whole[i] = filenameof(meshes[i]);
        preferred[i] = fs::path(whole[i]).stem().string();
        ++stems[lowercase(preferred[i])];
    }
    // Meshes that share a stem all keep their extensions.
    std::map<std::string, int> names;
    for (std::size_t i = 0; i < n; ++i) {
        if (stems[lowercase(preferred[i])] > 1) {
            preferred[i] = whole[i];
        }
        ++names[lowercase(preferred[i])];
    }

    std::set<fileid> inputs;
    for (const std::string &m : meshes) {
        if (const auto id = identify(m)) {
            inputs.insert(*id);
        }
    }
    std::set<fileid> written;
    // Taken: a name's lower case once a picture has it; the names no other
    // mesh shares are promised to their meshes from the start.
    std::set<std::string> taken;
    for (std::size_t i = 0; i < n; ++i) {
        if (names[lowercase(preferred[i])] == 1) {
            taken.insert(lowercase(preferred[i] + ".png"));
        }
    }
    const auto usable = [&](const std::string &name) {
        const auto id = identify(fs::path(outdir) / name);
        return !id || (inputs.count(*id) == 0 && written.count(*id) == 0);
    };

    std::vector<std::string> outputs(n);
    std::set<std::string> shared; // names a first mesh has already had
    for (std::size_t i = 0; i < n; ++i) {
        const std::string plain = preferred[i] + ".png";
        std::string name = plain;
        const bool unique = names[lowercase(preferred[i])] == 1;
        if (!unique && !shared.insert(lowercase(preferred[i])).second) {
            name.clear(); // a later mesh of the same name: numbered
        } else if (!unique && taken.count(lowercase(plain)) != 0) {
            name.clear(); // a numbered name took it earlier
        }
        if (!name.empty() && !usable(name)) {
            name.clear();
        }
        for (int k = 2; name.empty(); ++k) {
            const std::string numbered = preferred[i] + "-" + std::to_string(k) + ".png";
            if (taken.count(lowercase(numbered)) == 0 && usable(numbered)) {
                name = numbered;
            }
        }
        taken.insert(lowercase(name));
        const fs::path path = fs::path(outdir) / name;
        if (const auto id = identify(path)) {
            written.insert(*id);
        }
        outputs[i] = path.string();
    }
    return outputs;
}

int runbatch(const options &opts) {
    if (opts.frames > 0) {
        throw failure("--frames turns one mesh into numbered pictures: it does not go with "
                      "--out-dir");
    }
    if (!opts.depth.empty()) {
        throw failure("--depth names one depth picture: it does not go with --out-dir");
    }
    const std::vector<std::string> meshes =
        opts.meshes.empty() ? std::vector<std::string>{std::string()} : distinctmeshes(opts.meshes);
    outputfolder folder(opts.outdir);
    const std::vector<std::string> outputs = batchoutputs(meshes, opts.outdir);

    const std::size_t slots = std::min<std::size_t>(
        meshes.size(), opts.jobs > 0 ? static_cast<unsigned>(opts.jobs) : availablecores());
    std::vector<std::atomic<pid_t>> pids(slots);
    std::vector<worker> workers(slots);
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw failure(std::string("cannot start the batch: ") + std::strerror(errno));
    }
    wakefd = wake[1];
    runningpids = pids.data();
    runningslots = slots;
    batchsignals handlers;

    progressbar bar(meshes.size());
    std::size_t next = 0;
    std::size_t done = 0;
    std::size_t failed = 0;
    std::size_t running = 0;

    const auto start = [&](std::size_t slot) {
        worker &w = workers[slot];
        w = worker{};
        w.mesh = next++;
        int out[2];
        int message[2];
        std::string problem;
        if (::pipe2(out, O_CLOEXEC) != 0) {
            problem = std::strerror(errno);
        } else if (::pipe2(message, O_CLOEXEC) != 0) {
            problem = std::strerror(errno);
            ::close(out[0]);
            ::close(out[1]);
        }
        if (problem.empty()) {
            // Nothing buffered is written twice, by the parent and the child.
            std::fflush(nullptr);
            const pid_t parent = ::getpid();
            const holdsignals hold;
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::close(out[0]);
                ::close(message[0]);
                ::close(wake[0]);
                ::close(wake[1]);
                for (const worker &other : workers) {
                    if (&other != &w && other.pid > 0) {
                        ::close(other.out);
                        ::close(other.message);
                    }
                }
                drawinchild(opts, {meshes[w.mesh], outputs[w.mesh], {}}, out[1], message[1],
                            hold.before(), parent);
            }
            const int forkerror = errno;
            ::close(out[1]);
            ::close(message[1]);
            if (pid < 0) {
                ::close(out[0]);
                ::close(message[0]);
                problem = std::strerror(forkerror);
            } else {
                w.pid = pid;
                w.out = out[0];
                w.message = message[0];
                ::fcntl(w.out, F_SETFL, O_NONBLOCK);
                ::fcntl(w.message, F_SETFL, O_NONBLOCK);
                pids[slot].store(pid);
                ++running;
                return;
            }
        }
        ++done;
        ++failed;
        bar.say("trel-render: " + filenameof(meshes[w.mesh]) +
                    ": cannot start drawing it: " + problem,
                done);
    };

    // A child has ended with `status`: its pipes are read to their end and
    // its outcome reported.
    const auto finish = [&](std::size_t slot, int status) {
        worker &w = workers[slot];
        readsome(w.out, w.said, std::size_t{1} << 20);
        readsome(w.message, w.problem, std::size_t{64} << 10);
        closefd(w.out);
        closefd(w.message);
        w.pid = -1;
        --running;
        ++done;
        const std::string &mesh = meshes[w.mesh].empty() ? "bunny" : meshes[w.mesh];
        if (!w.said.empty()) {
            writeall(STDOUT_FILENO, "mesh: " + mesh + "\n" + w.said);
        }
        std::string problem;
        if (WIFSIGNALED(status)) {
            problem = "drawing it stopped on signal " + signalname(WTERMSIG(status));
        } else if (!w.problem.empty()) {
            problem = oneline(w.problem);
        } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            problem = "drawing it ended with status " + std::to_string(WEXITSTATUS(status));
        }
        if (problem.empty()) {
            bar.draw(done);
        } else {
            ++failed;
            bar.say("trel-render: " + mesh + ": " + problem, done);
        }
    };

    while (done < meshes.size()) {
        for (std::size_t slot = 0; slot < slots && next < meshes.size(); ++slot) {
            if (workers[slot].pid <= 0) {
                start(slot);
            }
        }
        if (running == 0) {
            continue;
        }
        std::vector<pollfd> fds{{wake[0], POLLIN, 0}};
        for (const worker &w : workers) {
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
        int wakeread = wake[0];
        readsome(wakeread, ignored, 0);
        for (worker &w : workers) {
            if (w.pid > 0) {
                readsome(w.out, w.said, std::size_t{1} << 20);
                readsome(w.message, w.problem, std::size_t{64} << 10);
            }
        }
        for (;;) {
            int status = 0;
            pid_t pid = 0;
            std::size_t slot = 0;
            {
                const holdsignals hold;
                pid = ::waitpid(-1, &status, WNOHANG);
                if (pid <= 0) {
                    break;
                }
                while (slot < slots && workers[slot].pid != pid) {
                    ++slot;
                }
                if (slot < slots) {
                    pids[slot].store(0);
                }
            }
            if (slot < slots) {
                finish(slot, status);
            }
        }
    }

    runningpids = nullptr;
    runningslots = 0;
    ::close(wake[0]);
    ::close(wake[1]);
    wakefd = -1;
    if (failed == meshes.size()) {
        folder.removeempty();
    }
    return failed > 0 ? 2 : 0;
}

} // namespace render
