// The recycle bin on POSIX: the freedesktop.org Trash, so that desktop file
// managers, `gio trash` and trash-cli can list what we put there and put it
// back. The user's own trash is filled directly where it shares the file's
// file system; GIO does the rest.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <gio/gio.h>

#include "platform/platform.h"
#include "platform/posix/dircache.h"
#include "platform/posix/native.h"

namespace {

// GIO picks its virtual file system on first use. The default one asks the
// desktop's file system daemons over D-Bus, which a console run from a
// script, a cron job or an ssh session does not have: it would print
// warnings, or wait for a bus, before falling back. Trashing a local file
// needs nothing but the local implementation, so that is what we ask for,
// unless the user has chosen otherwise. It must happen before the first
// GIO call, which is why it is done here and only here.
void use_local_vfs(void) {
    static int done;
    if (done)
        return;
    done = 1;
    g_setenv("GIO_USE_VFS", "local", FALSE);
}

unsigned gerror_code(const GError *error) {
    if (error == nullptr || error->domain != G_IO_ERROR)
        return PLAT_ERR_ACCESS_DENIED;
    switch (error->code) {
    case G_IO_ERROR_NOT_FOUND:
        return PLAT_ERR_FILE_NOT_FOUND;
    case G_IO_ERROR_PERMISSION_DENIED:
        return PLAT_ERR_ACCESS_DENIED;
    case G_IO_ERROR_NOT_SUPPORTED:
        return 50; // ERROR_NOT_SUPPORTED: this file system has no trash
    default:
        return PLAT_ERR_ACCESS_DENIED;
    }
}

// 1 when the directory of the resolved path, reached by its name again as
// the desktop's trash reaches it, is still the one the run looked in: a
// directory swapped for a link meanwhile would have the file of another
// tree trashed in its place.
static int same_directory(const At *at) {
    if (at->dir == nullptr || dir_fd(at->dir) < 0)
        return 1;
    struct stat st;
    PlatFileId id = dir_identity(at->dir);
    return stat(dir_native(at->dir), &st) == 0 && (unsigned long long)st.st_dev == id.device &&
           (unsigned long long)st.st_ino == id.inode;
}

// ---- the home trash, filled from the held directory ---------------------------
//
// Where the user's own trash lies on the file's file system, the file is
// renamed into it from the descriptor of the directory it was found in, so
// that no path is resolved again between the look and the move. Its record
// in info/ is written first, exclusively, as the desktop's trash does: a
// run cut short leaves at worst a record without a file, which the
// desktop ignores, never a file nobody can restore.

struct Bin {
    int files, info;
};

// The directory name of dirfd, made for its owner alone when missing.
int open_sub(int dirfd, const char *name) {
    int fd = openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && mkdirat(dirfd, name, 0700) == 0)
        fd = openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return fd;
}

void close_bin(Bin *b) {
    if (b->files >= 0)
        close(b->files);
    if (b->info >= 0)
        close(b->info);
}

// The trash in the user's data directory, where GIO would put it, made
// when missing. 0, or -1.
int open_bin(Bin *b) {
    b->files = b->info = -1;
    char path[NATIVE_PATH_SIZE];
    int n = snprintf(path, sizeof path, "%s/Trash", g_get_user_data_dir());
    if (n < 0 || (size_t)n >= sizeof path || path[0] != '/' ||
        g_mkdir_with_parents(path, 0700) != 0)
        return -1;
    int top = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (top < 0)
        return -1;
    b->files = open_sub(top, "files");
    b->info = open_sub(top, "info");
    close(top);
    if (b->files >= 0 && b->info >= 0)
        return 0;
    close_bin(b);
    return -1;
}

// The path as the record spells it: every byte but letters, digits, "-._~"
// and "/" escaped as %XX. 0, or -1 when it does not fit.
int escape_path(const char *native, char *out, size_t size) {
    static const char hex[] = "0123456789ABCDEF";
    size_t n = 0;
    for (const unsigned char *p = (const unsigned char *)native; *p != 0; p++) {
        if (n + 4 > size)
            return -1;
        if (g_ascii_isalnum(*p) || std::strchr("-._~/", *p) != nullptr) {
            out[n++] = (char)*p;
        } else {
            out[n++] = '%';
            out[n++] = hex[*p >> 4];
            out[n++] = hex[*p & 15];
        }
    }
    out[n] = 0;
    return 0;
}

