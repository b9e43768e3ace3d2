// The recycle bin on POSIX: the freedesktop.org Trash, through GIO, so that
// desktop file managers, `gio trash` and trash-cli can list what we put
// there and put it back.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

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

} // namespace

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

int plat_recycle(const char *path) {
    At at;
    if (resolve_at(path, 0, &at) != 0)
        return -1;
    const char *native = at.native;
    // A missing file is told apart from a missing directory as everywhere
    // else, and costs no GIO start-up.
    struct stat st;
    const char *name;
    int dirfd = at_fd(&at, &name);
    if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            set_missing_error(native);
        else
            set_errno_error(errno);
        return -1;
    }
    if (!same_directory(&at)) {
        plat_setlasterror(PLAT_ERR_DIR_CHANGED);
        return -1;
    }
    use_local_vfs();
    GFile *file = g_file_new_for_path(native);
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
    at_removed(&at, 0);
    return 0;
}
