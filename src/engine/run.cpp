// The run driver: prepares what the callbacks share, walks the source or
// every entry of a list, prints the summary and removes the emptied source
// base directory when asked to.
#include <cstring>

#include "engine/listline.h"
#include "engine/moxmain.h"
#include "engine/perfile.h"
#include "fileops/filecopy.h"
#include "job/moxsub.h"
#include "names/backup.h"
#include "names/format.h"
#include "runfs/runfs.h"
#include "search/pathexp.h"
#include "base/out.h"
#include "sys/drive.h"
#include "sys/trash.h"

char srcfull[PATH_SIZE], dstfull[PATH_SIZE], lastsrcdir[PATH_SIZE];
int srcdirlower, srcdirupper;

// Set when a walk was aborted or a list entry could not be used, so that
// the exit status tells of it even when no file was counted as failed.
static int runfaults;

static int walkmask(const PARAM *param) {
    return param->attrib | PLAT_ATTR_DIRECTORY;
}

// Reports an aborted walk and clears the code: a code left set would stop
// every later walk of the run at its first directory.
static void afterwalk(int r) {
    if (r == 0 || xfind_errcode == 0)
        return;
    xfinderror();
    xfind_errcode = 0;
    runfaults = 1;
}

int runpath(const char *source, PARAM *param, XFINDFUNC callback) {
    if (renamemode == 0 && samepath(param->srcbasedir, param->dstcurdir)) {
        outf("Error! source and destination are the same path\n");
        return -1;
    }
    pathcopy(param->srccurdir, PATH_SIZE, param->srcbasedir);
    // A directory source selects every entry of it, with or without /S.
    int all = iswild(source) || (param->srctype & SRCTYPE_MULTI) != 0 || recursemode == 1;
    xfind_startid = param->srcbaseid;
    int r = xfind(param->srcbasedir, param->srcmask, walkmask(param), all, recursemode, rmsubdir,
                  callback, param);
    afterwalk(r);
    return 0;
}

// ---- the list file ---------------------------------------------------------------

// The first entry fixes the source base for the whole list.
static int setlistbase(PARAM *param, const char *line) {
    if (getlistbase(line, param->srcbasedir, PATH_SIZE) != 0) {
        param->srcbasedir[0] = 0;
        outf("Error! Source basedirectory may be invalid path\n");
        return -1;
    }
    if (renamemode == 0 && samepath(param->srcbasedir, param->dstcurdir)) {
        outf("Source and destination are the same path\n");
        return -1;
    }
    pathcopy(param->srccurdir, PATH_SIZE, param->srcbasedir);
    return 0;
}

static void traceentry(const PARAM *param, const char *line) {
    LOCLINE();
    outf("buf = %s\n", line);
    outf("prm->srcbasedir = %s\n", param->srcbasedir);
    outf("prm->srccurdir = %s\n", param->srccurdir);
    outf("prm->dstcurdir = %s\n", param->dstcurdir);
}

// A listed directory that the run emptied goes as well (in echo mode: is
// found empty or not, as the real run would find it).
static void removelisted(const char *line) {
    // The walk knew the directory by its full path (C:\WORK\SUB\ and
    // C:\WORK\.\SUB are C:\WORK\SUB to it), and so does the echo picture
    // of what the run emptied.
    char full[PATH_SIZE];
    if (pathexpand(full, line, 0) != 0)
        pathcopy(full, PATH_SIZE, line);
    int removed = 1;
    if (runfs->rmdir(full) != 0) {
        removed = 0;
        char text[256];
        plat_errortext(plat_lasterror(), text, sizeof text);
        errf("%s\n", text);
    }
    unsigned attrib;
    if (removed || getattr(full, &attrib) != 0)
        outf("<%s> deleted\n", line);
    else if (!opt_quiet)
        outf("<%s> not deleted\n", line);
}

static int walklisteddir(PARAM *param, XFINDFUNC callback, const char *line) {
    const char *sep = mbstrrchr(line, '\\');
    foundsubdir(param, srcfull, dstfull, param->srcbasedir, sep != nullptr ? sep + 1 : line);
    int r = xfind(line, "*.*", walkmask(param), 1, recursemode, rmsubdir, callback, param);
    if (deletemode() || (opt_move == 1 && opt_rmdir == 1))
        removelisted(line);
    return r;
}

