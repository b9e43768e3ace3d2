// DOS paths (code page 932) and the native paths they name (external
// bytes): resolution against the drives and their current directories,
// existing components spelled as the disk spells them, and the canonical
// DOS spelling of a native path.
#include "platform/posix/dircache.h"
#include "platform/posix/encoding.h"
#include "platform/posix/native.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>

namespace {

// A full DOS path is at most 259 characters; its components cannot outnumber
// the bytes of the widest text we resolve.
enum { MAX_COMPS = NATIVE_PATH_SIZE / 2 + 1, FULL_MAX = PLAT_PATH_SIZE - 2 };

int islead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
int issep(char c) { return c == '\\' || c == '/'; }
int isletter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
int upper(char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }
int isdots(const char *s) { return s[0] == '.' && (s[1] == '\0' || (s[1] == '.' && s[2] == '\0')); }

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

int native_as_dos(const char *path, int coretext, char *out, size_t size);

int pick_base(const char *path, Base *b) {
    if (path == nullptr || path[0] == '\0') {
        plat_setlasterror(PLAT_ERR_INVALID_NAME);
        return -1;
    }
    int curdir_toolong;
    const char *curdir = cur_dir(&curdir_toolong);
    int curletter = cur_letter();
    b->cur = "";
    b->rest = path;
    int letter = curletter;
    if (isletter(path[0]) && path[1] == ':') {
        letter = upper(path[0]);
        b->rest = path + 2;
        if (!issep(path[2]) && letter == curletter)
            b->cur = curdir;
    } else if (issep(path[0])) {
        if (issep(path[1])) { // a network path: the share as mounted here
            // Taken from "/" as a native path is, so that the directory
            // where it is mounted is spelled by the drive that holds it.
            static char share[NATIVE_PATH_SIZE];
            char native[NATIVE_PATH_SIZE];
            if (share_dir(path, native, sizeof native, &b->rest) != 0 ||
                native_as_dos(native, 0, share, sizeof share) != 0)
                return -1;
            b->root = "/";
            b->cur = share;
            return 0;
        }
    } else {
        b->cur = curdir;
    }
    const char *root = drive_dir(letter);
    if (root == nullptr) {
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
        return -1;
    }
    if (b->cur == curdir && curdir_toolong) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    b->root = root;
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
    int r = *missing || is_wild(comp, std::strlen(comp)) ? 0
                                                          : lookup_name(dir, name, found, sizeof found);
    // A directory below a held one that is no longer what was seen there:
    // the path is not to be followed any further, by name or otherwise.
    if (r < 0 && errno == ESTALE) {
        set_errno_error(ESTALE);
        return -1;
    }
    // A directory closed to us hides whether the name is in it: taken for
    // missing (and remembered so), it would say that a reference holds no
    // such file, and a delete would go ahead on that word.
    if (r < 0 && (errno == EACCES || errno == EPERM)) {
        set_errno_error(errno);
        return -1;
    }
    if (r != 1)
        *missing = 1;
    else if (std::strlen(found) < size)
        std::strcpy(name, found);
    return 0;
}

// The native spelling of the first `count` components of r below root:
// those that exist as the disk spells them, the rest (from the first
// missing one, or one holding a wildcard) as typed; *missing tells that one
// was missing. The length, or -1 with the last error set.
int spell_native(const char *root, const Resolved *r, int count, char *out, size_t size,
                 int *missing) {
    size_t len = 0;
    *missing = 0;
    out[0] = '\0';
    if (append(out, size, &len, root) != 0)
        goto toolong;
    for (int i = 0; i < count; i++) {
        char name[NATIVE_PATH_SIZE];
        if (native_comp(out, r->text + r->start[i], missing, name, sizeof name) != 0)
            return -1;
        if ((len > 1 && append(out, size, &len, "/") != 0) || append(out, size, &len, name) != 0)
            goto toolong;
    }
    return (int)len;
toolong:
    plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
    return -1;
}

int to_native(const char *root, const Resolved *r, char *out, size_t size) {
    int missing;
    return spell_native(root, r, r->n, out, size, &missing);
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
// like any other path. One the backend found is in the external encoding;
// one the core hands over (typed after --) is code page 932 already, and
// converting it again would turn every character beyond ASCII into others.
int native_as_dos(const char *path, int coretext, char *out, size_t size) {
    size_t len = std::strlen(path);
    int n = -1;
    if (!coretext)
        n = enc_to_core(path, len, out, size);
    else if (len < size)
        n = (int)len;
    if (n < 0) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    if (coretext)
        std::memcpy(out, path, len + 1);
    return 0;
}

// ---- directories resolved before ----------------------------------------------
//
// A walk names the same few directories with every file it handles. The
// DOS text of a path up to its last separator is kept here with the native
// directory it names and, once met, its cached directory, so that a path
// costs the look-up of its final name in that directory, not a look-up per
// component. The last few kept are tried first by their text alone, with
// no hash: a walk's source and destination are among them. The native
// path holds while the cache has forgotten no directory by its path
// (dir_generation) and, for one that was missing, made none
// (dir_makes); the cached directory while the cache has dropped or
// replaced none (dir_epoch).

enum { MEMO_SLOTS = 256, RECENT = 4 };

struct DirMemo {
    size_t len; // of text; 0 unused
    char text[PLAT_PATH_SIZE];
    int missing; // the directory does not exist
    unsigned long forgets, makes;
    std::string native;
    Dir *dir; // the cached directory, while epoch holds
    unsigned long epoch;
};
DirMemo memo[MEMO_SLOTS];
int recent[RECENT] = {-1, -1, -1, -1}; // memo slots, the last kept last
int recentnext;

DirMemo *memo_slot(const char *text, size_t len) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < len; i++)
        h = (h ^ (unsigned char)text[i]) * 16777619u;
    return &memo[h % MEMO_SLOTS];
}

