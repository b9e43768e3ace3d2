// The progress line of a long copy: on a terminal only, so that scripts
// and redirected output never see it.
#pragma once

#include <cstddef>

// The data copy of one file begins; total is the bytes it is expected to
// move, -1 when not known.
void progressstart(long long total);
// done bytes of it are written. Draws the line once the copy has taken a
// second, and again a few times a second.
void progressstep(unsigned long long done);
// The copy is over, whether it succeeded or not: the line goes.
void progressstop(void);

// The line for done of total bytes (-1: not known) after ms milliseconds,
// "  42% 420.0 MiB of 1000.0 MiB  85.3 MiB/s  0:07 left" (the time left at
// the speed so far), without the parts on the right that a terminal of
// `columns` has no room for (a line as wide as the terminal would wrap and
// could no longer be erased). Its length, 0 when not even the percentage
// fits.
int progresstext(char *out, size_t size, unsigned long long done, long long total, long long ms,
                 int columns);
