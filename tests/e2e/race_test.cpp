// A tree that another process changes while a run works in it: a directory
// swapped for a link to another tree, again and again, between the walk's
// look and its act. Nothing outside the named trees may be deleted, moved,
// emptied or written.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "disposal_util.h"
#include "engine_util.h"
#include "harness.h"

using namespace e2e;

namespace {

using Lines = std::vector<std::string>;

constexpr int OUTSIDE_FILES = 100;
constexpr int PAIRS = 4; // directories swapped, each holding a quarter of the files
constexpr unsigned RENAME_EXCHANGE_FLAG = 2; // RENAME_EXCHANGE

// A child process that exchanges pairs of entries, one pair after the
// other, as fast as it can until it is stopped: the small exchanging
// helper of these tests.
class Exchanger {
public:
    explicit Exchanger(const std::vector<std::pair<std::string, std::string>> &pairs) {
        pid_ = ::fork();
        if (pid_ == 0) {
            for (;;)
                for (const auto &[a, b] : pairs)
                    ::syscall(SYS_renameat2, AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(),
                              RENAME_EXCHANGE_FLAG);
        }
    }
    ~Exchanger() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Exchanger(const Exchanger &) = delete;
    Exchanger &operator=(const Exchanger &) = delete;
    bool ok() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

// E:\OUT, the tree outside: the files a swapped link leads to.
void make_outside(const Sandbox &box) {
    for (int i = 0; i < OUTSIDE_FILES; i++)
        box.write('E', "OUT/f" + std::to_string(i) + ".txt", "outside " + std::to_string(i));
}

// The outside files that are no longer there as they were.
int outside_changed(const Sandbox &box) {
    int changed = 0;
    for (int i = 0; i < OUTSIDE_FILES; i++) {
        std::string rel = "OUT/f" + std::to_string(i) + ".txt";
        if (!box.exists('E', rel) || box.read('E', rel) != "outside " + std::to_string(i))
            changed++;
    }
    return changed + (tree(box.native('E', "OUT")).size() != OUTSIDE_FILES ? 1 : 0);
}

struct RaceCase {
    const char *name;
    Lines args;
    bool destination; // the swapped directory is in the destination tree
};

// Another process looping RENAME_EXCHANGE between a directory of the tree
// and a link to E:\OUT used to lead /DEL /S, /M /S and /DEL! /S into E:\OUT,
// whose files they deleted, moved or trashed; in the destination tree the
// same swap led /S /Z and /S /B to empty or rename a file of E:\OUT. The
// walk opened each directory by its name again after the listing that saw
// it, following whatever stood there by then.
TEST(Race, SwappedDirectoryNeverLeadsOutOfTheTree) {
    SKIP_ON_WIN32("renameat2 and symbolic links");
    const RaceCase cases[] = {
        {"/DEL /S", {"/DEL", "/S", "/Y", "D:\\S"}, false},
        {"/M /S", {"/M", "/S", "D:\\S", "D:\\M"}, false},
        {"/DEL! /S", {"/DEL!", "/S", "/Y", "D:\\S"}, false},
        {"/S /Z", {"/S", "/Z", "D:\\S", "E:\\DST"}, true},
        {"/S /B", {"/S", "/B", "D:\\S", "E:\\DST"}, true},
    };
    const int rounds = 40;
    for (const RaceCase &c : cases) {
        int bad = 0;
        for (int round = 0; round < rounds && bad == 0; round++) {
            Sandbox box;
            make_outside(box);
            const char drive = c.destination ? 'E' : 'D';
            const std::string at = c.destination ? "DST/" : "S/";
            std::vector<std::pair<std::string, std::string>> pairs;
            for (int k = 0; k < PAIRS; k++) {
                std::string sub = "sub" + std::to_string(k), lnk = "lnk" + std::to_string(k);
                for (int i = k * OUTSIDE_FILES / PAIRS; i < (k + 1) * OUTSIDE_FILES / PAIRS; i++)
                    box.write('D', "S/" + sub + "/f" + std::to_string(i) + ".txt", "inside");
                box.mkdir(drive, at + sub);
                ASSERT_EQ(0, ::symlink(box.native('E', "OUT").c_str(),
                                       box.native(drive, at + lnk).c_str()));
                pairs.emplace_back(box.native(drive, at + sub), box.native(drive, at + lnk));
            }
            Exchanger swap(pairs);
            ASSERT_TRUE(swap.ok());
            RunResult r = box.run(c.args);
            ASSERT_FALSE(r.timed_out) << c.name;
            bad = outside_changed(box);
            EXPECT_EQ(0, bad) << c.name << ", round " << round << "\n" << r.out.substr(0, 3000);
        }
    }
}

// The directory named as the source of /DEL /S or /M /S was looked at for
// being a link, then opened by its name, following whatever stood there by
// then: swapped for a link to E:\OUT between the two, the walk deleted or
// moved E:\OUT's files. The swap is made here while the run waits at its
// prompt, after the look and before the walk.
TEST(Race, NamedSourceSwappedForALinkAfterItsLook) {
    SKIP_ON_WIN32("symbolic links");
    const std::string ask = "C]ontinue(or [ENTER]), Q]uit(or [ESC]) : ";
    struct Case {
        const char *name;
        Lines args;
        std::vector<std::string> prompts; // the last one is answered after the swap
    } cases[] = {
        {"/DEL /S", {"/DEL", "/S", "D:\\S"}, {SURE}},
        {"/M /S", {"/CHECK", "/M", "/S", "D:\\S", "D:\\M"}, {ask, ask, ask}},
    };
    for (const Case &c : cases) {
        Sandbox box;
        make_outside(box);
        box.write('D', "S/sub/in.txt", "inside");
        std::vector<PtyStep> steps;
        for (const std::string &prompt : c.prompts)
            steps.push_back({prompt, prompt == SURE ? "y" : "\r"});
        steps.back().act = [&box] {
            ::rename(box.native('D', "S").c_str(), box.native('D', "S.orig").c_str());
            ::symlink(box.native('E', "OUT").c_str(), box.native('D', "S").c_str());
        };
        RunResult r = box.run_pty(c.args, steps);
        ASSERT_FALSE(r.timed_out) << c.name << "\n" << r.out;
        EXPECT_EQ(1, r.status) << c.name << "\n" << r.out;
        EXPECT_NE(std::string::npos,
                  r.out.find("\nError! directory changed while in use: D:\\S\n"))
            << c.name << "\n" << r.out;
        EXPECT_EQ(0, outside_changed(box)) << c.name << "\n" << r.out;
        EXPECT_EQ("inside", box.read('D', "S.orig/sub/in.txt")) << c.name;
    }
}

} // namespace
