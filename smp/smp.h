// The SNMP version 1 protocol engine (RFC 1157): protocol objects, PDU
// records, request building and sending, message input and dispatch, and the
// agent's Get, GetNext and Set operations.
//
// Bounds: a message is serialised into SMP_MESSAGE_MAX (2048) octets and
// agents receive at most that many per datagram, so any name fits in as many;
// a PDU carries at most 65535 bindings.
#pragma once

#include <array>
#include <cstdint>

#include "asn/asn.h"
#include "smx/smx.h"

struct ApsRec;

inline constexpr int SMP_MESSAGE_MAX = ASN_MESSAGE_MAX; // every tree of such a message fits

// Message versions (RFC 1901): the version field's value.
inline constexpr int32_t SMP_VERSION_1 = 0;
inline constexpr int32_t SMP_VERSION_2C = 1;

enum SmpPduType : int32_t {
    SMP_GET_REQUEST = 0,
    SMP_GET_NEXT_REQUEST = 1,
    SMP_GET_RESPONSE = 2,
    SMP_SET_REQUEST = 3,
    SMP_TRAP = 4,
    // RFC 3416, 3: version-2 messages only.
    SMP_GET_BULK_REQUEST = 5,
    SMP_INFORM_REQUEST = 6,
    SMP_V2_TRAP = 7,
    SMP_REPORT = 8,
};

// Operations given to the community check (smp/agentside.h).
inline constexpr int SMP_OP_READ = 1;
inline constexpr int SMP_OP_WRITE = 2;
// What the community check answers; a refusal says which counter it raises
// (RFC 1213, 6.12): the community is not declared for the host, or it does not
// allow the operation.
inline constexpr int SMP_CHECK_BAD_NAME = 0;
inline constexpr int SMP_CHECK_ALLOWED = 1;
inline constexpr int SMP_CHECK_BAD_USE = 2;

// Generic trap numbers (RFC 1157, 4.1.6) the engine sends.
inline constexpr int SMP_TRAP_AUTHENTICATION_FAILURE = 4;

struct SmpObject;
struct SmpPdu;
struct SmpSession;

// Transmits one encoded message: 0 sent. A negative length is a failure:
// nothing is sent and the result is nonzero.
using SmpSendFn = int (*)(void *transport, const uint8_t *octets, int length);
// Called for every authenticated GetResponse and Trap; 0 means handled. The
// record and every pointer in it are valid only during the call.
using SmpUpcallFn = int (*)(SmpObject *object, SmpPdu *record);

struct SmpObject {
    SmpUpcallFn upcall;
    SmpSendFn send;
    void *transport;      // first argument of send; not owned
    AsnNode *decoder;     // the message being received; owned
    int32_t smpRecStatus; // 0, or the status of the failed or dispatched message
    // The version requests go out with (SMP_VERSION_1 after smpNew); an agent's
    // object takes the version of the request it answers.
    int32_t version;
    SmpSession *session; // a manager's SNMPv3 session (smp/v3.h); not owned
};

// One PDU as a flat record; the fields a type does not use are 0 or none.
struct SmpPdu {
    int32_t type;    // SmpPduType
    int32_t version; // input: the message's; sending: the object's is used
    uint8_t level;   // input, version 3: the UsmLevel the message came with
    ApsRec *auth;    // sending: gives the community; input: the verifying handle
    int32_t requestId;
    int32_t errorStatus;   // SmpErrorStatus; GetBulk: non-repeaters
    uint16_t errorIndex;   // GetBulk: max-repetitions
    int16_t enterpriseLen; // Trap
    const uint8_t *enterprise;
    int16_t agentAddrLen; // Trap
    const uint8_t *agentAddr;
    int32_t genericTrap;  // Trap
    int32_t specificTrap; // Trap
    int32_t timeStamp;    // Trap: hundredths of a second
    uint16_t count;
    SmpBind *binds;
};

// How each SmpKind is encoded: class and tag number (-1: none, the binding fails).
struct SmpKindType {
    uint32_t tagClass;
    int32_t tagNumber;
};
inline constexpr std::array<SmpKindType, SMP_KIND_COUNT> smpKindTypes = {{
    {ASN_PRIVATE, -1},                    // None
    {ASN_UNIVERSAL, ASN_TAG_INTEGER},     // Integer
    {ASN_UNIVERSAL, ASN_TAG_OCTETS},      // OctetString
    {ASN_APPLICATION, ASN_TAG_IPADDRESS}, // IpAddress
    {ASN_APPLICATION, ASN_TAG_OPAQUE},    // Opaque
    {ASN_APPLICATION, ASN_TAG_COUNTER},   // Counter
    {ASN_APPLICATION, ASN_TAG_GAUGE},     // Gauge
    {ASN_APPLICATION, ASN_TAG_TIMETICKS}, // TimeTicks
    {ASN_UNIVERSAL, ASN_TAG_OBJECTID},    // ObjectId
    {ASN_UNIVERSAL, ASN_TAG_NULL},        // Null
    {ASN_APPLICATION, 6},                 // Counter64 (RFC 2578, 7.1.10)
    {ASN_CONTEXT, 0},                     // noSuchObject (RFC 3416, 3)
    {ASN_CONTEXT, 1},                     // noSuchInstance
    {ASN_CONTEXT, 2},                     // endOfMibView
}};

