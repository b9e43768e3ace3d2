// The backend's temporary names and what it made last: unique names for
// the files and links it writes beside their final names, the path it
// hands back to the core for them, and the record of the temporary file
// made last and of the file put in place from it, whose mode the backend
// set itself and need not look up again.
#include "platform/platform.h"
#include "platform/posix/dircache.h"
#include "platform/posix/encoding.h"
#include "platform/posix/native.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <fcntl.h>
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
    unsigned marks; // what user.DOSATTRIB holds (a moved file keeps its own)
    const Dir *dir; // compared, never followed
    unsigned long epoch;
    char name[NAME_MAX + 1];
    char dos[PLAT_PATH_SIZE]; // the path the core named it by
};
Placed placed = {0, 0, 0, nullptr, 0, "", ""};

} // namespace

// Copies text into a buffer of size bytes when it fits, else leaves it
// empty (what is not kept is looked up the long way).
void keep_text(char *buf, size_t size, const char *text) {
    size_t n = strlen(text);
    if (n >= size)
        n = 0;
    memcpy(buf, text, n);
    buf[n] = '\0';
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
int temp_template(const char *ndir, const char *nprefix, char *native, size_t size) {
    int n = snprintf(native, size, "%s%s%sXXXXXX", ndir,
                     ndir[0] && ndir[strlen(ndir) - 1] == '/' ? "" : "/", nprefix);
    if (n < 0 || (size_t)n >= size) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    return n;
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

// A new link "<nprefix>XXXXXX" to target in the directory open as dirfd
// (native path ndir), remembered as a temporary file; its path in native.
// 0, or -1 with the last error set.
int create_templink(const char *target, int dirfd, const char *ndir, const char *nprefix,
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
// the core named it by, with the mode and marks it has: asked about right
// after, while the directory is the one cached (the count of dir_epoch).
static void place(const Dir *dir, const char *name, const char *dos, int known, unsigned mode,
                  unsigned marks) {
    size_t n = strlen(name);
    placed.known = known && dir != nullptr && n < sizeof placed.name;
    lasttemp.native[0] = 0;
    if (!placed.known)
        return;
    placed.mode = mode;
    placed.marks = marks;
    placed.dir = dir;
    placed.epoch = dir_epoch();
    memcpy(placed.name, name, n + 1);
    keep_text(placed.dos, sizeof placed.dos, dos);
}

void temp_placed(const char *from, const At *to, const char *todos) {
    place(to->dir, at_name(to), todos,
          lasttemp.fd < 0 && lasttemp.moded && strcmp(from, lasttemp.native) == 0, lasttemp.mode, 0);
}

void temp_moved(const At *to, const char *todos, unsigned mode, unsigned marks) {
    place(to->dir, at_name(to), todos, 1, mode, marks);
}

void temp_closed(int handle) {
    if (handle == lasttemp.fd)
        lasttemp.fd = -1;
}

void temp_placed_at(const Dir *dir, const char *name, const char *dos) {
    place(dir, name, dos, lasttemp.fd < 0 && lasttemp.moded, lasttemp.mode, 0);
}

int temp_placed_path(const char *dos, unsigned *mode, unsigned *marks, const char **name) {
    if (!placed.known || placed.dos[0] == '\0' || strcmp(dos, placed.dos) != 0)
        return 0;
    placed.known = 0;
    *mode = placed.mode;
    *marks = placed.marks;
    *name = placed.name;
    return 1;
}

int temp_placed_mode(const At *at, unsigned *mode, unsigned *marks) {
    int known = placed.known && at->dir == placed.dir && placed.epoch == dir_epoch() &&
                strcmp(at_name(at), placed.name) == 0;
    placed.known = 0;
    *mode = placed.mode;
    *marks = placed.marks;
    return known;
}
