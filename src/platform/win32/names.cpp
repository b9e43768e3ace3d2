// Deleting, moving and replacing entries, and what a path is.
//
// A move never replaces what is already there: users move real files, and
// a rename that silently clobbers a destination loses one. Only
// plat_replace does that, and only in one atomic step. Wine's ways that
// would lose data are guarded here: a link is never deleted or moved
// through (links.cpp), a delete that reports success is checked, and a
// change of letter case goes through a temporary name (Wine reports
// success for it and keeps the old spelling).
#include "platform/win32/native.h"

#include <cwchar>
#include <string>

namespace {

// GetFileAttributesW with the last error set from the system (2 or 3).
int attrib_of(const wchar_t *w, DWORD *a) {
    *a = GetFileAttributesW(w);
    if (*a != INVALID_FILE_ATTRIBUTES)
        return 0;
    set_sys_error();
    return -1;
}


// The name of an existing entry as the directory holds it.
int stored_name(const wchar_t *w, wchar_t *out, size_t cap) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileExW(w, FindExInfoBasic, &fd, FindExSearchNameMatch, nullptr, 0);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    FindClose(h);
    if (std::wcslen(fd.cFileName) >= cap)
        return -1;
    std::wcscpy(out, fd.cFileName);
    return 0;
}

// The names of dir that equal name but for letter case, counted (Wine
// shows case twins that a Linux tree holds: README.TXT and readme.txt);
// with `exact`, only the very spelling is counted.
int spellings(const wchar_t *dir, const wchar_t *name, int exact = 0) {
    wchar_t pattern[WPATH_SIZE];
    size_t len = std::wcslen(dir);
    if (len + 3 > WPATH_SIZE)
        return -1;
    std::wcscpy(pattern, dir);
    if (len > 0 && pattern[len - 1] != L'\\')
        pattern[len++] = L'\\';
    pattern[len] = L'*';
    pattern[len + 1] = 0;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileExW(pattern, FindExInfoBasic, &fd, FindExSearchNameMatch, nullptr, 0);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    int n = 0;
    do
        n += (exact ? std::wcscmp(fd.cFileName, name) : _wcsicmp(fd.cFileName, name)) == 0;
    while (FindNextFileW(h, &fd));
    FindClose(h);
    return n;
}

} // namespace

// 0 when the entry a delete that reported success was asked for is gone,
// 1 when it still stands (Wine reports success for a file it could not
// delete, an immutable one). Wine finds a name ignoring case when it is
// not there as spelled: what answers to the path afterwards may be a case
// twin of the deleted file, which is still there only when the directory
// holds its very spelling. The path is one the listing spelled, as every
// path the core acts on is.
int still_there(const wchar_t *w) {
    if (GetFileAttributesW(w) == INVALID_FILE_ATTRIBUTES)
        return 0;
    wchar_t full[WPATH_SIZE], dir[WPATH_SIZE];
    const wchar_t *name;
    if (!under_wine() || wfull(w, full, WPATH_SIZE) < 0 || wsplit(full, dir, WPATH_SIZE, &name) != 0)
        return 1;
    return spellings(dir, name, 1) != 0; // a failed listing (-1) counts as there
}

