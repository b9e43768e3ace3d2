// What every layer of the core shares: the path buffer sizes, the entry
// the directory search hands to its callbacks, the job record and the run
// settings. It sits below every subsystem that reads them, so that includes
// point one way only (front, engine, job, names and fileops, sys, search,
// then this, then the platform layer).
#pragma once

#include "platform/platform.h"

enum {
    MAX_PATHLEN = 260, // characters in a path, terminator not counted
    PATH_SIZE = 261,   // bytes of a path buffer
};

// One entry as the search reports it; handed to the callbacks by value.
struct XFINDENTRY {
    unsigned reserved;       // the listing's; callbacks ignore it
    unsigned long long size; // bytes
    unsigned attrib;         // 0x01 read-only 0x02 hidden 0x04 system 0x10 dir 0x20 archive
    unsigned short time;     // last write, local, DOS time word
    unsigned short date;     // last write, local, DOS date word
    PlatFileTime mtime;      // last write exactly: what a copy is given
    char name[PATH_SIZE];    // the name as stored
};

// Called with the directory being searched (a full path without a final
// separator; a drive root reads "C:"), the entry and the caller's pointer.
// Returns 0 to go on, or XFIND_* bits.
typedef int (*XFINDFUNC)(const char *dir, XFINDENTRY entry, void *user);

// Source classification bits of PARAM::srctype.
enum {
    SRCTYPE_MULTI = 0x01, // a wildcard pattern
    SRCTYPE_NAME = 0x04,  // a plain name
    SRCTYPE_DIR = 0x08,   // a directory
    SRCTYPE_ROOT = 0x20,  // a drive root
};

enum { FORMAT_SIZE = 80, MASK_SLOTS = 21, MAX_MASKS = 20 };

// The job record: one per run, owned by the entry point, handed by pointer
// to everything that works on the job.
struct PARAM {
    int attrib;               // search attribute mask; 3 admits read-only and hidden
    char *srcbasedir;         // full path of the source base directory
    char *srccurdir;          // source directory being walked
    char *srcmask;            // file name pattern searched in the source tree
    char *dstbasedir;         // destination base directory; empty: none given
    char *dstcurdir;          // destination matching srccurdir; empty: none given
    int srctype;              // SRCTYPE_* bits
    int dstbaselen;           // strlen(dstbasedir)
    char format[FORMAT_SIZE]; // rename format without its "="
    char *skipextmask[MASK_SLOTS];
    char *skipdirmask[MASK_SLOTS];
    int date1, date2;    // /D range as DOS date values; 0 = unset
    PlatFileId srcbaseid; // the source base directory as it was looked at when
                          // named: the walk holds that one; zero when not looked at
    XFINDFUNC entryfunc; // where the skip-mask filter passes accepted entries
};

// Run settings. 1 = on; the tri-states hold -1 while not given.
extern int opt_attrib;      // /A /A-     copy attributes (default on)
extern int opt_backup;      // /B /B-     numbered backups (tri-state)
extern int opt_chkdrive;    // /C /C-     free-space check (default on)
extern int opt_date;        // /D...      date range search
extern int opt_delete;      // /DEL       delete source files
extern int opt_recycle;     // /DEL+      source files to the recycle bin
extern int opt_trash;       // /DEL!      source files to \TRASH$$$
extern int opt_extforth;    // /F /F-     number in place of the extension
extern int opt_gather;      // /G /G+ /G- gather the tree into one directory
extern int opt_keymatch;    // /S+ /G+    match a key directory
extern int opt_incremental; // /I /I-     append to the same-named file
extern int opt_lower;       // /L /L-     lower-case names
extern int opt_upper;       // /L+ /L-    upper-case names
extern int opt_move;        // /M...      delete each source after copying
extern int opt_moveplus;    // /M+        remove emptied source directories
extern int opt_rmdir;       // /M! /M-    remove the source base (tri-state)
extern int opt_noover;      // /N /N-     only files missing at the destination
extern int opt_overonly;    // /O /O-     only files present at the destination
extern int opt_structure;   // /S /S+ /S- mirror the tree (tri-state)
extern int opt_update;      // /U /U-     only newer sources
extern int opt_verbose;     // /V+        debug trace
extern int opt_quiet;       // /V-        no skip lines or secondary counts
extern int xfind_trace;     // /V /V+     search trace level 0..2
extern int opt_yes;         // /Y /Y-     answer yes to confirmations
extern int opt_zerobyte;    // /Z         cut destinations to zero bytes
extern int opt_null;        // --null     list entries end with NUL, not a line end
extern int checkmode;       // /CHECK     dump and ask before running
extern int renamemode;      // derived: a format or a case change applies
extern int recursemode;     // derived: the walk descends
extern int rmsubdir;        // derived: the walk removes emptied directories

extern const char *progname; // the name the program was started by
extern int isRedirected;     // standard output is not a character device

// 1 when any of the delete modes (/DEL, /DEL!, /DEL+) is in force.
int deletemode(void);

// The case conversion for new names: mbstrlwr (/L), mbstrupr (/L+) or none.
// Set by the run driver before the walk.
extern char *(*casechange)(char *);

// Puts every run setting back to its default (for tests running several
// command lines in one process).
void resetsettings(void);

// Allocates the five path buffers of a fresh record; 0, or -1 when memory
// ran out (the record is then still safe to hand to freeparam).
int initparam(PARAM *param);
void freeparam(PARAM *param);
