#include "asn/asl.h"
#include "asn/asn.h"
#include "asn/decode.h"
#include "platform/log.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

using Octets = std::vector<uint8_t>;

Octets cat(std::initializer_list<Octets> parts) {
    Octets out;
    for (const auto &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Identifier, shortest definite length, content.
Octets tlv(uint8_t tag, const Octets &content) {
    Octets out{tag};
    size_t n = content.size();
    if (n < 128) {
        out.push_back(static_cast<uint8_t>(n));
    } else if (n < 256) {
        out.push_back(0x81);
        out.push_back(static_cast<uint8_t>(n));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<uint8_t>(n >> 8));
        out.push_back(static_cast<uint8_t>(n));
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

const Octets VERSION = {0x02, 0x01, 0x00};
const Octets COMMUNITY = {0x04, 0x00};
const Octets RID = {0x02, 0x01, 0x01};
const Octets ZERO = {0x02, 0x01, 0x00};

// A message with version 0, an empty community and a request PDU; with short
// lengths the bindings start at octet 20.
Octets request(const Octets &bindings, uint8_t pduTag = 0xA0, const Octets &rid = RID) {
    return tlv(0x30,
               cat({VERSION, COMMUNITY, tlv(pduTag, cat({rid, ZERO, ZERO, tlv(0x30, bindings)}))}));
}

Octets binding(const Octets &value) {
    return tlv(0x30, cat({{0x06, 0x01, 0x2B}, value}));
}

Octets repeat(size_t n, uint8_t octet) {
    return Octets(n, octet);
}

struct Fed {
    int status; // the last result
    int at;     // index of the octet that gave a result other than 0, or -1
};

Fed feed(AsnNode *root, const Octets &octets) {
    Fed r{0, -1};
    for (size_t i = 0; i < octets.size(); i++) {
        r.status = asnDecode(root, octets[i]);
        if (r.status != 0) {
            r.at = static_cast<int>(i);
            break;
        }
    }
    return r;
}

struct Tree {
    AsnNode *node;
    Tree() : node(asnNew(0)) {}
    ~Tree() { asnFree(node); }
    Tree(const Tree &) = delete;
    Tree &operator=(const Tree &) = delete;
};

struct DecodeCase {
    const char *name;
    Octets octets;
    int status;
    int at; // for status 1 the last octet's index; -1 means octets.size() - 1
};

void runCases(const std::vector<DecodeCase> &cases) {
    for (const auto &c : cases) {
        Tree t;
        ASSERT_NE(t.node, nullptr);
        Fed r = feed(t.node, c.octets);
        int at = c.at < 0 ? static_cast<int>(c.octets.size()) - 1 : c.at;
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(r.at, at) << c.name;
        EXPECT_EQ(asnHeader(t.node)->status, c.status) << c.name;
    }
}

const Octets GET_REQUEST = {0x30, 0x12, 0x02, 0x01, 0x00, 0x04, 0x00, 0xA0, 0x0B, 0x02,
                            0x01, 0x01, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x00};

TEST(AsnDecode, GetRequestRecords) {
    ASSERT_EQ(request({}), GET_REQUEST);
    Tree t;
    for (size_t i = 0; i + 1 < GET_REQUEST.size(); i++)
        ASSERT_EQ(asnDecode(t.node, GET_REQUEST[i]), 0) << i;
    ASSERT_EQ(asnDecode(t.node, GET_REQUEST.back()), 1);
    struct Rec {
        uint32_t tagClass, tag, kind;
        int16_t total, contentLen, valueLen, valueOffset;
        uint16_t descendants;
        int parentPosition; // -1 for the root
    };
    const Rec recs[] = {
        {0, 16, 4, 20, 18, 4, 2, 7, -1}, {0, 2, 1, 3, 1, 1, 4, 0, 0},
        {0, 4, 2, 2, 0, 0, 7, 0, 0},     {2, 0, 4, 13, 11, 3, 9, 4, 0},
        {0, 2, 1, 3, 1, 1, 11, 0, 3},    {0, 2, 1, 3, 1, 1, 14, 0, 3},
        {0, 2, 1, 3, 1, 1, 17, 0, 3},    {0, 16, 5, 2, 0, 0, 20, 0, 3},
    };
    AsnHeader *h = asnHeader(t.node);
    int n = h->current;
    EXPECT_EQ(h->depth, 0);
    EXPECT_EQ(h->pos, 20);
    EXPECT_EQ(h->lowest, n - 7);
    EXPECT_EQ(h->bytesLeft, n * ASN_SLOT - 20 - 7 * ASN_SLOT);
    for (int i = 0; i < 8; i++) {
        AsnNode *c = asnComponent(t.node, i);
        ASSERT_NE(c, nullptr);
        const Rec &r = recs[i];
        EXPECT_EQ(c->tagClass, r.tagClass) << i;
        EXPECT_EQ(c->tagNumber, r.tag) << i;
        EXPECT_EQ(c->kind, r.kind) << i;
        EXPECT_EQ(c->total, r.total) << i;
        EXPECT_EQ(c->contentLen, r.contentLen) << i;
        EXPECT_EQ(c->valueLen, r.valueLen) << i;
        EXPECT_EQ(c->valueOffset, r.valueOffset) << i;
        EXPECT_EQ(c->descendants, r.descendants) << i;
        EXPECT_EQ(c->parent, r.parentPosition < 0 ? 0 : n - r.parentPosition) << i;
        EXPECT_EQ(c->toHeader, i + 1) << i;
        EXPECT_EQ(c->flags & ASN_FLAG_CONSTRUCTED, (r.kind >= 4) ? ASN_FLAG_CONSTRUCTED : 0) << i;
        EXPECT_NE(c->descriptor, 0) << i;
        asnFree(c);
    }
    EXPECT_EQ(asnChildCount(t.node), 3);
    // A decoded tree re-encodes as received and can be appended to a built one.
    uint8_t out[64];
    ASSERT_EQ(asnEncode(t.node, out, 64), 20);
    EXPECT_EQ(Octets(out, out + 20), GET_REQUEST);
    AsnNode *pdu = asnComponent(t.node, 3);
    AsnNode *seq = asnNewConstructed(0, 16, ASN_SEQUENCE);
    ASSERT_EQ(asnAppend(seq, pdu), 0);
    ASSERT_EQ(asnEncode(seq, out, 64), 15);
    EXPECT_EQ(Octets(out, out + 15),
              cat({{0x30, 0x0D}, Octets(GET_REQUEST.begin() + 7, GET_REQUEST.end())}));
    asnFree(seq);
    asnFree(pdu);
}

TEST(AsnDecode, EdgeCases) {
    runCases({
        {"get request", GET_REQUEST, 1, -1},
        {"null binding", request(binding({0x05, 0x00})), 1, -1},
        {"null with content", request(binding({0x05, 0x01, 0x00})), 2, 27},
        {"content below the version's bound", {0x30, 0x11}, 2, 1},
        {"empty binding", request({0x30, 0x00}), 2, 20},
        {"binding of length 0", request({0x30, 0x00, 0x05, 0x00, 0x05, 0x00}), 2, 21},
        {"non-minimal 00 7F", request({}, 0xA0, {0x02, 0x02, 0x00, 0x7F}), 2, 12},
        {"non-minimal FF 80", request({}, 0xA0, {0x02, 0x02, 0xFF, 0x80}), 2, 12},
        {"minimal 00 80", request({}, 0xA0, {0x02, 0x02, 0x00, 0x80}), 1, -1},
        {"minimal FF 7F", request({}, 0xA0, {0x02, 0x02, 0xFF, 0x7F}), 1, -1},
        {"empty request-id", request(binding({0x05, 0x00}), 0xA0, {0x02, 0x00}), 2, 10},
        {"empty TimeTicks at its end signal", request(binding({0x43, 0x00})), 2, 26},
        {"empty Counter at its length", request(binding({0x41, 0x00, 0x05, 0x00})), 2, 26},
        {"TimeTicks", request(binding({0x43, 0x01, 0x00})), 1, -1},
        {"empty name", request(tlv(0x30, {0x06, 0x00, 0x05, 0x00})), 1, -1},
        {"unfinished name", request(tlv(0x30, {0x06, 0x02, 0x2B, 0x86, 0x05, 0x00})), 2, 25},
        {"unfinished value", request(binding({0x06, 0x02, 0x2B, 0x86})), 2, 28},
        {"IpAddress of 3", request(binding({0x40, 0x03, 0x0A, 0x00, 0x01})), 2, 26},
        {"IpAddress of 4", request(binding({0x40, 0x04, 0x0A, 0x00, 0x00, 0x01})), 1, -1},
        {"length 83", {0x30, 0x83, 0x00, 0x00, 0x14}, 2, 1},
        {"length FF", {0x30, 0xFF}, 2, 1},
        {"length FF inside", request(binding({0x04, 0xFF})), 2, 26},
        {"81 01 accepted",
         tlv(0x30, cat({{0x02, 0x81, 0x01, 0x00},
                        COMMUNITY,
                        tlv(0xA0, cat({RID, ZERO, ZERO, {0x30, 0x00}}))})),
         1, -1},
        {"82 00 0B as the last 15 octets",
         tlv(0x30,
             cat({VERSION, COMMUNITY, {0xA2, 0x82, 0x00, 0x0B}, RID, ZERO, ZERO, {0x30, 0x00}})),
         2, 8},
        {"82 00 12 with a binding",
         tlv(0x30, cat({VERSION,
                        COMMUNITY,
                        {0xA2, 0x82, 0x00, 0x12},
                        RID,
                        ZERO,
                        ZERO,
                        tlv(0x30, binding({0x05, 0x00}))})),
         1, -1},
        {"indefinite primitive", {0x30, 0x12, 0x02, 0x01, 0x00, 0x04, 0x80}, 2, 6},
        {"one definite segment", request(binding({0x24, 0x04, 0x04, 0x02, 0x61, 0x62})), 1, -1},
        {"two definite segments",
         request(binding({0x24, 0x08, 0x04, 0x02, 0x61, 0x62, 0x04, 0x02, 0x63, 0x64})), 2, 28},
        {"two indefinite segments",
         request(binding({0x24, 0x80, 0x04, 0x02, 0x61, 0x62, 0x04, 0x02, 0x63, 0x64, 0x00, 0x00})),
         1, -1},
        {"indefinite segments missing the second end octet",
         request(binding({0x24, 0x80, 0x04, 0x02, 0x61, 0x62, 0x00, 0x01})), 2, 32},
        {"message one octet longer than its components",
         cat({{0x30, 0x13}, Octets(GET_REQUEST.begin() + 2, GET_REQUEST.end()), {0x00}}), 2, 8},
        {"spare octet after the value", request({0x30, 0x06, 0x06, 0x01, 0x2B, 0x05, 0x00, 0x05}),
         2, 27},
        {"long-form PDU as the last 14 octets",
         tlv(0x30, cat({VERSION, COMMUNITY, {0xA0, 0x81, 0x0B}, RID, ZERO, ZERO, {0x30, 0x00}})), 2,
         8},
        {"unknown PDU", request({}, 0xA5), 2, 7},
        {"missing component", {0x30, 0x80, 0x02, 0x01, 0x00, 0x04, 0x00, 0x00, 0x00}, 2, 7},
        {"empty message", {0x30, 0x00}, 2, 1},
    });
}

TEST(AsnDecode, EveryValueKindAndTrap) {
    Octets values = cat(
        {binding({0x02, 0x01, 0x85}), binding({0x04, 0x03, 'a', 'b', 'c'}), binding({0x05, 0x00}),
         binding({0x06, 0x03, 0x2B, 0x06, 0x01}), binding({0x40, 0x04, 0x7F, 0x00, 0x00, 0x01}),
         binding({0x41, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}), binding({0x42, 0x01, 0x00}),
         binding({0x43, 0x02, 0x01, 0x00}), binding({0x44, 0x02, 0x01, 0x02})});
    Octets trap = tlv(0x30, cat({VERSION, COMMUNITY,
                                 tlv(0xA4, cat({{0x06, 0x02, 0x2B, 0x06},
                                                {0x40, 0x04, 0x0A, 0x00, 0x00, 0x01},
                                                {0x02, 0x01, 0x06},
                                                {0x02, 0x01, 0x01},
                                                {0x43, 0x01, 0x00},
                                                tlv(0x30, binding({0x05, 0x00}))}))}));
    Octets trapNoBindings = tlv(0x30, cat({VERSION, COMMUNITY,
                                           tlv(0xA4, cat({{0x06, 0x00},
                                                          {0x40, 0x04, 0x0A, 0x00, 0x00, 0x01},
                                                          {0x02, 0x01, 0x06},
                                                          {0x02, 0x01, 0x01},
                                                          {0x43, 0x01, 0x00},
                                                          {0x30, 0x00}}))}));
    runCases({
        {"response with every kind", request(values, 0xA2), 1, -1},
        {"get-next", request(values, 0xA1), 1, -1},
        {"set", request(values, 0xA3), 1, -1},
        {"trap", trap, 1, -1},
        {"trap without bindings", trapNoBindings, 1, -1},
        {"trap with a short agent address",
         tlv(0x30, cat({VERSION, COMMUNITY,
                        tlv(0xA4, cat({{0x06, 0x00},
                                       {0x40, 0x03, 0x0A, 0x00, 0x01},
                                       {0x02, 0x01, 0x06},
                                       {0x02, 0x01, 0x01},
                                       {0x43, 0x01, 0x00},
                                       {0x30, 0x00}}))})),
         2, 12},
    });
}

TEST(AsnDecode, WholeMessageIndefinite) {
    Octets m = {0x30, 0x80};
    m.insert(m.end(), GET_REQUEST.begin() + 2, GET_REQUEST.end());
    m.push_back(0x00);
    m.push_back(0x00);
    Tree t;
    Fed r = feed(t.node, m);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.at, static_cast<int>(m.size()) - 1);
    EXPECT_EQ(t.node->contentLen, 18); // 3 + 2 + 13
    EXPECT_EQ(t.node->total, 22);
    EXPECT_EQ(t.node->descendants, 7);
    EXPECT_TRUE(t.node->flags & ASN_FLAG_INDEFINITE);
    EXPECT_FALSE(t.node->flags & ASN_FLAG_DEFINITE);
    // It re-encodes in the definite form with the same content.
    uint8_t out[64];
    ASSERT_EQ(asnEncode(t.node, out, 64), 20);
    EXPECT_EQ(Octets(out, out + 20), GET_REQUEST);
    // The end-of-contents octets stand behind its content: nothing may be appended.
    AsnNode *item = asnNewInteger(0, 2, 1);
    EXPECT_EQ(asnAppend(t.node, item), 3);
    asnFree(item);
}

// Mended: the long length form must not bring in the last-component rule
// before the length is known, also inside an indefinite parent.
TEST(AsnDecode, LongFormInsideIndefinite) {
    Octets big = cat({{0x04, 0x81, 0x80}, repeat(128, 0x61)});
    Octets segments = cat({{0x24, 0x80}, big, {0x04, 0x01, 0x63, 0x00, 0x00}});
    Octets indefiniteBinding = cat({{0x30, 0x80, 0x06, 0x01, 0x2B}, big, {0x00, 0x00}});
    runCases({
        {"long first segment", request(binding(segments)), 1, -1},
        {"long first segment, one only", request(binding(cat({{0x24, 0x80}, big, {0x00, 0x00}}))),
         1, -1},
        {"long value in an indefinite binding",
         request(cat({indefiniteBinding, binding({0x05, 0x00})})), 1, -1},
        {"definite segment holding an indefinite one",
         request(binding(
             {0x24, 0x0C, 0x24, 0x80, 0x04, 0x02, 0x61, 0x62, 0x04, 0x02, 0x63, 0x64, 0x00, 0x00})),
         1, -1},
        // The rule still holds in a definite value: the long first segment of two is refused
        // at its last length octet.
        {"long first of two definite segments",
         request(binding(cat({{0x24, 0x81, 0x86}, big, {0x04, 0x01, 0x63}}))), 2, 34},
    });
}

// Mended: an indefinite element needs room for its two end-of-contents octets
// where it stands; else its components would be unbounded.
TEST(AsnDecode, IndefiniteNeedsRoomForEndOctets) {
    runCases({
        {"room for one end octet", request({0x30, 0x06, 0x06, 0x01, 0x2B, 0x24, 0x80, 0x04}), 2,
         26},
        {"room for both, nothing inside",
         request({0x30, 0x07, 0x06, 0x01, 0x2B, 0x24, 0x80, 0x00, 0x00}), 1, -1},
        {"content past the enclosing element",
         request({0x30, 0x07, 0x06, 0x01, 0x2B, 0x24, 0x80, 0x04, 0x00, 0x00, 0x00}), 2, 28},
    });
}

// The densest message of 2048 octets: 337 bindings of an empty name and a
// NULL, 1,018 records below the root. It decodes whole, and the same tree
// built bottom-up as the engine builds it encodes to the same octets.
TEST(AsnDecode, DensestMessageFitsDecodedAndBuilt) {
    const Octets minimal = {0x30, 0x04, 0x06, 0x00, 0x05, 0x00};
    Octets list;
    for (int i = 0; i < 337; i++)
        list.insert(list.end(), minimal.begin(), minimal.end());
    const Octets m = request(list, 0xA2);
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
    append(pdu, asnNewInteger(0, 2, 1));
    append(pdu, asnNewInteger(0, 2, 0));
    append(pdu, asnNewInteger(0, 2, 0));
    append(pdu, bindings);
    AsnNode *message = asnNewConstructed(0, 16, ASN_SEQUENCE);
    append(message, asnNewInteger(0, 2, 0));
    append(message, asnNewOctetString(0, 4, nullptr, 0));
    append(message, pdu);
    Octets out(4096);
    ASSERT_EQ(asnEncode(message, out.data(), 4096), 2048);
    out.resize(2048);
    EXPECT_EQ(out, m);
    EXPECT_EQ(asnDescendants(message), 1018);
    asnFree(message);
}

TEST(AsnDecode, OutOfRoom) {
    // A community too long for the tree's capacity.
    Octets m = {0x30, 0x82, 0x7F, 0xF0, 0x02, 0x01, 0x00, 0x04, 0x82, 0x7F, 0x00};
    Tree t;
    AsnHeader *h = asnHeader(t.node);
    int room = h->bytesLeft;
    Fed r = feed(t.node, m);
    EXPECT_EQ(r.status, 0);
    int fed = static_cast<int>(m.size());
    int status = 0;
    while (status == 0 && fed < 40000) {
        status = asnDecode(t.node, 0x41);
        fed++;
    }
    EXPECT_EQ(status, 3);
    // Two records below the root; the octet that finds no room is not stored.
    EXPECT_EQ(fed - 1, room - 2 * ASN_SLOT);
    EXPECT_EQ(h->pos, room - 2 * ASN_SLOT);
    EXPECT_EQ(asnDecode(t.node, 0x41), 3);
    EXPECT_EQ(asnDecode(nullptr, 0x30), 3);
}

TEST(AsnDecode, StatusIsFinal) {
    Tree t;
    ASSERT_EQ(feed(t.node, GET_REQUEST).status, 1);
    AsnHeader *h = asnHeader(t.node);
    uint16_t pos = h->pos, left = h->bytesLeft;
    EXPECT_EQ(asnDecode(t.node, 0x30), 1);
    EXPECT_EQ(h->pos, pos);
    EXPECT_EQ(h->bytesLeft, left);
    Tree bad;
    ASSERT_EQ(feed(bad.node, {0x31}).status, 2);
    EXPECT_EQ(asnDecode(bad.node, 0x30), 2);
    EXPECT_EQ(asnHeader(bad.node)->pos, 1);
    // A tree that is not being decoded reports its own status.
    AsnNode *built = asnNewConstructed(0, 16, ASN_SEQUENCE);
    EXPECT_EQ(asnDecode(built, 0x30), 1);
    asnFree(built);
}

TEST(AsnDecode, TruncatedMessageNeedsMore) {
    for (size_t n = 1; n < GET_REQUEST.size(); n++) {
        Tree t;
        Fed r =
            feed(t.node, Octets(GET_REQUEST.begin(), GET_REQUEST.begin() + static_cast<long>(n)));
        EXPECT_EQ(r.status, 0) << n;
    }
}

TEST(AslGrammar, TableShape) {
    const AslEntry *root = aslGrammar(0);
    EXPECT_EQ(aslGrammar(7), root);
    EXPECT_EQ(aslKind(root), 0u);
    EXPECT_EQ(aslMinLen(root), 20);
    const AslEntry *message = aslChoice(root, 0x30);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(aslChoice(root, 0x31), nullptr);
    EXPECT_EQ(aslChoice(root, 0), nullptr);
    EXPECT_EQ(aslKind(message), ASN_SEQUENCE);
    EXPECT_EQ(aslNext(message), nullptr);
    // Component selectors and their bounds, in order.
    const AslEntry *version = aslFirst(message);
    EXPECT_EQ(aslMinLen(version), 18);
    const AslEntry *community = aslNext(aslChoice(version, 0x02));
    EXPECT_EQ(aslMinLen(community), 15);
    const AslEntry *pduSel = aslNext(aslChoice(community, 0x04));
    EXPECT_EQ(aslMinLen(pduSel), 13);
    const AslEntry *pdus[4];
    for (int i = 0; i < 4; i++) {
        pdus[i] = aslChoice(pduSel, 0xA0 + i);
        ASSERT_NE(pdus[i], nullptr);
        EXPECT_EQ(aslMinLen(pdus[i]), 12);
        EXPECT_EQ(aslNext(pdus[i]), nullptr);
        EXPECT_EQ(aslFirst(pdus[i]), aslFirst(pdus[0])); // one shared chain
    }
    const AslEntry *trap = aslChoice(pduSel, 0xA4);
    EXPECT_EQ(aslMinLen(trap), 16);
    const int16_t requestBounds[] = {11, 8, 5, 2};
    const AslEntry *sel = aslFirst(pdus[0]);
    const AslEntry *bindings = nullptr;
    for (int16_t b : requestBounds) {
        EXPECT_EQ(aslMinLen(sel), b);
        bindings = sel;
        const AslEntry *e = aslChoice(sel, b == 2 ? 0x30 : 0x02);
        ASSERT_NE(e, nullptr);
        sel = aslNext(e);
    }
    EXPECT_EQ(sel, nullptr);
    const int16_t trapBounds[] = {14, 12, 10, 7, 4};
    const uint8_t trapOctets[] = {0x06, 0x40, 0x02, 0x02, 0x43};
    sel = aslFirst(trap);
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(aslMinLen(sel), trapBounds[i]);
        sel = aslNext(aslChoice(sel, trapOctets[i]));
    }
    EXPECT_EQ(sel, bindings); // the Trap ends with the same binding list
    const AslEntry *bindingSel = aslFirst(aslChoice(bindings, 0x30));
    const AslEntry *binding = aslChoice(bindingSel, 0x30);
    EXPECT_EQ(aslMinLen(binding), 4);
    EXPECT_EQ(aslNext(binding), bindingSel);
    const AslEntry *valueSel = aslNext(aslChoice(aslFirst(binding), 0x06));
    EXPECT_EQ(aslMinLen(valueSel), 2);
    struct Alt {
        uint8_t octet;
        uint32_t kind;
        int16_t min;
    };
    const Alt alts[] = {{0x02, 1, 1}, {0x04, 2, 0}, {0x05, 6, 0}, {0x06, 3, 0}, {0x40, 2, 4},
                        {0x41, 1, 1}, {0x42, 1, 1}, {0x43, 1, 0}, {0x44, 2, 0}, {0x24, 5, 0}};
    for (const auto &a : alts) {
        const AslEntry *e = aslChoice(valueSel, a.octet);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(aslKind(e), a.kind) << int(a.octet);
        EXPECT_EQ(aslMinLen(e), a.min) << int(a.octet);
        EXPECT_EQ(aslNext(e), nullptr);
    }
    const AslEntry *segmentSel = aslFirst(aslChoice(valueSel, 0x24));
    EXPECT_EQ(aslKind(aslChoice(segmentSel, 0x04)), ASN_OCTETS);
    EXPECT_EQ(aslFirst(aslChoice(segmentSel, 0x24)), segmentSel);
    EXPECT_EQ(aslNext(aslChoice(segmentSel, 0x24)), nullptr);
    EXPECT_EQ(aslNext(aslChoice(segmentSel, 0x04)), nullptr);
}

struct TraceTest : ::testing::Test {
    EventCapture capture;
    int saved = logLevel;
    ~TraceTest() override { logLevel = saved; }
};

TEST_F(TraceTest, LevelsAndPointerFormat) {
    logLevel = 2;
    Tree t;
    feed(t.node, GET_REQUEST);
    std::string two = capture.joined();
    char expect[64];
    std::snprintf(expect, sizeof expect, "asnNew dp %" PRIXPTR "\n",
                  reinterpret_cast<uintptr_t>(t.node));
    EXPECT_NE(two.find(expect), std::string::npos);
    std::snprintf(expect, sizeof expect, "asnType0 dp %" PRIXPTR " np ",
                  reinterpret_cast<uintptr_t>(t.node));
    EXPECT_NE(two.find(expect), std::string::npos);
    EXPECT_NE(two.find("asnDecode0 bytesLeft "), std::string::npos);
    EXPECT_NE(two.find("Min 1 4 4\n"), std::string::npos);
    EXPECT_NE(two.find("asnLenVerify Max -1 Tot 2 Len 18 Min 20 4 "), std::string::npos);
    EXPECT_NE(two.find("asnInteger1: 1\n"), std::string::npos);
    EXPECT_NE(two.find("asnSeq 4\n"), std::string::npos);
    EXPECT_EQ(two.find("asnPush\n"), std::string::npos); // entry traces need level 3
    capture.messages.clear();
    logLevel = 3;
    Tree u;
    feed(u.node, GET_REQUEST);
    EXPECT_NE(capture.joined().find("asnPush\n"), std::string::npos);
    EXPECT_NE(capture.joined().find("asnPop\n"), std::string::npos);
    capture.messages.clear();
    logLevel = 1;
    Tree v;
    feed(v.node, GET_REQUEST);
    EXPECT_EQ(capture.joined(), "");
}

TEST_F(TraceTest, RefusalCodes) {
    logLevel = 2;
    Tree t;
    feed(t.node, {0x30, 0x85});
    EXPECT_NE(capture.joined().find("asnLen0 5\n"), std::string::npos);
    Tree u;
    feed(u.node, {0x30, 0x11});
    EXPECT_NE(capture.joined().find("Min 20 0 2\n"), std::string::npos);
}

} // namespace

namespace {

// Every seed of the decoder's fuzz corpus is a complete message.
TEST(AsnDecode, FuzzSeedsAreMessages) {
    const char *seeds[] = {"get_request",
                           "get_request_empty",
                           "get_next_request",
                           "get_response_error",
                           "get_response_every_kind",
                           "set_request",
                           "trap",
                           "indefinite_response",
                           "long_segment"};
    for (const char *s : seeds) {
        std::string text = readFile(std::string(SOURCE_DIR) + "/fuzz/corpus/asn_decode_fuzz/" + s);
        ASSERT_FALSE(text.empty()) << s;
        Octets m(text.begin(), text.end());
        Tree t;
        Fed r = feed(t.node, m);
        EXPECT_EQ(r.status, 1) << s;
        EXPECT_EQ(r.at, static_cast<int>(m.size()) - 1) << s;
    }
}

} // namespace
