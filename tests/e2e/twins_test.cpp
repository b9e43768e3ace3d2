// Case twins: a Linux directory may hold DUP.TXT and dup.txt side by side,
// and every way a run can bring them onto one destination name must keep
// both files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine_util.h"
#include "harness.h"

using namespace e2e;

namespace {

using Lines = std::vector<std::string>;

struct TwinCase {
    const char *name;
    // 'G': the twins in two directories; 'B': E:\B\DUP.TXT exists; 'S': the
    // twins as D:\A\SUB\DUP.TXT and D:\A\sub\DUP.TXT; 'L': D:\L.LST names
    // D:\A\Dup.txt; 'W': D:\W.LST names both twins. An argument "<native>"
    // is D:\A\dup.txt as a Linux path.
    char tree;
    Lines args;
    // The line that refuses the second twin; empty when the run keeps both
    // some other way (a numbered name, a refused rename).
    std::string refusal;
    // Where each twin's text must be found after the run (drive, path).
    std::vector<std::pair<char, std::string>> upper, lower;
};

void twins(const Sandbox &box, const std::string &dir) {
    box.write('D', dir + "/DUP.TXT", "upper");
    box.write('D', dir + "/dup.txt", "lower");
}

bool holds(const Sandbox &box, const std::pair<char, std::string> &at, const std::string &text) {
    return box.exists(at.first, at.second) && box.read(at.first, at.second) == text;
}

// A move used to replace the first twin's copy with the second, remove the
// source directory and end with status 0: one file gone without a word.
// Gathering, a backup, an append, a rename format and a case change could
// do the same. Twin directories merged into one copy; a refused twin was
// later passed over by /N or judged against its twin's copy by /U. A name
// was upper-cased before its look-up, so that every way of naming the
// lower-case twin acted on the upper-case one, and a name of neither
// spelling took whichever listed first.
TEST(Twins, NoRunReplacesOneTwinWithTheOther) {
    const std::string moved = "Error! D:\\A\\dup.txt and ";
    TwinCase cases[] = {
        {"move within a drive", 0, {"/M", "/S", "D:\\A", "D:\\B"},
         moved + "D:\\B\\DUP.TXT differ only in case", {{'D', "B/DUP.TXT"}}, {{'D', "A/dup.txt"}}},
        {"move across drives", 0, {"/M", "/S", "D:\\A", "E:\\B"},
         moved + "E:\\B\\DUP.TXT differ only in case", {{'E', "B/DUP.TXT"}}, {{'D', "A/dup.txt"}}},
        {"move with a backup", 'B', {"/M", "/B", "D:\\A\\*.*", "E:\\B"},
         moved + "E:\\B\\DUP.TXT differ only in case",
         {{'E', "B/DUP.TXT"}}, {{'D', "A/dup.txt"}}},
        {"appending lower-cased", 0, {"/I", "/L", "D:\\A\\*.*", "E:\\B"},
         moved + "E:\\B\\dup.txt differ only in case", {{'E', "B/dup.txt"}}, {{'D', "A/dup.txt"}}},
        {"a list naming both", 'W', {"/M", "@D:\\W.LST", "E:\\B"},
         moved + "E:\\B\\DUP.TXT differ only in case", {{'E', "B/DUP.TXT"}}, {{'D', "A/dup.txt"}}},
        {"gather from two directories", 'G', {"/G", "/M", "D:\\G", "E:\\B"},
         "Error! D:\\G\\Y\\dup.txt and E:\\B\\DUP.TXT differ only in case",
         {{'E', "B/DUP.TXT"}}, {{'D', "G/Y/dup.txt"}}},
        {"lower-cased copies", 0, {"/L", "D:\\A\\*.*", "E:\\B"},
         moved + "E:\\B\\dup.txt differ only in case", {{'E', "B/dup.txt"}}, {{'D', "A/dup.txt"}}},
        {"a format that keeps the name", 0, {"=$F.$E", "D:\\A\\*.*", "E:\\B"},
         moved + "E:\\B\\DUP.TXT differ only in case", {{'E', "B/DUP.TXT"}}, {{'D', "A/dup.txt"}}},
        {"trash numbers", 0, {"/DEL!", "/S", "/Y", "D:\\A"}, "",
         {{'D', "TRASH$$$/A/DUP.TXT"}}, {{'D', "TRASH$$$/A/dup(000).txt"}}},
        {"twin directories copied", 'S', {"/S", "D:\\A", "E:\\B"},
         "Error! D:\\A\\SUB and D:\\A\\sub differ only in case",
         {{'E', "B/SUB/DUP.TXT"}}, {{'D', "A/sub/DUP.TXT"}}},
        {"twin directories moved", 'S', {"/M", "/S", "D:\\A", "E:\\B"},
         "Error! D:\\A\\SUB and D:\\A\\sub differ only in case",
         {{'E', "B/SUB/DUP.TXT"}}, {{'D', "A/sub/DUP.TXT"}}},
        {"a twin's copy is no reference for /U", 'B', {"/U", "D:\\A", "E:\\B"},
         moved + "E:\\B\\DUP.TXT differ only in case", {{'D', "A/DUP.TXT"}}, {{'D', "A/dup.txt"}}},
        {"a twin's copy is no reason for /N to pass over", 'B', {"/N", "D:\\A", "E:\\B"},
         moved + "E:\\B\\DUP.TXT differ only in case", {{'D', "A/DUP.TXT"}}, {{'D', "A/dup.txt"}}},
        {"the named twin deleted", 0, {"/DEL", "D:\\A\\dup.txt"}, "", {{'D', "A/DUP.TXT"}}, {}},
        {"the named twin deleted by a relative name", 0, {"/DEL", "A\\dup.txt"}, "",
         {{'D', "A/DUP.TXT"}}, {}},
        {"the named twin deleted by a native path", 0, {"/DEL", "--", "<native>"}, "",
         {{'D', "A/DUP.TXT"}}, {}},
        {"the named twin trashed", 0, {"/DEL!", "D:\\A\\dup.txt"}, "", {{'D', "A/DUP.TXT"}},
         {{'D', "TRASH$$$/dup.txt"}}},
        {"the named twin moved", 0, {"/M", "D:\\A\\dup.txt", "E:\\B"}, "", {{'D', "A/DUP.TXT"}},
         {{'E', "B/dup.txt"}}},
        {"the named twin copied", 0, {"D:\\A\\dup.txt", "E:\\B"}, "", {{'D', "A/DUP.TXT"}},
         {{'E', "B/dup.txt"}, {'D', "A/dup.txt"}}},
        {"the named twin renamed", 0, {"=NEW.TXT", "D:\\A\\dup.txt"}, "", {{'D', "A/DUP.TXT"}},
         {{'D', "A/NEW.TXT"}}},
        {"a name of neither twin's spelling", 0, {"/DEL", "D:\\A\\Dup.txt"},
         "Error! D:\\A\\DUP.TXT and D:\\A\\dup.txt differ only in case",
         {{'D', "A/DUP.TXT"}}, {{'D', "A/dup.txt"}}},
        {"a list line of neither twin's spelling", 'L', {"/DEL", "@D:\\L.LST"},
         "Error! D:\\A\\DUP.TXT and D:\\A\\dup.txt differ only in case",
         {{'D', "A/DUP.TXT"}}, {{'D', "A/dup.txt"}}},
    };
    for (const TwinCase &c : cases) {
        Sandbox box;
        if (c.tree == 'G') {
            box.write('D', "G/X/DUP.TXT", "upper");
            box.write('D', "G/Y/dup.txt", "lower");
        } else if (c.tree == 'S') {
            box.write('D', "A/SUB/DUP.TXT", "upper");
            box.write('D', "A/sub/DUP.TXT", "lower");
        } else {
            twins(box, "A");
        }
        if (c.tree == 'B')
            box.write('E', "B/DUP.TXT", "old");
        if (c.tree == 'L')
            box.write_text('D', "L.LST", "D:\\A\\Dup.txt\n");
        if (c.tree == 'W')
            box.write_text('D', "W.LST", "D:\\A\\DUP.TXT\nD:\\A\\dup.txt\n");
        Lines args = c.args;
        for (std::string &a : args)
            if (a == "<native>")
                a = box.native('d', "A/dup.txt");
        RunResult r = box.run(args);
        if (!c.refusal.empty()) {
            EXPECT_EQ(1, r.status) << c.name << "\n" << r.out;
            EXPECT_TRUE(has_line(r, c.refusal)) << c.name << "\n" << r.out;
        }
        for (const auto &at : c.upper)
            EXPECT_TRUE(holds(box, at, "upper")) << c.name << ": " << at.second << "\n" << r.out;
        for (const auto &at : c.lower)
            EXPECT_TRUE(holds(box, at, "lower")) << c.name << ": " << at.second << "\n" << r.out;
    }
}

// Under Wine the name of a deleted twin still answers, for the other
// twin: the delete of one read as failed.
TEST(Twins, DeletingOneIsASuccess) {
    Sandbox box;
    twins(box, "A");
    RunResult r = box.run({"/DEL", "D:\\A\\DUP.TXT"});
    EXPECT_EQ(0, r.status) << r.out;
    EXPECT_EQ(Lines({"Readind dir(s) .....", "  DUP.TXT", "       1 File(s) found",
                     "       1 File(s) deleted"}),
              lines(r.out));
    EXPECT_FALSE(box.exists('D', "A/DUP.TXT"));
    EXPECT_EQ("lower", box.read('D', "A/dup.txt"));
}

// A move across file systems copies and deletes instead of renaming; the
// second twin used to be copied over the first's copy there too.
TEST(Twins, MoveAcrossFileSystemsKeepsBoth) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a tmpfs needs root";
    Sandbox box;
    twins(box, "A");
    TmpfsMount mnt(box.native('e'), "1m");
    ASSERT_TRUE(mnt.ok());
    RunResult r = box.run({"/M", "/S", "D:\\A", "E:\\B"});
    EXPECT_EQ(1, r.status) << r.out;
    EXPECT_TRUE(has_line(r, "Error! D:\\A\\dup.txt and E:\\B\\DUP.TXT differ only in case"))
        << r.out;
    EXPECT_EQ("upper", box.read('E', "B/DUP.TXT"));
    EXPECT_EQ("lower", box.read('D', "A/dup.txt"));
}

} // namespace
