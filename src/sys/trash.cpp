// The trash directory \TRASH$$$ of each drive (/DEL!) and the recycle bin
// (/DEL+).
#include "sys/trash.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/param.h"
#include "runfs/runfs.h"
#include "search/pathexp.h"
#include "base/pathstr.h"
#include "base/out.h"

unsigned trashcount;

// trashpath holds the trash directory and then the target path; trashalt
// the numbered name used when the target is taken; trashmade the last
// subdirectory of a trash known to exist, so that a /S walk through one
// source directory checks its trash directory once, not once per file.
static char *trashpath, *trashalt, *trashmade;
static TRASHNAMEFUNC trashaltname;

// Drives (bit 0 = A) whose \TRASH$$$ is known to exist in this run, and
// the identity each was found with (none when only an echo run made it).
static unsigned rootready;
static PlatFileId rootid[26];

static const char TRASHDIR[] = "?:\\TRASH$$$";
enum { TRASHDIR_LEN = sizeof TRASHDIR - 1 };

int trashinit(TRASHNAMEFUNC altname) {
    trashfree();
    trashaltname = altname;
    trashpath = (char *)std::calloc(PATH_SIZE, 1);
    trashalt = (char *)std::calloc(PATH_SIZE, 1);
    trashmade = (char *)std::calloc(PATH_SIZE, 1);
    if (trashpath == nullptr || trashalt == nullptr || trashmade == nullptr) {
        trashfree();
        outf("Error! memory allocate failed for TRASH\n");
        return -1;
    }
    return 0;
}

void trashfree(void) {
    std::free(trashpath);
    std::free(trashalt);
    std::free(trashmade);
    trashpath = trashalt = trashmade = nullptr;
    rootready = 0;
}

// ---- checks on the path ---------------------------------------------------------

static int driveletter(const char *path) {
    int c = upcase((unsigned char)path[0]);
    return c >= 'A' && c <= 'Z' ? c : 0;
}

// The engine only hands over full paths of files ("X:\dir\name"); anything
// else would make the target below meaningless, so it is refused rather
// than guessed at.
static int isfilepath(const char *path) {
    if (driveletter(path) == 0 || path[1] != ':' || path[2] != '\\')
        return 0;
    const char *sep = mbstrrchr(path, '\\');
    return sep != nullptr && sep[1] != 0;
}

// A file already inside X:\TRASH$$$ would only be shuffled around the trash
// (or, with /S, nested one level deeper each run): it stays where it is.
int intrashdir(const char *path) {
    if (std::strlen(path) <= TRASHDIR_LEN || path[TRASHDIR_LEN] != '\\')
        return 0;
    char head[TRASHDIR_LEN + 1];
    std::memcpy(head, path, TRASHDIR_LEN);
    head[TRASHDIR_LEN] = 0;
    head[0] = TRASHDIR[0];
    return samepath(head, TRASHDIR);
}

int trashtree(const char *path) {
    size_t len = std::strlen(path);
    if (len == TRASHDIR_LEN) {
        char head[TRASHDIR_LEN + 1];
        std::memcpy(head, path, len + 1);
        head[0] = TRASHDIR[0];
        return samepath(head, TRASHDIR);
    }
    return intrashdir(path);
}

// ---- the trash directories ------------------------------------------------------

// The trash gathers files from directories that others may not enter, and
// a file moved there keeps its own mode, which that directory was all that
// protected: a trash that is a link, or that someone else can write to,
// would hand the files to whoever controls it. Such a one is refused, and
// the file stays where it is.
static int refused(int why, const char *dir) {
    if (why == PLAT_OWNDIR_LINK)
        outf("Error! trash directory is a link: %s\n", dir);
    else if (why == PLAT_OWNDIR_SHARED)
        outf("Error! trash directory is open to others: %s\n", dir);
    else
        outf("Error! can't mkdir %s\n", dir);
    return -1;
}

// Makes sure that dir exists as a directory (outside echo mode). 0, or -1
// after the message. A name taken by a file is reported here too: moving
// into it could only fail later with a less helpful message. The trash
// itself (isroot) is made for its owner alone.
static int ensuredir(const char *dir, int isroot) {
    unsigned attrib;
    if (getattr(dir, &attrib) == 0) {
        if (attrib & PLAT_ATTR_REPARSE)
            return refused(PLAT_OWNDIR_LINK, dir);
        if (attrib & PLAT_ATTR_DIRECTORY)
            return 0;
    } else if ((isroot ? runfs->mkdirprivate(dir) : mkdirs(dir)) == 0) {
        return 0;
    }
    return refused(0, dir);
}

