#include "asn/asn.h"
#include "platform/log.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

using Octets = std::vector<uint8_t>;

// Owns one reference to a tree for the test's scope.
struct Tree {
    AsnNode *node;
    explicit Tree(AsnNode *n) : node(n) {}
    ~Tree() { asnFree(node); }
    Tree(const Tree &) = delete;
    Tree &operator=(const Tree &) = delete;
};

Octets encode(const AsnNode *node, int len = 4096) {
    Octets out(static_cast<size_t>(len));
    int16_t n = asnEncode(node, out.data(), len);
    if (n < 0)
        return {};
    out.resize(static_cast<size_t>(n));
    return out;
}

Octets contentOf(const AsnNode *node) {
    const uint8_t *v = asnValue(node);
    return Octets(v, v + node->contentLen);
}

// Snapshot of everything asnAppend may change in the head's tree.
struct HeadState {
    AsnNode root;
    AsnHeader header;
    Octets bytes;
};

HeadState stateOf(AsnNode *head) {
    AsnHeader *h = asnHeader(head);
    HeadState s{*head, *h, Octets(h->base, h->base + head->total)};
    return s;
}

void expectSame(const HeadState &a, const HeadState &b) {
    EXPECT_EQ(0, std::memcmp(&a.root, &b.root, sizeof(AsnNode)));
    EXPECT_EQ(a.header.bytesLeft, b.header.bytesLeft);
    EXPECT_EQ(a.header.lowest, b.header.lowest);
    EXPECT_EQ(a.header.nextToHeader, b.header.nextToHeader);
    EXPECT_EQ(a.header.refs, b.header.refs);
    EXPECT_EQ(a.bytes, b.bytes);
}

TEST(AsnBlock, NewBlockLayout) {
    const int caps[] = {0, 1, ASN_SLOT - 1, ASN_SLOT, ASN_CAPACITY};
    for (int cap : caps) {
        Tree t(asnNewBlock(cap));
        ASSERT_NE(t.node, nullptr) << cap;
        int n = cap / ASN_SLOT + 1;
        AsnHeader *h = asnHeader(t.node);
        EXPECT_EQ(reinterpret_cast<unsigned char *>(t.node), h->base + n * ASN_SLOT);
        EXPECT_EQ(reinterpret_cast<unsigned char *>(h), h->base + (n + 1) * ASN_SLOT);
        EXPECT_EQ(h->status, 1);
        EXPECT_EQ(h->depth, 1);
        EXPECT_EQ(h->bytesLeft, n * ASN_SLOT);
        EXPECT_EQ(h->lowest, n);
        EXPECT_EQ(h->nextToHeader, 2);
        EXPECT_EQ(h->slotCount, n + 3);
        EXPECT_EQ(h->refs, 1);
        EXPECT_EQ(h->current, n);
        EXPECT_EQ(t.node->toHeader, 1);
        EXPECT_EQ(t.node->parent, 0);
        EXPECT_EQ(t.node->maxLen, -1);
        EXPECT_EQ(t.node->endPos, -1);
        EXPECT_EQ(t.node->descriptor, 0);
    }
}

// A content of up to 32767 octets fits, whatever the slot size makes of the
// free area; above it, or a negative length, gives none instead of a block
// with a negative bytesLeft.
TEST(AsnBlock, CapacityBoundedBySigned16) {
    Octets data(40000, 0x41);
    for (int len : {ASN_MAX_COUNT - ASN_SLOT, ASN_MAX_COUNT}) {
        Tree ok(asnNewOctetString(0, 4, data.data(), len));
        ASSERT_NE(ok.node, nullptr) << len;
        EXPECT_GE(static_cast<int16_t>(asnHeader(ok.node)->bytesLeft), len);
        EXPECT_EQ(asnValueLength(ok.node), len);
    }
    EXPECT_EQ(asnNewOctetString(0, 4, data.data(), ASN_MAX_COUNT + 1), nullptr);
    EXPECT_EQ(asnNewObjectId(0, 6, data.data(), 40000), nullptr);
    EXPECT_EQ(asnNewPrimitive(0, 4, ASN_OCTETS, data.data(), -1), nullptr);
    EXPECT_EQ(asnNewOctetString(0, 4, data.data(), -5), nullptr);
    EXPECT_EQ(asnNewBlock(-1), nullptr);
}

