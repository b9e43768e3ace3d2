// Network paths, \\server\share\rest, as this machine reaches them: an
// entry "\\server\share=/dir" of MOX32_DRIVES, else a mount of the share
// (cifs "//server/share", sshfs "server:/path", NFS "server:/export").
// The share's components are matched as a prefix of the path's, longest
// first, so that \\host\srv\nfs\data\x finds a mount of host:/srv/nfs/data.
// Linux has no network drives of its own: a share mounted nowhere is
// refused, saying how to reach it.
#include "platform/posix/encoding.h"
#include "platform/posix/native.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

enum { MAX_SHARE_COMPS = 16 };

int issep(char c) { return c == '\\' || c == '/'; }

// A share as a server and its components, in native text.
struct Share {
    char text[NATIVE_PATH_SIZE];
    const char *server;
    const char *comp[MAX_SHARE_COMPS];
    int n;
};

// Splits text (owned by s) at separators, the first piece the server.
// 0, or -1 when it names no share.
int split(Share *s) {
    s->n = 0;
    s->server = nullptr;
    for (char *p = s->text; *p != '\0';) {
        while (issep(*p))
            *p++ = '\0';
        if (*p == '\0')
            break;
        if (s->server == nullptr)
            s->server = p;
        else if (s->n < MAX_SHARE_COMPS)
            s->comp[s->n++] = p;
        else
            return -1;
        while (*p != '\0' && !issep(*p))
            p++;
    }
    return s->server != nullptr && s->n > 0 ? 0 : -1;
}

// How many of the path's components the share covers: all of the share's
// when they begin the path's, else 0.
int covers(const Share *share, const Share *path) {
    if (strcasecmp(share->server, path->server) != 0 || share->n > path->n)
        return 0;
    for (int i = 0; i < share->n; i++)
        if (strcasecmp(share->comp[i], path->comp[i]) != 0)
            return 0;
    return share->n;
}

// A mount table field with its octal escapes (\040 for a space) undone.
void unescape(char *s) {
    char *o = s;
    for (char *p = s; *p != '\0'; p++) {
        if (p[0] == '\\' && p[1] >= '0' && p[1] <= '3' && p[2] >= '0' && p[2] <= '7' &&
            p[3] >= '0' && p[3] <= '7') {
            *o++ = (char)((p[1] - '0') * 64 + (p[2] - '0') * 8 + (p[3] - '0'));
            p += 3;
        } else {
            *o++ = *p;
        }
    }
    *o = '\0';
}

// The share a mount's source names, by its type: "//server/share" for
// SMB, "[user@]server:path" for sshfs and NFS. 0, or -1.
int mount_share(const char *type, const char *source, Share *s) {
    if (std::strcmp(type, "cifs") == 0 || std::strcmp(type, "smb3") == 0) {
        if (!issep(source[0]) || !issep(source[1]))
            return -1;
        std::snprintf(s->text, sizeof s->text, "%s", source);
        return split(s);
    }
    if (std::strcmp(type, "fuse.sshfs") != 0 && std::strncmp(type, "nfs", 3) != 0)
        return -1;
    const char *at = std::strchr(source, '@');
    const char *host = at != nullptr ? at + 1 : source;
    const char *colon = std::strchr(host, ':');
    if (colon == nullptr || colon == host)
        return -1;
    std::snprintf(s->text, sizeof s->text, "%.*s/%s", (int)(colon - host), host, colon + 1);
    return split(s);
}

// The best of the mapped shares for path: its directory into dir, the
// components it covers returned (0: none).
int from_map(const Share *path, char *dir, size_t size) {
    const char *map = std::getenv("MOX32_DRIVES");
    int best = 0;
    while (map != nullptr && *map != '\0') {
        const char *end = std::strchr(map, ';');
        size_t n = end != nullptr ? (size_t)(end - map) : std::strlen(map);
        const char *eq = static_cast<const char *>(std::memchr(map, '=', n));
        Share s;
        if (n >= 2 && issep(map[0]) && issep(map[1]) && eq != nullptr && eq[1] == '/' &&
            (size_t)(eq - map) < sizeof s.text) {
            std::memcpy(s.text, map, (size_t)(eq - map));
            s.text[eq - map] = '\0';
            size_t dn = n - (size_t)(eq + 1 - map);
            int c = split(&s) == 0 ? covers(&s, path) : 0;
            if (c > best && dn < size) {
                std::memcpy(dir, eq + 1, dn);
                dir[dn] = '\0';
                best = c;
            }
        }
        map += n;
        if (*map == ';')
            map++;
    }
    return best;
}

// The same for the mount table.
int from_mounts(const Share *path, char *dir, size_t size) {
    FILE *f = std::fopen("/proc/self/mounts", "re");
    if (f == nullptr)
        return 0;
    int best = 0;
    char line[2 * NATIVE_PATH_SIZE];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        char *save = nullptr;
        char *source = strtok_r(line, " ", &save);
        char *point = strtok_r(nullptr, " ", &save);
        char *type = strtok_r(nullptr, " ", &save);
        if (source == nullptr || point == nullptr || type == nullptr)
            continue;
        unescape(source);
        unescape(point);
        Share s;
        int c = mount_share(type, source, &s) == 0 ? covers(&s, path) : 0;
        if (c > best && std::strlen(point) < size) {
            std::strcpy(dir, point);
            best = c;
        }
    }
    std::fclose(f);
    return best;
}

// Says once per share that it is reached nowhere, and how it can be.
void say_unmounted(const Share *path) {
    static char said[NATIVE_PATH_SIZE];
    char name[NATIVE_PATH_SIZE];
    std::snprintf(name, sizeof name, "\\\\%s\\%s", path->server, path->comp[0]);
    if (strcasecmp(said, name) == 0)
        return;
    std::snprintf(said, sizeof said, "%s", name);
    std::fflush(stdout);
    std::fprintf(stderr,
                 "Error! %s is not mounted here: mount it, or map it in MOX32_DRIVES as "
                 "%s=/dir\n",
                 name, name);
}

} // namespace

int share_dir(const char *path, char *dir, size_t size, const char **rest) {
    Share p;
    int n = enc_from_core(path, std::strlen(path), p.text, sizeof p.text, 0);
    if (n < 0 || split(&p) != 0) {
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
        return -1;
    }
    int c = from_map(&p, dir, size);
    if (c == 0)
        c = from_mounts(&p, dir, size);
    if (c == 0) {
        say_unmounted(&p);
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
        return -1;
    }
    // The rest begins after the server and the share's c components, in
    // the core's own text: a separator is never a trail byte there.
    const char *s = path;
    for (int k = 0; k <= c; k++) {
        while (issep(*s))
            s++;
        while (*s != '\0' && !issep(*s))
            s += ((unsigned char)*s >= 0x81 && (unsigned char)*s <= 0x9F) ||
                         ((unsigned char)*s >= 0xE0 && (unsigned char)*s <= 0xFC)
                     ? (s[1] != '\0' ? 2 : 1)
                     : 1;
    }
    *rest = s;
    return 0;
}
