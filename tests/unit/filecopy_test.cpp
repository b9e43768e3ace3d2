// Copying, appending, zero-sizing and moving single files, on real
// temporary trees. Most tests here guard a way a file could be lost: a
// failed overwrite, a failed move, a file copied onto itself.
#include "runfs/runfs.h"
#include "tree.h"

#include <dirent.h>
#include <sys/mount.h>

#include <cstring>
#include <ctime>

#include "fileops/filecopy.h"
#include "front/mox.h"

namespace {

// The source's time as the listing gives it: 2021-06-15 10:20:31 UTC and
// a fraction, which no DOS word could carry.
const PlatFileTime MTIME = {1623752431, 123456789};

// The file has MTIME exactly.
bool hasmtime(const struct stat &s) {
    return s.st_mtim.tv_sec == MTIME.sec && s.st_mtim.tv_nsec == MTIME.nsec;
}

// Data that differs along its length, so a block written twice or out of
// place shows.
std::string pattern(size_t size, char seed = 0) {
    std::string s(size, 0);
    for (size_t i = 0; i < size; i++)
        s[i] = (char)((i * 7 + i / 251 + (size_t)seed) & 0xff);
    return s;
}

class FileCopy : public TreeTest {
protected:
    std::string mounted; // a tmpfs this test mounted, unmounted at the end

    void SetUp() override {
        TreeTest::SetUp();
        resetsettings();
        ASSERT_EQ(alloccopybuf(), 0);
    }

    void TearDown() override {
        for (int call = 0; call < PLAT_CALL_COUNT; call++)
            plat_failcall((PlatCall)call, 0, 0);
        freecopybuf();
        resetsettings();
        if (!mounted.empty())
            umount2(mounted.c_str(), MNT_DETACH);
        TreeTest::TearDown();
    }

    static void put(const std::string &native, const std::string &data) {
        std::ofstream(native, std::ios::binary | std::ios::trunc) << data;
    }

    static std::string get(const std::string &native) {
        std::ifstream in(native, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    static struct stat st(const std::string &native) {
        struct stat s = {};
        EXPECT_EQ(::stat(native.c_str(), &s), 0) << native;
        return s;
    }

    static bool writable(const std::string &native) { return (st(native).st_mode & 0222) != 0; }

    // Names of leftover temporary files in a native directory.
    static std::string temps(const std::string &dir) {
        std::string found;
        if (DIR *dp = ::opendir(dir.c_str())) {
            while (struct dirent *e = ::readdir(dp))
                if (std::strncmp(e->d_name, "_MOX_", 5) == 0)
                    found += std::string(e->d_name) + " ";
            ::closedir(dp);
        }
        return found;
    }

    // Mounts a tmpfs of kib KiB on a native directory (root only).
    bool mount_tmpfs(const std::string &dir, unsigned kib) {
        if (::geteuid() != 0)
            return false;
        std::filesystem::create_directories(dir);
        std::string opts = "size=" + std::to_string(kib) + "k";
        if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, opts.c_str()) != 0)
            return false;
        mounted = dir;
        plat_reload();
        return true;
    }

    struct Result {
        int rc;
        std::string out, err;
    };