struct IntCase {
    int64_t value; // a signed 32-bit value, or an unsigned one when isUnsigned
    bool isUnsigned;
    Octets content;
};

TEST(AsnConstruct, IntegerContent) {
    const IntCase cases[] = {
        {0, true, {0x00}},
        {127, true, {0x7F}},
        {128, true, {0x00, 0x80}},
        {256, true, {0x01, 0x00}},
        {2147483648LL, true, {0x00, 0x80, 0x00, 0x00, 0x00}},
        {4294967295LL, true, {0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
        {65535, true, {0x00, 0xFF, 0xFF}},
        {0, false, {0x00}},
        {5, false, {0x05}},
        {128, false, {0x00, 0x80}},
        {-1, false, {0xFF}},
        {-128, false, {0x80}},
        {-129, false, {0xFF, 0x7F}},
        {-256, false, {0xFF, 0x00}},
        {-257, false, {0xFE, 0xFF}},
        {-2147483648LL, false, {0x80, 0x00, 0x00, 0x00}},
        {2147483647, false, {0x7F, 0xFF, 0xFF, 0xFF}},
    };
    for (const auto &c : cases) {
        Tree t(c.isUnsigned ? asnNewUnsigned(0, 2, static_cast<uint32_t>(c.value))
                            : asnNewInteger(0, 2, static_cast<int32_t>(c.value)));
        ASSERT_NE(t.node, nullptr);
        EXPECT_EQ(contentOf(t.node), c.content) << c.value;
        EXPECT_EQ(t.node->valueLen, static_cast<int16_t>(c.content.size()));
        EXPECT_EQ(t.node->kind, ASN_INTEGER);
        Octets enc = encode(t.node);
        ASSERT_EQ(enc.size(), c.content.size() + 2);
        EXPECT_EQ(enc[0], 0x02);
        EXPECT_EQ(enc[1], c.content.size());
    }
}

TEST(AsnConstruct, ObjectIdRefusesUnfinishedSubId) {
    const uint8_t good[] = {0x2B, 0x06, 0x81, 0x01};
    const uint8_t bad[] = {0x2B, 0x86};
    Tree t(asnNewObjectId(0, 6, good, 4));
    ASSERT_NE(t.node, nullptr);
    EXPECT_EQ(encode(t.node), (Octets{0x06, 0x04, 0x2B, 0x06, 0x81, 0x01}));
    EXPECT_EQ(asnNewObjectId(0, 6, bad, 2), nullptr);
    // An empty identifier is accepted, as the decoder accepts 06 00.
    Tree empty(asnNewObjectId(0, 6, nullptr, 0));
    ASSERT_NE(empty.node, nullptr);
    EXPECT_EQ(encode(empty.node), (Octets{0x06, 0x00}));
}

TEST(AsnEncode, EmptySequenceAndOneInteger) {
    Tree seq(asnNewConstructed(0, 16, ASN_SEQUENCE));
    EXPECT_EQ(encode(seq.node), (Octets{0x30, 0x00}));
    Tree five(asnNewInteger(0, 2, 5));
    ASSERT_EQ(asnAppend(seq.node, five.node), 0);
    EXPECT_EQ(seq.node->descendants, 1);
    EXPECT_EQ(seq.node->contentLen, 3);
    EXPECT_EQ(seq.node->valueLen, 1);
    EXPECT_EQ(seq.node->total, 3);
    EXPECT_EQ(encode(seq.node), (Octets{0x30, 0x03, 0x02, 0x01, 0x05}));
    AsnHeader *h = asnHeader(seq.node);
    int n = h->current;
    EXPECT_EQ(h->lowest, n - 1);
    EXPECT_EQ(h->nextToHeader, 3);
    EXPECT_EQ(h->bytesLeft, n * ASN_SLOT - ASN_SLOT - 3);
    AsnNode *child = asnComponent(seq.node, 1);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->parent, n);
    EXPECT_EQ(child->toHeader, 2);
    EXPECT_EQ(asnHeader(child), h);
    EXPECT_EQ(child->valueOffset, 2);
    EXPECT_EQ(contentOf(child), Octets{0x05});
    EXPECT_EQ(h->refs, 2);
    child = asnFree(child);
    EXPECT_EQ(child, nullptr);
    EXPECT_EQ(h->refs, 1);
}

struct LengthCase {
    int len;
    Octets octets;
};

TEST(AsnEncode, LengthForms) {
    const LengthCase cases[] = {
        {0, {0x00}},
        {127, {0x7F}},
        {128, {0x81, 0x80}},
        {255, {0x81, 0xFF}},
        {256, {0x82, 0x01, 0x00}},
        {32767, {0x82, 0x7F, 0xFF}},
    };
    for (const auto &c : cases) {
        AsnNode node{};
        node.contentLen = static_cast<int16_t>(c.len);
        uint8_t buf[4] = {};
        EXPECT_EQ(asnEncodeLength(&node, buf, 4), static_cast<int16_t>(c.octets.size())) << c.len;
        EXPECT_EQ(Octets(buf, buf + c.octets.size()), c.octets) << c.len;
        EXPECT_EQ(asnEncodeLength(&node, buf, static_cast<int>(c.octets.size()) - 1), 0);
    }
}

struct TypeCase {
    uint32_t tagClass, tagNumber;
    bool constructed;
    Octets octets;
};

TEST(AsnEncode, IdentifierForms) {
    const TypeCase cases[] = {
        {0, 2, false, {0x02}},
        {0, 16, true, {0x30}},
        {2, 0, true, {0xA0}},
        {1, 4, false, {0x44}},
        {3, 30, false, {0xDE}},
        {0, 31, false, {0x1F, 0x1F}},
        {0, 127, false, {0x1F, 0x7F}},
        {0, 128, false, {0x1F, 0x81, 0x00}},
        {0, 200, false, {0x1F, 0x81, 0x48}},
        {2, 0xFFFFFFFFu, true, {0xBF, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}},
    };
    for (const auto &c : cases) {
        AsnNode node{};
        node.tagClass = c.tagClass;
        node.tagNumber = c.tagNumber;
        node.flags = c.constructed ? ASN_FLAG_CONSTRUCTED : 0;
        uint8_t buf[8] = {};
        EXPECT_EQ(asnEncodeType(&node, buf, 8), static_cast<int16_t>(c.octets.size()))
            << c.tagNumber;
        EXPECT_EQ(Octets(buf, buf + c.octets.size()), c.octets) << c.tagNumber;
        EXPECT_EQ(asnEncodeType(&node, buf, static_cast<int>(c.octets.size()) - 1), 0);
    }
}

TEST(AsnEncode, BufferShortAndIncomplete) {
    Tree seq(asnNewConstructed(0, 16, ASN_SEQUENCE));
    Tree five(asnNewInteger(0, 2, 5));
    ASSERT_EQ(asnAppend(seq.node, five.node), 0);
    uint8_t buf[5];
    EXPECT_EQ(asnEncode(seq.node, buf, 5), 5);
    EXPECT_EQ(asnEncode(seq.node, buf, 4), -1);
    EXPECT_EQ(asnEncode(seq.node, buf, 1), -1);
    EXPECT_EQ(asnEncode(nullptr, buf, 5), -1);
    asnHeader(seq.node)->status = 0;
    EXPECT_EQ(asnEncode(seq.node, buf, 5), -1);
    asnHeader(seq.node)->status = 1;
    // A component encodes on its own, content as stored.
    AsnNode *c = asnComponent(seq.node, 1);
    EXPECT_EQ(encode(c), (Octets{0x02, 0x01, 0x05}));
    asnFree(c);
}

// Mended: no encoding longer than a signed 16-bit count is reported. No
// constructor makes such a node, so one record is forged; nothing is copied.
TEST(AsnEncode, ResultAbove32767Refused) {
    Octets data(32000, 0x61);
    Tree s(asnNewOctetString(0, 4, data.data(), 32000));
    ASSERT_NE(s.node, nullptr);
    Octets buf(40000);
    EXPECT_EQ(asnEncode(s.node, buf.data(), 40000), 32004);
    s.node->contentLen = 32764; // 1 + 3 + 32764 = 32768
    EXPECT_EQ(asnEncode(s.node, buf.data(), 40000), -1);
    s.node->contentLen = 32763;
    s.node->tagNumber = 200; // 3 + 3 + 32763
    EXPECT_EQ(asnEncode(s.node, buf.data(), 40000), -1);
    s.node->contentLen = 32000;
}

TEST(AsnEncode, LongContentUsesLongLength) {
    Octets data(300, 0x61);
    Tree s(asnNewOctetString(0, 4, data.data(), 300));
    Octets enc = encode(s.node);
    ASSERT_EQ(enc.size(), 304u);
    EXPECT_EQ(Octets(enc.begin(), enc.begin() + 4), (Octets{0x04, 0x82, 0x01, 0x2C}));
    EXPECT_EQ(Octets(enc.begin() + 4, enc.end()), data);
}

// A PDU shaped tree: records in pre-order, offsets into the head's byte area.
TEST(AsnAppend, NestedTreeRecordsInPreOrder) {
    const uint8_t name[] = {0x2B, 0x06, 0x01};
    Tree bind(asnNewConstructed(0, 16, ASN_SEQUENCE));
    {
        Tree oid(asnNewObjectId(0, 6, name, 3));
        Tree nul(asnNewPrimitive(0, 5, ASN_OCTETS, nullptr, 0));
        ASSERT_EQ(asnAppend(bind.node, oid.node), 0);
        ASSERT_EQ(asnAppend(bind.node, nul.node), 0);
    }
    Tree list(asnNewConstructed(0, 16, ASN_SEQUENCE));
    ASSERT_EQ(asnAppend(list.node, bind.node), 0);
    ASSERT_EQ(asnAppend(list.node, bind.node), 0);
    Tree pdu(asnNewConstructed(2, 1, ASN_SEQUENCE));
    Tree rid(asnNewInteger(0, 2, 300));
    ASSERT_EQ(asnAppend(pdu.node, rid.node), 0);
    ASSERT_EQ(asnAppend(pdu.node, list.node), 0);
    const Octets b = {0x30, 0x07, 0x06, 0x03, 0x2B, 0x06, 0x01, 0x05, 0x00};
    Octets expect = {0xA1, 0x18, 0x02, 0x02, 0x01, 0x2C, 0x30, 0x12};
    expect.insert(expect.end(), b.begin(), b.end());
    expect.insert(expect.end(), b.begin(), b.end());
    EXPECT_EQ(encode(pdu.node), expect);
    EXPECT_EQ(pdu.node->descendants, 8);
    EXPECT_EQ(pdu.node->valueLen, 2 + 3 + 3);
    EXPECT_EQ(asnChildCount(pdu.node), 2);
    EXPECT_EQ(asnHeader(pdu.node)->refs, 1);
    struct Rec {
        uint32_t tag;
        uint16_t descendants;
        int16_t valueOffset, contentLen;
    };
    const Rec recs[] = {{2, 0, 2, 2},  {16, 6, 6, 18}, {16, 2, 8, 7}, {6, 0, 10, 3},
                        {5, 0, 15, 0}, {16, 2, 17, 7}, {6, 0, 19, 3}, {5, 0, 24, 0}};
    int n = asnHeader(pdu.node)->current;
    for (int i = 1; i <= 8; i++) {
        AsnNode *c = asnComponent(pdu.node, i);
        ASSERT_NE(c, nullptr);
        const Rec &r = recs[i - 1];
        EXPECT_EQ(c->tagNumber, r.tag) << i;
        EXPECT_EQ(c->descendants, r.descendants) << i;
        EXPECT_EQ(c->valueOffset, r.valueOffset) << i;
        EXPECT_EQ(c->contentLen, r.contentLen) << i;
        EXPECT_EQ(c->parent, n) << i;
        EXPECT_EQ(c->toHeader, i + 1) << i;
        asnFree(c);
    }
    EXPECT_EQ(asnComponent(pdu.node, 9), nullptr);
    EXPECT_EQ(asnComponent(pdu.node, -1), nullptr); // mended: a negative index
    EXPECT_EQ(asnComponent(nullptr, 0), nullptr);
    AsnNode *self = asnComponent(pdu.node, 0);
    EXPECT_EQ(self, pdu.node);
    EXPECT_EQ(asnHeader(pdu.node)->refs, 2);
    asnFree(self);
    // A component of the built tree can itself be appended elsewhere.
    AsnNode *second = asnComponent(pdu.node, 6);
    Tree other(asnNewConstructed(0, 16, ASN_SEQUENCE));
    ASSERT_EQ(asnAppend(other.node, second), 0);
    Octets wrapped = {0x30, 0x09};
    wrapped.insert(wrapped.end(), b.begin(), b.end());
    EXPECT_EQ(encode(other.node), wrapped);
    asnFree(second);
}

TEST(AsnAppend, RefusalsLeaveHeadUnchanged) {
    Tree head(asnNewConstructed(0, 16, ASN_SEQUENCE));
    Tree five(asnNewInteger(0, 2, 5));
    ASSERT_EQ(asnAppend(head.node, five.node), 0);
    Tree prim(asnNewInteger(0, 2, 7));
    HeadState before = stateOf(head.node);

    EXPECT_EQ(asnAppend(nullptr, five.node), 3);
    EXPECT_EQ(asnAppend(head.node, nullptr), 3);
    EXPECT_EQ(asnAppend(prim.node, five.node), 3);
    // Mended: the head as its own item.
    EXPECT_EQ(asnAppend(head.node, head.node), 3);
    expectSame(before, stateOf(head.node));

    AsnNode *child = asnComponent(head.node, 1);
    Tree item(asnNewInteger(0, 2, 9));
    EXPECT_EQ(asnAppend(child, item.node), 3); // not a root (and primitive)
    asnFree(child);

    asnHeader(five.node)->status = 0;
    EXPECT_EQ(asnAppend(head.node, five.node), 3);
    asnHeader(five.node)->status = 1;
    asnHeader(head.node)->status = 2;
    EXPECT_EQ(asnAppend(head.node, five.node), 3);
    asnHeader(head.node)->status = 1;
    expectSame(before, stateOf(head.node));
}

TEST(AsnAppend, NonRootConstructedHeadRefused) {
    Tree inner(asnNewConstructed(0, 16, ASN_SEQUENCE));
    Tree outer(asnNewConstructed(0, 16, ASN_SEQUENCE));
    ASSERT_EQ(asnAppend(outer.node, inner.node), 0);
    AsnNode *c = asnComponent(outer.node, 1);
    ASSERT_NE(c, nullptr);
    EXPECT_TRUE(asnConstructed(c));
    Tree five(asnNewInteger(0, 2, 5));
    HeadState before = stateOf(outer.node);
    EXPECT_EQ(asnAppend(c, five.node), 3);
    expectSame(before, stateOf(outer.node));
    asnFree(c);
}

TEST(AsnAppend, RoomForRecordsAndForContent) {
    Tree head(asnNewConstructed(0, 16, ASN_SEQUENCE));
    AsnHeader *h = asnHeader(head.node);
    // Fill with one-record items until the room left is small.
    Octets data(1000, 0x33);
    Tree big(asnNewOctetString(0, 4, data.data(), 1000));
    while (static_cast<int16_t>(h->bytesLeft) >= ASN_SLOT + 1004 + 400)
        ASSERT_EQ(asnAppend(head.node, big.node), 0);
    int left = static_cast<int16_t>(h->bytesLeft);
    // An item whose content does not fit once its record is reserved.
    int contentLen = left - ASN_SLOT - 4 + 1;
    ASSERT_GT(contentLen, 256); // three length octets
    ASSERT_LT(contentLen, 1500);
    Octets fill(static_cast<size_t>(contentLen), 0x44);
    Tree tooBig(asnNewOctetString(0, 4, fill.data(), contentLen));
    HeadState before = stateOf(head.node);
    EXPECT_EQ(asnAppend(head.node, tooBig.node), 3);
    expectSame(before, stateOf(head.node));
    // One octet less fits exactly and leaves no room.
    Tree exact(asnNewOctetString(0, 4, fill.data(), contentLen - 1));
    EXPECT_EQ(asnAppend(head.node, exact.node), 0);
    EXPECT_EQ(h->bytesLeft, 0);
    // Now not even a record fits.
    Tree tiny(asnNewPrimitive(0, 5, ASN_OCTETS, nullptr, 0));
    before = stateOf(head.node);
    EXPECT_EQ(asnAppend(head.node, tiny.node), 3);
    expectSame(before, stateOf(head.node));
    EXPECT_EQ(static_cast<int>(head.node->total) + (h->current - h->lowest) * ASN_SLOT,
              h->current * ASN_SLOT);
}

TEST(AsnAppend, RecordsOfItemDoNotFit) {
    // An item with many records into a head that has room for fewer.
    Tree item(asnNewConstructed(0, 16, ASN_SEQUENCE));
    Tree nul(asnNewPrimitive(0, 5, ASN_OCTETS, nullptr, 0));
    int count = 0;
    while (asnAppend(item.node, nul.node) == 0)
        count++;
    // Records cost a slot and two octets each; a head holding one more element
    // already has too few slots for them.
    Tree head(asnNewConstructed(0, 16, ASN_SEQUENCE));
    ASSERT_EQ(asnAppend(head.node, nul.node), 0);
    HeadState before = stateOf(head.node);
    EXPECT_EQ(asnAppend(head.node, item.node), 3);
    expectSame(before, stateOf(head.node));
    EXPECT_GT(count, 100);
}

TEST(AsnGather, ConcatenatesPrimitivesAndChecksMax) {
    Tree seq(asnNewConstructed(0, 16, ASN_SEQUENCE));
    const uint8_t ab[] = {'a', 'b'};
    const uint8_t cde[] = {'c', 'd', 'e'};
    Tree s1(asnNewOctetString(0, 4, ab, 2));
    Tree s2(asnNewOctetString(0, 4, cde, 3));
    Tree inner(asnNewConstructed(0, 16, ASN_SEQUENCE));
    ASSERT_EQ(asnAppend(inner.node, s2.node), 0);
    ASSERT_EQ(asnAppend(seq.node, s1.node), 0);
    ASSERT_EQ(asnAppend(seq.node, inner.node), 0);
    uint8_t buf[8] = {};
    EXPECT_EQ(asnGather(seq.node, buf, 8), 5);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 5), "abcde");
    EXPECT_EQ(asnGather(seq.node, buf, 5), 5);
    std::memset(buf, 0, sizeof buf);
    EXPECT_EQ(asnGather(seq.node, buf, 4), -1);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 2), "ab"); // stops at the piece too big
    EXPECT_EQ(buf[2], 0);
    EXPECT_EQ(asnGather(nullptr, buf, 8), -1);
    EXPECT_EQ(asnGather(s1.node, buf, 8), 2);
    EXPECT_EQ(asnValue(seq.node), nullptr);
    EXPECT_EQ(asnValue(nullptr), nullptr);
}

