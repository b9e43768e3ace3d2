// The names of a cached directory (dirnames.h), hashed on their folded
// keys (fold.h).
#include "platform/posix/dirnames.h"

#include <cstring>

namespace {

void rehash(Dir *d, size_t size) {
    d->buckets.assign(size, 0);
    for (uint32_t i = 0; i < d->entries.size(); i++) {
        DirEntry &e = d->entries[i];
        e.next = 0;
        if (e.off & DIR_DEAD)
            continue;
        uint32_t &b = d->buckets[e.fold & (size - 1)];
        e.next = b;
        b = i + 1;
    }
}

// Drops removed entries when they outnumber the live ones and no listing
// holds their indexes.
void compact(Dir *d) {
    if (d->holds != 0 || d->entries.size() - d->live < 1024 ||
        d->entries.size() - d->live < d->live)
        return;
    std::vector<char> arena;
    std::vector<DirEntry> entries;
    std::vector<NameInfo> infos;
    for (uint32_t i = 0; i < d->entries.size(); i++) {
        if (!alive(d, i))
            continue;
        const char *n = name_at(d, i);
        DirEntry e = {(uint32_t)arena.size(), d->entries[i].fold, 0, 0};
        arena.insert(arena.end(), n, n + std::strlen(n) + 1);
        if (d->entries[i].info != 0) {
            infos.push_back(d->infos[d->entries[i].info - 1]);
            e.info = (uint32_t)infos.size();
        }
        entries.push_back(e);
    }
    d->arena.swap(arena);
    d->entries.swap(entries);
    d->infos.swap(infos);
    rehash(d, d->buckets.size());
}

} // namespace

const char *name_at(const Dir *d, uint32_t i) {
    return d->arena.data() + (d->entries[i].off & ~DIR_DEAD);
}

int alive(const Dir *d, uint32_t i) { return (d->entries[i].off & DIR_DEAD) == 0; }

// The entry of exactly this name, or -1.
int find_exact(const Dir *d, const char *name, uint32_t fold) {
    if (d->buckets.empty())
        return -1;
    for (uint32_t at = d->buckets[fold & (d->buckets.size() - 1)]; at != 0;) {
        uint32_t i = at - 1;
        if (d->entries[i].fold == fold && std::strcmp(name_at(d, i), name) == 0)
            return (int)i;
        at = d->entries[i].next;
    }
    return -1;
}

// The exact entry, else the first of those equal ignoring case in listing
// order (which sorts them by their exact names), or -1.
int find_name(const Dir *d, const char *name) {
    uint32_t fold = name_fold_hash(name);
    if (d->buckets.empty())
        return -1;
    int best = -1;
    for (uint32_t at = d->buckets[fold & (d->buckets.size() - 1)]; at != 0;) {
        uint32_t i = at - 1;
        at = d->entries[i].next;
        if (d->entries[i].fold != fold)
            continue;
        const char *n = name_at(d, i);
        if (std::strcmp(n, name) == 0)
            return (int)i;
        if (name_same_folded(n, name) && (best < 0 || std::strcmp(n, name_at(d, (uint32_t)best)) < 0))
            best = (int)i;
    }
    return best;
}

int add_name(Dir *d, const char *name) {
    uint32_t fold = name_fold_hash(name);
    int have = find_exact(d, name, fold);
    if (have >= 0) {
        d->entries[have].info = 0; // whatever it was, it is new now
        return have;
    }
    size_t len = std::strlen(name);
    DirEntry e = {(uint32_t)d->arena.size(), fold, 0, 0};
    d->arena.insert(d->arena.end(), name, name + len + 1);
    d->entries.push_back(e);
    d->live++;
    if (d->buckets.size() < 2 * (size_t)d->live + 16)
        rehash(d, d->buckets.empty() ? 64 : 2 * d->buckets.size());
    else {
        uint32_t i = (uint32_t)d->entries.size() - 1;
        uint32_t &b = d->buckets[fold & (d->buckets.size() - 1)];
        d->entries[i].next = b;
        b = i + 1;
    }
    return (int)d->entries.size() - 1;
}

void clear_names(Dir *d) {
    d->arena.clear();
    d->entries.clear();
    d->buckets.clear();
    d->infos.clear();
    d->live = 0;
}

void remove_name(Dir *d, const char *name) {
    int i = find_exact(d, name, name_fold_hash(name));
    if (i < 0)
        return;
    DirEntry &e = d->entries[i];
    for (uint32_t *link = &d->buckets[e.fold & (d->buckets.size() - 1)]; *link != 0;
         link = &d->entries[*link - 1].next) {
        if (*link == (uint32_t)i + 1) {
            *link = e.next;
            break;
        }
    }
    e.off |= DIR_DEAD;
    e.next = 0;
    d->live--;
    // A copy's temporary name goes just before its final name comes: its
    // room, when it was the last taken, is given back at once, so that a
    // directory being filled does not carry a dead entry for every file.
    if (e.info != 0 && e.info == d->infos.size()) {
        d->infos.pop_back();
        e.info = 0;
    }
    if (d->holds == 0 && (size_t)i + 1 == d->entries.size()) {
        d->arena.resize(e.off & ~DIR_DEAD);
        d->entries.pop_back();
        return;
    }
    compact(d);
}
