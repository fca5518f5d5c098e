// Message input and dispatch: one received datagram is decoded octet by
// octet, authenticated, and handed to the agent operations (requests) or to
// the object's upcall (GetResponse, Trap).
//
// Bounds: the datagram length is signed 16-bit; a message is at most
// SMP_MESSAGE_MAX octets, and every message within it fits the decoding tree;
// a datagram that is longer, or holds more than the message, is a parse
// error; a binding list yields at most 65535 bindings.
#include <cstdio>

#include "asn/asl.h"
#include "platform/log.h"
#include "smp/agentside.h"
#include "smp/aps.h"
#include "smp/smp.h"
#include "smp/v3.h"
#include "smx/stats.h"

namespace {

// RFC 3412, 4.2.1: the version is read before the message is parsed, so that
// it is parsed by its own version's grammar. SEQUENCE, its length in any form
// the decoder takes, then the version INTEGER of one octet; -1 when the
// octets do not start so (version 1's grammar then judges them).
int32_t messageVersion(const uint8_t *octets, int length) {
    if (!octets || length < 2 || octets[0] != 0x30)
        return -1;
    int at = 2 + ((octets[1] & 0x80) ? octets[1] & 0x7F : 0);
    if (at + 3 > length || octets[at] != 0x02 || octets[at + 1] != 1)
        return -1;
    return octets[at + 2];
}

// Calls the upcall with the bindings of the list at component listAt; the
// record's other fields are the caller's.
int deliver(SmpObject *object, ApsRec *handle, AsnNode *pdu, int listAt, SmpPdu *record) {
    AsnNode *list = asnComponent(pdu, listAt);
    if (!list)
        return 1;
    record->binds = smpCrackList(list, &record->count);
    asnFree(list);
    if (!record->binds)
        return 1;
    record->auth = handle;
    int r = object->upcall ? object->upcall(object, record) : 1;
    record->binds = smpFreeBinds(record->binds);
    return r;
}

} // namespace

int32_t smpComponentInt(AsnNode *node, int i) {
    AsnNode *c = asnComponent(node, i);
    if (!c)
        return 0;
    const uint8_t *v = asnValue(c);
    int32_t n = v ? asnBytesToInt(v, asnValueLength(c)) : 0;
    asnFree(c);
    return n;
}

SmpBind *smpCrackList(AsnNode *list, uint16_t *count) {
    if (!count || !list)
        return nullptr;
    *count = asnChildCount(list);
    logEntryFlush("smpCrackList: count = %d.\n", *count);
    SmpBind *binds = smpAllocBinds(*count);
    if (!binds)
        return nullptr;
    uint16_t i = 0;
    for (int p = 1; p <= asnDescendants(list) && i < *count; i++) {
        AsnNode *vb = asnComponent(list, p);
        AsnNode *name = vb ? asnComponent(vb, 1) : nullptr;
        AsnNode *val = vb ? asnComponent(vb, 2) : nullptr;
        if (!name || !val) {
            // Only a tree the grammar did not shape lacks these.
            asnFree(name);
            asnFree(val);
            asnFree(vb);
            *count = 0;
            return smpFreeBinds(binds);
        }
        SmpBind &b = binds[i];
        b.name = const_cast<uint8_t *>(asnValue(name));
        b.nameLen = asnValueLength(name);
        b.kind = smpKindOf(asnClass(val), asnTag(val));
        // None for a value that arrived in constructed form; valueLen still counts its octets.
        b.value = const_cast<uint8_t *>(asnValue(val));
        b.valueLen = asnValueLength(val);
        switch (b.kind) {
        case SMP_KIND_INTEGER:
        case SMP_KIND_COUNTER:
        case SMP_KIND_GAUGE:
        case SMP_KIND_TIME_TICKS:
            // Of more than four octets the low 32 bits remain.
            b.number = b.value ? asnBytesToInt(b.value, b.valueLen) : 0;
            break;
        case SMP_KIND_COUNTER64:
            b.number =
                b.value ? static_cast<int64_t>(asnBytesToUnsigned64(b.value, b.valueLen)) : 0;
            break;
        default:
            b.number = 0;
        }
        asnFree(name);
        asnFree(val);
        p += asnDescendants(vb) + 1;
        asnFree(vb);
    }
    *count = i;
    return binds;
}