TEST(AsnValues, BytesToIntNegativeNonZero) {
    struct Case {
        Octets octets;
        int32_t value;
    };
    const Case cases[] = {
        {{0x05}, 5},
        {{0x80}, -128},
        {{0xFF, 0x7F}, -129},
        {{0x00, 0x80}, 128},
        {{0xFF, 0xFF, 0xFF, 0xFE}, -2},
        {{0x00, 0x80, 0x00, 0x00, 0x00}, INT32_MIN}, // only the low 32 bits remain
        {{0x12, 0x34, 0x56, 0x78, 0x9A}, 0x3456789A},
    };
    for (const auto &c : cases)
        EXPECT_EQ(asnBytesToInt(c.octets.data(), static_cast<int>(c.octets.size())), c.value);
    const uint8_t zero[] = {0x00, 0x00};
    const uint8_t neg[] = {0x80};
    EXPECT_EQ(asnBytesToInt(zero, 0), 0);
    EXPECT_EQ(asnNegative(neg), 1);
    EXPECT_EQ(asnNegative(zero), 0);
    EXPECT_EQ(asnNonZero(zero, 1), 0);
    EXPECT_EQ(asnNonZero(zero, 0), 0);
    EXPECT_EQ(asnNonZero(zero, 2), 1);
    EXPECT_EQ(asnNonZero(neg, 1), 1);
}

