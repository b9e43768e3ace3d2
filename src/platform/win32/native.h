// What the Win32 backend's files share: the text boundary (UTF-16 on the
// system's side), the last error, the failure hooks, the guards against
// Wine's ways with links, and the run's temporary files.
//
// Handles given to the core are the system's handles as ints: 64-bit
// Windows keeps handle values within 32 bits so that they can be passed
// between 32- and 64-bit processes.
#pragma once

#include <cstddef>

#include <windows.h>

#include "platform/platform.h"
#include "platform/common/failhooks.h"

// Room for a path handed to a "W" call: the core's paths are at most 260
// characters, a temporary file's a little longer, and a path of 260 or more
// is prefixed with \\?\ to pass at all.
enum { WPATH_SIZE = 2048 };

// ---- text (wide.cpp) -------------------------------------------------------

// Builds the code page 932 tables from the system's converter. 0, or -1.
int wide_init(void);

// Code page 932 text (len bytes) into UTF-16 at out (cap units with the
// terminator). Strict: text that is no code page 932 (or a raw-byte escape,
// which no UTF-16 name holds) fails. Lenient: writes U+FFFD for it instead
// (printing). The length, or -1 (strict failure or no room).
int core_to_wide(const char *core, size_t len, wchar_t *out, size_t cap, int lenient);

// UTF-16 (len units) into code page 932 at out (cap bytes with the
// terminator); a lone surrogate travels as an escape. The length, or -1
// when it does not fit.
int wide_to_core(const wchar_t *w, size_t len, char *out, size_t cap);
// The same into a new malloc buffer; null without memory.
char *wide_to_core_dup(const wchar_t *w, size_t len);

// Columns the core text takes on a console (a wide character 2, a
// combining mark 0).
int wide_columns(const char *core, size_t len);

// The sort key of a UTF-16 name (platform/common/sortkey.h), folded or
// exact. The key's length, or -1 when it does not fit.
int wide_sortkey(const wchar_t *name, int folded, char *key, size_t cap);

// ---- paths (paths.cpp) -----------------------------------------------------

// A core path (a DOS path, or \\?\ and a native one) as a path for a "W"
// call: converted, and from 260 characters on made full and prefixed with
// \\?\. -1 with the last error set (123 not a name, 206 too long).
int wpath(const char *path, wchar_t *out, size_t cap);

// Splits a full wide path into its directory and its final name (the
// directory keeps its separator only at a drive root). -1 when no
// separator is found or the directory does not fit.
int wsplit(const wchar_t *path, wchar_t *dir, size_t cap, const wchar_t **name);

// The full path of p (GetFullPathNameW). Its length, or -1 (last error set).
int wfull(const wchar_t *p, wchar_t *out, size_t cap);

// ---- errors (errors.cpp) ---------------------------------------------------

// Sets the last error from GetLastError().
void set_sys_error(void);
// set_sys_error, then -1: what a failed service returns.
int fail_sys(void);
// Sets the last error for a path that does not exist: 2 when its directory
// exists, 3 when the directory is missing too.
void set_missing_error(const wchar_t *path);


// ---- deleting (names.cpp) ----------------------------------------------------

// After a delete of w that reported success: 0 when the entry is gone, 1
// when it still stands. Under Wine a case twin answering to w's name is
// not the deleted entry.
int still_there(const wchar_t *w);

// ---- links under Wine (links.cpp) -------------------------------------------

// 1 when running under Wine. Wine shows a symbolic link to a file as the
// file itself (no reparse bit) and deletes, renames and marks the target
// when asked to act on the link: every call that would act on an entry
// asks entry_is_link first.
int under_wine(void);

// 1 when the final component of the path is a symbolic link (a link
// to a directory, a junction, or under Wine a link to a file), given its
// attributes. 0 otherwise.
int entry_is_link(const wchar_t *path, DWORD attrib);

// Removes a file link as an entry, leaving its target alone. 0, or -1.
int delete_link(const wchar_t *path);

// ---- attributes (attrib.cpp) --------------------------------------------------

// The attribute word the core sees for the system's attributes: read-only,
// hidden, system, directory, archive, and reparse for a link to a
// directory only (a link to a file is listed as a file, as on posix);
// NORMAL when none is set.
unsigned core_attrib(DWORD attrib);

// ---- temporary files (files.cpp, signals.cpp) -------------------------------

// Creates a new file "<dir>\<prefix>XXXXXX" with CREATE_NEW, remembered as
// a temporary file. Its handle, or INVALID_HANDLE_VALUE with the last error
// set; its full path in path.
HANDLE create_temp(const wchar_t *dir, const wchar_t *prefix, wchar_t *path, size_t cap);

// A read of at most len bytes: the bytes read, 0 at the end, or -1.
// Writes all len bytes: len, or -1 (112 when a write makes no progress).
// Neither counts as a call for the test hooks. (files.cpp)
long raw_read(int handle, void *buf, unsigned long len);
long raw_write(int handle, const void *buf, unsigned long len);

// The run's own temporary files, from their creation until they are
// renamed into place or deleted; the console control handler deletes them
// when Ctrl-C, Ctrl-Break, closing the console, a logoff or a shutdown
// ends the process. Paths are full paths; forgetting one that is not
// remembered does nothing.
void temp_remember(const wchar_t *path);
void temp_forget(const wchar_t *path);
// 1 when the path is one of those files (made with CREATE_NEW: no link).
int temp_known(const wchar_t *path);

// Installs that handler once, for the rest of the process.
void signals_hook(void);

// Puts the console's input mode back when a key read changed it, and
// blanks the status line of a long copy (console.cpp); called by the
// control handler.
void console_on_ctrl(void);

inline HANDLE to_handle(int h) { return (HANDLE)(intptr_t)h; }
inline int from_handle(HANDLE h) { return (int)(intptr_t)h; }
