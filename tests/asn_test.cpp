#include "asn/asl.h"
#include "asn/asn.h"
#include "asn/asx.h"
#include "platform/log.h"
#include "tests/ber_craft.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

namespace {

using ber::Bytes;
using ber::cat;
using ber::hex;
using testing_support::words;

// Owns one reference to a tree for the test's scope; by default an empty decoding root.
struct Tree {
    AsnNode *node = asnNew(0);
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

// Values, high tag numbers and classes, and the long length form; identifier and length
// octets are refused by a buffer one octet short.
TEST(AsnEncode, Values) {
    const uint8_t oid[] = {0x2B, 0x06, 0x81, 0x01};
    const Bytes a300(300, 'a');
    // An empty identifier encodes as the decoder accepts it (06 00).
    const std::array<AsnNode *, 19> trees{
        {asnNewUnsigned(0, 2, 0), asnNewUnsigned(0, 2, 4294967295u), asnNewInteger(0, 2, -129),
         asxEncodeInteger(INT32_MIN), asxEncodeCounter(2147483648u), asxEncodeGauge(5),
         asxEncodeTimeTicks(0), asxEncodeNull(), asxEncodeIpAddress(0x0A000001u),
         asxEncodeOctetString(a300.data(), 3), asxEncodeOpaque(a300.data(), 2),
         asxEncodeObjectId("1.3.6.1.4.1.300"), asnNewObjectId(0, 6, oid, 4),
         asnNewObjectId(0, 6, nullptr, 0), asnNewInteger(3, 30, 1), asnNewInteger(0, 31, 1),
         asnNewInteger(0, 128, 1), asnNewConstructed(2, 0xFFFFFFFFu, ASN_SEQUENCE),
         asxEncodeUnsigned(127)}};
    const std::vector<std::string> octets =
        words({"020100 020500FFFFFFFF 0202FF7F 020480000000 41050080000000 420105 430100 "
               "0500 40040A000001 0403616161 44026161 06072B06010401822C 06042B068101 0600 DE0101 "
               "1F1F0101 1F81000101 BF8FFFFFFF7F00 02017F"});
    for (size_t i = 0; i < octets.size(); i++) {
        Tree t{trees[i]};
        EXPECT_EQ(encode(t.node), hex(octets[i])) << octets[i];
    }
    for (int n : {128, 300}) { // 81 80, 82 01 2C
        Tree t{asnNewOctetString(0, 4, a300.data(), n)};
        EXPECT_EQ(encode(t.node), ber::tlv(4, Bytes(a300.begin(), a300.begin() + n)));
    }
    EXPECT_EQ(asnNewObjectId(0, 6, oid + 1, 2), nullptr); // an unfinished sub-identifier
    EXPECT_EQ(asxEncodeObjectId("1.3.x"), nullptr);
    EXPECT_EQ(asxEncodeObjectId(nullptr), nullptr);
    Tree high{asnNewOctetString(0, 200, a300.data(), 300)};
    uint8_t buf[3];
    EXPECT_EQ(asnEncodeType(high.node, buf, 2), 0);
    EXPECT_EQ(asnEncodeLength(high.node, buf, 2), 0);
    EXPECT_EQ(asnEncodeType(high.node, buf, 0) + asnEncodeLength(high.node, buf, 0), 0);
}

// A PDU-shaped tree encodes in pre-order; its components are reached by index and can be
// appended elsewhere; the buffer must hold the whole encoding.
TEST(AsnAppend, NestedTreeComponentsAndValues) {
    const uint8_t name[] = {0x2B, 0x06, 0x01};
    Tree bind{asnNewConstructed(0, 16, ASN_SEQUENCE)}, list{asnNewConstructed(0, 16, ASN_SEQUENCE)};
    Tree pdu{asnNewConstructed(2, 1, ASN_SEQUENCE)}, other{asnNewConstructed(0, 16, ASN_SEQUENCE)};
    Tree rid{asnNewInteger(0, 2, 300)};
    for (AsnNode *n :
         {asnNewObjectId(0, 6, name, 3), asnNewPrimitive(0, 5, ASN_OCTETS, nullptr, 0)}) {
        EXPECT_EQ(asnAppend(bind.node, n), 0);
        asnFree(n);
    }
    ASSERT_EQ(asnAppend(list.node, bind.node), 0);
    ASSERT_EQ(asnAppend(list.node, bind.node), 0);
    ASSERT_EQ(asnAppend(pdu.node, rid.node), 0);
    ASSERT_EQ(asnAppend(pdu.node, list.node), 0);
    EXPECT_EQ(encode(pdu.node),
              hex("A118 0202012C 3012 3007 06032B0601 0500 3007 06032B0601 0500"));
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
    // Values gathered across segments; integers sign-extend.
    const uint8_t ab[] = {'a', 'b'}, cde[] = {'c', 'd', 'e'};
    Tree seq{asnNewConstructed(0, 16, ASN_SEQUENCE)}, inner{asnNewConstructed(0, 16, ASN_SEQUENCE)};
    Tree s1{asnNewOctetString(0, 4, ab, 2)}, s2{asnNewOctetString(0, 4, cde, 3)};
    ASSERT_EQ(asnAppend(inner.node, s2.node), 0);
    ASSERT_EQ(asnAppend(seq.node, s1.node), 0);
    ASSERT_EQ(asnAppend(seq.node, inner.node), 0);
    uint8_t parts[8] = {};
    EXPECT_EQ(asnGather(seq.node, parts, 5), 5);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(parts), 5), "abcde");
    std::memset(parts, 0, sizeof parts);
    EXPECT_EQ(asnGather(seq.node, parts, 4), -1); // stops at the piece too big
    EXPECT_EQ(std::string(reinterpret_cast<char *>(parts), 3), std::string("ab\0", 3));
    EXPECT_EQ(asnGather(nullptr, parts, 8), -1);
    EXPECT_EQ(asnValue(seq.node), nullptr);
    EXPECT_EQ(asnValue(nullptr), nullptr);
    // Rows "OCTETS:VALUE"; only the low 32 bits remain.
    for (const std::string &row :
         words({"80:-128 FF7F:-129 :0 0080000000:-2147483648 123456789A:878082202"})) {
        Bytes b = hex(row.substr(0, row.find(':')));
        EXPECT_EQ(asnBytesToInt(b.data(), static_cast<int>(b.size())),
                  std::stoi(row.substr(row.find(':') + 1)))
            << row;
    }
    EXPECT_EQ(asnNegative(ab), 0);
    EXPECT_EQ(asnNegative(hex("80").data()), 1);
}

