#include "platform/platform.h"
#include "platform/posix/encoding.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

class Encoding : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(enc_init("UTF-8"), 0); }
    void TearDown() override { enc_done(); }
};

std::string to_core(const std::string &ext) {
    char buf[4096];
    int n = enc_to_core(ext.data(), ext.size(), buf, sizeof buf);
    EXPECT_GE(n, 0) << "for " << ext;
    return n < 0 ? std::string("<fail>") : std::string(buf, (size_t)n);
}

std::string from_core(const std::string &core, int flags = 0) {
    char buf[4096];
    int n = enc_from_core(core.data(), core.size(), buf, sizeof buf, flags);
    return n < 0 ? std::string("<fail>") : std::string(buf, (size_t)n);
}

std::string utf8(uint32_t cp) {
    std::string s;
    if (cp < 0x80) {
        s += (char)cp;
    } else if (cp < 0x800) {
        s += (char)(0xC0 | cp >> 6);
        s += (char)(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += (char)(0xE0 | cp >> 12);
        s += (char)(0x80 | (cp >> 6 & 0x3F));
        s += (char)(0x80 | (cp & 0x3F));
    } else {
        s += (char)(0xF0 | cp >> 18);
        s += (char)(0x80 | (cp >> 12 & 0x3F));
        s += (char)(0x80 | (cp >> 6 & 0x3F));
        s += (char)(0x80 | (cp & 0x3F));
    }
    return s;
}

// The core splits paths on 0x5C and changes ASCII case: an escape holding
// one of those bytes would be cut or altered there.
::testing::AssertionResult is_escape(const std::string &core) {
    if (core.size() != 4)
        return ::testing::AssertionFailure() << "length " << core.size();
    for (size_t i = 0; i < 4; i++) {
        unsigned b = (unsigned char)core[i];
        bool ok = i % 2 == 0 ? (b >= 0xF0 && b <= 0xF9) : (b >= 0x80 && b <= 0xFC);
        if (!ok)
            return ::testing::AssertionFailure() << "byte " << i << " is " << b;
    }
    return ::testing::AssertionSuccess();
}

TEST_F(Encoding, CharactersCodePage932HoldsConvertBothWays) {
    struct Case {
        const char *ext, *core;
    } cases[] = {
        {"C:\\Dir\\a~b.TXT", "C:\\Dir\\a~b.TXT"},
        {"表", "\x95\x5C"},
        {"ソ", "\x83\x5C"},
        {"ｱ", "\xB1"},
        {"起動時", "\x8B\x4E\x93\xAE\x8E\x9E"},
        {"β", "\x83\xC0"},
        // Characters with several codes get the one Windows writes.
        {"≒", "\x81\xE0"},
        {"￢", "\x81\xCA"},
        {"∵", "\x81\xE6"},
        {"Ⅰ", "\x87\x54"},
        {"ⅰ", "\xFA\x40"},
        {"纊", "\xFA\x5C"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(to_core(c.ext), c.core) << c.ext;
        EXPECT_EQ(from_core(c.core), c.ext) << c.ext;
    }
    // The other codes of those characters still read as them.
    EXPECT_EQ(from_core("\xED\x40"), "纊");
    EXPECT_EQ(from_core("\x87\x90"), "≒");
    EXPECT_EQ(from_core("\xEE\xF9"), "￢");
}

// A character with no code of its own must not become a look-alike: the
// C library writes U+00A5 as 0x5C, which would turn "a¥b" into two path
// components, and U+301C as the code that reads back as U+FF5E.
TEST_F(Encoding, CharactersWithoutCodeTravelAsEscapes) {
    const char *texts[] = {"é", "😀", "\xEE\x80\x80" /* U+E000 */,
                           "¥", "〜", "\xEF\xA3\xBF" /* U+F8FF */};
    for (const char *t : texts) {
        std::string core = to_core(t);
        EXPECT_TRUE(is_escape(core)) << t;
        EXPECT_EQ(from_core(core), t);
    }
    EXPECT_EQ(from_core(to_core("a¥b\\é.txt")), "a¥b\\é.txt");
    EXPECT_NE(to_core("é"), to_core("è"));
}

TEST_F(Encoding, EveryCodePointRoundTrips) {
    int escaped = 0;
    for (uint32_t cp = 1; cp < 0x110000; cp++) {
        if (cp >= 0xD800 && cp <= 0xDFFF)
            continue;
        std::string ext = utf8(cp);
        std::string core = to_core(ext);
        if (core.size() == 4) {
            ASSERT_TRUE(is_escape(core)) << std::hex << cp;
            escaped++;
        } else {
            ASSERT_LE(core.size(), 2u) << std::hex << cp;
        }
        ASSERT_EQ(from_core(core), ext) << std::hex << cp;
    }
    EXPECT_GT(escaped, 1000000);
}

// Whatever a code decodes to can be written again without an escape (the
// user-defined area aside, whose characters are private use).
TEST_F(Encoding, EveryCodeDecodesToAWritableCharacter) {
    int codes = 0;
    for (unsigned code = 0x8140; code <= 0xFCFC; code++) {
        if (code >> 8 >= 0xF0 && code >> 8 <= 0xF9)
            continue;
        std::string core = {(char)(code >> 8), (char)code};
        std::string ext = from_core(core);
        if (ext == "<fail>")
            continue;
        codes++;
        std::string again = to_core(ext);
        ASSERT_LE(again.size(), 2u) << std::hex << code;
        ASSERT_EQ(from_core(again), ext) << std::hex << code;
    }
    EXPECT_GT(codes, 7000);
}

TEST_F(Encoding, InvalidBytesTravelOneByOne) {
    struct Case {
        const char *ext;
        size_t escapes, plain;
    } cases[] = {
        {"\xFF", 1, 0},
        {"a\xC3", 1, 1},
        {"\xC3(", 1, 1},
        {"\xC0\xAF", 2, 0},         // overlong "/"
        {"\xED\xA0\x80", 3, 0},     // a surrogate
        {"x\xF0\x9F\x98", 3, 1},    // four-byte character cut at the end
        {"\xF4\x90\x80\x80", 4, 0}, // above U+10FFFF
    };
    for (const Case &c : cases) {
        std::string core = to_core(c.ext);
        EXPECT_EQ(core.size(), 4 * c.escapes + c.plain) << c.ext;
        EXPECT_EQ(core.find('/'), std::string::npos);
        EXPECT_EQ(from_core(core), c.ext);
    }
    for (unsigned b = 0x80; b < 0x100; b++) {
        std::string ext(1, (char)b);
        std::string core = to_core(ext);
        EXPECT_TRUE(is_escape(core)) << b;
        EXPECT_EQ(from_core(core), ext) << b;
    }
}

// A name cut and joined inside the core can put halves of two escapes
// together. Such a pair would read as "/" or NUL and turn a name into a
// path or cut it short; it must print as the two characters it is.
TEST_F(Encoding, PairsToCoreNeverWritesAreNotEscapes) {
    EXPECT_EQ(from_core("\xF0\x80\xF0\xAF"), "\xEE\x80\xBF\xEE\x81\xAE"); // would be "/"
    EXPECT_EQ(from_core("\xF0\x80\xF0\xC1"), "\xEE\x80\xBF\xEE\x82\x80"); // would be "A"
    std::string nul = from_core("\xF7\x90\xF2\xF0");                      // would be raw 0x00
    EXPECT_EQ(nul.size(), 6u);
    EXPECT_EQ(nul.find('\0'), std::string::npos);
    // Half a pair, as a cut string leaves it, prints as its own character.
    EXPECT_EQ(from_core("a\xF0\x80"), "a\xEE\x80\xBF");
    EXPECT_EQ(from_core("\xF0\x40"), "\xEE\x80\x80");
}

TEST_F(Encoding, TextThatIsNotCodePage932) {
    struct Case {
        const char *core, *lenient;
    } cases[] = {
        {"a\x81", "a?"},      // lead byte at the end
        {"\x81 b", "? b"},    // lead byte before a non-trail byte
        {"\x85\x40", "?"},    // unassigned code
        {"\x80\xA0\xFD", "???"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(from_core(c.core, ENC_LENIENT), c.lenient) << c.lenient;
        EXPECT_EQ(from_core(c.core), "<fail>") << c.lenient;
    }
}

TEST_F(Encoding, BufferLimits) {
    char buf[8];
    EXPECT_EQ(enc_to_core("abc", 3, buf, 4), 3);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(enc_to_core("abc", 3, buf, 3), ENC_NOROOM);
    EXPECT_EQ(enc_to_core("abc", 3, buf, 0), ENC_NOROOM);
    EXPECT_EQ(enc_from_core("\x95\x5C", 2, buf, 3, 0), ENC_NOROOM);

    // A partial conversion stops after a whole character.
    size_t used = 99;
    EXPECT_EQ(enc_from_core_part("\x95\x5C\x95\x5C", 4, buf, 6, 0, &used), 3);
    EXPECT_EQ(used, 2u);
    EXPECT_STREQ(buf, "表");
    EXPECT_EQ(enc_from_core_part("\xF0\x80\xF1\xEC", 4, buf, 2, 0, &used), 0);
    EXPECT_EQ(used, 0u);

    std::string big;
    for (int i = 0; i < 5000; i++)
        big += "表é";
    size_t len = 0;
    char *core = enc_to_core_dup(big.data(), big.size(), &len);
    ASSERT_NE(core, nullptr);
    EXPECT_EQ(len, 5000u * 6);
    EXPECT_EQ(std::strlen(core), len);
    std::free(core);
}

TEST_F(Encoding, PlainCLocaleCountsAsUtf8) {
    ASSERT_EQ(enc_init("ANSI_X3.4-1968"), 0);
    EXPECT_TRUE(enc_isutf8());
    EXPECT_EQ(from_core("\x8B\x4E\x93\xAE\x8E\x9E"), "起動時");
    ASSERT_EQ(enc_init("ISO-8859-1"), 0);
    EXPECT_FALSE(enc_isutf8());
    EXPECT_EQ(enc_init("NO-SUCH-CODESET"), -1);
    char buf[8];
    EXPECT_EQ(enc_to_core("a", 1, buf, sizeof buf), ENC_BADTEXT);
}

TEST_F(Encoding, EucJpGoesThroughIconv) {
    ASSERT_EQ(enc_init("EUC-JP"), 0);
    EXPECT_EQ(to_core("\xC9\xBD\\x"), "\x95\x5C\\x"); // 表
    EXPECT_EQ(from_core("\x95\x5C\xB1"), "\xC9\xBD\x8E\xB1");
    const char *texts[] = {"a\xFF-", "\xC9", "\xA1", "\x8F\xB0\xA1" /* JIS X 0212 */};
    for (const char *t : texts) {
        std::string core = to_core(t);
        EXPECT_EQ(from_core(core), t);
    }
    EXPECT_TRUE(is_escape(to_core("\xFF")));
}

TEST_F(Encoding, Latin1CannotPrintJapanese) {
    ASSERT_EQ(enc_init("ISO-8859-1"), 0);
    std::string core = to_core("caf\xE9");
    EXPECT_EQ(core.substr(0, 3), "caf");
    EXPECT_TRUE(is_escape(core.substr(3)));
    EXPECT_EQ(from_core(core), "caf\xE9");
    EXPECT_EQ(from_core("\x95\x5C.txt", ENC_LENIENT), "?.txt");
    EXPECT_EQ(from_core("\x95\x5C.txt"), "<fail>");
}

// The C library's Shift_JIS reads 0x5C as the yen sign; a Shift_JIS locale's
// backslash must stay the separator, and every name must come back as it was.
TEST_F(Encoding, ShiftJisLocaleReadsAsWindowsWrites) {
    ASSERT_EQ(enc_init("SHIFT_JIS"), 0);
    EXPECT_EQ(to_core("C:\\\x95\x5C"), "C:\\\x95\x5C");
    const char *texts[] = {"\xED\x40", "\x87\x90", "\xFF\x80"};
    for (const char *t : texts)
        EXPECT_EQ(from_core(to_core(t)), t);
}

TEST(Startup, ArgumentsArriveInCodePage932) {
    setenv("LC_ALL", "C", 1);
    char a0[] = "mox32", a1[] = "表\\x", a2[] = "a\xFF";
    char *argv[] = {a0, a1, a2, nullptr};
    char **cpargv = nullptr;
    ASSERT_EQ(plat_startup(3, argv, &cpargv), 0);
    EXPECT_STREQ(cpargv[0], "mox32");
    EXPECT_STREQ(cpargv[1], "\x95\x5C\\x");
    EXPECT_EQ(cpargv[2][0], 'a');
    EXPECT_TRUE(is_escape(cpargv[2] + 1));
    EXPECT_EQ(cpargv[3], nullptr);
    plat_shutdown();
    unsetenv("LC_ALL");
    std::setlocale(LC_ALL, "C");
}

} // namespace
