// Attributes and entries: make, remove, delete, move and replace, names
// found ignoring case, links, and failures on demand. What every backend
// keeps.
#include "platform_test.h"

namespace {

class PlatformNames : public PlatformTest {};

// The attribute word comes back as set: read-only, hidden and system,
// archive always on a file, 0x10 alone on a directory; a missing name gives
// 2, or 3 when its directory is missing too, as Windows tells them apart.
TEST_F(PlatformNames, AttributesSetAndRead) {
    file("f");
    mkdir("dir");
    EXPECT_EQ(attr("C:\\DIR"), 0x10u);
    EXPECT_EQ(attr("C:\\"), 0x10u);
    ASSERT_EQ(plat_setattr("C:\\F", PLAT_ATTR_READONLY), 0);
    EXPECT_EQ(attr("C:\\f"), 0x21u);
    ASSERT_EQ(plat_setattr("C:\\f", 0), 0);
    EXPECT_EQ(attr("C:\\f"), 0x20u);
    EXPECT_EQ(attr("C:\\none"), ~0u);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_FILE_NOT_FOUND);
    EXPECT_EQ(attr("C:\\nodir\\none"), ~0u);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_PATH_NOT_FOUND);
    EXPECT_EQ(plat_setattr("C:\\none", 0), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_FILE_NOT_FOUND);
    if (!mark("C:\\f", PLAT_ATTR_HIDDEN | PLAT_ATTR_SYSTEM))
        GTEST_SKIP() << "this file system keeps no hidden or system mark";
    EXPECT_EQ(attr("C:\\f"), 0x26u);
    // Hidden can be set on a read-only file and leaves it read-only.
    ASSERT_EQ(plat_setattr("C:\\f", PLAT_ATTR_READONLY | PLAT_ATTR_HIDDEN), 0);
    EXPECT_EQ(attr("C:\\f"), 0x23u);
    ASSERT_EQ(plat_setattr("C:\\f", PLAT_ATTR_NORMAL), 0);
    EXPECT_EQ(attr("C:\\f"), 0x20u);
}

// A name typed in another case is the entry on disk: a file created
// through "c:\data\new" must land in Data, not in a second directory, and
// the run's own renames, creations and removals must show at once, or
// files would be written where a directory used to be.
TEST_F(PlatformNames, TypedNamesReachTheEntriesOnDisk) {
    put("Data/Report.TXT", "r");
    mkdir("Data/Sub");
    EXPECT_EQ(content("c:\\data\\report.txt"), "r");
    PlatEntry e;
    ASSERT_TRUE(entry("C:\\DATA", &e));
    EXPECT_STREQ(e.name, "Data");
    EXPECT_EQ(e.attrib, 0x10u);
    ASSERT_EQ(plat_mkdir("c:\\DATA\\new"), 0);
    ASSERT_EQ(plat_move("C:\\data\\sub", "C:\\Data\\Moved"), 0);
    for (const char *f : {"C:\\data\\NEW\\f", "C:\\data\\moved\\f"}) {
        int h = plat_open(f, PLAT_OPEN_CREATE);
        ASSERT_GE(h, 0) << f;
        plat_close(h);
    }
    EXPECT_EQ(listed("Data"), (Names{"Moved", "Report.TXT", "new"}));
    EXPECT_EQ(plat_open("C:\\data\\sub\\f", PLAT_OPEN_CREATE), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_PATH_NOT_FOUND);
    ASSERT_EQ(plat_mkdir("C:\\Data\\SUB"), 0);
    ASSERT_EQ(plat_rmdir("C:\\data\\sub"), 0);
    EXPECT_EQ(plat_open("C:\\data\\sub\\f", PLAT_OPEN_CREATE), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_PATH_NOT_FOUND);
}

