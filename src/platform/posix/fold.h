// Names as a listing orders them and a look-up matches them: by their
// characters with letter case folded (see platform/common/sortkey.h), the
// exact names breaking ties. Names here are in the external encoding.
// The lowest layer of the backend's names, with the text boundary
// (encoding.h): the directory cache keys every name it holds with these.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/common/sortkey.h"

// The case-folded sort key of a name: comparing keys bytewise orders
// names as a listing does (ties go to the exact name). Returns the key's
// length, or -1 when it does not fit.
enum { NAME_KEY_SIZE = SORTKEY_SIZE };
int name_fold(const char *name, char *key, size_t cap);

// The order of a listing for two names: by their case-folded keys, the
// exact names breaking ties (<0, 0, >0).
int name_order(const char *a, const char *b);

// 1 when the two names are equal with letter case folded.
int name_same_folded(const char *a, const char *b);

// The hash of a name's folded key: equal for names equal ignoring case.
uint32_t name_fold_hash(const char *name);
