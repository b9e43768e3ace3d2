// Attributes are the system's own. Only read-only, hidden and system are
// ever changed, and never through a link: the callers mean the entry, and
// clearing read-only before deleting a link must not strip the protection
// from its target (Wine marks the target when asked to mark a file link).
#include "platform/win32/native.h"

namespace {

const DWORD MARKS = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
const DWORD SETTABLE = MARKS | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY |
                       FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// GetFileAttributesW with the last error set the way the contract asks.
int get_attrib(const wchar_t *w, DWORD *attrib) {
    *attrib = GetFileAttributesW(w);
    if (*attrib != INVALID_FILE_ATTRIBUTES)
        return 0;
    set_sys_error();
    return -1;
}

} // namespace

unsigned core_attrib(DWORD a) {
    unsigned bits = a & (MARKS | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE |
                         FILE_ATTRIBUTE_REPARSE_POINT);
    if (!(bits & FILE_ATTRIBUTE_DIRECTORY))
        bits &= ~(unsigned)FILE_ATTRIBUTE_REPARSE_POINT;
    return bits != 0 ? bits : (unsigned)PLAT_ATTR_NORMAL;
}

int plat_getattr(const char *path, unsigned *attrib) {
    wchar_t w[WPATH_SIZE];
    DWORD a;
    if (wpath(path, w, WPATH_SIZE) < 0 || get_attrib(w, &a) < 0)
        return -1;
    *attrib = core_attrib(a);
    return 0;
}

int plat_setattr(const char *path, unsigned attrib) {
    if (fail_now(PLAT_CALL_SETATTR))
        return -1;
    wchar_t w[WPATH_SIZE];
    DWORD a;
    if (wpath(path, w, WPATH_SIZE) < 0 || get_attrib(w, &a) < 0)
        return -1;
    if (attrib & PLAT_ATTR_NORMAL)
        attrib &= ~(unsigned)MARKS;
    DWORD want = (a & SETTABLE & ~MARKS) | (attrib & MARKS);
    if (want == (a & SETTABLE) || entry_is_link(w, a))
        return 0;
    if (!SetFileAttributesW(w, want != 0 ? want : FILE_ATTRIBUTE_NORMAL)) {
        set_sys_error();
        return -1;
    }
    return 0;
}

int plat_keepsarchive(void) { return 1; }