// Writes the record iname for the file at native into info/, never over
// another. 0, or -1 with errno set (EEXIST when the name is taken).
int write_info(const Bin *b, const char *iname, const char *native) {
    static char text[3 * NATIVE_PATH_SIZE + 100];
    int n = snprintf(text, sizeof text, "[Trash Info]\nPath=");
    if (escape_path(native, text + n, sizeof text - (size_t)n - 40) != 0) {
        errno = ENAMETOOLONG;
        return -1;
    }
    n += (int)std::strlen(text + n);
    time_t now = time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    n += (int)strftime(text + n, sizeof text - (size_t)n, "\nDeletionDate=%Y-%m-%dT%H:%M:%S\n", &tm);
    int fd = openat(b->info, iname, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    int ok = write_all(fd, text, (unsigned long)n) == n;
    int err = errno;
    if (close(fd) != 0 && ok) {
        ok = 0;
        err = errno;
    }
    if (!ok) {
        unlinkat(b->info, iname, 0);
        errno = err;
        return -1;
    }
    return 0;
}

// Renames the file into files/ under its own name, or "name.2", "name.3"...
// when that is taken, its record written first. 0, or -1 with errno set.
int move_in(const Bin *b, int dirfd, const char *name, const char *native) {
    char tname[NAME_MAX + 1], iname[NAME_MAX + 1];
    for (int i = 1; i < 1000; i++) {
        int n = i == 1 ? snprintf(tname, sizeof tname, "%s", name)
                       : snprintf(tname, sizeof tname, "%s.%d", name, i);
        int m = snprintf(iname, sizeof iname, "%s.trashinfo", tname);
        if (n < 0 || m < 0 || (size_t)m >= sizeof iname) {
            errno = ENAMETOOLONG;
            return -1;
        }
        if (write_info(b, iname, native) != 0) {
            if (errno == EEXIST)
                continue;
            return -1;
        }
        if (rename_noreplace(dirfd, name, b->files, tname, 0) == 0)
            return 0;
        int err = errno;
        unlinkat(b->info, iname, 0);
        if (err != EEXIST) {
            errno = err;
            return -1;
        }
    }
    errno = EEXIST;
    return -1;
}

// The file, whose own stat is st, into the home trash. 0, -1 with the last
// error set, or 1 when that trash is not on the file's file system (or
// cannot be had): GIO decides then.
int into_home_trash(const At *at, const struct stat *st) {
    if (at->dir == nullptr || dir_fd(at->dir) < 0)
        return 1;
    Bin b;
    if (open_bin(&b) != 0)
        return 1;
    struct stat files;
    if (fstat(b.files, &files) != 0 || files.st_dev != st->st_dev) {
        close_bin(&b);
        return 1;
    }
    const char *name;
    int dirfd = at_fd(at, &name);
    int r = move_in(&b, dirfd, name, at->native);
    if (r != 0)
        set_errno_error(errno);
    close_bin(&b);
    return r;
}

// ---- elsewhere, GIO ---------------------------------------------------------------

// GIO trashes by path: the path must still lead to the file looked at,
// through the directory looked in.
int through_gio(const At *at, const struct stat *st) {
    struct stat now;
    if (!same_directory(at) || lstat(at->native, &now) != 0 || now.st_dev != st->st_dev ||
        now.st_ino != st->st_ino) {
        plat_setlasterror(PLAT_ERR_DIR_CHANGED);
        return -1;
    }
    use_local_vfs();
    GFile *file = g_file_new_for_path(at->native);
    GError *error = nullptr;
    // g_file_trash only ever renames into a trash on the file's own file
    // system; where there is none it fails (NOT_SUPPORTED) and the file
    // stays. It is never deleted in its place.
    gboolean ok = g_file_trash(file, nullptr, &error);
    g_object_unref(file);
    if (!ok) {
        plat_setlasterror(gerror_code(error));
        if (error != nullptr)
            g_error_free(error);
        return -1;
    }
    return 0;
}

} // namespace

int plat_recycle(const char *path) {
    At at;
    if (resolve_at(path, 0, &at) != 0)
        return -1;
    // A missing file is told apart from a missing directory as everywhere
    // else, and costs no GIO start-up.
    struct stat st;
    const char *name;
    int dirfd = at_fd(&at, &name);
    if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            set_missing_error(at.native);
        else
            set_errno_error(errno);
        return -1;
    }
    if (!same_directory(&at)) {
        plat_setlasterror(PLAT_ERR_DIR_CHANGED);
        return -1;
    }
    if (fail_now(PLAT_CALL_MOVE))
        return -1;
    int r = into_home_trash(&at, &st);
    if (r > 0)
        r = through_gio(&at, &st);
    if (r != 0)
        return -1;
    at_removed(&at, 0);
    return 0;
}
