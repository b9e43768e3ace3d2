#include "platform/common/wildcard.h"

#include <cstring>

#include "platform/common/codec.h"
#include "platform/platform.h"

namespace {

enum { LIT, STAR, DOS_STAR, DOS_QM, DOS_DOT };

// Names as the core sees them: code page 932, up to four bytes for each
// external byte of a name of at most 255.
enum { CORE_NAME_SIZE = 4 * 256 + 1 };

unsigned char fold(unsigned char c) { return c >= 'a' && c <= 'z' ? (unsigned char)(c - 32) : c; }

// A character of a name or a literal of a pattern: its bytes (one, two, or
// four for an escape pair, which stands for one character) packed into one
// word, the first byte lowest, and whether it is a single byte.
struct Char {
    unsigned code;
    int single;
};

// The character at *s, a terminated string; moves *s past it.
Char take_char(const unsigned char **s) {
    size_t left = 1; // bytes before the terminator, as far as a character reaches
    while (left < 4 && (*s)[left] != '\0')
        left++;
    size_t n = codec_charlen((const char *)*s, left);
    Char c = {0, n == 1};
    for (size_t i = 0; i < n; i++)
        c.code |= (unsigned)(*s)[i] << (8 * i);
    *s += n;
    return c;
}

// A name split into characters, so that "?" takes a whole one: a double-
// byte character or an escape pair (é, an emoji) as much as a letter.
struct Chars {
    int n;
    Char c[CORE_NAME_SIZE];
    int lastdot; // index of the last '.', -1 when none
};

int isdot(Char c) { return c.single && c.code == '.'; }

void split_chars(const char *name, Chars *c) {
    const unsigned char *s = (const unsigned char *)name;
    c->n = 0;
    c->lastdot = -1;
    while (*s != '\0' && c->n < CORE_NAME_SIZE) {
        c->c[c->n] = take_char(&s);
        if (isdot(c->c[c->n]))
            c->lastdot = c->n;
        c->n++;
    }
}

// Two characters, one beyond ASCII, the same ignoring case by the one rule
// of names (a fullwidth A and a, É and é).
int samechar(Char a, const WildToken &t) {
    char x[5], y[5];
    for (int i = 0; i < 4; i++) {
        x[i] = (char)(a.code >> (8 * i));
        y[i] = (char)(t.code >> (8 * i));
    }
    x[4] = y[4] = 0;
    return plat_namesame(x, 4, y, 4);
}

// Adds the states reachable without consuming a character at position i.
void closure(const WildPattern *p, const Chars *c, int i, unsigned char *on) {
    int atend = i >= c->n;
    int atdot = !atend && isdot(c->c[i]);
    for (int s = 0; s < p->n; s++) {
        if (!on[s])
            continue;
        int k = p->t[s].kind;
        if (k == STAR || k == DOS_STAR || (k == DOS_QM && (atend || atdot)) ||
            (k == DOS_DOT && atend))
            on[s + 1] = 1;
    }
}

int consumes(const WildToken *t, const Chars *c, int i) {
    Char a = c->c[i];
    int dot = isdot(a);
    switch (t->kind) {
    case STAR: return 1;
    case DOS_STAR: return !dot || i < c->lastdot;
    case DOS_QM: return !dot;
    case DOS_DOT: return dot;
    default:
        if (a.code == t->code)
            return 1;
        if (a.single && t->single)
            return fold((unsigned char)a.code) == fold((unsigned char)t->code);
        return samechar(a, *t);
    }
}

} // namespace

int wild_compile(const char *pat, WildPattern *p) {
    const unsigned char *s = (const unsigned char *)pat;
    p->n = 0;
    if (std::strcmp(pat, "*.*") == 0)
        s = (const unsigned char *)"*";
    while (*s != '\0') {
        if (p->n >= WILD_MAX_TOKENS)
            return -1;
        WildToken *t = &p->t[p->n++];
        if (*s == '*')
            t->kind = s[1] == '.' ? DOS_STAR : STAR;
        else if (*s == '?')
            t->kind = DOS_QM;
        else if (*s == '.')
            t->kind = s[1] == '\0' || s[1] == '*' || s[1] == '?' ? DOS_DOT : LIT;
        else
            t->kind = LIT;
        Char c = take_char(&s);
        t->code = c.code;
        t->single = c.single;
    }
    return 0;
}

int wild_has(const char *s) { return std::strpbrk(s, "*?") != nullptr; }

int wild_match(const WildPattern *p, const char *name) {
    if (p->n == 1 && p->t[0].kind == STAR) // "*" and "*.*", what a walk lists by
        return 1;
    static Chars c; // large; listings are not re-entered
    unsigned char on[WILD_MAX_TOKENS + 1], next[WILD_MAX_TOKENS + 1];
    split_chars(name, &c);
    std::memset(on, 0, sizeof on);
    on[0] = 1;
    for (int i = 0;; i++) {
        closure(p, &c, i, on);
        if (i >= c.n)
            return on[p->n];
        std::memset(next, 0, sizeof next);
        int any = 0;
        for (int s = 0; s < p->n; s++) {
            if (!on[s] || !consumes(&p->t[s], &c, i))
                continue;
            int to = p->t[s].kind == STAR || p->t[s].kind == DOS_STAR ? s : s + 1;
            next[to] = 1;
            any = 1;
        }
        if (!any)
            return 0;
        std::memcpy(on, next, sizeof on);
    }
}

int plat_match(const char *pattern, const char *name) {
    // A walk matches every name of a directory against one pattern: it is
    // compiled once.
    static WildPattern p;
    static char compiled[PLAT_PATH_SIZE];
    static int ok;
    if (pattern == nullptr || name == nullptr)
        return 0;
    if (std::strcmp(pattern, compiled) != 0 || compiled[0] == '\0') {
        if (std::strlen(pattern) >= sizeof compiled)
            return 0;
        std::strcpy(compiled, pattern);
        ok = wild_compile(pattern, &p) == 0;
    }
    return ok && wild_match(&p, name);
}

const char *wild_split(const char *pattern, char *dir, size_t dsize) {
    const unsigned char *s = (const unsigned char *)pattern;
    const unsigned char *last = nullptr;
    for (const unsigned char *p = s; *p != '\0'; p++) {
        if (codec_islead(*p) && p[1] != '\0')
            p++;
        else if (*p == '\\' || *p == '/')
            last = p;
    }
    size_t cut = last != nullptr ? (size_t)(last - s) + 1 : 0;
    if (last == nullptr && pattern[0] != '\0' && pattern[1] == ':')
        cut = 2;
    if (cut >= dsize)
        return nullptr;
    std::memcpy(dir, pattern, cut);
    dir[cut] = '\0';
    if (last != nullptr && cut > 1 && !(cut == 3 && dir[1] == ':'))
        dir[cut - 1] = '\0';
    return pattern + cut;
}
