// Checks of the end-to-end harness itself, run against /bin/sh and friends so
// that they hold whatever state the mox32 binary is in.
#include "harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace {

RunOptions sh_opts() {
    RunOptions o;
    o.program = "/bin/sh";
    return o;
}

RunResult sh(const Sandbox &sb, const std::string &script, RunOptions o = sh_opts()) {
    if (o.program.empty())
        o.program = "/bin/sh";
    return sb.run({"-c", script}, o);
}

RunResult sh_pty(const Sandbox &sb, const std::string &script, const std::vector<PtyStep> &steps,
                 RunOptions o = sh_opts()) {
    if (o.program.empty())
        o.program = "/bin/sh";
    return sb.run_pty({"-c", script}, steps, o);
}

std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

// True once the process is gone or a zombie.
bool process_gone(const std::string &pid) {
    for (int i = 0; i < 200; i++) {
        std::ifstream stat("/proc/" + pid + "/stat");
        std::string line;
        if (!std::getline(stat, line))
            return true;
        size_t paren = line.rfind(')');
        if (paren != std::string::npos && line.size() > paren + 2 && line[paren + 2] == 'Z')
            return true;
        usleep(10000);
    }
    return false;
}

}  // namespace

// The real binary must be startable by the harness at all; every other e2e
// test depends on it.
TEST(Harness, StartsTheBuiltBinary) {
    Sandbox sb;
    RunResult r = sb.run({});
    EXPECT_FALSE(r.timed_out);
    EXPECT_GE(r.status, 0);
    EXPECT_LT(r.status, 128) << "killed by a signal; stderr: " << r.err;
}

// A leaked variable of the developer's shell (HOME, LANG, MOX32_DRIVES) would
// make results depend on the machine running the tests.
TEST(Harness, EnvironmentIsBuiltFromScratch) {
    ASSERT_EQ(setenv("MOX32_E2E_LEAK", "1", 1), 0);
    Sandbox sb;
    RunOptions o = sh_opts();
    o.program = "/usr/bin/env";
    RunResult r = sb.run({}, o);
    unsetenv("MOX32_E2E_LEAK");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string &root = sb.root();
    EXPECT_EQ(sorted(lines(r.out)), sorted({
                                        "PATH=/usr/bin:/bin",
                                        "MOX32_DRIVES=D=" + root + "/d;E=" + root + "/e",
                                        "TZ=UTC",
                                        "LC_ALL=C.UTF-8",
                                        "LANG=C.UTF-8",
                                        "HOME=" + root + "/home",
                                        "XDG_DATA_HOME=" + root + "/data",
                                        "TEMP=" + root + "/tmp",
                                        "TMPDIR=" + root + "/tmp",
                                    }));

    // Overrides replace in place, add, set empty, and remove.
    o.env = {{"LC_ALL", "ja_JP.SJIS"}, {"EXTRA", "x"}, {"LANG", ""}, {"TZ", std::nullopt}};
    r = sb.run({}, o);
    std::vector<std::string> env = lines(r.out);
    auto has = [&](const std::string &v) { return std::find(env.begin(), env.end(), v) != env.end(); };
    EXPECT_TRUE(has("LC_ALL=ja_JP.SJIS"));
    EXPECT_FALSE(has("LC_ALL=C.UTF-8"));
    EXPECT_TRUE(has("EXTRA=x"));
    EXPECT_TRUE(has("LANG="));
    EXPECT_FALSE(has("TZ=UTC"));
    EXPECT_EQ(env.size(), 9u);
}

// Messages name the program by argv[0]; arguments with spaces, empty ones and
// bytes that are not UTF-8 must arrive untouched.
TEST(Harness, ArgumentsAndWorkingDirectory) {
    Sandbox sb;
    RunResult r = sh(sb, "echo \"$0\"; pwd");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "mox32\n" + sb.native('d') + "\n");

    r = sb.run({"-c", "printf '<%s>' \"$@\"", "zero", "a b", "", "\x95\x5c*?"}, sh_opts());
    EXPECT_EQ(r.out, "<a b><><\x95\x5c*?>");

    sb.mkdir('e', "sub/dir");
    RunOptions o = sh_opts();
    o.cwd = sb.native('e', "sub/dir");
    EXPECT_EQ(sh(sb, "pwd", o).out, sb.native('e', "sub/dir") + "\n");
}

