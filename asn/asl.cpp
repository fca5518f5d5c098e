// The built-in grammars of the SNMP messages, one constant table per version:
// version 1 (RFC 1157, 4; types of RFC 1155) and community-based SNMPv2
// (RFC 1901; PDUs of RFC 3416, types of RFC 2578). The tables share one layout
// and differ only in two selectors: the PDUs and the values they accept. The
// alternatives of a selector stand contiguously behind the index its `next`
// names. An entry serves one position of the message, so each INTEGER has its
// own; entries whose following components are the same are shared (the
// request PDUs, the binding list). Entries the version-1 selectors do not
// reach lie unused in its table.
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
    PDU_TRAP, // version 1 takes these five, version 2 the eight from PDU_GET
    PDU_GET,
    PDU_GET_NEXT,
    PDU_RESPONSE,
    PDU_SET,
    PDU_GET_BULK,
    PDU_INFORM,
    PDU_V2_TRAP,
    PDU_REPORT,
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
    VALUE_INTEGER, // version 1 takes the first ten value alternatives, version 2 all
    VALUE_OCTETS,
    VALUE_NULL,
    VALUE_OBJECTID,
    VALUE_IPADDRESS,
    VALUE_COUNTER,
    VALUE_GAUGE,
    VALUE_TIMETICKS,
    VALUE_OPAQUE,
    VALUE_SEGMENTS,
    VALUE_COUNTER64,
    VALUE_NO_SUCH_OBJECT,
    VALUE_NO_SUCH_INSTANCE,
    VALUE_END_OF_MIB_VIEW,
    SEGMENT_SEL,
    SEGMENT_OCTETS,
    SEGMENT_SEGMENTS,
    ASL_COUNT
};

// The entry at position i of grammar G's table: entries name each other by address.
template <int G> constexpr const AslEntry *at(int i);

template <int G> constexpr AslEntry sel(const char *octets, int16_t min, int alternatives) {
    return {ASN_CHOICE, nullptr, octets, min, at<G>(alternatives)};
}
template <int G> constexpr AslEntry seq(int16_t min, int first, const AslEntry *next) {
    return {ASN_SEQUENCE, at<G>(first), nullptr, min, next};
}
template <int G> constexpr AslEntry seqOf(int16_t min, int element) {
    return {ASN_SEQUENCEOF, at<G>(element), nullptr, min, nullptr};
}
constexpr AslEntry leaf(uint32_t kind, int16_t min, const AslEntry *next) {
    return {kind, nullptr, nullptr, min, next};
}

constexpr const AslEntry *NONE = nullptr;

// The PDUs (RFC 3416, 3: GetBulk, Inform, SNMPv2-Trap and Report; no v1
// Trap) and values (Counter64 and the three exceptions, context class) that
// only version 2 takes.
template <int G> constexpr AslEntry pduSelector() {
    return G == ASL_GRAMMAR_V2C ? sel<G>("\xA0\xA1\xA2\xA3\xA5\xA6\xA7\xA8", 13, PDU_GET)
                                : sel<G>("\xA4\xA0\xA1\xA2\xA3", 13, PDU_TRAP);
}
template <int G> constexpr AslEntry valueSelector() {
    return G == ASL_GRAMMAR_V2C
               ? sel<G>("\x02\x04\x05\x06\x40\x41\x42\x43\x44\x24\x46\x80\x81\x82", 2,
                        VALUE_INTEGER)
               : sel<G>("\x02\x04\x05\x06\x40\x41\x42\x43\x44\x24", 2, VALUE_INTEGER);
}

