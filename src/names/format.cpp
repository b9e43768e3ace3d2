// The rename format. A name is built with the counter's place held by its
// conversion text ("%03ld"), because that is how the length message shows
// it; the finished names are then put together from the text before that
// place, the counter's digits and the text after it. Only the counter's
// number ever goes through printf, so a "%" in the user's format is just a
// character of the new name.
//
// The format is scanned byte by byte: "$", ",", "-" and the digits can
// never be the second byte of a double-byte character, so a "$" found this
// way always starts a macro.
#include "names/format.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "search/pathexp.h"
#include "base/pathstr.h"
#include "base/out.h"

char todaystr[9];

enum {
    NAME_LIMIT = 256, // characters of a new name
    // Room for a name as built. A name that needs more is far past
    // NAME_LIMIT and is refused; its message shows what fitted.
    NAME_STORE = 512,
    WIDTH_DIGITS = 4,
    // Bounds for widths up to 9 fit a 32-bit long; more digits of padding
    // are allowed but do not raise the bound, which no directory reaches
    // anyway.
    WIDTH_CAP = 9,
    OFFSET_CAP = 100000, // offsets past any name are held to it
};

// The old name of one file, split in place.
struct OldName {
    size_t dirlen; // the directory part with its final "\"
    const char *base, *ext;
    size_t baselen, extlen;
    char *dot; // the dot cut off before the extension, or null
};

// The new name as built.
struct Name {
    char text[NAME_STORE];
    size_t len;     // bytes held in text
    size_t counted; // characters counted against the limits
    int full;       // text could not hold everything
    int counter;    // a $N was seen
    size_t convat, convlen; // where its conversion text sits in text
    int width, padded;
};

// What the modifier after one "$" said; the offset lives on across macros.
struct Mod {
    char widthtext[WIDTH_DIGITS + 1];
    int width;
};

void settoday(void) {
    PlatTime now;
    plat_localtime(&now);
    std::snprintf(todaystr, sizeof todaystr, "%04u%02u%02u", (unsigned)now.year % 10000u,
                  (unsigned)now.month % 100u, (unsigned)now.day % 100u);
}

static int isdig(char c) { return c >= '0' && c <= '9'; }

// ---- the old name -------------------------------------------------------------

// A dot followed by nothing stays in the base name (README.), and a dot
// with a "\" after it belongs to a directory.
static int splitold(char *path, OldName *old) {
    old->ext = "";
    old->extlen = 0;
    old->dot = nullptr;
    char *dot = mbstrrchr(path, '.');
    if (dot != nullptr && dot[1] != 0 && mbstrchr(dot + 1, '\\') == nullptr) {
        *dot = 0;
        old->dot = dot;
        old->ext = dot + 1;
        old->extlen = std::strlen(old->ext);
    }
    char *slash = mbstrrchr(path, '\\');
    if (slash == nullptr || slash[1] == 0)
        return -1; // no name, or only ".EXT"
    old->dirlen = (size_t)(slash + 1 - path);
    old->base = slash + 1;
    old->baselen = std::strlen(old->base);
    return 0;
}

// The part of s (len bytes) that an offset and a width select: from the
// start (offset 0), from position p counting from 1 (offset p), or the last
// n (offset -n); then the first `width` of that (all of it when 0).
// Positions and widths count half-width columns (mbcharwidth): a double-
// byte character takes two, and an escape pair one, as the character it
// carries. An offset outside the name is held to it, so a piece never
// reaches past the name; and a character is never cut in two, which would
// leave bytes that name no character (or, of an escape pair, a different
// one): a character that straddles either end of the piece stays out.
static size_t piece(const char *s, size_t len, long offset, int width, const char **from) {
    size_t total = 0;
    for (size_t i = 0; i < len; i += (size_t)mbcharlen(s + i))
        total += (size_t)mbcharwidth(s + i);
    size_t start = 0;
    if (offset > 0)
        start = (size_t)offset - 1 < total ? (size_t)offset - 1 : total;
    else if (offset < 0)
        start = (size_t)-offset < total ? total - (size_t)-offset : 0;
    size_t end = total;
    if (width > 0 && (size_t)width < total - start)
        end = start + (size_t)width;
    size_t i = 0, col = 0;
    for (; i < len && col < start; i += (size_t)mbcharlen(s + i))
        col += (size_t)mbcharwidth(s + i);
    size_t first = i;
    for (; i < len && col + (size_t)mbcharwidth(s + i) <= end; i += (size_t)mbcharlen(s + i))
        col += (size_t)mbcharwidth(s + i);
    *from = s + first;
    return i - first;
}

