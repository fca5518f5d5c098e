// The network module's logic common to both socket libraries; what differs
// sits in netos.cpp behind netos.h.
#include "platform/net.h"

#include "platform/log.h"
#include "platform/netos.h"
#include "smx/number.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

static_assert(sizeof(UdpAddress) == sizeof(sockaddr_in), "UdpAddress must mirror sockaddr_in");

namespace {

constexpr int LOCAL_ADDRESS_LIMIT = 64;

// The whole local host name, always terminated; 0, or -1 with the error in netLastError.
int readLocalName(char (&name)[NET_LOCAL_NAME]) {
    netStartup(); // Winsock answers nothing before its start-up.
    if (gethostname(name, sizeof name - 1) != 0) {
        name[0] = '\0';
        return -1;
    }
    name[sizeof name - 1] = '\0';
    return 0;
}

// Copies text into buffer (limit characters plus NUL); its length, or -1 when too long.
int copyLimited(char *buffer, int limit, const char *text) {
    size_t length = strlen(text);
    if (!buffer || limit < 0 || length > static_cast<size_t>(limit))
        return -1;
    memcpy(buffer, text, length + 1);
    return static_cast<int>(length);
}

sockaddr_in toSockaddr(uint32_t address, uint16_t port) {
    sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(address);
    return sa;
}

std::atomic<int> stopSocket{-1};
std::atomic<bool> stopFlag{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the stop handler may only touch lock-free atomics");

} // namespace

void netCopyField(char (&field)[UNAME_FIELD], const char *text) {
    size_t length = strnlen(text, sizeof field - 1);
    memcpy(field, text, length);
    field[length] = '\0';
}

int hostGetServicePort(const char *text) {
    if (!text)
        return -1;
    // A service name holds a letter (RFC 6335, 5.1), so digits alone skip
    // the services database and its search for NSS modules.
    bool digits = *text != '\0' && strspn(text, "0123456789") == strlen(text);
    int port = digits ? -1 : netServicePort(text);
    if (port >= 0)
        return port;
    uint32_t value;
    if (smxParseNumber(&value, text) != 0)
        return -1;
    return static_cast<int>(value);
}

int hostSnmpPort() {
    int port = hostGetServicePort("snmp");
    return port == -1 ? HOST_SNMP_PORT : port;
}

int hostSnmpTrapPort() {
    int port = hostGetServicePort("snmp-trap");
    return port == -1 ? HOST_SNMP_TRAP_PORT : port;
}

uint32_t hostGetHostAddress(const char *text) {
    if (!text)
        return HOST_NO_ADDRESS;
    logFailure("hostGetHostAddress = %s\n", text);
    auto dotted = inet_addr(text);
    if (dotted != INADDR_NONE)
        return ntohl(dotted);
    return netResolve(text);
}

int hostGetHostName(char *buffer, int limit, uint32_t address) {
    uint32_t networkOrder = htonl(address);
    char scratch[NET_HOST_NAME];
    if (const char *name = netNameOf(networkOrder, scratch))
        return copyLimited(buffer, limit, name);
    char dotted[NET_DOTTED];
    netDottedText(dotted, networkOrder);
    if (!dotted[0])
        return -1;
    return copyLimited(buffer, limit, dotted);
}

int hostGetLocalName(char *buffer, int limit) {
    // The whole name, not the cut nodeName: host names may be longer than the
    // record's field, and a cut name would not resolve.
    char name[NET_LOCAL_NAME];
    if (readLocalName(name) != 0)
        return -1;
    return copyLimited(buffer, limit, name);
}

uint32_t hostGetLocalAddress() {
    char name[LOCAL_ADDRESS_LIMIT + 1];
    if (hostGetLocalName(name, LOCAL_ADDRESS_LIMIT) < 0)
        return HOST_NO_ADDRESS;
    return hostGetHostAddress(name);
}

uint32_t hostGetLoopbackAddress() {
    uint32_t address = hostGetHostAddress("localhost");
    return address == HOST_NO_ADDRESS ? hostGetHostAddress("127.0.0.1") : address;
}

namespace net {

int uname(UnameRec *record) {
    if (!record)
        return 0;
    memset(record, 0, sizeof *record);
    char name[NET_LOCAL_NAME];
    if (readLocalName(name) != 0)
        logPrintf("uname: Error gethostbyname WSAGetLastError = %d\n", netLastError());
    netCopyField(record->nodeName, name);
    netCopyField(record->release, " ");
    netDescribeSystem(record, name);
    return 0;
}

} // namespace net

UdpEndpoint *udpNew(int socket, uint32_t address, uint32_t port) {
    auto *endpoint = static_cast<UdpEndpoint *>(calloc(1, sizeof(UdpEndpoint)));
    if (!endpoint)
        return nullptr;
    endpoint->socket = socket;
    sockaddr_in sa = toSockaddr(address, static_cast<uint16_t>(port & 0xFFFFu));
    memcpy(&endpoint->remote, &sa, sizeof sa);
    endpoint->refCount = 1;
    return endpoint;
}

UdpEndpoint *udpRef(UdpEndpoint *endpoint) {
    if (endpoint)
        ++endpoint->refCount;
    return endpoint;
}

int udpGetSocket(const UdpEndpoint *endpoint) {
    return endpoint ? endpoint->socket : -1;
}

void udpSetSocket(UdpEndpoint *endpoint, int socket) {
    if (endpoint)
        endpoint->socket = socket;
}

UdpEndpoint *udpFree(UdpEndpoint *endpoint) {
    if (endpoint && --endpoint->refCount <= 0)
        free(endpoint);
    return nullptr;
}

int udpSend(void *transport, const uint8_t *data, int length) {
    auto *endpoint = static_cast<UdpEndpoint *>(transport);
    if (!endpoint)
        return 1;
    logEntry("udpSend:\n");
    if (length < 0 || (length > 0 && !data))
        return 1;
    if (logSteps()) {
        for (int i = 0; i < length; ++i) {
            logPrintf("%02X ", data[i]);
            fflush(stdout);
        }
        logPrintf("\n");
        fflush(stdout);
    }
    sockaddr_in remote;
    memcpy(&remote, &endpoint->remote, sizeof remote);
    const auto *to = reinterpret_cast<const sockaddr *>(&remote);
    // Each call is a datagram of its own; a short send goes on with the rest.
    int offset = 0;
    int sent;
    do {
        sent = static_cast<int>(sendto(netHandle(endpoint->socket),
                                       reinterpret_cast<const char *>(data) + offset,
                                       length - offset, 0, to, sizeof remote));
        if (sent > 0)
            offset += sent;
    } while (sent > 0 && offset < length);
    if (sent >= 0)
        return 0;

    logFailureFlush("udpSend: Error in sendto()\n");
    sockaddr_in local;
    NetLength localLength = sizeof local;
    char text[NET_DOTTED];
    if (getsockname(netHandle(endpoint->socket), reinterpret_cast<sockaddr *>(&local),
                    &localLength) != 0) {
        logFailureFlush("udpSend: can't getsockname()\n");
    } else if (logSteps()) {
        netDottedText(text, local.sin_addr.s_addr);
        logPrintf("Local: address = %s, port = %d.\n", text, ntohs(local.sin_port));
        fflush(stdout);
    }
    if (logSteps()) {
        netDottedText(text, remote.sin_addr.s_addr);
        logPrintf("Remote: address = %s, port = %d.\n", text, ntohs(remote.sin_port));
        fflush(stdout);
    }
    return 1;
}

int udpBindSocket(int socket, uint32_t address, uint16_t port) {
    sockaddr_in sa = toSockaddr(address, port);
    return bind(netHandle(socket), reinterpret_cast<const sockaddr *>(&sa), sizeof sa) == 0 ? 0
                                                                                            : -1;
}

int udpGetLocalPort(int socket) {
    sockaddr_in sa;
    NetLength length = sizeof sa;
    if (getsockname(netHandle(socket), reinterpret_cast<sockaddr *>(&sa), &length) != 0 ||
        sa.sin_family != AF_INET)
        return -1;
    return ntohs(sa.sin_port);
}

int udpReceive(int socket, uint8_t *buffer, int capacity, uint32_t *fromAddress,
               uint16_t *fromPort) {
    if (!buffer || capacity < 0 || capacity == INT_MAX)
        return -1;
    sockaddr_in from;
    memset(&from, 0, sizeof from);
    int received = netReceiveFrom(socket, buffer, capacity, &from);
    if (received < 0)
        return received == UDP_TIMED_OUT ? UDP_TIMED_OUT : -1;
    if (fromAddress)
        *fromAddress = ntohl(from.sin_addr.s_addr);
    if (fromPort)
        *fromPort = ntohs(from.sin_port);
    return received;
}

int netStopArrived() {
    stopFlag.store(true);
    return stopSocket.load();
}

int netStopOnSignals() {
    return netCatchStop();
}

void udpWakeOnStop(int socket) {
    stopSocket.store(socket);
    // After the store: a stop that comes later finds the socket itself.
    if (stopFlag.load())
        netWake(socket);
}

bool udpStopRequested() {
    return stopFlag.load(std::memory_order_relaxed);
}

int timeOfDay(TimeOfDay *now, TimeZoneRec *zone) {
    if (now) {
        now->seconds = static_cast<int32_t>(time(nullptr));
        now->microseconds = 0;
    }
    if (zone) {
        zone->minutesWest = 0;
        zone->dstType = 0;
    }
    return 0;
}
