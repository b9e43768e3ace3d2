// Listings: Windows' wildcards, the one order, the attribute mask, names
// beyond the code page, links and what an entry carries.
#include "platform_test.h"

namespace {

class PlatformFind : public PlatformTest {};

// Patterns follow Windows, not what Wine's own matching does ("*." finds
// everything there, "a??" nothing, "?????.txt" misses "e.txt").
TEST_F(PlatformFind, WildcardTable) {
    const Names all = {"a", "a.txt", "ab.TXT", "abc", "abc.t", "b.c.txt", "e.txt", "README",
                       "x", "x.y", "xy"};
    mkdir("w");
    for (const std::string &n : all)
        file("w/" + n);
    Names dotsall = {".", ".."};
    dotsall.insert(dotsall.end(), all.begin(), all.end());
    struct Case {
        const char *pattern;
        Names want;
    } cases[] = {
        {"*.*", dotsall},
        {"*", dotsall},
        {"*.", {".", "..", "a", "abc", "README", "x", "xy"}},
        {"x.*", {"x", "x.y"}},
        {"*.txt", {"a.txt", "ab.TXT", "b.c.txt", "e.txt"}},
        {"??", {"a", "x", "xy"}},        // "?" also matches nothing at the end
        {"a??", {"a", "abc"}},
        {"a?.txt", {"a.txt", "ab.TXT"}}, // ... and before a dot
        {"?????.txt", {"a.txt", "ab.TXT", "e.txt"}}, // but never the dot itself
        {"a?txt", {}},
        {"A*", {"a", "a.txt", "ab.TXT", "abc", "abc.t"}},
        {"*T", {"a.txt", "ab.TXT", "abc.t", "b.c.txt", "e.txt"}},
        {"readme", {"README"}}, // no wildcard: a lookup, case ignored
        {"missing", {}},
    };
    for (const Case &k : cases)
        EXPECT_EQ(names("C:\\w\\" + std::string(k.pattern)), k.want) << k.pattern;
}

// One order on every build, Wine's: case folded by upper-casing (so "_"
// sorts after the letters, and é after both), exact names breaking ties;
// "." and ".." first, never at a drive root.
TEST_F(PlatformFind, ListingOrder) {
    for (const char *n : {"b", "_a", "A", "a2", "B1", "Ab", "\xc3\xa9"})
        file(n);
    file("sub/f");
    EXPECT_EQ(names("C:\\*"), (Names{"A", "a2", "Ab", "b", "B1", "sub", "_a", "\xF0\x80\xF1\xEC"}));
    EXPECT_EQ(names("C:\\sub\\*.*"), (Names{".", "..", "f"}));
    EXPECT_EQ(names("sub\\*", 0), (Names{"f"})); // the dots are directories too
}

// The escape pair that carries code point v (codec.h), for names code
// page 932 has no code for.
std::string esc(unsigned v) {
    unsigned hi = v / 1250, lo = v % 1250;
    return {(char)(0xF0 + hi / 125), (char)(0x80 + hi % 125), (char)(0xF0 + lo / 125),
            (char)(0x80 + lo % 125)};
}

// Letter case beyond ASCII folded by each C runtime: the Linux build took
// the dotless i for I and the long s for S, the Win32 build did not, so one
// directory listed in two orders; and the core compared such names byte by
// byte, so that it took Ａ and ａ, or É and é, for two names (and a
// pattern ａ* missed Ａ) and merged what it made into a listing out of the
// listing's order. Both builds now fold by one table, and the core's order
// and sameness are the listing's.
TEST_F(PlatformFind, NamesBeyondAsciiFoldAlikeOnEveryBuild) {
    // On disk in UTF-8: I S É ı ſ α Β ж Ａ ｂ, listed in that order (no
    // case twins: a Windows file system holds none).
    for (const char *n : {"\xef\xbd\x82", "\xef\xbc\xa1", "\xd0\xb6", "\xce\x92", "\xce\xb1",
                          "\xc5\xbf", "\xc4\xb1", "\xc3\x89", "S", "I"})
        file(n);
    EXPECT_EQ(names("C:\\*"), (Names{"I", "S", esc(0xC9), esc(0x131), esc(0x17F), "\x83\xBF",
                                     "\x83\xA0", "\x84\x77", "\x82\x60", "\x82\x82"}));
    // A pattern's letters fold by the same rule.
    EXPECT_EQ(names("C:\\\x82\x81*"), Names{"\x82\x60"});
    EXPECT_EQ(names("C:\\" + esc(0xE9) + "*"), Names{esc(0xC9)});
    EXPECT_EQ(names("C:\\i*"), Names{"I"});
    // The core orders as the listing does, twins by their exact letters.
    const Names order = {"I", "S", esc(0xC9), esc(0xE9), esc(0x131), esc(0x17F),
                         "\x83\xBF", "\x83\xA0", "\x84\x47", "\x84\x77",
                         "\x82\x60", "\x82\x81", "\x82\x82"};
    for (size_t i = 1; i < order.size(); i++)
        EXPECT_LT(plat_namecmp(order[i - 1].c_str(), order[i].c_str()), 0) << i;
    struct Same {
        std::string a, b;
        int same;
    } rows[] = {
        {"\x82\x81.txt", "\x82\x60.TXT", 1},          // ａ Ａ
        {esc(0xE9), esc(0xC9), 1},                     // é É
        {"\x83\xBF", "\x83\x9F", 1},                   // α Α
        {"C:\\\x84\x77", "c:\\\x84\x47", 1},           // a path: C:\ж C:\Ж
        {esc(0x131), "I", 0},                          // ı is not I
        {esc(0x17F), "S", 0},                          // ſ is not S
        {esc(0xDF), "SS", 0},                          // ß is not SS
    };
    for (const Same &r : rows) {
        EXPECT_EQ(plat_namesame(r.a.c_str(), PLAT_WHOLE, r.b.c_str(), PLAT_WHOLE), r.same) << r.b;
        EXPECT_EQ(plat_namehash(r.a.c_str(), PLAT_WHOLE) == plat_namehash(r.b.c_str(), PLAT_WHOLE),
                  r.same == 1) << r.b;
    }
}

// Hidden, system and directory entries pass only a mask that asks for
// them, and a lookup of one name obeys the mask as a listing does: a run
// that did not ask for hidden files must not be handed one by name.
TEST_F(PlatformFind, AttributeMask) {
    file("plain");
    file("hid");
    file("sys");
    mkdir("dir");
    EXPECT_EQ(names("C:\\*", 0), (Names{"hid", "plain", "sys"}));
    EXPECT_EQ(names("C:\\*", 0x10), (Names{"dir", "hid", "plain", "sys"}));
    if (!mark("C:\\hid", PLAT_ATTR_HIDDEN) || !mark("C:\\sys", PLAT_ATTR_SYSTEM))
        GTEST_SKIP() << "this file system keeps no hidden or system mark";
    EXPECT_EQ(names("C:\\*", 0), (Names{"plain"}));
    EXPECT_EQ(names("C:\\*", 0x02), (Names{"hid", "plain"}));
    EXPECT_EQ(names("C:\\*", 0x04), (Names{"plain", "sys"}));
    EXPECT_EQ(names("C:\\HID", 0), Names{}); // a single lookup obeys the mask too
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_FILE_NOT_FOUND);
}

