#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "front/mox.h"
#include "front/options.h"
#include "job/moxsub.h"
#include "runfs/runfs.h"
#include "tree.h"

namespace {

class Dest : public TreeTest {
protected:
    PARAM param;

    void SetUp() override {
        TreeTest::SetUp();
        resetsettings();
        dstdirlower = dstdirupper = 0;
        ASSERT_EQ(initparam(&param), 0);
    }
    void TearDown() override {
        freeparam(&param);
        resetsettings();
        dstdirlower = dstdirupper = 0;
        TreeTest::TearDown();
    }

    std::string onD(const std::string &rel) const { return d + "/" + rel; }
    bool existsD(const std::string &rel) const { return std::filesystem::exists(onD(rel)); }
    // The names stored in a native directory of drive D, in any order.
    std::string namesD(const std::string &rel) const {
        std::vector<std::string> names;
        for (const auto &e : std::filesystem::directory_iterator(onD(rel)))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        std::string all;
        for (const std::string &n : names)
            all += n + ";";
        return all;
    }

    int setup(const char *arg, std::string *printed) {
        Capture out(1);
        int r = setupdst(&param, arg);
        *printed = out.text();
        return r;
    }
};

TEST_F(Dest, ExistingDirectories) {
    std::filesystem::create_directories(onD("Back"));
    struct Case {
        const char *arg, *base;
    } cases[] = {
        {"D:\\", "D:\\"}, // a root keeps its separator
        {"d:", "D:\\"},
        {"d:\\back\\", "D:\\Back"},
        {"D:\\BACK", "D:\\Back"},
    };
    for (const Case &c : cases) {
        std::string printed;
        ASSERT_EQ(setup(c.arg, &printed), 0) << c.arg;
        EXPECT_EQ(printed, "") << c.arg;
        EXPECT_STREQ(param.dstbasedir, c.base) << c.arg;
        EXPECT_STREQ(param.dstcurdir, c.base) << c.arg;
        EXPECT_EQ(param.dstbaselen, (int)std::strlen(c.base)) << c.arg;
    }
}

TEST_F(Dest, MissingDestinationIsCreated) {
    std::string printed;
    ASSERT_EQ(setup("D:\\New\\Deep", &printed), 0);
    EXPECT_EQ(printed, "");
    EXPECT_TRUE(std::filesystem::is_directory(onD("New/Deep")));
    EXPECT_STREQ(param.dstbasedir, "D:\\New\\Deep");
    EXPECT_EQ(param.dstbaselen, 11);

    opt_verbose = 1;
    ASSERT_EQ(setup("d:\\other", &printed), 0);
    EXPECT_EQ(printed, "Success! create directory: d:\\other\n");
    // /DEL+ and /DEL! only use the destination as a reference, yet a
    // missing one is made like any other.
    opt_verbose = 0;
    opt_recycle = 1;
    ASSERT_EQ(setup("D:\\REF", &printed), 0);
    EXPECT_TRUE(existsD("REF"));
}

TEST_F(Dest, Failures) {
    std::filesystem::create_directories(onD("Back"));
    std::ofstream(onD("F.TXT")) << "x";
    struct Case {
        const char *arg;
        int del;
        const char *msg;
    } cases[] = {
        {"Q:\\NEW", 0, "Error! creat directory failed: Q:\\NEW\n"},
        {"Q:\\", 0, "Error! creat directory failed: Q:\\\n"},
        {"D:\\F.TXT", 0, "Error! path is not directory!: D:\\F.TXT\n"},
        {"D:\\F.TXT\\SUB", 0, "Error! creat directory failed: D:\\F.TXT\\SUB\n"},
        {"D:\\NONE", 1, "Error! referential dst directory for delete not found!: D:\\NONE\n"},
        {"Q:\\NONE", 1, "Error! referential dst directory for delete not found!: Q:\\NONE\n"},
    };
    for (const Case &c : cases) {
        resetsettings();
        opt_delete = c.del;
        std::string printed;
        EXPECT_EQ(setup(c.arg, &printed), -1) << c.arg;
        EXPECT_EQ(printed, c.msg) << c.arg;
    }
    // A destination past 260 characters is refused before anything is made.
    resetsettings();
    std::string deep = "D:\\" + std::string(150, 'a') + "\\" + std::string(150, 'b');
    std::string printed;
    EXPECT_EQ(setup(deep.c_str(), &printed), -1);
    EXPECT_EQ(printed, "Error! path too long: " + deep + "\n");
    EXPECT_FALSE(existsD("NONE"));
    EXPECT_TRUE(std::filesystem::is_regular_file(onD("F.TXT")));
    EXPECT_EQ(namesD(""), "Back;F.TXT;");
}

// Echo mode shows what would happen: a missing destination must not be
// made, yet the run needs its full path, and says what the real run says.
TEST_F(Dest, EchoCreatesNothing) {
    runfs_choose(1);
    opt_verbose = 1;
    std::string printed;
    ASSERT_EQ(setup("d:\\new\\", &printed), 0);
    EXPECT_EQ(printed, "Success! create directory: d:\\new\\\n");
    EXPECT_STREQ(param.dstbasedir, "D:\\new");
    EXPECT_FALSE(existsD("new"));
}

// ---- makedstcurdir --------------------------------------------------------------

class CurDir : public Dest {
protected:
    char cur[PATH_SIZE];
    int len = 0;

