// What the directory cache knows of the names a directory holds: reading
// them whole, looking one up, learning what an entry is, and keeping them
// true across the backend's own changes (dircache.h). The descriptors and
// the table of directories are dircache.cpp's.
#include "platform/posix/dircache.h"
#include "platform/posix/dirnames.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

unsigned long reads, makes;

std::string child_path(const Dir *d, const char *name) {
    std::string path = d->native;
    if (path != "/")
        path += "/";
    return path + name;
}

// The marks of the entry name of d, read for every entry a walk lists: its
// path is put together on the stack.
int child_marks(const Dir *d, const char *name, unsigned *bits) {
    char path[NATIVE_PATH_SIZE];
    size_t dl = d->native.size(), nl = std::strlen(name);
    if (dl + 1 + nl >= sizeof path)
        return read_marks(child_path(d, name).c_str(), bits);
    std::memcpy(path, d->native.data(), dl);
    if (d->native != "/")
        path[dl++] = '/';
    std::memcpy(path + dl, name, nl + 1);
    return read_marks(path, bits);
}

// ---- looking at entries ------------------------------------------------------------

// The stat of the entry and of what it names. 0, or -1 with errno set; a
// link whose target cannot be reached is no failure (NAME_BROKEN).
int learn_stat(Dir *d, const char *name, NameInfo *info) {
    struct stat st;
    int fd = dir_fd(d);
    if (fd < 0 || fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return -1;
    if (!S_ISLNK(st.st_mode)) {
        stat_info(&st, 0, info);
        return 0;
    }
    struct stat target;
    if (fstatat(fd, name, &target, 0) != 0) {
        if (errno == EACCES)
            return -1;
        info->flags = NAME_LINK | NAME_BROKEN;
        info->mode = (uint32_t)st.st_mode;
        info->size = 0;
        info->ino = 0;
        info->dev = 0;
        info->msec = (int64_t)st.st_mtim.tv_sec;
        info->mnsec = (uint32_t)st.st_mtim.tv_nsec;
        return 0;
    }
    stat_info(&target, 1, info);
    return 0;
}

NameInfo *info_slot(Dir *d, uint32_t i) {
    DirEntry &e = d->entries[i];
    if (e.info == 0) {
        // A walk learns of every name of a directory it lists: room for
        // them all at once, instead of growing by copies that for a while
        // hold the old block and one twice its size.
        if (d->infos.empty() && d->infos.capacity() < d->live)
            d->infos.reserve(d->live);
        d->infos.push_back(NameInfo{});
        e.info = (uint32_t)d->infos.size();
    }
    return &d->infos[e.info - 1];
}

} // namespace

// Takes the directory's change times; 1 when they differ from those taken
// last (or none were), 0 when they are the same.
int times_changed(Dir *d) {
    struct stat st;
    int fd = dir_fd(d);
    if (fd < 0 || fstat(fd, &st) != 0) {
        d->stamped = 0;
        return 1;
    }
    int same = d->stamped && d->mtime.tv_sec == st.st_mtim.tv_sec &&
               d->mtime.tv_nsec == st.st_mtim.tv_nsec &&
               (!d->ctimed ||
                (d->ctime.tv_sec == st.st_ctim.tv_sec && d->ctime.tv_nsec == st.st_ctim.tv_nsec));
    d->mtime = st.st_mtim;
    d->ctime = st.st_ctim;
    d->stamped = 1;
    d->ctimed = 1;
    return !same;
}

// After the run's own change of a directory whose times tell others'
// changes apart: its new times, taken now, so that a change someone else
// makes later is still told apart from it.
static void restamp(Dir *d) {
    if (!d->fresh && d->stamped)
        times_changed(d);
}

int read_names(Dir *d, int stamp);

