// What the front end says to the user outside the run itself: banner,
// version, usage, check-mode dumps and the prompts.
#pragma once

#include "base/param.h"
#include "front/options.h"

// argv[0] after its last separator ("\\", and "/" where the system's
// paths use it); a part of argv0.
const char *showname(const char *argv0);

void printbanner(void);
void printversion(void);
void usage(const char *name);
void formatusage(void);
void printcheckheader(int argc, char **argv);
void dumpline(int stream, int closing, const char *title);
void dumppath(int stream, const PARAM *param, const char *src, const char *title);
void dumpopts(int stream, const ARGPOS *pos, const PARAM *param, const char *title);

// 0 to continue, -1 to quit. With no console to ask, quits.
int askcontinue(void);
// 1 for yes, 0 for no. With no console to ask, no.
int asksure(const char *fmt, const char *text);
// 1 when the user agreed to a sweeping rename or delete, else 0.
int confirmall(const char *srcbasedir, const char *srcmask);
