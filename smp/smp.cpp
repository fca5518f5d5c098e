// Protocol objects, binding arrays, request building and sending.
//
// Bounds: one SMP_MESSAGE_MAX (2048) octet buffer per send; every constructed
// node has the codec's capacity, which holds any tree of such a message.
#include "smp/smp.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "platform/log.h"
#include "smp/aps.h"
#include "smp/v3.h"
#include "smx/stats.h"

SmpObject *smpNew(void *transport, SmpSendFn send, SmpUpcallFn upcall) {
    auto *object = static_cast<SmpObject *>(std::calloc(1, sizeof(SmpObject)));
    if (!object)
        return nullptr;
    object->transport = transport;
    object->send = send;
    object->upcall = upcall;
    return object;
}

SmpObject *smpFree(SmpObject *object) {
    if (!object)
        return nullptr;
    asnFree(object->decoder);
    std::free(object);
    return nullptr;
}

SmpBind *smpAllocBinds(uint16_t count) {
    // One entry at least, so that an empty array is not mistaken for a failure.
    return static_cast<SmpBind *>(std::calloc(count ? count : 1, sizeof(SmpBind)));
}

SmpBind *smpFreeBinds(SmpBind *binds) {
    std::free(binds);
    return nullptr;
}

AsnNode *smpValueNode(const SmpBind *bind) {
    if (!bind)
        return nullptr;
    // Octets that arrived in constructed form are absent and cannot be sent on.
    bool octetsAbsent = !bind->value && bind->valueLen != 0;
    switch (bind->kind) {
    case SMP_KIND_INTEGER:
        return asnNewInteger(ASN_UNIVERSAL, ASN_TAG_INTEGER, static_cast<int32_t>(bind->number));
    case SMP_KIND_OCTET_STRING:
    case SMP_KIND_OPAQUE:
    case SMP_KIND_NULL: {
        if (octetsAbsent || bind->valueLen < 0)
            return nullptr;
        const SmpKindType &t = smpKindTypes[static_cast<size_t>(bind->kind)];
        return asnNewOctetString(t.tagClass, static_cast<uint32_t>(t.tagNumber), bind->value,
                                 bind->valueLen);
    }
    case SMP_KIND_IP_ADDRESS:
        if (bind->valueLen != 4 || !bind->value)
            return nullptr;
        return asnNewOctetString(ASN_APPLICATION, ASN_TAG_IPADDRESS, bind->value, 4);
    case SMP_KIND_COUNTER:
    case SMP_KIND_GAUGE:
    case SMP_KIND_TIME_TICKS:
        return asnNewUnsigned(ASN_APPLICATION,
                              static_cast<uint32_t>(smpKindTypes[bind->kind].tagNumber),
                              static_cast<uint32_t>(bind->number));
    case SMP_KIND_OBJECT_ID:
        if (octetsAbsent || bind->valueLen < 0)
            return nullptr;
        return asnNewObjectId(ASN_UNIVERSAL, ASN_TAG_OBJECTID, bind->value, bind->valueLen);
    case SMP_KIND_COUNTER64:
        return asnNewUnsigned64(ASN_APPLICATION, ASN_TAG_COUNTER64,
                                static_cast<uint64_t>(bind->number));
    case SMP_KIND_NO_SUCH_OBJECT:
    case SMP_KIND_NO_SUCH_INSTANCE:
    case SMP_KIND_END_OF_MIB_VIEW:
        return asnNewPrimitive(ASN_CONTEXT,
                               static_cast<uint32_t>(smpKindTypes[bind->kind].tagNumber), ASN_NULL,
                               nullptr, 0);
    default:
        return nullptr;
    }
}

AsnNode *smpVarBind(const uint8_t *name, int nameLen, const AsnNode *value) {
    if (!name || nameLen < 0 || !value)
        return nullptr;
    AsnNode *nameNode = asnNewObjectId(ASN_UNIVERSAL, ASN_TAG_OBJECTID, name, nameLen);
    if (!nameNode)
        return nullptr;
    AsnNode *vb = asnNewConstructed(ASN_UNIVERSAL, ASN_TAG_SEQUENCE, ASN_SEQUENCE);
    if (vb && (asnAppend(vb, nameNode) != 0 || asnAppend(vb, value) != 0))
        vb = asnFree(vb);
    asnFree(nameNode);
    return vb;
}

