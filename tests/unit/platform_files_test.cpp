// File contents, write times, identities and temporary files: what every
// backend keeps.
#include "platform_test.h"

#include <cctype>

namespace {

class PlatformFiles : public PlatformTest {};

// Windows' copy opens its source for reading and writing only to lock it;
// a file the user may only read must still be copyable.
TEST_F(PlatformFiles, ReadOnlyFileOpensForReading) {
    put("ro.txt", "hello");
    ASSERT_EQ(plat_setattr("C:\\ro.txt", PLAT_ATTR_READONLY), 0);
    int h = plat_open("C:\\RO.TXT", PLAT_OPEN_READ);
    ASSERT_GE(h, 0) << plat_lasterror();
    char buf[16];
    EXPECT_EQ(plat_read(h, buf, sizeof buf), 5);
    EXPECT_EQ(std::string(buf, 5), "hello");
    EXPECT_EQ(plat_read(h, buf, sizeof buf), 0);
    EXPECT_EQ(plat_close(h), 0);
    plat_setattr("C:\\ro.txt", PLAT_ATTR_NORMAL);
}

// Create truncates, append writes at the end, and a cut back shortens (a
// failed append is undone that way); a file an append made is found at
// once, in any case.
TEST_F(PlatformFiles, CreateTruncatesAppendAppendsCutBack) {
    put("f.txt", "old contents");
    int h = plat_open("C:\\f.txt", PLAT_OPEN_CREATE);
    ASSERT_GE(h, 0);
    EXPECT_EQ(plat_write_file(h, "abc", 3), 3);
    EXPECT_EQ(plat_close(h), 0);
    EXPECT_EQ(slurp("f.txt"), "abc");

    h = plat_open("C:\\F.TXT", PLAT_OPEN_APPEND);
    ASSERT_GE(h, 0);
    EXPECT_EQ(plat_write_file(h, "def", 3), 3);
    EXPECT_EQ(plat_seek(h, 0, PLAT_SEEK_CUR), 6);
    PlatFileState st;
    ASSERT_EQ(plat_filestate(h, &st), 0);
    EXPECT_EQ(st.size, 6u);
    EXPECT_EQ(plat_truncate(h, 4), 0);
    EXPECT_EQ(plat_close(h), 0);
    EXPECT_EQ(slurp("f.txt"), "abcd");

    // Appending to a missing file creates it, found at once in any case.
    h = plat_open("C:\\New.txt", PLAT_OPEN_APPEND);
    ASSERT_GE(h, 0);
    EXPECT_EQ(plat_close(h), 0);
    EXPECT_EQ(listed(""), (Names{"New.txt", "f.txt"}));
    EXPECT_EQ(content("C:\\NEW.TXT"), "");
}

// Each failure gives the code the core reports; a directory opened as a
// file is refused, not read as an empty file.
TEST_F(PlatformFiles, OpenErrors) {
    mkdir("dir");
    struct Case {
        const char *path;
        int how;
        unsigned err;
    } cases[] = {
        {"C:\\dir", PLAT_OPEN_READ, PLAT_ERR_ACCESS_DENIED}, // a directory is no file
        {"C:\\dir", PLAT_OPEN_CREATE, PLAT_ERR_ACCESS_DENIED},
        {"C:\\none", PLAT_OPEN_READ, PLAT_ERR_FILE_NOT_FOUND},
        {"C:\\nodir\\none", PLAT_OPEN_READ, PLAT_ERR_PATH_NOT_FOUND},
        {"C:\\nodir\\none", PLAT_OPEN_CREATE, PLAT_ERR_PATH_NOT_FOUND},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.path);
        EXPECT_EQ(plat_open(k.path, k.how), -1);
        EXPECT_EQ(plat_lasterror(), k.err);
    }
}

// The write time used to be rebuilt from DOS words: the fraction and the
// odd second were lost, years outside 1980..2107 clamped, and the hour that
// repeats in autumn came back an hour off. It is set exactly, to the
// backend's grain.
TEST_F(PlatformFiles, SetFileTimeIsExact) {
    const PlatFileTime times[] = {
        {0, 0}, {-315619200, 1}, {1099204200, 500000000}, {1234567891, 123456789},
        {7258118400LL, 999999999},
    };
    const long grain = sandbox::time_grain();
    for (const PlatFileTime &t : times) {
        SCOPED_TRACE(t.sec);
        int h = plat_open("C:\\t.txt", PLAT_OPEN_CREATE);
        ASSERT_GE(h, 0);
        ASSERT_EQ(plat_setfiletime(h, &t), 0);
        ASSERT_EQ(plat_close(h), 0);
        PlatEntry e;
        ASSERT_TRUE(entry("C:\\t.txt", &e));
        EXPECT_EQ(e.mtime.sec, t.sec);
        EXPECT_EQ(e.mtime.nsec, t.nsec / grain * grain);
    }
    int h = plat_open("C:\\t.txt", PLAT_OPEN_CREATE);
    ASSERT_GE(h, 0);
    PlatFileTime bad = {0, 1000000000};
    EXPECT_EQ(plat_setfiletime(h, &bad), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_INVALID_PARAMETER);
    plat_close(h);
}

