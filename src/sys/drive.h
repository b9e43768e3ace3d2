// Free space: how much a write adds on its destination and whether the file
// system that will hold it has that much room. Counted in 64 bits.
#pragma once

// Bytes a write of size bytes adds at path: size less the size of what
// exists there already, never below 0; size itself when nothing does.
void spaceneeded(unsigned long long size, const char *path, unsigned long long *needed);

// Free bytes available to the user where root (or any path) lies; null
// means the current drive. Non-zero on success, 0 on failure.
int diskfree(const char *root, unsigned long long *bytes);

// Free bytes of a drive (0 the current drive, 1 A, 2 B, ...), or all bits
// set when it cannot be told.
unsigned long long drivefree(int drive);

// Prints "Drive Not Ready!" and a line end on PLAT_STDOUT or PLAT_STDERR.
void drivemsg(int stream);

// Whether needed bytes fit on the file system that holds path (its nearest
// existing directory; a relative path or null: the current drive). 0 when
// they do, -1 when they do not, -2 after "Drive Not Ready!" on standard
// error when the free space cannot be told (an unmapped drive). The file
// system is asked once and its answer counted down by each file that
// passes (unless in echo mode), until the count comes near a file's size.
int checkfree(unsigned long long needed, const char *path);

// Forgets the counted free space (a new run starts).
void forgetfree(void);
