// The steps the ways of the per-file action share: the delete modes, the
// backup, the free-space test, the write itself with its second looks, and
// the look at what the destination holds.
#include <cstring>

#include "engine/perfile.h"
#include "fileops/filecopy.h"
#include "job/moxsub.h"
#include "names/backup.h"
#include "runfs/runfs.h"
#include "search/pathexp.h"
#include "base/out.h"
#include "sys/trash.h"

// ---- the delete modes ----------------------------------------------------------

// A link that the system will not move (Wine moves the file a link names,
// so the Win32 build refuses links; it cannot make one elsewhere either) is
// that one entry's failure: counted, and the walk goes on with the next,
// as the Linux build, which moves it, goes on.
static int linkrefused(int r) {
    return r < 0 && runfs->islink(srcfull) ? 0 : r;
}

// The trash has no counter for refusals; a file that stayed is a failure.
static int trashmove(void) {
    // A walk from the drive's root meets the trash itself: its files are
    // already where they were to go.
    if (intrashdir(srcfull))
        return 0;
    int r = totrash(srcfull);
    if (r != 0)
        filesfailed++;
    return linkrefused(r);
}

// The source file a delete mode last disposed of. Names that differ only
// in case are listed next to each other, so when README has just gone,
// this remembers that readme had a twin whose copy the reference holds.
char lastgone[PATH_SIZE];

