// Directory handling: which directories the walk works in, and keeping the
// job's current source and destination directories in step with it.
#include <cstdlib>
#include <cstring>

#include "engine/moxmain.h"
#include "job/moxsub.h"
#include "runfs/runfs.h"
#include "search/pathexp.h"
#include "base/out.h"

// "." and ".." come back from every "*.*" listing; they are never work.
static int dotname(const char *name) {
    return name[0] == '.';
}

static void skipline(const char *dir) {
    if (!opt_quiet)
        outf("skip!: <%s>\n", dir);
}

// The destination base as a file (device and inode), taken once per run.
static PlatFileId baseid;
static int baseknown;

// The directory last asked about, and the length of its shortest leading
// part (whole components) that is the destination base; 0 when none is.
// Every leading part of it was looked at, so a directory that shares some
// of them needs only its own further parts looked at: one look-up per
// directory the walk enters.
static char chain[PATH_SIZE];
static size_t chainbase;

void notedstbase(const PARAM *param) {
    baseknown = param->dstbasedir != nullptr && param->dstbasedir[0] != 0 &&
                !isroot(param->dstbasedir) && runfs->fileid(param->dstbasedir, &baseid) == 0;
    chain[0] = 0;
    chainbase = 0;
}

static int isbaseitself(const char *path) {
    PlatFileId id;
    return runfs->fileid(path, &id) == 0 && id.device == baseid.device && id.inode == baseid.inode;
}

// The text cannot see a destination reached through a link or a bind
// mount (C:\L\SUB\BACK where C:\L leads to C:\REAL and the destination is
// C:\REAL\SUB\BACK): the walk would copy the tree into itself until the
// paths grew too long. Whatever the path, dir lies inside when it, or a
// directory above it, is the base as a file.
static int baseabove(const char *dir) {
    if (!baseknown)
        return 0;
    size_t shared = sharedcomponents(dir, chain);
    size_t found = chainbase != 0 && chainbase <= shared ? chainbase : 0;
    char part[PATH_SIZE];
    // The parts below the drive's root ("C:" alone would name the drive's
    // current directory, and a root is never the base).
    int drive = dir[0] != 0 && dir[1] == ':';
    if (found == 0 && (!drive || std::strlen(dir) > 3) && pathcopy(part, PATH_SIZE, dir) >= 0) {
        const char *p = drive ? dir + 3 : dir;
        for (;;) {
            const char *sep = mbstrchr(p, '\\');
            size_t end = sep != nullptr ? (size_t)(sep - dir) : std::strlen(dir);
            if (end > shared) {
                part[end] = 0;
                int hit = isbaseitself(part);
                part[end] = dir[end];
                if (hit) {
                    found = end;
                    break;
                }
            }
            if (sep == nullptr)
                break;
            p = sep + 1;
        }
    }
    pathcopy(chain, PATH_SIZE, dir);
    chainbase = found;
    return found != 0;
}

// A plain prefix test would take C:\DATA2 for a part of C:\DATA, and the
// walk would then skip a tree that was never written to. The prefix must
// end on a character boundary of dir, followed by a separator of its own
// (not the second byte of a double-byte character) or by the end.
static int textinside(const PARAM *param, const char *dir) {
    const char *base = param->dstbasedir;
    if (base == nullptr || base[0] == 0 || isroot(base))
        return 0;
    size_t len = std::strlen(base);
    size_t dirlen = std::strlen(dir);
    if (dirlen < len)
        return 0;
    if (dir[len] != 0 && (dir[len] != '\\' || mbtype(dir, (int)len) != 0))
        return 0;
    if (mbtype(dir, (int)len - 1) == 1)
        return 0; // the cut would split a double-byte character
    char prefix[PATH_SIZE];
    if (len >= sizeof prefix)
        return 0;
    std::memcpy(prefix, dir, len);
    prefix[len] = 0;
    return samepath(prefix, base);
}

// ---- destination directories too long to name ---------------------------------

