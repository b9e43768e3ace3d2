// Directories on POSIX: made like the directory they are to hold the copy
// of, or private, and removed.
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

} // namespace

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

int plat_owndir(const char *path, PlatFileId *id) {
    At at;
    if (resolve_at(path, 0, &at) != 0)
        return -1;
    const char *name;
    int dirfd = at_fd(&at, &name);
    struct stat st;
    if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            set_missing_error(at.native);
        else
            set_errno_error(errno);
        return -1;
    }
    if (S_ISLNK(st.st_mode))
        return PLAT_OWNDIR_LINK;
    if (!S_ISDIR(st.st_mode)) {
        plat_setlasterror(PLAT_ERR_DIRECTORY);
        return -1;
    }
    // Whoever may write to it may rename what it holds, or swap a
    // directory in it for a link to anywhere.
    if (st.st_uid != geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return PLAT_OWNDIR_SHARED;
    id->device = (unsigned long long)st.st_dev;
    id->inode = (unsigned long long)st.st_ino;
    return 0;
}

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

