// The interfaces group's raw figures on Linux: one row per line of
// /proc/net/dev, completed from /sys/class/net/NAME.
//
// Bounds: at most IFS_MAX_ROWS interfaces (further lines are left out), names
// of at most IFS_NAME_MAX characters (longer names are cut), lines of at most
// 511 characters (a longer line is skipped). Counters keep their low 32 bits,
// as RFC 1213 counters wrap.
#pragma once

#include <cstdint>

inline constexpr int IFS_MAX_ROWS = 64;

// Where the system keeps the figures; none on Windows, which has no such file.
#ifdef _WIN32
inline constexpr const char *IFS_DEV_PATH = nullptr;
inline constexpr const char *IFS_SYS_DIR = nullptr;
#else
inline constexpr const char *IFS_DEV_PATH = "/proc/net/dev";
inline constexpr const char *IFS_SYS_DIR = "/sys/class/net";
#endif
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

struct IfsTable {
    int count;
    IfsRow rows[IFS_MAX_ROWS];
};

// Reads devPath (normally IFS_DEV_PATH; none reads nothing) and, for each interface, the files
// under sysDir (normally "/sys/class/net"; none leaves type, mtu, speed and
// status at their unknown values). Returns the number of rows, -1 when devPath
// does not open.
int ifsRead(IfsTable *table, const char *devPath, const char *sysDir);

// Parses one data line of /proc/net/dev into row (counters and name only);
// 0 on success, -1 when the line is not an interface line.
int ifsParseLine(IfsRow *row, const char *line);
