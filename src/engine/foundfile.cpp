// The per-file action: for every entry the walk finds, the filters, where
// the file goes and under which name, what is already there, and then the
// copy, move, append, backup, delete or skip, with the run counters.
#include <cstring>

#include "engine/moxmain.h"
#include "fileops/filecopy.h"
#include "job/moxsub.h"
#include "names/backup.h"
#include "names/format.h"
#include "search/pathexp.h"
#include "sys/dates.h"
#include "sys/drive.h"
#include "base/out.h"
#include "sys/trash.h"

// What the steps share about the one file being handled.
struct FileJob {
    const char *dir; // the directory being scanned
    const char *name; // the entry's name as stored
    PARAM *param;
    unsigned attrib, date, time;
    unsigned long long size;
    PlatFileTime mtime; // the last write exactly, for the copy
    unsigned newattrib; // what the copy is given
    int append;         // /I: COPY_APPEND, else 0
    int again;          // a file took the name after the last look: decided anew
};

// The destination entry of the same name, when there is one.
struct Probe {
    int exists;
    int isdir;
    XFINDENTRY entry;
};

// A path that would not fit a path buffer is reported and the file counted
// as failed; the walk goes on with the next file.
static int toolong(const char *dir, const char *name) {
    outf("Error! path too long: %s\\%s\n", dir, name);
    filesfailed++;
    return 0;
}

// dir, a separator and name without any look-up: the walk hands out names
// as stored, and a name holding "*" or "?" (legal on Linux) must never be
// taken for a pattern that could pick another file.
static int plainjoin(char *out, const char *dir, const char *name) {
    out[0] = 0;
    if (pathcopy(out, PATH_SIZE, dir) < 0 || addbackslash(out) < 0 ||
        pathappend(out, PATH_SIZE, name) < 0) {
        out[0] = 0;
        return -1;
    }
    return 0;
}

// Like joinfound, which respells the name as an existing entry stores it.
static int joinname(char *out, const char *dir, const char *name) {
    if (iswild(name))
        return plainjoin(out, dir, name);
    return joinfound(out, dir, name);
}

static char *namepart(char *path) {
    char *sep = mbstrrchr(path, '\\');
    return sep != nullptr ? sep + 1 : path;
}

static void applycase(char *path) {
    char *name = namepart(path);
    if (casechange != nullptr && name[0] != 0)
        casechange(name);
}

// ---- the delete modes ----------------------------------------------------------

// The trash has no counter for refusals; a file that stayed is a failure.
static int trashmove(void) {
    // A walk from the drive's root meets the trash itself: its files are
    // already where they were to go.
    if (intrashdir(srcfull))
        return 0;
    int r = totrash(srcfull);
    if (r != 0)
        filesfailed++;
    return r;
}

// The source file a delete mode last disposed of. Names that differ only
// in case are listed next to each other, so when README has just gone,
// this remembers that readme had a twin whose copy the reference holds.
static char lastgone[PATH_SIZE];

// Deletes, trashes or recycles the source when a delete mode is set. 1
// when one was (*result is then what the walk gets), else 0.
static int deleteaction(const FileJob *j, int *result) {
    *result = 0;
    if (deletemode())
        std::strcpy(lastgone, srcfull);
    if (opt_delete == 1)
        deletefile(srcfull, j->name);
    else if (opt_trash == 1)
        *result = trashmove();
    else if (opt_recycle == 1)
        recyclefile(srcfull, j->name);
    else
        return 0;
    return 1;
}

// ---- the write itself -----------------------------------------------------------

// Sets the existing destination aside under a backup name. Without its
// backup the file is not overwritten: -1 then, counted as failed.
static int backup(void) {
    char saved[PATH_SIZE];
    if (backupname(saved, dstfull) != 0 || saved[0] == 0) {
        filesfailed++;
        return -1;
    }
    if (opt_echo)
        return 0;
    if (!movefile(dstfull, saved)) {
        outf("Error! backup failed: %s\n", dstfull);
        filesfailed++;
        return -1;
    }
    return 0;
}