// Source directories whose destination counterpart makedstcurdir reported
// as too long, PATH_SIZE bytes each. A subdirectory's entry is handled
// before the walk comes into it, and the entries of its siblings before
// any of them is walked, so several may be waiting at once.
static char *toolongdirs;
static unsigned toolongused, toolongroom;

int dsttoolong(const char *dir) {
    size_t dirlen = std::strlen(dir);
    for (unsigned i = 0; i < toolongused; i++) {
        const char *seen = toolongdirs + (size_t)i * PATH_SIZE;
        size_t len = std::strlen(seen);
        // The walk spells every path below a directory as it spelled the
        // directory, and seen ends on a whole character.
        if (len <= dirlen && std::memcmp(dir, seen, len) == 0 &&
            (dir[len] == 0 || dir[len] == '\\'))
            return 1;
    }
    return 0;
}

void backtobase(PARAM *param) {
    pathcopy(param->srccurdir, PATH_SIZE, param->srcbasedir);
    pathcopy(param->dstcurdir, PATH_SIZE, param->dstbasedir);
}

void notetoolong(PARAM *param, const char *dir) {
    filesfailed++; // the directory's files stay where they are
    backtobase(param);
    if (toolongused == toolongroom) {
        unsigned room = toolongroom != 0 ? 2 * toolongroom : 8;
        char *more = (char *)std::realloc(toolongdirs, (size_t)room * PATH_SIZE);
        if (more == nullptr)
            return; // it may be reported again, nothing worse
        toolongdirs = more;
        toolongroom = room;
    }
    pathcopy(toolongdirs + (size_t)toolongused++ * PATH_SIZE, PATH_SIZE, dir);
}

void forgettoolong(void) {
    std::free(toolongdirs);
    toolongdirs = nullptr;
    toolongused = toolongroom = 0;
}

int insidedst(const PARAM *param, const char *dir) {
    return textinside(param, dir) || baseabove(dir);
}

// ---- maskfilter ----------------------------------------------------------------

static int matchany(char *const *masks, const char *text) {
    for (int i = 0; i < MASK_SLOTS && masks[i] != nullptr; i++)
        if (samepath(masks[i], text))
            return 1;
    return 0;
}

// The directory masks: 4 when the scanned directory's own name is masked,
// 8 when the entry is a masked subdirectory, else 0.
static int dirmasks(const char *dir, const XFINDENTRY *entry, char *const *masks) {
    const char *sep = mbstrrchr(dir, '\\');
    if (sep == nullptr || sep[1] == 0)
        return 0; // a drive root has no name of its own to mask
    const char *last = sep + 1;
    int isdir = (entry->attrib & PLAT_ATTR_DIRECTORY) != 0;
    for (int i = 0; i < MASK_SLOTS && masks[i] != nullptr; i++) {
        if (samepath(masks[i], last)) {
            skipline(dir);
            return XFIND_DIR_SKIP;
        }
        if (isdir && samepath(masks[i], entry->name)) {
            if (!opt_quiet)
                outf("skip!: <%s> in <%s>\n", entry->name, dir);
            return XFIND_SUBDIR_SKIP;
        }
    }
    return 0;
}

int maskfilter(const char *dir, XFINDENTRY entry, void *user) {
    PARAM *param = (PARAM *)user;
    int isdir = (entry.attrib & PLAT_ATTR_DIRECTORY) != 0;
    if (isdir && dotname(entry.name))
        return 0;
    if (param->skipdirmask[0] != nullptr) {
        int r = dirmasks(dir, &entry, param->skipdirmask);
        if (r != 0)
            return r;
    }
    if (deletemode() && isdir)
        return 0;
    if (param->skipextmask[0] != nullptr) {
        const char *ext = mbstrrchr(entry.name, '.');
        if (ext != nullptr && matchany(param->skipextmask, ext))
            return 0;
    }
    return param->entryfunc(dir, entry, user);
}

// ---- foundsubdir ---------------------------------------------------------------

