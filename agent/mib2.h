// The MIB-II variables of RFC 1213 read from the running Linux system: the
// system, interfaces, at, ip, icmp, tcp, udp and snmp groups with their
// tables (IPv4 only), and IF-MIB's ifXTable (RFC 2863) beside ifTable where
// the platform has its figures (not on Windows). Each source
// (/proc/net/snmp, /proc/net/dev with /sys/class/net, /proc/net/route,
// /proc/net/arp, /proc/net/tcp, /proc/net/udp, the interface addresses) is
// read again at most once a second, and at most once per request for a
// program that marks its requests;
// a table is a snapshot sorted by its index, so GetNext never goes back.
//
// Writable: sysContact, sysName and sysLocation (DisplayString of at most
// MIB2_TEXT_MAX octets, none of them NUL, kept in the process) and
// snmpEnableAuthenTraps (1 or 2, written to "snmp.aut" and applied at once).
// Nothing else is.
//
// Bounds: a table holds every row its source has, up to MIB2_ROWS_MAX (far
// above any real system; a bound on memory only). Rows beyond it are the last
// in index order, and reaching it is logged once.
#pragma once

#include <cstdint>

inline constexpr int MIB2_TEXT_MAX = 255;
inline constexpr int MIB2_ROWS_MAX = 16777216;

// Marks the start of a request datagram: a source read while answering it is
// not read again for it, so all its bindings see one reading of each source.
void mib2BeginRequest();

// Tests: the interfaces are read from these files (as ifsRead does), from
// the next request on; a null devPath goes back to the system's.
void mib2ReadInterfacesFrom(const char *devPath, const char *sysDir);

// Registers every group in the process store (mibInit must have run); 0 on
// success, else the number of registrations that failed.
int mib2Register();
