// The recycle bin, checked against a trash inside the test tree.
//
// GLib reads HOME and XDG_DATA_HOME once per process and keeps what it
// found. Each check therefore runs in a child process that points both into
// the tree before its first GIO call, and proves that GLib took them before
// anything is trashed: the user's own trash is never touched.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "tree.h"

// GLib's own answer, from the library the platform layer links; its
// headers are not on this target's include path.
extern "C" const char *g_get_user_data_dir(void);

namespace {

struct Outcome {
    int sandboxed; // GLib's data directory is the tree's
    int result;    // of plat_recycle
    unsigned error;
};

class Recycle : public TreeTest {
protected:
    std::string home, data;

    void SetUp() override {
        TreeTest::SetUp();
        home = top + "/home";
        data = top + "/data";
        std::filesystem::create_directory(home);
        std::filesystem::create_directory(data);
    }

    // plat_recycle(path) in a child whose HOME and XDG_DATA_HOME lie in the
    // tree. The child calls nothing when GLib does not agree.
    Outcome recycle(const char *path) {
        Outcome got = {0, 0, 0};
        EXPECT_EQ(data.rfind(top + "/", 0), 0u); // the sandbox, nothing else
        int fds[2];
        if (::pipe(fds) != 0) {
            ADD_FAILURE() << "pipe";
            return got;
        }
        std::fflush(nullptr);
        pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            ::setenv("HOME", home.c_str(), 1);
            ::setenv("XDG_DATA_HOME", data.c_str(), 1);
            Outcome o = {0, 0, 0};
            o.sandboxed = data == g_get_user_data_dir();
            if (o.sandboxed) {
                o.result = plat_recycle(path);
                o.error = plat_lasterror();
            }
            ssize_t n = ::write(fds[1], &o, sizeof o);
            ::_exit(n == (ssize_t)sizeof o ? 0 : 1);
        }
        ::close(fds[1]);
        ssize_t n = ::read(fds[0], &got, sizeof got);
        ::close(fds[0]);
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_EQ(n, (ssize_t)sizeof got);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        return got;
    }

    std::string read(const std::string &native) const {
        std::ifstream in(native, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

std::string unescape(const std::string &s) {
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '%' && i + 2 < s.size()) {
            out += (char)std::stoi(s.substr(i + 1, 2), nullptr, 16);
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// The value of "Path=" in a .trashinfo file.
std::string infopath(const std::string &info) {
    std::istringstream in(info);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("Path=", 0) == 0)
            return line.substr(5);
    return "";
}

// The file lands in the sandbox's trash with the record a desktop needs to
// put it back: its original path, escaped as a URL. The DOS path is found
// ignoring case and resolves to the name as stored.
TEST_F(Recycle, FileGoesToTheTrashWithItsOrigin) {
    file("DATA/A B.TXT", 5);
    Outcome o = recycle("C:\\data\\a b.txt");
    if (!o.sandboxed)
        GTEST_SKIP() << "GLib was started before the sandbox was set";
    ASSERT_EQ(o.result, 0) << o.error;
    EXPECT_FALSE(exists("DATA/A B.TXT"));
    EXPECT_EQ(read(data + "/Trash/files/A B.TXT"), "xxxxx");
    std::string path = infopath(read(data + "/Trash/info/A B.TXT.trashinfo"));
    EXPECT_EQ(path.find(' '), std::string::npos) << path;
    EXPECT_EQ(unescape(path), at("DATA/A B.TXT"));
}

// A missing file is reported as one and leaves no trash behind.
TEST_F(Recycle, MissingFileFails) {
    Outcome o = recycle("C:\\NONE.TXT");
    if (!o.sandboxed)
        GTEST_SKIP() << "GLib was started before the sandbox was set";
    EXPECT_EQ(o.result, -1);
    EXPECT_EQ(o.error, 2u);
    EXPECT_FALSE(std::filesystem::exists(data + "/Trash"));
}

// When the trash cannot be made the file must stay: deleting it instead
// would turn "put it where I can get it back" into a loss.
TEST_F(Recycle, NoTrashLeavesTheFile) {
    file("A.TXT", 3);
    std::ofstream(data + "/Trash") << "in the way";
    Outcome o = recycle("C:\\A.TXT");
    if (!o.sandboxed)
        GTEST_SKIP() << "GLib was started before the sandbox was set";
    EXPECT_EQ(o.result, -1);
    EXPECT_NE(o.error, 0u);
    EXPECT_EQ(read(at("A.TXT")), "xxx");
}

// What we trash must be what the desktop's own tools see. They need the
// gvfs trash service; without it (a server, a container) there is nothing
// to compare with.
TEST_F(Recycle, ListedByGio) {
    if (std::system("command -v gio >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no gio";
    file("LISTED.TXT", 1);
    Outcome o = recycle("C:\\LISTED.TXT");
    if (!o.sandboxed)
        GTEST_SKIP() << "GLib was started before the sandbox was set";
    ASSERT_EQ(o.result, 0);
    // No session bus of the real user: a service answering from it would
    // list the real trash, not this one.
    std::string cmd = "env -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR='" + top +
                      "' HOME='" + home + "' XDG_DATA_HOME='" + data +
                      "' gio trash --list 2>&1";
    std::FILE *p = ::popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    int status = ::pclose(p);
    if (status != 0)
        GTEST_SKIP() << "gio cannot list the trash here: " << out;
    EXPECT_NE(out.find("LISTED.TXT"), std::string::npos) << out;
}

} // namespace