// An overwrite is written beside the old file and an append grows it in
// place: either way the whole size must fit while the old file stays.
static int spaceok(const FileJob *j, const char *path) {
    if (opt_chkdrive != 1 || j->size == 0)
        return 1;
    if (checkspace(j->size, path) == 0)
        return 1;
    filesfailed++;
    return 0;
}

// how: COPY_APPEND, and COPY_NEW when nothing was at `to` when looked at.
// COPY_APPEARED when a file took the name meanwhile (nothing is counted:
// the caller decides again).
static int transfer(const FileJob *j, const char *to, int how) {
    // An append writes into the file itself: through a link it would grow
    // whatever the link names, wherever that is.
    if ((how & COPY_APPEND) != 0 && plat_islink(to)) {
        outf("Error! can't append to a link: %s\n", to);
        filesfailed++;
        return 0;
    }
    if (j->again)
        how |= COPY_SHOWN;
    int r = copyormove(srcfull, to, j->name, &j->mtime, j->newattrib, j->attrib, how);
    if (r == COPY_APPEARED)
        return r;
    if (r == 0)
        filesdone++;
    else
        filesfailed++;
    return r;
}

// A file that takes the name between the look and the write is present:
// the step decides again with it there (/N leaves it, /B backs it up, /U
// compares with it). A name taken again and again is given up on.
enum { DECIDE_ROUNDS = 3 };

static int decideuntilwritten(const FileJob *j, int (*step)(const FileJob *)) {
    FileJob k = *j;
    for (int round = 0; round < DECIDE_ROUNDS; round++) {
        int r = step(&k);
        if (r != COPY_APPEARED)
            return r;
        k.again = 1;
    }
    outf("Error! destination keeps changing: %s\n", dstfull);
    filesfailed++;
    return 0;
}

// ---- the transfer way -----------------------------------------------------------

// Looks at what the destination already holds under the name. Every kind
// of entry is seen, so that /N, /O, /U and /B also protect hidden and
// system files instead of overwriting them unseen.
static void probedst(Probe *pr) {
    pr->exists = 0;
    pr->isdir = 0;
    const char *want = namepart(dstfull);
    int wild = iswild(want);
    PlatEntry e;
    PlatFind *find = plat_findfirst(dstfull, PLAT_ATTR_HIDDEN | PLAT_ATTR_SYSTEM |
                                                 PLAT_ATTR_DIRECTORY, &e);
    if (find == nullptr)
        return;
    do {
        // A name with wildcards lists its look-alikes too, and a name ending
        // in a dot finds the name without it: only a spelling of the name
        // itself counts.
        if ((wild || std::strcmp(e.name, want) != 0) && !samepath(e.name, want))
            continue;
        pr->exists = 1;
        pr->isdir = (e.attrib & PLAT_ATTR_DIRECTORY) != 0;
        pr->entry.reserved = 0;
        pr->entry.size = e.size;
        pr->entry.attrib = e.attrib;
        pr->entry.time = e.time;
        pr->entry.date = e.date;
        pr->entry.mtime = e.mtime;
        std::memcpy(pr->entry.name, e.name, sizeof pr->entry.name);
        break;
    } while (plat_findnext(find, &e));
    plat_findclose(find);
}

// The destination may be the source itself under another spelling (a
// second drive letter, a link). A backup would then rename the source away
// before the copy. In the delete modes a file that finds itself as its own
// reference would be deleted on the word of the copy it is.
static int samefile(void) {
    PlatFileId a, b;
    if (plat_fileid(srcfull, &a) != 0 || plat_fileid(dstfull, &b) != 0)
        return 0;
    return a.device == b.device && a.inode == b.inode;
}

// A file asked for and not copied is a failure the exit status tells of,
// however the sameness was found; the walk goes on with the next file.
static int refusesame(void) {
    outf("Error! %s and %s are same path\n", srcfull, dstfull);
    filesfailed++;
    return 0;
}

static int casetwin(const FileJob *j, const Probe *pr);

// The existing destination is not this file's counterpart to write over
// or to trust as a reference: the file itself under another spelling, or
// the copy of a case twin. 1 after the report, else 0.
static int notcounterpart(const FileJob *j, const Probe *pr) {
    if (samefile()) {
        refusesame();
        return 1;
    }
    if (casetwin(j, pr)) {
        outf("Error! %s and %s differ only in case\n", srcfull, dstfull);
        filesfailed++;
        return 1;
    }
    return 0;
}

