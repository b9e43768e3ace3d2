// The transfer engine: the run driver and the callbacks that decide, for
// every entry the search finds, what happens to it.
#pragma once

#include "base/param.h"
#include "search/xfind.h"

// ---- run driver (run.cpp) -----------------------------------------------------

extern char srcfull[PATH_SIZE], dstfull[PATH_SIZE], lastsrcdir[PATH_SIZE];
// Rename source subdirectories in place (/S with /L or /L+, no destination).
extern int srcdirlower, srcdirupper;

// Runs the whole job for the source as typed ("@name" for a list). Returns
// the exit status.
int runsrc(const char *source, PARAM *param);
int runpath(const char *source, PARAM *param, XFINDFUNC callback);
int runlist(const char *source, PARAM *param, XFINDFUNC callback, unsigned *found);

// ---- per-file action (foundfile.cpp) ------------------------------------------

int foundfile(const char *dir, XFINDENTRY entry, void *param);

// ---- directory handling (dirs.cpp) --------------------------------------------

int maskfilter(const char *dir, XFINDENTRY entry, void *param);
int foundsubdir(PARAM *param, char *srcfull, char *dstfull, const char *dir, const char *name);
int srcdirchanged(const char *dir, PARAM *param);

// 1 when dir lies inside the destination tree (whole components compared),
// or is the destination base itself under another path, else 0.
int insidedst(const PARAM *param, const char *dir);

// Source directories whose destination counterpart would pass 260
// characters: makedstcurdir reports one, notetoolong counts it as failed
// and remembers it, and dsttoolong (1 for it and everything below it) keeps
// it from being reported again. backtobase puts the job's current source
// and destination directories back at the base, a pair that always holds;
// forgettoolong ends the run's memory.
int dsttoolong(const char *dir);
void notetoolong(PARAM *param, const char *dir);
void backtobase(PARAM *param);
void forgettoolong(void);
// Takes the destination base's identity for insidedst; once per run,
// before the walk.
void notedstbase(const PARAM *param);
