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
constexpr const char *V2_PDU_OCTETS = "\xA0\xA1\xA2\xA3\xA5\xA6\xA7\xA8";
constexpr const char *V2_VALUE_OCTETS = "\x02\x04\x05\x06\x40\x41\x42\x43\x44\x24\x46\x80\x81\x82";
template <int G> constexpr AslEntry pduSelector() {
    return G == ASL_GRAMMAR_V2C ? sel<G>(V2_PDU_OCTETS, 13, PDU_GET)
                                : sel<G>("\xA4\xA0\xA1\xA2\xA3", 13, PDU_TRAP);
}
template <int G> constexpr AslEntry valueSelector() {
    return G == ASL_GRAMMAR_V2C
               ? sel<G>(V2_VALUE_OCTETS, 2, VALUE_INTEGER)
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

// Version 3 (RFC 3412, 6) has a layout of its own: its header needs entries
// the community layout has no room for within ASL_INDEX_LIMIT. Its PDU part
// is version 2's, entry for entry (checked below). The ScopedPDU is decoded
// with the message when it travels in plaintext, so the PDU's tree is ready
// for the engine in one pass; a decrypted one is decoded from its own root
// selector in the same table. The security parameters are BER inside an
// OCTET STRING (RFC 3414, 2.4) and are the security model's to parse, after
// the model is known (RFC 3412, 7.2 steps 2 and 4): a grammar of their own.
enum Message3Index : int {
    M3_MESSAGE_SEL,
    M3_MESSAGE,
    M3_VERSION_SEL,
    M3_VERSION,
    M3_GLOBAL_SEL,
    M3_GLOBAL,
    M3_ID_SEL,
    M3_ID,
    M3_MAX_SIZE_SEL,
    M3_MAX_SIZE,
    M3_FLAGS_SEL,
    M3_FLAGS,
    M3_MODEL_SEL,
    M3_MODEL,
    M3_SECURITY_SEL,
    M3_SECURITY,
    M3_DATA_SEL,
    M3_SCOPED, // the plaintext alternative, then the encrypted one
    M3_ENCRYPTED,
    M3_CONTEXT_ENGINE_SEL,
    M3_CONTEXT_ENGINE,
    M3_CONTEXT_NAME_SEL,
    M3_CONTEXT_NAME,
    M3_PDU_SEL, // from here to M3_SEGMENT_SEGMENTS as version 2's table
    M3_PDU_GET,
    M3_PDU_GET_NEXT,
    M3_PDU_RESPONSE,
    M3_PDU_SET,
    M3_PDU_GET_BULK,
    M3_PDU_INFORM,
    M3_PDU_V2_TRAP,
    M3_PDU_REPORT,
    M3_REQUEST_ID_SEL,
    M3_REQUEST_ID,
    M3_ERROR_STATUS_SEL,
    M3_ERROR_STATUS,
    M3_ERROR_INDEX_SEL,
    M3_ERROR_INDEX,
    M3_BINDINGS_SEL,
    M3_BINDINGS,
    M3_BINDING_SEL,
    M3_BINDING,
    M3_NAME_SEL,
    M3_NAME,
    M3_VALUE_SEL,
    M3_VALUE_INTEGER,
    M3_VALUE_OCTETS,
    M3_VALUE_NULL,
    M3_VALUE_OBJECTID,
    M3_VALUE_IPADDRESS,
    M3_VALUE_COUNTER,
    M3_VALUE_GAUGE,
    M3_VALUE_TIMETICKS,
    M3_VALUE_OPAQUE,
    M3_VALUE_SEGMENTS,
    M3_VALUE_COUNTER64,
    M3_VALUE_NO_SUCH_OBJECT,
    M3_VALUE_NO_SUCH_INSTANCE,
    M3_VALUE_END_OF_MIB_VIEW,
    M3_SEGMENT_SEL,
    M3_SEGMENT_OCTETS,
    M3_SEGMENT_SEGMENTS,
    M3_SCOPED_SEL, // root of a ScopedPDU decoded alone
    M3_COUNT
};

enum UsmIndex : int {
    USM_SEL,
    USM,
    USM_ENGINE_SEL,
    USM_ENGINE,
    USM_BOOTS_SEL,
    USM_BOOTS,
    USM_TIME_SEL,
    USM_TIME,
    USM_USER_SEL,
    USM_USER,
    USM_AUTH_SEL,
    USM_AUTH,
    USM_PRIV_SEL,
    USM_PRIV,
    USM_COUNT
};

// As sel, seq and seqOf, for a table T of another layout.
template <class T> constexpr const AslEntry *in(int i) {
    return &T::table[i];
}
template <class T> constexpr AslEntry selIn(const char *octets, int16_t min, int alternatives) {
    return {ASN_CHOICE, nullptr, octets, min, in<T>(alternatives)};
}
template <class T> constexpr AslEntry seqIn(int16_t min, int first, const AslEntry *next) {
    return {ASN_SEQUENCE, in<T>(first), nullptr, min, next};
}
template <class T> constexpr AslEntry seqOfIn(int16_t min, int element) {
    return {ASN_SEQUENCEOF, in<T>(element), nullptr, min, nullptr};
}

// A selector's min is the least its element and the components after it take;
// ranges (msgMaxSize from 484, msgFlags of one octet) are checked on the values.
// The template argument only defers the table until its entries are complete.
template <int G> struct Message3 {
    using T = Message3;
    static constexpr AslEntry table[M3_COUNT] = {
        /* M3_MESSAGE_SEL */ selIn<T>("\x30", 22, M3_MESSAGE),
        /* M3_MESSAGE */ seqIn<T>(22, M3_VERSION_SEL, NONE),
        /* M3_VERSION_SEL */ selIn<T>("\x02", 20, M3_VERSION),
        /* M3_VERSION */ leaf(ASN_INTEGER, 1, in<T>(M3_GLOBAL_SEL)),
        /* M3_GLOBAL_SEL */ selIn<T>("\x30", 17, M3_GLOBAL),
        /* M3_GLOBAL */ seqIn<T>(13, M3_ID_SEL, in<T>(M3_SECURITY_SEL)),
        /* M3_ID_SEL */ selIn<T>("\x02", 11, M3_ID),
        /* M3_ID */ leaf(ASN_INTEGER, 1, in<T>(M3_MAX_SIZE_SEL)),
        /* M3_MAX_SIZE_SEL */ selIn<T>("\x02", 8, M3_MAX_SIZE),
        /* M3_MAX_SIZE */ leaf(ASN_INTEGER, 1, in<T>(M3_FLAGS_SEL)),
        /* M3_FLAGS_SEL */ selIn<T>("\x04", 5, M3_FLAGS),
        /* M3_FLAGS */ leaf(ASN_OCTETS, 0, in<T>(M3_MODEL_SEL)),
        /* M3_MODEL_SEL */ selIn<T>("\x02", 3, M3_MODEL),
        /* M3_MODEL */ leaf(ASN_INTEGER, 1, NONE),
        /* M3_SECURITY_SEL */ selIn<T>("\x04", 4, M3_SECURITY),
        /* M3_SECURITY */ leaf(ASN_OCTETS, 0, in<T>(M3_DATA_SEL)),
        /* M3_DATA_SEL */ selIn<T>("\x30\x04", 2, M3_SCOPED),
        /* M3_SCOPED */ seqIn<T>(19, M3_CONTEXT_ENGINE_SEL, NONE),
        /* M3_ENCRYPTED */ leaf(ASN_OCTETS, 0, NONE),
        /* M3_CONTEXT_ENGINE_SEL */ selIn<T>("\x04", 17, M3_CONTEXT_ENGINE),
        /* M3_CONTEXT_ENGINE */ leaf(ASN_OCTETS, 0, in<T>(M3_CONTEXT_NAME_SEL)),
        /* M3_CONTEXT_NAME_SEL */ selIn<T>("\x04", 15, M3_CONTEXT_NAME),
        /* M3_CONTEXT_NAME */ leaf(ASN_OCTETS, 0, in<T>(M3_PDU_SEL)),
        /* M3_PDU_SEL */ selIn<T>(V2_PDU_OCTETS, 13, M3_PDU_GET),
        /* M3_PDU_GET */ seqIn<T>(12, M3_REQUEST_ID_SEL, NONE),
        /* M3_PDU_GET_NEXT */ seqIn<T>(12, M3_REQUEST_ID_SEL, NONE),
        /* M3_PDU_RESPONSE */ seqIn<T>(12, M3_REQUEST_ID_SEL, NONE),
        /* M3_PDU_SET */ seqIn<T>(12, M3_REQUEST_ID_SEL, NONE),
        /* M3_PDU_GET_BULK */ seqIn<T>(12, M3_REQUEST_ID_SEL, NONE),
        /* M3_PDU_INFORM */ seqIn<T>(12, M3_REQUEST_ID_SEL, NONE),
        /* M3_PDU_V2_TRAP */ seqIn<T>(12, M3_REQUEST_ID_SEL, NONE),
        /* M3_PDU_REPORT */ seqIn<T>(12, M3_REQUEST_ID_SEL, NONE),
        /* M3_REQUEST_ID_SEL */ selIn<T>("\x02", 11, M3_REQUEST_ID),
        /* M3_REQUEST_ID */ leaf(ASN_INTEGER, 1, in<T>(M3_ERROR_STATUS_SEL)),
        /* M3_ERROR_STATUS_SEL */ selIn<T>("\x02", 8, M3_ERROR_STATUS),
        /* M3_ERROR_STATUS */ leaf(ASN_INTEGER, 1, in<T>(M3_ERROR_INDEX_SEL)),
        /* M3_ERROR_INDEX_SEL */ selIn<T>("\x02", 5, M3_ERROR_INDEX),
        /* M3_ERROR_INDEX */ leaf(ASN_INTEGER, 1, in<T>(M3_BINDINGS_SEL)),
        /* M3_BINDINGS_SEL */ selIn<T>("\x30", 2, M3_BINDINGS),
        /* M3_BINDINGS */ seqOfIn<T>(0, M3_BINDING_SEL),
        /* M3_BINDING_SEL */ selIn<T>("\x30", 0, M3_BINDING),
        /* M3_BINDING */ seqIn<T>(4, M3_NAME_SEL, in<T>(M3_BINDING_SEL)),
        /* M3_NAME_SEL */ selIn<T>("\x06", 4, M3_NAME),
        /* M3_NAME */ leaf(ASN_OBJECTID, 0, in<T>(M3_VALUE_SEL)),
        /* M3_VALUE_SEL */ selIn<T>(V2_VALUE_OCTETS, 2, M3_VALUE_INTEGER),
        /* M3_VALUE_INTEGER */ leaf(ASN_INTEGER, 1, NONE),
        /* M3_VALUE_OCTETS */ leaf(ASN_OCTETS, 0, NONE),
        /* M3_VALUE_NULL */ leaf(ASN_NULL, 0, NONE),
        /* M3_VALUE_OBJECTID */ leaf(ASN_OBJECTID, 0, NONE),
        /* M3_VALUE_IPADDRESS */ leaf(ASN_OCTETS, 4, NONE),
        /* M3_VALUE_COUNTER */ leaf(ASN_INTEGER, 1, NONE),
        /* M3_VALUE_GAUGE */ leaf(ASN_INTEGER, 1, NONE),
        /* M3_VALUE_TIMETICKS */ leaf(ASN_INTEGER, 0, NONE),
        /* M3_VALUE_OPAQUE */ leaf(ASN_OCTETS, 0, NONE),
        /* M3_VALUE_SEGMENTS */ seqOfIn<T>(0, M3_SEGMENT_SEL),
        /* M3_VALUE_COUNTER64 */ leaf(ASN_INTEGER, 1, NONE),
        /* M3_VALUE_NO_SUCH_OBJECT */ leaf(ASN_NULL, 0, NONE),
        /* M3_VALUE_NO_SUCH_INSTANCE */ leaf(ASN_NULL, 0, NONE),
        /* M3_VALUE_END_OF_MIB_VIEW */ leaf(ASN_NULL, 0, NONE),
        /* M3_SEGMENT_SEL */ selIn<T>("\x04\x24", 0, M3_SEGMENT_OCTETS),
        /* M3_SEGMENT_OCTETS */ leaf(ASN_OCTETS, 0, NONE),
        /* M3_SEGMENT_SEGMENTS */ seqOfIn<T>(0, M3_SEGMENT_SEL),
        /* M3_SCOPED_SEL */ selIn<T>("\x30", 19, M3_SCOPED),
    };
};

// The six components must fill the OCTET STRING that carries them; the
// bounds on engine ID and user name are checked on the values.
template <int G> struct Usm {
    using T = Usm;
    static constexpr AslEntry table[USM_COUNT] = {
        /* USM_SEL */ selIn<T>("\x30", 16, USM),
        /* USM */ seqIn<T>(16, USM_ENGINE_SEL, NONE),
        /* USM_ENGINE_SEL */ selIn<T>("\x04", 14, USM_ENGINE),
        /* USM_ENGINE */ leaf(ASN_OCTETS, 0, in<T>(USM_BOOTS_SEL)),
        /* USM_BOOTS_SEL */ selIn<T>("\x02", 12, USM_BOOTS),
        /* USM_BOOTS */ leaf(ASN_INTEGER, 1, in<T>(USM_TIME_SEL)),
        /* USM_TIME_SEL */ selIn<T>("\x02", 9, USM_TIME),
        /* USM_TIME */ leaf(ASN_INTEGER, 1, in<T>(USM_USER_SEL)),
        /* USM_USER_SEL */ selIn<T>("\x04", 6, USM_USER),
        /* USM_USER */ leaf(ASN_OCTETS, 0, in<T>(USM_AUTH_SEL)),
        /* USM_AUTH_SEL */ selIn<T>("\x04", 4, USM_AUTH),
        /* USM_AUTH */ leaf(ASN_OCTETS, 0, in<T>(USM_PRIV_SEL)),
        /* USM_PRIV_SEL */ selIn<T>("\x04", 2, USM_PRIV),
        /* USM_PRIV */ leaf(ASN_OCTETS, 0, NONE),
    };
};

using V3 = Message3<ASL_GRAMMAR_V3>;
using UsmParameters = Usm<ASL_GRAMMAR_USM>;

constexpr bool fitsTable(const AslEntry *table, int count) {
    for (int i = 0; i < count; i++) {
        const AslEntry &e = table[i];
        if (e.kind != ASN_CHOICE)
            continue;
        int n = 0;
        while (e.octets[n] != 0)
            n++;
        if (n == 0 || e.next < table || e.next - table + n > count)
            return false;
    }
    return true;
}
static_assert(fitsTable(V3::table, M3_COUNT) && fitsTable(UsmParameters::table, USM_COUNT));
static_assert(M3_COUNT < ASL_INDEX_LIMIT && USM_COUNT < ASL_INDEX_LIMIT);

// Version 3's PDU part is version 2's: the same entries in the same order,
// without version 1's Trap, each naming the counterpart of what its
// counterpart names.
constexpr int v3Position(int v2) {
    if (v2 == PDU_SEL)
        return M3_PDU_SEL;
    if (v2 >= PDU_GET && v2 <= BINDINGS)
        return M3_PDU_GET + v2 - PDU_GET;
    if (v2 >= BINDING_SEL && v2 <= SEGMENT_SEGMENTS)
        return M3_BINDING_SEL + v2 - BINDING_SEL;
    return -1;
}
constexpr bool namesCounterpart(const AslEntry *v2, const AslEntry *v3) {
    if (!v2 || !v3)
        return v2 == v3;
    return v3Position(static_cast<int>(v2 - Grammar<ASL_GRAMMAR_V2C>::table)) == v3 - V3::table;
}
constexpr bool sameText(const char *a, const char *b) {
    if (!a || !b)
        return a == b;
    int k = 0;
    while (a[k] != 0 && a[k] == b[k])
        k++;
    return a[k] == b[k];
}
constexpr bool pduPartIsVersion2s() {
    int mapped = 0;
    for (int i = 0; i < ASL_COUNT; i++) {
        int j = v3Position(i);
        if (j < 0)
            continue;
        const AslEntry &a = Grammar<ASL_GRAMMAR_V2C>::table[i], &b = V3::table[j];
        if (a.kind != b.kind || a.aslMinLen != b.aslMinLen || !sameText(a.octets, b.octets) ||
            !namesCounterpart(a.first, b.first) || !namesCounterpart(a.next, b.next))
            return false;
        mapped++;
    }
    return mapped == M3_SEGMENT_SEGMENTS - M3_PDU_SEL + 1;
}
// GCC does not fold an address against null under its sanitizers; every
// other build checks it.
#ifndef __SANITIZE_ADDRESS__
static_assert(pduPartIsVersion2s());
#endif

// By grammar number: the table its nodes name entries in, and its root selector.
struct Root {
    AslTable table;
    const AslEntry *root;
};
constexpr AslTable V1_TABLE = {Grammar<ASL_GRAMMAR_V1>::table, ASL_COUNT};
constexpr AslTable V2C_TABLE = {Grammar<ASL_GRAMMAR_V2C>::table, ASL_COUNT};
constexpr AslTable V3_TABLE = {V3::table, M3_COUNT};
constexpr AslTable USM_TABLE = {UsmParameters::table, USM_COUNT};
constexpr Root roots[ASL_GRAMMAR_COUNT] = {
    {V1_TABLE, &Grammar<ASL_GRAMMAR_V1>::table[MESSAGE_SEL]},
    {V2C_TABLE, &Grammar<ASL_GRAMMAR_V2C>::table[MESSAGE_SEL]},
    {V1_TABLE, &Grammar<ASL_GRAMMAR_V1>::table[MESSAGE_SEL]}, // no grammar 2
    {V3_TABLE, &V3::table[M3_MESSAGE_SEL]},
    {V3_TABLE, &V3::table[M3_SCOPED_SEL]},
    {USM_TABLE, &UsmParameters::table[USM_SEL]},
};

} // namespace

const AslTable aslTables[ASL_GRAMMAR_COUNT] = {roots[0].table, roots[1].table, roots[2].table,
                                               roots[3].table, roots[4].table, roots[5].table};

void aslInit() {}

int aslGrammarNumber(int grammarNumber) {
    switch (grammarNumber) {
    case ASL_GRAMMAR_V2C:
    case ASL_GRAMMAR_V3:
    case ASL_GRAMMAR_SCOPED:
    case ASL_GRAMMAR_USM:
        return grammarNumber;
    default:
        return ASL_GRAMMAR_V1;
    }
}

const AslEntry *aslGrammar(int grammarNumber) {
    return roots[aslGrammarNumber(grammarNumber)].root;
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
