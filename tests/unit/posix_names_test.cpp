// Directories and names of the POSIX backend: make, remove, delete, move,
// replace, on real temporary trees.
#include "posix_sandbox.h"

#include <dirent.h>
#include <clocale>
#include <csignal>
#include <sys/wait.h>
#include <sys/xattr.h>

#include <set>
#include <vector>

namespace {

class PosixNames : public PosixSandbox {
  protected:
    std::set<std::string> names_in(const std::string &dir) {
        std::set<std::string> out;
        DIR *dp = opendir(dir.c_str());
        if (!dp)
            return out;
        while (struct dirent *e = readdir(dp))
            if (strcmp(e->d_name, ".") && strcmp(e->d_name, ".."))
                out.insert(e->d_name);
        closedir(dp);
        return out;
    }
};

// A move that replaced its destination would lose the user's file: every
// kind of existing destination must be refused with 183 and both kept.
TEST_F(PosixNames, MoveNeverReplaces) {
    write_file(c + "/a.txt", "source");
    write_file(c + "/b.txt", "dest");
    ASSERT_EQ(mkdir((c + "/empty").c_str(), 0777), 0);
    ASSERT_EQ(mkdir((c + "/dir").c_str(), 0777), 0);
    struct Case {
        const char *from, *to;
    } cases[] = {
        {"C:\\a.txt", "C:\\b.txt"}, // file over file
        {"C:\\a.txt", "C:\\B.TXT"}, // the same, found ignoring case
        {"C:\\dir", "C:\\empty"},   // rename(2) would replace an empty directory
        {"C:\\a.txt", "C:\\empty"}, // file over directory
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(std::string(k.from) + " -> " + k.to);
        plat_setlasterror(0);
        EXPECT_EQ(plat_move(k.from, k.to), -1);
        EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_ALREADY_EXISTS);
    }
    EXPECT_EQ(read_file(c + "/a.txt"), "source");
    EXPECT_EQ(read_file(c + "/b.txt"), "dest");
    EXPECT_TRUE(exists(c + "/dir"));
    EXPECT_TRUE(exists(c + "/empty"));
}

