#include "sys/dates.h"

#include <cstring>

#include "platform/platform.h"

// Each field is kept to its own bits, so a year from 2108 on wraps within
// the year field instead of spilling past the word.
unsigned dosdate(int year, int month, int day) {
    unsigned y = ((unsigned)year - 1980u) & 0x7Fu;
    unsigned m = (unsigned)month & 0x0Fu;
    unsigned d = (unsigned)day & 0x1Fu;
    return (y << 9) | (m << 5) | d;
}

int febdays(int year) {
    if (year % 400 == 0)
        return 29;
    if (year % 100 == 0)
        return 28;
    return year % 4 == 0 ? 29 : 28;
}

// Days in a month, month 0 giving 0. Callers check the month first.
static int monthdays(int year, int month) {
    static const int days[13] = {0, 31, 0, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 ? febdays(year) : days[month];
}

// Reads exactly n decimal digits: a sign, a space or a short field fails,
// where a scanf conversion would quietly accept them.
static int readfield(const char *s, int n, int *value) {
    int v = 0;
    for (int i = 0; i < n; i++) {
        if (s[i] < '0' || s[i] > '9')
            return -1;
        v = v * 10 + (s[i] - '0');
    }
    *value = v;
    return 0;
}

// Splits the text by its length into year, month and day; 0 when it has
// one of the three forms and its fields are in range.
static int splitdate(const char *text, int endflag, int *year, int *month, int *day) {
    size_t len = std::strlen(text);
    if (len == 8) {
        if (readfield(text, 4, year) != 0 || readfield(text + 4, 2, month) != 0 ||
            readfield(text + 6, 2, day) != 0)
            return -1;
        return *year >= 1980 && *month <= 12 && *day <= 31 ? 0 : -1;
    }
    if (len == 6) {
        if (readfield(text, 4, year) != 0 || readfield(text + 4, 2, month) != 0)
            return -1;
        if (*year < 1980 || *month > 12)
            return -1;
        *day = endflag ? monthdays(*year, *month) : 1;
        return 0;
    }
    if (len == 4) {
        if (readfield(text, 2, month) != 0 || readfield(text + 2, 2, day) != 0)
            return -1;
        if (*month > 12 || *day > 31)
            return -1;
        PlatTime now;
        plat_localtime(&now);
        *year = now.year;
        return 0;
    }
    return -1;
}

// The last year a date word can hold. A later year would wrap to 1980 and
// turn a range meant to select nothing into one that selects everything,
// which with a delete option is a disaster: it is refused instead.
enum { LAST_DOS_YEAR = 2107 };

int parsedate(const char *text, int *out, int endflag) {
    int year, month, day;
    if (text == nullptr || splitdate(text, endflag, &year, &month, &day) != 0 ||
        year > LAST_DOS_YEAR) {
        *out = -1;
        return -1;
    }
    *out = (int)dosdate(year, month, day);
    return 0;
}

int datelater(unsigned date1, unsigned time1, unsigned date2, unsigned time2) {
    if (date1 != date2)
        return date1 > date2;
    return time1 > time2;
}

// Seconds since 1970 (UTC) of 1980-01-02 and of 2107-12-31: a day inside
// the ends of what a date word holds, so that no time zone moves a time
// between them out of it.
const long long DOS_FIRST = 315619200LL, DOS_LAST = 4354732800LL;

static int dosholds(const PlatFileTime *t) {
    return t->sec >= DOS_FIRST && t->sec < DOS_LAST;
}

int sourcenewer(const PlatFileTime *src, unsigned srcdate, unsigned srctime,
                const PlatFileTime *dst, unsigned dstdate, unsigned dsttime) {
    if (dosholds(src) && dosholds(dst))
        return datelater(srcdate, srctime, dstdate, dsttime);
    if (src->sec != dst->sec)
        return src->sec > dst->sec;
    // A destination that holds whole seconds (sshfs, ext3, FAT's clamped
    // ends) cut the copy's fraction off: the same second is the same time.
    return dst->nsec != 0 && src->nsec > dst->nsec;
}
