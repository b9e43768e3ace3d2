// The per-file action: for every entry the walk finds, the filters, where
// the file goes and under which name, what is already there, and then the
// copy, move, append, backup, delete or skip, with the run counters. The
// ways through it live in transferway.cpp and renameway.cpp, the steps they
// share in filewrite.cpp, the destination's name in dstname.cpp.
#include <cstring>

#include "engine/perfile.h"
#include "fileops/filecopy.h"
#include "job/moxsub.h"
#include "search/pathexp.h"
#include "base/out.h"

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
    j.probed = nullptr;
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
