// The demo agent's variables: the system, interfaces and snmp groups of
// MIB-II (RFC 1213) and, as a benchmark aid, a table of test variables under
// the default enterprise.
//
// Bounds: writable texts (sysContact, sysName, sysLocation) hold at most
// DEMO_TEXT_MAX octets; the test table at most DEMO_TEST_ROWS_MAX rows.
#pragma once

#include <cstdint>

inline constexpr int DEMO_TEXT_MAX = 255;
inline constexpr uint32_t DEMO_TEST_ROWS_MAX = 1000000;

// Registers every group in the process store (mibInit must have run);
// testRows > 0 adds the test table with that many rows. 0 on success, else the
// number of registrations that failed.
int demoRegister(uint32_t testRows);
