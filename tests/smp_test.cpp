#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "asn/asn.h"
#include "ber_craft.h"
#include "smp/aps.h"
#include "smp/smp.h"
#include "smx/stats.h"

namespace {

using ber::Bytes;

struct Capture {
    std::vector<Bytes> sent;
    int result = 0; // what the send function answers
    std::vector<int> lengths;
};

int captureSend(void *transport, const uint8_t *octets, int length) {
    auto *c = static_cast<Capture *>(transport);
    c->lengths.push_back(length);
    if (length < 0)
        return 1;
    if (c->result == 0)
        c->sent.emplace_back(octets, octets + length);
    return c->result;
}

struct SmpTest : ::testing::Test {
    Capture capture;
    SmpObject *object = nullptr;
    ApsRec *auth = nullptr;
    void SetUp() override {
        apsInit();
        ASSERT_EQ(apsTrivialInit(), 0);
        shmLocalInit();
        object = smpNew(&capture, captureSend, nullptr);
        ASSERT_NE(object, nullptr);
        auth = apsNew("public", "trivial", nullptr);
    }
    void TearDown() override {
        object = smpFree(object);
        auth = apsFree(auth);
    }
    std::vector<uint32_t> stats() const {
        std::vector<uint32_t> out(SMP_STATS_WORDS + 1);
        for (int w = 1; w <= SMP_STATS_WORDS; ++w)
            out[w] = smpStatRead(w);
        return out;
    }
};

// The PDU part of a message the library sent: the octets after the version
// and the community.
Bytes pduOf(const Bytes &message) {
    size_t pos = 0;
    auto outer = ber::read(message, pos);
    EXPECT_TRUE(outer.has_value());
    EXPECT_EQ(pos, message.size());
    size_t p = 0;
    ber::read(outer->content, p);
    ber::read(outer->content, p);
    return Bytes(outer->content.begin() + static_cast<long>(p), outer->content.end());
}

uint8_t systemOid[] = {0x2B, 0x06, 0x01, 0x02, 0x01, 0x01};

TEST_F(SmpTest, GetNextRequestEncodesAsInRfc1157) {
    SmpBind bind{};
    bind.name = systemOid;
    bind.nameLen = sizeof systemOid;
    bind.kind = SMP_KIND_NULL;
    SmpPdu pdu{};
    pdu.type = SMP_GET_NEXT_REQUEST;
    pdu.auth = auth;
    pdu.count = 1;
    pdu.binds = &bind;
    auto before = stats();
    ASSERT_EQ(smpRequest(object, &pdu), 0);
    ASSERT_EQ(capture.sent.size(), 1u);
    const Bytes &m = capture.sent[0];
    Bytes prefix = {0x30, static_cast<uint8_t>(m.size() - 2),
                    0x02, 0x01,
                    0x00, 0x04,
                    0x06, 'p',
                    'u',  'b',
                    'l',  'i',
                    'c'};
    EXPECT_EQ(Bytes(m.begin(), m.begin() + 13), prefix);
    Bytes expected = {0xA1, 0x17, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x0C,
                      0x30, 0x0A, 0x06, 0x06, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x05, 0x00};
    EXPECT_EQ(pduOf(m), expected);
    auto after = stats();
    for (int w = 1; w <= SMP_STATS_WORDS; ++w) {
        bool raised = w == SMP_STAT_OUT_PKTS || w == SMP_STAT_OUT_GET_NEXTS;
        EXPECT_EQ(after[w], before[w] + (raised ? 1 : 0)) << "word " << w;
    }
}

TEST_F(SmpTest, RequestIdsGoOutUnsigned) {
    struct Case {
        int32_t id;
        Bytes tlv;
    } cases[] = {
        {0, {0x02, 0x01, 0x00}},
        {127, {0x02, 0x01, 0x7F}},
        {128, {0x02, 0x02, 0x00, 0x80}},
        {200, {0x02, 0x02, 0x00, 0xC8}},
        {-1, {0x02, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.id);
        capture.sent.clear();
        SmpPdu pdu{};
        pdu.type = SMP_GET_REQUEST;
        pdu.auth = auth;
        pdu.requestId = c.id;
        ASSERT_EQ(smpRequest(object, &pdu), 0);
        Bytes p = pduOf(capture.sent.at(0));
        Bytes body = ber::cat({c.tlv, {0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x00}});
        EXPECT_EQ(p, ber::tlv(0xA0, body)); // an empty binding list is 30 00
    }
}

TEST_F(SmpTest, EveryKindEncodesWithItsIdentifier) {
    uint8_t text[] = {'a', 'b'};
    uint8_t ip[] = {10, 0, 0, 1};
    struct Case {
        int32_t kind;
        uint8_t *value;
        int32_t valueLen;
        int32_t number;
        Bytes tlv;
    } cases[] = {
        {SMP_KIND_INTEGER, nullptr, 0, -129, {0x02, 0x02, 0xFF, 0x7F}},
        {SMP_KIND_OCTET_STRING, text, 2, 0, {0x04, 0x02, 'a', 'b'}},
        {SMP_KIND_IP_ADDRESS, ip, 4, 0, {0x40, 0x04, 10, 0, 0, 1}},
        {SMP_KIND_OPAQUE, text, 2, 0, {0x44, 0x02, 'a', 'b'}},
        {SMP_KIND_COUNTER, nullptr, 0, -1, {0x41, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
        {SMP_KIND_GAUGE, nullptr, 0, 128, {0x42, 0x02, 0x00, 0x80}},
        {SMP_KIND_TIME_TICKS, nullptr, 0, 1200, {0x43, 0x02, 0x04, 0xB0}},
        {SMP_KIND_OBJECT_ID, systemOid, 6, 0, {0x06, 0x06, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x01}},
        {SMP_KIND_NULL, nullptr, 0, 0, {0x05, 0x00}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.kind);
        SmpBind b{static_cast<int32_t>(sizeof systemOid),
                  systemOid,
                  c.kind,
                  c.valueLen,
                  c.value,
                  c.number};
        AsnNode *value = smpValueNode(&b);
        ASSERT_NE(value, nullptr);
        uint8_t out[16];
        int n = asnEncode(value, out, sizeof out);
        EXPECT_EQ(Bytes(out, out + n), c.tlv);
        asnFree(value);
    }
}

TEST_F(SmpTest, BindingsThatCannotBeBuiltFailTheRequest) {
    uint8_t five[] = {1, 2, 3, 4, 5};
    uint8_t unfinished[] = {0x2B, 0x86};
    SmpBind bad[] = {
        {6, systemOid, SMP_KIND_NONE, 0, nullptr, 0},
        {6, systemOid, SMP_KIND_IP_ADDRESS, 5, five, 0},
        {6, systemOid, 42, 0, nullptr, 0},
        {2, unfinished, SMP_KIND_NULL, 0, nullptr, 0},
        {6, systemOid, SMP_KIND_OBJECT_ID, 2, unfinished, 0},
        // octets that arrived in constructed form: length without octets
        {6, systemOid, SMP_KIND_OCTET_STRING, 4, nullptr, 0},
    };
    for (const auto &b : bad) {
        SCOPED_TRACE(b.kind);
        SmpBind binds[2] = {{6, systemOid, SMP_KIND_NULL, 0, nullptr, 0}, b};
        SmpPdu pdu{};
        pdu.type = SMP_GET_REQUEST;
        pdu.auth = auth;
        pdu.count = 2;
        pdu.binds = binds;
        auto before = stats();
        EXPECT_EQ(smpRequest(object, &pdu), 1);
        EXPECT_EQ(stats(), before);
    }
    EXPECT_TRUE(capture.lengths.empty());
}

TEST_F(SmpTest, RequestWithoutObjectRecordTypeOrHandleFails) {
    SmpPdu pdu{};
    pdu.type = SMP_GET_REQUEST;
    pdu.auth = auth;
    EXPECT_EQ(smpRequest(nullptr, &pdu), 1);
    EXPECT_EQ(smpRequest(object, nullptr), 1);
    pdu.type = 5;
    EXPECT_EQ(smpRequest(object, &pdu), 1);
    pdu.type = SMP_GET_REQUEST;
    pdu.auth = nullptr;
    auto before = stats();
    EXPECT_EQ(smpRequest(object, &pdu), 1);
    EXPECT_EQ(stats(), before);
    EXPECT_TRUE(capture.lengths.empty());
}

TEST_F(SmpTest, FailedSendRaisesNoCounter) {
    capture.result = 7;
    SmpPdu pdu{};
    pdu.type = SMP_SET_REQUEST;
    pdu.auth = auth;
    pdu.errorStatus = SMP_GEN_ERR;
    auto before = stats();
    EXPECT_EQ(smpRequest(object, &pdu), 7);
    EXPECT_EQ(stats(), before);
}

TEST_F(SmpTest, CountersPerTypeAndErrorStatus) {
    struct Case {
        int32_t type, status;
        int typeWord, statusWord;
    } cases[] = {
        {SMP_GET_REQUEST, 0, SMP_STAT_OUT_GET_REQUESTS, 0},
        {SMP_SET_REQUEST, SMP_TOO_BIG, SMP_STAT_OUT_SET_REQUESTS, SMP_STAT_OUT_TOO_BIGS},
        {SMP_GET_RESPONSE, SMP_NO_SUCH_NAME, SMP_STAT_OUT_GET_RESPONSES,
         SMP_STAT_OUT_NO_SUCH_NAMES},
        {SMP_GET_RESPONSE, SMP_BAD_VALUE, SMP_STAT_OUT_GET_RESPONSES, SMP_STAT_OUT_BAD_VALUES},
        {SMP_GET_RESPONSE, SMP_READ_ONLY, SMP_STAT_OUT_GET_RESPONSES, 23},
        {SMP_GET_RESPONSE, SMP_GEN_ERR, SMP_STAT_OUT_GET_RESPONSES, SMP_STAT_OUT_GEN_ERRS},
        {SMP_GET_RESPONSE, 6, SMP_STAT_OUT_GET_RESPONSES, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.status);
        SmpPdu pdu{};
        pdu.type = c.type;
        pdu.auth = auth;
        pdu.errorStatus = c.status;
        auto before = stats();
        ASSERT_EQ(smpRequest(object, &pdu), 0);
        auto after = stats();
        for (int w = 1; w <= SMP_STATS_WORDS; ++w) {
            int up = (w == SMP_STAT_OUT_PKTS) + (w == c.typeWord) + (w == c.statusWord);
            EXPECT_EQ(after[w], before[w] + up) << "word " << w;
        }
    }
}

TEST_F(SmpTest, TrapLayout) {
    uint8_t enterprise[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x81, 0x00};
    uint8_t agent[] = {127, 0, 0, 1};
    SmpBind bind{6, systemOid, SMP_KIND_INTEGER, 0, nullptr, 5};
    SmpPdu pdu{};
    pdu.type = SMP_TRAP;
    pdu.auth = auth;
    pdu.enterprise = enterprise;
    pdu.enterpriseLen = sizeof enterprise;
    pdu.agentAddr = agent;
    pdu.agentAddrLen = 4;
    pdu.genericTrap = 4;
    pdu.specificTrap = 0;
    pdu.timeStamp = 1200;
    pdu.count = 1;
    pdu.binds = &bind;
    auto before = stats();
    ASSERT_EQ(smpRequest(object, &pdu), 0);
    Bytes expected =
        ber::tlv(0xA4, ber::cat({ber::tlv(0x06, Bytes(enterprise, enterprise + 7)),
                                 ber::ipAddress({127, 0, 0, 1}), ber::integer(4), ber::integer(0),
                                 ber::ticks(1200),
                                 ber::tlv(0x30, ber::varBind("1.3.6.1.2.1.1", ber::integer(5)))}));
    EXPECT_EQ(pduOf(capture.sent.at(0)), expected);
    EXPECT_EQ(smpStatRead(SMP_STAT_OUT_TRAPS), before[SMP_STAT_OUT_TRAPS] + 1);
}

TEST_F(SmpTest, MessageOverTheDatagramLimitIsNotSent) {
    static uint8_t big[1500] = {};
    SmpBind binds[2] = {{6, systemOid, SMP_KIND_OCTET_STRING, 1500, big, 0},
                        {6, systemOid, SMP_KIND_OCTET_STRING, 1500, big, 0}};
    SmpPdu pdu{};
    pdu.type = SMP_GET_RESPONSE;
    pdu.auth = auth;
    pdu.count = 2;
    pdu.binds = binds;
    auto before = stats();
    EXPECT_NE(smpRequest(object, &pdu), 0);
    EXPECT_EQ(stats(), before);
    ASSERT_EQ(capture.lengths.size(), 1u);
    EXPECT_LT(capture.lengths[0], 0); // the failure reaches the send function, which sends nothing
    EXPECT_TRUE(capture.sent.empty());
    pdu.count = 1;
    EXPECT_EQ(smpRequest(object, &pdu), 0);
}

TEST_F(SmpTest, PduBuildAndVarBindFailures) {
    AsnNode *list = asnNewConstructed(0, 16, ASN_SEQUENCE);
    EXPECT_EQ(smpPduBuild(2, nullptr, 0, 0, list), nullptr);
    AsnNode *null = asnNewOctetString(0, 5, nullptr, 0);
    uint8_t unfinished[] = {0x2B, 0x86};
    EXPECT_EQ(smpVarBind(unfinished, 2, null), nullptr);
    AsnNode *vb = smpVarBind(systemOid, 6, null);
    ASSERT_NE(vb, nullptr);
    uint8_t out[32];
    int n = asnEncode(vb, out, sizeof out);
    EXPECT_EQ(Bytes(out, out + n), ber::varBind("1.3.6.1.2.1.1", ber::null()));
    asnFree(vb);
    asnFree(null);
    asnFree(list);
}

TEST_F(SmpTest, ObjectLifecycle) {
    EXPECT_EQ(object->decoder, nullptr);
    EXPECT_EQ(object->smpRecStatus, 0);
    EXPECT_EQ(object->transport, &capture);
    EXPECT_EQ(smpFree(nullptr), nullptr);
    SmpBind *binds = smpAllocBinds(0);
    EXPECT_NE(binds, nullptr);
    binds = smpFreeBinds(binds);
    binds = smpAllocBinds(65535);
    ASSERT_NE(binds, nullptr);
    EXPECT_EQ(binds[65534].kind, 0);
    EXPECT_EQ(smpFreeBinds(binds), nullptr);
    EXPECT_EQ(smpFreeBinds(nullptr), nullptr);
}

} // namespace
