// The command-line parser: options, rename format, skip-mask groups and the
// two positional arguments.
#pragma once

#include "base/param.h"
#include "base/pathstr.h"

// /E /E-: show actions, do none. Only the front end asks: it picks the
// run's file system by it once (runfs_choose), and the rest of the run
// never knows.
extern int opt_echo;

// Where parseargs found things; indexes into the argument vector as the
// entry point passes it, 0 = absent.
struct ARGPOS {
    int srcarg, dstarg;
    int extfirst, extlast; // extension skip-mask group
    int dirfirst, dirlast; // directory skip-mask group
    int nativefrom;        // the first argument after "--", 0 without one
};

// Scans the whole command line into the run settings, format and the date
// pair. Returns 0, or -1 after printing the caret display or its message.
int parseargs(int argc, char **argv, char *format, int *date1, int *date2, ARGPOS *pos);

// One option group ("/SUA-"): 0, or the offset of the failing character.
int parseopt(const char *arg, int *date1, int *date2);

// The date text after "D": the characters it took minus 1, 0 on failure.
int parsedateopt(const char *text, int *date1, int *date2);

// Repeats the command line with a caret under character `offset` of
// argument `index` (index == argc puts it just after the last argument).
void showargerror(int argc, char **argv, int index, int offset);

// Settles the option combinations once source and destination are known.
// extmasks: an extension skip-mask group was given (the masks themselves
// are stored later).
int checkopts(PARAM *param, const char *src, int extmasks);

void mismatch(const char *a, const char *b);

// Skip-mask groups. scanskipgroup checks the group that starts at argv[i]
// and returns the index of the argument after it, or -1 with the failing
// character in *errindex / *erroffset. *isext tells the group's kind.
int scanskipgroup(int argc, char **argv, int i, int *isext, int *first, int *last,
                  int *errindex, int *erroffset);
int setskipext(char **skipextmask, char **argv, int first, int last);
int setskipdir(char **skipdirmask, char **argv, int first, int last);
