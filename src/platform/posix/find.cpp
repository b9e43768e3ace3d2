// Directory listings as Win32 gives them: Windows' wildcard rules, the
// attribute mask, "." and ".." first, the rest sorted as Wine sorts them, so
// that a Windows build under Wine and this one walk a tree in one order.
//
// A listing reads its directory through the directory cache, which keeps
// what it learnt of every entry: the listing itself holds only the order
// of the entries it lists.
#include "platform/posix/dircache.h"
#include "platform/posix/encoding.h"
#include "platform/posix/fold.h"
#include "platform/posix/native.h"
#include "platform/common/codec.h"
#include "platform/common/wildcard.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace {

// Names as the core sees them: code page 932, up to four bytes for each
// external byte of a name of at most 255.
enum { CORE_NAME_SIZE = 4 * 256 + 1 };
// The two entries of a listing that are no names of its directory.
const uint32_t DOT = 0xFFFFFFFEu, DOTDOT = 0xFFFFFFFFu;
const unsigned MARK_BITS = PLAT_ATTR_HIDDEN | PLAT_ATTR_SYSTEM;

// DOS words of a time in local time; DOS dates run from 1980 to 2107, and a
// time outside them is pinned to the nearest end.
void dos_words(long long t, unsigned short *date, unsigned short *time) {
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

void dos_time(long long t, unsigned short *date, unsigned short *time) {
    // Files written together share their second, and localtime_r is among
    // the dearest steps of listing an entry: the last answer is kept (the
    // zone does not change while a run lasts).
    static long long last = -1;
    static unsigned short lastdate, lasttime;
    if (t == last && t >= 0) {
        *date = lastdate;
        *time = lasttime;
        return;
    }
    dos_words(t, date, time);
    last = t;
    lastdate = *date;
    lasttime = *time;
}

int passes_mask(unsigned attrib, unsigned mask) {
    unsigned special = attrib & (PLAT_ATTR_HIDDEN | PLAT_ATTR_SYSTEM | PLAT_ATTR_DIRECTORY);
    return special == 0 || (special & mask) != 0;
}

// A name holding a backslash of its own cannot be spelled in a DOS path: a
// path built from it would name another file.
int has_own_backslash(const char *core) {
    const unsigned char *s = (const unsigned char *)core;
    for (; *s != '\0'; s++) {
        if (codec_islead(*s) && s[1] != '\0')
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

// What a listing hands out of an entry besides its name.
struct Item {
    unsigned attrib;
    unsigned long long size;
    PlatFileTime mtime;
    PlatFileId id; // a directory's own (not a link's target); zero otherwise
};

void info_item(const NameInfo *info, const char *name, Item *it) {
    it->attrib = info_attrib(info, name);
    it->size = info->size;
    it->mtime.sec = info->msec;
    it->mtime.nsec = (long)info->mnsec;
    int own = (info->known & KNOWN_STAT) != 0 && (info->flags & (NAME_DIR | NAME_LINK)) == NAME_DIR;
    it->id.device = own ? info->dev : 0;
    it->id.inode = own ? info->ino : 0;
}

// The mask a listing filters with: one that needs no marks admits any.
unsigned filter_mask(unsigned mask) {
    return (mask & PLAT_ATTR_NOMARKS) != 0 ? mask | MARK_BITS : mask;
}

unsigned learn_of(unsigned mask) {
    return KNOWN_STAT | ((mask & PLAT_ATTR_NOMARKS) != 0 ? 0 : KNOWN_MARKS);
}

} // namespace

struct PlatFind {
    Dir *dir = nullptr; // held while listed; null for a single look-up
    std::vector<uint32_t> order;
    size_t next = 0;
    unsigned mask = 0;
    unsigned long changes = 0; // of dir when it was read
    Item dots[2];
    int selfknown = 0; // dots[0] holds what the directory itself is
    char final[CORE_NAME_SIZE]; // the pattern's final component
    // A single look-up's one entry.
    int one = 0;
    PlatEntry single;
};

namespace {

void fill_name(const char *core, size_t n, PlatEntry *e) {
    e->toolong = n >= sizeof e->name;
    if (e->toolong) { // cut at a character boundary, escape pairs whole
        size_t i = 0;
        while (i < n) {
            size_t w = enc_charlen(core + i, n - i);
            if (i + w >= sizeof e->name)
                break;
            i += w;
        }
        n = i;
    }
    std::memcpy(e->name, core, n);
    e->name[n] = '\0';
}

void fill_item(const Item *it, PlatEntry *e) {
    e->attrib = it->attrib;
    e->size = it->size;
    e->mtime = it->mtime;
    e->id = it->id;
    dos_time(it->mtime.sec, &e->date, &e->time);
}

void fill_entry(const PlatFind *f, uint32_t at, PlatEntry *e) {
    if (at == DOT || at == DOTDOT) {
        fill_item(&f->dots[at == DOT ? 0 : 1], e);
        fill_name(at == DOT ? "." : "..", at == DOT ? 1 : 2, e);
        return;
    }
    const char *name = dir_name(f->dir, (int)at);
    Item it;
    info_item(dir_info(f->dir, (int)at), name, &it);
    char core[CORE_NAME_SIZE];
    int n = enc_to_core(name, std::strlen(name), core, sizeof core);
    fill_item(&it, e);
    fill_name(core, n > 0 ? (size_t)n : 0, e);
    if (has_own_backslash(core))
        e->attrib |= PLAT_ATTR_BADNAME;
}

// Splits the pattern into its directory and final component (code page
// 932). The directory is left empty for a bare name.
int split_pattern(const char *pattern, char *dir, size_t dsize, char *final, size_t fsize) {
    const char *rest = wild_split(pattern, dir, dsize);
    if (rest == nullptr)
        return -1;
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

// The listings open now, whose "." tells a listing of a subdirectory what
// its ".." is.
std::vector<const PlatFind *> openfinds;

// What a listing gives for "." or ".." (the directory at native): what the
// open listing of its parent learnt of it, or what an open listing of it
// found it to be, else a look of its own. 0, or -1 when it is not to be
// listed.
int dot_item(const char *native, unsigned mask, Item *it) {
    for (const PlatFind *o : openfinds) {
        if (o->selfknown && o->dir != nullptr && std::strcmp(dir_native(o->dir), native) == 0) {
            *it = o->dots[0];
            return 0;
        }
    }
    std::string path = native;
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && path.size() > 1) {
        std::string parent = slash == 0 ? "/" : path.substr(0, slash);
        const char *base = native + slash + 1;
        Dir *p = dir_cached(parent.c_str());
        int i = p != nullptr ? dir_peek(p, base) : -1;
        if (i >= 0 && dir_trusted(p, i, learn_of(mask))) {
            info_item(dir_info(p, i), base, it);
            return 0;
        }
    }
    NativeInfo info;
    if (native_info(native, &info) != 0 || info.special)
        return -1;
    it->attrib = info.attrib;
    it->size = info.size;
    it->mtime = info.mtime;
    it->id = PlatFileId{0, 0};
    return 0;
}

// "." and ".." of a directory that is not a drive root, when they match.
void add_dots(PlatFind *f, const char *native) {
    if (native_isroot(native))
        return;
    std::string parent = native;
    size_t slash = parent.rfind('/');
    if (slash != std::string::npos)
        parent.resize(slash == 0 ? 1 : slash);
    const char *names[2] = {".", ".."};
    const char *paths[2] = {native, parent.c_str()};
    std::vector<uint32_t> dots;
    for (int i = 0; i < 2; i++) {
        if (!plat_match(f->final, names[i]) || dot_item(paths[i], f->mask, &f->dots[i]) != 0)
            continue;
        f->selfknown |= i == 0;
        if (passes_mask(f->dots[i].attrib, filter_mask(f->mask)))
            dots.push_back(i == 0 ? DOT : DOTDOT);
    }
    f->order.insert(f->order.begin(), dots.begin(), dots.end());
}

// 1 when the entry i of d is listed by f.
int listed(const PlatFind *f, Dir *d, uint32_t i) {
    const char *name = dir_name(d, (int)i);
    NameInfo *info = dir_info(d, (int)i);
    char core[CORE_NAME_SIZE];
    if ((info->flags & (NAME_SPECIAL | NAME_BROKEN)) != 0 ||
        hidden_system_tree(dir_native(d), name) ||
        enc_to_core(name, std::strlen(name), core, sizeof core) < 0 || !plat_match(f->final, core))
        return 0;
    if (has_own_backslash(core) && (f->mask & PLAT_ATTR_BADNAME) == 0)
        return 0;
    return passes_mask(info_attrib(info, name), filter_mask(f->mask));
}

// The first eight bytes of a name's sort key as a number, so that two
// names whose keys differ there compare as two numbers: a listing of many
// names sorts in a fraction of the time that comparing keys built again
// for every comparison takes. An ASCII name's key is itself upper-cased.
uint64_t key_prefix(const char *name) {
    unsigned char key[8] = {0};
    const unsigned char *s = (const unsigned char *)name;
    int i = 0;
    for (; i < 8 && s[i] != '\0' && s[i] < 0x80; i++)
        key[i] = s[i] >= 'a' && s[i] <= 'z' ? (unsigned char)(s[i] - 32) : s[i];
    if (i < 8 && s[i] != '\0') {
        char full[NAME_KEY_SIZE];
        int n = name_fold(name, full, sizeof full);
        for (i = 0; i < 8; i++)
            key[i] = n > i ? (unsigned char)full[i] : 0;
    }
    uint64_t v = 0;
    for (unsigned char b : key)
        v = v << 8 | b;
    return v;
}

// Puts the entries of d in listing order (name_order): by their keys'
// first bytes, computed once each, and by the whole names where those tie.
void sort_names(Dir *d, std::vector<uint32_t> *order) {
    struct Keyed {
        uint64_t prefix;
        uint32_t index;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(order->size());
    for (uint32_t i : *order)
        keyed.push_back(Keyed{key_prefix(dir_name(d, (int)i)), i});
    std::sort(keyed.begin(), keyed.end(), [d](const Keyed &a, const Keyed &b) {
        if (a.prefix != b.prefix)
            return a.prefix < b.prefix;
        return name_order(dir_name(d, (int)a.index), dir_name(d, (int)b.index)) < 0;
    });
    for (size_t i = 0; i < keyed.size(); i++)
        (*order)[i] = keyed[i].index;
}

// Reads the directory d whole and keeps what matches, in listing order. A
// directory that cannot be read to its end fails as a whole: part of it is
// no listing.
int scan_matches(PlatFind *f, Dir *d) {
    std::vector<uint32_t> all;
    Dir *l = dir_list(d, learn_of(f->mask), &all);
    if (l == nullptr) {
        set_dir_error(errno);
        return -1;
    }
    f->dir = l;
    f->changes = dir_changes(l);
    f->order.clear();
    openfinds.push_back(f);
    for (uint32_t i : all)
        if (listed(f, l, i))
            f->order.push_back(i);
    sort_names(l, &f->order);
    add_dots(f, dir_native(l));
    return 0;
}

// A name without wildcards is one look-up, not a read of the directory.
// The entry index of d as a listing with mask gives it: 1, or 0 when the
// listing would leave it out.
int entry_of(Dir *d, int index, unsigned mask, PlatEntry *e) {
    char core[CORE_NAME_SIZE];
    const char *found = dir_name(d, index);
    NameInfo *info = dir_info(d, index);
    if ((info->flags & (NAME_SPECIAL | NAME_BROKEN)) != 0 ||
        hidden_system_tree(dir_native(d), found) ||
        enc_to_core(found, std::strlen(found), core, sizeof core) < 0)
        return 0;
    Item it;
    info_item(info, found, &it);
    if (!passes_mask(it.attrib, filter_mask(mask)))
        return 0;
    fill_item(&it, e);
    fill_name(core, std::strlen(core), e);
    if (has_own_backslash(core))
        e->attrib |= PLAT_ATTR_BADNAME;
    return 1;
}

int find_one(PlatFind *f, Dir *d) {
    char ext[NATIVE_PATH_SIZE];
    if (enc_from_core(f->final, std::strlen(f->final), ext, sizeof ext, 0) < 0)
        return 0;
    int index;
    int rc = dir_lookup(d, ext, &index, learn_of(f->mask));
    if (rc < 0) {
        set_dir_error(errno);
        return -1;
    }
    if (rc > 0)
        f->one = entry_of(d, index, f->mask, &f->single);
    return 0;
}

int list(PlatFind *f, const char *pattern) {
    char dir[NATIVE_PATH_SIZE];
    if (split_pattern(pattern, dir, sizeof dir, f->final, sizeof f->final) != 0) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    // The directory resolved as a name in its parent: a missing one is
    // known without a look of its own.
    At at;
    if (resolve_at(dir[0] != '\0' ? dir : ".", 0, &at) != 0)
        return -1;
    if (at.nodir || (at.looked && at.index < 0)) {
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
        return -1;
    }
    Dir *d = dir_get(at.native);
    if (d == nullptr) {
        set_dir_error(errno == EACCES ? ENOENT : errno);
        return -1;
    }
    if (f->final[0] == '\0')
        return 0;
    size_t n = std::strlen(f->final);
    if (!wild_has(f->final) && f->final[n - 1] != '.')
        return find_one(f, d);
    return scan_matches(f, d);
}

int first_entry(PlatFind *f, PlatEntry *entry) {
    if (f->one) {
        *entry = f->single;
        f->next = 1;
        return 1;
    }
    if (f->order.empty()) {
        plat_setlasterror(PLAT_ERR_FILE_NOT_FOUND);
        return 0;
    }
    fill_entry(f, f->order[0], entry);
    f->next = 1;
    return 1;
}

void unlist(PlatFind *f) {
    if (f->dir != nullptr)
        dir_unlist(f->dir);
    f->dir = nullptr;
    f->selfknown = 0;
    for (size_t i = 0; i < openfinds.size(); i++)
        if (openfinds[i] == f)
            openfinds.erase(openfinds.begin() + (long)i);
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
    f->mask = mask;
    if (list(f, pattern) != 0 || !first_entry(f, entry)) {
        plat_findclose(f);
        return nullptr;
    }
    return f;
}

int plat_findnext(PlatFind *find, PlatEntry *entry) {
    if (find == nullptr || find->one || find->next >= find->order.size())
        return 0;
    fill_entry(find, find->order[find->next++], entry);
    return 1;
}

int plat_findagain(PlatFind *find, PlatEntry *entry) {
    if (find == nullptr)
        return 0;
    if (find->dir != nullptr &&
        (!dir_current(find->dir) || dir_changes(find->dir) != find->changes)) {
        // Changed by this process since: read again, as a new listing would.
        std::string native = dir_native(find->dir);
        unlist(find);
        Dir *d = dir_get(native.c_str());
        if (d == nullptr) {
            set_dir_error(errno);
            return 0;
        }
        if (scan_matches(find, d) != 0)
            return 0;
    }
    return first_entry(find, entry);
}

int plat_findone(const char *path, unsigned mask, PlatEntry *entry) {
    At at;
    if (resolve_at(path, learn_of(mask), &at) != 0)
        return -1;
    // A directory that cannot be opened (missing, a file, closed to us) is
    // missing here as it is to a listing.
    if (at.dir == nullptr || at.nodir) {
        int named = at.native[at.dirlen] != '\0';
        plat_setlasterror(at.nodir || named ? PLAT_ERR_PATH_NOT_FOUND : PLAT_ERR_FILE_NOT_FOUND);
        return 0;
    }
    int index = at.index;
    // A name holding "*" or "?" (a Linux name may) is still one name here.
    if (!at.looked && dir_lookup(at.dir, at_name(&at), &index, learn_of(mask)) < 0) {
        set_dir_error(errno);
        return -1;
    }
    if (index >= 0 && entry_of(at.dir, index, mask, entry))
        return 1;
    plat_setlasterror(PLAT_ERR_FILE_NOT_FOUND);
    return 0;
}

void plat_findclose(PlatFind *find) {
    if (find == nullptr)
        return;
    unlist(find);
    delete find;
}
