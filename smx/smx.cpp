#include "smx/smx.h"

#include "platform/log.h"
#include "smx/def.h"
#include "smx/number.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

namespace {

// Name look-ups and identifier printing work in texts of this many characters.
constexpr int WORK_TEXT = 256;
// An IpAddress part is collected into a text of at most this many characters.
constexpr int IP_PART_MAX = 32;

constexpr std::array<const char *, SMP_KIND_COUNT> kindNames = {
    "None",      "Integer",      "OctetString",    "IpAddress",    "Opaque",
    "Counter",   "Gauge",        "TimeTicks",      "ObjectId",     "Null",
    "Counter64", "noSuchObject", "noSuchInstance", "endOfMibView",
};

// RFC 3416, 3; version 1 names the first six (RFC 1157, 4.1.1).
constexpr std::array<const char *, SMP_V2_ERROR_STATUS_COUNT> v2ErrorStatusNames = {
    "noError",
    "tooBig",
    "noSuchName",
    "badValue",
    "readOnly",
    "genErr",
    "noAccess",
    "wrongType",
    "wrongLength",
    "wrongEncoding",
    "wrongValue",
    "noCreation",
    "inconsistentValue",
    "resourceUnavailable",
    "commitFailed",
    "undoFailed",
    "authorizationError",
    "notWritable",
    "inconsistentName",
};

// Codes from the network can lie outside the tables; give them a printable
// text that keeps the number.
const char *unknownName(int32_t code) {
    constexpr int slots = 8;
    thread_local char ring[slots][24];
    thread_local int next = 0;
    char *text = ring[next];
    next = (next + 1) % slots;
    snprintf(text, sizeof ring[0], "unknown(%d)", static_cast<int>(code));
    return text;
}

int32_t codeOf(std::span<const char *const> table, const char *name) {
    if (!name)
        return 0;
    for (size_t i = 0; i < table.size(); ++i)
        if (strcmp(table[i], name) == 0)
            return static_cast<int32_t>(i);
    return 0;
}

// Digits of the largest 64-bit value in a base, and the base's powers below it.
template <uint32_t base>
constexpr int maxDigits = [] {
    int n = 1;
    for (uint64_t v = UINT64_MAX / base; v != 0; v /= base)
        ++n;
    return n;
}();
template <uint32_t base>
constexpr auto powersOf = [] {
    std::array<uint64_t, maxDigits<base>> p{};
    uint64_t v = 1;
    for (size_t i = 0; i < p.size(); ++i, v *= base)
        p[i] = v;
    return p;
}();

// Every two-digit number in the base, as its two characters.
template <uint32_t base>
constexpr auto digitPairs = [] {
    std::array<char, 2 * base * base> p{};
    for (uint32_t i = 0; i < base * base; ++i) {
        p[2 * i] = static_cast<char>('0' + i / base);
        p[2 * i + 1] = static_cast<char>('0' + i % base);
    }
    return p;
}();

// The base is a template argument: divisions by a constant compile to
// multiplications, and names print an arc at a time. The digits are counted
// against the base's powers, then written last first in place, two at a time.
template <uint32_t base> int formatBase(char *buf, int capacity, uint64_t value) {
    int digits = 1;
    while (digits < maxDigits<base> && value >= powersOf<base>[digits])
        ++digits;
    if (capacity <= 0 || digits > capacity)
        return -1;
    buf[digits] = '\0';
    int i = digits;
    // Above 32 bits a division costs more; nearly every arc and number is below.
    for (; value > UINT32_MAX; value /= base)
        buf[--i] = static_cast<char>('0' + value % base);
    auto v = static_cast<uint32_t>(value);
    for (; i > 1; v /= base * base, i -= 2)
        memcpy(buf + i - 2, &digitPairs<base>[2 * (v % (base * base))], 2);
    if (i == 1) // one digit left, and v below the base
        buf[0] = static_cast<char>('0' + v);
    return digits;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The dotted conversion's output side: octets written and room left.
struct OidWriter {
    uint8_t *out;
    int written;
    int left;
};

bool writeSubId(OidWriter *w, uint32_t value) {
    int n = smxEncodeSubId(w->out + w->written, w->left, value);
    w->left -= n;
    if (w->left < 0)
        return false;
    w->written += n;
    return true;
}

bool appendChar(char *buf, int capacity, int *pos, char c) {
    return smxAppendText(buf, capacity, pos, &c, 1);
}

bool appendDecimal(char *buf, int capacity, int *pos, uint32_t value) {
    int n = smxFormatDecimal(buf + *pos, capacity - *pos, value);
    if (n < 0)
        return false;
    *pos += n;
    return true;
}

int writeWord(char *buf, int capacity, const char *word) {
    // The word is written only when the capacity is above its length.
    int length = static_cast<int>(strlen(word));
    if (capacity <= length)
        return -1;
    memcpy(buf, word, static_cast<size_t>(length) + 1);
    return length;
}

} // namespace

bool smxAppendText(char *buf, int capacity, int *pos, const char *text, int length) {
    if (length > capacity - *pos)
        return false;
    memcpy(buf + *pos, text, static_cast<size_t>(length));
    *pos += length;
    buf[*pos] = '\0';
    return true;
}

const char *smxKindName(int32_t kind) {
    if (kind < 0 || kind >= SMP_KIND_COUNT)
        return unknownName(kind);
    return kindNames[static_cast<size_t>(kind)];
}

int32_t smxKindCode(const char *name) {
    return codeOf(kindNames, name);
}

const char *smxErrorStatusName(int32_t status) {
    if (status < 0 || status >= SMP_ERROR_STATUS_COUNT)
        return unknownName(status);
    return v2ErrorStatusNames[static_cast<size_t>(status)];
}

const char *smxV2ErrorStatusName(int32_t status) {
    if (status < 0 || status >= SMP_V2_ERROR_STATUS_COUNT)
        return unknownName(status);
    return v2ErrorStatusNames[static_cast<size_t>(status)];
}

int32_t smxErrorStatusCode(const char *name) {
    return codeOf(std::span(v2ErrorStatusNames).first(SMP_ERROR_STATUS_COUNT), name);
}

int smxFormatDecimal(char *buf, int capacity, uint32_t value) {
    return formatBase<10>(buf, capacity, value);
}

int smxFormatDecimal64(char *buf, int capacity, uint64_t value) {
    return formatBase<10>(buf, capacity, value);
}

int smxFormatOctal(char *buf, int capacity, uint32_t value) {
    return formatBase<8>(buf, capacity, value);
}

int smxUnsignedToText(char *buf, int capacity, uint32_t value) {
    return smxFormatDecimal(buf, capacity, value);
}

int smxIntegerToText(char *buf, int capacity, int32_t value) {
    if (capacity <= 0)
        return -1;
    if (value >= 0)
        return smxFormatDecimal(buf, capacity, static_cast<uint32_t>(value));
    // The magnitude in unsigned arithmetic, so INT32_MIN prints correctly.
    uint32_t magnitude = 0u - static_cast<uint32_t>(value);
    buf[0] = '-';
    int n = smxFormatDecimal(buf + 1, capacity - 1, magnitude);
    return n < 0 ? -1 : n + 1;
}

int smxEncodeSubId(uint8_t *out, int capacity, uint32_t value) {
    int groups = 1;
    for (uint32_t v = value >> 7; v != 0; v >>= 7)
        ++groups;
    if (groups > capacity)
        return capacity + 1;
    for (int i = groups - 1; i >= 0; --i) {
        uint8_t octet = static_cast<uint8_t>(value & 0x7Fu);
        if (i != groups - 1)
            octet |= 0x80;
        out[i] = octet;
        value >>= 7;
    }
    return groups;
}

int smxNumericToObjectId(uint8_t *out, int capacity, const char *text) {
    if (capacity <= 0 || !text)
        return -1;
    OidWriter w{out, 0, capacity};
    int state = 0; // 0 first arc, 1 second arc, 2 later arcs
    uint32_t first = 0;
    const char *p = text;
    for (;;) {
        if (state == 2 && *p == '"') {
            // A quoted arc: its character count, then one arc per character.
            // A doubled quote inside stands for one quote.
            const char *q = p + 1;
            uint32_t count = 0;
            while (*q && !(q[0] == '"' && q[1] != '"')) {
                q += q[0] == '"' ? 2 : 1;
                ++count;
            }
            if (!*q)
                return -1;
            if (!writeSubId(&w, count))
                return -1;
            for (const char *c = p + 1; c < q; ++c) {
                if (!writeSubId(&w, static_cast<unsigned char>(*c)))
                    return -1;
                if (*c == '"')
                    ++c;
            }
            p = q + 1;
            if (*p != '.' && *p != '\0')
                return -1;
        } else {
            uint32_t arc = 0;
            while (isDigit(*p))
                arc = arc * 10u + static_cast<uint32_t>(*p++ - '0');
            if (*p != '.' && *p != '\0')
                return -1;
            if (state == 0) {
                if (arc > 2)
                    return -1;
                first = arc;
                state = 1;
                if (*p == '\0')
                    return writeSubId(&w, first * 40u) ? w.written : -1;
            } else if (state == 1) {
                if (first <= 1 && arc > 39)
                    return -1;
                if (!writeSubId(&w, first * 40u + arc))
                    return -1;
                state = 2;
            } else if (!writeSubId(&w, arc)) {
                return -1;
            }
        }
        if (*p == '\0')
            return w.written;
        ++p; // the dot; an arc follows, empty ones counting as 0
    }
}

int smxTextToObjectId(uint8_t *out, int capacity, const char *text) {
    if (!text)
        return -1;
    // Names never begin with a digit.
    if (isDigit(text[0]))
        return smxNumericToObjectId(out, capacity, text);
    char work[WORK_TEXT + 1];
    if (defNameToNumeric(work, WORK_TEXT, text) < 0)
        return smxNumericToObjectId(out, capacity, text);
    return smxNumericToObjectId(out, capacity, work);
}

int smxObjectIdToNumeric(char *buf, int capacity, const uint8_t *oid, int length) {
    if (length <= 0 || capacity <= 2 || !oid)
        return -1;
    int pos = 0;
    int at = 0;
    uint32_t x = 0;
    if (!smxReadSubId(oid, length, &at, &x))
        return -1;
    uint32_t firstArc = x / 40u;
    if (firstArc > 2)
        firstArc = 2;
    if (!appendDecimal(buf, capacity, &pos, firstArc) || !appendChar(buf, capacity, &pos, '.') ||
        !appendDecimal(buf, capacity, &pos, x - 40u * firstArc))
        return -1;
    while (at < length) {
        uint32_t subId = 0;
        if (!smxReadSubId(oid, length, &at, &subId) || !appendChar(buf, capacity, &pos, '.') ||
            !appendDecimal(buf, capacity, &pos, subId))
            return -1;
    }
    return pos;
}

int smxObjectIdToText(char *buf, int capacity, const uint8_t *oid, int length) {
    char work[WORK_TEXT + 1];
    int numeric = smxObjectIdToNumeric(work, WORK_TEXT, oid, length);
    if (numeric < 0)
        return smxObjectIdToNumeric(buf, capacity, oid, length);
    if (capacity < 0)
        return -1;
    return defNumericToName(buf, capacity, work);
}

int smxTextAndOidToObjectId(uint8_t *out, int capacity, const char *base, const uint32_t *arcs,
                            int count) {
    if (!base)
        base = "";
    if (count < 0 || (count > 0 && !arcs))
        return -1;
    size_t baseLength = strlen(base);
    // Every arc takes at most a dot and ten digits; 12 leave one to spare.
    long long size = static_cast<long long>(baseLength) + 12LL * count + 1;
    if (size > INT32_MAX)
        return -1;
    logFailure("smxTextAndOidToObjectId : allocated size = %d\n", static_cast<int>(size));
    char *work = static_cast<char *>(malloc(static_cast<size_t>(size)));
    if (!work) {
        logFailure("smxTextAndOidToObjectId : no space available\n");
        return -1;
    }
    memcpy(work, base, baseLength + 1);
    int pos = static_cast<int>(baseLength);
    int room = static_cast<int>(size) - pos;
    for (int i = 0; i < count; ++i) {
        if (room <= 1) {
            logFailure("smxTextAndOidToObjectId : no space for '.'\n");
            free(work);
            return -1;
        }
        work[pos++] = '.';
        --room;
        // One less than the room, so the terminator always fits.
        int n = smxUnsignedToText(work + pos, room - 1, arcs[i]);
        if (n < 0) {
            logFailure("smxTextAndOidToObjectId : can't encode\n");
            free(work);
            return -1;
        }
        pos += n;
        room -= n;
    }
    work[pos] = '\0';
    int result = smxTextToObjectId(out, capacity, work);
    free(work);
    return result;
}

int smxObjectIdToSubIds(uint32_t *subIds, int maxCount, const uint8_t *oid, int length) {
    if (length < 0 || maxCount < 0 || (length > 0 && !oid))
        return -1;
    int stored = 0;
    int at = 0;
    while (at < length && stored < maxCount)
        if (!smxReadSubId(oid, length, &at, &subIds[stored++]))
            return -1;
    return stored;
}

int smxSubIdsToObjectId(uint8_t *out, int capacity, const uint32_t *subIds, int count) {
    if (count < 0 || capacity < 0)
        return -1;
    OidWriter w{out, 0, capacity};
    for (int i = 0; i < count; ++i)
        if (!writeSubId(&w, subIds[i]))
            return -1;
    return w.written;
}

int smxCompareSubIds(const uint32_t *a, int countA, const uint32_t *b, int countB) {
    if (countA < 0)
        countA = 0;
    if (countB < 0)
        countB = 0;
    int common = countA < countB ? countA : countB;
    for (int i = 0; i < common; ++i) {
        if (a[i] > b[i])
            return 1;
        if (a[i] < b[i])
            return 2;
    }
    if (countA == countB)
        return 0;
    return countA > countB ? 1 : 2;
}

uint32_t *smxAllocSubIds(int count) {
    if (count < 0)
        return nullptr;
    // A block for no values is still a block the caller can release.
    size_t n = count == 0 ? 1 : static_cast<size_t>(count);
    return static_cast<uint32_t *>(malloc(n * sizeof(uint32_t)));
}

int smxFreeSubIds(uint32_t *block) {
    free(block);
    return 0;
}

void smxCopySubIds(uint32_t *dest, const uint32_t *src, int count) {
    if (count > 0)
        memmove(dest, src, static_cast<size_t>(count) * sizeof(uint32_t));
}

int smxOctetStringToText(char *buf, int capacity, const uint8_t *octets, int length) {
    if (length < 0 || length > capacity || (length > 0 && !octets))
        return -1;
    int pos = 0;
    if (!appendChar(buf, capacity, &pos, '"'))
        return -1;
    // One character stays for the closing quote.
    int limit = capacity - 1;
    for (int i = 0; i < length; ++i) {
        uint8_t c = octets[i];
        if (c >= 0x20 && c <= 0x7E) {
            if (!appendChar(buf, limit, &pos, static_cast<char>(c)))
                return -1;
            continue;
        }
        if (!appendChar(buf, limit, &pos, '\\'))
            return -1;
        int n = smxFormatOctal(buf + pos, limit - pos, c);
        if (n < 0)
            return -1;
        pos += n;
    }
    if (!appendChar(buf, capacity, &pos, '"'))
        return -1;
    return pos;
}

int smxTextToOctetString(uint8_t *out, int capacity, const char *text) {
    if (!text || capacity < 0)
        return -1;
    size_t length = strlen(text);
    if (length > static_cast<size_t>(capacity))
        return -1;
    if (length > 0)
        memcpy(out, text, length);
    return static_cast<int>(length);
}

int smxIpAddressToText(char *buf, int capacity, const uint8_t *octets, int length) {
    if (length != 4 || !octets || capacity < 0)
        return -1;
    int pos = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && !appendChar(buf, capacity, &pos, '.'))
            return -1;
        if (!appendDecimal(buf, capacity, &pos, octets[i]))
            return -1;
    }
    return pos;
}

