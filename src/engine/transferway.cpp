// The transfer way of the per-file action: a file goes to the destination
// under its own name, by the rules of /N, /O, /U, /B and the gather mode,
// or, in the delete modes, the destination decides whether it goes.
#include <cstring>

#include "engine/perfile.h"
#include "fileops/filecopy.h"
#include "job/moxsub.h"
#include "runfs/runfs.h"
#include "search/pathexp.h"
#include "sys/dates.h"
#include "base/out.h"


static int casetwin(const FileJob *j, const Probe *pr);

// The existing destination is not this file's counterpart to write over
// or to trust as a reference: the file itself under another spelling, or
// the copy of a case twin. 1 after the report, else 0.
static int twincopy(const FileJob *j, const Probe *pr) {
    if (!casetwin(j, pr)) {
        // The name wanted matters only where this run wrote the place before.
        char wanted[PATH_SIZE];
        wantedname(j, wanted);
        if (!writtentwin(dstfull, j->name, wanted))
            return 0;
    }
    outf("Error! %s and %s differ only in case\n", srcfull, dstfull);
    filesfailed++;
    return 1;
}

static int notcounterpart(const FileJob *j, const Probe *pr) {
    if (samefile()) {
        refusesame();
        return 1;
    }
    return twincopy(j, pr);
}

static void announce(const char *dir, const char *dstcurdir) {
    if (samepath(lastsrcdir, dir))
        return;
    size_t len = std::strlen(dir);
    const char *root = (len > 0 && dir[len - 1] == ':') ? "\\" : "";
    outf("%s%s --> %s\n", dir, root, dstcurdir);
    pathcopy(lastsrcdir, PATH_SIZE, dir);
}

// No file of the name: none at all, or a directory (isdir).
static int absentdst(const FileJob *j, int isdir) {
    if (opt_overonly == 1)
        return 0;
    int r;
    if (deleteaction(j, &r))
        return r;
    if (isdir)
        return dirinway();
    if (!spaceok(j, dstfull))
        return XFIND_ABORT;
    // Nothing exists to append to.
    return transfer(j, dstfull, COPY_NEW);
}

// Beyond this size a move's gather takes exact times and sizes that agree
// for the same file without reading both: a cheap look, bounded.
static const unsigned long long GATHER_READ_LIMIT = 4ull << 20;

// Gathering brings same-named files from many directories together: a
// differing one is kept under a backup name rather than lost. Date, time
// and size in the two-second grain tell apart only roughly; where the
// file written over is the only one left (a move took it from its source)
// the exact times are compared too, and the bytes of files small enough
// to read cheaply.
static int gatherdiffers(const FileJob *j, const Probe *pr) {
    if (samefindinfo(j->date, j->time, j->size, &pr->entry) != 0)
        return 1;
    if (opt_move != 1)
        return 0;
    if (j->mtime.sec != pr->entry.mtime.sec || j->mtime.nsec != pr->entry.mtime.nsec)
        return 1;
    return j->size <= GATHER_READ_LIMIT && !samebytes(srcfull, dstfull);
}

static int overwrite(const FileJob *j, const Probe *pr) {
    if (notcounterpart(j, pr))
        return 0;
    int r;
    if (deleteaction(j, &r))
        return r;
    int saved = opt_backup == 1 || (opt_gather == 1 && gatherdiffers(j, pr));
    if (saved && backup() != 0)
        return 0;
    if (!spaceok(j, dstfull))
        return XFIND_ABORT;
    // Once the old file is set aside, the name is free: no other may be
    // written over unseen.
    return transfer(j, dstfull, j->append | COPY_CHECKED | (saved ? COPY_NEW : 0));
}

static int update(const FileJob *j, const Probe *pr) {
    // The copy of a twin is no reference: judged by its time, the file
    // would be passed over as up to date in every run.
    if (twincopy(j, pr))
        return 0;
    if (!sourcenewer(&j->mtime, j->date, j->time, &pr->entry.mtime, pr->entry.date,
                     pr->entry.time)) {
        int r;
        if (deletemode() && notcounterpart(j, pr))
            return 0;
        if (!deleteaction(j, &r)) {
            if (!opt_quiet)
                outline("skip!(not newer): ", j->name);
            filesskipped++;
        }
        return 0;
    }
    if (deletemode())
        return 0; // a newer source is kept
    if (notcounterpart(j, pr))
        return 0;
    if (opt_backup == 1 && backup() != 0)
        return 0;
    if (!spaceok(j, dstfull))
        return XFIND_ABORT;
    return transfer(j, dstfull, j->append | COPY_CHECKED | (opt_backup == 1 ? COPY_NEW : 0));
}

