// The transfer engine driven in-process: the inside-destination test, the
// skip-mask filter, and whole runs through runsrc on a throw-away tree.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/moxmain.h"
#include "fileops/filecopy.h"
#include "front/mox.h"
#include "job/moxsub.h"
#include "search/xfind.h"
#include "sys/trash.h"
#include "tree.h"

namespace {

void resetrun() {
    resetsettings();
    filesdone = filesfailed = filesskipped = filesdeleted = 0;
    trashcount = 0;
    casechange = nullptr;
    xfind_errcode = 0;
}

// ---- insidedst ------------------------------------------------------------------

TEST(InsideDst, WholeComponentsOnly) {
    struct Case {
        const char *base, *dir;
        int want;
    } cases[] = {
        {"C:\\DATA", "C:\\DATA", 1},
        {"C:\\DATA", "C:\\DATA\\SUB\\DEEP", 1},
        {"C:\\DATA", "c:\\data\\sub", 1}, // case is ignored, as the file system does
        // A plain prefix test took a sibling for a part of the destination
        // and skipped a tree that was never written to.
        {"C:\\DATA", "C:\\DATA2", 0},
        {"C:\\DATA", "C:\\DATA2\\SUB", 0},
        {"C:\\DATA", "C:\\DAT", 0},
        {"C:\\DATA", "D:\\DATA", 0},
        {"C:\\", "C:\\ANY", 0}, // a root destination never counts
        {"", "C:\\ANY", 0},
        // 0x95 0x5C is one character whose second byte is the separator.
        {"C:\\\x95\x5C", "C:\\\x95\x5C\\SUB", 1},
        {"C:\\DATA", "C:\\DATA\\\x95\x5C", 1},
        // The destination ends in a lead byte: the "\" after it in dir is
        // that character's second byte, not a separator.
        {"C:\\X\x95", "C:\\X\x95\x5C", 0},
        // Case is ignored in single-byte characters only.
        {"C:\\\x83\x41", "C:\\\x83\x61", 0},
    };
    for (const Case &c : cases) {
        char base[PATH_SIZE];
        std::strcpy(base, c.base);
        PARAM p{};
        p.dstbasedir = base;
        p.dstbaselen = (int)std::strlen(base);
        EXPECT_EQ(insidedst(&p, c.dir), c.want) << c.base << " / " << c.dir;
    }
}

// ---- maskfilter -----------------------------------------------------------------

struct Passed {
    std::vector<std::string> names;
    int answer = 0;
};
Passed *passed;

int recordentry(const char *, XFINDENTRY e, void *) {
    passed->names.push_back(e.name);
    return passed->answer;
}

class MaskFilter : public ::testing::Test {
protected:
    char dirmask[8] = "tmp", extmask[8] = ".bak";
    PARAM p{};
    Passed rec;

    void SetUp() override {
        resetrun();
        p.skipdirmask[0] = dirmask;
        p.skipextmask[0] = extmask;
        p.entryfunc = recordentry;
        passed = &rec;
    }
    void TearDown() override {
        resetrun();
        passed = nullptr;
    }

