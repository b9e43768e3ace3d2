// The destinations this run has written, each with the source name it came
// from. A Linux directory may hold README and readme side by side; once one
// of them is moved, gathered, renamed or given another case on its way to
// the destination, the other answers to the same destination name, and
// writing it there would replace its twin's copy: the run would end with
// one file fewer and say nothing. The per-file action asks here before it
// writes over a file.
//
// Only hashes are kept: sixteen bytes a file, no path strings.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/perfile.h"
#include "base/pathstr.h"

namespace {

struct Written {
    uint64_t dst;   // hash of the destination path, ASCII case folded; 0 empty
    uint32_t exact; // hash of the source name as it is
    uint32_t fold;  // hash of the source name, ASCII case folded
    uint32_t wrote; // hash of the name the destination was given
    uint32_t spare;
};

Written *table;
size_t slots, used;
int keeping; // this run can bring twins together: see watchtwins

// FNV-1a over the text, with ASCII letters upper-cased when fold is set.
// The second byte of a double-byte character is never case-changed.
uint64_t hashtext(const char *s, int fold) {
    const uint64_t prime = 1099511628211ull;
    uint64_t h = 1469598103934665603ull;
    for (const unsigned char *p = (const unsigned char *)s; *p != 0; p++) {
        unsigned c = *p;
        if (c < 0x80) {
            h = (h ^ (fold && c - 'a' < 26u ? c - 32 : c)) * prime;
            continue;
        }
        h = (h ^ c) * prime;
        if (((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && p[1] != 0)
            h = (h ^ *++p) * prime;
    }
    return h != 0 ? h : 1;
}

uint32_t hash32(const char *s, int fold) {
    uint64_t h = hashtext(s, fold);
    return (uint32_t)(h ^ (h >> 32));
}

// The name written is most often the source's own: its hash is had then.
uint32_t wrotehash(const char *wanted, const char *srcname, uint32_t exact) {
    return std::strcmp(wanted, srcname) == 0 ? exact : hash32(wanted, 0);
}

Written *slotof(uint64_t key) {
    size_t i = (size_t)key & (slots - 1);
    while (table[i].dst != 0 && table[i].dst != key)
        i = (i + 1) & (slots - 1);
    return &table[i];
}

// Doubles the table; 0, or -1 when memory ran out (the table stays).
int grow(void) {
    size_t more = slots != 0 ? 2 * slots : 1024;
    Written *bigger = (Written *)std::calloc(more, sizeof *bigger);
    if (bigger == nullptr)
        return -1;
    Written *old = table;
    size_t oldslots = slots;
    table = bigger;
    slots = more;
    for (size_t i = 0; i < oldslots; i++)
        if (old[i].dst != 0)
            *slotof(old[i].dst) = old[i];
    std::free(old);
    return 0;
}

} // namespace

// Twins of one source directory meet at one destination name only when
// the run moves (the first twin is gone when the second is judged),
// gathers, renames by a format or a case change, or reads a list, whose
// lines may name files of any directory; otherwise the twin is still in
// the source directory beside the file, and the look there finds it.
void watchtwins(int fromlist) {
    keeping = opt_move == 1 || opt_gather == 1 || renamemode == 1 || fromlist;
}

void notewritten(const char *dst, const char *srcname, const char *wanted) {
    if (!keeping)
        return;
    if (2 * (used + 1) > slots && grow() != 0)
        return; // without memory the guard is lost, the copy is not
    uint64_t key = hashtext(dst, 1);
    Written *w = slotof(key);
    if (w->dst == 0)
        used++;
    w->dst = key;
    w->exact = hash32(srcname, 0);
    w->fold = hash32(srcname, 1);
    w->wrote = wrotehash(wanted, srcname, w->exact);
}

int writtentwin(const char *dst, const char *srcname, const char *wanted) {
    if (used == 0)
        return 0;
    const Written *w = slotof(hashtext(dst, 1));
    uint32_t exact = hash32(srcname, 0);
    if (w->dst == 0 || w->exact == exact)
        return 0; // not this run's, or the same name from another directory
    // Two names that differ only in case, or one the run turned into a
    // spelling of another that it wrote before.
    return w->fold == hash32(srcname, 1) || w->wrote != wrotehash(wanted, srcname, exact);
}

void forgetwritten(void) {
    std::free(table);
    table = nullptr;
    slots = used = 0;
    keeping = 0;
}
