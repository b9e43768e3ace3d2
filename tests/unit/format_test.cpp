#include "names/format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>

#include "base/pathstr.h"
#include "tree.h"

namespace {

class Format : public TreeTest {
protected:
    std::string msg; // what the last call printed

    void SetUp() override {
        TreeTest::SetUp();
        settoday();
        std::strcpy(todaystr, "20040215");
        mkdir("DIR");
    }

    // formatname on a copy of path; the result, or "-1" on failure.
    std::string run(const std::string &path, const std::string &format) {
        char in[PATH_SIZE], out[PATH_SIZE] = "junk";
        std::snprintf(in, sizeof in, "%s", path.c_str());
        Capture cap(1);
        int rc = formatname(out, in, format.c_str());
        msg = cap.text();
        if (rc != 0) {
            EXPECT_STREQ(out, "") << format;
            return "-1";
        }
        return out;
    }

    void files(const std::string &dir, const char *pattern, int from, int to) {
        for (int n = from; n < to; n++) {
            char name[64];
            std::snprintf(name, sizeof name, pattern, n);
            file(dir + "/" + name);
        }
    }
};

TEST(Today, IsLocalDate) {
    settoday();
    std::time_t t = std::time(nullptr);
    char want[16];
    std::strftime(want, sizeof want, "%Y%m%d", std::localtime(&t));
    EXPECT_STREQ(todaystr, want);
}

TEST_F(Format, Names) {
    struct Case {
        const char *path, *format, *name;
    } cases[] = {
        {"PROGRAM.EXE", "$4F$04N.$E", "PROG0000.EXE"},
        {"PROGRAM.EXE", "$04N$-4F.$E", "0000GRAM.EXE"},
        {"PROGRAM.EXE", "MY$4F.$03N", "MYPROG.000"},
        {"PROGRAM.EXE", "$F($N).$E", "PROGRAM(0).EXE"},
        {"PROGRAM.EXE", "$YY$M$D.$E", "20040215.EXE"},
        {"PROGRAM.EXE", "$Y$M$D_$F", "040215_PROGRAM"},
        {"PROGRAM.EXE", "$3,2F.$e", "OG.EXE"},
        {"PROGRAM.EXE", "$-4,2F", "GR"},
        {"PROGRAM.EXE", "$yY|$Yy|$YYY|$y", "2004|2004|2004Y|04"},
        {"PROGRAM.EXE", "$4YY$2M$-1,D$F", "20040215M"}, // the offset still reaches $F
        {"PROGRAM.EXE", "$4N|$0N", "-1"},                // only one counter
        {"PROGRAM.EXE", "$4N", "0"},
        {"PROGRAM.EXE", "$0N.$2E", "0.EX"},
        {"README", "$F.$E", "README."},
        {"README.", "$F$E", "README."},
        {"ARCHIVE.TAR.GZ", "$F|$E", "ARCHIVE.TAR|GZ"},
        // A "%" is only text: once it was handed to printf as the format.
        {"PROGRAM.EXE", "%s%n%d$N%%", "%s%n%d0%%"},
        {"PROGRAM.EXE", "100%$F", "100%PROGRAM"},
        // Offsets past either end keep to the base name.
        {"PROGRAM.EXE", "$9,3F.$E", ".EXE"},
        {"PROGRAM.EXE", "$-20F", "PROGRAM"},
        {"PROGRAM.EXE", "$-4F_$F", "GRAM_GRAM"},
        {"PROGRAM.EXE", "$3,F", "OGRAM"},
        // A later comma is literal text, not the end of $4's modifier.
        {"PROGRAM.EXE", "$4F,$E", "PROG,EXE"},
        // 0x95 0x5C is one character; a piece never ends or starts inside it.
        {"\x95\x5C" "ABC.TXT", "$1F_$3F_$-4F", "_\x95\x5C" "A_ABC"},
    };
    for (const Case &c : cases) {
        std::string want = c.name == std::string("-1") ? "-1" : std::string("C:\\DIR\\") + c.name;
        EXPECT_EQ(run(std::string("C:\\DIR\\") + c.path, c.format), want) << c.format;
    }
    // The template buffer may also receive the result.
    char buf[PATH_SIZE] = "C:\\DIR\\PROGRAM.EXE";
    EXPECT_EQ(formatname(buf, buf, "$-4F$N.$E"), 0);
    EXPECT_STREQ(buf, "C:\\DIR\\GRAM0.EXE");
}

// The probe must see every kind of entry, or a rename would hit an
// existing file or directory.
TEST_F(Format, CounterSkipsTakenNames) {
    file("DIR/PROG0000.EXE");
    file("DIR/prog0001.exe");
    mkdir("DIR/PROG0002.EXE");
    file("DIR/.0");
    file("DIR/PROG0003.EXE");
    ASSERT_EQ(plat_setattr("C:\\DIR\\PROG0003.EXE", 0x01 | 0x02 | 0x04), 0);
    EXPECT_EQ(run("C:\\DIR\\PROGRAM.EXE", "$4F$04N.$E"), "C:\\DIR\\PROG0004.EXE");
    EXPECT_EQ(run("C:\\DIR\\PROGRAM.EXE", ".$N"), "C:\\DIR\\.1");
    // Without a counter the name is not probed.
    EXPECT_EQ(run("C:\\DIR\\PROGRAM.EXE", "PROG0000.EXE"), "C:\\DIR\\PROG0000.EXE");
}

// The bound grows 10, 110, 1110 ..., not 10, 100, 1000; a padded value
// past its width takes the digits it needs.
TEST_F(Format, CounterBounds) {
    files("DIR", "%d", 0, 10);
    EXPECT_EQ(run("C:\\DIR\\A", "$1N"), "-1");
    EXPECT_EQ(msg, "Error! number is out of range: 10\n");

    files("DIR", "P%02d", 0, 100);
    EXPECT_EQ(run("C:\\DIR\\A", "P$02N"), "C:\\DIR\\P100");
    files("DIR", "P%d", 100, 110);
    EXPECT_EQ(run("C:\\DIR\\A", "P$02N"), "-1");
    EXPECT_EQ(msg, "Error! number is out of range: 110\n");

    files("DIR", "N%d", 0, 998);
    EXPECT_EQ(run("C:\\DIR\\A", "N$N"), "C:\\DIR\\N998");
    file("DIR/N998");
    EXPECT_EQ(run("C:\\DIR\\A", "N$0N"), "-1");
    EXPECT_EQ(msg, "Error! number is out of range: 999\n");
}

TEST_F(Format, Refusals) {
    struct Case {
        const char *path, *format, *message;
    } cases[] = {
        {"C:\\DIR\\PROGRAM.EXE", "$", "Error! unknown macro: <$>\n"},
        {"C:\\DIR\\PROGRAM.EXE", "A$X", "Error! unknown macro: <$X>\n"},
        {"C:\\DIR\\PROGRAM.EXE", "$4X", "Error! unknown macro: <$4X>\n"},
        {"C:\\DIR\\PROGRAM.EXE", "$00004N", "Error! unknown macro: <$00004>\n"},
        {"C:\\DIR\\PROGRAM.EXE", "$N_$04N", "Error! unknown macro: <$04N>\n"},
        {"C:\\DIR\\PROGRAM.EXE", "$F$4", ""},
        {"C:\\DIR\\PROGRAM.EXE", "$-4", ""},
        {"C:\\DIR\\PROGRAM.EXE", "$3,2", ""},
        {"C:\\DIR\\.PROFILE", "$F", ""},
        {"C:\\DIR\\", "$F", ""},
        {"PROGRAM.EXE", "$F", ""},
        // An empty name or ".." would point at a directory.
        {"C:\\DIR\\README", "$E", "Error! empty filename: C:\\DIR\\README\n"},
        {"C:\\DIR\\PROGRAM.EXE", "..", "Error! empty filename: C:\\DIR\\PROGRAM.EXE\n"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(run(c.path, c.format), "-1") << c.format;
        EXPECT_EQ(msg, c.message) << c.format;
    }
}

// Too long names are refused, never cut: a cut name could be another
// file's. The counter's digits count as well as its width.
TEST_F(Format, TooLong) {
    std::string dir = "C:\\" + std::string(245, 'D'); // a directory part of 249
    EXPECT_EQ(run(dir + "\\PROGRAM.EXE", "MY$4F.$03N%s"), "-1");
    EXPECT_EQ(msg, "Error! length of filename is too long: MYPROG.%03ld%s\n");
    EXPECT_EQ(run("C:\\DIR\\A", std::string(256, 'x') + "$F"), "-1");

    // Room for exactly one digit: 0 to 9 fit, 10 does not.
    std::string deep(200, 'D'), tail(48, 'x');
    mkdir(deep);
    files(deep, ("PROGRAM%d" + tail).c_str(), 0, 10);
    EXPECT_EQ(run("C:\\" + deep + "\\PROGRAM.EXE", "$F$N" + tail), "-1");
    EXPECT_EQ(msg, "Error! length of filename is too long: PROGRAM%ld" + tail + "\n");
}

} // namespace
