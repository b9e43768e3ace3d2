// Case-insensitive name lookup. Linux matches names exactly, the core expects
// Windows' matching; probing one name after another in a large directory
// must not read the directory once per probe, so what one read learnt is
// kept per directory, keyed on its native path and checked against the
// directory's identity and change times before it is trusted again.
#include "platform/posix/encoding.h"
#include "platform/posix/native.h"
#include "platform/common/sortkey.h"

#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <map>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

namespace {

// The stored spellings of the names that fold to one key, smallest first:
// that is the first of them in listing order, which sorts equal keys by the
// exact name.
typedef std::vector<std::string> Spellings;

struct DirNames {
    std::unordered_map<std::string, Spellings> byfold;
    dev_t dev;
    ino_t ino;
    struct timespec mtime, ctime;
    unsigned long used; // recency, for eviction
};

// Enough for the directories a run works in at once (a source, a
// destination, their parents); a walk over a large tree must not keep every
// directory it ever read.
const size_t MAX_DIRS = 256;

std::map<std::string, DirNames> cache;
unsigned long scans;
unsigned long ticks;

// One UTF-8 character at s (n bytes left): its length, 0 when the bytes do
// not form one (overlong forms and surrogates included).
size_t utf8_char(const unsigned char *s, size_t n, unsigned long *cp) {
    unsigned char c = s[0];
    size_t len;
    unsigned long v, min;
    if (c < 0x80) {
        *cp = c;
        return 1;
    }
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2, v = c & 0x1F, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3, v = c & 0x0F, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4, v = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (len > n)
        return 0;
    for (size_t i = 1; i < len; i++) {
        if ((s[i] & 0xC0) != 0x80)
            return 0;
        v = v << 6 | (s[i] & 0x3F);
    }
    if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))
        return 0;
    *cp = v;
    return len;
}

// One character of the locale's encoding, for external encodings other than
// UTF-8.
size_t locale_char(const unsigned char *s, size_t n, unsigned long *cp, std::mbstate_t *st) {
    wchar_t wc;
    size_t r = std::mbrtowc(&wc, (const char *)s, n, st);
    if (r == (size_t)-1 || r == (size_t)-2 || r == 0) {
        *st = std::mbstate_t();
        return 0;
    }
    *cp = (unsigned long)wc;
    return r;
}

int stamp_same(const DirNames &d, const struct stat *st) {
    return d.dev == st->st_dev && d.ino == st->st_ino && d.mtime.tv_sec == st->st_mtim.tv_sec &&
           d.mtime.tv_nsec == st->st_mtim.tv_nsec && d.ctime.tv_sec == st->st_ctim.tv_sec &&
           d.ctime.tv_nsec == st->st_ctim.tv_nsec;
}

void set_stamp(DirNames *d, const struct stat *st) {
    d->dev = st->st_dev;
    d->ino = st->st_ino;
    d->mtime = st->st_mtim;
    d->ctime = st->st_ctim;
}

void add_spelling(DirNames *d, const char *name, const char *key) {
    Spellings &s = d->byfold[key];
    auto it = s.begin();
    while (it != s.end() && std::strcmp(it->c_str(), name) < 0)
        ++it;
    if (it == s.end() || *it != name)
        s.insert(it, name);
}

void evict_oldest(void) {
    auto oldest = cache.end();
    for (auto it = cache.begin(); it != cache.end(); ++it)
        if (oldest == cache.end() || it->second.used < oldest->second.used)
            oldest = it;
    if (oldest != cache.end())
        cache.erase(oldest);
}

// Forgets `path` and everything cached below it: a directory that was
// removed or renamed takes its subtree's names with it.
void forget_tree(const std::string &path) {
    cache.erase(path);
    std::string below = path == "/" ? path : path + "/";
    auto it = cache.lower_bound(below);
    while (it != cache.end() && it->first.compare(0, below.size(), below) == 0)
        it = cache.erase(it);
}

DirNames *install(const char *dir, DirNames *fresh) {
    auto it = cache.find(dir);
    if (it == cache.end() && cache.size() >= MAX_DIRS)
        evict_oldest();
    DirNames &slot = cache[dir];
    slot = std::move(*fresh);
    slot.used = ++ticks;
    return &slot;
}

DirNames *scan(const char *dir, const struct stat *st) {
    DIR *d = opendir(dir);
    if (d == nullptr)
        return nullptr;
    scans++;
    DirNames fresh;
    set_stamp(&fresh, st);
    char key[NAME_KEY_SIZE];
    struct dirent *e;
    while ((e = readdir(d)) != nullptr) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        if (name_fold(e->d_name, key, sizeof key) >= 0)
            add_spelling(&fresh, e->d_name, key);
    }
    closedir(d);
    return install(dir, &fresh);
}

