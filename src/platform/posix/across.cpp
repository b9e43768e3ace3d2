// A move between two file systems under one drive letter, which no rename
// can make: copy, then delete. And the rename that never replaces, which
// every move ends with.
#include "platform/platform.h"
#include "platform/posix/dircache.h"
#include "platform/posix/native.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// ---- moving a file to another file system ---------------------------------
//
// The copy is written under a temporary name beside the destination, given
// the source's mode, owner, attributes and times, flushed to disk, and
// renamed into place without replacing anything: a move killed half-way
// leaves no truncated file under the final name. Only then is the source
// deleted, and only when nobody wrote to it while it was copied, since it
// would hold data the copy lacks. Any failure removes the copy and leaves
// the source. Both ends are reached from their directories' descriptors,
// so that a directory swapped for a link meanwhile leads nowhere else.

// One end of the move: the directory it is acted on from, its name there,
// and its whole native path for messages and the signal handler.
struct End {
    int dirfd;
    const char *name;
    const char *native;
};

End end_of(const At *at) {
    End e;
    e.dirfd = at_fd(at, &e.name);
    e.native = at->native;
    return e;
}

enum { COPY_CHUNK = 65536 };

int copy_data(int in, int out) {
    static char buf[COPY_CHUNK];
    return plat_copydata(in, out, -1, buf, sizeof buf, nullptr) < 0 ? -1 : 0;
}

// Hidden and system live in user.DOSATTRIB. A destination that cannot hold
// extended attributes still gets the file: those two bits are not data.
int copy_dosattrib(int in, int out) {
    char value[256];
    ssize_t n = fgetxattr(in, "user.DOSATTRIB", value, sizeof value);
    if (n < 0)
        return 0;
    if (fsetxattr(out, "user.DOSATTRIB", value, (size_t)n, 0) < 0 && errno != ENOTSUP &&
        errno != EPERM) {
        set_errno_error(errno);
        return -1;
    }
    return 0;
}

// The mode a moved copy may keep when it has a new owner or group: set-id
// bits would now run with the mover's rights, and the group bits now speak
// for another group, which gets no more than everyone else has.
mode_t narrowed(mode_t mode, const struct stat *src, const struct stat *copy) {
    if (copy->st_uid != src->st_uid || copy->st_gid != src->st_gid)
        mode &= ~(mode_t)(S_ISUID | S_ISGID);
    if (copy->st_gid != src->st_gid)
        mode = (mode & ~(mode_t)S_IRWXG) | (mode & ((mode & S_IRWXO) << 3));
    return mode;
}

int copy_metadata(int out, const struct stat *st) {
    // Keeping the owner needs privilege; without it the mover owns the copy,
    // as with any copy, and keeps the group if the mover belongs to it.
    // fchown clears set-id bits, so the mode comes after.
    if (fchown(out, st->st_uid, st->st_gid) != 0) {
        int grouped = fchown(out, (uid_t)-1, st->st_gid);
        (void)grouped;
    }
    struct stat copy;
    struct timespec ts[2] = {st->st_atim, st->st_mtim};
    if (fstat(out, &copy) < 0 || fchmod(out, narrowed(st->st_mode & 07777, st, &copy)) < 0 ||
        futimens(out, ts) < 0) {
        set_errno_error(errno);
        return -1;
    }
    return 0;
}

// Removes the temporary copy `tmp` (a name in the destination's directory)
// and forgets it, keeping the last error.
void drop_copy(const End *to, const char *tmp, const char *tmpnative) {
    unsigned keep = plat_lasterror();
    unlinkat(to->dirfd, tmp, 0);
    temp_forget(tmpnative);
    plat_setlasterror(keep);
}

// Writes the copy of the open source `in` into a new temporary file in
// the destination's directory, its name in tmp and its path in tmpnative.
// 0, or -1 with nothing left.
int write_copy(int in, const End *to, const struct stat *st, char *tmp, char *tmpnative,
               size_t size) {
    char ndir[NATIVE_PATH_SIZE];
    const char *slash = strrchr(to->native, '/');
    snprintf(ndir, sizeof ndir, "%.*s", slash == to->native ? 1 : (int)(slash - to->native),
             to->native);
    int out = create_temp_at(to->dirfd, ndir, "_MOX_", tmp, tmpnative, size);
    if (out < 0)
        return -1;
    // Private until it has the source's own mode, as the source may be.
    int ok = fchmod(out, 0600) == 0;
    if (!ok)
        set_errno_error(errno);
    ok = ok && copy_data(in, out) == 0 && copy_dosattrib(in, out) == 0 &&
         copy_metadata(out, st) == 0;
    if (ok && fsync(out) < 0) {
        set_errno_error(errno);
        ok = 0;
    }
    if (close(out) < 0 && ok) {
        set_errno_error(errno);
        ok = 0;
    }
    if (!ok) {
        drop_copy(to, tmp, tmpnative);
        return -1;
    }
    return 0;
}

