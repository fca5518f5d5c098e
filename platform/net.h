// Network endpoints: socket start-up, service and host look-ups, the local
// system description, the UDP endpoint with its send operation, and thin
// wrappers over UDP sockets so that no other module includes a socket header.
//
// Every address crossing this interface is an IPv4 address in host byte order;
// every port is a number in host byte order. Conversion to network order
// happens inside udpNew and the socket wrappers.
//
// Bounds: UnameRec fields hold 31 characters and a NUL; the local host name is
// read into 256 bytes; a datagram is received into the caller's buffer of the
// caller's capacity, and one that is longer is reported as such.
#pragma once

#include <cstdint>

// The failure value of the address look-ups (all bits set, as inet_addr gives).
inline constexpr uint32_t HOST_NO_ADDRESS = 0xFFFFFFFFu;

// Default ports when the services database has no UDP entry.
inline constexpr int HOST_SNMP_PORT = 161;
inline constexpr int HOST_SNMP_TRAP_PORT = 162;

// 0 when the socket layer is ready, -1 when it cannot be started.
int netStartup();

// Port of a UDP service name, else the text parsed as a number (decimal, octal
// after "0", hexadecimal after "0x") returned as parsed, without a range check;
// -1 when the text is none or neither.
int hostGetServicePort(const char *text);
int hostSnmpPort();     // service "snmp", 161 when undefined
int hostSnmpTrapPort(); // service "snmp-trap", 162 when undefined

// Address of a dotted address (parsed as inet_addr does, no look-up) or of a
// host name; HOST_NO_ADDRESS when the text is none or cannot be resolved.
// The text 255.255.255.255 cannot be told apart from a failure.
uint32_t hostGetHostAddress(const char *text);

// Writes the host name of address, or its dotted text when it has no name, into
// buffer (limit characters plus the NUL). Returns the length, or -1 when the
// text is longer than limit or cannot be produced.
int hostGetHostName(char *buffer, int limit, uint32_t address);

// Writes the local host's whole name into buffer (limit characters plus the
// NUL). Returns its length, or -1 when it is longer than limit or unreadable.
int hostGetLocalName(char *buffer, int limit);

// The local host's address (its name resolved, up to 64 characters), or
// HOST_NO_ADDRESS.
uint32_t hostGetLocalAddress();

// The address of "localhost", else of 127.0.0.1.
uint32_t hostGetLoopbackAddress();

inline constexpr int UNAME_FIELD = 32;

// The name of the operating system, first word of a system description.
#ifdef _WIN32
inline constexpr const char *UNAME_SYSTEM = "Windows";
#else
inline constexpr const char *UNAME_SYSTEM = "Linux";
#endif

struct UnameRec {
    char systemName[UNAME_FIELD]; // host name, cut to the field
    char nodeName[UNAME_FIELD];   // network host name, cut to the field
    char release[UNAME_FIELD];    // always " "
    char version[UNAME_FIELD];    // kernel release text, cut to the field
    char machine[UNAME_FIELD];    // processor name
};

// In a namespace of its own so that it does not clash with POSIX uname(2).
namespace net {
int uname(UnameRec *record); // always 0; empty fields for what cannot be read
} // namespace net

// The remote peer's address laid out as an IPv4 socket address (16 bytes).
struct UdpAddress {
    uint16_t family;  // 2 (AF_INET)
    uint16_t port;    // network byte order
    uint32_t address; // network byte order
    uint8_t zero[8];
};

// One remote UDP peer reached through a socket the caller owns; reference counted.
struct UdpEndpoint {
    int32_t socket; // never created nor closed by the endpoint
    UdpAddress remote;
    int32_t refCount; // 1 at creation
};

// A new endpoint for socket and the peer address:port (low 16 bits of port
// used); none when memory is exhausted.
UdpEndpoint *udpNew(int socket, uint32_t address, uint32_t port);
UdpEndpoint *udpRef(UdpEndpoint *endpoint);    // adds a reference; returns endpoint
int udpGetSocket(const UdpEndpoint *endpoint); // -1 for none
void udpSetSocket(UdpEndpoint *endpoint, int socket);
// Drops a reference and releases the record at 0; always returns none, so that
// callers write the result back. The socket stays open.
UdpEndpoint *udpFree(UdpEndpoint *endpoint);

// Sends length octets as a datagram to the endpoint (a UdpEndpoint; untyped so
// that it serves as a protocol object's send function). 0 on success; 1 on
// failure, for no endpoint, or for a negative length (nothing is sent).
int udpSend(void *endpoint, const uint8_t *data, int length);

// UDP socket wrappers. A socket is an int; -1 means none.
int udpOpenSocket(); // a new unbound IPv4 datagram socket, or -1
// Binds to address (host order, 0 = any local address) and port (0 = any free
// port). 0 on success, -1 on failure.
int udpBindSocket(int socket, uint32_t address, uint16_t port);
int udpGetLocalPort(int socket); // the bound local port, or -1
// Waits at most timeoutMs (negative = for ever) for a datagram to arrive:
// 1 when one is waiting, 0 when the time ran out, -1 on failure.
int udpWaitReadable(int socket, int timeoutMs);
// Makes each later udpReceive on the socket wait at most timeoutMs for its
// datagram (negative = for ever, the default; 0 = hardly at all). One system
// call for the socket's life, where udpWaitReadable costs one per receive.
// 0, or -1 on failure.
int udpSetReceiveTimeout(int socket, int64_t timeoutMs);
inline constexpr int UDP_TIMED_OUT = -2;
// Receives one datagram into buffer (at most capacity octets) and stores the
// sender's address and port (host order) where given. Returns the datagram's
// length; capacity + 1 when it was longer than capacity (its first capacity
// octets are in buffer, the rest is lost); UDP_TIMED_OUT when the socket's
// receive timeout ran out first; -1 on failure or for a capacity that is
// negative or leaves no room for that signal.
int udpReceive(int socket, uint8_t *buffer, int capacity, uint32_t *fromAddress,
               uint16_t *fromPort);
int udpCloseSocket(int socket); // 0, or -1 on failure

// Stop signals for a server that blocks in udpReceive. Catching them comes
// first, before anything is read, and waking the socket once it exists: a stop
// that comes during start-up is then kept, and taken at the server's first
// test of the flag, instead of ending the process by the signal.
//
// From netStopOnSignals on, SIGINT and SIGTERM (on Windows the console's
// Ctrl+C, Ctrl+Break and close events) set the stop flag. 0, or -1 when a
// handler cannot be installed.
int netStopOnSignals();
// The bound socket a stop wakes: its receiving side is shut, so that a
// receive under way returns at once and every later one returns 0 octets
// without waiting; a stop that came before this call wakes it here. A signal
// that comes between a test of the flag and the receive is not lost, and
// waiting costs no system call besides the receive. One socket per process.
void udpWakeOnStop(int socket);
bool udpStopRequested(); // true once a stop signal has arrived

// Time of day for trap time stamps: seconds since 1 January 1970, with a
// resolution of one second (microseconds always 0).
struct TimeOfDay {
    int32_t seconds;
    int32_t microseconds;
};
struct TimeZoneRec {
    int32_t minutesWest;
    int32_t dstType;
};
int timeOfDay(TimeOfDay *now, TimeZoneRec *zone); // zone, when given, is zeroed; 0
