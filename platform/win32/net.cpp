// Windows Sockets 1.1 behind the network interface.
#include "platform/net.h"

#include "platform/log.h"
#include "smx/number.h"

#include <windows.h>
#include <winsock2.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

static_assert(sizeof(UdpAddress) == sizeof(sockaddr_in), "UdpAddress must mirror sockaddr_in");

namespace {

bool netStarted = false;

constexpr int LOCAL_NAME_BUFFER = 256;
constexpr int LOCAL_ADDRESS_LIMIT = 64;

void copyField(char (&field)[UNAME_FIELD], const char *text) {
    size_t length = strnlen(text, sizeof field - 1);
    memcpy(field, text, length);
    field[length] = '\0';
}

// The whole local host name, always terminated; 0, or WSAGetLastError's code.
int readLocalName(char (&name)[LOCAL_NAME_BUFFER]) {
    netStartup();
    if (gethostname(name, sizeof name - 1) != 0) {
        name[0] = '\0';
        return WSAGetLastError();
    }
    name[sizeof name - 1] = '\0';
    return 0;
}

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

const char *dottedText(uint32_t networkOrder) {
    in_addr a;
    a.s_addr = networkOrder;
    const char *text = inet_ntoa(a);
    return text ? text : "";
}

// Socket handles are small numbers in practice; the interface keeps them in an int.
SOCKET handle(int socket) {
    return socket < 0 ? INVALID_SOCKET : static_cast<SOCKET>(socket);
}

constexpr struct {
    DWORD type;
    const char *name;
} PROCESSORS[] = {
    {386, "i386"}, {486, "i486"}, {586, "PENTIUM"}, {4000, "MIPS4000"}, {21064, "DECALPHA"}};

} // namespace

int netStartup() {
    if (netStarted)
        return 0;
    WSADATA data;
    if (WSAStartup(0x0101, &data) != 0)
        return -1;
    if (data.wVersion != 0x0101) {
        WSACleanup();
        return -1;
    }
    netStarted = true;
    return 0;
}

int hostGetServicePort(const char *text) {
    if (!text)
        return -1;
    // Winsock answers nothing before its start-up.
    netStartup();
    const servent *found = getservbyname(text, "udp");
    if (found)
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
    unsigned long dotted = inet_addr(text);
    if (dotted != INADDR_NONE)
        return ntohl(dotted);
    netStartup();
    const hostent *entry = gethostbyname(text);
    if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list || !entry->h_addr_list[0])
        return HOST_NO_ADDRESS;
    uint32_t first;
    memcpy(&first, entry->h_addr_list[0], sizeof first);
    return ntohl(first);
}

int hostGetHostName(char *buffer, int limit, uint32_t address) {
    netStartup();
    uint32_t networkOrder = htonl(address);
    const hostent *entry = gethostbyaddr(reinterpret_cast<const char *>(&networkOrder), 4, AF_INET);
    if (entry && entry->h_name)
        return copyLimited(buffer, limit, entry->h_name);
    const char *dotted = dottedText(networkOrder);
    if (!dotted[0])
        return -1;
    return copyLimited(buffer, limit, dotted);
}

int hostGetLocalName(char *buffer, int limit) {
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
    // The whole name: computer names may be longer than 15 characters.
    char computer[LOCAL_NAME_BUFFER];
    DWORD size = sizeof computer;
    if (!GetComputerNameA(computer, &size))
        computer[0] = '\0';
    copyField(record->systemName, computer);
    char name[LOCAL_NAME_BUFFER];
    if (int code = readLocalName(name); code != 0)
        logPrintf("uname: Error gethostbyname WSAGetLastError = %d\n", code);
    copyField(record->nodeName, name);
    copyField(record->release, " ");
    snprintf(record->version, sizeof record->version, "%lx",
             static_cast<unsigned long>(GetVersion()));
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    snprintf(record->machine, sizeof record->machine, "%lx",
             static_cast<unsigned long>(info.dwProcessorType));
    for (const auto &p : PROCESSORS)
        if (p.type == info.dwProcessorType)
            copyField(record->machine, p.name);
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
        sent = sendto(handle(endpoint->socket), reinterpret_cast<const char *>(data) + offset,
                      length - offset, 0, to, sizeof remote);
        if (sent > 0)
            offset += sent;
    } while (sent > 0 && offset < length);
    if (sent >= 0)
        return 0;

    logFailureFlush("udpSend: Error in sendto()\n");
    sockaddr_in local;
    int localLength = sizeof local;
    if (getsockname(handle(endpoint->socket), reinterpret_cast<sockaddr *>(&local), &localLength) !=
        0) {
        logFailureFlush("udpSend: can't getsockname()\n");
    } else if (logSteps()) {
        logPrintf("Local: address = %s, port = %d.\n", dottedText(local.sin_addr.s_addr),
                  ntohs(local.sin_port));
        fflush(stdout);
    }
    if (logSteps()) {
        logPrintf("Remote: address = %s, port = %d.\n", dottedText(remote.sin_addr.s_addr),
                  ntohs(remote.sin_port));
        fflush(stdout);
    }
    return 1;
}

