// The order of a listing, the same in both backends: names sorted by their
// characters with letter case folded, as Wine sorts them (Unicode order, the
// byte order of UTF-8), the exact names breaking ties.
//
// A key is a string of code points written as UTF-8, so comparing two keys
// bytewise compares their code points. A backend folds each character of
// a name with sortkey_fold and writes it with sortkey_put; for the tie-break
// it writes the characters unfolded.
#pragma once

#include <cstddef>

enum {
    SORTKEY_SIZE = 4 * 256 + 1, // the key of a name of 255 characters
};
// Something in a name that is no character (a byte that does not decode)
// is kept apart from every character, above them: SORTKEY_RAW + its value.
const unsigned long SORTKEY_RAW = 0x110000;

// The upper case of a code point, from the program's own table
// (upcase.h): the same on every build.
unsigned long sortkey_fold(unsigned long cp);

// Appends v at key[*at]; -1 when it and a terminator do not fit in cap.
int sortkey_put(unsigned long v, char *key, size_t *at, size_t cap);
