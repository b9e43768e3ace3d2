// Directories and names on POSIX: make and remove directories, delete,
// move and replace.
//
// A move never replaces what is already there: users move real files, and
// a rename that silently clobbers a destination loses one. Only
// plat_replace does that, and only in one atomic step.
#include "platform/platform.h"
#include "platform/posix/dircache.h"
#include "platform/posix/encoding.h"
#include "platform/posix/fold.h"
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

// Splits a native path into its directory ("/" at the top) and its name.
// -1 when the directory part does not fit.
int split_native(const char *native, char *dir, size_t size, const char **name) {
    const char *slash = strrchr(native, '/');
    if (!slash)
        return -1;
    size_t len = slash == native ? 1 : (size_t)(slash - native);
    if (len >= size)
        return -1;
    memcpy(dir, native, len);
    dir[len] = 0;
    *name = slash + 1;
    return 0;
}

int is_lead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// The final component of a core path as the user typed it, in the external
// encoding, losing trailing dots and spaces as full-path expansion does.
// Steps over double-byte characters, whose second byte may be "\".
int typed_name(const char *path, char *out, size_t size) {
    const char *start = path;
    for (const char *p = path; *p; p++) {
        if (is_lead((unsigned char)*p) && p[1])
            p++;
        else if (*p == '\\' || *p == '/' || *p == ':')
            start = p + 1;
    }
    size_t len = strlen(start);
    while (len > 0 && (start[len - 1] == '.' || start[len - 1] == ' '))
        len--;
    if (len == 0)
        return -1;
    return enc_from_core(start, len, out, size, 0) < 0 ? -1 : 0;
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

// Gives a directory entry the letter case the user typed. `at` is the
// entry as resolved (its name as on disk); `want` the new name, equal to
// the old ignoring case.
int respell(const At *at, const char *want) {
    const char *name;
    int dirfd = at_fd(at, &name);
    if (strcmp(name, want) == 0 || !name_same_folded(name, want))
        return 0; // nothing to respell: the entry already is where asked
    char to[NATIVE_PATH_SIZE];
    int n = snprintf(to, sizeof to, "%.*s%s", (int)at->dirlen, at->native, want);
    if (n < 0 || (size_t)n >= sizeof to) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    struct stat st, other;
    if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) < 0) {
        set_errno_error(errno);
        return -1;
    }
    int r = rename_noreplace(dirfd, name, dirfd, want, S_ISDIR(st.st_mode));
    // A file system that ignores case itself finds the entry under its new
    // spelling too; renaming an entry onto itself replaces nothing.
    if (r < 0 && errno == EEXIST && fstatat(dirfd, want, &other, AT_SYMLINK_NOFOLLOW) == 0 &&
        other.st_dev == st.st_dev && other.st_ino == st.st_ino)
        r = renameat(dirfd, name, dirfd, want);
    if (r < 0) {
        set_move_error(to, errno);
        return -1;
    }
    at_removed(at, S_ISDIR(st.st_mode));
    if (at->dir != nullptr)
        dir_added(at->dir, want, S_ISDIR(st.st_mode));
    else
        lookup_added_path(to, S_ISDIR(st.st_mode));
    return 0;
}

// The entry's own stat, with the last error set the way Windows reports a
// missing name.
int lstat_existing(const At *at, struct stat *st) {
    const char *name;
    int dirfd = at_fd(at, &name);
    if (fstatat(dirfd, name, st, AT_SYMLINK_NOFOLLOW) == 0)
        return 0;
    if (errno == ENOENT)
        set_missing_error(at->native);
    else
        set_errno_error(errno);
    return -1;
}

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

// The same file, unchanged: what a write, a truncation or a replacement
// by another file would change.
int same_state(const struct stat *a, const struct stat *b) {
    return a->st_dev == b->st_dev && a->st_ino == b->st_ino && a->st_size == b->st_size &&
           a->st_mtim.tv_sec == b->st_mtim.tv_sec && a->st_mtim.tv_nsec == b->st_mtim.tv_nsec &&
           a->st_ctim.tv_sec == b->st_ctim.tv_sec && a->st_ctim.tv_nsec == b->st_ctim.tv_nsec;
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

// A source written to while it was copied is kept, and the copy, which may
// hold half of the change, goes. A source that is gone altogether keeps
// its copy: that may be the only one left.
int source_changed(const End *from, const End *to, const struct stat *seen) {
    struct stat now;
    int gone = fstatat(from->dirfd, from->name, &now, AT_SYMLINK_NOFOLLOW) != 0;
    if (!gone && same_state(seen, &now))
        return 0;
    if (!gone)
        unlinkat(to->dirfd, to->name, 0);
    plat_setlasterror(PLAT_ERR_SHARING_VIOLATION);
    return 1;
}

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
    if (S_ISREG(st->st_mode) && source_changed(&from, &to, &seen))
        return -1;
    if (unlinkat(from.dirfd, from.name, 0) < 0) {
        // The source cannot go (its directory is read-only, say): undo the
        // copy so the move fails whole instead of leaving two files.
        set_errno_error(errno);
        unsigned keep = plat_lasterror();
        unlinkat(to.dirfd, to.name, 0);
        plat_setlasterror(keep);
        return -1;
    }
    at_removed(f, 0);
    at_added(t, 0);
    return 0;
}

