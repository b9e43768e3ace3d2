// The services mox32 needs from the operating system. This header is the
// whole contract between the core and a backend (posix now, win32 later):
// the core includes no operating-system header and sees no native type.
//
// Text crossing this boundary is in code page 932 on the core's side. A
// backend converts to and from the user's own encoding (the locale's
// codeset on POSIX) losslessly: whatever the core receives can be given
// back and turns into the original bytes again.
#pragma once

#include <cstddef>

// Standard stream numbers, as the C runtime numbers them.
enum { PLAT_STDIN = 0, PLAT_STDOUT = 1, PLAT_STDERR = 2 };

// ---- start-up and the text boundary ---------------------------------------

// Prepares the backend (locale, encoding tables) and converts the argument
// vector into code page 932. *cpargv receives a null-terminated vector owned
// by the backend until plat_shutdown. Returns 0, or -1 after printing why on
// standard error (no memory, no converter for the locale's encoding).
int plat_startup(int argc, char **argv, char ***cpargv);

// Flushes both output streams and releases what plat_startup made.
void plat_shutdown(void);

// 1 when "/" separates the components of the system's own paths as "\"
// does (POSIX: a program started as /usr/bin/mox32 is named mox32), 0
// where only "\" does (Windows).
int plat_slashsep(void);

// Writes len bytes of code page 932 text to PLAT_STDOUT or PLAT_STDERR,
// converted into the user's encoding. Never fails as far as the core can
// tell: a stream that cannot be written is ignored, as printf would.
void plat_write(int stream, const char *text, size_t len);

// Flushes PLAT_STDOUT or PLAT_STDERR.
void plat_flush(int stream);

// Columns that len bytes of code page 932 text take on the user's terminal
// once written with plat_write, as the locale counts character widths (a
// wide character 2, a combining mark 0). Where the locale knows no width, a
// double-byte character counts 2 and anything else 1. Lines up a mark
// under a character of what was printed above it.
int plat_textwidth(const char *text, size_t len);

// Converts len bytes of text in the user's encoding (a line of a list
// file) into code page 932 at out (size bytes with the terminator). Returns
// the length, or -1 when it does not fit or holds a NUL byte (the core's
// text ends at its first NUL: what follows would be lost unseen).
int plat_importtext(const char *text, size_t len, char *out, size_t size);

// 1 when the standard stream (PLAT_STDIN, PLAT_STDOUT, PLAT_STDERR) is a
// character device (a terminal, /dev/null), 0 when it is a file or a pipe
// or is closed.
int plat_ischardev(int stream);

// The width in columns of the terminal that the standard stream
// (PLAT_STDIN, PLAT_STDOUT, PLAT_STDERR) is, 80 when the terminal does not
// tell; 0 when the stream is no terminal (a file, a pipe, /dev/null or
// another device) or is closed.
int plat_termcolumns(int stream);

// The status line of a long copy (out.h) now covers the first `columns`
// columns of the terminal's current line on standard error; 0 when none
// stands. When a signal ends the process while one stands (SIGINT, SIGTERM,
// SIGHUP; on Windows Ctrl-C, Ctrl-Break, closing the console), the backend
// blanks it, as it puts the terminal's mode back, so that no half-drawn
// line stays beside the shell's next prompt.
void plat_statuscolumns(int columns);

// ---- console keys -----------------------------------------------------------

// Reads one key press from the console itself (never from standard input,
// which may be redirected), without echo and without waiting for Enter.
// Enter gives 13, Esc 27. A key that produces no character (an arrow, a
// function key) gives 0 and, at the next call, a scan code. Returns -1 when
// there is no console to read from; the console mode is restored before it
// returns, and also if the process is interrupted while waiting.
int plat_readkey(void);

// 1 when a key press is waiting at the console, 0 when none is, -1 when
// there is no console.
int plat_keyhit(void);

// ---- clock ------------------------------------------------------------------

// A moment as a file system stores it: seconds since 1970-01-01 00:00 UTC
// (negative before) and nanoseconds 0..999999999. Any year; no time zone.
struct PlatFileTime {
    long long sec;
    long nsec;
};

// The local date and time now (month 1..12, day 1..31).
struct PlatTime {
    int year, month, day, hour, minute, second;
};
void plat_localtime(PlatTime *now);

