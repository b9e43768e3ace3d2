// The "@" source alone: a list of sources piped in on standard input is
// copied byte for byte into a temporary list file, which the run then reads
// like any "@file".
#include "front/stdinlist.h"

#include <cstdlib>
#include <cstring>

#include "fileops/filecopy.h"
#include "platform/platform.h"
#include "base/out.h"

namespace {

// Copies everything from handle in to handle out through copybuf. A read
// error ends the copy like the end of the input; 0, or -1 when a write
// failed (the list would be cut short without anyone knowing).
int copyall(int in, int out) {
    for (;;) {
        long n = plat_read(in, copybuf, (unsigned long)copybufsize);
        if (n <= 0)
            return 0;
        if (plat_write_file(out, copybuf, (unsigned long)n) != n)
            return -1;
    }
}

} // namespace

char *capturestdin(char *tmpname, size_t size) {
    tmpname[0] = '\0';
    int in = plat_takestdin();
    if (in < 0) {
        outf("Error! STDIN not Redirect\n");
        return nullptr;
    }
    int out = plat_mktemp(tmpname, size);
    if (out < 0) {
        outf("Error! Temporary filename can't Create\n");
        plat_close(in);
        return nullptr;
    }
    char *source = nullptr;
    if (alloccopybuf() != 0) {
        outf("Error! Memory allocate Failed for Buffer\n");
    } else if ((source = (char *)std::malloc(std::strlen(tmpname) + 2)) == nullptr) {
        outf("Error! Memory allocate Failed for Tempfile\n");
    } else {
        source[0] = '@';
        std::strcpy(source + 1, tmpname);
        if (copyall(in, out) != 0) {
            outf("Error! Temporary file can't Write: %s\n", tmpname);
            std::free(source);
            source = nullptr;
        }
    }
    freecopybuf();
    plat_close(in);
    if (plat_close(out) != 0 && source != nullptr) {
        outf("Error! Temporary file can't Write: %s\n", tmpname);
        std::free(source);
        source = nullptr;
    }
    if (source == nullptr) {
        plat_delete(tmpname);
        tmpname[0] = '\0';
    }
    return source;
}

void droptemplist(char *tmpname) {
    if (tmpname[0] != '\0')
        plat_delete(tmpname);
    tmpname[0] = '\0';
}
