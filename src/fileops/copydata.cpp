// The data copy under copyormove.
//
// A copy never writes into the destination itself: it writes a temporary
// file beside it and renames that over the destination only once the data,
// the time and the close have all succeeded. A full disk, a refused write or
// a crash half-way therefore leaves the old destination as it was, and the
// temporary file is removed. Only an append (/I) writes in place, because
// keeping the existing content is its whole point; it only adds bytes at
// the end, and takes them back when it fails.
//
// A copy is given its source's modification time exactly, never one
// rebuilt from DOS words: those hold local time in two-second steps from
// 1980 to 2107, and read back they are an hour off in the hour that
// repeats when summer time ends.
#include "fileops/filecopy.h"
#include "fileops/progress.h"
#include "base/param.h"
#include "platform/platform.h"
#include "runfs/runfs.h"
#include "search/pathexp.h"
#include "base/pathstr.h"
#include "base/out.h"

namespace {

const char TEMP_PREFIX[] = "_MOX_";

// The source as the last copy found it when it opened it. readknown is 1
// then, 0 when that copy read no source, -1 when its state was not to be
// had (a move then keeps the source).
PlatFileState readstate;
int readknown;

// The error-code line. The code is taken by the caller before any clean-up
// (a close or a delete) could overwrite it: the line must name the call
// that failed.
void errline(unsigned code) { outf(" GetLastError=[%ld]\n", (long)code); }

// A file that cannot be opened gets the system's text as well as the code.
void openfailed(void) {
    unsigned code = plat_lasterror();
    showlasterror(0);
    errline(code);
}

// Gives up a temporary file that will not become the destination.
void droptemp(int handle, const char *tmp) {
    if (handle >= 0)
        runfs->close(handle);
    runfs->remove(tmp);
}

// The directory for the temporary file: the destination's own, so that the
// final rename stays on one file system and is atomic. 0, or -1 with the
// last error set.
int tempdir(const char *dst, char *dir) {
    if (splitpath(dst, dir, PATH_SIZE, nullptr, 0) < 0) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    if (dir[0] == 0 && curdirpath(dir, 0) < 0) // a bare name: the current directory
        return -1;
    return 0;
}

// Copies from in to out, by the kernel where it can, else through
// copybuf: everything up to the end, or at most limit bytes when limit is
// not negative. 0, or -1 after the error-code line.
int copyloop(int in, int out, long long limit) {
    if (runfs->copydata(in, out, limit, copybuf, (unsigned long)copybufsize, progressstep) < 0) {
        errline(plat_lasterror());
        return -1;
    }
    return 0;
}

// Copies the data, with the progress line while it lasts, and closes the
// source, which is closed whatever happens. 0, or -1 after the error-code
// line.
int filldata(int in, int out, long long limit) {
    progressstart(limit >= 0 ? limit : readknown == 1 ? (long long)readstate.size : -1);
    int r = copyloop(in, out, limit);
    progressstop();
    if (r < 0) {
        runfs->close(in);
        return -1;
    }
    if (runfs->close(in) < 0) {
        errline(plat_lasterror());
        return -1;
    }
    return 0;
}

// Gives the written file its time and closes it. A close can be the first
// to report a full disk (data still in flight), so its failure fails the
// copy. The time itself is best effort: a file system that cannot hold it
// leaves the time of the write.
int finishfile(int out, const PlatFileTime *mtime) {
    runfs->setfiletime(out, mtime);
    if (runfs->close(out) < 0) {
        errline(plat_lasterror());
        return -1;
    }
    return 0;
}

// The mode a complete copy takes: that of the file it replaces, with its
// owner, or when it replaces nothing (isnew: nothing was there when looked
// at) its source's as far as the umask allows. Until then the temporary
// file is its owner's alone. 0, or -1.
int finalperms(int out, const char *src, const char *dst, int isnew) {
    int r = isnew ? 1 : runfs->keepperms(out, dst, src);
    return r == 1 ? runfs->newperms(out, src) : r;
}


// Puts the finished temporary file in dst's place, over it, or when dst
// was absent (isnew, a link being moved) only where nothing has taken the
// name since. 0, COPY_APPEARED, or -1 after the error-code line; tmp is
// gone unless 0.
int placetemp(const char *tmp, const char *dst, int isnew) {
    int r = isnew ? runfs->move(tmp, dst) : runfs->replace(tmp, dst);
    if (r == 0)
        return 0;
    unsigned code = plat_lasterror();
    droptemp(-1, tmp);
    if (isnew && code == PLAT_ERR_ALREADY_EXISTS)
        return COPY_APPEARED;
    errline(code);
    return -1;
}

// Writes the source's data (nothing when in is -1: zero-byte mode) into
// out, a file not yet in dst's place, and gives it its mode and, when the
// source is to be deleted next, puts it on disk. Closes in. 0, or -1 after
// the error-code line (out stays open).
int writeinto(int in, int out, const char *src, const char *dst, int isnew) {
    if (in >= 0 && filldata(in, out, -1) < 0)
        return -1;
    if (finalperms(out, src, dst, isnew) < 0 || (opt_move == 1 && runfs->syncfile(out) < 0)) {
        errline(plat_lasterror());
        return -1;
    }
    return 0;
}

// A file written where nothing was when looked at: made without a name
// and named when complete, which fails rather than replace a file that
// took the name meanwhile (COPY_APPEARED then). Closes in.
int writenew(int in, const char *src, const char *dst, const PlatFileTime *mtime,
             unsigned newattrib) {
    int out = runfs->opennew(dst);
    if (out < 0) {
        openfailed();
        if (in >= 0)
            runfs->close(in);
        return -1;
    }
    if (writeinto(in, out, src, dst, 1) < 0) {
        runfs->dropnew(out);
        return -1;
    }
    runfs->setfiletime(out, mtime);
    if (runfs->placenew(out) != 0) {
        unsigned code = plat_lasterror();
        if (code == PLAT_ERR_ALREADY_EXISTS)
            return COPY_APPEARED;
        errline(code);
        return -1;
    }
    setattrib(dst, newattrib);
    return 0;
}

// Writes the source's data (nothing when in is -1: zero-byte mode) into a
// new temporary file and renames it over dst. Closes in.
int replacewith(int in, const char *src, const char *dst, const PlatFileTime *mtime,
                unsigned newattrib, int isnew) {
    if (isnew)
        return writenew(in, src, dst, mtime, newattrib);
    char dir[PATH_SIZE], tmp[PLAT_NATIVE_SIZE];
    int out = -1;
    if (tempdir(dst, dir) == 0)
        out = runfs->opentemp(dir, TEMP_PREFIX, tmp, sizeof tmp);
    if (out < 0) {
        openfailed();
        if (in >= 0)
            runfs->close(in);
        return -1;
    }
    if (writeinto(in, out, src, dst, 0) < 0) {
        droptemp(out, tmp);
        return -1;
    }
    if (finishfile(out, mtime) < 0) {
        droptemp(-1, tmp);
        return -1;
    }
    int r = placetemp(tmp, dst, 0);
    if (r == 0)
        setattrib(dst, newattrib);
    return r;
}

// A link being moved goes over as a link, with its target text, in a
// temporary entry beside dst put in place like any copy. Read through, it
// would arrive as a copy of whatever it points to, or, once that has been
// moved on ahead of it, not at all.
int movelink(const char *src, const char *dst, int isnew) {
    char dir[PATH_SIZE], tmp[PLAT_NATIVE_SIZE];
    if (tempdir(dst, dir) < 0 || runfs->copylink(src, dir, TEMP_PREFIX, tmp, sizeof tmp) < 0) {
        errline(plat_lasterror());
        return -1;
    }
    return placetemp(tmp, dst, isnew);
}

// The source's size when the append starts. An append copies that much and
// no more: were the source ever the destination itself under a name no
// guard recognised, reading on to its end would chase the bytes being
// added and fill the disk. -1 after the error-code line.
long long sourcesize(int in) {
    long long size = runfs->seek(in, 0, PLAT_SEEK_END);
    if (size < 0 || runfs->seek(in, 0, PLAT_SEEK_SET) < 0) {
        errline(plat_lasterror());
        return -1;
    }
    return size;
}

// Cuts dst back to the length and the write time it had before a failed
// append, so that a retry does not add its data after a torn tail, and /U
// does not take the torn file for a newer one. out is the append's handle,
// closed here, or -1 when a failed close has taken it already (the file is
// opened again for the cut). The error line has named the failure; the last
// error stays the one it printed.
void cutback(int out, const char *dst, const PlatFileState *old) {
    unsigned code = plat_lasterror();
    if (out < 0)
        out = runfs->open(dst, PLAT_OPEN_APPEND);
    if (out >= 0) {
        if (runfs->truncate(out, (long long)old->size) == 0)
            runfs->setfiletime(out, &old->mtime);
        runfs->close(out);
    }
    plat_setlasterror(code);
}

// Appends the source's data to dst in place (created when missing). Closes
// in. Nothing is written unless the end of dst was found, and a failure
// leaves dst as long as it was.
int appendto(int in, const char *dst, const PlatFileTime *mtime, unsigned newattrib) {
    long long size = sourcesize(in);
    if (size < 0) {
        runfs->close(in);
        return -1;
    }
    int out = runfs->open(dst, PLAT_OPEN_APPEND);
    if (out < 0) {
        openfailed();
        runfs->close(in);
        return -1;
    }
    PlatFileState old;
    if (runfs->filestate(out, &old) < 0 || runfs->seek(out, 0, PLAT_SEEK_END) < 0) {
        errline(plat_lasterror());
        runfs->close(in);
        runfs->close(out);
        return -1;
    }
    if (filldata(in, out, size) < 0) {
        cutback(out, dst, &old);
        return -1;
    }
    if (finishfile(out, mtime) < 0) {
        cutback(-1, dst, &old);
        return -1;
    }
    setattrib(dst, newattrib);
    return 0;
}

} // namespace

