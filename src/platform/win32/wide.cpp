// The text boundary of the Win32 backend: UTF-16, the system's own form of
// names, and code page 932 with the shared escape pairs, the core's. Every
// name round-trips: a character code page 932 lacks, and a lone surrogate
// (which a Windows name may hold), travel as escapes.
#include "platform/win32/native.h"

#include <cstdint>
#include <cstdlib>

#include "platform/common/codec.h"
#include "platform/common/sortkey.h"

namespace {

const wchar_t REPLACEMENT = 0xFFFD;

uint32_t decode_932(const unsigned char *code, size_t n) {
    wchar_t w[4];
    int got = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, (const char *)code, (int)n, w, 4);
    return got == 1 ? (uint32_t)w[0] : CODEC_NOCHAR;
}

// Appends one code point as UTF-16; a surrogate value (an escaped lone
// surrogate) goes back as the one unit it was.
int put_unit(wchar_t *out, size_t cap, size_t *at, uint32_t cp) {
    size_t need = cp > 0xFFFF ? 2 : 1;
    if (*at + need >= cap)
        return -1;
    if (cp > 0xFFFF) {
        cp -= 0x10000;
        out[(*at)++] = (wchar_t)(0xD800 + (cp >> 10));
        out[(*at)++] = (wchar_t)(0xDC00 + (cp & 0x3FF));
    } else {
        out[(*at)++] = (wchar_t)cp;
    }
    return 0;
}

// The code point at w[i] (n units): a pair, or a lone surrogate as itself.
uint32_t next_point(const wchar_t *w, size_t n, size_t *i) {
    uint32_t u = (uint16_t)w[*i];
    (*i)++;
    if (u >= 0xD800 && u <= 0xDBFF && *i < n) {
        uint32_t lo = (uint16_t)w[*i];
        if (lo >= 0xDC00 && lo <= 0xDFFF) {
            (*i)++;
            return 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
        }
    }
    return u;
}

// The tables are built at the first conversion, whether or not
// plat_startup ran first (the unit tests convert without it).
void ready(void) {
    static int done;
    if (!done)
        done = wide_init() == 0;
}

int to_core(const wchar_t *w, size_t len, CodecSink *o) {
    ready();
    for (size_t i = 0; i < len;)
        if (codec_put_core(o, next_point(w, len, &i)) != 0)
            return -1;
    return 0;
}

struct Range {
    uint32_t lo, hi;
};

// Combining marks take no column; East Asian wide and full-width
// characters, and the pictographs, take two.
const Range zero_width[] = {{0x0300, 0x036F}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF},
                            {0x200B, 0x200F}, {0x20D0, 0x20FF}, {0xFE00, 0xFE0F},
                            {0xFE20, 0xFE2F}};
const Range double_width[] = {{0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},
                              {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
                              {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE30, 0xFE4F},
                              {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F},
                              {0x1F900, 0x1F9FF}, {0x20000, 0x3FFFD}};

int in(const Range *r, size_t n, uint32_t cp) {
    for (size_t i = 0; i < n; i++)
        if (cp >= r[i].lo && cp <= r[i].hi)
            return 1;
    return 0;
}

int width(const CodecItem *it) {
    if (it->kind != CODEC_CHAR)
        return 1;
    if (in(zero_width, sizeof zero_width / sizeof *zero_width, it->val))
        return 0;
    if (in(double_width, sizeof double_width / sizeof *double_width, it->val))
        return 2;
    return it->val >= 0x80 && it->len == 2 ? 2 : 1;
}

} // namespace

int codec_ready(void) {
    ready();
    return codec_built();
}

int wide_init(void) {
    // No raw bytes ever come from UTF-16; lone surrogates may.
    codec_external(nullptr, 1);
    return codec_build(decode_932);
}

int core_to_wide(const char *core, size_t len, wchar_t *out, size_t cap, int lenient) {
    const unsigned char *s = (const unsigned char *)core;
    size_t at = 0;
    if (cap == 0)
        return -1;
    ready();
    for (size_t i = 0; i < len;) {
        CodecItem it;
        codec_next(s + i, len - i, &it);
        uint32_t cp = it.val;
        if (it.kind != CODEC_CHAR) {
            if (!lenient)
                return -1;
            cp = REPLACEMENT;
        }
        if (put_unit(out, cap, &at, cp) != 0)
            return -1;
        i += it.len;
    }
    out[at] = 0;
    return (int)at;
}

int wide_to_core(const wchar_t *w, size_t len, char *out, size_t cap) {
    if (cap == 0)
        return -1;
    CodecSink o = {out, 0, cap, 0};
    if (to_core(w, len, &o) != 0) {
        out[0] = '\0';
        return -1;
    }
    out[o.len] = '\0';
    return (int)o.len;
}

char *wide_to_core_dup(const wchar_t *w, size_t len) {
    CodecSink o = {(char *)std::malloc(len + 16), 0, len + 16, 1};
    if (o.p == nullptr)
        return nullptr;
    if (to_core(w, len, &o) != 0) {
        std::free(o.p);
        return nullptr;
    }
    o.p[o.len] = '\0';
    return o.p;
}

int wide_columns(const char *core, size_t len) {
    const unsigned char *s = (const unsigned char *)core;
    ready();
    long long cols = 0;
    for (size_t i = 0; i < len && cols < INT32_MAX;) {
        CodecItem it;
        codec_next(s + i, len - i, &it);
        cols += width(&it);
        i += it.len;
    }
    return cols < INT32_MAX ? (int)cols : INT32_MAX;
}

int wide_sortkey(const wchar_t *name, int folded, char *key, size_t cap) {
    size_t n = wcslen(name), at = 0;
    for (size_t i = 0; i < n;) {
        unsigned long cp = next_point(name, n, &i);
        if (sortkey_put(folded ? sortkey_fold(cp) : cp, key, &at, cap) != 0)
            return -1;
    }
    key[at] = '\0';
    return (int)at;
}

int wide_namesame(const wchar_t *a, size_t an, const wchar_t *b, size_t bn) {
    an = wcsnlen(a, an);
    bn = wcsnlen(b, bn);
    size_t i = 0, j = 0;
    while (i < an && j < bn)
        if (sortkey_fold(next_point(a, an, &i)) != sortkey_fold(next_point(b, bn, &j)))
            return 0;
    return i == an && j == bn;
}
