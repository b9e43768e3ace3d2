// What the contract tests' sandbox does its own way under Wine (see
// platform_test.h).
#include "platform_test.h"

namespace {
std::string madedir; // as a Unix path
} // namespace

namespace sandbox {

void setup() {}

void teardown() {
    if (!madedir.empty()) {
        unix_sh("rm -rf '" + madedir + "'");
        madedir.clear();
    }
}

// The tree's fixture puts TEMP and TMP back.
void set_temp(const std::string &dir) {
    std::string w = dir;
    std::replace(w.begin(), w.end(), '/', '\\');
    SetEnvironmentVariableA("TEMP", w.c_str());
    SetEnvironmentVariableA("TMP", w.c_str());
}

// /dev/shm, a tmpfs, through drive Z (the root), which the tests never move.
std::string other_fs() {
    static int serial;
    if (GetFileAttributesW(L"Z:\\dev\\shm") == INVALID_FILE_ATTRIBUTES)
        return "";
    std::string name = "moxfs" + std::to_string(GetCurrentProcessId()) + "_" +
                       std::to_string(++serial);
    std::string dir = "Z:\\dev\\shm\\" + name;
    if (!CreateDirectoryA(dir.c_str(), nullptr))
        return "";
    madedir = "/dev/shm/" + name;
    return dir;
}

long time_grain() { return 100; }

// The C runtime's mktime reads TZ its own way; the system's zone is Wine's.
long long local_moment(int year, int month, int day, int hour, int minute, int second) {
    SYSTEMTIME local = {(WORD)year,   (WORD)month,  0, (WORD)day, (WORD)hour,
                        (WORD)minute, (WORD)second, 0};
    SYSTEMTIME utc;
    FILETIME ft;
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) || !SystemTimeToFileTime(&utc, &ft))
        return -1;
    unsigned long long ticks = (unsigned long long)ft.dwHighDateTime << 32 | ft.dwLowDateTime;
    return (long long)(ticks / 10000000ULL) - 11644473600LL;
}

} // namespace sandbox
