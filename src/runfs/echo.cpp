// The door of echo mode (/E): nothing is changed on disk, yet the real
// run's later steps see what its earlier ones did: a counter or a backup
// name skips the names already given out, a directory emptied by a move or
// a delete is removed, a file moved away is not found again, a directory
// renamed is walked under its new name. So that /E shows what the run
// would do, line for line and in its exit status, an echo run keeps the
// picture of what it would have changed (picture.h), and every look
// answers from the disk as that picture leaves it.
//
// What is remembered, and the rule that keeps it true: for each directory
// (its full DOS path, letter case ignored) the names made in it and
// the names taken away from it since the run began, each made one with
// the entry a listing would show for it. Every change an echo run would
// make is recorded here and nowhere else; the disk itself does not change
// under an echo run (what others change meanwhile is not foreseen). A
// directory taken away, or made anew, hides what the disk holds below it;
// one respelled in letter case (/L, /L+) shows the disk's contents under
// its new spelling. Paths that are not full DOS paths (X:\...) are never
// in the picture and always go to the platform.
#include <cstring>

#include "base/pathstr.h"
#include "runfs/picture.h"

using namespace picture;

namespace {

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

// ---- looks --------------------------------------------------------------------

void findclose(RunFind *f);

// A listing shows the names the run would have made, with what they would
// hold, in listing order, and leaves out the ones it would have taken
// away; like the platform's, it is what the directory held when it was
// made (or started over).
RunFind *findfirst(const char *pattern, unsigned mask, PlatEntry *entry) {
    if (pattern == nullptr) {
        fail(PLAT_ERR_INVALID_PARAMETER); // as the platform refuses it
        return nullptr;
    }
    RunFind *f = new RunFind;
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
        findclose(f);
        plat_setlasterror(err);
        return nullptr;
    }
    *entry = f->list[0];
    f->next = 1;
    return f;
}

int findnext(RunFind *f, PlatEntry *entry) {
    if (f == nullptr)
        return 0;
    if (!f->picture || f->direct)
        return plat_findnext(f->disk, entry);
    if (f->next >= f->list.size())
        return 0;
    *entry = f->list[f->next++];
    return 1;
}

