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
// The usage text on stream: standard error for /? (as scripts have it),
// standard output for --help, so that it can be paged.
void usage(const char *name, int stream);
void formatusage(void);
void printcheckheader(int argc, char **argv);
void dumpline(int stream, int closing, const char *title);
void dumppath(int stream, const PARAM *param, const char *src, const char *title);
void dumpopts(int stream, const ARGPOS *pos, const PARAM *param, const char *title);

// 0 to continue, -1 to quit. With no console to ask, quits.
int askcontinue(void);
// 1 for yes, 0 for no; -1 when there is no console to ask (the question
// stands on standard error, its line ended).
int asksure(const char *fmt, const char *text);
// 1 when the user agreed to a sweeping rename or delete; 0 when the user
// said no, after "Bye! Program tarminate at user's request"; -1 when there
// was no terminal to ask on, after the error line that says so.
int confirmall(const char *srcbasedir, const char *srcmask);
