// The last error in Win32 numbering and its text. Every errno the backend sees is mapped here and nowhere else, so a
// message prints the same number on every platform.
#include "platform/posix/encoding.h"
#include "platform/posix/native.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

unsigned lasterr;
// The errno that produced lasterr, 0 when a code was set directly: the
// system's own text is more precise than the fixed one ("Read-only file
// system" says more than "Access is denied.").
int lasterrno;

struct ErrnoCode {
    int err;
    unsigned code;
};

const ErrnoCode errno_table[] = {
    {ENOENT, PLAT_ERR_FILE_NOT_FOUND},
    {ESTALE, PLAT_ERR_DIR_CHANGED}, // see dir_pin
    {ENOTDIR, PLAT_ERR_PATH_NOT_FOUND},
    {EACCES, PLAT_ERR_ACCESS_DENIED},
    {EPERM, PLAT_ERR_ACCESS_DENIED},
    {EROFS, PLAT_ERR_ACCESS_DENIED},
    {ENOMEM, PLAT_ERR_NOT_ENOUGH_MEMORY},
    {EXDEV, PLAT_ERR_NOT_SAME_DEVICE},
    {EBUSY, PLAT_ERR_SHARING_VIOLATION},
    {ETXTBSY, PLAT_ERR_SHARING_VIOLATION},
    {EEXIST, PLAT_ERR_ALREADY_EXISTS},
    {ENOSPC, PLAT_ERR_DISK_FULL},
    {EDQUOT, PLAT_ERR_DISK_FULL},
    {EFBIG, PLAT_ERR_DISK_FULL},
    {ENOTEMPTY, PLAT_ERR_DIR_NOT_EMPTY},
    {ENAMETOOLONG, PLAT_ERR_FILENAME_TOO_LONG},
    {ELOOP, PLAT_ERR_CANT_RESOLVE},
    {EISDIR, PLAT_ERR_DIRECTORY},
    {EINVAL, PLAT_ERR_INVALID_PARAMETER},
    {EILSEQ, PLAT_ERR_INVALID_NAME},
    {EMFILE, 4},  // too many open files
    {ENFILE, 4},
    {EBADF, 6},   // invalid handle
    {ENOTSUP, 50}, // not supported
};

// What an errno outside the table becomes: Win32's "a device attached to the
// system is not functioning", its catch-all for a failure it cannot name.
const unsigned GENERIC_FAILURE = 31;

struct CodeText {
    unsigned code;
    const char *text;
};

const CodeText code_texts[] = {
    {0, "The operation completed successfully."},
    {PLAT_ERR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {PLAT_ERR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {PLAT_ERR_ACCESS_DENIED, "Access is denied."},
    {6, "The handle is invalid."},
    {PLAT_ERR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
    {PLAT_ERR_NOT_SAME_DEVICE, "The system cannot move the file to a different disk drive."},
    {31, "A device attached to the system is not functioning."},
    {PLAT_ERR_SHARING_VIOLATION, "The process cannot access the file because it is being used by another process."},
    {50, "The request is not supported."},
    {PLAT_ERR_FILE_EXISTS, "The file exists."},
    {PLAT_ERR_INVALID_PARAMETER, "The parameter is incorrect."},
    {PLAT_ERR_DISK_FULL, "There is not enough space on the disk."},
    {PLAT_ERR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect."},
    {PLAT_ERR_DIR_NOT_EMPTY, "The directory is not empty."},
    {PLAT_ERR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
    {PLAT_ERR_FILENAME_TOO_LONG, "The filename or extension is too long."},
    {PLAT_ERR_DIRECTORY, "The directory name is invalid."},
    {PLAT_ERR_CANT_RESOLVE, "The name of the file cannot be resolved by the system."},
};

unsigned errno_code(int err) {
    for (const ErrnoCode &e : errno_table)
        if (e.err == err)
            return e.code;
    return GENERIC_FAILURE;
}

const char *fixed_text(unsigned code) {
    for (const CodeText &c : code_texts)
        if (c.code == code)
            return c.text;
    return nullptr;
}

// The C library's text is in the locale's encoding; the core wants code
// page 932.
int errno_text(int err, char *out, size_t size) {
    const char *text = std::strerror(err);
    int n = enc_to_core(text, std::strlen(text), out, size);
    return n >= 0 ? 0 : -1;
}

} // namespace

unsigned plat_lasterror(void) { return lasterr; }

void plat_setlasterror(unsigned code) {
    lasterr = code;
    lasterrno = 0;
}

void set_errno_error(int err) {
    lasterr = errno_code(err);
    lasterrno = err;
}

void plat_errortext(unsigned code, char *out, size_t size) {
    if (out == nullptr || size == 0)
        return;
    if (lasterrno != 0 && code == lasterr && errno_text(lasterrno, out, size) == 0)
        return;
    const char *text = fixed_text(code);
    if (text != nullptr)
        std::snprintf(out, size, "%s", text);
    else
        std::snprintf(out, size, "Unknown error %u.", code);
}

// A missing native path: 2 when its directory exists, else 3.
void set_missing_error(const char *native) {
    char dir[NATIVE_PATH_SIZE];
    const char *slash = strrchr(native, '/');
    size_t len = slash == nullptr ? 0 : slash == native ? 1 : (size_t)(slash - native);
    struct stat st;
    if (slash != nullptr && len < sizeof dir && (memcpy(dir, native, len), dir[len] = 0,
                                                 stat(dir, &st) == 0) && S_ISDIR(st.st_mode))
        plat_setlasterror(PLAT_ERR_FILE_NOT_FOUND);
    else
        plat_setlasterror(PLAT_ERR_PATH_NOT_FOUND);
}

// A failed open of native, as Windows tells it.
void set_open_error(const char *native, int err) {
    if (err == ENOENT)
        set_missing_error(native);
    else if (err == EISDIR)
        plat_setlasterror(PLAT_ERR_ACCESS_DENIED);
    else
        set_errno_error(err);
}

