// Case-insensitive name lookup. Linux matches names exactly, the core expects
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

namespace {

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

} // namespace

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

// The keys of two names compared, the first bytes of each already equal.
static int key_compare(const char *a, const char *b) {
    static char ka[NAME_KEY_SIZE], kb[NAME_KEY_SIZE];
    int na = name_fold(a, ka, sizeof ka), nb = name_fold(b, kb, sizeof kb);
    if (na < 0 || nb < 0)
        return std::strcmp(a, b);
    int c = std::memcmp(ka, kb, (size_t)(na < nb ? na : nb));
    return c != 0 ? c : na - nb;
}

int name_order(const char *a, const char *b) {
    const unsigned char *p = (const unsigned char *)a, *q = (const unsigned char *)b;
    int c = 0;
    // In UTF-8 an ASCII letter is its own character and its own key,
    // upper-cased, and sorts below every other character: most names
    // compare without being converted.
    if (enc_isutf8()) {
        for (;; p++, q++) {
            unsigned char x = *p, y = *q;
            if (x < 0x80 && y < 0x80) {
                unsigned char ux = x >= 'a' && x <= 'z' ? x - 32 : x;
                unsigned char uy = y >= 'a' && y <= 'z' ? y - 32 : y;
                if (ux != uy || x == 0 || y == 0) {
                    c = (int)ux - (int)uy;
                    break;
                }
            } else if (x < 0x80 || y < 0x80) {
                c = x < 0x80 ? -1 : 1;
                break;
            } else {
                c = key_compare((const char *)p, (const char *)q);
                break;
            }
        }
    } else {
        c = key_compare(a, b);
    }
    return c != 0 ? c : std::strcmp(a, b);
}

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

void lookup_added(const char *dir, const char *name) {
    if (Dir *d = dir_cached(dir))
        dir_added(d, name, 1);
}

void lookup_removed(const char *dir, const char *name) {
    if (Dir *d = dir_cached(dir))
        dir_removed(d, name, 1);
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
