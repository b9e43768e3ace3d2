// The progress line of a long copy.
//
// A file that is copied within a second shows nothing: the line is for the
// copy that makes a user wonder whether anything is happening. It goes to
// standard error and only when that is a terminal; with /V- there is none.
// The copy loop calls in once per chunk, so a call costs a clock read and
// a comparison until a redraw is due.
#include "fileops/progress.h"

#include <cstdio>
#include <cstring>

#include "base/out.h"
#include "base/param.h"
#include "platform/platform.h"

namespace {

enum {
    FIRST_MS = 1000, // how long a copy runs before the line appears
    EVERY_MS = 250,  // how often it is drawn again
};

// The longest time left shown, in seconds: a stalled copy stays at 99:59:59.
const long long MAX_LEFT = 99 * 3600 + 59 * 60 + 59;

struct Progress {
    int on;          // this copy may show the line
    long long total; // bytes expected; -1 when not known
    long long start; // the clock when the copy began
    long long due;   // when the line is next drawn
} cur;

// Standard error turned out to be no terminal: later copies do not even
// read the clock.
int noterminal;

// A byte count in binary units, one decimal from KiB on: "1023 B",
// "1.0 KiB", "420.0 MiB". A value that would round to 1024 of a unit is
// given in the next one.
void sizetext(char *out, size_t size, double bytes) {
    static const char *const units[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1023.5) {
        std::snprintf(out, size, "%d B", (int)bytes);
        return;
    }
    int u = 0;
    bytes /= 1024;
    while (bytes >= 1023.95 && u < 5) {
        bytes /= 1024;
        u++;
    }
    std::snprintf(out, size, "%.1f %s", bytes, units[u]);
}

void draw(unsigned long long done, long long now) {
    int columns = plat_termcolumns(PLAT_STDERR);
    if (columns <= 0) {
        noterminal = 1;
        cur.on = 0;
        return;
    }
    char line[128];
    int n = progresstext(line, sizeof line, done, cur.total, now - cur.start, columns);
    if (n > 0)
        statusshow(line, (size_t)n);
}

// The time a copy still needs, "0:07" or "1:02:03".
void lefttext(char *out, size_t size, long long seconds) {
    long long h = seconds / 3600, m = seconds / 60 % 60, sec = seconds % 60;
    if (h > 0)
        std::snprintf(out, size, "%lld:%02lld:%02lld", h, m, sec);
    else
        std::snprintf(out, size, "%lld:%02lld", m, sec);
}

} // namespace

int progresstext(char *out, size_t size, unsigned long long done, long long total, long long ms,
                 int columns) {
    char line[128], num[32];
    // The line grows a part at a time; fits[] records where each shorter
    // form of it ends.
    int fits[5], parts = 0, n = 0;
    if (total >= 0) {
        unsigned pct = done >= (unsigned long long)total
                           ? 100
                           : (unsigned)((double)done * 100.0 / (double)total);
        n += std::snprintf(line + n, sizeof line - n, "%4u%%", pct);
        fits[parts++] = n;
        sizetext(num, sizeof num, (double)done);
        n += std::snprintf(line + n, sizeof line - n, " %s", num);
        fits[parts++] = n;
        sizetext(num, sizeof num, (double)total);
        n += std::snprintf(line + n, sizeof line - n, " of %s", num);
        fits[parts++] = n;
    } else {
        sizetext(num, sizeof num, (double)done);
        n += std::snprintf(line + n, sizeof line - n, "  %s", num);
        fits[parts++] = n;
    }
    if (ms > 0) {
        sizetext(num, sizeof num, (double)done * 1000.0 / (double)ms);
        n += std::snprintf(line + n, sizeof line - n, "  %s/s", num);
        fits[parts++] = n;
        // At the speed so far; rounded up, so that it reaches 0:00 only
        // when the copy is done.
        if (total >= 0 && done > 0 && done < (unsigned long long)total) {
            double left = (double)((unsigned long long)total - done) * (double)ms / (double)done;
            left = (left + 999.0) / 1000.0;
            lefttext(num, sizeof num, left < (double)MAX_LEFT ? (long long)left : MAX_LEFT);
            n += std::snprintf(line + n, sizeof line - n, "  %s left", num);
            fits[parts++] = n;
        }
    }
    int len = 0;
    for (int i = 0; i < parts; i++)
        if (fits[i] < columns && (size_t)fits[i] < size)
            len = fits[i];
    if (size > 0) {
        std::memcpy(out, line, (size_t)len);
        out[len] = 0;
    }
    return len;
}

// Only a copy of data on disk starts it: an echo run copies none.
void progressstart(long long total) {
    cur.on = opt_quiet != 1 && !noterminal;
    if (!cur.on)
        return;
    cur.total = total;
    cur.start = plat_clockms();
    cur.due = cur.start + FIRST_MS;
}

void progressstep(unsigned long long done) {
    if (!cur.on)
        return;
    long long now = plat_clockms();
    if (now < cur.due)
        return;
    cur.due = now + EVERY_MS;
    draw(done, now);
}

void progressstop(void) {
    cur.on = 0;
    statuserase();
}
