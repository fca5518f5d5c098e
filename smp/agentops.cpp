// Agent operations: the GetResponse to a GetRequest, GetNextRequest or
// SetRequest (RFC 1157, 4.1.2 to 4.1.5), and in version 2 messages to a
// GetBulkRequest too, with the exceptions and statuses of RFC 3416, 4.2 and
// the coexistence rules of RFC 3584, 4.2.2 and 4.4 for version 1.
//
// Bounds: a GetBulk answer holds what fits in SMP_MESSAGE_MAX octets, counted
// with room for every length to grow to three octets (at most 6 octets short).
#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "platform/log.h"
#include "smp/agentside.h"
#include "smp/aps.h"
#include "smp/smp.h"
#include "smp/v3.h"
#include "smx/stats.h"

AsnNode *smpReply(AsnNode *pdu, int32_t status, int32_t index, const AsnNode *list) {
    logEntryFlush("smpReply:\n");
    // RFC 1157, 4.1.2: tooBig carries index 0, whichever step found the reply too big.
    if (status == 0 || status == SMP_TOO_BIG)
        index = 0;
    // The request id goes back as the octets received.
    AsnNode *requestId = asnComponent(pdu, 1);
    if (!requestId)
        return nullptr;
    AsnNode *reply = nullptr;
    if (status == 0) {
        reply = smpPduBuild(SMP_GET_RESPONSE, requestId, 0, 0, list);
    } else {
        // An error reply carries the request's own bindings.
        AsnNode *own = asnComponent(pdu, 4);
        reply = smpPduBuild(SMP_GET_RESPONSE, requestId, status, index, own);
        asnFree(own);
    }
    asnFree(requestId);
    return reply;
}

