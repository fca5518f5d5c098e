// Authentication schemes and community handles.
//
// A scheme is a named triple of operations (verify a received message, encode
// a PDU for a message, decode the PDU out of a message). A handle (ApsRec) is
// one community name with the scheme it was made with; handles are shared by
// reference count, one per community name. The only scheme registered by the
// library is "trivial": it accepts every message whose community has a handle,
// and its PDU encoding is the identity.
//
// Bounds: a community name holds at most 16 octets (APS_COMMUNITY_MAX); a
// received community longer than that matches no handle.
#pragma once

#include <cstdint>

#include "asn/asn.h"

struct CommHost; // a community's host entry, owned by the community module

inline constexpr int APS_COMMUNITY_MAX = 16;

// Nonzero accepts the message.
using ApsVerifyFn = int (*)(void *schemeData, AsnNode *message);
// The PDU as it goes into a message, with a new reference; none on failure.
using ApsEncodeFn = AsnNode *(*)(void *schemeData, AsnNode *pdu);
// The PDU taken out of a message, with a new reference; none on failure.
using ApsDecodeFn = AsnNode *(*)(void *schemeData, AsnNode *message);

struct ApsScheme {
    const char *name; // the registrant's text, not copied
    ApsVerifyFn verify;
    ApsEncodeFn encode;
    ApsDecodeFn decode;
    ApsScheme *next;
};

struct ApsRec {
    char *name;         // owned copy, at most APS_COMMUNITY_MAX characters
    AsnNode *community; // owned OCTET STRING (universal 4), appended to messages
    ApsScheme *scheme;
    void *schemeData;
    CommHost *hosts; // filled and owned by the community module; none at creation
    int32_t refCount;
    ApsRec *next;
};

// Fresh module state: no schemes, no handles. Handles made before stay valid
// for their holders, who still give them back with apsFree.
void apsInit();
// 0 registered; 1 when the name is taken, an argument is none, or memory runs out.
int apsRegister(const char *name, ApsVerifyFn verify, ApsEncodeFn encode, ApsDecodeFn decode);
int apsTrivialInit();

// The handle for a community name, with a new reference; none when the name is
// none or too long, the scheme is not registered, or memory runs out. An
// existing handle of that name is returned whatever scheme it was made with.
ApsRec *apsNew(const char *name, const char *schemeName, void *schemeData);
// Drops one reference; the handle is destroyed at 0. Always returns none.
ApsRec *apsFree(ApsRec *handle);

// Checks the version and the community of a decoded message: the handle with
// a new reference, or none (counted in the statistics; an authentication
// failure may send an authenticationFailure Trap). Communities serve version 1
// and community-based SNMPv2 alike (RFC 1901); the message's version comes
// back through version.
ApsRec *apsVerify(AsnNode *message, int32_t *version);
// The PDU of a message through the handle's scheme, with a new reference.
AsnNode *apsDecode(ApsRec *handle, AsnNode *message);
// SEQUENCE { version, community, PDU } (RFC 1157, 4.1; RFC 1901); the PDU
// stays the caller's. version is SMP_VERSION_1 or SMP_VERSION_2C.
AsnNode *apsEncode(ApsRec *handle, AsnNode *pdu, int32_t version);

// The handle list head, newest first (for the community module and tests).
ApsRec *apsHandles();
