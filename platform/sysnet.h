// The IPv4 network state of a Linux host, as the MIB-II groups need it: the
// protocol counters of /proc/net/snmp, the routes, the ARP cache, the TCP and
// UDP sockets and the interface addresses. Addresses are in host order (the
// dotted a.b.c.d is a << 24 | b << 16 | c << 8 | d); IPv6 rows are not read.
//
// Bounds: at most SNET_FIELDS_MAX fields per protocol line, field names of at
// most 31 characters, the rows the caller asks for at most per table (those
// of the least indexes are kept), lines of at most 511 characters (a longer
// line is skipped).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr int SNET_FIELDS_MAX = 40;
inline constexpr int SNET_NAME_MAX = 31;

// One protocol's line pair ("Ip:", "Icmp:", "Tcp:", "Udp:").
struct SnetCounters {
    int count;
    char names[SNET_FIELDS_MAX][SNET_NAME_MAX + 1];
    int64_t values[SNET_FIELDS_MAX];
};

struct SnetProtocols {
    SnetCounters ip, icmp, tcp, udp;
};

// Reads path (normally "/proc/net/snmp"); 0, or -1 when it does not open.
int snetReadProtocols(SnetProtocols *p, const char *path);
// The value of a named field; false when the line has none.
bool snetField(const SnetCounters *c, const char *name, int64_t *value);

// ifIndex: the kernel's index of the interface named, 0 when it is gone.
struct SnetRoute {
    char ifName[SNET_NAME_MAX + 1];
    uint32_t ifIndex;
    uint32_t dest, gateway, mask, flags, metric;
};
struct SnetArp {
    char ifName[SNET_NAME_MAX + 1];
    uint32_t ifIndex;
    uint32_t address, flags; // flags: 0x2 complete, 0x4 permanent
    uint8_t phys[8];
    int physLen;
};
struct SnetSocket {
    uint32_t localAddress, remoteAddress;
    uint16_t localPort, remotePort;
    int state; // the kernel's TCP state (1 ESTABLISHED .. 11 CLOSING), 7 for UDP
};
struct SnetAddress {
    char ifName[SNET_NAME_MAX + 1];
    uint32_t ifIndex;
    uint32_t address, netmask;
    bool broadcast;            // the interface broadcasts (IFF_BROADCAST)
    uint32_t broadcastAddress; // the address's own broadcast address, 0 when it has none
};

// Each replaces rows (their memory is reused) with the source's rows sorted
// by index, one per index, at most max of them: those beyond are the last in
// index order. Returns their number, -1 when the source does not open.
// Routes by destination, the least metric kept ("/proc/net/route").
int snetReadRoutes(std::vector<SnetRoute> *rows, size_t max, const char *path);
// ARP entries that map an address (complete) by ifIndex and address ("/proc/net/arp").
int snetReadArp(std::vector<SnetArp> *rows, size_t max, const char *path);
// Sockets by local address and port, remote address and port ("/proc/net/tcp" or "udp").
int snetReadSockets(std::vector<SnetSocket> *rows, size_t max, const char *path);
// Interface addresses by address (getifaddrs).
int snetReadAddresses(std::vector<SnetAddress> *rows, size_t max);
// The first line of path read as a decimal number; false when it is not one.
bool snetReadNumber(const char *path, int64_t *value);
