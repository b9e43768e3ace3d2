#include "search/xfind.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "front/mox.h"
#include "search/pathexp.h"
#include "tree.h"

namespace {

const char kHyo[] = "\x95\x5C"; // 表 in code page 932
const char kHyoNative[] = "\xe8\xa1\xa8";

struct Seen {
    std::string dir, name;
    unsigned attrib;
};

// Records every entry handed out; `answer` chooses the callback's result.
struct Rec {
    std::vector<Seen> seen;
    std::function<int(const std::string &dir, const XFINDENTRY &e)> answer;

    std::set<std::string> names() const {
        std::set<std::string> out;
        for (const Seen &s : seen)
            out.insert(s.name);
        return out;
    }
    bool saw(const std::string &dir, const std::string &name) const {
        for (const Seen &s : seen)
            if (s.dir == dir && s.name == name)
                return true;
        return false;
    }
};

int record(const char *dir, XFINDENTRY e, void *user) {
    Rec *r = static_cast<Rec *>(user);
    r->seen.push_back({dir, e.name, e.attrib});
    return r->answer ? r->answer(dir, e) : 0;
}

// Deletes every file but keep.txt, as a move would.
int deletefiles(const char *dir, XFINDENTRY e, void *user) {
    record(dir, e, user);
    char path[PATH_SIZE];
    if ((e.attrib & 0x10) == 0 && std::strcmp(e.name, "keep.txt") != 0 &&
        joinfound(path, dir, e.name) == 0)
        plat_delete(path);
    return 0;
}

class XFind : public TreeTest {
protected:
    void TearDown() override {
        xfind_errcode = 0;
        xfind_settrace(0);
        opt_quiet = 0;
        TreeTest::TearDown();
    }
};

// A drive root reaches the callbacks as "C:", has no "." or "..", and is
// never removed: removing it would remove the directory a drive maps to.
TEST_F(XFind, DriveRootAndDotEntries) {
    file("A.TXT");
    file("SUB/B.TXT");
    Rec r;
    EXPECT_EQ(xfind("C:\\", "*.*", 0x13, 1, 1, 1, record, &r), 0);
    EXPECT_TRUE(r.saw("C:", "A.TXT"));
    EXPECT_TRUE(r.saw("C:", "SUB"));
    EXPECT_TRUE(r.saw("C:\\SUB", "B.TXT"));
    EXPECT_FALSE(r.saw("C:", "."));
    EXPECT_TRUE(r.saw("C:\\SUB", "."));
    EXPECT_TRUE(r.saw("C:\\SUB", ".."));
    for (const Seen &s : r.seen) {
        if (s.name == "." || s.name == "..") {
            EXPECT_NE(s.attrib & 0x10, 0u);
        }
    }
    EXPECT_EQ(xfind_files(), 2u); // dots and SUB are not files
    EXPECT_EQ(xfind_dirs(), 1u);  // "." and ".." are never entered

    EXPECT_EQ(xfind("D:\\", "*.*", 0x13, 1, 1, 1, nullptr, nullptr), 1);
    EXPECT_TRUE(std::filesystem::is_directory(d + "/"));
}

TEST_F(XFind, CallbackResultBits) {
    for (const char *f : {"T/A/1.TXT", "T/A/2.TXT", "T/A/AA/3.TXT", "T/B/4.TXT"})
        file(f);

    Rec first; // all = 0: one entry per directory, subdirectories still walked
    xfind("C:\\T", "*.TXT", 0x13, 0, 1, 0, record, &first);
    EXPECT_EQ(first.names(), (std::set<std::string>{"1.TXT", "3.TXT", "4.TXT"}));

    Rec dirskip; // stops A at its first entry: no AA, no removal; B goes on
    dirskip.answer = [](const std::string &dir, const XFINDENTRY &) {
        return dir == "C:\\T\\A" ? XFIND_DIR_SKIP : 0;
    };
    xfind("C:\\T", "*.*", 0x13, 1, 1, 1, record, &dirskip);
    EXPECT_TRUE(dirskip.saw("C:\\T\\A", "."));
    EXPECT_FALSE(dirskip.saw("C:\\T\\A", "1.TXT"));
    EXPECT_FALSE(dirskip.saw("C:\\T\\A\\AA", "3.TXT"));
    EXPECT_TRUE(dirskip.saw("C:\\T\\B", "4.TXT"));
    EXPECT_TRUE(exists("T/A/AA"));

    Rec subskip; // only a mark: the subdirectory is still searched
    subskip.answer = [](const std::string &, const XFINDENTRY &e) {
        return (e.attrib & 0x10) ? XFIND_SUBDIR_SKIP : 0;
    };
    xfind_settrace(1);
    Capture out(1);
    xfind("C:\\T", "*.*", 0x13, 1, 1, 0, record, &subskip);
    EXPECT_NE(out.text().find("searching dir: <C:\\T\\A\\AA>\n"), std::string::npos);
    EXPECT_TRUE(subskip.saw("C:\\T\\A\\AA", "3.TXT"));
    EXPECT_EQ(xfind_dirs(), 3u);
}

// The trace lines are read by people comparing runs: their texts are fixed.
TEST_F(XFind, TraceLines) {
    file("T/A.TXT");
    Rec r;
    r.answer = [](const std::string &, const XFINDENTRY &) { return XFIND_SUBDIR_SKIP; };
    xfind_settrace(2);
    Capture out(1);
    xfind("c:\\t\\*.txt", nullptr, 0x13, 1, 1, 0, record, &r);
    std::string text = out.text();
    // The location line pads its number to four places: "xfind.cpp: 262".
    std::string loc = text.substr(0, text.find('\n'));
    EXPECT_EQ(loc.rfind("xfind.cpp:", 0), 0u) << loc;
    EXPECT_EQ(loc.size(), 14u) << loc;
    std::string rest = text.substr(loc.size() + 1);
    EXPECT_EQ(rest, "splitpath: [c:\\t\\*.txt] to <c:\\t> [*.txt]\n"
                    "starting path: <c:\\t> *.txt\n"
                    "path expand: <c:\\t> to <C:\\T>\n"
                    "searching dir: <C:\\T>\n"
                    "func_result = 8\n"
                    "func_result & XFIND_SUBDIR_SKIP = 8\n"
                    "target = C:\\T\\*.*\n");
}

TEST_F(XFind, AbortEndsEverySearchUntilCleared) {
    for (const char *f : {"T/A/1.TXT", "T/A/2.TXT", "T/B/4.TXT", "T/5.TXT"})
        file(f);
    Rec r;
    r.answer = [](const std::string &, const XFINDENTRY &e) {
        return std::strcmp(e.name, "1.TXT") == 0 ? XFIND_ABORT | XFIND_DIR_SKIP : 0;
    };
    EXPECT_EQ(xfind("C:\\T", "*.TXT", 0x13, 1, 1, 0, record, &r), -1);
    EXPECT_EQ(xfind_errcode, 253);
    EXPECT_FALSE(r.saw("C:\\T\\A", "2.TXT"));
    EXPECT_FALSE(r.saw("C:\\T\\B", "4.TXT"));
    {
        Capture out(1);
        xfinderror();
        EXPECT_EQ(out.text(), "Error! xfind() abort. ERROR_FUNC (code = 253)\n");
    }
    // A code left set stops the next search after its first file phase.
    Rec again;
    EXPECT_EQ(xfind("C:\\T", "*.TXT", 0x13, 1, 1, 0, record, &again), -1);
    EXPECT_EQ(again.names(), (std::set<std::string>{"5.TXT"}));
    xfind_errcode = 0;
    EXPECT_EQ(xfind("C:\\T", "*.TXT", 0x13, 1, 1, 0, nullptr, nullptr), 0);
    EXPECT_EQ(xfind_files(), 4u);
}

TEST_F(XFind, PathAndPatternForms) {
    for (const char *f : {"WORK/A.TXT", "WORK/B.DOC", "WORK/SUB/C.TXT", "FOO.TXT"})
        file(f);
    Rec r;
    EXPECT_EQ(xfind("c:\\work\\*.txt", nullptr, 0x13, 1, 0, 0, record, &r), 0);
    EXPECT_EQ(r.names(), (std::set<std::string>{"A.TXT"}));
    EXPECT_EQ(r.seen[0].dir, "C:\\WORK");

    Rec none; // an empty pattern lists nothing; only subdirectories are walked
    EXPECT_EQ(xfind("C:\\WORK\\", nullptr, 0x13, 1, 1, 0, record, &none), 1);
    EXPECT_TRUE(none.seen.empty());
    EXPECT_EQ(xfind_dirs(), 1u);

    Rec bare;
    EXPECT_EQ(xfind("foo.txt", nullptr, 0x13, 1, 0, 0, record, &bare), 0);
    EXPECT_TRUE(bare.saw("C:", "FOO.TXT"));

    // Matches only below the start: seen and counted, yet the result is 1.
    Rec below;
    EXPECT_EQ(xfind("C:\\WORK", "C.TXT", 0x13, 1, 1, 0, record, &below), 1);
    EXPECT_EQ(xfind_files(), 1u);

    Capture err(2);
    int result = xfind(nullptr, nullptr, 0x13, 1, 0, 0, nullptr, nullptr);
    EXPECT_EQ(err.text(), "PathName Error!: \n");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(xfind_errcode, 255);
    xfind_errcode = 0;
    EXPECT_EQ(xfind("Q:\\X", "*.*", 0x13, 1, 0, 0, nullptr, nullptr), -1);
    EXPECT_EQ(xfind_errcode, 264);
}

TEST_F(XFind, RemovesEmptiedDirectoriesBottomUp) {
    for (const char *f : {"T/A/1.TXT", "T/A/B/2.TXT", "T/RO/keep.txt"})
        file(f);
    mkdir("T/C");
    ASSERT_EQ(plat_setattr("C:\\T\\RO", 0x01), 0);
    unsigned before = xfind_rmdirs();
    Rec r;
    EXPECT_EQ(xfind("C:\\T", "*.*", 0x13, 1, 1, 1, deletefiles, &r), 1);
    EXPECT_FALSE(exists("T/A")); // needs B gone first
    EXPECT_FALSE(exists("T/C"));
    EXPECT_TRUE(exists("T/RO/keep.txt"));
    EXPECT_TRUE(exists("T"));
    EXPECT_EQ(xfind_rmdirs() - before, 3u);
    unsigned attrib = 0;
    ASSERT_EQ(getattr("C:\\T\\RO", &attrib), 0);
    EXPECT_EQ(attrib & 0x01, 0x01u); // still read-only after the failed removal
}

// A move told to keep its source base (/M!) used to lose the base anyway:
// the walk removed the emptied starting directory along with the rest.
TEST_F(XFind, KeepStartSparesTheStartingDirectory) {
    for (const char *f : {"T/1.TXT", "T/A/2.TXT"})
        file(f);
    unsigned before = xfind_rmdirs();
    Rec r;
    xfind_keepstart = 1;
    xfind("C:\\T", "*.*", 0x13, 1, 1, 1, deletefiles, &r);
    xfind_keepstart = 0;
    EXPECT_FALSE(exists("T/A"));
    EXPECT_TRUE(exists("T"));
    EXPECT_EQ(xfind_rmdirs() - before, 1u);
}

TEST_F(XFind, MultibyteNamesAreWalked) {
    file(std::string(kHyoNative) + "/" + kHyoNative + ".txt");
    std::string dir = std::string("C:\\") + kHyo;
    std::string name = std::string(kHyo) + ".txt";
    Rec r;
    EXPECT_EQ(xfind("C:\\", "*.*", 0x13, 1, 1, 0, record, &r), 1);
    EXPECT_TRUE(r.saw("C:", kHyo));
    EXPECT_TRUE(r.saw(dir, name));
    // Split at the real separator, not at the 0x5C inside 表.
    Rec split;
    EXPECT_EQ(xfind((dir + "\\" + kHyo + ".TXT").c_str(), nullptr, 0x13, 1, 0, 0, record, &split), 0);
    EXPECT_TRUE(split.saw(dir, name));
}

// The walk must never enter a link: one to a directory outside the tree
// would let a delete run reach files the user did not name, and one to an
// ancestor would never end.
TEST_F(XFind, LinksAreReportedNotEntered) {
    std::filesystem::create_directories(top + "/outside");
    std::ofstream(top + "/outside/secret.txt") << "x";
    file("T/f.txt");
    ASSERT_TRUE(symlink(top + "/outside", at("T/link")));
    ASSERT_TRUE(symlink(at("T"), at("T/loop")));
    ASSERT_TRUE(symlink(at("T/b"), at("T/a")));
    ASSERT_TRUE(symlink(at("T/a"), at("T/b")));

    PlatEntry e;
    PlatFind *find = plat_findfirst("C:\\T\\LINK", 0x10, &e);
    ASSERT_NE(find, nullptr);
    plat_findclose(find);
    EXPECT_EQ(e.attrib & 0x410, 0x410u);

    Rec r;
    Capture out(1);
    int result = xfind("C:\\T", "*.*", 0x13, 1, 1, 1, deletefiles, &r);
    std::string text = out.text();
    EXPECT_EQ(result, 0); // f.txt
    EXPECT_NE(text.find("skip!(link): <C:\\T\\link>\n"), std::string::npos) << text;
    EXPECT_NE(text.find("skip!(link): <C:\\T\\loop>\n"), std::string::npos) << text;
    EXPECT_FALSE(r.saw("C:\\T", "link"));
    for (const Seen &s : r.seen)
        EXPECT_EQ(s.dir, "C:\\T");
    EXPECT_TRUE(std::filesystem::exists(top + "/outside/secret.txt"));
    EXPECT_TRUE(exists("T/link"));

    opt_quiet = 1;
    Capture quiet(1);
    xfind("C:\\T", "*.*", 0x13, 1, 1, 0, nullptr, nullptr);
    EXPECT_EQ(quiet.text().find("skip!"), std::string::npos);
}

// Paths past 260 characters exist on Linux. They must be reported and
// skipped: the callbacks hold paths in 261-byte buffers.
TEST_F(XFind, TooLongPathsAreReportedAndSkipped) {
    std::string wide = "T", narrow = "N";
    for (int i = 0; i < 6; i++) {
        wide += "/" + std::string(50, 'a' + i);
        file(wide + "/f.txt");
    }
    for (int i = 0; i < 140; i++) // deeper than any walk within 260 characters
        narrow += "/n";
    file(narrow + "/f.txt");
    Rec r;
    unsigned before = xfind_toolong();
    Capture out(1);
    xfind("C:\\", "*.*", 0x13, 1, 1, 0, record, &r);
    std::string text = out.text();
    EXPECT_NE(text.find("Error! path too long: C:\\T\\aaaa"), std::string::npos);
    EXPECT_GT(xfind_toolong(), before);
    size_t deepest = 0;
    for (const Seen &s : r.seen) {
        EXPECT_LE(s.dir.size() + 1 + s.name.size(), 260u) << s.dir;
        deepest = std::max(deepest, s.dir.size());
    }
    EXPECT_GE(deepest, 255u); // went as deep as 260 characters allow
    // Every file whose path fits was found: T has four such levels.
    int found = 0;
    for (const Seen &s : r.seen)
        found += s.name == "f.txt" && s.dir.rfind("C:\\T", 0) == 0;
    EXPECT_EQ(found, 4);
}

// The walk finds exactly what a plain recursive walk of the same tree finds.
TEST_F(XFind, AgreesWithFilesystemWalk) {
    unsigned seed = 12345;
    auto next = [&seed](unsigned n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    std::vector<std::string> dirs = {"R"};
    for (int i = 0; i < 40; i++)
        dirs.push_back(dirs[next((unsigned)dirs.size())] + "/D" + std::to_string(i));
    for (int i = 0; i < 400; i++) {
        std::string name = (i % 7 == 0 ? ".h" : "f") + std::to_string(i) + (i % 3 ? ".txt" : "");
        file(dirs[next((unsigned)dirs.size())] + "/" + name, i % 5);
    }
    std::set<std::string> want, got;
    for (auto &it : std::filesystem::recursive_directory_iterator(at("R")))
        want.insert(it.path().generic_string().substr(c.size() + 1));
    Rec r;
    EXPECT_GE(xfind("C:\\R", "*.*", 0x17, 1, 1, 0, record, &r), 0);
    for (const Seen &s : r.seen) {
        if (s.name == "." || s.name == "..")
            continue;
        std::string p = s.dir.substr(3) + "/" + s.name;
        for (char &ch : p)
            if (ch == '\\')
                ch = '/';
        EXPECT_TRUE(got.insert(p).second) << "twice: " << p;
    }
    EXPECT_EQ(got, want);
    EXPECT_EQ(xfind_files(), 400u);
    EXPECT_EQ(xfind_dirs(), 40u);
}

} // namespace
