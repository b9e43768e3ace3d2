// What the POSIX backend's files share: the translation between DOS paths
// and native ones, the last error and the failure hooks.
//
// ---- how the backend is built, from the bottom up ----------------------------
//
//   text        encoding.cpp (the code page 932 boundary), fold.cpp (names
//               ordered and matched ignoring case)
//   entries     entry.cpp (what one entry is: its stat, its DOS marks, its
//               attribute word), drivemap.cpp (letters to directories)
//   cache       dircache.cpp and dirread.cpp over dirnames.cpp (the
//               directories the backend works in, and their names)
//   paths       paths.cpp (DOS paths resolved to a directory and a name),
//               lookup.cpp (what the cache learns of paths), temps.cpp
//               (temporary names), across.cpp (a move between file systems)
//   services    one file per group of platform.h, named as on Windows:
//               startup, console, errors, drives, find, held, attrib, dirs,
//               names, files, newfile, perms, copy, space, recycle, stdin
//
// Each layer calls only those below it.
//
// ---- what is remembered, and what keeps it true ---------------------------------
//
// The directory cache (dircache.h): for each directory the backend works
// in, its descriptor and identity, the names it holds with what is known
// of each (NameInfo), its change times, and whether this run made it. The
// backend's own creates, renames and removals are told to it at once
// (at_added, at_removed, dir_made); someone else's change shows in the
// directory's change times, looked at before a name not found is taken
// for missing, and at each typed path (still_there); a directory opened
// again must still be the same one; a file that takes a name meanwhile
// meets the no-replace rename or link that ends every write.
// The path memo (paths.cpp): the DOS text of a directory with its native
// path and cached directory. It holds while the cache forgets no
// directory by its path, makes none that was missing, and drops none
// (dir_generation, dir_makes, dir_epoch); a typed path forgets it.
// The last source opened (files.cpp), the temporary file made last and the
// file put in place from it or moved by a rename (temps.cpp), the new file
// being written (newfile.cpp): what the backend did itself a moment ago,
// asked about right after by the same path or handle, so that no call asks
// the kernel what the backend already knows. Each is replaced by the next
// of its kind.
// The drive map (drivemap.cpp): read once; plat_reload reads it again and
// forgets everything above.
//
// A service follows one pattern: resolve_at() the path (the cache answers
// what it can), act with one *at call from at_fd() (the directory's own
// descriptor: never the whole native path, which a directory swapped for
// a link would lead elsewhere), tell the cache what changed (at_added,
// at_removed), and report failure through set_errno_error and its kin.
#pragma once

#include <cstddef>

#include <sys/stat.h>

#include "platform/platform.h"
#include "platform/common/failhooks.h"
#include "platform/common/sortkey.h"

enum { NATIVE_PATH_SIZE = 4096 };

// Translates a DOS path (relative ones against the per-drive current
// directories) or a native absolute path into the native absolute path it
// names: existing components spelled as they are on disk (found ignoring
// case through the lookup cache), missing ones kept as typed, all in the
// external encoding. Returns the length, or -1 with the last error set
// (unmapped drive 3, too long 206).
int native_path(const char *path, char *out, size_t size);

// Full-path expansion of what a user typed (plat_fullpath), against the
// disk as it is now: the directories met before are looked at again
// before they are used, a look at each and not a read of its names.
int typed_path(const char *path, char *out, size_t size);

// plat_nativepath: the core's text of a path in the system's own form,
// resolved as the kernel resolves it. (shellpath.cpp)
int shell_path(const char *path, char *out, size_t size);

// The canonical DOS spelling of a native absolute path (code page 932), or
// -1 when it lies on no mapped drive (last error 3) or does not fit (206).
int dos_path(const char *native, char *out, size_t size);

// dos_path for a directory, remembered for the next call with the same one.
int dos_dir_path(const char *native, char *out, size_t size);

// A path resolved to the directory that holds its final name, so that a
// service acts on it with one *at call from that directory's descriptor.
struct Dir;
struct At {
    Dir *dir;      // the directory of the final name; null when there is
                   // none to act from: act on `native` then
    int index;     // the final name's entry in dir, -1 when none
    int looked;    // index answers a look-up: -1 means there is no such entry
    int nodir;     // the directory of the final name does not exist
    size_t dirlen; // where the final name begins in native
    char native[NATIVE_PATH_SIZE]; // the whole native path, as native_path gives it
};
// Resolves path as native_path does, from the directories resolved before
// where it can, and learns what learn (KNOWN_* bits of dircache.h) asks of
// an existing final entry. 0, or -1 with the last error set.
int resolve_at(const char *path, unsigned learn, At *at);
// The final name of a resolved path (external bytes).
inline const char *at_name(const At *at) { return at->native + at->dirlen; }
// What a resolved path is acted on from: the descriptor of its directory,
// with its final name in *name, or AT_FDCWD with the whole native path.
int at_fd(const At *at, const char **name);
// Notes the backend's own creation or removal of the resolved path's
// entry (isdir: a directory) in what is cached.
void at_added(const At *at, int isdir);
void at_removed(const At *at, int isdir);

