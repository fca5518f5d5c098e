// Read-only registry: a hive file (TARNOQSNMP_REGISTRY, else
// /etc/TarnoqSnmp/registry) in INI form. "[Key\Path]" opens a key (paths
// compare without regard to case), "Name=data" lines below it are its values,
// "#" starts a comment line. Results are Windows status codes.
//
// Bounds: hive lines of at most REG_LINE_MAX characters (a longer one is
// traced and skipped whole); a key holds at most REG_MAX_VALUES values; a hive
// that cannot be read within FILE_CONFIG_MAX octets is one that does not open.
#pragma once

#include <cstdint>

inline constexpr int REG_OK = 0;
inline constexpr int REG_NOT_FOUND = 2;     // ERROR_FILE_NOT_FOUND
inline constexpr int REG_BAD_ARGUMENT = 87; // ERROR_INVALID_PARAMETER
inline constexpr int REG_MORE_DATA = 234;   // ERROR_MORE_DATA
inline constexpr int REG_LINE_MAX = 1024;
inline constexpr int REG_MAX_VALUES = 64;

struct RegKey;

// Opens the key below HKEY_LOCAL_MACHINE; a missing hive or key gives REG_NOT_FOUND.
int regOpenKey(const char *keyPath, RegKey **key);
// Copies the value's text and NUL into data when they fit in limit bytes.
int regQueryString(RegKey *key, const char *name, char *data, uint32_t limit);
// A decimal value as a 32-bit number; any other text as its octets and NUL,
// when they fit in 4 bytes (types are not examined).
int regQueryNumber(RegKey *key, const char *name, uint32_t *number);
int regCloseKey(RegKey *key); // accepts none
int regOpenKeyCount();        // keys open now, for tests
