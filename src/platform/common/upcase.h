// The upper case of a code point as every name is folded, one table of the
// program's own (upcase.cpp, written by tools/gen-upcase.py), so that both
// builds fold alike whatever their C runtime knows.
//
// A character folds to its upper case where that is one character, never
// from beyond ASCII into it: the dotless i (U+0131) and the long s (U+017F)
// stay themselves, as Windows keeps them, so a name spelled with them is
// not the name spelled with I or S. Letters whose upper case is two
// characters (the sharp s) stay themselves too.
#pragma once

#include <cstddef>

unsigned long upcase_cp(unsigned long cp);