// Every refusal leaves the head's tree as it was: no head, no item, a primitive or non-root
// head, the head as its own item (mended), a tree not complete, and no room.
TEST(AsnAppend, RefusalsLeaveHeadUnchanged) {
    Tree head{asnNewConstructed(0, 16, ASN_SEQUENCE)}, five{asnNewInteger(0, 2, 5)};
    Tree prim{asnNewInteger(0, 2, 7)}, inner{asnNewConstructed(0, 16, ASN_SEQUENCE)};
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

// A one-node tree with the identifier and content of the given encoding.
AsnNode *node(const Bytes &enc) {
    uint32_t tag = enc[0] & 0x1F;
    return asnNewPrimitive(enc[0] >> 6, tag, tag == 6 ? ASN_OBJECTID : ASN_OCTETS, enc.data() + 2,
                           static_cast<int>(enc.size()) - 2);
}

// Each value decoder: its result, and the value it gives on success (else it leaves it).
TEST(AsxDecode, ValuesIdentifiersAndAddressTexts) {
    const auto decode = [](char how, const AsnNode *n, uint32_t *v) {
        int32_t i = 0;
        int r = how == 'u'   ? asxDecodeUnsigned(n, v)
                : how == 'c' ? asxDecodeCounter(n, v)
                : how == 'g' ? asxDecodeGauge(n, v)
                : how == 't' ? asxDecodeTimeTicks(n, v)
                : how == 'a' ? asxDecodeIpAddress(n, v)
                : how == 'n' ? asxDecodeNull(n)
                             : asxDecodeInteger(n, &i);
        *v = r == 0 && how == 'i' ? static_cast<uint32_t>(i) : *v;
        return r;
    };
    // Rows "DECODER:OCTETS:RESULT:VALUE"; a Counter is no unsigned INTEGER; short values
    // sign-extend.
    for (const std::string &row :
         words({"u:020500FFFFFFFF:0:4294967295 u:0204FFFFFFFF:0:4294967295 u:02050100000000:3:0",
                "u:0206000000000001:3:0 u:020180:0:4294967168 u:410105:3:0 i:040101:3:0",
                "c:41050080000000:0:2147483648 g:41050080000000:3:0 t:41050080000000:3:0",
                "c:410180:0:4294967168 g:42020100:0:256 t:4300:0:0 i:0204FFFFFFFE:0:4294967294",
                "i:020480000000:0:2147483648 i:02050080000000:3:0 i:420101:3:0 n:0500:0:0",
                "n:050100:3:0 n:0400:3:0 a:40040A000001:0:167772161 a:40030A0001:3:0",
                "a:40050A00000102:3:0 a:04040A000001:3:0"})) {
        size_t at = row.find(':', 2);
        Tree t{node(hex(row.substr(2, at - 2)))};
        int result = row[at + 1] - '0';
        uint32_t v = result ? 12345 : 0;
        EXPECT_EQ(decode(row[0], t.node, &v), result) << row;
        EXPECT_EQ(v, result ? 12345 : std::stoul(row.substr(at + 3))) << row;
    }
    uint32_t v = 0;
    EXPECT_EQ(asxDecodeUnsigned(nullptr, &v), 3);
    // Octets need the room of their length, segments are joined; identifier texts count their
    // terminator and are never written past the caller's size.
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
    EXPECT_EQ(asxTextToIpAddress(&v, "10.0.0.256"), -1);
    EXPECT_EQ(v, 0x0A000001u);
}

// A GetRequest (or another PDU) with version 0, an empty community and request id 1 around
// the given binding-list content; with short lengths the list content starts at octet 20.
Bytes req(const Bytes &list, unsigned char pdu = 0xA0) {
    return ber::message("", pdu, 1, 0, 0, {list});
}

struct Fed {
    int status; // the last result
    int at;     // index of the octet that gave a result other than 0, or -1
};

Fed feed(AsnNode *root, const Bytes &octets) {
    for (size_t i = 0; i < octets.size(); i++)
        if (int status = asnDecode(root, octets[i]); status != 0)
            return {status, static_cast<int>(i)};
    return {0, -1};
}

const Bytes GET_REQUEST = hex("3012 020100 0400 A00B 020101 020100 020100 3000");

// The decoder against its edge cases. Rows "HOW/OCTETS/STATUS[@AT]": the status of the whole
// message and the octet that gave it (for status 1, the last). HOW: "=" the octets as they are,
// "v" a GetRequest with one binding of the name 1.3 and this value, "r" a GetRequest with this
// binding list, "rXX" a request of PDU tag XX, "mXX" a message around a PDU of tag XX and this
// content, "=G" the octets by grammar G (3 version 3, 4 ScopedPDU, 5 USM parameters). "BIG" is
// a value of the long length form, "*" a binding of every kind.
TEST(AsnDecode, EdgeCases) {
    const std::string
        big = "048180" + std::string(256, '6'),
        every =
            "3006 06012B 020185 3008 06012B 0403616263 3005 06012B 0500 3008 06012B 06032B0601 3009"
            "06012B 40047F000001 300A 06012B 410500FFFFFFFF 3006 06012B 420100 3007 06012B 43020100"
            "3007 06012B 44020102";
    for (const std::string &row : words(
             {"=/3012_020100_0400_A00B_020101_020100_020100_3000/1 v/0500/1 v/050100/2@27",
              "=/3011/2@1 r/3000/2@20 r/3000_0500_0500/2@21 v/4300/2@26 v/430100/1",
              "mA0/0202007F_020100_020100_3000/2@12 mA0/0202FF80_020100_020100_3000/2@12",
              "mA0/02020080_020100_020100_3000/1 mA0/0202FF7F_020100_020100_3000/1",
              "mA0/0200_020100_020100_3007_3005_06012B_0500/2@10 r/3007_06012B_4100_0500/2@26",
              "r/3004_0600_0500/1 r/3006_06022B86_0500/2@25 v/06022B86/2@28 v/40030A0001/2@26",
              "v/40040A000001/1 =/3085000014/2@1 =/30FF/2@1 v/04FF/2@26 =/3012_020100_0480/2@6",
              // Surplus length octets; a length past 16 bits is refused where it shows.
              "=/3083000012_020100_0400_A00B_020101_020100_020100_3000/1 =/3083010012/2@2",
              "=/308400000012_020100_0400_A00B_020101_020100_020100_3000/1 =/308400010012/2@3",
              "=/3013_02810100_0400_A00B_020101_020100_020100_3000/1",
              "=/3014_020100_0400_A282000B_020101_020100_020100_3000/2@8",
              "=/301B_020100_0400_A2820012_020101_020100_020100_3007_3005_06012B_0500/1",
              "=/3013_020100_0400_A0810B_020101_020100_020100_3000/2@8",
              "=/3013_020100_0400_A00B_020101_020100_020100_3000_00/2@8",
              "=/3080_020100_0400_A00B_020101_020100_020100_3000_0000/1",
              "v/2404_04026162/1 v/2408_04026162_04026364/2@28 v/2480_04026162_0001/2@32",
              "v/2480_04026162_04026364_0000/1 v/240C_2480_04026162_04026364_0000/1",
              // The long length form must not bring in the last-component rule before the length
              // is known, also inside an indefinite parent; in a definite value the rule holds.
              "v/2480_BIG_040163_0000/1 v/2480_BIG_0000/1 v/248186_BIG_040163/2@34",
              "r/3080_06012B_BIG_0000_3005_06012B_0500/1",
              // An indefinite element needs room for its two end-of-contents octets where it is.
              "r/3006_06012B_2480_04/2@26 r/3007_06012B_2480_0000/1 r/3006_06012B_0500_05/2@27",
              "r/3007_06012B_2480_0400_0000/2@28 rA5//2@7 =/3080_020100_0400_0000/2@7 =/3000/2@1",
              "rA2/*/1 rA1/*/1 rA3/*/1 mA4/0600_40030A0001_020106_020101_430100_3000/2@12",
              "mA4/06022B06_40040A000001_020106_020101_430100_3007_3005_06012B_0500/1",
              // Version 3's message, ScopedPDU and security parameters: the least of each.
              "=3/3016_020103_300D_020101_020201F4_040100_020103_0400_0400/1 "
              "=3/3014_020103_3000/2@6",
              "=3/3016_020103_300D_020101_020201F4_040100_020103_0400_0500/2@22",
              "=3/3027_020103_300D_020101_020201F4_040100_020103_0400_3011_0400_0400_A80B_020101"
              "_020100_020100_3000/1 =3/3012_020100_0400_A00B_020101_020100_020100_3000/2@1",
              "=4/3011_0400_0400_A80B_020101_020100_020100_3000/1 =4/3011_0400_0400_A4/2@6",
              "=4/3010_0400_0400_A00B/2@1 =5/300E_0400_020100_020100_0400_0400_0400/1 =5/3000/2@1",
              "=5/300E_0400_020100_020100_0400_0400_0500/2@14"})) {
        size_t a = row.find('/'), b = row.find('/', a + 1), at = row.find('@', b);
        std::string how = row.substr(0, a), text = row.substr(a + 1, b - a - 1);
        if (size_t p = text.find("BIG"); p != std::string::npos)
            text.replace(p, 3, big);
        Bytes octets = hex(text == "*" ? every : text);
        auto tag = static_cast<unsigned char>(
            how.size() > 1 ? std::stoul(how.substr(1), nullptr, 16) : 0xA0);
        if (how == "v")
            octets = req(ber::varBind("1.3", octets));
        else if (how[0] == 'r')
            octets = req(octets, tag);
        else if (how[0] == 'm')
            octets = ber::tlv(0x30, cat({hex("020100 0400"), ber::tlv(tag, octets)}));
        Tree t{asnNew(how[0] == '=' && how.size() > 1 ? int{tag} : int{ASL_GRAMMAR_V1})};
        Fed f = feed(t.node, octets);
        EXPECT_EQ(f.status, row[b + 1] - '0') << row;
        EXPECT_EQ(f.at, at == std::string::npos ? static_cast<int>(octets.size()) - 1
                                                : std::stoi(row.substr(at + 1)))
            << row;
        EXPECT_EQ(asnHeader(t.node)->status, f.status) << row;
    }
}

// The densest message of 2048 octets: 337 bindings of an empty name and a
// NULL, 1,018 records below the root. It decodes whole, and the same tree
// built bottom-up as the engine builds it encodes to the same octets.
TEST(AsnDecode, DensestMessageFitsDecodedAndBuilt) {
    Bytes list;
    for (int i = 0; i < 337; i++)
        list = cat({list, hex("3004 0600 0500")});
    const Bytes m = req(list, 0xA2);
    ASSERT_EQ(m.size(), 2048u);
    Tree t;
    EXPECT_EQ(feed(t.node, m).status, 1);
    EXPECT_EQ(asnDescendants(t.node), 1018);

    auto append = [](AsnNode *head, AsnNode *item) {
        EXPECT_EQ(asnAppend(head, item), 0);
        asnFree(item);
    };
    AsnNode *bindings = asnNewConstructed(0, 16, ASN_SEQUENCEOF);
    for (int i = 0; i < 337; i++) {
        AsnNode *vb = asnNewConstructed(0, 16, ASN_SEQUENCE);
        append(vb, asnNewObjectId(0, 6, nullptr, 0));
        append(vb, asnNewOctetString(0, 5, nullptr, 0));
        append(bindings, vb);
    }
    AsnNode *pdu = asnNewConstructed(2, 2, ASN_SEQUENCE);
    for (AsnNode *n :
         {asnNewInteger(0, 2, 1), asnNewInteger(0, 2, 0), asnNewInteger(0, 2, 0), bindings})
        append(pdu, n);
    Tree message{asnNewConstructed(0, 16, ASN_SEQUENCE)};
    for (AsnNode *n : {asnNewInteger(0, 2, 0), asnNewOctetString(0, 4, nullptr, 0), pdu})
        append(message.node, n);
    EXPECT_EQ(encode(message.node), m);
    EXPECT_EQ(asnDescendants(message.node), 1018);
}

// The octet that finds no room is not stored; a final status stays.
TEST(AsnDecode, OutOfRoomFinalStatusAndTruncation) {
    Tree t;
    AsnHeader *h = asnHeader(t.node);
    int room = h->bytesLeft; // a community too long for the capacity, two records below the root
    EXPECT_EQ(feed(t.node, hex("30827FF0 020100 04827F00")).status, 0);
    int fed = 11, status = 0;
    for (; status == 0 && fed < 40000; fed++)
        status = asnDecode(t.node, 0x41);
    EXPECT_EQ(status, 3);
    EXPECT_EQ(fed - 1, room - 2 * ASN_SLOT);
    EXPECT_EQ(h->pos, room - 2 * ASN_SLOT);
    EXPECT_EQ(asnDecode(t.node, 0x41), 3);
    EXPECT_EQ(asnDecode(nullptr, 0x30), 3);

    Tree done, bad, built{asnNewConstructed(0, 16, ASN_SEQUENCE)}, indefinite;
    ASSERT_EQ(feed(done.node, GET_REQUEST).status, 1);
    EXPECT_EQ(asnDecode(done.node, 0x30), 1);
    EXPECT_EQ(asnHeader(done.node)->pos, 20);
    ASSERT_EQ(feed(bad.node, {0x31}).status, 2);
    EXPECT_EQ(asnDecode(bad.node, 0x30), 2);
    EXPECT_EQ(asnHeader(bad.node)->pos, 1);
    EXPECT_EQ(asnDecode(built.node, 0x30), 1); // reports its own status
    // A decoded tree encodes in the definite form; nothing may be appended to an indefinite
    // one, whose end octets lie behind its content.
    Bytes open = cat({hex("3080"), {GET_REQUEST.begin() + 2, GET_REQUEST.end()}, {0, 0}});
    ASSERT_EQ(feed(indefinite.node, open).status, 1);
    EXPECT_EQ(encode(indefinite.node), GET_REQUEST);
    EXPECT_EQ(asnAppend(indefinite.node, built.node), 3);
}

// The codec's one trace test: level 3 adds entry traces to level 2's.
TEST(AsnDecode, TraceLevels) {
    testing_support::EventCapture capture;
    int saved = logLevel;
    std::string text[4];
    for (int level : {2, 3}) {
        logLevel = level;
        Tree t, refused, seq{asnNewConstructed(0, 16, ASN_SEQUENCE)}, five{asnNewInteger(0, 2, 5)};
        feed(t.node, GET_REQUEST);
        feed(refused.node, hex("3085"));
        asnAppend(seq.node, five.node);
        text[level] = capture.joined();
        capture.messages.clear();
    }
    logLevel = saved;
    for (const char *line :
         {"asnLenVerify Max -1 Tot 2 Len 18 Min 20 4 ", "asnInteger1: 1\n", "asnSeq 4\n",
          "asnLen0 5\n", "item:\n[ U 2 ] INTEGER {\n\t 05\n}\nresult:\n[ U 16 ] SEQUENCE {\n"})
        EXPECT_NE(text[2].find(line), std::string::npos) << line;
    EXPECT_EQ(text[2].find("asnPush\n"), std::string::npos);
    EXPECT_NE(text[3].find("asnPush\n"), std::string::npos);
    EXPECT_EQ(asnPrint(nullptr, 0), 0);
    EXPECT_STREQ(asnKindName(7), "??");
}

} // namespace
