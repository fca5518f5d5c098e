// The decoding grammar: a static table of AslEntry records saying, element by
// element, which identifier octets may come next, how the content is parsed,
// the least number of octets it needs and what follows it. One grammar is
// built in per message version: SNMP version 1 (RFC 1157, 4) and
// community-based SNMPv2 (RFC 1901), whose tables share one layout, and
// SNMPv3 (RFC 3412, 6), whose table has a layout of its own; the parts of a
// version-3 message that arrive as octets inside it (the USM security
// parameters, a decrypted ScopedPDU) have grammars of their own.
#pragma once

#include <cstdint>

struct AslEntry {
    uint32_t kind;         // AsnKind; 0 (and 7) a selector
    const AslEntry *first; // SEQUENCE: first component's selector; SEQUENCE OF: element selector
    const char *octets;    // selector: zero-terminated acceptable identifier octets
    int16_t aslMinLen;     // least octets the element (and what follows it) needs
    const AslEntry *next;  // selector: alternatives, one per octet; else next component's selector
};

void aslInit();

// Grammar numbers: a message's version field, as RFC 1901 and RFC 3412, 6
// number it, then the parts of a version-3 message decoded on their own.
enum AslGrammar : int {
    ASL_GRAMMAR_V1 = 0,
    ASL_GRAMMAR_V2C = 1,
    ASL_GRAMMAR_V3 = 3,     // SNMPv3Message; a plaintext ScopedPDU is decoded with it
    ASL_GRAMMAR_SCOPED = 4, // a ScopedPDU alone, as decrypted; version 3's table
    ASL_GRAMMAR_USM = 5,    // UsmSecurityParameters (RFC 3414, 2.4)
    ASL_GRAMMAR_COUNT
};

// Entries are named by index in node records: 1 + the table position, 0 none;
// the tree's header says which grammar's table.
inline constexpr int ASL_INDEX_LIMIT = 64; // what the record's field holds
struct AslTable {
    const AslEntry *entries;
    int size;
};
// Inline: the decoder looks entries up at nearly every octet.
extern const AslTable aslTables[ASL_GRAMMAR_COUNT];
inline const AslEntry *aslEntry(int grammar, int index) {
    if (grammar < 0 || grammar >= ASL_GRAMMAR_COUNT || index <= 0 ||
        index > aslTables[grammar].size)
        return nullptr;
    return &aslTables[grammar].entries[index - 1];
}

// The index of an entry of the grammar's table, or 0 for none (inline: the
// decoder asks at nearly every element).
inline int aslIndex(int grammar, const AslEntry *e) {
    const AslTable &t = aslTables[grammar];
    return e && e >= t.entries && e < t.entries + t.size ? static_cast<int>(e - t.entries) + 1 : 0;
}

inline uint32_t aslKind(const AslEntry *e) {
    return e->kind;
}
inline const AslEntry *aslFirst(const AslEntry *e) {
    return e->first;
}
inline const char *aslOctets(const AslEntry *e) {
    return e->octets;
}
inline int16_t aslMinLen(const AslEntry *e) {
    return e->aslMinLen;
}
inline const AslEntry *aslNext(const AslEntry *e) {
    return e->next;
}

// The grammar a number names: version 1's for any number not in AslGrammar.
int aslGrammarNumber(int grammarNumber);
// That grammar's root selector.
const AslEntry *aslGrammar(int grammarNumber);
// The alternative of a selector for an identifier octet, or none.
const AslEntry *aslChoice(const AslEntry *selector, int octet);