// A missing directory (3) is told from a directory where nothing matches
// (2, or 18): the core reports the one as a bad path and counts the other
// as nothing found.
TEST_F(PlatformFind, MissingDirectoryAndNoMatch) {
    mkdir("e");
    put("f.txt", "a file, not a directory");
    PlatEntry e;
    struct Case {
        const char *pattern;
        unsigned err;
    } cases[] = {
        {"C:\\nodir\\*", PLAT_ERR_PATH_NOT_FOUND},
        {"Q:\\*", PLAT_ERR_PATH_NOT_FOUND},
        {"C:\\f.txt\\*", PLAT_ERR_PATH_NOT_FOUND},
        {"C:\\none.txt", PLAT_ERR_FILE_NOT_FOUND},
        {"C:\\e\\*.txt", PLAT_ERR_FILE_NOT_FOUND},
    };
    for (const Case &k : cases) {
        EXPECT_EQ(plat_findfirst(k.pattern, 0x16, &e), nullptr) << k.pattern;
        unsigned err = plat_lasterror();
        EXPECT_TRUE(err == k.err || (k.err == 2 && err == PLAT_ERR_NO_MORE_FILES))
            << k.pattern << ": " << err;
    }
    // A look at one name answers as a listing does; under a file it once
    // said the name was missing, not its directory.
    const Case ones[] = {
        {"C:\\nodir\\x", PLAT_ERR_PATH_NOT_FOUND},
        {"C:\\f.txt\\x", PLAT_ERR_PATH_NOT_FOUND},
        {"C:\\none.txt", PLAT_ERR_FILE_NOT_FOUND},
    };
    for (const Case &k : ones) {
        EXPECT_EQ(plat_findone(k.pattern, 0x16, &e), 0) << k.pattern;
        EXPECT_EQ(plat_lasterror(), k.err) << k.pattern;
    }
    EXPECT_EQ(plat_findfirst("C:\\", 0x16, &e), nullptr); // an empty pattern lists nothing
}

