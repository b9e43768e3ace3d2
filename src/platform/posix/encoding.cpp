#include "platform/posix/encoding.h"

#include "platform/common/codec.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include <iconv.h>
#include <langinfo.h>

namespace {

typedef unsigned char u8;

typedef CodecSink Sink;
const uint32_t NOCHAR = CODEC_NOCHAR;

// The external side. same[b] is 1 when the ASCII byte b stands for the same
// character there, so it crosses unchanged.
enum { UNSET, READY, FAILED };
int state = UNSET;
int utf8;
iconv_t ext_in = (iconv_t)-1;  // external -> UTF-32LE
iconv_t ext_out = (iconv_t)-1; // UTF-32LE -> external
u8 same[128];

uint32_t le32(const u8 *b) {
    return (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
}

int put(Sink *o, const void *bytes, size_t n) { return codec_put(o, bytes, n); }
int put1(Sink *o, unsigned b) { return codec_put1(o, b); }

// ---- code page 932 tables ---------------------------------------------------

// Converts exactly n bytes into exactly one code point, or gives NOCHAR.
uint32_t iconv_one(iconv_t cd, const u8 *s, size_t n) {
    char *in = (char *)s;
    size_t inleft = n;
    u8 out[8];
    char *op = (char *)out;
    size_t outleft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in, &inleft, &op, &outleft) == (size_t)-1 || inleft != 0 ||
        outleft != sizeof out - 4)
        return NOCHAR;
    return le32(out);
}

// The system's decoder of code page 932, for the shared tables.
uint32_t decode_cp932(const unsigned char *code, size_t n) {
    static iconv_t cd = (iconv_t)-1;
    if (cd == (iconv_t)-1)
        cd = iconv_open("UTF-32LE", "CP932");
    return cd == (iconv_t)-1 ? NOCHAR : iconv_one(cd, code, n);
}

int has_cp932(void) {
    iconv_t probe = iconv_open("UTF-32LE", "CP932");
    if (probe == (iconv_t)-1)
        return 0;
    iconv_close(probe);
    return 1;
}

// The tables are built when the first character that is not plain ASCII
// crosses: building them asks the system's converter some 24,000 times,
// which a run over ASCII names would otherwise pay at every start.
int tables_ready(void) { return codec_built() || codec_build(decode_cp932) == 0; }

// ---- the external encoding ----------------------------------------------------

// Codeset names compared with case, "-" and "_" ignored.
void normname(const char *s, char *out, size_t cap) {
    size_t n = 0;
    for (; *s != '\0' && n + 1 < cap; s++) {
        if (*s == '-' || *s == '_')
            continue;
        out[n++] = (*s >= 'a' && *s <= 'z') ? (char)(*s - 32) : *s;
    }
    out[n] = '\0';
}

int namein(const char *norm, const char *const *names) {
    for (; *names != nullptr; names++)
        if (std::strcmp(norm, *names) == 0)
            return 1;
    return 0;
}

// The plain C locale reports ASCII; its bytes are handled as UTF-8 so that
// Japanese texts still print readably.
const char *const utf8names[] = {"UTF8", "ANSIX3.41968", "ASCII", "USASCII", nullptr};

// The C library's Shift_JIS maps 0x5C to the yen sign and 0x7E to the
// overline; a Shift_JIS locale's files are read as Windows writes them.
const char *const sjisnames[] = {"SHIFTJIS",   "SJIS",       "MSKANJI",
                                 "CSSHIFTJIS", "WINDOWS31J", nullptr};

// Writes one code point in the external encoding (returning to the initial
// shift state), or gives -1.
int ext_encode(uint32_t cp, u8 *out, size_t cap) {
    u8 in4[4] = {(u8)cp, (u8)(cp >> 8), (u8)(cp >> 16), (u8)(cp >> 24)};
    char *in = (char *)in4;
    size_t inleft = 4;
    char *op = (char *)out;
    size_t outleft = cap;
    iconv(ext_out, nullptr, nullptr, nullptr, nullptr);
    if (iconv(ext_out, &in, &inleft, &op, &outleft) == (size_t)-1 || inleft != 0)
        return -1;
    if (iconv(ext_out, nullptr, nullptr, &op, &outleft) == (size_t)-1)
        return -1;
    return (int)(cap - outleft);
}