TEST(AsnFree, AcceptsNoneAndCountsReferences) {
    EXPECT_EQ(asnFree(nullptr), nullptr);
    AsnNode *seq = asnNewConstructed(0, 16, ASN_SEQUENCE);
    AsnNode *again = asnComponent(seq, 0);
    seq = asnFree(seq);
    EXPECT_EQ(seq, nullptr);
    EXPECT_EQ(asnHeader(again)->refs, 1); // still alive through the second reference
    EXPECT_EQ(asnFree(again), nullptr);
}

struct PrintTest : ::testing::Test {
    EventCapture capture;
};

TEST_F(PrintTest, SequenceWithInteger) {
    Tree seq(asnNewConstructed(0, 16, ASN_SEQUENCE));
    Tree five(asnNewInteger(0, 2, 5));
    ASSERT_EQ(asnAppend(seq.node, five.node), 0);
    capture.messages.clear();
    EXPECT_EQ(asnPrint(seq.node, 0), 0);
    EXPECT_EQ(capture.joined(), "[ U 16 ] SEQUENCE {\n"
                                "\t[ U 2 ] INTEGER {\n"
                                "\t\t 05\n"
                                "\t}\n"
                                "}\n");
    EXPECT_EQ(asnHeader(seq.node)->refs, 1);
}

