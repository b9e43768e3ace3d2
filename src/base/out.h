// Printing from the core. Every message goes through here so that it
// crosses into the user's encoding on the way out.
#pragma once

#include <cstdarg>

#include "platform/platform.h"

#define MOX_PRINTF(f, a) __attribute__((format(printf, f, a)))

// printf to standard output / standard error / a chosen stream
// (PLAT_STDOUT or PLAT_STDERR). Return the number of bytes printed.
int outf(const char *fmt, ...) MOX_PRINTF(1, 2);
int errf(const char *fmt, ...) MOX_PRINTF(1, 2);
int streamf(int stream, const char *fmt, ...) MOX_PRINTF(2, 3);
int vstreamf(int stream, const char *fmt, va_list ap);

// Prints the location line "%s:%u\n" of the trace and failure reports:
// the source file's base name and the line.
void locline(const char *file, unsigned line);
#define LOCLINE() locline(__FILE__, __LINE__)
