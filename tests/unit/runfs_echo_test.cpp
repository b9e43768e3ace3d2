// The file system as an echo run sees it: what it would have made and
// taken away, answered for later looks as the disk would answer them.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "base/param.h"
#include "runfs/runfs.h"
#include "tree.h"

namespace {

class EchoFs : public TreeTest {
protected:
    void SetUp() override {
        TreeTest::SetUp();
        resetsettings();
        runfs_choose(1);
    }
    void TearDown() override {
        runfs_choose(0);
        resetsettings();
        TreeTest::TearDown();
    }

    static PlatFileTime when() { return PlatFileTime{1700000000, 0}; }

    // The copy step as the run hands it over (echo never calls ondisk).
    static void copied(const char *src, const char *dst, const PlatFileTime *mtime,
                       unsigned attrib, int append, int zero, int move) {
        RunCopy c = {src, dst, mtime, attrib, append, zero, move, nullptr, nullptr};
        ASSERT_EQ(runfs->copyfile(&c), 0);
    }
};

// A copy the run would have made is found again under any letter case of
// its name, and only under that: if the keys of two spellings differed
// (or a double-byte character's trail byte were folded like a letter), a
// later look would miss a name the real run finds, or find one it misses.
TEST_F(EchoFs, MadeNameAnswersToItsOtherCasesOnly) {
    struct Case {
        const char *made, *looked;
        bool found;
    } cases[] = {
        {"report.txt", "REPORT.TXT", true},
        {"a-name-longer-than-one-word.txt", "A-NAME-LONGER-THAN-ONE-WORD.TXT", true},
        {"\x83\x61"
         "bc.txt",
         "\x83\x61"
         "BC.TXT",
         true},
        {"\x83\x61"
         "bc.txt",
         "\x83\x41"
         "BC.TXT",
         false},
        {"abcdefgh\x83\x61.txt", "ABCDEFGH\x83\x61.TXT", true},
        {"abcdefgh\x83\x61.txt", "ABCDEFGH\x83\x41.TXT", false},
    };
    file("src.txt", 3);
    mkdir("out");
    PlatFileTime t = when();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.looked);
        std::string made = std::string("C:\\out\\") + c.made;
        std::string looked = std::string("C:\\out\\") + c.looked;
        copied("C:\\src.txt", made.c_str(), &t, 0x20, 0, 0, 0);
        PlatEntry e;
        ASSERT_EQ(runfs->findone(looked.c_str(), 0x16, &e), c.found ? 1 : 0);
        if (c.found) {
            EXPECT_STREQ(e.name, c.made);
            EXPECT_EQ(e.size, 3u);
        }
        unsigned attrib;
        EXPECT_EQ(runfs->getattr(looked.c_str(), &attrib), c.found ? 0 : -1);
    }
}

// A look that fails in an echo run fails as the same look without /E
// does, with the same last error, which messages print ("path not found"
// where a file stands in for a directory, not "file not found").
TEST_F(EchoFs, FailedLookSetsTheErrorOfTheRealRun) {
    file("f.txt");
    mkdir("dir");
    mkdir("out");
    PlatFileTime t = when();
    copied("C:\\f.txt", "C:\\out\\g.txt", &t, 0x20, 0, 0, 0); // the picture is in use
    for (const char *path : {"C:\\f.txt\\x", "C:\\missing\\x", "C:\\dir\\missing", "C:\\f.txt\\x\\y"}) {
        SCOPED_TRACE(path);
        unsigned attrib;
        plat_setlasterror(0);
        int real = plat_getattr(path, &attrib);
        unsigned realerror = plat_lasterror();
        plat_setlasterror(0);
        EXPECT_EQ(runfs->getattr(path, &attrib), real);
        EXPECT_EQ(plat_lasterror(), realerror);
    }
}

