// The services of drives and paths: the drive types, the current drive
// and directories, full-path expansion. Windows keeps the drives and their
// directories itself.
#include "platform/win32/native.h"

#include <cstring>
#include <cwchar>

namespace {

// A full path of 260 characters or more fails, as the core's buffers
// hold 260.
enum { FULL_MAX = PLAT_PATH_SIZE - 1 };

int issep(wchar_t c) { return c == L'\\' || c == L'/'; }
int isletter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
int upper(int c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }

int drive_exists(int letter) {
    wchar_t root[4] = {(wchar_t)upper(letter), L':', L'\\', 0};
    UINT t = GetDriveTypeW(root);
    return t != DRIVE_UNKNOWN && t != DRIVE_NO_ROOT_DIR;
}

// 1 for "X:\..." on a drive that exists.
int on_drive(const wchar_t *full) {
    return isletter(full[0]) && full[1] == L':' && full[2] == L'\\' && drive_exists(full[0]);
}

// Where the final component starts (after the last separator, or after
// "X:" of a drive-relative name).
size_t final_start(const wchar_t *p) {
    size_t start = 0;
    for (size_t i = 0; p[i] != 0; i++)
        if (issep(p[i]))
            start = i + 1;
    if (start == 0 && isletter(p[0]) && p[1] == L':')
        start = 2;
    return start;
}

// GetFullPathNameW drops the trailing dots of the final component, and so
// would widen "*." ("names without a dot") to every name: a final
// component holding a wildcard is kept as typed after its directory.
int full_wild(const wchar_t *p, size_t start, wchar_t *out, size_t cap) {
    wchar_t dir[WPATH_SIZE];
    if (start >= WPATH_SIZE - 1)
        return -1;
    if (start == 0)
        std::wcscpy(dir, L".");
    else
        std::wmemcpy(dir, p, start), dir[start] = 0;
    int n = wfull(dir, out, cap);
    if (n < 0)
        return -1;
    const wchar_t *final = p + start;
    size_t need = (size_t)n + (out[n - 1] != L'\\') + std::wcslen(final);
    if (need >= cap) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    if (out[n - 1] != L'\\')
        out[n++] = L'\\';
    std::wcscpy(out + n, final);
    return (int)need;
}

} // namespace

void plat_reload(void) {} // the system keeps the drives and directories

int plat_drivetype(const char *root) {
    int letter = root != nullptr && root[0] != '\0' ? root[0] : plat_curdrive();
    const char *tail = root != nullptr && root[0] != '\0' ? root + 1 : "";
    if (*tail == ':')
        tail++;
    if (*tail == '\\' || *tail == '/')
        tail++;
    if (!isletter(letter) || *tail != '\0')
        return PLAT_DRIVE_NO_ROOT_DIR;
    wchar_t w[4] = {(wchar_t)upper(letter), L':', L'\\', 0};
    return (int)GetDriveTypeW(w);
}

int plat_curdrive(void) {
    wchar_t cwd[WPATH_SIZE];
    DWORD n = GetCurrentDirectoryW(WPATH_SIZE, cwd);
    if (n == 0 || n >= WPATH_SIZE || !isletter(cwd[0]) || cwd[1] != L':') {
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
        return 0;
    }
    return upper(cwd[0]);
}

int plat_workdir(char *out, size_t size) {
    wchar_t cwd[WPATH_SIZE];
    DWORD n = GetCurrentDirectoryW(WPATH_SIZE, cwd);
    int len = n > 0 && n < WPATH_SIZE ? wide_to_core(cwd, n, out, size) : -1;
    if (len < 0) {
        if (size > 0)
            out[0] = '\0';
        plat_setlasterror(n == 0 ? PLAT_ERR_PATH_NOT_FOUND : PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    return len;
}

// Each drive's current directory is the system's ("=X:" in the
// environment); "X:" alone expands to it.
int plat_getcurdir(int letter, char *out, size_t size) {
    if (!isletter(letter) || !drive_exists(letter)) {
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
        return -1;
    }
    wchar_t drive[3] = {(wchar_t)upper(letter), L':', 0}, full[WPATH_SIZE];
    int n = wfull(drive, full, WPATH_SIZE);
    if (n < 0)
        return -1;
    if (n < 3 || wide_to_core(full + 3, (size_t)n - 3, out, size) < 0) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    return 0;
}

int plat_fullpath(const char *path, char *out, size_t size) {
    wchar_t w[WPATH_SIZE], full[WPATH_SIZE];
    if (path == nullptr || path[0] == '\0') {
        plat_setlasterror(PLAT_ERR_INVALID_NAME);
        return -1;
    }
    if (core_to_wide(path, std::strlen(path), w, WPATH_SIZE, 0) < 0) {
        plat_setlasterror(PLAT_ERR_INVALID_NAME);
        return -1;
    }
    size_t start = final_start(w);
    int wild = std::wcspbrk(w + start, L"*?") != nullptr;
    int n = wild ? full_wild(w, start, full, WPATH_SIZE) : wfull(w, full, WPATH_SIZE);
    if (n < 0)
        return -1;
    if (!on_drive(full)) { // a network path, or a letter no drive has
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
        return -1;
    }
    full[0] = (wchar_t)upper(full[0]);
    int len = wide_to_core(full, (size_t)n, out, size);
    if (len < 0 || len > FULL_MAX - 1) {
        if (size > 0)
            out[0] = '\0';
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    return len;
}

// Windows' own paths are DOS paths.
int plat_nativepath(const char *path, char *out, size_t size) { return plat_fullpath(path, out, size); }
