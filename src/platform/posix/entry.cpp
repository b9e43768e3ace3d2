// What one entry is (entry.h): a stat made into what a listing needs, the
// marks read from user.DOSATTRIB, and the attribute word Wine reports.
#include "platform/posix/entry.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <sys/xattr.h>
#include <unistd.h>

namespace {

const char *base_name(const char *native) {
    const char *slash = std::strrchr(native, '/');
    return slash != nullptr ? slash + 1 : native;
}

} // namespace

int proc_fds(void) {
    static int ok = -1;
    if (ok < 0)
        ok = access("/proc/self/fd", X_OK) == 0;
    return ok;
}

void stat_info(const struct stat *st, int islink, NameInfo *info) {
    info->flags = (uint8_t)(islink ? NAME_LINK : 0);
    if (S_ISDIR(st->st_mode))
        info->flags |= NAME_DIR;
    else if (!S_ISREG(st->st_mode))
        info->flags |= NAME_SPECIAL;
    info->mode = (uint32_t)st->st_mode;
    info->size = S_ISDIR(st->st_mode) ? 0 : (uint64_t)st->st_size;
    info->msec = (int64_t)st->st_mtim.tv_sec;
    info->mnsec = (uint32_t)st->st_mtim.tv_nsec;
    info->ino = (uint64_t)st->st_ino;
    info->dev = (uint64_t)st->st_dev;
}

int native_info(const char *native, NativeInfo *info) {
    struct stat lst, st;
    if (lstat(native, &lst) != 0)
        return -1;
    int islink = S_ISLNK(lst.st_mode);
    if (islink && stat(native, &st) != 0)
        return -1;
    if (!islink)
        st = lst;
    unsigned attrib;
    if (S_ISDIR(st.st_mode))
        attrib = PLAT_ATTR_DIRECTORY | (islink ? PLAT_ATTR_REPARSE : 0);
    else
        attrib = PLAT_ATTR_ARCHIVE;
    if ((st.st_mode & WRITE_BITS) == 0)
        attrib |= PLAT_ATTR_READONLY;
    unsigned bits;
    if (read_marks(native, &bits))
        attrib |= bits;
    else if (base_name(native)[0] == '.')
        attrib |= PLAT_ATTR_HIDDEN;
    info->attrib = attrib != 0 ? attrib : (unsigned)PLAT_ATTR_NORMAL;
    info->size = S_ISDIR(st.st_mode) ? 0 : (unsigned long long)st.st_size;
    info->mtime.sec = (long long)st.st_mtim.tv_sec;
    info->mtime.nsec = (long)st.st_mtim.tv_nsec;
    info->special = !S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode);
    return 0;
}

unsigned info_attrib(const NameInfo *info, const char *name) {
    unsigned attrib;
    if (info->flags & NAME_DIR)
        attrib = PLAT_ATTR_DIRECTORY | ((info->flags & NAME_LINK) ? PLAT_ATTR_REPARSE : 0);
    else
        attrib = PLAT_ATTR_ARCHIVE;
    if ((info->mode & WRITE_BITS) == 0)
        attrib |= PLAT_ATTR_READONLY;
    if ((info->known & KNOWN_MARKS) != 0) {
        if (info->marks & MARKS_PRESENT)
            attrib |= info->marks & XATTR_BITS;
        else if (name[0] == '.')
            attrib |= PLAT_ATTR_HIDDEN;
    }
    return attrib != 0 ? attrib : (unsigned)PLAT_ATTR_NORMAL;
}

// Wine reads "0x" and hex digits, ended by the end of the value or a NUL
// (Samba stores the terminator, Wine does not). A value in another form
// still counts as present, with no bits.
int read_marks(const char *native, unsigned *bits) {
    char buf[256];
    ssize_t n = getxattr(native, XATTR_NAME, buf, sizeof buf - 1);
    *bits = 0;
    if (n < 0)
        return errno == ERANGE ? 1 : 0;
    buf[n] = '\0';
    if (n > 2 && buf[0] == '0' && (buf[1] == 'x' || buf[1] == 'X')) {
        char *end;
        unsigned long v = std::strtoul(buf + 2, &end, 16);
        if (end > buf + 2 && (end == buf + n || *end == '\0'))
            *bits = (unsigned)v & XATTR_BITS;
    }
    return 1;
}