namespace {

// Gives an entry the letter case of `to`, which names it already, through
// a temporary name: a direct rename keeps the old spelling under Wine.
// Where another entry holds the new spelling (a case twin) the rename
// cannot complete and is refused before anything moves: on the way back
// Wine would find the twin under the old name too, and the file was left
// under its temporary name. Should the last step fail all the same, the
// file goes back to its old name.
int respell(const wchar_t *from, const wchar_t *to) {
    wchar_t full[WPATH_SIZE], dir[WPATH_SIZE], tmp[WPATH_SIZE], disk[MAX_PATH];
    wchar_t old[WPATH_SIZE], olddir[WPATH_SIZE];
    const wchar_t *name, *oldname;
    if (wfull(to, full, WPATH_SIZE) < 0 || wsplit(full, dir, WPATH_SIZE, &name) != 0 ||
        wfull(from, old, WPATH_SIZE) < 0 || wsplit(old, olddir, WPATH_SIZE, &oldname) != 0)
        return -1;
    if (stored_name(from, disk, MAX_PATH) != 0 || std::wcscmp(disk, name) == 0)
        return 0; // nothing to respell
    if (spellings(dir, name) != 1) {
        plat_setlasterror(PLAT_ERR_ALREADY_EXISTS);
        return -1;
    }
    HANDLE h = create_temp(dir, L"_MOX_", tmp, WPATH_SIZE);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    CloseHandle(h);
    DeleteFileW(tmp); // only the unique name was wanted
    temp_forget(tmp);
    if (!MoveFileExW(from, tmp, 0))
        return fail_sys();
    if (!MoveFileExW(tmp, full, 0)) {
        unsigned keep = (set_sys_error(), plat_lasterror());
        // Back under the name it had, as the directory stored it.
        std::wstring back = std::wstring(olddir) + (olddir[std::wcslen(olddir) - 1] == L'\\' ? L"" : L"\\") + disk;
        if (!MoveFileExW(tmp, back.c_str(), 0))
            MoveFileExW(tmp, from, 0);
        plat_setlasterror(keep);
        return -1;
    }
    return 0;
}

// 1 when both paths name one entry (their full paths differ at most in
// letter case), 0 when not, -1 on an error.
int same_entry(const wchar_t *a, const wchar_t *b) {
    wchar_t fa[WPATH_SIZE], fb[WPATH_SIZE];
    if (wfull(a, fa, WPATH_SIZE) < 0 || wfull(b, fb, WPATH_SIZE) < 0)
        return -1;
    return _wcsicmp(fa, fb) == 0;
}

// What changes when anyone writes to a file, read by its path.
struct State {
    BY_HANDLE_FILE_INFORMATION info;
    LARGE_INTEGER change;
};

int state_of(const wchar_t *w, State *s) {
    HANDLE h = CreateFileW(w, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    FILE_BASIC_INFO basic;
    BOOL ok = GetFileInformationByHandle(h, &s->info) &&
              GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic);
    CloseHandle(h);
    s->change = basic.ChangeTime;
    return ok ? 0 : -1;
}

int same_state(const State *a, const State *b) {
    return a->info.dwVolumeSerialNumber == b->info.dwVolumeSerialNumber &&
           a->info.nFileIndexHigh == b->info.nFileIndexHigh &&
           a->info.nFileIndexLow == b->info.nFileIndexLow &&
           a->info.nFileSizeHigh == b->info.nFileSizeHigh &&
           a->info.nFileSizeLow == b->info.nFileSizeLow &&
           CompareFileTime(&a->info.ftLastWriteTime, &b->info.ftLastWriteTime) == 0 &&
           a->change.QuadPart == b->change.QuadPart;
}

// Removes a copy of ours that is not to stay.
void drop_copy(const wchar_t *w) {
    unsigned keep = plat_lasterror();
    SetFileAttributesW(w, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(w);
    temp_forget(w);
    plat_setlasterror(keep);
}

// Puts the data on disk before the source goes.
int flush_path(const wchar_t *w) {
    HANDLE h = CreateFileW(w, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return fail_sys();
    BOOL ok = FlushFileBuffers(h);
    CloseHandle(h);
    return ok ? 0 : fail_sys();
}

// Deletes the source of a move to another volume, whose marks were
// `marks`. A read-only file moves as a rename would move it, keeping its
// mark (the copy has it): the source's mark is cleared for the delete, and
// put back should the file stay all the same.
int drop_source(const wchar_t *from, DWORD marks) {
    DWORD ro = marks & FILE_ATTRIBUTE_READONLY;
    if (ro && !SetFileAttributesW(from, marks & ~ro ? marks & ~ro : FILE_ATTRIBUTE_NORMAL))
        return fail_sys();
    if (!DeleteFileW(from))
        set_sys_error();
    else if (still_there(from))
        plat_setlasterror(PLAT_ERR_ACCESS_DENIED);
    else
        return 0;
    if (ro) {
        unsigned keep = plat_lasterror();
        SetFileAttributesW(from, marks);
        plat_setlasterror(keep);
    }
    return -1;
}

// Another volume: the file is copied (data, times, attributes) under a
// temporary name beside `to`, put on disk, renamed into place without
// replacing anything, and only then is the source deleted, and only when
// nobody wrote to it meanwhile. Any failure removes the copy and leaves
// the source.
int move_across(const wchar_t *from, const wchar_t *to) {
    wchar_t full[WPATH_SIZE], dir[WPATH_SIZE], tmp[WPATH_SIZE];
    const wchar_t *name;
    State before, after;
    if (GetFileAttributesW(to) != INVALID_FILE_ATTRIBUTES) { // no copy made in vain
        plat_setlasterror(PLAT_ERR_ALREADY_EXISTS);
        return -1;
    }
    if (wfull(to, full, WPATH_SIZE) < 0 || wsplit(full, dir, WPATH_SIZE, &name) != 0)
        return -1;
    if (state_of(from, &before) != 0)
        return fail_sys();
    HANDLE h = create_temp(dir, L"_MOX_", tmp, WPATH_SIZE);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    CloseHandle(h);
    // The copy is written to disk while it can still be opened for writing,
    // and only then takes the source's marks: not every CopyFileW carries
    // them over (Wine's drops hidden and system), and one that does makes a
    // read-only copy that cannot be flushed.
    DWORD marks = before.info.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    if (!CopyFileW(from, tmp, FALSE) || !SetFileAttributesW(tmp, FILE_ATTRIBUTE_NORMAL) ||
        flush_path(tmp) != 0 || !SetFileAttributesW(tmp, marks ? marks : FILE_ATTRIBUTE_NORMAL)) {
        set_sys_error();
        drop_copy(tmp);
        return -1;
    }
    if (!MoveFileExW(tmp, full, 0)) { // someone took the name: theirs stays
        set_sys_error();
        drop_copy(tmp);
        return -1;
    }
    temp_forget(tmp);
    int gone = state_of(from, &after) != 0;
    if (gone)
        return 0; // the copy may be the only one left
    if (!same_state(&before, &after)) {
        plat_setlasterror(PLAT_ERR_SHARING_VIOLATION);
        drop_copy(full);
        return -1;
    }
    if (drop_source(from, marks) != 0) { // the move fails whole instead of leaving two
        drop_copy(full);
        return -1;
    }
    return 0;
}

} // namespace

int plat_delete(const char *path) {
    if (fail_now(PLAT_CALL_DELETE))
        return -1;
    wchar_t w[WPATH_SIZE];
    DWORD a;
    if (wpath(path, w, WPATH_SIZE) < 0 || attrib_of(w, &a) < 0)
        return -1;
    // A directory, or a link that stands for one, is not a file to delete.
    if (a & FILE_ATTRIBUTE_DIRECTORY) {
        plat_setlasterror(PLAT_ERR_ACCESS_DENIED);
        return -1;
    }
    if (entry_is_link(w, a))
        return delete_link(w);
    // Windows keeps a read-only file; Wine run by root deletes it.
    if (a & FILE_ATTRIBUTE_READONLY) {
        plat_setlasterror(PLAT_ERR_ACCESS_DENIED);
        return -1;
    }
    if (!DeleteFileW(w))
        return fail_sys();
    // Wine reports success for a file it could not delete (immutable).
    if (still_there(w)) {
        plat_setlasterror(PLAT_ERR_ACCESS_DENIED);
        return -1;
    }
    temp_forget(w);
    return 0;
}

int plat_move(const char *from, const char *to) {
    if (fail_now(PLAT_CALL_MOVE))
        return -1;
    wchar_t wf[WPATH_SIZE], wt[WPATH_SIZE];
    DWORD a;
    if (wpath(from, wf, WPATH_SIZE) < 0 || wpath(to, wt, WPATH_SIZE) < 0 || attrib_of(wf, &a) < 0)
        return -1;
    // Wine would move the file a link names, not the link. A copy of ours
    // on its way into place is no link: the walk's hot path asks nothing.
    if (under_wine() && !(a & FILE_ATTRIBUTE_DIRECTORY) && !temp_known(wf) &&
        entry_is_link(wf, a)) {
        plat_setlasterror(PLAT_ERR_ACCESS_DENIED);
        return -1;
    }
    int same = same_entry(wf, wt);
    if (same < 0)
        return -1;
    if (same)
        return respell(wf, wt);
    if (MoveFileExW(wf, wt, 0)) {
        temp_forget(wf);
        return 0;
    }
    if (GetLastError() != ERROR_NOT_SAME_DEVICE || (a & FILE_ATTRIBUTE_DIRECTORY))
        return fail_sys();
    return move_across(wf, wt);
}

int plat_replace(const char *from, const char *to) {
    if (fail_now(PLAT_CALL_REPLACE))
        return -1;
    wchar_t wf[WPATH_SIZE], wt[WPATH_SIZE];
    DWORD a;
    if (wpath(from, wf, WPATH_SIZE) < 0 || wpath(to, wt, WPATH_SIZE) < 0 || attrib_of(wf, &a) < 0)
        return -1;
    // A read-only file is not replaced, as it is not deleted; a link at
    // `to` is replaced as an entry (a rename never goes through it).
    DWORD old = GetFileAttributesW(wt);
    if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY) && !entry_is_link(wt, old)) {
        plat_setlasterror(PLAT_ERR_ACCESS_DENIED);
        return -1;
    }
    if (!MoveFileExW(wf, wt, MOVEFILE_REPLACE_EXISTING))
        return fail_sys();
    temp_forget(wf);
    return 0;
}