int memo_holds(const DirMemo *m, const char *text, size_t len) {
    return m->len == len && std::memcmp(m->text, text, len) == 0 &&
           m->forgets == dir_generation() && (!m->missing || m->makes == dir_makes());
}

void memo_put(DirMemo *m, const char *text, size_t len, int missing, const char *native) {
    m->len = len;
    std::memcpy(m->text, text, len);
    m->missing = missing;
    m->forgets = dir_generation();
    m->makes = dir_makes();
    m->native = native;
    m->dir = nullptr;
}

// The cached directory of a kept one, while it holds.
Dir *memo_dir(const DirMemo *m) {
    return m->dir != nullptr && m->epoch == dir_epoch() ? m->dir : nullptr;
}

// Keeps the cached directory with the memo, and the memo among the last.
void memo_keep(DirMemo *m, Dir *d) {
    if (d == nullptr)
        return;
    m->dir = d;
    m->epoch = dir_epoch();
    int slot = (int)(m - memo);
    for (int r : recent)
        if (r == slot)
            return;
    recent[recentnext] = slot;
    recentnext = (recentnext + 1) % RECENT;
}

// The memo among the last kept whose text is path's directory part, with
// path's final name in *final; null when none is.
DirMemo *memo_recent(const char *path, const char **final) {
    const char *sep = std::strrchr(path, '\\');
    if (sep == nullptr || sep[1] == '\0')
        return nullptr;
    size_t cut = (size_t)(sep - path) + 1;
    for (int r : recent) {
        DirMemo *m = r >= 0 ? &memo[r] : nullptr;
        if (m == nullptr || m->len != cut || memo_dir(m) == nullptr ||
            std::memcmp(m->text, path, cut) != 0 || !memo_holds(m, path, cut))
            continue;
        // The same bytes up to a separator the slower way found: the cut
        // is a real separator, never the trail byte of a character.
        *final = sep + 1;
        if (std::strchr(*final, '/') != nullptr || isdots(*final))
            return nullptr;
        return m;
    }
    return nullptr;
}

// The offset of the final component of a DOS path: after its last
// separator (a trail byte 0x5C is none), 0 when it has none.
size_t final_cut(const char *path) {
    const unsigned char *s = (const unsigned char *)path;
    size_t cut = 0;
    for (size_t i = 0; s[i] != '\0'; i++) {
        if (islead(s[i]) && s[i + 1] != '\0')
            i++;
        else if (issep((char)s[i]))
            cut = i + 1;
    }
    return cut;
}


