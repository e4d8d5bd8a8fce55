// Starting the parsing process. A program running on one thread forks: the
// copy starts at once and parses with the code already loaded. A program with
// threads (a Python interpreter, a Dask worker) must not: its fork copies
// locks other threads may hold, which can hang the copy in malloc, and copying
// a large address space that other threads keep writing to costs far more
// than the parse. Such a thread starts the parser program once, a small
// single-threaded server, and has each mesh parsed in a fork of that (so
// does every thread of a host that asked for it, parsewithprogram). Where
// the program is missing or cannot be started (a folder mounted noexec), the
// thread forks itself after all.
//
// The server reads requests from a socket: the memory limit and the path,
// with the child's ends of the two pipes attached. For each it forks a child
// that parses (runparse, as a fork of the program would), answers the child's
// pid, waits for it and answers its wait status.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "transport.h"

extern char **environ;

namespace trel::loader {

namespace {

// The longest path a request carries.
constexpr std::size_t longestpath = 64 * 1024;

// The descriptor the server's socket is given in the server.
constexpr int serverfd = 3;

struct request {
    std::uint64_t memorymib = 0;
};

// Waits for `pid`, through interruptions; its wait status.
int reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

bool sendvalue(int fd, std::int64_t value) {
    return ::send(fd, &value, sizeof value, MSG_NOSIGNAL) == sizeof value;
}

bool receivevalue(int fd, std::int64_t &value) {
    ssize_t n = 0;
    while ((n = ::recv(fd, &value, sizeof value, 0)) < 0 && errno == EINTR) {
    }
    return n == sizeof value;
}

// Lies in whichever file holds the loader: the program itself or the module
// that linked it.
const char anchor = 0;

// The parser program, trel-parser, beside the file that holds the loader;
// empty when it is not there.
std::string findprogram() {
    Dl_info info{};
    std::error_code ec;
    std::filesystem::path holder;
    if (::dladdr(&anchor, &info) != 0 && info.dli_fname != nullptr && info.dli_fname[0] == '/') {
        holder = info.dli_fname;
    } else {
        holder = std::filesystem::read_symlink("/proc/self/exe", ec); // the program itself
    }
    if (ec || holder.empty()) {
        return {};
    }
    const std::filesystem::path program = holder.parent_path() / "trel-parser";
    return ::access(program.c_str(), X_OK) == 0 ? program.string() : std::string();
}

const std::string &parserprogram() {
    static const std::string program = findprogram();
    return program;
}

// Set by parsewithprogram.
std::atomic<bool> alwaysprogram{false};

// Whether this process runs on one thread only (false when it cannot tell).
bool onethread() {
    std::error_code ec;
    std::size_t threads = 0;
    for (std::filesystem::directory_iterator it("/proc/self/task", ec), end; !ec && it != end;
         it.increment(ec)) {
        ++threads;
    }
    return !ec && threads == 1;
}

// The environment with glibc's malloc asked for transparent huge pages, as
// trel-render runs: a big mesh is parsed into hundreds of megabytes of heap.
std::vector<std::string> serverenvironment() {
    std::vector<std::string> variables;
    bool tuned = false;
    for (char **variable = environ; *variable != nullptr; ++variable) {
        std::string text = *variable;
        if (text.starts_with("GLIBC_TUNABLES=") &&
            text.find("glibc.malloc.hugetlb") == std::string::npos) {
            text += ":glibc.malloc.hugetlb=1";
        }
        tuned = tuned || text.starts_with("GLIBC_TUNABLES=");
        variables.push_back(std::move(text));
    }
    if (!tuned) {
        variables.emplace_back("GLIBC_TUNABLES=glibc.malloc.hugetlb=1");
    }
    return variables;
}

// Pointers to each string's characters, and a null: an argv or an envp.
std::vector<char *> pointers(std::vector<std::string> &strings) {
    std::vector<char *> out;
    for (std::string &s : strings) {
        out.push_back(s.data());
    }
    out.push_back(nullptr);
    return out;
}

} // namespace

// One thread's parser program: started on the thread's first parse, ended
// with the thread (its socket closes; it also dies with the thread that
// started it).
class parserserver {
  public:
    parserserver() = default;
    parserserver(const parserserver &) = delete;
    parserserver &operator=(const parserserver &) = delete;
    ~parserserver() { stop(); }

    // Asks for `path` to be parsed into the given ends of the pipes; the
    // child's pid, or -1 with errno set. A server found gone is replaced
    // once; one that goes after taking the request is not asked again, as a
    // child it started may have written to the pipes.
    pid_t start(const std::string &path, const limits &limits, int datafd, int errfd) {
        if (path.size() > longestpath) {
            errno = ENAMETOOLONG;
            return -1;
        }
        if (socket_ >= 0 && owner_ != ::getpid()) {
            // Inherited through a fork: that server answers the other process.
            ::close(socket_);
            socket_ = -1;
        }
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (socket_ < 0 && !spawn()) {
                unstartable_ = true;
                return -1;
            }
            if (!ask(path, limits, datafd, errfd)) {
                stop();
                continue;
            }
            std::int64_t pid = 0;
            if (!receivevalue(socket_, pid)) {
                break;
            }
            if (pid > 0) {
                return static_cast<pid_t>(pid);
            }
            errno = static_cast<int>(-pid);
            return -1;
        }
        stop();
        errno = EPIPE;
        return -1;
    }

    // The wait status of the child last started. When the server is gone, so
    // is its child, killed with it.
    int status() {
        std::int64_t status = 0;
        if (!receivevalue(socket_, status)) {
            stop();
            return SIGKILL; // as waitpid reports a child killed by SIGKILL
        }
        return static_cast<int>(status);
    }

