#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "front/mox.h"
#include "names/backup.h"
#include "sys/trash.h"
#include "runfs/runfs.h"
#include "tree.h"

namespace {

class Trash : public TreeTest {
protected:
    void SetUp() override {
        TreeTest::SetUp();
        resetsettings();
        trashcount = 0;
        ASSERT_EQ(trashinit(backupname), 0);
    }
    void TearDown() override {
        trashfree();
        plat_failcall(PLAT_CALL_MOVE, 0, 0);
        resetsettings();
        trashcount = 0;
        TreeTest::TearDown();
    }

    // Size of a file below C's directory, -1 when there is none.
    long size(const std::string &rel) const {
        std::error_code ec;
        auto n = std::filesystem::file_size(at(rel), ec);
        return ec ? -1 : (long)n;
    }

    // Moves one file and returns what it printed; *r gets the result.
    std::string trash(const char *path, int *r) {
        Capture out(1);
        *r = totrash(path);
        return out.text();
    }
};

// Three files of one name from three directories must end up as three
// files: a clash in the trash used to be the place where a file was lost.
// The sizes tell which file went where.
TEST_F(Trash, SameNameFromSeveralDirectories) {
    struct Case {
        int structure, extforth;
        std::vector<std::string> want;
    } cases[] = {
        {0, 0, {"TRASH$$$/A.TXT", "TRASH$$$/A(000).TXT", "TRASH$$$/A(001).TXT"}},
        {0, 1, {"TRASH$$$/A.TXT", "TRASH$$$/A.000", "TRASH$$$/A.001"}},
        {1, 0, {"TRASH$$$/DATA/A.TXT", "TRASH$$$/OTHER/SUB/A.TXT", "TRASH$$$/A.TXT"}},
    };
    const char *from[] = {"C:\\DATA\\A.TXT", "C:\\OTHER\\SUB\\A.TXT", "C:\\A.TXT"};
    for (const Case &k : cases) {
        SCOPED_TRACE(k.want[1]);
        std::filesystem::remove_all(at("TRASH$$$"));
        trashfree();
        ASSERT_EQ(trashinit(backupname), 0);
        trashcount = 0;
        opt_structure = k.structure;
        opt_extforth = k.extforth;
        file("DATA/A.TXT", 1);
        file("OTHER/SUB/A.TXT", 2);
        file("A.TXT", 3);
        for (int i = 0; i < 3; i++) {
            int r;
            EXPECT_EQ(trash(from[i], &r), "");
            EXPECT_EQ(r, 0);
        }
        for (int i = 0; i < 3; i++)
            EXPECT_EQ(size(k.want[i]), i + 1) << k.want[i];
        EXPECT_FALSE(exists("DATA/A.TXT"));
        EXPECT_FALSE(exists("OTHER/SUB/A.TXT"));
        EXPECT_FALSE(exists("A.TXT"));
        EXPECT_EQ(trashcount, 3u);
    }
}

// The trash belongs to the file's own drive: moving a D: file into C:'s
// trash would copy it across file systems and fill the wrong disk.
TEST_F(Trash, FileGoesToTheTrashOfItsDrive) {
    std::ofstream(d + "/B.TXT") << "b";
    int r;
    trash("D:\\B.TXT", &r);
    EXPECT_EQ(r, 0);
    EXPECT_TRUE(std::filesystem::exists(d + "/TRASH$$$/B.TXT"));
    EXPECT_FALSE(exists("TRASH$$$"));
}

// Echo mode shows what would happen: nothing is created or moved, yet the
// summary counts every file. Within one run a file moved once is gone, as
// it would be: moving it again fails as the real run's second move would.
TEST_F(Trash, EchoModeCountsAndTouchesNothing) {
    runfs_choose(1);
    file("DATA/A.TXT", 1);
    for (int structure : {0, 1}) {
        runfs_choose(1); // a run of its own
        opt_structure = structure;
        int r;
        EXPECT_EQ(trash("C:\\DATA\\A.TXT", &r), "");
        EXPECT_EQ(r, 0);
    }
    EXPECT_EQ(trashcount, 2u);
    int r;
    EXPECT_EQ(trash("C:\\DATA\\A.TXT", &r),
              "Error! can't move to trash: C:\\DATA\\A.TXT\n GetLastError=[2]\n");
    EXPECT_EQ(r, -1);
    EXPECT_EQ(trashcount, 2u);
    EXPECT_TRUE(exists("DATA/A.TXT"));
    EXPECT_FALSE(exists("TRASH$$$"));
}

// A file where a trash directory should be stops the move with the name
// that is in the way, in every mode, and the source stays.
TEST_F(Trash, NameOfTrashDirectoryTakenByFile) {
    struct Case {
        const char *blocker;
        int structure, echo;
        const char *want;
    } cases[] = {
        {"TRASH$$$", 0, 0, "Error! can't mkdir C:\\TRASH$$$\n"},
        {"TRASH$$$", 1, 0, "Error! can't mkdir C:\\TRASH$$$\n"},
        {"TRASH$$$", 0, 1, "Error! can't mkdir C:\\TRASH$$$\n"},
        {"TRASH$$$/DATA", 1, 0, "Error! can't mkdir C:\\TRASH$$$\\DATA\n"},
    };
    file("DATA/A.TXT", 1);
    for (const Case &k : cases) {
        SCOPED_TRACE(k.want);
        std::filesystem::remove_all(at("TRASH$$$"));
        file(k.blocker);
        opt_structure = k.structure;
        runfs_choose(k.echo);
        int r;
        EXPECT_EQ(trash("C:\\DATA\\A.TXT", &r), k.want);
        EXPECT_EQ(r, -1);
        EXPECT_EQ(size("DATA/A.TXT"), 1);
    }
    EXPECT_EQ(trashcount, 0u);
}

// A move the system refuses used to count as done: the summary then
// claimed a file was in the trash that had never left its place.
TEST_F(Trash, RefusedMoveIsReportedAndNotCounted) {
    file("DATA/A.TXT", 1);
    file("DATA/B.TXT", 2);
    plat_failcall(PLAT_CALL_MOVE, 1, 5);
    int r;
    EXPECT_EQ(trash("C:\\DATA\\A.TXT", &r),
              "Error! can't move to trash: C:\\DATA\\A.TXT\n GetLastError=[5]\n");
    EXPECT_EQ(r, -1);
    EXPECT_EQ(size("DATA/A.TXT"), 1);
    EXPECT_EQ(trashcount, 0u);
    // The next file is not held up by the first one's failure.
    trash("C:\\DATA\\B.TXT", &r);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(size("TRASH$$$/B.TXT"), 2);
    EXPECT_EQ(trashcount, 1u);
}

// A file already in the trash would only be renamed inside it (or nested
// one level deeper with /S). A directory whose name merely begins with
// TRASH$$$ is an ordinary directory.
TEST_F(Trash, FileInsideTheTrashStays) {
    file("TRASH$$$/A.TXT", 1);
    file("TRASH$$$2/B.TXT", 2);
    for (int structure : {0, 1}) {
        opt_structure = structure;
        int r;
        EXPECT_EQ(trash("C:\\TRASH$$$\\A.TXT", &r), "Error! already in the trash: C:\\TRASH$$$\\A.TXT\n");
        EXPECT_EQ(r, -1);
        EXPECT_EQ(trash("c:\\trash$$$\\a.txt", &r).substr(0, 29), "Error! already in the trash: ");
        EXPECT_EQ(r, -1);
    }
    EXPECT_EQ(size("TRASH$$$/A.TXT"), 1);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(at("TRASH$$$")),
                            std::filesystem::directory_iterator()),
              1);
    opt_structure = 0;
    int r;
    trash("C:\\TRASH$$$2\\B.TXT", &r);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(size("TRASH$$$/B.TXT"), 2);
}