// ---- building the name ----------------------------------------------------------

static void put(Name *nm, const char *s, size_t n, size_t counts) {
    nm->counted += counts;
    if (nm->full || nm->len + n >= sizeof nm->text) {
        nm->full = 1;
        return;
    }
    std::memcpy(nm->text + nm->len, s, n);
    nm->len += n;
    nm->text[nm->len] = 0;
}

// Up to four digits of width. After an offset's comma there may be none
// ($3,F: the rest of the name from position 3).
static const char *readwidth(const char *p, Mod *m) {
    int n = 0;
    while (n < WIDTH_DIGITS && isdig(p[n])) {
        m->widthtext[n] = p[n];
        n++;
    }
    m->widthtext[n] = 0;
    for (int i = 0; i < n; i++)
        m->width = m->width * 10 + (m->widthtext[i] - '0');
    return p + n;
}

// The modifier that may follow "$" (p points after it): "p,w" or "-n,w"
// (offset and width), "-n" (offset from the end) or "w" (width). The comma
// must follow the offset's digits directly; a comma further on is literal
// text of the format, not the end of this modifier. Returns where the
// macro letter should be.
static const char *readmodifier(const char *p, Mod *m, long *offset) {
    m->widthtext[0] = 0;
    m->width = 0;
    if (!isdig(*p) && *p != '-')
        return p;
    const char *q = p;
    int negative = *q == '-';
    if (negative)
        q++;
    long value = 0;
    for (; isdig(*q); q++)
        if (value < OFFSET_CAP)
            value = value * 10 + (*q - '0');
    if (*q == ',') {
        *offset = negative ? -value : value;
        return readwidth(q + 1, m);
    }
    if (negative) {
        *offset = -value;
        return q;
    }
    return readwidth(p, m);
}

// The text from the "$" up to and including the character that is no
// macro letter (a whole character, an escape pair too), or up to the end.
static int unknownmacro(const char *dollar, const char *p) {
    size_t n = (size_t)(p - dollar) + (size_t)mbcharlen(p);
    outf("Error! unknown macro: <%.*s>\n", (int)n, dollar);
    return -1;
}

// Holds the counter's place with its conversion text: "%" and the width
// text when that begins with "0" (zero-padded), else plain "%ld".
static void addcounter(Name *nm, const Mod *m) {
    char conv[WIDTH_DIGITS + 4];
    nm->padded = m->widthtext[0] == '0';
    std::snprintf(conv, sizeof conv, "%%%sld", nm->padded ? m->widthtext : "");
    nm->counter = 1;
    nm->width = m->width;
    nm->convat = nm->len;
    nm->convlen = std::strlen(conv);
    put(nm, conv, nm->convlen, (size_t)m->width);
}

static void putdate(Name *nm, int at, int n) { put(nm, todaystr + at, (size_t)n, (size_t)n); }

// One macro letter at *p; moves *p past it.
static int macro(const char **pp, const char *dollar, const Mod *m, long offset,
                 const OldName *old, Name *nm) {
    const char *p = *pp;
    const char *from;
    size_t n;
    switch (upcase(*p)) {
    case 'F':
        n = piece(old->base, old->baselen, offset, m->width, &from);
        put(nm, from, n, n);
        break;
    case 'E':
        n = piece(old->ext, old->extlen, 0, m->width, &from);
        put(nm, from, n, n);
        break;
    case 'N':
        // The counter has one place; a second one could only ever show
        // the same number, so it is refused rather than guessed at.
        if (nm->counter)
            return unknownmacro(dollar, p);
        addcounter(nm, m);
        break;
    case 'Y':
        if (upcase(p[1]) == 'Y') {
            putdate(nm, 0, 4);
            p++;
        } else {
            putdate(nm, 2, 2);
        }
        break;
    case 'M':
        putdate(nm, 4, 2);
        break;
    case 'D':
        putdate(nm, 6, 2);
        break;
    default:
        return unknownmacro(dollar, p);
    }
    *pp = p + 1;
    return 0;
}

