// What only the POSIX backend does, beside the contract: the drive map,
// the extended attribute and the mode bits, names Linux allows and Windows
// does not, the errno table, the lookup cache's reads, held directories,
// and failures only Linux lets a test stage (a full tmpfs, a FIFO, a
// killed process, a read-only directory).
#include "platform_test.h"

#include <sys/mount.h>
#include <sys/wait.h>
#include <sys/xattr.h>

#include <cerrno>
#include <clocale>
#include <csignal>

#include "engine/moxmain.h"
#include "platform/posix/encoding.h"
#include "platform/posix/native.h"

namespace {

class PosixOnly : public PlatformTest {
protected:
    void TearDown() override {
        if (mounted_)
            umount2(d.c_str(), MNT_DETACH);
        PlatformTest::TearDown();
    }

    void map(const std::string &maptext) {
        ::setenv("MOX32_DRIVES", maptext.c_str(), 1);
        plat_reload();
    }

    // Mounts a tmpfs of `kib` KiB on drive D (root only).
    bool mount_tmpfs(unsigned kib) {
        std::string opts = "size=" + std::to_string(kib) + "k";
        if (geteuid() != 0 || mount("tmpfs", d.c_str(), "tmpfs", 0, opts.c_str()) != 0)
            return false;
        mounted_ = true;
        plat_reload();
        return true;
    }

    mode_t mode(const std::string &native) const {
        struct stat st;
        EXPECT_EQ(::stat(native.c_str(), &st), 0) << native;
        return st.st_mode & 07777;
    }

