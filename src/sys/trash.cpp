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

// Drives (bit 0 = A) whose \TRASH$$$ is known to exist in this run.
static unsigned rootready;

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

// Makes sure that dir exists as a directory (outside echo mode). 0, or -1
// after "can't mkdir". A name taken by a file is reported here too: moving
// into it could only fail later with a less helpful message. The trash
// itself (isroot) is made for its owner alone: it gathers files from
// directories that others may not enter, and a file moved there keeps its
// own mode, which that directory was all that protected.
static int ensuredir(const char *dir, int isroot) {
    unsigned attrib;
    if (getattr(dir, &attrib) == 0) {
        if (attrib & PLAT_ATTR_DIRECTORY)
            return 0;
    } else if ((isroot ? runfs->mkdirprivate(dir) : mkdirs(dir)) == 0) {
        return 0;
    }
    outf("Error! can't mkdir %s\n", dir);
    return -1;
}

static int ensureroot(int letter) {
    unsigned bit = 1u << (letter - 'A');
    if (rootready & bit)
        return 0;
    if (ensuredir(trashpath, 1) != 0)
        return -1;
    rootready |= bit;
    return 0;
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
    if (ensureroot(letter) != 0 || buildtarget(path) != 0)
        return -1;
    const char *target = trashpath;
    unsigned attrib;
    if (getattr(trashpath, &attrib) == 0) {
        if (trashaltname(trashalt, trashpath) != 0)
            return -1; // it has said why
        target = trashalt;
    }
    if (movetotrash(path, target) != 0)
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
