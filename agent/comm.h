// Community configuration: which hosts may read or write under which
// community, read from the file "STEM.cmm" into host lists hung on the
// communities' authentication handles, and the check made for every incoming
// request.
//
// Bounds: the stem (the program's base name up to its first ".") holds at most
// COMM_STEM_MAX characters and a path CFG_PATH_MAX; a stem or path that does
// not fit counts as a file that does not open. Lines hold at most
// CFG_LINE_MAX characters; a longer one is reported and skipped.
#pragma once

#include <cstdint>
#include <cstdio>

struct ApsRec;

inline constexpr int COMM_STEM_MAX = 31;

// Rights of a host entry.
inline constexpr int32_t COMM_READ = 1;  // read operations only
inline constexpr int32_t COMM_WRITE = 2; // read and write operations

// One host entry of a community; the list hangs from ApsRec::hosts, newest first.
struct CommHost {
    uint32_t address; // IPv4, host byte order; 0 stands for any host
    int32_t rights;   // COMM_READ or COMM_WRITE
    CommHost *next;
};

// Reads the community file: 0 when at least one host was declared, -1 when
// no file could be opened or read to its end, -2 when the file declared no host.
int commInit();
int commReadFile();

// Opens the community file into *file and writes its path into path
// (CFG_PATH_MAX + 1 bytes). With fileName only that file is tried (-1 when it
// does not open); without, DIR/etc/STEM.cmm, etc/STEM.cmm and STEM.cmm in
// turn (-2 when none opens). 0 when open.
int cmmABFile(const char *baseName, const char *fileName, FILE **file, char *path);

// Adds one host entry: 0; -1 when no handle can be had for the name, -2 when
// the address is declared for the community already, -3 when memory runs out.
int community(const char *name, uint32_t address, int32_t rights);

// Reports a file error (line 0: one without a line).
void commErrorFn(int line, const char *message, const char *text);

// The community check (smp/agentside.h): SMP_CHECK_ALLOWED, SMP_CHECK_BAD_USE
// for a Set with a READ entry, else SMP_CHECK_BAD_NAME. operation is
// SMP_OP_READ (Get, GetNext) or SMP_OP_WRITE (Set); handle is the one that
// verified the message.
int commVerify(uint32_t address, int operation, const ApsRec *handle);

// The community file name; none (the start) searches the default places. The
// name is copied.
void commSetFileName(const char *name);
const char *commGetFileName();
