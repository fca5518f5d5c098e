// mibagent: a small SNMP version 1 agent built from the library's agent side,
// serving MIB-II (RFC 1213) from the running system on one UDP socket.
//
// Bounds: a datagram is at most AGENT_DATAGRAM octets (a longer one is cut
// there and then fails to decode); -b registers at most DEMO_TEST_ROWS_MAX
// rows.
#include "agent/comm.h"
#include "agent/engine.h"
#include "agent/mib.h"
#include "agent/mib2.h"
#include "agent/trap.h"
#include "agent/usr.h"
#include "demo/mibvars.h"
#include "platform/crypto.h"
#include "platform/log.h"
#include "platform/net.h"
#include "smp/agentside.h"
#include "smp/aps.h"
#include "smp/smp.h"
#include "smp/v3.h"
#include "smx/def.h"
#include "smx/number.h"
#include "smx/stats.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int AGENT_DATAGRAM = 2048;

int printUsage() {
    printf("Usage: %s [-d] [-h address] [-p port] [-b count]\n", programName);
    return 1;
}

// Responses and Traps sent to an agent are not its business.
int agentUpcall(SmpObject *, SmpPdu *) {
    return 0;
}

int randomOctets(uint8_t *octets, int length) {
    return cryptoRandom({octets, static_cast<size_t>(length)}) == 0 ? 0 : 1;
}

void dotted(char *buf, size_t size, uint32_t a) {
    snprintf(buf, size, "%u.%u.%u.%u", (a >> 24) & 0xFF, (a >> 16) & 0xFF, (a >> 8) & 0xFF,
             a & 0xFF);
}

} // namespace

int main(int argc, char **argv) {
    programName = argv[0];
    // Caught first: a stop during start-up is kept and taken once the loop is
    // reached, rather than ending the agent by the signal. Should it fail, the
    // signals end the agent as they do by default.
    netStopOnSignals();
    const char *hostText = "127.0.0.1";
    const char *portText = nullptr;
    uint32_t testRows = 0;
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        bool hasValue = i + 1 < argc;
        if (strcmp(a, "-d") == 0) {
            ++logLevel;
        } else if (strcmp(a, "-h") == 0 && hasValue) {
            hostText = argv[++i];
        } else if (strcmp(a, "-p") == 0 && hasValue) {
            portText = argv[++i];
        } else if (strcmp(a, "-b") == 0 && hasValue) {
            if (smxParseNumber(&testRows, argv[++i]) != 0 || testRows > DEMO_TEST_ROWS_MAX) {
                printf("%s: Bad count: %s\n", programName, argv[i]);
                return 2;
            }
        } else {
            return printUsage();
        }
    }
    if (netStartup() != 0) {
        printf("Error in initialisation sockets\n");
        return 3;
    }
    uint32_t address = hostGetHostAddress(hostText);
    if (address == HOST_NO_ADDRESS) {
        printf("%s: Bad local address: %s\n", programName, hostText);
        return 2;
    }
    int port = portText ? hostGetServicePort(portText) : hostSnmpPort();
    if (port < 0 || port > 65535) {
        printf("%s: Bad local port: %s\n", programName, portText ? portText : "snmp");
        return 2;
    }
    int sock = udpOpenSocket();
    if (sock < 0) {
        printf("%s: socket\n", programName);
        return 1;
    }
    if (udpBindSocket(sock, address, static_cast<uint16_t>(port)) != 0) {
        printf("%s: Can't bind %s port %d\n", programName, hostText, port);
        udpCloseSocket(sock);
        return 1;
    }
    udpWakeOnStop(sock);

    // The engine reaches the agent side only through what is registered here.
    smpRegisterCommunityCheck(commVerify);
    smpRegisterTrapSender(trapSend);
    smpRegisterStore(&mibStoreOps);
    apsInit();
    apsTrivialInit();
    defReadFile();
    shminit(nullptr);
    if (commInit() != 0)
        fprintf(stderr, "%s: no community declared: every request is refused\n", programName);
    trapInit();
    // SNMPv3: the users, then the engine they are keyed for. Without a saved
    // engine state no version-3 request is served.
    if (usrReadFile() == USR_OPEN_TO_ALL) {
        udpCloseSocket(sock);
        return 1;
    }
    static SmpLocalEngine engine;
    if (engStart(randomOctets) == 0) {
        const EngState *e = engState();
        usrLocalize(e->id, e->idLength);
        engine = {e->id, e->idLength, engBoots, engTime};
        smpRegisterV3Agent(&engine, usrLookup);
    }
    if (!mibInit()) {
        printf("%s: Can't create the MIB store\n", programName);
        udpCloseSocket(sock);
        return 2;
    }
    if (demoRegister(testRows) != 0)
        fprintf(stderr, "%s: some variables could not be registered\n", programName);

    char where[16];
    dotted(where, sizeof where, address);
    // Scripts read the chosen port from this line (with -p 0 the system picks
    // it).
    printf("mibagent: listening on %s port %d\n", where, udpGetLocalPort(sock));
    fflush(stdout);

    trapSend(0, 0, 0, nullptr); // coldStart

    uint8_t datagram[AGENT_DATAGRAM];
    // One blocking receive per datagram; a stop signal ends it (or the next
    // one) at once.
    while (!udpStopRequested()) {
        uint32_t from = 0;
        uint16_t fromPort = 0;
        int length = udpReceive(sock, datagram, AGENT_DATAGRAM, &from, &fromPort);
        if (length < 0 || udpStopRequested())
            continue;
        UdpEndpoint *sender = udpNew(sock, from, fromPort);
        SmpObject *object = sender ? smpNew(sender, udpSend, agentUpcall) : nullptr;
        mib2BeginRequest();
        if (object)
            smpInput(object, static_cast<int32_t>(from), datagram, static_cast<int16_t>(length));
        object = smpFree(object);
        sender = udpFree(sender);
    }
    return udpCloseSocket(sock) == 0 ? 0 : 1;
}