TEST(Harness, ExitStatus) {
    Sandbox sb;
    EXPECT_EQ(sh(sb, "exit 0").status, 0);
    EXPECT_EQ(sh(sb, "exit 255").status, 255);
    EXPECT_EQ(sh(sb, "echo out; echo err >&2; exit 3").status, 3);
    RunResult r = sh(sb, "kill -TERM $$");
    EXPECT_EQ(r.status, 128 + SIGTERM);
    EXPECT_FALSE(r.timed_out);
}

// Output and error streams are separate, and the three pipes are served
// together: a child filling stdout and stderr while its input is still being
// written would deadlock a harness that handles one stream at a time.
TEST(Harness, StreamsAreServedConcurrently) {
    Sandbox sb;
    RunResult r = sh(sb, "echo out; echo err >&2");
    EXPECT_EQ(r.out, "out\n");
    EXPECT_EQ(r.err, "err\n");

    std::string big;
    for (int i = 0; big.size() < (3u << 20); i++)
        big += "line " + std::to_string(i) + "\n";
    RunOptions o = sh_opts();
    o.input = big;
    r = sh(sb, "tee /dev/stderr", o);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out == big) << "stdout differs, size " << r.out.size();
    EXPECT_TRUE(r.err == big) << "stderr differs, size " << r.err.size();

    // A child that exits without reading its input must not stall the
    // harness or kill the test process with SIGPIPE.
    r = sh(sb, "exit 4", o);
    EXPECT_EQ(r.status, 4);
    EXPECT_FALSE(r.timed_out);
}

TEST(Harness, StandardInputModes) {
    Sandbox sb;
    const std::string what_is_stdin =
        "if [ ! -e /proc/$$/fd/0 ]; then echo closed; else readlink /proc/$$/fd/0; cat; fi";

    RunResult r = sh(sb, what_is_stdin);
    EXPECT_EQ(r.out, "/dev/null\n");

    RunOptions o = sh_opts();
    o.input = "a.txt\r\nb.txt\n";
    r = sh(sb, what_is_stdin, o);
    ASSERT_EQ(lines(r.out).size(), 3u) << r.out;
    EXPECT_EQ(lines(r.out)[0].rfind("pipe:", 0), 0u);
    EXPECT_EQ(r.out.substr(r.out.find('\n') + 1), "a.txt\r\nb.txt\n");

    o.input = "";
    r = sh(sb, what_is_stdin, o);
    EXPECT_EQ(lines(r.out).size(), 1u) << "an empty input is an empty pipe: " << r.out;

    o.input.reset();
    o.no_stdin = true;
    EXPECT_EQ(sh(sb, what_is_stdin, o).out, "closed\n");
}

// Without its own session the child could reach the terminal of whoever runs
// the tests, and a prompt would wait for a key instead of answering at once.
TEST(Harness, RunHasNoControllingTerminal) {
    Sandbox sb;
    RunResult r = sh(sb, "if (: </dev/tty) 2>/dev/null; then echo tty; else echo none; fi;"
                         "echo $$ $(cut -d' ' -f6 /proc/$$/stat)");
    std::vector<std::string> l = lines(r.out);
    ASSERT_EQ(l.size(), 2u) << r.out << r.err;
    EXPECT_EQ(l[0], "none");
    std::string pid = l[1].substr(0, l[1].find(' '));
    EXPECT_EQ(l[1], pid + " " + pid) << "the child leads its own session";
}

// Descriptors of the test process must not reach the program (a stray pipe
// end keeps a reader from ever seeing end of file).
TEST(Harness, ChildGetsOnlyStandardStreams) {
    Sandbox sb;
    int stray = open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
    ASSERT_GE(stray, 0);
    RunResult r = sh(sb, "ls /proc/$$/fd");
    close(stray);
    EXPECT_EQ(lines(r.out), (std::vector<std::string>{"0", "1", "2"})) << r.err;
}

