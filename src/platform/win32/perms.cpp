// What a finished copy may let others do, and putting it on disk.
#include "platform/win32/native.h"

#include <aclapi.h>

// The access list of the file replaced is given to its replacement, so
// that it is no more open to others than the old one was. Access lists
// have no group and other bits to narrow by the source's.
int plat_keepperms(int handle, const char *model, const char *) {
    wchar_t w[WPATH_SIZE];
    if (wpath(model, w, WPATH_SIZE) < 0)
        return 1;
    DWORD a = GetFileAttributesW(w);
    if (a == INVALID_FILE_ATTRIBUTES || entry_is_link(w, a))
        return 1; // nothing to keep
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    DWORD err = GetNamedSecurityInfoW(w, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                      nullptr, &dacl, nullptr, &sd);
    if (err == ERROR_SUCCESS) {
        err = SetSecurityInfo(to_handle(handle), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, dacl, nullptr);
        LocalFree(sd);
    }
    // A file system that keeps no access lists (FAT) has none to keep.
    if (err == ERROR_SUCCESS || err == ERROR_NOT_SUPPORTED || err == ERROR_INVALID_FUNCTION)
        return 0;
    plat_setlasterror(err);
    return -1;
}

// A new copy takes what its directory passes on, as any new file does;
// there are no permission bits to copy. The source must still be there.
int plat_newperms(int handle, const char *source) {
    (void)handle;
    wchar_t w[WPATH_SIZE];
    if (wpath(source, w, WPATH_SIZE) < 0)
        return -1;
    if (GetFileAttributesW(w) == INVALID_FILE_ATTRIBUTES)
        return fail_sys();
    return 0;
}

int plat_syncfile(int handle) {
    if (!FlushFileBuffers(to_handle(handle)) && GetLastError() != ERROR_INVALID_HANDLE)
        return fail_sys();
    return 0;
}

