// The recycle bin (/DEL+) is the desktop's own trash, so that what we put
// there can be listed and restored by the usual tools; these tests look at
// it from outside, in the sandbox's data directory only.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "disposal_util.h"
#include "engine_util.h"
#include "harness.h"

using namespace e2e;

namespace {

using Lines = std::vector<std::string>;

// The "Path=" value of a .trashinfo file, or "" when it has none.
std::string info_path(const std::string &info) {
    for (const std::string &l : lines(info))
        if (l.rfind("Path=", 0) == 0)
            return l.substr(5);
    return "";
}

// Listing of the trash of whoever runs the tests, to prove it untouched.
Lines real_trash() {
    std::string dir;
    if (const char *x = std::getenv("XDG_DATA_HOME"); x != nullptr && *x == '/')
        dir = std::string(x) + "/Trash";
    else if (const char *h = std::getenv("HOME"); h != nullptr && *h == '/')
        dir = std::string(h) + "/.local/share/Trash";
    return dir.empty() ? Lines{} : tree(dir);
}

// Each recycled file lands in the sandbox's trash with an info file that
// records where it came from, so a file manager can put it back. A space in
// the name is escaped in the record, as the trash format asks.
TEST(Recycle, FilesAndInfoInTheSandboxTrash) {
    SKIP_ON_WIN32("the freedesktop.org Trash");
    Lines before = real_trash();
    Sandbox box;
    box.write('d', "R/A.TXT", "recycled a");
    box.write('d', "R/SUB/MY FILE.TXT", "with a space");
    RunResult r = box.run({"/S", "/DEL+", "D:\\R\\*.TXT"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ((Lines{READING, "  A.TXT", "  MY FILE.TXT", count(2, "File(s) found"),
                     count(2, "File(s) deleted"), count(1, "Dir(s)  searched")}),
              outlines(r));
    EXPECT_EQ((Lines{"SUB/"}), tree(box.native('d', "R")));

    const std::string trash = box.root() + "/data/Trash";
    EXPECT_EQ((Lines{"A.TXT", "MY FILE.TXT"}), tree(trash + "/files"));
    EXPECT_EQ((Lines{"A.TXT.trashinfo", "MY FILE.TXT.trashinfo"}), tree(trash + "/info"));
    EXPECT_EQ("recycled a", read_native(trash + "/files/A.TXT"));
    EXPECT_EQ("with a space", read_native(trash + "/files/MY FILE.TXT"));
    std::string info = read_native(trash + "/info/A.TXT.trashinfo");
    EXPECT_EQ("[Trash Info]", lines(info).at(0));
    EXPECT_EQ(box.native('d', "R/A.TXT"), info_path(info));
    EXPECT_EQ(box.native('d', "R/SUB/MY%20FILE.TXT"),
              info_path(read_native(trash + "/info/MY FILE.TXT.trashinfo")));
    EXPECT_EQ(before, real_trash());
}

// A second file of the same name does not replace the first in the bin.
TEST(Recycle, SameNameTwice) {
    SKIP_ON_WIN32("the freedesktop.org Trash");
    Sandbox box;
    box.write('d', "R/X/A.TXT", "first");
    box.write('d', "R/Y/A.TXT", "second");
    RunResult r = box.run({"/S", "/DEL+", "D:\\R\\*.TXT"});
    EXPECT_EQ(0, r.status) << r.out;
    Lines files = tree(box.root() + "/data/Trash/files");
    ASSERT_EQ(2u, files.size());
    std::string both = read_native(box.root() + "/data/Trash/files/" + files[0]) + "+" +
                       read_native(box.root() + "/data/Trash/files/" + files[1]);
    EXPECT_TRUE(both == "first+second" || both == "second+first") << both;
}

// A file that cannot be recycled stays where it is and counts as failed; it
// is never deleted in its place, and the walk goes on to the next file. A
// plain file where the trash directory belongs makes every recycle fail,
// for root as well. Each refusal names its file (it used not to).
TEST(Recycle, RefusedMoveKeepsTheFile) {
    SKIP_ON_WIN32("the freedesktop.org Trash");
    Sandbox box;
    box.write('d', "R/KEEP.TXT", "keep me");
    box.write('d', "R/KEEP2.TXT", "keep me too");
    std::string blocker = box.root() + "/data/Trash";
    FILE *fp = std::fopen(blocker.c_str(), "wb");
    ASSERT_NE(nullptr, fp);
    std::fclose(fp);
    RunResult r = box.run({"/DEL+", "D:\\R\\*.TXT"});
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_EQ((Lines{READING, "Error! SHFileOperation() failed",
                     "Error! can't move to recycle bin: D:\\R\\KEEP.TXT", " GetLastError=[5]",
                     "Error! SHFileOperation() failed",
                     "Error! can't move to recycle bin: D:\\R\\KEEP2.TXT", " GetLastError=[5]",
                     count(2, "File(s) found"), count(0, "File(s) deleted"),
                     count(2, "File(s) failed")}),
              outlines(r));
    EXPECT_EQ("keep me", box.read('d', "R/KEEP.TXT"));
    EXPECT_EQ("keep me too", box.read('d', "R/KEEP2.TXT"));
    EXPECT_EQ("", read_native(blocker));
}

// On Windows the recycle bin is the shell's (under Wine, the desktop's trash
// again). A recycled file must reach it whole, never be deleted for good;
// where no recycle bin can take it (Wine then deletes the file and reports
// success) it must stay and fail the run.
TEST(Recycle, ShellRecycleBinNeverDeletesForGood) {
    SKIP_UNLESS_WIN32("the recycle bin of the Windows shell");
    Sandbox box;
    box.write('d', "R/A.TXT", "recycled a");
    RunResult r = box.run({"/DEL+", "D:\\R\\A.TXT"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_FALSE(box.exists('d', "R/A.TXT"));
    EXPECT_EQ("recycled a", read_native(box.root() + "/data/Trash/files/A.TXT"));

    Sandbox blocked;
    blocked.write('d', "R/KEEP.TXT", "keep me");
    FILE *fp = std::fopen((blocked.root() + "/data/Trash").c_str(), "wb");
    ASSERT_NE(nullptr, fp);
    std::fclose(fp);
    r = blocked.run({"/DEL+", "D:\\R\\KEEP.TXT"});
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_TRUE(has_line(r, "Error! can't move to recycle bin: D:\\R\\KEEP.TXT")) << r.out;
    EXPECT_TRUE(has_line(r, count(1, "File(s) failed"))) << r.out;
    EXPECT_EQ("keep me", blocked.read('d', "R/KEEP.TXT"));
}

// What /DEL+ recycled must be listed by the tools a user restores files
// with: gio (which needs the desktop's virtual file system backend, so it
// is skipped where that is missing) and trash-cli, which reads the
// freedesktop.org Trash directly.
RunResult recycleandlist(const Sandbox &box, const std::string &program,
                         const std::vector<std::string> &args) {
    box.write('d', "R/LISTED.TXT", "x");
    RunResult r = box.run({"/DEL+", "D:\\R\\LISTED.TXT"});
    EXPECT_EQ(0, r.status) << r.out;
    RunOptions opt;
    opt.program = program;
    return box.run(args, opt);
}

TEST(Recycle, GioListsTheFile) {
    SKIP_ON_WIN32("the freedesktop.org Trash and gio");
    if (::access("/usr/bin/gio", X_OK) != 0)
        GTEST_SKIP() << "no /usr/bin/gio";
    Sandbox box;
    RunResult g = recycleandlist(box, "/usr/bin/gio", {"trash", "--list"});
    if (g.status != 0 && g.err.find("not supported") != std::string::npos)
        GTEST_SKIP() << "gio cannot list the trash here: " << g.err;
    EXPECT_EQ(0, g.status) << g.err;
    EXPECT_NE(std::string::npos, g.out.find(box.native('d', "R/LISTED.TXT"))) << g.out;
}

TEST(Recycle, TrashCliListsTheFile) {
    SKIP_ON_WIN32("the freedesktop.org Trash and trash-cli");
    if (::access("/usr/bin/trash-list", X_OK) != 0)
        GTEST_SKIP() << "no /usr/bin/trash-list";
    Sandbox box;
    RunResult t = recycleandlist(box, "/usr/bin/trash-list", {});
    EXPECT_EQ(0, t.status) << t.err;
    EXPECT_NE(std::string::npos, t.out.find(" " + box.native('d', "R/LISTED.TXT") + "\n")) << t.out;
}

} // namespace
