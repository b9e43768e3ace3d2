// Helpers shared by the end-to-end tests of the copying engine: file times,
// DOS attributes kept in extended attributes, tree listings and small
// mounted file systems for the tests that need a full disk.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <stdexcept>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {

// An even second in 2023, so that the DOS two-second grain keeps it whole.
constexpr time_t T0 = 1700000000;

inline void set_mtime(const std::string &path, time_t t) {
    struct timespec ts[2];
    ts[0].tv_sec = t;
    ts[0].tv_nsec = 0;
    ts[1] = ts[0];
    if (::utimensat(AT_FDCWD, path.c_str(), ts, AT_SYMLINK_NOFOLLOW) != 0)
        throw std::runtime_error("utimensat " + path);
}

inline time_t mtime_of(const std::string &path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return -1;
    return st.st_mtime;
}

inline bool is_dir(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The text of user.DOSATTRIB, or "" when the file has none.
inline std::string dosattrib(const std::string &path) {
    char buf[64];
    ssize_t n = ::getxattr(path.c_str(), "user.DOSATTRIB", buf, sizeof buf);
    return n < 0 ? std::string() : std::string(buf, static_cast<size_t>(n));
}

inline void set_dosattrib(const std::string &path, const std::string &text) {
    if (::setxattr(path.c_str(), "user.DOSATTRIB", text.data(), text.size(), 0) != 0)
        throw std::runtime_error("setxattr " + path);
}

// Every entry below dir, relative, sorted; directories end with "/".
inline void walk(const std::string &dir, const std::string &rel, std::vector<std::string> &out) {
    DIR *d = ::opendir(dir.c_str());
    if (d == nullptr)
        return;
    while (struct dirent *e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        std::string full = dir + "/" + name;
        if (is_dir(full)) {
            out.push_back(rel + name + "/");
            walk(full, rel + name + "/", out);
        } else {
            out.push_back(rel + name);
        }
    }
    ::closedir(d);
}

inline std::vector<std::string> tree(const std::string &dir) {
    std::vector<std::string> out;
    walk(dir, "", out);
    std::sort(out.begin(), out.end());
    return out;
}

// Standard output split into lines.
inline std::vector<std::string> outlines(const RunResult &r) { return lines(r.out); }

// The summary number as the program prints it: right-aligned in eight columns.
inline std::string count(unsigned n, const std::string &what) {
    std::string num = std::to_string(n);
    return std::string(num.size() < 8 ? 8 - num.size() : 0, ' ') + num + " " + what;
}

inline const char *READING = "Readind dir(s) .....";
inline const char *ABORT = "Error! xfind() abort. ERROR_FUNC (code = 253)";

inline bool has_line(const RunResult &r, const std::string &line) {
    std::vector<std::string> all = lines(r.out);
    return std::find(all.begin(), all.end(), line) != all.end();
}

// A small tmpfs mounted over a directory for the life of the object (root
// only); the directory's own contents are hidden meanwhile.
class TmpfsMount {
public:
    TmpfsMount(const std::string &dir, const std::string &size) : dir_(dir) {
        std::string opts = "size=" + size;
        mounted_ = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, opts.c_str()) == 0;
    }
    ~TmpfsMount() {
        if (mounted_)
            ::umount2(dir_.c_str(), MNT_DETACH);
    }
    TmpfsMount(const TmpfsMount &) = delete;
    TmpfsMount &operator=(const TmpfsMount &) = delete;
    bool ok() const { return mounted_; }

private:
    std::string dir_;
    bool mounted_ = false;
};

// A read-only bind mount of a directory (root only), so that a test that
// reads a real system tree cannot change it even through a bug.
class ReadOnlyBind {
public:
    ReadOnlyBind(const std::string &from, const std::string &to) : to_(to) {
        if (::mount(from.c_str(), to.c_str(), nullptr, MS_BIND, nullptr) != 0)
            return;
        mounted_ = true;
        readonly_ = ::mount(nullptr, to.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY,
                            nullptr) == 0;
    }
    ~ReadOnlyBind() {
        if (mounted_)
            ::umount2(to_.c_str(), MNT_DETACH);
    }
    ReadOnlyBind(const ReadOnlyBind &) = delete;
    ReadOnlyBind &operator=(const ReadOnlyBind &) = delete;
    bool ok() const { return mounted_ && readonly_; }

private:
    std::string to_;
    bool mounted_ = false;
    bool readonly_ = false;
};

inline unsigned long long free_bytes(const std::string &path) {
    struct statvfs sv;
    if (::statvfs(path.c_str(), &sv) != 0)
        return 0;
    return static_cast<unsigned long long>(sv.f_bavail) * sv.f_frsize;
}

} // namespace e2e
