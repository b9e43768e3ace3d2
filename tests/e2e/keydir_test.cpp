// Key directories (/S+, /G+): the last directory of the source base is
// reproduced below the destination unless the destination already is it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_util.h"
#include "harness.h"

using namespace e2e;

namespace {

using Lines = std::vector<std::string>;

void make_proj(const Sandbox &box) {
    box.write('d', "DATA/PROJ/A.TXT", "a");
    box.write('d', "DATA/PROJ/SUB/B.TXT", "b");
}

// Where the files of D:\DATA\PROJ land for each destination spelling. The
// match is on the whole last component, in any letter case: PROJECT is a
// different directory, and a lower-case proj is used as the user spelled it.
TEST(KeyDir, StructureAppendsTheKeyUnlessPresent) {
    struct Case {
        const char *dst;      // as typed
        const char *premade;  // directory made on E: before the run, or ""
        const char *shown;    // destination in the announcement lines
        const char *native;   // where the files land, relative to E:
    } cases[] = {
        {"E:\\BACKUP", "", "E:\\BACKUP\\PROJ", "BACKUP/PROJ"},
        {"E:\\BACKUP", "BACKUP", "E:\\BACKUP\\PROJ", "BACKUP/PROJ"},
        {"E:\\BACKUP\\PROJ", "", "E:\\BACKUP\\PROJ", "BACKUP/PROJ"},
        {"E:\\BACKUP\\proj", "BACKUP/proj", "E:\\BACKUP\\proj", "BACKUP/proj"},
        {"E:\\", "", "E:\\PROJ", "PROJ"},
        {"E:\\BACKUP\\PROJECT", "", "E:\\BACKUP\\PROJECT\\PROJ", "BACKUP/PROJECT/PROJ"},
        {"E:\\PROJ\\SUB", "", "E:\\PROJ\\SUB\\PROJ", "PROJ/SUB/PROJ"},
    };
    for (const Case &c : cases) {
        Sandbox box;
        make_proj(box);
        if (*c.premade)
            box.mkdir('e', c.premade);
        RunResult r = box.run({"/S+", "D:\\DATA\\PROJ", c.dst});
        EXPECT_EQ(0, r.status) << c.dst << "\n" << r.out;
        std::string shown = c.shown;
        EXPECT_EQ((Lines{READING, "D:\\DATA\\PROJ --> " + shown, "  A.TXT",
                         "D:\\DATA\\PROJ\\SUB --> " + shown + "\\SUB", "  B.TXT",
                         count(2, "File(s) found"), count(2, "File(s) copied"),
                         count(1, "Dir(s)  searched")}),
                  outlines(r))
            << c.dst;
        EXPECT_EQ((Lines{"A.TXT", "SUB/", "SUB/B.TXT"}), tree(box.native('e', c.native))) << c.dst;
    }
}

// /G+ gathers the tree into the key directory; a drive root destination gets
// the key as its first level.
TEST(KeyDir, GatherAppendsTheKey) {
    for (const char *dst : {"E:\\BACKUP", "E:\\"}) {
        Sandbox box;
        make_proj(box);
        RunResult r = box.run({"/G+", "D:\\DATA\\PROJ", dst});
        EXPECT_EQ(0, r.status) << r.out;
        std::string base = std::string(dst) == "E:\\" ? "E:\\PROJ" : "E:\\BACKUP\\PROJ";
        EXPECT_EQ((Lines{READING, "D:\\DATA\\PROJ --> " + base, "  A.TXT",
                         "D:\\DATA\\PROJ\\SUB --> " + base, "  B.TXT", count(2, "File(s) found"),
                         count(2, "File(s) copied"), count(1, "Dir(s)  searched")}),
                  outlines(r))
            << dst;
        std::string rel = std::string(dst) == "E:\\" ? "PROJ" : "BACKUP/PROJ";
        EXPECT_EQ((Lines{"A.TXT", "B.TXT"}), tree(box.native('e', rel))) << dst;
    }
}

// Echo mode shows the extended destination but must not create it, nor the
// destination it extends.
TEST(KeyDir, EchoAppendsButCreatesNothing) {
    Sandbox box;
    make_proj(box);
    RunResult r = box.run({"/E", "/S+", "D:\\DATA\\PROJ", "E:\\BACKUP"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ((Lines{"This is TEST Mode", READING, "D:\\DATA\\PROJ --> E:\\BACKUP\\PROJ",
                     "  A.TXT", "D:\\DATA\\PROJ\\SUB --> E:\\BACKUP\\PROJ\\SUB", "  B.TXT",
                     count(2, "File(s) found"), count(2, "File(s) copied"),
                     count(1, "Dir(s)  searched")}),
              outlines(r));
    EXPECT_EQ(Lines{}, tree(box.native('e')));
}

// A drive root source has no key directory: the destination stays as typed.
// (The root's own files are announced against the destination with a
// trailing separator: the structure walk sees the root as "D:", unlike the
// base with its separator, and joins an empty relative part.)
TEST(KeyDir, RootSourceHasNoKey) {
    Sandbox box;
    box.write('d', "ROOT.TXT", "r");
    RunResult r = box.run({"/S+", "D:\\*.TXT", "E:\\BACKUP"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ((Lines{READING, "D:\\ --> E:\\BACKUP\\", "  ROOT.TXT", count(1, "File(s) found"),
                     count(1, "File(s) copied"), count(0, "Dir(s)  searched")}),
              outlines(r));
    EXPECT_EQ((Lines{"ROOT.TXT"}), tree(box.native('e', "BACKUP")));
}

} // namespace