// Milliseconds since some fixed moment, never going back: setting the
// system's clock does not move it. Cheap enough to read once per chunk of
// a copy (no system call where the system allows that); its grain may be a
// few milliseconds.
long long plat_clockms(void);

// ---- errors -------------------------------------------------------------------

// Every service below that fails sets a last-error code in Win32 numbering,
// so that messages print the same number on every platform.
enum {
    PLAT_ERR_FILE_NOT_FOUND = 2,
    PLAT_ERR_PATH_NOT_FOUND = 3,
    PLAT_ERR_ACCESS_DENIED = 5,
    PLAT_ERR_NOT_ENOUGH_MEMORY = 8,
    PLAT_ERR_NOT_SAME_DEVICE = 17,
    PLAT_ERR_NO_MORE_FILES = 18,
    PLAT_ERR_SHARING_VIOLATION = 32,
    PLAT_ERR_FILE_EXISTS = 80,
    PLAT_ERR_INVALID_PARAMETER = 87,
    PLAT_ERR_DISK_FULL = 112,
    PLAT_ERR_INVALID_NAME = 123,
    PLAT_ERR_DIR_NOT_EMPTY = 145,
    PLAT_ERR_ALREADY_EXISTS = 183,
    PLAT_ERR_FILENAME_TOO_LONG = 206,
    PLAT_ERR_DIRECTORY = 267,      // a directory where a file was expected
    PLAT_ERR_DIR_CHANGED = 1006,   // a directory held or looked at is no longer there
    PLAT_ERR_CANT_RESOLVE = 1921,  // a link loop
};

unsigned plat_lasterror(void);
void plat_setlasterror(unsigned code);
// The system's text for an error code, without a final line end; always
// terminated, cut to fit.
void plat_errortext(unsigned code, char *out, size_t size);

// ---- paths and drives -------------------------------------------------------
//
// Paths given to the services are DOS paths (X:\dir\name, or relative ones
// resolved against the current directory of the drive), or native absolute
// paths beginning with "/". Names are found ignoring letter case, as on
// Windows: an exact match wins, otherwise the first entry in listing order.

enum {
    PLAT_PATH_SIZE = 261,    // a full path of 260 characters and its terminator
    PLAT_NATIVE_SIZE = 4096, // a native path a service may hand back
};

// Drive types, numbered as Win32 numbers them.
enum {
    PLAT_DRIVE_UNKNOWN = 0,
    PLAT_DRIVE_NO_ROOT_DIR = 1,
    PLAT_DRIVE_REMOVABLE = 2,
    PLAT_DRIVE_FIXED = 3,
    PLAT_DRIVE_REMOTE = 4,
    PLAT_DRIVE_CDROM = 5,
    PLAT_DRIVE_RAMDISK = 6,
};

// Type of the drive whose root is given ("C:\", "c:" or "C"): NO_ROOT_DIR
// for a letter that is not mapped or whose directory is missing.
int plat_drivetype(const char *root);

// Letter ('A'..'Z') of the drive that holds the current directory; 0 when
// the working directory lies on no mapped drive (last error 3).
int plat_curdrive(void);

// The working directory the drives were read with, as a native path in
// code page 932 text, for a message that must show it even when it lies on
// no drive (and so has no DOS spelling). Its length, or -1 (unknown, or no
// room: last error set).
int plat_workdir(char *out, size_t size);

// The current directory of drive `letter` without its "X:\" prefix ("" at
// the root) into out. 0, or -1 (unmapped drive, no room: last error set).
int plat_getcurdir(int letter, char *out, size_t size);

// Full-path expansion as Win32 does it ("/" is "\", repeated separators
// collapse, "." and ".." resolve and never climb above the root, the final
// component loses trailing dots and spaces, "X:name" is relative to drive
// X's current directory, "\name" lies on the current drive), then respelled
// in its one canonical form: the drive whose directory is the longest
// prefix of the native path. Letter case is kept as typed. Returns the
// length, or -1 (result of 260 characters or more: 206; unmapped drive or a
// native path on no drive: 3).
int plat_fullpath(const char *path, char *out, size_t size);

