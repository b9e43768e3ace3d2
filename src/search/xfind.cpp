#include "search/xfind.h"

#include <cstring>

#include "base/param.h"
#include "platform/platform.h"
#include "runfs/runfs.h"
#include "search/pathexp.h"
#include "base/out.h"

int xfind_errcode;
int xfind_keepstart;
PlatFileId xfind_startid;
int (*xfind_passover)(const char *dir);
int (*xfind_twindir)(const char *dir, const char *first, const char *second);

static unsigned filesfound;   // files handed out by the last search
static unsigned dirssearched; // subdirectories entered by the last search
static unsigned dirsremoved;  // since the start of the run
static unsigned toolongcount; // since the start of the run
static unsigned unlistcount;  // since the start of the run
static unsigned refusedcount; // since the start of the run
static int firstcall;         // the starting directory is not expanded yet

// What stays the same on every level of one search.
struct Walk {
    const char *pattern;
    unsigned mask;
    int all, recurse, rmdirs;
    XFINDFUNC func;
    void *user;
    PlatFileId startid; // xfind_startid, taken at the start
};

static int walkdir(const char *given, const PlatEntry *seen, const Walk *w);

static const char *shown(const char *s) {
    return s != nullptr ? s : "";
}

// The search engine's location lines pad the line number to four places.
static void traceloc(unsigned line) {
    const char *base = std::strrchr(__FILE__, '/');
    outf("%s:%4u\n", base != nullptr ? base + 1 : __FILE__, line);
}

