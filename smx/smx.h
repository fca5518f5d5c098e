// Text forms of object identifiers and values, the value-kind and error-status
// name tables, and the variable-binding record they work on.
//
// Text writers take a capacity in characters without the terminating NUL: they
// write at most that many characters and then the NUL (the buffer holds
// capacity + 1 bytes) and return the count, or -1. Octet writers take a
// capacity in octets, write no terminator and return the count, or -1. After
// -1 the buffer's content is unspecified.
//
// An encoded object identifier is the content octets of a BER OBJECT
// IDENTIFIER (X.690, 8.19), without tag and length. Sub-identifiers are
// unsigned 32-bit values; their arithmetic wraps without a check.
//
// Bounds: name look-ups and identifier printing use work texts of 256
// characters; an IpAddress part is at most 32 characters; a sub-identifier
// takes 1 to 5 octets.
#pragma once

#include <cstdint>

// Value kinds of a binding, in the order of smxKindName's table.
enum SmpKind : int32_t {
    SMP_KIND_NONE = 0,
    SMP_KIND_INTEGER = 1,
    SMP_KIND_OCTET_STRING = 2,
    SMP_KIND_IP_ADDRESS = 3,
    SMP_KIND_OPAQUE = 4,
    SMP_KIND_COUNTER = 5,
    SMP_KIND_GAUGE = 6,
    SMP_KIND_TIME_TICKS = 7,
    SMP_KIND_OBJECT_ID = 8,
    SMP_KIND_NULL = 9,
    // SNMPv2 (RFC 2578, RFC 3416): version-2 messages only.
    SMP_KIND_COUNTER64 = 10,
    SMP_KIND_NO_SUCH_OBJECT = 11,
    SMP_KIND_NO_SUCH_INSTANCE = 12,
    SMP_KIND_END_OF_MIB_VIEW = 13,
};
inline constexpr int SMP_KIND_COUNT = 14;

// SNMPv1 error-status values (RFC 1157, 4.1.1).
enum SmpErrorStatus : int32_t {
    SMP_NO_ERROR = 0,
    SMP_TOO_BIG = 1,
    SMP_NO_SUCH_NAME = 2,
    SMP_BAD_VALUE = 3,
    SMP_READ_ONLY = 4,
    SMP_GEN_ERR = 5,
    // RFC 3416, 3: version-2 statuses.
    SMP_NO_ACCESS = 6,
    SMP_WRONG_TYPE = 7,
    SMP_WRONG_LENGTH = 8,
    SMP_WRONG_ENCODING = 9,
    SMP_WRONG_VALUE = 10,
    SMP_NO_CREATION = 11,
    SMP_INCONSISTENT_VALUE = 12,
    SMP_RESOURCE_UNAVAILABLE = 13,
    SMP_COMMIT_FAILED = 14,
    SMP_UNDO_FAILED = 15,
    SMP_AUTHORIZATION_ERROR = 16,
    SMP_NOT_WRITABLE = 17,
    SMP_INCONSISTENT_NAME = 18,
};
inline constexpr int SMP_ERROR_STATUS_COUNT = 6;
// The statuses RFC 3416, 3 adds, 6 (noAccess) to 18 (inconsistentName).
inline constexpr int SMP_V2_ERROR_STATUS_COUNT = 19;

// One variable binding. Name and value octets are not owned: they point into a
// caller's buffer or into a decoded message tree. In a binding taken from a
// received message value/valueLen hold the content octets for every kind and
// number the decoded number.
struct SmpBind {
    int32_t nameLen;  // octets of name (up to 32767)
    uint8_t *name;    // encoded object identifier
    int32_t kind;     // SmpKind
    int32_t valueLen; // octets of value (up to 32767)
    uint8_t *value;   // content octets, or none
    int64_t number;   // Integer (signed), Counter, Gauge, TimeTicks (unsigned 32 bits),
                      // Counter64 (its 64 bits)
};

// Name tables. A code outside a table gives "unknown(N)"; that text lives in a
// small per-thread ring and stays valid for the next 7 such calls.
const char *smxKindName(int32_t kind);
int32_t smxKindCode(const char *name);            // 0 when no entry is equal
const char *smxErrorStatusName(int32_t status);   // version 1's statuses, 0 to 5
const char *smxV2ErrorStatusName(int32_t status); // RFC 3416's, 0 to 18
int32_t smxErrorStatusCode(const char *name);     // 0 when no entry is equal

