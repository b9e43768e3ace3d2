// MS-DOS date and time words, and the date texts of the /D option.
#pragma once

// Date word: bits 15-9 years since 1980, 8-5 month, 4-0 day. Time word:
// bits 15-11 hours, 10-5 minutes, 4-0 seconds / 2. Numeric order is time
// order.
unsigned dosdate(int year, int month, int day);

// Parses yyyymmdd, yyyymm or mmdd (digits only) into a date word. endflag
// 1 reads yyyymm as the last day of that month, 0 as the first. Returns 0
// with *out set, or -1 with *out set to -1.
int parsedate(const char *text, int *out, int endflag);

int febdays(int year); // 28 or 29

// 1 when (date1, time1) is later than (date2, time2), else 0.
int datelater(unsigned date1, unsigned time1, unsigned date2, unsigned time2);

struct PlatFileTime;
// The newer-than test of /U: 1 when the source (exact time src, DOS words
// srcdate, srctime) is later than the destination. The DOS words decide,
// as datelater does, while both times lie where a date word can hold them
// (1980 to 2107, in any time zone); otherwise the exact times do, since a
// word pinned to its last day (or, under Wine, wrapped to 1980) would make
// a file of 2108 no newer than one of 2000. A destination time in whole
// seconds matches any source time in the same second, since a file system
// that keeps no fraction cut it from the copy.
int sourcenewer(const PlatFileTime *src, unsigned srcdate, unsigned srctime,
                const PlatFileTime *dst, unsigned dstdate, unsigned dsttime);
