#include <cstdlib>
#include <cstring>

#include "front/options.h"
#include "front/texts.h"
#include "base/out.h"

namespace {

// Number of masks a word of an extension group yields: one per ".".
int countpieces(const char *word) {
    int n = 0;
    for (const char *p = mbstrchr(word, '.'); p != nullptr; p = mbstrchr(p + 1, '.'))
        n++;
    return n;
}

// The word ends with a "]" of its own, not the second byte of a
// double-byte character.
int closesgroup(const char *word) {
    int len = (int)std::strlen(word);
    return len > 0 && word[len - 1] == ']' && mbtype(word, len - 1) == 0;
}

// A word that cannot be a mask of a group of the given kind.
int badword(const char *word, int isext) {
    if (word[0] == '\0' || iswild(word))
        return 1;
    if (word[0] == '-' || word[0] == '/' || word[0] == '[')
        return 1;
    return isext ? word[0] != '.' : word[0] == '.';
}

} // namespace

int scanskipgroup(int argc, char **argv, int i, int *isext, int *first, int *last,
                  int *errindex, int *erroffset) {
    int wi = i, woff = 1;
    if (argv[i][1] == '\0') {
        if (i + 1 >= argc) {
            *errindex = i;
            *erroffset = 1;
            return -1;
        }
        wi = i + 1;
        woff = 0;
        if (std::strchr("][-/", argv[wi][0]) != nullptr && argv[wi][0] != '\0') {
            *errindex = wi;
            *erroffset = 0;
            return -1;
        }
    }
    *first = wi;
    const char *word = argv[wi] + woff;
    *isext = word[0] == '.';
    int masks = 0;
    for (;;) {
        if (word[0] == ']') {
            if (masks == 0)
                break;
            *last = wi - 1;
            return wi + 1;
        }
        masks += *isext ? countpieces(word) : 1;
        if (badword(word, *isext) || masks > MAX_MASKS)
            break;
        if (closesgroup(word)) {
            *last = wi;
            return wi + 1;
        }
        if (++wi >= argc) {
            // Never closed: the caret goes just after the last argument.
            *errindex = argc;
            *erroffset = 0;
            return -1;
        }
        word = argv[wi];
        woff = 0;
    }
    *errindex = wi;
    *erroffset = woff;
    return -1;
}

namespace {

// Stores a copy of text[0..len) in the next free entry of masks; check
// mode shows it under the list's name.
int addmask(char **masks, const char *name, const char *text, size_t len) {
    int n = 0;
    while (masks[n] != nullptr)
        n++;
    if (n >= MAX_MASKS)
        return 0; // the group check keeps groups within the bound
    char *copy = (char *)std::malloc(len + 1);
    if (copy == nullptr) {
        outf("Error! memory allocate failed\n");
        return -1;
    }
    std::memcpy(copy, text, len);
    copy[len] = '\0';
    masks[n] = copy;
    masks[n + 1] = nullptr;
    if (checkmode)
        outf("%s[i] = %s\n", name, copy);
    return 0;
}

} // namespace

int setskipext(char **skipextmask, char **argv, int first, int last) {
    if (checkmode)
        outf(TXT_SKIPEXT_HEAD);
    for (int i = first; i <= last; i++) {
        const char *arg = argv[i];
        if (arg[0] == '[')
            arg++;
        size_t end = std::strlen(arg);
        if (closesgroup(arg))
            end--;
        for (const char *p = mbstrchr(arg, '.'); p != nullptr && (size_t)(p - arg) < end;) {
            const char *next = mbstrchr(p + 1, '.');
            size_t stop = next != nullptr && (size_t)(next - arg) < end ? next - arg : end;
            if (addmask(skipextmask, "skipextmask", p, stop - (p - arg)) != 0)
                return -1;
            p = next;
        }
    }
    if (checkmode)
        outf(TXT_SKIP_TAIL);
    return 0;
}

int setskipdir(char **skipdirmask, char **argv, int first, int last) {
    if (checkmode)
        outf(TXT_SKIPDIR_HEAD);
    for (int i = first; i <= last; i++) {
        const char *arg = argv[i];
        if (arg[0] == '[')
            arg++;
        size_t len = std::strlen(arg);
        if (closesgroup(arg))
            len--;
        if (addmask(skipdirmask, "skipdirmask", arg, len) != 0)
            return -1;
    }
    if (checkmode)
        outf(TXT_SKIP_TAIL);
    return 0;
}
