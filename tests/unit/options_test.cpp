// The option parser's settings and conflicts, checked in-process. The exact
// caret displays are checked end to end, on the real binary.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "front/mox.h"
#include "front/options.h"
#include "platform/platform.h"
#include "sys/dates.h"

namespace {

struct Parsed {
    int status;
    ARGPOS pos;
    std::string format;
    int date1, date2;
};

class Options : public ::testing::Test {
  protected:
    void SetUp() override { resetsettings(); }

    // Runs parseargs over args with "mox32" as element 0. Output (carets)
    // is not looked at here.
    Parsed parse(std::vector<std::string> args) {
        args.insert(args.begin(), "mox32");
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        Parsed p{};
        char format[FORMAT_SIZE] = "";
        testing::internal::CaptureStdout();
        p.status = parseargs((int)args.size(), argv.data(), format, &p.date1, &p.date2, &p.pos);
        testing::internal::GetCapturedStdout();
        p.format = format;
        return p;
    }
};

// The program's own name counts its columns too: é, four bytes inside,
// takes one.
TEST_F(Options, CaretCountsColumnsOfTheProgramName) {
    const char *saved = progname;
    char name[] = "caf\xF0\x80\xF1\xEC"; // é travels inside as an escape pair
    testing::internal::CaptureStdout();
    plat_write(PLAT_STDOUT, name, std::strlen(name));
    plat_flush(PLAT_STDOUT);
    std::string shown = testing::internal::GetCapturedStdout();
    progname = name;
    std::string arg = "/Q";
    char *argv[] = {nullptr, arg.data(), nullptr};
    testing::internal::CaptureStdout();
    showargerror(2, argv, 1, 1);
    EXPECT_EQ(shown + " /Q \n      ^ error\n", testing::internal::GetCapturedStdout());
    progname = saved;
}

TEST_F(Options, GroupedLettersEqualSeparateOptions) {
    EXPECT_EQ(0, parse({"/sua-", "A", "B"}).status);
    EXPECT_EQ(1, opt_structure);
    EXPECT_EQ(1, opt_update);
    EXPECT_EQ(0, opt_attrib);
}

// The offset parseopt gives is where the caret goes: a wrong offset puts
// the caret under the wrong character.
TEST_F(Options, ParseoptFailsAtTheOffendingCharacter) {
    struct Case {
        const char *arg;
        int offset;
    } cases[] = {
        {"/S/U", 2},  {"/Z-", 2},   {"/SX", 2},    {"/H", 1},  {"/J", 1},    {"/K", 1},
        {"/P", 1},    {"/Q", 1},    {"/R", 1},     {"/T", 1},  {"/W", 1},    {"/X", 1},
        {"/1", 1},    {"/S!", 2},   {"/A+", 2},    {"/DELS", 1}, {"/SDEL", 2}, {"/D-", 1},
        {"/CHECK", 2}, {"-?", 1},   {"/V+-", 3},   {"/\x95\x5c", 1},
    };
    for (const Case &c : cases) {
        resetsettings();
        int d1 = 0, d2 = 0;
        EXPECT_EQ(c.offset, parseopt(c.arg, &d1, &d2)) << c.arg;
    }
}

TEST_F(Options, ConflictsDependOnOrder) {
    struct Case {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{"/G", "/S"}, -1},     {{"/S", "/G"}, -1},      {{"/N", "/U"}, -1},
        {{"/U", "/N", "s", "d"}, 0}, {{"/DEL", "/M"}, -1}, {{"/M", "/DEL"}, -1},
        {{"/N", "/O"}, -1},     {{"/O", "/N"}, -1},      {{"/I", "/M"}, -1},
        {{"/DEL", "/I"}, -1},   {{"/DEL", "/DEL!"}, -1}, {{"/DEL!", "/DEL+"}, -1},
        {{"/DEL+", "/DEL"}, -1}, {{"/DEL", "/DEL", "s"}, 0}, {{"/S-", "/G", "s"}, 0},
        {{"/G-", "/S", "s"}, 0}, {{"/M-", "/DEL", "s"}, 0},
    };
    for (const Case &c : cases) {
        resetsettings();
        EXPECT_EQ(c.status, parse(c.args).status) << c.args[0] << " " << c.args[1];
    }
}