// ---- making directories ---------------------------------------------------

// The mode a new directory asks for (the umask still applies): the
// model's bits with full access for the owner, who is to fill it; the
// default without a model that can be read.
mode_t dir_mode(const char *model) {
    At at;
    if (model == nullptr || model[0] == 0 || resolve_at(model, 0, &at) != 0)
        return 0777;
    // The model is the source directory the walk has just listed.
    if (at.index >= 0 && dir_trusted(at.dir, at.index, KNOWN_STAT)) {
        const NameInfo *info = dir_info(at.dir, at.index);
        return (info->flags & NAME_DIR) ? (info->mode & 0777) | S_IRWXU : 0777;
    }
    const char *name;
    int dirfd = at_fd(&at, &name);
    struct stat st;
    if (fstatat(dirfd, name, &st, 0) != 0 || !S_ISDIR(st.st_mode))
        return 0777;
    return (st.st_mode & 0777) | S_IRWXU;
}

// What a rename or delete must know of the entry it acts on: the stat of
// the entry itself (*st, links not followed) and whether it is a
// directory or a link to one. From the listing open on its directory when
// that saw it, else looked at now. 0, or -1 with errno set.
int entry_stat(const At *at, struct stat *st, int *isdir) {
    if (at->index >= 0 && dir_trusted(at->dir, at->index, KNOWN_STAT)) {
        const NameInfo *info = dir_info(at->dir, at->index);
        std::memset(st, 0, sizeof *st);
        st->st_mode = (info->flags & NAME_LINK) ? (mode_t)(S_IFLNK | 0777) : (mode_t)info->mode;
        *isdir = (info->flags & NAME_DIR) != 0;
        return 0;
    }
    const char *name;
    int dirfd = at_fd(at, &name);
    struct stat target;
    if (fstatat(dirfd, name, st, AT_SYMLINK_NOFOLLOW) != 0)
        return -1;
    *isdir = S_ISDIR(st->st_mode) ||
             (S_ISLNK(st->st_mode) && fstatat(dirfd, name, &target, 0) == 0 &&
              S_ISDIR(target.st_mode));
    return 0;
}

// Whether the entry is a directory itself (not a link to one), by what the
// backend knows of it, else by a look now. -1 when it does not exist.
int entry_isdir(const At *at) {
    if (at->index >= 0) {
        const NameInfo *info = dir_info(at->dir, at->index);
        if (info->known & (KNOWN_KIND | KNOWN_STAT))
            return (info->flags & NAME_DIR) != 0 && (info->flags & NAME_LINK) == 0;
    }
    const char *name;
    int dirfd = at_fd(at, &name);
    struct stat st;
    if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return -1;
    return S_ISDIR(st.st_mode) ? 1 : 0;
}

} // namespace

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

void set_missing_error(const char *native) {
    char dir[NATIVE_PATH_SIZE];
    const char *name;
    struct stat st;
    if (split_native(native, dir, sizeof dir, &name) == 0 && stat(dir, &st) == 0 &&
        S_ISDIR(st.st_mode))
        plat_setlasterror(PLAT_ERR_FILE_NOT_FOUND);
    else
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
}

int plat_mkdir(const char *path) { return plat_mkdirlike(path, nullptr); }

static int make_dir(const char *path, mode_t mode) {
    if (fail_now(PLAT_CALL_MKDIR))
        return -1;
    At at;
    if (resolve_at(path, 0, &at) != 0)
        return -1;
    const char *name;
    int dirfd = at_fd(&at, &name);
    if (mkdirat(dirfd, name, mode) < 0) {
        if (errno == EEXIST) {
            plat_setlasterror(PLAT_ERR_ALREADY_EXISTS);
            if (at.dir != nullptr) // made by someone else meanwhile: there now
                dir_found(at.dir, name);
        } else if (errno == ENOENT || errno == ENOTDIR) {
            plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
        } else {
            set_errno_error(errno);
        }
        return -1;
    }
    if (at.dir != nullptr)
        dir_made(at.dir, name);
    else
        lookup_made_path(at.native);
    return 0;
}

int plat_mkdirlike(const char *path, const char *model) { return make_dir(path, dir_mode(model)); }

int plat_mkdirprivate(const char *path) { return make_dir(path, S_IRWXU); }