// The paths a user gives in the system's own form (an argument after --,
// a list line that begins with "/") mean what the system's shell means by
// them. On POSIX one that begins with "/" is absolute, any other is
// relative to the process's working directory; the directories on the way
// are resolved as the kernel resolves them (a ".." after a link climbs
// from where the link led, as `ls` would), missing ones as if made; the
// final component is kept as given (a wildcard pattern, a name still to be
// made, a link to be looked at rather than followed) unless it is "." or
// "..". The result is the canonical DOS spelling plat_fullpath gives. On
// Windows, whose own paths are DOS paths, it is plat_fullpath.
// Returns the length, or PLAT_NATIVE_BACKSLASH when a component holds a
// backslash (a character of a POSIX name, which no DOS path can spell),
// PLAT_NATIVE_ENDDOT or PLAT_NATIVE_ENDSPACE when the final component ends
// in a dot or a space (full-path expansion would drop it and name another
// file), or -1 with the last error (3 on no drive, 206 too long).
enum { PLAT_NATIVE_BACKSLASH = -2, PLAT_NATIVE_ENDDOT = -3, PLAT_NATIVE_ENDSPACE = -4 };
int plat_nativepath(const char *path, char *out, size_t size);

// ---- names -------------------------------------------------------------------
//
// Which names are the same, and in what order they list: one rule for the
// whole program, the one by which a listing sorts and a look-up matches,
// the same on every backend. Names (and paths) are the core's text, read
// character by character (an escape pair is the one character it
// carries); letter case is folded by the program's own table, never from
// beyond ASCII into it (the dotless i is not I), and characters order as
// their Unicode code points. A text ends at its length or its first NUL.

const size_t PLAT_WHOLE = ~(size_t)0; // a length: up to the NUL

// Listing order of two names (<0, 0, >0): by their folded characters; two
// names that differ only in case by the first character that differs, as
// the exact names sort; different bytes of one character last.
int plat_namecmp(const char *a, const char *b);
// 1 when the two texts are the same name (or path) ignoring letter case.
int plat_namesame(const char *a, size_t alen, const char *b, size_t blen);
// A hash of the text with letter case folded, never 0: equal for texts
// that plat_namesame calls the same.
unsigned long long plat_namehash(const char *text, size_t len);

// ---- listing ----------------------------------------------------------------

// One listed entry. The last write is given twice: as DOS words in local
// time (what is compared and shown) and exactly (what a copy is given).
struct PlatFileId {
    unsigned long long device, inode;
};
struct PlatEntry {
    unsigned attrib;
    unsigned long long size; // bytes
    unsigned short time, date;
    PlatFileTime mtime;
    PlatFileId id;           // a directory's, for plat_holddir; zero where unknown
    int toolong;             // the name does not fit: `name` is cut short
    char name[PLAT_PATH_SIZE];
};

struct PlatFind; // an open listing

// Lists the entries of a directory that match the final component of
// `pattern` (Win32 wildcards: "*.*" every name, "*." names without a dot,
// "x.*" also x, "?" one character or none at the end of a name or before a
// dot; case ignored) and pass the attribute mask: an entry with none of
// hidden 0x02, system 0x04, directory 0x10 always passes; one with some
// passes only when the mask shares one of them. "." and ".." come first
// except at a drive root, then the names sorted ignoring case. /proc, /sys
// and /dev are never listed; a dangling link is left out; a link to a
// directory reports 0x10 | 0x400; a name holding a backslash is left out
// unless the mask holds PLAT_ATTR_BADNAME.
// Returns the listing with its first entry in *entry, or null: last error
// 2 (or 18) when nothing matches, 3 when the directory does not exist, and
// any other code (5 when access is denied) when it cannot be read, or not
// to its end; a directory that can be read but not searched cannot be read.
PlatFind *plat_findfirst(const char *pattern, unsigned mask, PlatEntry *entry);
// The next entry: 1, or 0 at the end.
int plat_findnext(PlatFind *find, PlatEntry *entry);
// Starts the listing over with its first entry in *entry, as a new
// plat_findfirst of its pattern and mask would list the directory now;
// what was read is given again unless this process has changed the
// directory since. 1, or 0 when nothing is listed now (last error as
// plat_findfirst sets it).
int plat_findagain(PlatFind *find, PlatEntry *entry);
void plat_findclose(PlatFind *find);

// The one entry that path names, as a listing with this mask would give it:
// its final component is taken as a name, never as a pattern ("*" and "?"
// are characters of it), and found ignoring case as a listing finds names.
// 1 with the entry, 0 when there is none (last error 2, or 3 when the
// directory is missing), -1 when the directory, or one above it, cannot be
// read (5 when access is denied). Costs no listing handle.
int plat_findone(const char *path, unsigned mask, PlatEntry *entry);

