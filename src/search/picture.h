// The picture an echo run keeps of what it would have changed (see
// echofs.h), and how a look is answered from it: picture.cpp answers the
// looks, echofs.cpp records the changes. Only those two include this; the
// rest of the core goes through echofs.h.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"
#include "search/echofs.h"

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

// One name of a directory that the run would have changed.
struct Node {
    std::string name; // exactly as it would be stored
    int state = 0;    // MADE or GONE
    int isdir = 0;
    int ondisk = 0;    // the disk holds exactly this name (so its listing shows it)
    int showsdisk = 0; // a directory respelled: what the disk holds below it shows
    Shown shown;
    // A copy's source on disk, whose size and DOS time the copy shows: read
    // when the copy is first looked at (most never are), which holds since
    // the disk does not change under an echo run. shown.size then holds
    // what an append adds to; zero: /Z cut the copy to nothing.
    std::string from;
    int zero = 0;
};

// Key: the directory's folded path, "\\" and the folded name. Names that
// differ only in case (a Linux tree may hold both) share a key.
extern std::unordered_map<std::string, std::vector<Node>> nodes;
// Key: a directory's folded path; the keys of its changed names.
extern std::unordered_map<std::string, std::vector<std::string>> dirnames;
// Bumped whenever a directory enters or leaves the picture: what shows()
// answered for a path holds until then (file names never change it).
extern unsigned long dirchanges;

// 1 in echo mode once anything is recorded.
int active(void);

// ASCII upper case, double-byte characters untouched; byte for byte, so a
// prefix of the folded text is the folded prefix.
std::string fold(const char *s, size_t n);
std::string fold(const char *s);
// fold for a directory: a walk asks about the same one file after file.
const std::string &folddir(const std::string &dir);

// A full DOS path: X:\\ and more.
int inpicture(const char *path);
// The directory of path ("X:" for the root) and its final component; -1
// when there is none.
int splitlast(const char *path, std::string *dir, const char **name);
std::string nodekey(const std::string &dirkey, const char *name);
// The node of exactly that spelling of the name in the directory, or null.
Node *findnode(const std::string &dirkey, const char *name);

// Whether the disk holds exactly this name (its directory aside).
int ondisk(const char *path);

// Reads what a copy shows of its source, once.
void settle(const Node &n);
Shown shownof(const PlatEntry &e);

enum { SHOWS_DISK, SHOWS_PICTURE, SHOWS_NOTHING };
// Whether the disk's contents of dir (a full path; "X:" for a root) show:
// SHOWS_NOTHING when dir or a level above it was taken away, SHOWS_PICTURE
// when one was made anew (only the picture holds what is below it), else
// SHOWS_DISK. *self is 1 when dir itself is a directory the run made.
int shows(const std::string &dir, int *self);

// The entry that path names as the run sees it, its final component taken
// as a name even when it holds "*" or "?" (legal on Linux): the one of
// exactly that spelling, else one of another case. 1, or 0 with the last
// error set.
int lookup(const char *path, PlatEntry *e);

} // namespace picture

// A listing in echo mode (outside it, fs_findfirst hands out the
// platform's own).
struct FsFind {
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
void build(FsFind *f);

} // namespace picture
