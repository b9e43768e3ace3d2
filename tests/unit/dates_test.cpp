#include "sys/dates.h"

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

const int kBad = -1;

TEST(Dates, ParseDateForms) {
    struct Case {
        const char *text;
        int start; // word for end flag 0, or kBad
        int end;   // word for end flag 1, or kBad
    } cases[] = {
        {"20040101", 0x3021, 0x3021},
        {"19800101", 0x0021, 0x0021},
        {"200402", (int)dosdate(2004, 2, 1), (int)dosdate(2004, 2, 29)},
        {"210002", (int)dosdate(2100, 2, 1), (int)dosdate(2100, 2, 28)},
        {"200002", (int)dosdate(2000, 2, 1), (int)dosdate(2000, 2, 29)},
        {"200400", (int)dosdate(2004, 0, 1), (int)dosdate(2004, 0, 0)},
        {"20040231", (int)dosdate(2004, 2, 31), (int)dosdate(2004, 2, 31)},
        {"19800000", 0, 0},
        // The year field holds 7 bits: 2107 is the last year it can hold,
        // and 2108 must be refused rather than wrap to 1980.
        {"21071231", (int)dosdate(2107, 12, 31), (int)dosdate(2107, 12, 31)},
        {"21080101", kBad, kBad},
        {"210801", kBad, kBad},
        {"190002", kBad, kBad},
        {"197912", kBad, kBad},
        {"200413", kBad, kBad},
        {"20041301", kBad, kBad},
        {"20040132", kBad, kBad},
        {"1301", kBad, kBad},
        {"20041", kBad, kBad},
        {"2004010", kBad, kBad},
        {"200401011", kBad, kBad},
        // Only exact digit fields: a sign or a space must not pass as a
        // shorter number.
        {"2004+1", kBad, kBad},
        {"2004 1", kBad, kBad},
        {"2004-101", kBad, kBad},
    };
    for (const auto &c : cases) {
        int got = 7;
        EXPECT_EQ(parsedate(c.text, &got, 0), c.start == kBad ? -1 : 0) << c.text;
        EXPECT_EQ(got, c.start) << c.text << " start";
        got = 7;
        EXPECT_EQ(parsedate(c.text, &got, 1), c.end == kBad ? -1 : 0) << c.text;
        EXPECT_EQ(got, c.end) << c.text << " end";
    }
}

TEST(Dates, MonthDayUsesCurrentYear) {
    PlatTime now;
    plat_localtime(&now);
    int got = 0;
    ASSERT_EQ(parsedate("1231", &got, 0), 0);
    EXPECT_EQ(got, (int)dosdate(now.year, 12, 31));
    ASSERT_EQ(parsedate("1231", &got, 1), 0);
    EXPECT_EQ(got, (int)dosdate(now.year, 12, 31));
}

TEST(Dates, DateLater) {
    EXPECT_EQ(datelater(0x3021, 0x6000, 0x3021, 0x5FFF), 1);
    EXPECT_EQ(datelater(0x3021, 0x5FFF, 0x3021, 0x6000), 0);
    EXPECT_EQ(datelater(0x3021, 0x6000, 0x3021, 0x6000), 0);
    // A later date wins whatever the times; 0xFF9F (2107-12-31) is late,
    // not negative.
    EXPECT_EQ(datelater(0x3022, 0x0000, 0x3021, 0xBF7D), 1);
    EXPECT_EQ(datelater(0xFF9F, 0x0000, 0x3021, 0xBF7D), 1);
}

// Guards /U copying again, on every run, a file of a year no date word
// holds onto a file system that keeps whole seconds (its copy lost the
// fraction), while still seeing a genuinely newer source.
TEST(Dates, SourceNewerOutsideDateWords) {
    struct Case {
        PlatFileTime src, dst;
        int newer;
    } cases[] = {
        {{4418064000LL, 500000000}, {4418064000LL, 0}, 0},         // 2110, fraction cut
        {{4418064000LL, 500000000}, {4418064000LL, 400000000}, 1}, // fractions kept
        {{4418064001LL, 0}, {4418064000LL, 0}, 1},                 // a second later
        {{-86400LL, 900000000}, {-86400LL, 0}, 0},                 // 1969, fraction cut
    };
    for (const Case &c : cases)
        EXPECT_EQ(sourcenewer(&c.src, 0, 0, &c.dst, 0, 0), c.newer) << c.src.sec << "." << c.src.nsec;
}

} // namespace
