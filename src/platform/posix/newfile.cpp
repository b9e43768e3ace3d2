// A new file, written where no one can see it and given its name only when
// it is complete: O_TMPFILE makes it without a name in its directory, and
// linkat names it, failing rather than replacing a file that took the
// name meanwhile. A run that dies half-way leaves nothing, not even a
// temporary name, and a copy costs no rename. Where the file system makes
// no unnamed files (or /proc, through which it is named, is missing) a
// temporary name beside it stands in, renamed without replacing.
#include "platform/platform.h"
#include "platform/posix/dircache.h"
#include "platform/posix/entry.h"
#include "platform/posix/native.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The one new file being written (the core writes one at a time).
struct Pending {
    int fd = -1;
    Dir *dir = nullptr; // its directory, held until it is placed or dropped
    int named = 0;      // it has a temporary name (tmp)
    char name[NAME_MAX + 1];
    char tmp[NAME_MAX + 1];
    char tmpnative[NATIVE_PATH_SIZE];
    char dos[PLAT_PATH_SIZE]; // the path the core gave
};
Pending pending;

void end_pending(void) {
    if (pending.dir != nullptr)
        dir_release(pending.dir);
    pending.dir = nullptr;
    pending.fd = -1;
    pending.named = 0;
}

// Takes back what a file that is not to be placed left: its temporary
// name, if it had one. The last error stays.
void undo_name(void) {
    if (!pending.named)
        return;
    unsigned keep = plat_lasterror();
    unlinkat(dir_fd(pending.dir), pending.tmp, 0);
    temp_forget(pending.tmpnative);
    dir_removed(pending.dir, pending.tmp, 0);
    plat_setlasterror(keep);
}

// Names the unnamed file; -1 with errno set.
int link_unnamed(int dirfd) {
    char proc[32] = "/proc/self/fd/", digits[12];
    size_t n = 0, at = std::strlen(proc);
    for (unsigned v = (unsigned)pending.fd; n == 0 || v != 0; v /= 10)
        digits[n++] = (char)('0' + v % 10);
    while (n > 0)
        proc[at++] = digits[--n];
    proc[at] = '\0';
    return linkat(AT_FDCWD, proc, dirfd, pending.name, AT_SYMLINK_FOLLOW);
}

} // namespace

int plat_opennew(const char *path) {
    if (fail_now(PLAT_CALL_OPEN))
        return -1;
    if (pending.fd >= 0)
        plat_dropnew(pending.fd);
    At at;
    if (resolve_at(path, 0, &at) != 0)
        return -1;
    if (at.dir == nullptr || at.nodir) {
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
        return -1;
    }
    int dirfd = dir_fd(at.dir);
    if (dirfd < 0) {
        set_errno_error(errno);
        return -1;
    }
    if (std::strlen(at_name(&at)) > NAME_MAX) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    int fd = proc_fds() ? openat(dirfd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600) : -1;
    int named = fd < 0;
    if (named && (fd = create_temp_at(dirfd, dir_native(at.dir), "_MOX_", pending.tmp,
                                      pending.tmpnative, sizeof pending.tmpnative)) < 0)
        return -1;
    if (named)
        dir_added(at.dir, pending.tmp, 0);
    pending.fd = fd;
    pending.named = named;
    pending.dir = at.dir;
    dir_hold(at.dir);
    std::strcpy(pending.name, at_name(&at));
    size_t n = std::strlen(path);
    std::memcpy(pending.dos, path, n < sizeof pending.dos ? n + 1 : 1);
    pending.dos[n < sizeof pending.dos ? n : 0] = '\0';
    temp_made(fd, named ? pending.tmpnative : "");
    return fd;
}

int plat_placenew(int handle) {
    if (handle < 0 || handle != pending.fd) {
        plat_setlasterror(PLAT_ERR_INVALID_PARAMETER);
        return -1;
    }
    int dirfd = dir_fd(pending.dir);
    // Counted as the close of the file and the move that puts it in place,
    // in that order, as the named way does them.
    int failed = fail_now(PLAT_CALL_CLOSE) || fail_now(PLAT_CALL_MOVE);
    int r = -1, err = 0;
    if (failed) {
        close(handle);
    } else if (!pending.named) {
        r = link_unnamed(dirfd);
        err = errno;
        // A close that fails now reports a write that failed late: the
        // file is not what it should be, and its name goes again.
        if (close(handle) != 0 && r == 0) {
            err = errno;
            unlinkat(dirfd, pending.name, 0);
            r = -1;
        }
    } else if (close(handle) != 0) {
        err = errno;
    } else {
        r = rename_noreplace(dirfd, pending.tmp, dirfd, pending.name, 0);
        err = errno;
    }
    temp_closed(handle);
    if (r != 0) {
        if (!failed)
            set_errno_error(err);
        if (err == EEXIST) // someone else's, or one not looked at yet
            dir_found(pending.dir, pending.name);
        undo_name();
        end_pending();
        return -1;
    }
    if (pending.named) {
        temp_forget(pending.tmpnative);
        dir_removed(pending.dir, pending.tmp, 0);
    }
    dir_added(pending.dir, pending.name, 0);
    temp_placed_at(pending.dir, pending.name, pending.dos);
    end_pending();
    return 0;
}

const char *newfile_dos(int handle) {
    return handle >= 0 && handle == pending.fd ? pending.dos : nullptr;
}

void plat_dropnew(int handle) {
    if (handle < 0 || handle != pending.fd)
        return;
    close(handle);
    temp_closed(handle);
    undo_name();
    end_pending();
}
