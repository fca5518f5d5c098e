// Node blocks, constructors, appending, BER encoding and navigation.
#include "asn/asn.h"

#include "asn/asl.h"
#include "platform/log.h"
#include "smx/smx.h"

#include <cstdlib>
#include <cstring>

namespace {

const unsigned char *byteArea(const AsnNode *node) {
    return asnHeader(node)->base;
}

// Identifier octets of the node: class, constructed bit, tag number in base 128
// after 0x1F when it is 31 or more (X.690, 8.1.2).
int typeOctets(const AsnNode *node, uint8_t *out) {
    uint8_t lead = static_cast<uint8_t>((node->tagClass & 3u) << 6);
    if (node->flags & ASN_FLAG_CONSTRUCTED)
        lead |= 0x20;
    if (node->tagNumber < 31) {
        out[0] = static_cast<uint8_t>(lead | node->tagNumber);
        return 1;
    }
    out[0] = lead | 0x1F;
    // A 32-bit number takes at most 5 groups of 7 bits, as a sub-identifier does.
    return 1 + smxEncodeSubId(out + 1, 5, node->tagNumber);
}

// Identifier or length octets into buf when they fit room: their count, or 0.
int16_t copyFitting(uint8_t *buf, int room, const uint8_t *octets, int n) {
    if (n > room)
        return 0;
    std::memcpy(buf, octets, static_cast<size_t>(n));
    return static_cast<int16_t>(n);
}

// Length octets in the shortest definite form (X.690, 8.1.3).
int lengthOctets(int len, uint8_t *out) {
    if (len <= 127) {
        out[0] = static_cast<uint8_t>(len);
        return 1;
    }
    int k = len > 255 ? 2 : 1;
    out[0] = static_cast<uint8_t>(0x80 | k);
    for (int i = 0; i < k; i++)
        out[1 + i] = static_cast<uint8_t>(len >> (8 * (k - 1 - i)));
    return k + 1;
}

AsnNode *newWithContent(uint32_t tagClass, uint32_t tagNumber, uint32_t kind, const uint8_t *data,
                        int len) {
    if (len < 0 || (len > 0 && !data))
        return nullptr;
    AsnNode *root = asnNewBlock(len);
    if (!root)
        return nullptr;
    root->contentLen = static_cast<int16_t>(len);
    root->valueLen = static_cast<int16_t>(len);
    root->tagClass = tagClass;
    root->tagNumber = tagNumber;
    root->kind = kind;
    root->valueOffset = 0;
    if (len > 0)
        std::memcpy(asnHeader(root)->base, data, static_cast<size_t>(len));
    return root;
}

// Content of an integer in two's complement, most significant octet first, in
// the fewest octets whose first bit is the sign (X.690, 8.3.2): an unsigned
// value whose first octet would read as negative gets a leading 00, a negative
// one whose first octet would read as positive a leading FF.
int integerOctets(int64_t value, uint8_t *out) {
    const int64_t fill = value < 0 ? -1 : 0;
    uint8_t rev[9];
    int k = 0;
    do {
        rev[k++] = static_cast<uint8_t>(value & 0xFF);
        value >>= 8; // arithmetic for negative values (C++20)
    } while (value != fill);
    if ((rev[k - 1] & 0x80) != (fill & 0x80))
        rev[k++] = static_cast<uint8_t>(fill & 0xFF);
    for (int i = 0; i < k; i++)
        out[i] = rev[k - 1 - i];
    return k;
}

} // namespace

void asnInit() {}

AsnNode *asnNewBlock(int capacity) {
    if (capacity < 0 || capacity > ASN_MAX_COUNT)
        return nullptr;
    int n = capacity / ASN_SLOT + 1;
    int slots = n + 3;
    // Only the header and the root are initialised; the free area is not cleared.
    auto *base = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(slots) * ASN_SLOT));
    if (!base)
        return nullptr;
    auto *h = reinterpret_cast<AsnHeader *>(base + (n + 1) * ASN_SLOT);
    *h = AsnHeader{};
    h->grammar = 0;
    h->status = ASN_COMPLETE;
    h->depth = 1;
    // The free area is counted in signed 16 bits: the last slot's surplus
    // above 32767 octets stays unused.
    h->bytesLeft =
        static_cast<uint16_t>(n * ASN_SLOT <= ASN_MAX_COUNT ? n * ASN_SLOT : ASN_MAX_COUNT);
    h->lowest = static_cast<uint16_t>(n);
    h->nextToHeader = 2;
    h->pos = 0;
    h->lenShift = 0;
    h->refs = 1;
    h->handler = nullptr;
    h->pending = 0;
    h->current = static_cast<uint16_t>(n);
    h->base = base;
    AsnNode *root = asnNodeAt(h, n);
    *root = AsnNode{};
    root->parent = 0;
    root->toHeader = 1;
    root->maxLen = -1;
    root->endPos = -1;
    root->descriptor = 0;
    return root;
}

