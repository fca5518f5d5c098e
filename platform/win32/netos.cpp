// Windows Sockets 1.1 behind the network module.
#include "platform/netos.h"

#include <cstdio>
#include <cstring>

namespace {

bool netStarted = false;

constexpr struct {
    DWORD type;
    const char *name;
} PROCESSORS[] = {
    {386, "i386"}, {486, "i486"}, {586, "PENTIUM"}, {4000, "MIPS4000"}, {21064, "DECALPHA"}};

// Console events come on a thread of their own (errno and the socket error
// are the thread's, nothing to restore): the flag is set, then the socket woken.
BOOL WINAPI onConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    int socket = netStopArrived();
    if (socket >= 0)
        netWake(socket);
    return TRUE;
}

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

int netServicePort(const char *name) {
    // Winsock answers nothing before its start-up.
    netStartup();
    const servent *found = getservbyname(name, "udp");
    return found ? ntohs(static_cast<uint16_t>(found->s_port)) : -1;
}

uint32_t netResolve(const char *name) {
    netStartup();
    const hostent *entry = gethostbyname(name);
    if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list || !entry->h_addr_list[0])
        return HOST_NO_ADDRESS;
    uint32_t first;
    memcpy(&first, entry->h_addr_list[0], sizeof first);
    return ntohl(first);
}

const char *netNameOf(uint32_t networkOrder, char (&)[NET_HOST_NAME]) {
    netStartup();
    const hostent *entry = gethostbyaddr(reinterpret_cast<const char *>(&networkOrder), 4, AF_INET);
    return entry ? entry->h_name : nullptr;
}

void netDottedText(char (&text)[NET_DOTTED], uint32_t networkOrder) {
    in_addr a;
    a.s_addr = networkOrder;
    const char *dotted = inet_ntoa(a);
    snprintf(text, sizeof text, "%s", dotted ? dotted : "");
}

void netDescribeSystem(UnameRec *record, const char *) {
    // The whole name: computer names may be longer than 15 characters.
    char computer[NET_LOCAL_NAME];
    DWORD size = sizeof computer;
    if (!GetComputerNameA(computer, &size))
        computer[0] = '\0';
    netCopyField(record->systemName, computer);
    snprintf(record->version, sizeof record->version, "%lx",
             static_cast<unsigned long>(GetVersion()));
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    snprintf(record->machine, sizeof record->machine, "%lx",
             static_cast<unsigned long>(info.dwProcessorType));
    for (const auto &p : PROCESSORS)
        if (p.type == info.dwProcessorType)
            netCopyField(record->machine, p.name);
}

int netReceiveFrom(int socket, uint8_t *buffer, int capacity, sockaddr_in *from) {
    int fromLength = sizeof *from;
    int received = recvfrom(netHandle(socket), reinterpret_cast<char *>(buffer), capacity, 0,
                            reinterpret_cast<sockaddr *>(from), &fromLength);
    // Windows fails a longer datagram but still hands over its first octets.
    if (received == SOCKET_ERROR && WSAGetLastError() == WSAEMSGSIZE)
        received = capacity + 1;
    if (received == SOCKET_ERROR && WSAGetLastError() == WSAETIMEDOUT)
        return UDP_TIMED_OUT;
    return received < 0 ? -1 : received;
}

// An empty datagram sent to the socket's own port ends the receive under way.
void netWake(int socket) {
    sockaddr_in self;
    int length = sizeof self;
    if (getsockname(netHandle(socket), reinterpret_cast<sockaddr *>(&self), &length) != 0)
        return;
    if (self.sin_addr.s_addr == htonl(INADDR_ANY))
        self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    SOCKET waker = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (waker != INVALID_SOCKET) {
        sendto(waker, "", 0, 0, reinterpret_cast<const sockaddr *>(&self), sizeof self);
        closesocket(waker);
    }
}

int netCatchStop() {
    return SetConsoleCtrlHandler(onConsoleEvent, TRUE) ? 0 : -1;
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

int udpWaitReadable(int socket, int timeoutMs) {
    if (socket < 0)
        return -1;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(netHandle(socket), &readable);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    int result = select(0, &readable, nullptr, nullptr, timeoutMs < 0 ? nullptr : &limit);
    if (result == SOCKET_ERROR)
        return -1;
    return result == 0 ? 0 : 1;
}

int udpSetReceiveTimeout(int socket, int64_t timeoutMs) {
    // In milliseconds, where 0 means for ever: the least wait is one.
    DWORD limit = timeoutMs < 0 ? 0
                  : timeoutMs == 0
                      ? 1
                      : static_cast<DWORD>(timeoutMs > MAXDWORD ? MAXDWORD : timeoutMs);
    return setsockopt(netHandle(socket), SOL_SOCKET, SO_RCVTIMEO,
                      reinterpret_cast<const char *>(&limit), sizeof limit) == 0
               ? 0
               : -1;
}

int udpCloseSocket(int socket) {
    return closesocket(netHandle(socket)) == 0 ? 0 : -1;
}
