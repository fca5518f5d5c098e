// Trap sending: one socket per Trap, one protocol object, endpoint and
// community handle per destination.
#include "agent/trapsend.h"

#include "agent/trapfile.h"
#include "platform/log.h"
#include "smp/aps.h"
#include "smp/smp.h"

namespace {

// The time stamps: the clock they are read from and the time they count from.
struct TrapClock {
    TrapClockFn now = timeOfDay;
    TimeOfDay start{0, 0};
};

TrapClock trapClock;

// Hundredths of a second since trapStartClock, in 64 bits wrapped to the 32
// bits of TimeTicks: the product overflows 32 bits after 248 days.
int32_t timeStamp() {
    TimeOfDay now{0, 0};
    trapClock.now(&now, nullptr);
    const TimeOfDay &start = trapClock.start;
    int64_t elapsed = (static_cast<int64_t>(now.seconds) - start.seconds) * 100 +
                      (static_cast<int64_t>(now.microseconds) - start.microseconds) / 10000;
    return static_cast<int32_t>(static_cast<uint32_t>(elapsed));
}

// The Trap PDU that every destination gets; auth is set per destination.
SmpPdu trapPdu(int32_t genericTrap, int32_t specificTrap, uint16_t count, SmpBind *binds) {
    SmpPdu pdu{};
    pdu.type = SMP_TRAP;
    int length = 0;
    pdu.enterprise = trapEnterpriseOid(&length);
    pdu.enterpriseLen = static_cast<int16_t>(length);
    pdu.agentAddr = trapAgentAddress(&length);
    pdu.agentAddrLen = static_cast<int16_t>(length);
    pdu.genericTrap = genericTrap;
    pdu.specificTrap = specificTrap;
    pdu.timeStamp = timeStamp(); // one for every destination
    pdu.count = count;
    pdu.binds = binds;
    return pdu;
}

} // namespace

int trapSend(int32_t genericTrap, int32_t specificTrap, uint16_t count, SmpBind *binds) {
    logFailureFlush("trapSend ()\n");
    int sock = udpOpenSocket();
    if (sock < 0) {
        logPrintf("socket");
        return -1;
    }
    if (udpBindSocket(sock, 0, 0) != 0) {
        logPrintf("bind");
        udpCloseSocket(sock);
        return -1;
    }

    SmpPdu pdu = trapPdu(genericTrap, specificTrap, count, binds);
    for (int i = 0; i < trapDestCount(); ++i) {
        const TrapDest &dest = *trapDestAt(i);
        UdpEndpoint *endpoint = udpNew(sock, dest.address, dest.port);
        SmpObject *object = endpoint ? smpNew(endpoint, udpSend, trapUpcall) : nullptr;
        if (!object) {
            udpFree(endpoint);
            udpCloseSocket(sock);
            return -2;
        }
        pdu.auth = apsNew(dest.community, "trivial", nullptr);
        logFailureFlush("send trap request\n");
        smpRequest(object, &pdu);
        smpFree(object);
        udpFree(endpoint);
        pdu.auth = apsFree(pdu.auth);
    }
    return udpCloseSocket(sock);
}

int trapUpcall(SmpObject *, SmpPdu *) {
    logPrintf("Upcall:\n");
    return 0;
}

TrapClockFn trapSetClock(TrapClockFn clock) {
    TrapClockFn previous = trapClock.now;
    trapClock.now = clock ? clock : timeOfDay;
    return previous;
}

void trapStartClock() {
    trapClock.now(&trapClock.start, nullptr);
}
