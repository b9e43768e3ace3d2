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
    // A path of 260 characters or more comes as \\?\X:\...: the drive
    // follows the prefix (read at full[0], it was no drive, and every such
    // destination ended with "Drive Not Ready!").
    wchar_t *p = std::wcsncmp(full, L"\\\\?\\", 4) == 0 ? full + 4 : full;
    wchar_t root[4] = {p[0], L':', L'\\', 0};
    UINT type = p[1] == L':' ? GetDriveTypeW(root) : DRIVE_UNKNOWN;
    if (type == DRIVE_UNKNOWN || type == DRIVE_NO_ROOT_DIR) {
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
        return -1;
    }
    // Cut back to the nearest existing directory; the root exists.
    for (;;) {
        DWORD a = GetFileAttributesW(full);
        if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY))
            break;
        wchar_t *sep = std::wcsrchr(p, L'\\');
        if (sep == nullptr || sep <= p + 2) {
            p[3] = 0;
            break;
        }
        *sep = 0;
    }
    // Short enough now to do without the prefix.
    if (p != full && std::wcslen(p) < MAX_PATH - 1)
        std::wmemmove(full, p, std::wcslen(p) + 1);
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
