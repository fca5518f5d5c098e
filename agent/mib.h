// The MIB variable store: registered object identifiers, each with four
// access functions and a context, kept in an AVL tree keyed by encoded
// identifiers in object-identifier order. An entry answers for every name at
// or below its identifier; the rest of the name (the instance) reaches the
// access functions as sub-identifiers.
//
// Bounds: a registered identifier has 1 to MIB_OID_MAX octets; an instance
// handed to the access functions at most MIB_INSTANCE_MAX sub-identifiers.
#pragma once

#include <cstdint>

#include "asn/asn.h"
#include "smp/agentside.h"

struct ApsRec;

inline constexpr int MIB_OID_MAX = 512;
inline constexpr int MIB_INSTANCE_MAX = 256;

// The packed entry of a registration: an octet string of this class and tag
// holding one MibEntry record.
inline constexpr uint32_t MIB_PACKED_CLASS = ASN_APPLICATION;
inline constexpr uint32_t MIB_PACKED_TAG = 153;

// Value nodes returned by get and next belong to the caller. testSet and set
// answer an SNMP error status, 0 when the value may be (or was) set.
struct MibOps {
    AsnNode *(*get)(const uint32_t *subIds, int count, uintptr_t context);
    // Writes the instance that follows subIds[0..*count) (the first one for a
    // count of 0) back into subIds, which has room for MIB_INSTANCE_MAX.
    AsnNode *(*next)(uint32_t *subIds, int *count, uintptr_t context);
    int (*testSet)(const uint32_t *subIds, int count, AsnNode *value, uintptr_t context);
    int (*set)(const uint32_t *subIds, int count, AsnNode *value, uintptr_t context);
    // Whether the entry serves an object type at the instance's place (its
    // column); none: every name the entry covers is one.
    int (*exists)(const uint32_t *subIds, int count, uintptr_t context);
};

// An entry; the store itself has this shape too, with no ops, its AVL tree in
// context and oidLen 0.
struct MibEntry {
    const MibOps *ops;
    uintptr_t context;
    int32_t oidLen;
    uint8_t oid[MIB_OID_MAX];
};

MibEntry *mibInit(); // the process store, made writable; none when out of memory
MibEntry *mibNew();
// Releases a store of mibNew's with its entries; never the process store.
void mibFree(MibEntry *store);
MibEntry *mibGetStore(ApsRec *handle); // the handle is not looked at
int mibIsWritable(ApsRec *handle);
void mibSetWritable(int writable); // an agent that serves reads only clears it

int mibRegister(const char *name, const MibOps *ops, uintptr_t context);      // 0, or 1
int mibAdd(MibEntry *store, const uint8_t *oid, int length, AsnNode *packed); // 0, or 5

AsnNode *mibGet(MibEntry *store, const uint8_t *oid, int length);
int mibExists(MibEntry *store, const uint8_t *oid, int length); // 1 or 0
// buffer holds a name of *length octets; on success it and *length hold the
// name of the instance found. size is the buffer's capacity.
AsnNode *mibNext(MibEntry *store, uint8_t *buffer, int *length, int size);
int mibTestSet(MibEntry *store, const uint8_t *oid, int length, AsnNode *value);
int mibSet(MibEntry *store, const uint8_t *oid, int length, AsnNode *value);

// The operations above, for the engine (smpRegisterStore).
extern const SmpStoreOps mibStoreOps;

int mibCompare(const void *entry, const uint8_t *key, int keyLength);
void mibPrintEntry(const void *entry);
AsnNode *mibPackEntry(const MibOps *ops, uintptr_t context);
