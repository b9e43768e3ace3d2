// The directory search: the program's only loop over files. xfind lists
// the entries of a directory that match a pattern, hands each to a
// callback, then walks the subdirectories depth-first and, when asked,
// removes each directory after its contents.
#pragma once

#include "base/param.h"

enum {
    XFIND_ABORT = 0x02,       // end the whole search (xfind_errcode 253)
    XFIND_DIR_SKIP = 0x04,    // leave this directory: no more entries, no subdirectories, no removal
    XFIND_SUBDIR_SKIP = 0x08, // a mark for the trace only; the subdirectory is still searched
};

enum {
    ERROR_FUNC = 253,        // a callback asked to abort
    ERROR_NOPATH = 255,      // no pattern and no path
    ERROR_INVALIDPATH = 264, // the path cannot be split or expanded
};

// Why the last search failed; 0 when none. Never cleared by the search: the
// caller clears it after reporting. While it is set, every search stops
// after the file phase of its starting directory and returns -1.
extern int xfind_errcode;

// 1: the removal of emptied directories spares the starting directory of a
// search (a move told to keep its source base). Run-wide; 0 at start.
extern int xfind_keepstart;
// When not zero, the starting directory of the next search must be this
// one (device and inode, as a look at the directory the user named gave
// it): a link or another directory found there instead is reported as
// changed and nothing in it is touched. The next search takes it and sets
// it back to zero.
extern PlatFileId xfind_startid;
// When set, a subdirectory for which it returns 1 is neither walked nor
// counted (the run driver leaves the trash of /DEL! out). Run-wide.
extern int (*xfind_passover)(const char *dir);

// When set, a subdirectory whose name differs only in case from the
// subdirectory listed before it (the listing puts such twins side by side)
// is handed to it with its parent and the first twin's name; when it
// returns 1, the directory is walked with no callback and nothing below it
// removed: its files are counted as found and as refused. Run-wide.
extern int (*xfind_twindir)(const char *dir, const char *first, const char *second);

// Searches path for pattern (or, with no pattern, the directory part of
// path for its final component). mask is the attribute mask of the listing;
// all = 0 hands out only the first entry of each directory; recurse walks
// the subdirectories; rmdirs (with recurse) removes every directory after
// its contents when it can (in echo mode it counts it as removed when the
// run would have emptied it, and leaves it).
// callback may be null (entries are only counted). Returns 0 when a file of the starting directory itself was
// handed out, 1 when none was, -1 on error (xfind_errcode says why).
//
// Links to directories (attribute 0x400) are never handed out, entered or
// removed; the walk prints "skip!(link): <dir\name>" for each (not with
// /V-). An entry whose joined path would pass 260 characters is reported
// as "Error! path too long: dir\name" and skipped. A directory that cannot
// be read is reported once as "Error! directory read failed: dir (reason)",
// and neither descended into nor removed. A name holding a backslash of
// its own is reported once as "Error! backslash in name: dir\name" (the
// backslash shown as \x5c) and skipped. Each directory is held while the
// walk works in it (plat_holddir); a subdirectory that is no longer the
// one its listing saw (another process swapped it for a link, say) is
// reported as "Error! directory changed while in use: dir\name" and
// nothing below it is touched. The last three count as unlisted.
int xfind(const char *path, const char *pattern, int mask, int all, int recurse, int rmdirs,
          XFINDFUNC callback, void *user);

// Prints "Error! xfind() abort. NAME (code = N)" for xfind_errcode.
void xfinderror(void);

unsigned xfind_files(void);   // files handed out by the last search
unsigned xfind_dirs(void);    // subdirectories entered by the last search
unsigned xfind_rmdirs(void);  // directories removed since the start of the run
unsigned xfind_toolong(void); // entries skipped as too long since the start of the run
// Directories that could not be read and names that cannot be spelled,
// since the start of the run.
unsigned xfind_unlisted(void);
// Files of the directories xfind_twindir refused, since the start of the run.
unsigned xfind_refused(void);
void xfind_settrace(int level);
