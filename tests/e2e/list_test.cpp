// Source lists: "@file" names a list of sources, one a line; "@" alone reads
// the list from a pipe.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_util.h"
#include "harness.h"

using namespace e2e;

namespace {

using Lines = std::vector<std::string>;

// C:\SRC with files of two kinds and a subdirectory.
void make_src(const Sandbox &box) {
    box.write('c', "SRC/A.TXT", "a");
    box.write('c', "SRC/B.LOG", "b");
    box.write('c', "SRC/C.LOG", "c");
    box.write('c', "SRC/NOT.TXT", "not listed");
    box.write('c', "SRC/SUB/S.TXT", "s");
}

// Lines naming a file, a wildcard and a directory each bring what they name
// and nothing else, whichever line ends the list was written with (a list
// made on Windows ends its lines with CR LF) and whichever separator its
// paths use: a line written with "/" used to be split at the drive's colon
// and its file looked for in the root.
TEST(List, FileWildcardAndDirectoryLines) {
    struct Form {
        std::string eol, sep;
    } forms[] = {{"\n", "\\"}, {"\r\n", "\\"}, {"\n", "/"}};
    for (const Form &f : forms) {
        const std::string &eol = f.eol, src = "C:" + f.sep + "SRC" + f.sep;
        Sandbox box;
        make_src(box);
        box.write('c', "LIST.TXT", src + "A.TXT" + eol + src + "*.LOG" + eol + src + "SUB" + eol);
        RunResult r = box.run({"@C:\\LIST.TXT", "D:\\OUT"});
        EXPECT_EQ(0, r.status) << r.out;
        EXPECT_EQ((Lines{READING, "C:\\SRC --> D:\\OUT", "  A.TXT", "  B.LOG", "  C.LOG",
                         "C:\\SRC\\SUB --> D:\\OUT", "  S.TXT", count(4, "File(s) found"),
                         count(4, "File(s) copied")}),
                  outlines(r))
            << (eol.size() == 2 ? "CR LF" : "LF") << " " << f.sep;
        EXPECT_EQ((Lines{"A.TXT", "B.LOG", "C.LOG", "S.TXT"}), tree(box.native('d', "OUT")));
        EXPECT_EQ("s", box.read('d', "OUT/S.TXT"));
        // A copy leaves the sources alone.
        EXPECT_EQ("not listed", box.read('c', "SRC/NOT.TXT"));
        EXPECT_EQ("a", box.read('c', "SRC/A.TXT"));
    }
}

// With /S the listed directory keeps its place below the first line's base.
TEST(List, StructureFromTheFirstLine) {
    Sandbox box;
    make_src(box);
    box.write('c', "LIST.TXT", "C:\\SRC\\A.TXT\nC:\\SRC\\SUB\n");
    RunResult r = box.run({"/S", "@C:\\LIST.TXT", "D:\\OUT"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ((Lines{"A.TXT", "SUB/", "SUB/S.TXT"}), tree(box.native('d', "OUT")));
}

// The list piped in: relative names are taken from the working directory,
// and the captured copy of the pipe is removed afterwards.
TEST(List, FromStandardInput) {
    Sandbox box;
    box.write('c', "SRC/a.txt", "little a");
    box.write('c', "SRC/other.txt", "not piped");
    box.write('c', "SRC/sub/in.txt", "inside");
    RunOptions opt;
    opt.cwd = box.native('c', "SRC");
    opt.input = "a.txt\nsub\n";
    RunResult r = box.run({"/Y", "@", "D:\\OUT"}, opt);
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ((Lines{READING, "C:\\SRC --> D:\\OUT", "  a.txt", "C:\\SRC\\sub --> D:\\OUT",
                     "  in.txt", count(2, "File(s) found"), count(2, "File(s) copied")}),
              outlines(r));
    EXPECT_EQ((Lines{"a.txt", "in.txt"}), tree(box.native('d', "OUT")));
    EXPECT_EQ(Lines{}, tree(box.root() + "/tmp"));
}

// An empty list, piped or in a file, finds nothing and is no failure.
TEST(List, EmptyListFindsNothing) {
    Sandbox box;
    box.write('c', "EMPTY.TXT", "");
    const Lines want{READING, count(0, "File(s) found"), count(0, "File(s) copied")};
    RunResult r = box.run({"@C:\\EMPTY.TXT", "D:\\OUT"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ(want, outlines(r));

    RunOptions opt;
    opt.input = "";
    r = box.run({"@", "D:\\OUT2"}, opt);
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ(want, outlines(r));
    EXPECT_EQ(Lines{}, tree(box.root() + "/tmp"));
}

// A list file that does not exist is reported by name and fails the run
// (the status is non-zero; which failure value is not the point here).
TEST(List, MissingListFile) {
    Sandbox box;
    RunResult r = box.run({"@C:\\NOLIST.TXT", "D:\\OUT"});
    EXPECT_NE(0, r.status) << r.out;
    EXPECT_TRUE(has_line(r, "Error! file open failed: C:\\NOLIST.TXT")) << r.out;
    EXPECT_FALSE(box.exists('d', "OUT/NOLIST.TXT"));
}

// A list is text in the user's encoding: a UTF-8 Japanese name in it finds
// the file of that name and is shown back in UTF-8.
TEST(List, JapaneseNameInTheList) {
    Sandbox box;
    box.write('c', "SRC/表.txt", "hyou");
    box.write('c', "SRC/other.txt", "not listed");
    box.write('c', "LIST.TXT", "C:\\SRC\\表.txt\n");
    RunResult r = box.run({"@C:\\LIST.TXT", "D:\\OUT"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ((Lines{READING, "C:\\SRC --> D:\\OUT", "  表.txt", count(1, "File(s) found"),
                     count(1, "File(s) copied")}),
              outlines(r));
    EXPECT_EQ("hyou", box.read('d', "OUT/表.txt"));
    EXPECT_EQ((Lines{"表.txt"}), tree(box.native('d', "OUT")));
}

// Deleting through a list removes each listed directory after emptying it
// and asks no question, since the list itself is the user's choice.
TEST(List, DeleteListedDirectory) {
    Sandbox box;
    make_src(box);
    box.write('c', "LIST.TXT", "C:\\SRC\\A.TXT\nC:\\SRC\\SUB\n");
    RunResult r = box.run({"/DEL", "@C:\\LIST.TXT"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ((Lines{READING, "  A.TXT", "  S.TXT", "<C:\\SRC\\SUB> deleted",
                     count(2, "File(s) found"), count(2, "File(s) deleted")}),
              outlines(r));
    EXPECT_EQ((Lines{"B.LOG", "C.LOG", "NOT.TXT"}), tree(box.native('c', "SRC")));
}

// A NUL in a list line used to cut the line there: C:\A\victim<NUL>.bak
// deleted C:\A\victim and C:\A\victimdir<NUL>.bak emptied victimdir, with
// exit status 0. Such a line is refused whole and fails the run, read from
// a file or piped in.
TEST(List, NulInALineIsRefused) {
    using namespace std::string_literals;
    const std::string list = "C:\\A\\victim\0.bak\nC:\\A\\victimdir\0.bak\r\nC:\\A\\gone.txt\n"s;
    for (bool piped : {false, true}) {
        Sandbox box;
        box.write('c', "A/victim", "keep");
        box.write('c', "A/victimdir/inside.txt", "keep too");
        box.write('c', "A/gone.txt", "listed");
        RunOptions opt;
        std::string source = "@";
        if (piped)
            opt.input = list;
        else
            box.write('c', "LIST.TXT", list), source = "@C:\\LIST.TXT";
        RunResult r = box.run({"/DEL", "/Y", source}, opt);
        EXPECT_EQ(1, r.status) << r.out;
        EXPECT_EQ((Lines{READING, "Error! NUL in list line: C:\\A\\victim^@.bak",
                         "Error! NUL in list line: C:\\A\\victimdir^@.bak", "  gone.txt",
                         count(1, "File(s) found"), count(1, "File(s) deleted")}),
                  outlines(r))
            << (piped ? "piped" : "file");
        EXPECT_EQ((Lines{"victim", "victimdir/", "victimdir/inside.txt"}),
                  tree(box.native('c', "A")));
    }
}

// A line too long to be a path is refused whole and shown as the user
// wrote it; it used to be shown unconverted, é as the two characters its
// UTF-8 bytes are in code page 932.
TEST(List, OverlongLineShownAsWritten) {
    Sandbox box;
    box.write('c', "A/gone.txt", "listed");
    const std::string line = "C:\\é" + std::string(260, 'a');
    box.write('c', "LIST.TXT", line + "\nC:\\A\\gone.txt\n");
    RunResult r = box.run({"/DEL", "@C:\\LIST.TXT"});
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_EQ((Lines{READING, "Error! path too long: C:\\é" + std::string(250, 'a') + "...",
                     "  gone.txt", count(1, "File(s) found"), count(1, "File(s) deleted")}),
              outlines(r));
}

} // namespace
