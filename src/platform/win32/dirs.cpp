// Making and removing directories.
#include "platform/win32/native.h"

#include <sddl.h>

#include <cwchar>

namespace {

// A security descriptor that lets in the current user and the system
// alone, nothing inherited: what a private directory is given. Null when
// it cannot be made (LocalFree it otherwise).
PSECURITY_DESCRIPTOR private_sd(void) {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return nullptr;
    union {
        TOKEN_USER user;
        char room[256];
    } info;
    DWORD got;
    wchar_t *sid = nullptr;
    BOOL ok = GetTokenInformation(token, TokenUser, &info, sizeof info, &got) &&
              ConvertSidToStringSidW(info.user.User.Sid, &sid);
    CloseHandle(token);
    if (!ok)
        return nullptr;
    wchar_t sddl[300];
    _snwprintf(sddl, sizeof sddl / sizeof *sddl, L"D:P(A;OICI;FA;;;%ls)(A;OICI;FA;;;SY)", sid);
    sddl[sizeof sddl / sizeof *sddl - 1] = 0;
    LocalFree(sid);
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr))
        return nullptr;
    return sd;
}

int make_dir(const char *path, SECURITY_ATTRIBUTES *sa) {
    if (fail_now(PLAT_CALL_MKDIR))
        return -1;
    wchar_t w[WPATH_SIZE];
    if (wpath(path, w, WPATH_SIZE) < 0)
        return -1;
    if (!CreateDirectoryW(w, sa)) {
        // Wine says "file not found" for a missing parent; Windows, and the
        // contract, "path not found".
        if (GetLastError() == ERROR_FILE_NOT_FOUND)
            SetLastError(ERROR_PATH_NOT_FOUND);
        set_sys_error();
        return -1;
    }
    return 0;
}

} // namespace

int plat_mkdir(const char *path) { return make_dir(path, nullptr); }

// A new directory takes what its parent passes on, as any new directory on
// Windows does; there are no permission bits to copy.
int plat_mkdirlike(const char *path, const char *model) {
    (void)model;
    return make_dir(path, nullptr);
}

// Who may write to it is the matter of its access list, which the trash
// made here keeps to its owner: only a junction or a link is refused.
int plat_owndir(const char *path, PlatFileId *id) {
    wchar_t w[WPATH_SIZE];
    if (wpath(path, w, WPATH_SIZE) < 0)
        return -1;
    DWORD a = GetFileAttributesW(w);
    if (a == INVALID_FILE_ATTRIBUTES)
        return fail_sys();
    if (a & FILE_ATTRIBUTE_REPARSE_POINT)
        return PLAT_OWNDIR_LINK;
    if ((a & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        plat_setlasterror(PLAT_ERR_DIRECTORY);
        return -1;
    }
    return plat_fileid(path, id);
}

int plat_mkdirprivate(const char *path) {
    PSECURITY_DESCRIPTOR sd = private_sd();
    if (sd == nullptr) { // never a trash open to everyone instead
        set_sys_error();
        return -1;
    }
    SECURITY_ATTRIBUTES sa = {sizeof sa, sd, FALSE};
    int r = make_dir(path, &sa);
    LocalFree(sd);
    return r;
}

int plat_rmdir(const char *path) {
    if (fail_now(PLAT_CALL_RMDIR))
        return -1;
    wchar_t w[WPATH_SIZE];
    if (wpath(path, w, WPATH_SIZE) < 0)
        return -1;
    // Wine would remove what a link to a directory names, not the link.
    DWORD a = GetFileAttributesW(w);
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT) && under_wine()) {
        plat_setlasterror(PLAT_ERR_ACCESS_DENIED);
        return -1;
    }
    if (!RemoveDirectoryW(w)) {
        DWORD err = GetLastError();
        // Wine says "path not found" for a missing directory in one that
        // exists; Windows "file not found", as for any missing name.
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
            set_missing_error(w);
        else
            set_sys_error();
        return -1;
    }
    return 0;
}
