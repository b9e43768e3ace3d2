// The destination's path and name as the ways through the per-file action
// build them: joined to their directory, spelt as the run asks, and
// reported when they do not fit.
#include "engine/perfile.h"
#include "job/moxsub.h"
#include "search/pathexp.h"
#include "base/out.h"

// A path that would not fit a path buffer is reported and the file counted
// as failed; the walk goes on with the next file.
int toolong(const char *dir, const char *name) {
    outf("Error! path too long: %s\\%s\n", dir, name);
    filesfailed++;
    return 0;
}

// dir, a separator and name without any look-up: the walk hands out names
// as stored, and a name holding "*" or "?" (legal on Linux) must never be
// taken for a pattern that could pick another file.
int plainjoin(char *out, const char *dir, const char *name) {
    out[0] = 0;
    if (pathcopy(out, PATH_SIZE, dir) < 0 || addbackslash(out) < 0 ||
        pathappend(out, PATH_SIZE, name) < 0) {
        out[0] = 0;
        return -1;
    }
    return 0;
}

// Like joinfound, which respells the name as an existing entry stores it.
int joinname(char *out, const char *dir, const char *name) {
    if (iswild(name))
        return plainjoin(out, dir, name);
    return joinfound(out, dir, name);
}

char *namepart(char *path) {
    char *sep = mbstrrchr(path, '\\');
    return sep != nullptr ? sep + 1 : path;
}

void applycase(char *path) {
    char *name = namepart(path);
    if (casechange != nullptr && name[0] != 0)
        casechange(name);
}
