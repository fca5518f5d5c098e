// The walk run: start-up, the first GetNextRequest, and the receive loop that
// hands every datagram to the engine, which calls toolUpcall.
#include "tool/walk.h"

#include "asn/asl.h"
#include "asn/asn.h"
#include "platform/log.h"
#include "platform/net.h"
#include "smp/aps.h"
#include "smp/smp.h"
#include "smp/v3.h"
#include "smx/def.h"
#include "smx/smx.h"
#include "smx/stats.h"
#include "tool/tool.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

WalkState walkState;

namespace {

static_assert(WALK_DATAGRAM >= SMP_MESSAGE_MAX, "a sent message is kept for a resend");

// The protocol objects' send function: keeps the message for a resend.
int keepAndSend(void *endpoint, const uint8_t *octets, int length) {
    if (octets && length >= 0 && length <= WALK_DATAGRAM) {
        memcpy(walkState.sent, octets, static_cast<size_t>(length));
        walkState.sentLength = length;
        walkState.resends = 0;
    }
    return udpSend(endpoint, octets, length);
}

// What the walk holds; none of each until it is acquired.
struct WalkResources {
    int sock = -1;
    UdpEndpoint *endpoint = nullptr;
    SmpObject *object = nullptr;
};

// A protocol object on endpoint; none after the message when it cannot be made.
SmpObject *newObject(UdpEndpoint *endpoint) {
    SmpObject *object = smpNew(endpoint, keepAndSend, toolUpcall);
    if (!object)
        printf("%s: Error creating protocol object\n", programName);
    else if (walkState.session)
        smpSetSession(object, walkState.session);
    else
        object->version = walkState.version;
    return object;
}

// The command-line names, encoded one after another into walkState.names, as
// the request's bindings; 2 after the message when one does not convert.
int encodeNames(int nameCount, char **names) {
    uint16_t count = static_cast<uint16_t>(nameCount);
    walkState.requestBinds = smpAllocBinds(count);
    walkState.stepBinds = smpAllocBinds(count);
    if ((!walkState.requestBinds || !walkState.stepBinds) && count != 0) {
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

// Opens the socket and sends the first request; the walk's status when that
// fails, else 0.
int sendFirst(WalkResources *r, uint32_t address, uint32_t port) {
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
    // None fails the send below.
    walkState.auth = apsNew(walkState.community, "trivial", nullptr);
    // Without its engine a session asks for it first (RFC 3414, 4).
    walkState.discovering = walkState.session && !smpSessionReady(walkState.session);
    if (walkState.discovering && smpSessionDiscover(r->object, walkState.requestId) != 0) {
        printf("%s: Error sending protocol request\n", programName);
        return 2;
    }
    if (!walkState.discovering && walkSendStep(r->object) != 0)
        return 2;
    r->object = smpFree(r->object);
    return 0;
}

// Hands every datagram to the engine until the walk ends or a receive fails;
// the walk's status.
//
// The inactivity timeout is a deadline on the wait before each receive, kept
// on the main thread: a resend needs the outstanding request and the socket,
// which a timer thread ending the process could not use safely. So the silence
// before each receive is measured as before, and a stream of datagrams, even
// ignored ones, keeps the walk alive.
int receiveAll(WalkResources *r, uint32_t timeout, uint32_t retries) {
    walkState.done = false;
    uint8_t datagram[WALK_DATAGRAM];
    // timeout x 1000 in 32 bits: it wraps past 4294967 s, as it always did.
    if (timeout != 0 && udpSetReceiveTimeout(r->sock, timeout * 1000u) != 0)
        return 2;
    for (;;) {
        // A longer datagram gives WALK_DATAGRAM + 1, which the engine refuses.
        int length = udpReceive(r->sock, datagram, WALK_DATAGRAM, nullptr, nullptr);
        if (length == UDP_TIMED_OUT) {
            // The same octets, so an answer to any of the sends counts.
            if (walkState.resends < retries) {
                ++walkState.resends;
                udpSend(r->endpoint, walkState.sent, walkState.sentLength);
                continue;
            }
            // A wrong privacy key makes the agent drop the request unanswered
            // (RFC 3414, 3.2 step 8), while the discovery was answered.
            bool privacy = walkState.discovered && !walkState.answered && walkState.session &&
                           walkState.session->level == USM_AUTH_PRIV;
            if (walkState.flags & TOOL_JSON)
                printf(privacy ? "{\"error\":\"timeout\",\"check\":\"privacyPassphrase\"}\n"
                               : "{\"error\":\"timeout\"}\n");
            else
                printf(privacy ? "Request Timed Out (check the privacy passphrase)\n"
                               : "Request Timed Out\n");
            return 4;
        }
        r->object = newObject(r->endpoint);
        if (!r->object)
            return 2;
        if (logSteps()) {
            for (int i = 0; i < length && i < WALK_DATAGRAM; ++i)
                logPrintf("%02X ", datagram[i]);
            fflush(stdout);
            logPrintf("\n");
        }
        smpInput(r->object, 0, datagram, static_cast<int16_t>(length));
        // v2c: a cut answer to the outstanding request says the answer is too
        // big for us, as tooBig says it for the agent.
        int32_t id = 0;
        if (length > WALK_DATAGRAM && walkState.version == SMP_VERSION_2C &&
            walkCutResponseId(datagram, WALK_DATAGRAM, &id) && id == walkState.requestId) {
            SmpPdu cut{};
            cut.requestId = id;
            cut.errorStatus = SMP_TOO_BIG;
            walkTooBig(r->object, &cut);
        }
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
    r->endpoint = udpFree(r->endpoint);
    walkState.auth = apsFree(walkState.auth);
    if (walkState.session)
        smpSessionFree(walkState.session); // wipes the keys
    walkState.session = nullptr;
    walkState.requestBinds = smpFreeBinds(walkState.requestBinds);
    walkState.stepBinds = smpFreeBinds(walkState.stepBinds);
    int closed = r->sock >= 0 ? udpCloseSocket(r->sock) : 0;
    return status != 0 ? status : closed;
}

} // namespace

void libraryStartup() {
    asnInit();
    aslInit();
    toolRegisterAgentSide();
    apsInit();
    apsTrivialInit();
    defReadFile(); // -df was stored there; a missing file only leaves names unresolved
    shminit(nullptr);
}

namespace {

SmpSession session;

// Sets up version 3's session and wipes the passphrases where they came from;
// 0, or 2 after the message.
int startSession(const ToolSettings *s) {
    int r = smpSessionInit(&session, s->user, s->level, s->auth, s->authPassphrase, s->priv,
                           s->privPassphrase, s->context, s->engineId, s->engineIdLength);
    toolWipePassphrases(s);
    if (r != 0) {
        smpSessionFree(&session);
        printf("%s: Error setting up the security: %d\n", programName, r);
        return 2;
    }
    walkState.session = &session;
    return 0;
}

} // namespace

int toolWalk(const ToolSettings *s) {
    libraryStartup();
    walkState.requestId = s->requestId;
    walkState.status = 0;
    walkState.version = s->version;
    walkState.repetitions = s->version != SMP_VERSION_1 ? s->repetitions : 0;
    walkState.session = nullptr;
    walkState.discovering = walkState.discovered = walkState.resynced = false;
    walkState.answered = false;
    walkState.stalled = false;
    walkState.flags = s->flags;
    walkState.row = 0;
    walkState.community = s->community;

    WalkResources r;
    int status = s->version == SMP_VERSION_3 ? startSession(s) : 0;
    if (status == 0)
        status = encodeNames(s->nameCount, s->names);
    if (status == 0)
        status = sendFirst(&r, s->agentAddress, static_cast<uint32_t>(s->agentPort));
    if (status == 0)
        status = receiveAll(&r, s->timeout, s->retries);
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
    // Only values sent back can make it outgrow; NULLs are the least there is.
    bool values = false;
    for (uint16_t i = 0; i < record->count && !values; ++i)
        values = record->binds[i].kind != SMP_KIND_NULL;
    bool asNull = values && object && !requestFits(object, record);
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

int walkSendStep(SmpObject *object) {
    WalkColumns *c = &walkState.columns;
    for (uint16_t i = 0; i < c->count; ++i) {
        SmpBind *b = &walkState.stepBinds[i];
        b->nameLen = c->length[i];
        b->name = c->octets + c->offset[i];
        b->kind = SMP_KIND_NULL;
        b->valueLen = 0;
        b->value = nullptr;
    }
    SmpPdu request{};
    bool bulk = walkState.repetitions > 0;
    request.type = bulk ? SMP_GET_BULK_REQUEST : SMP_GET_NEXT_REQUEST;
    request.auth = walkState.auth;
    request.requestId = walkState.requestId;
    request.errorStatus = 0;                    // GetBulk: non-repeaters
    request.errorIndex = walkState.repetitions; // GetBulk: max-repetitions
    request.count = c->count;
    request.binds = walkState.stepBinds;
    return walkSend(object, &request);
}

namespace {

// An identifier octet and a definite length (up to four length octets) at
// *at; *at moves to the content. The content itself need not be within n.
bool peekHeader(const uint8_t *p, int n, int *at, uint8_t tag, uint32_t *length) {
    if (*at + 2 > n || p[*at] != tag)
        return false;
    uint32_t first = p[*at + 1];
    *at += 2;
    int digits = first & 0x80 ? static_cast<int>(first & 0x7F) : 0;
    if ((first & 0x80) && (digits == 0 || digits > 4 || *at + digits > n))
        return false;
    *length = digits ? 0 : first;
    for (; digits > 0; --digits)
        *length = (*length << 8) | p[(*at)++];
    return true;
}

// As peekHeader, for an element whose content must lie within n.
bool peekWhole(const uint8_t *p, int n, int *at, uint8_t tag, uint32_t *length) {
    return peekHeader(p, n, at, tag, length) && *length <= static_cast<uint32_t>(n - *at);
}

} // namespace

bool walkCutResponseId(const uint8_t *p, int n, int32_t *requestId) {
    // RFC 1901, RFC 3416, 3: SEQUENCE { version, community, GetResponse {
    // request-id, ... } }; the parts read here come before the bindings.
    int at = 0;
    uint32_t length = 0;
    size_t community = strlen(walkState.community);
    if (!peekHeader(p, n, &at, 0x30, &length) || !peekWhole(p, n, &at, 0x02, &length) ||
        length != 1 || p[at++] != static_cast<uint8_t>(walkState.version) ||
        !peekWhole(p, n, &at, 0x04, &length) || length != community ||
        memcmp(p + at, walkState.community, community) != 0)
        return false;
    at += static_cast<int>(length);
    if (!peekHeader(p, n, &at, 0xA2, &length) || !peekWhole(p, n, &at, 0x02, &length) ||
        length < 1 || length > 5)
        return false;
    // Two's complement; the five-octet unsigned form keeps its low 32 bits.
    uint32_t id = p[at] & 0x80 ? UINT32_MAX : 0;
    for (uint32_t i = 0; i < length; ++i)
        id = (id << 8) | p[at + static_cast<int>(i)];
    *requestId = static_cast<int32_t>(id);
    return true;
}
