// Directory listings. The system is asked for every entry ("dir\*") and the
// pattern is matched here with the shared matcher (Wine's own matching
// differs from Windows': "*." finds everything, "a??" nothing), then the
// entries are sorted with the shared key, so that this build and the posix
// one walk a tree in one order. Attributes, sizes and times are the
// system's own.
#include "platform/win32/native.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

#include "platform/common/codec.h"
#include "platform/common/sortkey.h"
#include "platform/common/wildcard.h"

namespace {

// Names as the core sees them: a name of 255 UTF-16 units takes at most
// four bytes a unit.
enum { CORE_NAME_SIZE = 4 * 256 + 1 };

struct Item {
    unsigned attrib;
    unsigned long long size;
    unsigned short time, date;
    PlatFileTime mtime;
    std::string name;  // code page 932, whole
    std::string key;   // folded sort key
    std::string exact; // unfolded, the tie-break
};

int isdots(const wchar_t *n) { return n[0] == L'.' && (n[1] == 0 || (n[1] == L'.' && n[2] == 0)); }

int passes_mask(unsigned attrib, unsigned mask) {
    if (mask & PLAT_ATTR_NOMARKS) // the attribute word is read anyway: no cost to spare
        mask |= PLAT_ATTR_HIDDEN | PLAT_ATTR_SYSTEM;
    unsigned special = attrib & (PLAT_ATTR_HIDDEN | PLAT_ATTR_SYSTEM | PLAT_ATTR_DIRECTORY);
    return special == 0 || (special & mask) != 0;
}

// DOS words of the last write in local time, as the system converts them;
// DOS dates run from 1980 to 2107, and a time outside them is pinned to the
// nearest end.
void dos_time(const FILETIME *ft, unsigned short *date, unsigned short *time) {
    FILETIME local;
    WORD d, t;
    SYSTEMTIME lt;
    // Wine converts a year past 2107 into the year field's low bits (2108
    // reads as 1980): the range is checked here first.
    int inrange = FileTimeToLocalFileTime(ft, &local) && FileTimeToSystemTime(&local, &lt) &&
                  lt.wYear >= 1980 && lt.wYear <= 2107;
    if (inrange && FileTimeToDosDateTime(&local, &d, &t)) {
        *date = d;
        *time = t;
        return;
    }
    SYSTEMTIME st;
    if (FileTimeToSystemTime(ft, &st) && st.wYear > 2000) {
        *date = (unsigned short)((127 << 9) | (12 << 5) | 31);
        *time = (unsigned short)((23 << 11) | (59 << 5) | 29);
    } else {
        *date = (0 << 9) | (1 << 5) | 1;
        *time = 0;
    }
}

// 100-nanosecond ticks since 1601 as seconds and nanoseconds since 1970.
PlatFileTime unix_time(const FILETIME *ft) {
    const long long EPOCH = 116444736000000000LL; // 1970-01-01 in ticks
    long long t = (long long)(((unsigned long long)ft->dwHighDateTime << 32) | ft->dwLowDateTime);
    long long d = t - EPOCH;
    long long sec = d / 10000000, rem = d % 10000000;
    if (rem < 0) {
        sec--;
        rem += 10000000;
    }
    return PlatFileTime{sec, (long)(rem * 100)};
}

int make_item(const WIN32_FIND_DATAW *fd, unsigned mask, Item *it) {
    char core[CORE_NAME_SIZE], key[SORTKEY_SIZE];
    it->attrib = core_attrib(fd->dwFileAttributes);
    if (!passes_mask(it->attrib, mask) ||
        wide_to_core(fd->cFileName, std::wcslen(fd->cFileName), core, sizeof core) < 0)
        return -1;
    it->size = it->attrib & PLAT_ATTR_DIRECTORY
                   ? 0
                   : ((unsigned long long)fd->nFileSizeHigh << 32) | fd->nFileSizeLow;
    it->mtime = unix_time(&fd->ftLastWriteTime);
    dos_time(&fd->ftLastWriteTime, &it->date, &it->time);
    it->name = core;
    it->key = wide_sortkey(fd->cFileName, 1, key, sizeof key) >= 0 ? key : core;
    it->exact = wide_sortkey(fd->cFileName, 0, key, sizeof key) >= 0 ? key : core;
    return 0;
}

int item_less(const Item &a, const Item &b) {
    int c = a.key.compare(b.key);
    return c != 0 ? c < 0 : a.exact < b.exact;
}

} // namespace