    // The user.DOSATTRIB text, "none" when absent; false when the file
    // system keeps no extended attributes.
    static bool xattr(const std::string &native, std::string *value) {
        char buf[64];
        ssize_t n = getxattr(native.c_str(), "user.DOSATTRIB", buf, sizeof buf);
        value->assign(n < 0 ? "none" : std::string(buf, (size_t)n));
        return n >= 0 || errno != ENOTSUP;
    }

private:
    bool mounted_ = false;
};

// ---- the drive map ------------------------------------------------------------

// Malformed entries must be ignored one by one, not spoil the whole map,
// and a letter's case must not matter; but a map that holds nothing usable
// must not fall back to the default one: a mistyped map would otherwise
// point C at the home directory.
TEST_F(PosixOnly, DriveMapDropsBadEntriesOneByOne) {
    std::filesystem::create_directory(top + "/e");
    map(" c=" + c + ";;d = " + d + "/;E:" + top + "/e;F=relative;7=/;G=" + top + "/missing");
    for (const char *root : {"C:\\", "d:", "D"})
        EXPECT_EQ(plat_drivetype(root), PLAT_DRIVE_FIXED) << root;
    for (const char *root : {"E:\\", "F:\\", "G:\\", "Z:\\"})
        EXPECT_EQ(plat_drivetype(root), PLAT_DRIVE_NO_ROOT_DIR) << root;
    EXPECT_EQ(full("d:\\x"), "D:\\x");
    map("C:/srv");
    EXPECT_EQ(plat_drivetype("C:\\"), PLAT_DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(plat_drivetype("Z:\\"), PLAT_DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(plat_curdrive(), 0);
}

// Without a map C is the home directory and Z the root, as under Wine;
// but never a home of "/" or a relative one, and a path through Z into C's
// directory takes C's spelling.
TEST_F(PosixOnly, DefaultMapIsHomeAndRoot) {
    const char *h = std::getenv("HOME");
    std::string oldhome = h != nullptr ? h : "";
    ::setenv("HOME", c.c_str(), 1);
    map("");
    EXPECT_EQ(plat_drivetype("C:\\"), PLAT_DRIVE_FIXED);
    EXPECT_EQ(plat_drivetype("Z:\\"), PLAT_DRIVE_FIXED);
    // Z:\...\c\x lies in C's directory, and C's spelling is the canonical one.
    EXPECT_EQ(full("Z:" + c + "/x"), "C:\\x");
    std::string z = "Z:" + d + "/y";
    std::replace(z.begin(), z.end(), '/', '\\');
    EXPECT_EQ(full(d + "/y"), z);
    for (const char *home : {"/", "relative/home"}) {
        ::setenv("HOME", home, 1);
        plat_reload();
        EXPECT_EQ(plat_drivetype("C:\\"), PLAT_DRIVE_NO_ROOT_DIR) << home;
    }
    if (h != nullptr)
        ::setenv("HOME", oldhome.c_str(), 1);
    else
        ::unsetenv("HOME");
}

// With one drive inside another, the longest prefix gives the one spelling:
// two spellings of one directory must compare equal.
TEST_F(PosixOnly, LongestPrefixWins) {
    mkdir("Inner");
    mkdir("Inner2");
    map("C=" + c + ";D=" + c + "/Inner");
    EXPECT_EQ(full("C:\\Inner\\x"), "D:\\x");
    EXPECT_EQ(full("c:\\inner\\X"), "D:\\X"); // found ignoring case, kept as typed
    EXPECT_EQ(full("C:\\Inner"), "D:\\");
    EXPECT_EQ(full("C:\\Inner2\\x"), "C:\\Inner2\\x"); // a whole component only
    EXPECT_EQ(full(c + "/Inner/y"), "D:\\y");
    EXPECT_EQ(full(top + "/elsewhere"), "error 3");
    cd(at("Inner"));
    EXPECT_EQ(plat_curdrive(), 'D');
}

// A working directory outside every drive is an error for what is relative
// to it, not a guess at a drive.
TEST_F(PosixOnly, WorkingDirectoryOnNoDrive) {
    cd(top);
    EXPECT_EQ(plat_curdrive(), 0);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_PATH_NOT_FOUND);
    EXPECT_EQ(full("x"), "error 3");
    EXPECT_EQ(full("\\x"), "error 3");
    EXPECT_EQ(full("C:x"), "C:\\x"); // other drives sit at their roots
}

// ---- names Windows cannot hold ---------------------------------------------------

// A native path typed by the user (in code page 932, as the core holds
// it) has its one DOS spelling. A Linux name may end in a dot, which
// Windows drops from every component: only the final one of a typed path
// loses it here, and a listed "noext." must reach that very file.
TEST_F(PosixOnly, NativePathsAndNamesEndingInADot) {
    put("\xe8\xa1\xa8/noext.", "dot");
    put("\xe8\xa1\xa8/x.y", "");
    EXPECT_EQ(full(c + "/\x95\x5C/x"), "C:\\\x95\x5C\\x"); // 0x5C: no separator
    EXPECT_EQ(full("C:\\x.\\y"), "C:\\x.\\y");
    EXPECT_EQ(names("C:\\\x95\x5C\\*."), (Names{".", "..", "noext."}));
    EXPECT_EQ(content("C:\\\x95\x5C\\noext."), "dot");
}

// 0xFF is no UTF-8: such a name crosses as an escape and comes back whole.
TEST_F(PosixOnly, RawByteNamesRoundTrip) {
    put("\xff.bin", "raw");
    Names listed = names("C:\\*");
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(content("C:\\" + listed[0]), "raw");
}

// Linux holds names that differ only in case as two entries: the exact
// spelling finds each, another the first listed, and moving one onto the
// other is a replace, refused.
TEST_F(PosixOnly, CaseTwinsStayTwoEntries) {
    put("Foo.txt", "lower");
    put("FOO.TXT", "upper");
    EXPECT_EQ(content("C:\\Foo.txt"), "lower");
    EXPECT_EQ(content("C:\\FOO.TXT"), "upper");
    EXPECT_EQ(content("C:\\foo.txt"), "upper");
    EXPECT_EQ(plat_move("C:\\Foo.txt", "C:\\FOO.TXT"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_ALREADY_EXISTS);
    EXPECT_EQ(slurp("Foo.txt"), "lower");
    EXPECT_EQ(slurp("FOO.TXT"), "upper");
}

// Letters beyond ASCII change case too (the C library knows theirs in a
// UTF-8 locale), although they cross into the core as escape pairs.
TEST_F(PosixOnly, CaseOnlyRenameBeyondAscii) {
    char core[PLAT_PATH_SIZE];
    std::string typed = "C:\\\u00c9T\u00c9.txt";
    ASSERT_GT(enc_to_core(typed.data(), typed.size(), core, sizeof core), 0);
    put("\u00e9t\u00e9.txt", "accent");
    std::string oldlocale = setlocale(LC_CTYPE, nullptr);
    if (!setlocale(LC_CTYPE, "C.UTF-8"))
        GTEST_SKIP() << "no C.UTF-8 locale";
    EXPECT_EQ(plat_move(core, core), 0);
    setlocale(LC_CTYPE, oldlocale.c_str());
    EXPECT_EQ(listed(""), Names{"\u00c9T\u00c9.txt"});
}

// ---- listings --------------------------------------------------------------------

// A walk from Z:\ must not wander into the kernel's trees.
TEST_F(PosixOnly, SystemTreesAreNeverListed) {
    map("C=" + c + ";Z=/");
    Names root = names("Z:\\*");
    for (const char *n : {"proc", "sys", "dev", ".", ".."})
        EXPECT_EQ(std::find(root.begin(), root.end(), n), root.end()) << n;
    EXPECT_NE(std::find(root.begin(), root.end(), "tmp"), root.end());
}

// Probing names that do not exist used to read the directory each time:
// N probes in a directory of N entries must read it once, a listing serves
// the probes after it, and the run's own changes keep what was read true
// without a read; a change from outside is noticed.
TEST_F(PosixOnly, ProbesReadTheDirectoryOnce) {
    const int n = 200;
    for (int i = 0; i < n; i++)
        file("f" + std::to_string(i));
    unsigned long before = lookup_scans();
    for (int i = 0; i < n; i++)
        EXPECT_EQ(attr("C:\\G" + std::to_string(i)), ~0u);
    EXPECT_EQ(lookup_scans() - before, 1u);

    before = lookup_scans();
    EXPECT_EQ(names("C:\\f1?").size(), 11u);
    EXPECT_EQ(attr("C:\\F7"), 0x20u);
    EXPECT_EQ(lookup_scans() - before, 1u);

    int h = plat_open("C:\\NewOne", PLAT_OPEN_CREATE);
    ASSERT_GE(h, 0);
    plat_close(h);
    ASSERT_EQ(plat_delete("C:\\f3"), 0);
    before = lookup_scans();
    EXPECT_EQ(attr("C:\\newone"), 0x20u);
    EXPECT_EQ(attr("C:\\F3"), ~0u);
    EXPECT_EQ(lookup_scans() - before, 0u);

    struct timespec later[2] = {{0, UTIME_OMIT}, {2000000000, 0}};
    file("Outside");
    ASSERT_EQ(utimensat(AT_FDCWD, c.c_str(), later, 0), 0);
    EXPECT_EQ(attr("C:\\OUTSIDE"), 0x20u);
}

// A list naming missing files used to read the whole directory again for
// every such line (each line is expanded as typed, and the cache forgot
// the names it had read): a list of a hundred thousand lines took hours.
TEST_F(PosixOnly, ListOfMissingNamesReadsEachDirectoryOnce) {
    std::string list;
    for (int i = 0; i < 300; i++) {
        put("S/f" + std::to_string(i), "x");
        list += "C:\\S\\gone" + std::to_string(i) + "\n";
        if (i % 30 == 0)
            list += "C:\\S\\f" + std::to_string(i) + "\n";
    }
    put("LIST", list);
    resetsettings();
    PARAM p;
    ASSERT_EQ(initparam(&p), 0);
    std::strcpy(p.dstbasedir, "D:\\");
    std::strcpy(p.dstcurdir, "D:\\");
    p.dstbaselen = 3;
    unsigned long before = lookup_scans();
    int r;
    {
        Capture out(1);
        r = runsrc("@C:\\LIST", &p);
    }
    freeparam(&p);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(content("D:\\f270"), "x");
    EXPECT_LE(lookup_scans() - before, 3u);
}

// A directory swapped for a link to another tree between the listing that
// saw it and the walk into it used to be followed: the walk then listed,
// and acted on, the other tree. Held from its parent it is refused, and a
// path through it is not followed by name either.
TEST_F(PosixOnly, HeldDirectorySwappedForALinkIsRefused) {
    mkdir("t/sub");
    std::filesystem::create_directory(d + "/out");
    std::ofstream(d + "/out/f") << "outside";
    ASSERT_EQ(plat_holddir("C:\\t", nullptr), 0);
    PlatEntry e;
    ASSERT_TRUE(entry("C:\\t\\sub", &e, 0x37));
    ASSERT_EQ(rename(at("t/sub").c_str(), at("t/moved").c_str()), 0);
    ASSERT_TRUE(symlink(d + "/out", at("t/sub")));
    EXPECT_EQ(plat_holddir("C:\\t\\sub", &e), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_DIR_CHANGED);
    EXPECT_EQ(plat_delete("C:\\t\\sub\\f"), -1);
    plat_releasedir();
    EXPECT_EQ(content(d + "/out/f"), "outside");
}

// ---- attributes, modes and errors ------------------------------------------------

// The text must be what Wine and Samba write and accept, or a Windows build
// under Wine would not see the same hidden and system files.
TEST_F(PosixOnly, HiddenAndSystemLiveInTheExtendedAttribute) {
    file("f");
    file(".dot");
    std::string v;
    if (!xattr(at("f"), &v))
        GTEST_SKIP() << "no extended attributes here";
    EXPECT_EQ(attr("C:\\.dot"), 0x22u); // a dot name is hidden without one
    struct Set {
        unsigned attrib;
        const char *text;
    } sets[] = {{0x06, "0x6"}, {0x02, "0x2"}, {0x80, "none"}};
    for (const Set &k : sets) {
        ASSERT_EQ(plat_setattr("C:\\f", k.attrib), 0);
        xattr(at("f"), &v);
        EXPECT_EQ(v, k.text);
    }
    struct Read {
        std::string text;
        unsigned want;
    } reads[] = {
        {std::string("0x4\0", 4), 0x24}, // Samba stores the terminator
        {"0x22", 0x22},                   // archive from Samba is not taken from it
        {"0X6", 0x26}, {"0x", 0x20}, {"0x4zz", 0x20}, {"junk", 0x20},
    };
    for (const Read &k : reads) {
        ASSERT_EQ(setxattr(at("f").c_str(), "user.DOSATTRIB", k.text.data(), k.text.size(), 0), 0);
        EXPECT_EQ(attr("C:\\f"), k.want) << k.text;
    }
    // An attribute present but empty of bits overrides the dot rule.
    ASSERT_EQ(setxattr(at(".dot").c_str(), "user.DOSATTRIB", "0x0", 3, 0), 0);
    EXPECT_EQ(attr("C:\\.dot"), 0x20u);
}

// Read-only clears every write bit; clearing it gives owner write back,
// and group and other write where they read, less the umask. A directory
// without write bits is read-only too.
TEST_F(PosixOnly, ReadOnlyFollowsTheModeBits) {
    file("f");
    mkdir("dir");
    ASSERT_EQ(chmod(at("f").c_str(), 0644), 0);
    mode_t old = umask(022);
    ASSERT_EQ(plat_setattr("C:\\f", PLAT_ATTR_READONLY), 0);
    EXPECT_EQ(mode(at("f")), 0444u);
    ASSERT_EQ(plat_setattr("C:\\f", 0), 0);
    EXPECT_EQ(mode(at("f")), 0644u);
    ASSERT_EQ(chmod(at("f").c_str(), 0440), 0);
    umask(0);
    ASSERT_EQ(plat_setattr("C:\\f", PLAT_ATTR_NORMAL), 0);
    EXPECT_EQ(mode(at("f")), 0660u);
    umask(old);
    ASSERT_EQ(chmod(at("dir").c_str(), 0555), 0);
    EXPECT_EQ(attr("C:\\dir"), 0x11u);
}

// New files get 0666 less the umask, as any new file. The temporary file
// of an overwrite used to be made 0644 like any other, so an interrupted
// copy of a secret was left readable by all: it is its owner's alone
// until complete. A link at a destination's name is replaced as an entry,
// and the file written in its place used to take the permissions of the
// file it named.
TEST_F(PosixOnly, ModesNeverWiderThanAsked) {
    mode_t mask = umask(022);
    umask(mask);
    int h = plat_open("C:\\new", PLAT_OPEN_CREATE);
    ASSERT_GE(h, 0);
    plat_close(h);
    EXPECT_EQ(mode(at("new")), 0666u & ~mask);
    char tmp[PLAT_NATIVE_SIZE];
    h = plat_opentemp("C:\\", "_MOX_", tmp, sizeof tmp);
    ASSERT_GE(h, 0);
    plat_close(h);
    EXPECT_EQ(mode(at(tmp + 3)), 0600u);

    put("outside", "kept");
    ASSERT_EQ(chmod(at("outside").c_str(), 0666), 0);
    ASSERT_TRUE(symlink(at("outside"), at("link")));
    h = plat_opentemp("C:\\", "_MOX_", tmp, sizeof tmp);
    ASSERT_GE(h, 0);
    EXPECT_EQ(plat_keepperms(h, "C:\\link", "C:\\link"), 1); // nothing kept
    plat_close(h);
    EXPECT_EQ(mode(at(tmp + 3)), 0600u);
}

// Every errno a service can meet maps to the Win32 number the messages
// print; the text of an error read from errno is the system's own.
TEST_F(PosixOnly, ErrnoTableAndTexts) {
    struct Case {
        int err;
        unsigned code;
    } cases[] = {
        {ENOENT, 2}, {ENOTDIR, 3}, {EACCES, 5}, {EPERM, 5}, {EROFS, 5}, {ENOMEM, 8},
        {EXDEV, 17}, {EBUSY, 32}, {EEXIST, 183}, {ENOSPC, 112}, {EDQUOT, 112},
        {ENOTEMPTY, 145}, {ENAMETOOLONG, 206}, {ELOOP, 1921}, {EISDIR, 267}, {EINVAL, 87},
        {EIO, 31},
    };
    for (const Case &k : cases) {
        set_errno_error(k.err);
        EXPECT_EQ(plat_lasterror(), k.code) << k.err;
    }
    char text[256];
    set_errno_error(EROFS);
    plat_errortext(plat_lasterror(), text, sizeof text);
    EXPECT_STREQ(text, strerror(EROFS)); // the system's own, more precise text
    plat_setlasterror(5);
    plat_errortext(5, text, sizeof text);
    EXPECT_STREQ(text, "Access is denied.");
}

// ---- files ------------------------------------------------------------------------

// A FIFO in a tree must not hang a copy waiting for a writer.
TEST_F(PosixOnly, OpenFifoDoesNotBlock) {
    ASSERT_EQ(mkfifo(at("pipe").c_str(), 0666), 0);
    int h = plat_open("C:\\pipe", PLAT_OPEN_READ);
    ASSERT_GE(h, 0);
    char buf[4];
    EXPECT_EQ(plat_read(h, buf, sizeof buf), 0);
    plat_close(h);
}

// A /proc file claims to be empty: the kernel's copy finds nothing there,
// and the data must still come.
TEST_F(PosixOnly, CopyDataOfAFileClaimingNoSize) {
    int in = plat_open("/proc/self/cmdline", PLAT_OPEN_READ);
    int out = plat_open("C:\\x", PLAT_OPEN_CREATE);
    ASSERT_GE(in, 0);
    ASSERT_GE(out, 0);
    char buf[1000];
    long long got = plat_copydata(in, out, -1, buf, sizeof buf, nullptr);
    plat_close(in);
    plat_close(out);
    EXPECT_GT(got, 0);
    EXPECT_EQ(slurp("x").size(), (size_t)got);
}

// A sparse file used to come out fully allocated: its holes were read as
// zeros and written, so a 2 GiB image holding a few kilobytes took 2 GiB
// and half a minute. Its copy keeps the holes and every byte, also onto
// an append, cut by a limit in a hole or in data, and an armed write
// failure stops it at the buffer of data it would have failed at.
TEST_F(PosixOnly, SparseCopyKeepsHolesAndBytes) {
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
    std::string data = slurp("src");
    put("app", "head");
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
        std::string name = k.to + 3, native = c + "/" + name;
        if (k.failwrite != 0)
            EXPECT_EQ(got, -1);
        else
            EXPECT_EQ(got, (long long)(k.want.size() - (k.how == PLAT_OPEN_APPEND ? 4 : 0)));
        EXPECT_TRUE(slurp(name) == k.want) << slurp(name).size() << " bytes";
        ASSERT_EQ(stat(native.c_str(), &st), 0);
        EXPECT_LE(st.st_blocks * 512, 256 * 1024) << "allocated";
    }
}

// A temporary directory on no drive hands its native path on, and the
// services take it back.
TEST_F(PosixOnly, MakeTempOnNoDriveGivesANativePath) {
    std::filesystem::create_directory(top + "/elsewhere");
    sandbox::set_temp(top + "/elsewhere/");
    char path[PLAT_NATIVE_SIZE];
    int h = plat_mktemp(path, sizeof path);
    ASSERT_GE(h, 0) << plat_lasterror();
    plat_close(h);
    EXPECT_EQ(std::string(path).rfind(top + "/elsewhere/_MOX_", 0), 0u) << path;
    EXPECT_EQ(plat_delete(path), 0);
    EXPECT_TRUE(std::filesystem::is_empty(top + "/elsewhere"));
}

// ---- full disks -------------------------------------------------------------------

// A write onto a full disk must report 112 so the copy says "disk full"
// and the engine can throw its temporary file away; a move across file
// systems onto it keeps its source whole and leaves nothing behind.
TEST_F(PosixOnly, FullDiskGives112AndKeepsTheSource) {
    if (!mount_tmpfs(1024))
        GTEST_SKIP() << "mounting a tmpfs needs root";
    std::string data(2 << 20, 'z');
    put("huge.bin", data);
    EXPECT_EQ(plat_move("C:\\huge.bin", "D:\\huge.bin"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_DISK_FULL);
    EXPECT_TRUE(slurp("huge.bin") == data);
    EXPECT_TRUE(std::filesystem::is_empty(d));

    int h = plat_open("D:\\fill", PLAT_OPEN_CREATE);
    ASSERT_GE(h, 0);
    long r = 0;
    for (int i = 0; i < 32 && r >= 0; i++)
        r = plat_write_file(h, data.data(), 65536);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_DISK_FULL);
    plat_close(h);
}

// One drive letter spans many mounts: free space is that of the file
// system holding the path, not of the drive's root.
TEST_F(PosixOnly, FreeSpaceOfTheFileSystemHoldingThePath) {
    if (!mount_tmpfs(1024))
        GTEST_SKIP() << "mounting a tmpfs needs root";
    map("C=" + top);
    unsigned long long bytes = 0;
    ASSERT_EQ(plat_freespace("C:\\d\\not\\yet\\there.txt", &bytes), 0);
    EXPECT_GT(bytes, 0u);
    EXPECT_LE(bytes, 1024u * 1024u);
    ASSERT_EQ(plat_freespace(nullptr, &bytes), 0); // the drive's own directory
    EXPECT_GT(bytes, 1024u * 1024u);
}

// ---- moves across file systems ---------------------------------------------------

class PosixMoveAcross : public PosixOnly {
protected:
    std::string other; // a native directory on another file system than C's

    void SetUp() override {
        PosixOnly::SetUp();
        if (!IsSkipped() && (other = sandbox::other_fs()).empty())
            GTEST_SKIP() << "no second file system to move to";
    }
};

// The copy takes its source's mode.
TEST_F(PosixMoveAcross, KeepsTheMode) {
    put("f", "data");
    ASSERT_EQ(chmod(at("f").c_str(), 0640), 0);
    ASSERT_EQ(plat_move("C:\\f", (other + "/f").c_str()), 0);
    EXPECT_EQ(mode(other + "/f"), 0640u);
}

// A move that fails half-way used to be the classic way to lose a file:
// the source must stay whole and no partial copy remain.
TEST_F(PosixMoveAcross, FailingHalfWayKeepsTheSource) {
    std::string data(300000, 'q');
    put("f.bin", data);
    plat_failcall(PLAT_CALL_WRITE, 2, PLAT_ERR_DISK_FULL); // the second chunk
    EXPECT_EQ(plat_move("C:\\f.bin", (other + "/f.bin").c_str()), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_DISK_FULL);
    EXPECT_TRUE(slurp("f.bin") == data);
    EXPECT_TRUE(std::filesystem::is_empty(other));
}

// A source written to while it was copied was deleted all the same, and
// what was written meanwhile was lost.
TEST_F(PosixMoveAcross, KeepsASourceThatChanged) {
    static std::string src;
    src = at("f.bin");
    put("f.bin", "first");
    plat_hookcall(PLAT_CALL_READ, 1,
                  [](void *) { std::ofstream(src, std::ios::binary | std::ios::app) << " more"; },
                  nullptr);
    EXPECT_EQ(plat_move("C:\\f.bin", (other + "/f.bin").c_str()), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_SHARING_VIOLATION);
    EXPECT_EQ(slurp("f.bin"), "first more");
    EXPECT_TRUE(std::filesystem::is_empty(other));
}

// The source was looked at, then deleted by name: a file saved over it in
// between (an editor's save) was deleted without being copied.
TEST_F(PosixMoveAcross, KeepsAFileSavedOverTheSource) {
    static std::string src;
    src = at("f.bin");
    put("f.bin", "first");
    plat_hookcall(PLAT_CALL_DELETE, 1,
                  [](void *) {
                      std::ofstream(src + "~", std::ios::binary) << "saved";
                      std::rename((src + "~").c_str(), src.c_str());
                  },
                  nullptr);
    EXPECT_EQ(plat_move("C:\\f.bin", (other + "/f.bin").c_str()), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_SHARING_VIOLATION);
    EXPECT_EQ(slurp("f.bin"), "saved");
    EXPECT_TRUE(std::filesystem::is_empty(other));
}

// A source that cannot be deleted after the copy (its directory is
// read-only) must not end as two files: the copy is taken back.
TEST_F(PosixMoveAcross, UndoneWhenTheSourceStays) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root deletes from read-only directories";
    put("ro/f", "keep");
    ASSERT_EQ(chmod(at("ro").c_str(), 0555), 0);
    EXPECT_EQ(plat_move("C:\\ro\\f", (other + "/f").c_str()), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_ACCESS_DENIED);
    chmod(at("ro").c_str(), 0755);
    EXPECT_EQ(slurp("ro/f"), "keep");
    EXPECT_TRUE(std::filesystem::is_empty(other));
}

// Killed half-way, a move left a truncated file under the final name,
// where it looks like the whole file (a move into the trash, say).
TEST_F(PosixMoveAcross, KilledLeavesNothingUnderTheFinalName) {
    std::string data(300000, 'k');
    put("f.bin", data);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        plat_hookcall(PLAT_CALL_WRITE, 2, [](void *) { raise(SIGKILL); }, nullptr);
        plat_move("C:\\f.bin", (other + "/f.bin").c_str());
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_FALSE(std::filesystem::exists(other + "/f.bin"));
    EXPECT_TRUE(slurp("f.bin") == data);
}

} // namespace
