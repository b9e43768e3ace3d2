// The looks and changes of echofs.h: outside echo mode the platform's
// calls; in echo mode the picture (picture.h) answers the looks, and the
// changes are recorded into it.
#include "search/echofs.h"

#include <cstdint>
#include <cstring>

#include "base/param.h"
#include "search/pathstr.h"
#include "search/picture.h"

using namespace picture;

namespace {

// Outside echo mode a listing is the platform's own, handed back with its
// lowest bit set (no PlatFind lies at an odd address): the looks of a run
// that is no echo cost what the platform's cost, and nothing more.
FsFind *tagged(PlatFind *d) {
    return d != nullptr ? reinterpret_cast<FsFind *>(reinterpret_cast<uintptr_t>(d) | 1u) : nullptr;
}

PlatFind *platform(FsFind *f) {
    uintptr_t p = reinterpret_cast<uintptr_t>(f);
    return (p & 1u) != 0 ? reinterpret_cast<PlatFind *>(p & ~(uintptr_t)1) : nullptr;
}

int usepicture(const char *pattern) { return active() && inpicture(pattern); }

// ---- recording --------------------------------------------------------------------

// The spelling under which the path at p would be made: the entry that
// answers to its name (made by the run, or on disk and not taken away),
// else the name as given; an entry's name from the disk is copied into
// buf. *disk: whether the disk holds exactly that spelling, -1 when not
// looked at. One look at the disk (the platform's look at the one name,
// or its listing where that look cannot tell).
const char *spelling(Place *p, char *buf, int *disk) {
    *disk = -1;
    const char *path = p->path, *final = p->name;
    const Dir *d = p->dir;
    const Node *first = group(p);
    if (first != nullptr) {
        const Node *other = nullptr;
        for (const Node *n = first; n != nullptr; n = n->twin) {
            if (n->state == MADE && std::strcmp(n->name, final) == 0)
                return final;
            if (n->state == MADE && other == nullptr)
                other = n;
        }
        if (other != nullptr)
            return other->name;
    }
    int self;
    if (shows(path, p->dirlen, &self) != SHOWS_DISK) {
        *disk = 0;
        return final;
    }
    PlatEntry e;
    if (first == nullptr && plainname(final, p->namelen)) {
        // Nothing of the name was changed: the disk's own entry answers,
        // which its listing would give first.
        int r = plat_findone(path, ANY, &e);
        if (r == 0) {
            *disk = 0;
            return final;
        }
        if (r == 1 && foldeq(e.name, WHOLE, final, WHOLE)) {
            *disk = 1; // exactly it, or the entry that answers under its own name
            return std::strcmp(e.name, final) == 0 ? final : std::strcpy(buf, e.name);
        }
    }
    PlatFind *find = plat_findfirst(path, ANY, &e);
    const char *name = final;
    int found = 0;
    *disk = 0;
    for (int more = find != nullptr; more; more = plat_findnext(find, &e)) {
        if (!foldeq(e.name, WHOLE, final, WHOLE))
            continue;
        if (std::strcmp(e.name, final) == 0)
            *disk = 1;
        const Node *n = findnode(d, e.name);
        if (!found && (n == nullptr || n->state != GONE)) {
            name = std::strcpy(buf, e.name);
            found = 1;
        }
    }
    plat_findclose(find);
    if (std::strcmp(name, final) != 0)
        *disk = 1; // the entry that answers is on disk under its own name
    return name;
}

// path would hold what shown says (from: a copy's source, read later): the
// entry that answers to its name, in that entry's spelling, or a new one
// as spelled.
void made(const char *path, const Shown &shown, int isdir, int showsdisk,
          const Place *from = nullptr, int zero = 0) {
    Place at;
    if (!inpicture(path) || place(path, &at) != 0)
        return;
    char buf[sizeof(PlatEntry::name)];
    int disk;
    const char *name = spelling(&at, buf, &disk);
    Node *n = setnode(&at, name, disk);
    if (isdir || n->isdir)
        changed(path);
    n->state = MADE;
    n->isdir = isdir;
    n->showsdisk = showsdisk;
    n->shown = shown;
    setfrom(n, from);
    n->zero = zero;
}

// path would be taken away: the entry that answers to its name.
void gone(const char *path) {
    Place at;
    PlatEntry cur;
    if (!inpicture(path) || place(path, &at) != 0 || !lookup(path, &cur))
        return;
    Node *n = setnode(&at, cur.name, -1);
    n->state = GONE;
    n->isdir = (cur.attrib & PLAT_ATTR_DIRECTORY) != 0;
    n->showsdisk = 0;
    n->shown = shownof(cur);
    setfrom(n, nullptr);
    changed(path); // a name taken away from a path's way hides the path too
}

int echoing(void) { return opt_echo == 1; }

int fail(unsigned code) {
    plat_setlasterror(code);
    return -1;
}

// A new directory of the picture: as mkdir would fail, or made.
int echomkdir(const char *path) {
    if (!inpicture(path))
        return 0; // nothing of it can be foreseen, and nothing is made
    PlatEntry e;
    if (lookup(path, &e))
        return fail(PLAT_ERR_ALREADY_EXISTS);
    size_t dirlen;
    const char *final;
    if (splitlast(path, &dirlen, &final) != 0)
        return fail(PLAT_ERR_PATH_NOT_FOUND);
    Joined dir;
    if (dirlen > 2 &&
        (!lookup(dir.text(path, dirlen, nullptr), &e) || !(e.attrib & PLAT_ATTR_DIRECTORY)))
        return fail(PLAT_ERR_PATH_NOT_FOUND);
    Shown s;
    s.attrib = PLAT_ATTR_DIRECTORY;
    made(path, s, 1, 0);
    return 0;
}

} // namespace

