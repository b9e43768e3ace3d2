// The trash directory \TRASH$$$ of each drive (/DEL!) and the recycle bin
// (/DEL+).
#pragma once

extern unsigned trashcount; // files moved to a trash directory

// Finds a free name for a file whose place in the trash is taken: the
// numbered backup names, handed down by the run driver (they live a layer
// above). 0 with the name in out (PATH_SIZE bytes), or -1 after a message.
typedef int (*TRASHNAMEFUNC)(char *out, const char *path);

// The trash's work buffers for the run, and how it names a second file of
// one name. 0, or -1 after a message.
int trashinit(TRASHNAMEFUNC altname);
void trashfree(void);

// Moves the file at path into \TRASH$$$ of its drive. 0, or -1 after a
// message (the file then stays where it was).
int totrash(const char *path);

// 1 when path lies inside the trash directory of its own drive: a walk
// that meets the trash leaves what is in it alone.
int intrashdir(const char *path);
// 1 when path is the trash directory of its own drive, or lies inside it.
int trashtree(const char *path);

// Sends the file at path to the recycle bin. 0, or -1 after a message (the
// file then stays where it was).
int torecycle(const char *path);
