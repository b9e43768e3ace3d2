// The run counters with their summary, and the small file actions that the
// per-file action and the directory handling share.
#include <cstring>

#include "job/moxsub.h"
#include "runfs/runfs.h"
#include "search/pathexp.h"
#include "sys/drive.h"
#include "base/out.h"
#include "sys/trash.h"

unsigned filesdone, filesfailed, filesskipped, filesdeleted;

// ---- summary ----------------------------------------------------------------

// The first line always appears, even for a count of 0 and with /V-: it
// is the one line that tells a script what the run did.
static void printmain(int hasdst) {
    if (opt_delete || opt_recycle)
        outf("%8u File(s) deleted\n", filesdeleted);
    else if (opt_trash)
        outf("%8u File(s) moved to <TRASH$$$>\n", trashcount);
    else if (hasdst)
        outf("%8u File(s) copied\n", filesdone);
    else
        outf("%8u File(s) renamed\n", filesdone);
}

static void printdirs(void) {
    unsigned searched = xfind_dirs();
    if (opt_quiet && searched == 0)
        return;
    outf("%8u Dir(s)  searched\n", searched);
    if (xfind_rmdirs() != 0)
        outf("%8u Dir(s)  deleted\n", xfind_rmdirs());
}

void printcounters(int hasdst) {
    printmain(hasdst);
    if (filesskipped != 0 && !opt_quiet)
        outf("%8u File(s) skipped\n", filesskipped);
    // Failures are never hidden, not even by /V-.
    if (filesfailed != 0)
        outf("%8u File(s) failed\n", filesfailed);
    if (recursemode)
        printdirs();
}

// ---- delete and recycle -------------------------------------------------------

enum { KEPT_ATTRIBS = PLAT_ATTR_READONLY | PLAT_ATTR_HIDDEN | PLAT_ATTR_SYSTEM };

// Clears read-only, hidden and system so that the file can go, and returns
// what it had, for putting back if it does not go.
static unsigned clearattribs(const char *path) {
    unsigned attrib;
    if (runfs->getattr(path, &attrib) != 0)
        return 0;
    runfs->setattr(path, PLAT_ATTR_NORMAL);
    return attrib & KEPT_ATTRIBS;
}

// A file that stayed gets its protection back: a failed delete must not
// leave a read-only file writable.
static void restoreattribs(const char *path, unsigned kept) {
    if (kept != 0)
        runfs->setattr(path, kept);
}

int deletefile(const char *path, const char *text) {
    unsigned kept = clearattribs(path);
    if (runfs->remove(path) == 0) {
        outline(runfs->deletedlead, text);
        filesdeleted++;
        return 0;
    }
    restoreattribs(path, kept);
    if (!opt_quiet)
        outf("failed!:%s\n", text);
    filesfailed++;
    return 0;
}

int recyclefile(const char *path, const char *text) {
    unsigned kept = clearattribs(path);
    if (torecycle(path) == 0) {
        outline(runfs->deletedlead, text);
        filesdeleted++;
        return 0;
    }
    // torecycle has said why.
    restoreattribs(path, kept);
    filesfailed++;
    return 0;
}

// ---- small tests and wrappers -----------------------------------------------

int isnumext(const char *name) {
    const char *dot = mbstrrchr(name, '.');
    if (dot == nullptr)
        return 0;
    for (const char *p = dot + 1; *p != 0; p++)
        if (*p < '0' || *p > '9')
            return 0;
    return 1;
}

int checkspace(unsigned long long needed, const char *path) {
    int r = checkfree(needed, path);
    if (r == -1)
        outf("Error! drive freespace not enough, or path not found\n");
    return r;
}

int casedir(char *oldpath, char *newpath, const char *dir, const char *name) {
    if (joinfound(oldpath, dir, name) != 0) {
        outf("Error! path too long: %s\\%s\n", dir, name);
        newpath[0] = 0;
        return 0;
    }
    std::strcpy(newpath, oldpath);
    if (casechange == nullptr)
        return 0;
    char *sep = mbstrrchr(newpath, '\\');
    casechange(sep != nullptr ? sep + 1 : newpath);
    if (std::strcmp(oldpath, newpath) == 0)
        return 0;
    // A rename the system refuses (a directory of the new spelling is
    // already there) is reported, not shown as done; in echo mode as the
    // real run would find it.
    if (!movefile(oldpath, newpath)) {
        outf("Error! rename failed: %s\n", oldpath);
        filesfailed++;
        return 0;
    }
    outf("  %s -> %s\n", oldpath, newpath);
    return 0;
}

int movefile(const char *from, const char *to) { return runfs->move(from, to) == 0; }

void getfindinfo(unsigned *attrib, unsigned *date, unsigned *time, unsigned long long *size,
                 const XFINDENTRY *entry) {
    *attrib = entry->attrib;
    *date = entry->date;
    *time = entry->time;
    *size = entry->size;
}

int samefindinfo(unsigned date, unsigned time, unsigned long long size, const XFINDENTRY *entry) {
    return date == entry->date && time == entry->time && size == entry->size ? 0 : -1;
}
