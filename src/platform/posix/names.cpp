// Names on POSIX: delete, move and replace, the identity of what a name
// leads to, whether it is a link, and a link's copy.
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

int plat_deletesame(const char *path, const PlatFileState *state) {
    if (fail_now(PLAT_CALL_DELETE))
        return -1;
    At at;
    if (resolve_at(path, 0, &at) != 0)
        return -1;
    const char *name;
    int dirfd = at_fd(&at, &name);
    int r = unlink_same(dirfd, name, state, 1);
    if (r != 0) {
        if (r > 0 || errno == ENOENT)
            plat_setlasterror(PLAT_ERR_SHARING_VIOLATION);
        else
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
    // What the listing knew of the file goes with it: the core sets the
    // attributes right after a move, usually to what they are already.
    const NameInfo *known = nullptr;
    if (!isdir && f.index >= 0 && dir_trusted(f.dir, f.index, KNOWN_STAT | KNOWN_MARKS)) {
        known = dir_info(f.dir, f.index);
        if (known->flags & (NAME_LINK | NAME_BROKEN))
            known = nullptr;
    }
    unsigned kmode = known != nullptr ? known->mode : 0, kmarks = known != nullptr ? known->marks : 0;
    const char *fname, *tname;
    int ffd = at_fd(&f, &fname), tfd = at_fd(&t, &tname);
    int r = renameat2(ffd, fname, tfd, tname, RENAME_NOREPLACE);
    if (r != 0 && (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP))
        r = rename_noreplace(ffd, fname, tfd, tname, isdir);
    if (r == 0) {
        temp_forget(f.native);
        if (known != nullptr)
            temp_moved(&t, to, kmode, kmarks);
        else
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

int plat_fileid(const char *path, PlatFileId *id) {
    At at;
    if (resolve_at(path, 0, &at) != 0)
        return -1;
    if (at.nodir || (at.looked && at.index < 0)) { // known to be missing
        plat_setlasterror(at.nodir ? PLAT_ERR_PATH_NOT_FOUND : PLAT_ERR_FILE_NOT_FOUND);
        return -1;
    }
    const char *name;
    int dirfd = at_fd(&at, &name);
    struct stat st;
    if (fstatat(dirfd, name, &st, 0) < 0) {
        if (errno == ENOENT)
            set_missing_error(at.native);
        else
            set_errno_error(errno);
        return -1;
    }
    id->device = (unsigned long long)st.st_dev;
    id->inode = (unsigned long long)st.st_ino;
    return 0;
}

int plat_islink(const char *path) {
    At at;
    if (resolve_at(path, 0, &at) != 0)
        return 0;
    if (at.index >= 0 && dir_trusted(at.dir, at.index, KNOWN_STAT))
        return (dir_info(at.dir, at.index)->flags & NAME_LINK) != 0;
    if (at.looked && at.index < 0)
        return 0;
    const char *name;
    int dirfd = at_fd(&at, &name);
    struct stat st;
    return fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

// The target text of the link at path, read from its directory. 0, or -1
// (5 when it is no link).
static int read_link(const char *path, char *target, size_t size) {
    At at;
    if (resolve_at(path, 0, &at) != 0)
        return -1;
    const char *name;
    int dirfd = at_fd(&at, &name);
    ssize_t n = readlinkat(dirfd, name, target, size - 1);
    if (n < 0) {
        if (errno == EINVAL)
            plat_setlasterror(PLAT_ERR_ACCESS_DENIED); // not a link
        else
            set_open_error(at.native, errno);
        return -1;
    }
    target[n] = 0;
    return 0;
}

int plat_copylink(const char *link, const char *dir, const char *prefix, char *path, size_t size) {
    if (fail_now(PLAT_CALL_OPEN))
        return -1;
    char target[NATIVE_PATH_SIZE], nprefix[64], native[NATIVE_PATH_SIZE];
    if (read_link(link, target, sizeof target) < 0)
        return -1;
    Dir *d = dir_of_path(dir);
    if (d == nullptr)
        return -1;
    int dirfd = dir_fd(d);
    if (dirfd < 0) {
        set_errno_error(errno);
        return -1;
    }
    if (enc_from_core(prefix, strlen(prefix), nprefix, sizeof nprefix, 0) < 0) {
        plat_setlasterror(PLAT_ERR_INVALID_NAME);
        return -1;
    }
    if (create_templink(target, dirfd, dir_native(d), nprefix, native, sizeof native) < 0)
        return -1;
    const char *base = strrchr(native, '/') + 1;
    dir_added(d, base, 0);
    if (core_path(native, path, size) < 0) {
        unsigned keep = plat_lasterror();
        unlinkat(dirfd, base, 0);
        temp_forget(native);
        dir_removed(d, base, 0);
        plat_setlasterror(keep);
        return -1;
    }
    return 0;
}

