// The progress line of long copies: the terminal test that decides
// whether it is drawn at all.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

namespace {

// A test for a character device would take /dev/null for a terminal and
// draw into it; a terminal that does not tell its width gets 80 columns.
TEST(Progress, OnlyATerminalHasColumns) {
    int master, slave;
    ASSERT_EQ(0, openpty(&master, &slave, nullptr, nullptr, nullptr));
    int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(devnull, 0);
    struct Case {
        int fd;
        unsigned short cols;
        int want;
    } cases[] = {{slave, 132, 132}, {slave, 0, 80}, {devnull, 0, 0}};
    int saved = dup(PLAT_STDERR);
    ASSERT_GE(saved, 0);
    for (const Case &c : cases) {
        struct winsize ws = {24, c.cols, 0, 0};
        if (c.fd == slave) {
            ASSERT_EQ(0, ioctl(slave, TIOCSWINSZ, &ws));
        }
        ASSERT_EQ(PLAT_STDERR, dup2(c.fd, PLAT_STDERR));
        int got = plat_termcolumns(PLAT_STDERR);
        dup2(saved, PLAT_STDERR);
        EXPECT_EQ(c.want, got) << c.cols;
    }
    close(saved);
    close(devnull);
    close(slave);
    close(master);
}

} // namespace
