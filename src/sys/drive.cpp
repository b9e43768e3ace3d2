#include "sys/drive.h"

#include "platform/platform.h"
#include "base/out.h"

// Every kind of entry, so that a hidden or read-only file in the way is
// seen and its size counted.
enum { ANY_ENTRY = 0x37 };

void spaceneeded(unsigned long long size, const char *path, unsigned long long *needed) {
    *needed = size;
    PlatEntry e;
    PlatFind *find = plat_findfirst(path, ANY_ENTRY, &e);
    if (find == nullptr)
        return;
    plat_findclose(find);
    *needed = size > e.size ? size - e.size : 0;
}

int diskfree(const char *root, unsigned long long *bytes) {
    return plat_freespace(root, bytes) == 0 ? 1 : 0;
}

unsigned long long drivefree(int drive) {
    if (drive < 0 || drive > 26)
        return ~0ull;
    char root[4] = {(char)('A' + drive - 1), ':', '\\', 0};
    unsigned long long bytes = 0;
    if (diskfree(drive == 0 ? nullptr : root, &bytes) != 1)
        return ~0ull;
    return bytes;
}

void drivemsg(int stream) {
    streamf(stream, "%s\n", "Drive Not Ready!");
}

// The file system that receives the write is the one to ask: one drive
// letter may span several mounts, and the drive's root can have room while
// a stick mounted below it is full.
int checkfree(unsigned long long needed, const char *path) {
    if (path != nullptr && path[0] == 0)
        path = nullptr;
    unsigned long long bytes = 0;
    if (diskfree(path, &bytes) != 1) {
        drivemsg(PLAT_STDERR);
        return -2;
    }
    return needed <= bytes ? 0 : -1;
}
