// Helpers for the tests of drives, listings and attributes, on top of the
// sandbox: paths inside it, remapping the drives, moving the working
// directory, and the results of the path services as strings.
#pragma once

#include "posix_sandbox.h"

class PosixTree : public PosixSandbox {
  protected:
    std::string at(const std::string &rel) const { return rel.empty() ? root : root + "/" + rel; }

    void map(const std::string &maptext) {
        setenv("MOX32_DRIVES", maptext.c_str(), 1);
        plat_reload();
    }

    void cd(const std::string &rel) {
        ASSERT_EQ(chdir(at(rel).c_str()), 0) << rel;
        plat_reload();
    }

    void mkdir_at(const std::string &rel) { ASSERT_EQ(mkdir(at(rel).c_str(), 0755), 0) << rel; }

    void file_at(const std::string &rel, const std::string &data = "") { write_file(at(rel), data); }

    // The names plat_findfirst lists, in order.
    static std::vector<std::string> names(const std::string &pattern, unsigned mask = 0x16) {
        std::vector<std::string> out;
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

    // The one entry a pattern finds first; false when none.
    static bool first(const std::string &pattern, PlatEntry *e, unsigned mask = 0x16) {
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

    static std::string native(const std::string &path) {
        char out[NATIVE_PATH_SIZE];
        if (native_path(path.c_str(), out, sizeof out) < 0)
            return "error " + std::to_string(plat_lasterror());
        return out;
    }
};
