// One file to its destination: the same-file guard, the per-file line, the
// attributes lifted for the duration, and the choice between a rename (a
// move within one drive) and a copy, after which a move deletes its source.
// The data copy itself lives in copydata.cpp, and what both stand on in
// filebase.cpp.
#include "fileops/filecopy.h"

#include "base/param.h"
#include "platform/platform.h"
#include "runfs/runfs.h"
#include "search/pathexp.h"
#include "base/pathstr.h"
#include "base/out.h"

namespace {

const unsigned NO_FILE = ~0u; // the attribute word of a path that does not exist

// The attributes that stand in the way of replacing, appending to or
// deleting a file; on Linux only read-only really does, but a hidden or
// system file is treated the same way so the rule stays one rule.
const unsigned LIFTED = PLAT_ATTR_READONLY | PLAT_ATTR_HIDDEN | PLAT_ATTR_SYSTEM;

// Both names lead to one file: the same text apart from letter case, or,
// when both exist, the same device and inode. The second test catches what
// text cannot: links, and two drive letters mapped onto one directory.
// Writing a file onto itself would truncate it before it is read.
// dstattrib spares the look-ups when the destination does not exist.
int samefile(const char *src, const char *dst, unsigned dstattrib) {
    if (samepath(src, dst))
        return 1;
    PlatFileId a, b;
    return dstattrib != NO_FILE && runfs->fileid(src, &a) == 0 && runfs->fileid(dst, &b) == 0 && a.device == b.device &&
           a.inode == b.inode;
}

// What step of the work lifted which attributes, so that a failure can put
// back exactly those and nothing else.
struct Lifted {
    unsigned srcattrib; // restored on the source when srclifted
    unsigned dstattrib; // the destination's word before we started; NO_FILE
    int srclifted, dstlifted;
    int how; // copyormove's
};

// Clears read-only, hidden and system where they would make the operation
// fail. The source of a plain copy is only read and is left alone: changing
// a file the user only asked us to read is a side effect nobody wants.
void liftattribs(const char *src, const char *dst, Lifted *l) {
    l->srclifted = opt_move == 1 && (l->srcattrib & LIFTED) != 0;
    if (l->srclifted)
        setattrib(src, PLAT_ATTR_NORMAL);
    l->dstlifted = l->dstattrib != NO_FILE && (l->dstattrib & LIFTED) != 0;
    if (l->dstlifted)
        setattrib(dst, PLAT_ATTR_NORMAL);
}

void restoreattribs(const char *src, const char *dst, const Lifted *l) {
    if (l->srclifted)
        setattrib(src, l->srcattrib);
    if (l->dstlifted)
        setattrib(dst, l->dstattrib);
}

enum { ACROSS = 2 }; // renamefile: another file system under the same letter

void changedline(const char *src) {
    outf("Error! source changed while copied, not removed: %s\n", src);
}

// A move within one drive: one rename over the destination, so that there
// is never a moment in which neither file exists; a destination that was
// absent is only ever created, never replaced. 0 when moved, ACROSS when the
// two lie on different file systems under one letter (copy and delete
// instead), COPY_APPEARED, or -1 after the message.
int renamefile(const char *src, const char *dst, unsigned newattrib, int isnew) {
    // Across file systems the no-replace move copies and deletes itself.
    if ((isnew ? runfs->move(src, dst) : runfs->replace(src, dst)) == 0) {
        setattrib(dst, newattrib);
        return 0;
    }
    unsigned code = plat_lasterror();
    if (code == PLAT_ERR_NOT_SAME_DEVICE && !isnew)
        return ACROSS;
    if (code == PLAT_ERR_ALREADY_EXISTS && isnew)
        return COPY_APPEARED;
    if (code == PLAT_ERR_SHARING_VIOLATION && isnew)
        changedline(src);
    else
        outf("Error! Rename Failed\n");
    return -1;
}

// After a successful copy: a move deletes its source, a copy marks the
// source as backed up by clearing its archive bit. A source that someone
// wrote to while it was copied holds what the copy lacks: it stays, and
// so does the copy.
int finishsource(const char *src, const Lifted *l) {
    if (opt_move == 1) {
        int r = removesource(src);
        if (r == 0)
            return 0;
        if (r > 0)
            changedline(src);
        else
            outf("Error! remove failed: %s\n", src);
        if (l->srclifted)
            setattrib(src, l->srcattrib);
        return -1;
    }
    if ((l->srcattrib & PLAT_ATTR_ARCHIVE) && runfs->keepsarchive())
        setattrib(src, l->srcattrib & ~(unsigned)PLAT_ATTR_ARCHIVE);
    return 0;
}

// The step on disk, once the line is out: the marks lifted, the file
// renamed or copied, the source finished with.
int ondisk(const RunCopy *c) {
    Lifted l = *static_cast<const Lifted *>(c->state);
    const char *src = c->src, *dst = c->dst;
    int how = l.how;
    liftattribs(src, dst, &l);
    int isnew = (how & COPY_NEW) != 0;
    if (opt_move == 1 && samedrive(src, dst)) {
        int rc = renamefile(src, dst, c->newattrib, isnew);
        if (rc == 0)
            return 0;
        if (rc != ACROSS) {
            restoreattribs(src, dst, &l);
            return rc;
        }
    }
    // An append onto nothing is a copy, and is made as one: written beside
    // and renamed into place where nothing has taken the name meanwhile, so
    // that a failure leaves no file behind.
    if ((how & COPY_APPEND) != 0 && l.dstattrib == NO_FILE)
        how = (how & ~COPY_APPEND) | COPY_NEW;
    int rc = filecopy(src, dst, c->mtime, c->newattrib, how);
    if (rc != 0) {
        if (rc < 0)
            outf("Error! copy failed\n");
        restoreattribs(src, dst, &l);
        return rc;
    }
    return finishsource(src, &l);
}

} // namespace

int copyormove(const char *src, const char *dst, const char *text, const PlatFileTime *mtime,
               unsigned newattrib, unsigned srcattrib, int how) {
    showlasterror(1);
    Lifted l;
    l.srcattrib = srcattrib;
    // Nothing was at dst when the caller looked: a file that has come since
    // is never written over (the final rename makes sure), so it needs no
    // look of its own.
    if (how & COPY_NEW)
        l.dstattrib = NO_FILE;
    else
        getattr(dst, &l.dstattrib);
    // The caller that looked at both files already knows they are two.
    if ((how & COPY_CHECKED) == 0 && samefile(src, dst, l.dstattrib)) {
        outf("Error! %s and %s are same path\n", src, dst);
        return -1;
    }
    showlasterror(1);
    if ((how & COPY_SHOWN) == 0)
        outline("  ", text);
    l.how = how;
    RunCopy c = {src, dst, mtime, newattrib, (how & COPY_APPEND) != 0, emptied(how), opt_move == 1,
                 ondisk, &l};
    return runfs->copyfile(&c);
}
