// The path strings and path expansion on any text: the input, cut at its
// first NUL, as a path in code page 932 (for expansion, from a sandbox
// directory mapped as drive C).
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_util.h"
#include "search/pathexp.h"
#include "base/pathstr.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::quiet();
    fuzz::sandbox({"DIR/", "DIR/Sub/", "DIR/Sub/File.TXT", "DIR/\xe8\xa1\xa8/", "A.TXT"});
    return 0;
}

static void check(bool ok) {
    if (!ok)
        std::abort();
}

// Walking by characters ends exactly at the terminator, and a case change
// leaves every byte's kind as it was.
static void characters(const char *s) {
    size_t n = 0, len = std::strlen(s);
    while (s[n] != 0) {
        int step = mbcharlen(s + n);
        check(step >= 1 && step <= 4 && mbcharwidth(s + n) >= 1);
        n += (size_t)step;
    }
    check(n == len);
    char up[PATH_SIZE], low[PATH_SIZE];
    std::strcpy(up, s);
    std::strcpy(low, s);
    mbstrupr(up);
    mbstrlwr(low);
    for (size_t i = 0; i < len; i++)
        check(mbtype(up, (int)i) == mbtype(s, (int)i) && mbtype(low, (int)i) == mbtype(s, (int)i));
    check(samepath(s, up) && samepath(low, up) && samepath(s, s));
}

// A separator found is one of its own, never the second byte of a
// double-byte character.
static void searches(const char *s) {
    const char *f = mbstrchr(s, '\\'), *l = mbstrrchr(s, '\\');
    check((f == nullptr) == (l == nullptr));
    if (f != nullptr)
        check(mbtype(s, (int)(f - s)) == 0 && mbtype(s, (int)(l - s)) == 0 && f <= l);
    isroot(s);
    iswild(s);
}

static void separators(const char *s) {
    char buf[PATH_SIZE];
    std::strcpy(buf, s);
    int added = addbackslash(buf);
    check(added < 0 || (size_t)added == std::strlen(buf));
    int left = delbackslash(buf);
    check((size_t)left == std::strlen(buf));
    char copy[PATH_SIZE] = "";
    check(pathcopy(copy, sizeof copy, s) == 0 && pathappend(copy, sizeof copy, s) <= 0);
    strcopyn(copy, s, std::strlen(s) / 2);
}

// A native path ("/...") would send the lookups through the machine's own
// trees; only DOS paths, which stay on the sandbox's drive, go there.
static void expansion(const char *s) {
    char dir[PATH_SIZE], name[PATH_SIZE], out[PATH_SIZE];
    if (splitpath(s, dir, sizeof dir, name, sizeof name) == 0)
        check(std::strlen(dir) + std::strlen(name) <= std::strlen(s));
    splitpath(s, dir, 8, nullptr, 0);
    if (s[0] == '/')
        return;
    if (pathexpand(out, s, 0) == 0)
        check(std::strlen(out) <= MAX_PATHLEN && out[1] == ':' && out[2] == '\\');
    if (longpath(out, MAX_PATHLEN, s) >= 0)
        check(std::strlen(out) <= MAX_PATHLEN);
    joinfound(out, "C:\\DIR", s);
    unsigned attrib;
    getattr(s, &attrib);
    pathtaken(s);
    samedrive(s, "C:\\DIR");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text((const char *)data, size);
    text = text.substr(0, std::min(text.find('\0'), (size_t)MAX_PATHLEN));
    const char *s = text.c_str();
    characters(s);
    searches(s);
    separators(s);
    expansion(s);
    return 0;
}