int plat_rmdir(const char *path) {
    if (fail_now(PLAT_CALL_RMDIR))
        return -1;
    At at;
    if (resolve_at(path, 0, &at) != 0)
        return -1;
    const char *name;
    int dirfd = at_fd(&at, &name);
    if (unlinkat(dirfd, name, AT_REMOVEDIR) < 0) {
        int err = errno;
        struct stat st;
        if (err == ENOTEMPTY || err == EEXIST)
            plat_setlasterror(PLAT_ERR_DIR_NOT_EMPTY);
        else if (err == ENOENT)
            set_missing_error(at.native);
        else if (err == ENOTDIR && lstat(at.native, &st) == 0)
            plat_setlasterror(PLAT_ERR_DIRECTORY); // a file (or a link) by that name
        else
            set_errno_error(err);
        return -1;
    }
    at_removed(&at, 1);
    return 0;
}

int plat_delete(const char *path) {
    if (fail_now(PLAT_CALL_DELETE))
        return -1;
    At at;
    if (resolve_at(path, 0, &at) != 0)
        return -1;
    struct stat st;
    int isdir;
    if (entry_stat(&at, &st, &isdir) < 0) {
        if (errno == ENOENT)
            set_missing_error(at.native);
        else
            set_errno_error(errno);
        return -1;
    }
    // A directory, or a link that stands for one, is not a file to delete;
    // a file without write bits is read-only and Windows keeps it.
    if (isdir || (!S_ISLNK(st.st_mode) && (st.st_mode & 0222) == 0)) {
        plat_setlasterror(PLAT_ERR_ACCESS_DENIED);
        return -1;
    }
    const char *name;
    int dirfd = at_fd(&at, &name);
    if (unlinkat(dirfd, name, 0) < 0) {
        set_errno_error(errno);
        return -1;
    }
    temp_forget(at.native);
    at_removed(&at, 0);
    return 0;
}

// The rename of a move failed with err: the reason, told as Windows tells
// it. A missing source is told apart from a missing destination path.
static void move_failed(const char *nfrom, const char *nto, int err) {
    struct stat st;
    if (err == ENOENT && lstat(nfrom, &st) != 0)
        set_missing_error(nfrom);
    else
        set_move_error(nto, err);
}

int plat_move(const char *from, const char *to) {
    if (fail_now(PLAT_CALL_MOVE))
        return -1;
    char want[NATIVE_PATH_SIZE];
    At f, t;
    if (resolve_at(from, 0, &f) != 0 || resolve_at(to, 0, &t) != 0)
        return -1;
    // Both names lead to the one entry on disk: at most its spelling changes.
    if (strcmp(f.native, t.native) == 0) {
        struct stat st;
        if (lstat_existing(&f, &st) < 0)
            return -1;
        return typed_name(to, want, sizeof want) < 0 ? 0 : respell(&f, want);
    }
    int isdir = entry_isdir(&f);
    if (isdir < 0) {
        move_failed(f.native, t.native, errno);
        return -1;
    }
    const char *fname, *tname;
    int ffd = at_fd(&f, &fname), tfd = at_fd(&t, &tname);
    int r = renameat2(ffd, fname, tfd, tname, RENAME_NOREPLACE);
    if (r != 0 && (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP))
        r = rename_noreplace(ffd, fname, tfd, tname, isdir);
    if (r == 0) {
        temp_forget(f.native);
        temp_placed(f.native, &t, to);
        at_removed(&f, isdir);
        at_added(&t, isdir);
        return 0;
    }
    int err = errno;
    if (err == EEXIST && t.dir != nullptr) // someone else's, or one not looked at yet
        dir_found(t.dir, tname);
    if (err != EXDEV || isdir) {
        move_failed(f.native, t.native, err);
        return -1;
    }
    struct stat st;
    if (lstat_existing(&f, &st) < 0)
        return -1;
    return move_across(&f, &t, &st);
}

int plat_replace(const char *from, const char *to) {
    if (fail_now(PLAT_CALL_REPLACE))
        return -1;
    At f, t;
    if (resolve_at(from, 0, &f) != 0 || resolve_at(to, 0, &t) != 0)
        return -1;
    int isdir = entry_isdir(&f);
    if (isdir < 0) {
        move_failed(f.native, t.native, errno);
        return -1;
    }
    const char *fname, *tname;
    int ffd = at_fd(&f, &fname), tfd = at_fd(&t, &tname);
    // Windows will not replace a read-only file; neither do we, so the
    // attribute protects a file against an overwrite as it does on delete.
    struct stat old;
    if (fstatat(tfd, tname, &old, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISLNK(old.st_mode) &&
        (old.st_mode & 0222) == 0) {
        plat_setlasterror(PLAT_ERR_ACCESS_DENIED);
        return -1;
    }
    if (renameat(ffd, fname, tfd, tname) < 0) {
        int err = errno;
        struct stat st;
        if (err == ENOENT && lstat(f.native, &st) != 0)
            set_missing_error(f.native);
        else if (err == ENOENT)
            set_missing_error(t.native);
        else if (err == EXDEV)
            plat_setlasterror(PLAT_ERR_NOT_SAME_DEVICE);
        else
            set_errno_error(err);
        return -1;
    }
    temp_forget(f.native);
    temp_placed(f.native, &t, to);
    at_removed(&f, isdir);
    at_added(&t, isdir);
    return 0;
}
