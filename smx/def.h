// The definitions file ("snmp.def"): names for object identifiers, read once
// at start-up into defTable, and the look-ups against it.
//
// File syntax: "#" in the first column starts a comment; "name = 1.3.6..."
// defines a name (the value is the next word, a remark may follow);
// "INCLUDE <file>" reads file from the configuration directory's etc/,
// "INCLUDE \"path\"" reads path as given. The keyword is compared upper-cased.
//
// Bounds: lines of at most 254 characters (a longer line is read in pieces);
// paths of at most 255 characters (a longer one is refused with a report);
// includes nest at most DEF_INCLUDE_DEPTH deep and a file already open in the
// include chain is refused.
#pragma once

#include <cstdint>
#include <cstdio>

inline constexpr int DEF_PATH_MAX = 255;
inline constexpr int DEF_INCLUDE_DEPTH = 16;

struct DefEntry {
    int32_t valueLen; // 0 only in the closing record
    char *value;      // dotted identifier as written in the file
    int32_t nameLen;
    char *name;
};

// count + 1 records in file order, the last all zero; none until defReadFile
// ran (or when it could not be allocated). Look-ups treat none as empty.
// defReadFile indexes the table it built by value text; change its entries
// only through defStoreEntry, which drops the index (look-ups then walk the
// table). Any other table installed here is walked.
extern DefEntry *defTable;
extern int defCount;

// 0 definitions stored; -1 no file read (empty table); -2 no table, or a file
// without definitions.
int defReadFile();
// Counting pass when openFileName is empty (the found path is left in it),
// storing pass otherwise. Definitions counted, or -1 (not opened), -2 (no
// default place opened), -3 (read failed).
int openABFile(const char *fileString, char *openFileName, int capacity);
int defFileInsert(int *counter, const char *path, FILE *file, int storing);
int defStoreEntry(int index, const char *value, const char *name);
void defErrorFn(int line, const char *message, const char *argument);
// Splits a line of the file in place: 0 skip, 1 keyword line (key upper-cased),
// 2 definition "name = value", -1 bad.
int defSplitLine(char *line, char **key, char **value);

// The -df and -di settings; both texts are copied. None clears.
void defSetDefinitionFile(const char *path);
const char *defGetDefinitionFile(); // none when not set
void defSetDefinitionIncludeDir(const char *dir);
const char *defGetDefinitionIncludeDir(); // none when not set

// Name to dotted text: the first component replaced by its definition.
// Returns the entry's value length (0 when none matched), or -1.
int defNameToNumeric(char *buf, int capacity, const char *text);
// Dotted text to the longest defined prefix (on an arc boundary) and the rest.
int defNumericToName(char *buf, int capacity, const char *text);
// The entry whose value is the longest prefix of text[0, length) ending at a
// dot or at length, the first in file order among equal values; none when no
// value is such a prefix. Values compare as texts: "1.3.06" is not "1.3.6".
const DefEntry *defLongestPrefix(const char *text, int32_t length);
