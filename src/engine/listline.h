// Source lists ("@name"): the list file read in text mode, one source a
// line, each line turned into a path in code page 932 or refused whole.
#pragma once

#include <cstddef>

enum {
    LIST_ENTRY_MAX = 255, // characters of one list line
    // A line once converted: every byte of the user's encoding may become
    // an escape pair of four.
    LIST_ENTRY_SIZE = 4 * LIST_ENTRY_MAX + 1,
};

// Reads a list file through a small buffer.
struct ListReader {
    int handle;
    int end; // what ends an entry: '\n', or 0 for a list from find -print0
    char buf[512];
    long len, pos;
};

// Results of nextlistentry.
enum { LIST_READERROR = -1, LIST_END = 0, LIST_ENTRY = 1, LIST_REFUSED = 2 };

// Starts reading the open file `handle` (the caller closes it). nul: the
// entries end with NUL bytes and are taken as they are (no line ends, no
// carriage returns dropped), as find -print0 writes them.
void listbegin(ListReader *rd, int handle, int nul);

// The next entry into entry (size bytes), without its line end and
// converted from the user's encoding: LIST_ENTRY. Blank lines are passed
// over. A line that cannot be a path is refused whole after its error
// line: LIST_REFUSED. That is a line of more than LIST_ENTRY_MAX
// characters, or of more than a path's once converted, and a line holding
// a NUL byte, since a path ends at its first NUL: the line would name
// another, shorter path (such a list most likely came from find -print0,
// and the message says how to read one). LIST_END at the end of the file, LIST_READERROR
// when reading failed.
int nextlistentry(ListReader *rd, char *entry, size_t size);