// Holds the directory at path open for the calls that follow, until
// plat_releasedir: every service given a path in it acts on that
// directory, wherever it is renamed meanwhile, and a directory below it is
// reached only from its parent, never through a symbolic link, and only
// while it is the directory its parent was last seen to hold. seen, when
// given, is the entry a listing of the parent gave for it: the directory is
// then reached that way too and must be that entry's; for a directory the
// user named (nothing held above it), seen is what a look at it gave, and
// it is reached as named but never through a final link. With seen null
// it is the directory the user named, reached as named, links included.
// Holds nest, innermost released first. 0, or -1: PLAT_ERR_DIR_CHANGED when it
// is not the directory seen (a link or another directory took its place),
// 3 when it is gone, another code when it cannot be opened.
int plat_holddir(const char *path, const PlatEntry *seen);
// Ends the innermost hold.
void plat_releasedir(void);

// 1 when name matches the wildcard pattern under the listing's rules
// (above), else 0. Lets a caller that listed a directory once with "*.*"
// pick out what a listing of the pattern would have given.
int plat_match(const char *pattern, const char *name);

// ---- attributes -------------------------------------------------------------

enum {
    PLAT_ATTR_READONLY = 0x01,
    PLAT_ATTR_HIDDEN = 0x02,
    PLAT_ATTR_SYSTEM = 0x04,
    PLAT_ATTR_DIRECTORY = 0x10,
    PLAT_ATTR_ARCHIVE = 0x20,
    PLAT_ATTR_NORMAL = 0x80,
    PLAT_ATTR_REPARSE = 0x400, // a link to a directory
    // A name holding a backslash of its own (legal on Linux), which no DOS
    // path can spell. Listed only when the listing's mask asks for it; the
    // entry then carries this bit and its name as stored, to be reported.
    PLAT_ATTR_BADNAME = 0x40000000,
    // In a listing's mask: the caller needs no hidden or system bit. The
    // entries are admitted as if the mask held both, and their attrib may
    // lack them (a backend that reads them at a cost leaves them out).
    PLAT_ATTR_NOMARKS = 0x20000000,
};

// 0 with the attribute word, or -1 (last error 2 or 3).
int plat_getattr(const char *path, unsigned *attrib);
// 1 when a file's archive bit is kept, so that clearing it means something
// (Windows); 0 where every file reports it set (Linux, as Wine reports it).
int plat_keepsarchive(void);
// Sets read-only (mode bits), hidden and system (user.DOSATTRIB); NORMAL
// clears all three. 0, or -1.
int plat_setattr(const char *path, unsigned attrib);

// ---- directories and names --------------------------------------------------

// 0, or -1 (183 when it exists, 3 when the parent is missing).
int plat_mkdir(const char *path);
// plat_mkdir for the copy of the directory `model`: the new directory gets
// model's permission bits less the umask, as a new copy of it would; the
// owner keeps full access, so that the copy can be filled. A model that
// cannot be read leaves the default mode.
int plat_mkdirlike(const char *path, const char *model);
// plat_mkdir for a directory only its owner may enter: a trash gathers
// files from directories that others may not read, and must not open them
// to anyone.
int plat_mkdirprivate(const char *path);
// Looks at the directory at path without following a symbolic link in
// its last component, for a place where files are kept from others: 0
// with its identity in *id when it is a directory of the caller's that
// nobody else may write to; PLAT_OWNDIR_LINK when it is a symbolic link
// (or a junction); PLAT_OWNDIR_SHARED when it belongs to someone else, or
// others may write to it; -1 with the last error set (2 or 3 when missing,
// 267 when no directory).
enum { PLAT_OWNDIR_LINK = 1, PLAT_OWNDIR_SHARED = 2 };
int plat_owndir(const char *path, PlatFileId *id);
// 0, or -1 (145 when not empty, 5 when refused).
int plat_rmdir(const char *path);
// Renames or moves a file or directory; never replaces an existing
// destination (183), except that a change of letter case only respells the
// same entry. Across file systems a file is copied (data, time, attributes)
// under a temporary name beside `to`, renamed into place, then deleted; a
// source that changed while it was copied stays, and the copy is removed
// (32). A directory fails with 17. 0, or -1.
int plat_move(const char *from, const char *to);
// Moves `from` over `to` in one atomic step, replacing it. Both must be on
// one file system. 0, or -1 (the destination is untouched then).
int plat_replace(const char *from, const char *to);
// Deletes a file; a read-only one is refused (5). 0, or -1.
int plat_delete(const char *path);

