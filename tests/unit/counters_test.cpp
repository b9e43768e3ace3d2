#include <gtest/gtest.h>

#include <algorithm>

#include <sys/stat.h>

#include <cstring>
#include <functional>
#include <string>

#include "engine/moxmain.h"
#include "front/mox.h"
#include "job/moxsub.h"
#include "base/pathstr.h"
#include "search/xfind.h"
#include "sys/trash.h"
#include "runfs/runfs.h"
#include "tree.h"

namespace {

void resetcounters() {
    filesdone = filesfailed = filesskipped = filesdeleted = 0;
    trashcount = 0;
}

class Counters : public TreeTest {
protected:
    void SetUp() override {
        TreeTest::SetUp();
        resetsettings();
        resetcounters();
        casechange = nullptr;
    }
    void TearDown() override {
        resetsettings();
        resetcounters();
        casechange = nullptr;
        plat_failcall(PLAT_CALL_DELETE, 0, 0);
        TreeTest::TearDown();
    }

    std::string printed(int hasdst) {
        Capture out(1);
        printcounters(hasdst);
        return out.text();
    }

    // The names a directory holds, as stored (letter case counts even where
    // the file system ignores it).
    std::vector<std::string> listed(const std::string &rel) const {
        std::vector<std::string> names;
        for (const auto &e : std::filesystem::directory_iterator(at(rel)))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    bool readonly(const std::string &rel) const {
        struct stat st;
        return ::stat(at(rel).c_str(), &st) == 0 && (st.st_mode & 0222) == 0;
    }
};

TEST_F(Counters, SummaryLines) {
    struct Case {
        std::function<void()> set;
        int hasdst;
        std::string want;
    } cases[] = {
        // A run that did nothing still says so, right-aligned in 8 columns.
        {[] {}, 1, "       0 File(s) copied\n"},
        {[] {}, 0, "       0 File(s) renamed\n"},
        {[] { opt_quiet = 1; }, 1, "       0 File(s) copied\n"},
        {[] { opt_delete = 1; filesdeleted = 3; filesdone = 9; }, 1, "       3 File(s) deleted\n"},
        {[] { opt_recycle = 1; filesdeleted = 4; }, 0, "       4 File(s) deleted\n"},
        {[] { opt_trash = 1; trashcount = 5; filesdeleted = 9; }, 0,
         "       5 File(s) moved to <TRASH$$$>\n"},
        {[] { filesdone = 10; filesskipped = 2; filesfailed = 1; }, 1,
         "      10 File(s) copied\n       2 File(s) skipped\n       1 File(s) failed\n"},
        // /V- hides the skipped line, never the failed one.
        {[] { opt_quiet = 1; filesdone = 10; filesskipped = 2; filesfailed = 1; }, 1,
         "      10 File(s) copied\n       1 File(s) failed\n"},
        {[] { filesdone = 123456789; }, 1, "123456789 File(s) copied\n"},
    };
    for (Case &c : cases) {
        resetsettings();
        resetcounters();
        c.set();
        EXPECT_EQ(printed(c.hasdst), c.want) << c.want;
    }
}

// The directory lines belong to /S and /G runs only; /V- drops a count of 0.
TEST_F(Counters, DirectoryLines) {
    mkdir("EMPTY");
    mkdir("T/A/GONE");
    mkdir("T/B");
    file("T/B/KEEP");
    ASSERT_EQ(xfind("C:\\EMPTY", "*.*", 0x13, 1, 1, 0, nullptr, nullptr), 1);
    ASSERT_EQ(xfind_dirs(), 0u);
    EXPECT_EQ(printed(1), "       0 File(s) copied\n");
    recursemode = 1;
    unsigned removed = xfind_rmdirs();
    std::string deleted = removed == 0 ? "" : "       " + std::to_string(removed) + " Dir(s)  deleted\n";
    EXPECT_EQ(printed(1), "       0 File(s) copied\n       0 Dir(s)  searched\n" + deleted);
    opt_quiet = 1;
    EXPECT_EQ(printed(1), "       0 File(s) copied\n");

    opt_quiet = 0;
    xfind("C:\\T", "*.*", 0x13, 1, 1, 1, nullptr, nullptr); // removes A\GONE and A
    ASSERT_GT(xfind_rmdirs(), removed);
    char want[200];
    std::snprintf(want, sizeof want, "       0 File(s) copied\n%8u Dir(s)  searched\n%8u Dir(s)  deleted\n",
                  xfind_dirs(), xfind_rmdirs());
    EXPECT_EQ(printed(1), want);
}

TEST_F(Counters, DeleteFile) {
    file("PLAIN");
    file("RO");
    ASSERT_EQ(plat_setattr("C:\\RO", 0x01 | 0x02), 0);
    {
        Capture out(1);
        runfs_choose(1);
        EXPECT_EQ(deletefile("C:\\PLAIN", "PLAIN"), 0);
        runfs_choose(0);
        EXPECT_EQ(out.text(), "(delete test) PLAIN\n");
    }
    EXPECT_TRUE(exists("PLAIN"));
    EXPECT_EQ(filesdeleted, 1u);
    // A read-only, hidden file goes too: its attributes are cleared first.
    Capture out(1);
    EXPECT_EQ(deletefile("C:\\PLAIN", "PLAIN"), 0);
    EXPECT_EQ(deletefile("C:\\RO", "RO"), 0);
    EXPECT_EQ(out.text(), "  PLAIN\n  RO\n");
    EXPECT_FALSE(exists("PLAIN"));
    EXPECT_FALSE(exists("RO"));
    EXPECT_EQ(filesdeleted, 3u);
    EXPECT_EQ(filesfailed, 0u);
}

// A delete that fails must not leave the file stripped of its protection:
// a read-only file that stays must still be read-only.
TEST_F(Counters, FailedDeleteKeepsAttributes) {
    file("RO");
    ASSERT_EQ(plat_setattr("C:\\RO", 0x01 | 0x02), 0);
    plat_failcall(PLAT_CALL_DELETE, 1, 5);
    {
        Capture out(1);
        EXPECT_EQ(deletefile("C:\\RO", "RO"), 0);
        EXPECT_EQ(out.text(), "failed!:RO\n");
    }
    EXPECT_TRUE(exists("RO"));
    EXPECT_TRUE(readonly("RO"));
    unsigned attrib = 0;
    ASSERT_EQ(plat_getattr("C:\\RO", &attrib), 0);
    EXPECT_EQ(attrib & 0x07, 0x03u);
    EXPECT_EQ(filesfailed, 1u);
    EXPECT_EQ(filesdeleted, 0u);

    opt_quiet = 1;
    Capture out(1);
    EXPECT_EQ(deletefile("C:\\MISSING", "MISSING"), 0);
    EXPECT_EQ(out.text(), ""); // /V- hides the line, not the count
    EXPECT_EQ(filesfailed, 2u);
}

// Never sends a real file to the recycle bin: only echo mode and a file
// that does not exist are tried here.
TEST_F(Counters, RecycleFile) {
    file("A");
    {
        Capture out(1);
        runfs_choose(1);
        EXPECT_EQ(recyclefile("C:\\A", "A"), 0);
        EXPECT_EQ(out.text(), "(delete test) A\n");
    }
    EXPECT_TRUE(exists("A"));
    EXPECT_EQ(filesdeleted, 1u);
    runfs_choose(0);
    Capture out(1);
    EXPECT_EQ(recyclefile("C:\\MISSING", "MISSING"), 0);
    EXPECT_EQ(out.text().find("  MISSING"), std::string::npos);
    EXPECT_EQ(filesfailed, 1u);
    EXPECT_EQ(filesdeleted, 1u);
}

TEST(IsNumExt, Table) {
    struct Case {
        const char *name;
        int want;
    } cases[] = {
        {"README.000", 1}, {"README.1", 1},   {"README.", 1},   {"A.B.123", 1},
        {"README", 0},     {"README.TXT", 0}, {"README.0A", 0}, {"V1.0.TXT", 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(isnumext(c.name), c.want) << c.name;
}

TEST_F(Counters, CaseDir) {
    mkdir("WORK/Mixed");
    mkdir("WORK/lower");
    char oldp[PATH_SIZE], newp[PATH_SIZE];
    // No case setting: both buffers hold the stored spelling.
    {
        Capture out(1);
        EXPECT_EQ(casedir(oldp, newp, "C:\\WORK", "MIXED"), 0);
        EXPECT_EQ(out.text(), "");
    }
    EXPECT_STREQ(oldp, "C:\\WORK\\Mixed");
    EXPECT_STREQ(newp, "C:\\WORK\\Mixed");

    casechange = mbstrupr;
    runfs_choose(1);
    {
        Capture out(1);
        EXPECT_EQ(casedir(oldp, newp, "C:\\WORK", "mixed"), 0);
        EXPECT_EQ(out.text(), "  C:\\WORK\\Mixed -> C:\\WORK\\MIXED\n");
    }
    EXPECT_TRUE(exists("WORK/Mixed")); // echo renames nothing
    runfs_choose(0);
    {
        Capture out(1);
        EXPECT_EQ(casedir(oldp, newp, "C:\\WORK", "mixed"), 0);
        EXPECT_EQ(out.text(), "  C:\\WORK\\Mixed -> C:\\WORK\\MIXED\n");
    }
    EXPECT_EQ(listed("WORK"), (std::vector<std::string>{"MIXED", "lower"})); // as spelled on disk

    // Already in the wanted case: no rename, no line.
    casechange = mbstrlwr;
    Capture out(1);
    EXPECT_EQ(casedir(oldp, newp, "C:\\WORK", "LOWER"), 0);
    EXPECT_EQ(out.text(), "");
    EXPECT_STREQ(newp, "C:\\WORK\\lower");
}

// The rename wrapper reports success as non-zero and never replaces what
// is already there.
TEST_F(Counters, MoveFileNeverReplaces) {
    std::ofstream(at("A")) << "aaa";
    std::ofstream(at("B")) << "b";
    EXPECT_EQ(movefile("C:\\A", "C:\\B"), 0);
    EXPECT_EQ(std::filesystem::file_size(at("A")), 3u);
    EXPECT_EQ(std::filesystem::file_size(at("B")), 1u);
    EXPECT_NE(movefile("C:\\A", "C:\\C"), 0);
    EXPECT_FALSE(exists("A"));
    EXPECT_TRUE(exists("C"));
}

} // namespace
