// The destination of a run: the base directory checked and made before
// the walk, and the current directory kept in step with the source tree.
#include <cstring>

#include "job/moxsub.h"
#include "runfs/runfs.h"
#include "search/pathexp.h"
#include "base/out.h"

int dstdirlower, dstdirupper;

// The last current destination directory whose every level below the base
// was found a real directory (or made), so that returning to it, or going
// one level deeper, looks at no level twice. Reset for each run.
static char verified[PATH_SIZE];

// The link last reported: every directory below it is refused with it, and
// once is enough to say so.
static char refused[PATH_SIZE];

// 1 when the argument begins with a drive letter that has no directory
// behind it (an unmapped letter).
static int drivemissing(const char *arg) {
    unsigned char c = (unsigned char)arg[0];
    int letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (!letter || arg[1] != ':')
        return 0;
    char root[4] = {arg[0], ':', '\\', 0};
    int type = runfs->drivetype(root);
    return type == PLAT_DRIVE_UNKNOWN || type == PLAT_DRIVE_NO_ROOT_DIR;
}

// A destination that does not exist yet: the reference directory of /DEL
// must, /E only pretends, anything else is made with its parents, itself
// like the source directory it is to hold the copy of.
static int createdst(const char *out, const char *arg, const char *model) {
    if (opt_delete == 1) {
        outf("Error! referential dst directory for delete not found!: %s\n", arg);
        return -1;
    }
    // In echo mode the directories are only recorded as made.
    if (mkdirslike(out, model) != 0) {
        outf("Error! creat directory failed: %s\n", arg);
        return -1;
    }
    if (opt_verbose && mkdircount != 0)
        outf("Success! create directory: %s\n", arg);
    return 0;
}

// Says why the destination has no full path. An unmapped drive gets the
// message of a directory that cannot be made (nothing can be made there,
// and with /E there would be no full path to go on with).
static void expandfailed(const char *arg) {
    if (plat_lasterror() == PLAT_ERR_FILENAME_TOO_LONG)
        outf("Error! path too long: %s\n", arg);
    else if (drivemissing(arg) && opt_delete == 1)
        outf("Error! referential dst directory for delete not found!: %s\n", arg);
    else if (drivemissing(arg))
        outf("Error! creat directory failed: %s\n", arg);
    else
        outf("Error! path expand failed. %s\n", arg);
}

int checkdstdir(char *out, const char *arg, const char *model) {
    plat_setlasterror(0);
    // A destination names one directory. "*" and "?" would be made part of
    // its name on Linux (D:\Q* became a directory "Q*"), which Windows
    // cannot hold: refused on both, before anything is made.
    if (iswild(arg)) {
        out[0] = 0;
        outf("Error! wildcard in destination: %s\n", arg);
        return -1;
    }
    // An empty argument would quietly mean the current directory.
    if (arg[0] == '\0' || pathexpand(out, arg, isLFNmode) != 0) {
        out[0] = 0;
        expandfailed(arg);
        return -1;
    }
    unsigned attrib;
    if (getattr(out, &attrib) != 0)
        return createdst(out, arg, model);
    if (attrib & PLAT_ATTR_DIRECTORY)
        return 0;
    outf("Error! path is not directory!: %s\n", arg);
    return -1;
}

int setupdst(PARAM *param, const char *arg) {
    verified[0] = 0;
    refused[0] = 0;
    if (checkdstdir(param->dstbasedir, arg, param->srcbasedir) != 0)
        return -1;
    if (!isroot(param->dstbasedir))
        delbackslash(param->dstbasedir);
    std::strcpy(param->dstcurdir, param->dstbasedir);
    param->dstbaselen = (int)std::strlen(param->dstbasedir);
    return 0;
}

// ---- the current destination directory --------------------------------------

// The part of srcdir below srcbasedir, without its leading separator; ""
// for the base itself. The search reports a root as "C:" while the base
// reads "C:\", so a directory no longer than the base is the base.
// The part of srcdir below srcbasedir; null when srcdir does not lie
// below it (a later line of a list may name any directory), for cutting
// such a path at the base's length would map unrelated directories onto
// one made-up name and copy them over each other.
static const char *relpart(const char *srcdir, const char *srcbasedir) {
    size_t baselen = std::strlen(srcbasedir);
    size_t dirlen = std::strlen(srcdir);
    if (dirlen <= baselen) // the base itself, a root reading "C:" included
        return samepath(srcdir, srcbasedir) ? "" : nullptr;
    char head[PATH_SIZE];
    std::memcpy(head, srcdir, baselen);
    head[baselen] = 0;
    const char *rel = srcdir + baselen;
    int isroot_ = baselen > 0 && srcbasedir[baselen - 1] == '\\';
    if (!samepath(head, srcbasedir) || (!isroot_ && *rel != '\\'))
        return nullptr;
    return *rel == '\\' ? rel + 1 : rel;
}

