// File contents: open, read, write, seek, close, the write time, the state
// of an open file, and the two kinds of temporary file.
#include "platform/win32/native.h"

#include <aclapi.h>

#include <cstring>
#include <cwchar>

namespace {

const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// FILETIME ticks (100 ns since 1601) of a moment since 1970; -1 when the
// system cannot hold it.
int to_filetime(const PlatFileTime *t, FILETIME *ft) {
    const long long EPOCH_SEC = 11644473600LL; // 1601 to 1970
    const long long MAX_SEC = 0x7FFFFFFFFFFFFFFFLL / 10000000 - EPOCH_SEC;
    if (t->sec < -EPOCH_SEC || t->sec > MAX_SEC)
        return -1;
    unsigned long long ticks =
        (unsigned long long)(t->sec + EPOCH_SEC) * 10000000ULL + (unsigned long long)t->nsec / 100;
    ft->dwLowDateTime = (DWORD)ticks;
    ft->dwHighDateTime = (DWORD)(ticks >> 32);
    return 0;
}

PlatFileTime from_ticks(long long ticks) {
    const long long EPOCH = 116444736000000000LL;
    long long d = ticks - EPOCH, sec = d / 10000000, rem = d % 10000000;
    if (rem < 0) {
        sec--;
        rem += 10000000;
    }
    return PlatFileTime{sec, (long)(rem * 100)};
}

// Hands a temporary file back to the core: its path as code page 932 text.
int handtemp(HANDLE h, const wchar_t *w, char *path, size_t size) {
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    if (wide_to_core(w, std::wcslen(w), path, size) < 0) {
        CloseHandle(h);
        DeleteFileW(w);
        temp_forget(w);
        plat_setlasterror(PLAT_ERR_FILENAME_TOO_LONG);
        return -1;
    }
    return from_handle(h);
}

// The directory for the temporary list file: TEMP, as the system hands it
// to the process, else the system's temporary directory.
int temp_dir(wchar_t *out, size_t cap) {
    DWORD n = GetEnvironmentVariableW(L"TEMP", out, (DWORD)cap);
    if (n == 0 || n >= cap)
        n = GetTempPathW((DWORD)cap, out);
    if (n == 0 || n >= cap)
        return fail_sys();
    return 0;
}

} // namespace

int plat_open(const char *path, int how) {
    if (fail_now(PLAT_CALL_OPEN))
        return -1;
    if (how != PLAT_OPEN_READ && how != PLAT_OPEN_CREATE && how != PLAT_OPEN_APPEND) {
        plat_setlasterror(PLAT_ERR_INVALID_PARAMETER);
        return -1;
    }
    wchar_t w[WPATH_SIZE];
    if (wpath(path, w, WPATH_SIZE) < 0)
        return -1;
    if (how == PLAT_OPEN_APPEND) { // appending through a link grows what it names
        DWORD a = GetFileAttributesW(w);
        if (a != INVALID_FILE_ATTRIBUTES && entry_is_link(w, a)) {
            plat_setlasterror(PLAT_ERR_ACCESS_DENIED);
            return -1;
        }
    }
    // A failed append is cut back, so an append needs write access, not
    // just the right to append; it starts at the end.
    DWORD access = how == PLAT_OPEN_READ ? GENERIC_READ : GENERIC_WRITE | FILE_READ_ATTRIBUTES;
    DWORD disp = how == PLAT_OPEN_READ ? OPEN_EXISTING
                 : how == PLAT_OPEN_CREATE ? CREATE_ALWAYS
                                           : OPEN_ALWAYS;
    DWORD share = FILE_SHARE_READ | (how == PLAT_OPEN_READ ? FILE_SHARE_WRITE : 0);
    HANDLE h = CreateFileW(w, access, share, nullptr, disp, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return fail_sys();
    LARGE_INTEGER zero = {};
    if (how == PLAT_OPEN_APPEND && !SetFilePointerEx(h, zero, nullptr, FILE_END)) {
        set_sys_error();
        CloseHandle(h);
        return -1;
    }
    return from_handle(h);
}

// A read of at most len bytes: the bytes read, 0 at the end, or -1.
long raw_read(int handle, void *buf, unsigned long len) {
    DWORD got;
    if (len > 0x40000000UL)
        len = 0x40000000UL;
    if (!ReadFile(to_handle(handle), buf, (DWORD)len, &got, nullptr)) {
        if (GetLastError() == ERROR_BROKEN_PIPE) // a pipe's writer is done: its end
            return 0;
        return fail_sys();
    }
    return (long)got;
}

// Writes all len bytes: len, or -1 (112 when a write makes no progress).
long raw_write(int handle, const void *buf, unsigned long len) {
    const char *p = (const char *)buf;
    unsigned long done = 0;
    while (done < len) {
        DWORD put, want = len - done > 0x40000000UL ? 0x40000000UL : (DWORD)(len - done);
        if (!WriteFile(to_handle(handle), p + done, want, &put, nullptr))
            return fail_sys();
        if (put == 0) { // no progress and no error: nothing more fits
            plat_setlasterror(PLAT_ERR_DISK_FULL);
            return -1;
        }
        done += put;
    }
    return (long)done;
}

long plat_read(int handle, void *buf, unsigned long len) {
    if (fail_now(PLAT_CALL_READ))
        return -1;
    return raw_read(handle, buf, len);
}

long plat_write_file(int handle, const void *buf, unsigned long len) {
    if (fail_now(PLAT_CALL_WRITE))
        return -1;
    return raw_write(handle, buf, len);
}

long long plat_seek(int handle, long long offset, int whence) {
    DWORD how = whence == PLAT_SEEK_SET ? FILE_BEGIN
                : whence == PLAT_SEEK_CUR ? FILE_CURRENT
                : whence == PLAT_SEEK_END ? FILE_END
                                          : 0xFFFFFFFF;
    if (how == 0xFFFFFFFF) {
        plat_setlasterror(PLAT_ERR_INVALID_PARAMETER);
        return -1;
    }
    LARGE_INTEGER to, pos;
    to.QuadPart = offset;
    if (!SetFilePointerEx(to_handle(handle), to, &pos, how))
        return fail_sys();
    return pos.QuadPart;
}

// An armed failure still closes the handle: the caller treats it as gone
// either way, as it would after a real late write error.
int plat_close(int handle) {
    int failed = fail_now(PLAT_CALL_CLOSE);
    if (!CloseHandle(to_handle(handle)) && !failed)
        return fail_sys();
    return failed ? -1 : 0;
}

// FILETIME counts 100 ns: the nanoseconds below that are lost.
int plat_setfiletime(int handle, const PlatFileTime *mtime) {
    FILETIME ft;
    if (mtime->nsec < 0 || mtime->nsec > 999999999 || to_filetime(mtime, &ft) != 0) {
        plat_setlasterror(PLAT_ERR_INVALID_PARAMETER);
        return -1;
    }
    if (!SetFileTime(to_handle(handle), nullptr, nullptr, &ft))
        return fail_sys();
    return 0;
}

int plat_truncate(int handle, long long size) {
    HANDLE h = to_handle(handle);
    LARGE_INTEGER zero = {}, at, to;
    to.QuadPart = size;
    if (!SetFilePointerEx(h, zero, &at, FILE_CURRENT) || !SetFilePointerEx(h, to, nullptr, FILE_BEGIN))
        return fail_sys();
    BOOL ok = SetEndOfFile(h);
    if (!ok)
        set_sys_error();
    SetFilePointerEx(h, at, nullptr, FILE_BEGIN);
    return ok ? 0 : -1;
}

// The state of the file open as h.
static int state_of_handle(HANDLE h, PlatFileState *state) {
    BY_HANDLE_FILE_INFORMATION info;
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandle(h, &info) ||
        !GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic))
        return fail_sys();
    state->id.device = info.dwVolumeSerialNumber;
    state->id.inode = (unsigned long long)info.nFileIndexHigh << 32 | info.nFileIndexLow;
    state->size = (unsigned long long)info.nFileSizeHigh << 32 | info.nFileSizeLow;
    state->mtime = from_ticks(basic.LastWriteTime.QuadPart);
    state->ctime = from_ticks(basic.ChangeTime.QuadPart);
    return 0;
}

