#include "search/pathexp.h"

#include <cstring>

#include "base/out.h"
#include "platform/platform.h"
#include "runfs/runfs.h"

int mkdircount;

// Every kind of entry: read-only, hidden, system and directories. A lookup
// that asks for a name must find it whatever its attributes, and needs no
// hidden or system bit of it.
enum { ANY_ENTRY = 0x17 | PLAT_ATTR_NOMARKS };

static int isletter(unsigned char b) {
    return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
}

// 2 when s begins with a drive letter and a colon, else 0.
static size_t driveprefix(const char *s) {
    return isletter((unsigned char)s[0]) && s[1] == ':' ? 2 : 0;
}

// 1 when the first len bytes of s end in a separator of its own (not the
// second byte of a double-byte character such as 0x95 0x5C).
static int endsinsep(const char *s, size_t len) {
    return len > 0 && s[len - 1] == '\\' && mbtype(s, (int)len - 1) == 0;
}

// ---- splitpath --------------------------------------------------------------

// Copies n bytes of src into a buffer of cap bytes when they fit with a
// terminator. A null buffer asks for nothing and always succeeds.
static int putpart(char *buf, size_t cap, const char *src, size_t n) {
    if (buf == nullptr)
        return 0;
    if (n + 1 > cap)
        return -1;
    std::memcpy(buf, src, n);
    buf[n] = 0;
    return 0;
}

// The directory part and the name of a path whose last separator (or
// drive colon) ends at byte cut: the directory is path[0..cut), the name
// the rest. An empty rest leaves the name empty.
static int splitat(const char *path, size_t cut, char *dir, size_t dircap, char *name,
                   size_t namecap) {
    if (putpart(dir, dircap, path, cut) < 0)
        return -1;
    size_t rest = std::strlen(path + cut);
    if (rest > 0 && putpart(name, namecap, path + cut, rest) < 0)
        return -1;
    return 0;
}

// A path that ends in 表 (0x95 0x5C) ends in a name, not in a separator:
// the end test is multibyte-aware like every other separator search, so
// C:\DIR\表 splits into C:\DIR and 表.
static int splitparts(const char *path, char *dir, size_t dircap, char *name,
                      size_t namecap) {
    size_t len = std::strlen(path);
    if (endsinsep(path, len))
        return putpart(dir, dircap, path, len);
    const char *sep = mbstrrchr(path, '\\');
    if (sep != nullptr)
        return splitat(path, (size_t)(sep - path) + 1, dir, dircap, name, namecap);
    const char *colon = mbstrrchr(path, ':');
    if (colon == path + 1)
        return splitat(path, 2, dir, dircap, name, namecap);
    if (name == nullptr)
        return 0;
    if (len == 0)
        return -1;
    return putpart(name, namecap, path, len);
}

int splitpath(const char *path, char *dir, size_t dircap, char *name, size_t namecap) {
    if (dir != nullptr && dircap > 0)
        dir[0] = 0;
    if (name != nullptr && namecap > 0)
        name[0] = 0;
    if (path == nullptr)
        return -1;
    if (splitparts(path, dir, dircap, name, namecap) < 0)
        return -1;
    if (dir != nullptr && !isroot(dir))
        delbackslash(dir);
    return 0;
}

// ---- lookups ----------------------------------------------------------------

// The stored name of the entry that path names (the first match for a
// wildcard) into name (PATH_SIZE bytes). 0, or -1 when there is none or
// its name did not fit the listing's buffer.
static int storedname(const char *path, char *name) {
    PlatEntry e;
    RunFind *find = runfs->findfirst(path, ANY_ENTRY, &e);
    if (find == nullptr)
        return -1;
    runfs->findclose(find);
    if (e.toolong)
        return -1;
    return pathcopy(name, PATH_SIZE, e.name);
}

int getattr(const char *path, unsigned *attrib) {
    if (runfs->getattr(path, attrib) < 0) {
        *attrib = ~0u;
        return -1;
    }
    return 0;
}