    Result run(const char *src, const char *dst, unsigned newattrib = 0x20,
               unsigned srcattrib = 0x20, int append = 0) {
        Capture out(1), err(2);
        int rc = copyormove(src, dst, "f", &MTIME, newattrib, srcattrib, append);
        std::string o = out.text();
        return {rc, o, err.text()};
    }
};

// A copy keeps every byte and the DOS time, whatever the size against the
// buffer: empty, one byte, exactly one buffer, several buffers and a tail.
TEST_F(FileCopy, CopyKeepsDataAndTime) {
    for (size_t size : {(size_t)0, (size_t)1, (size_t)copybufsize, (size_t)40000}) {
        SCOPED_TRACE(size);
        std::string data = pattern(size);
        put(at("src.bin"), data);
        std::filesystem::remove(at("dst.bin"));
        Result r = run("C:\\src.bin", "C:\\dst.bin");
        EXPECT_EQ(r.rc, 0);
        EXPECT_EQ(r.out, "  f\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(get(at("dst.bin")), data);
        EXPECT_TRUE(hasmtime(st(at("dst.bin"))));
        EXPECT_EQ(get(at("src.bin")), data);
    }
    EXPECT_EQ(temps(c), "");
}

// Overwriting replaces the old content whole; the new file takes the given
// attributes, also when the old one was read-only.
TEST_F(FileCopy, OverwriteReplacesReadOnlyDestination) {
    put(at("src"), "new data");
    put(at("dst"), "old data that is longer");
    ASSERT_EQ(::chmod(at("dst").c_str(), 0444), 0);
    Result r = run("C:\\src", "C:\\DST", 0x21);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(get(at("dst")), "new data");
    EXPECT_FALSE(writable(at("dst")));

    ASSERT_EQ(::chmod(at("dst").c_str(), 0444), 0);
    EXPECT_EQ(run("C:\\src", "C:\\dst", 0x20).rc, 0);
    EXPECT_TRUE(writable(at("dst")));
    EXPECT_EQ(temps(c), "");
}

// A source the user may only read is copyable, and a plain copy does not
// change its mode.
TEST_F(FileCopy, ReadOnlySourceIsCopiedAndLeftAsItWas) {
    put(at("ro"), "read me");
    ASSERT_EQ(::chmod(at("ro").c_str(), 0444), 0);
    EXPECT_EQ(run("C:\\ro", "D:\\ro", 0x21, 0x21).rc, 0);
    EXPECT_EQ(get(d + "/ro"), "read me");
    EXPECT_EQ(st(at("ro")).st_mode & 0777, 0444u);
}

// A failed overwrite used to leave a truncated destination. Whatever call
// fails, the old destination stays byte for byte with its read-only
// attribute, the error line names the failing call's code and no
// temporary file is left behind.
TEST_F(FileCopy, FailedOverwriteKeepsOldDestination) {
    struct Case {
        const char *what;
        PlatCall call;
        int nth;
        unsigned code;
        const char *err; // what standard error shows
    } cases[] = {
        {"write half-way", PLAT_CALL_WRITE, 2, 112, ""},
        {"read half-way", PLAT_CALL_READ, 2, 5, ""},
        {"closing the source", PLAT_CALL_CLOSE, 1, 5, ""},
        {"closing the new file", PLAT_CALL_CLOSE, 2, 112, ""},
        {"replacing", PLAT_CALL_REPLACE, 1, 5, ""},
        {"opening the source", PLAT_CALL_OPEN, 1, 5, "GetLastError: Access is denied.\n"},
        {"creating the new file", PLAT_CALL_OPEN, 2, 112,
         "GetLastError: There is not enough space on the disk.\n"},
    };
    std::string old = pattern(30000, 9), data = pattern(40000);
    put(at("src.bin"), data);
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        put(at("dst.bin"), old);
        ASSERT_EQ(::chmod(at("dst.bin").c_str(), 0444), 0);
        plat_failcall(k.call, k.nth, k.code);
        Result r = run("C:\\src.bin", "C:\\dst.bin");
        plat_failcall(k.call, 0, 0);
        EXPECT_EQ(r.rc, -1);
        EXPECT_EQ(r.out, "  f\n GetLastError=[" + std::to_string(k.code) + "]\nError! copy failed\n");
        EXPECT_EQ(r.err, k.err);
        EXPECT_EQ(get(at("dst.bin")), old);
        EXPECT_FALSE(writable(at("dst.bin")));
        EXPECT_EQ(temps(c), "");
        EXPECT_EQ(get(at("src.bin")), data);
        ::chmod(at("dst.bin").c_str(), 0644);
    }
}

// A real full disk (root only): a tmpfs too small for the new data. The
// old destination must survive the failed overwrite.
TEST_F(FileCopy, FullDiskKeepsOldDestination) {
    if (!mount_tmpfs(d, 256))
        GTEST_SKIP() << "mounting a tmpfs needs root";
    put(d + "/dst.bin", "old data");
    put(at("src.bin"), pattern(1 << 20));
    Result r = run("C:\\src.bin", "D:\\dst.bin");
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.out, "  f\n GetLastError=[112]\nError! copy failed\n");
    EXPECT_EQ(get(d + "/dst.bin"), "old data");
    EXPECT_EQ(temps(d), "");
}

