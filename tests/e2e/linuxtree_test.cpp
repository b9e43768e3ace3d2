// Where the DOS model meets a real Linux tree: native absolute paths in a
// list, a destination inside the source, links named as the source of a
// delete or a move, and the permissions of an overwritten file.
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

unsigned mode_of(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// A list line /x/y (what find prints) used to be read as \x\y on the
// current drive: below the working directory it named a file the user
// never listed, and /DEL deleted it; a path on no drive found nothing and
// the run ended with status 0.
TEST(LinuxTree, NativeListLinesAreMappedNotReRooted) {
    SKIP_ON_WIN32("native absolute paths");
    Sandbox box;
    box.write('D', "SRC/A.TXT", "listed");
    const std::string native = box.native('D', "SRC/A.TXT");
    // Where the line used to lead: the same text below drive D.
    box.write('D', native.substr(1), "decoy");
    box.write('D', "LIST.TXT", native + "\n/nowhere/b.txt\n");
    RunResult r = box.run({"/DEL", "@D:\\LIST.TXT"});
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_TRUE(has_line(r, "Error! path is on no drive: /nowhere/b.txt")) << r.out;
    EXPECT_FALSE(box.exists('D', "SRC/A.TXT")) << r.out;
    EXPECT_EQ("decoy", box.read('D', native.substr(1)));
}

// Copying C:\A into C:\A\SUB used to copy A's files into SUB, then walk
// SUB and copy it again into SUB\SUB when SUB was A's last entry: the walk
// had already taken SUB for its current directory and never saw it enter
// the destination. Reached through a link to A, the same.
TEST(LinuxTree, CopyIntoItsOwnSubdirectoryCopiesOnce) {
    for (bool link : {false, true}) {
        if (link && suite_build().win32)
            continue; // a symbolic link to a directory
        Sandbox box;
        box.write('D', "A/a.txt", "a");
        const char *from = "D:\\A";
        if (link) {
            ASSERT_EQ(0, ::symlink(box.native('D', "A").c_str(), box.native('D', "L").c_str()));
            from = "D:\\L";
        }
        RunResult r = box.run({"/S", from, "D:\\A\\SUB"});
        EXPECT_EQ(0, r.status) << r.out;
        EXPECT_TRUE(has_line(r, "skip!: <" + std::string(from) + "\\SUB>")) << r.out;
        EXPECT_EQ((Lines{"SUB/", "SUB/a.txt", "a.txt"}), tree(box.native('D', "A"))) << link;
    }
}

// A link to a directory named as the source of /DEL, /DEL!, /DEL+ or /M
// used to be followed: the files of the directory it points to were
// deleted or moved. Copying through it still reads that directory.
TEST(LinuxTree, LinkNamedForDeleteOrMoveIsRefused) {
    SKIP_ON_WIN32("a symbolic link to a directory");
    const Lines cases[] = {
        {"/DEL", "/Y", "D:\\A\\dlink"},         {"/DEL!", "/Y", "D:\\A\\dlink"},
        {"/DEL+", "/Y", "D:\\A\\dlink"},        {"/M", "/S", "D:\\A\\dlink", "D:\\X"},
        {"/DEL", "@D:\\LIST.TXT"},
    };
    for (const Lines &args : cases) {
        Sandbox box;
        box.write('E', "OUT/keep.txt", "keep");
        box.mkdir('D', "A");
        ASSERT_EQ(0, ::symlink(box.native('E', "OUT").c_str(), box.native('D', "A/dlink").c_str()));
        box.write('D', "LIST.TXT", "D:\\A\\dlink\n");
        RunResult r = box.run(args);
        EXPECT_EQ(1, r.status) << args[0] << "\n" << r.out;
        EXPECT_TRUE(has_line(r, "Error! source is a link: D:\\A\\dlink")) << args[0] << "\n" << r.out;
        EXPECT_EQ("keep", box.read('E', "OUT/keep.txt")) << args[0];
    }
    Sandbox box;
    box.write('E', "OUT/keep.txt", "keep");
    box.mkdir('D', "A");
    ASSERT_EQ(0, ::symlink(box.native('E', "OUT").c_str(), box.native('D', "A/dlink").c_str()));
    RunResult r = box.run({"/S", "D:\\A\\dlink", "D:\\C"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ("keep", box.read('D', "C/keep.txt"));
}

// A 0600 source copied over a 0644 file used to leave the result 0644: the
// secret became readable by everyone. The replaced file keeps its mode,
// less what the source denies group and others.
TEST(LinuxTree, OverwriteIsNeverMoreOpenThanItsSource) {
    SKIP_ON_WIN32("Unix permission bits");
    struct Case {
        unsigned src, old, want;
    } cases[] = {{0600, 0644, 0600}, {0640, 0664, 0640}, {0644, 0600, 0600}, {0755, 0750, 0750}};
    for (const Case &k : cases) {
        Sandbox box;
        box.write('D', "S/f.txt", "new");
        box.write('E', "O/f.txt", "old");
        ASSERT_EQ(0, ::chmod(box.native('D', "S/f.txt").c_str(), k.src));
        ASSERT_EQ(0, ::chmod(box.native('E', "O/f.txt").c_str(), k.old));
        RunResult r = box.run({"D:\\S\\f.txt", "E:\\O"});
        EXPECT_EQ(0, r.status) << r.out;
        EXPECT_EQ("new", box.read('E', "O/f.txt"));
        EXPECT_EQ(k.want, mode_of(box.native('E', "O/f.txt"))) << std::oct << k.src << " " << k.old;
    }
}

} // namespace
