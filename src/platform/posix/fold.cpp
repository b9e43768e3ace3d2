// The order of names and their case-folded keys, as a listing sorts them
// and as a look-up ignoring case matches them (see platform/common/
// sortkey.h): below the directory cache, which keys every name it holds.
#include "platform/posix/fold.h"
#include "platform/posix/encoding.h"
#include "platform/common/sortkey.h"

#include <cstdint>
#include <cstring>
#include <cwchar>

namespace {

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

int ascii(const char *s) {
    for (; *s != '\0'; s++)
        if ((unsigned char)*s >= 0x80)
            return 0;
    return 1;
}

unsigned char upper(unsigned char c) { return c >= 'a' && c <= 'z' ? (unsigned char)(c - 32) : c; }

uint32_t hash_bytes(const unsigned char *s, size_t n) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < n; i++)
        h = (h ^ s[i]) * 16777619u;
    return h;
}

} // namespace

int name_same_folded(const char *a, const char *b) {
    if (ascii(a) && ascii(b)) {
        for (; *a != '\0' && *b != '\0'; a++, b++)
            if (upper((unsigned char)*a) != upper((unsigned char)*b))
                return 0;
        return *a == *b;
    }
    static char ka[NAME_KEY_SIZE], kb[NAME_KEY_SIZE];
    int na = name_fold(a, ka, sizeof ka), nb = name_fold(b, kb, sizeof kb);
    return na >= 0 && na == nb && std::memcmp(ka, kb, (size_t)na) == 0;
}

int name_fold(const char *name, char *key, size_t cap) {
    const unsigned char *s = (const unsigned char *)name;
    size_t n = std::strlen(name), at = 0;
    int utf8 = enc_isutf8();
    std::mbstate_t st = std::mbstate_t();
    while (n > 0) {
        unsigned long cp;
        size_t len;
        if (utf8) {
            uint32_t c32;
            len = enc_utf8_char(s, n, &c32);
            cp = c32;
        } else {
            len = locale_char(s, n, &cp, &st);
        }
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


// The hash of a name's case-folded key. An ASCII name is its own key,
// upper-cased, and needs no conversion.
uint32_t name_fold_hash(const char *name) {
    uint32_t h = 2166136261u;
    const unsigned char *s = (const unsigned char *)name;
    for (; *s != '\0' && *s < 0x80; s++)
        h = (h ^ upper(*s)) * 16777619u;
    if (*s == '\0')
        return h;
    static char key[NAME_KEY_SIZE];
    int n = name_fold(name, key, sizeof key);
    if (n < 0)
        return hash_bytes((const unsigned char *)name, std::strlen(name));
    return hash_bytes((const unsigned char *)key, (size_t)n);
}

