// Listings of the Windows backend under Wine: Windows' wildcards, the
// shared order, and what an entry carries.
#include "win32_backend.h"

namespace {

class Win32Find : public Win32Tree {};

// Wine's own matching differs from Windows' ("*." finds everything, "a??"
// nothing, "?????.txt" misses "e.txt"): patterns are matched here.
TEST_F(Win32Find, WildcardsFollowWindowsNotWine) {
    mkdir("w");
    for (const char *n : {"a", "a.txt", "ab.TXT", "abc", "b.c.txt", "e.txt", "x", "x.y", "xy"})
        file(std::string("w/") + n);
    struct Case {
        const char *pattern;
        Names want;
    } cases[] = {
        {"*.", {".", "..", "a", "abc", "x", "xy"}},
        {"a??", {"a", "abc"}},
        {"?????.txt", {"a.txt", "ab.TXT", "e.txt"}}, // "?" never takes a dot
        {"x.*", {"x", "x.y"}},
        {"a?txt", {}},
        {"A*", {"a", "a.txt", "ab.TXT", "abc"}},
        {"AB.txt", {"ab.TXT"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(names("C:\\w\\" + std::string(c.pattern)), c.want) << c.pattern;
}

// The order is the posix build's: letter case folded, the exact names
// breaking ties, "." and ".." first but never at a drive root.
TEST_F(Win32Find, SharedOrderDotsFirstNoneAtTheRoot) {
    mkdir("o");
    for (const wchar_t *n : {L"b", L"A", L"\u00e9", L"Z", L"_x", L"c"})
        wfile(L"C:\\o\\" + std::wstring(n));
    EXPECT_EQ(names("C:\\o\\*.*"),
              (Names{".", "..", "A", "b", "c", "Z", "_x", "\xF0\x80\xF1\xEC"}));
    EXPECT_EQ(names("C:\\*.*"), Names{"o"});
}

// A name code page 932 cannot hold reaches the core as escape pairs and
// opens again by them: the narrow calls turned é into e and an emoji into
// "??", a file that could not be opened at all.
TEST_F(Win32Find, NamesBeyondCodePage932RoundTrip) {
    mkdir("n");
    wfile(L"C:\\n\\\u00e9\U0001F600.txt", "smile");
    const std::string name = "\xF0\x80\xF1\xEC\xF0\xE6\xF8\x8C.txt";
    EXPECT_EQ(names("C:\\n\\*.txt"), Names{name});
    int h = plat_open(("C:\\n\\" + name).c_str(), PLAT_OPEN_READ);
    ASSERT_GE(h, 0);
    char buf[16];
    EXPECT_EQ(plat_read(h, buf, sizeof buf), 5);
    plat_close(h);
}

// Links as Wine shows them: one to a directory is a reparse point, one to
// a file is the file.
TEST_F(Win32Find, LinksToDirectoriesAreReparsePoints) {
    mkdir("l/dir");
    file("l/file.txt", 7);
    ASSERT_TRUE(symlink(at("l/dir"), at("l/dlink")));
    ASSERT_TRUE(symlink(at("l/file.txt"), at("l/flink")));
    PlatEntry e;
    ASSERT_TRUE(entry("C:\\l\\dlink", &e));
    EXPECT_EQ(e.attrib, 0x410u);
    ASSERT_TRUE(entry("C:\\l\\flink", &e));
    EXPECT_EQ(e.attrib, 0x20u);
    EXPECT_EQ(e.size, 7u);
}

// Times to the 100 ns the system keeps, DOS words in local time as the
// system converts them; sizes past 4 GiB whole.
TEST_F(Win32Find, EntryTimesAndSizes) {
    file("t.bin");
    int h = plat_open("C:\\t.bin", PLAT_OPEN_APPEND);
    ASSERT_GE(h, 0);
    PlatFileTime when = {1700000000, 123456789};
    ASSERT_EQ(plat_setfiletime(h, &when), 0);
    ASSERT_EQ(plat_seek(h, 5LL << 30, PLAT_SEEK_SET), 5LL << 30);
    ASSERT_EQ(plat_truncate(h, 5LL << 30), 0);
    ASSERT_EQ(plat_setfiletime(h, &when), 0);
    ASSERT_EQ(plat_close(h), 0);
    PlatEntry e;
    ASSERT_TRUE(entry("C:\\t.bin", &e));
    EXPECT_EQ(e.size, 5ULL << 30);
    EXPECT_EQ(e.mtime.sec, when.sec);
    EXPECT_EQ(e.mtime.nsec, 123456700L);
    FILETIME ft, local;
    unsigned long long ticks = (1700000000ULL + 11644473600ULL) * 10000000ULL + 1234567;
    ft.dwLowDateTime = (DWORD)ticks;
    ft.dwHighDateTime = (DWORD)(ticks >> 32);
    WORD date, time;
    ASSERT_TRUE(FileTimeToLocalFileTime(&ft, &local) && FileTimeToDosDateTime(&local, &date, &time));
    EXPECT_EQ(e.date, date);
    EXPECT_EQ(e.time, time);
}

TEST_F(Win32Find, MissingDirectoryAndNoMatch) {
    EXPECT_EQ(names("C:\\nowhere\\*.*"), Names{});
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_PATH_NOT_FOUND);
    mkdir("e");
    EXPECT_EQ(names("C:\\e\\*.txt"), Names{});
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_FILE_NOT_FOUND);
}

} // namespace
