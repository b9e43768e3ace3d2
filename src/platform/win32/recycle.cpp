// The recycle bin, through the shell (SHFileOperationW with FOF_ALLOWUNDO).
//
// The shell deletes a file for good, and reports success, when the bin
// cannot take it (a drive without one, Wine without a usable trash). A
// file must never be lost in place of being recycled, so it is first given
// a second name (a hard link beside it): when the bin did not take the
// file, that name puts it back; when it did, the name goes. A file that
// cannot be given a second name is not handed to the shell at all.
#include "platform/win32/native.h"

#include <shellapi.h>

#include <cwchar>

namespace {

// Items in the bin of the drive of `full`; -1 when it has no usable bin.
long long bin_items(const wchar_t *full) {
    wchar_t root[4] = {full[0], L':', L'\\', 0};
    SHQUERYRBINFO info = {};
    info.cbSize = sizeof info;
    if (SHQueryRecycleBinW(root, &info) != S_OK)
        return -1;
    return info.i64NumItems;
}

int send_to_bin(const wchar_t *full) {
    wchar_t from[WPATH_SIZE + 1];
    size_t n = std::wcslen(full);
    std::wmemcpy(from, full, n);
    from[n] = from[n + 1] = 0; // a list of names, ended by an empty one
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from;
    op.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
    int rc = SHFileOperationW(&op);
    if (rc == 0 && op.fAnyOperationsAborted)
        rc = ERROR_CANCELLED;
    return rc;
}

// Gives back what a failed recycle left: the file under its own name.
int restore(const wchar_t *full, const wchar_t *spare, unsigned code) {
    if (!still_there(full))
        MoveFileExW(spare, full, 0); // deleted for good: the second name brings it back
    else
        DeleteFileW(spare);
    temp_forget(spare);
    plat_setlasterror(code);
    return -1;
}

} // namespace

int plat_recycle(const char *path) {
    wchar_t w[WPATH_SIZE], full[WPATH_SIZE + 1], dir[WPATH_SIZE], spare[WPATH_SIZE];
    const wchar_t *name;
    if (wpath(path, w, WPATH_SIZE) < 0 || wfull(w, full, WPATH_SIZE) < 0)
        return -1;
    DWORD a = GetFileAttributesW(full);
    if (a == INVALID_FILE_ATTRIBUTES) {
        set_sys_error();
        return -1;
    }
    // Wine would act on what a link names; a directory is no file.
    if ((a & FILE_ATTRIBUTE_DIRECTORY) || entry_is_link(full, a) || wsplit(full, dir, WPATH_SIZE, &name) != 0) {
        plat_setlasterror(PLAT_ERR_ACCESS_DENIED);
        return -1;
    }
    long long before = bin_items(full);
    if (before < 0) {
        plat_setlasterror(50); // not supported: this drive has no bin
        return -1;
    }
    HANDLE h = create_temp(dir, L"_MOX_", spare, WPATH_SIZE);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    CloseHandle(h);
    DeleteFileW(spare); // only the unique name was wanted
    if (!CreateHardLinkW(spare, full, nullptr)) {
        set_sys_error();
        temp_forget(spare);
        return -1;
    }
    int rc = send_to_bin(full);
    if (rc != 0)
        return restore(full, spare, (unsigned)rc);
    if (still_there(full))
        return restore(full, spare, PLAT_ERR_ACCESS_DENIED);
    if (bin_items(full) <= before)
        return restore(full, spare, 50); // deleted, not recycled: it is back
    DeleteFileW(spare);
    temp_forget(spare);
    return 0;
}
