// Helpers shared by the end-to-end tests of renaming, deleting and the
// recycle bin: the texts of the sweeping-operation question, and reading a
// file that lies outside the sandbox's drives (the recycle bin).
#pragma once

#include <cstdio>
#include <string>

namespace e2e {

inline const char *SURE = "Excute Sure ? [Y/N]: ";
inline const char *BYE = "Bye! Program tarminate at user's request";
inline const char *NOTERMINAL = "Error! no terminal to confirm on; give /Y to run without asking";

// The whole content of a native file, or "<missing>" when it cannot be read.
inline std::string read_native(const std::string &path) {
    FILE *fp = std::fopen(path.c_str(), "rb");
    if (fp == nullptr)
        return "<missing>";
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, fp)) > 0)
        s.append(buf, n);
    std::fclose(fp);
    return s;
}

} // namespace e2e
