// What the picture remembers (picture.h): the directories and names an
// echo run would have changed, and the texts they hold.
#include "runfs/picture.h"

#include <cstdint>
#include <cstring>
#include <memory>

#include "base/pathstr.h"

namespace picture {

namespace {

// ---- the folded text ---------------------------------------------------------------

// Texts are keyed by the platform's one rule of names.
unsigned foldhash(const char *text, size_t n) {
    unsigned long long h = plat_namehash(text, n);
    return (unsigned)(h ^ (h >> 32));
}

int foldcmp(const char *a, size_t alen, const char *b, size_t blen) {
    return plat_namesame(a, alen, b, blen) ? 0 : 1;
}

// ---- the store -------------------------------------------------------------------------

// Blocks of T that never move, handed out one at a time.
template <typename T, size_t N> struct Pool {
    std::vector<std::unique_ptr<T[]>> blocks;
    size_t count = 0;

    T *take() {
        if (count % N == 0)
            blocks.emplace_back(new T[N]);
        T *t = &blocks.back()[count % N];
        count++;
        return t;
    }
};

// Every text the picture keeps, each once, in blocks that never move.
struct Texts {
    std::vector<std::unique_ptr<char[]>> blocks;
    char *at = nullptr;
    size_t left = 0;
};

const size_t TEXTBLOCK = 64 * 1024;

Pool<Node, 512> nodes;
// Bumped whenever a directory enters the table, or the table is emptied.
unsigned long tablegen;
Pool<Dir, 64> dirs;
Texts texts;

const char *keep(const char *s, size_t n) {
    if (n + 1 > texts.left) {
        // A long text has a block of its own; the current one goes on.
        size_t size = n + 1 > TEXTBLOCK / 8 ? n + 1 : TEXTBLOCK;
        texts.blocks.emplace_back(new char[size]);
        char *block = texts.blocks.back().get();
        if (size != TEXTBLOCK) {
            std::memcpy(block, s, n);
            block[n] = 0;
            return block;
        }
        texts.at = block;
        texts.left = size;
    }
    char *p = texts.at;
    std::memcpy(p, s, n);
    p[n] = 0;
    texts.at += n + 1;
    texts.left -= n + 1;
    return p;
}

// ---- the two hash tables ---------------------------------------------------------------

// Open addressing, at most half full: the directories by their folded
// paths, and the first node of each name (any case) by its directory and
// folded name.
std::vector<Dir *> dirslots;
std::vector<Node *> nameslots;
size_t namecount;

size_t spread(unsigned h) { return (size_t)(h ^ (h >> 15)) * 0x9E3779B1u; }

size_t nameindex(const Dir *d, unsigned h) { return spread(h ^ (d->hash * 0x85EBCA6Bu)); }

// The end of the component of path (len bytes) that holds byte i.
size_t componentend(const char *path, size_t len, size_t i) {
    while (i < len && path[i] != '\\')
        i += (size_t)(mbcharlen(path + i) > 1 ? 2 : 1);
    return i;
}

// Two spellings of one path (a, whole, and b[0..len)) name one directory
// to the run, as the file system's look-up finds it ignoring case, unless
// a Linux tree holds both spellings of a component side by side (SUB and
// sub): then each is a directory of its own.
int twinpaths(const char *a, const char *b, size_t len) {
    if (len == WHOLE)
        len = std::strlen(b);
    if (std::strlen(a) != len || std::memcmp(a, b, len) == 0)
        return 0;
    for (size_t i = 0; i < len;) {
        size_t w = mbcharlen(a + i) > 1 ? 2 : 1;
        if (std::memcmp(a + i, b + i, w) == 0) {
            i += w;
            continue;
        }
        size_t end = componentend(a, len, i);
        Joined x, y;
        if (ondisk(x.text(a, end, nullptr)) && ondisk(y.text(b, end, nullptr)))
            return 1;
        i = end;
    }
    return 0;
}

Dir **dirslot(const char *path, size_t len, unsigned h) {
    size_t mask = dirslots.size() - 1;
    for (size_t k = spread(h) & mask;; k = (k + 1) & mask) {
        Dir *d = dirslots[k];
        if (d == nullptr || (d->hash == h && foldcmp(d->path, WHOLE, path, len) == 0 &&
                             !twinpaths(d->path, path, len)))
            return &dirslots[k];
    }
}

Node **nameslot(const Dir *d, const char *name, size_t len, unsigned h) {
    size_t mask = nameslots.size() - 1;
    for (size_t k = nameindex(d, h) & mask;; k = (k + 1) & mask) {
        Node *n = nameslots[k];
        if (n == nullptr || (n->dir == d && n->hash == h && foldcmp(n->name, WHOLE, name, len) == 0))
            return &nameslots[k];
    }
}

void growdirs(void) {
    std::vector<Dir *> old(dirslots.size() < 16 ? 16 : dirslots.size() * 2, nullptr);
    old.swap(dirslots);
    for (Dir *d : old)
        if (d != nullptr)
            *dirslot(d->path, WHOLE, d->hash) = d;
}

void grownames(void) {
    std::vector<Node *> old(nameslots.size() < 64 ? 64 : nameslots.size() * 2, nullptr);
    old.swap(nameslots);
    for (Node *n : old)
        if (n != nullptr)
            *nameslot(n->dir, n->name, WHOLE, n->hash) = n;
}

// The directories asked about last, by their exact text: an echo walk asks
// about its source and its destination directory file after file.
struct Recent {
    char path[PLAT_PATH_SIZE]; // the directory and a separator
    size_t len = WHOLE;        // of the directory; WHOLE: none
    Dir *dir = nullptr;
    int split = 0; // the separator after it ends a character: it was split there
};
Recent recent[4];
size_t recentnext;

void forgetrecent(void) {
    for (Recent &r : recent)
        r.len = WHOLE;
}

void remember(const char *dir, size_t len, Dir *d, int split) {
    if (len + 2 > sizeof recent[0].path)
        return;
    Recent &r = recent[recentnext++ % 4];
    std::memcpy(r.path, dir, len);
    r.path[len] = '\\';
    r.path[len + 1] = 0;
    r.len = len;
    r.dir = d;
    r.split = split;
}

Dir *finddir(const char *dir, size_t len) {
    return dirslots.empty() ? nullptr : *dirslot(dir, len, foldhash(dir, len));
}

Dir *adddir(const char *path, size_t len) {
    if (2 * (dirs.count + 1) > dirslots.size())
        growdirs();
    unsigned h = foldhash(path, len);
    Dir **slot = dirslot(path, len, h);
    Dir *d = dirs.take();
    d->path = keep(path, len);
    d->len = len;
    d->hash = h;
    *slot = d;
    forgetrecent(); // one of them may be this directory, found missing
    tablegen++;
    return d;
}

// Splits path, of n bytes, into p (as splitlast does) and finds its
// directory. A path that begins with a directory split off lately and
// holds no byte 0x5C after it (not even in a double-byte character) has
// its final component there.
int splitat(const char *path, size_t n, Place *p) {
    for (const Recent &r : recent) {
        if (r.len >= n || !r.split || path[r.len] != '\\' || std::memcmp(path, r.path, r.len) != 0)
            continue;
        const char *rest = path + r.len + 1;
        if (rest[0] == 0 || std::memchr(rest, '\\', n - r.len - 1) != nullptr)
            break;
        p->dirlen = r.len;
        p->name = rest;
        p->namelen = n - r.len - 1;
        p->dir = r.dir;
        return 0;
    }
    if (splitlast(path, &p->dirlen, &p->name) != 0)
        return -1;
    p->namelen = n - p->dirlen - 1;
    p->dir = finddir(path, p->dirlen);
    remember(path, p->dirlen, p->dir, 1);
    return 0;
}

// The name's hash, where the picture holds its directory: it will be
// looked for there.
void hashname(Place *p) {
    if (p->dir != nullptr && !p->hashed) {
        p->hash = foldhash(p->name, p->namelen);
        p->hashed = 1;
    }
}

// The paths placed last, as placed: a copy looks at its destination, then
// records it there.
struct Placed {
    char path[PLAT_PATH_SIZE];
    size_t len = WHOLE; // WHOLE: none
    Place at;
    unsigned long gen = 0;
};
Placed placed[2];
size_t placednext;

// The source directory of the copies recorded last: many share it.
const char *lastfrom;
size_t lastfromlen;

} // namespace

int active(void) { return nodes.count > 0; }

int foldeq(const char *a, size_t alen, const char *b, size_t blen) {
    return foldcmp(a, alen, b, blen) == 0;
}

bool before(const char *a, const char *b) { return plat_namecmp(a, b) < 0; }

int inpicture(const char *path) {
    unsigned char c = (unsigned char)path[0];
    int letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    return letter && path[1] == ':' && path[2] == '\\' && path[3] != 0;
}

int splitlast(const char *path, size_t *dirlen, const char **name) {
    const char *sep = mbstrrchr(path, '\\');
    if (sep == nullptr || sep[1] == 0)
        return -1;
    *dirlen = (size_t)(sep - path);
    *name = sep + 1;
    return 0;
}

int plainname(const char *name, size_t len) {
    return len > 0 && name[len - 1] != '.' && std::memchr(name, '*', len) == nullptr &&
           std::memchr(name, '?', len) == nullptr;
}

const char *Joined::text(const char *dir, size_t dirlen, const char *name) {
    size_t namelen = name != nullptr ? std::strlen(name) + 1 : 0;
    char *p = buf;
    if (dirlen + namelen >= sizeof buf) {
        big.resize(dirlen + namelen);
        p = big.data();
    }
    std::memcpy(p, dir, dirlen);
    if (name != nullptr) {
        p[dirlen] = '\\';
        std::memcpy(p + dirlen + 1, name, namelen - 1);
    }
    p[dirlen + namelen] = 0;
    return p;
}

Dir *dirof(const char *dir, size_t len) {
    for (const Recent &r : recent)
        if (r.len == len && std::memcmp(r.path, dir, len) == 0)
            return r.dir;
    Dir *d = finddir(dir, len);
    remember(dir, len, d, 0);
    return d;
}

int place(const char *path, Place *p) {
    size_t n = std::strlen(path);
    for (Placed &m : placed) {
        if (m.len != n || std::memcmp(m.path, path, n) != 0)
            continue;
        *p = m.at;
        p->path = path; // what was placed may be gone: the same text here
        p->name = path + p->dirlen + 1;
        if (m.gen != tablegen) {
            p->dir = finddir(path, p->dirlen);
            hashname(p);
            m.at = *p;
            m.gen = tablegen;
        }
        return 0;
    }
    p->path = path;
    p->hashed = 0;
    if (splitat(path, n, p) != 0)
        return -1;
    hashname(p);
    if (n < sizeof placed[0].path) {
        Placed &m = placed[placednext++ % 2];
        std::memcpy(m.path, path, n);
        m.len = n;
        m.at = *p;
        m.gen = tablegen;
    }
    return 0;
}

Node *group(const Dir *dir, const char *name, size_t len) {
    if (dir == nullptr || nameslots.empty())
        return nullptr;
    return *nameslot(dir, name, len, foldhash(name, len));
}

Node *group(Place *p) {
    if (p->dir == nullptr || nameslots.empty())
        return nullptr;
    if (!p->hashed) {
        p->hash = foldhash(p->name, p->namelen);
        p->hashed = 1;
    }
    return *nameslot(p->dir, p->name, p->namelen, p->hash);
}

Node *findnode(const Dir *dir, const char *name) {
    for (Node *n = group(dir, name, std::strlen(name)); n != nullptr; n = n->twin)
        if (std::strcmp(n->name, name) == 0)
            return n;
    return nullptr;
}

Node *setnode(Place *p, const char *name, int disk) {
    if (p->dir == nullptr)
        p->dir = adddir(p->path, p->dirlen);
    Dir *d = p->dir;
    if (2 * (namecount + 1) > nameslots.size())
        grownames();
    int own = name == p->name;
    size_t len = own ? p->namelen : std::strlen(name);
    unsigned h = own && p->hashed ? p->hash : foldhash(name, len);
    Node **slot = nameslot(d, name, len, h);
    Node *last = nullptr;
    for (Node *n = *slot; n != nullptr; n = n->twin) {
        if (std::strcmp(n->name, name) == 0)
            return n;
        last = n;
    }
    Node *n = nodes.take();
    n->name = keep(name, len);
    n->dir = d;
    n->hash = h;
    if (last != nullptr) {
        last->twin = n;
    } else {
        *slot = n;
        namecount++;
    }
    if (d->last != nullptr)
        d->last->sibling = n;
    else
        d->first = n;
    d->last = n;
    if (disk >= 0) {
        n->ondisk = disk;
    } else {
        Joined path;
        n->ondisk = ondisk(path.text(p->path, p->dirlen, name));
    }
    return n;
}

void setfrom(Node *n, const Place *src) {
    n->fromdir = n->fromname = nullptr;
    if (src == nullptr || src->path[0] == 0)
        return;
    if (src->name == nullptr) {
        n->fromname = keep(src->path, std::strlen(src->path));
        return;
    }
    size_t len = src->dirlen;
    if (lastfrom == nullptr || lastfromlen != len || std::memcmp(lastfrom, src->path, len) != 0) {
        lastfrom = keep(src->path, len);
        lastfromlen = len;
    }
    n->fromdir = lastfrom;
    n->fromname = keep(src->name, src->namelen);
}

void forget(void) {
    nodes = Pool<Node, 512>();
    dirs = Pool<Dir, 64>();
    texts = Texts();
    std::vector<Dir *>().swap(dirslots);
    std::vector<Node *>().swap(nameslots);
    namecount = 0;
    lastfrom = nullptr;
    forgetrecent();
    tablegen++;
    changed(nullptr);
}

void settle(const Node &c) {
    Node &n = const_cast<Node &>(c); // what it shows does not change
    if (n.fromname == nullptr)
        return;
    Joined from;
    const char *path = n.fromdir != nullptr ? from.text(n.fromdir, std::strlen(n.fromdir), n.fromname)
                                            : n.fromname;
    PlatEntry e;
    PlatFind *d = plat_findfirst(path, ANY, &e);
    if (d != nullptr) {
        n.shown.size = n.zero ? 0 : n.shown.size + e.size;
        n.shown.date = e.date;
        n.shown.time = e.time;
        plat_findclose(d);
    }
    n.fromdir = n.fromname = nullptr;
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

void fill(PlatEntry *e, const Node &n) {
    settle(n);
    e->attrib = n.shown.attrib;
    e->size = n.shown.size;
    e->time = n.shown.time;
    e->date = n.shown.date;
    e->mtime = n.shown.mtime;
    e->id = PlatFileId{0, 0}; // unknown: the run would have made it
    e->toolong = 0;
    pathcopy(e->name, sizeof e->name, n.name);
}

int admits(unsigned attrib, unsigned mask) {
    if (mask & PLAT_ATTR_NOMARKS)
        mask |= PLAT_ATTR_HIDDEN | PLAT_ATTR_SYSTEM;
    unsigned special = attrib & (PLAT_ATTR_HIDDEN | PLAT_ATTR_SYSTEM | PLAT_ATTR_DIRECTORY);
    return special == 0 || (special & mask) != 0;
}

} // namespace picture
