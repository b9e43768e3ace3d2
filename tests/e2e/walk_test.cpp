// What a walk cannot do is reported once and fails the run, never skipped in
// silence: a destination directory too long to name, a directory that
// cannot be read, a name that no DOS path can spell.
#include <gtest/gtest.h>

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
    const std::string base = "D:\\" + std::string(240, 'x');
    const std::string sub = "sub" + std::string(20, 'y');
    for (std::string source : {"C:\\S", "C:\\S\\*.TXT"}) {
        Sandbox box;
        box.write('C', "S/a.txt", "a");
        box.write('C', "S/" + sub + "/c.txt", "c");
        box.write('C', "S/" + sub + "/d.txt", "d");
        box.write('C', "S/" + sub + "/deeper/e.txt", "e");
        box.write('C', "S/" + sub + "2/f.txt", "f");
        box.write('C', "S/zz/b.txt", "b");
        RunResult r = box.run({"/S", source, base});
        EXPECT_EQ(1, r.status) << source << "\n" << r.out;
        EXPECT_EQ((Lines{READING, "C:\\S --> " + base, "  a.txt",
                         "Error! path too long: " + base + "\\" + sub,
                         "Error! path too long: " + base + "\\" + sub + "2",
                         "C:\\S\\zz --> " + base + "\\zz", "  b.txt", count(4, "File(s) found"),
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
    const std::string base(236, 'x'); // D:\ + 236 + \P fits, + \P\sub... does not
    Sandbox box;
    box.write('C', "S/P/sub" + std::string(20, 'y') + "/c.txt", "c");
    box.write('C', "S/P/z.txt", "z");
    RunResult r = box.run({"/S", "C:\\S", "D:\\" + base});
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_EQ((Lines{"P/", "P/z.txt"}), tree(box.native('D', base)));
}

} // namespace
