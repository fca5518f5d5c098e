// Configuration files: the configuration directory from the registry, the
// administrator test, the one search order every reader uses, the line
// reader and the line tokenisers.
//
// Bounds: directory buffers of CFG_DIR_BUFFER bytes (the registry limit);
// file paths of at most CFG_PATH_MAX characters, a longer candidate is treated
// as one that does not open; lines of at most CFG_LINE_MAX characters, a
// longer line is one line, reported by its reader (a comment ignored) and
// skipped, never read in pieces; at most FILE_CONFIG_MAX octets of a file are
// read, a longer file is one that cannot be read.
#pragma once

#include "platform/file.h"

#include <cstdio>

inline constexpr int CFG_DIR_BUFFER = 260;
inline constexpr int CFG_PATH_MAX = 255;
inline constexpr int CFG_LINE_MAX = 254;

// 0: the buffer (CFG_DIR_BUFFER bytes) holds the directory; 1: none found, the
// buffer holds the empty text.
int readCfgPath(const char *component, char *path);
int readYourPath(const char *component, char *path);
// Selector 0 reads "etc", any other "yours". 1 found, 0 not ("failure exit").
int GetAppKeys(int selector, const char *component, char *path);
int cfgIsAdministrator();

// Candidate forms, tried in this order by cfgSearch.
enum : unsigned {
    CFG_FORM_DIR = 1,  // DIR/etc/NAME, DIR from readCfgPath(appName)
    CFG_FORM_ETC = 2,  // etc/NAME below the working directory
    CFG_FORM_BARE = 4, // NAME in the working directory
};

struct CfgSearch {
    char directory[CFG_DIR_BUFFER]; // empty when the lookup failed
    int directoryFound;
    char path[CFG_PATH_MAX + 1]; // the candidate last formed ("" when none)
    unsigned form;               // its CFG_FORM_*
};

// Forms one candidate into path (CFG_PATH_MAX + 1 bytes); directory is none
// when the lookup failed. 0, or -1 when it cannot be formed (no directory for
// CFG_FORM_DIR, or too long).
int cfgFormPath(char *path, const char *directory, unsigned form, const char *fileName);

// Called with each candidate formed (search->path, search->form); returns
// nonzero to take it and end the search.
using CfgTryFn = int (*)(CfgSearch *search, void *context);
// Tries fileName in the given forms in order. Returns the form taken, or 0
// when none was (search->path then holds the last candidate formed). A form
// that cannot be formed is skipped; one that is too long is reported.
unsigned cfgSearch(CfgSearch *search, const char *fileName, unsigned forms, CfgTryFn tryFn,
                   void *context);
// cfgSearch with fileOpen(path, mode) as the test: the open file, or none.
FILE *cfgOpenFirst(CfgSearch *search, const char *fileName, unsigned forms, const char *mode);

// Reads a configuration file line by line: lines of at most CFG_LINE_MAX
// characters, without the line feed and a CR right before it (or at the end of
// the file). lineNumber is the number of the file's line last read.
struct CfgLineReader {
    FILE *file;
    int lineNumber;
    int held;     // a character read ahead, or -1
    long octets;  // octets taken from the file
    int unusable; // a read failed or the file passed FILE_CONFIG_MAX octets
};
void cfgReaderInit(CfgLineReader *reader, FILE *file);
// cfgReadLine's results besides a line's length.
inline constexpr int CFG_LINE_END = -1;
// The line is longer than CFG_LINE_MAX: buf holds its first CFG_LINE_MAX
// characters (enough to tell a comment), the rest is skipped.
inline constexpr int CFG_LINE_TOO_LONG = -2;
// The file cannot be read to its end: a read failed, or it has more than
// FILE_CONFIG_MAX octets. Every later call gives it too.
inline constexpr int CFG_LINE_UNREADABLE = -3;
// Writes the next line into buf (CFG_LINE_MAX + 1 bytes) and returns its
// length, or one of the results above.
int cfgReadLine(CfgLineReader *reader, char *buf);

// Tokenisers: they change the line in place and return pointers into it.
bool cfgIsBlank(int c);       // space, tab, line feed, carriage return
char *cfgSkipBlanks(char *p); // the first character from p that is not blank
// The start of a line's content, after a line feed at its end is cut: its first
// character that is not blank; none for none, an empty or blank line, or a
// comment ("#" in the first column).
char *cfgLineContent(char *line);
// KEY=value with the key upper-cased and the value the rest of the line: 0 or -1.
int cfgSplitAssignment(char *line, char **key, char **value);
void cfgUpperCase(char *text);
// The text after the last of any of the separators (the final character not
// counted), or the whole text; none for none.
const char *cfgLastComponent(const char *text, const char *separators);
// Splits line in place into at most max words separated by spaces and tabs;
// returns how many were found.
int cfgSplitWords(char *line, char **words, int max);
// The base name up to its first "." into stem (max + 1 bytes); false when it
// does not fit, so that a cut stem never names another program's file.
bool cfgMakeStem(const char *baseName, char *stem, int max);