// Two names of one file (another case, a hard link, a symbolic link) give
// one identity: the guard against copying a file onto itself rests on it.
TEST_F(PlatformFiles, FileIdFollowsLinksAndSpellings) {
    put("a", "1");
    put("b", "2");
    std::filesystem::create_hard_link(disk("a"), disk("hard"));
    ASSERT_TRUE(symlink(at("a"), at("soft")));
    PlatFileId a, b, hard, soft;
    ASSERT_EQ(plat_fileid("C:\\A", &a), 0);
    ASSERT_EQ(plat_fileid("C:\\b", &b), 0);
    ASSERT_EQ(plat_fileid("C:\\hard", &hard), 0);
    ASSERT_EQ(plat_fileid("C:\\soft", &soft), 0);
    EXPECT_FALSE(a.device == b.device && a.inode == b.inode);
    for (const PlatFileId *id : {&hard, &soft}) {
        EXPECT_EQ(id->device, a.device);
        EXPECT_EQ(id->inode, a.inode);
    }
    EXPECT_EQ(plat_fileid("C:\\none", &a), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_FILE_NOT_FOUND);
}

// The list file of "@" goes to TEMP, named "_MOX_..." whole (the system's
// temporary names keep three characters of a prefix).
TEST_F(PlatformFiles, MakeTempInTempDirectory) {
    mkdir("tmp");
    sandbox::set_temp(at("tmp"));
    char path[PLAT_NATIVE_SIZE];
    int h = plat_mktemp(path, sizeof path);
    ASSERT_GE(h, 0) << plat_lasterror();
    EXPECT_EQ(std::string(path).rfind("C:\\tmp\\_MOX_", 0), 0u) << path;
    EXPECT_EQ(plat_write_file(h, "list", 4), 4);
    EXPECT_EQ(plat_close(h), 0);
    EXPECT_EQ(slurp("tmp/" + std::string(path + 7)), "list");
    EXPECT_EQ(plat_delete(path), 0);
    EXPECT_EQ(listed("tmp"), Names{});
}

// The temporary file of an overwrite becomes the user's file in place of
// the old one: it must be new (never an existing file), unique, and keep
// its whole prefix; a path that does not fit leaves no file behind.
TEST_F(PlatformFiles, OpenTempMakesUniqueNewFiles) {
    mkdir("Sub");
    char p1[PLAT_NATIVE_SIZE], p2[PLAT_NATIVE_SIZE];
    int h1 = plat_opentemp("C:\\sub", "_MOX_", p1, sizeof p1);
    int h2 = plat_opentemp("C:\\sub", "_MOX_", p2, sizeof p2);
    ASSERT_GE(h1, 0);
    ASSERT_GE(h2, 0);
    EXPECT_STRNE(p1, p2);
    std::string lower = p1;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    EXPECT_EQ(lower.rfind("c:\\sub\\_mox_", 0), 0u) << p1;
    EXPECT_EQ(plat_write_file(h1, "x", 1), 1);
    plat_close(h1);
    plat_close(h2);
    EXPECT_EQ(slurp("Sub/" + std::string(p1 + 7)), "x");

    EXPECT_EQ(plat_opentemp("C:\\nodir", "_MOX_", p1, sizeof p1), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_PATH_NOT_FOUND);
    char small[8];
    EXPECT_EQ(plat_opentemp("C:\\sub", "_MOX_", small, sizeof small), -1);
    EXPECT_EQ(listed("Sub").size(), 2u);
}

// The kernel's copy must give the bytes a read and a write would, also
// where the kernel refuses (an output open for appending); a limit stops
// it, and an armed write failure fails it at the buffer it would have
// failed at.
TEST_F(PlatformFiles, CopyDataMatchesTheBufferedCopy) {
    std::string data(100000, 0);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = (char)(i * 13 + i / 97);
    put("src", data);
    put("app", "head");
    struct Case {
        const char *what, *to;
        int how;
        long long limit;
        std::string want;
        int failwrite; // nth write armed to fail, 0 for none
    } cases[] = {
        {"whole file", "new", PLAT_OPEN_CREATE, -1, data, 0},
        {"onto an append", "app", PLAT_OPEN_APPEND, -1, "head" + data, 0},
        {"up to a limit", "cut", PLAT_OPEN_CREATE, 4321, data.substr(0, 4321), 0},
        {"second write fails", "fail", PLAT_OPEN_CREATE, -1, data.substr(0, 1000), 2},
    };
    char buf[1000];
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        int in = plat_open("C:\\src", PLAT_OPEN_READ);
        int out = plat_open(("C:\\" + std::string(k.to)).c_str(), k.how);
        ASSERT_GE(in, 0);
        ASSERT_GE(out, 0);
        if (k.failwrite != 0)
            plat_failcall(PLAT_CALL_WRITE, k.failwrite, PLAT_ERR_DISK_FULL);
        long long got = plat_copydata(in, out, k.limit, buf, sizeof buf, nullptr);
        plat_close(in);
        plat_close(out);
        if (k.failwrite != 0) {
            EXPECT_EQ(got, -1);
            EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_DISK_FULL);
        } else {
            EXPECT_EQ(got, (long long)(k.want.size() - (k.how == PLAT_OPEN_APPEND ? 4 : 0)));
        }
        EXPECT_TRUE(slurp(k.to) == k.want) << slurp(k.to).size() << " bytes";
    }
}

} // namespace