// ---- looks --------------------------------------------------------------------

FsFind *fs_findfirst(const char *pattern, unsigned mask, PlatEntry *entry) {
    if (pattern == nullptr || !echoing())
        return tagged(plat_findfirst(pattern, mask, entry));
    FsFind *f = new FsFind;
    f->pattern = pattern;
    f->mask = mask;
    if (!usepicture(pattern)) {
        // The picture may grow before the listing starts over.
        f->disk = plat_findfirst(pattern, mask, entry);
        if (f->disk == nullptr) {
            delete f;
            return nullptr;
        }
        return f;
    }
    f->picture = 1;
    build(f);
    if (f->list.empty()) {
        unsigned err = plat_lasterror();
        fs_findclose(f);
        plat_setlasterror(err);
        return nullptr;
    }
    *entry = f->list[0];
    f->next = 1;
    return f;
}

int fs_findnext(FsFind *f, PlatEntry *entry) {
    if (PlatFind *d = platform(f))
        return plat_findnext(d, entry);
    if (f == nullptr)
        return 0;
    if (!f->picture || f->direct)
        return plat_findnext(f->disk, entry);
    if (f->next >= f->list.size())
        return 0;
    *entry = f->list[f->next++];
    return 1;
}

int fs_findagain(FsFind *f, PlatEntry *entry) {
    if (PlatFind *d = platform(f))
        return plat_findagain(d, entry);
    if (f == nullptr)
        return 0;
    if (!f->picture && usepicture(f->pattern.c_str()))
        f->picture = 1; // listed before the run changed anything: from now on the picture
    if (!f->picture)
        return plat_findagain(f->disk, entry);
    build(f);
    if (f->list.empty())
        return 0;
    *entry = f->list[0];
    f->next = 1;
    return 1;
}

void fs_findclose(FsFind *f) {
    if (PlatFind *d = platform(f)) {
        plat_findclose(d);
        return;
    }
    if (f == nullptr)
        return;
    plat_findclose(f->disk);
    delete f;
}

int fs_findone(const char *path, unsigned mask, PlatEntry *entry) {
    if (!echoing() || path == nullptr || !usepicture(path))
        return plat_findone(path, mask, entry);
    int r = one(path, mask, 1, entry);
    if (r >= 0) {
        if (r == 0)
            plat_setlasterror(PLAT_ERR_FILE_NOT_FOUND);
        return r;
    }
    // The picture's listing of the name, which a name holding "*" or "?"
    // widens to its look-alikes: only a spelling of the name itself counts.
    const char *sep = mbstrrchr(path, '\\');
    const char *want = sep != nullptr ? sep + 1 : path;
    FsFind *f = fs_findfirst(path, mask, entry);
    unsigned err = plat_lasterror();
    // A directory that cannot be read answers as the platform's look does,
    // with the system's reason.
    if (f == nullptr && err != PLAT_ERR_FILE_NOT_FOUND && err != PLAT_ERR_PATH_NOT_FOUND &&
        err != PLAT_ERR_NO_MORE_FILES)
        return plat_findone(path, mask, entry);
    int found = 0;
    for (int more = f != nullptr; more && !found; more = fs_findnext(f, entry))
        found = std::strcmp(entry->name, want) == 0 || samepath(entry->name, want);
    fs_findclose(f);
    if (!found)
        plat_setlasterror(PLAT_ERR_FILE_NOT_FOUND);
    return found;
}