    int filter(const char *dir, const char *name, unsigned attrib, std::string *out) {
        XFINDENTRY e{};
        e.attrib = attrib;
        std::strcpy(e.name, name);
        Capture cap(1);
        int r = maskfilter(dir, e, &p);
        *out = cap.text();
        return r;
    }
};

TEST_F(MaskFilter, Decisions) {
    const unsigned F = 0x20, D = 0x10;
    struct Case {
        const char *dir, *name;
        unsigned attrib;
        int del, quiet;
        int want;
        bool passedon;
        const char *printed;
    } cases[] = {
        {"C:\\WORK", "a.txt", F, 0, 0, 0, true, ""},
        {"C:\\WORK", "a.BAK", F, 0, 0, 0, false, ""},   // dropped without a word
        {"C:\\WORK", "old.bak", D, 0, 0, 0, false, ""}, // directories too
        {"C:\\WORK", "bak", F, 0, 0, 0, true, ""},      // no dot, no extension
        {"C:\\WORK", ".", D, 0, 0, 0, false, ""},
        {"C:\\WORK", "SUB", D, 0, 0, 0, true, ""},
        {"C:\\WORK", "TMP", D, 0, 0, XFIND_SUBDIR_SKIP, false, "skip!: <TMP> in <C:\\WORK>\n"},
        {"C:\\WORK", "TMP", D, 0, 1, XFIND_SUBDIR_SKIP, false, ""},
        {"C:\\WORK\\Tmp", "a.txt", F, 0, 0, XFIND_DIR_SKIP, false, "skip!: <C:\\WORK\\Tmp>\n"},
        {"C:\\WORK\\tmp2", "a.txt", F, 0, 0, 0, true, ""}, // whole names only
        // A drive root has no name of its own, and its subdirectories are
        // not tested until their own scan begins.
        {"C:", "tmp", D, 0, 0, 0, true, ""},
        // Directory entries never reach the per-file action when deleting.
        {"C:\\WORK", "SUB", D, 1, 0, 0, false, ""},
        {"C:\\WORK", "a.txt", F, 1, 0, 0, true, ""},
    };
    for (const Case &c : cases) {
        rec.names.clear();
        opt_delete = c.del;
        opt_quiet = c.quiet;
        std::string out;
        int r = filter(c.dir, c.name, c.attrib, &out);
        EXPECT_EQ(r, c.want) << c.dir << " " << c.name;
        EXPECT_EQ(!rec.names.empty(), c.passedon) << c.dir << " " << c.name;
        EXPECT_EQ(out, c.printed) << c.dir << " " << c.name;
    }
}

// The callback's answer (an abort here) goes back to the walk unchanged.
TEST_F(MaskFilter, PassesTheResultBack) {
    rec.answer = XFIND_ABORT;
    std::string out;
    EXPECT_EQ(filter("C:\\WORK", "a.txt", 0x20, &out), XFIND_ABORT);
}

// ---- whole runs -------------------------------------------------------------------

class EngineRun : public TreeTest {
protected:
    PARAM p{};
    std::string out;

    void SetUp() override {
        TreeTest::SetUp();
        resetrun();
        ASSERT_EQ(initparam(&p), 0);
    }
    void TearDown() override {
        for (int call = 0; call < PLAT_CALL_COUNT; call++)
            plat_failcall((PlatCall)call, 0, 0);
        freeparam(&p);
        resetrun();
        TreeTest::TearDown();
    }

