// The run's file system: the one door through which the core looks at the
// disk and changes it while a run lasts. It has two implementations,
// chosen once when the run's settings are known:
//
//   the disk (disk.cpp): each service is the platform's own call, passed
//   straight through, so that a real run costs what the platform costs;
//
//   the picture of echo mode (echo.cpp): nothing on disk is changed, every
//   change is recorded, and every later look answers from the disk as the
//   run would have left it, so that /E prints what the same run without
//   /E would print.
//
// No caller asks which one is in use: the run is the same code either way.
//
// Each service has the contract of the platform call of the same name
// (platform/platform.h) unless said otherwise below.
#pragma once

#include "platform/platform.h"

// A listing in progress: the platform's own on disk, the picture's in echo
// mode.
struct RunFind;

// One file to its destination, as the whole step: src copied (or moved,
// move) to dst, which gets the time mtime and the attributes newattrib.
// append: added to the end of dst; zero: /Z cut the copy to nothing. On
// disk the caller's own routine does it (ondisk, handed this record back);
// the picture only records what it would have made.
struct RunCopy {
    const char *src, *dst;
    const PlatFileTime *mtime;
    unsigned newattrib;
    int append, zero, move;
    int (*ondisk)(const RunCopy *copy);
    void *state; // the caller's, for ondisk
};

struct RunFs {
    // ---- looks ----
    RunFind *(*findfirst)(const char *pattern, unsigned mask, PlatEntry *entry);
    int (*findnext)(RunFind *find, PlatEntry *entry);
    int (*findagain)(RunFind *find, PlatEntry *entry);
    void (*findclose)(RunFind *find); // null is no listing, and allowed
    int (*findone)(const char *path, unsigned mask, PlatEntry *entry);
    int (*getattr)(const char *path, unsigned *attrib);
    int (*fileid)(const char *path, PlatFileId *id);
    int (*islink)(const char *path);
    int (*keepsarchive)(void);
    int (*freespace)(const char *path, unsigned long long *bytes);
    int (*drivetype)(const char *root);
    int (*curdrive)(void);
    int (*workdir)(char *out, size_t size);
    int (*getcurdir)(int letter, char *out, size_t size);
    int (*fullpath)(const char *path, char *out, size_t size);
    int (*nativepath)(const char *path, char *out, size_t size);
    // A directory the run would have made is its own, of no identity yet
    // (zero) in echo mode.
    int (*owndir)(const char *path, PlatFileId *id);
    int (*holddir)(const char *path, const PlatEntry *seen);
    void (*releasedir)(void);

    // ---- reading a file's data (a list file, a copy's source) ----
    int (*open)(const char *path, int how);
    long (*read)(int handle, void *buf, unsigned long len);
    long long (*seek)(int handle, long long offset, int whence);
    int (*filestate)(int handle, PlatFileState *state);
    int (*close)(int handle);

    // ---- changes ----
    // In echo mode each answers as the platform's call would have (the same
    // result and last error: 183 when a move's destination is taken, 145
    // when the directory to remove is not empty, 2 or 3 when what is named
    // does not exist); a delete and a recycle always succeed, and attributes
    // set are not remembered.
    int (*setattr)(const char *path, unsigned attrib);
    int (*mkdirlike)(const char *path, const char *model);
    int (*mkdirprivate)(const char *path);
    int (*rmdir)(const char *path);
    int (*move)(const char *from, const char *to);
    int (*replace)(const char *from, const char *to);
    int (*remove)(const char *path); // plat_delete
    int (*deletesame)(const char *path, const PlatFileState *state);
    int (*recycle)(const char *path);
    int (*copyfile)(const RunCopy *copy);

    // ---- writing a file's data, under copyfile's ondisk ----
    // In echo mode no file is opened for writing (5).
    int (*opentemp)(const char *dir, const char *prefix, char *path, size_t size);
    int (*opennew)(const char *path);
    int (*placenew)(int handle);
    void (*dropnew)(int handle);
    int (*copylink)(const char *link, const char *dir, const char *prefix, char *path,
                    size_t size);
    long long (*copydata)(int in, int out, long long limit, void *buf, unsigned long size,
                          void (*step)(unsigned long long done));
    int (*setfiletime)(int handle, const PlatFileTime *mtime);
    int (*truncate)(int handle, long long size);
    int (*keepperms)(int handle, const char *model, const char *source);
    int (*newperms)(int handle, const char *source);
    int (*syncfile)(int handle);

    // 1 when changes reach the disk (0: the picture, where nothing is
    // written and no space is used).
    int writes;
    // What a deleted file's line begins with: "(delete test) " where
    // nothing is deleted.
    const char *deletedlead;
};

// The door in use: the disk until runfs_choose says otherwise.
extern const RunFs *runfs;

// Picks the door for the run (echo: the picture) and forgets the picture
// of any run before.
void runfs_choose(int echo);

// The implementations, for runfs_choose.
extern const RunFs runfs_disk;
extern const RunFs runfs_echo;
// Empties the picture.
void runfs_forget(void);