// ---- the drive map (drives.cpp), for the resolution of paths (paths.cpp) ----

// Reads MOX32_DRIVES and the working directory unless done already
// (drives_ensure), or anew (drives_load).
void drives_ensure(void);
void drives_load(void);
// The working directory the map was read with (native), "" when unknown.
const char *work_dir(void);
// The native directory of a mapped drive letter (either case), or null.
const char *drive_dir(int letter);
// The index (0 for A) of the drive whose directory is the longest prefix
// of a native path at a component boundary, or -1.
int drive_index(const char *native);
// The current drive's letter, 0 when the working directory is on none.
int cur_letter(void);
// Its current directory below its root in DOS form; *toolong when that
// has no DOS form that fits.
const char *cur_dir(int *toolong);

// Sets the last error from an errno value through the one mapping table.
void set_errno_error(int err);

// A read of at most len bytes, tried again when a signal cuts it short:
// the bytes read, 0 at the end, or -1 with the last error set.
long read_some(int fd, void *buf, unsigned long len);
// Writes all len bytes: len, or -1 with the last error set (112 when a
// write makes no progress). Neither counts as a call for the test hooks.
long write_all(int fd, const void *buf, unsigned long len);

// Keeps the case-insensitive lookup cache true after the backend itself
// created, removed or renamed the entry at a whole native path; isdir
// tells whether the entry is (or was) a directory, which drops what was
// cached below it. A directory the backend made itself is known to be
// empty (lookup_made_path).
void lookup_added_path(const char *native, int isdir);
void lookup_removed_path(const char *native, int isdir);
void lookup_made_path(const char *native);

// renameat(2) that refuses to replace an existing `to`: atomically where
// the file system knows RENAME_NOREPLACE; elsewhere a file is linked under
// the new name and the old one dropped, and what cannot be linked is
// renamed after a look that the name is free. 0, or -1 with errno set
// (EEXIST when taken). (names.cpp)
int rename_noreplace(int ffd, const char *from, int tfd, const char *to, int isdir);

// Sets the last error for a rename to `to` that failed with err, as
// Windows tells it (183 taken, 17 another file system). (across.cpp)
void set_move_error(const char *to, int err);

// Moves the entry f (whose own stat is st: a file or a link) to t on
// another file system: copied beside t and renamed into place without
// replacing, then deleted, unless it changed while it was copied (32).
// 0, or -1 with nothing left of the copy. (across.cpp)
int move_across(const At *f, const At *t, const struct stat *st);

// Unlinks the entry name of the directory open as dirfd only while it is
// the file whose state want holds (identity, size, times), never a file
// renamed over the name meanwhile; with keepro not when it is read-only
// (EACCES). 0; 1 when another file or a changed one is there (it stays,
// under its name unless another took that too); -1 with errno set.
// (across.cpp)
int unlink_same(int dirfd, const char *name, const PlatFileState *want, int keepro);

// The directory that path names, opened; null with the last error set.
// (lookup.cpp)
struct Dir;
Dir *dir_of_path(const char *path);

// Sets the last error for a native path that does not exist: 2 when its
// directory exists, 3 when the directory is missing too, as Windows tells
// a missing file from a missing path.
void set_missing_error(const char *native);

// ---- shared between the backend's own files ---------------------------------

// 1 when the native directory is the directory of a mapped drive (a listing
// there has no "." and ".." entries), else 0.
int native_isroot(const char *native);

// Looks `name` (external bytes) up in the native directory `dir`: the exact
// name when it exists, else the first entry in listing order that matches
// it ignoring case. 1 with the stored spelling in out, 0 when nothing
// matches, -1 with errno set when the directory cannot be read.
int lookup_name(const char *dir, const char *name, char *out, size_t size);


// How many times the backend has read a whole directory (tests use it to
// prove that probes do not rescan).
unsigned long lookup_scans(void);

// Drops every cached directory (plat_reload).
void lookup_forget(void);

// Forgets the DOS directories resolved before (plat_reload).
void memo_forget(void);

