// What the transfer of a file (filecopy.cpp) and its data copy
// (copydata.cpp) both stand on: the run's transfer buffer, the attribute
// call, the system's text of the last error, what /Z asks of a copy, and
// the side-by-side read that tells two files' bytes apart.
#include "fileops/filecopy.h"

#include <cstdlib>
#include <cstring>

#include "base/out.h"
#include "base/param.h"
#include "runfs/runfs.h"

char *copybuf = nullptr;
int copybufsize = 0;

namespace {

enum {
    COPYBUF_MAX = 15360,
    COPYBUF_STEP = 512,
};

} // namespace

int alloccopybuf(void) {
    if (copybuf != nullptr)
        return 0;
    // A short memory gives a smaller buffer, not a failed run.
    for (int size = COPYBUF_MAX; size > 0; size -= COPYBUF_STEP) {
        copybuf = (char *)std::malloc((size_t)size);
        if (copybuf != nullptr) {
            copybufsize = size;
            return 0;
        }
    }
    copybufsize = 0;
    outf("Error! memory allocate for copybuf failed\n");
    return -1;
}

void freecopybuf(void) {
    std::free(copybuf);
    copybuf = nullptr;
    copybufsize = 0;
}

int setattrib(const char *path, unsigned attrib) { return runfs->setattr(path, attrib) == 0; }

void showlasterror(int flag) {
    if (flag != 1) {
        char text[512];
        plat_errortext(plat_lasterror(), text, sizeof text);
        errf("GetLastError: %s\n", text);
    }
    plat_setlasterror(0);
}

int emptied(int how) { return opt_zerobyte == 1 && (how & COPY_WHOLE) == 0; }

namespace {

enum { SAMEBYTES_STEP = 8192 };

// Up to len bytes from handle, fewer only at the end; -1 when a read fails.
long readfull(int handle, char *buf, long len) {
    long got = 0;
    while (got < len) {
        long n = runfs->read(handle, buf + got, (unsigned long)(len - got));
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += n;
    }
    return got;
}

} // namespace

int samebytes(const char *a, const char *b) {
    static char bufa[SAMEBYTES_STEP], bufb[SAMEBYTES_STEP];
    int ha = runfs->open(a, PLAT_OPEN_READ);
    int hb = ha >= 0 ? runfs->open(b, PLAT_OPEN_READ) : -1;
    int same = hb >= 0;
    while (same) {
        long na = readfull(ha, bufa, SAMEBYTES_STEP);
        long nb = readfull(hb, bufb, SAMEBYTES_STEP);
        same = na >= 0 && na == nb && std::memcmp(bufa, bufb, (size_t)na) == 0;
        if (na < SAMEBYTES_STEP)
            break;
    }
    if (hb >= 0)
        runfs->close(hb);
    if (ha >= 0)
        runfs->close(ha);
    return same;
}
