// Key reading runs in a child process whose controlling terminal is a fresh
// pseudo-terminal; the test types on its master side.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct Child {
    pid_t pid = -1;
    int master = -1;
    int results = -1; // the child reports ints through this pipe
};

void report(int fd, int value) {
    if (write(fd, &value, sizeof value) != (ssize_t)sizeof value)
        _exit(3);
}

Child spawn(const std::function<void(int)> &body) {
    Child c;
    int p[2];
    if (pipe(p) != 0)
        return c;
    c.pid = forkpty(&c.master, nullptr, nullptr, nullptr);
    if (c.pid == 0) {
        close(p[0]);
        alarm(10); // never outlive a broken test
        body(p[1]);
        _exit(0);
    }
    close(p[1]);
    c.results = p[0];
    return c;
}

// The next int the child reported, or -100 when none came in time.
int next(const Child &c) {
    struct pollfd pf = {c.results, POLLIN, 0};
    int v;
    if (poll(&pf, 1, 5000) <= 0 || read(c.results, &v, sizeof v) != (ssize_t)sizeof v)
        return -100;
    return v;
}

// Waits until the terminal's echo is off (raw) or on again.
bool wait_echo(int master, bool on) {
    for (int i = 0; i < 500; i++) {
        struct termios t;
        if (tcgetattr(master, &t) == 0 && ((t.c_lflag & ECHO) != 0) == on)
            return true;
        usleep(10000);
    }
    return false;
}

void type(int master, const char *keys) {
    ASSERT_EQ(write(master, keys, std::strlen(keys)), (ssize_t)std::strlen(keys));
}

int finish(Child &c) {
    int status = 0;
    close(c.master);
    close(c.results);
    waitpid(c.pid, &status, 0);
    return status;
}

bool cooked(int fd) {
    struct termios t;
    return tcgetattr(fd, &t) == 0 && (t.c_lflag & ICANON) && (t.c_lflag & ECHO);
}

TEST(Console, KeysEnterEscAndSequences) {
    Child c = spawn([](int out) {
        signal(SIGHUP, SIG_IGN); // see the hang-up as the end of input
        for (;;) {
            int k = plat_readkey();
            report(out, k);
            if (k < 0)
                break;
        }
        report(out, plat_readkey());
    });
    ASSERT_GT(c.pid, 0);
    ASSERT_TRUE(wait_echo(c.master, false));
    // Typed ahead in one go: an arrow key's sequence must not swallow the
    // Esc of the next one, nor the key after it.
    type(c.master, "a\r\n\x1b[A\x1b[Dq\x1b[3~\x1bOP");
    int want[] = {'a', 13, 13, 0, 72, 0, 75, 'q', 0, 83, 0, 59};
    for (int w : want)
        EXPECT_EQ(next(c), w);
    ASSERT_TRUE(wait_echo(c.master, false));
    type(c.master, "\x1b");
    EXPECT_EQ(next(c), 27);
    // A hung-up terminal is no console: the prompts must not spin on it.
    ASSERT_TRUE(wait_echo(c.master, false));
    close(c.master);
    c.master = -1;
    EXPECT_EQ(next(c), -1);
    EXPECT_EQ(next(c), -1);
    finish(c);
}

// The mode must come back after the key, and a key typed while the caller
// waits must be seen without Enter and must not be echoed.
TEST(Console, KeyhitThenReadkeyRestoresTheMode) {
    Child c = spawn([](int out) {
        report(out, cooked(0));
        report(out, plat_keyhit());
        int hit = 0;
        for (int i = 0; i < 500 && hit == 0; i++) {
            hit = plat_keyhit();
            usleep(10000);
        }
        report(out, hit);
        report(out, plat_readkey());
        report(out, cooked(0));
    });
    ASSERT_GT(c.pid, 0);
    EXPECT_EQ(next(c), 1);
    EXPECT_EQ(next(c), 0);
    type(c.master, "x");
    EXPECT_EQ(next(c), 1);
    EXPECT_EQ(next(c), 'x');
    EXPECT_EQ(next(c), 1);
    struct pollfd pf = {c.master, POLLIN, 0};
    char echo[64] = "";
    if (poll(&pf, 1, 100) == 1) {
        ssize_t n = read(c.master, echo, sizeof echo - 1);
        echo[n > 0 ? n : 0] = '\0';
    }
    EXPECT_STREQ(echo, "") << "the key was echoed";
    EXPECT_EQ(finish(c), 0);
}

// Killed while waiting for a key, the process must not leave the user's
// terminal without echo.
TEST(Console, SignalWhileWaitingRestoresTheMode) {
    Child c = spawn([](int out) { report(out, plat_readkey()); });
    ASSERT_GT(c.pid, 0);
    ASSERT_TRUE(wait_echo(c.master, false));
    kill(c.pid, SIGTERM);
    int status = 0;
    waitpid(c.pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_TRUE(cooked(c.master));
    close(c.master);
    close(c.results);
}

TEST(Console, NoTerminalMeansNoConsole) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setsid(); // no controlling terminal any more
        _exit(plat_readkey() == -1 && plat_keyhit() == -1 ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace
