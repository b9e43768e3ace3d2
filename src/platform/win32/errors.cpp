// The last error and its text. The codes are
// the system's own (GetLastError); the core sees them through
// plat_lasterror, which no backend call in between can overwrite.
#include "platform/win32/native.h"

#include <cstdio>
#include <cwchar>

namespace {

unsigned lasterr;

} // namespace

unsigned plat_lasterror(void) { return lasterr; }

void plat_setlasterror(unsigned code) { lasterr = code; }

void set_sys_error(void) {
    DWORD code = GetLastError();
    // A failure that left no code of its own still failed.
    lasterr = code != 0 ? (unsigned)code : 31; // a device is not functioning
}

int fail_sys(void) {
    set_sys_error();
    return -1;
}

// The system's text in the user's language, as FormatMessage gives it.
void plat_errortext(unsigned code, char *out, size_t size) {
    if (out == nullptr || size == 0)
        return;
    wchar_t text[512];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, text, sizeof text / sizeof *text, nullptr);
    while (n > 0 && (text[n - 1] == L'\r' || text[n - 1] == L'\n' || text[n - 1] == L' '))
        n--;
    if (n == 0 || wide_to_core(text, n, out, size) < 0)
        std::snprintf(out, size, "Unknown error %u.", code);
}
