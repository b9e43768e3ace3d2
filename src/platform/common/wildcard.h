// Win32's wildcards, matched on code page 932 names as the core sees them,
// by both backends alike: neither hands a pattern to the system (Wine's own
// matching differs from Windows').
//
// "*.*" matches every name, "*." only names without a dot, "x.*" also x,
// "?" one character or none at the end of a name or before a dot; letter
// case is ignored. A double-byte character or an escape pair is one
// character.
#pragma once

#include <cstddef>

enum { WILD_MAX_TOKENS = 261 };

// A pattern compiled as Windows compiles it before matching: "?" becomes a
// question mark that matches nothing before a dot or at the end, a "*"
// before a dot stops at the name's last dot, and a dot before a wildcard
// or at the end also matches the end of the name.
struct WildToken {
    int kind;
    unsigned code; // a literal: its bytes packed, the first lowest
    int single;    // the literal is one byte
};
struct WildPattern {
    int n;
    WildToken t[WILD_MAX_TOKENS];
};

// 0, or -1 when the pattern has too many characters.
int wild_compile(const char *pattern, WildPattern *p);
// 1 when the name matches. Not re-entrant: a listing is not re-entered.
int wild_match(const WildPattern *p, const char *name);
// 1 when the text holds "*" or "?".
int wild_has(const char *s);

// Splits a listing's pattern (code page 932) at its last separator: its
// directory goes into dir ("C:\x" keeps the root's separator, "C:\dir\x"
// loses the last one; empty for a bare name), and the final component is
// returned, or null when the directory does not fit in dsize bytes.
const char *wild_split(const char *pattern, char *dir, size_t dsize);
