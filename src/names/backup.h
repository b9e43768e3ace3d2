// Numbered backup names: README(000).TXT, or README.000 with /F.
#pragma once

// The first free backup name for the file at path, in the same directory,
// into out (PATH_SIZE bytes). 0, or -1 with out emptied after a message
// (all 1000 numbers taken, or the name would pass 260 characters).
int backupname(char *out, const char *path);
