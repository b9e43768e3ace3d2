// The door to the disk: every service the platform's own. Only a listing
// and a copy need a word of their own; the rest are the platform's
// functions themselves, so a run pays one call through a pointer and
// nothing more.
#include "runfs/runfs.h"

namespace {

RunFind *findfirst(const char *pattern, unsigned mask, PlatEntry *entry) {
    return reinterpret_cast<RunFind *>(plat_findfirst(pattern, mask, entry));
}

int findnext(RunFind *find, PlatEntry *entry) {
    return plat_findnext(reinterpret_cast<PlatFind *>(find), entry);
}

int findagain(RunFind *find, PlatEntry *entry) {
    return plat_findagain(reinterpret_cast<PlatFind *>(find), entry);
}

void findclose(RunFind *find) { plat_findclose(reinterpret_cast<PlatFind *>(find)); }

int copyfile(const RunCopy *copy) { return copy->ondisk(copy); }

} // namespace

const RunFs runfs_disk = {
    .findfirst = findfirst,
    .findnext = findnext,
    .findagain = findagain,
    .findclose = findclose,
    .findone = plat_findone,
    .getattr = plat_getattr,
    .fileid = plat_fileid,
    .islink = plat_islink,
    .keepsarchive = plat_keepsarchive,
    .freespace = plat_freespace,
    .drivetype = plat_drivetype,
    .curdrive = plat_curdrive,
    .workdir = plat_workdir,
    .getcurdir = plat_getcurdir,
    .fullpath = plat_fullpath,
    .nativepath = plat_nativepath,
    .owndir = plat_owndir,
    .holddir = plat_holddir,
    .releasedir = plat_releasedir,
    .open = plat_open,
    .read = plat_read,
    .seek = plat_seek,
    .filestate = plat_filestate,
    .close = plat_close,
    .setattr = plat_setattr,
    .mkdirlike = plat_mkdirlike,
    .mkdirprivate = plat_mkdirprivate,
    .rmdir = plat_rmdir,
    .move = plat_move,
    .replace = plat_replace,
    .remove = plat_delete,
    .deletesame = plat_deletesame,
    .recycle = plat_recycle,
    .copyfile = copyfile,
    .opentemp = plat_opentemp,
    .opennew = plat_opennew,
    .placenew = plat_placenew,
    .dropnew = plat_dropnew,
    .copylink = plat_copylink,
    .copydata = plat_copydata,
    .setfiletime = plat_setfiletime,
    .truncate = plat_truncate,
    .keepperms = plat_keepperms,
    .newperms = plat_newperms,
    .syncfile = plat_syncfile,
    .writes = 1,
    .deletedlead = "  ",
};
