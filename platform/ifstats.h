// The interfaces group's raw figures on Linux: one row per line of
// /proc/net/dev, completed from /sys/class/net/NAME.
//
// Bounds: the rows the caller asks for at most (those of the least indexes
// are kept), names of at most IFS_NAME_MAX characters (longer names are cut),
// lines of at most 511 characters (a longer line is skipped). Counters keep
// their low 32 bits, as RFC 1213 counters wrap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr int IFS_NAME_MAX = 31;

struct IfsRow {
    char name[IFS_NAME_MAX + 1];
    uint32_t index;  // the kernel's ifindex; the line's position (from 1) when unknown
    uint8_t phys[8]; // hardware address, physLen octets (none for the loopback)
    int physLen;
    uint32_t adminStatus; // 1 up, 2 down (IFF_UP)
    uint32_t type;        // RFC 1213 ifType: 6 ethernetCsmacd, 24 softwareLoopback, 1 other
    uint32_t mtu;         // 0 when unknown
    uint32_t speed;       // bits per second, 0 when unknown, at most 2^32 - 1
    uint32_t operStatus;  // 1 up, 2 down
    uint32_t inOctets, inPackets, inErrors, inDiscards;
    uint32_t outOctets, outPackets, outErrors, outDiscards;
};

// The system's interfaces: on Linux ifsRead of /proc/net/dev and
// /sys/class/net, on Windows the interface table of the IP helper
// (GetIfTable). Replaces rows (their memory is reused) with at most max rows
// sorted by index, one per index; those beyond max are the last ones. The
// number of rows, -1 when there is no source.
int ifsReadSystem(std::vector<IfsRow> *rows, size_t max);

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

// Parses one data line of /proc/net/dev into row (counters and name only);
// 0 on success, -1 when the line is not an interface line.
int ifsParseLine(IfsRow *row, const char *line);
