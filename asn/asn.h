// ASN.1 BER node trees: construction, encoding, navigation and the entry of the
// octet-at-a-time decoder.
//
// A tree lives in one heap block of equal slots, each sizeof (AsnNode):
//   slots 0 .. n-1  free area; the byte area grows up from slot 0, node records
//                   other than the root grow down from slot n-1
//   slot n          the root record
//   slots n+1, n+2  the AsnHeader
// For a capacity of cap octets n = cap / slot + 1. Records stand in pre-order:
// the i-th record of a subtree is i slots below its node.
//
// Bounds: lengths and positions are signed 16-bit, so no block's free area and
// no encoding exceeds 32767 octets; constructed and decoding trees have a
// capacity of ASN_CAPACITY octets, enough for any tree of a message of at most
// ASN_MESSAGE_MAX octets; tag numbers are unsigned 32-bit, classes 0 to 3;
// at most four long-form length octets are read, all but the last two 0.
#pragma once

#include <cstdint>

struct AslEntry;
struct AsnHeader;

enum AsnKind : uint32_t {
    ASN_CHOICE = 0, // a grammar selector; never the kind of a built node
    ASN_INTEGER = 1,
    ASN_OCTETS = 2,
    ASN_OBJECTID = 3,
    ASN_SEQUENCE = 4,
    ASN_SEQUENCEOF = 5,
    ASN_NULL = 6, // as decoded; the typed interface builds NULL as kind ASN_OCTETS
};

enum AsnFlag : uint16_t {
    ASN_FLAG_CONSTRUCTED = 0x04,
    // Before the length is read: the parent is definite and this element must
    // end where the parent ends. After a definite length: the definite form.
    ASN_FLAG_DEFINITE = 0x08,
    ASN_FLAG_INDEFINITE = 0x10,
};

enum AsnStatus : int32_t {
    ASN_MORE = 0,
    ASN_COMPLETE = 1,
    ASN_MALFORMED = 2,
    ASN_NO_ROOM = 3,
};

// Identifier classes (X.690, 8.1.2.2) and the tag numbers the messages use:
// universal types (X.680) and the application types of RFC 1155.
enum AsnClass : uint32_t {
    ASN_UNIVERSAL = 0,
    ASN_APPLICATION = 1,
    ASN_CONTEXT = 2,
    ASN_PRIVATE = 3,
};

enum AsnTag : uint32_t {
    ASN_TAG_INTEGER = 2,
    ASN_TAG_OCTETS = 4,
    ASN_TAG_NULL = 5,
    ASN_TAG_OBJECTID = 6,
    ASN_TAG_SEQUENCE = 16,
    ASN_TAG_IPADDRESS = 0, // application class from here on
    ASN_TAG_COUNTER = 1,
    ASN_TAG_GAUGE = 2,
    ASN_TAG_TIMETICKS = 3,
    ASN_TAG_OPAQUE = 4,
    ASN_TAG_COUNTER64 = 6, // RFC 2578, 7.1.10
};

inline constexpr int ASN_MAX_COUNT = 32767;  // largest signed 16-bit count
inline constexpr int ASN_MESSAGE_MAX = 2048; // the largest message a tree must hold

inline constexpr int ASN_KIND_BITS = 3, ASN_CLASS_BITS = 2, ASN_FLAG_BITS = 5,
                     ASN_DESCRIPTOR_BITS = 6;

// 24 octets, so that every tree of a message of ASN_MESSAGE_MAX octets fits a
// block whose counts stay signed 16-bit. Narrow fields say what they hold.
struct AsnNode {
    uint16_t parent;      // slot of the enclosing node; 0 for a root
    uint16_t toHeader;    // slots from this record to the header
    uint16_t descendants; // records below this node in its subtree
    int16_t total;        // decoder: octets consumed; built root: bytes used
    int16_t maxLen;       // decoder: most octets still available, -1 unbounded
    int16_t contentLen;
    int16_t valueLen; // value octets of the primitives in the subtree
    int16_t endPos;   // decoder: byte position where the content ends
    uint32_t tagNumber;
    int16_t valueOffset;                // byte position of the first content octet
    uint16_t kind : ASN_KIND_BITS;      // AsnKind
    uint16_t tagClass : ASN_CLASS_BITS; // 0 universal to 3 private
    uint16_t flags : ASN_FLAG_BITS;     // AsnFlag bits
    uint16_t descriptor
        : ASN_DESCRIPTOR_BITS; // decoder: grammar entry, as aslIndex gives it; 0 none
};
// The narrow fields hold every value given them (the descriptor's bound is
// checked against the grammar's table).
static_assert(ASN_NULL < 1u << ASN_KIND_BITS);
static_assert(ASN_PRIVATE < 1u << ASN_CLASS_BITS);
static_assert((ASN_FLAG_CONSTRUCTED | ASN_FLAG_DEFINITE | ASN_FLAG_INDEFINITE) <
              1u << ASN_FLAG_BITS);

inline constexpr int ASN_SLOT = static_cast<int>(sizeof(AsnNode));
static_assert(ASN_SLOT == 24);

// Every element takes at least an identifier and a length octet, so a message
// of ASN_MESSAGE_MAX octets has at most half as many records below its root.
inline constexpr int ASN_CAPACITY = ASN_MESSAGE_MAX + ASN_MESSAGE_MAX / 2 * ASN_SLOT;
static_assert(ASN_CAPACITY / ASN_SLOT + 1 <= ASN_MAX_COUNT / ASN_SLOT);