int udpOpenSocket() {
    if (netStartup() != 0)
        return -1;
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s == INVALID_SOCKET)
        return -1;
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return static_cast<int>(s);
}

int udpBindSocket(int socket, uint32_t address, uint16_t port) {
    sockaddr_in sa = toSockaddr(address, port);
    return bind(handle(socket), reinterpret_cast<const sockaddr *>(&sa), sizeof sa) == 0 ? 0 : -1;
}

int udpGetLocalPort(int socket) {
    sockaddr_in sa;
    int length = sizeof sa;
    if (getsockname(handle(socket), reinterpret_cast<sockaddr *>(&sa), &length) != 0 ||
        sa.sin_family != AF_INET)
        return -1;
    return ntohs(sa.sin_port);
}

int udpWaitReadable(int socket, int timeoutMs) {
    if (socket < 0)
        return -1;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(handle(socket), &readable);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    int result = select(0, &readable, nullptr, nullptr, timeoutMs < 0 ? nullptr : &limit);
    if (result == SOCKET_ERROR)
        return -1;
    return result == 0 ? 0 : 1;
}

int udpReceive(int socket, uint8_t *buffer, int capacity, uint32_t *fromAddress,
               uint16_t *fromPort) {
    if (!buffer || capacity < 0)
        return -1;
    sockaddr_in from;
    memset(&from, 0, sizeof from);
    int fromLength = sizeof from;
    int received = recvfrom(handle(socket), reinterpret_cast<char *>(buffer), capacity, 0,
                            reinterpret_cast<sockaddr *>(&from), &fromLength);
    // Windows fails a longer datagram but still hands over its first octets.
    if (received == SOCKET_ERROR && WSAGetLastError() == WSAEMSGSIZE)
        received = capacity;
    if (received < 0)
        return -1;
    if (fromAddress)
        *fromAddress = ntohl(from.sin_addr.s_addr);
    if (fromPort)
        *fromPort = ntohs(from.sin_port);
    return received;
}

int udpCloseSocket(int socket) {
    return closesocket(handle(socket)) == 0 ? 0 : -1;
}

namespace {

std::atomic<int> stopSocket{-1};
std::atomic<bool> stopFlag{false};

// Console events come on a thread of their own: the flag is set, then an empty
// datagram sent to the server's own port ends the receive under way.
BOOL WINAPI onConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    stopFlag.store(true);
    sockaddr_in self;
    int length = sizeof self;
    int socket = stopSocket.load();
    if (socket >= 0 &&
        getsockname(handle(socket), reinterpret_cast<sockaddr *>(&self), &length) == 0) {
        if (self.sin_addr.s_addr == htonl(INADDR_ANY))
            self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        SOCKET waker = ::socket(AF_INET, SOCK_DGRAM, 0);
        if (waker != INVALID_SOCKET) {
            sendto(waker, "", 0, 0, reinterpret_cast<const sockaddr *>(&self), sizeof self);
            closesocket(waker);
        }
    }
    return TRUE;
}

} // namespace

int udpStopOnSignals(int socket) {
    stopSocket.store(socket);
    return SetConsoleCtrlHandler(onConsoleEvent, TRUE) ? 0 : -1;
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