DirNames *names_of(const char *dir) {
    struct stat st;
    if (stat(dir, &st) != 0)
        return nullptr;
    auto it = cache.find(dir);
    if (it != cache.end() && stamp_same(it->second, &st)) {
        it->second.used = ++ticks;
        return &it->second;
    }
    return scan(dir, &st);
}

int join(const char *dir, const char *name, char *out, size_t size) {
    const char *sep = std::strcmp(dir, "/") == 0 ? "" : "/";
    size_t need = std::strlen(dir) + std::strlen(sep) + std::strlen(name);
    if (need >= size)
        return -1;
    std::strcpy(out, dir);
    std::strcat(out, sep);
    std::strcat(out, name);
    return 0;
}

std::string child(const char *dir, const char *name) {
    std::string path = dir;
    if (path != "/")
        path += "/";
    return path + name;
}

} // namespace

struct LookupFill {
    std::string dir;
    DirNames names;
};

int name_fold(const char *name, char *key, size_t cap) {
    const unsigned char *s = (const unsigned char *)name;
    size_t n = std::strlen(name), at = 0;
    int utf8 = enc_isutf8();
    std::mbstate_t st = std::mbstate_t();
    while (n > 0) {
        unsigned long cp;
        size_t len = utf8 ? utf8_char(s, n, &cp) : locale_char(s, n, &cp, &st);
        unsigned long v = len > 0 ? sortkey_fold(cp) : SORTKEY_RAW + s[0];
        if (len == 0)
            len = 1;
        if (sortkey_put(v, key, &at, cap) != 0)
            return -1;
        s += len;
        n -= len;
    }
    key[at] = '\0';
    return (int)at;
}

int lookup_name(const char *dir, const char *name, char *out, size_t size) {
    char path[NATIVE_PATH_SIZE];
    struct stat st;
    if (join(dir, name, path, sizeof path) != 0) {
        errno = ENAMETOOLONG;
        return -1;
    }
    if (lstat(path, &st) == 0)
        return std::snprintf(out, size, "%s", name) < (int)size ? 1 : -1;
    DirNames *d = names_of(dir);
    if (d == nullptr)
        return -1;
    char key[NAME_KEY_SIZE];
    if (name_fold(name, key, sizeof key) < 0)
        return 0;
    auto it = d->byfold.find(key);
    if (it == d->byfold.end() || it->second.empty())
        return 0;
    if (it->second.front().size() >= size) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::strcpy(out, it->second.front().c_str());
    return 1;
}

LookupFill *lookup_fill_begin(const char *dir) {
    scans++;
    LookupFill *f = new (std::nothrow) LookupFill;
    if (f != nullptr)
        f->dir = dir;
    return f;
}

void lookup_fill_add(LookupFill *fill, const char *name, const char *key) {
    if (fill != nullptr)
        add_spelling(&fill->names, name, key);
}

void lookup_fill_end(LookupFill *fill, const struct stat *dirst) {
    if (fill == nullptr)
        return;
    if (dirst != nullptr) {
        set_stamp(&fill->names, dirst);
        install(fill->dir.c_str(), &fill->names);
    }
    delete fill;
}

// The backend's own change of `name` in `dir`: forgets what lay below it
// and stamps the directory's cached names as current again. Returns those
// names with the name's folded key, or null when nothing is cached (or the
// cache cannot be kept true, and is dropped).
static DirNames *touched(const char *dir, const char *name, char *key) {
    forget_tree(child(dir, name));
    memo_forget_below(dir);
    auto it = cache.find(dir);
    if (it == cache.end())
        return nullptr;
    struct stat st;
    if (stat(dir, &st) != 0 || name_fold(name, key, NAME_KEY_SIZE) < 0) {
        cache.erase(it);
        return nullptr;
    }
    set_stamp(&it->second, &st);
    return &it->second;
}

void lookup_added(const char *dir, const char *name) {
    char key[NAME_KEY_SIZE];
    if (DirNames *names = touched(dir, name, key))
        add_spelling(names, name, key);
}

void lookup_removed(const char *dir, const char *name) {
    char key[NAME_KEY_SIZE];
    DirNames *names = touched(dir, name, key);
    if (names == nullptr)
        return;
    auto slot = names->byfold.find(key);
    if (slot == names->byfold.end())
        return;
    Spellings &s = slot->second;
    for (auto sp = s.begin(); sp != s.end(); ++sp)
        if (*sp == name) {
            s.erase(sp);
            break;
        }
    if (s.empty())
        names->byfold.erase(slot);
}

unsigned long lookup_scans(void) { return scans; }

void lookup_forget(void) { cache.clear(); }