// /I adds the source at the end of an existing file, creates a missing
// one, and gives the result the source's time and the new attributes.
TEST_F(FileCopy, AppendAddsOrCreates) {
    put(at("src"), "tail");
    put(at("dst"), "head-");
    ASSERT_EQ(::chmod(at("dst").c_str(), 0444), 0);
    EXPECT_EQ(run("C:\\src", "C:\\dst", 0x20, 0x20, 1).rc, 0);
    EXPECT_EQ(get(at("dst")), "head-tail");
    EXPECT_TRUE(hasmtime(st(at("dst"))));
    EXPECT_TRUE(writable(at("dst")));

    EXPECT_EQ(run("C:\\src", "C:\\new", 0x21, 0x20, 1).rc, 0);
    EXPECT_EQ(get(at("new")), "tail");
    EXPECT_TRUE(hasmtime(st(at("new"))));
    EXPECT_FALSE(writable(at("new")));
}

// An append that failed half-way used to leave the bytes it had added, and
// a retry appended after that torn tail. Whatever call fails, the file is
// cut back to what it held, and its read-only attribute is back.
TEST_F(FileCopy, FailedAppendKeepsExistingContent) {
    struct Case {
        const char *what;
        PlatCall call;
        int nth;
        unsigned code;
    } cases[] = {
        {"write half-way", PLAT_CALL_WRITE, 2, 112},
        {"read half-way", PLAT_CALL_READ, 2, 5},
        {"closing the source", PLAT_CALL_CLOSE, 1, 5},
        {"closing the destination", PLAT_CALL_CLOSE, 2, 112},
    };
    put(at("src"), pattern(40000));
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        put(at("dst"), "precious");
        ASSERT_EQ(::chmod(at("dst").c_str(), 0444), 0);
        plat_failcall(k.call, k.nth, k.code);
        Result r = run("C:\\src", "C:\\dst", 0x20, 0x20, 1);
        plat_failcall(k.call, 0, 0);
        EXPECT_EQ(r.rc, -1);
        EXPECT_EQ(r.out, "  f\n GetLastError=[" + std::to_string(k.code) + "]\nError! copy failed\n");
        std::string left = get(at("dst"));
        EXPECT_TRUE(left == "precious") << left.size() << " bytes";
        EXPECT_FALSE(writable(at("dst")));
        ::chmod(at("dst").c_str(), 0644);
    }
}

// An append onto a file that is not there is a copy: one that fails
// leaves no file behind, not a piece of the source.
TEST_F(FileCopy, FailedAppendOntoNothingLeavesNothing) {
    put(at("src"), pattern(40000));
    plat_failcall(PLAT_CALL_WRITE, 2, 112);
    Result r = run("C:\\src", "C:\\dst", 0x20, 0x20, 1);
    EXPECT_EQ(r.rc, -1);
    EXPECT_FALSE(exists("dst"));
    EXPECT_EQ(temps(c), "");
}

// Appending a file to itself used to read on after the bytes it was adding,
// until the disk was full. Below the same-file guard, an append copies what
// the source held when it started, and ends.
TEST_F(FileCopy, AppendStopsAtTheSourcesSize) {
    put(at("file"), "mine");
    ASSERT_EQ(::link(at("file").c_str(), at("hard").c_str()), 0);
    Capture out(1);
    EXPECT_EQ(filecopy("C:\\file", "C:\\hard", &MTIME, 0x20, 1), 0);
    EXPECT_EQ(out.text(), "");
    EXPECT_EQ(get(at("file")), "minemine");
}

// /Z leaves an empty file with the source's time, existing or not, and
// never opens the source (an unreadable one will do).
TEST_F(FileCopy, ZeroByteEmptiesWithSourceTime) {
    opt_zerobyte = 1;
    put(at("src"), "contents");
    put(at("old"), "old contents");
    for (const char *dst : {"old", "none"}) {
        SCOPED_TRACE(dst);
        plat_failcall(PLAT_CALL_READ, 1, 5);
        EXPECT_EQ(run("C:\\src", ("C:\\" + std::string(dst)).c_str(), 0x20, 0x20, 1).rc, 0);
        plat_failcall(PLAT_CALL_READ, 0, 0);
        EXPECT_EQ(get(at(dst)), "");
        EXPECT_TRUE(hasmtime(st(at(dst))));
    }
    EXPECT_EQ(get(at("src")), "contents");
    EXPECT_EQ(temps(c), "");
}

