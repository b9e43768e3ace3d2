// Free space: asked of the nearest existing directory of the path, so that
// a volume mounted in a folder of a drive answers for itself.
#include "platform/win32/native.h"

#include <cwchar>

int plat_freespace(const char *path, unsigned long long *bytes) {
    wchar_t w[WPATH_SIZE], full[WPATH_SIZE];
    ULARGE_INTEGER avail;
    if (path == nullptr) {
        if (!GetDiskFreeSpaceExW(nullptr, &avail, nullptr, nullptr)) {
            set_sys_error();
            return -1;
        }
        *bytes = avail.QuadPart;
        return 0;
    }
    if (wpath(path, w, WPATH_SIZE) < 0)
        return -1;
    int n = wfull(w, full, WPATH_SIZE);
    if (n < 0)
        return -1;
    wchar_t root[4] = {full[0], L':', L'\\', 0};
    UINT type = full[1] == L':' ? GetDriveTypeW(root) : DRIVE_UNKNOWN;
    if (type == DRIVE_UNKNOWN || type == DRIVE_NO_ROOT_DIR) {
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
        return -1;
    }
    // Cut back to the nearest existing directory; the root exists.
    for (;;) {
        DWORD a = GetFileAttributesW(full);
        if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY))
            break;
        wchar_t *sep = std::wcsrchr(full, L'\\');
        if (sep == nullptr || sep <= full + 2) {
            full[3] = 0;
            break;
        }
        *sep = 0;
    }
    // A directory path must end in a separator here.
    size_t len = std::wcslen(full);
    if (full[len - 1] != L'\\' && len + 1 < WPATH_SIZE)
        full[len] = L'\\', full[len + 1] = 0;
    if (!GetDiskFreeSpaceExW(full, &avail, nullptr, nullptr)) {
        set_sys_error();
        return -1;
    }
    *bytes = avail.QuadPart;
    return 0;
}