AsnNode *smpPduBuild(uint32_t tag, const AsnNode *requestId, int32_t status, int32_t index,
                     const AsnNode *list) {
    if (!requestId || !list)
        return nullptr;
    AsnNode *pdu = asnNewConstructed(ASN_CONTEXT, tag, ASN_SEQUENCE);
    if (!pdu)
        return nullptr;
    // The header integers go out unsigned: a request id of -1 is 00 FF FF FF FF.
    AsnNode *statusNode =
        asnNewUnsigned(ASN_UNIVERSAL, ASN_TAG_INTEGER, static_cast<uint32_t>(status));
    AsnNode *indexNode =
        asnNewUnsigned(ASN_UNIVERSAL, ASN_TAG_INTEGER, static_cast<uint32_t>(index));
    int r = asnAppend(pdu, requestId);
    if (r == 0)
        r = statusNode ? asnAppend(pdu, statusNode) : 3;
    if (r == 0)
        r = indexNode ? asnAppend(pdu, indexNode) : 3;
    if (r == 0)
        r = asnAppend(pdu, list);
    asnFree(statusNode);
    asnFree(indexNode);
    if (r != 0)
        pdu = asnFree(pdu);
    return pdu;
}

namespace {

AsnNode *buildList(const SmpPdu *record) {
    AsnNode *list = asnNewConstructed(ASN_UNIVERSAL, ASN_TAG_SEQUENCE, ASN_SEQUENCE);
    if (!list)
        return nullptr;
    if (record->count != 0 && !record->binds)
        return asnFree(list);
    for (uint16_t i = 0; i < record->count; ++i) {
        const SmpBind *b = &record->binds[i];
        AsnNode *value = smpValueNode(b);
        if (!value)
            return asnFree(list);
        AsnNode *vb = smpVarBind(b->name, b->nameLen, value);
        asnFree(value);
        int r = vb ? asnAppend(list, vb) : 3;
        asnFree(vb);
        if (r != 0)
            return asnFree(list);
    }
    return list;
}

AsnNode *buildTrap(const SmpPdu *record, const AsnNode *list) {
    AsnNode *pdu = asnNewConstructed(ASN_CONTEXT, SMP_TRAP, ASN_SEQUENCE);
    if (!pdu)
        return nullptr;
    AsnNode *parts[5] = {
        asnNewObjectId(ASN_UNIVERSAL, ASN_TAG_OBJECTID, record->enterprise, record->enterpriseLen),
        asnNewOctetString(ASN_APPLICATION, ASN_TAG_IPADDRESS, record->agentAddr,
                          record->agentAddrLen),
        asnNewUnsigned(ASN_UNIVERSAL, ASN_TAG_INTEGER, static_cast<uint32_t>(record->genericTrap)),
        asnNewUnsigned(ASN_UNIVERSAL, ASN_TAG_INTEGER, static_cast<uint32_t>(record->specificTrap)),
        asnNewUnsigned(ASN_APPLICATION, ASN_TAG_TIMETICKS,
                       static_cast<uint32_t>(record->timeStamp)),
    };
    int r = 0;
    for (AsnNode *part : parts)
        if (r == 0)
            r = part ? asnAppend(pdu, part) : 3;
    if (r == 0)
        r = asnAppend(pdu, list);
    for (AsnNode *part : parts)
        asnFree(part);
    if (r != 0)
        pdu = asnFree(pdu);
    return pdu;
}

constexpr int outCounterOfType(int32_t type) {
    switch (type) {
    case SMP_GET_REQUEST:
        return SMP_STAT_OUT_GET_REQUESTS;
    case SMP_GET_NEXT_REQUEST:
        return SMP_STAT_OUT_GET_NEXTS;
    case SMP_GET_RESPONSE:
        return SMP_STAT_OUT_GET_RESPONSES;
    case SMP_SET_REQUEST:
        return SMP_STAT_OUT_SET_REQUESTS;
    case SMP_GET_BULK_REQUEST:
        return 0; // RFC 1213 counts no GetBulk
    default:
        return SMP_STAT_OUT_TRAPS;
    }
}

} // namespace