TEST(Harness, TimeoutKillsTheWholeProcessGroup) {
    Sandbox sb;
    RunOptions o = sh_opts();
    o.timeout_ms = 300;
    auto start = std::chrono::steady_clock::now();
    RunResult r = sh(sb, "sleep 30 & echo $!; wait", o);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(r.timed_out);
    EXPECT_EQ(r.status, -1);
    EXPECT_LT(took, std::chrono::seconds(5));
    ASSERT_EQ(lines(r.out).size(), 1u) << "output before the timeout is kept";
    EXPECT_TRUE(process_gone(lines(r.out)[0])) << "the grandchild survived";

    // A child that closes its streams and keeps running still times out.
    r = sh(sb, "exec >&- 2>&-; sleep 30", o);
    EXPECT_TRUE(r.timed_out);
    EXPECT_EQ(r.status, -1);
}

// The program must see a regular file, as with "mox32 ... > list.txt", and
// the file must not appear in a drive the program lists.
TEST(Harness, StdoutToFile) {
    Sandbox sb;
    RunOptions o = sh_opts();
    o.stdout_to_file = true;
    RunResult r = sh(sb, "if [ -f /dev/stdout ]; then echo file; fi; readlink /proc/$$/fd/1; echo err >&2", o);
    std::vector<std::string> l = lines(r.out);
    ASSERT_EQ(l.size(), 2u) << r.out;
    EXPECT_EQ(l[0], "file");
    EXPECT_EQ(l[1].rfind(sb.root() + "/", 0), 0u) << l[1];
    EXPECT_NE(l[1].rfind(sb.native('d') + "/", 0), 0u) << l[1];
    EXPECT_NE(l[1].rfind(sb.native('e') + "/", 0), 0u) << l[1];
    EXPECT_EQ(r.err, "err\n");

    // A second run starts with an empty file.
    EXPECT_EQ(sh(sb, "echo x", o).out, "x\n");
}

TEST(Harness, SandboxFilesAndCleanup) {
    std::string root;
    {
        Sandbox sb;
        root = sb.root();
        char *real = realpath(root.c_str(), nullptr);
        ASSERT_NE(real, nullptr);
        EXPECT_EQ(root, real) << "a root behind a link would not match the working directory";
        free(real);
        for (const char *sub : {"d", "e", "home", "data", "tmp"}) {
            struct stat st;
            EXPECT_EQ(stat((root + "/" + sub).c_str(), &st), 0) << sub;
        }
        EXPECT_EQ(sb.native('D', "a/b.txt"), root + "/d/a/b.txt");

        std::string binary("x\0\r\n\xff", 5);
        sb.write('d', "deep/er/file.bin", binary);
        EXPECT_EQ(sb.read('d', "deep/er/file.bin"), binary);
        sb.write('d', "deep/er/file.bin", "short");
        EXPECT_EQ(sb.read('d', "deep/er/file.bin"), "short");
        EXPECT_TRUE(sb.exists('d', "deep/er"));
        EXPECT_FALSE(sb.exists('d', "deep/missing"));
        EXPECT_THROW(sb.read('d', "deep/missing"), std::runtime_error);
        sb.mkdir('f', "x/y");
        EXPECT_TRUE(sb.exists('f', "x/y"));
        ASSERT_EQ(symlink("nowhere", sb.native('d', "dangling").c_str()), 0);
        EXPECT_TRUE(sb.exists('d', "dangling"));

        // Trees a test made read-only or unreadable must go too.
        sb.write('e', "ro/sub/f.txt", "x");
        ASSERT_EQ(chmod(sb.native('e', "ro/sub/f.txt").c_str(), 0444), 0);
        ASSERT_EQ(chmod(sb.native('e', "ro/sub").c_str(), 0), 0);
        ASSERT_EQ(chmod(sb.native('e', "ro").c_str(), 0555), 0);
    }
    struct stat st;
    EXPECT_NE(lstat(root.c_str(), &st), 0) << root << " is left behind";
}

