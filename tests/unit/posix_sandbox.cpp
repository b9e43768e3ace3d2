// What the contract tests' sandbox does its own way on POSIX (see
// platform_test.h).
#include "platform_test.h"

#include "platform/posix/encoding.h"

namespace {
std::string oldtemp, madedir;
bool hadtemp, savedtemp;
} // namespace

namespace sandbox {

// Names on disk are UTF-8, whatever codeset an earlier test left.
void setup() { ASSERT_EQ(enc_init("UTF-8"), 0); }

void teardown() {
    if (savedtemp) {
        if (hadtemp)
            ::setenv("TEMP", oldtemp.c_str(), 1);
        else
            ::unsetenv("TEMP");
        savedtemp = false;
    }
    if (!madedir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(madedir, ec);
        madedir.clear();
    }
}

void set_temp(const std::string &dir) {
    if (!savedtemp) {
        const char *v = std::getenv("TEMP");
        hadtemp = v != nullptr;
        oldtemp = hadtemp ? v : "";
        savedtemp = true;
    }
    ::setenv("TEMP", dir.c_str(), 1);
}

// /dev/shm is a tmpfs wherever Linux has one; a native path names it.
std::string other_fs() {
    struct stat shm, here;
    if (::stat("/dev/shm", &shm) != 0 || ::stat(".", &here) != 0 || shm.st_dev == here.st_dev)
        return "";
    char tmpl[] = "/dev/shm/moxfs_XXXXXX";
    if (::mkdtemp(tmpl) == nullptr)
        return "";
    madedir = tmpl;
    return madedir;
}

long time_grain() { return 1; }

long long local_moment(int year, int month, int day, int hour, int minute, int second) {
    struct tm tm = {};
    tm.tm_year = year - 1900, tm.tm_mon = month - 1, tm.tm_mday = day;
    tm.tm_hour = hour, tm.tm_min = minute, tm.tm_sec = second, tm.tm_isdst = -1;
    return (long long)mktime(&tm);
}

} // namespace sandbox