void close_external(void) {
    if (ext_in != (iconv_t)-1)
        iconv_close(ext_in);
    if (ext_out != (iconv_t)-1)
        iconv_close(ext_out);
    ext_in = ext_out = (iconv_t)-1;
}

int open_external(const char *codeset) {
    ext_in = iconv_open("UTF-32LE", codeset);
    ext_out = iconv_open(codeset, "UTF-32LE");
    if (ext_in == (iconv_t)-1 || ext_out == (iconv_t)-1)
        return -1;
    same[0] = 1;
    for (unsigned b = 1; b < 0x80; b++) {
        u8 c = (u8)b, back[16];
        same[b] = iconv_one(ext_in, &c, 1) == b && ext_encode(b, back, sizeof back) == 1 &&
                  back[0] == c;
        // A codeset that spells "/", "\\" or a letter otherwise is no locale
        // encoding we could pass paths through.
        if (b >= 0x20 && b < 0x7F && !same[b])
            return -1;
    }
    return 0;
}

} // namespace

// UTF-8 as the standard defines it: no overlong forms, no surrogates,
// nothing above U+10FFFF. Returns the length of the character at s, or 0.
size_t enc_utf8_char(const unsigned char *s, size_t n, uint32_t *cp) {
    u8 b = s[0], lo = 0x80, hi = 0xBF;
    size_t len;
    uint32_t c;
    if (b < 0x80) {
        *cp = b;
        return 1;
    }
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
        c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        c = b & 0x0F;
        lo = b == 0xE0 ? 0xA0 : 0x80;
        hi = b == 0xED ? 0x9F : 0xBF;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        c = b & 0x07;
        lo = b == 0xF0 ? 0x90 : 0x80;
        hi = b == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (n < len)
        return 0;
    for (size_t i = 1; i < len; i++) {
        if (s[i] < lo || s[i] > hi)
            return 0;
        c = c << 6 | (s[i] & 0x3F);
        lo = 0x80;
        hi = 0xBF;
    }
    *cp = c;
    return len;
}

