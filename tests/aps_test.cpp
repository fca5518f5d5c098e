#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "asn/asn.h"
#include "ber_craft.h"
#include "smp/aps.h"
#include "smp/smp.h"
#include "smx/stats.h"

namespace {

using ber::Bytes;

struct ApsTest : ::testing::Test {
    void SetUp() override {
        apsInit();
        ASSERT_EQ(apsTrivialInit(), 0);
        shmLocalInit();
        smpStatWrite(SMP_STAT_ENABLE_AUTHEN_TRAPS, 2);
    }
};

// A decoded message tree of the given octets, or none.
AsnNode *decode(const Bytes &octets) {
    AsnNode *tree = asnNew(0);
    int r = 0;
    for (size_t i = 0; i < octets.size() && r == 0; ++i)
        r = asnDecode(tree, octets[i]);
    if (r != ASN_COMPLETE)
        return asnFree(tree);
    return tree;
}

Bytes getRequest(const std::string &community, int64_t version = 0) {
    Bytes pdu =
        ber::tlv(0xA0, ber::cat({ber::integer(1), ber::integer(0), ber::integer(0),
                                 ber::tlv(0x30, ber::varBind("1.3.6.1.2.1.1.1.0", ber::null()))}));
    return ber::tlv(0x30, ber::cat({ber::integer(version), ber::octets(community), pdu}));
}

TEST_F(ApsTest, HandlesAreSharedByNameAndCounted) {
    ApsRec *a = apsNew("public", "trivial", nullptr);
    ASSERT_NE(a, nullptr);
    ApsRec *b = apsNew("public", "trivial", nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->refCount, 2);
    EXPECT_EQ(apsFree(b), nullptr);
    EXPECT_EQ(apsHandles(), a); // one reference left: still listed
    EXPECT_EQ(a->refCount, 1);
    apsFree(a);
    EXPECT_EQ(apsHandles(), nullptr);
    EXPECT_EQ(apsFree(nullptr), nullptr);
}

TEST_F(ApsTest, NameLengthAndSchemeChecks) {
    ApsRec *sixteen = apsNew("0123456789abcdef", "trivial", nullptr);
    EXPECT_NE(sixteen, nullptr);
    EXPECT_EQ(apsNew("0123456789abcdefg", "trivial", nullptr), nullptr);
    EXPECT_EQ(apsNew("public", "other", nullptr), nullptr);
    EXPECT_EQ(apsNew(nullptr, "trivial", nullptr), nullptr);
    EXPECT_EQ(apsTrivialInit(), 1);
    apsFree(sixteen);
}

TEST_F(ApsTest, CommunityNodeIsAnOctetString) {
    ApsRec *h = apsNew("private", "trivial", nullptr);
    ASSERT_NE(h, nullptr);
    uint8_t out[32];
    int n = asnEncode(h->community, out, sizeof out);
    EXPECT_EQ(Bytes(out, out + n), ber::octets("private"));
    EXPECT_EQ(h->hosts, nullptr);
    apsFree(h);
}

TEST_F(ApsTest, EncodeWrapsThePduInVersionAndCommunity) {
    ApsRec *h = apsNew("public", "trivial", nullptr);
    AsnNode *pdu = asnNewConstructed(2, 1, ASN_SEQUENCE);
    AsnNode *message = apsEncode(h, pdu);
    ASSERT_NE(message, nullptr);
    uint8_t out[64];
    int n = asnEncode(message, out, sizeof out);
    Bytes expected = {0x30, 0x0D, 0x02, 0x01, 0x00, 0x04, 0x06, 'p',
                      'u',  'b',  'l',  'i',  'c',  0xA1, 0x00};
    EXPECT_EQ(Bytes(out, out + n), expected);
    // The PDU stays the caller's and usable.
    EXPECT_EQ(asnEncode(pdu, out, sizeof out), 2);
    asnFree(message);
    asnFree(pdu);
    EXPECT_EQ(apsEncode(nullptr, pdu), nullptr);
    apsFree(h);
}

TEST_F(ApsTest, VerifyFindsTheHandleAndTakesAReference) {
    ApsRec *h = apsNew("public", "trivial", nullptr);
    AsnNode *message = decode(getRequest("public"));
    ASSERT_NE(message, nullptr);
    ApsRec *v = apsVerify(message);
    EXPECT_EQ(v, h);
    EXPECT_EQ(h->refCount, 2);
    AsnNode *pdu = apsDecode(v, message);
    ASSERT_NE(pdu, nullptr);
    EXPECT_EQ(asnTag(pdu), 0u);
    EXPECT_EQ(asnClass(pdu), 2u);
    EXPECT_EQ(apsDecode(nullptr, message), nullptr);
    asnFree(pdu);
    apsFree(v);
    apsFree(h);
    asnFree(message);
}

struct Refusal {
    const char *what;
    Bytes message;
    int counter; // raised by one, or 0 for none
};

TEST_F(ApsTest, VerifyRefusals) {
    ApsRec *h = apsNew("public", "trivial", nullptr);
    std::string nul("public\0x", 8);
    const Refusal cases[] = {
        {"version 1", getRequest("public", 1), SMP_STAT_IN_BAD_VERSIONS},
        {"version 256", getRequest("public", 256), SMP_STAT_IN_BAD_VERSIONS},
        {"unknown community", getRequest("private"), SMP_STAT_IN_BAD_COMMUNITY_NAMES},
        {"prefix of the community", getRequest("pub"), SMP_STAT_IN_BAD_COMMUNITY_NAMES},
        {"community with a NUL inside", getRequest(nul), SMP_STAT_IN_BAD_COMMUNITY_NAMES},
        {"empty community", getRequest(""), SMP_STAT_IN_BAD_COMMUNITY_NAMES},
        {"17-octet community", getRequest("publicpublicpubli"), 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        AsnNode *message = decode(c.message);
        ASSERT_NE(message, nullptr);
        uint32_t before[SMP_STATS_WORDS + 1];
        for (int w = 1; w <= SMP_STATS_WORDS; ++w)
            before[w] = smpStatRead(w);
        EXPECT_EQ(apsVerify(message), nullptr);
        for (int w = 1; w <= SMP_STATS_WORDS; ++w)
            EXPECT_EQ(smpStatRead(w), before[w] + (w == c.counter ? 1 : 0)) << "word " << w;
        asnFree(message);
    }
    EXPECT_EQ(h->refCount, 1);
    apsFree(h);
}

TEST_F(ApsTest, SixteenOctetCommunityMatchesExactly) {
    ApsRec *h = apsNew("0123456789abcdef", "trivial", nullptr);
    AsnNode *message = decode(getRequest("0123456789abcdef"));
    ApsRec *v = apsVerify(message);
    EXPECT_EQ(v, h);
    apsFree(v);
    asnFree(message);
    apsFree(h);
}

int refuseAll(void *, AsnNode *) {
    return 0;
}
AsnNode *identity(void *, AsnNode *pdu) {
    return asnComponent(pdu, 0);
}

TEST_F(ApsTest, SchemeRejectionCountsAsBadCommunity) {
    ASSERT_EQ(apsRegister("closed", refuseAll, identity, identity), 0);
    EXPECT_EQ(apsRegister("closed", refuseAll, identity, identity), 1);
    ApsRec *h = apsNew("secret", "closed", nullptr);
    ASSERT_NE(h, nullptr);
    AsnNode *message = decode(getRequest("secret"));
    uint32_t before = smpStatRead(SMP_STAT_IN_BAD_COMMUNITY_NAMES);
    EXPECT_EQ(apsVerify(message), nullptr);
    EXPECT_EQ(smpStatRead(SMP_STAT_IN_BAD_COMMUNITY_NAMES), before + 1);
    EXPECT_EQ(h->refCount, 1);
    asnFree(message);
    apsFree(h);
}

TEST_F(ApsTest, HandleMadeBeforeInitStaysUsable) {
    ApsRec *old = apsNew("public", "trivial", nullptr);
    apsInit();
    ASSERT_EQ(apsTrivialInit(), 0);
    EXPECT_EQ(apsHandles(), nullptr);
    ApsRec *fresh = apsNew("public", "trivial", nullptr);
    EXPECT_NE(fresh, old);
    AsnNode *pdu = asnNewConstructed(2, 0, ASN_SEQUENCE);
    AsnNode *message = apsEncode(old, pdu);
    EXPECT_NE(message, nullptr);
    asnFree(message);
    asnFree(pdu);
    apsFree(old);
    apsFree(fresh);
}

} // namespace
