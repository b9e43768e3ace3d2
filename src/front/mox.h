// The entry point of the front end. The job record and the run settings it
// fills live in base/param.h, below every layer that reads them.
#pragma once

#include "base/param.h"

// The program: takes the argument vector in code page 932 and returns the
// exit status.
int moxmain(int argc, char **argv);
