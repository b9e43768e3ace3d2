// The rename format ("=format"): a new name for every file, built from
// pieces of its old name, today's date and a counter that is raised until
// the name is free.
#pragma once

// Today's local date as eight digits, yyyymmdd, shared by every file of a
// run so that a walk across midnight still names its files alike.
extern char todaystr[9];

// Reads the local date into todaystr.
void settoday(void);

// Builds the new full path of the file whose path under its old name is
// `path` into out (PATH_SIZE bytes; it may be path itself). `path` is
// scratch: it is cut at the dot before its extension.
//
// Returns 0 with out = the directory part of path followed by the new name
// (with $N: the first counter value whose path names no file or
// directory). Returns -1 with out emptied:
// - silently when path has no file name or only an extension (.PROFILE),
//   or the format ends right after a modifier ("$4", "$-4");
// - after "Error! unknown macro: <...>" for a "$" without a macro letter,
//   and for a second $N (the counter can only stand in one place);
// - after "Error! length of filename is too long: ..." when the name would
//   pass 256 characters or the path 260, counting the counter's width or,
//   when a value takes more digits, the digits it takes;
// - after "Error! number is out of range: <bound>" when every counter
//   value is taken;
// - after "Error! empty filename: <path>" when the format gives no name at
//   all, or only "." or "..";
// - after "Error! path separator in filename: ..." when the name holds "\"
//   or "/": a new name stays in its file's directory.
int formatname(char *out, char *path, const char *format);
