// The Linux and the Win32 build are one program: the same scenario, run by
// each in a fresh sandbox of its own, must print the same lines, end with
// the same status and leave the same trees (names, sizes, modification
// times and DOS attributes). Runs where both builds are present.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "engine_util.h"
#include "harness.h"

using namespace e2e;

namespace {

using Lines = std::vector<std::string>;

// Writes a file with a time of its own, so that both sandboxes hold the
// same tree.
void put(const Sandbox &box, char drive, const std::string &rel, const std::string &text, time_t t) {
    box.write(drive, rel, text);
    set_mtime(box.native(drive, rel), t);
}

// D:\SRC: plain, hidden and read-only files, names with a kanji and an
// accent, and subdirectories, each file two seconds after the one before.
void sources(const Sandbox &box) {
    const char *files[] = {"SRC/A.TXT",   "SRC/表.txt",      "SRC/é.txt",   "SRC/HID.TXT",
                           "SRC/RO.TXT",  "SRC/NOTE.DOC",    "SRC/SUB/B.TXT", "SRC/表/C.TXT",
                           "SRC/dé/D.TXT", "SRC/SUB/README.TXT", "SRC/表/README.TXT"};
    time_t t = T0;
    for (const char *f : files) {
        put(box, 'd', f, std::string("content of ") + f, t);
        t += 2;
    }
    set_dosattrib(box.native('d', "SRC/HID.TXT"), "0x2");
    ::chmod(box.native('d', "SRC/RO.TXT").c_str(), 0444);
}

// The sources, and a destination holding an older A.TXT, a newer NOTE.DOC
// and a 表.txt of the same time.
void sources_and_copies(const Sandbox &box) {
    sources(box);
    put(box, 'e', "OUT/A.TXT", "older", T0 - 100);
    put(box, 'e', "OUT/NOTE.DOC", "newer", T0 + 100);
    put(box, 'e', "OUT/表.txt", "same time", T0 + 2);
}

void nothing(const Sandbox &) {}

struct Scenario {
    const char *name;
    void (*setup)(const Sandbox &);
    Lines args;
};

const Scenario SCENARIOS[] = {
    {"Copy", sources, {"D:\\SRC\\*.*", "E:\\OUT"}},
    {"Structure", sources, {"/S", "D:\\SRC", "E:\\OUT"}},
    {"Update", sources_and_copies, {"/S", "/U", "D:\\SRC", "E:\\OUT"}},
    {"Backup", sources_and_copies, {"/B", "D:\\SRC\\*.*", "E:\\OUT"}},
    {"Move", sources_and_copies, {"/S", "/M", "D:\\SRC", "E:\\OUT"}},
    {"Gather", sources, {"/G", "D:\\SRC\\*.TXT", "E:\\OUT"}},
    {"RenameFormat", sources, {"/S", "=$3F_$02Né.$E", "D:\\SRC\\*.TXT", "E:\\OUT"}},
    {"LowerCase", sources, {"/S", "/L", "/Y", "D:\\SRC\\*.*"}},
    {"Delete", sources, {"/S", "/DEL", "/Y", "D:\\SRC\\*.TXT"}},
    {"Trash", sources, {"/S", "/DEL!", "/Y", "D:\\SRC"}},
    {"ZeroByte", sources_and_copies, {"/Z", "D:\\SRC\\*.*", "E:\\OUT"}},
    {"Append", sources_and_copies, {"/I", "D:\\SRC\\*.*", "E:\\OUT"}},
    {"RefusedSamePath", sources, {"D:\\SRC", "d:\\src\\"}},
    {"RefusedFileAsDestination", sources, {"D:\\SRC", "D:\\SRC\\A.TXT"}},
    {"RefusedUnmappedDrive", sources, {"D:\\SRC", "Q:\\OUT"}},
    {"RefusedWildcardDestination", sources, {"D:\\SRC\\A.TXT", "E:\\Q*"}},
    {"RefusedOption", nothing, {"/SX"}},
    {"RefusedMissingSource", nothing, {"D:\\NONE\\*.*", "E:\\OUT"}},
};

// One line per entry below the sandbox's drives and TEMP: its path, and for
// a file its size, its modification time ("new" for one made during the
// run) and its DOS attributes: R without write bits, H and S from
// user.DOSATTRIB, as both backends keep them.
void snapshot(const std::string &dir, const std::string &rel, time_t started, Lines &out) {
    DIR *d = ::opendir(dir.c_str());
    if (d == nullptr)
        return;
    while (dirent *e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        std::string full = dir + "/" + name;
        struct stat st;
        if (::lstat(full.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            out.push_back(rel + name + "/");
            snapshot(full, rel + name + "/", started, out);
            continue;
        }
        unsigned long dos = std::strtoul(dosattrib(full).c_str(), nullptr, 16);
        std::string attrs = std::string((st.st_mode & 0222) == 0 ? "R" : "-") + (dos & 2 ? "H" : "-") +
                            (dos & 4 ? "S" : "-");
        std::string when = st.st_mtime >= started
                               ? "new"
                               : std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
        out.push_back(rel + name + " " + std::to_string(st.st_size) + " " + when + " " + attrs);
    }
    ::closedir(d);
}

struct Outcome {
    int status;
    Lines out, tree;
};

Outcome run_in_fresh_sandbox(const Scenario &s, const Build &build) {
    Sandbox box;
    s.setup(box);
    RunOptions o;
    o.build = &build;
    time_t started = std::time(nullptr) - 1;
    RunResult r = box.run(s.args, o);
    // Each build shows the name it was started by; the rest must agree.
    Outcome result{r.status, lines(as_mox32(r.out, build)), {}};
    for (const char *top : {"d", "e", "tmp"})
        snapshot(box.root() + "/" + top, std::string(top) + "/", started, result.tree);
    std::sort(result.tree.begin(), result.tree.end());
    return result;
}

// A difference between the backends (a listing order, an attribute, a
// time, a refused name, a message) shows here as a line that differs.
TEST(Parity, BothBuildsAgree) {
    std::string why;
    const Build *win32 = win32_build(&why);
    if (win32 == nullptr)
        GTEST_SKIP() << "needs both builds: " << why;
    for (const Scenario &s : SCENARIOS) {
        SCOPED_TRACE(s.name);
        Outcome a = run_in_fresh_sandbox(s, linux_build());
        Outcome b = run_in_fresh_sandbox(s, *win32);
        EXPECT_EQ(a.status, b.status);
        EXPECT_EQ(a.out, b.out);
        EXPECT_EQ(a.tree, b.tree);
    }
}

} // namespace
