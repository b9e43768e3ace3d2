// The "@" source alone: capturing a piped list of sources.
#pragma once

#include <cstddef>

// Copies the redirected standard input into a new temporary list file
// whose name goes into tmpname (size bytes), and points standard input back
// at the console. Returns the source string "@<name>" (malloc'd), or null
// after its message, with nothing left behind.
char *capturestdin(char *tmpname, size_t size);

// Deletes the temporary list file named in tmpname, if any.
void droptemplist(char *tmpname);
