#include "asn/asn.h"
#include "platform/log.h"
#include "tests/ber_craft.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ber::Bytes;
using ber::cat;
using ber::hex;

// A GetRequest (or another PDU) with version 0, an empty community and request id 1 around
// the given binding-list content; with short lengths the list content starts at octet 20.
Bytes req(const Bytes &list, unsigned char pdu = 0xA0) {
    return ber::message("", pdu, 1, 0, 0, {list});
}
Bytes req(const char *list, unsigned char pdu = 0xA0) {
    return req(hex(list), pdu);
}
// A message of version 0 and an empty community around a PDU of this tag and content.
Bytes msg(unsigned char pdu, const char *content) {
    return ber::tlv(0x30, cat({hex("020100 0400"), ber::tlv(pdu, hex(content))}));
}
// A GetRequest with one binding of the name 1.3 and this value.
Bytes val(const Bytes &value) {
    return req(ber::varBind("1.3", value));
}
Bytes val(const char *value) {
    return val(hex(value));
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

struct Tree {
    AsnNode *node = asnNew(0);
    ~Tree() { asnFree(node); }
};

const Bytes GET_REQUEST = hex("3012 020100 0400 A00B 020101 020100 020100 3000");
const Bytes BIG = cat({hex("048180"), Bytes(128, 0x61)}); // a value of the long length form
const char *EVERY_KIND = "3006 06012B 020185  3008 06012B 0403616263  3005 06012B 0500"
                         "3008 06012B 06032B0601  3009 06012B 40047F000001"
                         "300A 06012B 410500FFFFFFFF  3006 06012B 420100"
                         "3007 06012B 43020100  3007 06012B 44020102";

// The decoder against its edge cases: the status of the whole message and the octet that
// gave it (for status 1, -1 stands for the last octet).
TEST(AsnDecode, EdgeCases) {
    const struct {
        const char *name;
        Bytes octets;
        int status, at;
    } rows[] = {
        {"get request", GET_REQUEST, 1, -1},
        {"null binding", val("0500"), 1, -1},
        {"null with content", val("050100"), 2, 27},
        {"content below the version's bound", hex("3011"), 2, 1},
        {"empty binding", req("3000"), 2, 20},
        {"binding of length 0", req("3000 0500 0500"), 2, 21},
        {"non-minimal 00 7F", msg(0xA0, "0202007F 020100 020100 3000"), 2, 12},
        {"non-minimal FF 80", msg(0xA0, "0202FF80 020100 020100 3000"), 2, 12},
        {"minimal 00 80", msg(0xA0, "02020080 020100 020100 3000"), 1, -1},
        {"minimal FF 7F", msg(0xA0, "0202FF7F 020100 020100 3000"), 1, -1},
        {"empty request-id", msg(0xA0, "0200 020100 020100 3007 3005 06012B 0500"), 2, 10},
        {"empty TimeTicks at its end signal", val("4300"), 2, 26},
        {"empty Counter at its length", req("3007 06012B 4100 0500"), 2, 26},
        {"TimeTicks", val("430100"), 1, -1},
        {"empty name", req("3004 0600 0500"), 1, -1},
        {"unfinished name", req("3006 06022B86 0500"), 2, 25},
        {"unfinished value", val("06022B86"), 2, 28},
        {"IpAddress of 3", val("40030A0001"), 2, 26},
        {"IpAddress of 4", val("40040A000001"), 1, -1},
        {"length 83", hex("3083000014"), 2, 1},
        {"length FF", hex("30FF"), 2, 1},
        {"length FF inside", val("04FF"), 2, 26},
        {"81 01 accepted", hex("3013 02810100 0400 A00B 020101 020100 020100 3000"), 1, -1},
        {"82 00 0B as the last 15 octets",
         hex("3014 020100 0400 A282000B 020101 020100 020100 3000"), 2, 8},
        {"82 00 12 with a binding",
         hex("301B 020100 0400 A2820012 020101 020100 020100 3007 3005 06012B 0500"), 1, -1},
        {"long-form PDU as the last 14 octets",
         hex("3013 020100 0400 A0810B 020101 020100 020100 3000"), 2, 8},
        {"one octet longer than its components",
         cat({hex("3013"), {GET_REQUEST.begin() + 2, GET_REQUEST.end()}, {0}}), 2, 8},
        {"whole message indefinite",
         cat({hex("3080"), {GET_REQUEST.begin() + 2, GET_REQUEST.end()}, {0, 0}}), 1, -1},
        {"indefinite primitive", hex("3012 020100 0480"), 2, 6},
        {"one definite segment", val("2404 04026162"), 1, -1},
        {"two definite segments", val("2408 04026162 04026364"), 2, 28},
        {"two indefinite segments", val("2480 04026162 04026364 0000"), 1, -1},
        {"indefinite, second end octet missing", val("2480 04026162 0001"), 2, 32},
        {"definite segment holding indefinite", val("240C 2480 04026162 04026364 0000"), 1, -1},
        // The long length form must not bring in the last-component rule before the length is
        // known, also inside an indefinite parent; in a definite value the rule still holds.
        {"long first segment", val(cat({hex("2480"), BIG, hex("040163 0000")})), 1, -1},
        {"long first segment, one only", val(cat({hex("2480"), BIG, hex("0000")})), 1, -1},
        {"long value, indefinite binding",
         req(cat({hex("3080 06012B"), BIG, hex("0000 3005 06012B 0500")})), 1, -1},
        {"long first of two definite", val(cat({hex("248186"), BIG, hex("040163")})), 2, 34},
        // An indefinite element needs room for its two end-of-contents octets where it stands.
        {"room for one end octet", req("3006 06012B 2480 04"), 2, 26},
        {"room for both, nothing inside", req("3007 06012B 2480 0000"), 1, -1},
        {"content past the enclosing element", req("3007 06012B 2480 0400 0000"), 2, 28},
        {"spare octet after the value", req("3006 06012B 0500 05"), 2, 27},
        {"unknown PDU", req("", 0xA5), 2, 7},
        {"missing component", hex("3080 020100 0400 0000"), 2, 7},
        {"empty message", hex("3000"), 2, 1},
        {"response with every kind", req(EVERY_KIND, 0xA2), 1, -1},
        {"get-next", req(EVERY_KIND, 0xA1), 1, -1},
        {"set", req(EVERY_KIND, 0xA3), 1, -1},
        {"trap", msg(0xA4, "06022B06 40040A000001 020106 020101 430100 3007 3005 06012B 0500"), 1,
         -1},
        {"trap, no bindings", msg(0xA4, "0600 40040A000001 020106 020101 430100 3000"), 1, -1},
        {"trap, address of 3", msg(0xA4, "0600 40030A0001 020106 020101 430100 3000"), 2, 12},
    };
    for (const auto &r : rows) {
        Tree t;
        Fed f = feed(t.node, r.octets);
        EXPECT_EQ(f.status, r.status) << r.name;
        EXPECT_EQ(f.at, r.at < 0 ? static_cast<int>(r.octets.size()) - 1 : r.at) << r.name;
        EXPECT_EQ(asnHeader(t.node)->status, r.status) << r.name;
    }
    // Every seed of the decoder's fuzz corpus is a complete message.
    for (const char *s : {"get_request", "get_request_empty", "get_next_request",
                          "get_response_error", "get_response_every_kind", "set_request", "trap",
                          "indefinite_response", "long_segment"}) {
        std::string text = testing_support::readFile(std::string(SOURCE_DIR) +
                                                     "/fuzz/corpus/asn_decode_fuzz/" + s);
        ASSERT_FALSE(text.empty()) << s;
        Tree t;
        Fed f = feed(t.node, Bytes(text.begin(), text.end()));
        EXPECT_EQ(f.status, 1) << s;
        EXPECT_EQ(f.at, static_cast<int>(text.size()) - 1) << s;
    }
}

// A decoded tree re-encodes in the definite form and its parts can be appended to a built
// tree; an indefinite one has its end octets behind its content, so nothing may be appended.
TEST(AsnDecode, DecodedTreesEncodeAndAppend) {
    Tree t, indefinite;
    ASSERT_EQ(feed(t.node, GET_REQUEST).status, 1);
    ASSERT_EQ(
        feed(indefinite.node, hex("3080 020100 0400 A00B 020101 020100 020100 3000 0000")).status,
        1);
    EXPECT_EQ(asnChildCount(t.node), 3);
    EXPECT_EQ(asnKind(t.node), ASN_SEQUENCE);
    uint8_t out[64];
    for (AsnNode *n : {t.node, indefinite.node}) {
        ASSERT_EQ(asnEncode(n, out, 64), 20);
        EXPECT_EQ(Bytes(out, out + 20), GET_REQUEST);
    }
    AsnNode *pdu = asnComponent(t.node, 3);
    AsnNode *seq = asnNewConstructed(0, 16, ASN_SEQUENCE);
    ASSERT_EQ(asnAppend(seq, pdu), 0);
    ASSERT_EQ(asnEncode(seq, out, 64), 15);
    EXPECT_EQ(Bytes(out, out + 15), hex("300D A00B 020101 020100 020100 3000"));
    EXPECT_EQ(asnAppend(indefinite.node, pdu), 3);
    asnFree(seq);
    asnFree(pdu);
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
    AsnNode *message = asnNewConstructed(0, 16, ASN_SEQUENCE);
    for (AsnNode *n : {asnNewInteger(0, 2, 0), asnNewOctetString(0, 4, nullptr, 0), pdu})
        append(message, n);
    Bytes out(4096);
    ASSERT_EQ(asnEncode(message, out.data(), 4096), 2048);
    out.resize(2048);
    EXPECT_EQ(out, m);
    EXPECT_EQ(asnDescendants(message), 1018);
    asnFree(message);
}

// The octet that finds no room is not stored; a final status stays; a prefix needs more.
TEST(AsnDecode, OutOfRoomFinalStatusAndTruncation) {
    Tree t;
    AsnHeader *h = asnHeader(t.node);
    int room = h->bytesLeft; // a community too long for the capacity, two records below the root
    Fed r = feed(t.node, hex("30827FF0 020100 04827F00"));
    EXPECT_EQ(r.status, 0);
    int fed = 11, status = 0;
    for (; status == 0 && fed < 40000; fed++)
        status = asnDecode(t.node, 0x41);
    EXPECT_EQ(status, 3);
    EXPECT_EQ(fed - 1, room - 2 * ASN_SLOT);
    EXPECT_EQ(h->pos, room - 2 * ASN_SLOT);
    EXPECT_EQ(asnDecode(t.node, 0x41), 3);
    EXPECT_EQ(asnDecode(nullptr, 0x30), 3);

    Tree done, bad;
    ASSERT_EQ(feed(done.node, GET_REQUEST).status, 1);
    EXPECT_EQ(asnDecode(done.node, 0x30), 1);
    EXPECT_EQ(asnHeader(done.node)->pos, 20);
    ASSERT_EQ(feed(bad.node, {0x31}).status, 2);
    EXPECT_EQ(asnDecode(bad.node, 0x30), 2);
    EXPECT_EQ(asnHeader(bad.node)->pos, 1);
    AsnNode *built = asnNewConstructed(0, 16, ASN_SEQUENCE); // reports its own status
    EXPECT_EQ(asnDecode(built, 0x30), 1);
    asnFree(built);
    for (size_t n = 1; n < GET_REQUEST.size(); n++) {
        Tree part;
        EXPECT_EQ(feed(part.node, Bytes(GET_REQUEST.begin(), GET_REQUEST.begin() + n)).status, 0);
    }
}

// The codec's one trace test: level 3 adds entry traces to level 2's, level 1 has none.
TEST(AsnDecode, TraceLevels) {
    testing_support::EventCapture capture;
    int saved = logLevel;
    std::string text[4];
    for (int level : {1, 2, 3}) {
        logLevel = level;
        Tree t, refused;
        feed(t.node, GET_REQUEST);
        feed(refused.node, hex("3085"));
        AsnNode *seq = asnNewConstructed(0, 16, ASN_SEQUENCE);
        AsnNode *five = asnNewInteger(0, 2, 5);
        asnAppend(seq, five);
        asnFree(five);
        asnFree(seq);
        text[level] = capture.joined();
        capture.messages.clear();
    }
    logLevel = saved;
    EXPECT_EQ(text[1], "");
    for (const char *line :
         {"asnLenVerify Max -1 Tot 2 Len 18 Min 20 4 ", "asnInteger1: 1\n", "asnSeq 4\n",
          "asnLen0 5\n", "item:\n[ U 2 ] INTEGER {\n\t 05\n}\nresult:\n[ U 16 ] SEQUENCE {\n"})
        EXPECT_NE(text[2].find(line), std::string::npos) << line;
    EXPECT_EQ(text[2].find("asnPush\n"), std::string::npos);
    EXPECT_EQ(asnPrint(nullptr, 0), 0);
    const char *kinds[] = {"??",       "INTEGER",     "OCTETSTRING", "OBJECTIDENTIFIER",
                           "SEQUENCE", "SEQUENCE OF", "NULL",        "??"};
    for (uint32_t k = 0; k < 8; k++)
        EXPECT_STREQ(asnKindName(k), kinds[k]);
    EXPECT_NE(text[3].find("asnPush\n"), std::string::npos);
}

} // namespace