int smpResponseInput(SmpObject *object, ApsRec *handle, AsnNode *pdu, int32_t version,
                     uint8_t level) {
    if (!object || !pdu)
        return 1;
    SmpPdu record{};
    record.type = static_cast<int32_t>(asnTag(pdu));
    record.version = version;
    record.level = level;
    record.requestId = smpComponentInt(pdu, 1);
    record.errorStatus = smpComponentInt(pdu, 2);
    record.errorIndex = static_cast<uint16_t>(smpComponentInt(pdu, 3));
    return deliver(object, handle, pdu, 4, &record);
}

int smpTrapInput(SmpObject *object, ApsRec *handle, AsnNode *pdu) {
    if (!object || !pdu)
        return 1;
    SmpPdu record{};
    record.type = static_cast<int32_t>(asnTag(pdu));
    AsnNode *enterprise = asnComponent(pdu, 1);
    AsnNode *agent = asnComponent(pdu, 2);
    if (enterprise) {
        record.enterprise = asnValue(enterprise);
        record.enterpriseLen = asnValueLength(enterprise);
    }
    if (agent) {
        record.agentAddr = asnValue(agent);
        record.agentAddrLen = asnValueLength(agent);
    }
    asnFree(enterprise);
    asnFree(agent);
    record.genericTrap = smpComponentInt(pdu, 3);
    record.specificTrap = smpComponentInt(pdu, 4);
    record.timeStamp = smpComponentInt(pdu, 5);
    return deliver(object, handle, pdu, 6, &record);
}

