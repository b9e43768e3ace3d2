// The directories the backend works in, each resolved once: its native
// path, a descriptor that the *at calls act through (so that a file is
// reached from its directory, not by walking its whole path again), and
// what the backend knows of the names it holds, kept true by the backend's
// own creates, renames and removals.
//
// A name is looked for exactly, by one fstatat, until the directory has
// been read whole (getdents): for a name that must be found ignoring case,
// or for a listing. A directory this run made starts out known and empty.
// What a listing learnt of an entry (its stat and its DOS marks) may be
// relied on while that listing is open, so that the services the walk
// calls for the entry need not ask the kernel the same question again.
//
// A change made by someone else is noticed where it matters: a name not
// found in a directory read before is looked for again after a look at
// the directory's change times (unless this run made the directory), and
// a file that takes a name after the look meets the no-replace rename of
// every write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/posix/entry.h"
#include "platform/posix/native.h"

struct Dir;

// The directory at a native absolute path (links followed), from the cache
// or opened now. Null with errno set when it cannot be (ENOENT, ENOTDIR,
// EACCES...). Valid until the next call that may open or drop directories,
// unless held.
Dir *dir_get(const char *native);
// The directory at a native path if it is cached, else null (no call).
Dir *dir_cached(const char *native);
void dir_hold(Dir *d);
void dir_release(Dir *d);

const char *dir_native(const Dir *d);
// What d is open on (device and inode), once it has been opened.
PlatFileId dir_identity(const Dir *d);
// The descriptor of d for the *at calls (O_RDONLY, or O_PATH for a
// directory that may be searched but not read), or -1 with errno set.
int dir_fd(Dir *d);

// Looks name (external bytes) up in d: the entry of exactly that name,
// else the first in listing order that matches it ignoring case, and
// learns what learn (KNOWN_* bits) asks of it now. 1 with its index in
// *index, 0 when nothing matches (or it went before it could be looked
// at), -1 with errno set when d cannot be read.
int dir_lookup(Dir *d, const char *name, int *index, unsigned learn);
// The entry of exactly this name as far as d knows it now, without a
// call: its index, or -1.
int dir_peek(const Dir *d, const char *name);
// Counts the backend's own changes of d's names.
unsigned long dir_changes(const Dir *d);
// 1 when d still is the cached directory of its path.
int dir_current(const Dir *d);
const char *dir_name(const Dir *d, int index);
NameInfo *dir_info(Dir *d, int index);

// Looks at the entry again (want: KNOWN_* bits) with fstatat and the
// extended attribute. 0, or -1 with errno set: ENOENT when it has gone
// (and it is forgotten then).
int dir_learn(Dir *d, int index, unsigned want);
// 1 when what is known of the entry (want bits) was learnt by a listing
// that is still open.
int dir_trusted(const Dir *d, int index, unsigned want);

// A listing of d: reads it whole (learning want of every entry) and gives
// the indexes of its live entries. Returns the directory that holds them,
// held for the listing (d, or a new one for the same path when a listing
// still holds d), or null with errno set. dir_unlist ends the listing.
Dir *dir_list(Dir *d, unsigned want, std::vector<uint32_t> *entries);
void dir_unlist(Dir *d);

// The backend changed d: the entry name was created (isdir: a directory)
// or removed, or a directory it made itself (known, and empty).
void dir_added(Dir *d, const char *name, int isdir);
void dir_removed(Dir *d, const char *name, int isdir);
void dir_made(Dir *d, const char *name);
// Someone else made the entry name in d (a create of the backend found it
// there): it is looked at when it is asked for next.
void dir_found(Dir *d, const char *name);

// Holds the directory at the native path open until dir_unpin, so that
// every later call that names it acts on that one directory, whatever is
// renamed meanwhile, and directories below it are opened only from their
// parent's descriptor, never through a link, and only while they are what
// their parent's last look saw (else they fail with ESTALE). A directory
// the user named (named) is reached as named, and what was cached below
// it by name is looked at again; any other is reached from its parent.
// When seen is given (what a look at it found there) it must be that one,
// and a named one is then reached without following a final link
// (ESTALE). 0, or -1 with errno set.
int dir_pin(const char *native, int named, const PlatFileId *seen);
// Ends the innermost hold.
void dir_unpin(void);
// 1 when a held directory lies above the native path, else 0.
int dir_pinned_above(const char *native);

// Forgets every directory at or below the native path ("/": all).
void dir_forget_below(const char *native);
// Counts of the directories forgotten and made, so that what was resolved
// before can tell whether it still holds.
unsigned long dir_generation(void);
unsigned long dir_makes(void);

// Changes whenever a directory this cache handed out may have stopped being
// the cached directory of its path (dropped, read again in a copy, to be
// looked at again): a Dir kept by a caller is that one while the count it
// had stays.
unsigned long dir_epoch(void);

// From now on each cached directory is looked at again before it is used:
// dropped when it has been removed or replaced at its path since it was
// opened, and its names read afresh. For the paths a user types, which
// are resolved against the disk as it is now.
void dir_recheck(void);

// How many times a directory has been read whole (tests use it to prove
// that probes do not read again).
unsigned long dir_reads(void);