namespace {

// Any name a request can carry fits, so every GetNext gets the object after its name.
constexpr int NAME_MAX_OCTETS = SMP_MESSAGE_MAX;

// RFC 1213, 6.12: the counter of each error status the agent sends; readOnly
// has none there (snmp 23 is not used), nor have the version-2 statuses.
constexpr std::array<int, SMP_ERROR_STATUS_COUNT> outErrorWords = {
    0, SMP_STAT_OUT_TOO_BIGS, SMP_STAT_OUT_NO_SUCH_NAMES, SMP_STAT_OUT_BAD_VALUES,
    0, SMP_STAT_OUT_GEN_ERRS,
};

// RFC 3584, 4.4: what a version-1 requester is told for each status.
constexpr std::array<int32_t, SMP_V2_ERROR_STATUS_COUNT> v1Statuses = {
    SMP_NO_ERROR,  SMP_TOO_BIG,      SMP_NO_SUCH_NAME, SMP_BAD_VALUE,    SMP_READ_ONLY,
    SMP_GEN_ERR,   SMP_NO_SUCH_NAME, SMP_BAD_VALUE,    SMP_BAD_VALUE,    SMP_BAD_VALUE,
    SMP_BAD_VALUE, SMP_NO_SUCH_NAME, SMP_BAD_VALUE,    SMP_GEN_ERR,      SMP_GEN_ERR,
    SMP_GEN_ERR,   SMP_NO_SUCH_NAME, SMP_NO_SUCH_NAME, SMP_NO_SUCH_NAME,
};
// And what a version-2 requester is told for a version-1 status of the store
// (RFC 3416, 4.2.5): a variable that cannot be set is notWritable, a value it
// cannot take wrongValue.
constexpr std::array<int32_t, SMP_ERROR_STATUS_COUNT> v2Statuses = {
    SMP_NO_ERROR, SMP_TOO_BIG, SMP_NOT_WRITABLE, SMP_WRONG_VALUE, SMP_NOT_WRITABLE, SMP_GEN_ERR,
};

int32_t statusFor(int32_t version, int32_t status) {
    if (status < 0 || status >= SMP_V2_ERROR_STATUS_COUNT)
        return SMP_GEN_ERR;
    if (version == SMP_VERSION_1)
        return v1Statuses[static_cast<size_t>(status)];
    return status < SMP_ERROR_STATUS_COUNT ? v2Statuses[static_cast<size_t>(status)] : status;
}

// Counts a reply that went out: the response, its error status, and on
// success the variables it served (RFC 1213, 6.12).
void countReply(int32_t status, int varsWord, uint32_t vars) {
    smpStatRaise(SMP_STAT_OUT_GET_RESPONSES);
    if (status == 0)
        smpStatRaise(varsWord, vars);
    else if (status > 0 && status < SMP_ERROR_STATUS_COUNT)
        smpStatRaise(outErrorWords[static_cast<size_t>(status)]);
}

// A step trace followed by the dump of the tree it names.
void traceTree(const char *text, AsnNode *tree) {
    if (text && logSteps()) {
        logPrintf("%s", text);
        asnPrint(tree, 0);
        fflush(stdout);
    }
}

// Sends the reply of a status and counts it when it went out; SMP_SEND_UNFIT
// when it does not fit. An error reply carries the request's bindings, or
// with none (version 2's tooBig, RFC 3416, 4.2.1) an empty list.
int sendCounted(SmpObject *object, ApsRec *handle, AsnNode *pdu, int32_t status, int32_t index,
                AsnNode *list, int varsWord, bool emptyList = false) {
    AsnNode *reply = nullptr;
    if (emptyList) {
        AsnNode *none = asnNewConstructed(ASN_UNIVERSAL, ASN_TAG_SEQUENCE, ASN_SEQUENCEOF);
        AsnNode *requestId = asnComponent(pdu, 1);
        reply =
            none && requestId ? smpPduBuild(SMP_GET_RESPONSE, requestId, status, 0, none) : nullptr;
        asnFree(requestId);
        asnFree(none);
    } else {
        reply = smpReply(pdu, status, index, list);
    }
    if (!reply)
        return 1;
    int r = smpSendFitting(object, handle, reply);
    if (r == 0)
        countReply(status, varsWord, list ? asnChildCount(list) : 0);
    asnFree(reply);
    return r;
}

// RFC 1157, 4.1.2: a reply that does not fit in a message is answered by a
// tooBig reply of the request's bindings with index 0 (version 2: of no
// bindings); only when even that does not fit is nothing sent, counted in
// snmpSilentDrops (RFC 3418). varsWord counts the bindings of a success.
int sendReply(SmpObject *object, ApsRec *handle, AsnNode *pdu, int32_t status, int32_t index,
              AsnNode *list, int varsWord) {
    status = statusFor(object->version, status);
    int r = sendCounted(object, handle, pdu, status, index, list, varsWord);
    if (r != SMP_SEND_UNFIT)
        return r;
    r = sendCounted(object, handle, pdu, SMP_TOO_BIG, 0, list, varsWord,
                    object->version != SMP_VERSION_1);
    if (r != SMP_SEND_UNFIT)
        return r;
    smpStatRaise(SMP_STAT_SILENT_DROPS);
    return 1;
}

// What one operation needs of the request: the store and the version.
struct OpContext {
    MibEntry *store;
    int32_t version;
};

// What one operation does with one binding: 0, or the error status that ends
// the walk.
using BindStep = int32_t (*)(const OpContext &op, AsnNode *bind, AsnNode *replyList);

// The bindings of the request in order until one fails; the index of the
// failing one (or one past the last) comes back through index.
int32_t walkBindings(AsnNode *pdu, const OpContext &op, AsnNode *replyList, BindStep step,
                     const char *seqTrace, int32_t *index) {
    AsnNode *list = asnComponent(pdu, 4);
    if (!list)
        return SMP_GEN_ERR;
    traceTree(seqTrace, list);
    int32_t status = 0;
    *index = 1;
    for (int p = 1; p <= asnDescendants(list) && status == 0;) {
        AsnNode *bind = asnComponent(list, p);
        if (!bind) {
            status = SMP_GEN_ERR;
            break;
        }
        status = step(op, bind, replyList);
        if (status == 0)
            ++*index;
        p += asnDescendants(bind) + 1;
        asnFree(bind);
    }
    asnFree(list);
    return status;
}

// The numbered traces of a read step: VarBind not built, list full, done.
struct StepTraces {
    const char *notBuilt, *full, *done;
};

// Appends a binding built for the reply (none when it could not be built).
int32_t appendBind(AsnNode *replyList, AsnNode *vb, const StepTraces &traces) {
    int32_t status = 0;
    if (!vb) {
        status = SMP_TOO_BIG;
        logFailureFlush("%s", traces.notBuilt);
    } else if (asnAppend(replyList, vb) != 0) {
        status = SMP_TOO_BIG;
        logFailureFlush("%s", traces.full);
    } else {
        logStepFlush("%s", traces.done);
    }
    asnFree(vb);
    return status;
}

// A VarBind of the request's own name node and the value found.
AsnNode *requestBind(const AsnNode *name, const AsnNode *value) {
    AsnNode *vb = asnNewConstructed(ASN_UNIVERSAL, ASN_TAG_SEQUENCE, ASN_SEQUENCE);
    if (vb && (asnAppend(vb, name) != 0 || asnAppend(vb, value) != 0))
        vb = asnFree(vb);
    return vb;
}

// One of RFC 3416's exceptions as a value.
AsnNode *exception(int32_t kind) {
    return asnNewPrimitive(ASN_CONTEXT, static_cast<uint32_t>(smpKindTypes[kind].tagNumber),
                           ASN_NULL, nullptr, 0);
}

// RFC 3584, 4.2.2.1: a version-1 requester never sees a Counter64.
bool hiddenFrom(int32_t version, const AsnNode *value) {
    return version == SMP_VERSION_1 && asnClass(value) == ASN_APPLICATION &&
           asnTag(value) == ASN_TAG_COUNTER64;
}

int32_t getStep(const OpContext &op, AsnNode *bind, AsnNode *replyList) {
    traceTree("smpGetOp: bind:\n", bind);
    AsnNode *name = asnComponent(bind, 1);
    if (!name)
        return SMP_GEN_ERR;
    traceTree("smpGetOp: name:\n", name);
    int32_t status = 0;
    AsnNode *value = smpAgentSide.store.get(op.store, asnValue(name), asnValueLength(name));
    if (value && hiddenFrom(op.version, value))
        value = asnFree(value);
    // RFC 3416, 4.2.1: version 2 tells which part of the name is missing.
    if (!value && op.version != SMP_VERSION_1)
        value = exception(smpAgentSide.store.exists(op.store, asnValue(name), asnValueLength(name))
                              ? SMP_KIND_NO_SUCH_INSTANCE
                              : SMP_KIND_NO_SUCH_OBJECT);
    if (!value) {
        status = SMP_NO_SUCH_NAME;
        logFailureFlush("smpGetOp 1\n");
    } else {
        status = appendBind(replyList, requestBind(name, value),
                            {"smpGetOp 2\n", "smpGetOp 6\n", "smpGetOp 7\n"});
        asnFree(value);
    }
    asnFree(name);
    return status;
}

// The object after a name (in buffer, *length octets), the name replaced by
// its own; none at the end of the MIB. Version 1 passes over Counter64s.
AsnNode *nextObject(const OpContext &op, uint8_t *buffer, int *length) {
    AsnNode *value = nullptr;
    do {
        asnFree(value);
        value = smpAgentSide.store.next(op.store, buffer, length, NAME_MAX_OCTETS);
    } while (value && hiddenFrom(op.version, value));
    return value;
}

// The binding after a name: 0, or the status that ends the operation. At the
// end of the MIB version 2 answers endOfMibView under the name asked
// (RFC 3416, 4.2.2); *atEnd says so.
int32_t nextBind(const OpContext &op, AsnNode *name, AsnNode *replyList, bool *atEnd) {
    uint8_t buffer[NAME_MAX_OCTETS];
    int length = asnGather(name, buffer, NAME_MAX_OCTETS);
    *atEnd = false;
    if (length < 0) {
        // Not the end of the MIB: the name could not be held (RFC 1157, 4.1.3).
        logFailureFlush("smpNextOp 0\n");
        return SMP_GEN_ERR;
    }
    AsnNode *value = nextObject(op, buffer, &length);
    if (!value) {
        logFailureFlush("smpNextOp 1\n"); // the end of the MIB
        if (op.version == SMP_VERSION_1)
            return SMP_NO_SUCH_NAME;
        *atEnd = true;
        value = exception(SMP_KIND_END_OF_MIB_VIEW);
        length = asnGather(name, buffer, NAME_MAX_OCTETS);
    }
    // The name is the next instance's, not the request's.
    int32_t status = appendBind(replyList, smpVarBind(buffer, length, value),
                                {"smpNextOp 2\n", "smpNextOp 6\n", "smpNextOp 7\n"});
    asnFree(value);
    return status;
}

int32_t nextStep(const OpContext &op, AsnNode *bind, AsnNode *replyList) {
    traceTree("smpNextOp: bind:\n", bind);
    AsnNode *name = asnComponent(bind, 1);
    if (!name)
        return SMP_GEN_ERR;
    traceTree("smpNextOp: name:\n", name);
    bool atEnd = false;
    int32_t status = nextBind(op, name, replyList, &atEnd);
    asnFree(name);
    return status;
}

// Test and set share their shape; only the store call and the traces differ.
int32_t setLikeStep(SmpStoreSetFn storeOp, MibEntry *store, AsnNode *bind,
                    const char *const traces[4]) {
    traceTree(traces[0], bind);
    AsnNode *name = asnComponent(bind, 1);
    AsnNode *value = asnComponent(bind, 2);
    int32_t status = SMP_GEN_ERR;
    if (name && value) {
        traceTree(traces[1], name);
        traceTree(traces[2], value);
        status = storeOp(store, asnValue(name), asnValueLength(name), value);
        if (status == 0)
            logStepFlush("%s", traces[3]);
    }
    asnFree(value);
    asnFree(name);
    return status;
}

constexpr const char *testTraces[4] = {"smpTestSetOp: bind:\n", "smpTestSetOp: name:\n",
                                       "smpTestSetOp: val:\n", "smpTestSetOp 7\n"};
constexpr const char *setTraces[4] = {"smpSetOp: bind:\n", "smpSetOp: name:\n", "smpSetOp: val:\n",
                                      "smpSetOp 7\n"};

int32_t testStep(const OpContext &op, AsnNode *bind, AsnNode *) {
    return setLikeStep(smpAgentSide.store.testSet, op.store, bind, testTraces);
}

int32_t setStep(const OpContext &op, AsnNode *bind, AsnNode *) {
    return setLikeStep(smpAgentSide.store.set, op.store, bind, setTraces);
}

struct ReadTraces {
    const char *entry, *asn, *seq, *error, *rseq;
};

constexpr ReadTraces getTraces = {"smpGetOp\n", "smpGetOp: asn:\n", "smpGetOp: seq:\n",
                                  "smpGetOp: error %d\n", "smpGetOp: rseq:\n"};
constexpr ReadTraces nextTraces = {"smpNextOp\n", "smpNextOp: asn:\n", "smpNextOp: seq:\n",
                                   "smpNextOp: error %d\n", "smpNextOp: rseq:\n"};

OpContext contextOf(SmpObject *object, ApsRec *handle) {
    return {smpAgentSide.store.getStore(handle), object->version};
}

// Get and GetNext: the bindings found go into a reply list of their own.
int readOp(SmpObject *object, ApsRec *handle, AsnNode *pdu, BindStep step,
           const ReadTraces &traces) {
    logEntryFlush("%s", traces.entry);
    traceTree(traces.asn, pdu);
    AsnNode *replyList = asnNewConstructed(ASN_UNIVERSAL, ASN_TAG_SEQUENCE, ASN_SEQUENCEOF);
    if (!replyList)
        return 1;
    int32_t index = 1;
    int32_t status =
        walkBindings(pdu, contextOf(object, handle), replyList, step, traces.seq, &index);
    logStepFlush(traces.error, status);
    traceTree(traces.rseq, replyList);
    int r = sendReply(object, handle, pdu, status, index, replyList, SMP_STAT_IN_TOTAL_REQ_VARS);
    asnFree(replyList);
    return r;
}

// Octets of an element of n content octets.
int tlvOctets(int n) {
    return 1 + (n < 128 ? 1 : n < 256 ? 2 : 3) + n;
}

// A GetBulk answer as it fills: bindings are added while the message, its
// lengths grown to their longest form, stays within SMP_MESSAGE_MAX.
struct BulkAnswer {
    AsnNode *list;
    int room; // octets left for bindings
    // Adds name and value (kept by the caller); false when it does not fit.
    bool add(const uint8_t *name, int nameLen, const AsnNode *value) {
        int octets = tlvOctets(tlvOctets(nameLen) + tlvOctets(asnValueLength(value)));
        if (octets > room)
            return false;
        AsnNode *vb = smpVarBind(name, nameLen, value);
        bool added = vb && asnAppend(list, vb) == 0;
        asnFree(vb);
        room -= added ? octets : room;
        return added;
    }
};

// The octets left for bindings in an answer to pdu through handle.
int bulkRoom(SmpObject *object, ApsRec *handle, AsnNode *pdu, AsnNode *emptyList) {
    AsnNode *reply = smpReply(pdu, 0, 0, emptyList);
    if (object->version == SMP_VERSION_3) {
        int room = reply ? smpV3Room(handle, reply) : 0;
        asnFree(reply);
        return room;
    }
    AsnNode *message = reply ? apsEncode(handle, reply, object->version) : nullptr;
    uint8_t buffer[SMP_MESSAGE_MAX];
    int empty = message ? asnEncode(message, buffer, SMP_MESSAGE_MAX) : -1;
    asnFree(message);
    asnFree(reply);
    // Three lengths (message, PDU, list) may each grow by two octets.
    return empty < 0 ? 0 : SMP_MESSAGE_MAX - empty - 6;
}

// One GetNext step of a GetBulk for the name in buffer: the value found (the
// name moves on), or endOfMibView (it stays).
AsnNode *bulkStep(const OpContext &op, uint8_t *buffer, int *length, bool *atEnd) {
    int found = *length;
    AsnNode *value = nextObject(op, buffer, &found);
    *atEnd = !value;
    if (value)
        *length = found;
    return value ? value : exception(SMP_KIND_END_OF_MIB_VIEW);
}

} // namespace