// The reverse maps by tag number: universal, application and context class.
inline constexpr std::array<int32_t, 8> smpUniversalKinds = {
    SMP_KIND_NONE,         SMP_KIND_NONE, SMP_KIND_INTEGER,   SMP_KIND_NONE,
    SMP_KIND_OCTET_STRING, SMP_KIND_NULL, SMP_KIND_OBJECT_ID, SMP_KIND_NONE,
};
inline constexpr std::array<int32_t, 7> smpApplicationKinds = {
    SMP_KIND_IP_ADDRESS, SMP_KIND_COUNTER, SMP_KIND_GAUGE,     SMP_KIND_TIME_TICKS,
    SMP_KIND_OPAQUE,     SMP_KIND_NONE,    SMP_KIND_COUNTER64,
};
inline constexpr std::array<int32_t, 3> smpContextKinds = {
    SMP_KIND_NO_SUCH_OBJECT,
    SMP_KIND_NO_SUCH_INSTANCE,
    SMP_KIND_END_OF_MIB_VIEW,
};

// The kind of a received value's identifier; None for a tag beyond its table.
constexpr int32_t smpKindOf(uint32_t tagClass, uint32_t tagNumber) {
    if (tagClass == ASN_UNIVERSAL)
        return tagNumber < smpUniversalKinds.size() ? smpUniversalKinds[tagNumber] : SMP_KIND_NONE;
    if (tagClass == ASN_CONTEXT)
        return tagNumber < smpContextKinds.size() ? smpContextKinds[tagNumber] : SMP_KIND_NONE;
    return tagNumber < smpApplicationKinds.size() ? smpApplicationKinds[tagNumber] : SMP_KIND_NONE;
}

// Protocol objects. smpFree accepts none and returns none.
SmpObject *smpNew(void *transport, SmpSendFn send, SmpUpcallFn upcall);
SmpObject *smpFree(SmpObject *object);

// Binding arrays: one call allocates count zeroed entries (none when memory
// runs out; a count of 0 gives an empty array, not none), one releases them.
SmpBind *smpAllocBinds(uint16_t count);
SmpBind *smpFreeBinds(SmpBind *binds); // accepts none; returns none

// Builds the PDU of a record and sends it through the record's handle: 0 sent,
// 1 when the object or record is none or building failed, else the send
// function's result.
int smpRequest(SmpObject *object, const SmpPdu *record);
// Wraps a PDU into a message, serialises it and sends it: 0 sent, 1 when no
// message could be built, else the send function's result. The PDU stays the
// caller's.
int smpSend(SmpObject *object, ApsRec *handle, AsnNode *pdu);
// As smpSend, for a reply that may not fit: when no message can be built or it
// exceeds SMP_MESSAGE_MAX octets, nothing is sent, smpSend's own traces are not
// written and the result is SMP_SEND_UNFIT. The message is serialised once.
inline constexpr int SMP_SEND_UNFIT = -1;
int smpSendFitting(SmpObject *object, ApsRec *handle, AsnNode *pdu);
// The value tree of a binding, or none (kind None, IpAddress not 4 octets,
// octets absent, unfinished identifier).
AsnNode *smpValueNode(const SmpBind *bind);
// SEQUENCE { name, value }; the caller keeps and frees the value tree.
AsnNode *smpVarBind(const uint8_t *name, int nameLen, const AsnNode *value);
// The PDU [tag] { request-id, error-status, error-index, list } with copies of
// the given trees; none on failure.
AsnNode *smpPduBuild(uint32_t tag, const AsnNode *requestId, int32_t status, int32_t index,
                     const AsnNode *list);

// One received datagram from host (IPv4, host byte order; 0 when unknown):
// the object's status afterwards, 0 when decoded, authenticated, allowed and
// handled. A length above SMP_MESSAGE_MAX (a datagram longer than the
// receive buffer) is a parse error; at most SMP_MESSAGE_MAX octets are read.
int smpInput(SmpObject *object, uint32_t host, const uint8_t *octets, int16_t length);
// The signed value of a primitive component of a decoded node (the PDU's
// header integers); 0 when it is absent.
int32_t smpComponentInt(AsnNode *node, int i);
// The bindings of a decoded binding list; name and value point into the tree.
SmpBind *smpCrackList(AsnNode *list, uint16_t *count);
// A Response (or Inform, SNMPv2-Trap, Report) to the upcall, with the message's version.
int smpResponseInput(SmpObject *object, ApsRec *handle, AsnNode *pdu,
                     int32_t version = SMP_VERSION_1, uint8_t level = 0);
int smpTrapInput(SmpObject *object, ApsRec *handle, AsnNode *pdu);

// Agent operations on a decoded request PDU: the result of sending the reply
// (0 sent), or 1 when no reply could be built.
int smpGetOp(SmpObject *object, ApsRec *handle, AsnNode *pdu);
int smpNextOp(SmpObject *object, ApsRec *handle, AsnNode *pdu);
int smpSetOp(SmpObject *object, ApsRec *handle, AsnNode *pdu);
// GetBulk (RFC 3416, 4.2.3), version 2 only.
int smpBulkOp(SmpObject *object, ApsRec *handle, AsnNode *pdu);
// The error reply of a status and index, with the request's bindings.
int smpErrorOp(SmpObject *object, ApsRec *handle, AsnNode *pdu, int32_t status, int32_t index);
// The GetResponse to a request: list for status 0, else the request's own
// bindings with status and index (RFC 1157, 4.1.2); none on failure.
AsnNode *smpReply(AsnNode *pdu, int32_t status, int32_t index, const AsnNode *list);
