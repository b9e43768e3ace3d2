// What the transfer of a file (filecopy.cpp) and its data copy
// (copydata.cpp) both stand on: the run's transfer buffer, the attribute
// call, the system's text of the last error, and what /Z asks of a copy.
#include "fileops/filecopy.h"

#include <cstdlib>

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