// The case of /S with /L or /L+ for the part of dstcurdir below the base;
// the base keeps the spelling the user gave it.
static int wantcase(void) { return dstdirlower == 1 || dstdirupper == 1; }

static void setcase(char *dstcurdir, int dstbaselen) {
    if (dstdirlower == 1)
        mbstrlwr(dstcurdir + dstbaselen);
    else if (dstdirupper == 1)
        mbstrupr(dstcurdir + dstbaselen);
}

// The directory exists: only its spelling may have to change. A rename that
// differs in case only respells the entry, as the platform's move does.
static void respell(char *dstcurdir, int dstbaselen) {
    char old[PATH_SIZE];
    std::strcpy(old, dstcurdir);
    setcase(dstcurdir, dstbaselen);
    if (std::strcmp(old, dstcurdir) != 0)
        movefile(old, dstcurdir);
}

// A link where a directory of the destination tree belongs would lead the
// copies out of the tree, wherever it points: it is refused, never
// followed. The base itself may be a link; the user named it.
static int refuselink(const char *link) {
    if (std::strcmp(link, refused) != 0)
        outf("Error! path is a link, not a directory: %s\n", link);
    pathcopy(refused, PATH_SIZE, link);
    return DSTDIR_LINK;
}

// 1 with the first link into link when one of the levels between the base
// and the last level of dstcurdir is a link. Levels that do not exist end
// the search: what is made below them is new.
static int linkabove(const char *dstcurdir, int dstbaselen, char *link) {
    const char *p = dstcurdir + dstbaselen;
    if (*p == '\\')
        p++;
    const char *sep;
    while ((sep = mbstrchr(p, '\\')) != nullptr) {
        size_t end = (size_t)(sep - dstcurdir);
        p = sep + 1;
        if (std::strncmp(dstcurdir, verified, end) == 0 &&
            (verified[end] == 0 || verified[end] == '\\'))
            continue;
        std::memcpy(link, dstcurdir, end);
        link[end] = 0;
        unsigned attrib;
        if (getattr(link, &attrib) != 0 || !(attrib & PLAT_ATTR_DIRECTORY))
            return 0; // missing, or a file that the making fails on
        if (attrib & PLAT_ATTR_REPARSE)
            return 1;
    }
    return 0;
}

// A copy of a directory is no more open to others than the directory it
// copies: it is made like srcdir (the levels above it, made in the same
// go, get the default mode).
static int makecurdir(char *dstcurdir, int dstbaselen, const char *srcdir) {
    char link[PATH_SIZE];
    if (linkabove(dstcurdir, dstbaselen, link))
        return refuselink(link);
    unsigned attrib;
    if (getattr(dstcurdir, &attrib) != 0) {
        setcase(dstcurdir, dstbaselen);
        if (mkdirslike(dstcurdir, srcdir) != 0) {
            outf("Error! create directory failed: %s\n", dstcurdir);
            return -1;
        }
        if (opt_verbose && mkdircount != 0)
            outf("Success! create directory: %s\n", dstcurdir);
        pathcopy(verified, PATH_SIZE, dstcurdir);
        return 0;
    }
    if (!(attrib & PLAT_ATTR_DIRECTORY)) {
        outf("Error! create directory failed: %s\n", dstcurdir);
        return -1;
    }
    if (attrib & PLAT_ATTR_REPARSE)
        return refuselink(dstcurdir);
    if (wantcase())
        respell(dstcurdir, dstbaselen);
    pathcopy(verified, PATH_SIZE, dstcurdir);
    return 0;
}

int makedstcurdir(const char *srcdir, const char *srcbasedir, char *dstcurdir, int dstbaselen) {
    dstcurdir[dstbaselen] = 0;
    if (addbackslash(dstcurdir) < 0) {
        outf("Error! path too long: %s\\\n", dstcurdir);
        return -1;
    }
    const char *rel = relpart(srcdir, srcbasedir);
    if (rel == nullptr) {
        outf("Error! directory not below source base: %s\n", srcdir);
        dstcurdir[dstbaselen] = 0;
        return -1;
    }
    if (*rel == 0)
        return 0;
    if (pathappend(dstcurdir, PATH_SIZE, rel) != 0) {
        outf("Error! path too long: %s%s\n", dstcurdir, rel);
        dstcurdir[dstbaselen] = 0;
        return DSTDIR_TOOLONG;
    }
    // The delete modes only compare against the destination: they leave no
    // directory behind. /E only records what it would make.
    int create = !deletemode();
    int made = create ? makecurdir(dstcurdir, dstbaselen, srcdir) : 0;
    if (made == DSTDIR_LINK)
        dstcurdir[dstbaselen] = 0;
    if (made != 0)
        return made;
    delbackslash(dstcurdir);
    return 0;
}