// Deletes the file at path only while it is the one whose state was taken
// (plat_filestate): never a file renamed over the name meanwhile, nor one
// written to since. Anything else there stays (32). 0, or -1.
struct PlatFileState;
int plat_deletesame(const char *path, const PlatFileState *state);

// Identity of the file a path names, after links: two paths name the same
// file when both fields of their PlatFileId are equal. 0, or -1 when it
// does not exist.
int plat_fileid(const char *path, PlatFileId *id);

// 1 when the final component of path is a symbolic link (a dangling one
// too), 0 when it is anything else or does not exist.
int plat_islink(const char *path);

// ---- file contents ----------------------------------------------------------

enum {
    PLAT_OPEN_READ = 1,   // an existing file, read only
    PLAT_OPEN_CREATE = 2, // create or truncate, write only
    PLAT_OPEN_APPEND = 3, // create or open at the end, write only; never
                          // through a final symbolic link (5)
};
enum { PLAT_SEEK_SET = 0, PLAT_SEEK_CUR = 1, PLAT_SEEK_END = 2 };

// A handle (>= 0), or -1.
int plat_open(const char *path, int how);
// Creates a new, empty file with a unique name in the directory `dir`
// (its name begins with `prefix`), private to its owner (mode 0600) until
// it is given its final mode, writes its path into `path` and returns its
// handle open for writing, or -1. The path is a DOS path, or a native
// absolute one when the DOS spelling would pass 260 characters (the
// temporary name is longer than many a final one): give PLAT_NATIVE_SIZE
// bytes of room. Until it is renamed into place or deleted, the file is
// removed if SIGINT, SIGTERM or SIGHUP ends the process.
int plat_opentemp(const char *dir, const char *prefix, char *path, size_t size);
// Opens a new file that is to become `path` once it is complete: until
// plat_placenew it has no name others could see (where the file system
// allows that), or a temporary name beside path that goes if a signal ends
// the process, as plat_opentemp's do. It is private (0600) until given its
// final mode. One at a time. The handle, open for writing, or -1.
int plat_opennew(const char *path);
// Gives the file of plat_opennew its name and closes it, never replacing
// an entry that took the name meanwhile (183; nothing is placed then). A
// close that fails (a write that failed late) places nothing either. Counts
// as a close and a move for plat_failcall and plat_hookcall, in that
// order. 0, or -1; unless 0, nothing of the file is left.
int plat_placenew(int handle);
// Gives up the file of plat_opennew: closed, and nothing of it left.
void plat_dropnew(int handle);

// Makes a new symbolic link with the target text of the link `link`
// (never read through) under a unique name beginning with `prefix` in the
// directory `dir`, and writes its path into `path` as plat_opentemp does
// (give PLAT_NATIVE_SIZE bytes of room). Like plat_opentemp's files it
// goes if a signal ends the process before it is renamed into place or
// deleted. 0, or -1 (5 when `link` is no symbolic link).
int plat_copylink(const char *link, const char *dir, const char *prefix, char *path, size_t size);
// Bytes read (0 at the end), or -1.
long plat_read(int handle, void *buf, unsigned long len);
// Bytes written; fewer than len, or -1, is a failure (112 when full).
long plat_write_file(int handle, const void *buf, unsigned long len);
// Copies from the current position of `in` to that of `out`: to the end
// of `in`, or at most limit bytes when limit is not negative. The kernel
// copies where the two files allow it (the file system may then share
// blocks instead of copying them); elsewhere the data goes through buf
// (size bytes). Where the backend can, and out is written at its end, the
// holes of a sparse in stay holes in out instead of being written as
// zeros; their bytes count as copied. Each step, the one that finds the
// end included, counts as one read and one write for plat_failcall and
// plat_hookcall (a hole skipped counts as none), and while either is armed
// no step is larger than size, so that the nth call falls where a copy
// through buf puts it. After each step that moved data, step (when not
// null) is told the bytes copied so far. The bytes copied, or -1 with the
// last error of the step that failed (the steps before it are written).
long long plat_copydata(int in, int out, long long limit, void *buf, unsigned long size,
                        void (*step)(unsigned long long done));