TEST_F(Options, DeleteFormsOnlyAsWholeArgument) {
    EXPECT_EQ(0, parse({"-del!", "s"}).status);
    EXPECT_EQ(1, opt_trash);
    EXPECT_EQ(1, opt_backup); // /DEL! asks for backups unless /B- came first
    resetsettings();
    EXPECT_EQ(0, parse({"/B-", "/DEL!", "s"}).status);
    EXPECT_EQ(0, opt_backup);
    resetsettings();
    EXPECT_EQ(0, parse({"/Del+", "s"}).status);
    EXPECT_EQ(1, opt_recycle);
}

TEST_F(Options, FormatAndDeleteRefusedInEitherOrder) {
    EXPECT_EQ(-1, parse({"=NEW$N.TXT", "/DEL"}).status);
    resetsettings();
    EXPECT_EQ(-1, parse({"/DEL", "=X"}).status);
    resetsettings();
    Parsed p = parse({"=A", "=B$N", "s"});
    EXPECT_EQ(0, p.status);
    EXPECT_EQ("B$N", p.format); // a later format replaces an earlier one
}

// A format of 80 characters would not fit the 80-byte field with its
// terminator; it must be refused, not cut or overflowed.
TEST_F(Options, FormatLongerThan79IsRefused) {
    EXPECT_EQ(0, parse({"=" + std::string(79, 'x'), "s"}).status);
    resetsettings();
    Parsed p = parse({"=" + std::string(80, 'x'), "s"});
    EXPECT_EQ(-1, p.status);
    EXPECT_EQ("", p.format);
}

TEST_F(Options, Positionals) {
    Parsed p = parse({"/S", "src", "[CVS]", "dst"});
    EXPECT_EQ(0, p.status);
    EXPECT_EQ(2, p.pos.srcarg);
    EXPECT_EQ(4, p.pos.dstarg);
    EXPECT_EQ(3, p.pos.dirfirst);
    EXPECT_EQ(3, p.pos.dirlast);
    resetsettings();
    EXPECT_EQ(-1, parse({"a", "b", "c"}).status);
    resetsettings();
    EXPECT_EQ(-1, parse({"/U", "src"}).status); // /U needs a destination
    resetsettings();
    EXPECT_EQ(-1, parse({"/S+", "src"}).status);
}

struct DateCase {
    const char *arg;
    int ok;
    int date1, date2; // 0: today (checked separately)
};

TEST_F(Options, DateRanges) {
    PlatTime now;
    plat_localtime(&now);
    int today = (int)dosdate(now.year, now.month, now.day);
    DateCase cases[] = {
        {"/D20040101", 1, (int)dosdate(2004, 1, 1), (int)dosdate(2004, 1, 1)},
        {"/D200402", 1, (int)dosdate(2004, 2, 1), (int)dosdate(2004, 2, 29)},
        {"/D20040101-", 1, (int)dosdate(2004, 1, 1), today},
        {"/D20040101-20041231", 1, (int)dosdate(2004, 1, 1), (int)dosdate(2004, 12, 31)},
        {"/D-20041231", 1, (int)dosdate(1980, 1, 1), (int)dosdate(2004, 12, 31)},
        {"/D-", 0, 0, 0},
        {"/D19800000", 0, 0, 0},
        {"/D2004010", 0, 0, 0},
        {"/D20041301", 0, 0, 0},
    };
    for (const DateCase &c : cases) {
        resetsettings();
        Parsed p = parse({c.arg, "s"});
        EXPECT_EQ(c.ok ? 0 : -1, p.status) << c.arg;
        if (c.ok) {
            EXPECT_EQ(1, opt_date) << c.arg;
            EXPECT_EQ(c.date1, p.date1) << c.arg;
            EXPECT_EQ(c.date2, p.date2) << c.arg;
        }
    }
}

TEST_F(Options, LettersMayFollowADate) {
    Parsed p = parse({"/D20040101-S", "s"});
    EXPECT_EQ(0, p.status);
    EXPECT_EQ(1, opt_structure);
    resetsettings();
    EXPECT_EQ(0, parse({"/SD20040101", "s"}).status);
    EXPECT_EQ(1, opt_date);
}

