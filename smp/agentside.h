// The agent side as the engine sees it: the community check that admits a
// request, the trap sender of authenticationFailure Traps, and the store that
// answers Get, GetNext and Set. The engine lies below the agent, so a program
// registers each of the three here; the engine reaches them only through
// smpAgentSide.
//
// Unregistered parts are idle: the community check refuses every request
// (no request reaches the store), the trap sender sends nothing and returns
// 0, and the store has no store, is not writable, finds no name (get and next
// give none, exists 0) and sets nothing (testSet and set give genErr, 5).
#pragma once

#include <cstdint>

#include "smp/smp.h"

struct ApsRec;
struct MibEntry; // the store's own record; the engine only hands it back

// SMP_CHECK_ALLOWED when the request may proceed, else SMP_CHECK_BAD_NAME or
// SMP_CHECK_BAD_USE (smp/smp.h). operation is SMP_OP_READ (Get, GetNext) or
// SMP_OP_WRITE (Set); handle is the one that verified the message.
using SmpCommunityCheckFn = int (*)(uint32_t host, int operation, const ApsRec *handle);
// Sends a Trap to every destination the agent knows; the bindings stay the
// caller's. The engine does not look at the result.
using SmpTrapSenderFn = int (*)(int32_t genericTrap, int32_t specificTrap, uint16_t count,
                                SmpBind *binds);

// The store's operations as the agent operations use them. Value nodes from
// get and next belong to the caller; testSet and set answer an error status.
using SmpStoreSetFn = int (*)(MibEntry *store, const uint8_t *oid, int length, AsnNode *value);
struct SmpStoreOps {
    MibEntry *(*getStore)(ApsRec *handle); // the store that serves a handle
    int (*isWritable)(ApsRec *handle);
    AsnNode *(*get)(MibEntry *store, const uint8_t *oid, int length);
    // buffer holds a name of *length octets; on success it and *length hold
    // the name found. size is the buffer's capacity.
    AsnNode *(*next)(MibEntry *store, uint8_t *buffer, int *length, int size);
    SmpStoreSetFn testSet;
    SmpStoreSetFn set;
    // 1 when an object type the store serves holds the name, though get
    // found no instance there (RFC 3416, 4.2.1: noSuchInstance, not
    // noSuchObject); 0 when none does.
    int (*exists)(MibEntry *store, const uint8_t *oid, int length);
};

struct SmpAgentSide {
    SmpCommunityCheckFn checkCommunity;
    SmpTrapSenderFn sendTrap;
    SmpStoreOps store;
};

// What the engine calls; changed only by the registrations below.
extern const SmpAgentSide &smpAgentSide;

// Each registration replaces one part; none restores that part's idle default.
void smpRegisterCommunityCheck(SmpCommunityCheckFn check);
void smpRegisterTrapSender(SmpTrapSenderFn send);
void smpRegisterStore(const SmpStoreOps *store); // copied; every operation set