// A decoder state handler: input is an octet 0..255 or ASN_END (the content of
// the current element is complete); returns 0 to go on, 2 or 3.
using AsnHandler = int (*)(AsnHeader *header, int input);
inline constexpr int ASN_END = 256;

// Grammar entries are held as aslIndex values (0 none), so the header fits its two slots.
struct AsnHeader {
    unsigned char *base; // the block: what is freed
    AsnHandler handler;  // decoder only
    int32_t status;      // AsnStatus; built trees are complete from creation
    int32_t depth;
    int32_t lenShift;
    int32_t refs;
    uint16_t bytesLeft; // compared as signed
    uint16_t lowest;
    uint16_t nextToHeader;
    uint16_t pos;
    uint16_t current;
    uint8_t grammar; // decoder: the grammar's number (AslGrammar), naming its table
    uint8_t pending; // decoder: next SEQUENCE component to open
};

static_assert(sizeof(AsnHeader) <= 2 * sizeof(AsnNode), "the header has two slots");
static_assert(sizeof(AsnNode) % alignof(AsnHeader) == 0 && sizeof(AsnNode) % alignof(AsnNode) == 0);

// Module start-up hooks; the codec keeps no global state.
void asnInit();

// Construction: each returns the root of a new tree holding one reference, or none.
AsnNode *asnNewBlock(int capacity);
AsnNode *asnNewPrimitive(uint32_t tagClass, uint32_t tagNumber, uint32_t kind, const uint8_t *data,
                         int len);
AsnNode *asnNewInteger(uint32_t tagClass, uint32_t tagNumber, int32_t value);
AsnNode *asnNewUnsigned(uint32_t tagClass, uint32_t tagNumber, uint32_t value);
AsnNode *asnNewUnsigned64(uint32_t tagClass, uint32_t tagNumber, uint64_t value);
AsnNode *asnNewOctetString(uint32_t tagClass, uint32_t tagNumber, const uint8_t *data, int len);
// data are the encoded sub-identifier octets; an unfinished last one is refused.
AsnNode *asnNewObjectId(uint32_t tagClass, uint32_t tagNumber, const uint8_t *data, int len);
AsnNode *asnNewConstructed(uint32_t tagClass, uint32_t tagNumber, uint32_t kind);
// A tree for decoding with the grammar of a number (AslGrammar; any other is version 1's).
AsnNode *asnNew(int grammarNumber);

// Copies the complete subtree of item behind the content of head, a complete
// constructed root. 0, or 3 with head unchanged. The caller keeps item's reference.
int asnAppend(AsnNode *head, const AsnNode *item);

// Octets written, or -1 (none, incomplete tree, buffer too small, over 32767).
int16_t asnEncode(const AsnNode *node, uint8_t *buf, int len);
// Identifier / length octets written, or 0 when they do not fit in room.
int16_t asnEncodeType(const AsnNode *node, uint8_t *buf, int room);
int16_t asnEncodeLength(const AsnNode *node, uint8_t *buf, int room);

// Feeds one received octet: 0 more needed, 1 complete, 2 malformed, 3 out of
// room or no tree. Once not 0, the status is returned unchanged.
int asnDecode(AsnNode *root, uint8_t octet);
// asnDecode over length octets in turn, stopping at the first result other
// than ASN_MORE: that result (ASN_MORE when all were taken), with the octets
// taken in *used. The same trees and results as octet by octet; the content
// of a primitive element is copied in runs rather than stepped through.
int asnDecodeOctets(AsnNode *root, const uint8_t *octets, int length, int *used);

// References and navigation. asnFree drops one reference and returns none.
AsnNode *asnFree(AsnNode *node);
// The record i slots below node, with a new reference; none for i out of 0..descendants.
AsnNode *asnComponent(AsnNode *node, int i);
uint16_t asnChildCount(AsnNode *node);

inline AsnHeader *asnHeader(const AsnNode *node) {
    return reinterpret_cast<AsnHeader *>(
        const_cast<unsigned char *>(reinterpret_cast<const unsigned char *>(node)) +
        static_cast<int>(node->toHeader) * ASN_SLOT);
}
// The record at a slot of the header's block.
inline AsnNode *asnNodeAt(AsnHeader *header, int slot) {
    return reinterpret_cast<AsnNode *>(header->base + slot * ASN_SLOT);
}
inline uint32_t asnTag(const AsnNode *node) {
    return node->tagNumber;
}
inline uint32_t asnKind(const AsnNode *node) {
    return node->kind;
}
inline uint32_t asnClass(const AsnNode *node) {
    return node->tagClass;
}
inline int16_t asnValueLength(const AsnNode *node) {
    return node->valueLen;
}
inline int asnConstructed(const AsnNode *node) {
    return node->flags & ASN_FLAG_CONSTRUCTED;
}
inline uint16_t asnDescendants(const AsnNode *node) {
    return node->descendants;
}
// The content octets in the byte area; none for none or a constructed node.
const uint8_t *asnValue(const AsnNode *node);

// Content octets of every primitive record of the subtree in pre-order, node
// first; the total, or -1 for none or a total above max.
int16_t asnGather(const AsnNode *node, uint8_t *buf, int max);
int32_t asnBytesToInt(const uint8_t *octets, int n);         // n < 1 gives 0
uint64_t asnBytesToUnsigned64(const uint8_t *octets, int n); // the low 64 bits; n < 1 gives 0
int asnNegative(const uint8_t *octets);
int asnNonZero(const uint8_t *octets, int n);

// The dump through logPrintf, one element per block of lines.
int asnPrint(AsnNode *node, int depth);
const char *asnKindName(uint32_t kind);
void asnIndent(int depth);