// The picture remembers the paths it was last asked about; a caller that
// writes another path into the same buffer afterwards must change none
// of its answers (a directory taken away, then a file copied to its name,
// used to be keyed by the buffer's new text and lost).
TEST_F(EchoFs, ReusedPathBufferChangesNoAnswer) {
    file("f.txt");
    mkdir("dir");
    char first[32] = "C:\\dir";
    ASSERT_EQ(runfs->rmdir(first), 0);
    std::strcpy(first, "C:\\xyz");
    char second[32] = "C:\\dir";
    PlatFileTime t = when();
    copied("C:\\f.txt", second, &t, 0x20, 0, 0, 0);
    unsigned attrib = 0;
    ASSERT_EQ(runfs->getattr("C:\\dir", &attrib), 0);
    EXPECT_EQ(attrib & PLAT_ATTR_DIRECTORY, 0u);
}

// The walk holds each directory it enters by the identity its listing
// gave. An entry the picture makes up has none to give: it used to carry
// whatever the caller's entry or the stack held, and the walk of a tree
// whose directories an echo run respells (/L) stopped at the first one
// with "directory changed while in use".
TEST_F(EchoFs, MadeDirectoryHasNoIdentityOfItsOwn) {
    mkdir("SUB");
    ASSERT_EQ(runfs->mkdirlike("C:\\new", nullptr), 0);
    ASSERT_EQ(runfs->mkdirlike("C:\\new\\deep", nullptr), 0);
    ASSERT_EQ(runfs->move("C:\\SUB", "C:\\sub"), 0);
    PlatEntry e;
    e.id = PlatFileId{7, 7};
    ASSERT_EQ(runfs->findone("C:\\new\\deep", 0x16, &e), 1);
    EXPECT_EQ(e.id.device, 0u);
    EXPECT_EQ(e.id.inode, 0u);
    e.id = PlatFileId{7, 7};
    ASSERT_EQ(runfs->findone("C:\\sub", 0x16, &e), 1);
    EXPECT_STREQ(e.name, "sub");
    ASSERT_EQ(plat_holddir("C:\\sub", &e), 0);
    plat_releasedir();
}

// An echo run changes nothing on disk, whatever the run asks of its file
// system: a change of the door that reached the platform would delete,
// move or write the user's files under /E.
TEST_F(EchoFs, NoChangeReachesTheDisk) {
    file("f.txt", 3);
    file("h.txt", 5);
    mkdir("dir");
    symlink("f.txt", at("link")); // where links can be made
    auto disk = [&] {
        std::string all;
        for (const auto &e : std::filesystem::recursive_directory_iterator(top))
            all += e.path().string() + " " +
                   std::to_string((int)std::filesystem::symlink_status(e.path()).permissions()) +
                   (e.is_regular_file() ? " " + std::to_string(e.file_size()) : "") + "\n";
        return all;
    };
    const std::string before = disk();
    char tmp[PLAT_NATIVE_SIZE];
    struct Change {
        const char *what;
        std::function<int()> call;
    } changes[] = {
        {"remove", [] { return runfs->remove("C:\\f.txt"); }},
        {"setattr", [] { return runfs->setattr("C:\\f.txt", PLAT_ATTR_READONLY); }},
        {"move", [] { return runfs->move("C:\\h.txt", "C:\\g.txt"); }},
        {"replace", [] { return runfs->replace("C:\\f.txt", "C:\\h.txt"); }},
        {"rmdir", [] { return runfs->rmdir("C:\\dir"); }},
        {"mkdirlike", [] { return runfs->mkdirlike("C:\\new", "C:\\dir"); }},
        {"mkdirprivate", [] { return runfs->mkdirprivate("C:\\new2"); }},
        {"append", [] { return runfs->open("C:\\f.txt", PLAT_OPEN_APPEND); }},
        {"create", [] { return runfs->open("C:\\c.txt", PLAT_OPEN_CREATE); }},
        {"opentemp", [&] { return runfs->opentemp("C:\\dir", "_T_", tmp, sizeof tmp); }},
        {"opennew", [] { return runfs->opennew("C:\\n.txt"); }},
        {"copylink", [&] { return runfs->copylink("C:\\link", "C:\\dir", "_T_", tmp, sizeof tmp); }},
    };
    for (const Change &c : changes) {
        SCOPED_TRACE(c.what);
        int r = c.call();
        EXPECT_TRUE(r == 0 || r == -1) << r; // never a handle
        EXPECT_EQ(disk(), before);
    }
}

} // namespace
