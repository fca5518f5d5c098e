// The walk run: start-up, the first GetNextRequest, and the receive loop that
// hands every datagram to the engine, which calls toolUpcall.
#include "tool/walk.h"

#include "asn/asl.h"
#include "asn/asn.h"
#include "platform/log.h"
#include "platform/net.h"
#include "platform/timer.h"
#include "smp/aps.h"
#include "smp/smp.h"
#include "smx/def.h"
#include "smx/smx.h"
#include "smx/stats.h"
#include "tool/tool.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

WalkState walkState;

namespace {

constexpr uint32_t TIMER_RESOLUTION_MS = 5000;

void timerRoutine(uint32_t, uintptr_t) {
    timeoutHandler();
}

// Starts the inactivity timer; when it cannot, prints the program's name alone.
uint32_t startTimer(uint32_t timeout) {
    uint32_t timer = timerStart(timeout * 1000u, TIMER_RESOLUTION_MS, timerRoutine, 0);
    if (timer == 0)
        printf("%s", programName);
    return timer;
}

// What the walk holds; none of each until it is acquired.
struct WalkResources {
    int sock = -1;
    UdpEndpoint *endpoint = nullptr;
    SmpObject *object = nullptr;
    ApsRec *auth = nullptr;
    uint32_t timer = 0;
};

// A protocol object on endpoint; none after the message when it cannot be made.
SmpObject *newObject(UdpEndpoint *endpoint) {
    SmpObject *object = smpNew(endpoint, udpSend, toolUpcall);
    if (!object)
        printf("%s: Error creating protocol object\n", programName);
    return object;
}

// The command-line names, encoded one after another into walkState.names, as
// the request's bindings; 2 after the message when one does not convert.
int encodeNames(int nameCount, char **names) {
    uint16_t count = static_cast<uint16_t>(nameCount);
    walkState.requestBinds = smpAllocBinds(count);
    if (!walkState.requestBinds && count != 0) {
        printf("%s: Too many objects\n", programName);
        return 2;
    }
    uint8_t *at = walkState.names;
    int room = WALK_OID_BUFFER;
    walkState.requestBindCount = 0;
    for (uint16_t i = 0; i < count; ++i) {
        int n = smxTextToObjectId(at, room, names[i]);
        if (n < 0) {
            printf("%s: Error parsing argument %s\n", programName, names[i]);
            return 2;
        }
        SmpBind *b = &walkState.requestBinds[i];
        b->nameLen = n;
        b->name = at;
        b->kind = SMP_KIND_NULL;
        b->valueLen = 0;
        b->value = nullptr;
        at += n;
        room -= n;
        ++walkState.requestBindCount;
    }
    // Fits: the names share walkState.names.
    walkRememberNames(walkState.requestBinds, walkState.requestBindCount);
    return 0;
}

// Opens the socket and sends the first GetNextRequest; the walk's status
// when that fails, else 0.
int sendFirst(WalkResources *r, uint32_t address, uint32_t port, const char *community) {
    r->sock = udpOpenSocket();
    if (r->sock < 0) {
        printf("socket");
        return 1;
    }
    if (udpBindSocket(r->sock, 0, 0) != 0) {
        printf("bind");
        return 1;
    }
    r->endpoint = udpNew(r->sock, address, port & 0xFFFFu);
    r->object = newObject(r->endpoint);
    if (!r->object)
        return 2;
    r->auth = apsNew(community, "trivial", nullptr); // none fails the send below

    SmpPdu request{};
    request.type = SMP_GET_NEXT_REQUEST;
    request.auth = r->auth;
    request.requestId = walkState.requestId;
    request.errorStatus = 0;
    request.errorIndex = 0;
    request.count = walkState.requestBindCount;
    request.binds = walkState.requestBinds;
    if (walkSend(r->object, &request) != 0)
        return 2;
    r->object = smpFree(r->object);
    return 0;
}

// Hands every datagram to the engine until the walk ends or a receive fails;
// the walk's status.
int receiveAll(WalkResources *r, uint32_t timeout) {
    if (timeout != 0) {
        r->timer = startTimer(timeout);
        if (r->timer == 0)
            return 2;
    }
    walkState.done = false;
    uint8_t datagram[WALK_DATAGRAM];
    for (;;) {
        // The timeout measures the silence before each receive.
        if (timeout != 0) {
            if (timerCancel(r->timer) != 0)
                printf("%s", programName);
            r->timer = startTimer(timeout);
        }
        r->object = newObject(r->endpoint);
        if (!r->object)
            return 2;
        // A longer datagram gives WALK_DATAGRAM + 1, which the engine refuses.
        int length = udpReceive(r->sock, datagram, WALK_DATAGRAM, nullptr, nullptr);
        if (logSteps()) {
            for (int i = 0; i < length && i < WALK_DATAGRAM; ++i)
                logPrintf("%02X ", datagram[i]);
            fflush(stdout);
            logPrintf("\n");
        }
        smpInput(r->object, 0, datagram, static_cast<int16_t>(length));
        r->object = smpFree(r->object);
        logStepFlush("result: %d\n", length);
        if (length < 0 || walkState.done)
            return walkState.status;
    }
}

// Releases all the walk holds, whatever it got to; the walk's status, or when
// that is 0 the closing of the socket's.
int release(WalkResources *r, int status) {
    r->object = smpFree(r->object);
    if (r->timer != 0)
        timerCancel(r->timer);
    r->endpoint = udpFree(r->endpoint);
    r->auth = apsFree(r->auth);
    walkState.requestBinds = smpFreeBinds(walkState.requestBinds);
    int closed = r->sock >= 0 ? udpCloseSocket(r->sock) : 0;
    return status != 0 ? status : closed;
}

} // namespace