TEST_F(PosixNames, MoveWithinDriveAndItsErrors) {
    write_file(c + "/a.txt", "data");
    ASSERT_EQ(mkdir((c + "/sub").c_str(), 0777), 0);
    ASSERT_EQ(plat_move("C:\\A.TXT", "C:\\sub\\New.txt"), 0);
    EXPECT_EQ(read_file(c + "/sub/New.txt"), "data");
    EXPECT_FALSE(exists(c + "/a.txt"));
    // The lookup cache must learn the move: the new name is found at once.
    PlatFileId id;
    EXPECT_EQ(plat_fileid("C:\\sub\\new.txt", &id), 0);

    EXPECT_EQ(plat_move("C:\\nothere", "C:\\x"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_FILE_NOT_FOUND);
    EXPECT_EQ(plat_move("C:\\sub\\New.txt", "C:\\missing\\x"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_PATH_NOT_FOUND);
    EXPECT_EQ(read_file(c + "/sub/New.txt"), "data");
}

// Windows respells a name when only its letter case changes; a move that
// saw "already exists" there, or did nothing, would leave the old case.
TEST_F(PosixNames, CaseOnlyRenameRespells) {
    write_file(c + "/readme.txt", "text");
    ASSERT_EQ(mkdir((c + "/folder").c_str(), 0777), 0);
    ASSERT_EQ(plat_move("C:\\readme.txt", "C:\\ReadMe.TXT"), 0);
    ASSERT_EQ(plat_move("C:\\folder", "C:\\FOLDER"), 0);
    EXPECT_EQ(names_in(c), (std::set<std::string>{"FOLDER", "ReadMe.TXT"}));
    EXPECT_EQ(read_file(c + "/ReadMe.TXT"), "text");

    // Letters beyond ASCII too (their case is known in a UTF-8 locale),
    // although they cross into the core as escape pairs.
    char core[PLAT_PATH_SIZE];
    std::string typed = "C:\\\u00c9T\u00c9.txt";
    ASSERT_GT(enc_to_core(typed.data(), typed.size(), core, sizeof core), 0);
    write_file(c + "/\u00e9t\u00e9.txt", "accent");
    std::string oldlocale = setlocale(LC_CTYPE, nullptr);
    if (setlocale(LC_CTYPE, "C.UTF-8")) {
        EXPECT_EQ(plat_move(core, core), 0);
        setlocale(LC_CTYPE, oldlocale.c_str());
        EXPECT_EQ(read_file(c + "/\u00c9T\u00c9.txt"), "accent");
        EXPECT_FALSE(exists(c + "/\u00e9t\u00e9.txt"));
    }

    // The same spelling again changes nothing and is no error.
    EXPECT_EQ(plat_move("C:\\ReadMe.TXT", "C:\\ReadMe.TXT"), 0);
    EXPECT_EQ(read_file(c + "/ReadMe.TXT"), "text");
}

// Two different files whose names differ only in case are two entries on
// Linux: moving one onto the other is a replace and must be refused.
TEST_F(PosixNames, CaseTwinIsNotTheSameEntry) {
    write_file(c + "/x.txt", "lower");
    write_file(c + "/X.txt", "upper");
    EXPECT_EQ(plat_move("C:\\x.txt", "C:\\X.txt"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_ALREADY_EXISTS);
    EXPECT_EQ(read_file(c + "/x.txt"), "lower");
    EXPECT_EQ(read_file(c + "/X.txt"), "upper");
}

TEST_F(PosixNames, CrossDeviceMoveKeepsDataTimeModeAttributes) {
    if (!other_device())
        GTEST_SKIP() << "no second file system to move to";
    std::string data(200000, 'x');
    for (size_t i = 0; i < data.size(); i++)
        data[i] = (char)(i * 7);
    std::string src = c + "/big.bin";
    write_file(src, data);
    ASSERT_EQ(chmod(src.c_str(), 0640), 0);
    struct timespec ts[2] = {{1000000000, 0}, {1234567890, 123456789}};
    ASSERT_EQ(utimensat(AT_FDCWD, src.c_str(), ts, 0), 0);
    bool xattrs = setxattr(src.c_str(), "user.DOSATTRIB", "0x2", 3, 0) == 0;

    ASSERT_EQ(plat_move("C:\\big.bin", "D:\\big.bin"), 0) << plat_lasterror();
    std::string dst = d + "/big.bin";
    EXPECT_FALSE(exists(src));
    EXPECT_EQ(read_file(dst), data);
    struct stat st;
    ASSERT_EQ(stat(dst.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1234567890);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);
    char value[16] = {0};
    if (xattrs) {
        ssize_t n = getxattr(dst.c_str(), "user.DOSATTRIB", value, sizeof value - 1);
        if (n >= 0 || errno != ENOTSUP) { // a destination without xattrs drops them
            EXPECT_EQ(std::string(value, n > 0 ? (size_t)n : 0), "0x2");
        }
    }
}

// Across file systems a directory cannot be moved, nor anything replaced
// in one step: 17, and nothing touched.
TEST_F(PosixNames, CrossDeviceRefusals) {
    if (!other_device())
        GTEST_SKIP() << "no second file system to move to";
    ASSERT_EQ(mkdir((c + "/tree").c_str(), 0777), 0);
    write_file(c + "/tree/f", "1");
    write_file(d + "/old", "o");
    EXPECT_EQ(plat_move("C:\\tree", "D:\\tree"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_NOT_SAME_DEVICE);
    EXPECT_EQ(plat_replace("C:\\tree\\f", "D:\\old"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_NOT_SAME_DEVICE);
    EXPECT_EQ(read_file(c + "/tree/f"), "1");
    EXPECT_EQ(read_file(d + "/old"), "o");
    EXPECT_FALSE(exists(d + "/tree"));
}

// A cross-device move that fails half-way used to be the classic way to
// lose a file: the source must stay whole and no partial copy remain.
TEST_F(PosixNames, CrossDeviceMoveFailingHalfWayKeepsSource) {
    if (!other_device())
        GTEST_SKIP() << "no second file system to move to";
    std::string data(300000, 'q');
    write_file(c + "/f.bin", data);
    write_file(d + "/other", "existing");

    plat_failcall(PLAT_CALL_WRITE, 2, PLAT_ERR_DISK_FULL); // the second chunk
    EXPECT_EQ(plat_move("C:\\f.bin", "D:\\f.bin"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_DISK_FULL);
    EXPECT_EQ(read_file(c + "/f.bin"), data);
    EXPECT_FALSE(exists(d + "/f.bin"));

    // Never over an existing file either, even across devices.
    EXPECT_EQ(plat_move("C:\\f.bin", "D:\\other"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_ALREADY_EXISTS);
    EXPECT_EQ(read_file(d + "/other"), "existing");
    EXPECT_EQ(read_file(c + "/f.bin"), data);
}

// The same with a real full disk: a 1 MiB tmpfs cannot take 2 MiB.
TEST_F(PosixNames, CrossDeviceMoveOntoFullDiskKeepsSource) {
    if (!mount_tmpfs(1024))
        GTEST_SKIP() << "mounting a tmpfs needs root";
    std::string data(2 << 20, 'z');
    write_file(c + "/huge.bin", data);
    EXPECT_EQ(plat_move("C:\\huge.bin", "D:\\huge.bin"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_DISK_FULL);
    EXPECT_EQ(read_file(c + "/huge.bin"), data);
    EXPECT_FALSE(exists(d + "/huge.bin"));
}

// A source that cannot be deleted after the copy (its directory is
// read-only) must not end as two files: the copy is taken back.
TEST_F(PosixNames, CrossDeviceMoveUndoneWhenSourceStays) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root deletes from read-only directories";
    if (!other_device())
        GTEST_SKIP() << "no second file system to move to";
    ASSERT_EQ(mkdir((c + "/ro").c_str(), 0777), 0);
    write_file(c + "/ro/f", "keep");
    ASSERT_EQ(chmod((c + "/ro").c_str(), 0555), 0);
    EXPECT_EQ(plat_move("C:\\ro\\f", "D:\\f"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_ACCESS_DENIED);
    chmod((c + "/ro").c_str(), 0777);
    EXPECT_EQ(read_file(c + "/ro/f"), "keep");
    EXPECT_FALSE(exists(d + "/f"));
}

// A source written to while a move across file systems copied it was
// deleted all the same, and what was written meanwhile was lost.
TEST_F(PosixNames, CrossDeviceMoveKeepsASourceThatChanged) {
    if (!other_device())
        GTEST_SKIP() << "no second file system to move to";
    static std::string src;
    src = c + "/f.bin";
    write_file(src, "first");
    plat_hookcall(PLAT_CALL_READ, 1,
                  [](void *) { std::ofstream(src, std::ios::binary | std::ios::app) << " more"; },
                  nullptr);
    EXPECT_EQ(plat_move("C:\\f.bin", "D:\\f.bin"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_SHARING_VIOLATION);
    EXPECT_EQ(read_file(src), "first more");
    EXPECT_EQ(names_in(d), std::set<std::string>{});
}

// Killed half-way, a move across file systems left a truncated file under
// the final name, where it looks like the whole file (a move into the
// trash on another file system, say).
TEST_F(PosixNames, KilledCrossDeviceMoveLeavesNothingUnderTheFinalName) {
    if (!other_device())
        GTEST_SKIP() << "no second file system to move to";
    std::string data(300000, 'k');
    write_file(c + "/f.bin", data);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        plat_hookcall(PLAT_CALL_WRITE, 2, [](void *) { raise(SIGKILL); }, nullptr);
        plat_move("C:\\f.bin", "D:\\f.bin");
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_FALSE(exists(d + "/f.bin"));
    EXPECT_EQ(read_file(c + "/f.bin"), data);
}

TEST_F(PosixNames, ReplaceIsAtomicAndGuarded) {
    write_file(c + "/new", "new data");
    write_file(c + "/old", "old data");
    ASSERT_EQ(plat_replace("C:\\new", "C:\\OLD"), 0);
    // The destination keeps its own spelling and gets the new contents.
    EXPECT_EQ(read_file(c + "/old"), "new data");
    EXPECT_FALSE(exists(c + "/new"));

    // Read-only is a protection against an overwrite, as against a delete.
    write_file(c + "/new", "newer");
    ASSERT_EQ(chmod((c + "/old").c_str(), 0444), 0);
    EXPECT_EQ(plat_replace("C:\\new", "C:\\old"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_ACCESS_DENIED);
    EXPECT_EQ(read_file(c + "/old"), "new data");
    EXPECT_EQ(read_file(c + "/new"), "newer");

    // An armed failure touches nothing.
    ASSERT_EQ(chmod((c + "/old").c_str(), 0644), 0);
    plat_failcall(PLAT_CALL_REPLACE, 1, PLAT_ERR_SHARING_VIOLATION);
    EXPECT_EQ(plat_replace("C:\\new", "C:\\old"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_SHARING_VIOLATION);
    EXPECT_EQ(read_file(c + "/old"), "new data");
}

// Windows keeps a read-only file on delete; the core relies on that and
// clears the attribute first when it means to delete.
TEST_F(PosixNames, DeleteRefusals) {
    write_file(c + "/ro.txt", "keep");
    ASSERT_EQ(chmod((c + "/ro.txt").c_str(), 0444), 0);
    ASSERT_EQ(mkdir((c + "/dir").c_str(), 0777), 0);
    ASSERT_EQ(symlink((c + "/dir").c_str(), (c + "/dirlink").c_str()), 0);
    struct Case {
        const char *path;
        unsigned err;
    } cases[] = {
        {"C:\\ro.txt", PLAT_ERR_ACCESS_DENIED},
        {"C:\\dir", PLAT_ERR_ACCESS_DENIED},
        {"C:\\dirlink", PLAT_ERR_ACCESS_DENIED},
        {"C:\\none.txt", PLAT_ERR_FILE_NOT_FOUND},
        {"C:\\nodir\\none.txt", PLAT_ERR_PATH_NOT_FOUND},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.path);
        EXPECT_EQ(plat_delete(k.path), -1);
        EXPECT_EQ(plat_lasterror(), k.err);
    }
    EXPECT_EQ(read_file(c + "/ro.txt"), "keep");
    EXPECT_TRUE(exists(c + "/dir"));
    EXPECT_TRUE(exists(c + "/dirlink"));
    ASSERT_EQ(chmod((c + "/ro.txt").c_str(), 0644), 0);
    EXPECT_EQ(plat_delete("C:\\RO.TXT"), 0);
    EXPECT_FALSE(exists(c + "/ro.txt"));
}

TEST_F(PosixNames, MkdirAndRmdirErrors) {
    EXPECT_EQ(plat_mkdir("C:\\Made"), 0);
    EXPECT_TRUE(exists(c + "/Made"));
    EXPECT_EQ(plat_mkdir("C:\\made"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_ALREADY_EXISTS);
    EXPECT_EQ(plat_mkdir("C:\\nope\\deeper"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_PATH_NOT_FOUND);

    write_file(c + "/Made/f", "x");
    EXPECT_EQ(plat_rmdir("C:\\made"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_DIR_NOT_EMPTY);
    EXPECT_EQ(read_file(c + "/Made/f"), "x");
    EXPECT_EQ(plat_delete("C:\\made\\f"), 0);
    EXPECT_EQ(plat_rmdir("C:\\made"), 0);
    EXPECT_FALSE(exists(c + "/Made"));
    // Made again right after: the cache must not still hold the old entry.
    EXPECT_EQ(plat_mkdir("C:\\made"), 0);
    EXPECT_TRUE(exists(c + "/made"));
}

// An armed failure fires on exactly the nth call, touches nothing, and
// is gone afterwards.
TEST_F(PosixNames, FailCallFiresOnNthCallThenDisarms) {
    for (const char *n : {"a", "b", "c"})
        write_file(c + "/" + n, n);
    plat_failcall(PLAT_CALL_DELETE, 2, PLAT_ERR_SHARING_VIOLATION);
    EXPECT_EQ(plat_delete("C:\\a"), 0);
    EXPECT_EQ(plat_delete("C:\\b"), -1);
    EXPECT_EQ(plat_lasterror(), (unsigned)PLAT_ERR_SHARING_VIOLATION);
    EXPECT_TRUE(exists(c + "/b"));
    EXPECT_EQ(plat_delete("C:\\b"), 0);
    EXPECT_EQ(plat_delete("C:\\c"), 0);
}

} // namespace
