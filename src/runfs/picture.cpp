// The looks of an echo run answered from the picture (picture.h) and the
// disk as the picture leaves it.
#include "runfs/picture.h"

#include <algorithm>
#include <cstring>

#include "base/pathstr.h"

namespace picture {

namespace {

// The node the component s[i..j) of the path s resolves to, its directory
// being s[0..parent): letter case ignored as the file systems do, an exact
// spelling first: the one of that spelling unless it was taken away; else
// one of another spelling that was made (a directory respelled SUB -> sub
// is still reached as SUB); else, for a spelling the picture did not
// change, what the disk holds of exactly it (a Linux tree may hold x beside
// X: x taken away leaves X); else one taken away. Null when nothing of the
// picture answers.
const Node *resolve(const char *s, size_t parent, size_t i, size_t j) {
    const Node *first = group(dirof(s, parent), s + i, j - i);
    if (first == nullptr)
        return nullptr;
    const Node *exact = nullptr, *made = nullptr, *gone = nullptr;
    for (const Node *n = first; n != nullptr; n = n->twin) {
        if (std::strlen(n->name) == j - i && std::memcmp(n->name, s + i, j - i) == 0)
            exact = n;
        else if (n->state == MADE && made == nullptr)
            made = n;
        else if (n->state == GONE && gone == nullptr)
            gone = n;
    }
    if (exact != nullptr && exact->state == MADE)
        return exact;
    if (exact != nullptr)
        return made != nullptr ? made : exact;
    Joined path;
    if (ondisk(path.text(s, j, nullptr)))
        return nullptr;
    return made != nullptr ? made : gone;
}

int showsnow(const char *dir, size_t len, int *self) {
    *self = 0;
    while (len > 3 && dir[len - 1] == '\\')
        len--;
    if (len <= 3)
        return SHOWS_DISK;
    // A text of its own, so that no character runs on past its end.
    Joined own;
    const char *s = own.text(dir, len, nullptr);
    int result = SHOWS_DISK;
    size_t parent = 2, i = 3;
    while (i < len) {
        size_t j = i;
        while (j < len && s[j] != '\\')
            j += (size_t)std::max(1, mbcharlen(s + j));
        const Node *n = resolve(s, parent, i, j);
        if (n != nullptr) {
            if (n->state == GONE || !n->isdir)
                return SHOWS_NOTHING;
            if (!n->showsdisk)
                result = SHOWS_PICTURE;
            if (j >= len)
                *self = 1;
        }
        parent = j;
        i = j + 1;
    }
    return result;
}

int isdots(const char *name) {
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// The disk's listing of f->pattern from its start: made once, then started
// over (the platform gives what it read again: an echo run changes
// nothing). 1 with its first entry, else 0 with the last error set.
int diskfirst(RunFind *f, PlatEntry *e) {
    if (f->disk == nullptr) {
        f->disk = plat_findfirst(f->pattern.c_str(), f->mask, e);
        return f->disk != nullptr;
    }
    return plat_findagain(f->disk, e);
}

// The disk's entries of f, as the picture leaves them, into disk (and its
// "." and ".." into dots). The last error for an empty listing into *err.
void diskentries(RunFind *f, const Dir *d, int literal, const char *final,
                 std::vector<PlatEntry> &dots, std::vector<PlatEntry> &disk, unsigned *err) {
    PlatEntry e;
    int got = diskfirst(f, &e);
    *err = !got ? plat_lasterror() : (unsigned)PLAT_ERR_FILE_NOT_FOUND;
    for (int more = got; more; more = plat_findnext(f->disk, &e)) {
        if (isdots(e.name)) {
            dots.push_back(e);
            continue;
        }
        // A name with wildcards of its own lists its look-alikes too.
        if (literal && !foldeq(e.name, WHOLE, final, WHOLE))
            continue;
        const Node *n = findnode(d, e.name);
        if (n != nullptr && n->state == GONE)
            continue;
        if (n != nullptr) {
            // Still the disk's entry, and the disk's directory where it is one.
            PlatFileId id = e.id;
            fill(&e, *n);
            e.id = id;
        }
        disk.push_back(e);
    }
}

// Whether a listing of final with mask, as vis leaves the directory, shows
// n among the names the run made.
int shown(unsigned mask, const Node &n, int literal, const char *final, int vis) {
    if (n.state != MADE || (n.ondisk && vis == SHOWS_DISK))
        return 0;
    if (!literal && !plat_match(final, n.name))
        return 0;
    return admits(n.shown.attrib, mask);
}

// The names the run made in the directory that the disk does not show:
// for a name, those of its own spellings; for a pattern, every one the
// directory holds. Sorted in listing order.
std::vector<PlatEntry> madeentries(const RunFind *f, const Dir *d, int literal, const char *final,
                                   int vis) {
    std::vector<PlatEntry> made;
    const Node *n = literal ? group(d, final, std::strlen(final)) : d != nullptr ? d->first : nullptr;
    for (; n != nullptr; n = literal ? n->twin : n->sibling) {
        if (!shown(f->mask, *n, literal, final, vis))
            continue;
        PlatEntry e;
        fill(&e, *n);
        made.push_back(e);
    }
    std::sort(made.begin(), made.end(),
              [](const PlatEntry &a, const PlatEntry &b) { return before(a.name, b.name); });
    return made;
}

// one() from the disk alone: the platform's own look at the name, which a
// literal listing gives first when it is of exactly that spelling. Where
// there is none, the look's last error may differ from the listing's (2
// where a file stands in the directory's place, say): only a caller that
// sets its own takes that answer.
int diskone(const char *path, const char *final, unsigned mask, int ownerror, PlatEntry *e) {
    int r = plat_findone(path, mask, e);
    if (r == 1)
        return std::strcmp(e->name, final) == 0 ? 1 : -1;
    return r == 0 && ownerror ? 0 : -1;
}

} // namespace

namespace {

// The answers for the directories asked about last: a walk asks about its
// source and its destination directory, and the ones above them, in turn
// (a deep tree a dozen of them).
struct Answer {
    char dir[PLAT_PATH_SIZE];
    size_t len = WHOLE; // WHOLE: none
    int result = 0, self = 0;
};
Answer answers[16];
size_t answernext;

} // namespace

void changed(const char *path) {
    size_t len = path != nullptr ? std::strlen(path) : 0;
    // An answer depends on the names along its path alone: a directory
    // made elsewhere, as a walk makes one for every one it enters, leaves
    // it standing.
    for (Answer &a : answers)
        if (a.len != WHOLE && (path == nullptr || (a.len >= len && foldeq(a.dir, len, path, len))))
            a.len = WHOLE;
}

int shows(const char *dir, size_t len, int *self) {
    for (const Answer &a : answers)
        if (a.len == len && std::memcmp(a.dir, dir, len) == 0) {
            *self = a.self;
            return a.result;
        }
    int result = showsnow(dir, len, self);
    if (len < sizeof answers[0].dir) {
        Answer &a = answers[answernext++ % 16];
        std::memcpy(a.dir, dir, len);
        a.dir[len] = 0;
        a.len = len;
        a.result = result;
        a.self = *self;
    }
    return result;
}

void build(RunFind *f) {
    f->list.clear();
    f->next = 0;
    f->direct = 0;
    const char *pattern = f->pattern.c_str();
    size_t dirlen;
    const char *final;
    if (splitlast(pattern, &dirlen, &final) != 0) {
        plat_setlasterror(PLAT_ERR_FILE_NOT_FOUND);
        return;
    }
    const Dir *d = dirof(pattern, dirlen);
    int self;
    int vis = shows(pattern, dirlen, &self);
    int literal = f->literal || !iswild(final);
    // A listing of a directory the picture holds nothing of is the disk's.
    if (vis == SHOWS_DISK && !literal && d == nullptr) {
        f->direct = 1;
        if (diskfirst(f, &f->first))
            f->list.push_back(f->first);
        return;
    }
    unsigned err = PLAT_ERR_PATH_NOT_FOUND;
    std::vector<PlatEntry> dots, disk, made;
    if (vis == SHOWS_DISK) {
        diskentries(f, d, literal, final, dots, disk, &err);
    } else if (vis == SHOWS_PICTURE) {
        err = self ? (unsigned)PLAT_ERR_FILE_NOT_FOUND : (unsigned)PLAT_ERR_PATH_NOT_FOUND;
        // A directory the run made lists its "." and "..".
        if (self && !literal && plat_match(final, ".") && admits(PLAT_ATTR_DIRECTORY, f->mask)) {
            PlatEntry e = {};
            e.attrib = PLAT_ATTR_DIRECTORY;
            std::strcpy(e.name, ".");
            dots.push_back(e);
            std::strcpy(e.name, "..");
            dots.push_back(e);
        }
    }
    if (vis != SHOWS_NOTHING)
        made = madeentries(f, d, literal, final, vis);
    f->list = dots;
    size_t i = 0, j = 0;
    while (i < disk.size() || j < made.size()) {
        if (j >= made.size() || (i < disk.size() && !before(made[j].name, disk[i].name)))
            f->list.push_back(disk[i++]);
        else
            f->list.push_back(made[j++]);
    }
    // A name looked up on its own: the exact spelling wins, as on the disk.
    if (literal && f->list.size() > 1) {
        for (size_t k = 0; k < f->list.size(); k++) {
            if (std::strcmp(f->list[k].name, final) == 0) {
                std::swap(f->list[0], f->list[k]);
                break;
            }
        }
    }
    if (f->list.empty())
        plat_setlasterror(err);
}

int one(const char *path, unsigned mask, int ownerror, PlatEntry *e) {
    Place at;
    if (place(path, &at) != 0 || !plainname(at.name, at.namelen))
        return -1;
    const char *final = at.name;
    if (!active())
        return diskone(path, final, mask, ownerror, e);
    int self;
    int vis = shows(path, at.dirlen, &self);
    if (vis == SHOWS_NOTHING) {
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
        return 0;
    }
    const Node *first = group(&at);
    if (vis == SHOWS_DISK)
        return first == nullptr ? diskone(path, final, mask, ownerror, e) : -1;
    // Only the picture holds what is there: the exact spelling, else the
    // first of the others in listing order.
    const Node *pick = nullptr;
    for (const Node *n = first; n != nullptr; n = n->twin) {
        if (!shown(mask, *n, 1, final, vis))
            continue;
        if (std::strcmp(n->name, final) == 0) {
            pick = n;
            break;
        }
        if (pick == nullptr || plat_namecmp(n->name, pick->name) < 0)
            pick = n;
    }
    if (pick == nullptr) {
        plat_setlasterror(self ? PLAT_ERR_FILE_NOT_FOUND : PLAT_ERR_PATH_NOT_FOUND);
        return 0;
    }
    fill(e, *pick);
    return 1;
}

int lookup(const char *path, PlatEntry *e) {
    int r = one(path, ANY, 0, e);
    if (r >= 0)
        return r;
    RunFind f;
    f.picture = 1;
    f.literal = 1;
    f.pattern = path;
    f.mask = ANY;
    if (active()) {
        build(&f);
    } else {
        // Nothing recorded yet: the disk alone answers.
        const char *sep = mbstrrchr(path, '\\');
        const char *name = sep != nullptr ? sep + 1 : path;
        PlatEntry c;
        PlatFind *d = plat_findfirst(path, ANY, &c);
        unsigned err = d == nullptr ? plat_lasterror() : (unsigned)PLAT_ERR_FILE_NOT_FOUND;
        for (int more = d != nullptr; more; more = plat_findnext(d, &c)) {
            if (std::strcmp(c.name, name) == 0)
                f.list.insert(f.list.begin(), c);
            else if (foldeq(c.name, WHOLE, name, WHOLE))
                f.list.push_back(c);
        }
        plat_findclose(d);
        if (f.list.empty())
            plat_setlasterror(err);
    }
    plat_findclose(f.disk);
    if (f.list.empty())
        return 0;
    *e = f.list[0];
    return 1;
}

} // namespace picture
