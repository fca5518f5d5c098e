// BSD sockets of glibc behind the network module.
#include "platform/netos.h"

#include <csignal>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <sys/time.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

constexpr int SERVENT_BUFFER = 1024;

void onStopSignal(int) {
    int saved = errno; // the code the signal interrupted may read errno next
    int socket = netStopArrived();
    if (socket >= 0)
        netWake(socket);
    errno = saved;
}

} // namespace

int netStartup() {
    return 0; // BSD sockets need no start-up
}

int netServicePort(const char *name) {
    servent entry;
    servent *found = nullptr;
    char scratch[SERVENT_BUFFER];
    if (getservbyname_r(name, "udp", &entry, scratch, sizeof scratch, &found) == 0 && found)
        return ntohs(static_cast<uint16_t>(found->s_port));
    return -1;
}

uint32_t netResolve(const char *name) {
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *list = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &list) != 0 || !list)
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

const char *netNameOf(uint32_t networkOrder, char (&scratch)[NET_HOST_NAME]) {
    sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = networkOrder;
    if (getnameinfo(reinterpret_cast<const sockaddr *>(&sa), sizeof sa, scratch, sizeof scratch,
                    nullptr, 0, NI_NAMEREQD) != 0)
        return nullptr;
    return scratch;
}

void netDottedText(char (&text)[NET_DOTTED], uint32_t networkOrder) {
    in_addr a;
    a.s_addr = networkOrder;
    if (!inet_ntop(AF_INET, &a, text, sizeof text))
        text[0] = '\0';
}

void netDescribeSystem(UnameRec *record, const char *localName) {
    netCopyField(record->systemName, localName);
    utsname system;
    if (::uname(&system) == 0) {
        netCopyField(record->version, system.release);
        netCopyField(record->machine, system.machine);
    }
}

int netReceiveFrom(int socket, uint8_t *buffer, int capacity, sockaddr_in *from) {
    socklen_t fromLength = sizeof *from;
    ssize_t received;
    // MSG_TRUNC: the datagram's whole length, also when it did not fit.
    do {
        received = recvfrom(socket, buffer, static_cast<size_t>(capacity), MSG_TRUNC,
                            reinterpret_cast<sockaddr *>(from), &fromLength);
    } while (received < 0 && errno == EINTR);
    if (received < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? UDP_TIMED_OUT : -1;
    return received > capacity ? capacity + 1 : static_cast<int>(received);
}

void netWake(int socket) {
    // On an unconnected socket Linux answers ENOTCONN but still marks it shut
    // for reading and wakes its receivers; shutdown is async-signal-safe.
    shutdown(socket, SHUT_RD);
}

int netCatchStop() {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // A read or write the signal interrupts during start-up goes on; the
    // receive ends by the shutdown, not by the interruption.
    action.sa_flags = SA_RESTART;
    if (sigaction(SIGINT, &action, nullptr) != 0 || sigaction(SIGTERM, &action, nullptr) != 0)
        return -1;
    return 0;
}

int udpOpenSocket() {
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return s < 0 ? -1 : s;
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

int udpSetReceiveTimeout(int socket, int64_t timeoutMs) {
    // A zero timeval means for ever; a microsecond is the least wait.
    timeval limit{0, 0};
    if (timeoutMs == 0)
        limit.tv_usec = 1;
    else if (timeoutMs > 0) {
        limit.tv_sec = static_cast<time_t>(timeoutMs / 1000);
        limit.tv_usec = static_cast<suseconds_t>(timeoutMs % 1000 * 1000);
    }
    return setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0 ? 0 : -1;
}

int udpCloseSocket(int socket) {
    return close(socket) == 0 ? 0 : -1;
}
