// The picture an echo run keeps of what it would have changed (see
// echo.cpp), and how a look is answered from it: picturetable.cpp keeps
// the table, picture.cpp answers the looks, echo.cpp records the changes
// and is the door of echo mode. Only those include this; the rest of the
// core goes through the door (runfs.h).
//
// An echo walk asks about every file it meets, so the table answers the
// common questions (is this directory in the picture at all, what does it
// hold under this one name) without allocating: directories and names are
// found by the hash of their text with letter case ignored, and
// every text the picture keeps is stored once, in blocks that live until
// runfs_forget.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "runfs/runfs.h"

namespace picture {

enum { MADE = 1, GONE = 2 };

// Every kind of entry: a name is taken by any of them.
const unsigned ANY = PLAT_ATTR_HIDDEN | PLAT_ATTR_SYSTEM | PLAT_ATTR_DIRECTORY;

// What a listing shows of an entry the run would have made.
struct Shown {
    unsigned attrib = 0;
    unsigned long long size = 0;
    unsigned short time = 0, date = 0;
    PlatFileTime mtime = {0, 0};
};

struct Dir;

// One name of a directory that the run would have changed.
struct Node {
    const char *name = nullptr; // exactly as it would be stored
    int state = 0;              // MADE or GONE
    int isdir = 0;
    int ondisk = 0;    // the disk holds exactly this name (so its listing shows it)
    int showsdisk = 0; // a directory respelled: what the disk holds below it shows
    Shown shown;
    // A copy's source on disk (its directory, shared by the copies made
    // from it, and its name), whose size and DOS time the copy shows: read
    // when the copy is first looked at (most never are), which holds since
    // the disk does not change under an echo run. Null when there is none.
    // shown.size then holds what an append adds to; zero: /Z cut the copy
    // to nothing.
    const char *fromdir = nullptr;
    const char *fromname = nullptr;
    int zero = 0;
    // The table's own: the directory, the hash of the name with letter case
    // ignored, the next node of the same name in another case (a Linux
    // tree may hold both), and the next node of the directory.
    Dir *dir = nullptr;
    unsigned hash = 0;
    Node *twin = nullptr;
    Node *sibling = nullptr;
};

// A directory that holds changed names: its full DOS path as first
// recorded ("X:" for a root), matched with letter case ignored.
struct Dir {
    const char *path = nullptr;
    size_t len = 0;
    unsigned hash = 0;
    Node *first = nullptr, *last = nullptr; // its nodes, in the order made
};

// A directory entered or left the picture at path (null: the picture was
// emptied): what shows() answered for paths through it holds no longer.
// File names never change an answer.
void changed(const char *path);

// 1 once anything is recorded.
int active(void);

// A length that only the terminator ends.
const size_t WHOLE = ~(size_t)0;

// Texts compared as the picture keys them: the same name ignoring case, by
// the platform's rule of names.
int foldeq(const char *a, size_t alen, const char *b, size_t blen);
// Listing order: letter case ignored, the exact names breaking ties.
bool before(const char *a, const char *b);

// A full DOS path: X:\\ and more.
int inpicture(const char *path);
// The length of the directory of path ("X:" for the root) and its final
// component; -1 when there is none.
int splitlast(const char *path, size_t *dirlen, const char **name);
// Whether a look at the final component name[0..len) can be answered
// from the one entry of that name: it holds no wildcard and does not end
// in a dot, which a listing would widen to other names.
int plainname(const char *name, size_t len);

// A path put together from pieces, held in a buffer of its own when it
// fits (every path the core hands over does), else on the heap.
struct Joined {
    char buf[2 * PLAT_PATH_SIZE];
    std::string big;
    // dir[0..dirlen), then "\\" and name unless name is null.
    const char *text(const char *dir, size_t dirlen, const char *name);
};

// The directory of that path, or null when the picture holds nothing of it.
Dir *dirof(const char *dir, size_t len);

// A path split at its last separator (as splitlast does), with what the
// picture holds of its directory: a walk asks about path after path in the
// same few directories.
struct Place {
    const char *path = nullptr;
    size_t dirlen = 0;          // path[0..dirlen) is the directory
    const char *name = nullptr; // the final component
    size_t namelen = 0;
    Dir *dir = nullptr;         // null while the picture holds nothing of it
    unsigned hash = 0;          // of name, letter case ignored, once hashed
    int hashed = 0;
};
// 0, or -1 when path has no final component.
int place(const char *path, Place *p);

// The first node of the name (any case) in the directory, its other
// spellings following through twin; null when there is none.
Node *group(const Dir *dir, const char *name, size_t len);
Node *group(Place *p);
// The node of exactly that spelling of the name in the directory, or null.
Node *findnode(const Dir *dir, const char *name);
// The node of name (p's name, or another spelling of it) in p's
// directory, made when there is none; disk: -1 when whether the disk holds
// exactly this name is yet to be looked at, else the answer.
Node *setnode(Place *p, const char *name, int disk);
// Records a copy's source in the node: a path as place() splits it, or
// whole when its name is null; null: none.
void setfrom(Node *n, const Place *src);
// Empties the picture.
void forget(void);

// Whether the disk holds exactly this name (its directory aside).
int ondisk(const char *path);

// Reads what a copy shows of its source, once.
void settle(const Node &n);
Shown shownof(const PlatEntry &e);
// What a listing shows of the node; its identity (e->id) is unknown.
void fill(PlatEntry *e, const Node &n);
// Whether a listing with this attribute mask shows such an entry.
int admits(unsigned attrib, unsigned mask);

enum { SHOWS_DISK, SHOWS_PICTURE, SHOWS_NOTHING };
// Whether the disk's contents of dir[0..len) (a full path; "X:" for a
// root) show: SHOWS_NOTHING when dir or a level above it was taken away,
// SHOWS_PICTURE when one was made anew (only the picture holds what is
// below it), else SHOWS_DISK. *self is 1 when dir itself is a directory
// the run made.
int shows(const char *dir, size_t len, int *self);

// The entry that path names as the run sees it, its final component taken
// as a name even when it holds "*" or "?" (legal on Linux): the one of
// exactly that spelling, else one of another case. 1, or 0 with the last
// error set.
int lookup(const char *path, PlatEntry *e);

// The one entry of path's final component, a name without wildcards, as
// a literal listing with this mask would give it first (the exact
// spelling, else the first of another case), when that can be told without
// a listing: from the picture alone, or from the platform's own look where
// the picture holds nothing of the name. 1 with it; 0 when there is none,
// the last error set as that listing's would be (ownerror: the caller
// sets its own, any will do); -1 when only the listing can tell.
int one(const char *path, unsigned mask, int ownerror, PlatEntry *e);

} // namespace picture

// A listing of the door of echo mode (the disk's door hands out the
// platform's own).
struct RunFind {
    PlatFind *disk = nullptr; // the platform's listing, kept to start over
    int picture = 0;          // the picture decides what is listed
    int direct = 0;           // ... and holds nothing of this directory: the disk's entries as they come
    int literal = 0;          // the final component is a name, wildcards or not
    std::string pattern;
    unsigned mask = 0;
    std::vector<PlatEntry> list; // the picture's listing
    size_t next = 0;
    PlatEntry first;             // the disk's first entry, in direct mode
};

namespace picture {

// The listing of f->pattern as the picture shows it, into f->list (or, in
// direct mode, the disk's listing as it is, its first entry in f->first);
// the last error is set as the platform's would be when it is empty.
void build(RunFind *f);

} // namespace picture
