// The command line as a user meets it: information-only arguments, the
// caret display of every refusal, and check mode with its prompts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine_util.h"
#include "harness.h"

using namespace e2e;

namespace {

using Lines = std::vector<std::string>;

const std::string BANNER = "Quillet MOX32 v2.18\xce\xb2" "4 (WIN32)  (C) 2026 the mox32 developers";
const std::string LONGBANNER = "Quillet MOX32 v2.18\xce\xb2" "4 (WIN32)  (C) 2026 the mox32 "
                               "developers: copy, update, move, rename and delete files";

const std::vector<std::string> USAGE = {
    "[Usage] mox32 [/opt] [=format] <srcpath|@filelist> [[skipmask]] [dstdir]",
    "        command | mox32 [/opt] [=format] @ [[skipmask]] [dstdir]",
    "     /A: *Attribute copy            /B: create Backup file",
    "     /D: Date search(/Ddate1, /Ddate1-, /Ddate1-date2, /D-date2)",
    "         date1,2 formats are yyyymmdd or yyyymm or mmdd",
    "   /DEL: Delete src file",
    "  /DEL!: move to \\TRASH$$$      /DEL+: move to \\RECYCLED(WIN32)",
    "     /F: extension rename Forth     /C: *Check drivesize",
    "     /I: Incremental copy (append srcfile to dst's samenamefile)",
    "     /L: Lower filename             /L+: upper filename",
    "     /U: Update copy                /M: Move (delete source file)",
    "     /O: Overwrite only             /N: No overwrite ",
    "     /S: Subdirectories struct      /G: Gather",
    "         /S+, /G+: matching key directory of src and dst",
    "     /E: Echo mode (not execute)    /Y: always 'YES' to confirmation",
    " /CHECK: dsp parameter and confirm execution",
    "     =?: usgae for rename format    /V: Verbose mode",
    "    /V+: verbose mode(powered)     /V-: not verbose mode",
    "    /Z: filesize change zerobyte",
    "skipmask: [dir dir ...](skipdir) or [.ext.ext.ext ...](skipfile)",
    "   --null: list entries end with NUL, as find -print0 writes them",
    "   --help: this text on standard output",
    "--version: the version line",
};

// What a run printed, with the build's own name shown as "mox32" (a Win32
// build under Wine is named mox32.exe by its file; see as_mox32).
std::vector<std::string> named(const std::string &text) {
    return lines(as_mox32(text, suite_build()));
}

std::vector<std::string> with(std::string first, const std::vector<std::string> &rest) {
    std::vector<std::string> all{std::move(first)};
    all.insert(all.end(), rest.begin(), rest.end());
    return all;
}

TEST(Front, NoArgumentsShowsBannerAndUsage) {
    Sandbox box;
    RunResult r = box.run({});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(with(BANNER, USAGE), named(r.err));
    // Standard output is a pipe here: it gets the longer banner line.
    EXPECT_EQ(std::vector<std::string>{LONGBANNER}, lines(r.out));
}

TEST(Front, HelpSpellingsShowUsage) {
    Sandbox box;
    for (const char *arg : {"/?", "-?", "/h", "-H", "/HELP", "/Hx"}) {
        RunResult r = box.run({arg, "whatever"});
        EXPECT_EQ(0, r.status) << arg;
        EXPECT_EQ(with(BANNER, USAGE), named(r.err)) << arg;
    }
}

// mox32 --help | less showed the banner alone: the usage went to standard
// error. --help writes it where a pager reads.
TEST(Front, GnuHelpGoesToStandardOutput) {
    Sandbox box;
    RunResult r = box.run({"--help"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(with(LONGBANNER, USAGE), named(r.out));
    EXPECT_EQ(std::vector<std::string>{BANNER}, lines(r.err));
}

TEST(Front, VersionLine) {
    Sandbox box;
    for (const char *arg : {"-ver", "/VER", "/Ver", "--version"}) {
        RunResult r = box.run({arg});
        EXPECT_EQ(0, r.status);
        EXPECT_EQ(std::vector<std::string>{BANNER}, lines(r.err));
        std::vector<std::string> out = named(r.out);
        ASSERT_EQ(2u, out.size()) << arg;
        EXPECT_EQ(LONGBANNER, out[0]);
        EXPECT_TRUE(out[1].rfind("mox32 v2.18\xce\xb2" "4 (WIN32) $ compiled at ", 0) == 0) << out[1];
        EXPECT_EQ('$', out[1].back());
    }
}

// The name shown is argv[0] after its last separator, as the user typed
// it: C:\TOOLS\MOX32.EXE shows MOX32.EXE, the caret under the X of /SX. It
// used to lose its ".EXE". On Linux "/" separates too; a 0x5C that ends a
// double-byte character (表 is 0x95 0x5C) does not. The Linux build is
// started under each name with exec -a; a Win32 build is named by the path
// Wine starts it by, so a copy of it is started from D:\TOOLS through the
// runner (exec -a on mox32.exe worked only where Wine had registered
// itself with binfmt_misc).
TEST(Front, ProgramNameShownWithoutDirectory) {
    Sandbox box;
    struct Case {
        std::string argv0, shown;
        size_t columns; // the terminal columns of shown
    };
    std::vector<Case> cases;
    Build copy;
    if (suite_build().win32) {
        std::ifstream in(suite_build().path, std::ios::binary);
        std::string exe((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_FALSE(exe.empty()) << suite_build().path;
        box.write('d', "TOOLS/MOX32.EXE", exe);
        copy = Build{box.native('d', "TOOLS/MOX32.EXE"), true};
        cases = {{"D:\\TOOLS\\MOX32.EXE", "MOX32.EXE", 9}};
    } else {
        cases = {{"C:\\TOOLS\\MOX32.EXE", "MOX32.EXE", 9}, {"/usr/local/bin/mox32", "mox32", 5},
                 {"./sub/mox32", "mox32", 5},            {"C:\\x/mox32.Exe", "mox32.Exe", 9},
                 {"mox32.EXE", "mox32.EXE", 9},          {"表\\表mox32", "表mox32", 7}};
    }
    for (const Case &c : cases) {
        RunResult r;
        if (suite_build().win32) {
            RunOptions opt;
            opt.build = &copy;
            r = box.run({"/SX"}, opt);
        } else {
            // "/SX" quoted: unquoted, the shell would expand it where the
            // root holds a name of three characters beginning with S.
            RunOptions opt;
            opt.program = "/bin/bash";
            r = box.run({"-c", "exec -a \"$1\" \"$0\" '/SX'", suite_build().path, c.argv0}, opt);
        }
        EXPECT_EQ(1, r.status) << c.argv0;
        // The caret stands under the X: the name, a space, "/S".
        std::string pad(c.columns + 3, ' ');
        EXPECT_EQ((std::vector<std::string>{c.shown + " /SX ", pad + "^ error"}), lines(r.out))
            << c.argv0;
    }
}

TEST(Front, RenameFormatUsage) {
    Sandbox box;
    RunResult r = box.run({"/S", "=?x"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("", r.out); // no caret display for "=?"
    std::vector<std::string> err = lines(r.err);
    ASSERT_EQ(18u, err.size());
    EXPECT_EQ("[usage for rename format]", err[0]);
    EXPECT_EQ("    $F($N).$E   -> PROGRAM(0).EXE, PROGRAM(1).EXE ...", err[17]);
}

struct CaretCase {
    std::vector<std::string> args;
    std::string echo;  // the command line as repeated
    std::string caret; // the line under it
};

// Every refusal repeats the command line and puts the caret under the
// character at fault; a caret one column off points the user at the wrong
// place.
TEST(Front, CaretUnderTheFaultyCharacter) {
    const CaretCase cases[] = {
        {{"/SX"}, "mox32 /SX ", "        ^ error"},
        {{"/S/U"}, "mox32 /S/U ", "        ^ error"},
        {{"/Z-"}, "mox32 /Z- ", "        ^ error"},
        {{"/G", "/S"}, "mox32 /G /S ", "          ^ error"},
        {{"/S", "/G"}, "mox32 /S /G ", "          ^ error"},
        {{"/N", "/U"}, "mox32 /N /U ", "          ^ error"},
        {{"/DEL", "/M"}, "mox32 /DEL /M ", "            ^ error"},
        {{"/M", "/DEL"}, "mox32 /M /DEL ", "          ^ error"},
        {{"=NEW$N.TXT", "/DEL"}, "mox32 =NEW$N.TXT /DEL ", "                 ^ error"},
        {{"/DEL", "=X"}, "mox32 /DEL =X ", "           ^ error"},
        {{"="}, "mox32 = ", "       ^ error"},
        {{"/"}, "mox32 / ", "      ^ error"},
        {{"a", "b", "c"}, "mox32 a b c ", "          ^ error"},
        {{"/S", "/CHECK"}, "mox32 /S /CHECK ", "           ^ error"},
        {{"/S", "/?"}, "mox32 /S /? ", "          ^ error"},
        {{"/D-"}, "mox32 /D- ", "       ^ error"},
        {{"/DELS"}, "mox32 /DELS ", "       ^ error"},
        // skip-mask groups
        {{"x", "["}, "mox32 x [ ", "         ^ error"},
        {{"[*.bak]"}, "mox32 [*.bak] ", "       ^ error"},
        {{"[.b?k]"}, "mox32 [.b?k] ", "       ^ error"},
        {{"[.txt", "CVS]"}, "mox32 [.txt CVS] ", "            ^ error"},
        {{"[CVS", ".svn]"}, "mox32 [CVS .svn] ", "           ^ error"},
        {{"[", "/S", "]"}, "mox32 [ /S ] ", "        ^ error"},
        {{"[]"}, "mox32 [] ", "       ^ error"},
        {{"[", "]"}, "mox32 [ ] ", "        ^ error"},
        {{"[", ".txt", "-x]"}, "mox32 [ .txt -x] ", "             ^ error"},
        // a group never closed: the caret stands after the last argument
        {{"[CVS", "tmp"}, "mox32 [CVS tmp ", "               ^ error"},
    };
    Sandbox box;
    for (const CaretCase &c : cases) {
        RunResult r = box.run(c.args);
        EXPECT_EQ(1, r.status) << c.echo;
        EXPECT_EQ((std::vector<std::string>{c.echo, c.caret}), named(r.out));
    }
}

// The caret counts the columns the terminal shows, not bytes: é travels
// as four bytes and stood three columns right of the fault, 表 is two bytes
// and two columns, the half-width ｱ one byte and one column.
TEST(Front, CaretCountsColumns) {
    const CaretCase cases[] = {
        {{"café.txt", "/Q"}, "mox32 café.txt /Q ", "                ^ error"},
        {{"表.txt", "/Q"}, "mox32 表.txt /Q ", "              ^ error"},
        {{"ｱ.txt", "/Q"}, "mox32 ｱ.txt /Q ", "             ^ error"},
        {{"🎉", "/Q"}, "mox32 🎉 /Q ", "          ^ error"},
    };
    Sandbox box;
    // Inside an argument too: the first character of a format past 79 bytes.
    std::string format = "=";
    for (int i = 0; i < 19; i++)
        format += "é";
    format += "aaaa";
    RunResult r = box.run({format});
    EXPECT_EQ((std::vector<std::string>{"mox32 " + format + " ", std::string(29, ' ') + "^ error"}),
              named(r.out));
    for (const CaretCase &c : cases) {
        RunResult r = box.run(c.args);
        EXPECT_EQ(1, r.status) << c.echo;
        EXPECT_EQ((std::vector<std::string>{c.echo, c.caret}), named(r.out));
    }
}

// "--" was refused, so a source or destination whose name begins with
// "-", "/" or "=" could not be given at all. After it every argument is a
// source, a skip mask or a destination.
TEST(Front, DoubleDashEndsTheOptions) {
    struct Case {
        Lines args;
        std::string copied; // below E:\OUT
    } cases[] = {
        {{"/S", "--", "-DIR", "E:\\OUT"}, "A.TXT"},
        {{"--", "=A.TXT", "[.bak]", "E:\\OUT"}, "=A.TXT"},
        {{"--", "--", "E:\\OUT"}, "--"}, // the second is a file's name
    };
    for (const Case &c : cases) {
        Sandbox box;
        box.write('d', "-DIR/A.TXT", "a");
        box.write('d', "=A.TXT", "a");
        box.write('d', "--", "a");
        RunResult r = box.run(c.args);
        EXPECT_EQ(0, r.status) << c.copied << "\n" << r.out;
        EXPECT_EQ(Lines{c.copied}, tree(box.native('e', "OUT"))) << r.out;
    }
}

// A Linux user's absolute paths: after "--" they are native paths, mapped
// through the drive map as the working directory is (a name beyond ASCII
// was converted twice and not found); one on no drive is refused with its
// own name, and nothing is made.
TEST(Front, NativePathsAfterDoubleDash) {
    SKIP_ON_WIN32("native paths are Linux's");
    Sandbox box;
    box.write('d', "SRC/A.TXT", "a");
    box.write('d', "\xe8\xa1\xa8/B.TXT", "b");
    const std::string nodrive = box.root() + "/home/SRC";
    box.mkdir('d', "../home/SRC");
    struct Case {
        Lines args;
        int status;
        Lines out;
        Lines copied; // below E:\OUT
    } cases[] = {
        {{"/S", "--", box.native('d', "SRC"), box.native('e', "OUT")},
         0,
         {READING, "D:\\SRC --> E:\\OUT", "  A.TXT", count(1, "File(s) found"),
          count(1, "File(s) copied"), count(0, "Dir(s)  searched")},
         {"A.TXT"}},
        {{"--", box.native('d', "\xe8\xa1\xa8"), "E:\\OUT"},
         0,
         {READING, "D:\\\xe8\xa1\xa8 --> E:\\OUT", "  B.TXT", count(1, "File(s) found"),
          count(1, "File(s) copied"), count(0, "Dir(s)  searched")},
         {"B.TXT"}},
        {{"--", nodrive, "E:\\OUT"}, 1, {"Error! native path is on no drive: " + nodrive}, {}},
        {{"--", "D:\\SRC", box.root() + "/home/OUT"},
         1,
         {"Error! native path is on no drive: " + box.root() + "/home/OUT"},
         {}},
    };
    for (const Case &c : cases) {
        RunResult r = box.run(c.args);
        EXPECT_EQ(c.status, r.status) << r.out;
        EXPECT_EQ(c.out, outlines(r));
        EXPECT_EQ(c.copied, tree(box.native('e', "OUT")));
        ::system(("rm -rf '" + box.native('e', "OUT") + "'").c_str());
    }
    EXPECT_FALSE(box.exists('d', "../home/OUT"));
}

// A native path after "--" was read as DOS text: its ".." stopped at the
// drive's root, and from D:\work "../../e/LOGS/*.log" named D:\e\LOGS, a
// tree nobody named, where the shell's `ls` shows E:\LOGS; a ".." after a
// link climbed back over the link. It means what the shell means.
TEST(Front, NativePathClimbsAsTheShellDoes) {
    SKIP_ON_WIN32("native paths are Linux's");
    struct Case {
        Lines args;
        Lines gone, made; // as drive letter and path
    } cases[] = {
        {{"/DEL", "--", "../../e/LOGS/*.log"}, {"E:LOGS/out.log"}, {}},
        {{"--", "../../e/LOGS/*.log", "../../e/REL"}, {}, {"E:REL/out.log"}},
        {{"/DEL", "--", "LNK/../out.log"}, {"E:LOGS/out.log"}, {}},
    };
    for (const Case &c : cases) {
        Sandbox box;
        box.write('d', "work/LNK/x", "x");
        box.write('d', "e/LOGS/in.log", "decoy");
        box.write('e', "LOGS/out.log", "o");
        box.write('e', "LOGS/deep/x", "x");
        ::system(("rm -r '" + box.native('d', "work/LNK") + "'").c_str());
        ASSERT_EQ(0, ::symlink(box.native('e', "LOGS/deep").c_str(),
                               box.native('d', "work/LNK").c_str()));
        RunOptions opt;
        opt.cwd = box.native('d', "work");
        RunResult r = box.run(c.args, opt);
        EXPECT_EQ(0, r.status) << r.out;
        for (const std::string &f : c.gone)
            EXPECT_FALSE(box.exists(f[0], f.substr(2))) << f << "\n" << r.out;
        for (const std::string &f : c.made)
            EXPECT_TRUE(box.exists(f[0], f.substr(2))) << f << "\n" << r.out;
        EXPECT_EQ("decoy", box.read('d', "e/LOGS/in.log")) << r.out;
        EXPECT_FALSE(box.exists('d', "e/REL")) << r.out;
    }
}

// A backslash is a character of a Linux name, and the DOS rule drops a
// final dot or space: "--" /t/A/a\b.txt deleted A/a/b.txt and left
// a\b.txt, /t/A/x. deleted A/x, with status 0, and so did a list line.
// Such a path is refused with its name, as given, and nothing is touched.
TEST(Front, NativePathNamesNoOtherFile) {
    SKIP_ON_WIN32("native paths are Linux's");
    Sandbox box;
    const char *files[] = {"A/a/b.txt", "A/a\\b.txt", "A/x", "A/x.", "A/y", "A/y "};
    for (const char *f : files)
        box.write('d', f, "keep");
    const std::string a = box.native('d', "A/");
    const Lines want = {"Error! backslash in name: " + a + "a\\b.txt",
                        "Error! name ends in a dot: " + a + "x.",
                        "Error! name ends in a space: " + a + "y "};
    const std::string paths[] = {a + "a\\b.txt", a + "x.", a + "y "};
    for (int i = 0; i < 3; i++) {
        RunResult r = box.run({"/DEL", "--", paths[i]});
        EXPECT_EQ(1, r.status) << r.out;
        EXPECT_EQ(Lines{want[i]}, outlines(r));
        box.write_text('d', "LIST.TXT", paths[i] + "\n");
        r = box.run({"/DEL", "@D:\\LIST.TXT"});
        EXPECT_EQ(1, r.status) << r.out;
        Lines out = outlines(r);
        EXPECT_NE(out.end(), std::find(out.begin(), out.end(), want[i])) << r.out;
    }
    for (const char *f : files)
        EXPECT_EQ("keep", box.read('d', f)) << f;
}

// "mox32 /S ~/docs /srv/out" showed a caret under the "s" of /srv and
// nothing else. When the refused option names an existing native path,
// one more line says how to give it; the caret display stays as it was.
TEST(Front, NativePathReadAsAnOptionSaysHow) {
    SKIP_ON_WIN32("native paths are Linux's");
    Sandbox box;
    box.write('d', "SRC/A.TXT", "a");
    box.mkdir('d', "../home/SRC");
    const std::string src = box.native('d', "SRC"), nodrive = box.root() + "/home/SRC",
                      missing = box.native('d', "NONE");
    struct Case {
        std::string arg;
        std::string hint; // "" for none
    } cases[] = {
        {src, "Error! " + src + " is read as an option; give native paths after -- or as D:/SRC"},
        {nodrive, "Error! " + nodrive + " is read as an option; give native paths after --"},
        {missing, ""},
    };
    for (const Case &c : cases) {
        RunResult r = box.run({"/S", c.arg, "E:\\OUT"});
        EXPECT_EQ(1, r.status) << r.out;
        Lines want = {"mox32 /S " + c.arg + " E:\\OUT ", "          ^ error"};
        if (!c.hint.empty())
            want.push_back(c.hint);
        EXPECT_EQ(want, outlines(r));
    }
    EXPECT_FALSE(box.exists('e', "OUT"));
}

TEST(Front, DestinationRequired) {
    Sandbox box;
    RunResult r = box.run({"/U", "src"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ((std::vector<std::string>{"mox32 /U src ", "             ^ error",
                                        "/U, /O, /N, /M, /S+, /G+ require destination path"}),
              named(r.out));
}

// Overlong texts are refused with the caret display, never cut or
// overflowed into the fixed buffers behind them.
TEST(Front, OverlongTextsAreRefused) {
    Sandbox box;
    std::string format = "=" + std::string(80, 'F');
    RunResult r = box.run({format, "s"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ((std::vector<std::string>{"mox32 " + format + " s ",
                                        std::string(86, ' ') + "^ error"}),
              named(r.out));

    std::string date = "/D" + std::string(80, '2');
    r = box.run({date, "s"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ((std::vector<std::string>{"mox32 " + date + " s ", "       ^ error"}), named(r.out));

    std::string many = "[";
    for (int i = 0; i < 21; i++)
        many += ".e" + std::to_string(i);
    many += "]";
    r = box.run({many, "s"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("       ^ error", named(r.out).at(1));

    std::vector<std::string> dirs{"["};
    for (int i = 0; i < 21; i++)
        dirs.push_back("d" + std::to_string(i));
    dirs.push_back("]");
    r = box.run(dirs);
    EXPECT_EQ(1, r.status);
    // The 21st word is refused.
    std::string echo = "mox32 ";
    size_t col = 0;
    for (size_t i = 0; i < dirs.size(); i++) {
        if (i == 21)
            col = echo.size();
        echo += dirs[i] + " ";
    }
    EXPECT_EQ((std::vector<std::string>{echo, std::string(col, ' ') + "^ error"}), named(r.out));
}

TEST(Front, AtSourceNeedsRedirectedInput) {
    Sandbox box;
    // /dev/null is a character device: nothing is piped in.
    RunResult r = box.run({"@", "E:\\OUT"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ((std::vector<std::string>{"mox32 @ E:\\OUT ", "      ^ error"}), named(r.out));
}

TEST(Front, MissingSource) {
    Sandbox box;
    RunResult r = box.run({"/S"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(std::vector<std::string>{"Error! invalid src path"}, lines(r.out));
}

TEST(Front, NothingToDo) {
    Sandbox box;
    box.mkdir('D', "SRC");
    RunResult r = box.run({"D:\\SRC"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(std::vector<std::string>{"Error! no action is required"}, lines(r.out));
}

const std::vector<std::string> CHECK_HEADER = {
    "Check mode ON ! -----------------------------------",
    "commandline parameters are ...",
    "/CHECK /S D:\\SRC E:\\DST ",
    "0      1  2      3      ",
};

// The options dump after parsing /CHECK /S D:\SRC E:\DST.
const std::vector<std::string> PARSED_DUMP = {
    "\xe2\x96\xbc\xe8\xb5\xb7\xe5\x8b\x95\xe6\x99\x82\xe3\x82\xaa\xe3\x83\x97\xe3\x82\xb7\xe3\x83"
    "\xa7\xe3\x83\xb3\xe3\x81\xae\xe8\xa7\xa3\xe6\x9e\x90\xe7\xb5\x90\xe6\x9e\x9c "
        + std::string(24, '-'),
    "*** parameter position(s) about path *** ",
    "srcpath:  2             dstpath :  3",
    "skipdir:  0 -  0       skipfile:  0 -  0",
    "*** options status *** ",
    "[/A]属性コピー: ON              [/B]連番リネームバックアップ: OFF",
    "[/C]ドライブチェック: ON        [/DEL]削除モード: OFF",
    "[/DEL!]<TRASH$$$>へ移動: OFF",
    "[/DEL+]ゴミ箱へ移動: OFF",
    "[/D...]日付検索: OFF",
    "[/E]テストモード: OFF           [/F]強制拡張子連番リネーム: OFF",
    "[/G]ディレクトリ再帰処理: OFF   [/S]ディレクトリ構造反映: ON",
    "[+]キーディレクトリマッチング処理: OFF",
    "[/I]追加モード: OFF             [/M]移動コピー: OFF",
    "[/L]ファイル名小文字化: OFF     [/L+]ファイル名大文字化: OFF",
    "[/N] dst に存在しないファイルだけを処理: OFF",
    "[/O] dst に存在するファイルだけを処理: OFF",
    "[/U]タイムスタンプ比較更新: OFF [/Y]確認用問い合せ省略: OFF",
    "\xe2\x96\xb2" + std::string(50, '-'),
};

const std::string PROMPT = "C]ontinue(or [ENTER]), Q]uit(or [ESC]) : ";

// With nobody at a terminal the prompt answers "quit" at once: a script
// must never hang on it.
TEST(Front, CheckModeWithoutTerminalQuits) {
    Sandbox box;
    RunResult r = box.run({"/CHECK", "/S", "D:\\SRC", "E:\\DST"});
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(0, r.status);
    std::vector<std::string> out = named(r.out);
    ASSERT_EQ(2 + CHECK_HEADER.size() + PARSED_DUMP.size(), out.size()) << r.out;
    EXPECT_EQ(LONGBANNER, out[0]);
    EXPECT_TRUE(out[1].rfind("mox32 v2.18", 0) == 0);
    EXPECT_EQ(CHECK_HEADER, std::vector<std::string>(out.begin() + 2, out.begin() + 6));
    EXPECT_EQ(PARSED_DUMP, std::vector<std::string>(out.begin() + 6, out.end()));
    // Standard output is redirected, so the dump is repeated where the user
    // sees it, followed by the prompt and the answer taken.
    std::vector<std::string> err = lines(r.err);
    std::vector<std::string> want{BANNER};
    want.insert(want.end(), PARSED_DUMP.begin(), PARSED_DUMP.end());
    want.push_back(PROMPT + "Q");
    EXPECT_EQ(want, err);
}

// The ruler puts each index under the start of its argument as the
// terminal shows it; counted in bytes, é pushed every later index right.
TEST(Front, CheckModeRulerCountsColumns) {
    Sandbox box;
    RunResult r = box.run({"/CHECK", "/S", "café", "表ｱ"});
    std::vector<std::string> out = lines(r.out);
    ASSERT_GE(out.size(), 6u) << r.out;
    EXPECT_EQ("/CHECK /S café 表ｱ ", out[4]);
    EXPECT_EQ("0      1  2    3   ", out[5]);
}

TEST(Front, CheckModeDatesInTheDump) {
    Sandbox box;
    RunResult r = box.run({"/CHECK", "/D20040101-20041231", "x"});
    EXPECT_EQ(0, r.status);
    bool found = false;
    for (const std::string &l : lines(r.out))
        found |= l == "[/D...]日付検索: ON  (2004/01/01 - 2004/12/31)";
    EXPECT_TRUE(found) << r.out;
}

TEST(Front, CheckModePromptOnTerminal) {
    struct Case {
        std::string keys;
        std::string echo;
        int status;
    } cases[] = {
        {"\r", "C", 1}, // continues, then finds no source
        {"c", "C", 1},
        {"q", "Q", 0},
        {"Q", "Q", 0},
        {"\x1b", "Q", 0},
        {"xyz\r", "C", 1}, // other keys are ignored without echo
    };
    Sandbox box;
    for (const Case &c : cases) {
        RunResult r = box.run_pty({"/CHECK"}, {{PROMPT, c.keys}});
        ASSERT_FALSE(r.timed_out) << r.out;
        EXPECT_EQ(c.status, r.status);
        EXPECT_NE(std::string::npos, r.out.find(PROMPT + c.echo + "\n")) << r.out;
        bool invalid = r.out.find("Error! invalid src path\n") != std::string::npos;
        EXPECT_EQ(c.status == 1, invalid) << r.out;
    }
}

// Check mode asks three times: after parsing, after the paths and after
// the options; quitting at the last one is the only quit that fails.
TEST(Front, CheckModeAsksBeforeEachStage) {
    struct Case {
        std::vector<std::string> keys;
        int status;
        bool ran;
    } cases[] = {
        {{"\r", "\r", "\r"}, 0, true},
        {{"\r", "q"}, 0, false},
        {{"\r", "\r", "q"}, 1, false},
    };
    for (const Case &c : cases) {
        Sandbox box;
        box.write('D', "SRC/A.TXT", "a");
        std::vector<PtyStep> steps;
        for (const std::string &k : c.keys)
            steps.push_back({PROMPT, k});
        RunResult r = box.run_pty({"/CHECK", "/S", "D:\\SRC", "E:\\DST"}, steps);
        ASSERT_FALSE(r.timed_out) << r.out;
        EXPECT_EQ(c.status, r.status) << r.out;
        EXPECT_NE(std::string::npos, r.out.find(CHECK_HEADER[2] + "\n" + CHECK_HEADER[3] + "\n"));
        EXPECT_EQ(c.ran, box.exists('E', "DST/A.TXT")) << r.out;
        bool paths = r.out.find("dst base directory     : E:\\DST\n") != std::string::npos;
        EXPECT_TRUE(paths) << r.out;
    }
}

// The check-mode texts are code page 932 inside; a Shift_JIS terminal gets
// them byte for byte.
TEST(Front, JapaneseTextsOnAShiftJisLocale) {
    SKIP_ON_WIN32("a Shift_JIS locale");
    std::string locpath = Sandbox::sjis_locpath();
    if (locpath.empty())
        GTEST_SKIP() << "no Shift_JIS locale can be made here";
    Sandbox box;
    RunOptions opt;
    opt.env = {{"LOCPATH", locpath}, {"LC_ALL", "ja_JP.SJIS"}, {"LANG", "ja_JP.SJIS"}};
    RunResult r = box.run({"/CHECK", "x"}, opt);
    EXPECT_EQ(0, r.status);
    const std::string title = "\x81\xa5\x8b\x4e\x93\xae\x8e\x9e\x83\x49\x83\x76\x83\x56\x83\x87"
                              "\x83\x93\x82\xcc\x89\xf0\x90\xcd\x8c\x8b\x89\xca " +
                              std::string(24, '-');
    EXPECT_NE(std::string::npos, r.out.find("\n" + title + "\n")) << r.out;
}

} // namespace
