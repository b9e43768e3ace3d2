// File contents on POSIX: open, read, write, seek, close, the write time, the
// identity of a file and the two kinds of temporary file.
//
// A handle is the descriptor itself. Every descriptor is close-on-exec, and
// opens never block: a FIFO met in a tree would otherwise hang the run.
#include "platform/platform.h"
#include "platform/posix/dircache.h"
#include "platform/posix/encoding.h"
#include "platform/posix/native.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The file last opened for reading, as fstat found it at the open: a copy
// asks for its state, its size and its mode right after, and the kernel
// need not be asked again.
struct Opened {
    int fd;        // -1 once closed
    int untouched; // nothing read from it yet: its state is still st
    struct stat st;
    char native[NATIVE_PATH_SIZE];
    char dos[PLAT_PATH_SIZE]; // the path the core opened it by
};
Opened opened = {-1, 0, {}, "", ""};

// Opens with O_NONBLOCK (so that a FIFO without a writer or reader cannot
// hang us) and clears it again, so reads and writes behave as usual.
int open_nonblocking(int dirfd, const char *name, int flags) {
    int fd;
    do {
        fd = openat(dirfd, name, flags | O_CLOEXEC | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Reads and writes block again, as usual, on what is not a regular file
// (on which O_NONBLOCK changes nothing).
void blocking(int fd, const struct stat *st) {
    if (S_ISREG(st->st_mode))
        return;
    int fl = fcntl(fd, F_GETFL);
    if (fl >= 0)
        fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
}


int open_flags(int how) {
    switch (how) {
    case PLAT_OPEN_READ:
        return O_RDONLY;
    case PLAT_OPEN_CREATE:
        return O_WRONLY | O_CREAT | O_TRUNC;
    case PLAT_OPEN_APPEND:
        // Appending through a link would grow whatever file it names,
        // wherever that is.
        return O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW;
    }
    return -1;
}

// Gives up a temporary file that was made but cannot be handed back.
void drop_temp(int fd, const char *native) {
    unsigned keep = plat_lasterror();
    close(fd);
    unlink(native);
    temp_forget(native);
    lookup_removed_path(native, 0);
    plat_setlasterror(keep);
}

// The directory for the temporary list file: TEMP, else TMPDIR, else /tmp.
// Only absolute values count; a relative one would depend on where the
// user happened to start us.
const char *temp_dir(void) {
    const char *names[] = {"TEMP", "TMPDIR"};
    for (const char *name : names) {
        const char *v = getenv(name);
        if (v && v[0] == '/')
            return v;
    }
    return "/tmp";
}

} // namespace

int plat_open(const char *path, int how) {
    if (fail_now(PLAT_CALL_OPEN))
        return -1;
    int flags = open_flags(how);
    if (flags < 0) {
        plat_setlasterror(PLAT_ERR_INVALID_PARAMETER);
        return -1;
    }
    At at;
    if (resolve_at(path, 0, &at) != 0)
        return -1;
    const char *name;
    int dirfd = at_fd(&at, &name);
    int fd = open_nonblocking(dirfd, name, flags);
    if (fd < 0) {
        struct stat st;
        if (errno == ELOOP && how == PLAT_OPEN_APPEND && lstat(at.native, &st) == 0 &&
            S_ISLNK(st.st_mode))
            plat_setlasterror(PLAT_ERR_ACCESS_DENIED);
        else
            set_open_error(at.native, errno);
        return -1;
    }
    // Opening a directory read-only succeeds on Linux; Windows refuses it.
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        plat_setlasterror(PLAT_ERR_ACCESS_DENIED);
        return -1;
    }
    blocking(fd, &st);
    if (how == PLAT_OPEN_READ) {
        opened.fd = fd;
        opened.untouched = 1;
        opened.st = st;
        std::strcpy(opened.native, at.native);
        keep_text(opened.dos, sizeof opened.dos, path);
    } else {
        at_added(&at, 0);
    }
    return fd;
}

const struct stat *opened_stat(int handle) {
    return handle == opened.fd && opened.untouched ? &opened.st : nullptr;
}

int opened_size(int handle, long long *size) {
    const struct stat *st = opened_stat(handle);
    if (st == nullptr || !S_ISREG(st->st_mode))
        return 0;
    *size = (long long)st->st_size;
    return 1;
}

void opened_read(int handle) {
    if (handle == opened.fd)
        opened.untouched = 0;
}

const struct stat *opened_model_dos(const char *path) {
    return opened.dos[0] != '\0' && std::strcmp(path, opened.dos) == 0 ? &opened.st : nullptr;
}

const struct stat *opened_model(const char *native) {
    return opened.native[0] != '\0' && std::strcmp(native, opened.native) == 0 ? &opened.st
                                                                                : nullptr;
}

long read_some(int fd, void *buf, unsigned long len) {
    ssize_t n;
    do {
        n = read(fd, buf, len);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        set_errno_error(errno);
        return -1;
    }
    return (long)n;
}

long write_all(int fd, const void *buf, unsigned long len) {
    const char *p = (const char *)buf;
    unsigned long done = 0;
    while (done < len) {
        ssize_t n = write(fd, p + done, len - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            set_errno_error(errno);
            return -1;
        }
        if (n == 0) { // no progress and no error: nothing more fits
            plat_setlasterror(PLAT_ERR_DISK_FULL);
            return -1;
        }
        done += (unsigned long)n;
    }
    return (long)done;
}

long plat_read(int handle, void *buf, unsigned long len) {
    if (fail_now(PLAT_CALL_READ))
        return -1;
    opened_read(handle);
    return read_some(handle, buf, len);
}

long plat_write_file(int handle, const void *buf, unsigned long len) {
    if (fail_now(PLAT_CALL_WRITE))
        return -1;
    return write_all(handle, buf, len);
}

long long plat_seek(int handle, long long offset, int whence) {
    int w = whence == PLAT_SEEK_SET   ? SEEK_SET
            : whence == PLAT_SEEK_CUR ? SEEK_CUR
            : whence == PLAT_SEEK_END ? SEEK_END
                                      : -1;
    if (w < 0) {
        plat_setlasterror(PLAT_ERR_INVALID_PARAMETER);
        return -1;
    }
    off_t pos = lseek(handle, (off_t)offset, w);
    if (pos < 0) {
        set_errno_error(errno);
        return -1;
    }
    return (long long)pos;
}

// An armed failure still closes the descriptor: the caller treats the
// handle as gone either way, as it would after a real late write error.
int plat_close(int handle) {
    int failed = fail_now(PLAT_CALL_CLOSE);
    if (handle == opened.fd)
        opened.fd = -1;
    temp_closed(handle);
    if (close(handle) < 0 && !failed) {
        // Linux releases the descriptor even when close reports EINTR, but
        // the data may not have reached the disk: that is a failure too.
        set_errno_error(errno);
        return -1;
    }
    return failed ? -1 : 0;
}

int plat_setfiletime(int handle, const PlatFileTime *mtime) {
    if (mtime->nsec < 0 || mtime->nsec > 999999999) {
        plat_setlasterror(PLAT_ERR_INVALID_PARAMETER);
        return -1;
    }
    struct timespec ts[2];
    ts[0].tv_sec = 0;
    ts[0].tv_nsec = UTIME_OMIT; // the access time stays as it is
    ts[1].tv_sec = (time_t)mtime->sec;
    ts[1].tv_nsec = mtime->nsec;
    if (futimens(handle, ts) < 0) {
        set_errno_error(errno);
        return -1;
    }
    return 0;
}

int plat_truncate(int handle, long long size) {
    int r;
    do {
        r = ftruncate(handle, (off_t)size);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        set_errno_error(errno);
        return -1;
    }
    return 0;
}

int plat_filestate(int handle, PlatFileState *state) {
    struct stat st;
    if (handle == opened.fd && opened.untouched) {
        st = opened.st;
    } else if (fstat(handle, &st) != 0) {
        set_errno_error(errno);
        return -1;
    }
    state->id.device = (unsigned long long)st.st_dev;
    state->id.inode = (unsigned long long)st.st_ino;
    state->size = (unsigned long long)st.st_size;
    state->mtime.sec = (long long)st.st_mtim.tv_sec;
    state->mtime.nsec = (long)st.st_mtim.tv_nsec;
    state->ctime.sec = (long long)st.st_ctim.tv_sec;
    state->ctime.nsec = (long)st.st_ctim.tv_nsec;
    return 0;
}

// A new temporary file made: known to the lookup cache, and its name
// handed back in the core's spelling. The handle, or -1 (no file left).
static int handtemp(int fd, const char *native, char *path, size_t size) {
    if (fd < 0)
        return -1;
    lookup_added_path(native, 0);
    if (core_path(native, path, size) < 0) {
        drop_temp(fd, native);
        return -1;
    }
    return fd;
}

// The core's spelling of the new file name in the directory d: its DOS
// path, or its native path when it lies on no drive or the DOS path would
// pass 260 characters. 0, or -1 when neither fits.
static int temp_spelling(Dir *d, const char *name, const char *native, char *path,
                         size_t size) {
    char dos[PLAT_PATH_SIZE];
    int n = dos_dir_path(dir_native(d), dos, sizeof dos);
    if (n > 0) {
        // Only a root ends in a separator: 表 ends in 0x5C too, as its trail byte.
        int root = n == 3 && dos[1] == ':';
        int m = snprintf(path, size, "%s%s%s", dos, root ? "" : "\\", name);
        if (m >= 0 && (size_t)m < size && m < PLAT_PATH_SIZE)
            return 0;
    }
    n = enc_to_core(native, strlen(native), path, size);
    if (n < 0) {
        plat_setlasterror(n == ENC_NOROOM ? PLAT_ERR_FILENAME_TOO_LONG : PLAT_ERR_INVALID_NAME);
        return -1;
    }
    return 0;
}

int plat_opentemp(const char *dir, const char *prefix, char *path, size_t size) {
    if (fail_now(PLAT_CALL_OPEN))
        return -1;
    char nprefix[64], name[NAME_MAX + 1], native[NATIVE_PATH_SIZE];
    Dir *d = dir_of_path(dir);
    if (d == nullptr)
        return -1;
    int dirfd = dir_fd(d);
    if (dirfd < 0) {
        set_errno_error(errno);
        return -1;
    }
    if (enc_from_core(prefix, strlen(prefix), nprefix, sizeof nprefix - 7, 0) < 0) {
        plat_setlasterror(PLAT_ERR_INVALID_NAME);
        return -1;
    }
    int fd = create_temp_at(dirfd, dir_native(d), nprefix, name, native, sizeof native);
    if (fd < 0)
        return -1;
    temp_made(fd, native);
    dir_added(d, name, 0);
    char core[80];
    if (enc_to_core(name, strlen(name), core, sizeof core) < 0 ||
        temp_spelling(d, core, native, path, size) < 0) {
        drop_temp(fd, native);
        return -1;
    }
    return fd;
}

int plat_mktemp(char *path, size_t size) {
    if (fail_now(PLAT_CALL_OPEN))
        return -1;
    const char *dir = temp_dir();
    char native[NATIVE_PATH_SIZE];
    size_t dlen = strlen(dir);
    while (dlen > 0 && dir[dlen - 1] == '/') // "/" itself included
        dlen--;
    int n = snprintf(native, sizeof native, "%.*s/_MOX_XXXXXX", (int)dlen, dir);
    if (n < 0 || (size_t)n >= sizeof native) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    int fd = mkostemp(native, O_CLOEXEC);
    if (fd < 0) {
        set_open_error(native, errno);
        return -1;
    }
    temp_remember(native);
    return handtemp(fd, native, path, size);
}

