// Whole runs, in-process, while something else changes the file system at
// a chosen moment (a platform hook), or a signal ends the run half-way: a
// decision holds until the write, and nothing is lost or left behind.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/moxmain.h"
#include "fileops/filecopy.h"
#include "job/moxsub.h"
#include "search/xfind.h"
#include "sys/trash.h"
#include "tree.h"

// GLib's own answer, from the library the platform layer links.
extern "C" const char *g_get_user_data_dir(void);

namespace {

const time_t OLD = 1600000000, NEW = 1600001000;

std::string slurp(const std::string &native) {
    std::ifstream in(native, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Adds text to a file, made with its directory when missing.
void put(const std::string &native, const std::string &text, time_t t) {
    std::filesystem::create_directories(std::filesystem::path(native).parent_path());
    std::ofstream(native, std::ios::binary | std::ios::app) << text;
    struct utimbuf u = {t, t};
    ::utime(native.c_str(), &u);
}

// What a hook does: add text to a file (creating it), or make a directory.
struct Change {
    std::string path, text;
    time_t t = NEW;
    bool dir = false;
    PlatCall rearm = PLAT_CALL_COUNT; // arm again on each call of this
};

void apply(void *arg) {
    Change *c = static_cast<Change *>(arg);
    if (c->dir)
        std::filesystem::create_directories(c->path);
    else
        put(c->path, c->text, c->t);
    if (c->rearm != PLAT_CALL_COUNT)
        plat_hookcall(c->rearm, 1, apply, c);
}

// An editor's save: a new file renamed over the old one.
void saveover(void *arg) {
    Change *c = static_cast<Change *>(arg);
    put(c->path + "~", c->text, c->t);
    std::filesystem::rename(c->path + "~", c->path);
}

void terminate(void *) { ::raise(SIGTERM); }

// A directory swapped for a link to another tree: dir is renamed to aside
// and a link to target takes its place.
struct Swap {
    std::string dir, aside, target;
};

void swapdir(void *arg) {
    Swap *s = static_cast<Swap *>(arg);
    std::filesystem::rename(s->dir, s->aside);
    std::filesystem::create_directory_symlink(s->target, s->dir);
}

class Concurrent : public TreeTest {
protected:
    PARAM p{};
    std::string out;

    void SetUp() override {
        TreeTest::SetUp();
        reset();
        ASSERT_EQ(initparam(&p), 0);
    }
    void TearDown() override {
        for (int call = 0; call < PLAT_CALL_COUNT; call++) {
            plat_failcall((PlatCall)call, 0, 0);
            plat_hookcall((PlatCall)call, 0, nullptr, nullptr);
        }
        freeparam(&p);
        reset();
        TreeTest::TearDown();
    }
    static void reset() {
        resetsettings();
        filesdone = filesfailed = filesskipped = filesdeleted = 0;
        trashcount = 0;
        casechange = nullptr;
        xfind_errcode = 0;
    }

    std::string dn(const std::string &rel) const { return d + "/" + rel; }

    // Sets the job up as the front end would and runs it: the exit status,
    // with the output in `out`.
    int run(const std::string &src, const std::string &dst) {
        recursemode = opt_structure == 1 || opt_gather == 1;
        renamemode = p.format[0] != 0 || opt_lower == 1 || opt_upper == 1;
        char arg[PATH_SIZE];
        std::strcpy(arg, src.c_str());
        Capture cap(1);
        int r = -9;
        if (expandsrc(arg, &p) == 0 && (dst.empty() || setupdst(&p, dst.c_str()) == 0))
            r = runsrc(src.c_str(), &p);
        out = cap.text();
        return r;
    }
};

// The final rename replaced whatever was there by then: two runs into one
// destination, and /N overwrote the other's files, /B without a backup.
// A file that takes the name after the look is present, decided anew.
TEST_F(Concurrent, FileAppearingBeforeTheRenameIsDecidedAgain) {
    struct Case {
        const char *opts, *format;
        char drive;       // of the destination; C: makes /M a rename
        const char *name; // the destination file
        const char *now, *saved; // its content afterwards, and the backup's
    } cases[] = {
        {"N", "", 'D', "A.TXT", "theirs", nullptr},
        {"B", "", 'D', "A.TXT", "mine", "theirs"},
        {"U", "", 'D', "A.TXT", "theirs", nullptr}, // theirs is newer
        {"", "", 'D', "A.TXT", "mine", nullptr},
        {"MN", "", 'C', "A.TXT", "theirs", nullptr},
        {"B", "$F_1.$E", 'D', "A_1.TXT", "mine", "theirs"},
    };
    for (const Case &c : cases) {
        reset();
        freeparam(&p);
        ASSERT_EQ(initparam(&p), 0);
        std::filesystem::remove_all(at("S"));
        std::filesystem::remove_all(dn("T"));
        std::filesystem::remove_all(at("T"));
        std::string tdir = c.drive == 'C' ? at("T") : dn("T");
        std::filesystem::create_directories(tdir);
        put(at("S/A.TXT"), "mine", OLD);
        opt_noover = std::strchr(c.opts, 'N') != nullptr;
        opt_backup = std::strchr(c.opts, 'B') != nullptr;
        opt_update = std::strchr(c.opts, 'U') != nullptr;
        opt_move = std::strchr(c.opts, 'M') != nullptr;
        std::strcpy(p.format, c.format);
        Change appear{tdir + "/" + c.name, "theirs"};
        plat_hookcall(PLAT_CALL_MOVE, 1, apply, &appear);
        std::string what = std::string("/") + c.opts + " " + c.format;
        int r = run("C:\\S\\A.TXT", std::string(1, c.drive) + ":\\T");
        EXPECT_EQ(r, 0) << what << "\n" << out;
        EXPECT_EQ(slurp(tdir + "/" + c.name), c.now) << what << "\n" << out;
        std::string backup = std::string(c.name).insert(std::strlen(c.name) - 4, "(000)");
        EXPECT_EQ(std::filesystem::exists(tdir + "/" + backup), c.saved != nullptr)
            << what << "\n" << out;
        if (c.saved != nullptr) {
            EXPECT_EQ(slurp(tdir + "/" + backup), c.saved) << what;
        }
        EXPECT_TRUE(exists("S/A.TXT")) << what; // /M /N: the move did not happen
    }
}

// A destination directory another process made between the look and the
// make was taken for a failure, and the walk ended.
TEST_F(Concurrent, DirectoryMadeMeanwhileIsNoFailure) {
    put(at("S/SUB/A.TXT"), "a", OLD);
    std::filesystem::create_directories(dn("T"));
    Change made{dn("T/SUB"), "", NEW, true};
    plat_hookcall(PLAT_CALL_MKDIR, 1, apply, &made);
    opt_structure = 1;
    EXPECT_EQ(run("C:\\S", "D:\\T"), 0) << out;
    EXPECT_EQ(slurp(dn("T/SUB/A.TXT")), "a");
}

// A directory named by a list line was looked at for being a link, then
// opened by its name: swapped for a link to another tree meanwhile (here
// while /M /S makes its counterpart), the walk moved that tree's files.
TEST_F(Concurrent, ListedDirectorySwappedForALinkIsNotEntered) {
    put(at("S/D1/in.txt"), "inside", OLD);
    put(dn("OUT/out.txt"), "outside", OLD);
    put(at("LIST"), at("S/D1") + "\n", OLD);
    std::filesystem::create_directories(dn("T"));
    struct Swap {
        std::string dir, target;
    } swap{at("S/D1"), dn("OUT")};
    plat_hookcall(
        PLAT_CALL_MKDIR, 1,
        [](void *arg) {
            Swap *w = static_cast<Swap *>(arg);
            std::filesystem::rename(w->dir, w->dir + ".orig");
            std::filesystem::create_directory_symlink(w->target, w->dir);
        },
        &swap);
    opt_move = 1;
    opt_structure = 1;
    recursemode = 1;
    Capture cap(1);
    if (setupdst(&p, "D:\\T") == 0)
        runsrc("@C:\\LIST", &p);
    out = cap.text();
    EXPECT_NE(out.find("Error! directory changed while in use: C:\\S\\D1\n"), std::string::npos)
        << out;
    EXPECT_EQ(slurp(dn("OUT/out.txt")), "outside") << out;
    EXPECT_EQ(slurp(at("S/D1.orig/in.txt")), "inside") << out;
}

// A name taken again at every attempt must not hold the run forever.
TEST_F(Concurrent, NameTakenAgainAndAgainIsGivenUp) {
    put(at("S/A.TXT"), "mine", OLD);
    std::filesystem::create_directories(dn("T"));
    Change appear{dn("T/A.TXT"), "x", NEW, false, PLAT_CALL_MOVE};
    plat_hookcall(PLAT_CALL_MOVE, 1, apply, &appear);
    opt_backup = 1;
    EXPECT_EQ(run("C:\\S\\A.TXT", "D:\\T"), 1) << out;
    EXPECT_NE(out.find("\nError! destination keeps changing: D:\\T\\A.TXT\n"), std::string::npos)
        << out;
    EXPECT_NE(slurp(dn("T/A.TXT")), "mine");
}

// A move across drives deleted its source after the copy even when the
// source had grown meanwhile: what was written during the copy was lost.
TEST_F(Concurrent, MovedSourceThatChangedIsKept) {
    put(at("S/A.TXT"), "first", OLD);
    Change grow{at("S/A.TXT"), " and more", NEW};
    plat_hookcall(PLAT_CALL_READ, 1, apply, &grow);
    opt_move = 1;
    EXPECT_EQ(run("C:\\S\\A.TXT", "D:\\T"), 1) << out;
    EXPECT_NE(out.find("\nError! source changed while copied, not removed: C:\\S\\A.TXT\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(slurp(at("S/A.TXT")), "first and more");
    EXPECT_TRUE(std::filesystem::exists(dn("T/A.TXT")));
    EXPECT_EQ(filesfailed, 1u);
}

// A move across drives looked at its source, then deleted it by name: a
// file saved over the source in between was deleted without being copied.
TEST_F(Concurrent, FileSavedOverAMovedSourceIsKept) {
    put(at("S/A.TXT"), "first", OLD);
    Change save{at("S/A.TXT"), "saved"};
    plat_hookcall(PLAT_CALL_DELETE, 1, saveover, &save);
    opt_move = 1;
    EXPECT_EQ(run("C:\\S\\A.TXT", "D:\\T"), 1) << out;
    EXPECT_NE(out.find("\nError! source changed while copied, not removed: C:\\S\\A.TXT\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(slurp(at("S/A.TXT")), "saved");
    EXPECT_EQ(slurp(dn("T/A.TXT")), "first");
}

// /DEL+ handed the desktop's trash the file's path, which it resolved
// again: a directory swapped for a link after the run's look sent the file
// of another tree to the trash in its place.
TEST_F(Concurrent, SwappedDirectorySendsNothingElseToTheRecycleBin) {
    put(at("S/A.TXT"), "mine", OLD);
    put(top + "/out/A.TXT", "outside", OLD);
    const std::string data = top + "/data";
    std::filesystem::create_directories(data);
    std::filesystem::create_directories(top + "/home");
    std::fflush(nullptr);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) { // GLib keeps the first data directory it reads
        ::setenv("HOME", (top + "/home").c_str(), 1);
        ::setenv("XDG_DATA_HOME", data.c_str(), 1);
        if (data != g_get_user_data_dir())
            ::_exit(2);
        Swap swap{at("S"), at("S0"), top + "/out"};
        plat_hookcall(PLAT_CALL_MOVE, 1, swapdir, &swap);
        opt_recycle = 1;
        ::_exit(run("C:\\S\\A.TXT", "") == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "GLib read its data directory before the test could set it";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(slurp(top + "/out/A.TXT"), "outside");
    EXPECT_EQ(slurp(data + "/Trash/files/A.TXT"), "mine");
    EXPECT_FALSE(std::filesystem::exists(at("S0/A.TXT")));
}

// Ended by a signal half-way through a copy, a run left its temporary file
// beside the destination, and no later run removed it.
TEST_F(Concurrent, SignalMidCopyLeavesNoTemporaryFile) {
    put(at("S/A.TXT"), "mine", NEW);
    put(dn("T/A.TXT"), "old", OLD);
    std::fflush(nullptr);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        plat_hookcall(PLAT_CALL_WRITE, 1, terminate, nullptr);
        run("C:\\S\\A.TXT", "D:\\T");
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    std::vector<std::string> left;
    for (const auto &e : std::filesystem::directory_iterator(dn("T")))
        left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"A.TXT"});
    EXPECT_EQ(slurp(dn("T/A.TXT")), "old");
}

} // namespace
