// Walks the project's own source tree through a drive letter and compares
// what the search finds with what find(1) finds: the two must agree file
// for file on a real tree nobody built for the test.
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "platform/platform.h"
#include "search/xfind.h"

namespace {

std::set<std::string> *found;

int collect(const char *dir, XFINDENTRY e, void *) {
    if (e.attrib & 0x10)
        return 0;
    std::string rel = std::string(dir).substr(2); // drop "S:"
    rel += "\\";
    rel += e.name;
    for (char &ch : rel)
        if (ch == '\\')
            ch = '/';
    found->insert(rel.substr(1));
    return 0;
}

std::set<std::string> findfiles(const std::string &root) {
    std::set<std::string> out;
    std::string cmd = "cd '" + root + "' && find . -type f";
    FILE *p = ::popen(cmd.c_str(), "r");
    if (p == nullptr)
        return out;
    char line[4096];
    while (std::fgets(line, sizeof line, p) != nullptr) {
        std::string s(line);
        if (!s.empty() && s.back() == '\n')
            s.pop_back();
        out.insert(s.substr(2)); // drop "./"
    }
    ::pclose(p);
    return out;
}

TEST(XFindSourceTree, FindsWhatFindFinds) {
    std::filesystem::path here = std::filesystem::path(__FILE__).parent_path();
    std::string src = std::filesystem::canonical(here / ".." / ".." / "src").string();
    std::string oldcwd = std::filesystem::current_path().string();
    const char *old = ::getenv("MOX32_DRIVES");
    std::string saved = old != nullptr ? old : "";
    ::setenv("MOX32_DRIVES", ("S=" + src).c_str(), 1);
    ASSERT_EQ(0, ::chdir(src.c_str()));
    plat_reload();

    std::set<std::string> got;
    found = &got;
    int r = xfind("S:\\", "*.*", 0x17, 1, 1, 0, collect, nullptr);
    std::set<std::string> want = findfiles(src);

    ::chdir(oldcwd.c_str());
    if (old != nullptr)
        ::setenv("MOX32_DRIVES", saved.c_str(), 1);
    else
        ::unsetenv("MOX32_DRIVES");
    plat_reload();

    EXPECT_EQ(0, r); // main.cpp lies in the starting directory itself
    ASSERT_GT(want.size(), 20u);
    EXPECT_EQ(want, got);
    EXPECT_EQ(want.size(), (size_t)xfind_files());
}

} // namespace
