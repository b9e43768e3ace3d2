// The services of drives and paths: the drive types, the current drive
// and directories, full-path expansion, and the start of a new sandbox
// (plat_reload). On top of the drive map (drivemap.cpp) and the resolution
// of paths (paths.cpp).
#include "platform/platform.h"
#include "platform/posix/encoding.h"
#include "platform/posix/native.h"

#include <cstring>

#include <sys/stat.h>


void plat_reload(void) {
    drives_load();
    lookup_forget();
    memo_forget();
}

int plat_drivetype(const char *root) {
    int curletter = cur_letter();
    if (root == nullptr) {
        root = "";
        if (curletter == 0)
            return PLAT_DRIVE_NO_ROOT_DIR;
    }
    int letter = root[0] != '\0' ? root[0] : curletter;
    const char *tail = root[0] != '\0' ? root + 1 : "";
    if (*tail == ':')
        tail++;
    if (*tail == '\\' || *tail == '/')
        tail++;
    const char *dir = *tail == '\0' ? drive_dir(letter) : nullptr;
    struct stat st;
    if (dir == nullptr || stat(dir, &st) != 0 || !S_ISDIR(st.st_mode))
        return PLAT_DRIVE_NO_ROOT_DIR;
    return PLAT_DRIVE_FIXED;
}

int plat_curdrive(void) {
    int curletter = cur_letter();
    if (curletter == 0)
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
    return curletter;
}

int plat_workdir(char *out, size_t size) {
    const char *workdir = work_dir();
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
    if (letter == 0 || drive_dir(letter) == nullptr) {
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
        return -1;
    }
    int toolong;
    const char *curdir = cur_dir(&toolong);
    int up = letter >= 'a' && letter <= 'z' ? letter - 32 : letter;
    const char *dir = up == cur_letter() ? curdir : "";
    if ((dir == curdir && toolong) || std::strlen(dir) >= size) {
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    std::strcpy(out, dir);
    return 0;
}

// Full-path expansion; `final` drops the trailing dots and spaces of the

int plat_fullpath(const char *path, char *out, size_t size) { return typed_path(path, out, size); }

int plat_nativepath(const char *path, char *out, size_t size) { return shell_path(path, out, size); }