static void announce(const char *dir, const char *dstcurdir) {
    if (samepath(lastsrcdir, dir))
        return;
    size_t len = std::strlen(dir);
    const char *root = (len > 0 && dir[len - 1] == ':') ? "\\" : "";
    outf("%s%s --> %s\n", dir, root, dstcurdir);
    pathcopy(lastsrcdir, PATH_SIZE, dir);
}

// how is COPY_NEW when the name is free, 0 when a directory holds it.
static int absentdst(const FileJob *j, int how) {
    if (opt_overonly == 1)
        return 0;
    int r;
    if (deleteaction(j, &r))
        return r;
    if (!spaceok(j, dstfull))
        return XFIND_ABORT;
    // Nothing exists to append to.
    return transfer(j, dstfull, how);
}

static int overwrite(const FileJob *j, const Probe *pr) {
    if (notcounterpart(j, pr))
        return 0;
    int r;
    if (deleteaction(j, &r))
        return r;
    // Gathering brings same-named files from many directories together: a
    // differing one is kept under a backup name rather than lost.
    int differs = samefindinfo(j->date, j->time, j->size, &pr->entry) != 0;
    int saved = opt_backup == 1 || (opt_gather == 1 && differs);
    if (saved && backup() != 0)
        return 0;
    if (!spaceok(j, dstfull))
        return XFIND_ABORT;
    // Once the old file is set aside, the name is free: no other may be
    // written over unseen.
    return transfer(j, dstfull, j->append | (saved ? COPY_NEW : 0));
}

