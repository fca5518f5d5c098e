// The agent's SNMP engine (RFC 3411, 3.1.1; RFC 3414, 2.2): its identifier,
// made at the first start and kept, the count of its starts (snmpEngineBoots)
// and the seconds since the last one (snmpEngineTime). Identifier and count
// live in a state file that is not configuration, "STEM.eng": in the service's
// state directory when the service manager gives one, else in the first of
// the configuration places (DIR/etc, etc/, the working directory) that holds
// it, else in the first where it can be made.
//
// Bounds: a made identifier is the enterprise's 5 octets and ENG_ID_RANDOM
// random ones; boots latch at ENG_BOOTS_MAX; the file's lines hold at most
// CFG_LINE_MAX characters.
#pragma once

#include <cstdint>

#include "smp/usm.h"
#include "smx/cfg.h"

inline constexpr int ENG_ID_RANDOM = 8;
inline constexpr int32_t ENG_BOOTS_MAX = 2147483647; // RFC 3414, 2.2.2: then it latches

struct EngState {
    uint8_t id[USM_ENGINE_ID_MAX];
    int idLength;
    int32_t boots;
    int64_t startMs; // steady clock at the start, for snmpEngineTime
    bool ready;      // identifier and boots are known and saved: SNMPv3 is served
    char path[CFG_PATH_MAX + 1];
};

// Fills octets with length random octets: 0, or nonzero when it cannot.
using EngRandomFn = int (*)(uint8_t *octets, int length);

// Reads the state file, or makes a new identifier with random when there is
// none, raises boots and saves both before anything is served. 0 when ready;
// -1 when boots could not be raised and saved (an unreadable or malformed
// file is never replaced: the count it held could only be lost): SNMPv3 is
// not served and one log line says why.
int engStart(EngRandomFn random);

const EngState *engState();
// snmpEngineTime: seconds since the start. Past 2^31-1 seconds the boots are
// raised and saved and the time starts again (RFC 3414, 2.2.2).
int32_t engTime();
int32_t engBoots();
