// Directories held open while a run works in them (see dir_pin): what a
// walk looked at is what it acts on.
#include "platform/platform.h"
#include "platform/posix/dircache.h"
#include "platform/posix/native.h"

#include <cerrno>

int plat_holddir(const char *path, const PlatEntry *seen) {
    At at;
    if (resolve_at(path, 0, &at) != 0)
        return -1;
    if (at.nodir || (at.looked && at.index < 0)) {
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
        return -1;
    }
    int known = seen != nullptr && seen->id.inode != 0;
    if (dir_pin(at.native, seen == nullptr || !dir_pinned_above(at.native),
                known ? &seen->id : nullptr) == 0)
        return 0;
    if (errno == ENOENT || errno == ENOTDIR)
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
    else
        set_errno_error(errno);
    return -1;
}

void plat_releasedir(void) { dir_unpin(); }