struct PlatFind {
    std::vector<Item> items;
    size_t next;
    std::string pattern; // for plat_findagain
    unsigned mask;
};

namespace {

void fill_entry(const Item &it, PlatEntry *e) {
    e->attrib = it.attrib;
    e->size = it.size;
    e->time = it.time;
    e->date = it.date;
    e->mtime = it.mtime;
    e->id = PlatFileId{0, 0}; // a listing here gives no identities
    size_t n = it.name.size();
    e->toolong = n >= sizeof e->name;
    if (e->toolong) { // cut at a character boundary, escape pairs whole
        const char *s = it.name.c_str();
        size_t i = 0;
        while (i < n) {
            size_t w = codec_charlen(s + i, n - i);
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
    const char *rest = wild_split(pattern, dir, dsize);
    if (rest == nullptr)
        return -1;
    if (std::strlen(rest) >= fsize)
        return -1;
    std::strcpy(final, rest);
    return 0;
}

// The directory must exist: a missing one is error 3, whatever the system
// says of its last component. A directory whose name holds a character no
// name can hold (a quote left in a list line) cannot exist, and is missing
// as any other, as such a final name is.
int open_dir(const char *dir, wchar_t *wdir, size_t cap) {
    if (wpath(dir[0] != '\0' ? dir : ".", wdir, cap) < 0)
        return -1;
    DWORD a = GetFileAttributesW(wdir);
    if (a == INVALID_FILE_ATTRIBUTES) {
        DWORD err = GetLastError();
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND || err == ERROR_INVALID_NAME)
            plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
        else
            set_sys_error();
        return -1;
    }
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
        return -1;
    }
    return 0;
}

// dir + "\" + name into out.
int wjoin(const wchar_t *dir, const wchar_t *name, wchar_t *out, size_t cap) {
    size_t dl = std::wcslen(dir), nl = std::wcslen(name);
    int sep = dl > 0 && dir[dl - 1] != L'\\' && dir[dl - 1] != L'/' && dir[dl - 1] != L':';
    if (dl + sep + nl >= cap) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    std::wmemcpy(out, dir, dl);
    if (sep)
        out[dl] = L'\\';
    std::wmemcpy(out + dl + sep, name, nl + 1);
    return 0;
}

HANDLE find_first(const wchar_t *target, WIN32_FIND_DATAW *fd) {
    return FindFirstFileExW(target, FindExInfoBasic, fd, FindExSearchNameMatch, nullptr,
                            FIND_FIRST_EX_LARGE_FETCH);
}

// A name without wildcards is one question to the system, which finds it
// ignoring case.
int find_one(PlatFind *f, const wchar_t *wdir, const char *final, unsigned mask) {
    wchar_t wname[WPATH_SIZE], target[WPATH_SIZE];
    if (core_to_wide(final, std::strlen(final), wname, WPATH_SIZE, 0) < 0)
        return 0;
    if (wjoin(wdir, wname, target, WPATH_SIZE) != 0)
        return -1;
    WIN32_FIND_DATAW fd;
    HANDLE h = find_first(target, &fd);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD err = GetLastError();
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_NO_MORE_FILES ||
            err == ERROR_PATH_NOT_FOUND || err == ERROR_INVALID_NAME)
            return 0;
        set_sys_error();
        return -1;
    }
    FindClose(h);
    Item it;
    if (!isdots(fd.cFileName) && make_item(&fd, mask, &it) == 0)
        f->items.push_back(it);
    return 0;
}

// 1 when the full path of the directory is a drive's root, where a listing
// has no "." and "..".
int at_root(const wchar_t *wdir) {
    wchar_t full[WPATH_SIZE];
    int n = wfull(wdir, full, WPATH_SIZE);
    const wchar_t *p = full;
    if (n >= 4 && std::wcsncmp(p, L"\\\\?\\", 4) == 0)
        p += 4, n -= 4;
    return n == 3 && p[1] == L':' && p[2] == L'\\';
}