namespace {

int utf8_encode(uint32_t cp, u8 *out) {
    if (cp < 0x80) {
        out[0] = (u8)cp;
        return 1;
    }
    if (cp < 0x800) {
        out[0] = (u8)(0xC0 | cp >> 6);
        out[1] = (u8)(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = (u8)(0xE0 | cp >> 12);
        out[1] = (u8)(0x80 | (cp >> 6 & 0x3F));
        out[2] = (u8)(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = (u8)(0xF0 | cp >> 18);
    out[1] = (u8)(0x80 | (cp >> 12 & 0x3F));
    out[2] = (u8)(0x80 | (cp >> 6 & 0x3F));
    out[3] = (u8)(0x80 | (cp & 0x3F));
    return 4;
}

// The external character at s, accepted only when writing its code point
// gives the same bytes back (otherwise the bytes could not be restored).
// Returns its length, or 0.
size_t ext_decode(const u8 *s, size_t n, uint32_t *cp) {
    if (utf8)
        return enc_utf8_char(s, n, cp);
    size_t take = n < 16 ? n : 16;
    char *in = (char *)s;
    size_t inleft = take;
    u8 out[4], back[16];
    char *op = (char *)out;
    size_t outleft = sizeof out;
    iconv(ext_in, nullptr, nullptr, nullptr, nullptr);
    iconv(ext_in, &in, &inleft, &op, &outleft); // stops after one character
    size_t used = take - inleft;
    if (outleft != 0 || used == 0)
        return 0;
    *cp = le32(out);
    int m = ext_encode(*cp, back, sizeof back);
    if (m < 0 || (size_t)m != used || std::memcmp(back, s, used) != 0)
        return 0;
    return used;
}

// ---- both ways ----------------------------------------------------------------

// The bytes at s that stand for themselves on both sides (in UTF-8, all of
// ASCII): most names are made of nothing else, and cross as one copy.
size_t plain_run(const u8 *s, size_t n) {
    size_t i = 0;
    if (utf8) {
        while (i < n && s[i] < 0x80)
            i++;
    } else {
        while (i < n && s[i] < 0x80 && same[s[i]])
            i++;
    }
    return i;
}

// Puts as much of the run as fits; -1 when not all of it did (a caller's
// buffer is full: any cut of single bytes is a character boundary).
int put_run(Sink *o, const u8 *s, size_t k, size_t *done) {
    if (codec_put(o, s, k) == 0) {
        *done = k;
        return 0;
    }
    size_t room = o->cap > o->len + 1 ? o->cap - o->len - 1 : 0;
    *done = room < k ? room : k;
    codec_put(o, s, *done);
    return -1;
}

// ---- into the core ------------------------------------------------------------

int to_core(const u8 *s, size_t n, Sink *o) {
    for (size_t i = 0; i < n;) {
        size_t run = plain_run(s + i, n - i), done;
        if (run != 0) {
            if (put_run(o, s + i, run, &done) != 0)
                return -1;
            i += run;
            continue;
        }
        if (!tables_ready())
            return -1;
        u8 b = s[i];
        uint32_t cp;
        size_t m = 1;
        int rc;
        if (b < 0x80 && same[b]) {
            rc = put1(o, b);
        } else if ((m = ext_decode(s + i, n - i, &cp)) == 0) {
            rc = codec_put_escape(o, CODEC_ESC_RAW + b);
            m = 1;
        } else {
            rc = codec_put_core(o, cp);
        }
        if (rc != 0)
            return -1;
        i += m;
    }
    return 0;
}

// ---- out of the core ------------------------------------------------------------

enum { IT_CHAR = CODEC_CHAR, IT_RAW = CODEC_RAW, IT_BAD = CODEC_BAD };
typedef CodecItem Item;

void core_next(const u8 *s, size_t n, Item *it) { codec_next(s, n, it); }

// Writes one code point in the external encoding. A strict caller also
// wants it to read back as the same character: a converter that writes a
// look-alike would give two names one spelling.
int put_external(Sink *o, uint32_t cp, int strict) {
    u8 bytes[16];
    int m;
    if (cp < 0x80 && same[cp])
        return put1(o, cp);
    if (utf8)
        return put(o, bytes, (size_t)utf8_encode(cp, bytes));
    m = ext_encode(cp, bytes, sizeof bytes);
    if (m > 0 && strict && iconv_one(ext_in, bytes, (size_t)m) != cp)
        m = -1;
    if (m <= 0)
        return strict ? -2 : put1(o, '?');
    return put(o, bytes, (size_t)m);
}

// Converts until the end or until dst is full; *used receives how far it
// got. Returns 0, -1 when full, -2 for text a strict caller refuses.
int from_core(const u8 *s, size_t n, Sink *o, int flags, size_t *used) {
    int strict = !(flags & ENC_LENIENT);
    size_t i = 0;
    int rc = 0;
    while (i < n && rc == 0) {
        size_t run = plain_run(s + i, n - i), done;
        if (run != 0) {
            rc = put_run(o, s + i, run, &done);
            i += done;
            continue;
        }
        if (!tables_ready()) {
            rc = -2;
            break;
        }
        Item it;
        size_t mark = o->len;
        core_next(s + i, n - i, &it);
        if (it.kind == IT_CHAR)
            rc = put_external(o, it.val, strict);
        else if (it.kind == IT_RAW)
            rc = put1(o, it.val);
        else
            rc = strict ? -2 : put1(o, '?');
        if (rc != 0)
            o->len = mark;
        else
            i += it.len;
    }
    *used = i;
    return rc;
}

int ensure_ready(void) {
    if (state == UNSET)
        enc_init(nullptr);
    return state == READY ? 0 : -1;
}

Sink caller_sink(char *dst, size_t cap) {
    Sink o = {dst, 0, cap, 0};
    return o;
}

int finish(Sink *o) {
    o->p[o->len] = '\0';
    return (int)o->len;
}

// The results are ints: a caller's buffer larger than that is used only in
// part.
size_t clampcap(size_t cap) { return cap > (size_t)INT_MAX ? (size_t)INT_MAX : cap; }

} // namespace

int enc_init(const char *codeset) {
    char norm[64];
    close_external();
    state = FAILED;
    if (!codec_built() && !has_cp932())
        return -1;
    if (codeset == nullptr)
        codeset = nl_langinfo(CODESET);
    normname(codeset != nullptr ? codeset : "", norm, sizeof norm);
    utf8 = norm[0] == '\0' || namein(norm, utf8names);
    if (utf8) {
        std::memset(same, 1, sizeof same);
    } else if (open_external(namein(norm, sjisnames) ? "CP932" : codeset) != 0) {
        close_external();
        return -1;
    }
    codec_external(same, 0);
    state = READY;
    return 0;
}

void enc_done(void) {
    close_external();
    state = UNSET;
}

int enc_isutf8(void) { return state == READY && utf8; }

size_t enc_charlen(const char *src, size_t n) { return codec_charlen(src, n); }

int enc_columns(const char *src, size_t len) {
    const u8 *s = (const u8 *)src;
    int ready = ensure_ready() == 0 && tables_ready();
    long long cols = 0;
    for (size_t i = 0; i < len && cols < INT_MAX;) {
        Item it = {IT_CHAR, NOCHAR, enc_charlen(src + i, len - i)};
        if (ready)
            core_next(s + i, len - i, &it);
        int w = -1;
        if (it.kind == IT_CHAR && it.val <= (uint32_t)WCHAR_MAX)
            w = wcwidth((wchar_t)it.val);
        if (w < 0)
            w = it.kind == IT_CHAR && it.len == 2 ? 2 : 1;
        cols += w;
        i += it.len;
    }
    return cols < INT_MAX ? (int)cols : INT_MAX;
}

int enc_to_core(const char *src, size_t len, char *dst, size_t cap) {
    if (ensure_ready() != 0)
        return ENC_BADTEXT;
    if (cap == 0)
        return ENC_NOROOM;
    Sink o = caller_sink(dst, clampcap(cap));
    if (to_core((const u8 *)src, len, &o) != 0) {
        dst[0] = '\0';
        return ENC_NOROOM;
    }
    return finish(&o);
}

char *enc_to_core_dup(const char *src, size_t len, size_t *outlen) {
    if (ensure_ready() != 0)
        return nullptr;
    Sink o = {(char *)std::malloc(len + 16), 0, len + 16, 1};
    if (o.p == nullptr)
        return nullptr;
    if (to_core((const u8 *)src, len, &o) != 0) {
        std::free(o.p);
        return nullptr;
    }
    o.p[o.len] = '\0';
    if (outlen != nullptr)
        *outlen = o.len;
    return o.p;
}

int enc_from_core(const char *src, size_t len, char *dst, size_t cap, int flags) {
    size_t used;
    int rc = enc_from_core_part(src, len, dst, cap, flags, &used);
    if (rc >= 0 && used < len) {
        dst[0] = '\0';
        return ENC_NOROOM;
    }
    return rc;
}

int enc_from_core_part(const char *src, size_t len, char *dst, size_t cap, int flags,
                       size_t *used) {
    *used = 0;
    if (ensure_ready() != 0)
        return ENC_BADTEXT;
    if (cap == 0)
        return ENC_NOROOM;
    Sink o = caller_sink(dst, clampcap(cap));
    if (from_core((const u8 *)src, len, &o, flags, used) == -2) {
        dst[0] = '\0';
        return ENC_BADTEXT;
    }
    return finish(&o);
}

int codec_ready(void) { return tables_ready(); }
