// Path strings: terminated byte strings in code page 932 (Shift_JIS as
// Windows extends it). A double-byte character's second byte may be 0x5C,
// the separator, or an ASCII letter, so every separator search, cut and
// case change here knows which bytes start or end a double-byte character.
#pragma once

#include <cstddef>

#include "base/param.h"

// Kind of byte at index i of s: 0 single-byte character, 1 lead byte,
// 2 trail byte, -1 when i is outside the string.
int mbtype(const char *s, int i);

// Bytes of the character at s: 4 for an escape pair (two user-defined-area
// characters, lead bytes 0xF0..0xF9, that together carry one character code
// page 932 has no code for, such as an accented letter or an emoji), 2 for
// any other double-byte character, 1 otherwise (also for a lead byte with
// no trail byte after it), 0 at the terminator.
int mbcharlen(const char *s);

// Width of the character at s in half-width columns, the unit in which
// pieces of names are counted: 2 for a double-byte character, 1 for an
// escape pair (the one character it carries) and for a single byte, half-
// width katakana included; 0 at the terminator.
int mbcharwidth(const char *s);

// ASCII upper case of one character; every other byte as it is.
inline int upcase(int c) {
    return (c >= 'a' && c <= 'z') ? c - 0x20 : c;
}

// ASCII case change in place, stepping over double-byte characters.
char *mbstrupr(char *s);
char *mbstrlwr(char *s);

// First / last occurrence of the single-byte character c, never the second
// byte of a double-byte character; null when there is none.
char *mbstrchr(const char *s, int c);
char *mbstrrchr(const char *s, int c);

// Copies that allow overlapping buffers. strcopyn copies n bytes and puts a
// terminator at position n.
char *strcopy(char *dst, const char *src);
char *strcopyn(char *dst, const char *src, size_t n);
char *strappend(char *dst, const char *src);

// Bounded forms for fixed buffers: copy / append only when the result fits
// in size bytes with its terminator; 0 on success, -1 (dst unchanged) when
// it would not fit.
int pathcopy(char *dst, size_t size, const char *src);
int pathappend(char *dst, size_t size, const char *src);

// Append / remove one trailing separator; both return the new length. A
// final 0x5C that ends a double-byte character is not a separator.
// addbackslash needs room for one more byte.
int addbackslash(char *path);
int delbackslash(char *path);

int isroot(const char *path); // "X:\" exactly
int iswild(const char *s);    // holds "*" or "?"

// Same path apart from letter case (plat_namesame) and one trailing
// separator.
int samepath(const char *a, const char *b);
