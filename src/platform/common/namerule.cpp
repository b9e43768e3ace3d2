// Which names are the same and in what order they list (platform.h), on the
// core's text: each character read with the code page 932 tables and the
// escapes of codec.h, folded with the program's own table (upcase.h). The
// backends sort their listings by the same fold (sortkey.h), so that what
// the core merges with a listing is in the listing's order.
#include "platform/platform.h"

#include <cstdint>
#include <cstring>

#include "platform/common/codec.h"
#include "platform/common/sortkey.h"
#include "platform/common/upcase.h"

namespace {

typedef unsigned char u8;

// Bytes that are no character of code page 932 sort above every character
// and every raw byte an escape carries.
const unsigned long NAME_BAD = SORTKEY_RAW + 0x100;

inline unsigned upascii(unsigned c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }

// The character at s (n > 0 bytes left) as a value that orders as the
// listing does: its code point, or above them for what is no character.
// Returns its length in bytes.
size_t take(const u8 *s, size_t n, unsigned long *v) {
    if (s[0] < 0x80) {
        *v = s[0];
        return 1;
    }
    CodecItem it;
    if (codec_ready()) {
        codec_next(s, n, &it);
        if (it.kind == CODEC_CHAR) {
            *v = it.val;
            return it.len;
        }
        if (it.kind == CODEC_RAW) {
            *v = SORTKEY_RAW + it.val;
            return it.len;
        }
    }
    // No character (or no tables to tell): its bytes, case kept. A lead
    // byte takes its second byte along, as the core's walk does, so that a
    // second byte in the ASCII range is never read as a letter to fold.
    size_t len = codec_charlen((const char *)s, n) >= 2 ? 2 : 1;
    *v = NAME_BAD + (len == 2 ? (unsigned long)s[0] << 8 | s[1] : s[0]);
    return len;
}

// The two texts compared folded (<0, 0, >0); *tie gets the order of the
// first pair of characters that differ only in case, 0 when none does.
int compare(const u8 *a, size_t an, const u8 *b, size_t bn, int *tie) {
    size_t i = 0, j = 0;
    *tie = 0;
    while (i < an && j < bn) {
        unsigned long x = a[i], y = b[j];
        if (x < 0x80 && y < 0x80) { // the usual character: no table at all
            i++;
            j++;
        } else {
            i += take(a + i, an - i, &x);
            j += take(b + j, bn - j, &y);
        }
        if (x == y)
            continue;
        unsigned long fx = x < 0x80 ? upascii((unsigned)x) : upcase_cp(x);
        unsigned long fy = y < 0x80 ? upascii((unsigned)y) : upcase_cp(y);
        if (fx != fy)
            return fx < fy ? -1 : 1;
        if (*tie == 0)
            *tie = x < y ? -1 : 1;
    }
    return i < an ? 1 : j < bn ? -1 : 0;
}

const uint64_t ONES = 0x0101010101010101ull;

uint64_t upcase8(uint64_t w) { // eight ASCII bytes
    uint64_t lower = (w + ONES * (0x80 - 'a')) & ~(w + ONES * (0x80 - 'z' - 1)) & (ONES * 0x80);
    return w - (lower >> 2);
}

uint64_t mix(uint64_t h, uint64_t w) {
    h = (h ^ w) * 0x9E3779B97F4A7C15ull;
    return h ^ (h >> 32);
}

} // namespace

int plat_namecmp(const char *a, const char *b) {
    int tie;
    int c = compare((const u8 *)a, std::strlen(a), (const u8 *)b, std::strlen(b), &tie);
    if (c != 0)
        return c;
    return tie != 0 ? tie : std::strcmp(a, b);
}

int plat_namesame(const char *a, size_t alen, const char *b, size_t blen) {
    size_t an = strnlen(a, alen), bn = strnlen(b, blen);
    // The usual answer: one spelling, at the cost of a plain comparison.
    if (an == bn && std::memcmp(a, b, an) == 0)
        return 1;
    int tie;
    return compare((const u8 *)a, an, (const u8 *)b, bn, &tie) == 0;
}

// The hash of the text's sort key (sortkey.h), eight bytes at a time: a run
// of eight ASCII bytes is its own key, upper-cased at once; anything else
// goes character by character into the same words.
unsigned long long plat_namehash(const char *text, size_t len) {
    const u8 *s = (const u8 *)text;
    size_t n = strnlen(text, len);
    uint64_t h = 0x6E616D65, w; // not the length: a character and its other case may differ in it
    char word[8 + 4];
    size_t k = 0; // key bytes in word
    for (size_t i = 0; i < n;) {
        if (k == 0 && n - i >= 8) {
            std::memcpy(&w, s + i, 8);
            if ((w & ONES * 0x80) == 0) {
                h = mix(h, upcase8(w));
                i += 8;
                continue;
            }
        }
        unsigned long v;
        i += take(s + i, n - i, &v);
        sortkey_put(v < 0x80 ? upascii((unsigned)v) : upcase_cp(v), word, &k, sizeof word);
        if (k >= 8) {
            std::memcpy(&w, word, 8);
            h = mix(h, w);
            k -= 8;
            std::memmove(word, word + 8, k);
        }
    }
    if (k > 0) {
        std::memset(word + k, 0, 8 - k);
        std::memcpy(&w, word, 8);
        h = mix(h, w);
    }
    h ^= h >> 29;
    return h != 0 ? h : 1;
}