int findagain(RunFind *f, PlatEntry *entry) {
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

void findclose(RunFind *f) {
    if (f == nullptr)
        return;
    plat_findclose(f->disk);
    delete f;
}

int findone(const char *path, unsigned mask, PlatEntry *entry) {
    if (path == nullptr || !usepicture(path))
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
    RunFind *f = findfirst(path, mask, entry);
    unsigned err = plat_lasterror();
    // A directory that cannot be read answers as the platform's look does,
    // with the system's reason.
    if (f == nullptr && err != PLAT_ERR_FILE_NOT_FOUND && err != PLAT_ERR_PATH_NOT_FOUND &&
        err != PLAT_ERR_NO_MORE_FILES)
        return plat_findone(path, mask, entry);
    int found = 0;
    for (int more = f != nullptr; more && !found; more = findnext(f, entry))
        found = std::strcmp(entry->name, want) == 0 || samepath(entry->name, want);
    findclose(f);
    if (!found)
        plat_setlasterror(PLAT_ERR_FILE_NOT_FOUND);
    return found;
}

int getattr(const char *path, unsigned *attrib) {
    size_t len = path != nullptr ? std::strlen(path) : 0;
    if (len == 0 || !usepicture(path) || path[len - 1] == '\\')
        return plat_getattr(path, attrib);
    PlatEntry e;
    if (!lookup(path, &e))
        return -1;
    *attrib = e.attrib & ~(unsigned)(PLAT_ATTR_BADNAME | PLAT_ATTR_NOMARKS);
    return 0;
}

int owndir(const char *path, PlatFileId *id) {
    if (path == nullptr || !usepicture(path))
        return plat_owndir(path, id);
    PlatEntry e;
    if (!lookup(path, &e))
        return -1;
    if (!(e.attrib & PLAT_ATTR_DIRECTORY))
        return fail(PLAT_ERR_DIRECTORY);
    int r = plat_owndir(path, id);
    unsigned code = plat_lasterror();
    if (r < 0 && (code == PLAT_ERR_FILE_NOT_FOUND || code == PLAT_ERR_PATH_NOT_FOUND)) {
        *id = PlatFileId{0, 0}; // made by the run, for it alone
        return 0;
    }
    return r;
}

// ---- changes ------------------------------------------------------------------

int move(const char *from, const char *to) {
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

// A move over what is at to: that is taken away first.
int replace(const char *from, const char *to) {
    PlatEntry src;
    if (inpicture(from) && inpicture(to) && !lookup(from, &src))
        return fail(PLAT_ERR_FILE_NOT_FOUND);
    gone(to);
    return move(from, to);
}

int removedir(const char *path) {
    if (!inpicture(path))
        return 0;
    PlatEntry e;
    if (!lookup(path, &e))
        return fail(PLAT_ERR_FILE_NOT_FOUND);
    if (!(e.attrib & PLAT_ATTR_DIRECTORY))
        return fail(PLAT_ERR_DIRECTORY);
    RunFind f;
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

int mkdirlike(const char *path, const char *) { return echomkdir(path); }

int mkdirprivate(const char *path) { return echomkdir(path); }

// The run's own count says what would have gone; what would have stopped
// a delete is not foreseen.
int erase(const char *path) {
    gone(path);
    return 0;
}

int erasesame(const char *path, const PlatFileState *) { return erase(path); }

int setattr(const char *, unsigned) { return 0; }

int copyfile(const RunCopy *c) {
    // A source the run made itself (a backup copied aside, say) shows what
    // the picture holds; one on disk is read when the copy is looked at.
    Shown shown;
    Place at;
    const Node *source = nullptr;
    if (!inpicture(c->src) || place(c->src, &at) != 0) {
        at = Place();
        at.path = c->src; // kept whole
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
    unsigned long long base = c->append && lookup(c->dst, &d) ? d.size : 0;
    shown.size = c->zero ? 0 : (from == nullptr ? shown.size : 0) + base;
    shown.attrib = c->newattrib & ~(unsigned)PLAT_ATTR_DIRECTORY;
    if (c->mtime != nullptr)
        shown.mtime = *c->mtime;
    made(c->dst, shown, 0, 0, from, c->zero);
    if (c->move && inpicture(c->src))
        gone(c->src);
    return 0;
}

// No file is opened for writing: copyfile never asks for one, and nothing
// else may.
int refused(void) { return fail(PLAT_ERR_ACCESS_DENIED); }
int openread(const char *path, int how) { return how == PLAT_OPEN_READ ? plat_open(path, how) : refused(); }
int opentemp(const char *, const char *, char *, size_t) { return refused(); }
int opennew(const char *) { return refused(); }
int placenew(int) { return refused(); }
void dropnew(int) {}
int copylink(const char *, const char *, const char *, char *, size_t) { return refused(); }
long long copydata(int, int, long long, void *, unsigned long, void (*)(unsigned long long)) {
    return refused();
}
int setfiletime(int, const PlatFileTime *) { return refused(); }
int cut(int, long long) { return refused(); }
int keepperms(int, const char *, const char *) { return refused(); }
int newperms(int, const char *) { return refused(); }
int syncfile(int) { return refused(); }

} // namespace

const RunFs runfs_echo = {
    .findfirst = findfirst,
    .findnext = findnext,
    .findagain = findagain,
    .findclose = findclose,
    .findone = findone,
    .getattr = getattr,
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
    .owndir = owndir,
    .holddir = plat_holddir,
    .releasedir = plat_releasedir,
    .open = openread,
    .read = plat_read,
    .seek = plat_seek,
    .filestate = plat_filestate,
    .close = plat_close,
    .setattr = setattr,
    .mkdirlike = mkdirlike,
    .mkdirprivate = mkdirprivate,
    .rmdir = removedir,
    .move = move,
    .replace = replace,
    .remove = erase,
    .deletesame = erasesame,
    .recycle = erase,
    .copyfile = copyfile,
    .opentemp = opentemp,
    .opennew = opennew,
    .placenew = placenew,
    .dropnew = dropnew,
    .copylink = copylink,
    .copydata = copydata,
    .setfiletime = setfiletime,
    .truncate = cut,
    .keepperms = keepperms,
    .newperms = newperms,
    .syncfile = syncfile,
    .writes = 0,
    .deletedlead = "(delete test) ",
};

void runfs_forget(void) { forget(); }