static int isdots(const char *name) {
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// 1 when a directory of dirlen characters, a separator and name make a
// path of at most MAX_PATHLEN characters.
static int fits(size_t dirlen, const char *name) {
    return dirlen + 1 + std::strlen(name) <= MAX_PATHLEN;
}

// dir, a separator and name into out (PATH_SIZE bytes); fits() said yes.
static void joinpath(char *out, const char *dir, size_t dirlen, const char *name) {
    std::memcpy(out, dir, dirlen);
    out[dirlen] = '\\';
    std::strcpy(out + dirlen + 1, name);
}

// A path the callbacks could not hold in their buffers: the user learns of
// it, and the count lets the run end with a failure status.
static void reporttoolong(const char *dir, const char *name) {
    outf("Error! path too long: %s\\%s\n", dir, name);
    toolongcount++;
}

// 1 when a listing that found nothing could not read its directory. No
// match, or a directory that went away meanwhile, is no news.
static int readfailed(void) {
    unsigned code = plat_lasterror();
    return code != PLAT_ERR_FILE_NOT_FOUND && code != PLAT_ERR_PATH_NOT_FOUND &&
           code != PLAT_ERR_NO_MORE_FILES;
}

// A directory that cannot be read is no empty one: taken for empty, its
// files would be missing from a copy with nothing said. Reported with the
// system's reason, right after the listing that failed.
static void reportunread(const char *dir, size_t dirlen) {
    char text[256];
    plat_errortext(plat_lasterror(), text, sizeof text);
    const char *root = dirlen == 2 && dir[1] == ':' ? "\\" : "";
    outf("Error! directory read failed: %s%s (%s)\n", dir, root, text);
    unlistcount++;
}

// A Linux name may hold a backslash, which no DOS path can spell: a path
// built from it would name another file, so it is skipped, and said so.
// The name is shown with each backslash of its own written as \x5c, as a
// shell's $'...' quoting writes that byte, so that it can be told from the
// separators around it and typed back to find the file.
static void reportbadname(const char *dir, const char *name) {
    char shown[4 * PATH_SIZE];
    size_t n = 0;
    for (int i = 0; name[i] != 0; i++) {
        if (name[i] == '\\' && mbtype(name, i) == 0) {
            std::memcpy(shown + n, "\\x5c", 4);
            n += 4;
        } else {
            shown[n++] = name[i];
        }
    }
    shown[n] = 0;
    outf("Error! backslash in name: %s\\%s\n", dir, shown);
    unlistcount++;
}

// A link to a directory may lead out of the tree or back into it; the walk
// neither enters nor removes it, so nothing outside the tree is touched.
static void reportlink(const char *dir, const char *name) {
    if (!opt_quiet)
        outf("skip!(link): <%s\\%s>\n", dir, name);
}

// ---- file phase ---------------------------------------------------------------

// 1 when the entry may go to the callback. A link or a too-long directory
// is reported here only when the walk does not recurse; otherwise the
// subdirectory phase meets it and reports it there, once. A name holding a
// backslash is reported where the walk would have worked on it: a file
// here when the pattern selects it (as it would, were the name spelled), a
// directory in the subdirectory phase, which enters any.
static int handable(const char *dir, size_t dirlen, const PlatEntry *e, int recurse) {
    int isdir = (e->attrib & PLAT_ATTR_DIRECTORY) != 0;
    if ((e->attrib & PLAT_ATTR_BADNAME) != 0) {
        if (!isdir)
            reportbadname(dir, e->name);
        return 0;
    }
    if ((e->attrib & PLAT_ATTR_REPARSE) != 0) {
        if (!recurse)
            reportlink(dir, e->name);
        return 0;
    }
    if (e->toolong || !fits(dirlen, e->name)) {
        if (!isdir || !recurse)
            reporttoolong(dir, e->name);
        return 0;
    }
    return 1;
}

static int handout(const char *dir, const PlatEntry *e, const Walk *w) {
    if (w->func == nullptr)
        return 0;
    XFINDENTRY x;
    x.reserved = 0;
    x.size = e->size;
    x.attrib = e->attrib;
    x.time = e->time;
    x.date = e->date;
    x.mtime = e->mtime;
    std::memcpy(x.name, e->name, sizeof x.name);
    x.name[sizeof x.name - 1] = 0;
    int r = w->func(dir, x, w->user);
    if (r != 0 && xfind_trace >= 2) {
        outf("func_result = %d\n", r);
        outf("func_result & XFIND_SUBDIR_SKIP = %d\n", r & XFIND_SUBDIR_SKIP);
    }
    return r;
}

// ---- the listing ----------------------------------------------------------------
//
// A walk that recurses lists each directory once: one listing of all its
// names serves the file phase, which picks out what the pattern and the
// mask admit, and the subdirectory phase, which starts it over (the
// platform reads the directory again only when the file phase changed it,
// as a subdirectory renamed to another case or a trash directory made at
// a root). A plain name is looked up on its own, as before.

// One directory's listing of every name.
struct Listing {
    RunFind *find;   // open once listed; null when nothing was listed
    int done;       // the listing was made, or failed
    int unread;     // the directory could not be read (reported)
    PlatEntry e;    // the entry it is at
};

// "*" is one character shorter than "*.*" and lists the same names: it
// reaches the subdirectories of a directory of 258 characters. Null when
// neither fits.
static const char *everyname(size_t dirlen) {
    if (fits(dirlen, "*.*"))
        return "*.*";
    return fits(dirlen, "*") ? "*" : nullptr;
}

// Lists every name of dir (its every-name pattern fits), once; 1 when the
// listing has an entry in l->e. A directory that cannot be read is
// reported here, right after the listing that failed.
static int listall(const char *dir, size_t dirlen, const Walk *w, Listing *l) {
    if (l->done)
        return l->find != nullptr;
    char target[PATH_SIZE];
    joinpath(target, dir, dirlen, everyname(dirlen));
    l->done = 1;
    l->find = runfs->findfirst(target, w->mask | PLAT_ATTR_DIRECTORY | PLAT_ATTR_BADNAME, &l->e);
    if (l->find == nullptr && readfailed()) {
        reportunread(dir, dirlen);
        l->unread = 1;
    }
    return l->find != nullptr;
}

// The search attribute mask: an entry without hidden, system and directory
// bits always passes, one with some only when the mask shares one.
static int admits(unsigned attrib, unsigned mask) {
    unsigned special = attrib & (PLAT_ATTR_HIDDEN | PLAT_ATTR_SYSTEM | PLAT_ATTR_DIRECTORY);
    return special == 0 || (special & mask) != 0;
}

static int matchesall(const char *pattern) {
    return std::strcmp(pattern, "*") == 0 || std::strcmp(pattern, "*.*") == 0;
}

// 1 when the listing holds a name cut short: whether the pattern matches
// it cannot be told from what is left, so the pattern is listed on its own.
static int holdscut(Listing *l) {
    int cut = 0;
    do
        cut |= l->e.toolong;
    while (!cut && runfs->findnext(l->find, &l->e));
    runfs->findagain(l->find, &l->e);
    return cut;
}

// ---- file phase ---------------------------------------------------------------

// The entries of dir that the pattern selects, in listing order: from the
// listing of every name when the walk recurses and the pattern holds
// wildcards, else from a listing of the pattern itself. 1 with the first
// in *e and the listing to go on with in *find (closed by the caller when
// it is not l's), 0 when there is none.
static int patternfirst(const char *dir, size_t dirlen, const Walk *w, Listing *l,
                        RunFind **find, PlatEntry *e, int *unread) {
    int shared = w->recurse && iswild(w->pattern) && everyname(dirlen) != nullptr;
    if (shared) {
        if (!listall(dir, dirlen, w, l)) {
            *unread = l->unread;
            return 0;
        }
        shared = matchesall(w->pattern) || !holdscut(l);
    }
    if (shared) {
        *find = l->find;
        *e = l->e;
        return 1;
    }
    char target[PATH_SIZE];
    joinpath(target, dir, dirlen, w->pattern);
    *find = runfs->findfirst(target, w->mask | PLAT_ATTR_BADNAME, e);
    if (*find == nullptr && readfailed()) {
        reportunread(dir, dirlen);
        *unread = 1;
    }
    return *find != nullptr;
}

// Hands out the entries of dir that match the pattern. Returns the last
// callback result; *reported is set when the listing itself was too long,
// *unread when the directory could not be read (reported here).
static int filephase(const char *dir, size_t dirlen, const Walk *w, Listing *l,
                     unsigned *files, int *reported, int *unread) {
    if (w->pattern[0] == 0)
        return 0; // C:\WORK\ asks for the subdirectories only
    if (!fits(dirlen, w->pattern)) {
        reporttoolong(dir, w->pattern);
        *reported = 1;
        return 0;
    }
    PlatEntry e;
    RunFind *find;
    if (!patternfirst(dir, dirlen, w, l, &find, &e, unread))
        return 0;
    int filter = find == l->find;
    int r = 0;
    do {
        if (filter && (!admits(e.attrib, w->mask) ||
                       (!matchesall(w->pattern) && !plat_match(w->pattern, e.name))))
            continue;
        if (!handable(dir, dirlen, &e, w->recurse))
            continue;
        if ((e.attrib & PLAT_ATTR_DIRECTORY) == 0)
            (*files)++;
        r = handout(dir, &e, w);
        if ((r & XFIND_ABORT) != 0) {
            xfind_errcode = ERROR_FUNC;
            break;
        }
        if ((r & XFIND_DIR_SKIP) != 0 || !w->all)
            break;
    } while (runfs->findnext(find, &e));
    if (!filter)
        runfs->findclose(find);
    return r;
}

// ---- subdirectory phase -------------------------------------------------------

// A directory the run leaves out of every walk (the trash that /DEL!
// fills): neither entered nor counted.
static int passedover(const char *dir, size_t dirlen, const char *name) {
    if (xfind_passover == nullptr)
        return 0;
    char sub[PATH_SIZE];
    joinpath(sub, dir, dirlen, name);
    return xfind_passover(sub);
}

static int descend(const char *dir, size_t dirlen, const PlatEntry *e, const Walk *w) {
    char sub[PATH_SIZE];
    joinpath(sub, dir, dirlen, e->name);
    return walkdir(sub, e, w);
}

// A Linux directory may hold SUB and sub side by side (the listing puts
// them next to each other). Where the run would bring both onto one
// destination directory, the second is refused: its files are only
// counted (as found and as refused), nothing below it is acted on or
// removed.
static int twindir(const char *dir, size_t dirlen, const PlatEntry *e, const char *prev,
                   const Walk *w) {
    if (xfind_twindir(dir, prev, e->name) != 1)
        return 0;
    Walk counted = *w;
    counted.func = nullptr;
    counted.rmdirs = 0;
    unsigned before = filesfound;
    int r = descend(dir, dirlen, e, &counted);
    refusedcount += filesfound - before;
    return r < 0 ? -1 : 1;
}

// The listing of every name from its start: made now, or started over.
static int subdirfirst(const char *dir, size_t dirlen, const Walk *w, Listing *l,
                       int *unread) {
    if (!l->done) {
        int r = listall(dir, dirlen, w, l);
        *unread = l->unread;
        return r;
    }
    if (l->find == nullptr)
        return 0;
    if (runfs->findagain(l->find, &l->e))
        return 1;
    if (readfailed()) {
        reportunread(dir, dirlen);
        *unread = 1;
    }
    return 0;
}

// Walks every subdirectory of dir. Returns a negative result when a walk
// below aborted; *unread is set when dir could not be read (reported here).
static int subdirphase(const char *dir, size_t dirlen, const Walk *w, Listing *l,
                       unsigned *subs, int reported, int *unread) {
    const char *every = everyname(dirlen);
    if (every == nullptr) {
        if (!reported)
            reporttoolong(dir, "*");
        return 0;
    }
    if (xfind_trace >= 2)
        outf("target = %s\\%s\n", dir, every);
    if (!subdirfirst(dir, dirlen, w, l, unread))
        return 0;
    PlatEntry &e = l->e;
    int r = 0;
    char prev[PATH_SIZE] = ""; // the directory listed before, for twindir
    do {
        if ((e.attrib & PLAT_ATTR_DIRECTORY) == 0 || isdots(e.name))
            continue;
        if ((e.attrib & PLAT_ATTR_BADNAME) != 0) {
            reportbadname(dir, e.name);
            continue;
        }
        if ((e.attrib & PLAT_ATTR_REPARSE) != 0) {
            reportlink(dir, e.name);
            continue;
        }
        if (e.toolong || !fits(dirlen, e.name)) {
            reporttoolong(dir, e.name);
            continue;
        }
        if (passedover(dir, dirlen, e.name))
            continue;
        (*subs)++;
        int twin = xfind_twindir != nullptr && prev[0] != 0 && samepath(prev, e.name);
        r = twin ? twindir(dir, dirlen, &e, prev, w) : 0;
        if (r == 0)
            r = descend(dir, dirlen, &e, w);
        if (xfind_twindir != nullptr && !twin)
            std::strcpy(prev, e.name);
    } while (r >= 0 && runfs->findnext(l->find, &e));
    return r;
}

// ---- removal ------------------------------------------------------------------

// Removes an emptied directory. Its read-only, hidden and system marks are
// cleared first so that they do not stand in the way, and put back when it
// stays (it still holds something, or is in use).
static void removedir(const char *dir) {
    unsigned attrib;
    if (getattr(dir, &attrib) < 0 || (attrib & PLAT_ATTR_REPARSE) != 0)
        return;
    unsigned marks = attrib & (PLAT_ATTR_READONLY | PLAT_ATTR_HIDDEN | PLAT_ATTR_SYSTEM);
    if (marks != 0)
        runfs->setattr(dir, PLAT_ATTR_NORMAL);
    if (runfs->rmdir(dir) == 0) {
        dirsremoved++;
        return;
    }
    if (marks != 0)
        runfs->setattr(dir, marks);
}

static int isdriveroot(const char *dir, size_t dirlen) {
    return dirlen == 2 && dir[1] == ':';
}

// ---- the walk -----------------------------------------------------------------

// The directory of this level: the starting one expanded to its full path
// once, the deeper ones as the level above built them.
static int takedir(char *dir, const char *given) {
    if (!firstcall)
        return pathcopy(dir, PATH_SIZE, given);
    if (pathexpand(dir, given, 0) < 0) {
        xfind_errcode = ERROR_INVALIDPATH;
        return -1;
    }
    if (xfind_trace >= 2)
        outf("path expand: <%s> to <%s>\n", shown(given), dir);
    firstcall = 0;
    return 0;
}

static int walkheld(char *dir, int start, const Walk *w);

// Another process may swap a directory of the tree for a link to another
// tree between the listing that saw it and the walk into it: the walk
// would then list, delete, move or overwrite files outside the tree. Each
// directory is held while the walk works in it, reached from its parent
// and checked to be the one the listing saw, so that what the walk looked
// at is what it acts on; one that changed is reported and nothing below it
// is touched. The starting directory is the one the user named: when the
// run looked at it, it is held to that look the same way.
static int walkdir(const char *given, const PlatEntry *seen, const Walk *w) {
    char dir[PATH_SIZE];
    int start = firstcall;
    if (takedir(dir, given) < 0)
        return -1;
    PlatEntry named;
    if (start && w->startid.inode != 0) {
        named.id = w->startid;
        seen = &named;
    }
    int held = runfs->holddir(dir, seen) == 0;
    if (!held && seen != nullptr && plat_lasterror() == PLAT_ERR_DIR_CHANGED) {
        outf("Error! directory changed while in use: %s\n", dir);
        unlistcount++;
        return 1;
    }
    int r = walkheld(dir, start, w);
    if (held)
        runfs->releasedir();
    return r;
}

static int walkheld(char *dir, int start, const Walk *w) {
    // A root becomes "C:" here: the form the callbacks receive.
    size_t dirlen = (size_t)delbackslash(dir);
    if (xfind_trace >= 1)
        outf("searching dir: <%s>\n", dir);
    unsigned files = 0, subs = 0;
    int reported = 0, unread = 0;
    Listing l = {};
    int last = filephase(dir, dirlen, w, &l, &files, &reported, &unread);
    if (xfind_errcode != 0) {
        runfs->findclose(l.find);
        return -1;
    }
    // Both phases read the same directory: one that could not be read is
    // reported once, and one whose contents were never seen is not removed.
    if (w->recurse && (last & XFIND_DIR_SKIP) == 0 && !unread) {
        subdirphase(dir, dirlen, w, &l, &subs, reported, &unread);
        runfs->findclose(l.find);
        l.find = nullptr;
        if (w->rmdirs && !unread && !isdriveroot(dir, dirlen) && !(start && xfind_keepstart))
            removedir(dir);
        if (xfind_errcode != 0)
            return -1;
    }
    runfs->findclose(l.find);
    filesfound += files;
    dirssearched += subs;
    return files != 0 ? 0 : 1;
}

int xfind(const char *path, const char *pattern, int mask, int all, int recurse, int rmdirs,
          XFINDFUNC callback, void *user) {
    filesfound = 0;
    dirssearched = 0;
    firstcall = 1;
    Walk w = {pattern, (unsigned)mask, all, recurse, rmdirs, callback, user, xfind_startid};
    xfind_startid = PlatFileId{};
    if (pattern != nullptr && pattern[0] != 0) {
        if (xfind_trace >= 1)
            outf("starting path: <%s> %s\n", shown(path), pattern);
        return walkdir(path, nullptr, &w);
    }
    if (path == nullptr || path[0] == 0) {
        errf("PathName Error!: %s\n", shown(path));
        xfind_errcode = ERROR_NOPATH;
        return -1;
    }
    char dir[PATH_SIZE], name[PATH_SIZE];
    if (splitpath(path, dir, sizeof dir, name, sizeof name) < 0) {
        errf("PathName Get Error!: %s\n", path);
        xfind_errcode = ERROR_INVALIDPATH;
        return -1;
    }
    if (xfind_trace >= 2) {
        traceloc(303); // the number users of the level-2 trace know
        outf("splitpath: [%s] to <%s> [%s]\n", path, dir, name);
    }
    if (xfind_trace >= 1)
        outf("starting path: <%s> %s\n", dir, name);
    w.pattern = name;
    return walkdir(dir, nullptr, &w);
}

void xfinderror(void) {
    const char *name = "UNKNOWN";
    switch (xfind_errcode) {
    case ERROR_FUNC:
        name = "ERROR_FUNC";
        break;
    case ERROR_NOPATH:
        name = "ERROR_NOPATH";
        break;
    case ERROR_INVALIDPATH:
        name = "ERROR_INVALIDPATH";
        break;
    }
    outf("Error! xfind() abort. %s (code = %u)\n", name, (unsigned)xfind_errcode);
}

unsigned xfind_files(void) {
    return filesfound;
}

unsigned xfind_dirs(void) {
    return dirssearched;
}

unsigned xfind_rmdirs(void) {
    return dirsremoved;
}

unsigned xfind_toolong(void) {
    return toolongcount;
}

unsigned xfind_unlisted(void) {
    return unlistcount;
}

unsigned xfind_refused(void) {
    return refusedcount;
}

void xfind_settrace(int level) {
    xfind_trace = level;
}
