// Shared by the fuzz targets: a throw-away directory mapped as drive C (the
// only place a target may write), output kept off the terminal, and
// argument vectors cut from the input.
#pragma once

#include <fcntl.h>
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fuzz {

inline std::string &sandboxdir() {
    static std::string dir;
    return dir;
}

inline int removeentry(const char *path, const struct stat *, int, struct FTW *) {
    ::remove(path);
    return 0;
}

inline void removesandbox() {
    if (sandboxdir().empty() || ::chdir("/") != 0)
        return;
    ::nftw(sandboxdir().c_str(), removeentry, 16, FTW_DEPTH | FTW_PHYS);
}

// Creates $TMPDIR/mox32-fuzz-XXXXXX with the given files (names ending in
// "/" are directories), maps drive C onto it, works in it, and removes it
// when the process exits.
inline void sandbox(const std::vector<std::string> &entries) {
    const char *tmp = ::getenv("TMPDIR");
    std::string tmpl = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") +
                       "/mox32-fuzz-XXXXXX";
    char real[4096];
    if (::mkdtemp(tmpl.data()) == nullptr || ::realpath(tmpl.c_str(), real) == nullptr)
        ::abort();
    sandboxdir() = real;
    std::atexit(removesandbox);
    for (const std::string &e : entries) {
        std::string path = sandboxdir() + "/" + e;
        if (e.back() == '/')
            ::mkdir(path.c_str(), 0755);
        else
            ::close(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
    }
    ::setenv("MOX32_DRIVES", ("C=" + sandboxdir()).c_str(), 1);
    if (::chdir(real) != 0)
        ::abort();
    plat_reload();
}

// What the core prints goes nowhere: a fuzzer's terminal is for its own
// reports.
inline void quiet() {
    int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
        ::dup2(null, 1);
        ::close(null);
    }
}

// The input cut at every `sep` into at most `most` pieces (the last one
// keeps the rest).
inline std::vector<std::string> split(const uint8_t *data, size_t size, char sep, size_t most) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < size; i++) {
        if ((char)data[i] == sep && parts.size() < most)
            parts.emplace_back();
        else
            parts.back() += (char)data[i];
    }
    return parts;
}

// An argument vector of "mox32" and the pieces, as the entry point gets it.
struct Args {
    std::vector<std::string> text;
    std::vector<char *> argv;

    explicit Args(std::vector<std::string> pieces) : text(std::move(pieces)) {
        text.insert(text.begin(), "mox32");
        for (std::string &s : text)
            argv.push_back(s.data());
        argv.push_back(nullptr);
    }
    int argc() const { return (int)text.size(); }
};

} // namespace fuzz
