// Entries on the Windows backend: what Wine would get wrong with links,
// deletes and letter case, and moves that never replace.
#include "win32_backend.h"

namespace {

class Win32Names : public Win32Tree {};

// Wine shows a link to a file as the file and deletes, renames and marks
// the file it names: deleting a link used to delete its target.
TEST_F(Win32Names, LinkToAFileIsNeverActedThrough) {
    mkdir("T");
    std::ofstream(wat("T/target.txt")) << "precious";
    ASSERT_TRUE(symlink(at("T/target.txt"), at("T/link.txt")));
    EXPECT_EQ(plat_islink("C:\\T\\link.txt"), 1);
    EXPECT_EQ(plat_islink("C:\\T\\target.txt"), 0);
    unsigned a = 0;
    EXPECT_EQ(plat_setattr("C:\\T\\link.txt", PLAT_ATTR_READONLY | PLAT_ATTR_HIDDEN), 0);
    ASSERT_EQ(plat_getattr("C:\\T\\target.txt", &a), 0);
    EXPECT_EQ(a & 0x03, 0u);
    EXPECT_EQ(plat_open("C:\\T\\link.txt", PLAT_OPEN_APPEND), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_ACCESS_DENIED);
    EXPECT_EQ(plat_move("C:\\T\\link.txt", "C:\\T\\moved.txt"), -1);
    EXPECT_EQ(plat_recycle("C:\\T\\link.txt"), -1);
    EXPECT_EQ(listed("T"), (Names{"link.txt", "target.txt"}));
    EXPECT_EQ(plat_delete("C:\\T\\link.txt"), 0);
    EXPECT_EQ(listed("T"), Names{"target.txt"});
    EXPECT_EQ(slurp("T/target.txt"), "precious");
}

// Windows keeps a read-only file, and a file Wine could not delete
// (immutable) used to count as deleted.
TEST_F(Win32Names, DeleteRefusedUnlessTheFileIsGone) {
    file("ro.txt", 3);
    ASSERT_EQ(plat_setattr("C:\\ro.txt", PLAT_ATTR_READONLY), 0);
    EXPECT_EQ(plat_delete("C:\\ro.txt"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_ACCESS_DENIED);
    EXPECT_TRUE(exists("ro.txt"));
    file("fixed.txt", 3);
    std::string u = unix_path(at("fixed.txt"));
    unix_sh("chattr +i '" + u + "' && : > '" + u + ".ok'");
    if (!exists("fixed.txt.ok"))
        GTEST_SKIP() << "no immutable files here (root and a file system that has them)";
    int r = plat_delete("C:\\fixed.txt");
    unix_sh("chattr -i '" + u + "'");
    EXPECT_EQ(r, -1);
    EXPECT_TRUE(exists("fixed.txt"));
}

// Wine reports a rename that changes letter case alone as done and keeps
// the old spelling.
TEST_F(Win32Names, CaseOnlyRenameChangesTheSpelling) {
    mkdir("T/dir");
    std::ofstream(wat("T/name.txt")) << "data";
    EXPECT_EQ(plat_move("C:\\T\\name.txt", "C:\\T\\NAME.TXT"), 0);
    EXPECT_EQ(plat_move("C:\\T\\dir", "C:\\T\\Dir"), 0);
    EXPECT_EQ(listed("T"), (Names{"Dir", "NAME.TXT"}));
    EXPECT_EQ(slurp("T/NAME.TXT"), "data");
    EXPECT_EQ(plat_move("C:\\T\\NAME.TXT", "C:\\T\\NAME.TXT"), 0); // nothing to do
}

// A move that replaced its destination would lose the user's file.
TEST_F(Win32Names, MoveNeverReplacesReplaceDoes) {
    std::ofstream(wat("a.txt")) << "source";
    std::ofstream(wat("b.txt")) << "dest";
    mkdir("dir");
    for (const char *to : {"C:\\b.txt", "C:\\B.TXT", "C:\\dir"}) {
        EXPECT_EQ(plat_move("C:\\a.txt", to), -1) << to;
        EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_ALREADY_EXISTS) << to;
    }
    EXPECT_EQ(slurp("b.txt"), "dest");
    ASSERT_EQ(plat_setattr("C:\\b.txt", PLAT_ATTR_READONLY), 0);
    EXPECT_EQ(plat_replace("C:\\a.txt", "C:\\b.txt"), -1); // read-only stays
    ASSERT_EQ(plat_setattr("C:\\b.txt", PLAT_ATTR_NORMAL), 0);
    EXPECT_EQ(plat_replace("C:\\a.txt", "C:\\b.txt"), 0);
    EXPECT_EQ(slurp("b.txt"), "source");
    EXPECT_FALSE(exists("a.txt"));
    EXPECT_EQ(plat_move("C:\\b.txt", "C:\\missing\\b.txt"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_PATH_NOT_FOUND);
}

// Across file systems a file is copied with its time, then its source
// deleted; a directory cannot go.
TEST_F(Win32Names, MoveToAnotherFileSystemCopiesThenDeletes) {
    if (GetFileAttributesW(L"Z:\\dev\\shm") == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no /dev/shm";
    std::string dir = "Z:\\dev\\shm\\moxw32_" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    std::ofstream(wat("a.txt")) << "data";
    PlatEntry before, after;
    ASSERT_TRUE(entry("C:\\a.txt", &before));
    int r = plat_move("C:\\a.txt", (dir + "\\a.txt").c_str());
    bool moved = entry(dir + "\\a.txt", &after);
    unix_sh("rm -rf '/dev/shm/moxw32_" + std::to_string(GetCurrentProcessId()) + "'");
    EXPECT_EQ(r, 0);
    ASSERT_TRUE(moved);
    EXPECT_FALSE(exists("a.txt"));
    EXPECT_EQ(after.size, 4u);
    EXPECT_EQ(after.mtime.sec, before.mtime.sec);
    EXPECT_EQ(after.mtime.nsec / 100, before.mtime.nsec / 100);
}

// Wine says "file not found" for a directory made in a missing one, and
// "path not found" for a missing directory removed from one that exists:
// both the other way round from Windows and the contract.
TEST_F(Win32Names, MissingNamesGiveTheContractsCodes) {
    EXPECT_EQ(plat_mkdir("C:\\missing\\new"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_PATH_NOT_FOUND);
    EXPECT_EQ(plat_rmdir("C:\\missing"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_FILE_NOT_FOUND);
    EXPECT_EQ(plat_rmdir("C:\\missing\\deeper"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_PATH_NOT_FOUND);
}

// The test hooks work as on posix: an armed failure touches nothing.
TEST_F(Win32Names, ArmedFailureTouchesNothing) {
    file("a.txt");
    plat_failcall(PLAT_CALL_DELETE, 2, PLAT_ERR_SHARING_VIOLATION);
    file("b.txt");
    EXPECT_EQ(plat_delete("C:\\b.txt"), 0);
    EXPECT_EQ(plat_delete("C:\\a.txt"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_SHARING_VIOLATION);
    EXPECT_TRUE(exists("a.txt"));
    EXPECT_EQ(plat_delete("C:\\a.txt"), 0);
}

} // namespace
