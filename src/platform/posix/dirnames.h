// What the directory cache keeps of one directory, and the names arena
// it holds them in: one block of names, an index of fixed-size entries and
// a hash table on their case-folded keys (dirnames.cpp). Shared by the
// cache's own files only.
#pragma once

#include "platform/posix/dircache.h"
#include "platform/posix/fold.h"

#include <cstdint>
#include <string>
#include <vector>

#include <time.h>

const uint32_t DIR_DEAD = 0x80000000u; // in DirEntry::off: the entry was removed

struct DirEntry {
    uint32_t off;  // its name in the arena; DIR_DEAD when removed
    uint32_t fold; // hash of its case-folded key
    uint32_t next; // the next entry in its bucket, plus one; 0 ends
    uint32_t info; // its NameInfo, plus one; 0 when nothing is known
};

struct Dir {
    std::string native;
    int fd = -1;          // not opened yet while -1
    int pathonly = 0;     // fd is O_PATH: it cannot be read
    int atstart = 1;      // fd's read offset is at the start
    int holds = 0;        // callers and listings keeping it
    int lists = 0;        // listings open on it
    uint32_t epoch = 1;   // of the listings open now
    int cached = 1;       // in the table (else it goes with its last hold)
    unsigned long used = 0;
    int complete = 0;     // the names are all the directory holds
    int fresh = 0;        // made by this run: complete without a read
    int stamped = 0;      // mtime (and ctime, when ctimed) below are the directory's
    int ctimed = 0;
    struct timespec mtime = {0, 0}, ctime = {0, 0};
    unsigned long checked = 0; // the recheck it was last looked at for
    // Below a held directory: opened from its parent without following a
    // link (chained), or held itself (pinned). pinchecked is the count of
    // holds (dir_pin) it was last looked at for.
    int chained = 0;
    int pinned = 0;
    unsigned long pinchecked = 0;
    Dir *same = nullptr; // a held directory this one reads again (replace)
    uint64_t ino = 0, dev = 0; // what fd is open on
    std::vector<char> arena;
    std::vector<DirEntry> entries;
    std::vector<uint32_t> buckets; // entry index plus one; 0 empty
    std::vector<NameInfo> infos;
    uint32_t live = 0;
    unsigned long changes = 0; // the backend's own changes of the names
};

const char *name_at(const Dir *d, uint32_t i);
// 1 unless the entry was removed.
int alive(const Dir *d, uint32_t i);
// The entry of exactly this name, or -1.
int find_exact(const Dir *d, const char *name, uint32_t fold);
// The exact entry, else the first of those equal ignoring case in listing
// order (which sorts them by their exact names), or -1.
int find_name(const Dir *d, const char *name);
// The entry of the name, added when it is not there; what was known of an
// entry already there is forgotten.
int add_name(Dir *d, const char *name);
void clear_names(Dir *d);
void remove_name(Dir *d, const char *name);

// Between the cache's two files: dircache.cpp keeps the table of
// directories and their descriptors, dirread.cpp what is known of their
// names. A new directory in the table, one dropped from it, the copy of
// one for a read while a listing holds it, and the mark of its use.
Dir *cache_install(const char *native);
void cache_drop(Dir *d);
Dir *cache_replace(Dir *d);
void cache_touch(Dir *d);
// Takes d's change times; 1 when they differ from those taken last (or
// none were), 0 when they are the same.
int times_changed(Dir *d);
// Reads the names of d whole; with stamp, after taking its times, so that
// a change made while it is read shows later. 0, or -1 with errno set.
int read_names(Dir *d, int stamp);
