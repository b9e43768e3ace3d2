// Key directory matching (/S+, /G+): the last directory of the source base
// is reproduced below the destination unless the destination already ends
// in a directory of that name.
#include <cstring>

#include "job/moxsub.h"
#include "search/pathexp.h"
#include "base/out.h"

namespace {

// The destination's last component with its leading separator (or the
// text after "X:"), or null when it has neither.
const char *lastcomponent(const char *path) {
    const char *p = mbstrrchr(path, '\\');
    if (p == nullptr)
        p = mbstrrchr(path, ':');
    return p;
}

} // namespace

int matchkeydir(PARAM *param) {
    if (isroot(param->srcbasedir) || !opt_keymatch)
        return 0;
    delbackslash(param->srcbasedir);
    const char *key = mbstrrchr(param->srcbasedir, '\\');
    if (key == nullptr || key[1] == '\0') {
        outf("Error! key directory path not found: %s\n", param->srcbasedir);
        return -1;
    }
    const char *last = "";
    if (!isroot(param->dstbasedir)) {
        delbackslash(param->dstbasedir);
        last = lastcomponent(param->dstbasedir);
        if (last == nullptr) {
            outf("Error! key directory matching failed\n"); // a line of its own, like every message
            return -1;
        }
        if (samepath(last, key))
            return 0;
    }
    if (opt_verbose) {
        LOCLINE();
        outf("s = %s\n", key);
        outf("d = %s\n", last);
    }
    char extended[PATH_SIZE];
    if (pathcopy(extended, sizeof extended, param->dstbasedir) != 0 ||
        (delbackslash(extended), pathappend(extended, sizeof extended, key)) != 0) {
        outf("Error! path too long: %s%s\n", param->dstbasedir, key);
        return -1;
    }
    std::strcpy(param->dstbasedir, extended);
    // In echo mode the directories are only recorded as made.
    int r = mkdirslike(param->dstbasedir, param->srcbasedir);
    if (r != 0) {
        outf("Error! creat directory failed: %s\n", param->dstbasedir);
        return r;
    }
    if (opt_verbose && mkdircount != 0)
        outf("Success! create directory: %s\n", param->dstbasedir);
    param->dstbaselen = (int)std::strlen(param->dstbasedir);
    std::strcpy(param->dstcurdir, param->dstbasedir);
    return 0;
}
