// What a walk cannot do is reported once and fails the run, never skipped in
// silence: a destination directory too long to name, a directory that
// cannot be read, a name that no DOS path can spell.
#include <gtest/gtest.h>

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "engine_util.h"
#include "harness.h"

using namespace e2e;

namespace {

using Lines = std::vector<std::string>;

// A destination directory too long to name used to be reported once for
// its entry and again for its first file; two such siblings have their
// entries handled before either is walked, and nothing below one is
// reported again.
TEST(Walk, TooLongDestinationDirectoryIsReportedOnce) {
    const std::string base = "E:\\" + std::string(240, 'x');
    const std::string sub = "sub" + std::string(20, 'y');
    for (std::string source : {"D:\\S", "D:\\S\\*.TXT"}) {
        Sandbox box;
        box.write('D', "S/a.txt", "a");
        box.write('D', "S/" + sub + "/c.txt", "c");
        box.write('D', "S/" + sub + "/d.txt", "d");
        box.write('D', "S/" + sub + "/deeper/e.txt", "e");
        box.write('D', "S/" + sub + "2/f.txt", "f");
        box.write('D', "S/zz/b.txt", "b");
        RunResult r = box.run({"/S", source, base});
        EXPECT_EQ(1, r.status) << source << "\n" << r.out;
        EXPECT_EQ((Lines{READING, "D:\\S --> " + base, "  a.txt",
                         "Error! path too long: " + base + "\\" + sub,
                         "Error! path too long: " + base + "\\" + sub + "2",
                         "D:\\S\\zz --> " + base + "\\zz", "  b.txt", count(4, "File(s) found"),
                         count(2, "File(s) copied"), count(2, "File(s) failed"),
                         count(3, "Dir(s)  searched")}),
                  outlines(r))
            << source;
    }
}

// A too-long subdirectory's entry left the job's destination at the base,
// and the files after it in the same directory were copied there instead
// of into their own directory's counterpart.
TEST(Walk, FilesBesideATooLongDirectoryKeepTheirPlace) {
    const std::string base(236, 'x'); // E:\ + 236 + \P fits, + \P\sub... does not
    Sandbox box;
    box.write('D', "S/P/sub" + std::string(20, 'y') + "/c.txt", "c");
    box.write('D', "S/P/z.txt", "z");
    RunResult r = box.run({"/S", "D:\\S", "E:\\" + base});
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_EQ((Lines{"P/", "P/z.txt"}), tree(box.native('E', base)));
}

// A Linux name holding a backslash was left out of every listing, so a copy
// of the tree silently lacked it. Each is reported once, where the walk
// would have worked on it: a file when the pattern selects it, a directory
// when the walk recurses. A backslash that is the second byte of a
// double-byte character (表 is 0x95 0x5C) is no backslash of its own.
TEST(Walk, NamesHoldingABackslashAreReported) {
    SKIP_ON_WIN32("names holding a backslash");
    const std::string a = "Error! backslash in name: D:\\S\\a\\x5cb.txt";
    const std::string c = "Error! backslash in name: D:\\S\\c\\x5cd.doc";
    const std::string sub = "Error! backslash in name: D:\\S\\sub\\x5cdir";
    const std::string kanji = "Error! backslash in name: D:\\S\\表\\x5c.txt";
    const Lines copied{"D:\\S --> E:\\O", "  t.txt"};
    struct Case {
        Lines args;
        Lines want;
    } cases[] = {
        {{"/S", "D:\\S", "E:\\O"},
         {READING, a, c, copied[0], copied[1], kanji, sub, count(1, "File(s) found"),
          count(1, "File(s) copied"), count(0, "Dir(s)  searched")}},
        {{"/S", "D:\\S\\*.TXT", "E:\\O"},
         {READING, a, copied[0], copied[1], kanji, sub, count(1, "File(s) found"),
          count(1, "File(s) copied"), count(0, "Dir(s)  searched")}},
        {{"D:\\S\\*.*", "E:\\O"},
         {READING, a, c, copied[0], copied[1], kanji, count(1, "File(s) found"),
          count(1, "File(s) copied")}},
    };
    for (const Case &k : cases) {
        Sandbox box;
        box.write('D', "S/a\\b.txt", "a");
        box.write('D', "S/c\\d.doc", "c");
        box.write('D', "S/sub\\dir/x.txt", "x");
        box.write('D', "S/表\\.txt", "k");
        box.write('D', "S/t.txt", "t");
        RunResult r = box.run(k.args);
        EXPECT_EQ(1, r.status) << k.args[1] << "\n" << r.out;
        EXPECT_EQ(k.want, outlines(r)) << k.args[1];
        EXPECT_EQ((Lines{"t.txt"}), tree(box.native('E', "O"))) << k.args[1];
    }
}

// ---- unreadable directories ------------------------------------------------

constexpr uid_t NOBODY = 65534;

int give_to_nobody(const char *path, const struct stat *, int, struct FTW *) {
    return ::lchown(path, NOBODY, NOBODY);
}

// Root reads every directory: as root the program runs as nobody through
// setpriv, on a sandbox handed to nobody; otherwise it runs as it is. ""
// when that works here, else why not.
std::string prepare_unprivileged(const Sandbox &box, std::string *setpriv) {
    setpriv->clear();
    if (::geteuid() != 0)
        return "";
    for (const char *p : {"/usr/bin/setpriv", "/bin/setpriv"})
        if (::access(p, X_OK) == 0)
            *setpriv = p;
    if (setpriv->empty())
        return "running as root without setpriv to drop privileges";
    // nobody must reach the sandbox through every directory above it.
    for (std::string dir = box.root(); dir.size() > 1;) {
        dir = dir.substr(0, dir.rfind('/'));
        struct stat st;
        if (::stat(dir.empty() ? "/" : dir.c_str(), &st) != 0 || (st.st_mode & S_IXOTH) == 0)
            return "nobody cannot reach the sandbox below " + dir;
    }
    if (::nftw(box.root().c_str(), give_to_nobody, 16, FTW_PHYS) != 0)
        return "cannot hand the sandbox to nobody";
    return "";
}

RunResult run_unprivileged(const Sandbox &box, const std::string &setpriv, const Lines &args) {
    if (setpriv.empty())
        return box.run(args);
    RunOptions o;
    o.program = "/bin/sh";
    Lines all{"-c", "exec " + setpriv + " --reuid=65534 --regid=65534 --clear-groups -- \"$0\" \"$@\"",
              suite_build().path};
    all.insert(all.end(), args.begin(), args.end());
    return box.run(all, o);
}

// A directory that could not be read was taken for an empty one: nothing
// was said, its files were missing from the copy and the run ended with
// status 0. Read and search permission are both needed to list it; either
// phase of the walk may meet it, and it is reported once. Its counterpart
// is made when its entry is handled, before it is read, and stays empty.
TEST(Walk, UnreadableDirectoryIsReported) {
    SKIP_ON_WIN32("Unix permission bits and running as another user");
    const std::string denied = " (Permission denied)";
    struct Case {
        const char *locked;  // below D:\S
        mode_t mode;
        Lines args;
        Lines want;
    } cases[] = {
        {"LOCKED", 0, {"/S", "D:\\S", "E:\\O"},
         {READING, "Error! directory read failed: D:\\S\\LOCKED" + denied,
          "D:\\S\\OK --> E:\\O\\OK", "  b.txt", count(1, "File(s) found"),
          count(1, "File(s) copied"), count(2, "Dir(s)  searched")}},
        {"LOCKED", 0444, {"/S", "D:\\S\\*.TXT", "E:\\O"},
         {READING, "Error! directory read failed: D:\\S\\LOCKED" + denied,
          "D:\\S\\OK --> E:\\O\\OK", "  b.txt", count(1, "File(s) found"),
          count(1, "File(s) copied"), count(2, "Dir(s)  searched")}},
        {"LOCKED", 0, {"/S", "D:\\S\\LOCKED", "E:\\O"},
         {READING, "Error! directory read failed: D:\\S\\LOCKED" + denied,
          count(0, "File(s) found"), count(0, "File(s) copied"), count(0, "Dir(s)  searched")}},
        {"LOCKED", 0, {"/DEL", "/S", "/Y", "D:\\S"},
         {READING, "Error! directory read failed: D:\\S\\LOCKED" + denied,
          "  b.txt", count(1, "File(s) found"), count(1, "File(s) deleted"),
          count(2, "Dir(s)  searched"), count(1, "Dir(s)  deleted"), "<D:\\S> not deleted"}},
    };
    for (const Case &c : cases) {
        Sandbox box;
        box.write('D', "S/LOCKED/a.txt", "a");
        box.write('D', "S/OK/b.txt", "b");
        std::string setpriv, why = prepare_unprivileged(box, &setpriv);
        if (!why.empty())
            GTEST_SKIP() << why;
        ASSERT_EQ(0, ::chmod(box.native('D', "S/LOCKED").c_str(), c.mode));
        RunResult r = run_unprivileged(box, setpriv, c.args);
        EXPECT_EQ(1, r.status) << c.args[1] << "\n" << r.out << r.err;
        EXPECT_EQ(c.want, outlines(r)) << c.args[1];
        ASSERT_EQ(0, ::chmod(box.native('D', "S/LOCKED").c_str(), 0755));
        EXPECT_EQ("a", box.read('D', "S/LOCKED/a.txt"));
    }
}

// A reference or destination directory that could not be read was taken
// for an empty one: /DEL /N deleted every source whose counterpart it
// held, /O passed over every file with status 0, and /N and /U wrote
// blindly and aborted the walk; a dry run once it had foreseen a change
// said nothing. Each file judged against it fails and stays, the
// directory is named once, and a directory below it is judged by it too
// (once taken for missing, it let a delete go ahead two levels down).
TEST(Walk, UnreadableReferenceDecidesNothing) {
    SKIP_ON_WIN32("Unix permission bits and running as another user");
    const std::string failed = "Error! directory read failed: E:\\R\\SUB (Permission denied)";
    const Lines tree{READING, "D:\\S --> E:\\R", "D:\\S\\SUB --> E:\\R\\SUB", failed,
                     "D:\\S\\SUB\\X --> E:\\R\\SUB\\X"};
    const Lines sub{READING, "D:\\S\\SUB --> E:\\R\\SUB", failed};
    struct Case {
        Lines args;
        Lines want;
        const char *locked = "R/SUB";
    } cases[] = {
        {{"/DEL", "/N", "/S", "/Y", "D:\\S", "E:\\R"},
         {READING, tree[1], "Error! directory read failed: E:\\R (Permission denied)", tree[2],
          tree[4], count(3, "File(s) found"), count(0, "File(s) deleted"),
          count(3, "File(s) failed"), count(2, "Dir(s)  searched"), "<D:\\S> not deleted"},
         "R"},
        {{"/DEL", "/N", "/S", "/Y", "D:\\S", "E:\\R"},
         {tree[0], tree[1], tree[2], tree[3], tree[4], count(3, "File(s) found"),
          count(0, "File(s) deleted"), count(2, "File(s) failed"), count(2, "Dir(s)  searched"),
          "<D:\\S> not deleted"}},
        {{"/DEL!", "/N", "/S", "/Y", "D:\\S", "E:\\R"},
         {tree[0], tree[1], tree[2], tree[3], tree[4], count(3, "File(s) found"),
          count(0, "File(s) moved to <TRASH$$$>"), count(2, "File(s) failed"),
          count(2, "Dir(s)  searched"), "<D:\\S> not deleted"}},
        {{"/DEL", "/N", "/Y", "D:\\S\\SUB\\*.TXT", "E:\\R\\SUB"},
         {sub[0], sub[1], sub[2], count(1, "File(s) found"), count(0, "File(s) deleted"),
          count(1, "File(s) failed")}},
        {{"/DEL", "/O", "/Y", "D:\\S\\SUB\\*.TXT", "E:\\R\\SUB"},
         {sub[0], sub[1], sub[2], count(1, "File(s) found"), count(0, "File(s) deleted"),
          count(1, "File(s) failed")}},
        {{"/N", "D:\\S\\SUB\\*.TXT", "E:\\R\\SUB"},
         {sub[0], sub[1], sub[2], count(1, "File(s) found"), count(0, "File(s) copied"),
          count(1, "File(s) failed")}},
        {{"/E", "/O", "/S", "D:\\S", "E:\\R", "[X]"},
         {"This is TEST Mode", tree[0], tree[1], "  a.txt", tree[2], failed,
          "skip!: <X> in <D:\\S\\SUB>", "skip!: <D:\\S\\SUB\\X>", count(3, "File(s) found"),
          count(1, "File(s) copied"), count(1, "File(s) failed"), count(2, "Dir(s)  searched")}},
        {{"/U", "D:\\S\\SUB\\*.TXT", "E:\\R\\SUB"},
         {sub[0], sub[1], sub[2], count(1, "File(s) found"), count(0, "File(s) copied"),
          count(1, "File(s) failed")}},
        {{"/O", "D:\\S\\SUB\\*.TXT", "E:\\R\\SUB"},
         {sub[0], sub[1], sub[2], count(1, "File(s) found"), count(0, "File(s) copied"),
          count(1, "File(s) failed")}},
    };
    for (const Case &c : cases) {
        Sandbox box;
        for (const char *f : {"S/a.txt", "S/SUB/b.txt", "S/SUB/X/c.txt"})
            box.write('D', f, "src");
        for (const char *f : {"R/a.txt", "R/SUB/b.txt", "R/SUB/X/c.txt"})
            box.write('E', f, "ref");
        std::string setpriv, why = prepare_unprivileged(box, &setpriv);
        if (!why.empty())
            GTEST_SKIP() << why;
        ASSERT_EQ(0, ::chmod(box.native('E', c.locked).c_str(), 0));
        RunResult r = run_unprivileged(box, setpriv, c.args);
        ASSERT_EQ(0, ::chmod(box.native('E', c.locked).c_str(), 0755));
        EXPECT_EQ(1, r.status) << c.args[0] << c.args[1] << "\n" << r.out << r.err;
        EXPECT_EQ(c.want, outlines(r)) << c.args[0] << c.args[1];
        for (const char *f : {"S/SUB/b.txt", "S/SUB/X/c.txt"})
            EXPECT_EQ("src", box.read('D', f)) << c.args[0] << c.args[1];
        for (const char *f : {"R/SUB/b.txt", "R/SUB/X/c.txt"})
            EXPECT_EQ("ref", box.read('E', f)) << c.args[0] << c.args[1];
    }
}

} // namespace
