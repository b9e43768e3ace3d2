#include "base/out.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum { STATUS_MAX = 255 };

// Columns the status line covers; 0 while none stands.
size_t statuswidth;

} // namespace

void statusshow(const char *text, size_t len) {
    char line[STATUS_MAX + 1];
    if (len > STATUS_MAX)
        len = STATUS_MAX;
    // Standard output may be this terminal too: what it still holds must
    // reach it first, or it would land on the status line.
    if (statuswidth == 0)
        plat_flush(PLAT_STDOUT);
    line[0] = '\r';
    std::memcpy(line + 1, text, len);
    size_t n = len + 1;
    // A shorter text covers what the longer one before it left.
    while (n <= statuswidth)
        line[n++] = ' ';
    statuswidth = n - 1;
    // Known before it is drawn: a signal that ends the run meanwhile
    // blanks it all the same.
    plat_statuscolumns((int)statuswidth);
    plat_write(PLAT_STDERR, line, n);
}

void statuserase(void) {
    if (statuswidth == 0)
        return;
    char line[STATUS_MAX + 2];
    line[0] = '\r';
    std::memset(line + 1, ' ', statuswidth);
    line[statuswidth + 1] = '\r';
    plat_write(PLAT_STDERR, line, statuswidth + 2);
    statuswidth = 0;
    plat_statuscolumns(0);
}

int vstreamf(int stream, const char *fmt, va_list ap) {
    statuserase();
    char local[1024];
    va_list again;
    va_copy(again, ap);
    int n = std::vsnprintf(local, sizeof local, fmt, ap);
    if (n < 0) {
        va_end(again);
        return n;
    }
    if ((size_t)n < sizeof local) {
        plat_write(stream, local, (size_t)n);
    } else {
        // Rare: a dump line or a usage text longer than the local buffer.
        char *big = (char *)std::malloc((size_t)n + 1);
        if (big != nullptr) {
            std::vsnprintf(big, (size_t)n + 1, fmt, again);
            plat_write(stream, big, (size_t)n);
            std::free(big);
        } else {
            plat_write(stream, local, sizeof local - 1);
        }
    }
    va_end(again);
    return n;
}

void outline(const char *head, const char *text) {
    statuserase();
    char line[1024];
    size_t h = std::strlen(head), t = std::strlen(text);
    if (h + t + 1 > sizeof line) { // a long name: printed as any text
        outf("%s%s\n", head, text);
        return;
    }
    std::memcpy(line, head, h);
    std::memcpy(line + h, text, t);
    line[h + t] = '\n';
    plat_write(PLAT_STDOUT, line, h + t + 1);
}

int streamf(int stream, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = vstreamf(stream, fmt, ap);
    va_end(ap);
    return n;
}

int outf(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = vstreamf(PLAT_STDOUT, fmt, ap);
    va_end(ap);
    return n;
}

int errf(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = vstreamf(PLAT_STDERR, fmt, ap);
    va_end(ap);
    return n;
}

void locline(const char *file, unsigned line) {
    const char *base = std::strrchr(file, '/');
    outf("%s:%u\n", base != nullptr ? base + 1 : file, line);
}