int joinfound(char *out, const char *dir, const char *name) {
    out[0] = 0;
    if (pathcopy(out, PATH_SIZE, dir) < 0)
        return -1;
    // No directory means the name alone, never the root of the drive.
    size_t at = 0;
    if (out[0] != 0) {
        int len = addbackslash(out);
        if (len < 0) {
            out[0] = 0;
            return -1;
        }
        at = (size_t)len;
    }
    if (pathappend(out, PATH_SIZE, name) < 0) {
        out[0] = 0;
        return -1;
    }
    // A plain name takes the stored spelling only of itself: the listing
    // matches "NAME." to NAME as a pattern would, and on Linux those are two
    // different files.
    char found[PATH_SIZE];
    if (storedname(out, found) == 0 && at + std::strlen(found) < PATH_SIZE &&
        (iswild(name) || samepath(found, name)))
        std::strcpy(out + at, found);
    return 0;
}

// ---- longpath ---------------------------------------------------------------

// Output under construction: cap characters of room plus the terminator.
struct Built {
    char *text;
    size_t len, cap;
};

static int put(Built *b, const char *s, size_t n) {
    if (b->len + n > b->cap)
        return -1;
    std::memcpy(b->text + b->len, s, n);
    b->len += n;
    b->text[b->len] = 0;
    return 0;
}

// A separator goes between the output and the next component, except after
// a bare "X:" prefix: C:NAME stays relative to drive C's directory.
static int needsep(const Built *b) {
    if (b->len == 0 || endsinsep(b->text, b->len))
        return 0;
    return !(b->len == 2 && b->text[1] == ':');
}

// The path that names the component s (n bytes) below what is built so
// far. A first component with nothing before it is looked up in the
// current directory.
static int lookpath(char *look, const Built *b, const char *s, size_t n) {
    look[0] = 0;
    const char *head = b->len == 0 ? ".\\" : b->text;
    if (pathappend(look, PATH_SIZE, head) < 0)
        return -1;
    if (b->len > 0 && needsep(b) && pathappend(look, PATH_SIZE, "\\") < 0)
        return -1;
    size_t at = std::strlen(look);
    if (at + n >= PATH_SIZE)
        return -1;
    std::memcpy(look + at, s, n);
    look[at + n] = 0;
    return 0;
}

static int haswild(const char *s, size_t n) {
    return std::memchr(s, '*', n) != nullptr || std::memchr(s, '?', n) != nullptr;
}

// Appends the components from p on, each respelled as stored. -1 when the
// output would pass its capacity.
static int putcomponents(Built *b, const char *p) {
    char look[PATH_SIZE], found[PATH_SIZE];
    while (*p != 0) {
        const char *sep = mbstrchr(p, '\\');
        size_t n = sep != nullptr ? (size_t)(sep - p) : std::strlen(p);
        int last = sep == nullptr || sep[1] == 0;
        if (last && haswild(p, n)) {
            // A pattern is never looked up: it would turn into one name.
            if (needsep(b) && put(b, "\\", 1) < 0)
                return -1;
            size_t at = b->len;
            if (put(b, p, n) < 0)
                return -1;
            mbstrupr(b->text + at);
            return 0;
        }
        int ok = n > 0 && lookpath(look, b, p, n) == 0 && storedname(look, found) == 0;
        if (needsep(b) && put(b, "\\", 1) < 0)
            return -1;
        if (!ok)
            return put(b, p, std::strlen(p));
        if (put(b, found, std::strlen(found)) < 0)
            return -1;
        if (last)
            return 0;
        p = sep + 1;
    }
    return 0;
}

// Appends the components of in from p on to what b holds: its length, or
// in itself (inlen bytes) when the result would not fit.
static int spellrest(Built *b, const char *in, size_t inlen, const char *p) {
    if (putcomponents(b, p) < 0) {
        std::memcpy(b->text, in, inlen + 1);
        return (int)inlen;
    }
    return (int)b->len;
}