template <int G> struct Grammar {
    static constexpr AslEntry table[ASL_COUNT] = {
        /* MESSAGE_SEL */ sel<G>("\x30", 20, MESSAGE),
        /* MESSAGE */ seq<G>(20, VERSION_SEL, NONE),
        /* VERSION_SEL */ sel<G>("\x02", 18, VERSION),
        /* VERSION */ leaf(ASN_INTEGER, 1, at<G>(COMMUNITY_SEL)),
        /* COMMUNITY_SEL */ sel<G>("\x04", 15, COMMUNITY),
        /* COMMUNITY */ leaf(ASN_OCTETS, 0, at<G>(PDU_SEL)),
        /* PDU_SEL */ pduSelector<G>(),
        /* PDU_TRAP */ seq<G>(16, ENTERPRISE_SEL, NONE),
        /* PDU_GET */ seq<G>(12, REQUEST_ID_SEL, NONE),
        /* PDU_GET_NEXT */ seq<G>(12, REQUEST_ID_SEL, NONE),
        /* PDU_RESPONSE */ seq<G>(12, REQUEST_ID_SEL, NONE),
        /* PDU_SET */ seq<G>(12, REQUEST_ID_SEL, NONE),
        // GetBulk's non-repeaters and max-repetitions stand where error-status and
        // error-index do (RFC 3416, 3).
        /* PDU_GET_BULK */ seq<G>(12, REQUEST_ID_SEL, NONE),
        /* PDU_INFORM */ seq<G>(12, REQUEST_ID_SEL, NONE),
        /* PDU_V2_TRAP */ seq<G>(12, REQUEST_ID_SEL, NONE),
        /* PDU_REPORT */ seq<G>(12, REQUEST_ID_SEL, NONE),
        /* REQUEST_ID_SEL */ sel<G>("\x02", 11, REQUEST_ID),
        /* REQUEST_ID */ leaf(ASN_INTEGER, 1, at<G>(ERROR_STATUS_SEL)),
        /* ERROR_STATUS_SEL */ sel<G>("\x02", 8, ERROR_STATUS),
        /* ERROR_STATUS */ leaf(ASN_INTEGER, 1, at<G>(ERROR_INDEX_SEL)),
        /* ERROR_INDEX_SEL */ sel<G>("\x02", 5, ERROR_INDEX),
        /* ERROR_INDEX */ leaf(ASN_INTEGER, 1, at<G>(BINDINGS_SEL)),
        /* BINDINGS_SEL */ sel<G>("\x30", 2, BINDINGS),
        /* BINDINGS */ seqOf<G>(0, BINDING_SEL),
        /* ENTERPRISE_SEL */ sel<G>("\x06", 14, ENTERPRISE),
        /* ENTERPRISE */ leaf(ASN_OBJECTID, 0, at<G>(AGENT_SEL)),
        /* AGENT_SEL */ sel<G>("\x40", 12, AGENT),
        /* AGENT */ leaf(ASN_OCTETS, 4, at<G>(GENERIC_SEL)),
        /* GENERIC_SEL */ sel<G>("\x02", 10, GENERIC),
        /* GENERIC */ leaf(ASN_INTEGER, 1, at<G>(SPECIFIC_SEL)),
        /* SPECIFIC_SEL */ sel<G>("\x02", 7, SPECIFIC),
        /* SPECIFIC */ leaf(ASN_INTEGER, 1, at<G>(TIME_SEL)),
        /* TIME_SEL */ sel<G>("\x43", 4, TIME),
        /* TIME */ leaf(ASN_INTEGER, 1, at<G>(BINDINGS_SEL)),
        // A binding's next is its own selector: a binding is never the last component.
        /* BINDING_SEL */ sel<G>("\x30", 0, BINDING),
        /* BINDING */ seq<G>(4, NAME_SEL, at<G>(BINDING_SEL)),
        /* NAME_SEL */ sel<G>("\x06", 4, NAME),
        /* NAME */ leaf(ASN_OBJECTID, 0, at<G>(VALUE_SEL)),
        /* VALUE_SEL */ valueSelector<G>(),
        /* VALUE_INTEGER */ leaf(ASN_INTEGER, 1, NONE),
        /* VALUE_OCTETS */ leaf(ASN_OCTETS, 0, NONE),
        /* VALUE_NULL */ leaf(ASN_NULL, 0, NONE),
        /* VALUE_OBJECTID */ leaf(ASN_OBJECTID, 0, NONE),
        /* VALUE_IPADDRESS */ leaf(ASN_OCTETS, 4, NONE),
        /* VALUE_COUNTER */ leaf(ASN_INTEGER, 1, NONE),
        /* VALUE_GAUGE */ leaf(ASN_INTEGER, 1, NONE),
        /* VALUE_TIMETICKS */ leaf(ASN_INTEGER, 0, NONE),
        /* VALUE_OPAQUE */ leaf(ASN_OCTETS, 0, NONE),
        /* VALUE_SEGMENTS */ seqOf<G>(0, SEGMENT_SEL),
        /* VALUE_COUNTER64 */ leaf(ASN_INTEGER, 1, NONE),
        // The exceptions are empty, as NULL is (RFC 3416, 3).
        /* VALUE_NO_SUCH_OBJECT */ leaf(ASN_NULL, 0, NONE),
        /* VALUE_NO_SUCH_INSTANCE */ leaf(ASN_NULL, 0, NONE),
        /* VALUE_END_OF_MIB_VIEW */ leaf(ASN_NULL, 0, NONE),
        /* SEGMENT_SEL */ sel<G>("\x04\x24", 0, SEGMENT_OCTETS),
        /* SEGMENT_OCTETS */ leaf(ASN_OCTETS, 0, NONE),
        /* SEGMENT_SEGMENTS */ seqOf<G>(0, SEGMENT_SEL),
    };
};