[[noreturn]] void timeoutHandler() {
    printf("Request Timed Out\n");
    timerEndProcess(4); // flushes the standard streams first
}

void libraryStartup() {
    asnInit();
    aslInit();
    toolRegisterAgentSide();
    apsInit();
    apsTrivialInit();
    defReadFile(); // -df was stored there; a missing file only leaves names unresolved
    shminit(nullptr);
}

int toolWalk(uint32_t address, uint32_t port, uint32_t timeout, int32_t firstRequestId,
             const char *community, int nameCount, char **names) {
    libraryStartup();
    walkState.requestId = firstRequestId;
    walkState.status = 0;

    WalkResources r;
    int status = encodeNames(nameCount, names);
    if (status == 0)
        status = sendFirst(&r, address, port, community);
    if (status == 0)
        status = receiveAll(&r, timeout);
    return release(&r, status);
}

namespace {

// False only when record's message is built and is longer than SMP_MESSAGE_MAX
// octets; one that cannot be built at all fails as it is sent.
bool requestFits(const SmpObject *object, const SmpPdu *record) {
    AsnNode *list = asnNewConstructed(ASN_UNIVERSAL, ASN_TAG_SEQUENCE, ASN_SEQUENCE);
    bool built = list && (record->count == 0 || record->binds);
    for (uint16_t i = 0; built && i < record->count; ++i) {
        const SmpBind *b = &record->binds[i];
        AsnNode *value = smpValueNode(b);
        AsnNode *bind = value ? smpVarBind(b->name, b->nameLen, value) : nullptr;
        built = bind && asnAppend(list, bind) == 0;
        asnFree(value);
        asnFree(bind);
    }
    AsnNode *id = built ? asnNewUnsigned(ASN_UNIVERSAL, ASN_TAG_INTEGER,
                                         static_cast<uint32_t>(record->requestId))
                        : nullptr;
    AsnNode *pdu = id ? smpPduBuild(static_cast<uint32_t>(record->type), id, record->errorStatus,
                                    record->errorIndex, list)
                      : nullptr;
    AsnNode *message = pdu ? apsEncode(record->auth, pdu, object->version) : nullptr;
    uint8_t octets[SMP_MESSAGE_MAX];
    bool fits = !message || asnEncode(message, octets, SMP_MESSAGE_MAX) >= 0;
    for (AsnNode *node : {message, pdu, id, list})
        asnFree(node);
    return fits;
}

} // namespace

int walkSend(SmpObject *object, SmpPdu *record) {
    // The values of a GetNextRequest are ignored by the agent (RFC 1157,
    // 4.1.3): those sent back from a full answer go as NULL when they would
    // not fit, as when the request id gains an octet (127 to 128).
    bool asNull = object && !requestFits(object, record);
    for (uint16_t i = 0; asNull && i < record->count; ++i) {
        record->binds[i].kind = SMP_KIND_NULL;
        record->binds[i].valueLen = 0;
        record->binds[i].value = nullptr;
    }
    int r = smpRequest(object, record);
    if (r != 0)
        printf("%s: Error sending protocol request\n", programName);
    return r;
}

int walkRememberNames(const SmpBind *binds, uint16_t count) {
    WalkColumns *c = &walkState.columns;
    int used = 0;
    for (uint16_t i = 0; i < count; ++i) {
        int len = binds[i].nameLen;
        if (i >= WALK_OID_BUFFER || len < 0 || len > WALK_OID_BUFFER - used)
            return -1;
        if (len > 0)
            memcpy(c->octets + used, binds[i].name, static_cast<size_t>(len));
        c->offset[i] = used;
        c->length[i] = len;
        used += len;
    }
    c->count = count;
    return 0;
}