// Copies the file and renames the copy into place; *seen is the state of
// the source that the copy read.
int copy_file_across(const End *from, const End *to, struct stat *seen) {
    struct stat there;
    if (fstatat(to->dirfd, to->name, &there, AT_SYMLINK_NOFOLLOW) == 0) { // no copy made in vain
        plat_setlasterror(PLAT_ERR_ALREADY_EXISTS);
        return -1;
    }
    int in = openat(from->dirfd, from->name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0) {
        set_errno_error(errno);
        return -1;
    }
    char tmp[NAME_MAX + 1], tmpnative[NATIVE_PATH_SIZE];
    int r = -1;
    if (fstat(in, seen) != 0)
        set_errno_error(errno);
    else
        r = write_copy(in, to, seen, tmp, tmpnative, sizeof tmpnative);
    close(in);
    if (r < 0)
        return -1;
    // Someone else may have taken the name meanwhile: theirs stays.
    if (rename_noreplace(to->dirfd, tmp, to->dirfd, to->name, 0) != 0) {
        set_move_error(to->native, errno);
        drop_copy(to, tmp, tmpnative);
        return -1;
    }
    temp_forget(tmpnative);
    fsync(to->dirfd); // some file systems cannot; the data itself is synced
    return 0;
}

// A link moves as a link: copying what it points to would turn it into a
// file and change what the user has.
int copy_link_across(const End *from, const End *to) {
    char target[NATIVE_PATH_SIZE];
    ssize_t n = readlinkat(from->dirfd, from->name, target, sizeof target - 1);
    if (n < 0) {
        set_errno_error(errno);
        return -1;
    }
    target[n] = 0;
    if (symlinkat(target, to->dirfd, to->name) < 0) {
        set_move_error(to->native, errno);
        return -1;
    }
    return 0;
}

// The state of a file as the core compares it.
void state_of(const struct stat *st, PlatFileState *state) {
    state->id.device = (unsigned long long)st->st_dev;
    state->id.inode = (unsigned long long)st->st_ino;
    state->size = (unsigned long long)st->st_size;
    state->mtime.sec = (long long)st->st_mtim.tv_sec;
    state->mtime.nsec = (long)st->st_mtim.tv_nsec;
    state->ctime.sec = (long long)st->st_ctim.tv_sec;
    state->ctime.nsec = (long)st->st_ctim.tv_nsec;
}

// The same file with the same data; its change time is left out, since
// the rename that set it aside has just changed it.
int same_data(const PlatFileState *a, const struct stat *b) {
    return a->id.device == (unsigned long long)b->st_dev &&
           a->id.inode == (unsigned long long)b->st_ino &&
           a->size == (unsigned long long)b->st_size && a->mtime.sec == b->st_mtim.tv_sec &&
           a->mtime.nsec == b->st_mtim.tv_nsec;
}

