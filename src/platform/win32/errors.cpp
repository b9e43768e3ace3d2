// The last error, its text, and the failures a test can arm. The codes are
// the system's own (GetLastError); the core sees them through
// plat_lasterror, which no backend call in between can overwrite.
#include "platform/win32/native.h"

#include <cstdio>
#include <cwchar>

namespace {

unsigned lasterr;

struct Armed {
    int left; // calls to go before the failure; 0 when disarmed
    unsigned code;
};
Armed armed[PLAT_CALL_COUNT];

struct Hook {
    int left; // calls to go before it runs; 0 when disarmed
    void (*fn)(void *);
    void *arg;
};
Hook hooks[PLAT_CALL_COUNT];

// Disarmed before it runs, so that a hook may arm itself again.
void run_hook(PlatCall call) {
    Hook &h = hooks[call];
    if (h.left == 0 || --h.left != 0)
        return;
    h.fn(h.arg);
}

} // namespace

unsigned plat_lasterror(void) { return lasterr; }

void plat_setlasterror(unsigned code) { lasterr = code; }

void set_sys_error(void) {
    DWORD code = GetLastError();
    // A failure that left no code of its own still failed.
    lasterr = code != 0 ? (unsigned)code : 31; // a device is not functioning
}

void set_missing_error(const wchar_t *path) {
    wchar_t dir[WPATH_SIZE];
    const wchar_t *name;
    DWORD a = wsplit(path, dir, WPATH_SIZE, &name) == 0 ? GetFileAttributesW(dir)
                                                        : INVALID_FILE_ATTRIBUTES;
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY))
        plat_setlasterror(PLAT_ERR_FILE_NOT_FOUND);
    else
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
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

void plat_failcall(PlatCall call, int nth, unsigned code) {
    if ((int)call < 0 || call >= PLAT_CALL_COUNT)
        return;
    armed[call].left = nth > 0 ? nth : 0;
    armed[call].code = code;
}

void plat_hookcall(PlatCall call, int nth, void (*hook)(void *arg), void *arg) {
    if ((int)call < 0 || call >= PLAT_CALL_COUNT)
        return;
    hooks[call].left = nth > 0 && hook != nullptr ? nth : 0;
    hooks[call].fn = hook;
    hooks[call].arg = arg;
}

int fail_now(PlatCall call) {
    if ((int)call < 0 || call >= PLAT_CALL_COUNT)
        return 0;
    run_hook(call);
    if (armed[call].left == 0)
        return 0;
    if (--armed[call].left != 0)
        return 0;
    plat_setlasterror(armed[call].code);
    return 1;
}