int plat_fileid(const char *path, PlatFileId *id) {
    wchar_t w[WPATH_SIZE];
    if (wpath(path, w, WPATH_SIZE) < 0)
        return -1;
    HANDLE h = CreateFileW(w, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return fail_sys();
    BY_HANDLE_FILE_INFORMATION info;
    BOOL ok = GetFileInformationByHandle(h, &info);
    if (!ok)
        set_sys_error();
    CloseHandle(h);
    if (!ok)
        return -1;
    id->device = info.dwVolumeSerialNumber;
    id->inode = (unsigned long long)info.nFileIndexHigh << 32 | info.nFileIndexLow;
    return 0;
}

int plat_islink(const char *path) {
    wchar_t w[WPATH_SIZE];
    if (wpath(path, w, WPATH_SIZE) < 0)
        return 0;
    DWORD a = GetFileAttributesW(w);
    return a != INVALID_FILE_ATTRIBUTES && entry_is_link(w, a);
}

int plat_copylink(const char *link, const char *dir, const char *prefix, char *path, size_t size) {
    (void)dir;
    (void)prefix;
    wchar_t w[WPATH_SIZE];
    DWORD a;
    if (wpath(link, w, WPATH_SIZE) < 0 || attrib_of(w, &a) < 0)
        return -1;
    if (path != nullptr && size > 0)
        path[0] = '\0';
    // Making a link needs a privilege most users lack, and Wine cannot read
    // one's target back: a link is not carried to another volume. The move
    // fails and the link stays where it was.
    plat_setlasterror(entry_is_link(w, a) ? 50 : PLAT_ERR_ACCESS_DENIED); // ERROR_NOT_SUPPORTED
    return -1;
}