// Deletes, trashes or recycles the source when a delete mode is set. 1
// when one was (*result is then what the walk gets), else 0.
int deleteaction(const FileJob *j, int *result) {
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
int backup(void) {
    char saved[PATH_SIZE];
    if (backupname(saved, dstfull) != 0 || saved[0] == 0) {
        filesfailed++;
        return -1;
    }
    // In echo mode the move is only recorded, so that the next backup of
    // the run finds this number taken.
    if (!movefile(dstfull, saved)) {
        outf("Error! backup failed: %s\n", dstfull);
        filesfailed++;
        return -1;
    }
    return 0;
}

// An overwrite is written beside the old file and an append grows it in
// place: either way the whole size must fit while the old file stays.
int spaceok(const FileJob *j, const char *path) {
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
int transfer(const FileJob *j, const char *to, int how) {
    // An append writes into the file itself: through a link it would grow
    // whatever the link names, wherever that is.
    if ((how & COPY_APPEND) != 0 && runfs->islink(to)) {
        outf("Error! can't append to a link: %s\n", to);
        filesfailed++;
        return 0;
    }
    if (j->again)
        how |= COPY_SHOWN;
    int r = copyormove(srcfull, to, j->name, &j->mtime, j->newattrib, j->attrib, how);
    if (r == COPY_APPEARED)
        return r;
    if (r == 0) {
        char wanted[PATH_SIZE];
        wantedname(j, wanted);
        notewritten(to, j->name, wanted);
        filesdone++;
    } else {
        filesfailed++;
    }
    return opt_move == 1 ? linkrefused(r) : r;
}

// A directory holds the destination's name: no file can take its place.
// Said before anything is tried, in the same words on every system and in
// echo mode alike (the copy's own failure named a system's error code, and
// echo mode, trying nothing, said the file was copied).
int dirinway(void) {
    outf("Error! %s exist as directory\n", dstfull);
    filesfailed++;
    return -1;
}

void wantedname(const FileJob *j, char *out) {
    if (j->param->format[0] != 0) {
        pathcopy(out, PATH_SIZE, namepart(dstfull));
        return;
    }
    pathcopy(out, PATH_SIZE, j->name);
    if (casechange != nullptr)
        casechange(out);
}

// A file that takes the name between the look and the write is present:
// the step decides again with it there (/N leaves it, /B backs it up, /U
// compares with it). A name taken again and again is given up on.
enum { DECIDE_ROUNDS = 3 };

int decideuntilwritten(const FileJob *j, int (*step)(const FileJob *)) {
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
// ---- the look at the destination ------------------------------------------------

// A destination directory that cannot be read is no empty one: taken for
// empty, it let /DEL /N delete every file it holds a counterpart of, /O
// pass over them all and /N or /U write blindly. It is reported once, with
// the system's reason, in the words the walk uses for a source directory;
// each file judged against it fails and is left where it is.
static char unreadshown[PATH_SIZE];

static void reportunread(const char *dir, unsigned code) {
    // A directory below the one reported last cannot be read for its sake.
    size_t shown = std::strlen(unreadshown);
    if (shown != 0 && std::strncmp(dir, unreadshown, shown) == 0 &&
        (dir[shown] == 0 || dir[shown] == '\\'))
        return;
    pathcopy(unreadshown, PATH_SIZE, dir);
    char text[256];
    plat_errortext(code, text, sizeof text);
    const char *root = dir[0] != 0 && dir[1] == ':' && dir[2] == 0 ? "\\" : "";
    outf("Error! directory read failed: %s%s (%s)\n", dir, root, text);
}

// A failed look that says nothing of what the directory holds: not the
// absence of the name or of its directory, nor a name the look refused.
static int readerror(unsigned code) {
    return code != PLAT_ERR_FILE_NOT_FOUND && code != PLAT_ERR_PATH_NOT_FOUND &&
           code != PLAT_ERR_FILENAME_TOO_LONG && code != PLAT_ERR_INVALID_NAME;
}

// The directory last found missing under a probe, and whether one above
// it could not be read: the files of a directory are probed one after
// another, and the directories above are looked at once for all of them.
static char nodirseen[PATH_SIZE];
static int nodirunread;

// The probe found no directory to look in (dir, cut in place): it is
// missing, or a directory above it cannot be read, which hides whether it
// is there. 1 in that case, after the report, else 0.
static int aboveunread(char *dir) {
    if (std::strcmp(dir, nodirseen) == 0)
        return nodirunread;
    pathcopy(nodirseen, PATH_SIZE, dir);
    nodirunread = 0;
    for (char *sep; (sep = mbstrrchr(dir, '\\')) != nullptr && sep[1] != 0;) {
        PlatEntry e;
        int r = runfs->findone(dir, PLAT_ATTR_HIDDEN | PLAT_ATTR_SYSTEM | PLAT_ATTR_DIRECTORY |
                                    PLAT_ATTR_NOMARKS, &e);
        unsigned code = plat_lasterror();
        if (r == 1 || (r == 0 && code != PLAT_ERR_PATH_NOT_FOUND) || (r < 0 && !readerror(code)))
            break;
        *sep = 0;
        if (r < 0) {
            reportunread(dir, code);
            nodirunread = 1;
            break;
        }
    }
    return nodirunread;
}

// The look found nothing: when that is because the directory could not be
// looked into, pr is marked unread.
static void noanswer(Probe *pr, int found) {
    unsigned code = plat_lasterror();
    if (found == 0 && code != PLAT_ERR_PATH_NOT_FOUND)
        return;
    if (found < 0 && !readerror(code))
        return;
    char dir[PATH_SIZE];
    pathcopy(dir, PATH_SIZE, dstfull);
    char *name = namepart(dir);
    if (name == dir)
        return;
    name[-1] = 0;
    if (found < 0) {
        reportunread(dir, code);
        pr->unread = 1;
    } else {
        pr->unread = aboveunread(dir);
    }
}

// A file whose destination could not be looked at is not decided on: it
// fails and stays as it is, whatever the rule would have done.
int unanswered(const Probe *pr) {
    if (!pr->unread)
        return 0;
    filesfailed++;
    return 1;
}

// Looks at what the destination already holds under the name. Every kind
// of entry is seen, so that /N, /O, /U and /B also protect hidden and
// system files instead of overwriting them unseen. The decisions need no
// hidden or system bit of it (entry.attrib may lack them).
void probedst(Probe *pr) {
    pr->exists = 0;
    pr->isdir = 0;
    pr->unread = 0;
    const char *want = namepart(dstfull);
    PlatEntry e;
    int found = runfs->findone(dstfull, PLAT_ATTR_HIDDEN | PLAT_ATTR_SYSTEM | PLAT_ATTR_DIRECTORY |
                                   PLAT_ATTR_NOMARKS, &e);
    if (found != 1) {
        noanswer(pr, found);
        return;
    }
    // A name ending in a dot may find the name without it: only a spelling
    // of the name itself counts.
    if (std::strcmp(e.name, want) != 0 && !samepath(e.name, want))
        return;
    pr->exists = 1;
    pr->isdir = (e.attrib & PLAT_ATTR_DIRECTORY) != 0;
    pr->entry.reserved = 0;
    pr->entry.size = e.size;
    pr->entry.attrib = e.attrib;
    pr->entry.time = e.time;
    pr->entry.date = e.date;
    pr->entry.mtime = e.mtime;
    std::memcpy(pr->entry.name, e.name, sizeof pr->entry.name);
}

// The destination may be the source itself under another spelling (a
// second drive letter, a link). A backup would then rename the source away
// before the copy. In the delete modes a file that finds itself as its own
// reference would be deleted on the word of the copy it is.
int samefile(void) {
    PlatFileId a, b;
    if (runfs->fileid(srcfull, &a) != 0 || runfs->fileid(dstfull, &b) != 0)
        return 0;
    return a.device == b.device && a.inode == b.inode;
}

// A file asked for and not copied is a failure the exit status tells of,
// however the sameness was found; the walk goes on with the next file.
int refusesame(void) {
    outf("Error! %s and %s are same path\n", srcfull, dstfull);
    filesfailed++;
    return 0;
}
