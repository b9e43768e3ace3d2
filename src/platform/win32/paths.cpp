// Paths for the "W" calls, and the drives: Windows has them itself, so this
// only checks what the system lets pass (GetFullPathNameW accepts a letter
// no drive has, and keeps the letter's case as typed).
#include "platform/win32/native.h"

#include <cstring>
#include <cwchar>

static int issep(wchar_t c) { return c == L'\\' || c == L'/'; }


// Wine keeps the current directory with a final separator and gives it
// back so for "X:" alone; Windows does not, and neither do we unless the
// path asked for one.
int wfull(const wchar_t *p, wchar_t *out, size_t cap) {
    DWORD n = GetFullPathNameW(p, (DWORD)cap, out, nullptr);
    if (n == 0) {
        set_sys_error();
        return -1;
    }
    if (n >= cap) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    size_t len = std::wcslen(p);
    if (n > 3 && out[n - 1] == L'\\' && len > 0 && !issep(p[len - 1]))
        out[--n] = 0;
    return (int)n;
}

int wsplit(const wchar_t *path, wchar_t *dir, size_t cap, const wchar_t **name) {
    const wchar_t *last = nullptr;
    for (const wchar_t *p = path; *p != 0; p++)
        if (issep(*p))
            last = p;
    if (last == nullptr)
        return -1;
    size_t len = (size_t)(last - path);
    if (len == 2 && path[1] == L':')
        len = 3; // "X:\" keeps its separator
    if (len >= cap)
        return -1;
    std::wmemcpy(dir, path, len);
    dir[len] = 0;
    *name = last + 1;
    return 0;
}

int wpath(const char *path, wchar_t *out, size_t cap) {
    if (path == nullptr || path[0] == '\0') {
        plat_setlasterror(PLAT_ERR_INVALID_NAME);
        return -1;
    }
    wchar_t w[WPATH_SIZE];
    int n = core_to_wide(path, std::strlen(path), w, WPATH_SIZE, 0);
    if (n < 0) {
        plat_setlasterror(std::strlen(path) >= WPATH_SIZE ? PLAT_ERR_FILENAME_TOO_LONG
                                                         : PLAT_ERR_INVALID_NAME);
        return -1;
    }
    if (n < MAX_PATH || std::wcsncmp(w, L"\\\\?\\", 4) == 0) {
        if ((size_t)n >= cap) {
            plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
            return -1;
        }
        std::wcscpy(out, w);
        return n;
    }
    if (cap < 5 || wfull(w, out + 4, cap - 4) < 0)
        return -1;
    std::wmemcpy(out, L"\\\\?\\", 4);
    return (int)std::wcslen(out);
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
