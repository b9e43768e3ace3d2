// Helpers of the Windows backend's own tests (win32_*_test.cpp): the tree
// fixture and the results of the services as strings.
#pragma once

#include "tree.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include "platform/win32/native.h"

typedef std::vector<std::string> Names;

class Win32Tree : public TreeTest {
protected:
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

    static bool entry(const std::string &pattern, PlatEntry *e, unsigned mask = 0x16) {
        PlatFind *f = plat_findfirst(pattern.c_str(), mask, e);
        if (f == nullptr)
            return false;
        plat_findclose(f);
        return true;
    }

    // Writes a file named by a UTF-16 path.
    static void wfile(const std::wstring &path, const std::string &data = "") {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD put;
        WriteFile(h, data.data(), (DWORD)data.size(), &put, nullptr);
        CloseHandle(h);
    }

    std::string slurp(const std::string &rel) const {
        std::ifstream in(wat(rel), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // The names a directory holds, as stored, sorted bytewise.
    std::vector<std::string> listed(const std::string &rel) const {
        std::vector<std::string> out;
        for (const auto &e : std::filesystem::directory_iterator(wat(rel))) {
            std::u8string u = e.path().filename().u8string();
            out.push_back(std::string(u.begin(), u.end()));
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    static std::string full(const std::string &path) {
        char out[PLAT_PATH_SIZE];
        int n = plat_fullpath(path.c_str(), out, sizeof out);
        if (n < 0)
            return "error " + std::to_string(plat_lasterror());
        EXPECT_EQ((size_t)n, std::strlen(out));
        return out;
    }
};
