// Opening configuration files.
//
// A configuration file "opens" only as a regular file: fopen of a directory
// succeeds on Linux and then reads nothing, and a device or a FIFO may read
// for ever or block the open itself, so none of them counts as the file.
#pragma once

#include <cstdio>

// mode is "r" (read) or "w" (create or truncate, then write). The stream, or
// none when the path does not open as a regular file; a file that is not
// regular is neither truncated nor otherwise changed.
FILE *fileOpen(const char *path, const char *mode);
