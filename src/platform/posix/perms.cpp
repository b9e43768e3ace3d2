// The permissions a written file ends with, and putting data on disk.
#include "platform/platform.h"
#include "platform/posix/dircache.h"
#include "platform/posix/native.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The process's umask, read once: nothing here changes it, and reading it
// means setting it.
mode_t the_umask(void) {
    static int known;
    static mode_t mask;
    if (!known) {
        mask = umask(0);
        umask(mask);
        known = 1;
    }
    return mask;
}

// The stat of the file a copy reads: as the copy found it when it opened
// it, else looked at now (a zero-byte copy never opens its source). 0, or
// -1 with the last error set.
int source_stat(const char *source, struct stat *st) {
    if (const struct stat *seen = opened_model_dos(source)) {
        *st = *seen;
        return 0;
    }
    At at;
    if (resolve_at(source, 0, &at) != 0)
        return -1;
    if (const struct stat *seen = opened_model(at.native)) {
        *st = *seen;
        return 0;
    }
    const char *name;
    int dirfd = at_fd(&at, &name);
    if (fstatat(dirfd, name, st, 0) == 0)
        return 0;
    if (errno == ENOENT)
        set_missing_error(at.native);
    else
        set_errno_error(errno);
    return -1;
}

} // namespace

int plat_keepperms(int handle, const char *model, const char *source) {
    At at;
    struct stat st;
    const char *name;
    // A link is replaced as an entry: what it names is no model, and taking
    // its owner and mode would let a link decide what the copy gets.
    if (resolve_at(model, 0, &at) != 0 || (at.looked && at.index < 0) || at.nodir)
        return 1; // nothing to keep
    int dirfd = at_fd(&at, &name);
    if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISLNK(st.st_mode))
        return 1;
    // Owner and group first: changing them may clear set-id bits, which the
    // mode then puts back. Only root may give a file away; others keep
    // their own ownership, which is no wider than before.
    if (fchown(handle, st.st_uid, st.st_gid) != 0 && errno != EPERM) {
        set_errno_error(errno);
        return -1;
    }
    // Group and others lose what the source denies them; a source that
    // cannot be looked at any more denies them everything.
    struct stat src;
    mode_t denied = source_stat(source, &src) == 0 ? ~src.st_mode & 077 : 077;
    mode_t mode = st.st_mode & 07777 & ~denied;
    if (fchmod(handle, mode) != 0) {
        set_errno_error(errno);
        return -1;
    }
    temp_moded(handle, mode);
    return 0;
}

// What cp gives a file it creates: the source's bits as far as the umask
// lets them through. Set-id bits are not copied: the copy belongs to
// whoever runs us, and a set-id program of theirs is not what the source
// was. The source's mode is the one it had when the copy opened it.
int plat_newperms(int handle, const char *source) {
    struct stat st;
    if (source_stat(source, &st) != 0)
        return -1;
    mode_t mode = st.st_mode & 0777 & ~the_umask();
    if (fchmod(handle, mode) != 0) {
        set_errno_error(errno);
        return -1;
    }
    temp_moded(handle, mode);
    return 0;
}

int plat_syncfile(int handle) {
    if (fsync(handle) != 0 && errno != EINVAL && errno != EROFS) {
        set_errno_error(errno);
        return -1;
    }
    return 0;
}
