// The progress line of long copies: drawn on the terminal while a copy
// runs, erased before anything else is printed, and never anywhere else.
//
// A copy is made slow, without writing gigabytes and without a hook in the
// program, by running it under strace with every read held up for a few
// milliseconds (and every copy_file_range, in which the kernel may move the
// data itself, for longer than a second).
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <regex>
#include <string>
#include <vector>

#include "engine_util.h"
#include "harness.h"

using namespace e2e;

namespace {

using Lines = std::vector<std::string>;

const char *const STRACE = "/usr/bin/strace";

const size_t MIB = 1024 * 1024;
// 1.5 MiB: 103 reads of the copy buffer, at least 1.5 s at 15 ms a read.
const size_t SIZE = MIB * 3 / 2;

// The tracer's arguments before the program's own. `range` is what
// copy_file_range is made to do.
Lines slowed(const std::string &range = "delay_enter=1100000") {
    return {"-qq",
            "-o",
            "/dev/null",
            "-e",
            "trace=read,copy_file_range",
            "-e",
            "inject=read:delay_enter=15000",
            "-e",
            "inject=copy_file_range:" + range,
            "--",
            MOX32_BIN};
}

// A run under the tracer. LeakSanitizer, in a sanitizer build, cannot
// work under one and would fail the run; every other test checks leaks.
RunOptions traced() {
    RunOptions opt;
    opt.program = STRACE;
    opt.env = {{"ASAN_OPTIONS", "detect_leaks=0"}};
    return opt;
}

// Whether strace can run a program here (it may be missing, or tracing
// may be forbidden).
bool can_slow(const Sandbox &box) {
    if (::access(STRACE, X_OK) != 0)
        return false;
    Lines args = slowed();
    args.back() = "/bin/true";
    return box.run(args, traced()).status == 0;
}

// The run of mox32 with args, slowed, as program and arguments.
Lines slow(const Lines &args, const std::string &range = "delay_enter=1100000") {
    Lines all = slowed(range);
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

// What the terminal shows at the end: "\r" goes back to the start of the
// line and what follows writes over it; spaces at the end of a line are
// blank on the screen and left out, and so are empty lines at the end.
Lines screen(const std::string &transcript) {
    Lines shown(1);
    size_t col = 0;
    for (char c : transcript) {
        if (c == '\n') {
            shown.emplace_back();
            col = 0;
        } else if (c == '\r') {
            col = 0;
        } else {
            std::string &line = shown.back();
            if (col < line.size())
                line[col] = c;
            else
                line.push_back(c);
            col++;
        }
    }
    for (std::string &line : shown)
        line.erase(line.find_last_not_of(' ') + 1);
    while (!shown.empty() && shown.back().empty())
        shown.pop_back();
    return shown;
}

// The progress lines drawn on the way (of a copy of `total`, as the line
// spells it): the pieces between "\r" and line ends that read as one.
size_t draws(const std::string &transcript, const std::string &total = "1.5 MiB") {
    const std::regex line(" *[0-9]{1,3}% [0-9.]+ (B|KiB|MiB) of " + total +
                          "  [0-9.]+ (B|KiB|MiB)/s(  [0-9]+:[0-9]{2} left)? *");
    size_t n = 0, start = 0;
    while (start <= transcript.size()) {
        size_t end = transcript.find_first_of("\r\n", start);
        if (end == std::string::npos)
            end = transcript.size();
        if (std::regex_match(transcript.substr(start, end - start), line))
            n++;
        start = end + 1;
    }
    return n;
}

// The source: data that differs along its length.
std::string data(size_t size = SIZE) {
    std::string s(size, 0);
    for (size_t i = 0; i < size; i++)
        s[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return s;
}

Lines copied(const Lines &head) {
    Lines all = head;
    all.insert(all.end(), {count(1, "File(s) found"), count(1, "File(s) copied")});
    return all;
}

const Lines SHOWN = {READING, "D:\\SRC --> E:\\OUT", "  BIG.BIN"};

// Without the line a copy of a big file said nothing for as long as it
// took. It appears after a second, a few times a second at most, for a
// copy and an append alike, and what the terminal shows afterwards is the
// usual output, line for line (no digit of it left, nothing glued to it);
// with standard output in a file the file holds no byte of it.
TEST(Progress, ShownWhileTheCopyRunsThenErased) {
    SKIP_ON_WIN32("strace slows only a Linux program");
    Sandbox probe;
    if (!can_slow(probe))
        GTEST_SKIP() << "strace cannot slow a copy here";
    struct Case {
        const char *what;
        Lines args;
        std::string old; // E:\OUT\BIG.BIN before the run
        bool tofile;     // standard output in a file
    } cases[] = {
        {"copy", {"D:\\SRC\\BIG.BIN", "E:\\OUT"}, "", false},
        {"append", {"/I", "D:\\SRC\\BIG.BIN", "E:\\OUT"}, "head", false},
        {"copy, output in a file", {"D:\\SRC\\BIG.BIN", "E:\\OUT"}, "", true},
    };
    for (const Case &c : cases) {
        Sandbox box;
        box.write('d', "SRC/BIG.BIN", data());
        if (!c.old.empty())
            box.write('e', "OUT/BIG.BIN", c.old);
        RunOptions opt = traced();
        opt.stdout_to_file = c.tofile;
        auto t0 = std::chrono::steady_clock::now();
        RunResult r = box.run_pty(slow(c.args), {}, opt);
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - t0)
                      .count();
        ASSERT_FALSE(r.timed_out) << c.what;
        EXPECT_EQ(0, r.status) << c.what << "\n" << r.out;
        const std::string &terminal = c.tofile ? r.err : r.out;
        size_t n = draws(terminal);
        EXPECT_GE(n, 1u) << c.what << "\n" << terminal;
        EXPECT_LE(n, static_cast<size_t>(ms / 250 + 1)) << c.what;
        if (c.tofile) {
            EXPECT_EQ(Lines{}, screen(terminal)) << c.what;
            EXPECT_EQ(copied(SHOWN), outlines(r)) << c.what;
            EXPECT_EQ(std::string::npos, r.out.find('\r')) << c.what;
        } else {
            EXPECT_EQ(copied(SHOWN), screen(terminal)) << c.what;
        }
        EXPECT_EQ(c.old + data(), box.read('e', "OUT/BIG.BIN")) << c.what;
    }
}

// A failure half-way through a copy prints its error while the line
// stands: the error must start on a clear line of its own, not after the
// digits of the line or over them.
TEST(Progress, ErrorDuringTheCopyStartsOnAClearLine) {
    SKIP_ON_WIN32("strace slows only a Linux program");
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small file system needs root";
    Sandbox box;
    if (!can_slow(box))
        GTEST_SKIP() << "strace cannot slow a copy here";
    box.write('d', "SRC/BIG.BIN", data(3 * MIB));
    // 2 MiB of room: the copy fails after 137 reads, two seconds in, when
    // the line has stood for a second.
    TmpfsMount small(box.native('e'), "2m");
    if (!small.ok())
        GTEST_SKIP() << "no tmpfs here";
    RunOptions opt = traced();
    RunResult r = box.run_pty(slow({"/C-", "D:\\SRC\\BIG.BIN", "E:\\OUT"}), {}, opt);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_GE(draws(r.out, "3.0 MiB"), 1u) << r.out;
    Lines want = SHOWN;
    want.insert(want.end(), {" GetLastError=[112]", "Error! copy failed", ABORT});
    Lines shown = screen(r.out);
    ASSERT_GE(shown.size(), want.size()) << r.out;
    EXPECT_EQ(want, Lines(shown.begin(), shown.begin() + want.size())) << r.out;
    EXPECT_EQ(Lines{}, tree(box.native('e', "OUT")));
}

// Ctrl-C half-way through a long copy left the line standing: its digits
// stayed beside the shell's next prompt. The signal that ends the run
// blanks it, as it puts the terminal's mode back; what stays is the usual
// output and the terminal's own echo of the key.
TEST(Progress, ErasedWhenASignalEndsTheCopy) {
    SKIP_ON_WIN32("strace slows only a Linux program");
    Sandbox box;
    if (!can_slow(box))
        GTEST_SKIP() << "strace cannot slow a copy here";
    // 3 MiB read a chunk at a time (the kernel's own copy refused): the
    // line stands from the first second on, and the copy goes on for two
    // more. The tracer keeps the terminal's SIGINT off itself and passes
    // it on.
    box.write('d', "SRC/BIG.BIN", data(3 * MIB));
    RunResult r = box.run_pty(slow({"D:\\SRC\\BIG.BIN", "E:\\OUT"}, "error=ENOSYS"),
                              {{" of 3.0 MiB", "\x03", false}}, traced());
    ASSERT_FALSE(r.timed_out) << r.out;
    EXPECT_EQ(128 + SIGINT, r.status) << r.out;
    std::string terminal = r.out;
    for (size_t at; (at = terminal.find("^C")) != std::string::npos;)
        terminal.erase(at, 2);
    EXPECT_EQ(SHOWN, screen(terminal)) << r.out;
}

// Scripts read standard output and standard error: no byte of the line
// may reach either unless it is the terminal, nor the terminal with /V-.
TEST(Progress, NeverOffTheTerminalNorWithQuiet) {
    SKIP_ON_WIN32("strace slows only a Linux program");
    Sandbox probe;
    if (!can_slow(probe))
        GTEST_SKIP() << "strace cannot slow a copy here";
    enum How { PIPES, PTY_QUIET, ERR_IN_FILE };
    struct Case {
        const char *what;
        How how;
    } cases[] = {
        {"no terminal", PIPES},
        {"/V- on the terminal", PTY_QUIET},
        {"standard error in a file", ERR_IN_FILE},
    };
    for (const Case &c : cases) {
        Sandbox box;
        box.write('d', "SRC/BIG.BIN", data());
        Lines args = {"D:\\SRC\\BIG.BIN", "E:\\OUT"};
        RunOptions opt = traced();
        RunResult r;
        std::string err;
        Lines want = copied(SHOWN);
        if (c.how == PIPES) {
            r = box.run(slow(args), opt);
            err = r.err;
        } else if (c.how == PTY_QUIET) {
            args.insert(args.begin(), "/V-");
            r = box.run_pty(slow(args), {}, opt);
            want = SHOWN;
            want.push_back(count(1, "File(s) copied"));
        } else {
            // The shell puts standard error in a file and runs the rest.
            const std::string errfile = box.native('d', "STDERR.TXT");
            Lines sh = {"-c", "exec \"$@\" 2>'" + errfile + "'", "sh", STRACE};
            Lines rest = slow(args);
            sh.insert(sh.end(), rest.begin(), rest.end());
            opt.program = "/bin/sh";
            r = box.run_pty(sh, {}, opt);
            err = box.read('d', "STDERR.TXT");
        }
        ASSERT_FALSE(r.timed_out) << c.what;
        EXPECT_EQ(0, r.status) << c.what << "\n" << r.out;
        EXPECT_EQ(want, lines(r.out)) << c.what;
        EXPECT_EQ(std::string::npos, r.out.find('\r')) << c.what;
        EXPECT_EQ("", err) << c.what;
        EXPECT_EQ(data(), box.read('e', "OUT/BIG.BIN")) << c.what;
    }
}

} // namespace