// ---- temporary files and the signals that end a run ---------------------------

// The file plat_open opened for reading last (files.cpp): its size while
// nothing has been read from it (1, else 0), its stat at the open while
// nothing has been read (else null), and that stat when native is its path
// (else null). opened_read notes that data was read.
int opened_size(int handle, long long *size);
const struct stat *opened_stat(int handle);
const struct stat *opened_model(const char *native);
// The same asked by the path the core opened it by.
const struct stat *opened_model_dos(const char *path);
void opened_read(int handle);

// The temporary file plat_opentemp made last, the mode the backend gave it
// (files.cpp), and the file put in place from it by a rename of the
// backend: until someone else changes them, their attributes are what the
// backend made them, and setting the same again needs no look.
void temp_made(int handle, const char *native);
void temp_moded(int handle, unsigned mode);
void temp_placed(const char *from, const At *to, const char *todos);
// The same for a file the backend has just renamed from a name whose mode
// and marks its directory's listing knew: the inode and its marks moved.
void temp_moved(const At *to, const char *todos, unsigned mode, unsigned marks);
// The same for a new file (newfile.cpp): closed, then named `name` in dir.
void temp_closed(int handle);
void temp_placed_at(const Dir *dir, const char *name, const char *dos);
// The directory where the network path \\server\share\rest is reached
// (shares.cpp), into dir, and *rest set to the part below it; -1 with the
// last error set, and the share named on standard error, when it is
// mounted nowhere and mapped to nothing.
int share_dir(const char *path, char *dir, size_t size, const char **rest);

// The path the core gave for the new file open as handle, or null when
// handle is no new file (newfile.cpp).
const char *newfile_dos(int handle);
// 1 with its mode and marks (none for a new copy) when the resolved path is
// the file just put in place, else 0. Asked once.
int temp_placed_mode(const At *at, unsigned *mode, unsigned *marks);
// The same asked by the path the core put it in place by, before any
// look-up: 1 with its mode, marks and its name on disk, else 0. Asked once.
int temp_placed_path(const char *dos, unsigned *mode, unsigned *marks, const char **name);

// Sets the last error for a failed open of native with errno err: 2 or 3
// for a missing one, 5 for a directory. (errors.cpp)
void set_open_error(const char *native, int err);

// Copies text into a buffer of size bytes when it fits, else leaves it
// empty (what is not kept is looked up the long way). (temps.cpp)
void keep_text(char *buf, size_t size, const char *text);

// Six characters that differ from call to call and from process to
// process, upper case and digits only. (temps.cpp)
void fill_unique(char *p);
// Writes "<ndir>/<nprefix>XXXXXX" into native; the length, whose last six
// characters the caller fills until the name is free, or -1 (206).
int temp_template(const char *ndir, const char *nprefix, char *native, size_t size);
// Hands a path the backend made back to the core: its DOS spelling, or the
// native path itself (converted) when it lies on no drive. -1 when neither
// fits.
int core_path(const char *native, char *out, size_t size);
// A new link "<nprefix>XXXXXX" to target in the directory open as dirfd
// (native path ndir), remembered as a temporary file; its path in native.
// 0, or -1 with the last error set.
int create_templink(const char *target, int dirfd, const char *ndir, const char *nprefix,
                    char *native, size_t size);

// Creates a new file "<nprefix>XXXXXX" (external encoding) with O_EXCL in
// the directory open as dirfd, whose native path is ndir: readable by its
// owner alone, since it holds a copy of someone's data while it is written
// and a run that is interrupted leaves it behind (the caller gives it its
// final mode once it is complete). Its name goes into name (NAME_MAX + 1
// bytes), its path into native, and it is remembered as a temporary file
// (temp_remember). The descriptor, open for writing, or -1 with the last
// error set. (files.cpp)
int create_temp_at(int dirfd, const char *ndir, const char *nprefix, char *name,
                   char *native, size_t size);

// (signals.cpp) The run's own temporary files: remembered from their creation until they
// are renamed into place or deleted, and removed by the handler of the
// signals that end a run (SIGINT, SIGTERM, SIGHUP, SIGQUIT), which then
// lets the signal end the process as it would have. Forgetting a path that
// is not remembered does nothing.
void temp_remember(const char *native);
void temp_forget(const char *native);

// Installs that handler once, for the rest of the process; a signal the
// user left ignored (nohup) stays ignored.
void signals_hook(void);

// Called by the handler (so async-signal-safe): puts the terminal back in
// its own mode when a key read left it raw (console.cpp).
void console_on_signal(void);
