// Drive letters on Linux: the map from letters to directories, the current
// drive and directory taken from the working directory, and the translation
// between DOS paths (code page 932) and native ones (external bytes).
#include "platform/posix/encoding.h"
#include "platform/posix/native.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Drive {
    int mapped;
    size_t len;
    char dir[NATIVE_PATH_SIZE]; // no trailing "/", except the root itself
};

Drive drives[26];
int loaded;
int curletter;               // 'A'..'Z', 0 when the working directory is on no drive
char curdir[PLAT_PATH_SIZE]; // below the current drive's root, DOS form
int curdir_toolong;          // the working directory has no DOS form that fits
char workdir[NATIVE_PATH_SIZE]; // the working directory itself, "" when unknown

// A full DOS path is at most 259 characters; its components cannot outnumber
// the bytes of the widest text we resolve.
enum { MAX_COMPS = NATIVE_PATH_SIZE / 2 + 1, FULL_MAX = PLAT_PATH_SIZE - 2 };

int islead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
int issep(char c) { return c == '\\' || c == '/'; }
int isletter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
int upper(char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }

// ---- the drive map ----------------------------------------------------------

// Stores a drive's directory in its resolved form when it exists, so that
// the working directory (which getcwd gives resolved) is found on it.
void map_drive(int letter, const char *dir) {
    Drive *d = &drives[upper((char)letter) - 'A'];
    char real[PATH_MAX];
    const char *use = realpath(dir, real) != nullptr ? real : dir;
    size_t len = std::strlen(use);
    while (len > 1 && use[len - 1] == '/')
        len--;
    if (len >= sizeof d->dir)
        return;
    std::memcpy(d->dir, use, len);
    d->dir[len] = '\0';
    d->len = len;
    d->mapped = 1;
}

// Reads one "L=/dir" entry of MOX32_DRIVES. An entry that is malformed or
// names a relative directory is ignored; a later entry for the same letter
// replaces an earlier one.
void parse_entry(const char *s, size_t n) {
    char dir[NATIVE_PATH_SIZE];
    while (n > 0 && (*s == ' ' || *s == '\t'))
        s++, n--;
    if (n < 3 || !isletter(s[0]))
        return;
    size_t i = 1;
    while (i < n && (s[i] == ' ' || s[i] == '\t'))
        i++;
    if (i >= n || s[i] != '=')
        return;
    i++;
    while (i < n && (s[i] == ' ' || s[i] == '\t'))
        i++;
    if (i >= n || s[i] != '/' || n - i >= sizeof dir)
        return;
    std::memcpy(dir, s + i, n - i);
    dir[n - i] = '\0';
    map_drive(s[0], dir);
}

void parse_map(const char *maptext) {
    const char *s = maptext;
    while (*s != '\0') {
        const char *end = std::strchr(s, ';');
        size_t n = end != nullptr ? (size_t)(end - s) : std::strlen(s);
        parse_entry(s, n);
        s += n;
        if (*s == ';')
            s++;
    }
}

void default_map(void) {
    const char *home = std::getenv("HOME");
    struct stat st;
    char real[PATH_MAX];
    if (home != nullptr && home[0] == '/' && stat(home, &st) == 0 && S_ISDIR(st.st_mode) &&
        realpath(home, real) != nullptr && std::strcmp(real, "/") != 0)
        map_drive('C', real);
    map_drive('Z', "/");
}

// The drive whose directory is the longest prefix of `native` at a component
// boundary (the lowest letter when two share a directory), or -1.
int drive_of(const char *native) {
    int best = -1;
    for (int i = 0; i < 26; i++) {
        const Drive *d = &drives[i];
        if (!d->mapped || (best >= 0 && d->len <= drives[best].len))
            continue;
        if (d->len == 1 && d->dir[0] == '/') {
            if (native[0] == '/')
                best = i;
        } else if (std::strncmp(native, d->dir, d->len) == 0 &&
                   (native[d->len] == '/' || native[d->len] == '\0')) {
            best = i;
        }
    }
    return best;
}

// The native text below a drive's directory, in DOS form; -1 when it does
// not fit.
int dos_rest(const char *rest, char *out, size_t size) {
    while (*rest == '/')
        rest++;
    int n = enc_to_core(rest, std::strlen(rest), out, size);
    if (n < 0)
        return -1;
    for (int i = 0; i < n; i++)
        if (out[i] == '/')
            out[i] = '\\';
    while (n > 0 && out[n - 1] == '\\')
        out[--n] = '\0';
    return n;
}

