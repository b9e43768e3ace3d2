// Free space on POSIX.
//
// One drive letter may span many mounts (a USB stick mounted below the
// drive's directory), so the answer comes from the file system that holds
// the path itself: its nearest existing directory, never above the drive's
// own directory.
#include "platform/platform.h"
#include "platform/posix/native.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <sys/statvfs.h>

namespace {

int is_dir(const char *native) {
    struct stat st;
    return stat(native, &st) == 0 && S_ISDIR(st.st_mode);
}

// The native directory of the drive `path` lies on, "X:\" of a drive path
// or of the current drive for a relative one; "/" for a native path.
int drive_root(const char *path, char *out, size_t size) {
    if (path[0] == '/') {
        out[0] = '/';
        out[1] = 0;
        return 0;
    }
    char root[4] = "?:\\";
    if (path[0] && path[1] == ':')
        root[0] = path[0];
    else if ((root[0] = (char)plat_curdrive()) == 0)
        return -1;
    if (native_path(root, out, size) < 0)
        return -1;
    if (!is_dir(out)) {
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
        return -1;
    }
    return 0;
}

// Cuts `native` back to its nearest existing directory. The drive's own
// directory exists and is a prefix, so the walk ends there at the latest.
void nearest_dir(char *native) {
    while (!is_dir(native)) {
        char *slash = strrchr(native, '/');
        if (!slash)
            return;
        if (slash == native)
            slash[1] = 0;
        else
            *slash = 0;
    }
}

} // namespace

int plat_freespace(const char *path, unsigned long long *bytes) {
    char root[NATIVE_PATH_SIZE], native[NATIVE_PATH_SIZE];
    if (!path)
        path = "\\";
    if (drive_root(path, root, sizeof root) < 0)
        return -1;
    if (native_path(path, native, sizeof native) < 0)
        return -1;
    nearest_dir(native);
    struct statvfs vfs;
    if (statvfs(native, &vfs) < 0) {
        set_errno_error(errno);
        return -1;
    }
    unsigned long long unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
    *bytes = (unsigned long long)vfs.f_bavail * unit;
    return 0;
}
