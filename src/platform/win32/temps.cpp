// Temporary files beside the files they are to become: unique names, made
// without replacing anything, remembered until they are put in place.
#include "platform/win32/native.h"

#include <cwchar>

namespace {

// Six characters that differ from call to call and from process to
// process. Upper case and digits only, so that two names never differ by
// letter case alone.
void fill_unique(wchar_t *p) {
    static unsigned long long state;
    if (state == 0) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        state = (unsigned long long)now.QuadPart ^ ((unsigned long long)GetCurrentProcessId() << 40);
    }
    static const wchar_t digits[] = L"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    unsigned long long v = state >> 16;
    for (int i = 0; i < 6; i++) {
        p[i] = digits[v % 36];
        v /= 36;
    }
}

} // namespace

HANDLE create_temp(const wchar_t *dir, const wchar_t *prefix, wchar_t *path, size_t cap) {
    wchar_t full[WPATH_SIZE];
    int n = wfull(dir, full, WPATH_SIZE);
    if (n < 0)
        return INVALID_HANDLE_VALUE;
    size_t pl = std::wcslen(prefix);
    int sep = full[n - 1] != L'\\';
    if ((size_t)n + sep + pl + 6 >= cap) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return INVALID_HANDLE_VALUE;
    }
    std::wcscpy(path, full);
    if (sep)
        path[n++] = L'\\';
    std::wcscpy(path + n, prefix);
    wchar_t *x = path + n + pl;
    x[6] = 0;
    for (int tries = 0; tries < 100; tries++) {
        fill_unique(x);
        // WRITE_DAC: the finished copy takes the access list of the file it
        // replaces (plat_keepperms).
        HANDLE h = CreateFileW(path, GENERIC_READ | GENERIC_WRITE | WRITE_DAC,
                               FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            temp_remember(path);
            return h;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
            set_sys_error();
            return INVALID_HANDLE_VALUE;
        }
    }
    plat_setlasterror(PLAT_ERR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
}

