#include "asn/asn.h"
#include "asn/asx.h"
#include "tests/ber_craft.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using ber::Bytes;
using ber::hex;

// Owns one reference to a tree for the test's scope.
struct Tree {
    AsnNode *node;
    ~Tree() { asnFree(node); }
};

Bytes encode(const AsnNode *node) {
    Bytes out(40000);
    int16_t n = asnEncode(node, out.data(), 40000);
    out.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return out;
}

// Everything asnAppend may change in the head's tree, to show that a refusal changed nothing.
Bytes stateOf(const AsnNode *head) {
    AsnHeader *h = asnHeader(head);
    Bytes s(h->base, h->base + head->total);
    s.resize(s.size() + sizeof(AsnNode));
    std::memcpy(s.data() + head->total, head, sizeof(AsnNode));
    for (int v : {int{h->bytesLeft}, int{h->lowest}, int{h->nextToHeader}, h->refs})
        s.insert(s.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
    return s;
}

// A content of up to 32767 octets fits, whatever the slot size makes of the
// free area; above it, or a negative length, gives none instead of a block
// with a negative bytesLeft.
TEST(AsnBlock, CapacityBoundedBySigned16) {
    Bytes data(40000, 0x41);
    for (int len : {ASN_MAX_COUNT - ASN_SLOT, ASN_MAX_COUNT}) {
        Tree ok{asnNewOctetString(0, 4, data.data(), len)};
        ASSERT_NE(ok.node, nullptr) << len;
        EXPECT_GE(static_cast<int16_t>(asnHeader(ok.node)->bytesLeft), len);
        EXPECT_EQ(asnValueLength(ok.node), len);
    }
    EXPECT_EQ(asnNewOctetString(0, 4, data.data(), ASN_MAX_COUNT + 1), nullptr);
    EXPECT_EQ(asnNewObjectId(0, 6, data.data(), 40000), nullptr);
    EXPECT_EQ(asnNewPrimitive(0, 4, ASN_OCTETS, data.data(), -1), nullptr);
    EXPECT_EQ(asnNewOctetString(0, 4, data.data(), -5), nullptr);
    EXPECT_EQ(asnNewBlock(-1), nullptr);
    // No encoding longer than a signed 16-bit count is reported; one record is forged.
    Tree s{asnNewOctetString(0, 4, data.data(), 32000)};
    EXPECT_EQ(asnEncode(s.node, data.data(), 40000), 32004);
    s.node->contentLen = 32764; // 1 + 3 + 32764 = 32768
    EXPECT_EQ(asnEncode(s.node, data.data(), 40000), -1);
    s.node->contentLen = 32763;
    s.node->tagNumber = 200; // 3 + 3 + 32763
    EXPECT_EQ(asnEncode(s.node, data.data(), 40000), -1);
    s.node->contentLen = 32000;
}

TEST(AsnEncode, Values) {
    const uint8_t abc[] = {'a', 'b', 'c'}, oid[] = {0x2B, 0x06, 0x81, 0x01};
    const Bytes a300(300, 'a');
    const struct {
        AsnNode *tree;
        Bytes octets;
    } rows[] = {
        {asnNewUnsigned(0, 2, 0), hex("020100")},
        {asnNewUnsigned(0, 2, 128), hex("02020080")},
        {asnNewUnsigned(0, 2, 65535), hex("020300FFFF")},
        {asnNewUnsigned(0, 2, 4294967295u), hex("020500FFFFFFFF")},
        {asnNewInteger(0, 2, -129), hex("0202FF7F")},
        {asnNewInteger(0, 2, -256), hex("0202FF00")},
        {asnNewInteger(0, 2, -257), hex("0202FEFF")},
        {asxEncodeInteger(-2), hex("0201FE")},
        {asxEncodeInteger(300), hex("0202012C")},
        {asxEncodeInteger(INT32_MIN), hex("020480000000")},
        {asxEncodeInteger(INT32_MAX), hex("02047FFFFFFF")},
        {asxEncodeUnsigned(127), hex("02017F")},
        {asxEncodeCounter(2147483648u), hex("41050080000000")},
        {asxEncodeGauge(5), hex("420105")},
        {asxEncodeTimeTicks(0), hex("430100")},
        {asxEncodeNull(), hex("0500")},
        {asxEncodeIpAddress(0x0A000001u), hex("40040A000001")},
        {asxEncodeOctetString(abc, 3), hex("0403616263")},
        {asxEncodeOpaque(abc, 2), hex("44026162")},
        {asxEncodeObjectId("1.3.6.1.4.1.300"), hex("06072B06010401822C")},
        {asnNewObjectId(0, 6, oid, 4), hex("06042B068101")},
        {asnNewObjectId(0, 6, nullptr, 0), hex("0600")}, // as the decoder accepts 06 00
        {asnNewConstructed(0, 16, ASN_SEQUENCE), hex("3000")},
        {asnNewOctetString(0, 4, a300.data(), 300), ber::cat({hex("0482012C"), a300})},
    };
    for (const auto &r : rows) {
        Tree t{r.tree};
        EXPECT_EQ(encode(t.node), r.octets);
    }
    EXPECT_EQ(asnNewObjectId(0, 6, oid + 1, 2), nullptr); // an unfinished sub-identifier
    EXPECT_EQ(asxEncodeObjectId("1.3.x"), nullptr);
    EXPECT_EQ(asxEncodeObjectId(nullptr), nullptr);
}

TEST(AsnEncode, IdentifierAndLengthForms) {
    const struct {
        uint32_t tagClass, tagNumber;
        bool constructed;
        const char *octets;
    } types[] = {
        {0, 2, false, "02"},       {0, 16, true, "30"},
        {2, 0, true, "A0"},        {1, 4, false, "44"},
        {3, 30, false, "DE"},      {0, 31, false, "1F1F"},
        {0, 127, false, "1F7F"},   {0, 128, false, "1F8100"},
        {0, 200, false, "1F8148"}, {2, 0xFFFFFFFFu, true, "BF8FFFFFFF7F"},
    };
    const struct {
        int len;
        const char *octets;
    } lengths[] = {{0, "00"},     {127, "7F"},     {128, "8180"},
                   {255, "81FF"}, {256, "820100"}, {32767, "827FFF"}};
    uint8_t buf[8];
    for (const auto &c : types) {
        AsnNode node{};
        node.tagClass = c.tagClass;
        node.tagNumber = c.tagNumber;
        node.flags = c.constructed ? ASN_FLAG_CONSTRUCTED : 0;
        int n = static_cast<int>(hex(c.octets).size());
        EXPECT_EQ(asnEncodeType(&node, buf, 8), n) << c.octets;
        EXPECT_EQ(Bytes(buf, buf + n), hex(c.octets));
        EXPECT_EQ(asnEncodeType(&node, buf, n - 1), 0) << c.octets;
    }
    for (const auto &c : lengths) {
        AsnNode node{};
        node.contentLen = static_cast<int16_t>(c.len);
        int n = static_cast<int>(hex(c.octets).size());
        EXPECT_EQ(asnEncodeLength(&node, buf, 8), n) << c.octets;
        EXPECT_EQ(Bytes(buf, buf + n), hex(c.octets));
        EXPECT_EQ(asnEncodeLength(&node, buf, n - 1), 0) << c.octets;
    }
}

// A PDU-shaped tree encodes in pre-order; its components are reached by index and can be
// appended elsewhere; the buffer must hold the whole encoding.
TEST(AsnAppend, NestedTreeAndComponents) {
    const uint8_t name[] = {0x2B, 0x06, 0x01};
    Tree bind{asnNewConstructed(0, 16, ASN_SEQUENCE)}, list{asnNewConstructed(0, 16, ASN_SEQUENCE)};
    Tree pdu{asnNewConstructed(2, 1, ASN_SEQUENCE)}, other{asnNewConstructed(0, 16, ASN_SEQUENCE)};
    for (AsnNode *n :
         {asnNewObjectId(0, 6, name, 3), asnNewPrimitive(0, 5, ASN_OCTETS, nullptr, 0)}) {
        EXPECT_EQ(asnAppend(bind.node, n), 0);
        asnFree(n);
    }
    ASSERT_EQ(asnAppend(list.node, bind.node), 0);
    ASSERT_EQ(asnAppend(list.node, bind.node), 0);
    Tree rid{asnNewInteger(0, 2, 300)};
    ASSERT_EQ(asnAppend(pdu.node, rid.node), 0);
    ASSERT_EQ(asnAppend(pdu.node, list.node), 0);
    EXPECT_EQ(encode(pdu.node),
              hex("A118 0202012C 3012 3007 06032B0601 0500 3007 06032B0601 0500"));
    EXPECT_EQ(asnChildCount(pdu.node), 2);
    EXPECT_EQ(asnDescendants(pdu.node), 8);
    EXPECT_EQ(asnComponent(pdu.node, 9), nullptr);
    EXPECT_EQ(asnComponent(pdu.node, -1), nullptr); // mended: a negative index
    EXPECT_EQ(asnComponent(nullptr, 0), nullptr);
    AsnNode *self = asnComponent(pdu.node, 0), *second = asnComponent(pdu.node, 6);
    EXPECT_EQ(self, pdu.node);
    EXPECT_EQ(asnHeader(pdu.node)->refs, 3);
    ASSERT_EQ(asnAppend(other.node, second), 0);
    EXPECT_EQ(encode(other.node), hex("3009 3007 06032B0601 0500"));
    EXPECT_EQ(encode(second), hex("3007 06032B0601 0500"));
    uint8_t buf[9];
    EXPECT_EQ(asnEncode(second, buf, 8), -1);
    EXPECT_EQ(asnEncode(nullptr, buf, 9), -1);
    asnHeader(pdu.node)->status = 0; // not complete
    EXPECT_EQ(asnEncode(second, buf, 9), -1);
    asnHeader(pdu.node)->status = 1;
    asnFree(second);
    EXPECT_EQ(asnFree(self), nullptr);
    EXPECT_EQ(asnHeader(pdu.node)->refs, 1);
}

// Every refusal leaves the head's tree as it was: no head, no item, a primitive or non-root
// head, the head as its own item (mended), a tree not complete, and no room.
TEST(AsnAppend, RefusalsLeaveHeadUnchanged) {
    Tree head{asnNewConstructed(0, 16, ASN_SEQUENCE)}, five{asnNewInteger(0, 2, 5)};
    Tree prim{asnNewInteger(0, 2, 7)};
    Tree inner{asnNewConstructed(0, 16, ASN_SEQUENCE)};
    ASSERT_EQ(asnAppend(head.node, inner.node), 0);
    AsnNode *nonRoot = asnComponent(head.node, 1);
    Bytes before = stateOf(head.node);
    for (AsnNode *h : {static_cast<AsnNode *>(nullptr), prim.node, nonRoot})
        EXPECT_EQ(asnAppend(h, five.node), 3);
    EXPECT_EQ(asnAppend(head.node, nullptr), 3);
    EXPECT_EQ(asnAppend(head.node, head.node), 3);
    asnHeader(five.node)->status = 0;
    EXPECT_EQ(asnAppend(head.node, five.node), 3);
    asnHeader(five.node)->status = 1;
    asnHeader(head.node)->status = 2;
    EXPECT_EQ(asnAppend(head.node, five.node), 3);
    asnHeader(head.node)->status = 1;
    EXPECT_EQ(stateOf(head.node), before);
    asnFree(nonRoot);

    // Content that does not fit once its record is reserved; one octet less fits exactly.
    Bytes data(1000, 0x33);
    Tree big{asnNewOctetString(0, 4, data.data(), 1000)};
    AsnHeader *h = asnHeader(head.node);
    while (static_cast<int16_t>(h->bytesLeft) >= ASN_SLOT + 1004 + 400)
        ASSERT_EQ(asnAppend(head.node, big.node), 0);
    int contentLen = static_cast<int16_t>(h->bytesLeft) - ASN_SLOT - 4 + 1;
    ASSERT_GT(contentLen, 256); // three length octets
    Bytes fill(static_cast<size_t>(contentLen), 0x44);
    Tree tooBig{asnNewOctetString(0, 4, fill.data(), contentLen)};
    Tree exact{asnNewOctetString(0, 4, fill.data(), contentLen - 1)};
    Tree tiny{asnNewPrimitive(0, 5, ASN_OCTETS, nullptr, 0)};
    before = stateOf(head.node);
    EXPECT_EQ(asnAppend(head.node, tooBig.node), 3);
    EXPECT_EQ(stateOf(head.node), before);
    EXPECT_EQ(asnAppend(head.node, exact.node), 0);
    EXPECT_EQ(h->bytesLeft, 0);
    before = stateOf(head.node);
    EXPECT_EQ(asnAppend(head.node, tiny.node), 3);
    EXPECT_EQ(stateOf(head.node), before);

    // An item of many records into a head one element along has too few slots for them.
    Tree many{asnNewConstructed(0, 16, ASN_SEQUENCE)}, one{asnNewConstructed(0, 16, ASN_SEQUENCE)};
    int count = 0;
    while (asnAppend(many.node, tiny.node) == 0)
        count++;
    EXPECT_GT(count, 100);
    ASSERT_EQ(asnAppend(one.node, tiny.node), 0);
    before = stateOf(one.node);
    EXPECT_EQ(asnAppend(one.node, many.node), 3);
    EXPECT_EQ(stateOf(one.node), before);
}

TEST(AsnValues, GatherAndIntegers) {
    const uint8_t ab[] = {'a', 'b'}, cde[] = {'c', 'd', 'e'};
    Tree seq{asnNewConstructed(0, 16, ASN_SEQUENCE)}, inner{asnNewConstructed(0, 16, ASN_SEQUENCE)};
    Tree s1{asnNewOctetString(0, 4, ab, 2)}, s2{asnNewOctetString(0, 4, cde, 3)};
    ASSERT_EQ(asnAppend(inner.node, s2.node), 0);
    ASSERT_EQ(asnAppend(seq.node, s1.node), 0);
    ASSERT_EQ(asnAppend(seq.node, inner.node), 0);
    uint8_t buf[8] = {};
    EXPECT_EQ(asnGather(seq.node, buf, 5), 5);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 5), "abcde");
    std::memset(buf, 0, sizeof buf);
    EXPECT_EQ(asnGather(seq.node, buf, 4), -1); // stops at the piece too big
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 3), std::string("ab\0", 3));
    EXPECT_EQ(asnGather(nullptr, buf, 8), -1);
    EXPECT_EQ(asnValue(seq.node), nullptr);
    EXPECT_EQ(asnValue(nullptr), nullptr);
    const struct {
        const char *octets;
        int32_t value;
    } ints[] = {{"80", -128},
                {"FF7F", -129},
                {"0080", 128},
                {"", 0},
                {"0080000000", INT32_MIN},
                {"123456789A", 0x3456789A}};
    for (const auto &c : ints) { // only the low 32 bits remain
        Bytes b = hex(c.octets);
        EXPECT_EQ(asnBytesToInt(b.data(), static_cast<int>(b.size())), c.value) << c.octets;
    }
    EXPECT_EQ(asnNegative(ab), 0);
    EXPECT_EQ(asnNegative(hex("80").data()), 1);
}

