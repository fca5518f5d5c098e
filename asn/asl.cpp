// The built-in grammar of the SNMP version 1 message (RFC 1157, 4; types of
// RFC 1155), as one constant table. The alternatives of a selector stand
// contiguously behind the index its `next` names. An entry serves one position
// of the message, so each INTEGER has its own; entries whose following
// components are the same are shared (the request PDUs, the binding list).
#include "asn/asl.h"

#include "asn/asn.h"
#include "platform/log.h"

namespace {

enum AslIndex : int {
    MESSAGE_SEL,
    MESSAGE,
    VERSION_SEL,
    VERSION,
    COMMUNITY_SEL,
    COMMUNITY,
    PDU_SEL,
    PDU_GET, // the five PDU alternatives, in the order of the selector's octets
    PDU_GET_NEXT,
    PDU_RESPONSE,
    PDU_SET,
    PDU_TRAP,
    REQUEST_ID_SEL,
    REQUEST_ID,
    ERROR_STATUS_SEL,
    ERROR_STATUS,
    ERROR_INDEX_SEL,
    ERROR_INDEX,
    BINDINGS_SEL,
    BINDINGS,
    ENTERPRISE_SEL,
    ENTERPRISE,
    AGENT_SEL,
    AGENT,
    GENERIC_SEL,
    GENERIC,
    SPECIFIC_SEL,
    SPECIFIC,
    TIME_SEL,
    TIME,
    BINDING_SEL,
    BINDING,
    NAME_SEL,
    NAME,
    VALUE_SEL,
    VALUE_INTEGER, // the ten value alternatives, in the order of the selector's octets
    VALUE_OCTETS,
    VALUE_NULL,
    VALUE_OBJECTID,
    VALUE_IPADDRESS,
    VALUE_COUNTER,
    VALUE_GAUGE,
    VALUE_TIMETICKS,
    VALUE_OPAQUE,
    VALUE_SEGMENTS,
    SEGMENT_SEL,
    SEGMENT_OCTETS,
    SEGMENT_SEGMENTS,
    ASL_COUNT
};

extern const AslEntry aslTable[ASL_COUNT];

constexpr const AslEntry *at(int i) {
    return &aslTable[i];
}

constexpr AslEntry sel(const char *octets, int16_t min, int alternatives) {
    return {ASN_CHOICE, nullptr, octets, min, at(alternatives)};
}
constexpr AslEntry seq(int16_t min, int first, const AslEntry *next) {
    return {ASN_SEQUENCE, at(first), nullptr, min, next};
}
constexpr AslEntry seqOf(int16_t min, int element) {
    return {ASN_SEQUENCEOF, at(element), nullptr, min, nullptr};
}
constexpr AslEntry leaf(uint32_t kind, int16_t min, const AslEntry *next) {
    return {kind, nullptr, nullptr, min, next};
}

constexpr const AslEntry *NONE = nullptr;

constexpr AslEntry aslTable[ASL_COUNT] = {
    /* MESSAGE_SEL */ sel("\x30", 20, MESSAGE),
    /* MESSAGE */ seq(20, VERSION_SEL, NONE),
    /* VERSION_SEL */ sel("\x02", 18, VERSION),
    /* VERSION */ leaf(ASN_INTEGER, 1, at(COMMUNITY_SEL)),
    /* COMMUNITY_SEL */ sel("\x04", 15, COMMUNITY),
    /* COMMUNITY */ leaf(ASN_OCTETS, 0, at(PDU_SEL)),
    /* PDU_SEL */ sel("\xA0\xA1\xA2\xA3\xA4", 13, PDU_GET),
    /* PDU_GET */ seq(12, REQUEST_ID_SEL, NONE),
    /* PDU_GET_NEXT */ seq(12, REQUEST_ID_SEL, NONE),
    /* PDU_RESPONSE */ seq(12, REQUEST_ID_SEL, NONE),
    /* PDU_SET */ seq(12, REQUEST_ID_SEL, NONE),
    /* PDU_TRAP */ seq(16, ENTERPRISE_SEL, NONE),
    /* REQUEST_ID_SEL */ sel("\x02", 11, REQUEST_ID),
    /* REQUEST_ID */ leaf(ASN_INTEGER, 1, at(ERROR_STATUS_SEL)),
    /* ERROR_STATUS_SEL */ sel("\x02", 8, ERROR_STATUS),
    /* ERROR_STATUS */ leaf(ASN_INTEGER, 1, at(ERROR_INDEX_SEL)),
    /* ERROR_INDEX_SEL */ sel("\x02", 5, ERROR_INDEX),
    /* ERROR_INDEX */ leaf(ASN_INTEGER, 1, at(BINDINGS_SEL)),
    /* BINDINGS_SEL */ sel("\x30", 2, BINDINGS),
    /* BINDINGS */ seqOf(0, BINDING_SEL),
    /* ENTERPRISE_SEL */ sel("\x06", 14, ENTERPRISE),
    /* ENTERPRISE */ leaf(ASN_OBJECTID, 0, at(AGENT_SEL)),
    /* AGENT_SEL */ sel("\x40", 12, AGENT),
    /* AGENT */ leaf(ASN_OCTETS, 4, at(GENERIC_SEL)),
    /* GENERIC_SEL */ sel("\x02", 10, GENERIC),
    /* GENERIC */ leaf(ASN_INTEGER, 1, at(SPECIFIC_SEL)),
    /* SPECIFIC_SEL */ sel("\x02", 7, SPECIFIC),
    /* SPECIFIC */ leaf(ASN_INTEGER, 1, at(TIME_SEL)),
    /* TIME_SEL */ sel("\x43", 4, TIME),
    /* TIME */ leaf(ASN_INTEGER, 1, at(BINDINGS_SEL)),
    // A binding's next is its own selector: a binding is never the last component.
    /* BINDING_SEL */ sel("\x30", 0, BINDING),
    /* BINDING */ seq(4, NAME_SEL, at(BINDING_SEL)),
    /* NAME_SEL */ sel("\x06", 4, NAME),
    /* NAME */ leaf(ASN_OBJECTID, 0, at(VALUE_SEL)),
    /* VALUE_SEL */ sel("\x02\x04\x05\x06\x40\x41\x42\x43\x44\x24", 2, VALUE_INTEGER),
    /* VALUE_INTEGER */ leaf(ASN_INTEGER, 1, NONE),
    /* VALUE_OCTETS */ leaf(ASN_OCTETS, 0, NONE),
    /* VALUE_NULL */ leaf(ASN_NULL, 0, NONE),
    /* VALUE_OBJECTID */ leaf(ASN_OBJECTID, 0, NONE),
    /* VALUE_IPADDRESS */ leaf(ASN_OCTETS, 4, NONE),
    /* VALUE_COUNTER */ leaf(ASN_INTEGER, 1, NONE),
    /* VALUE_GAUGE */ leaf(ASN_INTEGER, 1, NONE),
    /* VALUE_TIMETICKS */ leaf(ASN_INTEGER, 0, NONE),
    /* VALUE_OPAQUE */ leaf(ASN_OCTETS, 0, NONE),
    /* VALUE_SEGMENTS */ seqOf(0, SEGMENT_SEL),
    /* SEGMENT_SEL */ sel("\x04\x24", 0, SEGMENT_OCTETS),
    /* SEGMENT_OCTETS */ leaf(ASN_OCTETS, 0, NONE),
    /* SEGMENT_SEGMENTS */ seqOf(0, SEGMENT_SEL),
};

// Every selector has one alternative per octet, all inside the table.
constexpr bool selectorsFit() {
    for (int i = 0; i < ASL_COUNT; i++) {
        const AslEntry &e = aslTable[i];
        if (e.kind != ASN_CHOICE)
            continue;
        int n = 0;
        while (e.octets[n] != 0)
            n++;
        if (n == 0 || e.next - aslTable + n > ASL_COUNT)
            return false;
    }
    return true;
}
static_assert(selectorsFit());
static_assert(ASL_COUNT < ASL_INDEX_LIMIT);
static_assert(ASL_INDEX_LIMIT <= 1 << ASN_DESCRIPTOR_BITS);

} // namespace

void aslInit() {}

int aslIndex(const AslEntry *e) {
    return e ? static_cast<int>(e - aslTable) + 1 : 0;
}

const AslEntry *aslEntry(int index) {
    return index > 0 && index <= ASL_COUNT ? &aslTable[index - 1] : nullptr;
}

const AslEntry *aslGrammar(int) {
    return at(MESSAGE_SEL);
}

const AslEntry *aslChoice(const AslEntry *selector, int octet) {
    logStep("aslChoice ");
    logStep(octet == 0 ? "0\n" : "1\n");
    // An entry that is no selector offers no alternatives.
    const char *octets = selector->octets;
    if (!octets)
        return nullptr;
    if (octet == 0)
        return octets[0] == 0 ? selector->next : nullptr;
    for (int i = 0; octets[i] != 0; i++)
        if (static_cast<unsigned char>(octets[i]) == octet)
            return selector->next + i;
    return nullptr;
}