void load_cwd(void) {
    char *cwd = workdir;
    curletter = 0;
    curdir[0] = '\0';
    curdir_toolong = 0;
    if (getcwd(cwd, sizeof workdir) == nullptr) {
        workdir[0] = '\0';
        return;
    }
    int idx = drive_of(cwd);
    if (idx < 0)
        return;
    curletter = 'A' + idx;
    // "X:\" and the directory must stay below 260 characters.
    int n = dos_rest(cwd + drives[idx].len, curdir, FULL_MAX - 3 + 1);
    if (n < 0) {
        curdir[0] = '\0';
        curdir_toolong = 1;
    }
}

void load(void) {
    std::memset(drives, 0, sizeof drives);
    const char *maptext = std::getenv("MOX32_DRIVES");
    if (maptext != nullptr && maptext[0] != '\0')
        parse_map(maptext);
    else
        default_map();
    load_cwd();
    loaded = 1;
}

void ensure_loaded(void) {
    if (!loaded)
        load();
}

const Drive *drive_letter(int letter) {
    if (!isletter((char)letter))
        return nullptr;
    const Drive *d = &drives[upper((char)letter) - 'A'];
    return d->mapped ? d : nullptr;
}

// ---- resolving DOS paths ------------------------------------------------------

// A DOS path reduced to its components: "." and ".." resolved (never above
// the root), repeated separators gone.
struct Resolved {
    char text[NATIVE_PATH_SIZE]; // components, each terminated
    size_t used;
    int n;
    int start[MAX_COMPS];
    int trailing; // the path ended with a separator
};

// Where a path starts: the native directory its root stands for, and the
// DOS directory it is relative to below that root.
struct Base {
    const char *root;
    const char *cur;
    const char *rest;
};

int is_wild(const char *s, size_t n) {
    for (size_t i = 0; i < n; i++)
        if (s[i] == '*' || s[i] == '?')
            return 1;
    return 0;
}

// Win32 drops trailing dots and spaces from the last component a user
// typed. A wildcard pattern keeps them: "*." means "names without a dot",
// and dropping its dot would widen it to every name.
size_t strip_final(const char *s, size_t n) {
    if ((n == 1 && s[0] == '.') || (n == 2 && s[0] == '.' && s[1] == '.') || is_wild(s, n))
        return n;
    while (n > 0 && (s[n - 1] == '.' || s[n - 1] == ' '))
        n--;
    return n;
}

int push_comp(Resolved *r, const char *s, size_t n) {
    if (n == 0 || (n == 1 && s[0] == '.'))
        return 0;
    if (n == 2 && s[0] == '.' && s[1] == '.') {
        if (r->n > 0)
            r->used = (size_t)r->start[--r->n];
        return 0;
    }
    if (r->n >= MAX_COMPS || r->used + n + 1 > sizeof r->text)
        return -1;
    r->start[r->n++] = (int)r->used;
    std::memcpy(r->text + r->used, s, n);
    r->used += n;
    r->text[r->used++] = '\0';
    return 0;
}

// Adds the components of s. With `final`, the last one loses its trailing
// dots and spaces.
int push_path(Resolved *r, const char *s, int final) {
    const unsigned char *p = (const unsigned char *)s;
    size_t i = 0, start = 0;
    r->trailing = 0;
    for (;;) {
        if (p[i] == '\0' || issep((char)p[i])) {
            size_t n = i - start;
            if (final && p[i] == '\0')
                n = strip_final(s + start, n);
            if (push_comp(r, s + start, n) != 0)
                return -1;
            if (p[i] == '\0')
                break;
            r->trailing = 1;
            start = ++i;
            continue;
        }
        r->trailing = 0;
        i += islead(p[i]) && p[i + 1] != '\0' ? 2 : 1;
    }
    return 0;
}

int resolve(const Base *b, int final, Resolved *r) {
    r->used = 0;
    r->n = 0;
    if (push_path(r, b->cur, 0) != 0 || push_path(r, b->rest, final) != 0) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    return 0;
}

int pick_base(const char *path, Base *b) {
    if (path == nullptr || path[0] == '\0') {
        plat_setlasterror(PLAT_ERR_INVALID_NAME);
        return -1;
    }
    b->cur = "";
    b->rest = path;
    int letter = curletter;
    if (isletter(path[0]) && path[1] == ':') {
        letter = upper(path[0]);
        b->rest = path + 2;
        if (!issep(path[2]) && letter == curletter)
            b->cur = curdir;
    } else if (issep(path[0])) {
        if (issep(path[1])) { // a network path: there are no network drives
            plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
            return -1;
        }
    } else {
        b->cur = curdir;
    }
    const Drive *d = letter != 0 ? drive_letter(letter) : nullptr;
    if (d == nullptr) {
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
        return -1;
    }
    if (b->cur == curdir && curdir_toolong) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    b->root = d->dir;
    return 0;
}

