// The directories the backend works in (see dircache.h): each resolved
// once, kept with a descriptor for the *at calls and the names it holds
// (dirnames.h), and kept true across the run's own changes.
#include "platform/posix/dircache.h"
#include "platform/posix/dirnames.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>


namespace {

// What is remembered is bounded twice. Descriptors are few: what a walk
// works in at once is held (the directories on its current path, source
// and destination), and of the rest only the most recently used stay open;
// a directory whose descriptor is closed keeps what is known of its names
// and is opened again when it is used. What is known of names is kept for
// many more directories, so that a tree whose destination directories are
// all made before they are filled (each as its entry is met) finds them
// known and empty instead of reading each again. Past either bound the
// least recently used quarter goes at once, so that the cost of choosing
// is spread over many uses.
const size_t MAX_KNOWN = 16384;

size_t open_limit(void) {
    static size_t limit;
    if (limit == 0) {
        struct rlimit rl;
        rlim_t soft = getrlimit(RLIMIT_NOFILE, &rl) == 0 ? rl.rlim_cur : 1024;
        limit = soft == RLIM_INFINITY || soft / 4 > 1024 ? 1024 : soft / 4 < 64 ? 64 : (size_t)soft / 4;
    }
    return limit;
}

std::unordered_map<std::string, Dir *> table;
unsigned long ticks, generation, rechecks = 1;
size_t opened; // cached directories with a descriptor

// The directories held open by dir_pin, innermost last, and how many times
// a directory was held from its name: each time, the directories cached
// below it before are looked at again (dir_get).
std::vector<Dir *> pins;
unsigned long pinnings = 1;
// A named directory held to what a look at it saw: opened without
// following a final link, which could only lead elsewhere.
int nofollow;

// Counts every event after which a Dir pointer kept outside the cache may
// no longer be the cached directory of its path (dir_epoch).
unsigned long epoch = 1;

// The cached directories go with the table when the process ends: the
// table itself is destroyed then, and what it pointed to would be lost.
struct TableEnd {
    ~TableEnd() {
        for (Dir *p : pins) { // a run ended inside a walk
            p->pinned = 0;
            if (--p->holds == 0 && !p->cached) {
                if (p->fd >= 0)
                    close(p->fd);
                delete p;
            }
        }
        pins.clear();
        for (auto &slot : table) {
            if (slot.second->fd >= 0)
                close(slot.second->fd);
            slot.second->fd = -1;
            if (slot.second->holds == 0)
                delete slot.second;
            else
                slot.second->cached = 0; // its last hold deletes it
        }
        table.clear();
    }
} tableend;

// ---- directories ------------------------------------------------------------------

void close_dir(Dir *d) {
    if (d->fd >= 0) {
        close(d->fd);
        opened--;
    }
    d->fd = -1;
}

void drop(Dir *d) {
    epoch++;
    if (d->cached) {
        table.erase(d->native);
        d->cached = 0;
    }
    if (d->holds == 0) {
        close_dir(d);
        delete d;
    }
}

// The innermost held directory strictly above the native path, or null.
Dir *pin_above(const std::string &native) {
    Dir *best = nullptr;
    for (Dir *p : pins) {
        const std::string &q = p->native;
        if (native.size() > q.size() && native.compare(0, q.size(), q) == 0 &&
            (q == "/" || native[q.size()] == '/') &&
            (best == nullptr || q.size() > best->native.size()))
            best = p;
    }
    return best;
}

// The cached directories no one holds, least recently used first; with
// open, only those with a descriptor.
std::vector<Dir *> idle(int open) {
    std::vector<Dir *> out;
    for (auto &slot : table)
        if (slot.second->holds == 0 && (!open || slot.second->fd >= 0))
            out.push_back(slot.second);
    std::sort(out.begin(), out.end(), [](const Dir *a, const Dir *b) { return a->used < b->used; });
    return out;
}

// Keeps the cache within its bounds (see MAX_KNOWN).
void trim(void) {
    if (opened > open_limit()) {
        std::vector<Dir *> old = idle(1);
        for (size_t i = 0; i < old.size() && opened > open_limit() * 3 / 4; i++)
            close_dir(old[i]);
    }
    if (table.size() > MAX_KNOWN) {
        std::vector<Dir *> old = idle(0);
        for (size_t i = 0; i < old.size() && table.size() > MAX_KNOWN * 3 / 4; i++)
            drop(old[i]);
    }
}

Dir *install(const char *native) {
    Dir *d = new (std::nothrow) Dir;
    if (d == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    d->native = native;
    d->used = ++ticks;
    d->checked = rechecks;
    table[d->native] = d;
    trim();
    return d;
}

int open_named(Dir *d);

// The identity of what d's descriptor is open on. 0, or -1 with errno set.
int take_identity(Dir *d) {
    struct stat st;
    if (fstat(d->fd, &st) != 0)
        return -1;
    d->ino = (uint64_t)st.st_ino;
    d->dev = (uint64_t)st.st_dev;
    return 0;
}

// 1 when the entry name of p was last seen as another directory than the
// one open at fd (a look of p's: a listing, or a look-up that learnt it).
int seen_otherwise(Dir *p, const char *name, int fd) {
    int i = find_exact(p, name, name_fold_hash(name));
    if (i < 0 || p->entries[(uint32_t)i].info == 0)
        return 0;
    const NameInfo &info = p->infos[p->entries[(uint32_t)i].info - 1];
    if ((info.known & KNOWN_STAT) == 0 || (info.flags & NAME_LINK) != 0 || info.ino == 0)
        return 0;
    struct stat st;
    return fstat(fd, &st) != 0 || (uint64_t)st.st_ino != info.ino ||
           (uint64_t)st.st_dev != info.dev;
}

// Opens d below a held directory: from its parent's descriptor, never
// through a link, and only when it is still the directory its parent's
// last look saw there. A link, or another directory, found in its place
// fails with ESTALE: something changed the tree while the run works in it.
int open_chained(Dir *d) {
    size_t slash = d->native.rfind('/');
    std::string parent = slash == 0 ? "/" : d->native.substr(0, slash);
    const char *name = d->native.c_str() + slash + 1;
    Dir *p = dir_get(parent.c_str());
    int pfd = p != nullptr ? dir_fd(p) : -1;
    if (pfd < 0)
        return -1;
    int fd = openat(pfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    d->pathonly = 0;
    if (fd < 0 && errno == EACCES) {
        fd = openat(pfd, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        d->pathonly = 1;
    }
    struct stat st;
    if (fd < 0 && (errno == ENOTDIR || errno == ELOOP) &&
        fstatat(pfd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        errno = ESTALE;
    if (fd >= 0 && seen_otherwise(p, name, fd)) {
        close(fd);
        fd = -1;
        errno = ESTALE;
    }
    d->chained = fd >= 0;
    return fd;
}

// Opens the directory at d's path; from its parent when that is open. One
// whose descriptor was closed to keep the cache small and that is now
// another directory (replaced meanwhile) is known no more.
int open_dir(Dir *d) {
    d->atstart = 1;
    uint64_t ino = d->ino, dev = d->dev;
    if (d->same != nullptr) { // a held directory read again: the same one
        d->fd = openat(d->same->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        d->pathonly = 0;
        d->chained = 1;
    } else if (pin_above(d->native) != nullptr) {
        d->fd = open_chained(d);
    } else {
        d->fd = open_named(d);
    }
    if (d->fd < 0)
        return -1;
    opened++;
    d->used = ++ticks; // the newest, never the one trim closes
    if (take_identity(d) != 0) {
        close_dir(d);
        return -1;
    }
    if (ino != 0 && (d->ino != ino || d->dev != dev)) {
        clear_names(d);
        d->complete = d->fresh = d->stamped = 0;
        d->changes++;
    }
    trim();
    return d->fd;
}

// Opens the directory at d's path as it is named; from its parent when
// that is open.
int open_named(Dir *d) {
    const char *path = d->native.c_str();
    int at = AT_FDCWD;
    const char *slash = std::strrchr(path, '/');
    if (slash != nullptr && slash != path) {
        Dir *parent = dir_cached(std::string(path, (size_t)(slash - path)).c_str());
        if (parent != nullptr && parent->fd >= 0 && parent->checked == rechecks) {
            at = parent->fd;
            path = slash + 1;
        }
    }
    int flags = O_DIRECTORY | O_CLOEXEC | (nofollow ? O_NOFOLLOW : 0);
    int fd = openat(at, path, O_RDONLY | flags);
    d->pathonly = 0;
    if (fd < 0 && errno == EACCES) {
        fd = openat(at, path, O_PATH | flags);
        d->pathonly = 1;
    }
    return fd;
}

// Whether d is still the directory at its path, looked at once after each
// recheck: a directory removed, or replaced by another, since it was
// opened is dropped. Its names stay known while its change times are those
// taken when they were read (or at the run's own last change), and a
// directory the run made keeps what the run's own changes made it: a list
// whose every line is expanded anew costs a look at each directory, never
// a read of its names again.
int still_there(Dir *d) {
    d->checked = rechecks;
    if (d->holds != 0)
        return 1; // a listing still reads it as it was
    struct stat held, now;
    if (d->fd >= 0 && (fstat(d->fd, &held) != 0 || held.st_nlink == 0 ||
                       stat(d->native.c_str(), &now) != 0 || now.st_dev != held.st_dev ||
                       now.st_ino != held.st_ino))
        return 0;
    if (d->fresh || (d->complete && d->stamped && !times_changed(d)))
        return 1;
    d->stamped = 0;
    d->complete = 0;
    clear_names(d);
    return 1;
}

// A copy of d for the same path, for a read while a listing holds d. A
// held directory is read again through its own descriptor: the path may
// lead elsewhere by now.
Dir *replace(Dir *d) {
    epoch++;
    std::string native = d->native;
    if (d->cached) {
        table.erase(d->native);
        d->cached = 0;
    }
    Dir *copy = install(native.c_str());
    if (copy != nullptr && (d->pinned || d->chained) && d->fd >= 0)
        copy->same = d->pinned ? d : d->same != nullptr ? d->same : d;
    return copy;
}

// A directory cached before the innermost hold that lies below a held one
// and was opened by its name, maybe through a link: not to be relied on.
// One not opened yet (made by the run) will be opened from its parent.
int stale_below_pin(Dir *d) {
    if (d->pinchecked == pinnings)
        return 0;
    d->pinchecked = pinnings;
    return d->fd >= 0 && !d->pinned && !d->chained && d->same == nullptr &&
           pin_above(d->native) != nullptr;
}

} // namespace

// ---- services ----------------------------------------------------------------------

Dir *dir_cached(const char *native) {
    auto it = table.find(native);
    if (it == table.end())
        return nullptr;
    it->second->used = ++ticks;
    return it->second;
}

Dir *dir_get(const char *native) {
    Dir *d = dir_cached(native);
    if (d != nullptr && stale_below_pin(d)) {
        drop(d);
        d = nullptr;
    }
    if (d != nullptr && (d->checked == rechecks || still_there(d)))
        return d;
    if (d != nullptr)
        drop(d);
    d = install(native);
    if (d == nullptr)
        return nullptr;
    if (open_dir(d) < 0) {
        int err = errno;
        drop(d);
        errno = err;
        return nullptr;
    }
    return d;
}

void dir_hold(Dir *d) { d->holds++; }

void dir_release(Dir *d) {
    if (--d->holds == 0 && !d->cached) {
        close_dir(d);
        delete d;
    }
}

const char *dir_native(const Dir *d) { return d->native.c_str(); }

PlatFileId dir_identity(const Dir *d) { return PlatFileId{d->dev, d->ino}; }

int dir_fd(Dir *d) {
    if (d->fd >= 0)
        return d->fd;
    return open_dir(d);
}

void dir_forget_below(const char *native) {
    size_t n = std::strlen(native);
    int all = n == 1 && native[0] == '/';
    generation++;
    for (auto it = table.begin(); it != table.end();) {
        Dir *d = it->second;
        const std::string &p = d->native;
        ++it;
        if (all || (p.compare(0, n, native) == 0 && (p.size() == n || p[n] == '/')))
            drop(d);
    }
}

unsigned long dir_generation(void) { return generation; }


void dir_recheck(void) {
    rechecks++;
    epoch++;
}

unsigned long dir_epoch(void) { return epoch; }

int dir_pinned_above(const char *native) { return pin_above(native) != nullptr; }

int dir_pin(const char *native, int named, const PlatFileId *seen) {
    nofollow = named && seen != nullptr;
    Dir *d = dir_get(native);
    int fd = d != nullptr ? dir_fd(d) : -1;
    nofollow = 0;
    if (fd < 0) {
        // A link, or a file, where the directory was seen.
        if (named && seen != nullptr && (errno == ELOOP || errno == ENOTDIR))
            errno = ESTALE;
        return -1;
    }
    if (named) {
        pinnings++; // what was cached below it by name is looked at again
        epoch++;
    }
    if (seen != nullptr && (d->ino != seen->inode || d->dev != seen->device)) {
        drop(d);
        errno = ESTALE;
        return -1;
    }
    dir_hold(d);
    d->pinned++;
    pins.push_back(d);
    return 0;
}

void dir_unpin(void) {
    if (pins.empty())
        return;
    Dir *d = pins.back();
    pins.pop_back();
    d->pinned--;
    dir_release(d);
}

// ---- for the cache's own files (dirnames.h) ------------------------------------------

Dir *cache_install(const char *native) { return install(native); }

void cache_drop(Dir *d) { drop(d); }

Dir *cache_replace(Dir *d) { return replace(d); }

void cache_touch(Dir *d) { d->used = ++ticks; }