// RFC 3416, 4.2.3: the first non-repeaters names once, then max-repetitions
// rows of the others, each row from the names the row before found; the rows
// stop when the answer is full or a row is all endOfMibView. Negative counts
// are 0.
int smpBulkOp(SmpObject *object, ApsRec *handle, AsnNode *pdu) {
    logEntryFlush("smpBulkOp\n");
    OpContext op = contextOf(object, handle);
    AsnNode *request = asnComponent(pdu, 4);
    AsnNode *list = asnNewConstructed(ASN_UNIVERSAL, ASN_TAG_SEQUENCE, ASN_SEQUENCEOF);
    if (!request || !list) {
        asnFree(request);
        asnFree(list);
        return 1;
    }
    int count = asnChildCount(request);
    int nonRepeaters = std::clamp(smpComponentInt(pdu, 2), 0, count);
    int maxRepetitions = std::max(smpComponentInt(pdu, 3), 0);
    BulkAnswer answer{list, bulkRoom(object, handle, pdu, list)};
    std::vector<std::vector<uint8_t>> names;
    for (int p = 1, i = 0; p <= asnDescendants(request); ++i) {
        AsnNode *vb = asnComponent(request, p);
        AsnNode *name = vb ? asnComponent(vb, 1) : nullptr;
        std::vector<uint8_t> octets(NAME_MAX_OCTETS);
        int n = name ? asnGather(name, octets.data(), NAME_MAX_OCTETS) : -1;
        octets.resize(static_cast<size_t>(std::max(n, 0)));
        names.push_back(std::move(octets));
        p += vb ? asnDescendants(vb) + 1 : asnDescendants(request) + 1;
        asnFree(name);
        asnFree(vb);
    }
    asnFree(request);
    uint8_t buffer[NAME_MAX_OCTETS];
    bool full = false;
    auto step = [&](std::vector<uint8_t> &name, bool *atEnd) {
        std::copy(name.begin(), name.end(), buffer);
        int length = static_cast<int>(name.size());
        AsnNode *value = bulkStep(op, buffer, &length, atEnd);
        full = !value || !answer.add(buffer, length, value);
        asnFree(value);
        name.assign(buffer, buffer + length);
    };
    bool atEnd = false;
    for (int i = 0; i < nonRepeaters && !full; ++i)
        step(names[static_cast<size_t>(i)], &atEnd);
    for (int row = 0; row < maxRepetitions && !full && count > nonRepeaters; ++row) {
        bool allEnd = true;
        for (int i = nonRepeaters; i < count && !full; ++i) {
            step(names[static_cast<size_t>(i)], &atEnd);
            allEnd = allEnd && atEnd;
        }
        if (allEnd)
            break;
    }
    int r = sendReply(object, handle, pdu, 0, 0, list, SMP_STAT_IN_TOTAL_REQ_VARS);
    asnFree(list);
    return r;
}

