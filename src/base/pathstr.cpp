#include "base/pathstr.h"

#include <cstring>

#include "platform/platform.h"

// Byte classes of code page 932. They are fixed here rather than taken from
// the running system, so a path splits the same way on every machine.
static int islead(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

static int istrail(unsigned char b) {
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

// Kind of the byte b given the kind of the byte before it. A byte after a
// lead byte that cannot be a trail byte stands alone, even when it could
// itself start a character.
static int nextkind(int prev, unsigned char b) {
    if (prev == 1)
        return istrail(b) ? 2 : 0;
    return islead(b) ? 1 : 0;
}

// The two halves of an escape pair: a user-defined-area lead byte and a
// trail byte at or above 0x80. The core never writes such characters
// itself, so every one it holds is half of a pair, and reading from the
// start of a string meets the first half first.
static int isescape(const unsigned char *s) {
    return s[0] >= 0xF0 && s[0] <= 0xF9 && s[1] >= 0x80 && s[1] <= 0xFC;
}

int mbcharlen(const char *s) {
    const unsigned char *u = (const unsigned char *)s;
    if (u[0] == 0)
        return 0;
    if (!islead(u[0]) || !istrail(u[1]))
        return 1;
    return isescape(u) && isescape(u + 2) ? 4 : 2;
}

int mbcharwidth(const char *s) {
    int n = mbcharlen(s);
    return n == 2 ? 2 : (n == 0 ? 0 : 1);
}

static int isasciiletter(unsigned char b) {
    return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
}

int mbtype(const char *s, int i) {
    if (i < 0)
        return -1;
    int kind = 0;
    for (int k = 0;; k++) {
        unsigned char b = (unsigned char)s[k];
        if (b == 0)
            return -1; // i lies at or past the terminator
        kind = nextkind(kind, b);
        if (k == i)
            return kind;
    }
}

// 1 when s ends in a separator that is a character of its own, not the
// second byte of a double-byte character. *len receives the length.
//
// Read backwards: a byte that cannot lead a character ends one, so the
// run of lead-range bytes before the final "\\" starts a character, and
// its bytes pair up as lead and trail. An odd run ends in a lead byte,
// whose second byte the "\\" is.
static int endsinsep(const char *s, size_t *len) {
    size_t n = std::strlen(s);
    *len = n;
    if (n == 0 || s[n - 1] != '\\')
        return 0;
    size_t run = 0;
    while (run + 1 < n && islead((unsigned char)s[n - 2 - run]))
        run++;
    return run % 2 == 0;
}

// Case change shared by mbstrupr and mbstrlwr: the byte after a lead byte
// is never touched, whatever its value, since it belongs to that character.
static char *mbcase(char *s, unsigned char from, unsigned char to) {
    int skip = 0;
    for (unsigned char *p = (unsigned char *)s; *p != 0; p++) {
        if (skip) {
            skip = 0;
        } else if (islead(*p)) {
            skip = 1;
        } else if (*p >= from && *p <= to) {
            *p ^= 0x20;
        }
    }
    return s;
}

char *mbstrupr(char *s) {
    return mbcase(s, 'a', 'z');
}

char *mbstrlwr(char *s) {
    return mbcase(s, 'A', 'Z');
}

char *mbstrchr(const char *s, int c) {
    unsigned char want = (unsigned char)c;
    int kind = 0;
    for (size_t n = 0; s[n] != 0; n++) {
        kind = nextkind(kind, (unsigned char)s[n]);
        if (kind == 0 && (unsigned char)s[n] == want)
            return const_cast<char *>(s + n);
    }
    return nullptr;
}

char *mbstrrchr(const char *s, int c) {
    unsigned char want = (unsigned char)c;
    // Most paths are ASCII alone: no byte can then be a trail byte.
    const unsigned char *u = (const unsigned char *)s;
    size_t ascii = 0;
    while (u[ascii] != 0 && u[ascii] < 0x80)
        ascii++;
    if (u[ascii] == 0)
        return want == 0 ? nullptr : const_cast<char *>(std::strrchr(s, want));
    const char *found = nullptr;
    int kind = 0;
    for (size_t n = 0; s[n] != 0; n++) {
        kind = nextkind(kind, (unsigned char)s[n]);
        if (kind == 0 && (unsigned char)s[n] == want)
            found = s + n;
    }
    return const_cast<char *>(found);
}

char *strcopy(char *dst, const char *src) {
    std::memmove(dst, src, std::strlen(src) + 1);
    return dst;
}

// A source shorter than n is copied whole: reading n bytes regardless
// would run past its terminator and off the end of its buffer.
char *strcopyn(char *dst, const char *src, size_t n) {
    const void *end = std::memchr(src, 0, n);
    size_t len = end != nullptr ? (size_t)((const char *)end - src) : n;
    std::memmove(dst, src, len);
    dst[len] = 0;
    return dst;
}

char *strappend(char *dst, const char *src) {
    size_t len = std::strlen(dst);
    std::memmove(dst + len, src, std::strlen(src) + 1);
    return dst;
}

int pathcopy(char *dst, size_t size, const char *src) {
    size_t len = std::strlen(src);
    if (len >= size)
        return -1;
    std::memmove(dst, src, len + 1);
    return 0;
}

int pathappend(char *dst, size_t size, const char *src) {
    const void *end = std::memchr(dst, 0, size);
    if (end == nullptr)
        return -1; // not a terminated string within its own buffer
    size_t len = (size_t)((const char *)end - dst);
    size_t add = std::strlen(src);
    if (add >= size - len)
        return -1;
    std::memmove(dst + len, src, add + 1);
    return 0;
}

// A path that already holds MAX_PATHLEN characters has no room for one
// more in a path buffer: it is left alone and -1 tells the caller.
int addbackslash(char *path) {
    size_t len;
    if (endsinsep(path, &len))
        return (int)len;
    if (len >= MAX_PATHLEN)
        return -1;
    path[len] = '\\';
    path[len + 1] = 0;
    return (int)len + 1;
}

// A drive root loses its separator too; callers that keep roots ask isroot
// first.
int delbackslash(char *path) {
    size_t len;
    if (!endsinsep(path, &len))
        return (int)len;
    path[len - 1] = 0;
    return (int)len - 1;
}

int isroot(const char *path) {
    return isasciiletter((unsigned char)path[0]) && path[1] == ':' &&
           path[2] == '\\' && path[3] == 0;
}

// "*" and "?" lie below the trail-byte range, so a plain byte search
// cannot hit the inside of a double-byte character.
int iswild(const char *s) {
    return std::strpbrk(s, "*?") != nullptr;
}

// Paths are names compared by the platform's one rule of names, so that a
// path is the same path wherever it is asked.
int samepath(const char *a, const char *b) {
    if (std::strcmp(a, b) == 0) // the usual answer, asked once per file
        return 1;
    size_t an, bn;
    if (endsinsep(a, &an))
        an--;
    if (endsinsep(b, &bn))
        bn--;
    return plat_namesame(a, an, b, bn);
}
