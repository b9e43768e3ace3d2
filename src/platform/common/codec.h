// The code page 932 side of the text boundary, shared by the backends: the
// tables of code page 932 as Windows reads it, and the escape pairs that
// carry what it cannot hold.
//
// What code page 932 cannot hold travels inside the core as an escape: a
// character it has no code for (é, an emoji), any character of Unicode's
// private use area, and whatever the outside has that is no character (a
// byte that is not valid in a byte encoding, a lone surrogate of a UTF-16
// name) become a pair of user-defined-area characters (lead bytes
// 0xF0..0xF9, trail bytes 0x80..0xFC only). Such a pair is never a
// separator, a wildcard, a dot, a colon or an ASCII letter, so the core's
// path handling and case changes leave it alone, and on the way out it
// turns back into the original character or byte.
//
// A backend brings the outside: it builds the tables with the system's own
// decoder, says which escapes its encoding can produce, and converts its
// characters to and from code points.
#pragma once

#include <cstddef>
#include <cstdint>

// No character: a code page 932 code that is not assigned.
const uint32_t CODEC_NOCHAR = 0xFFFFFFFF;

// An escape pair carries one value below CODEC_ESC_LIMIT: a code point, or
// CODEC_ESC_RAW + a byte that was not valid in the external encoding.
const uint32_t CODEC_ESC_RAW = 0x110000;
const uint32_t CODEC_ESC_LIMIT = CODEC_ESC_RAW + 0x100;

// Decodes exactly n bytes (one or two) of code page 932 into one code
// point, or gives CODEC_NOCHAR: the system's converter, asked once per code.
typedef uint32_t (*CodecDecoder)(const unsigned char *code, size_t n);

// Builds the tables once with the decoder. 0, or -1 when the decoder gives
// nothing (no converter for code page 932).
int codec_build(CodecDecoder decode);
int codec_built(void);
// Builds the tables with the backend's own decoder if not yet built (each
// backend defines it); 1 when they are there.
int codec_ready(void);

// What the external encoding can produce, and so which escapes are real:
// same[b] is 1 for an ASCII byte b that stands for itself outside (null: no
// raw bytes at all, as in UTF-16); surrogates is 1 when a lone surrogate
// can occur (UTF-16 names).
void codec_external(const unsigned char *same, int surrogates);

// Where a conversion writes: a caller's buffer (grow 0) or a malloc buffer
// that grows. One byte is always kept for the terminator.
struct CodecSink {
    char *p;
    size_t len;
    size_t cap;
    int grow;
};
int codec_put(CodecSink *o, const void *bytes, size_t n);
// One byte; inline, since a conversion puts most of its text this way.
inline int codec_put1(CodecSink *o, unsigned b) {
    if (o->len + 2 > o->cap) {
        unsigned char c = (unsigned char)b;
        return codec_put(o, &c, 1);
    }
    o->p[o->len++] = (char)b;
    return 0;
}

// 1 when the core writes the code point as itself rather than as an escape.
int codec_holds(uint32_t cp);
// Writes a code point into the core: its code, or an escape.
int codec_put_core(CodecSink *o, uint32_t cp);
// Writes the escape pair of a value below CODEC_ESC_LIMIT.
int codec_put_escape(CodecSink *o, uint32_t v);

// One unit of core text: a character, a raw byte from an escape, or bytes
// that are no code page 932 character.
enum { CODEC_CHAR, CODEC_RAW, CODEC_BAD };
struct CodecItem {
    int kind;
    uint32_t val;
    size_t len;
};
// Reads the unit at s, of n > 0 bytes left.
void codec_next(const unsigned char *s, size_t n, CodecItem *it);

// Bytes of the code page 932 character at s, of n > 0 bytes left: 4 for an
// escape pair, 2 for any other double-byte character, 1 otherwise. A name
// cut or matched one character at a time never splits a pair this way.
size_t codec_charlen(const char *s, size_t n);

// 1 when b is a lead byte of a double-byte character of code page 932.
inline int codec_islead(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