// The destination's counterpart of a subdirectory, made as soon as its
// entry is handled, so that empty directories are reproduced too.
static int entersubdir(PARAM *param, char *srcfull, const char *dir, const char *name) {
    if (joinfound(srcfull, dir, name) < 0) {
        outf("Error! path too long: %s\\%s\n", dir, name);
        return XFIND_ABORT;
    }
    // The destination itself, met as an entry of a directory being copied
    // (C:\A into C:\A\SUB): it gets no counterpart, and the job stays where
    // it is, so that the walk coming into it sees a change of directory and
    // skips it instead of copying its own output into it again.
    if (insidedst(param, srcfull)) {
        srcfull[0] = 0;
        return 0;
    }
    // A counterpart too long to name is reported once and skipped: its
    // files are skipped with their directory when the walk comes into it,
    // and inside it nothing below can be made either. A link where the
    // counterpart belongs is refused the same way. Either way the job's
    // current directories go back to the base together, so that the next
    // file of this directory builds its own counterpart again rather than
    // land in the base.
    if (dsttoolong(srcfull)) {
        srcfull[0] = 0;
        return dsttoolong(dir) ? XFIND_DIR_SKIP | XFIND_SUBDIR_SKIP : 0;
    }
    int made = makedstcurdir(srcfull, param->srcbasedir, param->dstcurdir, param->dstbaselen);
    if (made == DSTDIR_TOOLONG || made == DSTDIR_LINK) {
        if (made == DSTDIR_TOOLONG)
            notetoolong(param, srcfull);
        else
            backtobase(param);
        srcfull[0] = 0;
        return 0;
    }
    if (made != 0)
        return XFIND_ABORT;
    pathcopy(param->srccurdir, PATH_SIZE, srcfull);
    srcfull[0] = 0;
    if (opt_verbose) {
        LOCLINE();
        outf("p->srccurdir = %s\n", param->srccurdir);
        outf("p->dstcurdir = %s\n", param->dstcurdir);
    }
    return 0;
}

// Steps up to the case change. *casenext is set when the name is to get
// the case of /L or /L+ in place.
static int subdirsteps(PARAM *param, char *srcfull, const char *dir, const char *name,
                       int *casenext) {
    *casenext = 0;
    if (dotname(name))
        return 0;
    if (param->dstcurdir[0] != 0 && insidedst(param, dir)) {
        if (opt_verbose)
            LOCLINE();
        skipline(dir);
        return XFIND_DIR_SKIP | XFIND_SUBDIR_SKIP;
    }
    if (param->dstcurdir[0] != 0 && opt_structure == 1) {
        int r = entersubdir(param, srcfull, dir, name);
        if (r != 0)
            return r;
    }
    *casenext = srcdirlower == 1 || srcdirupper == 1;
    return 0;
}

int foundsubdir(PARAM *param, char *srcfull, char *dstfull, const char *dir, const char *name) {
    if (deletemode())
        return 0;
    if (opt_verbose)
        outf("---------- SUBDIR [IN] ----------\n");
    int casenext;
    int r = subdirsteps(param, srcfull, dir, name, &casenext);
    if (opt_verbose)
        outf("---------- SUBDIR [OUT] ----------\n");
    if (casenext)
        return casedir(srcfull, dstfull, dir, name);
    return r;
}

// ---- srcdirchanged -------------------------------------------------------------

int srcdirchanged(const char *dir, PARAM *param) {
    if (opt_verbose) {
        LOCLINE();
        outf("Directory Changed! ...\n");
        outf("old:[%s]\nnew:[%s]\n", param->srccurdir, dir);
    }
    // A copy's own output is not walked again; in the delete modes the
    // reference is not source: walked, its files would be judged against a
    // counterpart below themselves and deleted after the sources they had
    // just let go, and both copies would be lost.
    if (insidedst(param, dir)) {
        if (opt_verbose)
            LOCLINE();
        skipline(dir);
        return XFIND_DIR_SKIP | XFIND_SUBDIR_SKIP;
    }
    pathcopy(param->srccurdir, PATH_SIZE, dir);
    return 0;
}
