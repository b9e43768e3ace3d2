// Numbered backup names: the first free one of README(000).TXT ...
// README(999).TXT, or of README.000 ... README.999 with /F.
#include "names/backup.h"

#include <cstdio>
#include <cstring>

#include "base/param.h"
#include "search/pathexp.h"
#include "base/pathstr.h"
#include "base/out.h"

enum {
    BACKUP_LIMIT = 1000, // any entry at all takes a number (pathtaken)
};

// Where the extension starts: the length of the base (the path without the
// last "." and what follows) and the extension itself ("" when none). A dot
// with a "\" after it belongs to a directory name.
static size_t splitext(const char *path, const char **ext) {
    const char *dot = mbstrrchr(path, '.');
    if (dot == nullptr || mbstrchr(dot + 1, '\\') != nullptr) {
        *ext = "";
        return std::strlen(path);
    }
    *ext = dot + 1;
    return (size_t)(dot - path);
}

// A file without extension gets README(000). and keeps that final ".":
// Linux stores a trailing dot as part of the name instead of dropping it,
// and the candidate probed is then exactly the name the backup will have.
static int candidate(char *out, const char *path, size_t baselen, const char *ext, int n) {
    int len;
    if (opt_extforth)
        len = std::snprintf(out, PATH_SIZE, "%.*s.%03d", (int)baselen, path, n);
    else
        len = std::snprintf(out, PATH_SIZE, "%.*s(%03d).%s", (int)baselen, path, n, ext);
    return len >= 0 && len <= MAX_PATHLEN ? 0 : -1;
}

int backupname(char *out, const char *path) {
    const char *ext;
    size_t baselen = splitext(path, &ext);
    for (int n = 0; n < BACKUP_LIMIT; n++) {
        if (candidate(out, path, baselen, ext, n) != 0) {
            outf("Error! path too long: %s\n", path);
            out[0] = 0;
            return -1;
        }
        if (!pathtaken(out))
            return 0;
    }
    outf("Error! number is out of range: %d\n", BACKUP_LIMIT);
    out[0] = 0;
    return -1;
}
