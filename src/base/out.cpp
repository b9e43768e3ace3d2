#include "base/out.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int vstreamf(int stream, const char *fmt, va_list ap) {
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
