// Directory listings as Win32 gives them: Windows' wildcard rules, the
// attribute mask, "." and ".." first, the rest sorted as Wine sorts them, so
// that a Windows build under Wine and this one walk a tree in one order.
#include "platform/posix/encoding.h"
#include "platform/posix/native.h"
#include "platform/common/wildcard.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

namespace {

// Names as the core sees them: code page 932, up to four bytes for each
// external byte of a name of at most 255.
enum { CORE_NAME_SIZE = 4 * 256 + 1 };

typedef WildPattern Pattern;
int matches(const Pattern *p, const char *name) { return wild_match(p, name); }

struct Item {
    unsigned attrib;
    unsigned long long size;
    unsigned short time, date;
    PlatFileTime mtime;
    std::string name; // code page 932, whole
    std::string key;  // sort key of the external name
    std::string ext;  // external name, the tie-break
};

int islead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// ---- entries --------------------------------------------------------------------

// DOS words of a time in local time; DOS dates run from 1980 to 2107, and a
// time outside them is pinned to the nearest end.
void dos_time(long long t, unsigned short *date, unsigned short *time) {
    time_t tt = (time_t)t;
    struct tm tm;
    if (localtime_r(&tt, &tm) == nullptr || tm.tm_year < 80) {
        *date = (0 << 9) | (1 << 5) | 1;
        *time = 0;
        return;
    }
    if (tm.tm_year > 207) {
        *date = (unsigned short)((127 << 9) | (12 << 5) | 31);
        *time = (unsigned short)((23 << 11) | (59 << 5) | 29);
        return;
    }
    *date = (unsigned short)(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    *time = (unsigned short)((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
}

int passes_mask(unsigned attrib, unsigned mask) {
    unsigned special = attrib & (PLAT_ATTR_HIDDEN | PLAT_ATTR_SYSTEM | PLAT_ATTR_DIRECTORY);
    return special == 0 || (special & mask) != 0;
}

int join(const char *dir, const char *name, char *out, size_t size) {
    size_t dl = std::strlen(dir), nl = std::strlen(name);
    int slash = !(dl == 1 && dir[0] == '/');
    if (dl + slash + nl >= size)
        return -1;
    std::memcpy(out, dir, dl);
    if (slash)
        out[dl] = '/';
    std::memcpy(out + dl + slash, name, nl + 1);
    return 0;
}

// A name holding a backslash of its own cannot be spelled in a DOS path: a
// path built from it would name another file.
int has_own_backslash(const char *core) {
    const unsigned char *s = (const unsigned char *)core;
    for (; *s != '\0'; s++) {
        if (islead(*s) && s[1] != '\0')
            s++;
        else if (*s == '\\')
            return 1;
    }
    return 0;
}

// The system's own trees are never listed: walking them would read kernel
// state as files.
int hidden_system_tree(const char *dir, const char *name) {
    return std::strcmp(dir, "/") == 0 &&
           (std::strcmp(name, "proc") == 0 || std::strcmp(name, "sys") == 0 ||
            std::strcmp(name, "dev") == 0);
}

// 1 when the entry itself cannot be looked at: its directory may be read
// but not searched. Leaving such entries out would show the directory
// emptier than it is, so the whole listing fails instead.
int unsearchable(const char *native) {
    struct stat st;
    return errno == EACCES && lstat(native, &st) != 0 && errno == EACCES;
}

enum { ITEM_UNREADABLE = -2 };

// Fills an item for the native path; 0, -1 when it is to be left out (a
// dangling link, a link loop, a device or pipe, gone meanwhile, or filtered
// by the mask), or ITEM_UNREADABLE with errno set.
int make_item(const char *native, const char *ext, const char *core, unsigned mask, Item *it) {
    NativeInfo info;
    if (native_info(native, &info) != 0)
        return unsearchable(native) ? ITEM_UNREADABLE : -1;
    if (info.special || !passes_mask(info.attrib, mask))
        return -1;
    it->attrib = info.attrib;
    it->size = info.size;
    it->mtime = info.mtime;
    dos_time(info.mtime.sec, &it->date, &it->time);
    it->name = core;
    it->ext = ext;
    char key[NAME_KEY_SIZE];
    it->key = name_fold(ext, key, sizeof key) >= 0 ? key : ext;
    return 0;
}

} // namespace

struct PlatFind {
    std::vector<Item> items;
    size_t next;
};

namespace {

int item_less(const Item &a, const Item &b) {
    int c = a.key.compare(b.key);
    return c != 0 ? c < 0 : a.ext < b.ext;
}

void fill_entry(const Item &it, PlatEntry *e) {
    e->attrib = it.attrib;
    e->size = it.size;
    e->time = it.time;
    e->date = it.date;
    e->mtime = it.mtime;
    size_t n = it.name.size();
    e->toolong = n >= sizeof e->name;
    if (e->toolong) { // cut at a character boundary, escape pairs whole
        const char *s = it.name.c_str();
        size_t i = 0;
        while (i < n) {
            size_t w = enc_charlen(s + i, n - i);
            if (i + w >= sizeof e->name)
                break;
            i += w;
        }
        n = i;
    }
    std::memcpy(e->name, it.name.c_str(), n);
    e->name[n] = '\0';
}

// Splits the pattern into its directory and final component (code page
// 932). The directory is left empty for a bare name.
int split_pattern(const char *pattern, char *dir, size_t dsize, char *final, size_t fsize) {
    const unsigned char *s = (const unsigned char *)pattern;
    const unsigned char *last = nullptr;
    for (const unsigned char *p = s; *p != '\0'; p++) {
        if (islead(*p) && p[1] != '\0')
            p++;
        else if (*p == '\\' || *p == '/')
            last = p;
    }
    size_t cut = last != nullptr ? (size_t)(last - s) + 1 : 0;
    if (last == nullptr && pattern[0] != '\0' && pattern[1] == ':')
        cut = 2;
    if (cut >= dsize)
        return -1;
    std::memcpy(dir, pattern, cut);
    dir[cut] = '\0';
    // "C:\x" keeps the root's separator; "C:\dir\x" loses the last one.
    if (last != nullptr && cut > 1 && !(cut == 3 && dir[1] == ':'))
        dir[cut - 1] = '\0';
    const char *rest = pattern + cut;
    if (pattern[0] == '/') // a native path: its name is external text
        return enc_to_core(rest, std::strlen(rest), final, fsize) >= 0 ? 0 : -1;
    if (std::strlen(rest) >= fsize)
        return -1;
    std::strcpy(final, rest);
    return 0;
}

void set_dir_error(int err) {
    if (err == ENOENT || err == ENOTDIR)
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
    else
        set_errno_error(err);
}

// "." and ".." of a directory that is not a drive root, when they match.
void add_dots(PlatFind *f, const char *native, const Pattern *p, unsigned mask) {
    if (native_isroot(native))
        return;
    char parent[NATIVE_PATH_SIZE];
    std::strcpy(parent, native);
    char *slash = std::strrchr(parent, '/');
    if (slash != nullptr)
        slash[slash == parent ? 1 : 0] = '\0';
    const char *names[2] = {".", ".."};
    const char *paths[2] = {native, parent};
    std::vector<Item> dots;
    for (int i = 0; i < 2; i++) {
        Item it;
        if (matches(p, names[i]) && make_item(paths[i], names[i], names[i], mask, &it) == 0)
            dots.push_back(it);
    }
    f->items.insert(f->items.begin(), dots.begin(), dots.end());
}

// Adds the entry `name` of the native directory when it matches and may be
// listed. 0, or ITEM_UNREADABLE when it cannot be looked at.
int add_match(PlatFind *f, const char *native, const char *name, const Pattern *p,
              unsigned mask) {
    char core[CORE_NAME_SIZE], path[NATIVE_PATH_SIZE];
    if (hidden_system_tree(native, name) ||
        enc_to_core(name, std::strlen(name), core, sizeof core) < 0 || !matches(p, core) ||
        join(native, name, path, sizeof path) != 0)
        return 0;
    int bad = has_own_backslash(core);
    if (bad && (mask & PLAT_ATTR_BADNAME) == 0)
        return 0;
    Item it;
    int got = make_item(path, name, core, mask, &it);
    if (got == 0) {
        if (bad)
            it.attrib |= PLAT_ATTR_BADNAME;
        f->items.push_back(it);
    }
    return got == ITEM_UNREADABLE ? ITEM_UNREADABLE : 0;
}

// Reads the whole directory once, keeping what matches and handing every
// name to the lookup cache on the way. A directory that cannot be read to
// its end fails as a whole: part of it is no listing.
int scan_matches(PlatFind *f, const char *native, const Pattern *p, unsigned mask) {
    struct stat dirst;
    DIR *d = opendir(native);
    if (d == nullptr || fstat(dirfd(d), &dirst) != 0) {
        set_dir_error(errno);
        if (d != nullptr)
            closedir(d);
        return -1;
    }
    LookupFill *fill = lookup_fill_begin(native);
    char key[NAME_KEY_SIZE];
    int err = 0;
    for (;;) {
        errno = 0;
        struct dirent *e = readdir(d);
        if (e == nullptr) {
            err = errno;
            break;
        }
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        if (name_fold(e->d_name, key, sizeof key) >= 0)
            lookup_fill_add(fill, e->d_name, key);
        if (add_match(f, native, e->d_name, p, mask) == ITEM_UNREADABLE) {
            err = EACCES;
            break;
        }
    }
    closedir(d);
    if (err != 0) {
        lookup_fill_end(fill, nullptr);
        f->items.clear();
        set_errno_error(err);
        return -1;
    }
    lookup_fill_end(fill, &dirst);
    std::sort(f->items.begin(), f->items.end(), item_less);
    add_dots(f, native, p, mask);
    return 0;
}

// A name without wildcards is one lookup, not a read of the directory.
int find_one(PlatFind *f, const char *native, const char *final, unsigned mask) {
    char ext[NATIVE_PATH_SIZE], found[NATIVE_PATH_SIZE], path[NATIVE_PATH_SIZE];
    char core[CORE_NAME_SIZE];
    if (enc_from_core(final, std::strlen(final), ext, sizeof ext, 0) < 0)
        return 0;
    int rc = lookup_name(native, ext, found, sizeof found);
    if (rc < 0) {
        set_dir_error(errno);
        return -1;
    }
    Item it;
    if (rc != 1 || hidden_system_tree(native, found) ||
        enc_to_core(found, std::strlen(found), core, sizeof core) < 0 ||
        join(native, found, path, sizeof path) != 0)
        return 0;
    int got = make_item(path, found, core, mask, &it);
    if (got == ITEM_UNREADABLE) {
        set_errno_error(EACCES);
        return -1;
    }
    if (got == 0)
        f->items.push_back(it);
    return 0;
}

int dir_exists(const char *native) {
    struct stat st;
    if (stat(native, &st) != 0) {
        set_dir_error(errno);
        return 0;
    }
    if (!S_ISDIR(st.st_mode)) {
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
        return 0;
    }
    return 1;
}

int list(PlatFind *f, const char *pattern, unsigned mask) {
    char dir[NATIVE_PATH_SIZE], final[CORE_NAME_SIZE];
    char native[NATIVE_PATH_SIZE];
    static Pattern p;
    if (split_pattern(pattern, dir, sizeof dir, final, sizeof final) != 0) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    if (native_path(dir[0] != '\0' ? dir : ".", native, sizeof native) < 0 || !dir_exists(native))
        return -1;
    if (final[0] == '\0')
        return 0;
    size_t n = std::strlen(final);
    if (!wild_has(final) && final[n - 1] != '.')
        return find_one(f, native, final, mask);
    if (wild_compile(final, &p) != 0) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    return scan_matches(f, native, &p, mask);
}

} // namespace

PlatFind *plat_findfirst(const char *pattern, unsigned mask, PlatEntry *entry) {
    if (pattern == nullptr) {
        plat_setlasterror(PLAT_ERR_INVALID_PARAMETER);
        return nullptr;
    }
    PlatFind *f = new (std::nothrow) PlatFind;
    if (f == nullptr) {
        plat_setlasterror(PLAT_ERR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    f->next = 0;
    if (list(f, pattern, mask) != 0) {
        delete f;
        return nullptr;
    }
    if (f->items.empty()) {
        delete f;
        plat_setlasterror(PLAT_ERR_FILE_NOT_FOUND);
        return nullptr;
    }
    fill_entry(f->items[f->next++], entry);
    return f;
}

int plat_findnext(PlatFind *find, PlatEntry *entry) {
    if (find == nullptr || find->next >= find->items.size())
        return 0;
    fill_entry(find->items[find->next++], entry);
    return 1;
}

void plat_findclose(PlatFind *find) { delete find; }
