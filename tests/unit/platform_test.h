// The fixture of the platform contract tests (platform_*_test.cpp): what
// every backend must keep, tested once and run against each. The tree of
// tree.h gives drives C and D a throw-away directory on either build; what
// the sandboxes do differently lies in posix_sandbox.cpp and
// win32_sandbox.cpp, of which the build takes its backend's. Names are
// spelled in UTF-8 on disk and in code page 932 through the services.
#pragma once

#include "tree.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

typedef std::vector<std::string> Names;

namespace sandbox {
// Per test, after the tree is made: the backend's text boundary as a run
// sets it up.
void setup();
// Undoes setup and set_temp.
void teardown();
// Makes plat_mktemp write into the directory `dir` (a path of the tree).
void set_temp(const std::string &dir);
// A new empty directory on another file system than drive C's, as a path
// the services take; "" when there is none. Removed by teardown.
std::string other_fs();
// The finest step of a file time the backend keeps, in nanoseconds.
long time_grain();
// The moment a local date and time stands for, in the system's time zone
// as the backend reads it.
long long local_moment(int year, int month, int day, int hour, int minute, int second);
} // namespace sandbox

class PlatformTest : public TreeTest {
protected:
    void SetUp() override {
        TreeTest::SetUp();
        if (!IsSkipped())
            sandbox::setup();
    }

    void TearDown() override {
        for (int i = 0; i < PLAT_CALL_COUNT; i++) {
            plat_failcall((PlatCall)i, 0, 0);
            plat_hookcall((PlatCall)i, 0, nullptr, nullptr);
        }
        sandbox::teardown();
        TreeTest::TearDown();
    }

    // The path on disk of a name relative to drive C's root.
    std::filesystem::path disk(const std::string &rel) const {
        return std::filesystem::u8path(at(rel));
    }

    // Writes a file, making its directories.
    void put(const std::string &rel, const std::string &data) const {
        std::filesystem::create_directories(disk(rel).parent_path());
        std::ofstream(disk(rel), std::ios::binary) << data;
    }

    std::string slurp(const std::string &rel) const {
        std::ifstream in(disk(rel), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // The names a directory holds, as stored, sorted bytewise. (An empty
    // drive root cannot be listed on Windows: it holds no "." either.)
    Names listed(const std::string &rel) const {
        Names out;
        std::error_code ec;
        EXPECT_TRUE(std::filesystem::is_directory(disk(rel), ec)) << rel;
        for (const auto &e : std::filesystem::directory_iterator(disk(rel), ec)) {
            std::u8string u = e.path().filename().u8string();
            out.push_back(std::string(u.begin(), u.end()));
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    // Sets the attribute word; false when the file system drops the
    // hidden or system bit asked for (no extended attributes there).
    static bool mark(const std::string &path, unsigned attrib) {
        unsigned got = 0;
        EXPECT_EQ(plat_setattr(path.c_str(), attrib), 0) << path;
        EXPECT_EQ(plat_getattr(path.c_str(), &got), 0) << path;
        return (got & attrib & (PLAT_ATTR_HIDDEN | PLAT_ATTR_SYSTEM)) ==
               (attrib & (PLAT_ATTR_HIDDEN | PLAT_ATTR_SYSTEM));
    }

    static unsigned attr(const std::string &path) {
        unsigned a = 0;
        return plat_getattr(path.c_str(), &a) == 0 ? a : ~0u;
    }

    // The names plat_findfirst lists, in order.
    static Names names(const std::string &pattern, unsigned mask = 0x16) {
        Names out;
        PlatEntry e;
        PlatFind *f = plat_findfirst(pattern.c_str(), mask, &e);
        if (f == nullptr)
            return out;
        do
            out.push_back(e.name);
        while (plat_findnext(f, &e));
        plat_findclose(f);
        return out;
    }

    // The first entry a pattern lists; false when none.
    static bool entry(const std::string &pattern, PlatEntry *e, unsigned mask = 0x16) {
        PlatFind *f = plat_findfirst(pattern.c_str(), mask, e);
        if (f == nullptr)
            return false;
        plat_findclose(f);
        return true;
    }

    static std::string full(const std::string &path) {
        char out[PLAT_PATH_SIZE];
        int n = plat_fullpath(path.c_str(), out, sizeof out);
        if (n < 0)
            return "error " + std::to_string(plat_lasterror());
        EXPECT_EQ((size_t)n, std::strlen(out));
        return out;
    }

    // Reads a whole file through the services; "error N" when it cannot.
    static std::string content(const std::string &path) {
        int h = plat_open(path.c_str(), PLAT_OPEN_READ);
        if (h < 0)
            return "error " + std::to_string(plat_lasterror());
        std::string out;
        char buf[4096];
        long n;
        while ((n = plat_read(h, buf, sizeof buf)) > 0)
            out.append(buf, (size_t)n);
        plat_close(h);
        return out;
    }
};