// /M within a drive is one rename over the destination: the moved file is
// the source's own inode, with its data and the new attributes.
TEST_F(FileCopy, MoveWithinDriveRenames) {
    opt_move = 1;
    mkdir("sub");
    put(at("src"), "moving");
    put(at("sub/dst"), "replaced");
    ASSERT_EQ(::chmod(at("src").c_str(), 0444), 0);
    ASSERT_EQ(::chmod(at("sub/dst").c_str(), 0444), 0);
    ino_t ino = st(at("src")).st_ino;
    Result r = run("C:\\src", "C:\\sub\\dst", 0x21, 0x21);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.out, "  f\n");
    EXPECT_FALSE(exists("src"));
    EXPECT_EQ(get(at("sub/dst")), "moving");
    EXPECT_EQ(st(at("sub/dst")).st_ino, ino);
    EXPECT_FALSE(writable(at("sub/dst")));
}

// A move whose rename fails used to have deleted the destination already.
// Now both files stay, with their attributes.
TEST_F(FileCopy, FailedRenameKeepsBothFiles) {
    opt_move = 1;
    put(at("src"), "source");
    put(at("dst"), "destination");
    ASSERT_EQ(::chmod(at("src").c_str(), 0444), 0);
    ASSERT_EQ(::chmod(at("dst").c_str(), 0444), 0);
    plat_failcall(PLAT_CALL_REPLACE, 1, 5);
    Result r = run("C:\\src", "C:\\dst", 0x21, 0x21);
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.out, "  f\nError! Rename Failed\n");
    EXPECT_EQ(get(at("src")), "source");
    EXPECT_EQ(get(at("dst")), "destination");
    EXPECT_FALSE(writable(at("src")));
    EXPECT_FALSE(writable(at("dst")));
}

// /M across drive letters copies then deletes, even when both letters lie
// on one file system; /Z with it leaves an empty destination. When the
// source cannot be deleted, the copy stays and the failure is reported.
TEST_F(FileCopy, MoveAcrossDrivesCopiesThenDeletes) {
    opt_move = 1;
    put(at("a"), "alpha");
    ino_t ino = st(at("a")).st_ino;
    EXPECT_EQ(run("C:\\a", "D:\\a").rc, 0);
    EXPECT_FALSE(exists("a"));
    EXPECT_EQ(get(d + "/a"), "alpha");
    EXPECT_NE(st(d + "/a").st_ino, ino);
    EXPECT_TRUE(hasmtime(st(d + "/a")));

    put(at("b"), "beta");
    plat_failcall(PLAT_CALL_DELETE, 1, 5);
    Result r = run("C:\\b", "D:\\b");
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.out, "  f\nError! remove failed: C:\\b\n");
    EXPECT_EQ(get(at("b")), "beta");
    EXPECT_EQ(get(d + "/b"), "beta");

    opt_zerobyte = 1;
    put(at("z"), "zeta");
    EXPECT_EQ(run("C:\\z", "D:\\z").rc, 0);
    EXPECT_FALSE(exists("z"));
    EXPECT_EQ(get(d + "/z"), "");
}

// Two file systems under one letter (root only): the rename refuses to
// cross them, so the move falls back to copy and delete. A tmpfs as drive
// D proves the same for a move across letters.
TEST_F(FileCopy, MoveOntoAnotherFileSystem) {
    if (!mount_tmpfs(at("mnt"), 1024))
        GTEST_SKIP() << "mounting a tmpfs needs root";
    opt_move = 1;
    put(at("f"), pattern(40000));
    put(at("mnt/f"), "old");
    Result r = run("C:\\f", "C:\\mnt\\f");
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.out, "  f\n");
    EXPECT_FALSE(exists("f"));
    EXPECT_EQ(get(at("mnt/f")), pattern(40000));
    EXPECT_EQ(temps(at("mnt")), "");

    ::umount2(mounted.c_str(), MNT_DETACH);
    mounted.clear();
    if (!mount_tmpfs(d, 1024))
        GTEST_SKIP() << "second tmpfs";
    put(at("g"), "gamma");
    EXPECT_EQ(run("C:\\g", "D:\\g").rc, 0);
    EXPECT_FALSE(exists("g"));
    EXPECT_EQ(get(d + "/g"), "gamma");
}

