// Copying, appending, zero-sizing and moving single files with their times
// and attributes.
#pragma once

#include "platform/platform.h"

extern char *copybuf;    // the run's transfer buffer; null while none is held
extern int copybufsize;  // its size; 0 when none

// 0, or -1 after "Error! memory allocate for copybuf failed".
int alloccopybuf(void);
void freecopybuf(void);

// How copyormove and filecopy write: their last argument, 0 or these bits.
enum {
    COPY_APPEND = 1, // /I: add to the end of dst
    COPY_NEW = 2,    // dst was absent when looked at: a file that took the
                     // name since is never replaced (COPY_APPEARED)
    COPY_SHOWN = 4,  // the per-file line is out already (a second attempt)
    COPY_CHECKED = 8, // the caller made sure that dst is not src itself
    COPY_WHOLE = 16,  // the data goes along even with /Z: a copy set aside
                      // keeps what the old file held
};
// The result when, with COPY_NEW, a file had taken the name by the time of
// the final rename: nothing was written or moved, and the caller decides
// again with that file present.
enum { COPY_APPEARED = 1 };

// Copies (or with /M moves, with /I appends, with /Z empties) src to dst,
// printing "  text" first; in echo mode only prints. dst gets the
// modification time mtime (the source's, exactly) and the attributes
// newattrib; srcattrib is the source's own word. A file replaced at dst is
// replaced whole or not at all; a failed append leaves it as long as it
// was; a moved source is deleted only if nobody wrote to it while it was
// copied. 0, COPY_APPEARED, or -1 after a message.
int copyormove(const char *src, const char *dst, const char *text, const PlatFileTime *mtime,
               unsigned newattrib, unsigned srcattrib, int how);

// The data copy under copyormove. A new file gets src's permission bits
// under the umask, a replaced one keeps its own. A symbolic link being
// moved (/M) is copied as a link with its target text, never read through.
// 0, COPY_APPEARED, or -1 after a message.
int filecopy(const char *src, const char *dst, const PlatFileTime *mtime, unsigned newattrib,
             int how);

// Deletes the source of a finished move: only the file the last filecopy
// read, as it was when the copy opened it (size, write and change times),
// never one renamed over it since; any file when that copy read nothing
// (zero-byte mode). 0; 1 when it changed, or is another file, and stays;
// -1 when it cannot be deleted.
int removesource(const char *src);

// 1 when the files at a and b hold the same bytes, read side by side up
// to the first difference; 0 when they differ or either cannot be read.
int samebytes(const char *a, const char *b);

// 1 when a copy made this way writes no data: /Z, unless COPY_WHOLE.
int emptied(int how);

// Sets the attribute word; non-zero on success.
int setattrib(const char *path, unsigned attrib);

// 1: forget the last error. Otherwise: show the system's text for it on
// standard error as "GetLastError: <text>", then forget it.
void showlasterror(int flag);
