// Source lists: lines of a list file in text mode, as Windows reads them
// (a carriage return before the line feed is dropped, so that a list
// written there reads the same), each checked before it becomes a path.
#include "engine/listline.h"

#include <cstring>

#include "base/out.h"
#include "base/param.h"
#include "runfs/runfs.h"

namespace {

// What made a line unusable.
enum { LINE_TOOLONG = 1, LINE_NUL = 2 };

// One more byte of the file: the byte, -1 at the end, -2 on a read error.
int nextbyte(ListReader *rd) {
    if (rd->pos >= rd->len) {
        rd->len = runfs->read(rd->handle, rd->buf, sizeof rd->buf);
        rd->pos = 0;
        if (rd->len < 0)
            return -2;
        if (rd->len == 0)
            return -1;
    }
    return (unsigned char)rd->buf[rd->pos++];
}

// The next line into out (LIST_ENTRY_MAX + 2 bytes), without its line end;
// *len receives its length. 1 with a line, 0 at the end, -1 on a read
// error. *faults tells of a line longer than LIST_ENTRY_MAX characters
// (whose rest is passed over) and of a NUL byte anywhere in the line.
int readline(ListReader *rd, char *out, size_t *len, int *faults) {
    size_t n = 0;
    int c = 0, any = 0;
    *faults = 0;
    while ((c = nextbyte(rd)) >= 0 && c != rd->end) {
        any = 1;
        if (c == 0)
            *faults |= LINE_NUL;
        if (n <= LIST_ENTRY_MAX)
            out[n++] = (char)c; // one byte more than allowed: room for a '\r'
        else
            *faults |= LINE_TOOLONG;
    }
    if (c == -2)
        return -1;
    if (c == -1 && !any)
        return 0;
    if (c == '\n' && rd->end == '\n' && n > 0 && out[n - 1] == '\r')
        n--;
    if (n > LIST_ENTRY_MAX) {
        *faults |= LINE_TOOLONG;
        n = LIST_ENTRY_MAX;
    }
    out[n] = 0;
    *len = n;
    return 1;
}

// The line as the user can read it in a message: a NUL shows as "^@",
// and the text crosses from the user's encoding like the entry would.
void showline(const char *line, size_t len, char *out, size_t size) {
    char shown[2 * LIST_ENTRY_MAX + 1];
    size_t n = 0;
    for (size_t i = 0; i < len; i++) {
        if (line[i] == 0) {
            shown[n++] = '^';
            shown[n++] = '@';
        } else {
            shown[n++] = line[i];
        }
    }
    if (plat_importtext(shown, n, out, size) < 0)
        out[0] = 0;
}

// A longer line is no path: cutting it would make a different, shorter
// name that might well exist, and the run would act on the wrong file.
// A NUL would cut it the same way, wherever it stands.
void refuse(const char *line, size_t len, int faults) {
    char shown[4 * (2 * LIST_ENTRY_MAX) + 1];
    showline(line, len, shown, sizeof shown);
    // A NUL first: a list from find -print0 is one long line, and what is
    // wrong with it is how it was read, not its length.
    if (faults & LINE_NUL)
        outf("Error! NUL in list line; give --null for a list from find -print0: %s%s\n", shown,
             faults & LINE_TOOLONG ? "..." : "");
    else
        outf("Error! path too long: %s...\n", shown);
}

} // namespace

void listbegin(ListReader *rd, int handle, int nul) {
    rd->handle = handle;
    rd->end = nul ? 0 : '\n';
    rd->len = rd->pos = 0;
}

int nextlistentry(ListReader *rd, char *entry, size_t size) {
    char line[LIST_ENTRY_MAX + 2];
    size_t len;
    int faults, got;
    while ((got = readline(rd, line, &len, &faults)) > 0) {
        if (faults != 0) {
            refuse(line, len, faults);
            return LIST_REFUSED;
        }
        if (len == 0)
            continue; // a blank line names nothing
        // The list is in the user's encoding, like everything typed.
        int n = plat_importtext(line, len, entry, size);
        if (n < 0 || n > MAX_PATHLEN) {
            if (n < 0)
                refuse(line, len, LINE_TOOLONG);
            else
                outf("Error! path too long: %s...\n", entry);
            return LIST_REFUSED;
        }
        return LIST_ENTRY;
    }
    return got < 0 ? LIST_READERROR : LIST_END;
}
