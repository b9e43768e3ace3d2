// The harness's own plumbing, shared by its parts (process.cpp, harness.cpp,
// harness_pty.cpp, builds.cpp) and by nothing else: descriptors, deadlines,
// starting a child with a prepared environment, and collecting what it
// writes. Set-up failures throw std::runtime_error.
#pragma once

#include <poll.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "harness.h"

namespace harness_detail {

[[noreturn]] void fail_errno(const std::string &what);

// Owns one file descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd &&o) noexcept : fd_(o.release()) {}
    Fd &operator=(Fd &&o) noexcept {
        if (this != &o)
            reset(o.release());
        return *this;
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);  // the descriptor is gone even when close reports EINTR
        fd_ = fd;
    }

private:
    int fd_ = -1;
};


struct Pipe {
    Fd rd, wr;
};


class Deadline {
public:
    explicit Deadline(int ms) : end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms)) {}
    // Milliseconds left, at least 0, rounded up so that poll never wakes early
    // and spins.
    int remaining_ms() const {
        auto left = end_ - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            return 0;
        auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
    }
    bool passed() const { return remaining_ms() == 0; }

private:
    std::chrono::steady_clock::time_point end_;
};


// Everything the child needs, prepared before fork so that the child only
// makes system calls.
struct Launch {
    std::string program;
    std::vector<std::string> argv;
    std::vector<std::string> env;  // "NAME=value"
    std::string cwd;
    std::vector<char *> argv_ptrs, env_ptrs;

    void seal() {
        argv_ptrs.clear();
        env_ptrs.clear();
        for (std::string &a : argv)
            argv_ptrs.push_back(a.data());
        argv_ptrs.push_back(nullptr);
        for (std::string &e : env)
            env_ptrs.push_back(e.data());
        env_ptrs.push_back(nullptr);
    }
};


using EnvList = std::vector<std::pair<std::string, std::optional<std::string>>>;


void kill_and_reap(pid_t pid);

// Kills and reaps the child if the harness gives up on it by throwing, so that
// a failed test leaves no process behind.
class ChildGuard {
public:
    explicit ChildGuard(pid_t pid) : pid_(pid) {}
    ~ChildGuard() {
        if (pid_ > 0)
            kill_and_reap(pid_);
    }
    ChildGuard(const ChildGuard &) = delete;
    ChildGuard &operator=(const ChildGuard &) = delete;
    void release() { pid_ = -1; }

private:
    pid_t pid_;
};


struct PipedSetup {
    std::optional<std::string> input;
    bool no_stdin = false;
    std::string stdout_file;  // empty: a pipe
    int timeout_ms = 20000;
};


Pipe make_pipe();
void set_nonblocking(int fd);
// poll() on one or more descriptors; false when the time ran out. EINTR
// counts as "look again", with the remaining time recomputed by the caller.
bool poll_for(pollfd *fds, nfds_t n, int ms);
// Reads what is there into `into`. Returns false at end of file; a pty
// master reports the closed slave as EIO, which is the same thing.
bool read_some(int fd, std::string &into);
std::string read_file(const std::string &path);
void write_all_blocking(int fd, const std::string &data, const std::string &what);
bool is_dir(const std::string &path);
// mkdtemp under the system's temporary directory, with links resolved.
std::string make_temp_dir(const std::string &prefix);
// Removes a tree, giving back owner permissions where a test took them
// away. Best effort: never throws.
void remove_tree(const std::string &path);
void ignore_sigpipe_once();

// The base environment with the overrides applied in order.
std::vector<std::string> build_env(EnvList vars, const EnvList &overrides);

// Runs in the forked child: redirect[i] >= 0 becomes descriptor i; then the
// working directory, default signal handling and execve. Never returns.
[[noreturn]] void child_exec(const Launch &l, const int redirect[3], bool close_stdin, int report_fd);
// Parent side of the report pipe: returns when the child has exec'd; throws,
// after reaping the child, when it could not.
void await_exec(pid_t pid, Fd report_rd, const Launch &l);
// Waits for the child until the deadline. Returns its status, or nullopt after
// killing it when the time ran out.
std::optional<int> reap(pid_t pid, const Deadline &deadline);

// Starts the child in a new session with standard streams as described and
// collects its output until it exits or the time runs out.
RunResult run_piped(Launch &l, const PipedSetup &s);

// The launch of a run in the sandbox (harness.cpp): the build or
// opt.program, with the sandbox's environment.
Launch make_launch(const Sandbox &sb, const std::vector<std::string> &args, const RunOptions &opt, bool pty);

// ---- the Win32 build under Wine (builds.cpp) ----------------------------------

// The runner script that starts a Win32 build in place of the program.
std::string wine_runner();
// Readies the runner's Wine prefix once per test process; throws when it
// cannot be made.
void prepare_wine();
// What the runner needs besides the sandbox's environment.
void add_wine_env(EnvList &env);
// UTF-8 text in code page 932, as the Win32 build reads it.
std::string to_cp932(const std::string &text);

}  // namespace harness_detail
