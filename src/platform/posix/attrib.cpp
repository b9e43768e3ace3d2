// DOS attributes on Linux, kept where Wine and Samba keep them: read-only in
// the mode bits, hidden and system in the extended attribute user.DOSATTRIB
// as the text "0x%x". A Windows build run under Wine and this one then see
// the same attributes on the same files.
#include "platform/posix/dircache.h"
#include "platform/posix/entry.h"
#include "platform/posix/native.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {


int unsupported(int err) { return err == ENOTSUP || err == EOPNOTSUPP; }

// Writes (or, for no bits, removes) user.DOSATTRIB. A file system without
// extended attributes is not an error: the mode bits still carry read-only.
int write_xattr(const char *native, unsigned bits) {
    int rc;
    if (bits != 0) {
        char text[16];
        int n = std::snprintf(text, sizeof text, "0x%x", bits);
        rc = setxattr(native, XATTR_NAME, text, (size_t)n, 0);
    } else {
        rc = removexattr(native, XATTR_NAME);
        if (rc != 0 && errno == ENODATA)
            rc = 0;
    }
    return rc == 0 || unsupported(errno) ? 0 : -1;
}

// Sets the last error for a path that could not be reached: 3 when its
// directory is missing too, as Windows tells the two apart.
void set_missing_error(const char *native, int err) {
    if (err != ENOENT) {
        set_errno_error(err);
        return;
    }
    char parent[NATIVE_PATH_SIZE];
    std::snprintf(parent, sizeof parent, "%s", native);
    char *slash = std::strrchr(parent, '/');
    if (slash != nullptr && slash != parent)
        *slash = '\0';
    struct stat st;
    if (slash != nullptr && slash != parent && (stat(parent, &st) != 0 || !S_ISDIR(st.st_mode)))
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
    else
        plat_setlasterror(PLAT_ERR_FILE_NOT_FOUND);
}