// Wine gives "file not found" for a directory made in a missing one and
// "path not found" for a missing directory removed from one that exists,
// the other way round from the contract.
TEST_F(PlatformNames, MkdirAndRmdirErrors) {
    EXPECT_EQ(plat_mkdir("C:\\Made"), 0);
    EXPECT_EQ(plat_mkdir("C:\\made"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_ALREADY_EXISTS);
    EXPECT_EQ(plat_mkdir("C:\\nope\\deeper"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_PATH_NOT_FOUND);
    EXPECT_EQ(plat_rmdir("C:\\nope"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_FILE_NOT_FOUND);
    EXPECT_EQ(plat_rmdir("C:\\nope\\deeper"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_PATH_NOT_FOUND);

    put("Made/f", "x");
    EXPECT_EQ(plat_rmdir("C:\\made"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_DIR_NOT_EMPTY);
    EXPECT_EQ(slurp("Made/f"), "x");
    EXPECT_EQ(plat_delete("C:\\made\\f"), 0);
    EXPECT_EQ(plat_rmdir("C:\\made"), 0);
    EXPECT_EQ(listed(""), Names{});
    // Made again right after: nothing may still hold the old entry.
    EXPECT_EQ(plat_mkdir("C:\\made"), 0);
    EXPECT_EQ(listed(""), Names{"made"});
}

// A move that replaced its destination would lose the user's file: every
// kind of existing destination is refused with 183 and both kept.
TEST_F(PlatformNames, MoveNeverReplaces) {
    put("a.txt", "source");
    put("b.txt", "dest");
    mkdir("empty");
    mkdir("dir");
    struct Case {
        const char *from, *to;
    } cases[] = {
        {"C:\\a.txt", "C:\\b.txt"},
        {"C:\\a.txt", "C:\\B.TXT"}, // the same, found ignoring case
        {"C:\\dir", "C:\\empty"},   // a rename would replace an empty directory
        {"C:\\a.txt", "C:\\empty"},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(std::string(k.from) + " -> " + k.to);
        plat_setlasterror(0);
        EXPECT_EQ(plat_move(k.from, k.to), -1);
        EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_ALREADY_EXISTS);
    }
    EXPECT_EQ(slurp("a.txt"), "source");
    EXPECT_EQ(slurp("b.txt"), "dest");
    EXPECT_EQ(listed(""), (Names{"a.txt", "b.txt", "dir", "empty"}));
}

// A moved file is found under its new name at once; a missing source (2)
// is told from a missing destination directory (3), and the file stays.
TEST_F(PlatformNames, MoveWithinDriveAndItsErrors) {
    put("a.txt", "data");
    mkdir("sub");
    ASSERT_EQ(plat_move("C:\\A.TXT", "C:\\sub\\New.txt"), 0);
    EXPECT_EQ(listed("sub"), Names{"New.txt"});
    EXPECT_EQ(content("C:\\sub\\new.txt"), "data"); // found at once
    EXPECT_EQ(plat_move("C:\\nothere", "C:\\x"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_FILE_NOT_FOUND);
    EXPECT_EQ(plat_move("C:\\sub\\New.txt", "C:\\missing\\x"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_PATH_NOT_FOUND);
    EXPECT_EQ(slurp("sub/New.txt"), "data");
}

// Windows respells a name when only its letter case changes; Wine reports
// such a rename as done and keeps the old spelling.
TEST_F(PlatformNames, CaseOnlyRenameRespells) {
    put("readme.txt", "text");
    mkdir("folder");
    ASSERT_EQ(plat_move("C:\\readme.txt", "C:\\ReadMe.TXT"), 0);
    ASSERT_EQ(plat_move("C:\\folder", "C:\\FOLDER"), 0);
    EXPECT_EQ(listed(""), (Names{"FOLDER", "ReadMe.TXT"}));
    EXPECT_EQ(slurp("ReadMe.TXT"), "text");
    EXPECT_EQ(plat_move("C:\\ReadMe.TXT", "C:\\ReadMe.TXT"), 0); // nothing to do
    EXPECT_EQ(slurp("ReadMe.TXT"), "text");
}

// The replace that puts a finished copy in place keeps the destination's
// spelling, and a read-only destination stays as it was.
TEST_F(PlatformNames, ReplaceIsAtomicAndGuarded) {
    put("new", "new data");
    put("old", "old data");
    ASSERT_EQ(plat_replace("C:\\new", "C:\\OLD"), 0);
    // The destination keeps its own spelling and gets the new contents.
    EXPECT_EQ(listed(""), Names{"old"});
    EXPECT_EQ(slurp("old"), "new data");

    // Read-only is a protection against an overwrite, as against a delete.
    put("new", "newer");
    ASSERT_EQ(plat_setattr("C:\\old", PLAT_ATTR_READONLY), 0);
    EXPECT_EQ(plat_replace("C:\\new", "C:\\old"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_ACCESS_DENIED);
    EXPECT_EQ(slurp("old"), "new data");
    EXPECT_EQ(slurp("new"), "newer");
    ASSERT_EQ(plat_setattr("C:\\old", PLAT_ATTR_NORMAL), 0);
}

// Windows keeps a read-only file on delete; the core relies on that and
// clears the attribute first when it means to delete. A link to a
// directory is no file either.
TEST_F(PlatformNames, DeleteRefusals) {
    put("ro.txt", "keep");
    ASSERT_EQ(plat_setattr("C:\\ro.txt", PLAT_ATTR_READONLY), 0);
    mkdir("dir");
    ASSERT_TRUE(symlink(at("dir"), at("dirlink")));
    struct Case {
        const char *path;
        unsigned err;
    } cases[] = {
        {"C:\\ro.txt", PLAT_ERR_ACCESS_DENIED},
        {"C:\\dir", PLAT_ERR_ACCESS_DENIED},
        {"C:\\dirlink", PLAT_ERR_ACCESS_DENIED},
        {"C:\\none.txt", PLAT_ERR_FILE_NOT_FOUND},
        {"C:\\nodir\\none.txt", PLAT_ERR_PATH_NOT_FOUND},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.path);
        EXPECT_EQ(plat_delete(k.path), -1);
        EXPECT_EQ(plat_lasterror(), k.err);
    }
    EXPECT_EQ(listed(""), (Names{"dir", "dirlink", "ro.txt"}));
    ASSERT_EQ(plat_setattr("C:\\ro.txt", PLAT_ATTR_NORMAL), 0);
    EXPECT_EQ(plat_delete("C:\\RO.TXT"), 0);
    EXPECT_EQ(listed(""), (Names{"dir", "dirlink"}));
}

// Wine shows a link to a file as the file and deletes, appends to and
// marks the file it names: deleting a link used to delete its target, an
// append through it grew whatever file it named, and clearing read-only
// before a delete stripped its target's protection.
TEST_F(PlatformNames, LinkToAFileIsNeverActedThrough) {
    put("target.txt", "precious");
    ASSERT_TRUE(symlink(at("target.txt"), at("link.txt")));
    EXPECT_EQ(plat_islink("C:\\LINK.txt"), 1);
    EXPECT_EQ(plat_islink("C:\\target.txt"), 0);
    EXPECT_EQ(plat_islink("C:\\none.txt"), 0);
    EXPECT_EQ(plat_open("C:\\link.txt", PLAT_OPEN_APPEND), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_ACCESS_DENIED);
    EXPECT_EQ(plat_setattr("C:\\link.txt", PLAT_ATTR_READONLY | PLAT_ATTR_HIDDEN), 0);
    EXPECT_EQ(plat_delete("C:\\link.txt"), 0);
    EXPECT_EQ(listed(""), Names{"target.txt"});
    EXPECT_EQ(slurp("target.txt"), "precious");
    EXPECT_EQ(attr("C:\\target.txt"), 0x20u);
}

// An armed failure fires on exactly the nth call, touches nothing, and
// is gone afterwards: tests of half-done work rest on it.
TEST_F(PlatformNames, ArmedFailureFiresOnTheNthCallThenDisarms) {
    for (const char *n : {"a", "b", "c"})
        put(n, n);
    plat_failcall(PLAT_CALL_DELETE, 2, PLAT_ERR_SHARING_VIOLATION);
    EXPECT_EQ(plat_delete("C:\\a"), 0);
    EXPECT_EQ(plat_delete("C:\\b"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_SHARING_VIOLATION);
    EXPECT_EQ(plat_delete("C:\\b"), 0);
    plat_failcall(PLAT_CALL_SETATTR, 1, PLAT_ERR_ACCESS_DENIED);
    EXPECT_EQ(plat_setattr("C:\\c", PLAT_ATTR_READONLY), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_ACCESS_DENIED);
    EXPECT_EQ(attr("C:\\c"), 0x20u); // untouched
    plat_failcall(PLAT_CALL_REPLACE, 1, PLAT_ERR_SHARING_VIOLATION);
    put("d", "d");
    EXPECT_EQ(plat_replace("C:\\d", "C:\\c"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_SHARING_VIOLATION);
    EXPECT_EQ(listed(""), (Names{"c", "d"}));
    EXPECT_EQ(slurp("c"), "c");
}

// Moves onto another file system, where no rename can go: the file is
// copied beside its destination, then its source deleted.
class PlatformMoveAcross : public PlatformTest {
protected:
    std::string other; // a directory on another file system than C's

    void SetUp() override {
        PlatformTest::SetUp();
        if (IsSkipped())
            return;
        other = sandbox::other_fs();
        if (other.empty())
            GTEST_SKIP() << "no second file system to move to";
    }

    std::string there(const std::string &name) const {
        return other + (other[0] == '/' ? "/" : "\\") + name;
    }
};

// The file arrives whole with its exact write time, and its source is gone.
TEST_F(PlatformMoveAcross, KeepsDataAndTime) {
    std::string data(200000, 'x');
    for (size_t i = 0; i < data.size(); i++)
        data[i] = (char)(i * 7);
    put("big.bin", data);
    int h = plat_open("C:\\big.bin", PLAT_OPEN_APPEND);
    ASSERT_GE(h, 0);
    const PlatFileTime when = {1234567890, 123456789};
    ASSERT_EQ(plat_setfiletime(h, &when), 0);
    plat_close(h);
    ASSERT_EQ(plat_move("C:\\big.bin", there("big.bin").c_str()), 0) << plat_lasterror();
    EXPECT_EQ(listed(""), Names{});
    EXPECT_TRUE(content(there("big.bin")) == data);
    PlatEntry e;
    ASSERT_TRUE(entry(there("big.bin"), &e));
    EXPECT_EQ(e.mtime.sec, when.sec);
    EXPECT_EQ(e.mtime.nsec, when.nsec / sandbox::time_grain() * sandbox::time_grain());
}

// Hidden and system go along, where both file systems keep them: a hidden
// file moved to a backup disk must not turn up in every listing there.
TEST_F(PlatformMoveAcross, KeepsTheAttributes) {
    put("f", "data");
    int h = plat_open(there("probe").c_str(), PLAT_OPEN_CREATE);
    ASSERT_GE(h, 0);
    plat_close(h);
    unsigned marks = PLAT_ATTR_HIDDEN | PLAT_ATTR_SYSTEM;
    if (!mark("C:\\f", marks) || !mark(there("probe"), marks))
        GTEST_SKIP() << "no hidden or system marks on both file systems";
    ASSERT_EQ(plat_move("C:\\f", there("f").c_str()), 0) << plat_lasterror();
    EXPECT_EQ(attr(there("f")), 0x26u);
}

// A directory cannot go across, nor anything be replaced in one step (17);
// an existing file is not replaced there either (183); nothing touched.
TEST_F(PlatformMoveAcross, Refusals) {
    put("tree/f", "1");
    int h = plat_open(there("old").c_str(), PLAT_OPEN_CREATE);
    ASSERT_GE(h, 0);
    plat_close(h);
    EXPECT_EQ(plat_move("C:\\tree", there("tree").c_str()), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_NOT_SAME_DEVICE);
    EXPECT_EQ(plat_replace("C:\\tree\\f", there("old").c_str()), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_NOT_SAME_DEVICE);
    EXPECT_EQ(plat_move("C:\\tree\\f", there("old").c_str()), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_ALREADY_EXISTS);
    EXPECT_EQ(slurp("tree/f"), "1");
    EXPECT_EQ(content(there("old")), "");
    EXPECT_EQ(names(there("*"), 0x16), (Names{".", "..", "old"}));
}

} // namespace
