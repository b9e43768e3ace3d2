#include "base/pathstr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// 0x95 0x5C is one double-byte character whose second byte is the
// separator's value.
const char kTrail5C[] = "C:\\DIR\\\x95\x5C";

TEST(PathStr, MbtypeClassifiesBytes) {
    struct Case {
        const char *s;
        int i;
        int want;
    } cases[] = {
        {"\x41\x81\x40", 0, 0},
        {"\x41\x81\x40", 1, 1},
        {"\x41\x81\x40", 2, 2},
        {"\x41\x81\x40", 3, -1},
        {"\x41\x81\x40", -1, -1},
        {"", 0, -1},
        {"\xB1\x5C", 0, 0}, // half-width katakana stands alone
        {"\xB1\x5C", 1, 0},
        {"\x81\x81\x5C", 1, 2}, // a trail byte in the lead range
        {"\x81\x81\x5C", 2, 0},
        {"\x81\x30\x81", 1, 0}, // not a trail byte: the pair is broken
        {"\x81\x30\x81", 2, 1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(mbtype(c.s, c.i), c.want) << "index " << c.i;
}

// A character is never taken apart: an escape pair is one character of
// four bytes and one column, a broken pair or a lone lead byte reads no
// further than its terminator.
TEST(PathStr, CharacterLengthAndWidth) {
    struct Case {
        const char *s;
        int len, width;
    } cases[] = {
        {"\xF0\x80\xF1\xFC", 4, 1}, {"\xF9\xFC\xF0\x80x", 4, 1},
        {"\xF0\x80\xF1\x41", 2, 2}, // the second half is no user-defined character
        {"\xF0\x80\xF1", 2, 2},      {"\x95\x5C", 2, 2},
        {"\xB1", 1, 1},                {"\x81", 1, 1},
        {"\x81\x30", 1, 1},           {"a", 1, 1},
        {"", 0, 0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(mbcharlen(c.s), c.len) << c.s;
        EXPECT_EQ(mbcharwidth(c.s), c.width) << c.s;
    }
}

// The forward passes must agree with the position-by-position definition;
// a pass that loses the byte state finds separators inside characters.
TEST(PathStr, SearchesAgreeWithMbtype) {
    const char *texts[] = {
        kTrail5C, "\\\x95\x5C\\", "\x81\x81\x5C\\", "\x81\x30\\\x81",
        "\xB1\\\xB1\\", "\xE0\x5C\xFC\x5C\\x", "\\", "abc",
    };
    for (const char *s : texts) {
        int len = (int)std::strlen(s);
        int first = -1, last = -1;
        for (int i = 0; i < len; i++) {
            if (s[i] == '\\' && mbtype(s, i) == 0) {
                if (first < 0)
                    first = i;
                last = i;
            }
        }
        const char *f = mbstrchr(s, '\\');
        const char *l = mbstrrchr(s, '\\');
        EXPECT_EQ(f ? (int)(f - s) : -1, first) << s;
        EXPECT_EQ(l ? (int)(l - s) : -1, last) << s;

        char buf[PATH_SIZE];
        std::strcpy(buf, s);
        bool sep = last == len - 1 && len > 0;
        EXPECT_EQ(delbackslash(buf), sep ? len - 1 : len) << s;
        std::strcpy(buf, s);
        EXPECT_EQ(addbackslash(buf), sep ? len : len + 1) << s;
    }
}

TEST(PathStr, TrailByte5CIsNotASeparator) {
    char buf[PATH_SIZE];
    std::strcpy(buf, kTrail5C);
    EXPECT_EQ(delbackslash(buf), 9);
    EXPECT_STREQ(buf, kTrail5C);
    EXPECT_EQ(addbackslash(buf), 10);
    EXPECT_STREQ(buf, "C:\\DIR\\\x95\x5C\\");
    EXPECT_EQ(mbstrrchr(kTrail5C, '\\'), kTrail5C + 6);
    EXPECT_EQ(mbstrchr("\x95\x5C", '\\'), nullptr);
    EXPECT_EQ(mbstrchr("", '\\'), nullptr);
    EXPECT_EQ(mbstrrchr("", '\\'), nullptr);
    const char *kana = "\xB1.x";
    EXPECT_EQ(mbstrchr(kana, 0xB1), kana);
}

TEST(PathStr, AddAndDeleteBackslash) {
    struct Case {
        const char *in;
        bool add;
        int ret;
        const char *out;
    } cases[] = {
        {"C:\\DIR\\", true, 7, "C:\\DIR\\"},
        {"C:\\DIR", true, 7, "C:\\DIR\\"},
        {"", true, 1, "\\"},
        {"C:\\", false, 2, "C:"},
        {"C:\\DIR\\\\", false, 7, "C:\\DIR\\"},
        {"C:\\DIR", false, 6, "C:\\DIR"},
        {"", false, 0, ""},
    };
    for (const Case &c : cases) {
        char buf[PATH_SIZE];
        std::strcpy(buf, c.in);
        EXPECT_EQ(c.add ? addbackslash(buf) : delbackslash(buf), c.ret) << c.in;
        EXPECT_STREQ(buf, c.out);
    }
}

// A full-length path in a path buffer has no room for the separator and
// its terminator: appending would write past the buffer.
TEST(PathStr, AddBackslashRefusesFullPath) {
    char buf[PATH_SIZE];
    std::string full(MAX_PATHLEN, 'a');
    std::strcpy(buf, full.c_str());
    EXPECT_EQ(addbackslash(buf), -1);
    EXPECT_EQ(full, buf);
    buf[MAX_PATHLEN - 1] = 0;
    EXPECT_EQ(addbackslash(buf), MAX_PATHLEN);
}

TEST(PathStr, CaseChangeStepsOverDoubleByte) {
    char up[] = "abc\x82\x61\xB1z";
    EXPECT_EQ(mbstrupr(up), up);
    EXPECT_STREQ(up, "ABC\x82\x61\xB1Z");
    char low[] = "ABC\x83\x41Z";
    mbstrlwr(low);
    EXPECT_STREQ(low, "abc\x83\x41z");
    // A lead byte at the end must not carry the skip past the terminator.
    char tail[] = "a\x81";
    mbstrupr(tail);
    EXPECT_STREQ(tail, "A\x81");
}

TEST(PathStr, RootsAndWildcards) {
    EXPECT_EQ(isroot("d:\\"), 1);
    EXPECT_EQ(isroot("D:"), 0);
    EXPECT_EQ(isroot("C:\\DIR"), 0);
    EXPECT_EQ(isroot("1:\\"), 0);
    EXPECT_EQ(isroot(""), 0);
    EXPECT_EQ(iswild("*.TXT"), 1);
    EXPECT_EQ(iswild("A.TXT"), 0);
}

TEST(PathStr, SamePath) {
    struct Case {
        const char *a, *b;
        int want;
    } cases[] = {
        {"C:\\DATA\\", "c:\\data", 1},
        {"C:\\DATA", "C:\\DATA2", 0},
        {"C:\\", "c:", 1},
        {"C:\\DATA\\\\", "C:\\DATA", 0},
        // 0x83 0x41 and 0x83 0x61 are different characters.
        {"C:\\\x83\x41", "C:\\\x83\x61", 0},
        // The trail byte 0x5C is part of the name, not a final separator.
        {"C:\\\x95\x5C\\", "C:\\\x95\x5C", 1},
        {"C:\\\x95\x5C", "C:\\\x95", 0},
        // 0x83 0x9D is no character, yet one double-byte unit: the "j" after
        // it is a letter, and case-changed copies of the path are the same
        // path (the comparison used to read 0x9D "j" as a character).
        {"C:\\\x83\x9Dj", "C:\\\x83\x9DJ", 1},
        {"C:\\\x83\x9D\x9D\x61", "C:\\\x83\x9D\x9D\x41", 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(samepath(c.a, c.b), c.want) << c.a << " / " << c.b;
}

TEST(PathStr, OverlappingCopies) {
    char buf[32] = "abcdef";
    strcopy(buf + 2, buf);
    EXPECT_STREQ(buf, "ababcdef");
    std::strcpy(buf, "ab");
    strappend(buf, buf);
    EXPECT_STREQ(buf, "abab");
    // A source shorter than the count is copied whole, not read past.
    strcopyn(buf, "xy", 10);
    EXPECT_STREQ(buf, "xy");
}

// A 261-character path must never land in a 261-byte buffer, and a refused
// copy must not leave a half-written path behind.
TEST(PathStr, BoundedCopyAndAppend) {
    char buf[PATH_SIZE] = "C:\\KEEP";
    std::string longest(MAX_PATHLEN, 'a');
    std::string over(MAX_PATHLEN + 1, 'a');
    EXPECT_EQ(pathcopy(buf, sizeof buf, over.c_str()), -1);
    EXPECT_STREQ(buf, "C:\\KEEP");
    EXPECT_EQ(pathcopy(buf, sizeof buf, longest.c_str()), 0);
    EXPECT_EQ(longest, buf);

    std::strcpy(buf, "C:\\");
    std::string rest(MAX_PATHLEN - 3, 'b');
    EXPECT_EQ(pathappend(buf, sizeof buf, (rest + "b").c_str()), -1);
    EXPECT_STREQ(buf, "C:\\");
    EXPECT_EQ(pathappend(buf, sizeof buf, rest.c_str()), 0);
    EXPECT_EQ(std::strlen(buf), (size_t)MAX_PATHLEN);
    EXPECT_EQ(pathappend(buf, sizeof buf, ""), 0);
    EXPECT_EQ(pathcopy(buf, 0, ""), -1);
}

} // namespace
