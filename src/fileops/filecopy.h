// Copying, appending, zero-sizing and moving single files with their times
// and attributes.
#pragma once

#include "platform/platform.h"

extern char *copybuf;    // the run's transfer buffer; null while none is held
extern int copybufsize;  // its size; 0 when none

// 0, or -1 after "Error! memory allocate for copybuf failed".
int alloccopybuf(void);
void freecopybuf(void);

// Copies (or with /M moves, with /I appends, with /Z empties) src to dst,
// printing "  text" first; in echo mode only prints. dst gets the
// modification time mtime (the source's, exactly) and the attributes
// newattrib; srcattrib is the source's own word. A file replaced at dst is
// replaced whole or not at all; a failed append leaves it as long as it
// was. 0, or -1 after a message.
int copyormove(const char *src, const char *dst, const char *text, const PlatFileTime *mtime,
               unsigned newattrib, unsigned srcattrib, int append);

// The data copy under copyormove. A new file gets src's permission bits
// under the umask, a replaced one keeps its own. 0, or -1 after a message.
int filecopy(const char *src, const char *dst, const PlatFileTime *mtime, unsigned newattrib,
             int append);

// Sets the attribute word; non-zero on success.
int setattrib(const char *path, unsigned attrib);

// 1: forget the last error. Otherwise: show the system's text for it on
// standard error as "GetLastError: <text>", then forget it.
void showlasterror(int flag);
