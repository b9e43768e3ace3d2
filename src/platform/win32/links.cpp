// Symbolic links, and Wine's ways with them.
//
// Windows shows a link as a reparse point and acts on the link itself when
// asked to delete or rename it. Wine shows a link to a file as the file it
// names and acts on that file instead: DeleteFileW deletes the target,
// MoveFileExW renames it, SetFileAttributesW marks it. A user who asks to
// delete a link would lose the file it points to. So under Wine a file is
// taken for a link when the system's final path for it (GetFinalPathName-
// ByHandleW, links resolved) is not its directory's final path and its name.
#include "platform/win32/native.h"

#include <cwchar>

namespace {

// The final path of an existing entry, \\?\ prefix and all; -1 when it
// cannot be opened.
int final_path(const wchar_t *path, wchar_t *out, size_t cap) {
    HANDLE h = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    DWORD n = GetFinalPathNameByHandleW(h, out, (DWORD)cap, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(h);
    return n > 0 && n < cap ? (int)n : -1;
}

} // namespace

int under_wine(void) {
    static int known = -1;
    if (known < 0) {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        known = ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }
    return known;
}

int entry_is_link(const wchar_t *path, DWORD attrib) {
    if (attrib & FILE_ATTRIBUTE_REPARSE_POINT)
        return 1;
    if (!under_wine() || (attrib & FILE_ATTRIBUTE_DIRECTORY))
        return 0; // Wine marks links to directories itself
    wchar_t full[WPATH_SIZE], dir[WPATH_SIZE], fdir[WPATH_SIZE], ffile[WPATH_SIZE];
    const wchar_t *name;
    if (wfull(path, full, WPATH_SIZE) < 0 || wsplit(full, dir, WPATH_SIZE, &name) != 0)
        return 0;
    int nd = final_path(dir, fdir, WPATH_SIZE);
    int nf = final_path(full, ffile, WPATH_SIZE);
    if (nd < 0 || nf < 0)
        return 0; // nothing can be done to it either
    if (nd > 0 && fdir[nd - 1] == L'\\')
        nd--;
    return nf <= nd || !wide_namesame(ffile, (size_t)nd, fdir, (size_t)nd) || ffile[nd] != L'\\' ||
           !wide_namesame(ffile + nd + 1, WIDE_WHOLE, name, WIDE_WHOLE);
}

// Under Wine the link is first replaced, as an entry, by an empty file of
// our own (a rename replaces a link, never its target), which is then
// deleted.
int delete_link(const wchar_t *path) {
    if (!under_wine()) {
        if (!DeleteFileW(path)) {
            set_sys_error();
            return -1;
        }
        return 0;
    }
    wchar_t full[WPATH_SIZE], dir[WPATH_SIZE], tmp[WPATH_SIZE];
    const wchar_t *name;
    if (wfull(path, full, WPATH_SIZE) < 0)
        return -1;
    if (wsplit(full, dir, WPATH_SIZE, &name) != 0) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    HANDLE h = create_temp(dir, L"_MOX_", tmp, WPATH_SIZE);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    CloseHandle(h);
    if (!MoveFileExW(tmp, full, MOVEFILE_REPLACE_EXISTING)) {
        set_sys_error();
        unsigned keep = plat_lasterror();
        DeleteFileW(tmp);
        temp_forget(tmp);
        plat_setlasterror(keep);
        return -1;
    }
    temp_forget(tmp);
    if (!DeleteFileW(full)) {
        set_sys_error();
        return -1;
    }
    return 0;
}
