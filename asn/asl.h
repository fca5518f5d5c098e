// The decoding grammar: a static table of AslEntry records saying, element by
// element, which identifier octets may come next, how the content is parsed,
// the least number of octets it needs and what follows it. One grammar is
// built in: the SNMP version 1 message (RFC 1157, 4).
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

// Entries are named by index in node records: 1 + the table position, 0 none.
inline constexpr int ASL_INDEX_LIMIT = 64; // what the record's field holds
int aslIndex(const AslEntry *e);
const AslEntry *aslEntry(int index);

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

// The built-in grammar's root selector, for any number.
const AslEntry *aslGrammar(int grammarNumber);
// The alternative of a selector for an identifier octet, or none.
const AslEntry *aslChoice(const AslEntry *selector, int octet);
