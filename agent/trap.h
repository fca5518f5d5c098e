// Traps: the destinations and the enterprise read from the file "STEM.trp"
// (trapfile.h), sending one SNMP version 1 Trap to every destination
// (trapsend.h), and bounded lists of trap bindings that own their octets
// (traplist.h). The module's one header for its users; trapInit joins the
// file and the time stamps at start.
#pragma once

#include "agent/trapfile.h"
#include "agent/traplist.h"
#include "agent/trapsend.h"

// Restarts the time stamps, then reads the trap file and fixes the agent
// address: 0, or -1 when a file name was set and does not open.
int trapInit();
