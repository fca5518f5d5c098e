// The statistics block: thirty 32-bit words laid out as the snmp group of
// RFC 1213, word n holding the object with sub-identifier n, the last being
// snmpEnableAuthenTraps (1 enabled, 2 disabled). It lives in a shared segment
// named by the key file "snmp.shm" when one passes every check, else in a
// block local to the process. The authentication-trap setting file is
// "snmp.aut".
//
// Bounds: the block is 120 bytes; a shared segment is 140 bytes, the
// signature "SNMP SHARED MEMORY" and its NUL in the first 20, the block after.
// Words are raised and read atomically, as other processes may share them.
#pragma once

#include <cstdint>

inline constexpr int SMP_STATS_WORDS = 30;
inline constexpr int SHM_SEGMENT_SIZE = 140;
inline constexpr int SHM_BLOCK_OFFSET = 20;

// Word numbers (RFC 1213, snmp group); 7 and 23 are unassigned there.
enum SmpStatWord : int {
    SMP_STAT_IN_PKTS = 1,
    SMP_STAT_OUT_PKTS = 2,
    SMP_STAT_IN_BAD_VERSIONS = 3,
    SMP_STAT_IN_BAD_COMMUNITY_NAMES = 4,
    SMP_STAT_IN_BAD_COMMUNITY_USES = 5,
    SMP_STAT_IN_ASN_PARSE_ERRS = 6,
    SMP_STAT_IN_TOO_BIGS = 8,
    SMP_STAT_IN_NO_SUCH_NAMES = 9,
    SMP_STAT_IN_BAD_VALUES = 10,
    SMP_STAT_IN_READ_ONLYS = 11,
    SMP_STAT_IN_GEN_ERRS = 12,
    SMP_STAT_IN_TOTAL_REQ_VARS = 13,
    SMP_STAT_IN_TOTAL_SET_VARS = 14,
    SMP_STAT_IN_GET_REQUESTS = 15,
    SMP_STAT_IN_GET_NEXTS = 16,
    SMP_STAT_IN_SET_REQUESTS = 17,
    SMP_STAT_IN_GET_RESPONSES = 18,
    SMP_STAT_IN_TRAPS = 19,
    SMP_STAT_OUT_TOO_BIGS = 20,
    SMP_STAT_OUT_NO_SUCH_NAMES = 21,
    SMP_STAT_OUT_BAD_VALUES = 22,
    SMP_STAT_OUT_GEN_ERRS = 24,
    SMP_STAT_OUT_GET_REQUESTS = 25,
    SMP_STAT_OUT_GET_NEXTS = 26,
    SMP_STAT_OUT_SET_REQUESTS = 27,
    SMP_STAT_OUT_GET_RESPONSES = 28,
    SMP_STAT_OUT_TRAPS = 29,
    SMP_STAT_ENABLE_AUTHEN_TRAPS = 30,
    // RFC 3418's two further counters, kept by each process apart from the
    // block: the shared segment's layout stays 30 words.
    SMP_STAT_SILENT_DROPS = 31,
    SMP_STAT_PROXY_DROPS = 32,
    // SNMPv3's counters, kept the same way: RFC 3412's snmpMPDStats,
    // RFC 3413's context counters and RFC 3414's usmStats, in that order.
    SMP_STAT_UNKNOWN_SECURITY_MODELS = 33,
    SMP_STAT_INVALID_MSGS = 34,
    SMP_STAT_UNKNOWN_PDU_HANDLERS = 35,
    SMP_STAT_UNAVAILABLE_CONTEXTS = 36,
    SMP_STAT_UNKNOWN_CONTEXTS = 37,
    SMP_STAT_UNSUPPORTED_SEC_LEVELS = 38,
    SMP_STAT_NOT_IN_TIME_WINDOWS = 39,
    SMP_STAT_UNKNOWN_USER_NAMES = 40,
    SMP_STAT_UNKNOWN_ENGINE_IDS = 41,
    SMP_STAT_WRONG_DIGESTS = 42,
    SMP_STAT_DECRYPTION_ERRORS = 43,
};
inline constexpr int SMP_STAT_LAST = SMP_STAT_DECRYPTION_ERRORS;

// The 30 words in use: shmLocalBlock until shminit found a shared segment.
// Index 0 holds word 1.
extern uint32_t *smpStats;
extern uint32_t shmLocalBlock[SMP_STATS_WORDS];

// Atomic access to word n (1 to 30) of smpStats, or to the process's own
// words 31 to SMP_STAT_LAST; other numbers are ignored (reading gives 0). Counters wrap at 2^32
// (RFC 1155, 3.2.3.3).
void smpStatRaise(int word, uint32_t by = 1);
uint32_t smpStatRead(int word);
void smpStatWrite(int word, uint32_t value);

// Key file path, or none for DIR/etc/snmp.shm.
void shminit(const char *keyFile);
void shmLocalInit();

struct ShmStatusRec {
    uint32_t size; // segment size in octets
    uint32_t attachCount;
};
inline void *const SHM_ATTACH_FAILED = reinterpret_cast<void *>(static_cast<intptr_t>(-1));
void *shmAttach(int id, int, int);                // the segment's address, or SHM_ATTACH_FAILED
int shmStatus(int id, int, ShmStatusRec *status); // 0, or -1

// The authentication-trap setting. It is read from the first of
// DIR/etc/snmp.aut, etc/snmp.aut and snmp.aut that opens as a regular file,
// and written back to that same file, never through a link; when none opens,
// to the first of those places where the file can be created. So a value
// written is the one read at the next start, and a Set fails rather than
// write a file that is not read.
void authReadSetting(uint32_t *setting); // 1 or 2 stored
int authWriteSetting(uint32_t setting);  // 0 written, 1 its place could not be written
int authCheckWritable();                 // 0 its place is writable, 1 it is not
int authFileWritable(const char *path);  // 1 writable, 0 not
