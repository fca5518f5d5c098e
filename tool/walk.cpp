// The walk run: start-up, the first GetNextRequest, and the receive loop that
// hands every datagram to the engine, which calls toolUpcall.
#include "tool/walk.h"

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

int32_t requestId = 0;
bool walkDone = false;
int walkStatus = 0;
SmpBind *requestBinds = nullptr;
uint16_t requestBindCount = 0;

namespace {

constexpr uint32_t TIMER_RESOLUTION_MS = 5000;

uint8_t oidBuffer[WALK_OID_BUFFER];
SmpPdu requestPdu;

void timerRoutine(uint32_t, uintptr_t) {
    timeoutHandler();
}

uint32_t startTimer(uint32_t timeout) {
    return timerStart(timeout * 1000u, TIMER_RESOLUTION_MS, timerRoutine, 0);
}

} // namespace

[[noreturn]] void timeoutHandler() {
    printf("Request Timed Out\n");
    timerEndProcess(4); // flushes the standard streams first
}

void libraryStartup() {
    toolRegisterAgentSide();
    apsInit();
    apsTrivialInit();
    defReadFile(); // -df was stored there; a missing file only leaves names unresolved
    shminit(nullptr);
}

int toolWalk(uint32_t address, uint32_t port, uint32_t timeout, int32_t firstRequestId,
             const char *community, int nameCount, char **names) {
    libraryStartup();
    requestId = firstRequestId;
    walkStatus = 0;

    uint16_t count = static_cast<uint16_t>(nameCount);
    requestBinds = smpAllocBinds(count);
    if (!requestBinds && count != 0) {
        printf("%s: Too many objects\n", programName);
        return 2;
    }
    uint8_t *at = oidBuffer;
    int room = WALK_OID_BUFFER;
    requestBindCount = 0;
    for (uint16_t i = 0; i < count; ++i) {
        int n = smxTextToObjectId(at, room, names[i]);
        if (n < 0) {
            printf("%s: Error parsing argument %s\n", programName, names[i]);
            requestBinds = smpFreeBinds(requestBinds);
            return 2;
        }
        SmpBind *b = &requestBinds[i];
        b->nameLen = n;
        b->name = at;
        b->kind = SMP_KIND_NULL;
        b->valueLen = 0;
        b->value = nullptr;
        at += n;
        room -= n;
        ++requestBindCount;
    }
    walkRememberNames(requestBinds,
                      requestBindCount); // fits: the names share oidBuffer

    int sock = udpOpenSocket();
    if (sock < 0) {
        printf("socket");
        requestBinds = smpFreeBinds(requestBinds);
        return 1;
    }
    if (udpBindSocket(sock, 0, 0) != 0) {
        printf("bind");
        udpCloseSocket(sock);
        requestBinds = smpFreeBinds(requestBinds);
        return 1;
    }
    UdpEndpoint *endpoint = udpNew(sock, address, port & 0xFFFFu);
    SmpObject *object = smpNew(endpoint, udpSend, toolUpcall);
    if (!object) {
        printf("%s: Error creating protocol object\n", programName);
        endpoint = udpFree(endpoint);
        udpCloseSocket(sock);
        requestBinds = smpFreeBinds(requestBinds);
        return 2;
    }
    ApsRec *auth = apsNew(community, "trivial", nullptr); // none fails the send below

    requestPdu = SmpPdu{};
    requestPdu.type = SMP_GET_NEXT_REQUEST;
    requestPdu.auth = auth;
    requestPdu.requestId = requestId;
    requestPdu.errorStatus = 0;
    requestPdu.errorIndex = 0;
    requestPdu.count = requestBindCount;
    requestPdu.binds = requestBinds;
    if (smpRequest(object, &requestPdu) != 0) {
        printf("%s: Error sending protocol request\n", programName);
        object = smpFree(object);
        endpoint = udpFree(endpoint);
        auth = apsFree(auth);
        udpCloseSocket(sock);
        requestBinds = smpFreeBinds(requestBinds);
        return 2;
    }
    object = smpFree(object);

    uint32_t timer = 0;
    if (timeout != 0) {
        timer = startTimer(timeout);
        if (timer == 0) {
            printf("%s", programName);
            endpoint = udpFree(endpoint);
            auth = apsFree(auth);
            udpCloseSocket(sock);
            requestBinds = smpFreeBinds(requestBinds);
            return 2;
        }
    }

    walkDone = false;
    uint8_t datagram[WALK_DATAGRAM];
    for (;;) {
        // The timeout measures the silence before each receive.
        if (timeout != 0) {
            if (timerCancel(timer) != 0)
                printf("%s", programName);
            timer = startTimer(timeout);
            if (timer == 0)
                printf("%s", programName);
        }
        object = smpNew(endpoint, udpSend, toolUpcall);
        if (!object) {
            printf("%s: Error creating protocol object\n", programName);
            endpoint = udpFree(endpoint);
            auth = apsFree(auth);
            udpCloseSocket(sock);
            requestBinds = smpFreeBinds(requestBinds);
            return 2;
        }
        // A longer datagram is cut at the buffer's end and then fails to decode.
        int length = udpReceive(sock, datagram, WALK_DATAGRAM, nullptr, nullptr);
        if (logLevel > 1) {
            for (int i = 0; i < length; ++i)
                logPrintf("%02X ", datagram[i]);
            fflush(stdout);
            logPrintf("\n");
        }
        smpInput(object, 0, datagram, static_cast<int16_t>(length));
        object = smpFree(object);
        if (logLevel > 1) {
            logPrintf("result: %d\n", length);
            fflush(stdout);
        }
        if (length < 0 || walkDone)
            break;
    }

    if (timeout != 0)
        timerCancel(timer);
    endpoint = udpFree(endpoint);
    auth = apsFree(auth);
    requestBinds = smpFreeBinds(requestBinds);
    int closed = udpCloseSocket(sock);
    return walkStatus != 0 ? walkStatus : closed;
}
