#include "platform/common/codec.h"

#include <cstdlib>
#include <cstring>

namespace {

typedef unsigned char u8;

// Each of the two characters of an escape pair carries an index below
// ESC_SPAN: ten lead bytes times the 125 trail bytes 0x80..0xFC.
const uint32_t ESC_TRAILS = 125;
const uint32_t ESC_SPAN = 10 * ESC_TRAILS;

// Code page 932 as Windows reads it. dec1 maps single bytes (NOCHAR where
// invalid), dec2 double-byte codes (0 where unassigned), enc a code point of
// the basic plane to the one code written for it (0 when there is none).
uint32_t dec1[256];
uint16_t dec2[0x10000];
uint16_t enc[0x10000];
int tables_built;

// The external side (codec_external).
const u8 *ext_same;
int ext_surrogates;

int islead(u8 b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
int istrail(u8 b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); }
int ispua(uint32_t cp) { return cp >= 0xE000 && cp <= 0xF8FF; }
int isesc(u8 lead, u8 trail) {
    return lead >= 0xF0 && lead <= 0xF9 && trail >= 0x80 && trail <= 0xFC;
}

// Several codes of the NEC and IBM extensions decode to one character.
// Windows writes the JIS X 0208 code first, then NEC row 13, then the IBM
// extension, and the NEC-selected copy of the IBM extension last.
int rank(unsigned code) {
    unsigned lead = code >> 8;
    if (lead == 0x87)
        return 1;
    if (lead >= 0xFA && lead <= 0xFC)
        return 2;
    if (lead == 0xED || lead == 0xEE)
        return 3;
    return 0;
}

// Codes are offered in ascending order; among equals the lowest stays. The
// user-defined area is never written for a private-use character: that one
// travels as an escape, like any character without a code.
void offer(uint32_t cp, unsigned code) {
    if (cp < 0x80 || cp > 0xFFFF || ispua(cp))
        return;
    if (enc[cp] == 0 || rank(code) < rank(enc[cp]))
        enc[cp] = (uint16_t)code;
}

// Only a pair that the conversion into the core could have written counts
// as an escape. A pair put together from halves of two others (a name cut
// and joined) must not turn into "/", NUL or any character the core would
// have written directly.
int escape_value(const u8 *s, uint32_t *v) {
    uint32_t hi = (s[0] - 0xF0u) * ESC_TRAILS + (s[1] - 0x80u);
    uint32_t lo = (s[2] - 0xF0u) * ESC_TRAILS + (s[3] - 0x80u);
    *v = hi * ESC_SPAN + lo;
    if (*v >= CODEC_ESC_LIMIT)
        return 0;
    if (*v >= CODEC_ESC_RAW)
        return ext_same != nullptr && (*v - CODEC_ESC_RAW >= 0x80 || !ext_same[*v - CODEC_ESC_RAW]);
    if (*v >= 0xD800 && *v <= 0xDFFF)
        return ext_surrogates;
    return !codec_holds(*v);
}

} // namespace

// The encoding table is the inverse of decoding, not the system's own
// encoder: that one also writes codes for characters that decode to
// something else (U+00A5 as 0x5C, a separator), which would neither
// round-trip nor be safe in a path.
int codec_build(CodecDecoder decode) {
    if (tables_built)
        return 0;
    int any = 0;
    for (unsigned b = 0; b < 256; b++) {
        u8 c = (u8)b;
        dec1[b] = b < 0x80 ? b : islead(c) ? CODEC_NOCHAR : decode(&c, 1);
        if (dec1[b] != CODEC_NOCHAR)
            offer(dec1[b], b);
    }
    for (unsigned lead = 0x81; lead <= 0xFC; lead++) {
        if (!islead((u8)lead))
            continue;
        for (unsigned trail = 0x40; trail <= 0xFC; trail++) {
            u8 code[2] = {(u8)lead, (u8)trail};
            if (!istrail(code[1]))
                continue;
            uint32_t cp = decode(code, 2);
            if (cp == CODEC_NOCHAR || cp == 0 || cp > 0xFFFF)
                continue;
            dec2[lead << 8 | trail] = (uint16_t)cp;
            offer(cp, lead << 8 | trail);
            any = 1;
        }
    }
    if (!any)
        return -1;
    tables_built = 1;
    return 0;
}

int codec_built(void) { return tables_built; }

void codec_external(const unsigned char *same, int surrogates) {
    ext_same = same;
    ext_surrogates = surrogates;
}

int codec_put(CodecSink *o, const void *bytes, size_t n) {
    if (o->len + n + 1 > o->cap) {
        if (!o->grow)
            return -1;
        size_t cap = o->cap * 2 + n + 16;
        char *p = (char *)std::realloc(o->p, cap);
        if (p == nullptr)
            return -1;
        o->p = p;
        o->cap = cap;
    }
    std::memcpy(o->p + o->len, bytes, n);
    o->len += n;
    return 0;
}

int codec_holds(uint32_t cp) {
    return cp < 0x80 || (cp <= 0xFFFF && !ispua(cp) && enc[cp] != 0);
}

int codec_put_escape(CodecSink *o, uint32_t v) {
    uint32_t hi = v / ESC_SPAN, lo = v % ESC_SPAN;
    u8 pair[4] = {(u8)(0xF0 + hi / ESC_TRAILS), (u8)(0x80 + hi % ESC_TRAILS),
                  (u8)(0xF0 + lo / ESC_TRAILS), (u8)(0x80 + lo % ESC_TRAILS)};
    return codec_put(o, pair, 4);
}

int codec_put_core(CodecSink *o, uint32_t cp) {
    if (!codec_holds(cp))
        return codec_put_escape(o, cp);
    unsigned code = cp < 0x80 ? cp : enc[cp];
    if (code < 0x100)
        return codec_put1(o, code);
    u8 two[2] = {(u8)(code >> 8), (u8)code};
    return codec_put(o, two, 2);
}

void codec_next(const unsigned char *s, size_t n, CodecItem *it) {
    u8 b = s[0];
    it->kind = CODEC_CHAR;
    it->len = 1;
    it->val = b;
    if (b < 0x80)
        return;
    if (!islead(b)) {
        it->val = dec1[b];
        if (it->val == CODEC_NOCHAR)
            it->kind = CODEC_BAD;
        return;
    }
    if (n < 2 || !istrail(s[1])) {
        it->kind = CODEC_BAD;
        return;
    }
    if (n >= 4 && isesc(s[0], s[1]) && isesc(s[2], s[3]) && escape_value(s, &it->val)) {
        it->len = 4;
        if (it->val >= CODEC_ESC_RAW) {
            it->kind = CODEC_RAW;
            it->val -= CODEC_ESC_RAW;
        }
        return;
    }
    it->len = 2;
    it->val = dec2[b << 8 | s[1]];
    if (it->val == 0)
        it->kind = CODEC_BAD;
}

size_t codec_charlen(const char *src, size_t n) {
    const u8 *s = (const u8 *)src;
    if (n < 2 || !islead(s[0]) || !istrail(s[1]))
        return 1;
    return n >= 4 && isesc(s[0], s[1]) && isesc(s[2], s[3]) ? 4 : 2;
}
