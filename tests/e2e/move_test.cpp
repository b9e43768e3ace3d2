// Moving files and removing the directories a move has emptied.
#include <gtest/gtest.h>

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

} // namespace
