// The query tool mibwalk: command line, settings and the walk they start.
#pragma once

#include "smp/usm.h"

#include <cstdint>

// -O and -C letters, as net-snmp's tools take them where they have them.
inline constexpr uint32_t TOOL_NUMERIC_NAMES = 1; // -On: names in dotted numeric form
inline constexpr uint32_t TOOL_HEX_STRINGS = 2;   // -Ox: OctetStrings as hexadecimal octets
inline constexpr uint32_t TOOL_JSON = 4;          // -Oj: one JSON object per line
inline constexpr uint32_t TOOL_ANY_ORDER = 8;     // -Cc: names need not increase

// Octets of the report buffered before a write when it goes to a file or a pipe.
inline constexpr int TOOL_OUTPUT_BUFFER = 65536;

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
    int32_t version;      // -v: SMP_VERSION_1 (1), SMP_VERSION_2C (2c) or SMP_VERSION_3 (3)
    uint16_t repetitions; // -b: max-repetitions of a v2c GetBulk; 0 sends GetNext
    uint32_t retries;     // -r: resends of a request left unanswered for the timeout
    uint32_t flags;       // TOOL_NUMERIC_NAMES ... TOOL_ANY_ORDER
    // Version 3 (RFC 3414): the user and its protocols; the passphrases those
    // need (-A and -X, else the environment's); -e's engine ID, 0 octets when
    // it is to be discovered; -n's context name, empty by default.
    const char *user;
    UsmLevel level;
    UsmAuth auth;
    UsmPriv priv;
    const char *authPassphrase;
    const char *privPassphrase;
    const char *context;
    uint8_t engineId[USM_ENGINE_ID_MAX];
    int engineIdLength;
};

// Where the passphrases come from when -A or -X is absent.
inline constexpr const char *TOOL_AUTH_PASSPHRASE_VARIABLE = "MIBWALK_AUTH_PASSPHRASE";
inline constexpr const char *TOOL_PRIV_PASSPHRASE_VARIABLE = "MIBWALK_PRIV_PASSPHRASE";

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

// Overwrites the passphrases of the settings with zeros where they came from:
// the argument strings, or the environment variables.
void toolWipePassphrases(const ToolSettings *settings);