// Digit runs beyond what a date can be are refused before they reach a
// fixed buffer.
TEST_F(Options, OverlongDateRunsAreRefused) {
    EXPECT_EQ(-1, parse({"/D" + std::string(80, '1'), "s"}).status);
    resetsettings();
    EXPECT_EQ(-1, parse({"/D20040101-" + std::string(200, '2'), "s"}).status);
}

TEST_F(Options, EndDateOfAnEarlierOptionIsKept) {
    Parsed p = parse({"/D20040101-20040131", "/D200402", "s"});
    EXPECT_EQ(0, p.status);
    EXPECT_EQ((int)dosdate(2004, 2, 1), p.date1);
    EXPECT_EQ((int)dosdate(2004, 1, 31), p.date2);
}

TEST_F(Options, VerbosityLevels) {
    parse({"/V+", "s"});
    EXPECT_EQ(2, xfind_trace);
    EXPECT_EQ(1, opt_verbose);
    parse({"/V", "s"});
    EXPECT_EQ(1, xfind_trace);
    EXPECT_EQ(1, opt_verbose); // /V leaves the debug trace as it was
    parse({"/V-", "s"});
    EXPECT_EQ(0, xfind_trace);
    EXPECT_EQ(0, opt_verbose);
    EXPECT_EQ(1, opt_quiet);
}

TEST_F(Options, ExtensionForthClearsBackupEvenAfterB) {
    parse({"/B", "/F-", "s"});
    EXPECT_EQ(0, opt_backup);
    EXPECT_EQ(0, opt_extforth);
}

class CheckOpts : public ::testing::Test {
  protected:
    PARAM param;
    void SetUp() override {
        resetsettings();
        ASSERT_EQ(0, initparam(&param));
    }
    void TearDown() override { freeparam(&param); }
};

TEST_F(CheckOpts, NoDestinationDropsGatherAndAttributes) {
    param.srctype = SRCTYPE_DIR;
    opt_gather = 1;
    EXPECT_EQ(0, checkopts(&param, "C:\\SRC", 0));
    EXPECT_EQ(0, opt_gather);
    EXPECT_EQ(0, opt_attrib);
    EXPECT_EQ(1, opt_structure); // the directory default applies once /G is gone
}

TEST_F(CheckOpts, MismatchedCombinations) {
    opt_incremental = 1;
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, checkopts(&param, "x", 0));
    EXPECT_EQ("Error! /I and no destination path are mismatch option\n",
              testing::internal::GetCapturedStdout());
    resetsettings();
    std::strcpy(param.dstcurdir, "D:\\DST");
    std::strcpy(param.format, "$F.BAK");
    opt_extforth = 1;
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, checkopts(&param, "x", 0));
    EXPECT_EQ("Error! =format and /F are mismatch option\n", testing::internal::GetCapturedStdout());
}

TEST_F(CheckOpts, WholeTreeDeleteRemovesDirectories) {
    param.srctype = SRCTYPE_DIR;
    opt_delete = 1;
    EXPECT_EQ(0, checkopts(&param, "C:\\SRC", 0));
    EXPECT_EQ(1, rmsubdir);
    EXPECT_EQ(1, opt_rmdir);
    resetsettings();
    rmsubdir = 0;
    opt_delete = 1;
    param.srctype = SRCTYPE_DIR;
    EXPECT_EQ(0, checkopts(&param, "C:\\SRC", 1)); // extension masks: not a whole tree
    EXPECT_EQ(0, rmsubdir);
}

TEST_F(CheckOpts, MoveKeepsBaseWithBang) {
    std::strcpy(param.dstcurdir, "D:\\DST");
    std::strcpy(param.srcmask, "*.*");
    opt_move = 1;
    opt_rmdir = 0; // /M!
    opt_structure = 1;
    EXPECT_EQ(0, checkopts(&param, "C:\\SRC\\*.*", 0));
    EXPECT_EQ(0, opt_rmdir);
    EXPECT_EQ(1, rmsubdir);
}

} // namespace
