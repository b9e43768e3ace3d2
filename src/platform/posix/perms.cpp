// The permissions a written file ends with, and putting data on disk.
#include "platform/platform.h"
#include "platform/posix/native.h"

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

int plat_keepperms(int handle, const char *model) {
    char native[NATIVE_PATH_SIZE];
    struct stat st;
    // A link is replaced as an entry: what it names is no model, and taking
    // its owner and mode would let a link decide what the copy gets.
    if (native_path(model, native, sizeof native) < 0 || lstat(native, &st) != 0 ||
        S_ISLNK(st.st_mode))
        return 1; // nothing to keep
    // Owner and group first: changing them may clear set-id bits, which the
    // mode then puts back. Only root may give a file away; others keep
    // their own ownership, which is no wider than before.
    if (fchown(handle, st.st_uid, st.st_gid) != 0 && errno != EPERM) {
        set_errno_error(errno);
        return -1;
    }
    if (fchmod(handle, st.st_mode & 07777) != 0) {
        set_errno_error(errno);
        return -1;
    }
    return 0;
}

// What cp gives a file it creates: the source's bits as far as the umask
// lets them through. Set-id bits are not copied: the copy belongs to
// whoever runs us, and a set-id program of theirs is not what the source
// was.
int plat_newperms(int handle, const char *source) {
    char native[NATIVE_PATH_SIZE];
    struct stat st;
    if (native_path(source, native, sizeof native) < 0)
        return -1;
    if (stat(native, &st) != 0) {
        if (errno == ENOENT)
            set_missing_error(native);
        else
            set_errno_error(errno);
        return -1;
    }
    mode_t mask = umask(0);
    umask(mask);
    if (fchmod(handle, st.st_mode & 0777 & ~mask) != 0) {
        set_errno_error(errno);
        return -1;
    }
    return 0;
}

int plat_syncfile(int handle) {
    if (fsync(handle) != 0 && errno != EINVAL && errno != EROFS) {
        set_errno_error(errno);
        return -1;
    }
    return 0;
}