// The new position, or -1.
long long plat_seek(int handle, long long offset, int whence);
// 0, or -1 (a write that failed only now, 112).
int plat_close(int handle);
// Sets the last-write time exactly; the access time stays. 0, or -1 (87
// when nsec is out of range).
int plat_setfiletime(int handle, const PlatFileTime *mtime);
// Cuts the open file back to size bytes. 0, or -1.
int plat_truncate(int handle, long long size);

// What changes when anyone writes to a file: a copy whose source still has
// the state it had when the copy opened it copied the whole of it.
struct PlatFileState {
    PlatFileId id;
    unsigned long long size;
    PlatFileTime mtime; // last write
    PlatFileTime ctime; // last change of data or attributes
};
// The state of an open file. 0, or -1.
int plat_filestate(int handle, PlatFileState *state);

// Gives the open file the permissions (and, where allowed, the owner and
// group) of the existing file at model, so that a file written to replace
// it is no more open to others than the one it replaces, less any access
// of group or others that source (the file whose copy it is) does not
// have: a private file copied over a public one stays private. 0, 1 when
// model does not exist or is a symbolic link (nothing kept: a link is
// replaced as an entry and is no model), or -1.
int plat_keepperms(int handle, const char *model, const char *source);
// Gives the open file, a new copy of source, the permission bits a copy
// gets: source's read, write and execute bits less the umask, never set-id
// bits; the owner stays. 0, or -1 (source gone: 2 or 3).
int plat_newperms(int handle, const char *source);

// Puts the file's data on disk before the caller relies on it (a source
// is deleted once its copy is complete). 0, or -1.
int plat_syncfile(int handle);

// ---- free space -------------------------------------------------------------

// Bytes available to the caller on the file system that holds `path` (its
// nearest existing directory); a null path means the current drive's
// directory. 0, or -1 (unmapped drive: 3).
int plat_freespace(const char *path, unsigned long long *bytes);

// ---- recycle bin --------------------------------------------------------------

// Moves the file at path into the user's recycle bin, from where the
// desktop can restore it. 0, or -1 with the last error set; the file is
// then still where it was (never deleted in place of being recycled).
int plat_recycle(const char *path);

// ---- temporary list file ----------------------------------------------------

// Creates a new file named "_MOX_..." in the directory named by TEMP (else
// TMPDIR, else /tmp), writes its path into `path` (a DOS path, or a native
// one when that directory lies on no drive) and returns its handle, or -1.
// Like plat_opentemp's files, it goes if a signal ends the process.
int plat_mktemp(char *path, size_t size);

// Takes over a redirected standard input for reading (a handle for
// plat_read / plat_close) and points standard input back at the console, so
// that prompts still reach the user. -1 when standard input is a character
// device (not redirected) or cannot be taken. Without a console the
// redirected input is taken all the same.
int plat_takestdin(void);

// ---- failures on demand (tests) ---------------------------------------------

// The services whose next calls a test can make fail.
enum PlatCall {
    PLAT_CALL_OPEN, PLAT_CALL_READ, PLAT_CALL_WRITE, PLAT_CALL_CLOSE, PLAT_CALL_MOVE,
    PLAT_CALL_REPLACE, PLAT_CALL_DELETE, PLAT_CALL_MKDIR, PLAT_CALL_RMDIR,
    PLAT_CALL_SETATTR, PLAT_CALL_COUNT
};
// Makes the nth call (1 = the next) of `call` from now on fail with `code`
// without touching anything. n = 0 disarms.
void plat_failcall(PlatCall call, int nth, unsigned code);
// Runs hook(arg) at the start of the nth call (1 = the next) of `call` from
// now on, before the call does anything, so that a test can change the
// file system at that very moment (a file that appears, a source that
// grows) or end the process there. The call then goes on as usual. n = 0
// disarms; the hook may arm itself again.
void plat_hookcall(PlatCall call, int nth, void (*hook)(void *arg), void *arg);

// Reads MOX32_DRIVES and the working directory again and forgets every
// cached directory listing (for tests that set up a new sandbox in the
// same process).
void plat_reload(void);
