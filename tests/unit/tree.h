// A throw-away directory tree for tests that go through the platform layer:
// drives C and D are mapped onto two of its directories, the process works
// in C's root, and everything is undone when the fixture ends. The Windows
// build has a fixture of its own with the same members (win32_tree.h).
#pragma once

#ifdef _WIN32
#include "win32_tree.h"
#else

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform.h"
#include "runfs/runfs.h"

class TreeTest : public ::testing::Test {
protected:
    std::string top; // the temporary directory itself
    std::string c, d; // the native directories of drives C and D

    void SetUp() override {
        std::string tmpl = std::filesystem::temp_directory_path().string() + "/moxtree.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        top = std::filesystem::canonical(tmpl).string();
        c = top + "/c";
        d = top + "/d";
        std::filesystem::create_directory(c);
        std::filesystem::create_directory(d);
        const char *old = ::getenv("MOX32_DRIVES");
        hadDrives = old != nullptr;
        if (hadDrives)
            oldDrives = old;
        oldCwd = std::filesystem::current_path().string();
        ::setenv("MOX32_DRIVES", ("C=" + c + ";D=" + d).c_str(), 1);
        cd(c);
        runfs_choose(0); // what an echo run of an earlier test would have done
    }

    void TearDown() override {
        runfs_choose(0);
        ::chdir(oldCwd.c_str());
        if (hadDrives)
            ::setenv("MOX32_DRIVES", oldDrives.c_str(), 1);
        else
            ::unsetenv("MOX32_DRIVES");
        plat_reload();
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(top, ec);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
            if (it->symlink_status(ec).type() == std::filesystem::file_type::directory)
                ::chmod(it->path().c_str(), 0755);
        std::filesystem::remove_all(top, ec);
    }

    // Works in a native directory of the tree from now on.
    void cd(const std::string &native) {
        ASSERT_EQ(::chdir(native.c_str()), 0) << native;
        plat_reload();
    }

    // Native path of a name relative to drive C's directory.
    std::string at(const std::string &rel) const { return c + "/" + rel; }

    void mkdir(const std::string &rel) { std::filesystem::create_directories(at(rel)); }

    void file(const std::string &rel, size_t size = 0) {
        std::filesystem::create_directories(std::filesystem::path(at(rel)).parent_path());
        std::ofstream(at(rel), std::ios::binary) << std::string(size, 'x');
    }

    bool exists(const std::string &rel) const {
        struct stat st;
        return ::lstat(at(rel).c_str(), &st) == 0;
    }

    // Makes a symbolic link at the native path `path` to `target`.
    static bool symlink(const std::string &target, const std::string &path) {
        return ::symlink(target.c_str(), path.c_str()) == 0;
    }

private:
    std::string oldDrives, oldCwd;
    bool hadDrives = false;
};

// Catches what the core prints on one standard stream (it writes through
// the platform layer straight to the descriptor).
class Capture {
public:
    explicit Capture(int fd) : fd_(fd) {
        std::fflush(nullptr);
        plat_flush(fd == 1 ? PLAT_STDOUT : PLAT_STDERR);
        std::FILE *f = std::tmpfile();
        tmp_ = f;
        saved_ = ::dup(fd);
        ::dup2(::fileno(f), fd);
    }
    ~Capture() { text(); }
    // Everything printed since the start; ends the capture.
    std::string text() {
        if (saved_ >= 0) {
            plat_flush(fd_ == 1 ? PLAT_STDOUT : PLAT_STDERR);
            std::fflush(nullptr);
            ::dup2(saved_, fd_);
            ::close(saved_);
            saved_ = -1;
            std::rewind(tmp_);
            char buf[4096];
            size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, tmp_)) > 0)
                out_.append(buf, n);
            std::fclose(tmp_);
        }
        return out_;
    }

private:
    int fd_, saved_ = -1;
    std::FILE *tmp_ = nullptr;
    std::string out_;
};

#endif
