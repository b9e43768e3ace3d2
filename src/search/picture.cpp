#include "search/picture.h"

#include <algorithm>
#include <cstring>

#include "base/param.h"
#include "search/pathstr.h"

namespace picture {

std::unordered_map<std::string, std::vector<Node>> nodes;
std::unordered_map<std::string, std::vector<std::string>> dirnames;
unsigned long dirchanges;

int active(void) { return opt_echo == 1 && !nodes.empty(); }

std::string fold(const char *s, size_t n) {
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n;) {
        size_t w = (size_t)mbcharlen(s + i);
        if (w == 0)
            break;
        if (w > n - i)
            w = n - i;
        if (w == 1)
            out.push_back((char)upcase((unsigned char)s[i]));
        else
            out.append(s + i, w);
        i += w;
    }
    return out;
}

std::string fold(const char *s) { return fold(s, std::strlen(s)); }

const std::string &folddir(const std::string &dir) {
    static std::string last, folded;
    if (dir != last || folded.empty()) {
        last = dir;
        folded = fold(dir.c_str(), dir.size());
    }
    return folded;
}

int inpicture(const char *path) {
    unsigned char c = (unsigned char)path[0];
    int letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    return letter && path[1] == ':' && path[2] == '\\' && path[3] != 0;
}

int splitlast(const char *path, std::string *dir, const char **name) {
    const char *sep = mbstrrchr(path, '\\');
    if (sep == nullptr || sep[1] == 0)
        return -1;
    dir->assign(path, (size_t)(sep - path));
    *name = sep + 1;
    return 0;
}

std::string nodekey(const std::string &dirkey, const char *name) {
    return dirkey + "\\" + fold(name);
}

Node *findnode(const std::string &dirkey, const char *name) {
    auto it = nodes.find(nodekey(dirkey, name));
    if (it == nodes.end())
        return nullptr;
    for (Node &n : it->second)
        if (n.name == name)
            return &n;
    return nullptr;
}

void settle(const Node &c) {
    Node &n = const_cast<Node &>(c); // what it shows does not change
    if (n.from.empty())
        return;
    PlatEntry e;
    PlatFind *d = plat_findfirst(n.from.c_str(), ANY, &e);
    if (d != nullptr) {
        n.shown.size = n.zero ? 0 : n.shown.size + e.size;
        n.shown.date = e.date;
        n.shown.time = e.time;
        plat_findclose(d);
    }
    n.from.clear();
}

int ondisk(const char *path) {
    PlatEntry e;
    const char *sep = mbstrrchr(path, '\\');
    const char *name = sep != nullptr ? sep + 1 : path;
    PlatFind *d = plat_findfirst(path, ANY, &e);
    int found = 0;
    for (int more = d != nullptr; more && !found; more = plat_findnext(d, &e))
        found = std::strcmp(e.name, name) == 0;
    plat_findclose(d);
    return found;
}

Shown shownof(const PlatEntry &e) {
    Shown s;
    s.attrib = e.attrib;
    s.size = e.size;
    s.time = e.time;
    s.date = e.date;
    s.mtime = e.mtime;
    return s;
}

