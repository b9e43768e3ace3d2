// The new-name and in-place ways of the per-file action: a copy under a
// name the rename format builds, and the rename of a file in its own
// directory.
#include <cstring>

#include "engine/perfile.h"
#include "fileops/filecopy.h"
#include "job/moxsub.h"
#include "names/backup.h"
#include "names/format.h"
#include "search/pathexp.h"
#include "base/out.h"

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
        *result = dirinway();
        return 1;
    }
    if (samefile()) {
        *result = refusesame();
        return 1;
    }
    if (opt_incremental != 1) {
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
    unsigned attrib;
    if (getattr(dstfull, &attrib) != 0)
        attrib = e->attrib;
    int r = copyormove(dstfull, saved, j->name, &e->mtime, attrib, attrib, COPY_WHOLE);
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
    if (unanswered(&pr))
        return 0;
    // /N and /O judge the new name as the transfer way judges a file's own
    // name: an existing file is left alone, a missing one is not made; a
    // directory of the name is no file.
    int present = pr.exists && !pr.isdir;
    if ((opt_noover == 1 && present) || (opt_overonly == 1 && !present))
        return 0;
    char wanted[PATH_SIZE];
    wantedname(j, wanted);
    if (present && writtentwin(dstfull, j->name, wanted)) {
        outf("Error! %s and %s differ only in case\n", srcfull, dstfull);
        filesfailed++;
        return 0;
    }
    int r, vacant = !pr.exists;
    if (opt_backup == 1 && backuprenamed(j, &pr, &r, &vacant))
        return r;
    if (pr.isdir)
        return dirinway();
    if (!spaceok(j, dstfull))
        return XFIND_ABORT;
    return transfer(j, dstfull, j->append | (vacant ? COPY_NEW : 0));
}

static int renameinplace(const FileJob *j, char *newname);

// tmpl is the path to build the new name from (scratch for the format):
// into dstfull with a destination, else into a name beside the source.
int newnameway(const FileJob *j, char *tmpl) {
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
    // In echo mode the copy and the move are only recorded, and a name
    // already taken is found taken as the real run would find it.
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
    outf("%s as %s\n", namepart(srcfull), namepart(newname));
    filesdone++;
    return 0;
}

int inplaceway(const FileJob *j) {
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
