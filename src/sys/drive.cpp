#include "sys/drive.h"

#include <cstring>

#include "base/param.h"
#include "platform/platform.h"
#include "runfs/runfs.h"
#include "search/pathexp.h"
#include "base/out.h"

// Every kind of entry, so that a hidden or read-only file in the way is
// seen and its size counted.
enum { ANY_ENTRY = 0x37 | PLAT_ATTR_NOMARKS };

void spaceneeded(unsigned long long size, const char *path, unsigned long long *needed) {
    *needed = size;
    PlatEntry e;
    RunFind *find = runfs->findfirst(path, ANY_ENTRY, &e);
    if (find == nullptr)
        return;
    runfs->findclose(find);
    *needed = size > e.size ? size - e.size : 0;
}

int diskfree(const char *root, unsigned long long *bytes) {
    return runfs->freespace(root, bytes) == 0 ? 1 : 0;
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

// ---- the free space the run counts on ------------------------------------------
//
// Asking the file system for its free space before every file made it the
// most frequent call of a copy. The answer is asked once for the file
// system the run writes to, then counted down by what the run writes, and
// asked again only when the count comes near what a file needs (others
// write too, and a file takes whole blocks) or the run writes elsewhere.

// Closer than this to a file's size, the count is not trusted.
const unsigned long long NEAR = 64ull << 20;
// What a file takes beyond its bytes is counted in blocks of this size,
// with one more for its entry.
const unsigned long long BLOCK = 4096;

struct Room {
    char dir[PATH_SIZE];       // the directory last asked about
    char missing[PATH_SIZE];   // the highest missing directory above it, or ""
    int known;                 // device and bytes hold
    unsigned long long device; // of that directory's file system
    unsigned long long bytes;  // free then, less what the run wrote since
};
static Room room;

void forgetfree(void) {
    room.known = 0;
    room.dir[0] = 0;
    room.missing[0] = 0;
}

// 1 when path lies below dir (whole components).
static int below(const char *path, const char *dir) {
    size_t n = std::strlen(dir);
    return n > 0 && std::strncmp(path, dir, n) == 0 && path[n] == '\\' && mbtype(path, (int)n) == 0;
}

// The device of the file system that holds dir: that of its nearest
// existing directory (*missing: the highest missing one on the way, or
// ""). 0 when none is found.
static int deviceof(const char *dir, unsigned long long *device, char *missing) {
    char part[PATH_SIZE], up[PATH_SIZE];
    missing[0] = 0;
    if (pathcopy(part, PATH_SIZE, dir) < 0)
        return 0;
    for (;;) {
        PlatFileId id;
        if (runfs->fileid(part, &id) == 0) {
            *device = id.device;
            return 1;
        }
        std::strcpy(missing, part);
        if (splitpath(part, up, sizeof up, nullptr, 0) < 0 || up[0] == 0 ||
            std::strcmp(up, part) == 0)
            return 0;
        std::strcpy(part, up);
    }
}

// 1 when the count of the file system holding dir is known and far enough
// above needed to be trusted.
static int counted(const char *dir, unsigned long long needed) {
    if (!room.known || dir[0] == 0)
        return 0;
    // Below a directory that was missing nothing was there to be mounted:
    // what is made there lies on the file system that holds its parent.
    if (std::strcmp(dir, room.dir) != 0 && !below(dir, room.missing)) {
        unsigned long long device;
        char missing[PATH_SIZE];
        if (!deviceof(dir, &device, missing) || device != room.device)
            return 0;
        pathcopy(room.dir, PATH_SIZE, dir);
        pathcopy(room.missing, PATH_SIZE, missing);
    }
    return room.bytes >= needed && room.bytes - needed >= NEAR &&
           room.bytes - needed - NEAR >= needed;
}

// Takes a file of needed bytes off the count; echo mode writes nothing.
static void charge(unsigned long long needed) {
    if (!runfs->writes)
        return;
    unsigned long long used = (needed + BLOCK - 1) / BLOCK * BLOCK + BLOCK;
    room.bytes = room.bytes > used ? room.bytes - used : 0;
}

// The file system that receives the write is the one to ask: one drive
// letter may span several mounts, and the drive's root can have room while
// a stick mounted below it is full.
// 1 when path names an entry of the directory the count is kept for: the
// files of one directory are checked one after another.
static int inroomdir(const char *path) {
    size_t n = std::strlen(room.dir);
    return room.known && below(path, room.dir) && mbstrchr(path + n + 1, '\\') == nullptr;
}

int checkfree(unsigned long long needed, const char *path) {
    if (path != nullptr && path[0] == 0)
        path = nullptr;
    if (path != nullptr && inroomdir(path) && counted(room.dir, needed)) {
        charge(needed);
        return 0;
    }
    char dir[PATH_SIZE] = "";
    if (path != nullptr && splitpath(path, dir, sizeof dir, nullptr, 0) < 0)
        dir[0] = 0;
    if (counted(dir, needed)) {
        charge(needed);
        return 0;
    }
    unsigned long long bytes = 0;
    if (diskfree(path, &bytes) != 1) {
        drivemsg(PLAT_STDERR);
        return -2;
    }
    room.known = dir[0] != 0 && deviceof(dir, &room.device, room.missing);
    pathcopy(room.dir, PATH_SIZE, room.known ? dir : "");
    if (!room.known)
        room.missing[0] = 0;
    room.bytes = bytes;
    if (needed > bytes)
        return -1;
    charge(needed);
    return 0;
}