namespace {

// The node the component name of path resolves to, letter case ignored
// as the file systems do, an exact spelling first: the one of that
// spelling unless it was taken away; else one of another spelling that was
// made (a directory respelled SUB -> sub is still reached as SUB); else,
// for a spelling the picture did not change, what the disk holds of
// exactly it (a Linux tree may hold x beside X: x taken away leaves X);
// else one taken away. Null when nothing of the picture answers.
const Node *resolve(const std::string &dirkey, const char *name, const std::string &path) {
    auto it = nodes.find(nodekey(dirkey, name));
    if (it == nodes.end() || it->second.empty())
        return nullptr;
    const Node *exact = nullptr, *made = nullptr, *gone = nullptr;
    for (const Node &n : it->second) {
        if (n.name == name)
            exact = &n;
        else if (n.state == MADE && made == nullptr)
            made = &n;
        else if (n.state == GONE && gone == nullptr)
            gone = &n;
    }
    if (exact != nullptr && exact->state == MADE)
        return exact;
    if (exact != nullptr)
        return made != nullptr ? made : exact;
    if (ondisk(path.c_str()))
        return nullptr;
    return made != nullptr ? made : gone;
}

int showsnow(const std::string &dir, int *self) {
    *self = 0;
    size_t len = dir.size();
    while (len > 3 && dir[len - 1] == '\\')
        len--;
    if (len <= 3)
        return SHOWS_DISK;
    const char *s = dir.c_str();
    int result = SHOWS_DISK;
    const std::string folded = fold(s, len);
    std::string parent = folded.substr(0, 2);
    size_t i = 3;
    while (i < len) {
        size_t j = i;
        while (j < len && s[j] != '\\')
            j += std::max(1, mbcharlen(s + j));
        std::string name(s + i, j - i);
        const Node *n = resolve(parent, name.c_str(), std::string(s, j));
        if (n != nullptr) {
            if (n->state == GONE || !n->isdir)
                return SHOWS_NOTHING;
            if (!n->showsdisk)
                result = SHOWS_PICTURE;
            if (j >= len)
                *self = 1;
        }
        parent.assign(folded, 0, j);
        i = j + 1;
    }
    return result;
}

void fill(PlatEntry *e, const Node &n) {
    settle(n);
    e->attrib = n.shown.attrib;
    e->size = n.shown.size;
    e->time = n.shown.time;
    e->date = n.shown.date;
    e->mtime = n.shown.mtime;
    e->toolong = 0;
    pathcopy(e->name, sizeof e->name, n.name.c_str());
}

int admits(unsigned attrib, unsigned mask) {
    if (mask & PLAT_ATTR_NOMARKS)
        mask |= PLAT_ATTR_HIDDEN | PLAT_ATTR_SYSTEM;
    unsigned special = attrib & (PLAT_ATTR_HIDDEN | PLAT_ATTR_SYSTEM | PLAT_ATTR_DIRECTORY);
    return special == 0 || (special & mask) != 0;
}

int isdots(const char *name) {
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// Listing order: letter case ignored, the exact names breaking ties.
bool before(const char *a, const char *b) {
    std::string fa = fold(a), fb = fold(b);
    int c = std::strcmp(fa.c_str(), fb.c_str());
    return c != 0 ? c < 0 : std::strcmp(a, b) < 0;
}

// The disk's listing of f->pattern from its start: made once, then started
// over (the platform gives what it read again: an echo run changes
// nothing). 1 with its first entry, else 0 with the last error set.
int diskfirst(FsFind *f, PlatEntry *e) {
    if (f->disk == nullptr) {
        f->disk = plat_findfirst(f->pattern.c_str(), f->mask, e);
        return f->disk != nullptr;
    }
    return plat_findagain(f->disk, e);
}

// The disk's entries of f, as the picture leaves them, into disk (and its
// "." and ".." into dots). The last error for an empty listing into *err.
void diskentries(FsFind *f, const std::string &dirkey, int literal, const std::string &want,
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
        if (literal && fold(e.name) != want)
            continue;
        const Node *n = findnode(dirkey, e.name);
        if (n != nullptr && n->state == GONE)
            continue;
        if (n != nullptr)
            fill(&e, *n);
        disk.push_back(e);
    }
}

// The names the run made in the directory that the disk does not show:
// for a name, those under its own key; for a pattern, every one the
// directory holds. Sorted in listing order.
std::vector<PlatEntry> madeentries(const FsFind *f, const std::string &dirkey, int literal,
                                   const char *final, const std::string &want, int vis) {
    std::vector<PlatEntry> made;
    auto add = [&](const std::vector<Node> &v) {
        for (const Node &n : v) {
            if (n.state != MADE || (n.ondisk && vis == SHOWS_DISK))
                continue;
            if (!literal && !plat_match(final, n.name.c_str()))
                continue;
            if (!admits(n.shown.attrib, f->mask))
                continue;
            PlatEntry e;
            fill(&e, n);
            made.push_back(e);
        }
    };
    if (literal) {
        auto it = nodes.find(dirkey + "\\" + want);
        if (it != nodes.end())
            add(it->second);
    } else {
        auto names = dirnames.find(dirkey);
        if (names == dirnames.end())
            return made;
        for (const std::string &key : names->second) {
            auto it = nodes.find(key);
            if (it != nodes.end())
                add(it->second);
        }
    }
    std::sort(made.begin(), made.end(),
              [](const PlatEntry &a, const PlatEntry &b) { return before(a.name, b.name); });
    return made;
}

} // namespace

int shows(const std::string &dir, int *self) {
    static std::string lastdir;
    static unsigned long lastchanges = ~0ul;
    static int lastresult, lastself;
    if (lastchanges != dirchanges || dir != lastdir) {
        lastresult = showsnow(dir, &lastself);
        lastdir = dir;
        lastchanges = dirchanges;
    }
    *self = lastself;
    return lastresult;
}

void build(FsFind *f) {
    f->list.clear();
    f->next = 0;
    f->direct = 0;
    std::string dir;
    const char *final;
    if (splitlast(f->pattern.c_str(), &dir, &final) != 0) {
        plat_setlasterror(PLAT_ERR_FILE_NOT_FOUND);
        return;
    }
    const std::string dirkey = folddir(dir);
    int self;
    int vis = shows(dir, &self);
    int literal = f->literal || !iswild(final);
    std::string want = fold(final);
    // A listing of a directory the picture holds nothing of is the disk's.
    if (vis == SHOWS_DISK && !literal && dirnames.find(dirkey) == dirnames.end()) {
        f->direct = 1;
        if (diskfirst(f, &f->first))
            f->list.push_back(f->first);
        return;
    }
    unsigned err = PLAT_ERR_PATH_NOT_FOUND;
    std::vector<PlatEntry> dots, disk, made;
    if (vis == SHOWS_DISK) {
        diskentries(f, dirkey, literal, want, dots, disk, &err);
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
        made = madeentries(f, dirkey, literal, final, want, vis);
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

int lookup(const char *path, PlatEntry *e) {
    FsFind f;
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
        std::string want = fold(name);
        PlatEntry c;
        PlatFind *d = plat_findfirst(path, ANY, &c);
        unsigned err = d == nullptr ? plat_lasterror() : (unsigned)PLAT_ERR_FILE_NOT_FOUND;
        for (int more = d != nullptr; more; more = plat_findnext(d, &c)) {
            if (std::strcmp(c.name, name) == 0)
                f.list.insert(f.list.begin(), c);
            else if (fold(c.name) == want)
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
