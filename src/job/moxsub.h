// Job set-up: the source and destination of a run, the run counters with
// their summary, and the small file actions the engine shares.
#pragma once

#include <cstddef>

#include "base/param.h"
#include "search/xfind.h"

// ---- source (source.cpp) ------------------------------------------------------

extern int isLFNmode; // handed to pathexpand; never changes the result

// Turns the source argument (upper-cased in place) into srcbasedir,
// srcmask, srctype and srccurdir. 0, or -1 after its message.
int expandsrc(char *arg, PARAM *param);

// The base directory of a source list from its first entry. 0, or -1 (the
// caller reports).
int getlistbase(const char *entry, char *out, size_t size);

// ---- destination (dest.cpp) ---------------------------------------------------

// Give newly made destination directories lower / upper case names (/S
// with /L or /L+); set by the run driver.
extern int dstdirlower, dstdirupper;

// Expands, checks and (unless /DEL) creates the destination (in echo mode
// only recorded as made); fills dstbasedir, dstcurdir and dstbaselen. A
// destination holding "*" or "?" is refused. 0, or -1 after its message.
int setupdst(PARAM *param, const char *arg);
// The same for one directory into out; one it creates is made like the
// directory model (null: the default mode).
int checkdstdir(char *out, const char *arg, const char *model);

// Rebuilds dstcurdir as the counterpart of the source directory srcdir
// below dstbasedir, creating it when needed. 0; DSTDIR_TOOLONG when the
// counterpart would pass 260 characters, DSTDIR_LINK when it or a directory
// above it below the base is a symbolic link (that directory is to be
// skipped, the walk goes on); -1 after its message otherwise.
enum { DSTDIR_TOOLONG = -2, DSTDIR_LINK = -3 };
int makedstcurdir(const char *srcdir, const char *srcbasedir, char *dstcurdir, int dstbaselen);

// ---- counters and small actions (counters.cpp) --------------------------------

extern unsigned filesdone, filesfailed, filesskipped, filesdeleted;

// The summary after the walks; hasdst: files count as copied, else renamed.
void printcounters(int hasdst);

// Deletes a file (/DEL) with its console line and counts it. Always 0.
int deletefile(const char *path, const char *text);
// Sends a file to the recycle bin (/DEL+) and counts it. Always 0.
int recyclefile(const char *path, const char *text);

// 1 when the name's extension is all digits (README.000, README.), else 0.
int isnumext(const char *name);

// The free-space test before a write: checkfree's result, with the message
// for "not enough".
int checkspace(unsigned long long needed, const char *path);

// Gives the directory entry dir\name the case of /L or /L+ (in echo mode
// the rename is only recorded) and reports the change. oldpath and newpath are PATH_SIZE
// buffers that receive the two spellings. Always 0.
int casedir(char *oldpath, char *newpath, const char *dir, const char *name);

// Renames a file or directory; never replaces an existing entry. Non-zero
// on success, 0 on failure (as the platform's move reports it). In echo
// mode the rename is only recorded (fs_move), and fails as it would.
int movefile(const char *from, const char *to);

void getfindinfo(unsigned *attrib, unsigned *date, unsigned *time, unsigned long long *size,
                 const XFINDENTRY *entry);
// 0 when date, time and size all equal the entry's, else -1.
int samefindinfo(unsigned date, unsigned time, unsigned long long size, const XFINDENTRY *entry);

// ---- key directories (keydir.cpp) ---------------------------------------------

// /S+ and /G+: extends dstbasedir by the source base's last directory
// unless the destination already ends in it. 0, or non-zero after its
// message.
int matchkeydir(PARAM *param);
