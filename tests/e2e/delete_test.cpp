// The three ways of getting rid of files: deleting them (/DEL), moving them
// into X:\TRASH$$$ (/DEL!) and into the desktop's recycle bin (/DEL+), with
// and without a reference destination, and the questions asked first.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "disposal_util.h"
#include "engine_util.h"
#include "harness.h"

using namespace e2e;

namespace {

using Lines = std::vector<std::string>;

// The summary line that names what a delete mode did.
std::string done_line(const std::string &mode, unsigned n) {
    return count(n, mode == "/DEL!" ? "File(s) moved to <TRASH$$$>" : "File(s) deleted");
}

// The per-file line: /DEL and /DEL+ name each file, the trash is silent.
void add_file_line(Lines &out, const std::string &mode, const std::string &name) {
    if (mode != "/DEL!")
        out.push_back("  " + name);
}

// Where a disposed-of file from D:\SRC ends up (native), "" when deleted.
std::string disposed_at(const Sandbox &box, const std::string &mode, const std::string &name) {
    if (mode == "/DEL!")
        return box.native('d', "TRASH$$$/" + name);
    if (mode == "/DEL+")
        return box.root() + "/data/Trash/files/" + name;
    return "";
}

// Each mode on a pattern: the matching files go, the others stay, and a
// disposed-of file keeps its bytes where it went.
TEST(Delete, ModesOnAPattern) {
    for (std::string mode : {"/DEL", "/DEL!", "/DEL+"}) {
        Sandbox box;
        box.write('d', "SRC/A.TXT", "text a");
        box.write('d', "SRC/B.TXT", "text b");
        box.write('d', "SRC/NOTE.DOC", "stays");
        RunResult r = box.run({mode, "D:\\SRC\\*.TXT"});
        EXPECT_EQ(0, r.status) << mode << "\n" << r.out;
        Lines want{READING};
        add_file_line(want, mode, "A.TXT");
        add_file_line(want, mode, "B.TXT");
        want.push_back(count(2, "File(s) found"));
        want.push_back(done_line(mode, 2));
        EXPECT_EQ(want, outlines(r)) << mode;
        EXPECT_EQ((Lines{"NOTE.DOC"}), tree(box.native('d', "SRC"))) << mode;
        for (const char *f : {"A.TXT", "B.TXT"}) {
            std::string at = disposed_at(box, mode, f);
            if (at.empty())
                continue;
            std::string want_text = std::string("text ") + static_cast<char>(f[0] + 0x20);
            EXPECT_EQ(want_text, read_native(at)) << mode << " " << at;
        }
    }
}

// A read-only file is deleted too: its attribute is cleared first.
TEST(Delete, ReadOnlyFileIsDeleted) {
    Sandbox box;
    box.write('d', "SRC/RO.TXT", "ro");
    ::chmod(box.native('d', "SRC/RO.TXT").c_str(), 0444);
    RunResult r = box.run({"/DEL", "D:\\SRC\\RO.TXT"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ((Lines{READING, "  RO.TXT", count(1, "File(s) found"), count(1, "File(s) deleted")}),
              outlines(r));
    EXPECT_EQ(Lines{}, tree(box.native('d', "SRC")));
}

// Marks a file immutable for the life of the object (root only), so that
// even root cannot delete or rename it.
class Immutable {
public:
    explicit Immutable(const std::string &path) : path_(path) { ok_ = set(true); }
    ~Immutable() {
        if (ok_)
            set(false);
    }
    Immutable(const Immutable &) = delete;
    Immutable &operator=(const Immutable &) = delete;
    bool ok() const { return ok_; }

private:
    bool set(bool on) {
        int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK);
        if (fd < 0)
            return false;
        int flags = 0;
        bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (done) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return done;
    }
    std::string path_;
    bool ok_ = false;
};

// A file the system refuses to delete is reported and counted, the run goes
// on with the next file, and the status says that something failed. /V-
// hides the per-file report but never the failed count.
TEST(Delete, RefusedDeleteGoesOn) {
    SKIP_ON_WIN32("chattr +i");
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to make a file immutable";
    Sandbox box;
    box.write('d', "S/A.TXT", "a");
    box.write('d', "S/B.TXT", "b");
    Immutable lock(box.native('d', "S/A.TXT"));
    if (!lock.ok())
        GTEST_SKIP() << "this file system has no immutable flag";
    RunResult r = box.run({"/DEL", "D:\\S\\*.TXT"});
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_EQ((Lines{READING, "failed!:A.TXT", "  B.TXT", count(2, "File(s) found"),
                     count(1, "File(s) deleted"), count(1, "File(s) failed")}),
              outlines(r));
    EXPECT_EQ((Lines{"A.TXT"}), tree(box.native('d', "S")));

    r = box.run({"/V-", "/DEL", "D:\\S\\*.TXT"});
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_EQ((Lines{READING, count(0, "File(s) deleted"), count(1, "File(s) failed")}),
              outlines(r));
    EXPECT_EQ("a", box.read('d', "S/A.TXT"));
}

// D:\SRC against the reference E:\REF: A is older than its counterpart, B
// newer, C has none, D has the same time.
void make_reference(const Sandbox &box) {
    const char *names[] = {"A.TXT", "B.TXT", "C.TXT", "D.TXT"};
    const time_t src_t[] = {T0, T0 + 100, T0, T0 + 50};
    for (int i = 0; i < 4; ++i) {
        box.write('d', std::string("SRC/") + names[i], std::string("src ") + names[i]);
        set_mtime(box.native('d', std::string("SRC/") + names[i]), src_t[i]);
    }
    box.write('e', "REF/A.TXT", "ref A");
    set_mtime(box.native('e', "REF/A.TXT"), T0 + 10);
    box.write('e', "REF/B.TXT", "ref B");
    set_mtime(box.native('e', "REF/B.TXT"), T0);
    box.write('e', "REF/D.TXT", "ref D");
    set_mtime(box.native('e', "REF/D.TXT"), T0 + 50);
}

// With a destination the delete modes write nothing there: it only decides
// which source files go. The table: alone, every file; /O, those with a
// counterpart; /N, those without; /U, those without or not newer.
TEST(Delete, ReferenceDestinationDecides) {
    struct Case {
        const char *mode;
        const char *filter;  // "" for none
        const char *gone;    // letters of the files that go
    } cases[] = {
        {"/DEL", "", "ABCD"},   {"/DEL", "/O", "ABD"},  {"/DEL", "/N", "C"},
        {"/DEL", "/U", "ACD"},  {"/DEL!", "", "ABCD"},  {"/DEL!", "/O", "ABD"},
        {"/DEL!", "/U", "ACD"}, {"/DEL+", "/N", "C"},   {"/DEL+", "/U", "ACD"},
    };
    for (const Case &c : cases) {
        std::string mode = c.mode, gone = c.gone;
        std::string label = mode + " " + c.filter;
        Sandbox box;
        make_reference(box);
        Lines args{mode};
        if (*c.filter)
            args.push_back(c.filter);
        args.push_back("D:\\SRC\\*.TXT");
        args.push_back("E:\\REF");
        RunResult r = box.run(args);
        EXPECT_EQ(0, r.status) << label << "\n" << r.out;

        Lines want{READING, "D:\\SRC --> E:\\REF"}, left;
        for (char f : std::string("ABCD")) {
            std::string name = std::string(1, f) + ".TXT";
            if (gone.find(f) != std::string::npos)
                add_file_line(want, mode, name);
            else
                left.push_back(name);
        }
        want.push_back(count(4, "File(s) found"));
        want.push_back(done_line(mode, static_cast<unsigned>(gone.size())));
        EXPECT_EQ(want, outlines(r)) << label;
        EXPECT_EQ(left, tree(box.native('d', "SRC"))) << label;
        for (char f : gone) {
            std::string at = disposed_at(box, mode, std::string(1, f) + ".TXT");
            if (!at.empty()) {
                EXPECT_TRUE(::access(at.c_str(), F_OK) == 0) << label << " " << at;
            }
        }
        // The reference is read, never written.
        EXPECT_EQ((Lines{"A.TXT", "B.TXT", "D.TXT"}), tree(box.native('e', "REF"))) << label;
        EXPECT_EQ("ref A", box.read('e', "REF/A.TXT"));
        EXPECT_EQ(T0 / 2, mtime_of(box.native('e', "REF/B.TXT")) / 2);
    }
}

// A reference tree is followed level by level with /S: a file is judged by
// its counterpart in the matching subdirectory, not in the base.
TEST(Delete, ReferenceFollowsStructure) {
    Sandbox box;
    box.write('d', "SRC/TOP.TXT", "t");
    box.write('d', "SRC/SUB/IN.TXT", "i");
    box.write('d', "SRC/SUB/OUT.TXT", "o");
    box.write('e', "REF/SUB/IN.TXT", "ref");
    box.write('e', "REF/OUT.TXT", "at the wrong level");
    RunResult r = box.run({"/S", "/O", "/DEL", "D:\\SRC\\*.TXT", "E:\\REF"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ((Lines{READING, "D:\\SRC --> E:\\REF", "D:\\SRC\\SUB --> E:\\REF\\SUB", "  IN.TXT",
                     count(3, "File(s) found"), count(1, "File(s) deleted"),
                     count(1, "Dir(s)  searched")}),
              outlines(r));
    EXPECT_EQ((Lines{"SUB/", "SUB/OUT.TXT", "TOP.TXT"}), tree(box.native('d', "SRC")));
    EXPECT_EQ((Lines{"OUT.TXT", "SUB/", "SUB/IN.TXT"}), tree(box.native('e', "REF")));
}

// A reference inside the source tree is no source: /DEL /S /U deleted
// D:\DATA\A.TXT on the word of REF\A.TXT, then walked REF, found no
// REF\REF\A.TXT and deleted that too, and both copies were gone.
TEST(Delete, ReferenceInsideTheSourceIsNotWalked) {
    for (std::string mode : {"/DEL", "/DEL!", "/DEL+"}) {
        for (std::string walk : {"/S", "/G"}) {
            for (std::string filter : {"/U", "/O", ""}) {
                std::string label = mode + " " + walk + " " + filter;
                Sandbox box;
                box.write('d', "DATA/A.TXT", "old");
                set_mtime(box.native('d', "DATA/A.TXT"), T0);
                box.write('d', "DATA/REF/A.TXT", "reference");
                set_mtime(box.native('d', "DATA/REF/A.TXT"), T0 + 10);
                Lines args{mode, walk, "/Y"};
                if (!filter.empty())
                    args.push_back(filter);
                args.insert(args.end(), {"D:\\DATA", "D:\\DATA\\REF"});
                RunResult r = box.run(args);
                // /S asks for the whole tree, whose base cannot go now.
                EXPECT_EQ(walk == "/S" ? 1 : 0, r.status) << label << "\n" << r.out;
                Lines want{READING, "D:\\DATA --> D:\\DATA\\REF"};
                add_file_line(want, mode, "A.TXT");
                want.insert(want.end(), {"skip!: <D:\\DATA\\REF>", count(2, "File(s) found"),
                                         done_line(mode, 1), count(1, "Dir(s)  searched")});
                if (walk == "/S")
                    want.push_back("<D:\\DATA> not deleted");
                EXPECT_EQ(want, outlines(r)) << label;
                EXPECT_EQ((Lines{"REF/", "REF/A.TXT"}), tree(box.native('d', "DATA"))) << label;
                EXPECT_EQ("reference", read_native(box.native('d', "DATA/REF/A.TXT"))) << label;
            }
        }
    }
}

// Deleting a whole tree removes the emptied directories, base included, and
// the run says so and succeeds; a base already removed by the walk must not
// turn the status into a failure.
TEST(Delete, WholeTreeRemovesDirectories) {
    for (std::string mode : {"/DEL", "/DEL!", "/DEL+"}) {
        Sandbox box;
        box.write('d', "S/A.TXT", "a");
        box.write('d', "S/X/B.TXT", "b");
        box.mkdir('d', "S/EMPTY");
        RunResult r = box.run({"/Y", mode, "D:\\S"});
        EXPECT_EQ(0, r.status) << mode << "\n" << r.out;
        Lines want{READING};
        add_file_line(want, mode, "A.TXT");
        add_file_line(want, mode, "B.TXT");
        want.insert(want.end(), {count(2, "File(s) found"), done_line(mode, 2),
                                 count(2, "Dir(s)  searched"), count(3, "Dir(s)  deleted"),
                                 "<D:\\S> deleted"});
        EXPECT_EQ(want, outlines(r)) << mode;
        EXPECT_FALSE(box.exists('d', "S")) << mode;
        if (mode == "/DEL!") {
            // The trash rebuilds the levels of the tree.
            EXPECT_EQ((Lines{"S/", "S/A.TXT", "S/X/", "S/X/B.TXT"}),
                      tree(box.native('d', "TRASH$$$")));
        }
    }
}

// Echo mode changes nothing, emptied directories included: the walk used to
// remove an empty subdirectory for real and count it as deleted. The
// directories count as removed, as the base does, and all of them stay.
TEST(Delete, EchoChangesNothing) {
    const Lines moved{"D:\\S --> E:\\O", "  A.TXT", "D:\\S\\X --> E:\\O\\X", "  B.TXT"};
    const Lines tested{"(delete test) A.TXT", "(delete test) B.TXT"};
    struct Case {
        Lines args;
        Lines files;        // the per-file lines
        std::string done;   // the first summary line
        bool listed;        // the base is a listed directory: removed before the summary
    } cases[] = {
        {{"/DEL", "D:\\S"}, tested, "File(s) deleted", false},
        {{"/DEL!", "D:\\S"}, {}, "File(s) moved to <TRASH$$$>", false},
        {{"/DEL+", "D:\\S"}, tested, "File(s) deleted", false},
        {{"/M", "D:\\S", "E:\\O"}, moved, "File(s) copied", false},
        {{"/DEL", "/S", "@D:\\LIST.TXT"}, tested, "File(s) deleted", true},
    };
    for (const Case &c : cases) {
        Sandbox box;
        box.write('d', "S/A.TXT", "a");
        box.write('d', "S/X/B.TXT", "b");
        box.mkdir('d', "S/EMPTY");
        box.write('d', "LIST.TXT", "D:\\S\n");
        Lines args{"/E", "/Y"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::string label = args[2];
        RunResult r = box.run(args);
        EXPECT_EQ(0, r.status) << label << "\n" << r.out;
        Lines want{"This is TEST Mode", READING};
        want.insert(want.end(), c.files.begin(), c.files.end());
        if (c.listed)
            want.push_back("<D:\\S> deleted");
        want.insert(want.end(), {count(2, "File(s) found"), count(2, c.done),
                                 count(2, "Dir(s)  searched"), count(3, "Dir(s)  deleted")});
        if (!c.listed)
            want.push_back("<D:\\S> deleted");
        EXPECT_EQ(want, outlines(r)) << label;
        EXPECT_EQ((Lines{"A.TXT", "EMPTY/", "X/", "X/B.TXT"}), tree(box.native('d', "S")))
            << label;
        EXPECT_FALSE(box.exists('d', "TRASH$$$")) << label;
        EXPECT_EQ(Lines{}, tree(box.native('e'))) << label;
        EXPECT_EQ(Lines{}, tree(box.root() + "/data")) << label;
    }
}

// Two files of one name from two directories: the second is numbered in the
// trash instead of replacing the first. With /S each keeps its own level.
TEST(Trash, SameNamesDoNotCollide) {
    Sandbox box;
    box.write('d', "S/X/A.TXT", "from X");
    box.write('d', "S/Y/A.TXT", "from Y");
    RunResult r = box.run({"/G", "/DEL!", "D:\\S\\*.TXT"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ((Lines{READING, count(2, "File(s) found"), count(2, "File(s) moved to <TRASH$$$>"),
                     count(2, "Dir(s)  searched")}),
              outlines(r));
    EXPECT_EQ((Lines{"A(000).TXT", "A.TXT"}), tree(box.native('d', "TRASH$$$")));
    EXPECT_EQ("from X", box.read('d', "TRASH$$$/A.TXT"));
    EXPECT_EQ("from Y", box.read('d', "TRASH$$$/A(000).TXT"));

    Sandbox box2;
    box2.write('d', "S/X/A.TXT", "from X");
    box2.write('d', "S/Y/A.TXT", "from Y");
    r = box2.run({"/S", "/DEL!", "D:\\S\\*.TXT"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ((Lines{"S/", "S/X/", "S/X/A.TXT", "S/Y/", "S/Y/A.TXT"}),
              tree(box2.native('d', "TRASH$$$")));
    EXPECT_EQ("from Y", box2.read('d', "TRASH$$$/S/Y/A.TXT"));

    // /F numbers the extension instead.
    Sandbox box3;
    box3.write('d', "S/X/A.TXT", "from X");
    box3.write('d', "S/Y/A.TXT", "from Y");
    r = box3.run({"/G", "/F", "/DEL!", "D:\\S\\*.TXT"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ((Lines{"A.000", "A.TXT"}), tree(box3.native('d', "TRASH$$$")));
    EXPECT_EQ("from Y", box3.read('d', "TRASH$$$/A.000"));
}

// A walk of a whole drive with /DEL! used to list the TRASH$$$ it had just
// made at the root and count the moved files again: 18 files found for 9.
// The trash of the drive being walked is never walked: neither found nor
// searched, and what an earlier run put there stays as it is.
TEST(Trash, DriveWalkLeavesItsOwnTrashOut) {
    const char *files[] = {"a.txt",   "b.txt",   "i.txt",   "X/c.txt", "X/d.txt",
                           "X/Y/e.txt", "Z/f.txt", "Z/g.txt", "Z/h.txt"};
    for (bool earlier : {false, true}) {
        SCOPED_TRACE(earlier ? "a trash from an earlier run" : "no trash yet");
        Sandbox box;
        for (const char *f : files)
            box.write('d', f, f);
        if (earlier)
            box.write('d', "TRASH$$$/old.txt", "old");
        RunResult r = box.run({"/DEL!", "/S", "/Y", "D:\\"});
        EXPECT_EQ(0, r.status) << r.out;
        EXPECT_EQ((Lines{READING, count(9, "File(s) found"), count(9, "File(s) moved to <TRASH$$$>"),
                         count(3, "Dir(s)  searched"), count(3, "Dir(s)  deleted")}),
                  outlines(r));
        Lines want;
        for (const char *f : files)
            want.push_back(std::string("TRASH$$$/") + f);
        if (earlier)
            want.push_back("TRASH$$$/old.txt");
        Lines got;
        for (const std::string &e : tree(box.native('d')))
            if (e.back() != '/')
                got.push_back(e);
        std::sort(want.begin(), want.end());
        EXPECT_EQ(want, got);
        for (const char *f : files)
            EXPECT_EQ(f, box.read('d', std::string("TRASH$$$/") + f));
    }
}

// A file goes to the trash of its own drive, never the current one.
TEST(Trash, OwnDrive) {
    Sandbox box;
    box.write('e', "W/F.TXT", "on E");
    RunResult r = box.run({"/DEL!", "E:\\W\\F.TXT"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ("on E", box.read('e', "TRASH$$$/F.TXT"));
    EXPECT_FALSE(box.exists('d', "TRASH$$$"));
}

// A plain file where the trash directory belongs: the move is refused, the
// file stays where it was, the refusal counts as a failure and the status
// says so. Neither the blocking file nor the source may be touched.
TEST(Trash, BlockedByAPlainFile) {
    Sandbox box;
    box.write('d', "TRASH$$$", "not a directory");
    box.write('d', "S/A.TXT", "a");
    box.write('d', "S/B.TXT", "b");
    RunResult r = box.run({"/DEL!", "D:\\S\\*.TXT"});
    EXPECT_EQ(1, r.status) << r.out;
    Lines out = outlines(r);
    ASSERT_EQ(6u, out.size()) << r.out;
    EXPECT_EQ(READING, out[0]);
    EXPECT_EQ("Error! can't mkdir D:\\TRASH$$$", out[1]);
    EXPECT_EQ(ABORT, out[2]);
    // out[3] is the found count: whether an aborted walk's files count is
    // not settled.
    EXPECT_EQ(count(0, "File(s) moved to <TRASH$$$>"), out[4]);
    EXPECT_EQ(count(1, "File(s) failed"), out[5]);
    EXPECT_EQ("not a directory", box.read('d', "TRASH$$$"));
    EXPECT_EQ((Lines{"A.TXT", "B.TXT"}), tree(box.native('d', "S")));
}

// A TRASH$$$ that is a link, or that holds one on the way to the file's
// place, led the files through it into the directory it points to, outside
// every drive; one that another user made and can write to put them in that
// user's reach. Anyone who can make an entry at the root of a shared drive
// decided where everyone's deleted files went. The move is refused, the
// file stays and counts as failed.
TEST(Trash, LinkedOrSharedTrashIsRefused) {
    SKIP_ON_WIN32("symbolic links and owners");
    struct Case {
        const char *name;
        std::vector<std::string> args;
        const char *link;  // made a link to the outside directory, or null
        bool shared;       // TRASH$$$ belongs to nobody, open to all
        const char *error; // the whole line
    } cases[] = {
        {"the trash is a link", {"/DEL!", "D:\\S\\A.TXT"}, "TRASH$$$", false,
         "Error! trash directory is a link: D:\\TRASH$$$"},
        {"a directory in it is a link", {"/S", "/DEL!", "D:\\S\\A.TXT"}, "TRASH$$$/S", false,
         "Error! trash directory is a link: D:\\TRASH$$$\\S"},
        {"made by another user", {"/DEL!", "D:\\S\\A.TXT"}, nullptr, true,
         "Error! trash directory is open to others: D:\\TRASH$$$"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox box;
        box.write('d', "S/A.TXT", "a");
        const std::string outside = box.root() + "/outside";
        ASSERT_EQ(0, ::mkdir(outside.c_str(), 0777));
        box.mkdir('d', "TRASH$$$");
        if (c.link != nullptr) {
            std::string at = box.native('d', c.link);
            ::rmdir(at.c_str());
            ASSERT_EQ(0, ::symlink(outside.c_str(), at.c_str()));
        }
        if (c.shared) {
            if (::geteuid() != 0)
                GTEST_SKIP() << "needs root to give a directory to another user";
            std::string at = box.native('d', "TRASH$$$");
            ASSERT_EQ(0, ::chown(at.c_str(), 65534, 65534));
            ASSERT_EQ(0, ::chmod(at.c_str(), 0777));
        }
        RunResult r = box.run(c.args);
        EXPECT_EQ(1, r.status) << r.out;
        Lines out = outlines(r);
        ASSERT_LE(2u, out.size()) << r.out;
        EXPECT_EQ(c.error, out[1]);
        EXPECT_EQ("a", box.read('d', "S/A.TXT"));
        EXPECT_EQ(Lines{}, tree(outside));
        if (c.shared) {
            EXPECT_EQ(Lines{}, tree(box.native('d', "TRASH$$$")));
        }
    }
}

// A read-only file on another file system used to stay out of the trash
// on the Win32 build (the copy was made, the source refused to go) and
// ended the walk there. It moves as any other and keeps its mark (root).
TEST(Trash, ReadOnlyFileFromAnotherFileSystem) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a tmpfs needs root";
    Sandbox box;
    box.mkdir('d', "MNT");
    TmpfsMount mnt(box.native('d', "MNT"), "1m");
    if (!mnt.ok())
        GTEST_SKIP() << "no tmpfs here";
    box.write('d', "MNT/R.TXT", "read-only");
    box.write('d', "MNT/S.TXT", "next");
    ASSERT_EQ(0, ::chmod(box.native('d', "MNT/R.TXT").c_str(), 0444));
    RunResult r = box.run({"/DEL!", "D:\\MNT\\*.TXT"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ(Lines{}, tree(box.native('d', "MNT"))) << r.out;
    EXPECT_EQ("read-only", box.read('d', "TRASH$$$/R.TXT"));
    EXPECT_EQ("next", box.read('d', "TRASH$$$/S.TXT"));
    struct stat st;
    ASSERT_EQ(0, ::stat(box.native('d', "TRASH$$$/R.TXT").c_str(), &st));
    EXPECT_EQ(0u, st.st_mode & 0222);
}

// Deleting with a *.* pattern asks first; only "y" goes on. Without a
// terminal nothing is deleted either, so a script cannot wipe a directory
// by accident; and the run fails, saying why, where it used to end with
// status 0 and let the script believe the files were gone.
TEST(Delete, AllFilesAsksFirst) {
    for (std::string mode : {"/DEL", "/DEL!", "/DEL+"}) {
        for (const char *key : {"y", "n", ""}) {
            Sandbox box;
            box.write('d', "S/A.TXT", "a");
            RunResult r;
            std::string k = key;
            if (k.empty()) {
                r = box.run({mode, "D:\\S\\*.*"});
                EXPECT_EQ(Lines{NOTERMINAL}, outlines(r)) << mode;
            } else {
                r = box.run_pty({mode, "D:\\S\\*.*"}, {{SURE, k}});
                ASSERT_FALSE(r.timed_out) << r.out;
                std::string asked = "Delete all Files : D:\\S\n" + std::string(SURE) +
                                    (k == "y" ? "Y\n" : "N\n");
                EXPECT_NE(std::string::npos, r.out.find(asked)) << mode << "\n" << r.out;
            }
            EXPECT_EQ(k.empty() ? 1 : 0, r.status) << mode << " " << key << "\n" << r.out;
            bool gone = k == "y";
            EXPECT_EQ(gone, !box.exists('d', "S/A.TXT")) << mode << " " << key;
            EXPECT_EQ(k == "n", r.out.find(BYE) != std::string::npos) << mode << " " << key;
        }
    }
}

// A whole drive root: /DEL asks a second time, and either "n" stops it;
// /DEL! and /DEL+ ask once.
TEST(Delete, DriveRootAsksTwiceForDelete) {
    struct Case {
        const char *mode;
        Lines keys;
        bool gone;
    } cases[] = {
        {"/DEL", {"y", "y"}, true},
        {"/DEL", {"y", "n"}, false},
        {"/DEL", {"n"}, false},
        {"/DEL!", {"y"}, true},
        {"/DEL+", {"y"}, true},
    };
    const std::string first = "Delete all Files : D:\\\n" + std::string(SURE);
    const std::string second = "Delete all Files in this Drive\n" + std::string(SURE);
    for (const Case &c : cases) {
        Sandbox box;
        box.write('d', "R.TXT", "at the root");
        std::string mode = c.mode;
        std::vector<PtyStep> steps{{first, c.keys[0]}};
        if (c.keys.size() > 1)
            steps.push_back({second, c.keys[1]});
        RunResult r = box.run_pty({mode, "D:\\*.*"}, steps);
        ASSERT_FALSE(r.timed_out) << mode << "\n" << r.out;
        EXPECT_EQ(0, r.status) << mode << "\n" << r.out;
        bool asked_twice = r.out.find(second) != std::string::npos;
        EXPECT_EQ(mode == "/DEL" && c.keys[0] == "y", asked_twice) << mode << "\n" << r.out;
        EXPECT_EQ(c.gone, !box.exists('d', "R.TXT")) << mode << "\n" << r.out;
        EXPECT_EQ(!c.gone, r.out.find(BYE) != std::string::npos) << mode << "\n" << r.out;
    }
}

} // namespace
