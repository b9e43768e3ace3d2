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

// The temporary file made last, and the file put in place from it.
struct Temp {
    int fd;       // -1 once closed
    int moded;    // mode holds what the backend set
    unsigned mode;
    char native[NATIVE_PATH_SIZE];
};
Temp lasttemp = {-1, 0, 0, ""};
struct Placed {
    int known;
    unsigned mode;
    const Dir *dir; // compared, never followed
    unsigned long epoch;
    char name[NAME_MAX + 1];
    char dos[PLAT_PATH_SIZE]; // the path the core named it by
};
Placed placed = {0, 0, nullptr, 0, "", ""};

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

// Copies text into a buffer of size bytes when it fits, else leaves it
// empty (what is not kept is looked up the long way).
void keep_text(char *buf, size_t size, const char *text) {
    size_t n = strlen(text);
    if (n >= size)
        n = 0;
    memcpy(buf, text, n);
    buf[n] = '\0';
}

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


void set_open_error(const char *native, int err) {
    if (err == ENOENT)
        set_missing_error(native);
    else if (err == EISDIR)
        plat_setlasterror(PLAT_ERR_ACCESS_DENIED);
    else
        set_errno_error(err);
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

// Hands a path the backend made back to the core: its DOS spelling, or the
// native path itself (converted) when it lies on no drive. -1 when neither
// fits.
int core_path(const char *native, char *out, size_t size) {
    if (dos_path(native, out, size) >= 0)
        return 0;
    // On no drive, or too long to spell as a DOS path: the native path,
    // which every service takes as well.
    if (plat_lasterror() != PLAT_ERR_PATH_NOT_FOUND &&
        plat_lasterror() != PLAT_ERR_FILENAME_TOO_LONG)
        return -1;
    int n = enc_to_core(native, strlen(native), out, size);
    if (n < 0) {
        plat_setlasterror(n == ENC_NOROOM ? PLAT_ERR_FILENAME_TOO_LONG : PLAT_ERR_INVALID_NAME);
        return -1;
    }
    return 0;
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

// Six characters that differ from call to call and from process to
// process. Upper case and digits only, so that two names never differ by
// letter case alone (lookups ignore it).
void fill_unique(char *p) {
    static unsigned long long state;
    if (state == 0) {
        struct timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        state = (unsigned long long)ts.tv_nsec ^ ((unsigned long long)ts.tv_sec << 20) ^
                ((unsigned long long)getpid() << 40);
    }
    static const char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    unsigned long long v = state >> 16;
    for (int i = 0; i < 6; i++) {
        p[i] = digits[v % 36];
        v /= 36;
    }
}

// Writes "<ndir>/<nprefix>XXXXXX" into native; the length, whose last six
// characters the caller fills until the name is free, or -1 (206).
static int temp_template(const char *ndir, const char *nprefix, char *native, size_t size) {
    int n = snprintf(native, size, "%s%s%sXXXXXX", ndir,
                     ndir[0] && ndir[strlen(ndir) - 1] == '/' ? "" : "/", nprefix);
    if (n < 0 || (size_t)n >= size) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    return n;
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

int create_temp_at(int dirfd, const char *ndir, const char *nprefix, char *name,
                   char *native, size_t size) {
    int n = temp_template(ndir, nprefix, native, size);
    if (n < 0)
        return -1;
    const char *base = std::strrchr(native, '/') + 1;
    if (std::strlen(base) > NAME_MAX) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    for (int tries = 0; tries < 100; tries++) {
        fill_unique(native + n - 6);
        int fd = openat(dirfd, base, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            std::strcpy(name, base);
            temp_remember(native);
            return fd;
        }
        if (errno != EEXIST && errno != EINTR) {
            set_open_error(native, errno);
            return -1;
        }
    }
    plat_setlasterror(PLAT_ERR_FILE_EXISTS);
    return -1;
}

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

int opened_size(int handle, long long *size) {
    if (handle != opened.fd || !opened.untouched || !S_ISREG(opened.st.st_mode))
        return 0;
    *size = (long long)opened.st.st_size;
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
    if (handle == lasttemp.fd)
        lasttemp.fd = -1;
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

// The directory that path names, opened; null with the last error set.
static Dir *dir_of(const char *path) {
    At at;
    if (resolve_at(path, 0, &at) != 0)
        return nullptr;
    if (at.nodir || (at.looked && at.index < 0)) {
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
        return nullptr;
    }
    Dir *d = dir_get(at.native);
    if (d == nullptr)
        set_open_error(at.native, errno == ENOENT || errno == ENOTDIR ? ENOENT : errno);
    return d;
}

int plat_opentemp(const char *dir, const char *prefix, char *path, size_t size) {
    if (fail_now(PLAT_CALL_OPEN))
        return -1;
    char nprefix[64], name[NAME_MAX + 1], native[NATIVE_PATH_SIZE];
    Dir *d = dir_of(dir);
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

// A new link "<nprefix>XXXXXX" to target in the directory open as dirfd
// (native path ndir), remembered as a temporary file; its path in native.
// 0, or -1 with the last error set.
static int create_templink(const char *target, int dirfd, const char *ndir, const char *nprefix,
                           char *native, size_t size) {
    int n = temp_template(ndir, nprefix, native, size);
    if (n < 0)
        return -1;
    const char *base = strrchr(native, '/') + 1;
    for (int tries = 0; tries < 100; tries++) {
        fill_unique(native + n - 6);
        if (symlinkat(target, dirfd, base) == 0) {
            temp_remember(native);
            return 0;
        }
        if (errno != EEXIST) {
            set_open_error(native, errno);
            return -1;
        }
    }
    plat_setlasterror(PLAT_ERR_FILE_EXISTS);
    return -1;
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
    Dir *d = dir_of(dir);
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

void temp_made(int handle, const char *native) {
    lasttemp.fd = handle;
    lasttemp.moded = 0;
    size_t n = strlen(native);
    if (n >= sizeof lasttemp.native)
        n = 0; // too long to be asked about again
    memcpy(lasttemp.native, native, n);
    lasttemp.native[n] = '\0';
}

void temp_moded(int handle, unsigned mode) {
    if (handle == lasttemp.fd && handle >= 0) {
        lasttemp.mode = mode;
        lasttemp.moded = 1;
    }
}

// The file just put in place, as its directory and name and as the path
// the core named it by: asked about right after, while the directory is
// the one cached (the count of dir_epoch).
static void place(const Dir *dir, const char *name, const char *dos, int known) {
    size_t n = strlen(name);
    placed.known = known && dir != nullptr && n < sizeof placed.name;
    lasttemp.native[0] = 0;
    if (!placed.known)
        return;
    placed.mode = lasttemp.mode;
    placed.dir = dir;
    placed.epoch = dir_epoch();
    memcpy(placed.name, name, n + 1);
    keep_text(placed.dos, sizeof placed.dos, dos);
}

void temp_placed(const char *from, const At *to, const char *todos) {
    place(to->dir, at_name(to), todos,
          lasttemp.fd < 0 && lasttemp.moded && strcmp(from, lasttemp.native) == 0);
}

void temp_closed(int handle) {
    if (handle == lasttemp.fd)
        lasttemp.fd = -1;
}

void temp_placed_at(const Dir *dir, const char *name, const char *dos) {
    place(dir, name, dos, lasttemp.fd < 0 && lasttemp.moded);
}

int temp_placed_path(const char *dos, unsigned *mode, const char **name) {
    if (!placed.known || placed.dos[0] == '\0' || strcmp(dos, placed.dos) != 0)
        return 0;
    placed.known = 0;
    *mode = placed.mode;
    *name = placed.name;
    return 1;
}

int temp_placed_mode(const At *at, unsigned *mode) {
    int known = placed.known && at->dir == placed.dir && placed.epoch == dir_epoch() &&
                strcmp(at_name(at), placed.name) == 0;
    placed.known = 0;
    *mode = placed.mode;
    return known;
}