// A list line is a DOS path, and "/" separates its components as "\" does,
// as on the command line; the walk splits paths at "\" alone. A "/" is
// never the second byte of a double-byte character, nor part of a name.
static void dosseparators(char *line) {
    for (char *p = line; *p != 0; p++)
        if (*p == '/')
            *p = '\\';
}

// A line that begins with "/" is what `find /srv/w` prints: the platform
// spells it as the drive whose directory holds it (on Windows it stays a
// path on the current drive). Read as "\srv\w" on the current drive, it
// would name a file below the working directory that the user never
// named. 0, or -1 after the error line when it names no DOS path.
static int mapnative(char *line, size_t size) {
    if (line[0] != '/')
        return 0;
    char full[PATH_SIZE];
    if (nativeexpand(full, line, "path") != 0)
        return -1;
    if (std::strlen(full) >= size) {
        outf("Error! path too long: %s\n", line);
        return -1;
    }
    std::strcpy(line, full);
    return 0;
}

// A line names the entry spelled exactly as it is, where there is one;
// one that names several ignoring case and none exactly is refused rather
// than guessed. Only a final name found in another spelling needs the
// whole path looked at again.
static int twinline(const char *line) {
    const char *sep = mbstrrchr(line, '\\');
    const char *name = sep != nullptr ? sep + 1 : line;
    PlatEntry e;
    if (name[0] == 0 || iswild(line) || runfs->findone(line, 0x37 | PLAT_ATTR_NOMARKS, &e) != 1 ||
        std::strcmp(e.name, name) == 0)
        return 0;
    char full[PATH_SIZE], first[PATH_SIZE], second[PATH_SIZE];
    if (expandtyped(full, line, first, second) != 1)
        return 0;
    outf("Error! %s and %s differ only in case\n", first, second);
    return 1;
}

static void listentry(PARAM *param, XFINDFUNC callback, const char *line, unsigned *found) {
    if (opt_verbose)
        traceentry(param, line);
    if (twinline(line)) {
        runfaults = 1;
        return;
    }
    int mask = walkmask(param);
    unsigned attrib;
    int r;
    if (iswild(line)) {
        r = xfind(line, nullptr, mask, 1, recursemode, rmsubdir, callback, param);
    } else if (getattr(line, &attrib) == 0 && (attrib & PLAT_ATTR_DIRECTORY) != 0) {
        // The walk holds the directory to the identity of this look, which
        // also tells a link.
        PlatEntry seen;
        if (runfs->findone(line, PLAT_ATTR_DIRECTORY | PLAT_ATTR_NOMARKS, &seen) == 1) {
            attrib = seen.attrib;
            xfind_startid = seen.id;
        }
        // A link may lead anywhere: its target is neither walked nor removed,
        // and one named for a delete or a move is an error, not a skip.
        if ((attrib & PLAT_ATTR_REPARSE) != 0) {
            xfind_startid = PlatFileId{};
            if (deletemode() || opt_move == 1) {
                outf("Error! source is a link: %s\n", line);
                runfaults = 1;
            } else if (!opt_quiet) {
                outf("skip!(link): <%s>\n", line);
            }
            return;
        }
        r = walklisteddir(param, callback, line);
    } else {
        r = xfind(line, nullptr, mask, 0, 0, rmsubdir, callback, param);
    }
    *found += xfind_files();
    afterwalk(r);
}

int runlist(const char *source, PARAM *param, XFINDFUNC callback, unsigned *found) {
    const char *name = source + 1;
    *found = 0;
    int handle = runfs->open(name, PLAT_OPEN_READ);
    if (handle < 0) {
        outf("Error! file open failed: %s\n", name);
        return -1;
    }
    ListReader rd;
    listbegin(&rd, handle, opt_null);
    char entry[LIST_ENTRY_SIZE];
    int got, status = 0;
    while ((got = nextlistentry(&rd, entry, sizeof entry)) > 0) {
        if (got == LIST_REFUSED || mapnative(entry, sizeof entry) != 0) {
            runfaults = 1;
            continue;
        }
        dosseparators(entry);
        if (param->srcbasedir[0] == 0 && setlistbase(param, entry) != 0) {
            status = -1;
            break;
        }
        listentry(param, callback, entry, found);
    }
    if (got == LIST_READERROR) {
        outf("Error! file read failed: %s\n", name);
        runfaults = 1;
    }
    runfs->close(handle);
    return status;
}