int compose(At *at, const char *dir, const char *name) {
    size_t dl = std::strlen(dir), nl = std::strlen(name);
    int slash = !(dl == 1 && dir[0] == '/');
    if (dl + slash + nl >= sizeof at->native) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    std::memcpy(at->native, dir, dl);
    if (slash)
        at->native[dl] = '/';
    at->dirlen = dl + slash;
    std::memcpy(at->native + at->dirlen, name, nl + 1);
    return 0;
}

// A native absolute path, taken as it is: its directory when that can be
// opened, and no look-up of its name.
int native_at(const char *path, At *at) {
    size_t n = std::strlen(path);
    if (n >= sizeof at->native) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    std::memcpy(at->native, path, n + 1);
    const char *slash = std::strrchr(at->native, '/');
    at->dirlen = (size_t)(slash - at->native) + 1;
    if (slash[1] == '\0' || isdots(slash + 1))
        return 0; // no final name to act on from its directory
    std::string dir(at->native, slash == at->native ? 1 : (size_t)(slash - at->native));
    at->dir = dir_get(dir.c_str());
    if (at->dir == nullptr && errno == ESTALE) {
        set_errno_error(ESTALE); // see native_comp
        return -1;
    }
    return 0;
}

// 1 when the path of cut + n bytes names a directory known to be missing
// (a longer path was resolved through it): no look-up needed.
int known_missing(const char *path, size_t n) {
    char key[PLAT_PATH_SIZE];
    if (n + 1 >= sizeof key)
        return 0;
    std::memcpy(key, path, n);
    key[n] = '\\';
    const DirMemo *m = memo_slot(key, n + 1);
    return m->missing && memo_holds(m, key, n + 1);
}

// The final component comp (code page 932) in the native directory dir;
// gone: known to be missing already, not looked up.
// The final component comp (code page 932) in the directory d (native path
// dir; null d: none to act from).
int final_in(Dir *d, const char *dir, int missing, const char *comp, unsigned learn, At *at,
             int gone) {
    char ext[NATIVE_PATH_SIZE];
    size_t len = std::strlen(comp);
    int n = enc_from_core(comp, len, ext, sizeof ext, 0);
    if (n < 0) {
        plat_setlasterror(n == ENC_NOROOM ? PLAT_ERR_FILENAME_TOO_LONG : PLAT_ERR_INVALID_NAME);
        return -1;
    }
    int index = -1, looked = d != nullptr && !is_wild(comp, len);
    if (looked && !gone && dir_lookup(d, ext, &index, learn) < 0) {
        index = -1;
        looked = 0;
    }
    if (compose(at, dir, index >= 0 ? dir_name(d, index) : ext) != 0)
        return -1;
    at->dir = d;
    at->index = index;
    at->looked = looked;
    at->nodir = missing;
    return 0;
}

int final_at(const char *dir, int missing, const char *comp, unsigned learn, At *at,
             int gone = 0) {
    Dir *d = missing ? nullptr : dir_get(dir);
    if (d == nullptr && !missing && errno == ESTALE) {
        set_errno_error(ESTALE); // see native_comp
        return -1;
    }
    return final_in(d, dir, missing, comp, learn, at, gone);
}

} // namespace

// The DOS spelling of the directory last asked about: the temporary files
// of a copy are made one after another in the same directory.
std::string spelt_native, spelt_dos;

void memo_forget(void) {
    for (DirMemo &m : memo) {
        m.len = 0;
        m.native.clear();
        m.dir = nullptr;
    }
    spelt_native.clear();
}

int dos_dir_path(const char *native, char *out, size_t size) {
    if (spelt_native.empty() || spelt_native != native) {
        char dos[PLAT_PATH_SIZE];
        if (dos_path(native, dos, sizeof dos) < 0)
            return -1;
        spelt_native = native;
        spelt_dos = dos;
    }
    if (spelt_dos.size() >= size) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    std::memcpy(out, spelt_dos.c_str(), spelt_dos.size() + 1);
    return (int)spelt_dos.size();
}