int longpath(char *out, size_t cap, const char *in) {
    out[0] = 0;
    if (in == nullptr || in[0] == 0)
        return -1;
    size_t inlen = std::strlen(in);
    if (inlen > cap)
        return -1;
    Built b = {out, 0, cap};
    const char *p = in;
    if (driveprefix(in) != 0) {
        char prefix[3] = {(char)upcase(in[0]), ':', '\\'};
        size_t n = in[2] == '\\' ? 3 : 2;
        if (put(&b, prefix, n) < 0)
            return -1;
        p += n;
    }
    return spellrest(&b, in, inlen, p);
}

int longpathfrom(char *out, size_t cap, const char *in, size_t known) {
    size_t inlen = std::strlen(in);
    if (inlen > cap || known > inlen || (known < inlen && in[known] != '\\'))
        return -1;
    Built b = {out, known, cap};
    out[known] = 0;
    const char *p = in + known;
    if (*p == '\\')
        p++;
    return spellrest(&b, in, inlen, p);
}

size_t sharedcomponents(const char *a, const char *b) {
    size_t shared = 0, i = 0;
    for (;;) {
        if (a[i] == 0 || b[i] == 0) {
            if ((a[i] == 0 && (b[i] == 0 || b[i] == '\\')) || (b[i] == 0 && a[i] == '\\'))
                shared = i;
            return shared;
        }
        if (a[i] == '\\' && b[i] == '\\')
            shared = i;
        size_t n = (size_t)mbcharlen(a + i);
        if (n == 0 || std::memcmp(a + i, b + i, n) != 0)
            return shared;
        i += n;
    }
}

// ---- expansion --------------------------------------------------------------

int curdirpath(char *out, int drive) {
    out[0] = 0;
    int letter = drive == 0 ? runfs->curdrive() : (drive >= 1 && drive <= 26 ? 'A' + drive - 1 : 0);
    if (letter == 0)
        return -1;
    char dir[257];
    if (runfs->getcurdir(letter, dir, sizeof dir) < 0)
        return -1;
    char root[4] = {(char)letter, ':', '\\', 0};
    if (pathcopy(out, PATH_SIZE, root) < 0 || pathappend(out, PATH_SIZE, dir) < 0) {
        out[0] = 0;
        return -1;
    }
    return 0;
}

// 1 when the drive of a full path has a root that exists.
static int driveready(const char *full) {
    if (driveprefix(full) == 0)
        return 1;
    char root[4] = {full[0], ':', '\\', 0};
    int type = runfs->drivetype(root);
    return type != PLAT_DRIVE_UNKNOWN && type != PLAT_DRIVE_NO_ROOT_DIR;
}

// A path without a drive letter lies on the current drive. When the
// working directory is on no drive there is none, and the caller's own
// "expand failed" would leave the user guessing why: say so, with the
// directory itself, since it has no DOS spelling.
static void reportnodrive(const char *in) {
    if (in != nullptr && (driveprefix(in) != 0 || in[0] == '/'))
        return;
    if (runfs->curdrive() != 0)
        return;
    char dir[PLAT_NATIVE_SIZE];
    if (runfs->workdir(dir, sizeof dir) < 0)
        std::strcpy(dir, "?");
    outf("Error! current directory is on no drive: %s\n", dir);
}

// Each of these would be read as another name than the one given: a
// backslash splits a POSIX name in two, and the DOS rule drops a final dot
// or space.
int nativeexpand(char *out, const char *in, const char *what) {
    int r = runfs->nativepath(in, out, PATH_SIZE);
    if (r >= 0)
        return 0;
    if (r == PLAT_NATIVE_BACKSLASH)
        outf("Error! backslash in name: %s\n", in);
    else if (r == PLAT_NATIVE_ENDDOT)
        outf("Error! name ends in a dot: %s\n", in);
    else if (r == PLAT_NATIVE_ENDSPACE)
        outf("Error! name ends in a space: %s\n", in);
    else if (plat_lasterror() == PLAT_ERR_FILENAME_TOO_LONG)
        outf("Error! path too long: %s\n", in);
    else
        outf("Error! %s is on no drive: %s\n", what, in);
    return -1;
}

