#include "asn/asn.h"
#include "asn/asx.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Octets = std::vector<uint8_t>;

struct Tree {
    AsnNode *node;
    explicit Tree(AsnNode *n) : node(n) {}
    ~Tree() { asnFree(node); }
    Tree(const Tree &) = delete;
    Tree &operator=(const Tree &) = delete;
};

Octets encode(const AsnNode *node) {
    uint8_t buf[2048];
    int16_t n = asnEncode(node, buf, sizeof buf);
    return n < 0 ? Octets{} : Octets(buf, buf + n);
}

// A one-node tree with the identifier and content of the given encoding.
AsnNode *node(const Octets &enc) {
    uint32_t cls = enc[0] >> 6, tag = enc[0] & 0x1F;
    return asnNewPrimitive(cls, tag, tag == 6 ? ASN_OBJECTID : ASN_OCTETS, enc.data() + 2,
                           static_cast<int>(enc.size()) - 2);
}

TEST(AsxEncode, Vectors) {
    struct Case {
        const char *name;
        AsnNode *tree;
        Octets enc;
    };
    const uint8_t abc[] = {'a', 'b', 'c'};
    Case cases[] = {
        {"integer -2", asxEncodeInteger(-2), {0x02, 0x01, 0xFE}},
        {"integer 300", asxEncodeInteger(300), {0x02, 0x02, 0x01, 0x2C}},
        {"unsigned max",
         asxEncodeUnsigned(4294967295u),
         {0x02, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"counter 2^31", asxEncodeCounter(2147483648u), {0x41, 0x05, 0x00, 0x80, 0x00, 0x00, 0x00}},
        {"gauge 5", asxEncodeGauge(5), {0x42, 0x01, 0x05}},
        {"timeticks 0", asxEncodeTimeTicks(0), {0x43, 0x01, 0x00}},
        {"null", asxEncodeNull(), {0x05, 0x00}},
        {"ipaddress", asxEncodeIpAddress(0x0A000001u), {0x40, 0x04, 0x0A, 0x00, 0x00, 0x01}},
        {"octet string", asxEncodeOctetString(abc, 3), {0x04, 0x03, 'a', 'b', 'c'}},
        {"opaque", asxEncodeOpaque(abc, 2), {0x44, 0x02, 'a', 'b'}},
        {"object id",
         asxEncodeObjectId("1.3.6.1.4.1.300"),
         {0x06, 0x07, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x2C}},
    };
    for (auto &c : cases) {
        Tree t(c.tree);
        ASSERT_NE(t.node, nullptr) << c.name;
        EXPECT_EQ(encode(t.node), c.enc) << c.name;
    }
    Tree null(asxEncodeNull());
    EXPECT_EQ(asnKind(null.node), ASN_OCTETS);
    EXPECT_EQ(asxEncodeObjectId("1.3.x"), nullptr);
    EXPECT_EQ(asxEncodeObjectId(nullptr), nullptr);
}

struct UnsignedCase {
    Octets enc;
    int result;
    uint32_t value;
};

TEST(AsxDecode, UnsignedFamily) {
    const UnsignedCase plain[] = {
        {{0x02, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}, 0, 4294967295u},
        {{0x02, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}, 0, 4294967295u},
        {{0x02, 0x05, 0x01, 0x00, 0x00, 0x00, 0x00}, 3, 0},
        {{0x02, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}, 3, 0},
        {{0x02, 0x01, 0x80}, 0, 4294967168u}, // short values sign-extend
        {{0x02, 0x02, 0x00, 0x80}, 0, 128},
        {{0x41, 0x01, 0x05}, 3, 0}, // a Counter is not an unsigned INTEGER
    };
    for (const auto &c : plain) {
        Tree t(node(c.enc));
        uint32_t v = 12345;
        EXPECT_EQ(asxDecodeUnsigned(t.node, &v), c.result) << int(c.enc[1]);
        EXPECT_EQ(v, c.result == 0 ? c.value : 12345u);
    }
    Tree counter(node({0x41, 0x05, 0x00, 0x80, 0x00, 0x00, 0x00}));
    uint32_t v = 7;
    EXPECT_EQ(asxDecodeCounter(counter.node, &v), 0);
    EXPECT_EQ(v, 2147483648u);
    v = 7;
    EXPECT_EQ(asxDecodeGauge(counter.node, &v), 3);
    EXPECT_EQ(asxDecodeTimeTicks(counter.node, &v), 3);
    EXPECT_EQ(v, 7u);
    Tree neg(node({0x41, 0x01, 0x80}));
    EXPECT_EQ(asxDecodeCounter(neg.node, &v), 0);
    EXPECT_EQ(v, 4294967168u);
    Tree gauge(node({0x42, 0x02, 0x01, 0x00}));
    EXPECT_EQ(asxDecodeGauge(gauge.node, &v), 0);
    EXPECT_EQ(v, 256u);
    Tree ticks(node({0x43, 0x00}));
    EXPECT_EQ(asxDecodeTimeTicks(ticks.node, &v), 0);
    EXPECT_EQ(v, 0u);
    EXPECT_EQ(asxDecodeUnsigned(nullptr, &v), 3);
}

TEST(AsxDecode, Integer) {
    struct Case {
        Octets enc;
        int result;
        int32_t value;
    };
    const Case cases[] = {
        {{0x02, 0x04, 0xFF, 0xFF, 0xFF, 0xFE}, 0, -2},
        {{0x02, 0x01, 0x7F}, 0, 127},
        {{0x02, 0x04, 0x80, 0x00, 0x00, 0x00}, 0, INT32_MIN},
        {{0x02, 0x05, 0x00, 0x80, 0x00, 0x00, 0x00}, 3, 0},
        {{0x04, 0x01, 0x01}, 3, 0},
        {{0x42, 0x01, 0x01}, 3, 0},
    };
    for (const auto &c : cases) {
        Tree t(node(c.enc));
        int32_t v = 99;
        EXPECT_EQ(asxDecodeInteger(t.node, &v), c.result);
        EXPECT_EQ(v, c.result == 0 ? c.value : 99);
    }
    for (int32_t x : {0, 1, -1, 127, -128, 128, -129, 65535, INT32_MAX, INT32_MIN}) {
        Tree t(asxEncodeInteger(x));
        int32_t v = 0;
        EXPECT_EQ(asxDecodeInteger(t.node, &v), 0);
        EXPECT_EQ(v, x);
    }
}

TEST(AsxDecode, OctetStringRoomAndSegments) {
    Tree s(node({0x04, 0x03, 'a', 'b', 'c'}));
    uint8_t buf[8] = {};
    int16_t len = 2;
    EXPECT_EQ(asxDecodeOctetString(s.node, buf, &len), 3);
    EXPECT_EQ(len, 2);
    EXPECT_EQ(buf[0], 0);
    len = 3;
    EXPECT_EQ(asxDecodeOctetString(s.node, buf, &len), 0);
    EXPECT_EQ(len, 3);
    EXPECT_EQ(std::memcmp(buf, "abc", 3), 0);
    Tree opaque(node({0x44, 0x01, 'a'}));
    len = 8;
    EXPECT_EQ(asxDecodeOctetString(opaque.node, buf, &len), 3);
    // A constructed value (24 ...) joins its segments.
    Tree seg(asnNewConstructed(0, 4, ASN_SEQUENCEOF));
    const uint8_t ab[] = {'a', 'b'}, cd[] = {'c', 'd'};
    Tree s1(asnNewOctetString(0, 4, ab, 2)), s2(asnNewOctetString(0, 4, cd, 2));
    ASSERT_EQ(asnAppend(seg.node, s1.node), 0);
    ASSERT_EQ(asnAppend(seg.node, s2.node), 0);
    EXPECT_EQ(encode(seg.node), (Octets{0x24, 0x08, 0x04, 0x02, 'a', 'b', 0x04, 0x02, 'c', 'd'}));
    len = 8;
    EXPECT_EQ(asxDecodeOctetString(seg.node, buf, &len), 0);
    EXPECT_EQ(len, 4);
    EXPECT_EQ(std::memcmp(buf, "abcd", 4), 0);
}

TEST(AsxDecode, NullAndIpAddress) {
    Tree nul(asxEncodeNull());
    EXPECT_EQ(asxDecodeNull(nul.node), 0);
    Tree notNull(node({0x05, 0x01, 0x00}));
    EXPECT_EQ(asxDecodeNull(notNull.node), 3);
    Tree octets(node({0x04, 0x00}));
    EXPECT_EQ(asxDecodeNull(octets.node), 3);
    uint32_t v = 1;
    Tree ip(node({0x40, 0x04, 0x0A, 0x00, 0x00, 0x01}));
    EXPECT_EQ(asxDecodeIpAddress(ip.node, &v), 0);
    EXPECT_EQ(v, 0x0A000001u);
    v = 1;
    Tree ip3(node({0x40, 0x03, 0x0A, 0x00, 0x01}));
    EXPECT_EQ(asxDecodeIpAddress(ip3.node, &v), 3);
    Tree ip5(node({0x40, 0x05, 0x0A, 0x00, 0x00, 0x01, 0x02}));
    EXPECT_EQ(asxDecodeIpAddress(ip5.node, &v), 3);
    Tree wrong(node({0x04, 0x04, 0x0A, 0x00, 0x00, 0x01}));
    EXPECT_EQ(asxDecodeIpAddress(wrong.node, &v), 3);
    EXPECT_EQ(v, 1u);
}

TEST(AsxDecode, ObjectIdTextAndBounds) {
    Tree t(asxEncodeObjectId("1.3.6.1.2.1"));
    ASSERT_NE(t.node, nullptr);
    char text[64];
    int16_t len = sizeof text;
    EXPECT_EQ(asxDecodeObjectId(t.node, text, &len), 0);
    EXPECT_STREQ(text, "1.3.6.1.2.1");
    EXPECT_EQ(len, 11);
    // The size counts the terminator: 12 bytes hold the text, 11 do not.
    std::memset(text, 'x', sizeof text);
    len = 12;
    EXPECT_EQ(asxDecodeObjectId(t.node, text, &len), 0);
    EXPECT_EQ(len, 11);
    std::memset(text, 'x', sizeof text);
    len = 11;
    EXPECT_EQ(asxDecodeObjectId(t.node, text, &len), 3);
    EXPECT_EQ(len, 11);
    EXPECT_EQ(text[11], 'x'); // never past the caller's buffer
    // 1024 content octets are accepted by the length check, 1025 are not.
    Octets big(1025, 0x01);
    big[0] = 0x2B;
    Tree ok(asnNewObjectId(0, 6, big.data(), 1024));
    Tree over(asnNewObjectId(0, 6, big.data(), 1025));
    std::vector<char> room(8192);
    len = static_cast<int16_t>(room.size());
    EXPECT_EQ(asxDecodeObjectId(ok.node, room.data(), &len), 0);
    EXPECT_EQ(len, 3 + 2 * 1023);
    len = static_cast<int16_t>(room.size());
    EXPECT_EQ(asxDecodeObjectId(over.node, room.data(), &len), 3);
    Tree octets(node({0x04, 0x01, 0x2B}));
    len = sizeof text;
    EXPECT_EQ(asxDecodeObjectId(octets.node, text, &len), 3);
}

TEST(AsxIpAddress, BytesAndText) {
    uint8_t buf[4] = {};
    EXPECT_EQ(asxIpAddressToByte(buf, 3, 0x7F000001u), -1);
    EXPECT_EQ(asxIpAddressToByte(buf, 4, 0xC0A80102u), 4);
    EXPECT_EQ(Octets(buf, buf + 4), (Octets{192, 168, 1, 2}));
    uint32_t v = 0;
    EXPECT_EQ(asxByteToIpAddress(&v, buf, 3), -1);
    EXPECT_EQ(v, 0u);
    EXPECT_EQ(asxByteToIpAddress(&v, buf, 4), 4);
    EXPECT_EQ(v, 0xC0A80102u);
    char text[16];
    EXPECT_EQ(asxIpAddressToText(text, sizeof text, 0xC0A80102u), 11);
    EXPECT_STREQ(text, "192.168.1.2");
    // The size counts the terminator.
    EXPECT_EQ(asxIpAddressToText(text, 12, 0xC0A80102u), 11);
    EXPECT_LT(asxIpAddressToText(text, 11, 0xC0A80102u), 0);
    EXPECT_EQ(asxTextToIpAddress(&v, "10.0.0.1"), 4);
    EXPECT_EQ(v, 0x0A000001u);
    EXPECT_EQ(asxTextToIpAddress(&v, "10.0.1"), -1);
    EXPECT_EQ(asxTextToIpAddress(&v, "10.0.0.256"), -1);
    EXPECT_EQ(v, 0x0A000001u);
}

} // namespace
