// Listings and name lookup of the POSIX backend, on real temporary trees.
#include "posix_tree.h"

#include <ctime>

#include "base/out.h"
#include "engine/moxmain.h"

namespace {

class PosixFind : public PosixTree {};

typedef std::vector<std::string> Names;

TEST_F(PosixFind, WildcardTable) {
    mkdir_at("c/w");
    for (const char *n : {"a", "a.txt", "ab.TXT", "abc.t", "b.c.txt", "x", "x.y", "xy", "noext.",
                          "README"})
        file_at(std::string("c/w/") + n);
    struct Case {
        const char *pattern;
        Names want;
    } cases[] = {
        {"*.*", {".", "..", "a", "a.txt", "ab.TXT", "abc.t", "b.c.txt", "noext.", "README", "x",
                 "x.y", "xy"}},
        {"*", {".", "..", "a", "a.txt", "ab.TXT", "abc.t", "b.c.txt", "noext.", "README", "x",
               "x.y", "xy"}},
        {"*.", {".", "..", "a", "noext.", "README", "x", "xy"}},
        {"x.*", {"x", "x.y"}},
        {"*.txt", {"a.txt", "ab.TXT", "b.c.txt"}},
        {"?", {"a", "x"}},
        {"??", {"a", "x", "xy"}},  // "?" also matches nothing at the end
        {"a?.txt", {"a.txt", "ab.TXT"}}, // ... and before a dot
        {"a?txt", {}},                   // but never the dot itself
        {"A*", {"a", "a.txt", "ab.TXT", "abc.t"}},
        {"*T", {"a.txt", "ab.TXT", "abc.t", "b.c.txt"}},
        {"readme", {"README"}}, // no wildcard: a lookup, case ignored
        {"missing", {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(names("C:\\w\\" + std::string(c.pattern)), c.want) << c.pattern;
}

// The order Wine lists in: ignoring case by upper-casing (so "_" sorts after
// the letters), exact names breaking ties; "." and ".." first, never at a
// drive root.
TEST_F(PosixFind, ListingOrder) {
    for (const char *n : {"b", "_a", "A", "a2", "B1", "Ab"})
        file_at(std::string("c/") + n);
    EXPECT_EQ(names("C:\\*"), (Names{"A", "a2", "Ab", "b", "B1", "_a"}));
    mkdir_at("c/sub");
    file_at("c/sub/f");
    EXPECT_EQ(names("C:\\sub\\*.*"), (Names{".", "..", "f"}));
    EXPECT_EQ(names("sub\\*", 0), (Names{"f"})); // dots are directories too
}

TEST_F(PosixFind, AttributeMask) {
    file_at("c/plain");
    file_at("c/.dot");
    mkdir_at("c/dir");
    EXPECT_EQ(names("C:\\*", 0), (Names{"plain"}));
    EXPECT_EQ(names("C:\\*", 0x10), (Names{"dir", "plain"}));
    EXPECT_EQ(names("C:\\*", 0x02), (Names{".dot", "plain"}));
    EXPECT_EQ(names("C:\\.DOT", 0), Names{}); // a single lookup obeys the mask too
    EXPECT_EQ(plat_lasterror(), 2u);
}

TEST_F(PosixFind, ErrorsOfMissingDirectories) {
    PlatEntry e;
    EXPECT_EQ(plat_findfirst("C:\\nodir\\*", 0x16, &e), nullptr);
    EXPECT_EQ(plat_lasterror(), 3u);
    EXPECT_EQ(plat_findfirst("C:\\none.txt", 0x16, &e), nullptr);
    EXPECT_EQ(plat_lasterror(), 2u);
    EXPECT_EQ(plat_findfirst("C:\\", 0x16, &e), nullptr); // an empty pattern lists nothing
    EXPECT_EQ(plat_findfirst("Q:\\*", 0x16, &e), nullptr);
    EXPECT_EQ(plat_lasterror(), 3u);
}

// Names reach the core in code page 932 and must come back to the same
// bytes: 表 holds 0x5C as its trail byte, é has no code there, and 0xFF is
// not UTF-8 at all.
TEST_F(PosixFind, NamesRoundTripThroughTheCodePage) {
    file_at("c/\xe8\xa1\xa8.txt", "kanji");
    file_at("c/\xc3\xa9.txt", "accent");
    file_at("c/\xff.bin", "raw");
    Names listed = names("C:\\*");
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_NE(std::find(listed.begin(), listed.end(), "\x95\x5C.txt"), listed.end());
    for (const std::string &n : listed) {
        PlatEntry e;
        ASSERT_TRUE(first("C:\\" + n, &e)) << n;
        EXPECT_EQ(std::string(e.name), n);
        std::string back = native("C:\\" + n);
        ASSERT_EQ(back.rfind(c + "/", 0), 0u) << back;
        EXPECT_TRUE(exists(back)) << back;
    }
    EXPECT_EQ(native("C:\\\x95\x5C.txt"), c + "/\xe8\xa1\xa8.txt");
    EXPECT_EQ(names("C:\\\x95\x5C.*"), (Names{"\x95\x5C.txt"}));
}

TEST_F(PosixFind, LookupIgnoresCaseExactWins) {
    file_at("c/Foo.txt");
    file_at("c/FOO.TXT");
    mkdir_at("c/Dir");
    // Exact spellings find themselves; any other finds the first listed.
    EXPECT_EQ(native("C:\\Foo.txt"), c + "/Foo.txt");
    EXPECT_EQ(native("C:\\FOO.TXT"), c + "/FOO.TXT");
    EXPECT_EQ(native("C:\\foo.txt"), c + "/FOO.TXT");
    EXPECT_EQ(native("C:\\dir\\foo.txt"), c + "/Dir/foo.txt");
    PlatEntry e;
    ASSERT_TRUE(first("C:\\DIR", &e));
    EXPECT_STREQ(e.name, "Dir");
    EXPECT_EQ(e.attrib, 0x10u);
}

// Probing names that do not exist used to read the directory each time:
// N probes in a directory of N entries must read it once.
TEST_F(PosixFind, ProbesReadTheDirectoryOnce) {
    const int n = 200;
    for (int i = 0; i < n; i++)
        file_at("c/f" + std::to_string(i));
    unsigned long before = lookup_scans();
    for (int i = 0; i < n; i++)
        EXPECT_EQ(native("C:\\G" + std::to_string(i)), c + "/G" + std::to_string(i));
    EXPECT_EQ(lookup_scans() - before, 1u);

    // A listing reads the directory; the probes after it need no read.
    before = lookup_scans();
    EXPECT_EQ(names("C:\\f1?").size(), 11u);
    EXPECT_EQ(native("C:\\F7"), c + "/f7");
    EXPECT_EQ(native("C:\\F8"), c + "/f8");
    EXPECT_EQ(lookup_scans() - before, 1u);

    // The backend's own changes keep the cache true without a read.
    file_at("c/NewOne");
    lookup_added(c.c_str(), "NewOne");
    ASSERT_EQ(unlink((c + "/f3").c_str()), 0);
    lookup_removed(c.c_str(), "f3");
    before = lookup_scans();
    EXPECT_EQ(native("C:\\newone"), c + "/NewOne");
    EXPECT_EQ(native("C:\\F3"), c + "/F3");
    EXPECT_EQ(lookup_scans() - before, 0u);

    // A change from outside is noticed.
    struct timespec later[2] = {{0, UTIME_OMIT}, {2000000000, 0}};
    file_at("c/Outside");
    ASSERT_EQ(utimensat(AT_FDCWD, c.c_str(), later, 0), 0);
    EXPECT_EQ(native("C:\\OUTSIDE"), c + "/Outside");
}

TEST_F(PosixFind, LinksAsWineReportsThem) {
    mkdir_at("outside");
    file_at("c/target", "12345");
    ASSERT_EQ(symlink(at("outside").c_str(), (c + "/todir").c_str()), 0);
    ASSERT_EQ(symlink("target", (c + "/tofile").c_str()), 0);
    ASSERT_EQ(symlink("nothing", (c + "/dangling").c_str()), 0);
    ASSERT_EQ(symlink("loop2", (c + "/loop1").c_str()), 0);
    ASSERT_EQ(symlink("loop1", (c + "/loop2").c_str()), 0);
    EXPECT_EQ(names("C:\\*"), (Names{"target", "todir", "tofile"}));
    PlatEntry e;
    ASSERT_TRUE(first("C:\\todir", &e));
    EXPECT_EQ(e.attrib, 0x410u);
    ASSERT_TRUE(first("C:\\tofile", &e));
    EXPECT_EQ(e.attrib, 0x20u);
    EXPECT_EQ(e.size, 5u);
    EXPECT_FALSE(first("C:\\dangling", &e));
    EXPECT_FALSE(first("C:\\loop1", &e));
}

TEST_F(PosixFind, EntryFields) {
    file_at("c/t");
    struct tm tm = {};
    tm.tm_year = 2001 - 1900, tm.tm_mon = 1, tm.tm_mday = 3;
    tm.tm_hour = 4, tm.tm_min = 5, tm.tm_sec = 7, tm.tm_isdst = -1;
    struct Case {
        time_t when;
        unsigned short date, time;
    } cases[] = {
        {mktime(&tm), (21 << 9) | (2 << 5) | 3, (4 << 11) | (5 << 5) | 3}, // 7 s halved
        {0, (0 << 9) | (1 << 5) | 1, 0},                                   // before 1980
        {(time_t)8000000000LL, (127 << 9) | (12 << 5) | 31, (23 << 11) | (59 << 5) | 29},
    };
    // The DOS words are pinned to their years; the exact time is not.
    for (const Case &k : cases) {
        struct timespec ts[2] = {{k.when, 0}, {k.when, 987654321}};
        ASSERT_EQ(utimensat(AT_FDCWD, (c + "/t").c_str(), ts, 0), 0);
        PlatEntry e;
        ASSERT_TRUE(first("C:\\t", &e));
        EXPECT_EQ(e.date, k.date) << k.when;
        EXPECT_EQ(e.time, k.time) << k.when;
        EXPECT_EQ(e.mtime.sec, (long long)k.when);
        EXPECT_EQ(e.mtime.nsec, 987654321L);
    }
    // Sizes are whole: 5 GiB used to read as its low 32 bits, 1 GiB.
    ASSERT_EQ(truncate((c + "/t").c_str(), 5LL << 30), 0);
    PlatEntry e;
    ASSERT_TRUE(first("C:\\t", &e));
    EXPECT_EQ(e.size, 5ull << 30);
    EXPECT_EQ(e.toolong, 0);

    // A name longer than 260 bytes in code page 932 is flagged and cut at a
    // character boundary, never inside an escape pair.
    ASSERT_EQ(unlink((c + "/t").c_str()), 0);
    std::string longname = "a";
    for (int i = 0; i < 100; i++)
        longname += "\xc3\xa9"; // each one an escape pair of four bytes
    file_at("c/" + longname);
    ASSERT_TRUE(first("C:\\?*", &e, 0));
    EXPECT_EQ(e.toolong, 1);
    EXPECT_LE(std::strlen(e.name), 260u);
    EXPECT_EQ((std::strlen(e.name) - 1) % 4, 0u);
}

TEST_F(PosixFind, SystemTreesAreNeverListed) {
    map("C=" + c + ";Z=/");
    Names top = names("Z:\\*");
    for (const char *n : {"proc", "sys", "dev", ".", ".."})
        EXPECT_EQ(std::find(top.begin(), top.end(), n), top.end()) << n;
    EXPECT_NE(std::find(top.begin(), top.end(), "tmp"), top.end());
}

} // namespace

// A directory swapped for a link to another tree between the listing that
// saw it and the walk into it used to be followed: the walk then listed,
// and acted on, the other tree. Held from its parent it is refused, and a
// path through it is not followed by name either.
TEST_F(PosixFind, HeldDirectorySwappedForALinkIsRefused) {
    ASSERT_EQ(mkdir((c + "/t").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((c + "/t/sub").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((d + "/out").c_str(), 0755), 0);
    write_file(d + "/out/f", "outside");
    ASSERT_EQ(plat_holddir("C:\\t", nullptr), 0);
    PlatEntry e;
    PlatFind *f = plat_findfirst("C:\\t\\sub", 0x37, &e);
    ASSERT_NE(f, nullptr);
    plat_findclose(f);
    ASSERT_EQ(rename((c + "/t/sub").c_str(), (c + "/t/moved").c_str()), 0);
    ASSERT_EQ(symlink((d + "/out").c_str(), (c + "/t/sub").c_str()), 0);
    EXPECT_EQ(plat_holddir("C:\\t\\sub", &e), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_DIR_CHANGED);
    EXPECT_EQ(plat_delete("C:\\t\\sub\\f"), -1);
    EXPECT_EQ(read_file(d + "/out/f"), "outside");
    plat_releasedir();
}

// A list naming missing files used to read the whole directory again for
// every such line (each line is expanded as typed, and the cache forgot
// the names it had read): a list of a hundred thousand lines took hours.
TEST_F(PosixFind, ListOfMissingNamesReadsEachDirectoryOnce) {
    mkdir_at("c/S");
    std::string list;
    for (int i = 0; i < 300; i++) {
        file_at("c/S/f" + std::to_string(i), "x");
        list += "C:\\S\\gone" + std::to_string(i) + "\n";
        if (i % 30 == 0)
            list += "C:\\S\\f" + std::to_string(i) + "\n";
    }
    file_at("c/LIST", list);
    resetsettings();
    PARAM p;
    ASSERT_EQ(initparam(&p), 0);
    std::strcpy(p.dstbasedir, "D:\\");
    std::strcpy(p.dstcurdir, "D:\\");
    p.dstbaselen = 3;
    unsigned long before = lookup_scans();
    plat_flush(PLAT_STDOUT);
    int saved = dup(1), null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
    int r = runsrc("@C:\\LIST", &p);
    plat_flush(PLAT_STDOUT);
    dup2(saved, 1);
    close(saved);
    freeparam(&p);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(read_file(d + "/f270"), "x");
    EXPECT_LE(lookup_scans() - before, 3u);
}