int pathexpand(char *out, const char *in, int lfn) {
    (void)lfn;
    if (in == nullptr || in[0] == 0) {
        if (curdirpath(out, 0) == 0)
            return 0;
        reportnodrive(in);
        return -1;
    }
    out[0] = 0;
    char full[PATH_SIZE];
    int n = runfs->fullpath(in, full, sizeof full);
    if (n < 0) {
        reportnodrive(in);
        return -1;
    }
    if (n > MAX_PATHLEN - 1 || !driveready(full))
        return -1;
    if (isroot(full)) {
        mbstrupr(full);
        return pathcopy(out, PATH_SIZE, full);
    }
    delbackslash(full);
    char work[PATH_SIZE];
    if (longpath(work, MAX_PATHLEN, full) < 0)
        return -1;
    return pathcopy(out, PATH_SIZE, work);
}

// ---- names the user typed ---------------------------------------------------

// The entry of dir (dirlen bytes, spelled as stored) other than stored
// that the typed name (n bytes) also names ignoring case, into other
// (PATH_SIZE bytes). 1 when there is one.
static int othertwin(const char *dir, size_t dirlen, const char *typed, size_t n,
                     const char *stored, char *other) {
    char name[PATH_SIZE], pattern[PATH_SIZE];
    if (n >= sizeof name || dirlen + 2 >= sizeof pattern)
        return 0;
    std::memcpy(name, typed, n);
    name[n] = 0;
    std::memcpy(pattern, dir, dirlen);
    std::strcpy(pattern + dirlen, "\\*");
    PlatEntry e;
    RunFind *find = runfs->findfirst(pattern, ANY_ENTRY, &e);
    int found = 0;
    for (int more = find != nullptr; more && !found; more = runfs->findnext(find, &e))
        found = !e.toolong && std::strcmp(e.name, stored) != 0 && samepath(e.name, name);
    runfs->findclose(find);
    return found && pathcopy(other, PATH_SIZE, e.name) == 0;
}

// Goes through the components of the typed full path and of out, its
// expansion, side by side. A component spelled as typed either exists
// exactly or is missing, and then so is all after it: upper-cased, as a
// typed source always was shown. One respelled was found ignoring case,
// and may have been one of several.
static int checktyped(char *out, const char *full, char *first, char *second) {
    if (driveprefix(out) == 0 || out[2] != '\\' || driveprefix(full) == 0 || full[2] != '\\')
        return 0; // a network path is never respelled
    const char *tp = full + 3;
    char *sp = out + 3;
    while (*sp != 0 && *tp != 0) {
        const char *tsep = mbstrchr(tp, '\\');
        char *ssep = mbstrchr(sp, '\\');
        size_t tn = tsep != nullptr ? (size_t)(tsep - tp) : std::strlen(tp);
        size_t sn = ssep != nullptr ? (size_t)(ssep - sp) : std::strlen(sp);
        char save = sp[sn];
        sp[sn] = 0;
        unsigned attrib;
        if (tn == sn && std::memcmp(tp, sp, sn) == 0) {
            if (getattr(out, &attrib) != 0) {
                sp[sn] = save;
                mbstrupr(sp);
                return 0;
            }
        } else if (!haswild(tp, tn) &&
                   othertwin(out, (size_t)(sp - out) - 1, tp, tn, sp, second)) {
            // Both as full paths: the directory, as stored, before each.
            char other[PATH_SIZE];
            std::strcpy(other, second);
            size_t at = (size_t)(sp - out);
            int r = pathcopy(first, PATH_SIZE, out) == 0 && pathcopy(second, PATH_SIZE, out) == 0;
            second[at] = 0;
            r = r && pathappend(second, PATH_SIZE, other) == 0;
            sp[sn] = save;
            return r;
        }
        sp[sn] = save;
        if (tsep == nullptr || ssep == nullptr)
            break;
        tp = tsep + 1;
        sp = ssep + 1;
    }
    return 0;
}

