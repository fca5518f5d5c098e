// Sending one SNMP version 1 Trap (RFC 1157, 4.1.6) to every destination of
// the trap file, stamped with the time since trapInit.
#pragma once

#include <cstdint>

#include "platform/net.h"
#include "smx/smx.h"

struct SmpObject;
struct SmpPdu;

// Sends the Trap to every destination over one socket: 0 (the close's result)
// when all were served; -1 when the socket cannot be made or bound; -2 when a
// protocol object cannot be made. The bindings stay the caller's.
int trapSend(int32_t genericTrap, int32_t specificTrap, uint16_t count, SmpBind *binds);

// The upcall of the sending objects: logs "Upcall:\n" and returns 0.
int trapUpcall(SmpObject *object, SmpPdu *record);

// The clock of the time stamps, timeOfDay by default; none restores it.
// Returns the clock in use before.
using TrapClockFn = int (*)(TimeOfDay *now, TimeZoneRec *zone);
TrapClockFn trapSetClock(TrapClockFn clock);

// Time stamps count from now (trapInit calls it).
void trapStartClock();
