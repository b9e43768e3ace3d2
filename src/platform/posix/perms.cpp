// The permissions a written file ends with, and putting data on disk.
#include "platform/platform.h"
#include "platform/posix/dircache.h"
#include "platform/posix/native.h"

#include <cerrno>
#include <cstring>

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

// A file system that holds no modes or owners of its own (FAT; FUSE file
// systems whose chmod and chown answer ENOSYS) cannot give a copy the
// source's; the data matters more, so the copy goes on as the file system
// makes it. Refusals of our own file that no permission explains are its.
int holds_none(int err) { return err == ENOSYS || err == ENOTSUP || err == EOPNOTSUPP || err == EPERM; }

// Says once per run that modes are not kept, naming the first file.
void say_none(const char *dos) {
    static int said;
    if (said)
        return;
    said = 1;
    plat_flush(PLAT_STDOUT); // after the lines before it
    const char *head = "Warning! ", *tail = ": the file system keeps no file modes; copied without them\n";
    plat_write(PLAT_STDERR, head, std::strlen(head));
    plat_write(PLAT_STDERR, dos, std::strlen(dos));
    plat_write(PLAT_STDERR, tail, std::strlen(tail));
}

// fchmod that lets a file system without modes pass, saying so. 0, or -1
// with the last error set.
int setmode(int handle, mode_t mode, const char *dos) {
    if (fchmod(handle, mode) == 0) {
        temp_moded(handle, mode);
        return 0;
    }
    if (holds_none(errno)) {
        say_none(dos);
        return 0;
    }
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
    if (fchown(handle, st.st_uid, st.st_gid) != 0 && !holds_none(errno)) {
        set_errno_error(errno);
        return -1;
    }
    // Group and others lose what the source denies them; a source that
    // cannot be looked at any more denies them everything.
    struct stat src;
    mode_t denied = source_stat(source, &src) == 0 ? ~src.st_mode & 077 : 077;
    return setmode(handle, st.st_mode & 07777 & ~denied, model);
}

// What cp gives a file it creates: the source's bits as far as the umask
// lets them through. Set-id bits are not copied: the copy belongs to
// whoever runs us, and a set-id program of theirs is not what the source
// was. The source's mode is the one it had when the copy opened it.
int plat_newperms(int handle, const char *source) {
    struct stat st;
    if (source_stat(source, &st) != 0)
        return -1;
    const char *dos = newfile_dos(handle);
    return setmode(handle, st.st_mode & 0777 & ~the_umask(), dos != nullptr ? dos : source);
}

int plat_syncfile(int handle) {
    if (fsync(handle) != 0 && errno != EINVAL && errno != EROFS) {
        set_errno_error(errno);
        return -1;
    }
    return 0;
}
