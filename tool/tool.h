// The query tool mibwalk: command line, settings and the walk they start.
#pragma once

#include <cstdint>

// -O and -C letters, as net-snmp's tools take them where they have them.
inline constexpr uint32_t TOOL_NUMERIC_NAMES = 1; // -On: names in dotted numeric form
inline constexpr uint32_t TOOL_HEX_STRINGS = 2;   // -Ox: OctetStrings as hexadecimal octets
inline constexpr uint32_t TOOL_JSON = 4;          // -Oj: one JSON object per line
inline constexpr uint32_t TOOL_ANY_ORDER = 8;     // -Cc: names need not increase

// toolParseSettings' result when the run is over with status 0 (--help, --version).
inline constexpr int TOOL_PARSE_DONE = -1;

// The settings that stand once the command line has been tested; the strings
// are the argument strings themselves.
struct ToolSettings {
    uint32_t agentAddress; // host byte order
    int agentPort;         // as given or looked up; the endpoint uses its low 16 bits
    uint32_t timeout;      // inactivity timeout in seconds; 0 waits for ever
    int32_t requestId;     // id of the first request
    const char *community;
    int nameCount;
    char **names;         // the name arguments, in order
    int32_t version;      // -v: SMP_VERSION_1 (1) or SMP_VERSION_2C (2c)
    uint16_t repetitions; // -b: max-repetitions of a v2c GetBulk; 0 sends GetNext
    uint32_t retries;     // -r: resends of a request left unanswered for the timeout
    uint32_t flags;       // TOOL_NUMERIC_NAMES ... TOOL_ANY_ORDER
};

// Process body: parses and tests the settings, then runs the walk; returns the
// exit status.
int toolRun(int argc, char **argv);

// Registers the agent side the engine calls for requests that reach the tool:
// the community check and the trap sender, idle since the tool reads no
// community or trap file. No store is registered.
void toolRegisterAgentSide();

// Prints the usage text on standard output; returns 1.
int printUsage();

// Parses the options and tests the settings in their order, printing the
// message of the first that fails. Returns 0 when the settings stand, 1 for a
// usage error, 2 for a rejected value, TOOL_PARSE_DONE after --help's usage
// text or --version's line. Sets programName, raises logLevel and
// stores -df and -di with the definitions module (none and "/etc" by default).
int toolParseSettings(ToolSettings *settings, int argc, char **argv);
