// A temporary tree for the POSIX backend's tests: drives C and D mapped to
// its directories c and d, the working directory in c. The working
// directory, MOX32_DRIVES, TEMP and TMPDIR are restored, armed failures
// disarmed, a tmpfs mounted on d unmounted and the tree removed afterwards.
#pragma once

#include "platform/platform.h"
#include "platform/posix/encoding.h"
#include "platform/posix/native.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <ftw.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

class PosixSandbox : public ::testing::Test {
  protected:
    std::string root; // the sandbox
    std::string c, d; // the directories of drives C and D

    void SetUp() override {
        ASSERT_EQ(enc_init("UTF-8"), 0);
        char buf[4096];
        ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
        oldcwd_ = buf;
        save_env("MOX32_DRIVES", 0);
        save_env("TEMP", 1);
        save_env("TMPDIR", 2);
        const char *tmp = std::getenv("TMPDIR");
        std::string tmpl =
            std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/moxtest_XXXXXX";
        std::vector<char> t(tmpl.begin(), tmpl.end());
        t.push_back('\0');
        ASSERT_NE(mkdtemp(t.data()), nullptr);
        ASSERT_NE(realpath(t.data(), buf), nullptr);
        root = buf;
        c = root + "/c";
        d = root + "/d";
        ASSERT_EQ(mkdir(c.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(d.c_str(), 0755), 0);
        setenv("MOX32_DRIVES", ("C=" + c + ";D=" + d).c_str(), 1);
        ASSERT_EQ(chdir(c.c_str()), 0);
        plat_reload();
    }

    void TearDown() override {
        for (int i = 0; i < PLAT_CALL_COUNT; i++) {
            plat_failcall((PlatCall)i, 0, 0);
            plat_hookcall((PlatCall)i, 0, nullptr, nullptr);
        }
        if (chdir(oldcwd_.c_str()) != 0)
            ADD_FAILURE() << "cannot restore the working directory";
        if (mounted_)
            umount2(d.c_str(), MNT_DETACH);
        restore_env("MOX32_DRIVES", 0);
        restore_env("TEMP", 1);
        restore_env("TMPDIR", 2);
        plat_reload();
        if (!root.empty())
            nftw(root.c_str(), remove_one, 16, FTW_DEPTH | FTW_PHYS);
    }

    static void write_file(const std::string &path, const std::string &data) {
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        ASSERT_TRUE(f.good()) << path;
        f << data;
    }

    static std::string read_file(const std::string &path) {
        std::ifstream f(path, std::ios::binary);
        std::ostringstream s;
        s << f.rdbuf();
        return s.str();
    }

    static bool exists(const std::string &path) {
        struct stat st;
        return lstat(path.c_str(), &st) == 0;
    }

    // Mounts a tmpfs of `kib` KiB on d (root only). False when it cannot.
    bool mount_tmpfs(unsigned kib) {
        if (geteuid() != 0)
            return false;
        if (mounted_) {
            umount2(d.c_str(), MNT_DETACH);
            mounted_ = false;
        }
        std::string opts = "size=" + std::to_string(kib) + "k";
        if (mount("tmpfs", d.c_str(), "tmpfs", 0, opts.c_str()) != 0)
            return false;
        mounted_ = true;
        plat_reload();
        return true;
    }

    // True when d lies on another file system than c, mounting one if
    // need be.
    bool other_device() {
        struct stat sc, sd;
        if (stat(c.c_str(), &sc) == 0 && stat(d.c_str(), &sd) == 0 && sc.st_dev != sd.st_dev)
            return true;
        return mount_tmpfs(64 * 1024);
    }

  private:
    std::string oldcwd_;
    std::string oldenv_[3];
    bool hadenv_[3] = {false, false, false};
    bool mounted_ = false;

    void save_env(const char *name, int i) {
        const char *v = std::getenv(name);
        hadenv_[i] = v != nullptr;
        oldenv_[i] = v != nullptr ? v : "";
    }

    void restore_env(const char *name, int i) {
        if (hadenv_[i])
            setenv(name, oldenv_[i].c_str(), 1);
        else
            unsetenv(name);
    }

    static int remove_one(const char *path, const struct stat *, int, struct FTW *) {
        chmod(path, 0700);
        remove(path);
        return 0;
    }
};
