// What the directory cache learns from the backend's own work on paths:
// a name looked up in a native directory, an entry the backend made or
// removed by its whole path. Linux matches names exactly, the core expects
// Windows' matching: a name is looked for exactly first, then among the
// names of its directory, which the directory cache (dircache.cpp) reads
// once and keeps true across the run's own changes.
#include "platform/posix/dircache.h"
#include "platform/posix/encoding.h"
#include "platform/posix/native.h"
#include "platform/common/sortkey.h"

#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

int lookup_name(const char *dir, const char *name, char *out, size_t size) {
    Dir *d = dir_get(dir);
    if (d == nullptr)
        return -1;
    int index;
    int r = dir_lookup(d, name, &index, 0);
    if (r <= 0)
        return r;
    const char *found = dir_name(d, index);
    if (std::strlen(found) >= size) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::strcpy(out, found);
    return 1;
}

// Splits a native path into its directory ("/" at the top) and its name;
// the name is empty when there is none. -1 when the directory part does not
// fit.
static int split_native(const char *native, char *dir, size_t size, const char **name) {
    const char *slash = std::strrchr(native, '/');
    if (slash == nullptr)
        return -1;
    size_t len = slash == native ? 1 : (size_t)(slash - native);
    if (len >= size)
        return -1;
    std::memcpy(dir, native, len);
    dir[len] = '\0';
    *name = slash + 1;
    return 0;
}

void lookup_added_path(const char *native, int isdir) {
    char dir[NATIVE_PATH_SIZE];
    const char *name;
    if (split_native(native, dir, sizeof dir, &name) == 0 && *name)
        if (Dir *d = dir_cached(dir))
            dir_added(d, name, isdir);
}

void lookup_removed_path(const char *native, int isdir) {
    char dir[NATIVE_PATH_SIZE];
    const char *name;
    if (split_native(native, dir, sizeof dir, &name) == 0 && *name)
        if (Dir *d = dir_cached(dir))
            dir_removed(d, name, isdir);
}

void lookup_made_path(const char *native) {
    char dir[NATIVE_PATH_SIZE];
    const char *name;
    if (split_native(native, dir, sizeof dir, &name) == 0 && *name) {
        if (Dir *d = dir_cached(dir))
            dir_made(d, name);
        else
            dir_forget_below(native);
    }
}

unsigned long lookup_scans(void) { return dir_reads(); }

void lookup_forget(void) { dir_forget_below("/"); }

void at_added(const At *at, int isdir) {
    if (at->dir != nullptr)
        dir_added(at->dir, at_name(at), isdir);
    else
        lookup_added_path(at->native, isdir);
}

void at_removed(const At *at, int isdir) {
    if (at->dir != nullptr)
        dir_removed(at->dir, at_name(at), isdir);
    else
        lookup_removed_path(at->native, isdir);
}

// The directory that path names, opened; null with the last error set.
Dir *dir_of_path(const char *path) {
    At at;
    if (resolve_at(path, 0, &at) != 0)
        return nullptr;
    if (at.nodir || (at.looked && at.index < 0)) {
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
        return nullptr;
    }
    Dir *d = dir_get(at.native);
    if (d == nullptr)
    {
        if (errno == ENOENT || errno == ENOTDIR)
            set_missing_error(at.native);
        else
            set_errno_error(errno);
    }
    return d;
}

