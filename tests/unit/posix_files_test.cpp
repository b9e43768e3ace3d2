// File contents, write times, temporary files and free space of the POSIX
// backend, on real temporary trees.
#include "posix_sandbox.h"

#include <sys/statvfs.h>

#include <ctime>

namespace {

class PosixFiles : public PosixSandbox {};

// Windows' copy opens its source for reading and writing only to lock it;
// a file the user may only read must still be copyable here.
TEST_F(PosixFiles, OpenReadOnlyFileForReading) {
    write_file(c + "/ro.txt", "hello");
    ASSERT_EQ(chmod((c + "/ro.txt").c_str(), 0444), 0);
    int h = plat_open("C:\\RO.TXT", PLAT_OPEN_READ);
    ASSERT_GE(h, 0) << plat_lasterror();
    char buf[16];
    EXPECT_EQ(plat_read(h, buf, sizeof buf), 5);
    EXPECT_EQ(std::string(buf, 5), "hello");
    EXPECT_EQ(plat_read(h, buf, sizeof buf), 0);
    EXPECT_EQ(plat_close(h), 0);
}

TEST_F(PosixFiles, CreateTruncatesAppendAppends) {
    write_file(c + "/f.txt", "old contents");
    int h = plat_open("C:\\f.txt", PLAT_OPEN_CREATE);
    ASSERT_GE(h, 0);
    EXPECT_EQ(plat_write_file(h, "abc", 3), 3);
    EXPECT_EQ(plat_close(h), 0);
    EXPECT_EQ(read_file(c + "/f.txt"), "abc");

    h = plat_open("C:\\F.TXT", PLAT_OPEN_APPEND);
    ASSERT_GE(h, 0);
    EXPECT_EQ(plat_write_file(h, "def", 3), 3);
    EXPECT_EQ(plat_seek(h, 0, PLAT_SEEK_CUR), 6);
    EXPECT_EQ(plat_close(h), 0);
    EXPECT_EQ(read_file(c + "/f.txt"), "abcdef");

    // Appending to a missing file creates it, and the new name can be
    // found at once (the lookup cache learned of it).
    h = plat_open("C:\\New.txt", PLAT_OPEN_APPEND);
    ASSERT_GE(h, 0);
    EXPECT_EQ(plat_close(h), 0);
    EXPECT_TRUE(exists(c + "/New.txt"));
    h = plat_open("C:\\NEW.TXT", PLAT_OPEN_READ);
    EXPECT_GE(h, 0);
    plat_close(h);

    // Created files get 0666 less the umask, as any new file.
    mode_t mask = umask(022);
    umask(mask);
    struct stat st;
    ASSERT_EQ(stat((c + "/New.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);
}

TEST_F(PosixFiles, OpenErrors) {
    ASSERT_EQ(mkdir((c + "/dir").c_str(), 0777), 0);
    struct Case {
        const char *path;
        int how;
        unsigned err;
    } cases[] = {
        {"C:\\dir", PLAT_OPEN_READ, PLAT_ERR_ACCESS_DENIED},
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

// A link at a destination's name is replaced as an entry, never followed:
// an append through it grew the file it named, wherever that was, and the
// file written in its place took that file's permissions.
TEST_F(PosixFiles, LinksAreNeitherAppendedThroughNorModels) {
    write_file(root + "/outside", "kept");
    ASSERT_EQ(chmod((root + "/outside").c_str(), 0666), 0);
    ASSERT_EQ(symlink((root + "/outside").c_str(), (c + "/link").c_str()), 0);
    EXPECT_EQ(plat_open("C:\\link", PLAT_OPEN_APPEND), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_ACCESS_DENIED);
    EXPECT_EQ(read_file(root + "/outside"), "kept");

    int h = open((c + "/new").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(h, 0);
    ASSERT_EQ(fchmod(h, 0600), 0);
    EXPECT_EQ(plat_keepperms(h, "C:\\link", "C:\\link"), 1); // nothing kept
    close(h);
    struct stat st;
    ASSERT_EQ(stat((c + "/new").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

// A FIFO in a tree must not hang a copy waiting for a writer.
TEST_F(PosixFiles, OpenFifoDoesNotBlock) {
    ASSERT_EQ(mkfifo((c + "/pipe").c_str(), 0666), 0);
    int h = plat_open("C:\\pipe", PLAT_OPEN_READ);
    ASSERT_GE(h, 0);
    char buf[4];
    EXPECT_EQ(plat_read(h, buf, sizeof buf), 0);
    plat_close(h);
}

// The write time used to be rebuilt from DOS words: the fraction and the
// odd second were lost, years outside 1980..2107 clamped, and the hour that
// repeats in autumn came back an hour off. It is set exactly now.
TEST_F(PosixFiles, SetFileTimeIsExact) {
    const PlatFileTime times[] = {
        {0, 0}, {-315619200, 1}, {1099204200, 500000000}, {1234567891, 123456789},
        {7258118400LL, 999999999},
    };
    for (const PlatFileTime &t : times) {
        SCOPED_TRACE(t.sec);
        int h = plat_open("C:\\t.txt", PLAT_OPEN_CREATE);
        ASSERT_GE(h, 0);
        ASSERT_EQ(plat_setfiletime(h, &t), 0);
        ASSERT_EQ(plat_close(h), 0);
        struct stat st;
        ASSERT_EQ(stat((c + "/t.txt").c_str(), &st), 0);
        EXPECT_EQ(st.st_mtim.tv_sec, t.sec);
        EXPECT_EQ(st.st_mtim.tv_nsec, t.nsec);
    }
    int h = plat_open("C:\\t.txt", PLAT_OPEN_CREATE);
    ASSERT_GE(h, 0);
    PlatFileTime bad = {0, 1000000000};
    EXPECT_EQ(plat_setfiletime(h, &bad), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_INVALID_PARAMETER);
    plat_close(h);
}

TEST_F(PosixFiles, FileIdFollowsLinksAndSpellings) {
    write_file(c + "/a", "1");
    write_file(c + "/b", "2");
    ASSERT_EQ(link((c + "/a").c_str(), (c + "/hard").c_str()), 0);
    ASSERT_EQ(symlink("a", (c + "/soft").c_str()), 0);
    PlatFileId a, b, hard, soft, native;
    ASSERT_EQ(plat_fileid("C:\\A", &a), 0);
    ASSERT_EQ(plat_fileid("C:\\b", &b), 0);
    ASSERT_EQ(plat_fileid("C:\\hard", &hard), 0);
    ASSERT_EQ(plat_fileid("C:\\soft", &soft), 0);
    ASSERT_EQ(plat_fileid((c + "/a").c_str(), &native), 0);
    EXPECT_FALSE(a.device == b.device && a.inode == b.inode);
    for (const PlatFileId *id : {&hard, &soft, &native}) {
        EXPECT_EQ(id->device, a.device);
        EXPECT_EQ(id->inode, a.inode);
    }
    EXPECT_EQ(plat_fileid("C:\\none", &a), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_FILE_NOT_FOUND);
}

TEST_F(PosixFiles, MakeTempInTempDirectory) {
    ASSERT_EQ(mkdir((c + "/tmp").c_str(), 0777), 0);
    setenv("TEMP", (c + "/tmp").c_str(), 1);
    char path[PLAT_PATH_SIZE];
    int h = plat_mktemp(path, sizeof path);
    ASSERT_GE(h, 0) << plat_lasterror();
    EXPECT_EQ(std::string(path).rfind("C:\\tmp\\_MOX_", 0), 0u) << path;
    EXPECT_EQ(plat_write_file(h, "list", 4), 4);
    EXPECT_EQ(plat_close(h), 0);
    EXPECT_EQ(read_file(c + "/tmp/" + (path + 7)), "list");

    // A temp directory on no drive hands its native path on.
    ASSERT_EQ(mkdir((root + "/elsewhere").c_str(), 0777), 0);
    setenv("TEMP", (root + "/elsewhere/").c_str(), 1);
    h = plat_mktemp(path, sizeof path);
    ASSERT_GE(h, 0) << plat_lasterror();
    plat_close(h);
    std::string want = root + "/elsewhere/_MOX_";
    EXPECT_EQ(std::string(path).rfind(want, 0), 0u) << path;
    EXPECT_TRUE(exists(path));
    // And the services accept that native path back.
    EXPECT_EQ(plat_delete(path), 0);
    EXPECT_FALSE(exists(path));
}

// The temporary file of an overwrite becomes the user's file in place of
// the old one: it must be new (never an existing file) and unique. It used
// to be created 0644 like any file, so an interrupted copy of a secret was
// left readable by all: it is its owner's alone until it is complete.
TEST_F(PosixFiles, OpenTempMakesUniqueNewFiles) {
    ASSERT_EQ(mkdir((c + "/Sub").c_str(), 0777), 0);
    char p1[PLAT_PATH_SIZE], p2[PLAT_PATH_SIZE];
    int h1 = plat_opentemp("C:\\sub", "~mx", p1, sizeof p1);
    int h2 = plat_opentemp("C:\\sub", "~mx", p2, sizeof p2);
    ASSERT_GE(h1, 0);
    ASSERT_GE(h2, 0);
    EXPECT_STRNE(p1, p2);
    EXPECT_EQ(std::string(p1).rfind("C:\\Sub\\~mx", 0), 0u) << p1;
    EXPECT_EQ(plat_write_file(h1, "x", 1), 1);
    plat_close(h1);
    plat_close(h2);
    EXPECT_EQ(read_file(c + "/Sub/" + (p1 + 7)), "x");
    struct stat st;
    ASSERT_EQ(stat((c + "/Sub/" + (p1 + 7)).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    EXPECT_EQ(plat_opentemp("C:\\nodir", "~mx", p1, sizeof p1), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_PATH_NOT_FOUND);
    // A path that does not fit the caller's buffer leaves no file behind.
    char small[8];
    EXPECT_EQ(plat_opentemp("C:\\sub", "~mx", small, sizeof small), -1);
    size_t count = 0;
    for (auto &e : std::filesystem::directory_iterator(c + "/Sub")) {
        (void)e;
        count++;
    }
    EXPECT_EQ(count, 2u);
}

// A write onto a full disk must report 112 so the copy says "disk full"
// and the engine can throw its temporary file away.
TEST_F(PosixFiles, WriteOntoFullDiskGives112) {
    if (!mount_tmpfs(256))
        GTEST_SKIP() << "mounting a tmpfs needs root";
    int h = plat_open("D:\\fill", PLAT_OPEN_CREATE);
    ASSERT_GE(h, 0);
    std::string chunk(65536, 'f');
    long r = 0;
    for (int i = 0; i < 16 && r >= 0; i++)
        r = plat_write_file(h, chunk.data(), chunk.size());
    EXPECT_EQ(r, -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_DISK_FULL);
    plat_close(h);
}

TEST_F(PosixFiles, FreeSpaceOfTheFileSystemHoldingThePath) {
    if (!mount_tmpfs(1024))
        GTEST_SKIP() << "mounting a tmpfs needs root";
    unsigned long long bytes = 0;
    // A path below the drive that does not exist yet counts on the file
    // system of its nearest existing directory: the 1 MiB tmpfs.
    ASSERT_EQ(plat_freespace("D:\\not\\yet\\there.txt", &bytes), 0);
    EXPECT_GT(bytes, 0u);
    EXPECT_LE(bytes, 1024u * 1024u);
    // C is the big disk, D's mount is no business of it.
    ASSERT_EQ(plat_freespace(nullptr, &bytes), 0);
    struct statvfs v;
    ASSERT_EQ(statvfs(c.c_str(), &v), 0);
    EXPECT_GT(bytes, 1024u * 1024u);
    // Others may write meanwhile: the same file system within 64 MiB.
    unsigned long long now = (unsigned long long)v.f_bavail * v.f_frsize;
    EXPECT_LT(bytes > now ? bytes - now : now - bytes, 64ull << 20);
}

TEST_F(PosixFiles, FreeSpaceErrors) {
    unsigned long long bytes = 0;
    EXPECT_EQ(plat_freespace("Q:\\x", &bytes), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_PATH_NOT_FOUND);
    // Relative names are on the current drive, C.
    EXPECT_EQ(plat_freespace("missing\\deeper", &bytes), 0);
    EXPECT_GT(bytes, 0u);
}

// The kernel's copy must give the bytes a read and a write would, also
// where the kernel refuses (an output open for appending) or finds nothing
// (a /proc file claims to be empty); a limit stops it, and an armed write
// failure fails it at the buffer it would have failed at.
TEST_F(PosixFiles, KernelCopyMatchesTheBufferedCopy) {
    std::string data(100000, 0);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = (char)(i * 13 + i / 97);
    write_file(c + "/src", data);
    write_file(c + "/app", "head");
    struct Case {
        const char *what, *from, *to;
        int how;
        long long limit;
        std::string want;
        unsigned failwrite; // nth write armed to fail, 0 for none
    } cases[] = {
        {"whole file", "C:\\src", "C:\\new", PLAT_OPEN_CREATE, -1, data, 0},
        {"onto an append", "C:\\src", "C:\\app", PLAT_OPEN_APPEND, -1, "head" + data, 0},
        {"up to a limit", "C:\\src", "C:\\cut", PLAT_OPEN_CREATE, 4321, data.substr(0, 4321), 0},
        {"a file claiming no size", "/proc/self/cmdline", "C:\\proc", PLAT_OPEN_CREATE, -1, "", 0},
        {"second write fails", "C:\\src", "C:\\fail", PLAT_OPEN_CREATE, -1, data.substr(0, 1000), 2},
    };
    char buf[1000];
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        int in = plat_open(k.from, PLAT_OPEN_READ), out = plat_open(k.to, k.how);
        ASSERT_GE(in, 0);
        ASSERT_GE(out, 0);
        if (k.failwrite != 0)
            plat_failcall(PLAT_CALL_WRITE, (int)k.failwrite, PLAT_ERR_DISK_FULL);
        long long got = plat_copydata(in, out, k.limit, buf, sizeof buf, nullptr);
        plat_close(in);
        plat_close(out);
        std::string native = c + "/" + std::string(k.to + 3);
        if (k.failwrite != 0) {
            EXPECT_EQ(got, -1);
            EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_DISK_FULL);
        } else if (std::string(k.from).rfind("/proc", 0) == 0) {
            EXPECT_GT(got, 0); // whatever the process's command line is
            EXPECT_EQ(read_file(native).size(), (size_t)got);
            continue;
        } else {
            EXPECT_EQ(got, (long long)(k.want.size() - (k.how == PLAT_OPEN_APPEND ? 4 : 0)));
        }
        EXPECT_TRUE(read_file(native) == k.want) << read_file(native).size() << " bytes";
    }
}

// A sparse file used to come out fully allocated: its holes were read as
// zeros and written, so a 2 GiB image holding a few kilobytes took 2 GiB
// and half a minute. Its copy keeps the holes and every byte, also onto
// an append, cut by a limit in a hole or in data, and an armed write
// failure stops it at the buffer of data it would have failed at.
TEST_F(PosixFiles, SparseCopyKeepsHolesAndBytes) {
    const long long MiB = 1 << 20, size = 16 * MiB;
    std::string a(5000, 'a'), b(3000, 'b');
    for (size_t i = 0; i < a.size(); i++)
        a[i] = (char)(i * 7 + 1);
    int fd = ::open((c + "/src").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, a.data(), a.size(), MiB + 100), (ssize_t)a.size());
    ASSERT_EQ(pwrite(fd, b.data(), b.size(), 8 * MiB - 3000), (ssize_t)b.size());
    ASSERT_EQ(ftruncate(fd, size), 0); // a hole at each end and one between
    ::close(fd);
    struct stat st;
    ASSERT_EQ(stat((c + "/src").c_str(), &st), 0);
    if (st.st_blocks * 512 >= size)
        GTEST_SKIP() << "no sparse files here";
    std::string data = read_file(c + "/src");
    write_file(c + "/app", "head");
    struct Case {
        const char *what, *to;
        int how;
        long long limit;
        std::string want;
        unsigned failwrite; // nth write armed to fail, 0 for none
    } cases[] = {
        {"whole file", "C:\\new", PLAT_OPEN_CREATE, -1, data, 0},
        {"onto an append", "C:\\app", PLAT_OPEN_APPEND, -1, "head" + data, 0},
        {"cut in a hole", "C:\\hole", PLAT_OPEN_CREATE, 4 * MiB, data.substr(0, 4 * MiB), 0},
        {"cut in data", "C:\\data", PLAT_OPEN_CREATE, MiB + 2000, data.substr(0, MiB + 2000), 0},
        {"third write fails", "C:\\fail", PLAT_OPEN_CREATE, -1, data.substr(0, MiB + 2000), 3},
    };
    char buf[1000];
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        int in = plat_open("C:\\src", PLAT_OPEN_READ), out = plat_open(k.to, k.how);
        ASSERT_GE(in, 0);
        ASSERT_GE(out, 0);
        if (k.failwrite != 0)
            plat_failcall(PLAT_CALL_WRITE, (int)k.failwrite, PLAT_ERR_DISK_FULL);
        long long got = plat_copydata(in, out, k.limit, buf, sizeof buf, nullptr);
        plat_close(in);
        plat_close(out);
        std::string native = c + "/" + std::string(k.to + 3);
        if (k.failwrite != 0)
            EXPECT_EQ(got, -1);
        else
            EXPECT_EQ(got, (long long)(k.want.size() - (k.how == PLAT_OPEN_APPEND ? 4 : 0)));
        EXPECT_TRUE(read_file(native) == k.want) << read_file(native).size() << " bytes";
        ASSERT_EQ(stat(native.c_str(), &st), 0);
        EXPECT_LE(st.st_blocks * 512, 256 * 1024) << "allocated";
    }
}

} // namespace
