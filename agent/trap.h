// Traps: the destinations and the enterprise read from the file "STEM.trp",
// sending one SNMP version 1 Trap (RFC 1157, 4.1.6) to every destination, and
// bounded lists of trap bindings that own their octets (traplist.h).
//
// Bounds: at most TRAP_DESTINATIONS_MAX destinations; the enterprise is
// converted into TRAP_OID_BUFFER octets; the stem holds at most TRAP_STEM_MAX
// characters and a path CFG_PATH_MAX, a stem or path that does not fit counts
// as a file that does not open. Lines are read in pieces of at most
// CFG_LINE_MAX characters.
#pragma once

#include <cstdint>

#include "agent/traplist.h"
#include "platform/net.h"
#include "smx/smx.h"

struct SmpObject;
struct SmpPdu;

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

// Reads the trap file and fixes the agent address and the start of the time
// stamps: 0, or -1 when a file name was set and does not open.
int trapInit();

// Sends the Trap to every destination over one socket: 0 (the close's result)
// when all were served; -1 when the socket cannot be made or bound; -2 when a
// protocol object cannot be made. The bindings stay the caller's.
int trapSend(int32_t genericTrap, int32_t specificTrap, uint16_t count, SmpBind *binds);

// The upcall of the sending objects: logs "Upcall:\n" and returns 0.
int trapUpcall(SmpObject *object, SmpPdu *record);

// Reports a file error (line 0: one without a line).
void trapErrorFn(int line, const char *message, const char *text);

// The trap file name; none (the start) searches the default places. The name
// is copied.
void trapSetFileName(const char *name);
const char *trapGetFileName();

// What trapInit read, for callers and tests.
int trapDestCount();
const TrapDest *trapDestAt(int index); // none outside 0 .. count - 1
// The enterprise octets (none until set) and their length.
const uint8_t *trapEnterpriseOid(int *length);

// The clock of the time stamps, timeOfDay by default; none restores it.
// Returns the clock in use before.
using TrapClockFn = int (*)(TimeOfDay *now, TimeZoneRec *zone);
TrapClockFn trapSetClock(TrapClockFn clock);