int smpRequest(SmpObject *object, const SmpPdu *record) {
    logEntry("smpRequest:\n");
    if (!object || !record)
        return 1;
    AsnNode *list = buildList(record);
    if (!list)
        return 1;
    AsnNode *pdu = nullptr;
    // GetBulk is version 2's (RFC 3416, 4.2.3); its two counts stand in the status fields.
    bool bulk = record->type == SMP_GET_BULK_REQUEST && object->version != SMP_VERSION_1;
    if ((record->type >= SMP_GET_REQUEST && record->type <= SMP_SET_REQUEST) || bulk) {
        AsnNode *id = asnNewUnsigned(ASN_UNIVERSAL, ASN_TAG_INTEGER,
                                     static_cast<uint32_t>(record->requestId));
        pdu = smpPduBuild(static_cast<uint32_t>(record->type), id, record->errorStatus,
                          record->errorIndex, list);
        asnFree(id);
    } else if (record->type == SMP_TRAP) {
        pdu = buildTrap(record, list);
    }
    asnFree(list);
    logStep("result: %08" PRIXPTR "\n", reinterpret_cast<uintptr_t>(pdu));
    if (!pdu)
        return 1;
    int r = smpSend(object, record->auth, pdu);
    if (r == 0) {
        smpStatRaise(outCounterOfType(record->type));
        // readOnly has no counter of its own in RFC 1213; word 23 stands in.
        if (!bulk && record->errorStatus >= SMP_TOO_BIG && record->errorStatus <= SMP_GEN_ERR)
            smpStatRaise(SMP_STAT_OUT_TOO_BIGS + record->errorStatus - SMP_TOO_BIG);
    }
    asnFree(pdu);
    return r;
}

namespace {

// Traces the message as it goes out, hands it to the object's send function
// and counts it; frees the message.
int transmit(SmpObject *object, AsnNode *message, const uint8_t *octets, int16_t length) {
    if (logSteps()) {
        asnPrint(message, 0);
        fflush(stdout);
        logPrintf("\n");
        for (int i = 0; i < length; ++i)
            logPrintf("%02X ", octets[i]);
        fflush(stdout);
        logPrintf("\n");
    }
    int r = object->send(object->transport, octets, length);
    if (r == 0)
        smpStatRaise(SMP_STAT_OUT_PKTS);
    asnFree(message);
    return r;
}

} // namespace

int smpSend(SmpObject *object, ApsRec *handle, AsnNode *pdu) {
    logEntry("smpSend:\n");
    if (!object || !object->send)
        return 1;
    if (object->version == SMP_VERSION_3)
        return smpV3Send(object, handle, pdu, false);
    AsnNode *message = apsEncode(handle, pdu, object ? object->version : SMP_VERSION_1);
    if (!message)
        return 1;
    uint8_t buffer[SMP_MESSAGE_MAX];
    int16_t length = asnEncode(message, buffer, SMP_MESSAGE_MAX);
    return transmit(object, message, buffer, length);
}

int smpSendFitting(SmpObject *object, ApsRec *handle, AsnNode *pdu) {
    if (object && object->send && object->version == SMP_VERSION_3)
        return smpV3Send(object, handle, pdu, true);
    // Serialised once: the octets that were measured are the ones sent.
    AsnNode *message = apsEncode(handle, pdu, object ? object->version : SMP_VERSION_1);
    uint8_t buffer[SMP_MESSAGE_MAX];
    int16_t length = message ? asnEncode(message, buffer, SMP_MESSAGE_MAX) : -1;
    if (length < 0) {
        asnFree(message);
        return SMP_SEND_UNFIT;
    }
    logEntry("smpSend:\n");
    if (!object || !object->send) {
        asnFree(message);
        return 1;
    }
    return transmit(object, message, buffer, length);
}
