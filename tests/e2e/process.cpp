// The harness's plumbing: see process.h.
#include "process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace harness_detail {

[[noreturn]] void fail_errno(const std::string &what) {
    int e = errno;
    throw std::runtime_error("e2e harness: " + what + ": " + std::strerror(e));
}

Pipe make_pipe() {
    int p[2];
    if (::pipe2(p, O_CLOEXEC) != 0)
        fail_errno("pipe2");
    return {Fd(p[0]), Fd(p[1])};
}

void set_nonblocking(int fd) {
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        fail_errno("fcntl O_NONBLOCK");
}

// poll() on one or more descriptors; false when the time ran out. EINTR
// counts as "look again", with the remaining time recomputed by the caller.
bool poll_for(pollfd *fds, nfds_t n, int ms) {
    int r = ::poll(fds, n, ms);
    if (r < 0) {
        if (errno == EINTR) {
            for (nfds_t i = 0; i < n; i++)
                fds[i].revents = 0;
            return true;
        }
        fail_errno("poll");
    }
    return r > 0;
}

// Reads what is there into `into`. Returns false at end of file; a pty
// master reports the closed slave as EIO, which is the same thing.
bool read_some(int fd, std::string &into) {
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            into.append(buf, static_cast<size_t>(n));
            return true;
        }
        if (n == 0)
            return false;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return true;
        if (errno == EIO)
            return false;
        fail_errno("read");
    }
}

std::string read_file(const std::string &path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        fail_errno("open " + path);
    std::string text;
    while (read_some(fd.get(), text)) {
    }
    return text;
}

void write_all_blocking(int fd, const std::string &data, const std::string &what) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail_errno("write " + what);
        }
        done += static_cast<size_t>(n);
    }
}

bool is_dir(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

std::string system_tmp() {
    const char *t = std::getenv("TMPDIR");
    if (t && t[0] == '/' && is_dir(t))
        return t;
    return "/tmp";
}

}  // namespace

// mkdtemp under the system's temporary directory, with links resolved.
std::string make_temp_dir(const std::string &prefix) {
    std::string tmpl = system_tmp() + "/" + prefix + "XXXXXX";
    if (!::mkdtemp(tmpl.data()))
        fail_errno("mkdtemp " + tmpl);
    char *real = ::realpath(tmpl.c_str(), nullptr);
    if (!real) {
        int e = errno;
        ::rmdir(tmpl.c_str());
        errno = e;
        fail_errno("realpath " + tmpl);
    }
    std::string path(real);
    std::free(real);
    return path;
}

namespace {

// Removes `name` below the directory `dirfd`, descending through descriptors
// so that depth and path length do not matter. Best effort: used from a
// destructor and at exit, so it never throws.
void remove_at(int dirfd, const char *name) {
    struct stat st;
    if (::fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (!S_ISDIR(st.st_mode)) {
        ::unlinkat(dirfd, name, 0);
        return;
    }
    // A test may have made the directory unreadable or read-only.
    if ((st.st_mode & S_IRWXU) != S_IRWXU)
        ::fchmodat(dirfd, name, (st.st_mode & 07777) | S_IRWXU, 0);
    int fd = ::openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        DIR *dir = ::fdopendir(fd);
        if (!dir) {
            ::close(fd);
        } else {
            // Collect first: removing entries while reading the directory
            // may make readdir skip some.
            std::vector<std::string> names;
            while (dirent *e = ::readdir(dir)) {
                if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                    names.emplace_back(e->d_name);
            }
            for (const std::string &n : names)
                remove_at(::dirfd(dir), n.c_str());
            ::closedir(dir);
        }
    }
    ::unlinkat(dirfd, name, AT_REMOVEDIR);
}

}  // namespace

void remove_tree(const std::string &path) {
    if (!path.empty())
        remove_at(AT_FDCWD, path.c_str());
}

void ignore_sigpipe_once() {
    // Input the child does not read must not kill the test process.
    static const bool done = [] {
        ::signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)done;
}

// ---- starting the child -----------------------------------------------------