// Names reach the core in code page 932 and must come back to the same
// file: 表 holds 0x5C as its trail byte, and é and an emoji have no code
// there (they travel as escape pairs). The narrow system calls turned é
// into e and the emoji into "??", a file nothing could open again.
TEST_F(PlatformFind, NamesRoundTripThroughTheCodePage) {
    put("\xe8\xa1\xa8.txt", "kanji");
    put("\xc3\xa9\xf0\x9f\x98\x80.txt", "smile");
    const std::string kanji = "\x95\x5C.txt", smile = "\xF0\x80\xF1\xEC\xF0\xE6\xF8\x8C.txt";
    EXPECT_EQ(names("C:\\*"), (Names{smile, kanji})); // in the order of Unicode
    EXPECT_EQ(names("C:\\\x95\x5C.*"), Names{kanji});
    EXPECT_EQ(content("C:\\" + kanji), "kanji");
    EXPECT_EQ(content("C:\\" + smile), "smile");
    // And the other way: names the core makes land as those characters.
    ASSERT_EQ(plat_mkdir("C:\\\x95\x5C"), 0);
    int h = plat_open(("C:\\\x95\x5C\\" + smile).c_str(), PLAT_OPEN_CREATE);
    ASSERT_GE(h, 0);
    plat_close(h);
    EXPECT_EQ(listed("\xe8\xa1\xa8"), Names{"\xc3\xa9\xf0\x9f\x98\x80.txt"});
}

// A link to a directory is a reparse point, so that a walk does not follow
// it out of the tree; a link to a file is the file; a link that leads
// nowhere is no entry.
TEST_F(PlatformFind, LinksAsWineReportsThem) {
    mkdir("dir");
    put("target", "12345");
    ASSERT_TRUE(symlink(at("dir"), at("todir")));
    ASSERT_TRUE(symlink(at("target"), at("tofile")));
    ASSERT_TRUE(symlink(at("nothing"), at("dangling")));
    ASSERT_TRUE(symlink(at("loop2"), at("loop1")));
    ASSERT_TRUE(symlink(at("loop1"), at("loop2")));
    EXPECT_EQ(names("C:\\*"), (Names{"dir", "target", "todir", "tofile"}));
    PlatEntry e;
    ASSERT_TRUE(entry("C:\\todir", &e));
    EXPECT_EQ(e.attrib, 0x410u);
    ASSERT_TRUE(entry("C:\\tofile", &e));
    EXPECT_EQ(e.attrib, 0x20u);
    EXPECT_EQ(e.size, 5u);
    EXPECT_FALSE(entry("C:\\dangling", &e));
    EXPECT_FALSE(entry("C:\\loop1", &e));
}

unsigned short dosdate(int y, int m, int d) {
    return (unsigned short)((y - 1980) << 9 | m << 5 | d);
}
unsigned short dostime(int h, int m, int s) {
    return (unsigned short)(h << 11 | m << 5 | s / 2);
}

// The DOS words are local time, seconds halved, pinned to 1980..2107; the
// exact time beside them is not. Sizes are whole: 5 GiB used to read as
// its low 32 bits, 1 GiB.
TEST_F(PlatformFind, EntryTimesAndSizes) {
    struct Case {
        long long when;
        unsigned short date, time;
    } cases[] = {
        {sandbox::local_moment(2001, 2, 3, 4, 5, 7), dosdate(2001, 2, 3), dostime(4, 5, 7)},
        {0, dosdate(1980, 1, 1), 0},
        {8000000000LL, dosdate(2107, 12, 31), dostime(23, 59, 59)},
    };
    file("t");
    for (const Case &k : cases) {
        SCOPED_TRACE(k.when);
        int h = plat_open("C:\\t", PLAT_OPEN_APPEND);
        ASSERT_GE(h, 0);
        PlatFileTime t = {k.when, 987654321};
        ASSERT_EQ(plat_setfiletime(h, &t), 0);
        ASSERT_EQ(plat_close(h), 0);
        PlatEntry e;
        ASSERT_TRUE(entry("C:\\t", &e));
        EXPECT_EQ(e.date, k.date);
        EXPECT_EQ(e.time, k.time);
        EXPECT_EQ(e.mtime.sec, k.when);
        EXPECT_EQ(e.mtime.nsec, 987654321L / sandbox::time_grain() * sandbox::time_grain());
    }
    int h = plat_open("C:\\t", PLAT_OPEN_APPEND);
    ASSERT_GE(h, 0);
    ASSERT_EQ(plat_truncate(h, 5LL << 30), 0);
    plat_close(h);
    PlatEntry e;
    ASSERT_TRUE(entry("C:\\t", &e));
    EXPECT_EQ(e.size, 5ULL << 30);
    EXPECT_EQ(e.toolong, 0);
}

// A name longer than 260 bytes in code page 932 is flagged and cut at a
// character boundary, never inside an escape pair.
TEST_F(PlatformFind, OverlongNameIsFlaggedAndCutWhole) {
    std::string name = "a";
    for (int i = 0; i < 100; i++)
        name += "\xc3\xa9"; // each one an escape pair of four bytes
    file(name);
    PlatEntry e;
    ASSERT_TRUE(entry("C:\\?*", &e, 0));
    EXPECT_EQ(e.toolong, 1);
    EXPECT_LE(std::strlen(e.name), 260u);
    EXPECT_EQ((std::strlen(e.name) - 1) % 4, 0u);
}

} // namespace