int smpGetOp(SmpObject *object, ApsRec *handle, AsnNode *pdu) {
    return readOp(object, handle, pdu, getStep, getTraces);
}

int smpNextOp(SmpObject *object, ApsRec *handle, AsnNode *pdu) {
    return readOp(object, handle, pdu, nextStep, nextTraces);
}

// RFC 1157, 4.1.5: every binding is tested before any is set; a failure in
// the set pass leaves the bindings before it set.
int smpSetOp(SmpObject *object, ApsRec *handle, AsnNode *pdu) {
    logEntryFlush("smpSetOp\n");
    traceTree("smpSetOp: asn:\n", pdu);
    OpContext op = contextOf(object, handle);
    int32_t status = 0;
    int32_t index = 1;
    if (!smpAgentSide.store.isWritable(handle)) {
        logFailureFlush("smpSetOp: Read Only\n");
        status = SMP_READ_ONLY;
    } else {
        status = walkBindings(pdu, op, nullptr, testStep, "smpSetOp: seq:\n", &index);
        if (status == 0)
            status = walkBindings(pdu, op, nullptr, setStep, nullptr, &index);
    }
    logEntryFlush("smpSetOp: error %d\n", status);
    AsnNode *own = asnComponent(pdu, 4);
    int r =
        own ? sendReply(object, handle, pdu, status, index, own, SMP_STAT_IN_TOTAL_SET_VARS) : 1;
    asnFree(own);
    return r;
}

int smpErrorOp(SmpObject *object, ApsRec *handle, AsnNode *pdu, int32_t status, int32_t index) {
    AsnNode *own = asnComponent(pdu, 4);
    int r = own ? sendReply(object, handle, pdu, status, index, own, 0) : 1;
    asnFree(own);
    return r;
}