AsnNode *asnNewPrimitive(uint32_t tagClass, uint32_t tagNumber, uint32_t kind, const uint8_t *data,
                         int len) {
    return newWithContent(tagClass, tagNumber, kind, data, len);
}

AsnNode *asnNewUnsigned(uint32_t tagClass, uint32_t tagNumber, uint32_t value) {
    uint8_t octets[5];
    int k = integerOctets(value, octets);
    return newWithContent(tagClass, tagNumber, ASN_INTEGER, octets, k);
}

// Of 2^63 and above the nine octets: 00 and the eight of the value.
AsnNode *asnNewUnsigned64(uint32_t tagClass, uint32_t tagNumber, uint64_t value) {
    uint8_t octets[9] = {0};
    int k = 9;
    if (value < (uint64_t{1} << 63))
        k = integerOctets(static_cast<int64_t>(value), octets);
    else
        for (int i = 8; i >= 1; --i, value >>= 8)
            octets[i] = static_cast<uint8_t>(value & 0xFF);
    return newWithContent(tagClass, tagNumber, ASN_INTEGER, octets, k);
}

AsnNode *asnNewInteger(uint32_t tagClass, uint32_t tagNumber, int32_t value) {
    uint8_t octets[5];
    int k = integerOctets(value, octets);
    return newWithContent(tagClass, tagNumber, ASN_INTEGER, octets, k);
}

AsnNode *asnNewOctetString(uint32_t tagClass, uint32_t tagNumber, const uint8_t *data, int len) {
    return newWithContent(tagClass, tagNumber, ASN_OCTETS, data, len);
}

AsnNode *asnNewObjectId(uint32_t tagClass, uint32_t tagNumber, const uint8_t *data, int len) {
    if (len > 0 && data && (data[len - 1] & 0x80))
        return nullptr; // unfinished sub-identifier
    return newWithContent(tagClass, tagNumber, ASN_OBJECTID, data, len);
}

AsnNode *asnNewConstructed(uint32_t tagClass, uint32_t tagNumber, uint32_t kind) {
    AsnNode *root = asnNewBlock(ASN_CAPACITY);
    if (!root)
        return nullptr;
    root->total = 0;
    root->contentLen = 0;
    root->kind = kind;
    root->tagClass = tagClass;
    root->tagNumber = tagNumber;
    root->flags |= ASN_FLAG_CONSTRUCTED;
    root->valueOffset = 0;
    return root;
}

int asnAppend(AsnNode *head, const AsnNode *item) {
    if (logSteps()) {
        logPrintf("asnAppend:\nhead:\n");
        asnPrint(head, 0);
        logPrintf("item:\n");
        asnPrint(const_cast<AsnNode *>(item), 0);
    }
    // An item that is the head itself would see its record changed before it is copied.
    if (!head || !item || head == item)
        return ASN_NO_ROOM;
    AsnHeader *hh = asnHeader(head);
    const AsnHeader *ih = asnHeader(item);
    if (hh->status != ASN_COMPLETE || ih->status != ASN_COMPLETE)
        return ASN_NO_ROOM;
    // A decoded root in the indefinite form has its end-of-contents octets
    // behind the content, where an append would write.
    if (!(head->flags & ASN_FLAG_CONSTRUCTED) || head->parent != 0 ||
        (head->flags & ASN_FLAG_INDEFINITE))
        return ASN_NO_ROOM;
    int k = item->descendants + 1;
    int room = static_cast<int16_t>(hh->bytesLeft) - k * ASN_SLOT;
    if (room < 0)
        return ASN_NO_ROOM;
    unsigned char *w = hh->base + head->total;
    int t = asnEncodeType(item, w, room);
    if (t == 0)
        return ASN_NO_ROOM;
    room -= t;
    int l = asnEncodeLength(item, w + t, room);
    if (l == 0)
        return ASN_NO_ROOM;
    room -= l;
    if (room < item->contentLen)
        return ASN_NO_ROOM;
    int h = t + l;
    if (item->contentLen > 0)
        std::memmove(w + h, byteArea(item) + item->valueOffset,
                     static_cast<size_t>(item->contentLen));

    hh->bytesLeft = static_cast<uint16_t>(room - item->contentLen);
    head->descendants = static_cast<uint16_t>(head->descendants + k);
    head->total = static_cast<int16_t>(head->total + h);
    int d = head->total - item->valueOffset;
    head->total = static_cast<int16_t>(head->total + item->contentLen);
    head->contentLen = static_cast<int16_t>(head->contentLen + h + item->contentLen);
    head->valueLen = static_cast<int16_t>(head->valueLen + item->valueLen);

    const auto *src = reinterpret_cast<const unsigned char *>(item);
    for (int i = 0; i < k; i++) {
        hh->lowest = static_cast<uint16_t>(hh->lowest - 1);
        AsnNode *copy = asnNodeAt(hh, hh->lowest);
        std::memcpy(copy, src - i * ASN_SLOT, sizeof(AsnNode));
        copy->valueOffset = static_cast<int16_t>(copy->valueOffset + d);
        copy->toHeader = hh->nextToHeader++;
        copy->parent = hh->current;
    }
    if (logSteps()) {
        logPrintf("result:\n");
        asnPrint(head, 0);
    }
    return 0;
}