template <int G> constexpr const AslEntry *at(int i) {
    return &Grammar<G>::table[i];
}

// Every selector has one alternative per octet, all inside the table.
template <int G> constexpr bool selectorsFit() {
    for (int i = 0; i < ASL_COUNT; i++) {
        const AslEntry &e = Grammar<G>::table[i];
        if (e.kind != ASN_CHOICE)
            continue;
        int n = 0;
        while (e.octets[n] != 0)
            n++;
        if (n == 0 || e.next - Grammar<G>::table + n > ASL_COUNT)
            return false;
    }
    return true;
}
static_assert(selectorsFit<ASL_GRAMMAR_V1>() && selectorsFit<ASL_GRAMMAR_V2C>());

// Version 1's grammar takes exactly the octets it took before version 2
// joined it: each PDU and value octet, and no other, leads to an entry of the
// same kind, least length and components.
struct Taken {
    unsigned char octet;
    uint32_t kind;
    int16_t min;
    int first; // the first component's index, or -1
};
constexpr Taken version1Pdus[] = {
    {0xA0, ASN_SEQUENCE, 12, REQUEST_ID_SEL}, {0xA1, ASN_SEQUENCE, 12, REQUEST_ID_SEL},
    {0xA2, ASN_SEQUENCE, 12, REQUEST_ID_SEL}, {0xA3, ASN_SEQUENCE, 12, REQUEST_ID_SEL},
    {0xA4, ASN_SEQUENCE, 16, ENTERPRISE_SEL},
};
constexpr Taken version1Values[] = {
    {0x02, ASN_INTEGER, 1, -1}, {0x04, ASN_OCTETS, 0, -1},
    {0x05, ASN_NULL, 0, -1},    {0x06, ASN_OBJECTID, 0, -1},
    {0x40, ASN_OCTETS, 4, -1},  {0x41, ASN_INTEGER, 1, -1},
    {0x42, ASN_INTEGER, 1, -1}, {0x43, ASN_INTEGER, 0, -1},
    {0x44, ASN_OCTETS, 0, -1},  {0x24, ASN_SEQUENCEOF, 0, SEGMENT_SEL},
};
template <size_t N> constexpr bool takesExactly(int selector, const Taken (&taken)[N]) {
    const AslEntry *table = Grammar<ASL_GRAMMAR_V1>::table;
    const AslEntry &s = table[selector];
    size_t n = 0;
    for (; s.octets[n] != 0; ++n) {
        const Taken *t = nullptr;
        for (const Taken &k : taken)
            if (k.octet == static_cast<unsigned char>(s.octets[n]))
                t = &k;
        const AslEntry &e = s.next[n];
        if (!t || e.kind != t->kind || e.aslMinLen != t->min ||
            e.first != (t->first < 0 ? nullptr : &table[t->first]))
            return false;
    }
    return n == N;
}
static_assert(takesExactly(PDU_SEL, version1Pdus) && takesExactly(VALUE_SEL, version1Values));
static_assert(ASL_COUNT < ASL_INDEX_LIMIT);
static_assert(ASL_INDEX_LIMIT <= 1 << ASN_DESCRIPTOR_BITS);

static_assert(ASL_COUNT == ASL_TABLE_SIZE);

constexpr const AslEntry *tables[ASL_GRAMMAR_COUNT] = {Grammar<ASL_GRAMMAR_V1>::table,
                                                       Grammar<ASL_GRAMMAR_V2C>::table};

} // namespace

const AslEntry *const aslTables[ASL_GRAMMAR_COUNT] = {tables[0], tables[1]};

void aslInit() {}

int aslIndex(const AslEntry *e) {
    if (!e)
        return 0;
    // The tables share one layout: a position is the same in each.
    for (const AslEntry *t : tables)
        if (e >= t && e < t + ASL_COUNT)
            return static_cast<int>(e - t) + 1;
    return 0;
}

int aslGrammarNumber(int grammarNumber) {
    return grammarNumber == ASL_GRAMMAR_V2C ? ASL_GRAMMAR_V2C : ASL_GRAMMAR_V1;
}

const AslEntry *aslGrammar(int grammarNumber) {
    return &tables[aslGrammarNumber(grammarNumber)][MESSAGE_SEL];
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