int smxTextToIpAddress(uint8_t *out, int capacity, const char *text) {
    if (capacity < 4 || !text)
        return -1;
    int dots = 0;
    for (const char *p = text; *p; ++p)
        dots += *p == '.';
    if (dots != 3)
        return -1;
    const char *p = text;
    uint32_t value;
    for (int i = 0; i < 3; ++i) {
        const char *dot = strchr(p, '.');
        size_t partLength = static_cast<size_t>(dot - p);
        if (partLength > IP_PART_MAX)
            return -1;
        char part[IP_PART_MAX + 1];
        memcpy(part, p, partLength);
        part[partLength] = '\0';
        if (smxParseNumber(&value, part) != 0 || value > 255)
            return -1;
        out[i] = static_cast<uint8_t>(value);
        p = dot + 1;
    }
    if (*p == '\0' || smxParseNumber(&value, p) != 0 || value > 255)
        return -1;
    out[3] = static_cast<uint8_t>(value);
    return 4;
}

int smxValueToText(char *buf, int capacity, const SmpBind *bind) {
    if (!bind)
        return -1;
    logStep("smxValueToText: Kind %d Len %d\n", static_cast<int>(bind->kind),
            static_cast<int>(bind->valueLen));
    // Octets that arrived in constructed form are absent: no text.
    bool octetsAbsent = !bind->value && bind->valueLen != 0;
    switch (bind->kind) {
    case SMP_KIND_INTEGER:
        logStep("smxValueToText 0\n");
        if (static_cast<uint32_t>(bind->valueLen) > 4) {
            logStep("smxValueToText 1\n");
            return writeWord(buf, capacity, "OVERFLOW");
        }
        logStep("smxValueToText 2\n");
        return smxIntegerToText(buf, capacity, static_cast<int32_t>(bind->number));
    case SMP_KIND_COUNTER:
    case SMP_KIND_GAUGE:
    case SMP_KIND_TIME_TICKS: {
        logStep("smxValueToText 3\n");
        bool haveOctets = bind->value && bind->valueLen > 0;
        if (haveOctets && (bind->value[0] & 0x80)) {
            logStep("smxValueToText 4\n");
            return writeWord(buf, capacity, "NEGATIVE");
        }
        if (haveOctets && bind->valueLen > 4 && bind->value[0] != 0) {
            logStep("smxValueToText 5\n");
            return writeWord(buf, capacity, "OVERFLOW");
        }
        logStep("smxValueToText 6\n");
        return smxUnsignedToText(buf, capacity, static_cast<uint32_t>(bind->number));
    }
    case SMP_KIND_COUNTER64: {
        // The 32-bit kinds' rules at 64 bits: 8 octets, or 9 led by 00.
        bool haveOctets = bind->value && bind->valueLen > 0;
        if (haveOctets && (bind->value[0] & 0x80))
            return writeWord(buf, capacity, "NEGATIVE");
        if (haveOctets && bind->valueLen > 8 && bind->value[0] != 0)
            return writeWord(buf, capacity, "OVERFLOW");
        return smxFormatDecimal64(buf, capacity, static_cast<uint64_t>(bind->number));
    }
    case SMP_KIND_NO_SUCH_OBJECT:
    case SMP_KIND_NO_SUCH_INSTANCE:
    case SMP_KIND_END_OF_MIB_VIEW:
        return writeWord(buf, capacity, "");
    case SMP_KIND_OCTET_STRING:
        if (octetsAbsent)
            return -1;
        return smxOctetStringToText(buf, capacity, bind->value, bind->valueLen);
    case SMP_KIND_IP_ADDRESS:
        if (octetsAbsent)
            return -1;
        return smxIpAddressToText(buf, capacity, bind->value, bind->valueLen);
    case SMP_KIND_OBJECT_ID:
        if (octetsAbsent)
            return -1;
        return smxObjectIdToText(buf, capacity, bind->value, bind->valueLen);
    default:
        return -1;
    }
}