TEST_F(PrintTest, NamesLettersAndEmptyCases) {
    EXPECT_EQ(asnPrint(nullptr, 0), 0);
    EXPECT_EQ(capture.joined(), "");
    Tree pdu(asnNewConstructed(2, 0, ASN_SEQUENCE));
    Tree counter(asnNewUnsigned(1, 1, 7));
    Tree nul(asnNewPrimitive(0, 5, ASN_OCTETS, nullptr, 0));
    Octets big(600, 0x20);
    Tree longValue(asnNewOctetString(3, 4, big.data(), 600));
    asnPrint(pdu.node, 0);
    asnPrint(counter.node, 1);
    asnPrint(nul.node, 0);
    asnPrint(longValue.node, 0);
    EXPECT_EQ(capture.joined(), "[ C 0 ] SEQUENCE {\n}\n"
                                "\t[ A 1 ] INTEGER {\n\t\t 07\n\t}\n"
                                "[ U 5 ] OCTETSTRING {\n\t\n}\n"
                                "[ P 4 ] OCTETSTRING {\n\t\n}\n");
    EXPECT_STREQ(asnKindName(0), "??");
    EXPECT_STREQ(asnKindName(3), "OBJECTIDENTIFIER");
    EXPECT_STREQ(asnKindName(5), "SEQUENCE OF");
    EXPECT_STREQ(asnKindName(6), "NULL");
    EXPECT_STREQ(asnKindName(7), "??");
}

TEST_F(PrintTest, IndentIsOneCallPerTab) {
    asnIndent(3);
    ASSERT_EQ(capture.messages.size(), 3u);
    EXPECT_EQ(capture.messages[2], "\t");
}

TEST_F(PrintTest, AppendDumpsAtLevelTwo) {
    Tree seq(asnNewConstructed(0, 16, ASN_SEQUENCE));
    Tree five(asnNewInteger(0, 2, 5));
    int saved = logLevel;
    logLevel = 2;
    ASSERT_EQ(asnAppend(seq.node, five.node), 0);
    logLevel = saved;
    EXPECT_EQ(capture.joined(),
              "asnAppend:\nhead:\n[ U 16 ] SEQUENCE {\n}\n"
              "item:\n[ U 2 ] INTEGER {\n\t 05\n}\n"
              "result:\n[ U 16 ] SEQUENCE {\n\t[ U 2 ] INTEGER {\n\t\t 05\n\t}\n}\n");
}

} // namespace