int resolve_at(const char *path, unsigned learn, At *at) {
    drives_ensure();
    at->dir = nullptr;
    at->index = -1;
    at->looked = 0;
    at->nodir = 0;
    at->dirlen = 0;
    at->native[0] = '\0';
    if (path != nullptr && path[0] == '/')
        return native_at(path, at);
    const char *final;
    if (path != nullptr) {
        if (DirMemo *m = memo_recent(path, &final))
            return final_in(m->dir, m->native.c_str(), 0, final, learn, at, 0);
    }
    size_t cut = path != nullptr ? final_cut(path) : 0;
    final = path != nullptr ? path + cut : "";
    DirMemo *m = nullptr;
    if (cut > 0 && cut < PLAT_PATH_SIZE && final[0] != '\0' && !isdots(final)) {
        m = memo_slot(path, cut);
        if (memo_holds(m, path, cut)) {
            int gone = !m->missing && known_missing(path, std::strlen(path));
            if (Dir *d = memo_dir(m))
                return final_in(d, m->native.c_str(), 0, final, learn, at, gone);
            int r = final_at(m->native.c_str(), m->missing, final, learn, at, gone);
            if (r == 0 && !m->missing)
                memo_keep(m, at->dir);
            return r;
        }
    }
    // Names reach here as listed, and a name may end in a dot on Linux:
    // only full-path expansion (what a user typed) drops trailing dots.
    Base b;
    Resolved r;
    if (pick_base(path, &b) != 0 || resolve(&b, 0, &r) != 0)
        return -1;
    if (r.n == 0) // the drive's own directory
        return native_at(b.root, at);
    char dir[NATIVE_PATH_SIZE];
    int missing;
    if (spell_native(b.root, &r, r.n - 1, dir, sizeof dir, &missing) < 0)
        return -1;
    if (m != nullptr)
        memo_put(m, path, cut, missing, dir);
    int rc = final_at(dir, missing, r.text + r.start[r.n - 1], learn, at);
    if (rc == 0 && !missing && m != nullptr && path[cut - 1] == '\\')
        memo_keep(m, at->dir);
    return rc;
}

// Full-path expansion; `final` drops the trailing dots and spaces of the
// last component, as Win32 does with what a user typed, who typed it in
// the core's code page.
static int full_path(const char *path, int final, char *out, size_t size) {
    drives_ensure();
    char conv[NATIVE_PATH_SIZE];
    Base b = {"/", "", conv};
    if (path != nullptr && path[0] == '/') {
        if (native_as_dos(path, final, conv, sizeof conv) != 0)
            return -1;
    } else if (pick_base(path, &b) != 0) {
        return -1;
    }
    Resolved r;
    char native[NATIVE_PATH_SIZE];
    if (resolve(&b, final, &r) != 0 || to_native(b.root, &r, native, sizeof native) < 0)
        return -1;
    int idx = drive_index(native);
    if (idx < 0) {
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
        return -1;
    }
    // The drive's directory covers that many of the resolved components.
    int first = count_comps(drive_dir('A' + idx)) - count_comps(b.root);
    return spell_dos(idx, &r, first, out, size);
}

int native_path(const char *path, char *out, size_t size) {
    drives_ensure();
    if (path != nullptr && path[0] == '/') {
        if (std::strlen(path) >= size) {
            plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
            return -1;
        }
        std::strcpy(out, path);
        return (int)std::strlen(out);
    }
    At at;
    if (resolve_at(path, 0, &at) != 0)
        return -1;
    size_t n = std::strlen(at.native);
    if (n >= size) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    std::memcpy(out, at.native, n + 1);
    return (int)n;
}

int typed_path(const char *path, char *out, size_t size) {
    memo_forget();
    dir_recheck();
    return full_path(path, 1, out, size);
}

int dos_path(const char *native, char *out, size_t size) { return full_path(native, 0, out, size); }

int at_fd(const At *at, const char **name) {
    if (at->dir != nullptr) {
        int fd = dir_fd(at->dir);
        if (fd >= 0) {
            *name = at_name(at);
            return fd;
        }
    }
    *name = at->native;
    return AT_FDCWD;
}