// A one-node tree with the identifier and content of the given encoding.
AsnNode *node(const Bytes &enc) {
    uint32_t tag = enc[0] & 0x1F;
    return asnNewPrimitive(enc[0] >> 6, tag, tag == 6 ? ASN_OBJECTID : ASN_OCTETS, enc.data() + 2,
                           static_cast<int>(enc.size()) - 2);
}

using Decoder = int (*)(const AsnNode *, uint32_t *);
const Decoder integer = [](const AsnNode *n, uint32_t *v) {
    int32_t i = 0;
    int r = asxDecodeInteger(n, &i);
    *v = r == 0 ? static_cast<uint32_t>(i) : *v;
    return r;
};
const Decoder null = [](const AsnNode *n, uint32_t *) { return asxDecodeNull(n); };

// Each value decoder: its result, and the value it gives on success (else it leaves it).
TEST(AsxDecode, Values) {
    const struct {
        const char *octets;
        Decoder decode;
        int result;
        uint32_t value;
    } rows[] = {
        {"020500FFFFFFFF", asxDecodeUnsigned, 0, 4294967295u},
        {"0204FFFFFFFF", asxDecodeUnsigned, 0, 4294967295u},
        {"02050100000000", asxDecodeUnsigned, 3, 0},
        {"0206000000000001", asxDecodeUnsigned, 3, 0},
        {"020180", asxDecodeUnsigned, 0, 4294967168u}, // short values sign-extend
        {"410105", asxDecodeUnsigned, 3, 0},           // a Counter is no unsigned INTEGER
        {"41050080000000", asxDecodeCounter, 0, 2147483648u},
        {"41050080000000", asxDecodeGauge, 3, 0},
        {"41050080000000", asxDecodeTimeTicks, 3, 0},
        {"410180", asxDecodeCounter, 0, 4294967168u},
        {"42020100", asxDecodeGauge, 0, 256},
        {"4300", asxDecodeTimeTicks, 0, 0},
        {"0204FFFFFFFE", integer, 0, static_cast<uint32_t>(-2)},
        {"020480000000", integer, 0, 0x80000000u},
        {"02050080000000", integer, 3, 0},
        {"040101", integer, 3, 0},
        {"420101", integer, 3, 0},
        {"0500", null, 0, 0},
        {"050100", null, 3, 0},
        {"0400", null, 3, 0},
        {"40040A000001", asxDecodeIpAddress, 0, 0x0A000001u},
        {"40030A0001", asxDecodeIpAddress, 3, 0},
        {"40050A00000102", asxDecodeIpAddress, 3, 0},
        {"04040A000001", asxDecodeIpAddress, 3, 0},
    };
    for (const auto &r : rows) {
        Tree t{node(hex(r.octets))};
        uint32_t v = r.result ? 12345 : 0;
        EXPECT_EQ(r.decode(t.node, &v), r.result) << r.octets;
        EXPECT_EQ(v, r.result ? 12345 : r.value) << r.octets;
    }
    uint32_t v;
    EXPECT_EQ(asxDecodeUnsigned(nullptr, &v), 3);
}