int filecopy(const char *src, const char *dst, const PlatFileTime *mtime, unsigned newattrib,
             int how) {
    readknown = 0;
    int isnew = (how & COPY_NEW) != 0;
    if (opt_move == 1 && runfs->islink(src))
        return movelink(src, dst, isnew);
    if (emptied(how)) // the source is not even opened
        return replacewith(-1, src, dst, mtime, newattrib, isnew);
    if (copybuf == nullptr || copybufsize <= 0) {
        errline(PLAT_ERR_NOT_ENOUGH_MEMORY);
        return -1;
    }
    showlasterror(1);
    int in = runfs->open(src, PLAT_OPEN_READ);
    if (in < 0) {
        openfailed();
        return -1;
    }
    readknown = runfs->filestate(in, &readstate) == 0 ? 1 : -1;
    showlasterror(1);
    if (how & COPY_APPEND)
        return appendto(in, dst, mtime, newattrib);
    return replacewith(in, src, dst, mtime, newattrib, isnew);
}

int removesource(const char *src) {
    if (readknown < 0)
        return 1;
    if ((readknown == 0 ? runfs->remove(src) : runfs->deletesame(src, &readstate)) == 0)
        return 0;
    return readknown == 1 && plat_lasterror() == PLAT_ERR_SHARING_VIOLATION ? 1 : -1;
}
