// Path operations that consult the file system: expansion to a full path
// spelled as on disk, splitting, joining with a found name, attributes and
// the creation of a directory chain. Every buffer is bounded: a path that
// would pass MAX_PATHLEN characters makes the operation fail, never
// overflow. None of these operations prints, the callers report; only
// pathexpand says why a path on the current drive fails when the working
// directory lies on no drive, which no caller could tell.
#pragma once

#include <cstddef>

#include "base/pathstr.h"

// Directories the last mkdirs call created (read right after the call).
extern int mkdircount;

// Splits path into its directory part (dircap bytes) and final component
// (namecap bytes); either buffer may be null. A drive root keeps its
// separator (C:\*.TXT gives C:\ and *.TXT), any other directory part loses
// it (C:\WORK\ gives C:\WORK and ""); C:NAME gives C: and NAME; a bare name
// gives "" and the name. 0, or -1 when a part does not fit or a bare name
// asked for is empty.
int splitpath(const char *path, char *dir, size_t dircap, char *name, size_t namecap);

// out (PATH_SIZE bytes) becomes the full path of in (the current directory
// when in is null or empty): upper-case drive letter, existing components
// spelled as stored, missing ones as typed, a wildcard last component
// upper-cased, no final separator except on a root (C:\). lfn is unused.
// 0, or -1 (unmapped drive, missing root, result too long; a path that
// needs the current drive while the working directory is on no drive,
// after "Error! current directory is on no drive: <native directory>").
int pathexpand(char *out, const char *in, int lfn);

// out (PATH_SIZE bytes) becomes the DOS path that a path in the system's
// own form names (an argument after --, a list line beginning with "/"),
// resolved as the system's shell means it. 0, or -1 after an error line
// that shows the path as given: "Error! <what> is on no drive: <path>",
// "Error! backslash in name: <path>", "Error! name ends in a dot: <path>"
// (or "in a space"), "Error! path too long: <path>".
int nativeexpand(char *out, const char *in, const char *what);

// pathexpand for a path the user typed, looked up as it is spelled: a
// component names the entry of exactly its spelling, else the one entry
// that matches it ignoring case; components that do not exist are
// upper-cased. 1 when a component names no entry exactly and several
// ignoring case: the first two (full paths) are then in first and second
// (PATH_SIZE bytes each). 0, or -1 as pathexpand.
int expandtyped(char *out, const char *in, char *first, char *second);

// out (PATH_SIZE bytes) becomes the current directory of a drive (0 the
// current drive, 1 A, 2 B, ...): C:\ or C:\WORK. 0, or -1.
int curdirpath(char *out, int drive);

// Rebuilds in with every existing component spelled as the directory stores
// it into out (cap characters plus a terminator). A wildcard last component
// is upper-cased, never looked up; from the first missing component on the
// input is kept as typed; a trailing separator is dropped. When the result
// would pass cap characters, out is a copy of in. Returns the length, or -1
// for a null or empty input or one that does not fit cap itself.
int longpath(char *out, size_t cap, const char *in);
// longpath where out already holds what it gave for a path that shares its
// first `known` bytes with in, ending at a separator of both: only the
// components after them are looked up.
int longpathfrom(char *out, size_t cap, const char *in, size_t known);
// The length of the leading whole components a and b share, exactly as
// spelled: where both have a separator, or one ends and the other has one.
size_t sharedcomponents(const char *a, const char *b);

// out (PATH_SIZE bytes) becomes dir, a separator and name, with the name
// respelled as stored when such an entry exists (for a wildcard name, the
// first match). 0, or -1 with out empty when the joined path does not fit.
int joinfound(char *out, const char *dir, const char *name);

// 0 with the attribute word of path, or -1 with the word set to all bits.
int getattr(const char *path, unsigned *attrib);

// Creates every missing directory of path, top one first, counting them
// in mkdircount. 0 when all exist afterwards; -1 when one cannot be created
// (a file in the way, no access), for a bare drive root, or for a path too
// long to handle. Directories made before a failure stay.
int mkdirs(const char *path);
// mkdirs for the copy of the directory model: the last level, when it is
// made, gets model's permission bits (under the umask); the levels above
// it get the default.
int mkdirslike(const char *path, const char *model);

// 1 when an entry of exactly this path exists: a file or a directory,
// read-only, hidden and system ones included. Names that would be taken.
int pathtaken(const char *path);

// 1 when both paths lie on the same drive; a path without "X:" lies on the
// drive of the current directory.
int samedrive(const char *p, const char *q);
