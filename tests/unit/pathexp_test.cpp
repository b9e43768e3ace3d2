#include "search/pathexp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tree.h"

namespace {

// 表 in code page 932 (its second byte is the separator's value) and on disk.
const char kHyo[] = "\x95\x5C";
const char kHyoNative[] = "\xe8\xa1\xa8";

TEST(SplitPath, Table) {
    struct Case {
        std::string path;
        int result;
        std::string dir, name;
    } cases[] = {
        {"C:\\WORK\\*.TXT", 0, "C:\\WORK", "*.TXT"},
        {"C:\\*.TXT", 0, "C:\\", "*.TXT"},
        {"C:\\WORK\\", 0, "C:\\WORK", ""},
        {"C:\\", 0, "C:\\", ""},
        {"C:NAME", 0, "C:", "NAME"},
        {"NAME", 0, "", "NAME"},
        {"", -1, "", ""},
        // A name ending in 0x5C as a trail byte is a name, not a separator.
        {std::string("C:\\DIR\\") + kHyo, 0, "C:\\DIR", kHyo},
        {std::string("C:\\") + kHyo + "\\A", 0, std::string("C:\\") + kHyo, "A"},
    };
    for (const Case &c : cases) {
        char dir[PATH_SIZE] = "junk", name[PATH_SIZE] = "junk";
        EXPECT_EQ(splitpath(c.path.c_str(), dir, sizeof dir, name, sizeof name), c.result)
            << c.path;
        if (c.result == 0) {
            EXPECT_EQ(dir, c.dir) << c.path;
            EXPECT_EQ(name, c.name) << c.path;
        }
    }
}

// A part one byte too big for its buffer must fail, not be cut or overrun.
TEST(SplitPath, PartsMustFit) {
    char dir[9], name[4];
    EXPECT_EQ(splitpath("C:\\ABCD\\X", dir, 9, name, 4), 0); // "C:\ABCD\" needs exactly 9
    EXPECT_STREQ(dir, "C:\\ABCD");
    EXPECT_EQ(splitpath("C:\\ABCDE\\X", dir, 9, name, 4), -1);
    EXPECT_EQ(splitpath("C:\\A\\NAME", dir, 9, name, 4), -1);
    EXPECT_EQ(splitpath("C:\\A\\NAM", nullptr, 0, name, 4), 0);
    EXPECT_STREQ(name, "NAM");
}

using PathExp = TreeTest;

TEST_F(PathExp, ExpandsToStoredSpelling) {
    mkdir("Work");
    file("Work/X.TXT");
    file(std::string("Work/") + kHyoNative + ".txt");
    struct Case {
        std::string in, want;
    } cases[] = {
        {"c:\\", "C:\\"},
        {"c:\\work\\", "C:\\Work"},
        {"work", "C:\\Work"},
        {"c:\\work\\new\\Sub", "C:\\Work\\new\\Sub"},
        {"C:\\work\\*.txt", "C:\\Work\\*.TXT"},
        {"c:\\WORK\\\\.\\x.txt", "C:\\Work\\X.TXT"},
        {std::string("c:\\work\\") + kHyo + ".TXT", std::string("C:\\Work\\") + kHyo + ".txt"},
        {"d:\\", "D:\\"},
    };
    char out[PATH_SIZE];
    for (const Case &c : cases) {
        EXPECT_EQ(pathexpand(out, c.in.c_str(), 0), 0) << c.in;
        EXPECT_EQ(std::string(out), c.want) << c.in;
    }
    cd(at("Work"));
    EXPECT_EQ(pathexpand(out, "", 0), 0);
    EXPECT_STREQ(out, "C:\\Work");
    EXPECT_EQ(pathexpand(out, nullptr, 0), 0);
    EXPECT_STREQ(out, "C:\\Work");
    EXPECT_EQ(curdirpath(out, 4), 0); // another drive's current directory is its root
    EXPECT_STREQ(out, "D:\\");

    EXPECT_EQ(pathexpand(out, "q:\\x", 0), -1); // unmapped drive
    std::string huge = "c:\\" + std::string(300, 'a');
    EXPECT_EQ(pathexpand(out, huge.c_str(), 0), -1);
}

TEST_F(PathExp, LongPathLooksUpEachComponent) {
    mkdir("DATA");
    mkdir("DOCS");
    file("DATA/X.TXT");
    char out[PATH_SIZE];
    // A wildcard in a middle component takes the first matching name.
    EXPECT_EQ(longpath(out, MAX_PATHLEN, "c:\\d*\\x.txt"), 13);
    EXPECT_STREQ(out, "C:\\DATA\\X.TXT");
    EXPECT_EQ(longpath(out, MAX_PATHLEN, "C:\\D*\\y.txt"), 13);
    EXPECT_STREQ(out, "C:\\DATA\\y.txt");
    EXPECT_EQ(longpath(out, MAX_PATHLEN, "\\\\server\\share\\dir"), 18);
    EXPECT_STREQ(out, "\\\\server\\share\\dir");
    EXPECT_EQ(longpath(out, MAX_PATHLEN, "c:"), 2);
    EXPECT_EQ(longpath(out, MAX_PATHLEN, ""), -1);
    // Too long for the capacity: the input comes back unchanged.
    EXPECT_EQ(longpath(out, 12, "c:\\d*\\x.txt"), 11);
    EXPECT_STREQ(out, "c:\\d*\\x.txt");
}

// A walk's next destination directory is spelled from the one before: the
// shared part must end at a real separator, never inside a double-byte
// character whose second byte has the separator's value.
TEST_F(PathExp, NextDirectorySpelledFromTheSharedComponents) {
    const std::string hyo = std::string("C:\\") + kHyo;
    const struct {
        std::string a, b;
        size_t shared;
    } rows[] = {
        {"C:\\A\\B", "C:\\A\\C", 4},
        {"C:\\A\\B", "C:\\A\\B\\C", 6},
        {"C:\\A\\B\\C", "C:\\A\\B", 6},
        {"C:\\A\\BC", "C:\\A\\B", 4},
        {"C:\\A", "D:\\A", 0},
        {hyo + "X", hyo + "Y", 2},
        {hyo + "\\X", hyo + "\\Y", 5},
    };
    for (const auto &r : rows)
        EXPECT_EQ(sharedcomponents(r.a.c_str(), r.b.c_str()), r.shared) << r.a << " " << r.b;

    mkdir("Data/Sub");
    char out[PATH_SIZE];
    ASSERT_EQ(longpath(out, MAX_PATHLEN, "C:\\DATA"), 7);
    EXPECT_EQ(longpathfrom(out, MAX_PATHLEN, "C:\\DATA\\SUB\\NEW", 7), 15);
    EXPECT_STREQ(out, "C:\\Data\\Sub\\NEW");
    EXPECT_EQ(longpathfrom(out, MAX_PATHLEN, "C:\\DATAX", 7), -1);
}

TEST_F(PathExp, JoinFoundAndGetAttr) {
    file("Work/Read.Me", 5);
    char out[PATH_SIZE];
    EXPECT_EQ(joinfound(out, "C:\\WORK", "read.me"), 0);
    EXPECT_STREQ(out, "C:\\WORK\\Read.Me");
    EXPECT_EQ(joinfound(out, "C:", "new.txt"), 0);
    EXPECT_STREQ(out, "C:\\new.txt");
    std::string deep = "C:\\" + std::string(250, 'a');
    EXPECT_EQ(joinfound(out, deep.c_str(), "0123456789.txt"), -1);
    EXPECT_STREQ(out, "");

    unsigned attrib = 0;
    EXPECT_EQ(getattr("C:\\work", &attrib), 0);
    EXPECT_NE(attrib & 0x10, 0u);
    EXPECT_EQ(getattr("C:\\missing", &attrib), -1);
    EXPECT_EQ(attrib, ~0u);
}

TEST_F(PathExp, MkdirsCreatesMissingLevels) {
    mkdir("A");
    EXPECT_EQ(mkdirs("C:\\A\\B\\C"), 0);
    EXPECT_EQ(mkdircount, 2);
    EXPECT_TRUE(exists("A/B/C"));
    EXPECT_EQ(mkdirs("C:\\a\\b\\c"), 0); // all there, found ignoring case
    EXPECT_EQ(mkdircount, 0);
    EXPECT_EQ(mkdirs("C:\\A\\\\E\\"), 0); // an empty component and a last separator
    EXPECT_EQ(mkdircount, 1);
    EXPECT_TRUE(exists("A/E"));
    EXPECT_EQ(mkdirs("C:\\"), -1);
    file("F");
    EXPECT_EQ(mkdirs("C:\\F\\X"), -1);
    EXPECT_EQ(mkdirs("Q:\\X"), -1);
    // A refused creation halfway: the levels above it stay made.
    plat_failcall(PLAT_CALL_MKDIR, 2, 5);
    EXPECT_EQ(mkdirs("C:\\P\\Q\\R"), -1);
    plat_failcall(PLAT_CALL_MKDIR, 0, 0);
    EXPECT_EQ(mkdircount, 1);
    EXPECT_TRUE(exists("P"));
    EXPECT_FALSE(exists("P/Q"));
    EXPECT_EQ(mkdirs((std::string("C:\\") + kHyo + "\\" + kHyo).c_str()), 0);
    EXPECT_TRUE(exists(std::string(kHyoNative) + "/" + kHyoNative));
}

TEST_F(PathExp, SameDriveUsesCurrentDrive) {
    EXPECT_EQ(samedrive("C:\\A", "c:\\b"), 1);
    EXPECT_EQ(samedrive("A.TXT", "B.TXT"), 1);
    EXPECT_EQ(samedrive("C:\\A", "D:\\A"), 0);
    EXPECT_EQ(samedrive("D:\\X", "X.TXT"), 0);
    cd(d);
    EXPECT_EQ(samedrive("D:\\X", "X.TXT"), 1);
    EXPECT_EQ(samedrive("x.txt", "d:\\X"), 1);
}

} // namespace