int append(char *out, size_t size, size_t *len, const char *s) {
    size_t n = std::strlen(s);
    if (*len + n >= size)
        return -1;
    std::memcpy(out + *len, s, n + 1);
    *len += n;
    return 0;
}

// Spells one component as the disk does when it exists; once a component is
// missing (or is a wildcard) the rest stay as typed and are not looked up.
int native_comp(const char *dir, const char *comp, int *missing, char *name, size_t size) {
    int n = enc_from_core(comp, std::strlen(comp), name, size, 0);
    if (n < 0) {
        plat_setlasterror(n == ENC_NOROOM ? PLAT_ERR_FILENAME_TOO_LONG : PLAT_ERR_INVALID_NAME);
        return -1;
    }
    char found[NATIVE_PATH_SIZE];
    if (*missing || is_wild(comp, std::strlen(comp)))
        *missing = 1;
    else if (lookup_name(dir, name, found, sizeof found) != 1)
        *missing = 1;
    else if (std::strlen(found) < size)
        std::strcpy(name, found);
    return 0;
}

// ---- directories resolved before ----------------------------------------------
//
// A walk resolves the same few directories for every file it handles. The
// native spelling of a directory whose components all exist is kept here,
// keyed by its DOS text, so that a path costs one look-up for its final
// name instead of one per component. The backend's own changes drop what
// lies below the directory they touch (memo_forget_below); the lookup
// cache still answers for names inside a directory.

enum { MEMO_SLOTS = 64 };

struct DirMemo {
    std::string key, native;
};
DirMemo memo[MEMO_SLOTS];
int memonext;

// The key of the directory part of r: its root and all but the last
// component.
void memo_key(const char *root, const Resolved *r, std::string *key) {
    key->assign(root);
    for (int i = 0; i + 1 < r->n; i++) {
        key->push_back('\\');
        key->append(r->text + r->start[i]);
    }
}

const DirMemo *memo_find(const std::string &key) {
    for (const DirMemo &m : memo)
        if (!m.key.empty() && m.key == key)
            return &m;
    return nullptr;
}

void memo_put(const std::string &key, const char *native) {
    memo[memonext].key = key;
    memo[memonext].native = native;
    memonext = (memonext + 1) % MEMO_SLOTS;
}

int to_native(const char *root, const Resolved *r, char *out, size_t size) {
    size_t len = 0;
    int missing = 0;
    int first = 0;
    std::string key;
    out[0] = '\0';
    if (r->n >= 2) {
        memo_key(root, r, &key);
        if (const DirMemo *m = memo_find(key)) {
            if (m->native.size() >= size)
                goto toolong;
            std::memcpy(out, m->native.c_str(), m->native.size() + 1);
            len = m->native.size();
            first = r->n - 1;
        }
    }
    if (first == 0 && append(out, size, &len, root) != 0)
        goto toolong;
    for (int i = first; i < r->n; i++) {
        if (i == r->n - 1 && i > 0 && first == 0 && !missing)
            memo_put(key, out);
        char name[NATIVE_PATH_SIZE];
        if (native_comp(out, r->text + r->start[i], &missing, name, sizeof name) != 0)
            return -1;
        if ((len > 1 && append(out, size, &len, "/") != 0) || append(out, size, &len, name) != 0)
            goto toolong;
    }
    return (int)len;
toolong:
    plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
    return -1;
}

int count_comps(const char *s) {
    int n = 0;
    for (; *s != '\0'; s++)
        if (*s != '/' && (s[1] == '/' || s[1] == '\0'))
            n++;
    return n;
}

// Writes "X:\" and the components from `first` on, as typed.
int spell_dos(int idx, const Resolved *r, int first, char *out, size_t size) {
    char buf[NATIVE_PATH_SIZE];
    size_t len = 0;
    buf[0] = (char)('A' + idx);
    buf[1] = ':';
    buf[2] = '\\';
    buf[3] = '\0';
    len = 3;
    for (int i = first; i < r->n; i++) {
        if ((i > first && append(buf, sizeof buf, &len, "\\") != 0) ||
            append(buf, sizeof buf, &len, r->text + r->start[i]) != 0)
            goto toolong;
    }
    if (r->trailing && first < r->n && append(buf, sizeof buf, &len, "\\") != 0)
        goto toolong;
    if (len > FULL_MAX || len >= size)
        goto toolong;
    std::memcpy(out, buf, len + 1);
    return (int)len;
toolong:
    plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
    return -1;
}

