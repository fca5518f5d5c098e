#include "platform/net.h"

#include "platform/log.h"
#include "smx/number.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

static_assert(sizeof(UdpAddress) == sizeof(sockaddr_in), "UdpAddress must mirror sockaddr_in");

namespace {

bool netStarted = false;

constexpr int LOCAL_NAME_BUFFER = 256;
constexpr int LOCAL_ADDRESS_LIMIT = 64;
constexpr int SERVENT_BUFFER = 1024;

// Copies text into a field of UNAME_FIELD bytes, cut to fit and always terminated.
void copyField(char (&field)[UNAME_FIELD], const char *text) {
    size_t length = strnlen(text, sizeof field - 1);
    memcpy(field, text, length);
    field[length] = '\0';
}

// The whole local host name, always terminated; 0, or -1 with errno set.
int readLocalName(char (&name)[LOCAL_NAME_BUFFER]) {
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

void dottedText(char (&text)[INET_ADDRSTRLEN], uint32_t networkOrder) {
    in_addr a;
    a.s_addr = networkOrder;
    if (!inet_ntop(AF_INET, &a, text, sizeof text))
        text[0] = '\0';
}

} // namespace

int netStartup() {
    // BSD sockets need no start-up; the flag keeps the once-only contract.
    netStarted = true;
    return 0;
}

int hostGetServicePort(const char *text) {
    if (!text)
        return -1;
    servent entry;
    servent *found = nullptr;
    char scratch[SERVENT_BUFFER];
    if (getservbyname_r(text, "udp", &entry, scratch, sizeof scratch, &found) == 0 && found)
        return ntohs(static_cast<uint16_t>(found->s_port));
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
    in_addr_t dotted = inet_addr(text);
    if (dotted != INADDR_NONE)
        return ntohl(dotted);
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *list = nullptr;
    if (getaddrinfo(text, nullptr, &hints, &list) != 0 || !list)
        return HOST_NO_ADDRESS;
    uint32_t address = HOST_NO_ADDRESS;
    if (list->ai_family == AF_INET && list->ai_addrlen >= sizeof(sockaddr_in)) {
        sockaddr_in first;
        memcpy(&first, list->ai_addr, sizeof first);
        address = ntohl(first.sin_addr.s_addr);
    }
    freeaddrinfo(list);
    return address;
}

int hostGetHostName(char *buffer, int limit, uint32_t address) {
    sockaddr_in sa = toSockaddr(address, 0);
    char name[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<const sockaddr *>(&sa), sizeof sa, name, sizeof name, nullptr,
                    0, NI_NAMEREQD) == 0)
        return copyLimited(buffer, limit, name);
    char dotted[INET_ADDRSTRLEN];
    dottedText(dotted, sa.sin_addr.s_addr);
    if (!dotted[0])
        return -1;
    return copyLimited(buffer, limit, dotted);
}

int hostGetLocalName(char *buffer, int limit) {
    // The whole name, not the cut nodeName: host names here may be longer than
    // the record's field, and a cut name would not resolve.
    char name[LOCAL_NAME_BUFFER];
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
    netStartup();
    char name[LOCAL_NAME_BUFFER];
    if (readLocalName(name) != 0)
        logPrintf("uname: Error gethostbyname WSAGetLastError = %d\n", errno);
    copyField(record->systemName, name);
    copyField(record->nodeName, name);
    copyField(record->release, " ");
    utsname system;
    if (::uname(&system) == 0) {
        copyField(record->version, system.release);
        copyField(record->machine, system.machine);
    }
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
    size_t offset = 0;
    size_t remaining = static_cast<size_t>(length);
    ssize_t sent;
    do {
        sent = sendto(endpoint->socket, data + offset, remaining, 0, to, sizeof remote);
        if (sent > 0) {
            offset += static_cast<size_t>(sent);
            remaining -= static_cast<size_t>(sent);
        }
    } while (sent > 0 && remaining > 0);
    if (sent >= 0)
        return 0;

    logFailureFlush("udpSend: Error in sendto()\n");
    sockaddr_in local;
    socklen_t localLength = sizeof local;
    char text[INET_ADDRSTRLEN];
    if (getsockname(endpoint->socket, reinterpret_cast<sockaddr *>(&local), &localLength) != 0) {
        logFailureFlush("udpSend: can't getsockname()\n");
    } else if (logSteps()) {
        dottedText(text, local.sin_addr.s_addr);
        logPrintf("Local: address = %s, port = %d.\n", text, ntohs(local.sin_port));
        fflush(stdout);
    }
    if (logSteps()) {
        dottedText(text, remote.sin_addr.s_addr);
        logPrintf("Remote: address = %s, port = %d.\n", text, ntohs(remote.sin_port));
        fflush(stdout);
    }
    return 1;
}

int udpOpenSocket() {
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return s < 0 ? -1 : s;
}

int udpBindSocket(int socket, uint32_t address, uint16_t port) {
    sockaddr_in sa = toSockaddr(address, port);
    return bind(socket, reinterpret_cast<const sockaddr *>(&sa), sizeof sa) == 0 ? 0 : -1;
}

int udpGetLocalPort(int socket) {
    sockaddr_in sa;
    socklen_t length = sizeof sa;
    if (getsockname(socket, reinterpret_cast<sockaddr *>(&sa), &length) != 0 ||
        sa.sin_family != AF_INET)
        return -1;
    return ntohs(sa.sin_port);
}

int udpWaitReadable(int socket, int timeoutMs) {
    if (socket < 0)
        return -1; // poll would skip it and wait for nothing
    pollfd p;
    p.fd = socket;
    p.events = POLLIN;
    p.revents = 0;
    int result;
    do {
        result = poll(&p, 1, timeoutMs < 0 ? -1 : timeoutMs);
    } while (result < 0 && errno == EINTR);
    if (result < 0)
        return -1;
    if (result == 0)
        return 0;
    return (p.revents & POLLIN) ? 1 : -1;
}

int udpReceive(int socket, uint8_t *buffer, int capacity, uint32_t *fromAddress,
               uint16_t *fromPort) {
    if (!buffer || capacity < 0)
        return -1;
    sockaddr_in from;
    memset(&from, 0, sizeof from);
    socklen_t fromLength = sizeof from;
    ssize_t received;
    do {
        received = recvfrom(socket, buffer, static_cast<size_t>(capacity), 0,
                            reinterpret_cast<sockaddr *>(&from), &fromLength);
    } while (received < 0 && errno == EINTR);
    if (received < 0)
        return -1;
    if (fromAddress)
        *fromAddress = ntohl(from.sin_addr.s_addr);
    if (fromPort)
        *fromPort = ntohs(from.sin_port);
    return static_cast<int>(received);
}

int udpCloseSocket(int socket) {
    return close(socket) == 0 ? 0 : -1;
}

namespace {

std::atomic<int> stopSocket{-1};
std::atomic<bool> stopFlag{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the stop handler may only touch lock-free atomics");

void onStopSignal(int) {
    stopFlag.store(true);
    // On an unconnected socket Linux answers ENOTCONN but still marks it shut
    // for reading and wakes its receivers; shutdown is async-signal-safe.
    int socket = stopSocket.load();
    if (socket >= 0)
        shutdown(socket, SHUT_RD);
}

} // namespace

int udpStopOnSignals(int socket) {
    stopSocket.store(socket);
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocked receive is interrupted
    if (sigaction(SIGINT, &action, nullptr) != 0 || sigaction(SIGTERM, &action, nullptr) != 0)
        return -1;
    return 0;
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
