// The paths a user gives in the system's own form, resolved as the shell
// and the kernel resolve them, then spelled as a drive's DOS path.
#include "platform/platform.h"
#include "platform/posix/dircache.h"
#include "platform/posix/encoding.h"
#include "platform/posix/native.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

int islead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// What no DOS path can carry of the core's text of a native path: a
// backslash anywhere (0x5C as the second byte of a character is none), a
// final component that ends in a dot or a space ("." and ".." are
// directories, resolved below). 0 when none.
int name_fault(const char *path) {
    size_t n = std::strlen(path);
    for (size_t i = 0; i < n; i += islead((unsigned char)path[i]) && i + 1 < n ? 2 : 1)
        if (path[i] == '\\')
            return PLAT_NATIVE_BACKSLASH;
    while (n > 0 && path[n - 1] == '/')
        n--;
    size_t start = n;
    while (start > 0 && path[start - 1] != '/')
        start--;
    size_t len = n - start;
    if (len == 0 || (len == 1 && path[start] == '.') ||
        (len == 2 && path[start] == '.' && path[start + 1] == '.'))
        return 0;
    if (path[n - 1] == '.')
        return PLAT_NATIVE_ENDDOT;
    return path[n - 1] == ' ' ? PLAT_NATIVE_ENDSPACE : 0;
}

// The resolution so far: an absolute native path with no "." or ".."
// component, every component the kernel's own spelling up to the first
// missing one.
struct Walk {
    char path[NATIVE_PATH_SIZE];
    size_t len;
    int missing; // a component was missing: the rest is spelled as given
};

// Steps to the component comp (n bytes). A ".." climbs textually: what
// lies before it is already free of links, or is to be made. 0, or -1 when
// the path grows too long.
int step(Walk *w, const char *comp, size_t n) {
    if (n == 0 || (n == 1 && comp[0] == '.'))
        return 0;
    if (n == 2 && comp[0] == '.' && comp[1] == '.') {
        while (w->len > 1 && w->path[w->len - 1] != '/')
            w->len--;
        if (w->len > 1)
            w->len--;
        w->path[w->len] = '\0';
        return 0;
    }
    size_t at = w->len == 1 ? 1 : w->len + 1;
    if (at + n >= sizeof w->path)
        return -1;
    w->path[w->len] = '/';
    std::memcpy(w->path + at, comp, n);
    w->len = at + n;
    w->path[w->len] = '\0';
    if (w->missing)
        return 0;
    char real[PATH_MAX];
    if (realpath(w->path, real) == nullptr) {
        w->missing = 1; // ENOENT, or a file where a directory is needed
        return 0;
    }
    size_t len = std::strlen(real);
    if (len >= sizeof w->path)
        return -1;
    std::memcpy(w->path, real, len + 1);
    w->len = len;
    return 0;
}

int toolong() {
    plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
    return -1;
}

int isdots(const char *comp, size_t n) {
    return (n == 1 && comp[0] == '.') || (n == 2 && comp[0] == '.' && comp[1] == '.');
}

// The final name: "." and ".." are resolved, anything else is kept as
// given, never looked at (a link stays the link).
int final_step(Walk *w, const char *comp, size_t n) {
    if (isdots(comp, n))
        return step(w, comp, n);
    int was = w->missing;
    w->missing = 1;
    int r = step(w, comp, n);
    w->missing = was;
    return r;
}

// The directories of path (its first `last` bytes) in one call, where they
// all exist: the usual case. 1 when done.
int whole_dirs(const char *path, size_t last, Walk *w) {
    char dir[PATH_MAX], real[PATH_MAX];
    size_t from = path[0] == '/' ? 0 : w->len;
    if (from + 1 + last >= sizeof dir)
        return 0;
    std::memcpy(dir, w->path, from);
    dir[from] = '/';
    std::memcpy(dir + from + 1, path, last);
    dir[from + 1 + last] = '\0';
    if (realpath(dir, real) == nullptr || std::strlen(real) >= sizeof w->path)
        return 0;
    std::strcpy(w->path, real);
    w->len = std::strlen(real);
    return 1;
}

// The native path (external bytes) resolved from the working directory
// into w. 0, or -1 with the last error set.
int kernel_path(const char *path, Walk *w) {
    w->missing = 0;
    const char *from = path[0] == '/' ? "/" : work_dir();
    w->len = std::strlen(from);
    if (w->len == 0 || w->len >= sizeof w->path) {
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
        return -1;
    }
    std::memcpy(w->path, from, w->len + 1);
    size_t end = std::strlen(path);
    while (end > 0 && path[end - 1] == '/')
        end--;
    size_t last = end;
    while (last > 0 && path[last - 1] != '/')
        last--;
    if (last == 0 || !whole_dirs(path, last, w)) {
        for (size_t i = 0; i < last;) {
            size_t j = i;
            while (j < last && path[j] != '/')
                j++;
            if (step(w, path + i, j - i) != 0)
                return toolong();
            i = j + 1;
        }
    }
    return final_step(w, path + last, end - last) == 0 ? 0 : toolong();
}

} // namespace

int shell_path(const char *path, char *out, size_t size) {
    if (path == nullptr || path[0] == '\0') {
        plat_setlasterror(PLAT_ERR_INVALID_NAME);
        return -1;
    }
    int fault = name_fault(path);
    if (fault != 0)
        return fault;
    char ext[NATIVE_PATH_SIZE];
    int n = enc_from_core(path, std::strlen(path), ext, sizeof ext, 0);
    if (n < 0)
        return toolong();
    static Walk w; // a native path's room, off the stack
    if (kernel_path(ext, &w) != 0)
        return -1;
    // A link may lead into a directory whose name holds a backslash.
    char core[NATIVE_PATH_SIZE];
    n = enc_to_core(w.path, w.len, core, sizeof core);
    if (n < 0)
        return toolong();
    for (int i = 0; i < n; i += islead((unsigned char)core[i]) && i + 1 < n ? 2 : 1)
        if (core[i] == '\\')
            return PLAT_NATIVE_BACKSLASH;
    memo_forget();
    dir_recheck();
    return dos_path(w.path, out, size);
}