// A native absolute path as DOS text rooted at "/", so that it resolves
// like any other path.
int native_as_dos(const char *path, char *out, size_t size) {
    int n = enc_to_core(path, std::strlen(path), out, size);
    if (n < 0) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    return 0;
}

} // namespace

// ---- services -----------------------------------------------------------------

void plat_reload(void) {
    load();
    lookup_forget();
    memo_forget_below("/");
}

int native_isroot(const char *native) {
    ensure_loaded();
    for (const Drive &d : drives)
        if (d.mapped && std::strcmp(d.dir, native) == 0)
            return 1;
    return 0;
}

int plat_drivetype(const char *root) {
    ensure_loaded();
    if (root == nullptr) {
        root = "";
        if (curletter == 0)
            return PLAT_DRIVE_NO_ROOT_DIR;
    }
    int letter = root[0] != '\0' ? root[0] : curletter;
    const char *tail = root[0] != '\0' ? root + 1 : "";
    if (*tail == ':')
        tail++;
    if (issep(*tail))
        tail++;
    const Drive *d = *tail == '\0' ? drive_letter(letter) : nullptr;
    struct stat st;
    if (d == nullptr || stat(d->dir, &st) != 0 || !S_ISDIR(st.st_mode))
        return PLAT_DRIVE_NO_ROOT_DIR;
    return PLAT_DRIVE_FIXED;
}

int plat_curdrive(void) {
    ensure_loaded();
    if (curletter == 0)
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
    return curletter;
}

int plat_workdir(char *out, size_t size) {
    ensure_loaded();
    int n = workdir[0] != '\0' ? enc_to_core(workdir, std::strlen(workdir), out, size) : -1;
    if (n < 0) {
        if (size > 0)
            out[0] = '\0';
        plat_setlasterror(workdir[0] != '\0' ? PLAT_ERR_FILENAME_TOO_LONG : PLAT_ERR_PATH_NOT_FOUND);
        return -1;
    }
    return n;
}

int plat_getcurdir(int letter, char *out, size_t size) {
    ensure_loaded();
    if (drive_letter(letter) == nullptr) {
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
        return -1;
    }
    const char *dir = upper((char)letter) == curletter ? curdir : "";
    if ((dir == curdir && curdir_toolong) || std::strlen(dir) >= size) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    std::strcpy(out, dir);
    return 0;
}

// Full-path expansion; `final` drops the trailing dots and spaces of the
// last component, as Win32 does with what a user typed.
static int full_path(const char *path, int final, char *out, size_t size) {
    ensure_loaded();
    char conv[NATIVE_PATH_SIZE];
    Base b = {"/", "", conv};
    if (path != nullptr && path[0] == '/') {
        if (native_as_dos(path, conv, sizeof conv) != 0)
            return -1;
    } else if (pick_base(path, &b) != 0) {
        return -1;
    }
    Resolved r;
    char native[NATIVE_PATH_SIZE];
    if (resolve(&b, final, &r) != 0 || to_native(b.root, &r, native, sizeof native) < 0)
        return -1;
    int idx = drive_of(native);
    if (idx < 0) {
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
        return -1;
    }
    // The drive's directory covers that many of the resolved components.
    int first = count_comps(drives[idx].dir) - count_comps(b.root);
    return spell_dos(idx, &r, first, out, size);
}

int native_path(const char *path, char *out, size_t size) {
    ensure_loaded();
    if (path != nullptr && path[0] == '/') {
        if (std::strlen(path) >= size) {
            plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
            return -1;
        }
        std::strcpy(out, path);
        return (int)std::strlen(out);
    }
    Base b;
    Resolved r;
    // Names reach here as listed, and a name may end in a dot on Linux:
    // only full-path expansion (what a user typed) drops trailing dots.
    if (pick_base(path, &b) != 0 || resolve(&b, 0, &r) != 0)
        return -1;
    return to_native(b.root, &r, out, size);
}

int plat_fullpath(const char *path, char *out, size_t size) { return full_path(path, 1, out, size); }

int dos_path(const char *native, char *out, size_t size) { return full_path(native, 0, out, size); }

void memo_forget_below(const char *dir) {
    size_t n = std::strlen(dir);
    for (DirMemo &m : memo) {
        const std::string &v = m.native;
        if (m.key.empty())
            continue;
        // Everything below dir, or everything at all for the root.
        if ((n == 1 && dir[0] == '/') ||
            (v.size() > n && v.compare(0, n, dir) == 0 && v[n] == '/')) {
            m.key.clear();
            m.native.clear();
        }
    }
}