// Octets need the room of their length, segments are joined; identifier texts count their
// terminator and are never written past the caller's size.
TEST(AsxDecode, OctetsIdentifiersAndAddressTexts) {
    uint8_t buf[8] = {};
    int16_t len = 2;
    Tree abc{node(hex("0403616263"))}, opaque{node(hex("440161"))};
    Tree seg{asnNewConstructed(0, 4, ASN_SEQUENCEOF)};
    EXPECT_EQ(asxDecodeOctetString(abc.node, buf, &len), 3);
    EXPECT_EQ(len, 2);
    EXPECT_EQ(asxDecodeOctetString(opaque.node, buf, &len), 3);
    for (const char *part : {"04026162", "04026364"}) {
        Tree t{node(hex(part))};
        ASSERT_EQ(asnAppend(seg.node, t.node), 0);
    }
    len = 8;
    EXPECT_EQ(asxDecodeOctetString(seg.node, buf, &len), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), static_cast<size_t>(len)), "abcd");

    Tree oid{asxEncodeObjectId("1.3.6.1.2.1")};
    char text[16];
    for (int16_t size : {12, 11}) {
        std::memset(text, 'x', sizeof text);
        len = size;
        EXPECT_EQ(asxDecodeObjectId(oid.node, text, &len), size == 12 ? 0 : 3);
        EXPECT_EQ(std::string(text, 12),
                  size == 12 ? std::string("1.3.6.1.2.1\0", 12) : std::string(12, 'x'));
    }
    EXPECT_EQ(asxDecodeObjectId(abc.node, text, &len), 3);
    // 1024 content octets are accepted by the length check, 1025 are not.
    Bytes big(1025, 0x01);
    big[0] = 0x2B;
    std::vector<char> room(8192);
    for (int n : {1024, 1025}) {
        Tree t{asnNewObjectId(0, 6, big.data(), n)};
        len = 8192;
        EXPECT_EQ(asxDecodeObjectId(t.node, room.data(), &len), n == 1024 ? 0 : 3);
        EXPECT_EQ(len, n == 1024 ? 3 + 2 * 1023 : 8192);
    }

    uint32_t v = 0;
    EXPECT_EQ(asxIpAddressToByte(buf, 3, 0x7F000001u), -1);
    EXPECT_EQ(asxIpAddressToByte(buf, 4, 0xC0A80102u), 4);
    EXPECT_EQ(Bytes(buf, buf + 4), hex("C0A80102"));
    EXPECT_EQ(asxByteToIpAddress(&v, buf, 3), -1);
    EXPECT_EQ(asxByteToIpAddress(&v, buf, 4), 4);
    EXPECT_EQ(v, 0xC0A80102u);
    EXPECT_EQ(asxIpAddressToText(text, 12, v), 11);
    EXPECT_STREQ(text, "192.168.1.2");
    EXPECT_LT(asxIpAddressToText(text, 11, v), 0);
    EXPECT_EQ(asxTextToIpAddress(&v, "10.0.0.1"), 4);
    EXPECT_EQ(v, 0x0A000001u);
    for (const char *bad : {"10.0.1", "10.0.0.256"})
        EXPECT_EQ(asxTextToIpAddress(&v, bad), -1);
    EXPECT_EQ(v, 0x0A000001u);
}

} // namespace
