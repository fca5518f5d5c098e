// The trap file "STEM.trp": the destinations of Traps and their enterprise,
// read by trapInit, with the agent address it fixes.
//
// Bounds: at most TRAP_DESTINATIONS_MAX destinations; the enterprise is
// converted into TRAP_OID_BUFFER octets; the stem holds at most TRAP_STEM_MAX
// characters and a path CFG_PATH_MAX, a stem or path that does not fit counts
// as a file that does not open. Lines hold at most CFG_LINE_MAX characters; a
// longer one is reported and skipped.
#pragma once

#include <cstdint>

inline constexpr int TRAP_DESTINATIONS_MAX = 25;
inline constexpr int TRAP_OID_BUFFER = 2048;
inline constexpr int TRAP_STEM_MAX = 31;

// The enterprise of Traps when the file names none, and the demo agent's
// sysObjectID: the private enterprise number RFC 5612 reserves for documentation.
inline constexpr char TRAP_DEFAULT_ENTERPRISE[] = "1.3.6.1.4.1.32473";

struct TrapDest {
    char *community;  // owned copy
    uint32_t address; // IPv4, host byte order
    uint16_t port;    // host byte order
};

// trapInit's reading: forgets what was read before, then reads the file and
// fixes the agent address. 0, or -1 when a file name was set and does not
// open, or the file cannot be read to its end (then nothing is declared).
int trapFileRead();

// Reports a file error (line 0: one without a line).
void trapErrorFn(int line, const char *message, const char *text);

// The trap file name; none (the start) searches the default places. The name
// is copied.
void trapSetFileName(const char *name);
const char *trapGetFileName();

// What trapInit read, for the sender, callers and tests.
int trapDestCount();
const TrapDest *trapDestAt(int index); // none outside 0 .. count - 1
// The enterprise octets (none until set) and their length.
const uint8_t *trapEnterpriseOid(int *length);
// The agent address, four octets most significant first, and their length
// (0 until trapInit has read a file).
const uint8_t *trapAgentAddress(int *length);
