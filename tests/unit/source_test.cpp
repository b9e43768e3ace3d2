#include <gtest/gtest.h>

#include <string>

#include "front/mox.h"
#include "job/moxsub.h"
#include "tree.h"

namespace {

class Source : public TreeTest {
protected:
    PARAM param;

    void SetUp() override {
        TreeTest::SetUp();
        resetsettings();
        ASSERT_EQ(initparam(&param), 0);
        file("WORK/FOO.TXT");
        mkdir("WORK/SUB");
        cd(at("WORK"));
    }
    void TearDown() override {
        freeparam(&param);
        resetsettings();
        TreeTest::TearDown();
    }

    // Runs expandsrc on a writable copy; the copy shows the upper-casing.
    int expand(const std::string &arg, std::string *out = nullptr) {
        std::string buf = arg;
        int r = expandsrc(buf.data(), &param);
        if (out != nullptr)
            *out = buf.c_str();
        return r;
    }
};

struct Want {
    const char *arg;
    int structure;
    const char *base, *mask;
    int type;
};

void expectsource(const PARAM &p, const Want &w) {
    EXPECT_STREQ(p.srcbasedir, w.base) << w.arg;
    EXPECT_STREQ(p.srcmask, w.mask) << w.arg;
    EXPECT_EQ(p.srctype, w.type) << w.arg;
    EXPECT_STREQ(p.srccurdir, w.base) << w.arg;
}

TEST_F(Source, ClassifiesArguments) {
    const Want cases[] = {
        {"SUB", -1, "C:\\WORK\\SUB", "*.*", 9},
        {"sub\\", -1, "C:\\WORK\\SUB", "*.*", 9},
        {"C:\\", -1, "C:\\", "*.*", 33},
        {"c:", -1, "C:\\WORK", "*.*", 9}, // the drive's current directory
        {"D:", -1, "D:\\", "*.*", 33},
        {"foo.txt", -1, "C:\\WORK", "FOO.TXT", 4},
        {"*.txt", -1, "C:\\WORK", "*.TXT", 5},
        {"SUB\\*.*", -1, "C:\\WORK\\SUB", "*.*", 5},
        {"NONE.TXT", 1, "C:\\WORK", "NONE.TXT", 4},
        {"C:\\WORK\\FOO.TXT", -1, "C:\\WORK", "FOO.TXT", 4},
        // A lone dot is the current directory, looked up like a name.
        {".", -1, "C:\\WORK", "*.*", 9},
        // A trailing dot is never looked up: a pattern even though nothing
        // is called NAME and neither /S nor /G is given. The expansion
        // drops the dot, as it does on Windows.
        {"name.", -1, "C:\\WORK", "NAME", 4},
        // ".." and "C:.." land on the root: no final component, so the
        // root itself is the source.
        {"..", -1, "C:\\", "*.*", 33},
        {"C:..\\..", -1, "C:\\", "*.*", 33},
    };
    for (const Want &w : cases) {
        resetsettings();
        opt_structure = w.structure;
        ASSERT_EQ(expand(w.arg), 0) << w.arg;
        expectsource(param, w);
    }
}

// The root keeps its separator after the name is cut off: C:\FOO.TXT must
// not search "C:" (the current directory of C) instead of the root.
TEST_F(Source, FileAtRootKeepsRootSeparator) {
    file("ROOT.TXT");
    ASSERT_EQ(expand("c:\\root.txt"), 0);
    expectsource(param, {"C:\\ROOT.TXT", -1, "C:\\", "ROOT.TXT", 4});
}

// A wildcard in a directory component still makes the argument a pattern;
// looking it up as a plain name would fail with "path not found".
TEST_F(Source, WildcardInDirectoryComponent) {
    ASSERT_EQ(expand("C:\\W*\\X.TXT"), 0);
    EXPECT_STREQ(param.srcmask, "X.TXT");
    EXPECT_EQ(param.srctype, 5);
}

// A name 0x95 0x5C ends in the separator's byte value: it must not be
// taken for an argument that names a directory outright.
TEST_F(Source, DoubleByteNameIsNotATrailingSeparator) {
    file("WORK/\xe8\xa1\xa8");
    ASSERT_EQ(expand("\x95\x5C"), 0);
    EXPECT_STREQ(param.srcbasedir, "C:\\WORK");
    EXPECT_STREQ(param.srcmask, "\x95\x5C");
    EXPECT_EQ(param.srctype, 4);
}

TEST_F(Source, FailuresQuoteTheUpperCasedArgument) {
    struct Case {
        const char *arg;
        const char *msg;
    } cases[] = {
        {"none.txt", "Error! path not found: NONE.TXT\n"},
        {"foo.txt\\", "Error! directory not found. C:\\WORK\\FOO.TXT\n"},
        {"gone\\", "Error! directory not found. C:\\WORK\\GONE\n"},
        {"q:\\x", "Error! path expand failed. Q:\\X\n"},
        {"q:", "Error! path expand failed. Q:\n"},
    };
    for (const Case &c : cases) {
        std::string shown;
        Capture out(1);
        EXPECT_EQ(expand(c.arg, &shown), -1) << c.arg;
        EXPECT_EQ(out.text(), c.msg) << c.arg;
    }
    // /G keeps a missing name as a pattern for the whole tree, as /S does.
    opt_gather = 1;
    ASSERT_EQ(expand("none.txt"), 0);
    EXPECT_EQ(param.srctype, 4);
}

TEST_F(Source, ArgumentIsUpperCasedInPlace) {
    std::string shown;
    Capture quiet(1);
    EXPECT_EQ(expand("sub\\\x83\x61x", &shown), -1); // no such file
    // 0x83 0x61 is one character whose second byte reads "a": upper-casing
    // it would make another character. The x after it is a letter.
    EXPECT_EQ(shown, "SUB\\\x83\x61X");
}

using ListBase = TreeTest;

TEST_F(ListBase, DirectoryOfTheFirstEntry) {
    resetsettings();
    mkdir("WORK");
    struct Case {
        const char *entry;
        const char *base;
    } cases[] = {
        {"C:\\WORK\\*.TXT", "C:\\WORK"},
        {"work\\a.txt", "C:\\WORK"},
        {"C:\\A.TXT", "C:\\"},
        {"D:\\X\\Y\\Z", "D:\\X\\Y"},
    };
    for (const Case &c : cases) {
        char out[PATH_SIZE] = "junk";
        EXPECT_EQ(getlistbase(c.entry, out, sizeof out), 0) << c.entry;
        EXPECT_STREQ(out, c.base) << c.entry;
    }
    char small[8];
    EXPECT_EQ(getlistbase("C:\\WORK\\LONGER\\X", small, sizeof small), -1);
    char out[PATH_SIZE];
    Capture quiet(1);
    EXPECT_EQ(getlistbase("Q:\\X", out, sizeof out), -1);
    EXPECT_EQ(quiet.text(), ""); // the caller reports
}

} // namespace