// Renames name to aside, a new name of the same directory, in one step: a
// link and an unlink of the old name would unlink by name again. Where the
// file system has no no-replace rename, the free name is looked at first;
// nobody else knows a name made up a moment ago.
int rename_aside(int dirfd, const char *name, const char *aside) {
    if (renameat2(dirfd, name, dirfd, aside, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return -1;
    struct stat st;
    if (fstatat(dirfd, aside, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return -1;
    }
    return renameat(dirfd, name, dirfd, aside);
}

} // namespace

// The name is looked at, then renamed aside and looked at again under the
// new name, which nobody else knows: a file renamed over the name at any
// moment (an editor's save) is either seen and kept, or was never the one
// renamed aside. Only the file set aside is unlinked.
int unlink_same(int dirfd, const char *name, const PlatFileState *want, int keepro) {
    struct stat now;
    if (fstatat(dirfd, name, &now, AT_SYMLINK_NOFOLLOW) != 0)
        return -1;
    if (keepro && !S_ISLNK(now.st_mode) && (now.st_mode & 0222) == 0) {
        errno = EACCES;
        return -1;
    }
    if (!same_data(want, &now) || now.st_ctim.tv_sec != want->ctime.sec ||
        now.st_ctim.tv_nsec != want->ctime.nsec)
        return 1;
    char aside[16] = "_MOX_";
    int moved = -1;
    for (int tries = 0; tries < 100 && moved != 0; tries++) {
        fill_unique(aside + 5);
        aside[11] = 0;
        moved = rename_aside(dirfd, name, aside);
        if (moved != 0 && errno != EEXIST)
            return -1;
    }
    if (moved != 0)
        return -1;
    if (fstatat(dirfd, aside, &now, AT_SYMLINK_NOFOLLOW) != 0 || !same_data(want, &now)) {
        // Not the file looked at: it goes back, unless yet another file has
        // taken the name by now, when it stays under the name it has.
        rename_noreplace(dirfd, aside, dirfd, name, 0);
        return 1;
    }
    return unlinkat(dirfd, aside, 0);
}

namespace {

// A source written to while it was copied, or replaced, is kept, and the
// copy, which may hold half of the change, goes. A source that is gone
// altogether keeps its copy: that may be the only one left. Otherwise the
// source is removed, and only the file that was copied.
// 0 when removed; 1 when it is kept (32); -1 when it cannot go.
int remove_source(const End *from, const End *to, const struct stat *seen) {
    if (fail_now(PLAT_CALL_DELETE))
        return -1;
    PlatFileState want;
    state_of(seen, &want);
    int r = unlink_same(from->dirfd, from->name, &want, 0);
    if (r == 0)
        return 0;
    if (r < 0 && errno != ENOENT) {
        set_errno_error(errno);
        return -1;
    }
    if (r == 1)
        unlinkat(to->dirfd, to->name, 0);
    plat_setlasterror(PLAT_ERR_SHARING_VIOLATION);
    return 1;
}

} // namespace

int move_across(const At *f, const At *t, const struct stat *st) {
    End from = end_of(f), to = end_of(t);
    int r;
    struct stat seen;
    if (S_ISREG(st->st_mode))
        r = copy_file_across(&from, &to, &seen);
    else if (S_ISLNK(st->st_mode))
        r = copy_link_across(&from, &to);
    else {
        plat_setlasterror(PLAT_ERR_ACCESS_DENIED); // a device, a FIFO, a socket
        r = -1;
    }
    if (r < 0)
        return -1;
    if (S_ISREG(st->st_mode)) {
        r = remove_source(&from, &to, &seen);
        if (r == 1)
            return -1;
    } else {
        r = unlinkat(from.dirfd, from.name, 0);
        if (r < 0)
            set_errno_error(errno);
    }
    if (r < 0) {
        // The source cannot go (its directory is read-only, say): undo the
        // copy so the move fails whole instead of leaving two files.
        unsigned keep = plat_lasterror();
        unlinkat(to.dirfd, to.name, 0);
        plat_setlasterror(keep);
        return -1;
    }
    at_removed(f, 0);
    at_added(t, 0);
    return 0;
}

// Reports a failed rename of an existing `from` to `to`.
void set_move_error(const char *to, int err) {
    if (err == EEXIST || err == ENOTEMPTY)
        plat_setlasterror(PLAT_ERR_ALREADY_EXISTS);
    else if (err == ENOENT)
        set_missing_error(to);
    else if (err == EXDEV)
        plat_setlasterror(PLAT_ERR_NOT_SAME_DEVICE);
    else
        set_errno_error(err);
}

// renameat(2) that refuses to replace. RENAME_NOREPLACE does it atomically
// where the file system knows the flag; elsewhere a file is linked under
// the new name (link never replaces) and the old name dropped; what cannot
// be linked is renamed after checking that the name is free.
int rename_noreplace(int ffd, const char *from, int tfd, const char *to, int isdir) {
    if (renameat2(ffd, from, tfd, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return -1;
    if (!isdir) {
        if (linkat(ffd, from, tfd, to, 0) == 0) {
            if (unlinkat(ffd, from, 0) == 0)
                return 0;
            int err = errno;
            unlinkat(tfd, to, 0);
            errno = err;
            return -1;
        }
        if (errno == EEXIST || errno == ENOENT || errno == EXDEV || errno == ENOSPC)
            return -1;
    }
    struct stat st;
    if (fstatat(tfd, to, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return -1;
    }
    return renameat(ffd, from, tfd, to);
}