mode_t current_umask(void) {
    mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// Clearing read-only gives back owner write, and group and other write
// where they may read, as a new file would get them under the umask.
mode_t writable_mode(mode_t mode) {
    mode_t add = S_IWUSR;
    if (mode & S_IRGRP)
        add |= S_IWGRP;
    if (mode & S_IROTH)
        add |= S_IWOTH;
    return mode | (add & ~current_umask());
}

int change_mode(const char *native, mode_t mode) {
    if (chmod(native, mode & 07777) != 0) {
        set_errno_error(errno);
        return -1;
    }
    return 0;
}

// Updates user.DOSATTRIB of the entry named name at the path `native`
// when it differs. A read-only file refuses new extended attributes to its
// owner, so owner write is lent for the change.
int update_xattr(const char *native, const char *name, const struct stat *st, unsigned bits) {
    unsigned have;
    int present = read_marks(native, &have);
    // Without the attribute a dot name reads as hidden: asking for exactly
    // that again must not write an attribute onto a file nobody changed.
    unsigned implied = name[0] == '.' ? PLAT_ATTR_HIDDEN : 0;
    if ((present && have == bits && bits != 0) || (!present && (bits == 0 || bits == implied)))
        return 0;
    if (write_xattr(native, bits) == 0)
        return 0;
    int err = errno;
    if ((err == EACCES || err == EPERM) && (st->st_mode & S_IWUSR) == 0 &&
        chmod(native, (st->st_mode | S_IWUSR) & 07777) == 0) {
        int rc = write_xattr(native, bits);
        err = errno;
        chmod(native, st->st_mode & 07777);
        if (rc == 0)
            return 0;
    }
    set_errno_error(err);
    return -1;
}

// The entry itself, opened as a path only and never through a link, and
// the path that reaches exactly it (/proc/self/fd/N): mode and extended
// attributes are changed there, so that neither a directory nor the entry
// swapped for a link on the way can send the change to another file. The
// descriptor, or -1 with errno set.
int open_entry(const At *at, struct stat *st, char *where, size_t size) {
    const char *name;
    int dirfd = at_fd(at, &name);
    int fd = openat(dirfd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (fstat(fd, st) != 0) {
        int err = errno;
        close(fd);
        errno = err;
        return -1;
    }
    // Without /proc the entry's own path is all there is.
    if (proc_fds())
        std::snprintf(where, size, "/proc/self/fd/%d", fd);
    else
        std::snprintf(where, size, "%s", at->native);
    return fd;
}

// Sets the attribute word on the entry open as fd (reached at `where`).
int set_entry(const char *where, const char *name, struct stat *st, unsigned attrib) {
    if (attrib & PLAT_ATTR_NORMAL)
        attrib &= ~(PLAT_ATTR_READONLY | XATTR_BITS);
    int want_ro = (attrib & PLAT_ATTR_READONLY) != 0;
    int is_ro = (st->st_mode & WRITE_BITS) == 0;
    if (!want_ro && is_ro) {
        mode_t mode = writable_mode(st->st_mode);
        if (change_mode(where, mode) != 0)
            return -1;
        st->st_mode = mode;
    }
    if (update_xattr(where, name, st, attrib & XATTR_BITS) != 0)
        return -1;
    if (want_ro && !is_ro)
        return change_mode(where, st->st_mode & ~WRITE_BITS);
    return 0;
}

} // namespace

int plat_getattr(const char *path, unsigned *attrib) {
    At at;
    if (resolve_at(path, KNOWN_STAT | KNOWN_MARKS, &at) != 0)
        return -1;
    if (at.index >= 0) {
        const NameInfo *info = dir_info(at.dir, at.index);
        if ((info->flags & NAME_BROKEN) == 0) {
            *attrib = info_attrib(info, at_name(&at));
            return 0;
        }
    } else if (at.looked || at.nodir) {
        // Known to be missing: its directory holds no such name, or is
        // missing itself.
        plat_setlasterror(at.nodir ? PLAT_ERR_PATH_NOT_FOUND : PLAT_ERR_FILE_NOT_FOUND);
        return -1;
    }
    NativeInfo info;
    if (native_info(at.native, &info) != 0) {
        set_missing_error(at.native, errno);
        return -1;
    }
    *attrib = info.attrib;
    return 0;
}

// 1 when setting attrib on an entry with this mode and these marks would
// change nothing.
static int same_attribs(unsigned mode, unsigned marks, const char *name, unsigned attrib) {
    if (attrib & PLAT_ATTR_NORMAL)
        attrib &= ~(PLAT_ATTR_READONLY | XATTR_BITS);
    int want_ro = (attrib & PLAT_ATTR_READONLY) != 0;
    int is_ro = (mode & WRITE_BITS) == 0;
    unsigned bits = attrib & XATTR_BITS;
    unsigned implied = name[0] == '.' ? PLAT_ATTR_HIDDEN : 0;
    int present = (marks & MARKS_PRESENT) != 0;
    unsigned have = marks & XATTR_BITS;
    return want_ro == is_ro &&
           ((present && have == bits && bits != 0) || (!present && (bits == 0 || bits == implied)));
}

// 1 when setting attrib on the entry would change nothing, by what the
// listing open on its directory learnt of it, or because it is the copy
// the backend has just put in place.
static int unchanged(const At *at, unsigned attrib) {
    unsigned mode, marks;
    if (temp_placed_mode(at, &mode, &marks))
        return same_attribs(mode, marks, at_name(at), attrib);
    if (at->index < 0 || !dir_trusted(at->dir, at->index, KNOWN_STAT | KNOWN_MARKS))
        return 0;
    const NameInfo *info = dir_info(at->dir, at->index);
    if (info->flags & NAME_LINK)
        return 1; // a link has no marks of its own
    return same_attribs(info->mode, info->marks, at_name(at), attrib);
}

int plat_setattr(const char *path, unsigned attrib) {
    if (fail_now(PLAT_CALL_SETATTR))
        return -1;
    // The copy just put in place, as the backend made it: asked about
    // before any look-up.
    unsigned mode, marks;
    const char *name;
    if (temp_placed_path(path, &mode, &marks, &name) && same_attribs(mode, marks, name, attrib))
        return 0;
    At at;
    struct stat st;
    if (resolve_at(path, 0, &at) != 0)
        return -1;
    // The archive bit is never stored here: clearing it on a file the
    // listing has just seen costs nothing.
    if (unchanged(&at, attrib))
        return 0;
    if (at.index >= 0)
        dir_info(at.dir, at.index)->known = 0; // changed now, or looked at again
    char where[NATIVE_PATH_SIZE];
    int fd = open_entry(&at, &st, where, sizeof where);
    if (fd < 0) {
        set_missing_error(at.native, errno);
        return -1;
    }
    // A link has no marks of its own, and the callers mean the entry, not
    // what it points to: clearing read-only before deleting a link must not
    // strip the protection from its target.
    int r = S_ISLNK(st.st_mode) ? 0 : set_entry(where, at_name(&at), &st, attrib);
    close(fd);
    return r;
}

int plat_keepsarchive(void) { return 0; }
