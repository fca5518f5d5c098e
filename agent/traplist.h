// Bounded lists of trap bindings that own their octets, to be handed to
// trapSend as its bindings.
#pragma once

#include <cstdint>

#include "smx/smx.h"

// A trap binding: the layout of SmpBind, but the name and value octets are
// copies owned by the list.
using TrapBindRec = SmpBind;

struct TrapBindType {
    uint32_t count;    // entries in use
    uint32_t capacity; // room fixed at creation
    TrapBindRec *items;
};

// A new empty list with room for capacity bindings; none when memory runs out.
TrapBindType *trapListNew(uint32_t capacity);
// Releases the list with its names and values; none is accepted. Returns 0.
int trapListFree(TrapBindType *list);

// Appends one binding with a copy of the name (and of the value): 0, or -1
// when there is no name, no room, or no memory.
int trapListAddInteger(TrapBindType *list, const uint8_t *name, int nameLen, int32_t value);
int trapListAddUns(TrapBindType *list, const uint8_t *name, int nameLen, int32_t kind,
                   uint32_t value);
int trapListAddUnsigned(TrapBindType *list, const uint8_t *name, int nameLen, uint32_t value);
int trapListAddCounter(TrapBindType *list, const uint8_t *name, int nameLen, uint32_t value);
int trapListAddGauge(TrapBindType *list, const uint8_t *name, int nameLen, uint32_t value);
int trapListAddTimeTicks(TrapBindType *list, const uint8_t *name, int nameLen, uint32_t value);
int trapListAddNull(TrapBindType *list, const uint8_t *name, int nameLen);
int trapListAddOctetString(TrapBindType *list, const uint8_t *name, int nameLen,
                           const uint8_t *octets, int length);
int trapListAddObjectId(TrapBindType *list, const uint8_t *name, int nameLen, const uint8_t *oid,
                        int oidLen);
// address: four octets, most significant first.
int trapListAddIpAddress(TrapBindType *list, const uint8_t *name, int nameLen,
                         const uint8_t *address);
