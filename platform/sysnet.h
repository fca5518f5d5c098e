// The IPv4 network state of a Linux host, as the MIB-II groups need it: the
// protocol counters of /proc/net/snmp, the routes, the ARP cache, the TCP and
// UDP sockets and the interface addresses. Addresses are in host order (the
// dotted a.b.c.d is a << 24 | b << 16 | c << 8 | d); IPv6 rows are not read.
//
// Bounds: at most SNET_FIELDS_MAX fields per protocol line, field names of at
// most 31 characters, SNET_ROWS_MAX rows per table (further rows are left
// out), lines of at most 511 characters (a longer line is skipped).
#pragma once

#include <cstdint>

inline constexpr int SNET_FIELDS_MAX = 40;
inline constexpr int SNET_ROWS_MAX = 4096;
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
    bool broadcast; // the interface broadcasts (IFF_BROADCAST)
};

// Each fills at most max rows and returns their number, -1 when the source
// does not open.
int snetReadRoutes(SnetRoute *rows, int max, const char *path);   // "/proc/net/route"
int snetReadArp(SnetArp *rows, int max, const char *path);        // "/proc/net/arp"
int snetReadSockets(SnetSocket *rows, int max, const char *path); // "/proc/net/tcp" or "udp"
int snetReadAddresses(SnetAddress *rows, int max);                // getifaddrs
// The first line of path read as a decimal number; false when it is not one.
bool snetReadNumber(const char *path, int64_t *value);
