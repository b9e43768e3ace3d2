// Drive letters on Linux: the map from letters to directories, and the
// current drive and directory taken from the working directory, as the
// resolution of paths (paths.cpp) and the services of drives (drives.cpp)
// read them.
#include "platform/posix/encoding.h"
#include "platform/posix/native.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Drive {
    int mapped;
    size_t len;
    char dir[NATIVE_PATH_SIZE]; // no trailing "/", except the root itself
};

Drive drives[26];
int loaded;
int curletter;               // 'A'..'Z', 0 when the working directory is on no drive
char curdir[PLAT_PATH_SIZE]; // below the current drive's root, DOS form
int curdir_toolong;          // the working directory has no DOS form that fits
char workdir[NATIVE_PATH_SIZE]; // the working directory itself, "" when unknown

// A full DOS path is at most 259 characters; its components cannot outnumber
// the bytes of the widest text we resolve.
enum { MAX_COMPS = NATIVE_PATH_SIZE / 2 + 1, FULL_MAX = PLAT_PATH_SIZE - 2 };

int isletter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
int upper(char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }

// ---- the drive map ----------------------------------------------------------

// Stores a drive's directory in its resolved form when it exists, so that
// the working directory (which getcwd gives resolved) is found on it.
void map_drive(int letter, const char *dir) {
    Drive *d = &drives[upper((char)letter) - 'A'];
    char real[PATH_MAX];
    const char *use = realpath(dir, real) != nullptr ? real : dir;
    size_t len = std::strlen(use);
    while (len > 1 && use[len - 1] == '/')
        len--;
    if (len >= sizeof d->dir)
        return;
    std::memcpy(d->dir, use, len);
    d->dir[len] = '\0';
    d->len = len;
    d->mapped = 1;
}

// Reads one "L=/dir" entry of MOX32_DRIVES. An entry that is malformed or
// names a relative directory is ignored; a later entry for the same letter
// replaces an earlier one.
void parse_entry(const char *s, size_t n) {
    char dir[NATIVE_PATH_SIZE];
    while (n > 0 && (*s == ' ' || *s == '\t'))
        s++, n--;
    if (n < 3 || !isletter(s[0]))
        return;
    size_t i = 1;
    while (i < n && (s[i] == ' ' || s[i] == '\t'))
        i++;
    if (i >= n || s[i] != '=')
        return;
    i++;
    while (i < n && (s[i] == ' ' || s[i] == '\t'))
        i++;
    if (i >= n || s[i] != '/' || n - i >= sizeof dir)
        return;
    std::memcpy(dir, s + i, n - i);
    dir[n - i] = '\0';
    map_drive(s[0], dir);
}

void parse_map(const char *maptext) {
    const char *s = maptext;
    while (*s != '\0') {
        const char *end = std::strchr(s, ';');
        size_t n = end != nullptr ? (size_t)(end - s) : std::strlen(s);
        parse_entry(s, n);
        s += n;
        if (*s == ';')
            s++;
    }
}

void default_map(void) {
    const char *home = std::getenv("HOME");
    struct stat st;
    char real[PATH_MAX];
    if (home != nullptr && home[0] == '/' && stat(home, &st) == 0 && S_ISDIR(st.st_mode) &&
        realpath(home, real) != nullptr && std::strcmp(real, "/") != 0)
        map_drive('C', real);
    map_drive('Z', "/");
}

// The drive whose directory is the longest prefix of `native` at a component
// boundary (the lowest letter when two share a directory), or -1.
int drive_of(const char *native) {
    int best = -1;
    for (int i = 0; i < 26; i++) {
        const Drive *d = &drives[i];
        if (!d->mapped || (best >= 0 && d->len <= drives[best].len))
            continue;
        if (d->len == 1 && d->dir[0] == '/') {
            if (native[0] == '/')
                best = i;
        } else if (std::strncmp(native, d->dir, d->len) == 0 &&
                   (native[d->len] == '/' || native[d->len] == '\0')) {
            best = i;
        }
    }
    return best;
}

// The native text below a drive's directory, in DOS form; -1 when it does
// not fit.
int dos_rest(const char *rest, char *out, size_t size) {
    while (*rest == '/')
        rest++;
    int n = enc_to_core(rest, std::strlen(rest), out, size);
    if (n < 0)
        return -1;
    for (int i = 0; i < n; i++)
        if (out[i] == '/')
            out[i] = '\\';
    while (n > 0 && out[n - 1] == '\\')
        out[--n] = '\0';
    return n;
}

void load_cwd(void) {
    char *cwd = workdir;
    curletter = 0;
    curdir[0] = '\0';
    curdir_toolong = 0;
    if (getcwd(cwd, sizeof workdir) == nullptr) {
        workdir[0] = '\0';
        return;
    }
    int idx = drive_of(cwd);
    if (idx < 0)
        return;
    curletter = 'A' + idx;
    // "X:\" and the directory must stay below 260 characters.
    int n = dos_rest(cwd + drives[idx].len, curdir, FULL_MAX - 3 + 1);
    if (n < 0) {
        curdir[0] = '\0';
        curdir_toolong = 1;
    }
}

void load(void) {
    std::memset(drives, 0, sizeof drives);
    const char *maptext = std::getenv("MOX32_DRIVES");
    if (maptext != nullptr && maptext[0] != '\0')
        parse_map(maptext);
    else
        default_map();
    load_cwd();
    loaded = 1;
}

void ensure_loaded(void) {
    if (!loaded)
        load();
}

const Drive *drive_letter(int letter) {
    if (!isletter((char)letter))
        return nullptr;
    const Drive *d = &drives[upper((char)letter) - 'A'];
    return d->mapped ? d : nullptr;
}

} // namespace

// ---- the map as the resolution of paths and the services see it ---------------

void drives_ensure(void) { ensure_loaded(); }

void drives_load(void) { load(); }

int native_isroot(const char *native) {
    ensure_loaded();
    for (const Drive &d : drives)
        if (d.mapped && std::strcmp(d.dir, native) == 0)
            return 1;
    return 0;
}

const char *work_dir(void) {
    ensure_loaded();
    return workdir;
}

const char *drive_dir(int letter) {
    ensure_loaded();
    const Drive *d = letter != 0 ? drive_letter(letter) : nullptr;
    return d != nullptr ? d->dir : nullptr;
}

int drive_index(const char *native) {
    ensure_loaded();
    return drive_of(native);
}

int cur_letter(void) {
    ensure_loaded();
    return curletter;
}

const char *cur_dir(int *toolong) {
    ensure_loaded();
    *toolong = curdir_toolong;
    return curdir;
}
