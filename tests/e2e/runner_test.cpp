// The runner that puts a Win32 build under Wine (wine/run.sh), checked with
// a tiny Windows program of our own: what reaches the program, what comes
// back from it, and the drives it sees.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "disposal_util.h"
#include "engine_util.h"
#include "harness.h"

#ifndef MOX32_WINE_PROBE
#error "MOX32_WINE_PROBE must name the Windows probe (empty when it cannot be made)"
#endif

namespace {

using namespace e2e;
using Lines = std::vector<std::string>;

class WineRunner : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why = why_win32_cannot_run(probe_.path);
        if (!why.empty())
            GTEST_SKIP() << why;
    }
    RunResult run(const Lines &args, RunOptions o = {}) {
        o.build = &probe_;
        return box_.run(args, o);
    }

    Build probe_{MOX32_WINE_PROBE, true};
    Sandbox box_;
};

// A runner that passed the arguments through a shell or converted them
// itself would split, drop or garble them before Wine makes them wide.
TEST_F(WineRunner, ArgumentsReachTheProgramAsTheirCharacters) {
    RunResult r = run({"args", "表", "é", "a b", "", "😀", "*?\\"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ((Lines{"8868", "00E9", "0061 0020 0062", "", "D83D DE00", "002A 003F 005C"}), lines(r.out));
}

// The status is the program's, not that of the runner's converters.
TEST_F(WineRunner, ExitStatusPassesThrough) {
    for (int status : {0, 1, 7, 255})
        EXPECT_EQ(status, run({"exit", std::to_string(status)}).status);
}

// The program reads and writes code page 932 with CRLF line ends: without
// the conversion it would get UTF-8, and the tests would see raw bytes and
// a CR ending every line; an escape pair or a byte that is no UTF-8 must
// come back as it went.
TEST_F(WineRunner, TextIsConvertedBothWays) {
    RunOptions o;
    o.input = "表\r\n";
    EXPECT_EQ("95 5C 0D 0A \n", run({"hexin"}, o).out);
    EXPECT_EQ("表\n", run({"cp932"}).out);
    o.input = "é😀\xff\r\nlast";
    RunResult r = run({"echo"}, o);
    EXPECT_EQ("é😀\xff\nlast", r.out);
    EXPECT_EQ("é😀\xff\nlast", r.err);
}

// A run sees the drives its MOX32_DRIVES maps and no others (C is Wine's,
// T holds TEMP), starts in the drive of its working directory, and never
// sees the map of an earlier run; drive C cannot be mapped.
TEST_F(WineRunner, DrivesAreTheSandboxes) {
    RunResult r = run({"drives"});
    EXPECT_EQ((Lines{"C D E T", "D:\\"}), lines(r.out)) << r.err;

    box_.mkdir('e', "Sub");
    RunOptions o;
    o.env = {{"MOX32_DRIVES", "S=" + box_.native('e')}};
    o.cwd = box_.native('e', "Sub");
    r = run({"drives"}, o);
    EXPECT_EQ((Lines{"C S T", "S:\\Sub"}), lines(r.out)) << r.err;

    o.env = {{"MOX32_DRIVES", "C=" + box_.native('e')}};
    r = run({"drives"}, o);
    EXPECT_EQ(125, r.status);
    EXPECT_EQ((Lines{"wine/run.sh: drive C is Wine's own: map the sandbox to other letters"}), lines(r.err));
}

// Wine reads TEMP from its registry, not from the environment: the
// program's temporary files must still land in the sandbox's TEMP.
TEST_F(WineRunner, TempIsTheSandboxTemp) {
    RunResult r = run({"temp"});
    EXPECT_EQ("T:\\probe.tmp\n", r.out) << r.err;
    EXPECT_EQ(Lines{"probe.tmp"}, tree(box_.root() + "/tmp"));
}

// Runs at the same time (CTest runs tests in parallel) must not share a
// prefix: one run's drive map would replace the other's under it.
TEST_F(WineRunner, ParallelRunsKeepTheirOwnDrives) {
    RunOptions o;
    o.shell_setting = "MOX32_DRIVES=\"S=$PWD\" \"$0\" \"$1\" sleepdrives 1500 >../bg.txt 2>&1 & sleep 0.5";
    RunResult r = run({"drives"}, o);
    EXPECT_EQ((Lines{"C D E T", "D:\\"}), lines(r.out)) << r.err;
    const std::string bg = box_.root() + "/bg.txt";
    for (int i = 0; i < 200 && lines(read_native(bg)).size() < 2; i++)
        ::usleep(50000);
    EXPECT_EQ((Lines{"C S T", "S:\\"}), lines(read_native(bg)));
}

// Wine draws the console with escape sequences, CR CR LF line ends and line
// breaks of its own at the 80th column: the transcript must read as what
// the program wrote, or no terminal test could pass on the Win32 build.
TEST_F(WineRunner, TerminalTranscriptIsWhatTheProgramWrote) {
    RunOptions o;
    o.build = &probe_;
    RunResult r = box_.run_pty({"ask"}, {{"Key? ", "y"}}, o);
    EXPECT_FALSE(r.timed_out) << r.out;
    const std::string x80(80, 'x');
    EXPECT_EQ("line 表\n" + x80 + "x\n" + x80 + "\n" + x80 + "\nKey? got y\n", r.out);
}

} // namespace