    std::string dnat(const std::string &rel) const { return d + "/" + rel; }
    bool dexists(const std::string &rel) const {
        std::error_code ec;
        return std::filesystem::symlink_status(dnat(rel), ec).type() !=
               std::filesystem::file_type::not_found;
    }
    static std::string slurp(const std::string &native) {
        std::ifstream in(native, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static void put(const std::string &native, const std::string &text) {
        std::ofstream(native, std::ios::binary) << text;
    }
    static void settime(const std::string &native, time_t t) {
        struct utimbuf u = {t, t};
        ::utime(native.c_str(), &u);
    }

    // Sets the job up as the front end would and runs it; the result is
    // the exit status, the output lands in `out`.
    int run(const std::string &src, const std::string &dst) {
        recursemode = opt_structure == 1 || opt_gather == 1;
        renamemode = p.format[0] != 0 || opt_lower == 1 || opt_upper == 1;
        char arg[PATH_SIZE];
        std::strcpy(arg, src.c_str());
        Capture cap(1);
        int r = -9;
        if (src[0] == '@' || expandsrc(arg, &p) == 0) {
            if (dst.empty() || setupdst(&p, dst.c_str()) == 0)
                r = runsrc(src.c_str(), &p);
        }
        out = cap.text();
        return r;
    }
};

// The basic copy with /S mirrors the tree, empty directories included.
TEST_F(EngineRun, StructureCopy) {
    file("SRC/A.TXT", 3);
    file("SRC/SUB/B.TXT", 5);
    file("SRC/Z.TXT", 1); // handled after SUB's entry moved the job into SUB
    mkdir("SRC/EMPTY");
    opt_structure = 1;
    EXPECT_EQ(run("C:\\SRC", "D:\\DST"), 0) << out;
    EXPECT_EQ(slurp(dnat("DST/A.TXT")), "xxx");
    EXPECT_EQ(slurp(dnat("DST/SUB/B.TXT")), "xxxxx");
    EXPECT_TRUE(dexists("DST/EMPTY"));
    EXPECT_TRUE(dexists("DST/Z.TXT"));
    EXPECT_FALSE(dexists("DST/SUB/Z.TXT"));
    EXPECT_EQ(filesdone, 3u);
    EXPECT_NE(out.find("C:\\SRC --> D:\\DST"), std::string::npos) << out;
    EXPECT_NE(out.find("       3 File(s) found\n"), std::string::npos) << out;
}

// A destination inside the source is not copied into itself again and
// again; a sibling whose name merely begins the same way is still copied.
TEST_F(EngineRun, DestinationInsideSource) {
    file("DATA/A.TXT");
    file("DATA/BACK2/B.TXT");
    mkdir("DATA/BACK");
    opt_structure = 1;
    EXPECT_EQ(run("C:\\DATA", "C:\\DATA\\BACK"), 0) << out;
    EXPECT_TRUE(exists("DATA/BACK/A.TXT"));
    EXPECT_TRUE(exists("DATA/BACK/BACK2/B.TXT"));
    EXPECT_FALSE(exists("DATA/BACK/BACK/BACK"));
}

// /N, /O and /U decide by what the destination holds.
TEST_F(EngineRun, OverwriteRules) {
    struct Case {
        const char *opt;
        bool present;
        int srcnewer; // 1 newer, 0 same time, -1 older
        bool copied;
    } cases[] = {
        {"", false, 0, true},   {"", true, -1, true},    {"N", false, 0, true},
        {"N", true, 1, false},  {"O", false, 0, false},  {"O", true, -1, true},
        {"U", true, 0, false},  {"U", true, 1, true},    {"U", true, -1, false},
        {"U", false, 0, true},
    };
    for (const Case &c : cases) {
        resetrun();
        std::filesystem::remove_all(at("S"));
        std::filesystem::remove_all(dnat("T"));
        file("S/F.TXT", 4);
        std::filesystem::create_directories(dnat("T"));
        time_t base = 1600000000;
        settime(at("S/F.TXT"), base + 10 * c.srcnewer);
        if (c.present) {
            put(dnat("T/F.TXT"), "old");
            settime(dnat("T/F.TXT"), base);
        }
        opt_noover = c.opt[0] == 'N';
        opt_overonly = c.opt[0] == 'O';
        opt_update = c.opt[0] == 'U';
        EXPECT_EQ(run("C:\\S\\*.TXT", "D:\\T"), 0) << out;
        std::string want = c.copied ? "xxxx" : (c.present ? "old" : "");
        EXPECT_EQ(slurp(dnat("T/F.TXT")), want) << "/" << c.opt << " present " << c.present;
        if (c.opt[0] == 'U' && c.present && c.srcnewer <= 0) {
            EXPECT_NE(out.find("skip!(not newer): F.TXT"), std::string::npos) << out;
        }
    }
}

// A backup that cannot be made used to be ignored and the file overwritten
// anyway: with /B the old contents must never go without their copy.
TEST_F(EngineRun, FailedBackupKeepsTheDestination) {
    file("S/A.TXT", 2);
    file("S/B.TXT", 2);
    std::filesystem::create_directories(dnat("T"));
    put(dnat("T/A.TXT"), "precious");
    opt_backup = 1;
    plat_failcall(PLAT_CALL_MOVE, 1, PLAT_ERR_ACCESS_DENIED);
    EXPECT_EQ(run("C:\\S\\*.TXT", "D:\\T"), 1) << out;
    EXPECT_EQ(slurp(dnat("T/A.TXT")), "precious");
    EXPECT_TRUE(dexists("T/B.TXT")); // the run went on with the next file
    EXPECT_EQ(filesfailed, 1u);
    EXPECT_NE(out.find("Error! backup failed: D:\\T\\A.TXT"), std::string::npos) << out;
}

// The destination reached through a link is the source itself: the
// backup used to rename the source away before the copy found it gone.
TEST_F(EngineRun, DestinationIsTheSourceItself) {
    file("S/A.TXT", 2);
    std::filesystem::create_directories(dnat("T"));
    ASSERT_TRUE(symlink(at("S/A.TXT"), dnat("T/A.TXT")));
    opt_backup = 1;
    EXPECT_EQ(run("C:\\S\\*.TXT", "D:\\T"), 1) << out;
    EXPECT_EQ(slurp(at("S/A.TXT")), "xx");
    EXPECT_FALSE(dexists("T/A(000).TXT"));
    EXPECT_NE(out.find("are same path"), std::string::npos) << out;
}

// Gathering two same-named files keeps both: the first is set aside under
// a backup name when the second, different one arrives.
TEST_F(EngineRun, GatherKeepsSameNamedFiles) {
    file("S/ONE/R.TXT", 1);
    file("S/TWO/R.TXT", 2);
    opt_gather = 1;
    opt_structure = 0;
    EXPECT_EQ(run("C:\\S", "D:\\T"), 0) << out;
    std::string first = slurp(dnat("T/R(000).TXT"));
    std::string second = slurp(dnat("T/R.TXT"));
    EXPECT_EQ(first.size() + second.size(), 3u) << out;
    EXPECT_NE(first, second);
}

// A failed copy ends the walk and the exit status says so.
TEST_F(EngineRun, FailedCopyEndsTheWalk) {
    file("S/A.TXT", 1);
    file("S/B.TXT", 1);
    plat_failcall(PLAT_CALL_OPEN, 1, PLAT_ERR_ACCESS_DENIED);
    EXPECT_EQ(run("C:\\S\\*.TXT", "D:\\T"), 1) << out;
    EXPECT_FALSE(dexists("T/B.TXT"));
    EXPECT_NE(out.find("Error! xfind() abort. ERROR_FUNC (code = 253)"), std::string::npos)
        << out;
}

// On Linux a name may hold "*" or "?"; it must never be taken for a
// pattern that picks another file at the destination.
TEST_F(EngineRun, WildcardCharactersInNames) {
    file("S/a*", 3);
    std::filesystem::create_directories(dnat("T"));
    put(dnat("T/abc"), "other");
    EXPECT_EQ(run("C:\\S\\*.*", "D:\\T"), 0) << out;
    EXPECT_EQ(slurp(dnat("T/abc")), "other");
    EXPECT_EQ(slurp(dnat("T/a*")), "xxx") << out;
}

// A destination path that would pass 260 characters is reported and the
// file counted as failed, never cut short; the other files are still done.
TEST_F(EngineRun, DestinationTooLong) {
    std::string deep(200, 'D'), deeper(40, 'E');
    std::string longname(30, 'L');
    file("S/" + longname, 1);
    file("S/SHORT", 1);
    std::filesystem::create_directories(dnat(deep + "/" + deeper));
    std::string dst = "D:\\" + deep + "\\" + deeper;
    EXPECT_EQ(run("C:\\S\\*.*", dst), 1) << out;
    EXPECT_NE(out.find("Error! path too long: " + dst + "\\" + longname), std::string::npos)
        << out;
    EXPECT_TRUE(dexists(deep + "/" + deeper + "/SHORT"));
    EXPECT_EQ(filesfailed, 1u);
}

// Removing the source base: a base the walk already removed counts as
// removed, so a complete move ends with status 0.
TEST_F(EngineRun, BaseRemovedByTheWalk) {
    file("S/SUB/A.TXT");
    opt_structure = 1;
    opt_move = 1;
    opt_rmdir = 1;
    rmsubdir = 1;
    recursemode = 1;
    char arg[] = "C:\\S";
    Capture cap(1);
    ASSERT_EQ(expandsrc(arg, &p), 0);
    ASSERT_EQ(setupdst(&p, "D:\\T"), 0);
    int r = runsrc("C:\\S", &p);
    out = cap.text();
    EXPECT_EQ(r, 0) << out;
    EXPECT_FALSE(exists("S"));
    EXPECT_TRUE(dexists("T/SUB/A.TXT"));
    EXPECT_NE(out.find("<C:\\S> deleted"), std::string::npos) << out;
}

// In-place case change: README.TXT becomes readme.txt; in gather mode a
// name already taken in the base directory is reported, not passed over.
TEST_F(EngineRun, RenameInPlace) {
    file("S/README.TXT", 1);
    file("S/SUB/readme.txt", 2);
    opt_lower = 1;
    EXPECT_EQ(run("C:\\S\\README.TXT", ""), 0) << out;
    EXPECT_TRUE(exists("S/readme.txt"));
    EXPECT_NE(out.find("README.TXT as readme.txt"), std::string::npos) << out;

    resetrun();
    freeparam(&p);
    ASSERT_EQ(initparam(&p), 0);
    file("S/SUB/other.txt", 2);
    opt_lower = 1;
    opt_gather = 1;
    opt_structure = 0;
    EXPECT_EQ(run("C:\\S\\*.TXT", ""), 1) << out;
    EXPECT_EQ(slurp(at("S/readme.txt")), "x"); // not replaced by SUB's file
    EXPECT_TRUE(exists("S/SUB/readme.txt"));
    EXPECT_TRUE(exists("S/other.txt"));
    EXPECT_NE(out.find("Error! rename failed: C:\\S\\SUB\\readme.txt"), std::string::npos) << out;
}

// A list written on Windows (CR LF, blank lines) works; a line too long
// for an entry is refused whole instead of being cut into a shorter name
// that names another file.
TEST_F(EngineRun, ListFile) {
    file("S/A.TXT");
    file("S/B.TXT");
    file("VICTIM.TXT");
    std::string longline = "C:\\" + std::string(252, 'Q') + "VICTIM.TXT";
    put(at("LIST.LST"), "C:\\S\\A.TXT\r\n\r\n" + longline + "\r\nC:\\S\\B.TXT");
    opt_delete = 1;
    EXPECT_EQ(run("@C:\\LIST.LST", ""), 1) << out;
    EXPECT_FALSE(exists("S/A.TXT"));
    EXPECT_FALSE(exists("S/B.TXT"));
    EXPECT_TRUE(exists("VICTIM.TXT"));
    EXPECT_EQ(filesdeleted, 2u);
    EXPECT_NE(out.find("       2 File(s) found"), std::string::npos) << out;
}

// A listed directory is walked and, when deleting, removed once empty.
TEST_F(EngineRun, ListedDirectory) {
    file("S/D1/A.TXT");
    put(at("LIST.LST"), "C:\\S\\D1\n");
    opt_delete = 1;
    EXPECT_EQ(run("@C:\\LIST.LST", ""), 0) << out;
    EXPECT_FALSE(exists("S/D1"));
    EXPECT_NE(out.find("<C:\\S\\D1> deleted"), std::string::npos) << out;

    EXPECT_EQ(run("@C:\\MISSING.LST", ""), -1);
    EXPECT_NE(out.find("Error! file open failed: C:\\MISSING.LST"), std::string::npos) << out;
}

// With a reference destination, /DEL /O deletes exactly the sources that
// have a counterpart; a reference directory inside the source is skipped
// by the gather walk, so its files are never taken for sources.
TEST_F(EngineRun, DeleteWithReference) {
    file("S/A.TXT");
    file("S/B.TXT");
    file("S/REF/A.TXT");
    opt_delete = 1;
    opt_overonly = 1;
    opt_gather = 1;
    opt_structure = 0;
    EXPECT_EQ(run("C:\\S\\*.TXT", "C:\\S\\REF"), 0) << out;
    EXPECT_FALSE(exists("S/A.TXT"));
    EXPECT_TRUE(exists("S/B.TXT"));
    EXPECT_TRUE(exists("S/REF/A.TXT"));
    EXPECT_NE(out.find("skip!: <C:\\S\\REF>\n"), std::string::npos) << out;
}

// A rename format: in place the file takes its new name beside itself;
// with a destination and /B an existing file of the new name is kept
// under a backup name, and with /I it stays in place to be appended to.
TEST_F(EngineRun, RenameFormat) {
    file("S/A.TXT", 2);
    std::strcpy(p.format, "$F_1.$E");
    EXPECT_EQ(run("C:\\S\\A.TXT", ""), 0) << out;
    EXPECT_TRUE(exists("S/A_1.TXT"));
    EXPECT_FALSE(exists("S/A.TXT"));
    EXPECT_NE(out.find("A.TXT as A_1.TXT"), std::string::npos) << out;

    struct Case {
        int incremental;
        const char *want, *saved;
    } cases[] = {{0, "xx", "old"}, {1, "oldxx", "old"}};
    for (const Case &c : cases) {
        resetrun();
        freeparam(&p);
        ASSERT_EQ(initparam(&p), 0);
        std::filesystem::remove_all(dnat("T"));
        std::filesystem::create_directories(dnat("T"));
        put(dnat("T/A_1.TXT"), "old");
        std::strcpy(p.format, "$F_1.$E");
        opt_backup = 1;
        opt_incremental = c.incremental;
        EXPECT_EQ(run("C:\\S\\A_1.TXT", "D:\\T"), 0) << out;
        EXPECT_EQ(slurp(dnat("T/A_1_1.TXT")), "xx") << out;
        put(dnat("T/A_1.TXT"), "old"); // the same again onto an existing name
        resetrun();
        freeparam(&p);
        ASSERT_EQ(initparam(&p), 0);
        std::strcpy(p.format, "$F.$E");
        opt_backup = 1;
        opt_incremental = c.incremental;
        put(at("S/X.TXT"), "xx");
        std::filesystem::rename(dnat("T/A_1.TXT"), dnat("T/X.TXT"));
        EXPECT_EQ(run("C:\\S\\X.TXT", "D:\\T"), 0) << out;
        EXPECT_EQ(slurp(dnat("T/X.TXT")), c.want) << "/I " << c.incremental << "\n" << out;
        EXPECT_EQ(slurp(dnat("T/X(000).TXT")), c.saved) << out;
    }
}

} // namespace
