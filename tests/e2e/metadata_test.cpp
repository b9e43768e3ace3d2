// What a copy keeps besides the data: its source's modification time to the
// nanosecond, sizes beyond 4 GiB in every comparison, and access no wider
// than the source gave.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine_util.h"
#include "harness.h"

using namespace e2e;

namespace {

using Lines = std::vector<std::string>;

void set_mtim(const std::string &path, long long sec, long nsec) {
    struct timespec ts[2] = {{static_cast<time_t>(sec), nsec}, {static_cast<time_t>(sec), nsec}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, path.c_str(), ts, AT_SYMLINK_NOFOLLOW)) << path;
}

// "sec.nsec" of a file's modification time, for messages that show both.
std::string mtim(const std::string &path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return "missing";
    return std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

std::string when(long long sec, long nsec) { return std::to_string(sec) + "." + std::to_string(nsec); }

// What a copy can keep of a time's nanoseconds: all on Linux; Windows
// counts file times in units of 100 ns.
long kept(long nsec) { return suite_build().win32 ? nsec / 100 * 100 : nsec; }

unsigned mode_of(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

long long size_of(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// Makes the file sparse at size bytes: nothing of it is written. False
// where the file system cannot hold such a file.
bool make_sparse(const Sandbox &box, char drive, const std::string &rel, long long size) {
    box.write(drive, rel, "");
    return ::truncate(box.native(drive, rel).c_str(), size) == 0;
}

// Runs mox32 through the shell, so that a setting of the shell (the umask,
// a file size limit) applies to it first.
RunResult run_after(const Sandbox &box, const std::string &setting, const Lines &args,
                    RunOptions o = {}) {
    o.shell_setting = setting;
    return box.run(args, o);
}

constexpr long long GiB = 1LL << 30;

// A copy used to get its time back from local DOS words: the fraction and
// the odd second were lost (make and rsync saw a changed file), years
// outside 1980..2107 were clamped, and in the hour that repeats in autumn
// the copy came out an hour off. Every way of writing a file keeps it.
TEST(Metadata, CopyKeepsTheExactTime) {
    struct Moment {
        const char *tz;
        long long sec;
        long nsec;
    } moments[] = {
        {"UTC", T0 + 1, 123456789},
        {"UTC", 86399, 5},                    // 1970
        {"UTC", 7258118400LL + 1, 999999999}, // 2200
        // 2004-10-31, both times the clock showed 01:30 in New York and
        // 02:30 in Berlin: the DOS words cannot tell them apart.
        {"America/New_York", 1099200600, 0},
        {"America/New_York", 1099204200, 0},
        {"Europe/Berlin", 1099182600, 0},
        {"Europe/Berlin", 1099186200, 0},
    };
    struct Way {
        Lines opts;
        bool existing; // the destination holds a file to append to
    } ways[] = {{{}, false}, {{"/I"}, true}, {{"/Z"}, false}, {{"/M"}, false}};
    for (const Moment &m : moments) {
        std::string zone = std::string("/usr/share/zoneinfo/") + m.tz;
        if (::access(zone.c_str(), R_OK) != 0)
            GTEST_SKIP() << "no time zone data for " << m.tz;
        for (const Way &w : ways) {
            std::string trace = std::string(m.tz) + " " + when(m.sec, m.nsec) +
                                (w.opts.empty() ? "" : " " + w.opts[0]);
            Sandbox box;
            box.write('d', "S/F.TXT", "data");
            set_mtim(box.native('d', "S/F.TXT"), m.sec, m.nsec);
            if (w.existing)
                box.write('e', "O/F.TXT", "old ");
            Lines args = w.opts;
            args.insert(args.end(), {"D:\\S\\F.TXT", "E:\\O"});
            RunOptions o;
            o.env = {{"TZ", m.tz}};
            RunResult r = box.run(args, o);
            EXPECT_EQ(0, r.status) << trace << "\n" << r.out;
            EXPECT_EQ(when(m.sec, kept(m.nsec)), mtim(box.native('e', "O/F.TXT"))) << trace;
        }
    }
}

// The copy of an existing file set aside for an append (/I /B with a
// format) is the old file's, time included.
TEST(Metadata, BackupByCopyKeepsTheOldFilesExactTime) {
    Sandbox box;
    box.write('D', "S/a.txt", "new");
    box.write('D', "D/a.txt", "old");
    set_mtim(box.native('D', "D/a.txt"), T0 + 3, 777);
    RunResult r = box.run({"/I", "/B", "=$F.$E", "D:\\S\\a.txt", "D:\\D"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ("old", box.read('D', "D/a(000).txt"));
    EXPECT_EQ(when(T0 + 3, kept(777)), mtim(box.native('D', "D/a(000).txt")));
}

// A move onto another file system is a copy and a delete; the copy keeps
// the exact time whether the drive letter changes or not (root only).
TEST(Metadata, MoveAcrossFileSystemsKeepsTheExactTime) {
    SKIP_ON_WIN32("tmpfs mounts");
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a file system needs root";
    for (const char *to : {"D:\\MNT", "E:\\"}) {
        Sandbox box;
        box.mkdir('d', "MNT");
        TmpfsMount mnt(std::string(to)[0] == 'D' ? box.native('d', "MNT") : box.native('e'), "1m");
        if (!mnt.ok())
            GTEST_SKIP() << "no tmpfs here";
        box.write('d', "S/F.TXT", "moving");
        set_mtim(box.native('d', "S/F.TXT"), T0 + 1, 123456789);
        RunResult r = box.run({"/M", "D:\\S\\F.TXT", to});
        EXPECT_EQ(0, r.status) << to << "\n" << r.out;
        std::string moved = std::string(to)[0] == 'D' ? box.native('d', "MNT/F.TXT")
                                                       : box.native('e', "F.TXT");
        EXPECT_FALSE(box.exists('d', "S/F.TXT")) << to;
        EXPECT_EQ(when(T0 + 1, 123456789), mtim(moved)) << to;
    }
}

// Sizes used to be their low 32 bits: gathering took a file 4 GiB larger
// than its namesake for the same file and wrote over it without a backup.
TEST(Metadata, GatherKeepsAFileThatDiffersBy4GiB) {
    Sandbox box;
    box.write('d', "G/README.TXT", "");
    if (!make_sparse(box, 'e', "OUT/README.TXT", 4 * GiB))
        GTEST_SKIP() << "no sparse files of 4 GiB here";
    set_mtime(box.native('d', "G/README.TXT"), T0);
    set_mtime(box.native('e', "OUT/README.TXT"), T0);
    RunResult r = box.run({"/G", "D:\\G", "E:\\OUT"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ((Lines{"README(000).TXT", "README.TXT"}), tree(box.native('e', "OUT")));
    EXPECT_EQ(4 * GiB, size_of(box.native('e', "OUT/README(000).TXT")));
    EXPECT_EQ(0, size_of(box.native('e', "OUT/README.TXT")));
}

// A sparse file used to arrive fully allocated, its holes written out as
// zeros: a disk image of a few kilobytes of data took its whole size on
// the destination. Its copy keeps the holes and every byte.
TEST(Metadata, SparseFileStaysSparse) {
    SKIP_ON_WIN32("holes and allocated blocks of Linux files");
    constexpr long long MiB = 1 << 20, size = 64 * MiB;
    Sandbox box;
    box.mkdir('d', "S");
    std::string src = box.native('d', "S/DISK.IMG");
    int fd = ::open(src.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(11, ::pwrite(fd, "first data", 11, 3 * MiB + 5));
    ASSERT_EQ(12, ::pwrite(fd, "second data", 12, 40 * MiB));
    ASSERT_EQ(0, ::ftruncate(fd, size));
    ::close(fd);
    struct stat st;
    ASSERT_EQ(0, ::stat(src.c_str(), &st));
    if (st.st_blocks * 512 >= size)
        GTEST_SKIP() << "no sparse files here";
    RunResult r = box.run({"D:\\S", "E:\\O"});
    EXPECT_EQ(0, r.status) << r.out;
    std::string copy = box.native('e', "O/DISK.IMG");
    ASSERT_EQ(0, ::stat(copy.c_str(), &st));
    EXPECT_LE(st.st_blocks * 512, 1 * MiB) << "allocated";
    EXPECT_TRUE(box.read('d', "S/DISK.IMG") == box.read('e', "O/DISK.IMG"));
}

// The free-space test used to take the low 32 bits of the size: 5 GiB
// asked for 1 GiB, 4 GiB and 16 KiB for 16 KiB, and the copy started on a
// disk that could never hold it. Echo mode makes the test too (root only;
// neither run writes anything).
TEST(Metadata, FreeSpaceTestCountsEveryByte) {
    SKIP_ON_WIN32("tmpfs mounts");
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small file system needs root";
    struct Case {
        long long size;
        const char *room;
        bool echo;
    } cases[] = {{5 * GiB, "2g", true}, {4 * GiB + 16384, "64k", false}};
    for (const Case &k : cases) {
        Sandbox box;
        if (!make_sparse(box, 'd', "BIG/BIG.DAT", k.size))
            GTEST_SKIP() << "no sparse files of 5 GiB here";
        TmpfsMount small(box.native('e'), k.room);
        if (!small.ok())
            GTEST_SKIP() << "no tmpfs here";
        Lines args = {"D:\\BIG\\BIG.DAT", "E:\\OUT"};
        if (k.echo)
            args.insert(args.begin(), "/E");
        RunResult r = box.run(args);
        EXPECT_EQ(1, r.status) << k.room << "\n" << r.out;
        // Whether the aborted directory's file counts as found is not
        // settled; the line is left out.
        Lines want = {READING, "D:\\BIG --> E:\\OUT",
                      "Error! drive freespace not enough, or path not found", ABORT,
                      count(0, "File(s) copied"), count(1, "File(s) failed")};
        if (k.echo)
            want.insert(want.begin(), "This is TEST Mode");
        Lines out = outlines(r);
        std::erase_if(out, [](const std::string &l) {
            return l.find(" File(s) found") != std::string::npos;
        });
        EXPECT_EQ(want, out) << k.room;
        EXPECT_EQ(Lines{}, tree(box.native('e', "OUT"))) << k.room;
    }
}

// New files used to get 0644 and new directories 0755 whatever their
// sources had: a private file or directory arrived readable by all. They
// take the source's bits as far as the umask lets them (never set-id
// bits), the destination base included.
TEST(Metadata, CopiesAreNoMoreOpenThanTheirSources) {
    SKIP_ON_WIN32("Unix permission bits and the umask");
    struct Case {
        const char *umask;
        unsigned file, dir;         // the source's modes
        unsigned wantfile, wantdir; // the copy's
    } cases[] = {
        {"022", 0600, 0700, 0600, 0700},
        {"077", 0644, 0755, 0600, 0700},
        {"022", 04755, 0750, 0755, 0750},
        {"022", 0444, 0555, 0444, 0755}, // the owner can still fill it
    };
    for (const Case &k : cases) {
        std::string trace = std::string(k.umask) + " " + std::to_string(k.file);
        Sandbox box;
        box.write('d', "S/PRIV/f.txt", "secret");
        ASSERT_EQ(0, ::chmod(box.native('d', "S/PRIV/f.txt").c_str(), k.file));
        ASSERT_EQ(0, ::chmod(box.native('d', "S/PRIV").c_str(), k.dir));
        ASSERT_EQ(0, ::chmod(box.native('d', "S").c_str(), k.dir));
        RunResult r = run_after(box, "umask " + std::string(k.umask), {"/S", "D:\\S", "E:\\O"});
        EXPECT_EQ(0, r.status) << trace << "\n" << r.out;
        EXPECT_EQ("secret", box.read('e', "O/PRIV/f.txt")) << trace;
        EXPECT_EQ(k.wantfile, mode_of(box.native('e', "O/PRIV/f.txt"))) << trace;
        EXPECT_EQ(k.wantdir, mode_of(box.native('e', "O/PRIV"))) << trace;
        EXPECT_EQ(k.wantdir, mode_of(box.native('e', "O"))) << trace;
        ::chmod(box.native('d', "S").c_str(), 0755);
        ::chmod(box.native('d', "S/PRIV").c_str(), 0755);
    }
}

// \TRASH$$$ used to be made 0755: a file moved there from a 0700
// directory keeps its 0644 and lost the only thing that kept it private.
TEST(Metadata, TrashIsItsOwnersAlone) {
    SKIP_ON_WIN32("Unix permission bits");
    Sandbox box;
    box.write('d', "PRIV/f.txt", "secret");
    ASSERT_EQ(0, ::chmod(box.native('d', "PRIV").c_str(), 0700));
    RunResult r = box.run({"/DEL!", "/Y", "D:\\PRIV\\f.txt"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ("secret", box.read('d', "TRASH$$$/f.txt"));
    EXPECT_EQ(0700u, mode_of(box.native('d', "TRASH$$$")));
}

// The temporary file of a copy used to be 0644 while it was written, so a
// run killed half-way left a copy of a private file readable by all. The
// file size limit stops the run in the middle of the write.
TEST(Metadata, InterruptedCopyLeavesNothingReadable) {
    SKIP_ON_WIN32("a file size limit that ends the run with a signal");
    Sandbox box;
    box.write('d', "S/BIG.DAT", std::string(300 * 1024, 's'));
    box.write('e', "O/BIG.DAT", "old");
    RunResult r = run_after(box, "ulimit -c 0; ulimit -f 100", {"D:\\S\\BIG.DAT", "E:\\O"});
    EXPECT_EQ(128 + SIGXFSZ, r.status) << r.out;
    Lines left = tree(box.native('e', "O"));
    ASSERT_EQ(2u, left.size()) << r.out;
    EXPECT_EQ("BIG.DAT", left[0]);
    EXPECT_EQ(0u, left[1].rfind("_MOX_", 0)) << left[1];
    EXPECT_EQ(0600u, mode_of(box.native('e', "O/" + left[1])));
    EXPECT_EQ("old", box.read('e', "O/BIG.DAT"));
}

// A move onto another file system by a user who cannot give the copy its
// owner and group: the set-id bit used to stay, and the group bits then
// opened the file to the mover's group. The copy gets no set-id bit and
// its new group no more than everyone else (root, running as nobody).
TEST(Metadata, MoveByAnotherUserOpensNothingToItsGroup) {
    SKIP_ON_WIN32("running as another user");
    if (::geteuid() != 0)
        GTEST_SKIP() << "changing users needs root";
    if (::access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "no setpriv here";
    Sandbox box;
    box.mkdir('d', "M");
    TmpfsMount mnt(box.native('d', "M"), "1m");
    if (!mnt.ok())
        GTEST_SKIP() << "no tmpfs here";
    for (const std::string &dir : {box.root(), box.native('d'), box.native('d', "M")})
        ASSERT_EQ(0, ::chmod(dir.c_str(), 0777)) << dir;
    box.write('d', "M/s.txt", "shared");
    ASSERT_EQ(0, ::chmod(box.native('d', "M/s.txt").c_str(), 02664));
    RunOptions o;
    o.program = "/usr/bin/setpriv";
    RunResult r = box.run({"--reuid=65534", "--regid=65534", "--clear-groups", suite_build().path,
                           "/DEL!", "D:\\M\\s.txt"},
                          o);
    EXPECT_EQ(0, r.status) << r.out << r.err;
    EXPECT_FALSE(box.exists('d', "M/s.txt"));
    std::string moved = box.native('d', "TRASH$$$/s.txt");
    EXPECT_EQ("shared", box.read('d', "TRASH$$$/s.txt"));
    EXPECT_EQ(0644u, mode_of(moved));
}

} // namespace
