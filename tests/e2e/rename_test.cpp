// Renaming by a format or a case setting, in place and while copying, and
// the question asked before renaming a whole directory.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "disposal_util.h"
#include "engine_util.h"
#include "harness.h"

using namespace e2e;

namespace {

using Lines = std::vector<std::string>;

// Today in the time zone the harness gives the program (UTC), as
// "%04d%02d%02d". A run across midnight could disagree; the test reads the
// date right before and after its run and accepts either.
std::string today() {
    time_t now = ::time(nullptr);
    struct tm tm;
    ::gmtime_r(&now, &tm);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    return buf;
}

struct FormatCase {
    const char *format;
    const char *taken;  // a name that already exists beside the file, or ""
    std::string want;   // the new name
};

std::vector<FormatCase> format_cases(const std::string &day) {
    return {
        {"$4F$04N.$E", "", "PROG0000.EXE"},
        {"$4F$04N.$E", "PROG0000.EXE", "PROG0001.EXE"},
        {"$04N$-4F.$E", "", "0000GRAM.EXE"},
        {"MY$4F.$03N", "", "MYPROG.000"},
        {"MY$4F.$03N", "MYPROG.000", "MYPROG.001"},
        {"$F($N).$E", "", "PROGRAM(0).EXE"},
        // A directory of the candidate name counts as taken as well.
        {"$F($N).$E", "PROGRAM(0).EXE/", "PROGRAM(1).EXE"},
        {"$YY$M$D.$E", "", day + ".EXE"},
        {"$Y$M$D_$F", "", day.substr(2) + "_PROGRAM"},
        {"$3,2F.$e", "", "OG.EXE"},
        {"$-4,2F", "", "GR"},
        // Width on $E and the lower-case macro letters.
        {"$f.$2e", "", "PROGRAM.EX"},
    };
}

void make_taken(const Sandbox &box, char drive, const std::string &dir, const std::string &taken) {
    if (taken.empty())
        return;
    if (taken.back() == '/')
        box.mkdir(drive, dir + "/" + taken.substr(0, taken.size() - 1));
    else
        box.write(drive, dir + "/" + taken, "already here");
}

// Each macro of the format on a real file, renamed in its own directory.
TEST(Rename, FormatInPlace) {
    std::string day = today();
    for (const FormatCase &c : format_cases(day)) {
        Sandbox box;
        box.write('d', "DIR/PROGRAM.EXE", "the program");
        make_taken(box, 'd', "DIR", c.taken);
        RunResult r = box.run({std::string("=") + c.format, "D:\\DIR\\PROGRAM.EXE"});
        EXPECT_EQ(0, r.status) << c.format << "\n" << r.out;
        if (today() != day)
            continue;  // midnight passed during the run
        EXPECT_EQ((Lines{READING, "PROGRAM.EXE as " + c.want, count(1, "File(s) found"),
                         count(1, "File(s) renamed")}),
                  outlines(r))
            << c.format;
        EXPECT_FALSE(box.exists('d', "DIR/PROGRAM.EXE")) << c.format;
        EXPECT_EQ("the program", box.read('d', "DIR/" + c.want)) << c.format;
    }
}

// With a destination the file is copied there under the new name; the
// source stays, and the counter looks at the destination directory.
TEST(Rename, FormatWithDestination) {
    std::string day = today();
    for (const FormatCase &c : format_cases(day)) {
        Sandbox box;
        box.write('d', "DIR/PROGRAM.EXE", "the program");
        box.mkdir('e', "OUT");
        make_taken(box, 'e', "OUT", c.taken);
        RunResult r = box.run({std::string("=") + c.format, "D:\\DIR\\PROGRAM.EXE", "E:\\OUT"});
        EXPECT_EQ(0, r.status) << c.format << "\n" << r.out;
        if (today() != day)
            continue;
        EXPECT_EQ((Lines{READING, "D:\\DIR --> E:\\OUT", "  PROGRAM.EXE",
                         count(1, "File(s) found"), count(1, "File(s) copied")}),
                  outlines(r))
            << c.format;
        EXPECT_EQ("the program", box.read('d', "DIR/PROGRAM.EXE")) << c.format;
        EXPECT_EQ("the program", box.read('e', "OUT/" + c.want)) << c.format;
    }
}

// /N and /O judge the formatted name as they judge a file's own name: /N
// =$F.BAK used to write over an existing PROGRAM.BAK, and /O made TOOL.BAK
// where nothing was there to overwrite. Leaving a file alone prints nothing
// and counts nothing.
TEST(Rename, FormatHonoursNoOverwriteAndOverwriteOnly) {
    struct Case {
        const char *option;
        const char *copied;    // the one file copied
        const char *program;   // PROGRAM.BAK afterwards
        const char *tool;      // TOOL.BAK afterwards
    } cases[] = {
        {"/N", "TOOL.EXE", "old", "tool"},
        {"/O", "PROGRAM.EXE", "program", "<missing>"},
    };
    for (const Case &c : cases) {
        Sandbox box;
        box.write('d', "DIR/PROGRAM.EXE", "program");
        box.write('d', "DIR/TOOL.EXE", "tool");
        box.write('e', "OUT/PROGRAM.BAK", "old");
        RunResult r = box.run({c.option, "=$F.BAK", "D:\\DIR\\*.EXE", "E:\\OUT"});
        EXPECT_EQ(0, r.status) << c.option << "\n" << r.out;
        EXPECT_EQ((Lines{READING, "D:\\DIR --> E:\\OUT", std::string("  ") + c.copied,
                         count(2, "File(s) found"), count(1, "File(s) copied")}),
                  outlines(r))
            << c.option;
        EXPECT_EQ(c.program, box.read('e', "OUT/PROGRAM.BAK")) << c.option;
        EXPECT_EQ(c.tool, read_native(box.native('e', "OUT/TOOL.BAK"))) << c.option;
    }
}

// The counter moves on for every file of a run, as each new name is taken
// in turn.
TEST(Rename, CounterAcrossFiles) {
    Sandbox box;
    box.write('d', "PIX/A.JPG", "a");
    box.write('d', "PIX/B.JPG", "b");
    box.write('d', "PIX/C.JPG", "c");
    RunResult r = box.run({"=IMG$03N.$E", "D:\\PIX\\*.JPG"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ((Lines{READING, "A.JPG as IMG000.JPG", "B.JPG as IMG001.JPG", "C.JPG as IMG002.JPG",
                     count(3, "File(s) found"), count(3, "File(s) renamed")}),
              outlines(r));
    EXPECT_EQ((Lines{"IMG000.JPG", "IMG001.JPG", "IMG002.JPG"}), tree(box.native('d', "PIX")));
    EXPECT_EQ("b", box.read('d', "PIX/IMG001.JPG"));
}

// A character that code page 932 cannot hold (é, an emoji) travels inside
// as a four-byte escape pair. Pieces used to count its bytes and cut it in
// two, leaving an invisible private-use character in the new name; now it
// counts one column, as a double-byte character counts two.
TEST(Rename, PiecesNeverSplitACharacter) {
    struct Case {
        const char *name, *format, *want;
    } cases[] = {
        {"café.txt", "$3F-.$E", "caf-.txt"},
        {"café.txt", "$5F-.$E", "café-.txt"},
        {"café.txt", "$-1F-.$E", "é-.txt"},
        {"café.txt", "$4,1F-.$E", "é-.txt"},
        {"café.txt", "$-2,1F-.$E", "f-.txt"},
        {"x.tép", "$F.$2E", "x.té"},
        {"表計.txt", "$3F.$E", "表.txt"},
        {"表計.txt", "$-3F.$E", "計.txt"},
        {"🎉x.txt", "$1F.$E", "🎉.txt"},
        {"🎉x.txt", "$-1F_$1E", "x_t"},
        {"a🎉b.txt", "$2,1F.$E", "🎉.txt"},
    };
    for (const Case &c : cases) {
        Sandbox box;
        box.write('d', std::string("DIR/") + c.name, "x");
        RunResult r = box.run({std::string("=") + c.format, std::string("D:\\DIR\\") + c.name});
        EXPECT_EQ(0, r.status) << c.name << " " << c.format << "\n" << r.out;
        EXPECT_EQ(Lines{c.want}, tree(box.native('d', "DIR"))) << c.name << " " << c.format;
    }
}

// A name too long to build is shown as far as it fitted; it used to end in
// the first byte of é, shown as "?".
TEST(Rename, OverlongNameShownInWholeCharacters) {
    Sandbox box;
    const std::string name(253, 'a');
    box.write('d', name, "x");
    RunResult r = box.run({"=$F$Fxxxxé", "D:\\" + name});
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_TRUE(has_line(r, "Error! length of filename is too long: " + name + name + "xxxx"))
        << r.out;
    EXPECT_TRUE(box.exists('d', name));
}

// A separator in the format used to move the file into another directory,
// with ".." out of the tree the user named; with a counter whose every
// value named one existing path, the run never ended.
TEST(Rename, SeparatorInTheNewNameIsRefused) {
    struct Case {
        const char *format, *name;
    } cases[] = {
        {"..\\$F", "..\\A"}, {"SUB\\$F.$E", "SUB\\A.TXT"}, {"x/../$F$N", "x/../A%ld"},
    };
    for (const Case &c : cases) {
        Sandbox box;
        box.write('d', "DIR/A.TXT", "a");
        box.mkdir('d', "DIR/SUB");
        RunResult r = box.run({std::string("=") + c.format, "D:\\DIR\\A.TXT"});
        EXPECT_EQ(1, r.status) << r.out;
        // Whether the aborted walk counts the file as found is not the point.
        Lines out = outlines(r);
        out.resize(3);
        EXPECT_EQ((Lines{READING, std::string("Error! path separator in filename: ") + c.name,
                         ABORT}),
                  out)
            << c.format;
        EXPECT_EQ((Lines{"A.TXT", "SUB/"}), tree(box.native('d', "DIR"))) << c.format;
        EXPECT_EQ((Lines{"DIR/", "DIR/A.TXT", "DIR/SUB/"}), tree(box.native('d')));
    }
}

// "?" matches one character, an escape pair as much as a letter; it used
// to match half of one, so caf?.txt missed café.txt.
TEST(Rename, QuestionMarkTakesAWholeCharacter) {
    Sandbox box;
    box.write('d', "DIR/café.txt", "x");
    box.write('d', "DIR/🎉.txt", "y");
    RunResult r = box.run({"/L+", "D:\\DIR\\caf?.txt"});
    EXPECT_EQ(0, r.status) << r.out;
    r = box.run({"/L+", "D:\\DIR\\?.txt"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ((Lines{"CAFé.TXT", "🎉.TXT"}), tree(box.native('d', "DIR")));
}

// A "%" in a format is text like any other. Were the built name used as the
// printf pattern of the counter, "%s" and "%n" would read and write through
// arguments that were never passed.
TEST(Rename, PercentIsLiteral) {
    Sandbox box;
    box.write('d', "P/X.TXT", "x");
    box.write('d', "P/Y.TXT", "y");
    RunResult r = box.run({"=a%s%n$N.txt", "D:\\P\\*.TXT"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ((Lines{READING, "X.TXT as a%s%n0.txt", "Y.TXT as a%s%n1.txt",
                     count(2, "File(s) found"), count(2, "File(s) renamed")}),
              outlines(r));
    EXPECT_EQ((Lines{"a%s%n0.txt", "a%s%n1.txt"}), tree(box.native('d', "P")));

    // The same with a width, and with no counter at all.
    r = box.run({"=%d%%$03N", "D:\\P\\a%s%n0.txt"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_TRUE(has_line(r, "a%s%n0.txt as %d%%000")) << r.out;
    r = box.run({"=100%.TXT", "D:\\P\\a%s%n1.txt"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_TRUE(has_line(r, "a%s%n1.txt as 100%.TXT")) << r.out;
    EXPECT_EQ((Lines{"%d%%000", "100%.TXT"}), tree(box.native('d', "P")));
}

// A literal format gives every file the same name. The first file takes it;
// renaming the second onto it would destroy the first, so that rename is
// refused and reported, and the run fails instead of claiming two renames.
TEST(Rename, LiteralNameNeverReplaces) {
    Sandbox box;
    box.write('d', "P/X.TXT", "x");
    box.write('d', "P/Y.TXT", "y");
    RunResult r = box.run({"=SAME.TXT", "D:\\P\\*.TXT"});
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_EQ((Lines{READING, "X.TXT as SAME.TXT", "Error! rename failed: D:\\P\\Y.TXT",
                     count(2, "File(s) found"), count(1, "File(s) renamed"),
                     count(1, "File(s) failed")}),
              outlines(r));
    EXPECT_EQ("x", box.read('d', "P/SAME.TXT"));
    EXPECT_EQ("y", box.read('d', "P/Y.TXT"));
}

// /L and /L+ change the case of the name alone; a name already in that case
// is still reported (and renamed onto itself harmlessly).
TEST(Rename, CaseInPlace) {
    Sandbox box;
    box.write('d', "DOC/README.TXT", "read me");
    RunResult r = box.run({"/L", "D:\\DOC\\README.TXT"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ((Lines{READING, "README.TXT as readme.txt", count(1, "File(s) found"),
                     count(1, "File(s) renamed")}),
              outlines(r));
    EXPECT_EQ((Lines{"readme.txt"}), tree(box.native('d', "DOC")));
    EXPECT_EQ("read me", box.read('d', "DOC/readme.txt"));

    r = box.run({"/L", "D:\\DOC\\README.TXT"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_TRUE(has_line(r, "readme.txt as readme.txt")) << r.out;
    EXPECT_EQ((Lines{"readme.txt"}), tree(box.native('d', "DOC")));

    r = box.run({"/L+", "D:\\DOC\\readme.txt"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_TRUE(has_line(r, "readme.txt as README.TXT")) << r.out;
    EXPECT_EQ((Lines{"README.TXT"}), tree(box.native('d', "DOC")));
}

// A rename that changes only the letter case, where a case twin holds the
// new spelling (a Linux tree may hold README.TXT and readme.txt; Wine shows
// both), cannot complete. The Win32 build went through a temporary name,
// could not take the new one, and could not come back either (Wine found
// the twin under the old name too): readme.txt was left as _MOX_0EGMQL.
// The rename is refused, the file keeps its name and its bytes, the run
// says so and ends with status 1; files and directories alike.
TEST(Rename, CaseOnlyRenameOntoATwinIsRefused) {
    Sandbox box;
    box.write('d', "X/README.TXT", "upper");
    box.write('d', "X/readme.txt", "lower");
    box.write('d', "X/other.txt", "other");
    RunResult r = box.run({"/L+", "/Y", "D:\\X"});
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_EQ((Lines{READING, "other.txt as OTHER.TXT", "README.TXT as README.TXT",
                     "Error! rename failed: D:\\X\\readme.txt", count(3, "File(s) found"),
                     count(2, "File(s) renamed"), count(1, "File(s) failed"),
                     count(0, "Dir(s)  searched")}),
              outlines(r));
    EXPECT_EQ((Lines{"OTHER.TXT", "README.TXT", "readme.txt"}), tree(box.native('d', "X")));
    EXPECT_EQ("upper", box.read('d', "X/README.TXT"));
    EXPECT_EQ("lower", box.read('d', "X/readme.txt"));

    Sandbox dirs;
    dirs.write('d', "X/Sub/a.txt", "a");
    dirs.mkdir('d', "X/SUB");
    r = dirs.run({"/S", "/L+", "/Y", "D:\\X"});
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_TRUE(has_line(r, "Error! rename failed: D:\\X\\Sub")) << r.out;
    EXPECT_EQ((Lines{"SUB/", "Sub/", "Sub/A.TXT"}), tree(dirs.native('d', "X")));
    EXPECT_EQ("a", dirs.read('d', "X/Sub/A.TXT"));
}

// Echo mode says what it would rename and counts it, and renames nothing.
TEST(Rename, EchoRenamesNothing) {
    Sandbox box;
    box.write('d', "DIR/PROGRAM.EXE", "p");
    box.write('d', "DIR/OTHER.EXE", "o");
    RunResult r = box.run({"/E", "/Y", "=$4F$04N.$E", "D:\\DIR\\*.*"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ((Lines{"This is TEST Mode", READING, "OTHER.EXE as OTHE0000.EXE",
                     "PROGRAM.EXE as PROG0000.EXE", count(2, "File(s) found"),
                     count(2, "File(s) renamed")}),
              outlines(r));
    EXPECT_EQ((Lines{"OTHER.EXE", "PROGRAM.EXE"}), tree(box.native('d', "DIR")));
}

// Renaming every file of a directory in place asks first. Only "y" goes on;
// "n" ends with status 0 and leaves every name alone. A run with no
// terminal to ask on leaves them too, and used to end with status 0 as if
// the work were done: it fails, saying why. /Y does not ask.
TEST(Rename, AllFilesAsksFirst) {
    struct Case {
        const char *how;  // "pty-y", "pty-n", "none", "/Y"
        bool renamed;
        int status;
    } cases[] = {{"pty-y", true, 0}, {"pty-n", false, 0}, {"none", false, 1}, {"/Y", true, 0}};
    for (const Case &c : cases) {
        Sandbox box;
        box.write('d', "DIR/A.TXT", "a");
        std::string how = c.how;
        RunResult r;
        if (how == "pty-y" || how == "pty-n") {
            std::string key = how == "pty-y" ? "y" : "n";
            // Enter is ignored at this question; only the letter answers.
            r = box.run_pty({"/L", "D:\\DIR\\*.*"}, {{SURE, "\r" + key}});
            ASSERT_FALSE(r.timed_out) << r.out;
            EXPECT_NE(std::string::npos,
                      r.out.find("Rename All Files : D:\\DIR\n" + std::string(SURE) +
                                 (how == "pty-y" ? "Y\n" : "N\n")))
                << r.out;
        } else if (how == "none") {
            r = box.run({"/L", "D:\\DIR\\*.*"});
            EXPECT_EQ(Lines{NOTERMINAL}, outlines(r));
        } else {
            r = box.run({"/Y", "/L", "D:\\DIR\\*.*"});
            EXPECT_EQ((Lines{READING, "A.TXT as a.txt", count(1, "File(s) found"),
                             count(1, "File(s) renamed")}),
                      outlines(r));
            EXPECT_EQ(std::string::npos, r.err.find(SURE)) << r.err;
        }
        EXPECT_EQ(c.status, r.status) << c.how << "\n" << r.out;
        EXPECT_EQ(c.renamed ? Lines{"a.txt"} : Lines{"A.TXT"}, tree(box.native('d', "DIR")))
            << c.how;
        EXPECT_EQ(how == "pty-n", r.out.find(BYE) != std::string::npos) << c.how << "\n" << r.out;
    }
}

// A pattern other than *.* names the files deliberately: no question.
TEST(Rename, NarrowPatternDoesNotAsk) {
    Sandbox box;
    box.write('d', "DIR/A.TXT", "a");
    RunResult r = box.run({"/L", "D:\\DIR\\*.TXT"});
    EXPECT_EQ(0, r.status);
    EXPECT_TRUE(has_line(r, "A.TXT as a.txt")) << r.out;
}

} // namespace
