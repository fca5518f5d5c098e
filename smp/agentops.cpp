// Agent operations: the GetResponse to a GetRequest, GetNextRequest or
// SetRequest (RFC 1157, 4.1.2 to 4.1.5).
#include <array>
#include <cstdio>

#include "platform/log.h"
#include "smp/agentside.h"
#include "smp/smp.h"
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
// has none there (snmp 23 is not used).
constexpr std::array<int, SMP_ERROR_STATUS_COUNT> outErrorWords = {
    0, SMP_STAT_OUT_TOO_BIGS, SMP_STAT_OUT_NO_SUCH_NAMES, SMP_STAT_OUT_BAD_VALUES,
    0, SMP_STAT_OUT_GEN_ERRS,
};

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
// when it does not fit.
int sendCounted(SmpObject *object, ApsRec *handle, AsnNode *pdu, int32_t status, int32_t index,
                AsnNode *list, int varsWord) {
    AsnNode *reply = smpReply(pdu, status, index, list);
    if (!reply)
        return 1;
    int r = smpSendFitting(object, handle, reply);
    if (r == 0)
        countReply(status, varsWord, list ? asnChildCount(list) : 0);
    asnFree(reply);
    return r;
}

// RFC 1157, 4.1.2: a reply that does not fit in a message is answered by a
// tooBig reply of the request's bindings with index 0; only when even that
// does not fit is nothing sent. varsWord counts the bindings of a success.
int sendReply(SmpObject *object, ApsRec *handle, AsnNode *pdu, int32_t status, int32_t index,
              AsnNode *list, int varsWord) {
    int r = sendCounted(object, handle, pdu, status, index, list, varsWord);
    if (r != SMP_SEND_UNFIT)
        return r;
    r = sendCounted(object, handle, pdu, SMP_TOO_BIG, 0, list, varsWord);
    return r == SMP_SEND_UNFIT ? 1 : r;
}

// What one operation does with one binding: 0, or the error status that ends
// the walk.
using BindStep = int32_t (*)(MibEntry *store, AsnNode *bind, AsnNode *replyList);

// The bindings of the request in order until one fails; the index of the
// failing one (or one past the last) comes back through index.
int32_t walkBindings(AsnNode *pdu, MibEntry *store, AsnNode *replyList, BindStep step,
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
        status = step(store, bind, replyList);
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

int32_t getStep(MibEntry *store, AsnNode *bind, AsnNode *replyList) {
    traceTree("smpGetOp: bind:\n", bind);
    AsnNode *name = asnComponent(bind, 1);
    if (!name)
        return SMP_GEN_ERR;
    traceTree("smpGetOp: name:\n", name);
    int32_t status = 0;
    AsnNode *value = smpAgentSide.store.get(store, asnValue(name), asnValueLength(name));
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

int32_t nextStep(MibEntry *store, AsnNode *bind, AsnNode *replyList) {
    traceTree("smpNextOp: bind:\n", bind);
    AsnNode *name = asnComponent(bind, 1);
    if (!name)
        return SMP_GEN_ERR;
    traceTree("smpNextOp: name:\n", name);
    uint8_t buffer[NAME_MAX_OCTETS];
    int length = asnGather(name, buffer, NAME_MAX_OCTETS);
    asnFree(name);
    if (length < 0) {
        // Not the end of the MIB: the name could not be held (RFC 1157, 4.1.3).
        logFailureFlush("smpNextOp 0\n");
        return SMP_GEN_ERR;
    }
    AsnNode *value = smpAgentSide.store.next(store, buffer, &length, NAME_MAX_OCTETS);
    if (!value) {
        logFailureFlush("smpNextOp 1\n"); // the end of the MIB
        return SMP_NO_SUCH_NAME;
    }
    // The name is the next instance's, not the request's.
    int32_t status = appendBind(replyList, smpVarBind(buffer, length, value),
                                {"smpNextOp 2\n", "smpNextOp 6\n", "smpNextOp 7\n"});
    asnFree(value);
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

int32_t testStep(MibEntry *store, AsnNode *bind, AsnNode *) {
    return setLikeStep(smpAgentSide.store.testSet, store, bind, testTraces);
}

int32_t setStep(MibEntry *store, AsnNode *bind, AsnNode *) {
    return setLikeStep(smpAgentSide.store.set, store, bind, setTraces);
}

struct ReadTraces {
    const char *entry, *asn, *seq, *error, *rseq;
};

constexpr ReadTraces getTraces = {"smpGetOp\n", "smpGetOp: asn:\n", "smpGetOp: seq:\n",
                                  "smpGetOp: error %d\n", "smpGetOp: rseq:\n"};
constexpr ReadTraces nextTraces = {"smpNextOp\n", "smpNextOp: asn:\n", "smpNextOp: seq:\n",
                                   "smpNextOp: error %d\n", "smpNextOp: rseq:\n"};

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
        walkBindings(pdu, smpAgentSide.store.getStore(handle), replyList, step, traces.seq, &index);
    logStepFlush(traces.error, status);
    traceTree(traces.rseq, replyList);
    int r = sendReply(object, handle, pdu, status, index, replyList, SMP_STAT_IN_TOTAL_REQ_VARS);
    asnFree(replyList);
    return r;
}

} // namespace

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
    MibEntry *store = smpAgentSide.store.getStore(handle);
    int32_t status = 0;
    int32_t index = 1;
    if (!smpAgentSide.store.isWritable(handle)) {
        logFailureFlush("smpSetOp: Read Only\n");
        status = SMP_READ_ONLY;
    } else {
        status = walkBindings(pdu, store, nullptr, testStep, "smpSetOp: seq:\n", &index);
        if (status == 0)
            status = walkBindings(pdu, store, nullptr, setStep, nullptr, &index);
    }
    logEntryFlush("smpSetOp: error %d\n", status);
    AsnNode *own = asnComponent(pdu, 4);
    int r =
        own ? sendReply(object, handle, pdu, status, index, own, SMP_STAT_IN_TOTAL_SET_VARS) : 1;
    asnFree(own);
    return r;
}