TEST(Harness, PtyTypesKeysAtPrompts) {
    Sandbox sb;
    // Reads one key raw, as the console code does, twice.
    const std::string ask = "printf 'Overwrite? '; stty raw -echo; k=$(dd bs=1 count=1 2>/dev/null); "
                            "stty sane; echo \"got $k\"; ";
    RunResult r = sh_pty(sb, "test -t 0 && (: </dev/tty) && echo \"tty $TERM\"; " + ask + ask + "exit 5",
                         {{"Overwrite? ", "y"}, {"Overwrite? ", "n"}});
    EXPECT_FALSE(r.timed_out) << r.out;
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, "tty dumb\nOverwrite? got y\nOverwrite? got n\n");
    EXPECT_EQ(r.err, "");

    // A line typed in canonical mode is echoed by the terminal.
    r = sh_pty(sb, "printf 'name? '; read n; echo \"hi $n\"", {{"name? ", "ann\n", false}});
    EXPECT_EQ(r.out, "name? ann\nhi ann\n");
    EXPECT_EQ(r.status, 0);
}

// A prompt that never comes must end the run with what was seen, not hang; a
// step matches only after the previous step's match.
TEST(Harness, PtyMissingPromptTimesOut) {
    Sandbox sb;
    RunOptions o = sh_opts();
    o.timeout_ms = 500;
    RunResult r = sh_pty(sb, "printf 'X? '; read a; sleep 30", {{"X? ", "a\n", false}, {"X? ", "b\n", false}}, o);
    EXPECT_TRUE(r.timed_out);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.out, "X? a\n");

    // The program ending early is just as final.
    o.timeout_ms = 20000;
    auto start = std::chrono::steady_clock::now();
    r = sh_pty(sb, "echo bye", {{"never", "x"}}, o);
    EXPECT_TRUE(r.timed_out);
    EXPECT_EQ(r.out, "bye\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    // A program that keeps the terminal open past the time limit.
    o.timeout_ms = 300;
    r = sh_pty(sb, "sleep 30", {}, o);
    EXPECT_TRUE(r.timed_out);
}

// Standard output redirected while the console stays on the terminal, as
// with "mox32 ... > out.txt" typed by a user.
TEST(Harness, PtyWithStdoutToFile) {
    Sandbox sb;
    RunOptions o = sh_opts();
    o.stdout_to_file = true;
    RunResult r = sh_pty(sb,
                         "echo to-file; [ -f /dev/stdout ] && echo stdout-file; "
                         "[ -t 2 ] && echo err-tty >&2; printf 'Key? ' >/dev/tty; "
                         "stty raw -echo; k=$(dd bs=1 count=1 2>/dev/null); stty sane; echo \"$k\"",
                         {{"Key? ", "q"}}, o);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "to-file\nstdout-file\nq\n");
    EXPECT_EQ(r.err, "err-tty\nKey? ");
    RunOptions piped;
    piped.input = "x";
    EXPECT_THROW(sb.run_pty({}, {}, piped), std::invalid_argument);
}

TEST(Harness, ShiftJisLocale) {
    std::string locpath = Sandbox::sjis_locpath();
    if (locpath.empty())
        GTEST_SKIP() << "no Shift_JIS locale can be compiled here";
    EXPECT_EQ(Sandbox::sjis_locpath(), locpath) << "compiled once per process";
    Sandbox sb;
    RunOptions o = sh_opts();
    o.env = {{"LOCPATH", locpath}, {"LC_ALL", "ja_JP.SJIS"}};
    RunResult r = sh(sb, "locale charmap", o);
    EXPECT_EQ(r.out, "SHIFT_JIS\n") << r.err;
    EXPECT_EQ(r.err, "");
}

TEST(Harness, Lines) {
    EXPECT_EQ(lines(""), std::vector<std::string>{});
    EXPECT_EQ(lines("a"), std::vector<std::string>{"a"});
    EXPECT_EQ(lines("a\n\nb\n"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(lines("\n"), std::vector<std::string>{""});
}
