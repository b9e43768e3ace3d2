// What a run writes stays inside the destination tree, a destination
// inside the source is seen however it is reached, and a run ended by a
// signal leaves none of its temporary files behind.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "disposal_util.h"
#include "engine_util.h"
#include "harness.h"

using namespace e2e;

namespace {

using Lines = std::vector<std::string>;

bool is_link(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// A destination holding "*" or "?" names no one directory. The Linux build
// made a directory literally named "Q*" and copied into it with status 0;
// Windows cannot hold such a name, so the Win32 build failed there. Both
// refuse it now, naming the argument, before anything is read or made, in
// every mode that takes a destination (the reference of /DEL included).
TEST(Destination, WildcardIsRefused) {
    const Lines cases[] = {
        {"D:\\S\\A.TXT", "E:\\Q*"},
        {"D:\\S\\A.TXT", "E:\\OUT\\?"},
        {"/S", "D:\\S", "E:\\A*B\\C"},
        {"/M", "D:\\S\\*.TXT", "E:\\Q?"},
        {"/E", "D:\\S", "E:\\Q*"},
        {"/DEL", "/O", "/Y", "D:\\S", "E:\\R*"},
    };
    for (const Lines &args : cases) {
        const std::string &dst = args.back();
        SCOPED_TRACE(dst);
        Sandbox box;
        box.write('d', "S/A.TXT", "a");
        box.write('e', "R/A.TXT", "reference");
        RunResult r = box.run(args);
        EXPECT_EQ(1, r.status) << r.out;
        Lines out = outlines(r);
        ASSERT_FALSE(out.empty());
        EXPECT_EQ("Error! wildcard in destination: " + dst, out[0]);
        EXPECT_FALSE(has_line(r, READING)) << r.out;
        EXPECT_EQ((Lines{"S/", "S/A.TXT"}), tree(box.native('d')));
        EXPECT_EQ((Lines{"R/", "R/A.TXT"}), tree(box.native('e')));
    }
}

// A link in the destination tree used to lead the writes out of it: the
// file it named outside was overwritten, emptied, appended to or given a
// backup there, with exit status 0. A link where a directory belongs is
// refused; a link at a file's name is replaced as an entry, or refused
// when appending.
TEST(Destination, LinksInTheTreeAreNeverWrittenThrough) {
    struct Case {
        const char *opt;
        bool dirlink; // E:\O\SUB is the link, else E:\O\SUB\a.txt is
        int status;
        std::string line; // printed for a refusal; "" for none
        std::string now;  // E:\O\SUB\a.txt afterwards, when it is no link
    } cases[] = {
        {"/A", true, 1, "Error! path is a link, not a directory: E:\\O\\SUB", ""},
        {"/U", true, 1, "Error! path is a link, not a directory: E:\\O\\SUB", ""},
        {"/O", true, 1, "Error! path is a link, not a directory: E:\\O\\SUB", ""},
        {"/M", true, 1, "Error! path is a link, not a directory: E:\\O\\SUB", ""},
        {"/B", true, 1, "Error! path is a link, not a directory: E:\\O\\SUB", ""},
        {"/Z", true, 1, "Error! path is a link, not a directory: E:\\O\\SUB", ""},
        {"/I", true, 1, "Error! path is a link, not a directory: E:\\O\\SUB", ""},
        {"/A", false, 0, "", "new"},
        {"/U", false, 0, "", "new"},
        {"/O", false, 0, "", "new"},
        {"/M", false, 0, "", "new"},
        {"/B", false, 0, "", "new"},
        {"/Z", false, 0, "", ""},
        {"/I", false, 1, "Error! can't append to a link: E:\\O\\SUB\\a.txt", ""},
    };
    for (const Case &c : cases) {
        if (!c.dirlink && suite_build().win32)
            continue; // symbolic links to files are Linux's alone
        std::string what = std::string(c.opt) + (c.dirlink ? " directory link" : " file link");
        Sandbox box;
        const std::string outside = box.root() + "/outside";
        box.write('d', "S/SUB/a.txt", "new");
        ASSERT_EQ(0, ::mkdir(outside.c_str(), 0755));
        FILE *fp = std::fopen((outside + "/a.txt").c_str(), "wb");
        ASSERT_NE(nullptr, fp);
        std::fputs("OUTSIDE", fp);
        std::fclose(fp);
        set_mtime(outside + "/a.txt", T0); // older than the source
        ASSERT_EQ(0, ::chmod((outside + "/a.txt").c_str(), 0444));
        box.mkdir('e', "O");
        if (c.dirlink) {
            ASSERT_EQ(0, ::symlink(outside.c_str(), box.native('e', "O/SUB").c_str()));
        } else {
            box.mkdir('e', "O/SUB");
            ASSERT_EQ(0, ::symlink((outside + "/a.txt").c_str(),
                                   box.native('e', "O/SUB/a.txt").c_str()));
        }
        RunResult r = box.run({"/S", c.opt, "D:\\S", "E:\\O"});
        EXPECT_EQ(c.status, r.status) << what << "\n" << r.out;
        EXPECT_EQ("OUTSIDE", read_native(outside + "/a.txt")) << what;
        EXPECT_EQ(Lines{"a.txt"}, tree(outside)) << what;
        struct stat st;
        ASSERT_EQ(0, ::stat((outside + "/a.txt").c_str(), &st));
        EXPECT_EQ(0444u, st.st_mode & 07777) << what;
        if (!c.line.empty()) {
            EXPECT_TRUE(has_line(r, c.line)) << what << "\n" << r.out;
            EXPECT_TRUE(has_line(r, count(1, "File(s) failed"))) << what << "\n" << r.out;
            EXPECT_EQ("new", read_native(box.native('d', "S/SUB/a.txt"))) << what;
        } else {
            std::string dst = box.native('e', "O/SUB/a.txt");
            EXPECT_FALSE(is_link(dst)) << what;
            EXPECT_EQ(c.now, read_native(dst)) << what;
        }
    }
}

// A link met on the way down, where no directory entry of the source asks
// for it first, is refused too, with every file below it.
TEST(Destination, LinkAboveTheDirectoryIsRefused) {
    Sandbox box;
    const std::string outside = box.root() + "/outside";
    ASSERT_EQ(0, ::mkdir(outside.c_str(), 0755));
    box.write('d', "S/SUB/DEEP/a.txt", "a");
    box.write('d', "S/SUB/DEEP/b.txt", "b");
    box.mkdir('e', "O");
    ASSERT_EQ(0, ::symlink(outside.c_str(), box.native('e', "O/SUB").c_str()));
    RunResult r = box.run({"/S", "D:\\S\\*.txt", "E:\\O"});
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_TRUE(has_line(r, "Error! path is a link, not a directory: E:\\O\\SUB")) << r.out;
    EXPECT_TRUE(has_line(r, count(2, "File(s) failed"))) << r.out;
    EXPECT_EQ(Lines{}, tree(outside));
}

// The user may name a link as the destination itself: only links below it
// are refused.
TEST(Destination, TheBaseMayBeALink) {
    Sandbox box;
    box.write('d', "S/SUB/a.txt", "a");
    box.mkdir('e', "REAL");
    ASSERT_EQ(0, ::symlink("REAL", box.native('e', "O").c_str()));
    RunResult r = box.run({"/S", "D:\\S", "E:\\O"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ("a", box.read('e', "REAL/SUB/a.txt"));
}

// The inside-destination test compared text only: a destination reached
// through a link in the source's path was copied into itself 49 levels
// deep, 4 files becoming 196.
TEST(Destination, InsideTheSourceThroughALink) {
    Sandbox box;
    for (const char *f : {"f1.txt", "f2.txt", "f3.txt", "f4.txt"})
        box.write('d', std::string("REAL/SUB/") + f, f);
    box.mkdir('d', "REAL/SUB/BACK");
    ASSERT_EQ(0, ::symlink("REAL", box.native('d', "L").c_str()));
    RunResult r = box.run({"/S", "D:\\L\\SUB", "D:\\REAL\\SUB\\BACK"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_TRUE(has_line(r, "skip!: <D:\\L\\SUB\\BACK>")) << r.out;
    EXPECT_EQ((Lines{"f1.txt", "f2.txt", "f3.txt", "f4.txt"}),
              tree(box.native('d', "REAL/SUB/BACK")));
}

// The same through a bind mount, which no path text can reveal.
TEST(Destination, InsideTheSourceThroughABindMount) {
    SKIP_ON_WIN32("bind mounts");
    if (::geteuid() != 0)
        GTEST_SKIP() << "bind mounts need root";
    Sandbox box;
    box.write('d', "SRC/a.txt", "a");
    box.mkdir('d', "SRC/MNT");
    box.mkdir('e', "OUT");
    if (::mount(box.native('e', "OUT").c_str(), box.native('d', "SRC/MNT").c_str(), nullptr,
                MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "no bind mounts here";
    RunResult r = box.run({"/S", "D:\\SRC", "E:\\OUT"});
    ::umount2(box.native('d', "SRC/MNT").c_str(), MNT_DETACH);
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_TRUE(has_line(r, "skip!: <D:\\SRC\\MNT>")) << r.out;
    Lines out = tree(box.native('e', "OUT"));
    EXPECT_TRUE(std::find(out.begin(), out.end(), "MNT/MNT/") == out.end()) << r.out;
    EXPECT_EQ("a", box.read('e', "OUT/a.txt"));
}

// Ended by a signal while it captured a list from standard input, a run
// left its temporary list file behind for good. The list here is a pipe
// that stays open, so the run waits in the capture when the signal comes.
TEST(Destination, SignalLeavesNoTemporaryFile) {
    SKIP_ON_WIN32("signals");
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        Sandbox box;
        box.write('d', "S/a.txt", "a");
        const std::string fifo = box.root() + "/list.fifo";
        ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
        const std::string tmp = box.root() + "/tmp";
        // The helper holds the pipe open, waits for the temporary file,
        // gives the run a moment to settle in its read, signals it and
        // keeps the pipe open until it is gone.
        std::string script =
            "( exec 3>\"$1\"; while ! ls \"$2\"/_MOX_* >/dev/null 2>&1; do sleep 0.01; done;"
            " sleep 0.2; kill -" + std::to_string(sig) + " $$;"
            " while kill -0 $$ 2>/dev/null; do sleep 0.01; done ) >/dev/null 2>&1 &"
            " exec \"$0\" @ 'E:\\OUT' <\"$1\"";
        RunOptions o;
        o.program = "/bin/sh";
        o.timeout_ms = 10000;
        RunResult r = box.run({"-c", script, suite_build().path, fifo, tmp}, o);
        EXPECT_EQ(128 + sig, r.status) << "signal " << sig << "\n" << r.out << r.err;
        EXPECT_EQ(Lines{}, tree(tmp)) << "signal " << sig;
    }
}

// Ctrl-C at a prompt or during a copy ended the Win32 build with status 0
// (Wine's own console handler): a script read the interrupted run as a
// success. The run ends as interrupted (of STATUS_CONTROL_C_EXIT, Wine
// passes on the low byte), the source kept and the half-made copy gone.
TEST(Destination, CtrlCEndsTheRunAsInterrupted) {
    struct Case {
        const char *what;
        Lines args;
        std::string when;
        bool copying;
    } cases[] = {
        {"at a prompt", {"/DEL", "D:\\S\\*.*"}, SURE, false},
        {"during a copy", {"D:\\S\\BIG.BIN", "E:\\OUT"}, " of 1.0 GiB", true},
    };
    for (const Case &c : cases) {
        // A Linux copy of holes takes no time; progress_test slows one down.
        if (c.copying && !suite_build().win32)
            continue;
        Sandbox box;
        box.write('d', "S/BIG.BIN", "");
        ASSERT_EQ(0, ::truncate(box.native('d', "S/BIG.BIN").c_str(), 1LL << 30));
        RunResult r = box.run_pty(c.args, {{c.when, "\x03", !c.copying}});
        ASSERT_FALSE(r.timed_out) << c.what << "\n" << r.out;
        EXPECT_EQ(suite_build().win32 ? 0x3A : 128 + SIGINT, r.status) << c.what << "\n" << r.out;
        EXPECT_TRUE(box.exists('d', "S/BIG.BIN")) << c.what;
        EXPECT_EQ(Lines{}, tree(box.native('e', "OUT"))) << c.what;
    }
}

} // namespace
