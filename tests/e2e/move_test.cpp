// Moving files and removing the directories a move has emptied.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "engine_util.h"
#include "harness.h"

using namespace e2e;

namespace {

using Lines = std::vector<std::string>;

// Within one drive and across drives a moved file arrives whole with its
// time, replaces an existing destination, and leaves the source directory
// without it; files outside the pattern stay.
TEST(Move, FilesWithinAndAcrossDrives) {
    for (char to : {'d', 'e'}) {
        Sandbox box;
        box.write('d', "MV/A.TXT", "moving a");
        box.write('d', "MV/B.TXT", "moving b");
        box.write('d', "MV/NOTE.DOC", "stays");
        set_mtime(box.native('d', "MV/A.TXT"), T0);
        set_mtime(box.native('d', "MV/B.TXT"), T0 + 20);
        box.write(to, "OUT/B.TXT", "to be replaced");
        std::string dst = std::string(1, static_cast<char>(to - 0x20)) + ":\\OUT";
        RunResult r = box.run({"/M", "D:\\MV\\*.TXT", dst});
        EXPECT_EQ(0, r.status) << r.out;
        EXPECT_EQ((Lines{READING, "D:\\MV --> " + dst, "  A.TXT", "  B.TXT",
                         count(2, "File(s) found"), count(2, "File(s) copied")}),
                  outlines(r))
            << to;
        EXPECT_EQ((Lines{"NOTE.DOC"}), tree(box.native('d', "MV"))) << to;
        EXPECT_EQ("moving a", box.read(to, "OUT/A.TXT"));
        EXPECT_EQ("moving b", box.read(to, "OUT/B.TXT"));
        EXPECT_EQ(T0 / 2, mtime_of(box.native(to, "OUT/A.TXT")) / 2) << to;
        EXPECT_EQ((T0 + 20) / 2, mtime_of(box.native(to, "OUT/B.TXT")) / 2) << to;
    }
}

// A move within one drive is one rename: the file keeps its hidden mark,
// its read-only state and its mode, which the run knew from the listing
// and does not set again.
TEST(Move, WithinADriveKeepsMarksAndMode) {
    Sandbox box;
    for (const char *f : {"MV/HID.TXT", "MV/RO.TXT", "MV/P.TXT"})
        box.write('d', f, f);
    set_dosattrib(box.native('d', "MV/HID.TXT"), "0x2");
    ::chmod(box.native('d', "MV/RO.TXT").c_str(), 0444);
    ::chmod(box.native('d', "MV/P.TXT").c_str(), 0640);
    RunResult r = box.run({"/M", "D:\\MV\\*.TXT", "D:\\OUT"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ("0x2", dosattrib(box.native('d', "OUT/HID.TXT")));
    struct stat ro, p;
    ASSERT_EQ(0, ::stat(box.native('d', "OUT/RO.TXT").c_str(), &ro));
    ASSERT_EQ(0, ::stat(box.native('d', "OUT/P.TXT").c_str(), &p));
    EXPECT_EQ(0u, ro.st_mode & 0222);
    EXPECT_EQ(0640u, p.st_mode & 0777);
}

void make_tree(const Sandbox &box, bool extra) {
    box.write('d', "MV/A.TXT", "a");
    box.write('d', "MV/SUB/B.TXT", "b");
    if (extra)
        box.write('d', "MV/NOTE.DOC", "stays");
}

// Moving a whole directory removes it, base included, and says so once.
TEST(Move, WholeTreeRemovesItsDirectories) {
    Sandbox box;
    make_tree(box, false);
    RunResult r = box.run({"/M", "D:\\MV", "E:\\OUT"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ((Lines{READING, "D:\\MV --> E:\\OUT", "  A.TXT", "D:\\MV\\SUB --> E:\\OUT\\SUB",
                     "  B.TXT", count(2, "File(s) found"), count(2, "File(s) copied"),
                     count(1, "Dir(s)  searched"), count(2, "Dir(s)  deleted"),
                     "<D:\\MV> deleted"}),
              outlines(r));
    EXPECT_FALSE(box.exists('d', "MV"));
    EXPECT_EQ((Lines{"A.TXT", "SUB/", "SUB/B.TXT"}), tree(box.native('e', "OUT")));
}

// /M+ removes the directories it emptied even for a pattern; a base that
// still holds files is kept and reported.
TEST(Move, PlusRemovesEmptiedDirectoriesOnly) {
    Sandbox box;
    make_tree(box, true);
    RunResult r = box.run({"/S", "/M+", "D:\\MV\\*.TXT", "E:\\OUT"});
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_EQ((Lines{READING, "D:\\MV --> E:\\OUT", "  A.TXT", "D:\\MV\\SUB --> E:\\OUT\\SUB",
                     "  B.TXT", count(2, "File(s) found"), count(2, "File(s) copied"),
                     count(1, "Dir(s)  searched"), count(1, "Dir(s)  deleted"),
                     "<D:\\MV> not deleted"}),
              outlines(r));
    EXPECT_EQ((Lines{"NOTE.DOC"}), tree(box.native('d', "MV")));
}

// /M! empties and removes the subdirectories but keeps the base itself.
TEST(Move, BangKeepsTheBase) {
    Sandbox box;
    make_tree(box, false);
    RunResult r = box.run({"/M!", "D:\\MV", "E:\\OUT"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ((Lines{READING, "D:\\MV --> E:\\OUT", "  A.TXT", "D:\\MV\\SUB --> E:\\OUT\\SUB",
                     "  B.TXT", count(2, "File(s) found"), count(2, "File(s) copied"),
                     count(1, "Dir(s)  searched"), count(1, "Dir(s)  deleted")}),
              outlines(r));
    EXPECT_TRUE(is_dir(box.native('d', "MV")));
    EXPECT_EQ(Lines{}, tree(box.native('d', "MV")));
}

// A link that cannot be moved is that one file's failure, never the walk's.
// The Win32 build refuses a link (Wine would move the file it names, and
// cannot make a link elsewhere: GetLastError=[50] across drives, [5] within
// one); that used to end the whole /M or /DEL! walk at the link, leaving
// every later file where it was. The Linux build moves the link. Either
// way every other file goes, and a link that stayed is counted as failed.
TEST(Move, RefusedLinkEndsOnlyItsOwnMove) {
    const Lines cases[] = {
        {"/M", "D:\\L", "E:\\OUT"},
        {"/M", "D:\\L", "D:\\OUT"},
        {"/DEL!", "/Y", "D:\\L"},
    };
    for (const Lines &args : cases) {
        SCOPED_TRACE(args[0] + " " + args.back());
        Sandbox box;
        box.write('d', "L/C.TXT", "c");
        box.write('d', "L/Z.TXT", "z");
        // Listed first, before the file it names.
        ASSERT_EQ(0, ::symlink("Z.TXT", box.native('d', "L/A.LNK").c_str()));
        RunResult r = box.run(args);
        // A directory source keeps its structure, in the trash too.
        std::string to = args[0] == "/DEL!" ? "TRASH$$$/L" : "OUT";
        char drive = args.back() == "E:\\OUT" ? 'e' : 'd';
        EXPECT_FALSE(has_line(r, ABORT)) << r.out;
        EXPECT_TRUE(has_line(r, count(3, "File(s) found"))) << r.out;
        EXPECT_FALSE(box.exists('d', "L/C.TXT"));
        EXPECT_FALSE(box.exists('d', "L/Z.TXT"));
        EXPECT_EQ("c", box.read(drive, to + "/C.TXT"));
        EXPECT_EQ("z", box.read(drive, to + "/Z.TXT"));
        if (box.exists('d', "L/A.LNK")) { // refused: counted, and the base stays
            EXPECT_EQ(1, r.status) << r.out;
            EXPECT_TRUE(has_line(r, count(1, "File(s) failed"))) << r.out;
            EXPECT_TRUE(has_line(r, "<D:\\L> not deleted")) << r.out;
        } else { // moved as a link
            EXPECT_EQ(0, r.status) << r.out;
            EXPECT_TRUE(box.exists(drive, to + "/A.LNK"));
            EXPECT_FALSE(box.exists('d', "L"));
        }
    }
}

// A move onto another file system read through a file link: once the
// link's target in the same directory had gone ahead, the link dangled,
// the copy failed and the rest of the tree stayed behind. A link moves as
// a link with its target text, to another drive or to another mount under
// the same letter, into a new name or over an existing file (root only).
TEST(Move, LinkInTreeMovesAsALinkAcrossFileSystems) {
    SKIP_ON_WIN32("symbolic links to files and tmpfs mounts");
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a file system needs root";
    struct Case {
        const char *to;
        bool existing; // the destination already holds a file of the link's name
    } cases[] = {{"E:\\OUT", false}, {"E:\\OUT", true}, {"D:\\MNT\\OUT", false},
                 {"D:\\MNT\\OUT", true}};
    for (const Case &k : cases) {
        SCOPED_TRACE(std::string(k.to) + (k.existing ? " over a file" : ""));
        Sandbox box;
        box.mkdir('d', "MNT");
        bool samedrive = k.to[0] == 'D';
        std::string mount = samedrive ? box.native('d', "MNT") : box.native('e');
        TmpfsMount mnt(mount, "1m");
        if (!mnt.ok())
            GTEST_SKIP() << "no tmpfs here";
        std::string out = mount + "/OUT";
        box.write('d', "MV/A.TXT", "target");
        box.write('d', "MV/SUB/C.TXT", "below");
        ASSERT_EQ(0, ::symlink("A.TXT", box.native('d', "MV/B.LNK").c_str()));
        if (k.existing)
            box.write(samedrive ? 'd' : 'e', samedrive ? "MNT/OUT/B.LNK" : "OUT/B.LNK", "old");
        RunResult r = box.run({"/M", "/S", "D:\\MV", k.to});
        EXPECT_EQ(0, r.status) << r.out;
        std::string to = k.to;
        EXPECT_EQ((Lines{READING, "D:\\MV --> " + to, "  A.TXT", "  B.LNK",
                         "D:\\MV\\SUB --> " + to + "\\SUB", "  C.TXT", count(3, "File(s) found"),
                         count(3, "File(s) copied"), count(1, "Dir(s)  searched"),
                         count(2, "Dir(s)  deleted"), "<D:\\MV> deleted"}),
                  outlines(r));
        EXPECT_FALSE(box.exists('d', "MV"));
        EXPECT_EQ((Lines{"A.TXT", "B.LNK", "SUB/", "SUB/C.TXT"}), tree(out));
        char target[64] = {};
        ASSERT_EQ(5, ::readlink((out + "/B.LNK").c_str(), target, sizeof target - 1));
        EXPECT_STREQ("A.TXT", target);
        EXPECT_EQ("target", box.read(samedrive ? 'd' : 'e', samedrive ? "MNT/OUT/B.LNK" : "OUT/B.LNK"));
    }
}

// A move's gather took two files of one name for the same when size, date
// and time to the two-second step agreed, and wrote the second over the
// first, which had already left its source: "AAAA" was found nowhere.
// Files that differ in their exact time or in their bytes are both kept;
// a true copy of the file still replaces it without a backup.
TEST(Move, GatherKeepsSameNamedFilesThatDiffer) {
    struct Case {
        const char *second; // the contents of B/f.txt, gathered after A/f.txt ("AAAA")
        time_t time;        // the time of B/f.txt (A/f.txt has T0)
        Lines want;         // what E:\O holds
    } cases[] = {
        {"BBBB", T0 + 1, {"f(000).txt=AAAA", "f.txt=BBBB"}},
        {"BBBB", T0, {"f(000).txt=AAAA", "f.txt=BBBB"}},
        {"AAAA", T0, {"f.txt=AAAA"}},
    };
    for (const Case &c : cases) {
        Sandbox box;
        box.write('d', "S/A/f.txt", "AAAA");
        box.write('d', "S/B/f.txt", c.second);
        set_mtime(box.native('d', "S/A/f.txt"), T0);
        set_mtime(box.native('d', "S/B/f.txt"), c.time);
        RunResult r = box.run({"/M", "/G", "D:\\S", "E:\\O"});
        EXPECT_EQ(0, r.status) << r.out;
        Lines got;
        for (const std::string &name : tree(box.native('e', "O")))
            got.push_back(name + "=" + box.read('e', "O/" + name));
        EXPECT_EQ(c.want, got) << c.second << " " << c.time - T0;
        EXPECT_FALSE(box.exists('d', "S/A/f.txt"));
        EXPECT_FALSE(box.exists('d', "S/B/f.txt"));
    }
}

} // namespace