std::vector<std::string> build_env(EnvList vars, const EnvList &overrides) {
    for (const auto &[name, value] : overrides) {
        bool found = false;
        for (auto &v : vars) {
            if (v.first == name) {
                v.second = value;
                found = true;
            }
        }
        if (!found)
            vars.emplace_back(name, value);
    }
    std::vector<std::string> env;
    for (const auto &[name, value] : vars) {
        if (value)
            env.push_back(name + "=" + *value);
    }
    return env;
}

namespace {

// What the child reports through the exec pipe when it cannot start.
struct ChildFailure {
    int stage;  // 0 redirect, 1 chdir, 2 execve
    int err;
};

[[noreturn]] void child_fail(int report_fd, int stage) {
    ChildFailure f{stage, errno};
    ssize_t n;
    do {
        n = ::write(report_fd, &f, sizeof f);
    } while (n < 0 && errno == EINTR);
    ::_exit(127);
}

// Marks every descriptor from 3 up close-on-exec, so that nothing the test
// process holds (its own pipes, a terminal) reaches the program, while the
// report pipe stays usable until execve succeeds.
void child_cloexec_from_3() {
#if defined(SYS_close_range)
    const unsigned cloexec_flag = 1U << 2;  // CLOSE_RANGE_CLOEXEC
    if (::syscall(SYS_close_range, 3U, ~0U, cloexec_flag) == 0)
        return;
#endif
    long max = ::sysconf(_SC_OPEN_MAX);
    if (max < 0 || max > 1 << 20)
        max = 1 << 20;
    for (int fd = 3; fd < max; fd++)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

}  // namespace

// Runs in the forked child: redirect[i] >= 0 becomes descriptor i; then the
// working directory, default signal handling and execve. Never returns.
[[noreturn]] void child_exec(const Launch &l, const int redirect[3], bool close_stdin, int report_fd) {
    // Move the sources out of the way first: one of them may itself be 0, 1
    // or 2 when the test process runs with a standard stream closed.
    int moved[3];
    for (int i = 0; i < 3; i++) {
        moved[i] = -1;
        if (redirect[i] >= 0 && (moved[i] = ::fcntl(redirect[i], F_DUPFD_CLOEXEC, 3)) < 0)
            child_fail(report_fd, 0);
    }
    for (int i = 0; i < 3; i++) {
        if (moved[i] >= 0 && ::dup2(moved[i], i) < 0)
            child_fail(report_fd, 0);
    }
    if (close_stdin)
        ::close(0);

    struct sigaction dfl;
    std::memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; sig++) {
        if (sig != SIGKILL && sig != SIGSTOP)
            ::sigaction(sig, &dfl, nullptr);  // fails harmlessly for reserved numbers
    }
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    if (::chdir(l.cwd.c_str()) != 0)
        child_fail(report_fd, 1);
    child_cloexec_from_3();
    ::execve(l.program.c_str(), l.argv_ptrs.data(), l.env_ptrs.data());
    child_fail(report_fd, 2);
}

