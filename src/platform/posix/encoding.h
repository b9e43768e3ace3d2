// The text boundary of the POSIX backend: conversion between the locale's
// encoding (the "external" encoding) and code page 932, the core's.
//
// The crossing is lossless: what code page 932 cannot hold, and any byte
// that is not valid in the external encoding, travels inside the core as an
// escape pair (platform/common/codec.h) and turns back into the original
// character or byte on the way out.
//
// The code page 932 tables are built once from the C library's converter;
// UTF-8 (and the plain C locale, which counts as UTF-8) is converted by hand,
// so converting a file name costs no converter call there. Other codesets go
// through iconv one character at a time.
#pragma once

#include <cstddef>
#include <cstdint>

// Flag of enc_from_core / enc_from_core_part: write "?" for what cannot be
// written instead of failing. Printing uses it; file names must not.
enum { ENC_LENIENT = 1 };

// Results of the conversions besides a length.
enum {
    ENC_BADTEXT = -1, // not convertible (or no converter set up)
    ENC_NOROOM = -2,  // the result and its terminator do not fit
};

// Sets up the conversion for `codeset` (a name iconv knows), or for the
// locale's codeset (nl_langinfo(CODESET)) when it is null. The tables of
// code page 932 are built at the first call; a later call only changes the
// external encoding. Returns 0, or -1 when the C library has no converter for
// code page 932 or for the codeset, or the codeset does not keep printable
// ASCII as it is (the conversions then fail until a call succeeds).
int enc_init(const char *codeset);

// Closes the converters. A conversion afterwards sets up again for the
// locale's codeset, as it does when enc_init was never called.
void enc_done(void);

// 1 when the external encoding is handled as UTF-8.
int enc_isutf8(void);

// One UTF-8 character at s (n > 0 bytes left) as the standard defines it
// (no overlong forms, no surrogates, nothing above U+10FFFF): its length
// with its code point in *cp, or 0 when the bytes form none.
size_t enc_utf8_char(const unsigned char *s, size_t n, uint32_t *cp);

// Bytes of the code page 932 character at s, of n > 0 bytes left: 4 for an
// escape pair, 2 for any other double-byte character, 1 otherwise. A name
// cut or matched one character at a time never splits a pair this way.
size_t enc_charlen(const char *s, size_t n);

// Columns that len bytes of code page 932 text take once written out
// (leniently) to a terminal, by the locale's character widths: a wide
// character 2, a combining mark 0. A character the locale has no width
// for counts 2 when it is a double-byte character and 1 otherwise, as does
// each byte or "?" written for what the external encoding cannot show.
int enc_columns(const char *src, size_t len);

// Converts len bytes of external text into code page 932 at dst (cap bytes,
// terminator included). Never fails on content. Returns the length written,
// ENC_NOROOM, or ENC_BADTEXT when no converter is set up. The result is at
// most four times len.
int enc_to_core(const char *src, size_t len, char *dst, size_t cap);

// The same into a new terminated malloc buffer; *outlen (when not null)
// receives its length. Null when there is no memory or no converter.
char *enc_to_core_dup(const char *src, size_t len, size_t *outlen);

// Converts len bytes of code page 932 text into the external encoding at
// dst (cap bytes, terminator included). Without ENC_LENIENT a byte sequence
// that is not code page 932, or a character the external encoding cannot
// hold, makes it fail with ENC_BADTEXT. Returns the length written,
// ENC_BADTEXT or ENC_NOROOM.
int enc_from_core(const char *src, size_t len, char *dst, size_t cap, int flags);

// As enc_from_core, but when dst is full it stops at a character boundary
// and returns what it wrote so far; *used receives the number of source
// bytes consumed. Lets a caller convert text of any length through a fixed
// buffer.
int enc_from_core_part(const char *src, size_t len, char *dst, size_t cap, int flags,
                       size_t *used);
