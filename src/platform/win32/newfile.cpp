// A new file, written under a temporary name beside its final one and
// renamed into place, never replacing, only when it is complete: Windows
// makes no file without a name.
#include "platform/win32/native.h"

#include <cwchar>

namespace {

// The one new file being written (the core writes one at a time).
struct Pending {
    int handle = -1;
    wchar_t tmp[WPATH_SIZE];
    wchar_t dst[WPATH_SIZE];
};
Pending pending;

void drop_tmp(void) {
    unsigned keep = plat_lasterror();
    DeleteFileW(pending.tmp);
    temp_forget(pending.tmp);
    plat_setlasterror(keep);
    pending.handle = -1;
}

} // namespace

int plat_opennew(const char *path) {
    if (fail_now(PLAT_CALL_OPEN))
        return -1;
    if (pending.handle >= 0)
        plat_dropnew(pending.handle);
    wchar_t w[WPATH_SIZE], dir[WPATH_SIZE];
    const wchar_t *name;
    if (wpath(path, w, WPATH_SIZE) < 0 || wfull(w, pending.dst, WPATH_SIZE) < 0 ||
        wsplit(pending.dst, dir, WPATH_SIZE, &name) != 0)
        return -1;
    HANDLE h = create_temp(dir, L"_MOX_", pending.tmp, WPATH_SIZE);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    pending.handle = from_handle(h);
    return pending.handle;
}

int plat_placenew(int handle) {
    if (handle < 0 || handle != pending.handle) {
        plat_setlasterror(PLAT_ERR_INVALID_PARAMETER);
        return -1;
    }
    if (fail_now(PLAT_CALL_CLOSE) || fail_now(PLAT_CALL_MOVE)) {
        CloseHandle(to_handle(handle));
        drop_tmp();
        return -1;
    }
    if (!CloseHandle(to_handle(handle))) {
        set_sys_error();
        drop_tmp();
        return -1;
    }
    if (!MoveFileExW(pending.tmp, pending.dst, 0)) {
        DWORD err = GetLastError();
        if (err == ERROR_FILE_EXISTS || err == ERROR_ALREADY_EXISTS)
            plat_setlasterror(PLAT_ERR_ALREADY_EXISTS);
        else
            set_sys_error();
        drop_tmp();
        return -1;
    }
    temp_forget(pending.tmp);
    pending.handle = -1;
    return 0;
}

void plat_dropnew(int handle) {
    if (handle < 0 || handle != pending.handle)
        return;
    CloseHandle(to_handle(handle));
    drop_tmp();
}
