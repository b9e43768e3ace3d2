#include "platform/common/sortkey.h"
#include "platform/common/upcase.h"

#include <cstring>

unsigned long sortkey_fold(unsigned long cp) { return upcase_cp(cp); }

int sortkey_put(unsigned long v, char *key, size_t *at, size_t cap) {
    unsigned char b[4];
    int n;
    if (v < 0x80) {
        b[0] = (unsigned char)v;
        n = 1;
    } else if (v < 0x800) {
        b[0] = (unsigned char)(0xC0 | (v >> 6));
        b[1] = (unsigned char)(0x80 | (v & 0x3F));
        n = 2;
    } else if (v < 0x10000) {
        b[0] = (unsigned char)(0xE0 | (v >> 12));
        b[1] = (unsigned char)(0x80 | ((v >> 6) & 0x3F));
        b[2] = (unsigned char)(0x80 | (v & 0x3F));
        n = 3;
    } else {
        b[0] = (unsigned char)(0xF0 | (v >> 18));
        b[1] = (unsigned char)(0x80 | ((v >> 12) & 0x3F));
        b[2] = (unsigned char)(0x80 | ((v >> 6) & 0x3F));
        b[3] = (unsigned char)(0x80 | (v & 0x3F));
        n = 4;
    }
    if (*at + n >= cap)
        return -1;
    std::memcpy(key + *at, b, n);
    *at += n;
    return 0;
}