int plat_filestate(int handle, PlatFileState *state) {
    return state_of_handle(to_handle(handle), state);
}

// Held open without sharing its deletion, the file can be neither renamed
// over nor replaced between the look and the delete, which goes through
// the handle.
int plat_deletesame(const char *path, const PlatFileState *state) {
    if (fail_now(PLAT_CALL_DELETE))
        return -1;
    wchar_t w[WPATH_SIZE];
    if (wpath(path, w, WPATH_SIZE) < 0)
        return -1;
    HANDLE h = CreateFileW(w, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return fail_sys();
    PlatFileState now;
    int r = state_of_handle(h, &now);
    if (r == 0 && (now.id.device != state->id.device || now.id.inode != state->id.inode ||
                   now.size != state->size || now.mtime.sec != state->mtime.sec ||
                   now.mtime.nsec != state->mtime.nsec || now.ctime.sec != state->ctime.sec ||
                   now.ctime.nsec != state->ctime.nsec)) {
        plat_setlasterror(PLAT_ERR_SHARING_VIOLATION);
        r = -1;
    }
    FILE_DISPOSITION_INFO gone = {TRUE};
    if (r == 0 && !SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof gone))
        r = fail_sys();
    CloseHandle(h);
    if (r == 0)
        temp_forget(w);
    return r;
}

int plat_opentemp(const char *dir, const char *prefix, char *path, size_t size) {
    if (fail_now(PLAT_CALL_OPEN))
        return -1;
    wchar_t wdir[WPATH_SIZE], wprefix[64], w[WPATH_SIZE];
    if (wpath(dir, wdir, WPATH_SIZE) < 0)
        return -1;
    if (core_to_wide(prefix, std::strlen(prefix), wprefix, 64, 0) < 0) {
        plat_setlasterror(PLAT_ERR_INVALID_NAME);
        return -1;
    }
    return handtemp(create_temp(wdir, wprefix, w, WPATH_SIZE), w, path, size);
}

// GetTempFileNameW keeps only three characters of a prefix: the "_MOX_"
// name is made here.
int plat_mktemp(char *path, size_t size) {
    if (fail_now(PLAT_CALL_OPEN))
        return -1;
    wchar_t dir[WPATH_SIZE], w[WPATH_SIZE];
    if (temp_dir(dir, WPATH_SIZE) != 0)
        return -1;
    return handtemp(create_temp(dir, L"_MOX_", w, WPATH_SIZE), w, path, size);
}