// Appends length characters of text at buf[*pos] and the NUL when they fit
// capacity characters, advancing *pos; false, nothing written, when they do not.
bool smxAppendText(char *buf, int capacity, int *pos, const char *text, int length);

// Digits, without leading zeros.
int smxFormatDecimal(char *buf, int capacity, uint32_t value);
int smxFormatDecimal64(char *buf, int capacity, uint64_t value);
int smxFormatOctal(char *buf, int capacity, uint32_t value);
int smxUnsignedToText(char *buf, int capacity, uint32_t value);
int smxIntegerToText(char *buf, int capacity, int32_t value);

// Text (a defined name with instance arcs, or dotted decimal) to encoded identifier.
int smxTextToObjectId(uint8_t *out, int capacity, const char *text);
// Dotted decimal (later arcs may be "quoted strings") to encoded identifier.
int smxNumericToObjectId(uint8_t *out, int capacity, const char *text);
// Encoded identifier to text with the longest defined name substituted.
int smxObjectIdToText(char *buf, int capacity, const uint8_t *oid, int length);
// Encoded identifier to dotted decimal.
// Reads one sub-identifier at oid[*pos] into *value and moves *pos past it:
// octets up to one without bit 8, or to the end of the data (a cut-off
// sub-identifier is used as far as it was read). False, *value 0, when it
// exceeds 2^32-1: RFC 2578, 7.1.3 bounds every sub-identifier there, so such
// a name exists nowhere and is never wrapped into one that does.
// Inline: every name a walk or an agent handles is read through it.
inline bool smxReadSubId(const uint8_t *oid, int length, int *pos, uint32_t *value) {
    if (*pos < length && oid[*pos] < 0x80) { // an arc of one octet, as most are
        *value = oid[(*pos)++];
        return true;
    }
    uint64_t v = 0;
    bool fits = true;
    while (*pos < length) {
        uint8_t octet = oid[(*pos)++];
        v = (v << 7) | (octet & 0x7Fu);
        if (v > UINT32_MAX) {
            fits = false;
            v = 0; // the rest of the arc is still passed over
        }
        if (!(octet & 0x80))
            break;
    }
    *value = fits ? static_cast<uint32_t>(v) : 0;
    return fits;
}
int smxObjectIdToNumeric(char *buf, int capacity, const uint8_t *oid, int length);
// Base text followed by further arcs, to encoded identifier.
int smxTextAndOidToObjectId(uint8_t *out, int capacity, const char *base, const uint32_t *arcs,
                            int count);

// One sub-identifier in base 128: octets written (1 to 5), or capacity + 1
// (nothing written) when they do not fit.
int smxEncodeSubId(uint8_t *out, int capacity, uint32_t value);

// Sub-identifier arrays. The first element is the first encoded sub-identifier
// (40 x first arc + second), not split. -1 for a sub-identifier over 2^32-1.
int smxObjectIdToSubIds(uint32_t *subIds, int maxCount, const uint8_t *oid, int length);
int smxSubIdsToObjectId(uint8_t *out, int capacity, const uint32_t *subIds, int count);
int smxCompareSubIds(const uint32_t *a, int countA, const uint32_t *b,
                     int countB);    // 0, 1 a>b, 2 a<b
uint32_t *smxAllocSubIds(int count); // released with smxFreeSubIds
int smxFreeSubIds(uint32_t *block);  // accepts none; 0
void smxCopySubIds(uint32_t *dest, const uint32_t *src, int count);

// Binding values.
int smxValueToText(char *buf, int capacity, const SmpBind *bind);
int smxTextToValue(SmpBind *bind, const char *text);

int smxOctetStringToText(char *buf, int capacity, const uint8_t *octets, int length);
int smxTextToOctetString(uint8_t *out, int capacity, const char *text);
int smxIpAddressToText(char *buf, int capacity, const uint8_t *octets, int length);
int smxTextToIpAddress(uint8_t *out, int capacity, const char *text); // 4 or -1