// ---- runsrc -------------------------------------------------------------------------

static void setcaseflags(const PARAM *param) {
    srcdirlower = srcdirupper = dstdirlower = dstdirupper = 0;
    if (deletemode())
        return;
    int lower = opt_structure == 1 && opt_lower == 1;
    int upper = opt_structure == 1 && opt_upper == 1;
    if (param->dstcurdir[0] == 0) {
        srcdirlower = lower;
        srcdirupper = upper;
    } else {
        dstdirlower = lower;
        dstdirupper = upper;
    }
}

// Two source directories whose names differ only in case would meet in
// one destination directory, and the second's files would replace the
// first's copies: the second is refused and kept.
static int refusetwindir(const char *dir, const char *first, const char *second) {
    outf("Error! %s\\%s and %s\\%s differ only in case\n", dir, first, dir, second);
    return 1;
}

// A base directory that the walk itself already removed counts as removed.
// In echo mode it counts as removed when the run would have emptied it.
static int removebase(const char *dir) {
    int removed = 1;
    unsigned attrib;
    if (getattr(dir, &attrib) == 0)
        removed = runfs->rmdir(dir) == 0;
    if (removed)
        outf("<%s> deleted\n", dir);
    else if (!opt_quiet)
        outf("<%s> not deleted\n", dir);
    return removed ? 0 : 1;
}

static int walksource(const char *source, PARAM *param, XFINDFUNC callback, unsigned *found) {
    *found = 0;
    if (source[0] == '@') {
        int r = runlist(source, param, callback, found);
        opt_rmdir = 0; // a list run removes its listed directories itself
        return r;
    }
    int r = runpath(source, param, callback);
    if (r == 0)
        *found = xfind_files();
    return r;
}

int runsrc(const char *source, PARAM *param) {
    unsigned failedbefore = filesfailed;
    unsigned toolongbefore = xfind_toolong();
    unsigned unlistedbefore = xfind_unlisted();
    runfaults = 0;
    lastsrcdir[0] = 0;
    forgetfree();
    if (!deletemode() && alloccopybuf() != 0)
        return -1;
    if (opt_trash == 1 && trashinit(backupname) != 0) {
        freecopybuf();
        return -1;
    }
    casechange = opt_lower == 1 ? mbstrlwr : (opt_upper == 1 ? mbstrupr : nullptr);
    XFINDFUNC callback = foundfile;
    if (param->skipextmask[0] != nullptr || param->skipdirmask[0] != nullptr) {
        callback = maskfilter;
        param->entryfunc = foundfile;
    }
    setcaseflags(param);
    notedstbase(param);
    // The destination is held for the run: below it no directory is
    // reached through a link that another process puts in its place.
    int held = param->dstbasedir[0] != 0 && runfs->holddir(param->dstbasedir, nullptr) == 0;
    // The trash that /DEL! fills is never walked: from a drive's root the
    // walk would meet the files it had just moved there and count them
    // again.
    xfind_passover = opt_trash == 1 ? trashtree : nullptr;
    // /M! moves the files but keeps the base: the walk must spare it too.
    xfind_keepstart = opt_rmdir == 0;
    xfind_twindir = param->dstbasedir[0] != 0 && opt_structure == 1 ? refusetwindir : nullptr;
    unsigned refusedbefore = xfind_refused();
    if (!deletemode())
        settoday();
    unsigned found;
    watchtwins(source[0] == '@');
    int status = walksource(source, param, callback, &found);
    if (held)
        runfs->releasedir();
    xfind_passover = nullptr;
    xfind_twindir = nullptr;
    filesfailed += xfind_refused() - refusedbefore;
    forgettoolong();
    forgetwritten();
    freecopybuf();
    if (opt_trash == 1)
        trashfree();
    if (!opt_quiet)
        outf("%8u File(s) found\n", found);
    printcounters(param->dstbaselen != 0);
    // A run refused before its walk removes nothing.
    if (status == 0 && opt_rmdir == 1 && !isroot(param->srcbasedir))
        status = removebase(param->srcbasedir);
    int failed = filesfailed != failedbefore || runfaults || xfind_toolong() != toolongbefore ||
                 xfind_unlisted() != unlistedbefore;
    if (status == 0 && failed)
        status = 1;
    return status;
}