static int update(const FileJob *j, const Probe *pr) {
    if (!datelater(j->date, j->time, pr->entry.date, pr->entry.time)) {
        int r;
        if (deletemode() && notcounterpart(j, pr))
            return 0;
        if (!deleteaction(j, &r)) {
            if (!opt_quiet)
                outf("skip!(not newer): %s\n", j->name);
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
    return transfer(j, dstfull, j->append | (opt_backup == 1 ? COPY_NEW : 0));
}

// dstcurdir spelled as the disk stores it. Every file of a directory goes
// to the same destination directory, so its spelling is worked out once
// per directory rather than once per file and component.
static const char *spelleddir(const char *dstcurdir) {
    static char given[PATH_SIZE], spelled[PATH_SIZE];
    if (given[0] == 0 || std::strcmp(given, dstcurdir) != 0) {
        if (longpath(spelled, MAX_PATHLEN, dstcurdir) < 0)
            pathcopy(spelled, PATH_SIZE, dstcurdir);
        pathcopy(given, PATH_SIZE, dstcurdir);
    }
    return spelled;
}

// dstfull becomes the destination of the file, spelled as on disk.
static int builddst(const FileJob *j) {
    // A name with wildcards would be taken for a pattern by a look-up.
    if (iswild(j->name))
        return plainjoin(dstfull, j->param->dstcurdir, j->name);
    // The name as an existing destination file spells it, in the directory
    // as the disk spells it: what longpath gives for the whole path.
    return joinname(dstfull, spelleddir(j->param->dstcurdir), j->name);
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
    PlatFind *find = plat_findfirst(twin, 0x37, &e);
    if (find == nullptr)
        return 0;
    int exact = std::strcmp(e.name, pr->entry.name) == 0;
    plat_findclose(find);
    return exact;
}

static int newnameway(const FileJob *j, char *tmpl);

// The rules of the transfer way, from what the destination holds now.
static int decide(const FileJob *j) {
    Probe pr;
    probedst(&pr);
    // A directory of the name is no file: the delete modes find no
    // counterpart in it, and a copy onto it fails and ends the walk, like
    // any failed copy. It is never renamed aside as a backup.
    if (!pr.exists || pr.isdir)
        return absentdst(j, pr.isdir ? 0 : COPY_NEW);
    // /N leaves an existing file alone, whatever it is; the checks that
    // the file is this one's counterpart come with the actions that rely on
    // it (overwrite, backup, delete).
    if (opt_noover == 1)
        return 0;
    if (opt_update != 1)
        return overwrite(j, &pr);
    return update(j, &pr);
}

static int transferway(const FileJob *j, int changed) {
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
    if (builddst(j) < 0)
        return toolong(p->dstcurdir, j->name);
    if (!deletemode()) {
        if (std::strcmp(srcfull, dstfull) == 0 && p->format[0] == 0)
            return refusesame();
        applycase(dstfull);
        if (p->format[0] != 0) {
            char tmpl[PATH_SIZE];
            std::strcpy(tmpl, dstfull);
            dstfull[0] = 0;
            return newnameway(j, tmpl);
        }
    }
    return decideuntilwritten(j, decide);
}

// ---- the new-name way -----------------------------------------------------------

// With a format the existing file of the new name is set aside first;
// one that is to be appended to stays in place and is copied aside. 1
// when the file is not to be written (*result is then what the walk gets).
// *vacant tells that the name is free now: nothing was there, or it was
// moved aside.
static int backuprenamed(const FileJob *j, const Probe *found, int *result, int *vacant) {
    *result = 0;
    *vacant = 0;
    const Probe &pr = *found;
    if (!pr.exists) {
        *vacant = 1;
        return 0;
    }
    if (pr.isdir) {
        outf("Error! %s exist as directory\n", dstfull);
        filesfailed++;
        *result = -1;
        return 1;
    }
    if (samefile()) {
        *result = refusesame();
        return 1;
    }
    if (opt_incremental != 1 || opt_echo) {
        if (backup() != 0)
            return 1;
        *vacant = 1;
        return 0;
    }
    char saved[PATH_SIZE];
    if (backupname(saved, dstfull) != 0 || saved[0] == 0) {
        filesfailed++;
        return 1;
    }
    if (opt_chkdrive == 1 && checkspace(pr.entry.size, dstfull) != 0) {
        filesfailed++;
        *result = XFIND_ABORT;
        return 1;
    }
    // The copy aside keeps the old file's own time and attributes, and its
    // contents: /Z empties what is written, never a backup.
    const XFINDENTRY *e = &pr.entry;
    int zero = opt_zerobyte;
    opt_zerobyte = 0;
    int r = copyormove(dstfull, saved, j->name, &e->mtime, e->attrib, e->attrib, 0);
    opt_zerobyte = zero;
    if (r != 0) {
        filesfailed++;
        *result = r;
        return 1;
    }
    return 0;
}

static int copyrenamed(const FileJob *j) {
    Probe pr;
    probedst(&pr);
    // /N and /O judge the new name as the transfer way judges a file's own
    // name: an existing file is left alone, a missing one is not made; a
    // directory of the name is no file.
    int present = pr.exists && !pr.isdir;
    if ((opt_noover == 1 && present) || (opt_overonly == 1 && !present))
        return 0;
    int r, vacant = !pr.exists;
    if (opt_backup == 1 && backuprenamed(j, &pr, &r, &vacant))
        return r;
    if (!spaceok(j, dstfull))
        return XFIND_ABORT;
    return transfer(j, dstfull, j->append | (vacant ? COPY_NEW : 0));
}

static int renameinplace(const FileJob *j, char *newname);

// tmpl is the path to build the new name from (scratch for the format):
// into dstfull with a destination, else into a name beside the source.
static int newnameway(const FileJob *j, char *tmpl) {
    PARAM *p = j->param;
    char newname[PATH_SIZE] = "";
    char *out = p->dstcurdir[0] != 0 ? dstfull : newname;
    if (p->format[0] != 0) {
        if (formatname(out, tmpl, p->format) != 0)
            return XFIND_ABORT;
    } else {
        std::strcpy(out, tmpl);
    }
    if (dstfull[0] != 0)
        return decideuntilwritten(j, copyrenamed);
    return renameinplace(j, newname);
}

// ---- the in-place way -----------------------------------------------------------

static int renameinplace(const FileJob *j, char *newname) {
    if (newname[0] == 0)
        return XFIND_ABORT;
    int same = std::strcmp(srcfull, newname) == 0;
    if (same && casechange == nullptr) {
        outf("Error! %s and %s are same path\n", srcfull, newname);
        filesfailed++;
        return 0;
    }
    if (!opt_echo) {
        if (opt_incremental == 1) {
            if (!spaceok(j, newname))
                return XFIND_ABORT;
            int r = copyormove(srcfull, newname, j->name, &j->mtime, j->newattrib, j->attrib,
                               j->append);
            if (r != 0) {
                filesfailed++;
                return r;
            }
        } else if (!same && !movefile(srcfull, newname)) {
            // The move never replaces a file; a name already taken stays
            // with its owner, and this file keeps its old name.
            outf("Error! rename failed: %s\n", srcfull);
            filesfailed++;
            return 0;
        }
    }
    outf("%s as %s\n", namepart(srcfull), namepart(newname));
    filesdone++;
    return 0;
}

static int inplaceway(const FileJob *j) {
    int r;
    if (deleteaction(j, &r))
        return r;
    // In structure mode srccurdir follows the walk, so each file stays in
    // its own directory; in gather mode it stays the base directory.
    char newname[PATH_SIZE];
    if (joinname(newname, j->param->srccurdir, j->name) < 0)
        return toolong(j->param->srccurdir, j->name);
    applycase(newname);
    return newnameway(j, newname);
}

// ---- foundfile -------------------------------------------------------------------

static void tracefound(const char *dir, const FileJob *j) {
    outf("----- FOUND ! ---------------------------------------\n");
    outf("src_curdir = %s\n", dir);
    outf("prmt->srccurdir = %s\n", j->param->srccurdir);
    outf("fname = %s\n", j->name);
    outf("src_attrib & _A_SUBDIR = %d\n", (int)(j->attrib & PLAT_ATTR_DIRECTORY));
    outf("prmt->dstcurdir = %s\n", j->param->dstcurdir);
}

// The filters that drop a file before anything is looked up. 1 when the
// file is to be left alone.
static int filteredout(const FileJob *j) {
    PARAM *p = j->param;
    if (opt_date == 1 && (j->date < (unsigned)p->date1 || j->date > (unsigned)p->date2))
        return 1;
    // Numbered backups left by an earlier /B /F run are never copied again.
    if (opt_backup == 1 && opt_extforth != 0 && isnumext(j->name)) {
        if (opt_verbose)
            LOCLINE();
        if (!opt_quiet)
            outf("skip!: %s\n", j->name);
        filesskipped++;
        return 1;
    }
    return 0;
}

// The job's current directory follows the walk in structure mode. Deleting
// while gathering follows it too, only to keep a reference directory that
// lies inside the source out of the walk; the destination stays the base.
static int followsdirs(const PARAM *p) {
    if (opt_structure == 1)
        return 1;
    return deletemode() && opt_gather == 1 && p->dstcurdir[0] != 0;
}

int foundfile(const char *dir, XFINDENTRY entry, void *user) {
    FileJob j;
    j.dir = dir;
    j.name = entry.name;
    j.param = (PARAM *)user;
    getfindinfo(&j.attrib, &j.date, &j.time, &j.size, &entry);
    j.mtime = entry.mtime;
    j.append = opt_incremental == 1 ? COPY_APPEND : 0;
    j.again = 0;
    if (opt_verbose)
        tracefound(dir, &j);
    if ((j.attrib & PLAT_ATTR_DIRECTORY) != 0)
        return foundsubdir(j.param, srcfull, dstfull, dir, entry.name);
    if (filteredout(&j))
        return 0;
    j.newattrib = PLAT_ATTR_ARCHIVE | (opt_attrib == 1 ? j.attrib : 0);
    srcfull[0] = 0;
    dstfull[0] = 0;
    if (plainjoin(srcfull, dir, entry.name) < 0)
        return toolong(dir, entry.name);
    int changed = 0;
    if (followsdirs(j.param) && std::strcmp(dir, j.param->srccurdir) != 0) {
        int r = srcdirchanged(dir, j.param);
        if (r != 0)
            return r;
        changed = opt_structure == 1;
    }
    if (j.param->dstcurdir[0] == 0)
        return inplaceway(&j);
    return transferway(&j, changed);
}