int fs_getattr(const char *path, unsigned *attrib) {
    size_t len = path != nullptr ? std::strlen(path) : 0;
    if (len == 0 || !usepicture(path) || path[len - 1] == '\\')
        return plat_getattr(path, attrib);
    PlatEntry e;
    if (!lookup(path, &e))
        return -1;
    *attrib = e.attrib & ~(unsigned)(PLAT_ATTR_BADNAME | PLAT_ATTR_NOMARKS);
    return 0;
}

// ---- changes ------------------------------------------------------------------

int fs_move(const char *from, const char *to) {
    if (!echoing())
        return plat_move(from, to);
    if (!inpicture(from) || !inpicture(to))
        return 0; // nothing of it can be foreseen, and nothing is moved
    PlatEntry src, dst;
    if (!lookup(from, &src))
        return fail(PLAT_ERR_FILE_NOT_FOUND);
    size_t fromdir, todir;
    const char *fromname, *toname;
    if (splitlast(from, &fromdir, &fromname) != 0 || splitlast(to, &todir, &toname) != 0)
        return fail(PLAT_ERR_FILE_NOT_FOUND);
    int samedir = foldeq(from, fromdir, to, todir);
    // Never onto another entry; a change of letter case respells the same.
    if (lookup(to, &dst) && !(samedir && std::strcmp(dst.name, src.name) == 0))
        return fail(PLAT_ERR_ALREADY_EXISTS);
    int isdir = (src.attrib & PLAT_ATTR_DIRECTORY) != 0;
    int respelled = samedir && foldeq(fromname, WHOLE, toname, WHOLE);
    Joined srcpath;
    gone(srcpath.text(from, fromdir, src.name));
    made(to, shownof(src), isdir, isdir && respelled);
    return 0;
}

int fs_rmdir(const char *path) {
    if (!echoing())
        return plat_rmdir(path);
    if (!inpicture(path))
        return 0;
    PlatEntry e;
    if (!lookup(path, &e))
        return fail(PLAT_ERR_FILE_NOT_FOUND);
    if (!(e.attrib & PLAT_ATTR_DIRECTORY))
        return fail(PLAT_ERR_DIRECTORY);
    FsFind f;
    f.picture = 1;
    f.pattern = std::string(path) + "\\*";
    f.mask = ANY | PLAT_ATTR_BADNAME;
    build(&f);
    if (f.direct) { // the picture holds nothing of it: the disk's listing
        PlatEntry c;
        while (plat_findnext(f.disk, &c))
            f.list.push_back(c);
    }
    plat_findclose(f.disk);
    for (const PlatEntry &c : f.list)
        if (std::strcmp(c.name, ".") != 0 && std::strcmp(c.name, "..") != 0)
            return fail(PLAT_ERR_DIR_NOT_EMPTY);
    gone(path);
    return 0;
}

int fs_mkdirlike(const char *path, const char *model) {
    return echoing() ? echomkdir(path) : plat_mkdirlike(path, model);
}

int fs_mkdirprivate(const char *path) {
    return echoing() ? echomkdir(path) : plat_mkdirprivate(path);
}

void fs_deleted(const char *path) {
    if (echoing())
        gone(path);
}

void fs_copied(const char *src, const char *dst, const PlatFileTime *mtime, unsigned newattrib,
               int append, int zero, int move) {
    if (!echoing())
        return;
    // A source the run made itself (a backup copied aside, say) shows what
    // the picture holds; one on disk is read when the copy is looked at.
    Shown shown;
    Place at;
    const Node *source = nullptr;
    if (!inpicture(src) || place(src, &at) != 0) {
        at = Place();
        at.path = src; // kept whole
    } else if (at.dir != nullptr) {
        source = findnode(at.dir, at.name);
    }
    const Place *from = &at;
    if (source != nullptr && source->state == MADE) {
        settle(*source);
        shown = source->shown;
        from = nullptr;
    }
    PlatEntry d;
    unsigned long long base = append && lookup(dst, &d) ? d.size : 0;
    shown.size = zero ? 0 : (from == nullptr ? shown.size : 0) + base;
    shown.attrib = newattrib & ~(unsigned)PLAT_ATTR_DIRECTORY;
    if (mtime != nullptr)
        shown.mtime = *mtime;
    made(dst, shown, 0, 0, from, zero);
    if (move && inpicture(src))
        gone(src);
}

void fs_forget(void) { forget(); }