// With /S the trash adds eleven characters to the path: a path that no
// longer fits is reported, never cut short or written past its buffer.
TEST_F(Trash, TargetTooLongIsReported) {
    std::string dir(200, 'D'), name(50, 'N');
    file(dir + "/" + name, 1);
    std::string dos = "C:\\" + dir + "\\" + name;
    ASSERT_LE(dos.size(), 260u);
    opt_structure = 1;
    int r;
    EXPECT_EQ(trash(dos.c_str(), &r), "Error! path too long: " + dos + "\n");
    EXPECT_EQ(r, -1);
    EXPECT_EQ(size(dir + "/" + name), 1);
    // Without /S only the name goes into the trash, and that fits.
    opt_structure = 0;
    trash(dos.c_str(), &r);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(size("TRASH$$$/" + name), 1);
}

// Users' scripts look for the first line when the recycle bin refuses; a
// refusal that did not name the file left the user guessing which one.
TEST_F(Trash, RecycleFailureMessage) {
    Capture out(1);
    EXPECT_EQ(torecycle("C:\\MISSING.TXT"), -1);
    EXPECT_EQ(out.text(), "Error! SHFileOperation() failed\n"
                          "Error! can't move to recycle bin: C:\\MISSING.TXT\n"
                          " GetLastError=[2]\n");
    EXPECT_EQ(plat_lasterror(), 2u);
}

} // namespace