    void SetUp() override {
        Dest::SetUp();
        std::filesystem::create_directories(onD("BACK"));
        std::strcpy(cur, "D:\\BACK");
        len = 7;
    }
    int make(const char *srcdir, const char *srcbase, std::string *printed) {
        Capture out(1);
        int r = makedstcurdir(srcdir, srcbase, cur, len);
        *printed = out.text();
        return r;
    }
};

TEST_F(CurDir, MirrorsTheSourceSubtree) {
    std::string printed;
    // The base itself: only a separator is added, nothing is made.
    ASSERT_EQ(make("C:\\WORK", "C:\\WORK", &printed), 0);
    EXPECT_STREQ(cur, "D:\\BACK\\");
    // The search reports a root as "C:" while the base reads "C:\".
    ASSERT_EQ(make("C:", "C:\\", &printed), 0);
    EXPECT_STREQ(cur, "D:\\BACK\\");
    ASSERT_EQ(make("C:\\A\\B", "C:\\", &printed), 0);
    EXPECT_STREQ(cur, "D:\\BACK\\A\\B");
    EXPECT_TRUE(std::filesystem::is_directory(onD("BACK/A/B")));
    EXPECT_EQ(printed, "");
    ASSERT_EQ(make("C:\\WORK\\Sub", "C:\\WORK", &printed), 0);
    EXPECT_STREQ(cur, "D:\\BACK\\Sub");
    EXPECT_TRUE(existsD("BACK/Sub"));

    opt_verbose = 1;
    ASSERT_EQ(make("C:\\WORK\\X\\Y", "C:\\WORK", &printed), 0);
    EXPECT_EQ(printed, "Success! create directory: D:\\BACK\\X\\Y\n");
    ASSERT_EQ(make("C:\\WORK\\X\\Y", "C:\\WORK", &printed), 0);
    EXPECT_EQ(printed, ""); // nothing new was made
}

// /S with /L+: missing levels are made upper-case and an existing
// directory of another spelling is renamed when the walk enters it.
TEST_F(CurDir, CaseOfNewAndExistingDirectories) {
    std::filesystem::create_directories(onD("BACK/Sub"));
    dstdirupper = 1;
    std::string printed;
    ASSERT_EQ(make("C:\\WORK\\Sub", "C:\\WORK", &printed), 0);
    EXPECT_STREQ(cur, "D:\\BACK\\SUB");
    EXPECT_EQ(namesD("BACK"), "SUB;");
    EXPECT_EQ(printed, ""); // the rename is silent
    ASSERT_EQ(make("C:\\WORK\\Sub\\Deep", "C:\\WORK", &printed), 0);
    EXPECT_STREQ(cur, "D:\\BACK\\SUB\\DEEP");
    EXPECT_EQ(namesD("BACK/SUB"), "DEEP;");

    // /L: the base keeps its spelling, only the part below it changes.
    dstdirupper = 0;
    dstdirlower = 1;
    ASSERT_EQ(make("C:\\WORK\\Sub", "C:\\WORK", &printed), 0);
    ASSERT_EQ(make("C:\\WORK\\Sub\\Deep", "C:\\WORK", &printed), 0);
    EXPECT_STREQ(cur, "D:\\BACK\\sub\\deep");
    EXPECT_EQ(namesD(""), "BACK;");
    EXPECT_EQ(namesD("BACK/sub"), "deep;");
}

// The delete modes only compare against the destination, and /E only
// shows: none of them may leave a directory behind.
TEST_F(CurDir, DeleteAndEchoModesMakeNothing) {
    int *modes[] = {&opt_delete, &opt_trash, &opt_recycle, &opt_echo};
    for (int *mode : modes) {
        resetsettings();
        *mode = 1;
        runfs_choose(opt_echo);
        opt_echo = 0;
        std::string printed;
        ASSERT_EQ(make("C:\\WORK\\Sub\\", "C:\\WORK", &printed), 0);
        EXPECT_STREQ(cur, "D:\\BACK\\Sub");
        EXPECT_EQ(printed, "");
    }
    EXPECT_EQ(namesD("BACK"), "");
}

TEST_F(CurDir, Failures) {
    std::ofstream(onD("BACK/F")) << "x";
    std::string printed;
    EXPECT_EQ(make("C:\\WORK\\F", "C:\\WORK", &printed), -1);
    EXPECT_EQ(printed, "Error! create directory failed: D:\\BACK\\F\n");
    EXPECT_EQ(make("C:\\WORK\\F\\G", "C:\\WORK", &printed), -1);
    EXPECT_EQ(printed, "Error! create directory failed: D:\\BACK\\F\\G\n");

    // A mirrored path past 260 characters is refused, never cut or overrun,
    // and told apart from other failures: only that directory is skipped.
    std::string deep = "C:\\WORK\\" + std::string(240, 'a') + "\\" + std::string(20, 'b');
    EXPECT_EQ(make(deep.c_str(), "C:\\WORK", &printed), DSTDIR_TOOLONG);
    EXPECT_EQ(printed.rfind("Error! path too long: D:\\BACK\\aaa", 0), 0u) << printed;
    EXPECT_EQ(namesD("BACK"), "F;");
}

} // namespace