int smpInput(SmpObject *object, uint32_t host, const uint8_t *octets, int16_t length) {
    logEntryFlush("smpInput:\n");
    smpStatRaise(SMP_STAT_IN_PKTS);
    if (!object) {
        logFailureFlush("smpInput: smp = 0\n");
        return 1;
    }
    if (object->smpRecStatus != 0) {
        // A message cannot continue in a later call: a failed object stays failed.
        logEntryFlush("smpInput: smpRecStatus = %d\n", object->smpRecStatus);
        return object->smpRecStatus;
    }
    if (!object->decoder && messageVersion(octets, length) == SMP_VERSION_3) {
        // RFC 3412: version 3 has a processing model of its own.
        int r = length > SMP_MESSAGE_MAX ? (smpStatRaise(SMP_STAT_IN_ASN_PARSE_ERRS), 1)
                                         : smpV3Input(object, octets, length);
        object->smpRecStatus = r;
        return r;
    }
    if (!object->decoder) {
        logEntryFlush("smpInput: asnNew(0)\n");
        object->decoder = asnNew(messageVersion(octets, length) == SMP_VERSION_2C ? ASL_GRAMMAR_V2C
                                                                                  : ASL_GRAMMAR_V1);
    }

    int r = 0;
    int i = 0;
    // A message that has not ended within SMP_MESSAGE_MAX octets stays incomplete.
    int limit = length < SMP_MESSAGE_MAX ? length : SMP_MESSAGE_MAX;
    if (octets)
        r = asnDecodeOctets(object->decoder, octets, limit, &i);
    // A datagram carries exactly one message (RFC 3417, 3.1): octets after it
    // and a datagram longer than the buffer are parse errors.
    if (r != ASN_COMPLETE || i != length) {
        logFailureFlush("smpInput: parse error\n");
        smpStatRaise(SMP_STAT_IN_ASN_PARSE_ERRS);
        object->decoder = asnFree(object->decoder);
        object->smpRecStatus = 1;
        return 1;
    }

    int32_t version = SMP_VERSION_1;
    ApsRec *handle = apsVerify(object->decoder, &version);
    if (!handle) {
        logFailureFlush("smpInput: apsVerify failed\n");
        object->decoder = asnFree(object->decoder);
        object->smpRecStatus = 1;
        return 1;
    }
    AsnNode *pdu = apsDecode(handle, object->decoder);
    // The PDU keeps the decoded block alive.
    object->decoder = asnFree(object->decoder);
    if (!pdu) {
        logFailureFlush("smpInput: apsDecode failed\n");
        apsFree(handle);
        object->smpRecStatus = 1;
        return 1;
    }
    if (logSteps()) {
        logPrintf("smpInput: asn0\n");
        asnPrint(pdu, 0);
        fflush(stdout);
    }

    int check = SMP_CHECK_ALLOWED;
    int status = 1;
    auto request = [&](int operation) {
        object->version = version; // the reply goes out in the request's version
        check = smpAgentSide.checkCommunity(host, operation, handle);
        return check == SMP_CHECK_ALLOWED;
    };
    switch (asnTag(pdu)) {
    case SMP_GET_REQUEST:
        if (request(SMP_OP_READ) && (status = smpGetOp(object, handle, pdu)) == 0)
            smpStatRaise(SMP_STAT_IN_GET_REQUESTS);
        break;
    case SMP_GET_NEXT_REQUEST:
        if (request(SMP_OP_READ) && (status = smpNextOp(object, handle, pdu)) == 0)
            smpStatRaise(SMP_STAT_IN_GET_NEXTS);
        break;
    case SMP_GET_BULK_REQUEST: // only version 2's grammar takes it
        if (request(SMP_OP_READ))
            status = smpBulkOp(object, handle, pdu);
        break;
    case SMP_GET_RESPONSE:
    case SMP_INFORM_REQUEST:
    case SMP_V2_TRAP:
    case SMP_REPORT:
        // Same shape as a response; the upcall tells them apart by type.
        if ((status = smpResponseInput(object, handle, pdu, version)) == 0)
            smpStatRaise(asnTag(pdu) == SMP_GET_RESPONSE ? SMP_STAT_IN_GET_RESPONSES
                         : asnTag(pdu) == SMP_V2_TRAP    ? SMP_STAT_IN_TRAPS
                                                         : 0);
        break;
    case SMP_SET_REQUEST:
        if (request(SMP_OP_WRITE) && (status = smpSetOp(object, handle, pdu)) == 0)
            smpStatRaise(SMP_STAT_IN_SET_REQUESTS);
        // RFC 3416, 4.2.5: version 2 answers a Set the community may not make.
        if (check == SMP_CHECK_BAD_USE && version == SMP_VERSION_2C) {
            smpStatRaise(SMP_STAT_IN_BAD_COMMUNITY_USES);
            status = smpErrorOp(object, handle, pdu, SMP_NO_ACCESS, 1);
            check = SMP_CHECK_ALLOWED;
        }
        break;
    case SMP_TRAP:
        if ((status = smpTrapInput(object, handle, pdu)) == 0)
            smpStatRaise(SMP_STAT_IN_TRAPS);
        break;
    default:
        break;
    }
    asnFree(pdu);
    apsFree(handle);

    if (check != SMP_CHECK_ALLOWED) {
        logFailureFlush("smpInput: commVerify failed\n");
        smpStatRaise(check == SMP_CHECK_BAD_USE ? SMP_STAT_IN_BAD_COMMUNITY_USES
                                                : SMP_STAT_IN_BAD_COMMUNITY_NAMES);
        if (smpStatRead(SMP_STAT_ENABLE_AUTHEN_TRAPS) == 1)
            smpAgentSide.sendTrap(SMP_TRAP_AUTHENTICATION_FAILURE, 0, 0, nullptr);
        object->smpRecStatus = 1;
        return 1;
    }
    object->smpRecStatus = status;
    logStepFlush("smpInput: End\n");
    return status;
}