int16_t asnEncodeType(const AsnNode *node, uint8_t *buf, int room) {
    if (!node || room <= 0)
        return 0;
    uint8_t octets[6];
    return copyFitting(buf, room, octets, typeOctets(node, octets));
}

int16_t asnEncodeLength(const AsnNode *node, uint8_t *buf, int room) {
    if (!node || room <= 0 || node->contentLen < 0)
        return 0;
    uint8_t octets[3];
    return copyFitting(buf, room, octets, lengthOctets(node->contentLen, octets));
}

int16_t asnEncode(const AsnNode *node, uint8_t *buf, int len) {
    if (!node || !buf || asnHeader(node)->status != ASN_COMPLETE)
        return -1;
    int t = asnEncodeType(node, buf, len);
    if (t == 0)
        return -1;
    int l = asnEncodeLength(node, buf + t, len - t);
    if (l == 0)
        return -1;
    int total = t + l + node->contentLen;
    if (total > len || total > ASN_MAX_COUNT)
        return -1;
    if (node->contentLen > 0)
        std::memcpy(buf + t + l, byteArea(node) + node->valueOffset,
                    static_cast<size_t>(node->contentLen));
    return static_cast<int16_t>(total);
}

AsnNode *asnFree(AsnNode *node) {
    if (!node)
        return nullptr;
    AsnHeader *h = asnHeader(node);
    if (--h->refs <= 0)
        std::free(h->base);
    return nullptr;
}

AsnNode *asnComponent(AsnNode *node, int i) {
    if (!node || i < 0 || i > node->descendants)
        return nullptr;
    asnHeader(node)->refs++;
    return reinterpret_cast<AsnNode *>(reinterpret_cast<unsigned char *>(node) - i * ASN_SLOT);
}

uint16_t asnChildCount(AsnNode *node) {
    if (!node)
        return 0;
    uint16_t count = 0;
    int i = 1;
    while (i <= node->descendants) {
        AsnNode *child = asnComponent(node, i);
        count++;
        i += child->descendants + 1;
        asnFree(child);
    }
    return count;
}

const uint8_t *asnValue(const AsnNode *node) {
    if (!node || (node->flags & ASN_FLAG_CONSTRUCTED))
        return nullptr;
    return byteArea(node) + node->valueOffset;
}

int16_t asnGather(const AsnNode *node, uint8_t *buf, int max) {
    if (!node)
        return -1;
    const unsigned char *bytes = byteArea(node);
    const auto *rec = reinterpret_cast<const unsigned char *>(node);
    int total = 0;
    for (int i = 0; i <= node->descendants; i++) {
        const auto *n = reinterpret_cast<const AsnNode *>(rec - i * ASN_SLOT);
        if (n->flags & ASN_FLAG_CONSTRUCTED)
            continue;
        if (n->contentLen > max - total)
            return -1;
        if (n->contentLen > 0)
            std::memcpy(buf + total, bytes + n->valueOffset, static_cast<size_t>(n->contentLen));
        total += n->contentLen;
    }
    return static_cast<int16_t>(total);
}

int32_t asnBytesToInt(const uint8_t *octets, int n) {
    if (n < 1)
        return 0;
    uint32_t v = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(octets[0])));
    for (int i = 1; i < n; i++)
        v = (v << 8) | octets[i];
    return static_cast<int32_t>(v);
}

uint64_t asnBytesToUnsigned64(const uint8_t *octets, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; i++)
        v = (v << 8) | octets[i];
    return v;
}

int asnNegative(const uint8_t *octets) {
    return (octets[0] & 0x80) ? 1 : 0;
}

int asnNonZero(const uint8_t *octets, int n) {
    return (n <= 1 && octets[0] == 0) ? 0 : 1;
}
