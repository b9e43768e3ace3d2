#include "names/backup.h"

#include <gtest/gtest.h>

#include <string>

#include "front/mox.h"
#include "tree.h"

namespace {

class Backup : public TreeTest {
protected:
    void SetUp() override {
        TreeTest::SetUp();
        resetsettings();
        mkdir("D");
    }
    void TearDown() override {
        resetsettings();
        TreeTest::TearDown();
    }

    std::string name(const std::string &path) {
        char out[PATH_SIZE] = "junk";
        EXPECT_EQ(backupname(out, path.c_str()), 0) << path;
        return out;
    }
};

TEST_F(Backup, Patterns) {
    mkdir("D.X");
    struct Case {
        const char *path;
        const char *plain, *extforth;
    } cases[] = {
        {"C:\\D\\README.TXT", "C:\\D\\README(000).TXT", "C:\\D\\README.000"},
        {"C:\\D\\A.B.TXT", "C:\\D\\A.B(000).TXT", "C:\\D\\A.B.000"},
        // Without an extension the default pattern keeps its final ".".
        {"C:\\D\\README", "C:\\D\\README(000).", "C:\\D\\README.000"},
        {"C:\\D\\README.", "C:\\D\\README(000).", "C:\\D\\README.000"},
        // A dot in a directory name is not an extension.
        {"C:\\D.X\\README", "C:\\D.X\\README(000).", "C:\\D.X\\README.000"},
    };
    for (const Case &c : cases) {
        opt_extforth = 0;
        EXPECT_EQ(name(c.path), c.plain);
        opt_extforth = 1;
        EXPECT_EQ(name(c.path), c.extforth);
    }
}

// Every kind of entry takes its number: a directory, a hidden or
// read-only file, a name in another letter case. Handing out a taken
// name would make the backup rename fail or hit the wrong entry.
TEST_F(Backup, TakenNamesAreSkipped) {
    file("D/README(000).TXT");
    mkdir("D/README(001).TXT");
    file("D/readme(002).txt");
    file("D/README(003).TXT");
    ASSERT_EQ(plat_setattr("C:\\D\\README(003).TXT", 0x01 | 0x02 | 0x04), 0);
    EXPECT_EQ(name("C:\\D\\README.TXT"), "C:\\D\\README(004).TXT");
}

// With /F README.TXT and README.DOC share one series: the second backup
// must not take the number of the first.
TEST_F(Backup, ExtForthSeriesIsShared) {
    opt_extforth = 1;
    file("D/README.TXT");
    file("D/README.DOC");
    std::string first = name("C:\\D\\README.TXT");
    ASSERT_EQ(first, "C:\\D\\README.000");
    file("D/README.000");
    EXPECT_EQ(name("C:\\D\\README.DOC"), "C:\\D\\README.001");
}

// On Linux the trailing dot stays part of the name, so a backup made under
// README(000). must be seen as taken by the next probe.
TEST_F(Backup, NameWithoutExtensionSeries) {
    file("D/README(000).");
    EXPECT_EQ(name("C:\\D\\README"), "C:\\D\\README(001).");
    // Whatever spelling the rename leaves on disk, the next probe sees it.
    file("D/README");
    std::string next = name("C:\\D\\README");
    ASSERT_EQ(plat_move("C:\\D\\README", next.c_str()), 0);
    EXPECT_EQ(name("C:\\D\\README"), "C:\\D\\README(002).");
}

TEST_F(Backup, AllNumbersTaken) {
    for (int n = 0; n < 1000; n++) {
        char rel[32];
        std::snprintf(rel, sizeof rel, "D/F.%03d", n);
        file(rel);
    }
    opt_extforth = 1;
    char out[PATH_SIZE] = "junk";
    Capture cap(1);
    EXPECT_EQ(backupname(out, "C:\\D\\F.TXT"), -1);
    EXPECT_EQ(cap.text(), "Error! number is out of range: 1000\n");
    EXPECT_STREQ(out, "");
}

// A candidate past 260 characters is refused, never cut short: a cut name
// could be that of another file.
TEST_F(Backup, TooLong) {
    std::string path = "C:\\D\\" + std::string(250, 'a') + ".TXT"; // 259 characters
    char out[PATH_SIZE] = "junk";
    Capture cap(1);
    EXPECT_EQ(backupname(out, path.c_str()), -1);
    EXPECT_EQ(cap.text(), "Error! path too long: " + path + "\n");
    EXPECT_STREQ(out, "");
}

} // namespace
