// The progress line of long copies: its text, and the terminal test that
// decides whether it is drawn at all.
#include "fileops/progress.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <string>

namespace {

const unsigned long long MIB = 1024 * 1024;

// Each case guards a line that lies: 100% before the end, "1024.0 KiB"
// instead of "1.0 MiB", a line as wide as the terminal (it wraps, and
// "\r" can no longer erase it), a time left of 0:00 while bytes remain,
// or one that overflows when a copy stalls.
TEST(Progress, TextFitsAndTellsTheTruth) {
    struct Case {
        unsigned long long done;
        long long total, ms;
        int columns;
        std::string text;
    } cases[] = {
        {420 * MIB, 1000 * MIB, 4924, 80, "  42% 420.0 MiB of 1000.0 MiB  85.3 MiB/s  0:07 left"},
        {999, 1000, 1000, 80, "  99% 999 B of 1000 B  999 B/s  0:01 left"},
        {MIB, 4096 * MIB, 1000, 80, "   0% 1.0 MiB of 4.0 GiB  1.0 MiB/s  1:08:15 left"},
        {1, 1LL << 60, 3600000, 80, "   0% 1 B of 1.0 EiB  0 B/s  99:59:59 left"},
        {1000, 1000, 1000, 80, " 100% 1000 B of 1000 B  1000 B/s"},
        {420 * MIB, 1000 * MIB, 4924, 53, "  42% 420.0 MiB of 1000.0 MiB  85.3 MiB/s  0:07 left"},
        {420 * MIB, 1000 * MIB, 4924, 52, "  42% 420.0 MiB of 1000.0 MiB  85.3 MiB/s"},
        {MIB - 1, -1, 1000, 80, "  1.0 MiB  1.0 MiB/s"},
        {1023, -1, 0, 80, "  1023 B"},
        {420 * MIB, 1000 * MIB, 4924, 41, "  42% 420.0 MiB of 1000.0 MiB"},
        {420 * MIB, 1000 * MIB, 4924, 16, "  42% 420.0 MiB"},
        {420 * MIB, 1000 * MIB, 4924, 6, "  42%"},
        {420 * MIB, 1000 * MIB, 4924, 5, ""},
    };
    for (const Case &c : cases) {
        char out[128];
        int n = progresstext(out, sizeof out, c.done, c.total, c.ms, c.columns);
        EXPECT_EQ(c.text, std::string(out)) << c.columns;
        EXPECT_EQ((int)c.text.size(), n);
    }
}

#ifndef _WIN32 // a pseudo-terminal to measure
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
#endif

} // namespace
