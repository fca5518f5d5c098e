// The interfaces group's raw figures on Linux: one row per line of
// /proc/net/dev, completed from /sys/class/net/NAME.
//
// Bounds: the rows the caller asks for at most (those of the least indexes
// are kept), names of at most IFS_NAME_MAX characters (longer names are cut),
// lines of at most 511 characters (a longer line is skipped), aliases of at
// most IFS_ALIAS_MAX octets (longer ones are cut). Counters keep the kernel's
// 64 bits: ifTable serves their low 32 (RFC 1213 counters wrap), ifXTable
// all of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr int IFS_NAME_MAX = 31;
inline constexpr int IFS_ALIAS_MAX = 64; // RFC 2863, ifAlias

struct IfsRow {
    char name[IFS_NAME_MAX + 1];
    uint32_t index;  // the kernel's ifindex; the line's position (from 1) when unknown
    uint8_t phys[8]; // hardware address, physLen octets (none for the loopback)
    int physLen;
    uint32_t adminStatus; // 1 up, 2 down (IFF_UP)
    uint32_t type;        // RFC 1213 ifType: 6 ethernetCsmacd, 24 softwareLoopback, 1 other
    uint32_t mtu;         // 0 when unknown
    uint32_t speed;       // bits per second, 0 when unknown, at most 2^32 - 1
    uint32_t highSpeed;   // millions of bits per second, 0 when unknown
    uint32_t operStatus;  // 1 up, 2 down
    // inPackets leaves out the multicast ones (RFC 1213 ifInUcastPkts).
    uint64_t inOctets, inPackets, inMulticast, inErrors, inDiscards;
    uint64_t outOctets, outPackets, outErrors, outDiscards;
    bool promiscuous;              // IFF_PROMISC
    bool connector;                // a device underneath (/sys/class/net/NAME/device)
    char alias[IFS_ALIAS_MAX + 1]; // /sys/class/net/NAME/ifalias, empty when none
    uint32_t discontinuity;        // 0 from the readers; see ifsCarryDiscontinuities
};

// The system's interfaces: on Linux ifsRead of /proc/net/dev and
// /sys/class/net, on Windows the interface table of the IP helper
// (GetIfTable). Replaces rows (their memory is reused) with at most max rows
// sorted by index, one per index; those beyond max are the last ones. The
// number of rows, -1 when there is no source.
int ifsReadSystem(std::vector<IfsRow> *rows, size_t max);

// Whether ifsReadSystem fills every field ifXTable serves (64-bit counters,
// multicast, speed in Mb/s, promiscuous, connector, alias): on Linux; not
// from GetIfTable on Windows.
bool ifsSystemHasExtended();

// Reads devPath (normally "/proc/net/dev") and, for each interface, the files
// under sysDir (normally "/sys/class/net"; none leaves type, mtu, speed and
// status at their unknown values), into rows as ifsReadSystem does. Returns
// the number of rows, -1 when devPath does not open.
int ifsRead(std::vector<IfsRow> *rows, size_t max, const char *devPath, const char *sysDir);

// What each reader does with its rows: adds one (rows reaching twice max are
// sorted and cut first), then, once all are added, sorts them by index, keeps
// one per index and cuts them to max.
void ifsAddRow(std::vector<IfsRow> *rows, size_t max, const IfsRow &row);
void ifsSortRows(std::vector<IfsRow> *rows, size_t max);

// Gives each row of rows the discontinuity of the row of the same index and
// name in previous (both sorted by index, as the readers leave them), or now
// when there is none or one of the row's counters went back: the kernel's
// 64-bit counters do not wrap, so the interface's counters were reset.
void ifsCarryDiscontinuities(const std::vector<IfsRow> &previous, std::vector<IfsRow> *rows,
                             uint32_t now);

// Parses one data line of /proc/net/dev into row (counters and name only);
// 0 on success, -1 when the line is not an interface line.
int ifsParseLine(IfsRow *row, const char *line);
