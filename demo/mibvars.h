// The demo agent's variables: MIB-II (agent/mib2.h) and, as a benchmark aid,
// a table of test variables under the default enterprise.
//
// Bounds: the test table holds at most DEMO_TEST_ROWS_MAX rows.
#pragma once

#include <cstdint>

inline constexpr uint32_t DEMO_TEST_ROWS_MAX = 1000000;

// Registers every group in the process store (mibInit must have run);
// testRows > 0 adds the test table with that many rows. 0 on success, else the
// number of registrations that failed.
int demoRegister(uint32_t testRows);