    // Whether the program could not be started (a folder mounted noexec,
    // say): this thread then parses in forks of itself.
    bool unstartable() const { return unstartable_; }

  private:
    bool spawn() {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
            return false;
        }
        // Numbered above 3, so that moving it to 3 cannot clash.
        const int theirs = ::fcntl(pair[1], F_DUPFD_CLOEXEC, serverfd + 1);
        ::close(pair[1]);
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_adddup2(&actions, theirs, serverfd);
        ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        std::vector<std::string> words = {parserprogram(), "--serve", std::to_string(::getpid())};
        std::vector<std::string> variables = serverenvironment();
        const auto argv = pointers(words);
        const auto envp = pointers(variables);
        pid_t pid = -1;
        const int error = theirs < 0 ? errno
                                     : ::posix_spawn(&pid, words[0].c_str(), &actions, nullptr,
                                                     argv.data(), envp.data());
        ::posix_spawn_file_actions_destroy(&actions);
        if (theirs >= 0) {
            ::close(theirs);
        }
        if (error != 0) {
            ::close(pair[0]);
            errno = error;
            return false;
        }
        socket_ = pair[0];
        pid_ = pid;
        owner_ = ::getpid();
        return true;
    }

    // Sends one request, the pipes' ends attached.
    bool ask(const std::string &path, const limits &limits, int datafd, int errfd) const {
        request r;
        r.memorymib = limits.memorymib;
        iovec parts[2] = {{&r, sizeof r}, {const_cast<char *>(path.data()), path.size()}};
        alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = 2;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr *attached = CMSG_FIRSTHDR(&message);
        attached->cmsg_level = SOL_SOCKET;
        attached->cmsg_type = SCM_RIGHTS;
        attached->cmsg_len = CMSG_LEN(2 * sizeof(int));
        const int fds[2] = {datafd, errfd};
        std::memcpy(CMSG_DATA(attached), fds, sizeof fds);
        ssize_t n = 0;
        while ((n = ::sendmsg(socket_, &message, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
        }
        return n == static_cast<ssize_t>(sizeof r + path.size());
    }

    void stop() {
        if (socket_ >= 0) {
            ::close(socket_); // the server ends when it reads the end of its socket
            socket_ = -1;
            reap(pid_);
        }
    }

    int socket_ = -1;
    pid_t pid_ = -1;
    pid_t owner_ = 0;
    bool unstartable_ = false;
};

childprocess::~childprocess() {
    if (pid_ > 0 && !waited_) {
        ::kill(pid_, SIGKILL);
        wait();
    }
}

int childprocess::wait() {
    if (!waited_) {
        status_ = server_ != nullptr ? server_->status() : reap(pid_);
        waited_ = true;
    }
    return status_;
}

void parsewithprogram() { alwaysprogram = true; }

childprocess startparser(const std::string &path, const limits &limits, parser parse,
                         const int (&data)[2], const int (&err)[2]) {
    thread_local parserserver server;
    if (!parserprogram().empty() && !server.unstartable() && (alwaysprogram || !onethread())) {
        const pid_t pid = server.start(path, limits, data[1], err[1]);
        if (pid > 0 || !server.unstartable()) {
            return childprocess(pid, &server);
        }
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(data[0]);
        ::close(err[0]);
        runparse(path, limits, parse, data[1], err[1], parent);
    }
    return childprocess(pid, nullptr);
}

namespace {

// One request, read into `path` and `limits`, the pipes' ends into `fds`;
// false at the end of the socket or when it fails.
bool readrequest(std::string &path, limits &limits, int (&fds)[2]) {
    std::vector<char> buffer(sizeof(request) + longestpath);
    for (;;) {
        iovec part{buffer.data(), buffer.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(serverfd, &message, MSG_CMSG_CLOEXEC);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        const cmsghdr *attached = CMSG_FIRSTHDR(&message);
        if (n < static_cast<ssize_t>(sizeof(request)) || attached == nullptr ||
            attached->cmsg_type != SCM_RIGHTS || attached->cmsg_len != CMSG_LEN(2 * sizeof(int))) {
            return false; // the loader sends nothing else
        }
        std::memcpy(fds, CMSG_DATA(attached), sizeof fds);
        request r;
        std::memcpy(&r, buffer.data(), sizeof r);
        limits.memorymib = r.memorymib;
        path.assign(buffer.data() + sizeof r, static_cast<std::size_t>(n) - sizeof r);
        return true;
    }
}

} // namespace

int servemain(int argc, char **argv, parser parse) {
    if (argc != 3 || std::strcmp(argv[1], "--serve") != 0) {
        ::dprintf(STDERR_FILENO, "trel-parser: started by trel's loader only\n");
        return 2;
    }
    const auto parent = static_cast<pid_t>(std::strtol(argv[2], nullptr, 10));
    // Ends with the thread that started it, whatever ends that.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) {
        return childstatus::orphaned;
    }
    std::string path;
    limits limits;
    int fds[2];
    while (readrequest(path, limits, fds)) {
        const pid_t server = ::getpid();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(serverfd);
            runparse(path, limits, parse, fds[0], fds[1], server);
        }
        const int error = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        if (!sendvalue(serverfd, pid > 0 ? pid : -error)) {
            return 0;
        }
        if (pid > 0 && !sendvalue(serverfd, reap(pid))) {
            return 0;
        }
    }
    return 0;
}

} // namespace trel::loader