// The times of d as the open listing of its parent found them moments
// ago, when it did: taken before d is read, they are as good a stamp as
// its own (a change since shows as a difference), and cost no call.
static int inherit_times(Dir *d) {
    size_t slash = d->native.rfind('/');
    if (slash == std::string::npos || d->native.size() <= 1)
        return 0;
    Dir *parent = dir_cached(slash == 0 ? "/" : d->native.substr(0, slash).c_str());
    int i = parent != nullptr ? find_exact(parent, d->native.c_str() + slash + 1,
                                           name_fold_hash(d->native.c_str() + slash + 1))
                              : -1;
    if (i < 0 || !dir_trusted(parent, i, KNOWN_STAT))
        return 0;
    const NameInfo *info = dir_info(parent, i);
    if ((info->flags & (NAME_DIR | NAME_LINK)) != NAME_DIR)
        return 0;
    d->mtime.tv_sec = (time_t)info->msec;
    d->mtime.tv_nsec = (long)info->mnsec;
    d->stamped = 1;
    d->ctimed = 0;
    return 1;
}

// Reads the names of d whole; with stamp, after taking its times, so that
// a change made while it is read shows later. 0, or -1 with errno set.
int read_names(Dir *d, int stamp) {
    int fd = dir_fd(d);
    if (fd < 0)
        return -1;
    d->stamped = 0;
    if (stamp && !d->fresh && !inherit_times(d))
        times_changed(d);
    if (d->pathonly) {
        errno = EACCES;
        return -1;
    }
    if (!d->atstart && lseek(fd, 0, SEEK_SET) != 0)
        return -1;
    reads++;
    clear_names(d);
    d->complete = 0;
    d->atstart = 0;
    static char buf[65536];
    for (;;) {
        ssize_t n = getdents64(fd, buf, sizeof buf);
        if (n < 0) {
            int err = errno;
            clear_names(d);
            errno = err;
            return -1;
        }
        if (n == 0)
            break;
        for (ssize_t at = 0; at < n;) {
            struct dirent64 *e = (struct dirent64 *)(buf + at);
            at += e->d_reclen;
            const char *name = e->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            add_name(d, name);
        }
    }
    d->complete = 1;
    return 0;
}

// The entry at index, just found by an fstatat that gave st: what learn
// asks is taken from st where it can be.
static int learn_found(Dir *d, int index, const struct stat *st, unsigned learn) {
    // A name the open listing of its directory has just looked at: what it
    // learnt is as new as the walk that asks.
    if (learn == 0 || dir_trusted(d, index, learn))
        return 1;
    if ((learn & KNOWN_STAT) != 0 && st != nullptr && !S_ISLNK(st->st_mode)) {
        NameInfo *info = info_slot(d, (uint32_t)index);
        stat_info(st, 0, info);
        info->known = KNOWN_STAT | KNOWN_KIND;
        info->epoch = d->epoch;
        learn &= ~(unsigned)KNOWN_STAT;
        if (learn == 0)
            return 1;
        unsigned bits;
        int present = child_marks(d, name_at(d, (uint32_t)index), &bits);
        info->marks = (uint16_t)(bits | (present ? MARKS_PRESENT : 0));
        info->known |= KNOWN_MARKS;
        return 1;
    }
    if (dir_learn(d, index, learn) == 0)
        return 1;
    return errno == ENOENT ? 0 : -1;
}

int dir_lookup(Dir *d, const char *name, int *index, unsigned learn) {
    *index = -1;
    cache_touch(d);
    if (!d->complete) {
        int i = find_exact(d, name, name_fold_hash(name));
        if (i >= 0) {
            *index = i;
            int r = learn_found(d, i, nullptr, learn);
            if (r <= 0)
                *index = -1;
            return r;
        }
        struct stat st;
        int fd = dir_fd(d);
        if (fd >= 0 && fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            *index = add_name(d, name);
            return learn_found(d, *index, &st, learn);
        }
        if (fd < 0 && errno != EACCES)
            return -1;
        if (read_names(d, 1) != 0)
            return -1;
    }
    int i = find_name(d, name);
    // Not here when last read: someone else may have put it here since,
    // unless the directory's times are those of that read (or of the run's
    // own changes after it).
    if (i < 0 && !d->fresh && times_changed(d)) {
        if (read_names(d, 1) != 0)
            return -1;
        i = find_name(d, name);
    }
    if (i < 0)
        return 0;
    int r = learn_found(d, i, nullptr, learn);
    *index = r > 0 ? i : -1;
    return r;
}

