// What the steps of the per-file action share: the file being handled,
// what the destination holds under its name, and the steps that more than
// one way through the action takes.
#pragma once

#include "engine/moxmain.h"

// What the steps share about the one file being handled.
struct FileJob {
    const char *dir; // the directory being scanned
    const char *name; // the entry's name as stored
    PARAM *param;
    unsigned attrib, date, time;
    unsigned long long size;
    PlatFileTime mtime; // the last write exactly, for the copy
    unsigned newattrib; // what the copy is given
    int append;         // /I: COPY_APPEND, else 0
    int again;          // a file took the name after the last look: decided anew
    const struct Probe *probed; // the look made at dstfull, while it still holds
};

// The destination entry of the same name, when there is one.
struct Probe {
    int exists;
    int isdir;
    int unread; // the directory could not be looked into (reported): no answer
    XFINDENTRY entry;
};

// ---- path helpers (dstname.cpp) ---------------------------------------------------

int toolong(const char *dir, const char *name);
int plainjoin(char *out, const char *dir, const char *name);
int joinname(char *out, const char *dir, const char *name);
char *namepart(char *path);
void applycase(char *path);

// ---- the delete modes and the write itself (filewrite.cpp) --------------------

// The source file a delete mode last disposed of.
extern char lastgone[PATH_SIZE];
int deleteaction(const FileJob *j, int *result);
int backup(void);
int dirinway(void);
int spaceok(const FileJob *j, const char *path);
int transfer(const FileJob *j, const char *to, int how);
int decideuntilwritten(const FileJob *j, int (*step)(const FileJob *));
void probedst(Probe *pr);
int unanswered(const Probe *pr);
int samefile(void);
int refusesame(void);

// ---- what this run wrote (twins.cpp) --------------------------------------------

// The name the file is to be given at the destination, before the spelling
// of an existing entry there is taken over: its own name in the case of
// /L or /L+, or what the rename format made of it.
void wantedname(const FileJob *j, char *out);
// Starts the run's memory of what it wrote, where the run can bring case
// twins onto one destination name (fromlist: the source is a list).
void watchtwins(int fromlist);
// Notes that the run wrote dst from the source file named srcname, under
// the name wanted.
void notewritten(const char *dst, const char *srcname, const char *wanted);
// 1 when dst holds what this run wrote from a case twin of srcname (README
// for readme), or from another name that it spelled as another case of
// wanted: writing over it would replace one of two files, else 0.
int writtentwin(const char *dst, const char *srcname, const char *wanted);
// Ends the run's memory of what it wrote.
void forgetwritten(void);

// ---- the three ways --------------------------------------------------------------

int transferway(const FileJob *j, int changed); // transferway.cpp
int newnameway(const FileJob *j, char *tmpl);   // renameway.cpp
int inplaceway(const FileJob *j);               // renameway.cpp
