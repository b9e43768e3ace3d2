// Backups of overwritten files and appending: the old bytes must always be
// somewhere the user can find them.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine_util.h"
#include "harness.h"

using namespace e2e;

namespace {

using Lines = std::vector<std::string>;

// Each overwrite with /B keeps the previous version under the next free
// number.
TEST(Backup, NumberedSeries) {
    Sandbox box;
    box.write('e', "OUT/README.TXT", "v0");
    box.write('d', "B/README.TXT", "v1");
    RunResult r = box.run({"/B", "D:\\B\\README.TXT", "E:\\OUT"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ((Lines{READING, "D:\\B --> E:\\OUT", "  README.TXT", count(1, "File(s) found"),
                     count(1, "File(s) copied")}),
              outlines(r));
    box.write('d', "B/README.TXT", "v2");
    r = box.run({"/B", "D:\\B\\README.TXT", "E:\\OUT"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ((Lines{"README(000).TXT", "README(001).TXT", "README.TXT"}),
              tree(box.native('e', "OUT")));
    EXPECT_EQ("v0", box.read('e', "OUT/README(000).TXT"));
    EXPECT_EQ("v1", box.read('e', "OUT/README(001).TXT"));
    EXPECT_EQ("v2", box.read('e', "OUT/README.TXT"));
}

// /F numbers in place of the extension, one series per base name shared by
// every extension, and never copies such numbered files again.
TEST(Backup, ExtensionSeriesAndNumberedFilesSkipped) {
    Sandbox box;
    box.write('e', "OUT/README.TXT", "old txt");
    box.write('e', "OUT/README.DOC", "old doc");
    box.write('d', "F/README.TXT", "new txt");
    box.write('d', "F/README.DOC", "new doc");
    box.write('d', "F/report.003", "an old backup");
    box.write('d', "F/report.txt", "report");
    RunResult r = box.run({"/B", "/F", "D:\\F\\*.*", "E:\\OUT"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ((Lines{READING, "D:\\F --> E:\\OUT", "  README.DOC", "  README.TXT",
                     "skip!: report.003", "  report.txt", count(4, "File(s) found"),
                     count(3, "File(s) copied"), count(1, "File(s) skipped")}),
              outlines(r));
    EXPECT_EQ((Lines{"README.000", "README.001", "README.DOC", "README.TXT", "report.txt"}),
              tree(box.native('e', "OUT")));
    EXPECT_EQ("old doc", box.read('e', "OUT/README.000"));
    EXPECT_EQ("old txt", box.read('e', "OUT/README.001"));
    EXPECT_EQ("new txt", box.read('e', "OUT/README.TXT"));

    // Without /F a numbered name is an ordinary file.
    r = box.run({"/B", "D:\\F\\*.*", "E:\\PLAIN"});
    EXPECT_EQ(0, r.status);
    EXPECT_TRUE(box.exists('e', "PLAIN/report.003"));
}

// When no backup name is left the old file must not be overwritten: the
// user asked for the backup, so losing it is worse than not copying.
TEST(Backup, NoFreeNumberRefusesTheOverwrite) {
    Sandbox box;
    box.write('e', "OUT/README.TXT", "precious");
    char name[64];
    for (int i = 0; i < 1000; i++) {
        std::snprintf(name, sizeof name, "OUT/README(%03d).TXT", i);
        box.write('e', name, "");
    }
    box.write('d', "B/README.TXT", "new");
    RunResult r = box.run({"/B", "D:\\B\\README.TXT", "E:\\OUT"});
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_TRUE(has_line(r, "Error! number is out of range: 1000")) << r.out;
    EXPECT_TRUE(has_line(r, count(1, "File(s) failed"))) << r.out;
    EXPECT_EQ("precious", box.read('e', "OUT/README.TXT"));
}

// /I appends; with /B the old file is set aside first and the destination
// then holds the source alone.
TEST(Backup, AppendAndAppendWithBackup) {
    Sandbox box;
    box.write('d', "I/LOG.TXT", "def");
    box.write('d', "I/NEW.TXT", "new");
    set_mtime(box.native('d', "I/LOG.TXT"), T0);
    box.write('e', "OUT/LOG.TXT", "abc");
    RunResult r = box.run({"/I", "D:\\I\\*.TXT", "E:\\OUT"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ((Lines{READING, "D:\\I --> E:\\OUT", "  LOG.TXT", "  NEW.TXT",
                     count(2, "File(s) found"), count(2, "File(s) copied")}),
              outlines(r));
    EXPECT_EQ("abcdef", box.read('e', "OUT/LOG.TXT"));
    EXPECT_EQ("new", box.read('e', "OUT/NEW.TXT"));
    EXPECT_EQ(T0 / 2, mtime_of(box.native('e', "OUT/LOG.TXT")) / 2);

    box.write('e', "OUT2/LOG.TXT", "abc");
    r = box.run({"/I", "/B", "D:\\I\\LOG.TXT", "E:\\OUT2"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ((Lines{"LOG(000).TXT", "LOG.TXT"}), tree(box.native('e', "OUT2")));
    EXPECT_EQ("abc", box.read('e', "OUT2/LOG(000).TXT"));
    EXPECT_EQ("def", box.read('e', "OUT2/LOG.TXT"));
}

} // namespace
