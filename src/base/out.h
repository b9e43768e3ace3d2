// Printing from the core. Every message goes through here so that it
// crosses into the user's encoding on the way out.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "platform/platform.h"

#define MOX_PRINTF(f, a) __attribute__((format(printf, f, a)))

// printf to standard output / standard error / a chosen stream
// (PLAT_STDOUT or PLAT_STDERR). Return the number of bytes printed.
int outf(const char *fmt, ...) MOX_PRINTF(1, 2);
int errf(const char *fmt, ...) MOX_PRINTF(1, 2);
int streamf(int stream, const char *fmt, ...) MOX_PRINTF(2, 3);
int vstreamf(int stream, const char *fmt, va_list ap);

// The line head, text and a line end on standard output, without printf:
// what is printed for every file ("  NAME", "skip!(not newer): NAME").
void outline(const char *head, const char *text);

// The status line: one line of text on standard error, on a terminal,
// that stands only until anything else is printed. It is drawn from the
// start of the line the cursor is on (every message ends with a line end,
// so that is a line of its own below them) and redrawn in place. Every
// print through this file first erases it, so no message is ever glued to
// it. Erasing writes spaces over it, which every terminal understands, a
// dumb one too. The caller makes sure that standard error is a terminal
// and that the text (no line end, one column a byte) is narrower than it.
void statusshow(const char *text, size_t len);
// Erases the status line, if one stands.
void statuserase(void);

// Prints the location line "%s:%u\n" of the trace and failure reports:
// the source file's base name and the line.
void locline(const char *file, unsigned line);
#define LOCLINE() locline(__FILE__, __LINE__)