int expandtyped(char *out, const char *in, char *first, char *second) {
    if (pathexpand(out, in, 0) != 0)
        return -1;
    char full[PATH_SIZE];
    if (in == nullptr || in[0] == 0 || isroot(out) || runfs->fullpath(in, full, sizeof full) < 0)
        return 0;
    delbackslash(full);
    return checktyped(out, full, first, second);
}

// ---- directories ------------------------------------------------------------

// Offset of the first component mkdirs may have to create: after X:\, or
// after the server of \\server\share; -1 when there is none (a bare root).
static int firstmade(const char *path) {
    if (driveprefix(path) != 0 && path[2] == '\\')
        return path[3] != 0 ? 3 : -1;
    if (path[0] == '\\' && path[1] == '\\') {
        const char *sep = mbstrchr(path + 2, '\\');
        return sep != nullptr && sep[1] != 0 ? (int)(sep - path) + 1 : -1;
    }
    return path[0] != 0 ? 0 : -1;
}

static int isdirectory(const char *work) {
    unsigned attrib;
    return getattr(work, &attrib) == 0 && (attrib & PLAT_ATTR_DIRECTORY) != 0;
}

// Makes the directory work names, found missing, like model when there is
// one. 0, or -1. A directory that another process made between the look
// and the make is what was wanted, not a failure.
static int makemissing(const char *work, const char *model) {
    if (runfs->mkdirlike(work, model) < 0)
        return plat_lasterror() == PLAT_ERR_ALREADY_EXISTS && isdirectory(work) ? 0 : -1;
    mkdircount++;
    return 0;
}

int mkdirs(const char *path) { return mkdirslike(path, nullptr); }

int mkdirslike(const char *path, const char *model) {
    mkdircount = 0;
    char work[PATH_SIZE];
    if (path == nullptr || pathcopy(work, sizeof work, path) < 0)
        return -1;
    int at = firstmade(work);
    if (at < 0)
        return -1;
    // Where each component ends. A walk asks for one directory below one
    // that exists, so the look goes up from the deepest to the first that
    // is there: one or two looks, not one per component.
    size_t ends[PATH_SIZE / 2];
    size_t n = 0;
    for (char *p = work + at; *p != 0;) {
        char *sep = mbstrchr(p, '\\');
        if (sep != p) // an empty component (C:\A\\B) is no directory
            ends[n++] = sep != nullptr ? (size_t)(sep - work) : std::strlen(work);
        if (sep == nullptr)
            break;
        p = sep + 1;
    }
    size_t have = n; // components [0, have) exist as directories
    while (have > 0) {
        char keep = work[ends[have - 1]];
        work[ends[have - 1]] = 0;
        int there = isdirectory(work);
        work[ends[have - 1]] = keep;
        if (there)
            break;
        have--;
    }
    for (size_t k = have; k < n; k++) {
        char keep = work[ends[k]];
        work[ends[k]] = 0;
        int r = makemissing(work, k + 1 == n ? model : nullptr);
        work[ends[k]] = keep;
        if (r < 0)
            return r;
    }
    return 0;
}

// ---- drives -----------------------------------------------------------------

static int driveletter(const char *p) {
    return driveprefix(p) != 0 ? (char)upcase(p[0]) : 0;
}

int samedrive(const char *p, const char *q) {
    int a = driveletter(p), b = driveletter(q);
    if (a == 0 && b == 0)
        return 1;
    if (a != 0 && b != 0)
        return a == b;
    return (a != 0 ? a : b) == runfs->curdrive();
}

int pathtaken(const char *path) {
    PlatEntry entry;
    RunFind *find = runfs->findfirst(path, 0x37 | PLAT_ATTR_NOMARKS, &entry);
    if (find == nullptr)
        return 0;
    runfs->findclose(find);
    return 1;
}