int dir_peek(const Dir *d, const char *name) { return find_exact(d, name, name_fold_hash(name)); }

unsigned long dir_changes(const Dir *d) { return d->changes; }

int dir_current(const Dir *d) { return d->cached; }

const char *dir_name(const Dir *d, int index) { return name_at(d, (uint32_t)index); }

NameInfo *dir_info(Dir *d, int index) { return info_slot(d, (uint32_t)index); }

int dir_learn(Dir *d, int index, unsigned want) {
    NameInfo *info = info_slot(d, (uint32_t)index);
    const char *name = name_at(d, (uint32_t)index);
    // What is not looked at again stays as it was learnt.
    info->known &= (uint8_t)~want;
    if (want & KNOWN_STAT)
        info->known &= (uint8_t)~KNOWN_KIND;
    if ((want & KNOWN_STAT) != 0 && learn_stat(d, name, info) != 0) {
        int err = errno;
        if (err == ENOENT)
            remove_name(d, name);
        errno = err;
        return -1;
    }
    if (want & KNOWN_STAT)
        info->known |= KNOWN_STAT | KNOWN_KIND;
    if (want & KNOWN_MARKS) {
        unsigned bits;
        int present = child_marks(d, name, &bits);
        info->marks = (uint16_t)(bits | (present ? MARKS_PRESENT : 0));
        info->known |= KNOWN_MARKS;
    }
    info->epoch = d->epoch;
    return 0;
}

int dir_trusted(const Dir *d, int index, unsigned want) {
    const DirEntry &e = d->entries[(uint32_t)index];
    if (d->lists == 0 || e.info == 0)
        return 0;
    const NameInfo &info = d->infos[e.info - 1];
    return info.epoch == d->epoch && (info.known & want) == want;
}

Dir *dir_list(Dir *d, unsigned want, std::vector<uint32_t> *entries) {
    if (d->lists != 0)
        d = cache_replace(d);
    if (d == nullptr)
        return nullptr;
    dir_hold(d);
    d->lists++;
    if (read_names(d, 1) != 0) {
        int err = errno;
        dir_unlist(d);
        errno = err;
        return nullptr;
    }
    entries->clear();
    entries->reserve(d->live);
    for (uint32_t i = 0; i < d->entries.size(); i++) {
        if (!alive(d, i))
            continue;
        if (want != 0 && dir_learn(d, (int)i, want) != 0) {
            if (errno == EACCES) { // an entry of a directory that cannot be searched
                dir_unlist(d);
                errno = EACCES;
                return nullptr;
            }
            continue; // gone meanwhile, or a loop: not listed
        }
        entries->push_back(i);
    }
    return d;
}

void dir_unlist(Dir *d) {
    if (--d->lists == 0)
        d->epoch++; // what the listings learnt is no longer relied on
    dir_release(d);
}

// What the backend knows of an entry it made or moved itself: its kind.
static void note_kind(Dir *d, int index, int isdir) {
    NameInfo *info = info_slot(d, (uint32_t)index);
    *info = NameInfo{};
    info->known = KNOWN_KIND;
    info->flags = (uint8_t)(isdir ? NAME_DIR : 0);
}

void dir_added(Dir *d, const char *name, int isdir) {
    if (isdir)
        dir_forget_below(child_path(d, name).c_str());
    note_kind(d, add_name(d, name), isdir);
    d->changes++;
    restamp(d);
}

void dir_removed(Dir *d, const char *name, int isdir) {
    if (isdir)
        dir_forget_below(child_path(d, name).c_str());
    remove_name(d, name);
    d->changes++;
    restamp(d);
}

void dir_made(Dir *d, const char *name) {
    note_kind(d, add_name(d, name), 1);
    d->changes++;
    restamp(d);
    makes++;
    std::string path = child_path(d, name);
    if (Dir *old = dir_cached(path.c_str()))
        cache_drop(old);
    Dir *made = cache_install(path.c_str());
    if (made != nullptr) {
        made->complete = 1;
        made->fresh = 1;
    }
}

void dir_found(Dir *d, const char *name) { add_name(d, name); }

unsigned long dir_makes(void) { return makes; }

unsigned long dir_reads(void) { return reads; }