// A file copied, appended or moved onto itself used to be truncated before
// it was read. However the second name is spelled, the call is refused
// before anything is printed or touched, also in echo mode.
TEST_F(FileCopy, SameFileIsRefused) {
    put(at("file.txt"), "mine");
    ASSERT_EQ(::symlink(at("file.txt").c_str(), at("link.txt").c_str()), 0);
    ASSERT_EQ(::link(at("file.txt").c_str(), at("hard.txt").c_str()), 0);
    ::setenv("MOX32_DRIVES", ("C=" + c + ";D=" + d + ";E=" + c).c_str(), 1);
    plat_reload();
    const char *names[] = {"C:\\FILE.TXT", "C:\\link.txt", "C:\\hard.txt", "E:\\file.txt"};
    struct Mode {
        int move, zero, echo, append;
    } modes[] = {{0, 0, 0, 0}, {0, 0, 0, 1}, {1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
    for (const Mode &m : modes) {
        opt_move = m.move;
        opt_zerobyte = m.zero;
        runfs_choose(m.echo);
        for (const char *dst : names) {
            SCOPED_TRACE(std::string(dst) + " move " + std::to_string(m.move) + " zero " +
                         std::to_string(m.zero) + " echo " + std::to_string(m.echo));
            Result r = run("C:\\file.txt", dst, 0x21, 0x20, m.append);
            EXPECT_EQ(r.rc, -1);
            EXPECT_EQ(r.out, "Error! C:\\file.txt and " + std::string(dst) + " are same path\n");
            EXPECT_EQ(get(at("file.txt")), "mine");
            EXPECT_TRUE(writable(at("file.txt")));
            struct stat l;
            EXPECT_EQ(::lstat(at("link.txt").c_str(), &l), 0);
            EXPECT_TRUE(S_ISLNK(l.st_mode));
            EXPECT_EQ(st(at("hard.txt")).st_nlink, 2u);
        }
    }
    EXPECT_EQ(temps(c), "");
}

// /E only prints the line; nothing is created, replaced or moved.
TEST_F(FileCopy, EchoOnlyPrints) {
    runfs_choose(1);
    put(at("src"), "s");
    put(at("old"), "o");
    for (int move : {0, 1}) {
        opt_move = move;
        Result r = run("C:\\src", "C:\\old");
        EXPECT_EQ(r.rc, 0);
        EXPECT_EQ(r.out, "  f\n");
        EXPECT_EQ(run("C:\\src", "D:\\new").rc, 0);
    }
    EXPECT_EQ(get(at("src")), "s");
    EXPECT_EQ(get(at("old")), "o");
    EXPECT_FALSE(std::filesystem::exists(d + "/new"));
}

// A missing source or a destination directory that does not exist fails
// with the system's text and the code, and creates nothing.
TEST_F(FileCopy, OpenFailuresReportTheirCode) {
    put(at("src"), "s");
    Result r = run("C:\\none", "C:\\dst");
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.out, "  f\n GetLastError=[2]\nError! copy failed\n");
    EXPECT_EQ(r.err, "GetLastError: The system cannot find the file specified.\n");
    r = run("C:\\src", "C:\\nodir\\dst");
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.out, "  f\n GetLastError=[3]\nError! copy failed\n");
    EXPECT_FALSE(exists("dst"));
    EXPECT_FALSE(exists("nodir"));

    // A directory in the destination's place is never replaced by a file.
    mkdir("dir");
    put(at("dir/keep"), "k");
    r = run("C:\\src", "C:\\dir");
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.out, "  f\n GetLastError=[267]\nError! copy failed\n");
    EXPECT_EQ(get(at("dir/keep")), "k");
    EXPECT_EQ(temps(c), "");
}

} // namespace
