// What the network module needs of the socket library underneath, where BSD
// sockets and Windows Sockets differ. Included by the network module only.
#pragma once

#include "platform/net.h"

#ifdef _WIN32
#include <windows.h>
#include <winsock2.h>

using NetLength = int; // the address length argument of the socket calls
// Socket handles are small numbers in practice; the interface keeps them in an int.
inline SOCKET netHandle(int socket) {
    return socket < 0 ? INVALID_SOCKET : static_cast<SOCKET>(socket);
}
inline int netLastError() {
    return WSAGetLastError();
}
#else
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>

using NetLength = socklen_t;
inline int netHandle(int socket) {
    return socket;
}
inline int netLastError() {
    return errno;
}
#endif

inline constexpr int NET_LOCAL_NAME = 256; // buffer of the local host name
inline constexpr int NET_DOTTED = 16;      // "255.255.255.255" and its NUL
inline constexpr int NET_HOST_NAME = 1025; // buffer of a looked-up host name

// Shared by both socket libraries (net.cpp).
void netCopyField(char (&field)[UNAME_FIELD], const char *text); // cut to fit, terminated
int netStopArrived(); // sets the stop flag; the socket to wake, or -1

// Per socket library (netos.cpp).
int netServicePort(const char *name);  // port (host order) of a UDP service, or -1
uint32_t netResolve(const char *name); // first IPv4 address (host order), or HOST_NO_ADDRESS
// The name of address (network order), in scratch or the library's storage;
// none when the address has no name.
const char *netNameOf(uint32_t networkOrder, char (&scratch)[NET_HOST_NAME]);
void netDottedText(char (&text)[NET_DOTTED], uint32_t networkOrder); // "" on failure
// Fills systemName, version and machine; localName is the whole local host name.
void netDescribeSystem(UnameRec *record, const char *localName);
// One datagram into buffer and its sender into from: its length, capacity + 1
// when it was longer than capacity, UDP_TIMED_OUT, or -1.
int netReceiveFrom(int socket, uint8_t *buffer, int capacity, sockaddr_in *from);
int netCatchStop();       // routes the stop signals to netStopArrived; 0, or -1
void netWake(int socket); // ends a receive on socket under way or to come; signal-safe