// dstcurdir spelled as the disk stores it. Every file of a directory goes
// to the same destination directory, so its spelling is worked out once
// per directory rather than once per file and component; and a walk's next
// directory shares all but its last components with the one before, whose
// spelling stands (only letter case is respelled, so the lengths agree).
static const char *spelleddir(const char *dstcurdir) {
    static char given[PATH_SIZE], spelled[PATH_SIZE];
    if (given[0] != 0 && std::strcmp(given, dstcurdir) == 0)
        return spelled;
    size_t known = given[0] != 0 ? sharedcomponents(given, dstcurdir) : 0;
    int r;
    if (known > 3 && std::strlen(spelled) == std::strlen(given) && spelled[known] == given[known])
        r = longpathfrom(spelled, MAX_PATHLEN, dstcurdir, known);
    else
        r = longpath(spelled, MAX_PATHLEN, dstcurdir);
    if (r < 0)
        pathcopy(spelled, PATH_SIZE, dstcurdir);
    pathcopy(given, PATH_SIZE, dstcurdir);
    return spelled;
}

// dstfull becomes the destination of the file, spelled as on disk, and pr
// what the destination holds under the name.
static int builddst(const FileJob *j, Probe *pr) {
    // A name with wildcards would be taken for a pattern by a look-up.
    if (iswild(j->name)) {
        if (plainjoin(dstfull, j->param->dstcurdir, j->name) < 0)
            return -1;
        probedst(pr);
        return 0;
    }
    // The name as an existing destination file spells it, in the directory
    // as the disk spells it: what longpath gives for the whole path. The
    // look that finds the spelling is the one the decision is made on.
    if (plainjoin(dstfull, spelleddir(j->param->dstcurdir), j->name) < 0)
        return -1;
    probedst(pr);
    char *name = namepart(dstfull);
    if (pr->exists && std::strlen(pr->entry.name) == std::strlen(name))
        std::strcpy(name, pr->entry.name);
    return 0;
}

// The destination answers to this name in another spelling. When the
// source directory holds a file of exactly that spelling too (a Linux tree
// may have both README and readme), the destination is that file's copy:
// writing over it would keep one of the two and lose the other without a
// word.
static int casetwin(const FileJob *j, const Probe *pr) {
    if (std::strcmp(pr->entry.name, j->name) == 0)
        return 0;
    char twin[PATH_SIZE];
    if (plainjoin(twin, j->dir, pr->entry.name) < 0)
        return 0;
    if (std::strcmp(twin, lastgone) == 0)
        return 1;
    PlatEntry e;
    return runfs->findone(twin, 0x37 | PLAT_ATTR_NOMARKS, &e) == 1 &&
           std::strcmp(e.name, pr->entry.name) == 0;
}

// The rules of the transfer way, from what the destination holds now.
static int decide(const FileJob *j) {
    Probe pr;
    if (j->probed != nullptr && !j->again)
        pr = *j->probed;
    else
        probedst(&pr);
    if (unanswered(&pr))
        return 0;
    // A directory of the name is no file: the delete modes find no
    // counterpart in it, and a copy onto it fails and ends the walk, like
    // any failed copy. It is never renamed aside as a backup.
    if (!pr.exists || pr.isdir)
        return absentdst(j, pr.isdir);
    // /N leaves an existing file alone, whatever it is; the checks that
    // the file is this one's counterpart come with the actions that rely on
    // it (overwrite, backup, delete).
    if (opt_noover == 1) {
        twincopy(j, &pr); // a twin's copy is not this file's: never passed over unsaid
        return 0;
    }
    if (opt_update != 1)
        return overwrite(j, &pr);
    return update(j, &pr);
}

int transferway(const FileJob *j, int changed) {
    PARAM *p = j->param;
    if (changed) {
        // A directory without a counterpart is reported once, by whichever
        // of its entry and its first file came first.
        if (dsttoolong(j->dir)) {
            backtobase(p);
            return XFIND_DIR_SKIP | XFIND_SUBDIR_SKIP;
        }
        int made = makedstcurdir(j->dir, p->srcbasedir, p->dstcurdir, p->dstbaselen);
        if (made == DSTDIR_TOOLONG) {
            notetoolong(p, j->dir);
            return XFIND_DIR_SKIP | XFIND_SUBDIR_SKIP;
        }
        if (made == DSTDIR_LINK) {
            // Each file of the directory fails on its own: srccurdir is
            // forgotten, so the next one asks again instead of going to
            // the counterpart of the directory before.
            p->srccurdir[0] = 0;
            filesfailed++;
            return 0;
        }
        if (made != 0)
            return XFIND_ABORT;
    }
    announce(j->dir, p->dstcurdir);
    Probe pr;
    FileJob k = *j;
    k.probed = &pr;
    if (builddst(&k, &pr) < 0)
        return toolong(p->dstcurdir, j->name);
    if (!deletemode()) {
        if (std::strcmp(srcfull, dstfull) == 0 && p->format[0] == 0)
            return refusesame();
        char spelled[PATH_SIZE];
        std::strcpy(spelled, dstfull);
        applycase(dstfull);
        if (std::strcmp(spelled, dstfull) != 0)
            k.probed = nullptr; // another spelling may find another entry
        if (p->format[0] != 0) {
            char tmpl[PATH_SIZE];
            std::strcpy(tmpl, dstfull);
            dstfull[0] = 0;
            return newnameway(j, tmpl);
        }
    }
    return decideuntilwritten(&k, decide);
}