// Reads the whole format. -1 after an unknown macro's message, or
// silently when the format ends right after a modifier.
static int buildname(const char *format, const OldName *old, Name *nm) {
    std::memset(nm, 0, sizeof *nm);
    long offset = 0;
    const char *p = format;
    while (*p != 0) {
        if (*p != '$') {
            // A whole character at a time: a name too long to hold is
            // shown as far as it fitted, never ending in half of one.
            size_t n = (size_t)mbcharlen(p);
            put(nm, p, n, n);
            p += n;
            continue;
        }
        const char *dollar = p;
        Mod m;
        p = readmodifier(p + 1, &m, &offset);
        if (*p == 0 && p != dollar + 1)
            return -1;
        if (macro(&p, dollar, &m, offset, old, nm) != 0)
            return -1;
    }
    if (!nm->counter)
        nm->convat = nm->len;
    return 0;
}

// ---- checks, the counter and the result -------------------------------------

static int nametoolong(const Name *nm) {
    outf("Error! length of filename is too long: %s\n", nm->text);
    return -1;
}

// An empty name, "." or ".." would turn the file into its own directory
// or the one above.
static int emptyname(const Name *nm) {
    return !nm->counter &&
           (nm->len == 0 || std::strcmp(nm->text, ".") == 0 || std::strcmp(nm->text, "..") == 0);
}

static int checkname(char *path, const OldName *old, const Name *nm) {
    if (nm->full || nm->counted > NAME_LIMIT || old->dirlen + nm->counted > MAX_PATHLEN)
        return nametoolong(nm);
    if (emptyname(nm)) {
        if (old->dot != nullptr)
            *old->dot = '.';
        outf("Error! empty filename: %s\n", path);
        return -1;
    }
    // A separator in the new name would send the file into another
    // directory, ".." out of the tree the user named; and a counter whose
    // every candidate resolves to one existing path would never end.
    if (mbstrchr(nm->text, '\\') != nullptr || mbstrchr(nm->text, '/') != nullptr) {
        outf("Error! path separator in filename: %s\n", nm->text);
        return -1;
    }
    return 0;
}

// The directory part, the text before the counter, its digits and the
// text after it. -1 when the result would pass the limits: a counter that
// needs more digits than its width was counted with can push it over.
static int assemble(char *out, const char *path, const OldName *old, const Name *nm,
                    const char *digits, size_t ndigits) {
    size_t pre = nm->convat;
    size_t post = nm->len - nm->convat - nm->convlen * (size_t)nm->counter;
    size_t namelen = pre + ndigits + post;
    if (namelen > NAME_LIMIT || old->dirlen + namelen > MAX_PATHLEN)
        return -1;
    std::memmove(out, path, old->dirlen); // out may be path itself
    char *o = out + old->dirlen;
    std::memcpy(o, nm->text, pre);
    std::memcpy(o + pre, digits, ndigits);
    std::memcpy(o + pre + ndigits, nm->text + nm->len - post, post);
    o[namelen] = 0;
    return 0;
}

// 999 values without a width; with a width w, 10, 110, 1110 ... (ten
// times the last plus ten) for w = 1, 2, 3 ...
static long counterbound(int width) {
    if (width == 0)
        return 999;
    long long bound = 10;
    for (int i = 1; i < width && i < WIDTH_CAP; i++)
        bound = bound * 10 + 10;
    return (long)bound;
}

static int probecounter(char *out, const char *path, const OldName *old, const Name *nm) {
    long bound = counterbound(nm->width);
    char digits[PATH_SIZE];
    for (long n = 0; n < bound; n++) {
        // The width was checked against NAME_LIMIT, so the digits fit.
        int nd = nm->padded ? std::snprintf(digits, sizeof digits, "%0*ld", nm->width, n)
                            : std::snprintf(digits, sizeof digits, "%ld", n);
        if (nd < 0 || (size_t)nd >= sizeof digits ||
            assemble(out, path, old, nm, digits, (size_t)nd) != 0)
            return nametoolong(nm);
        if (!pathtaken(out))
            return 0;
    }
    outf("Error! number is out of range: %ld\n", bound);
    return -1;
}

int formatname(char *out, char *path, const char *format) {
    OldName old;
    Name nm;
    if (todaystr[0] == 0)
        settoday();
    int rc = -1;
    if (splitold(path, &old) == 0 && buildname(format, &old, &nm) == 0 &&
        checkname(path, &old, &nm) == 0) {
        if (nm.counter)
            rc = probecounter(out, path, &old, &nm);
        else
            rc = assemble(out, path, &old, &nm, "", 0) == 0 ? 0 : nametoolong(&nm);
    }
    if (rc != 0)
        out[0] = 0;
    return rc;
}
