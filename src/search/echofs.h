// The file system as the run sees it. Every look the core makes during a
// run (a listing, the attributes of a path, whether a name is taken) and
// every change it makes (a move, a new or removed directory, a delete, a
// copy) goes through here.
//
// Outside echo mode each of these is the platform's call, unchanged.
//
// In echo mode (/E) nothing is changed on disk, yet the real run's later
// steps see what its earlier ones did: a counter or a backup name skips
// the names already given out, a directory emptied by a move or a delete
// is removed, a file moved away is not found again, a directory renamed
// is walked under its new name. So that /E shows what the run would do,
// line for line and in its exit status, an echo run keeps the picture of
// what it would have changed, and every later look answers from the disk
// as that picture leaves it.
//
// What is remembered, and the rule that keeps it true: for each directory
// (its full DOS path, letter case ignored) the names made in it and
// the names taken away from it since the run began, each made one with
// the entry a listing would show for it. Every change an echo run would
// make is recorded here and nowhere else; the disk itself does not change
// under an echo run (what others change meanwhile is not foreseen). A
// directory taken away, or made anew, hides what the disk holds below it;
// one respelled in letter case (/L, /L+) shows the disk's contents under
// its new spelling. Paths that are not full DOS paths (X:\...) are never
// in the picture and always go to the platform.
#pragma once

#include "platform/platform.h"

// ---- looks --------------------------------------------------------------------

// Listings with the contract of plat_findfirst and its companions. In echo
// mode a listing shows the names the run would have made, with what they
// would hold, in listing order, and leaves out the ones it would have
// taken away; like the platform's, it is what the directory held when it
// was made (or started over).
struct FsFind;
FsFind *fs_findfirst(const char *pattern, unsigned mask, PlatEntry *entry);
int fs_findnext(FsFind *find, PlatEntry *entry);
int fs_findagain(FsFind *find, PlatEntry *entry);
void fs_findclose(FsFind *find);

// plat_findone as the run sees the path: the one entry it names.
int fs_findone(const char *path, unsigned mask, PlatEntry *entry);

// plat_getattr as the run sees the path.
int fs_getattr(const char *path, unsigned *attrib);

// ---- changes ------------------------------------------------------------------

// Each does what its platform call does, or in echo mode only records it
// and answers as the call would have (the same result and last error:
// 183 when the move's destination is taken, 145 when the directory to
// remove is not empty, 2 or 3 when what is named does not exist).
int fs_move(const char *from, const char *to);
int fs_rmdir(const char *path);
int fs_mkdirlike(const char *path, const char *model);
int fs_mkdirprivate(const char *path);

// Echo mode only (elsewhere they do nothing): the file at path would have
// been deleted (or sent to the recycle bin); src would have been copied to
// dst (how: the COPY_APPEND bit of fileops when appended; zero: /Z cut the
// copy to nothing), and taken away with move. dst gets src's time, mtime
// exactly, and the attributes newattrib.
void fs_deleted(const char *path);
void fs_copied(const char *src, const char *dst, const PlatFileTime *mtime, unsigned newattrib,
               int append, int zero, int move);

// Forgets the picture (a new run in the same process, as tests make).
void fs_forget(void);
