// Whole runs, in-process, while a signal ends the run at a chosen moment (a
// platform hook): nothing is lost or left behind.
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

void terminate(void *) { ::raise(SIGTERM); }

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
        if (expandsrc(arg, &p) == 0 && setupdst(&p, dst.c_str()) == 0)
            r = runsrc(src.c_str(), &p);
        out = cap.text();
        return r;
    }
};

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
