// What one entry is, as the backend keeps it and as Wine reports it: its
// stat turned into what a listing needs (NameInfo), its hidden and system
// marks read from the extended attribute user.DOSATTRIB (the text "0x%x",
// as Samba and Wine store it), and the DOS attribute word made of both.
// Below the directory cache, which keeps a NameInfo for every entry it
// learns of.
#pragma once

#include <cstdint>

#include <sys/stat.h>

#include "platform/platform.h"

const char XATTR_NAME[] = "user.DOSATTRIB";
const unsigned XATTR_BITS = PLAT_ATTR_HIDDEN | PLAT_ATTR_SYSTEM;
const unsigned WRITE_BITS = S_IWUSR | S_IWGRP | S_IWOTH;

// What is known of one entry, and of what it names (links followed).
enum {
    KNOWN_STAT = 1,  // flags, mode, size and mtime hold
    KNOWN_MARKS = 2, // marks hold
    KNOWN_KIND = 4,  // NAME_LINK and NAME_DIR hold (the backend made or moved it)
};
enum {
    NAME_LINK = 1,    // the entry itself is a symbolic link
    NAME_DIR = 2,     // it names a directory
    NAME_SPECIAL = 4, // it names neither a regular file nor a directory
    NAME_BROKEN = 8,  // a link whose target cannot be reached
};
enum { MARKS_PRESENT = 0x100 }; // user.DOSATTRIB exists; its bits below

struct NameInfo {
    uint8_t known;  // KNOWN_* bits
    uint8_t flags;  // NAME_* bits
    uint16_t marks; // hidden and system bits, MARKS_PRESENT
    uint32_t mode;  // of what it names
    uint32_t epoch; // the listing that learnt it
    uint32_t mnsec;
    int64_t msec;
    uint64_t size;
    uint64_t ino;   // with KNOWN_STAT: what it names, as that stat found it
    uint64_t dev;
};

// The stat of an entry (of what it names when islink: the entry is a link)
// into info, flags and all; what is known is left to the caller.
void stat_info(const struct stat *st, int islink, NameInfo *info);

// 1 when /proc/self/fd/N reaches the entry open as N (looked at once):
// the way to an entry held open, which no link swapped in can redirect.
int proc_fds(void);

// The attribute word of an entry named name from what is known of it, as
// Wine reports it. Hidden and system are left out unless its marks are
// known.
unsigned info_attrib(const NameInfo *info, const char *name);

// What a listing reports of one native path (links followed as the listing
// wants them). 0, or -1 with errno set (a dangling link: ENOENT).
struct NativeInfo {
    unsigned attrib;
    unsigned long long size;
    PlatFileTime mtime; // the last write
    int special;     // not a regular file, directory or link to one
};
int native_info(const char *native, NativeInfo *info);

// Reads user.DOSATTRIB of the native path (links followed) as Wine does:
// its hidden and system bits into *bits. 1 when the attribute exists, 0
// when it does not (or the file system has none).
int read_marks(const char *native, unsigned *bits);

