// Opening configuration files.
//
// A configuration file "opens" only as a regular file: fopen of a directory
// succeeds on Linux and then reads nothing, and a device or a FIFO may read
// for ever or block the open itself, so none of them counts as the file.
#pragma once

#include <cstdio>

// The most octets a configuration reader takes from one file: far above any
// real one (a definitions file naming every object of MIB-II has 10 KB), and
// read within seconds. A file that is longer, or never ends (a
// growing file, some files of /proc), is one that cannot be read.
inline constexpr long FILE_CONFIG_MAX = 16L * 1024 * 1024;

// mode is "r" (read), "w" (create or truncate, then write) or "wx" (create a
// new file, then write). The stream, or none when the path does not open as a
// regular file; a file that is not regular is neither truncated nor otherwise
// changed. A write never follows a link (on Windows a reparse point) at path.
FILE *fileOpen(const char *path, const char *mode);

// The directory separator of the platform's paths, and every character that
// separates components there (Windows also takes "/").
#ifdef _WIN32
inline constexpr char FILE_SEPARATOR = '\\';
inline constexpr const char *FILE_SEPARATORS = "\\/";
#else
inline constexpr char FILE_SEPARATOR = '/';
inline constexpr const char *FILE_SEPARATORS = "/";
#endif

// One text per existing file, the same for every path that names it (its
// canonical full path): 0, or -1 when the path names nothing or the text
// needs more than capacity bytes.
inline constexpr int FILE_IDENTITY_MAX = 1024;
int fileIdentity(const char *path, char *identity, int capacity);

// 0 when nothing exists at path, 1 when something does, -1 when that cannot be told.
int fileExists(const char *path);

// Whether path could be written by fileOpen: an existing regular file, not a
// link, is opened for appending (nothing changes); a missing one is created
// exclusively, so that a file another process made meanwhile is left alone,
// and removed again. 1 or 0.
int fileProbeWritable(const char *path);

// Replaces the file at path with length octets of text so that a crash at any
// moment leaves either the old file or the new one whole: written to
// "PATH.new" (never through a link), flushed to the disk, then renamed over
// path. 0, or -1 with path unchanged.
int fileReplace(const char *path, const char *text, int length);

// 1 when every user of the system may read the open file, 0 when not, -1
// when that cannot be told. Windows files carry access lists instead: always 0.
int fileOthersCanRead(FILE *file);

// Whether the stream writes to a terminal (on Windows a console).
bool fileIsTerminal(FILE *file);

// The directory the service manager gives the program for its state (the
// first of systemd's STATE_DIRECTORY), or none.
const char *fileStateDirectory();