// Reads the whole directory, keeping what matches; "." and ".." go first.
// A directory that cannot be read to its end fails as a whole.
int scan_matches(PlatFind *f, const wchar_t *wdir, const WildPattern *p, unsigned mask) {
    wchar_t target[WPATH_SIZE];
    if (wjoin(wdir, L"*", target, WPATH_SIZE) != 0)
        return -1;
    WIN32_FIND_DATAW fd;
    HANDLE h = find_first(target, &fd);
    if (h == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_NO_MORE_FILES)
            return 0;
        set_sys_error();
        return -1;
    }
    std::vector<Item> dots;
    int root = -1;
    do {
        Item it;
        char core[CORE_NAME_SIZE];
        int dot = isdots(fd.cFileName);
        if (dot && root < 0)
            root = at_root(wdir);
        if ((dot && root) ||
            wide_to_core(fd.cFileName, std::wcslen(fd.cFileName), core, sizeof core) < 0 ||
            !wild_match(p, core) || make_item(&fd, mask, &it) != 0)
            continue;
        (dot ? dots : f->items).push_back(it);
    } while (FindNextFileW(h, &fd));
    DWORD err = GetLastError();
    FindClose(h);
    if (err != ERROR_NO_MORE_FILES) {
        f->items.clear();
        plat_setlasterror(err);
        return -1;
    }
    std::sort(f->items.begin(), f->items.end(), item_less);
    std::sort(dots.begin(), dots.end(), [](const Item &a, const Item &b) { return a.name < b.name; });
    f->items.insert(f->items.begin(), dots.begin(), dots.end());
    return 0;
}

int list(PlatFind *f, const char *pattern, unsigned mask) {
    char dir[PLAT_NATIVE_SIZE], final[CORE_NAME_SIZE];
    wchar_t wdir[WPATH_SIZE];
    static WildPattern p;
    if (split_pattern(pattern, dir, sizeof dir, final, sizeof final) != 0) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    if (open_dir(dir, wdir, WPATH_SIZE) != 0)
        return -1;
    if (final[0] == '\0')
        return 0;
    size_t n = std::strlen(final);
    if (!wild_has(final) && final[n - 1] != '.')
        return find_one(f, wdir, final, mask);
    if (wild_compile(final, &p) != 0) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    return scan_matches(f, wdir, &p, mask);
}

// Lists f's pattern now, with its first entry in *entry. 0, or -1 with
// the last error set.
int relist(PlatFind *f, PlatEntry *entry) {
    f->items.clear();
    f->next = 0;
    if (list(f, f->pattern.c_str(), f->mask) != 0)
        return -1;
    if (f->items.empty()) {
        plat_setlasterror(PLAT_ERR_FILE_NOT_FOUND);
        return -1;
    }
    fill_entry(f->items[f->next++], entry);
    return 0;
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
    f->pattern = pattern;
    f->mask = mask;
    if (relist(f, entry) != 0) {
        delete f;
        return nullptr;
    }
    return f;
}

int plat_findagain(PlatFind *find, PlatEntry *entry) {
    // Windows keeps no listing to hand out again: read the directory anew,
    // which is what a new listing would show.
    return find != nullptr && relist(find, entry) == 0;
}

int plat_findnext(PlatFind *find, PlatEntry *entry) {
    if (find == nullptr || find->next >= find->items.size())
        return 0;
    fill_entry(find->items[find->next++], entry);
    return 1;
}

void plat_findclose(PlatFind *find) { delete find; }

// Windows holds no name with "*" or "?": such a name is never there, and
// anything else is one question to the system.
int plat_findone(const char *path, unsigned mask, PlatEntry *entry) {
    const char *final = path;
    for (const char *s = path; *s != '\0'; s++) {
        if (codec_islead((unsigned char)*s) && s[1] != '\0')
            s++;
        else if (*s == '\\' || *s == '/' || *s == ':')
            final = s + 1;
    }
    if (wild_has(final)) {
        plat_setlasterror(PLAT_ERR_FILE_NOT_FOUND);
        return 0;
    }
    PlatFind *f = plat_findfirst(path, mask, entry);
    if (f != nullptr) {
        plat_findclose(f);
        return 1;
    }
    unsigned code = plat_lasterror();
    return code == PLAT_ERR_FILE_NOT_FOUND || code == PLAT_ERR_PATH_NOT_FOUND ||
                   code == PLAT_ERR_NO_MORE_FILES
               ? 0
               : -1;
}