static int ensureroot(int letter) {
    unsigned bit = 1u << (letter - 'A');
    if (rootready & bit)
        return 0;
    PlatFileId *id = &rootid[letter - 'A'];
    int r = runfs->owndir(trashpath, id);
    if (r < 0) {
        unsigned code = plat_lasterror();
        if (code != PLAT_ERR_FILE_NOT_FOUND && code != PLAT_ERR_PATH_NOT_FOUND)
            return refused(0, trashpath);
        if (ensuredir(trashpath, 1) != 0)
            return -1;
        id->device = id->inode = 0;
        r = runfs->owndir(trashpath, id);
    }
    if (r != 0)
        return refused(r, trashpath);
    rootready |= bit;
    return 0;
}

// Holds the trash of the drive open while a file goes into it, as the
// directory looked at: directories inside it are then reached from it
// without following links, and one swapped for a link meanwhile fails the
// move instead of leading elsewhere. 1 when held, 0 when there is nothing
// on disk to hold (echo mode), or -1 after the message.
static int holdroot(int letter, const char *path) {
    PlatEntry seen;
    seen.id = rootid[letter - 'A'];
    if (seen.id.inode == 0)
        return 0;
    if (runfs->holddir(trashpath, &seen) == 0)
        return 1;
    rootready &= ~(1u << (letter - 'A')); // looked at again for the next file
    outf("Error! can't move to trash: %s\n", path);
    outf(" GetLastError=[%ld]\n", (long)plat_lasterror());
    return -1;
}

// The directory part of trashpath (the target) for /S.
static int ensuresubdir(void) {
    char *sep = mbstrrchr(trashpath, '\\');
    *sep = 0;
    int r = 0;
    if (!samepath(trashpath, trashmade)) {
        r = ensuredir(trashpath, 0);
        if (r == 0)
            strcopy(trashmade, trashpath);
    }
    *sep = '\\';
    return r;
}

// trashpath becomes the target of path: with /S the file keeps its
// directory levels below the trash, otherwise it lands in the trash itself.
static int buildtarget(const char *path) {
    const char *tail = opt_structure == 1 ? path + 2 : mbstrrchr(path, '\\');
    if (pathappend(trashpath, PATH_SIZE, tail) != 0) {
        outf("Error! path too long: %s\n", path);
        return -1;
    }
    return opt_structure == 1 ? ensuresubdir() : 0;
}

// ---- the move -----------------------------------------------------------------

// A refused move is reported and the file counts as not moved: it is still
// where it was, and the summary must not claim otherwise.
static int movetotrash(const char *path, const char *target) {
    // In echo mode the move is only recorded, so that the next file of the
    // name finds this one there.
    if (runfs->move(path, target) == 0)
        return 0;
    outf("Error! can't move to trash: %s\n", path);
    outf(" GetLastError=[%ld]\n", (long)plat_lasterror());
    return -1;
}

// The file goes to trashpath, the trash of its drive: under its own name,
// or a numbered one when that is taken.
static int placeintrash(const char *path) {
    if (buildtarget(path) != 0)
        return -1;
    const char *target = trashpath;
    unsigned attrib;
    if (getattr(trashpath, &attrib) == 0) {
        if (trashaltname(trashalt, trashpath) != 0)
            return -1; // it has said why
        target = trashalt;
    }
    return movetotrash(path, target);
}

int totrash(const char *path) {
    if (trashpath == nullptr || !isfilepath(path)) {
        outf("Error! can't move to trash: %s\n", path);
        return -1;
    }
    if (intrashdir(path)) {
        outf("Error! already in the trash: %s\n", path);
        return -1;
    }
    int letter = driveletter(path);
    strcopy(trashpath, TRASHDIR);
    trashpath[0] = (char)letter;
    if (ensureroot(letter) != 0)
        return -1;
    int held = holdroot(letter, path);
    if (held < 0)
        return -1;
    int r = placeintrash(path);
    if (held)
        runfs->releasedir();
    if (r != 0)
        return -1;
    trashcount++;
    return 0;
}

// ---- the recycle bin ------------------------------------------------------------

// The refusal names the file and the system's reason, as a refused move
// into the trash does.
int torecycle(const char *path) {
    if (runfs->recycle(path) == 0)
        return 0;
    unsigned code = plat_lasterror();
    outf("Error! SHFileOperation() failed\n");
    outf("Error! can't move to recycle bin: %s\n", path);
    outf(" GetLastError=[%ld]\n", (long)code);
    return -1;
}