int smxTextToValue(SmpBind *bind, const char *text) {
    if (!bind)
        return -1;
    int result;
    switch (bind->kind) {
    case SMP_KIND_INTEGER: {
        int32_t number = 0;
        result = smxTextToInteger(&number, text);
        bind->number = number;
        bind->valueLen = 0;
        bind->value = nullptr;
        return result;
    }
    case SMP_KIND_COUNTER:
    case SMP_KIND_GAUGE:
    case SMP_KIND_TIME_TICKS:
    case SMP_KIND_COUNTER64: {
        // The 32-bit kinds keep their number as the signed word it always was.
        uint32_t word = 0;
        uint64_t number = 0;
        if (bind->kind == SMP_KIND_COUNTER64)
            result = smxTextToUnsigned64(&number, text);
        else
            result = smxTextToUnsigned(&word, text);
        bind->number = bind->kind == SMP_KIND_COUNTER64 ? static_cast<int64_t>(number)
                                                        : static_cast<int32_t>(word);
        bind->valueLen = 0;
        bind->value = nullptr;
        return result;
    }
    case SMP_KIND_OCTET_STRING:
    case SMP_KIND_IP_ADDRESS:
    case SMP_KIND_OBJECT_ID: {
        // The value buffer's capacity is the value length on entry.
        int room = bind->value ? bind->valueLen : 0;
        if (bind->kind == SMP_KIND_OCTET_STRING)
            result = smxTextToOctetString(bind->value, room, text);
        else if (bind->kind == SMP_KIND_IP_ADDRESS)
            result = smxTextToIpAddress(bind->value, room, text);
        else
            result = smxTextToObjectId(bind->value, room, text);
        bind->valueLen = result;
        bind->number = 0;
        return result;
    }
    case SMP_KIND_NULL:
    case SMP_KIND_NO_SUCH_OBJECT:
    case SMP_KIND_NO_SUCH_INSTANCE:
    case SMP_KIND_END_OF_MIB_VIEW:
        bind->valueLen = 0;
        bind->value = nullptr;
        bind->number = 0;
        return 0;
    default:
        return -1;
    }
}