// Parent side of the report pipe: returns when the child has exec'd; throws,
// after reaping the child, when it could not.
void await_exec(pid_t pid, Fd report_rd, const Launch &l) {
    ChildFailure f;
    size_t got = 0;
    while (got < sizeof f) {
        ssize_t n = ::read(report_rd.get(), reinterpret_cast<char *>(&f) + got, sizeof f - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    if (got < sizeof f)
        return;  // the pipe closed on execve
    int st;
    while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    static const char *const stages[] = {"redirect standard streams for", "chdir to", "execute"};
    std::string what = stages[f.stage < 0 || f.stage > 2 ? 2 : f.stage];
    what += " " + (f.stage == 1 ? l.cwd : l.program);
    errno = f.err;
    fail_errno("cannot " + what);
}

namespace {

int decode_status(int st) {
    if (WIFEXITED(st))
        return WEXITSTATUS(st);
    if (WIFSIGNALED(st))
        return 128 + WTERMSIG(st);
    return -1;
}

}  // namespace

void kill_and_reap(pid_t pid) {
    // The child leads its own process group (setsid), which takes whatever it
    // started along; the plain kill covers a child that has not got that far.
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    int st;
    while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
}

// Waits for the child until the deadline. Returns its status, or nullopt after
// killing it when the time ran out.
std::optional<int> reap(pid_t pid, const Deadline &deadline) {
    int pause_ms = 1;
    for (;;) {
        int st;
        pid_t r = ::waitpid(pid, &st, WNOHANG);
        if (r == pid)
            return decode_status(st);
        if (r < 0 && errno != EINTR)
            fail_errno("waitpid");
        if (deadline.passed()) {
            kill_and_reap(pid);
            return std::nullopt;
        }
        // The streams are closed, so the child is normally already gone;
        // one that closed them early and kept running is polled gently.
        ::usleep(static_cast<useconds_t>(pause_ms) * 1000);
        if (pause_ms < 20)
            pause_ms *= 2;
    }
}

// Starts the child in a new session with standard streams as described and
// collects its output until it exits or the time runs out.
RunResult run_piped(Launch &l, const PipedSetup &s) {
    ignore_sigpipe_once();
    l.seal();
    Deadline deadline(s.timeout_ms);

    Pipe out = make_pipe(), err = make_pipe(), report = make_pipe();
    Pipe in;
    Fd stdin_fd, stdout_fd;
    if (s.no_stdin) {
        // nothing: closed in the child
    } else if (s.input) {
        in = make_pipe();
    } else {
        stdin_fd.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        if (!stdin_fd)
            fail_errno("open /dev/null");
    }
    if (!s.stdout_file.empty()) {
        stdout_fd.reset(::open(s.stdout_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
        if (!stdout_fd)
            fail_errno("open " + s.stdout_file);
    }

    pid_t pid = ::fork();
    if (pid < 0)
        fail_errno("fork");
    if (pid == 0) {
        if (::setsid() < 0)
            child_fail(report.wr.get(), 0);
        int redirect[3] = {s.input && !s.no_stdin ? in.rd.get() : stdin_fd.get(),
                           stdout_fd ? stdout_fd.get() : out.wr.get(), err.wr.get()};
        child_exec(l, redirect, s.no_stdin, report.wr.get());
    }

    out.wr.reset();
    err.wr.reset();
    in.rd.reset();
    stdin_fd.reset();
    stdout_fd.reset();
    report.wr.reset();
    await_exec(pid, std::move(report.rd), l);
    ChildGuard guard(pid);

    RunResult res;
    if (!s.stdout_file.empty())
        out.rd.reset();  // nothing comes through it
    else
        set_nonblocking(out.rd.get());
    set_nonblocking(err.rd.get());
    size_t written = 0;
    if (in.wr) {
        if (s.input->empty())
            in.wr.reset();
        else
            set_nonblocking(in.wr.get());
    }

    bool timed_out = false;
    while (out.rd || err.rd || in.wr) {
        int ms = deadline.remaining_ms();
        if (ms == 0) {
            timed_out = true;
            break;
        }
        pollfd fds[3];
        nfds_t n = 0;
        int idx_out = -1, idx_err = -1, idx_in = -1;
        if (out.rd) {
            idx_out = static_cast<int>(n);
            fds[n++] = {out.rd.get(), POLLIN, 0};
        }
        if (err.rd) {
            idx_err = static_cast<int>(n);
            fds[n++] = {err.rd.get(), POLLIN, 0};
        }
        if (in.wr) {
            idx_in = static_cast<int>(n);
            fds[n++] = {in.wr.get(), POLLOUT, 0};
        }
        if (!poll_for(fds, n, ms))
            continue;
        if (idx_out >= 0 && fds[idx_out].revents && !read_some(out.rd.get(), res.out))
            out.rd.reset();
        if (idx_err >= 0 && fds[idx_err].revents && !read_some(err.rd.get(), res.err))
            err.rd.reset();
        if (idx_in >= 0 && fds[idx_in].revents) {
            ssize_t w = ::write(in.wr.get(), s.input->data() + written, s.input->size() - written);
            if (w > 0)
                written += static_cast<size_t>(w);
            else if (w < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
                in.wr.reset();  // EPIPE: the child stopped reading, which is its right
            if (written == s.input->size())
                in.wr.reset();
        }
    }

    std::optional<int> status;
    if (timed_out)
        kill_and_reap(pid);
    else
        status = reap(pid, deadline);
    guard.release();
    res.timed_out = !status;
    res.status = status ? *status : -1;
    if (!s.stdout_file.empty())
        res.out = read_file(s.stdout_file);
    return res;
}


}  // namespace harness_detail
