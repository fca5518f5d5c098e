#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "agent/comm.h"
#include "agent/mib.h"
#include "asn/asn.h"
#include "ber_craft.h"
#include "platform/log.h"
#include "smp/aps.h"
#include "smp/smp.h"
#include "smx/stats.h"
#include "support.h"

namespace {

using ber::Bytes;

constexpr uint32_t LOOPBACK = 0x7F000001;
const std::string BASE = "1.3.6.1.4.1.32473.1"; // the test entry

// The entry's instances: column.0 for columns 1 (an Integer), 2 (a writable
// string) and 3 (a string too long for two copies in one message).
std::map<uint32_t, std::string> strings;
int setCalls = 0;

AsnNode *valueOf(uint32_t column) {
    if (column == 1)
        return asnNewInteger(0, 2, 5);
    auto it = strings.find(column);
    if (it == strings.end())
        return nullptr;
    return asnNewOctetString(0, 4, reinterpret_cast<const uint8_t *>(it->second.data()),
                             static_cast<int>(it->second.size()));
}

bool scalar(const uint32_t *ids, int count) {
    return count == 2 && ids[1] == 0 && ids[0] >= 1 && ids[0] <= 3;
}

AsnNode *testGet(const uint32_t *ids, int count, uintptr_t) {
    return scalar(ids, count) ? valueOf(ids[0]) : nullptr;
}

AsnNode *testNext(uint32_t *ids, int *count, uintptr_t) {
    uint32_t column = *count == 0 ? 1 : ids[0] + (*count > 1 ? 1 : 0);
    if (*count > 0 && ids[0] == 0)
        column = 1;
    if (column > 3)
        return nullptr;
    ids[0] = column;
    ids[1] = 0;
    *count = 2;
    return valueOf(column);
}

int testTestSet(const uint32_t *ids, int count, AsnNode *value, uintptr_t) {
    if (!scalar(ids, count) || ids[0] != 2)
        return SMP_NO_SUCH_NAME;
    return asnTag(value) == 4 ? 0 : SMP_BAD_VALUE;
}

int testSet(const uint32_t *ids, int, AsnNode *value, uintptr_t) {
    ++setCalls;
    strings[ids[0]].assign(reinterpret_cast<const char *>(asnValue(value)),
                           static_cast<size_t>(asnValueLength(value)));
    return 0;
}

constexpr MibOps ops = {testGet, testNext, testTestSet, testSet};

std::vector<Bytes> *sentLog = nullptr;
int captureSend(void *, const uint8_t *octets, int length) {
    if (length < 0)
        return 1;
    sentLog->emplace_back(octets, octets + length);
    return 0;
}

int ignoreUpcall(SmpObject *, SmpPdu *) {
    return 0;
}

struct AgentOpsTest : ::testing::Test {
    std::vector<Bytes> sent;
    static void SetUpTestSuite() {
        logLevel = 0;
        testing_support::registerAgentSide();
        apsInit();
        apsTrivialInit();
        shmLocalInit();
        smpStatWrite(SMP_STAT_ENABLE_AUTHEN_TRAPS, 2);
        community("public", LOOPBACK, COMM_WRITE);
        ASSERT_NE(mibInit(), nullptr);
        ASSERT_EQ(mibRegister(BASE.c_str(), &ops, 0), 0);
    }
    void SetUp() override {
        sentLog = &sent;
        strings = {{2, "hello"}, {3, std::string(1500, 'x')}};
        setCalls = 0;
        mibSetWritable(1);
    }
    void TearDown() override { sentLog = nullptr; }

    // One request through smpInput; the reply, parsed.
    ber::Message exchange(const Bytes &request) {
        SmpObject *o = smpNew(nullptr, captureSend, ignoreUpcall);
        size_t before = sent.size();
        smpInput(o, LOOPBACK, request.data(), static_cast<int16_t>(request.size()));
        smpFree(o);
        EXPECT_EQ(sent.size(), before + 1) << "one reply";
        if (sent.size() != before + 1)
            return {};
        auto m = ber::parse(sent.back());
        EXPECT_TRUE(m.has_value());
        return m.value_or(ber::Message{});
    }
    ber::Message request(unsigned char tag, const std::vector<Bytes> &binds, int64_t id = 9) {
        return exchange(ber::message("public", tag, id, 0, 0, binds));
    }
};

constexpr unsigned char GET = 0xA0, NEXT = 0xA1, SET = 0xA3;

Bytes nullBind(const std::string &name) {
    return ber::varBind(name, ber::null());
}

std::string textOf(const ber::Bind &b) {
    return std::string(b.value.content.begin(), b.value.content.end());
}

TEST_F(AgentOpsTest, GetAnswersEveryBindingOrNamesTheFirstMissing) {
    auto ok = request(GET, {nullBind(BASE + ".1.0"), nullBind(BASE + ".2.0")});
    EXPECT_EQ(ok.pduTag, 0xA2);
    EXPECT_EQ(ok.requestId, 9);
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.index, 0);
    ASSERT_EQ(ok.binds.size(), 2u);
    EXPECT_EQ(ok.binds[0].name, BASE + ".1.0");
    EXPECT_EQ(ber::toInt(ok.binds[0].value.content), 5);
    EXPECT_EQ(textOf(ok.binds[1]), "hello");

    uint32_t noSuch = smpStatRead(SMP_STAT_IN_NO_SUCH_NAMES);
    auto missing = request(GET, {nullBind(BASE + ".1.0"), nullBind(BASE + ".9.0")});
    EXPECT_EQ(missing.status, SMP_NO_SUCH_NAME);
    EXPECT_EQ(missing.index, 2);
    ASSERT_EQ(missing.binds.size(), 2u);
    EXPECT_EQ(missing.binds[0].name, BASE + ".1.0");
    EXPECT_EQ(missing.binds[0].value.tag, 0x05) << "the request's own binding";
    EXPECT_EQ(missing.binds[1].name, BASE + ".9.0");
    EXPECT_EQ(smpStatRead(SMP_STAT_IN_NO_SUCH_NAMES), noSuch + 1);
}

TEST_F(AgentOpsTest, EmptyGetIsAnsweredWithAnEmptyList) {
    auto m = request(GET, {});
    EXPECT_EQ(m.status, 0);
    EXPECT_EQ(m.index, 0);
    EXPECT_TRUE(m.binds.empty());
    ASSERT_GE(sent.back().size(), 2u);
    EXPECT_EQ(Bytes(sent.back().end() - 2, sent.back().end()), (Bytes{0x30, 0x00}));
}

TEST_F(AgentOpsTest, GetNextAnswersTheNextNameAndNoSuchNameAtTheEnd) {
    auto m = request(NEXT, {nullBind("1.3.6.1.4.1"), nullBind(BASE + ".1.0")});
    EXPECT_EQ(m.status, 0);
    ASSERT_EQ(m.binds.size(), 2u);
    EXPECT_EQ(m.binds[0].name, BASE + ".1.0");
    EXPECT_EQ(m.binds[1].name, BASE + ".2.0");
    EXPECT_EQ(textOf(m.binds[1]), "hello");

    auto end = request(NEXT, {nullBind(BASE + ".3.0")});
    EXPECT_EQ(end.status, SMP_NO_SUCH_NAME);
    EXPECT_EQ(end.index, 1);
    ASSERT_EQ(end.binds.size(), 1u);
    EXPECT_EQ(end.binds[0].name, BASE + ".3.0");
}

TEST_F(AgentOpsTest, GetNextNameOverTheBufferIsNoSuchName) {
    std::string longName = "1.3.6.1.4.1";
    for (int i = 0; i < 520; ++i)
        longName += ".1";
    auto m = request(NEXT, {nullBind(BASE), nullBind(longName)});
    EXPECT_EQ(m.status, SMP_NO_SUCH_NAME);
    EXPECT_EQ(m.index, 2);
}

TEST_F(AgentOpsTest, SetTestsEveryBindingBeforeSettingAny) {
    auto bad = request(SET, {ber::varBind(BASE + ".2.0", ber::octets("new")),
                             ber::varBind(BASE + ".1.0", ber::integer(7))});
    EXPECT_EQ(bad.status, SMP_NO_SUCH_NAME);
    EXPECT_EQ(bad.index, 2);
    EXPECT_EQ(setCalls, 0);
    EXPECT_EQ(strings[2], "hello");

    auto wrongType = request(SET, {ber::varBind(BASE + ".2.0", ber::integer(1))});
    EXPECT_EQ(wrongType.status, SMP_BAD_VALUE);
    EXPECT_EQ(wrongType.index, 1);

    auto ok = request(SET, {ber::varBind(BASE + ".2.0", ber::octets("abc"))});
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.index, 0);
    ASSERT_EQ(ok.binds.size(), 1u);
    EXPECT_EQ(textOf(ok.binds[0]), "abc") << "the request's bindings echoed";
    EXPECT_EQ(setCalls, 1);
    EXPECT_EQ(textOf(request(GET, {nullBind(BASE + ".2.0")}).binds.at(0)), "abc");
}

TEST_F(AgentOpsTest, SetWhileNotWritableIsReadOnly) {
    mibSetWritable(0);
    uint32_t readOnlys = smpStatRead(SMP_STAT_IN_READ_ONLYS);
    auto m = request(SET, {ber::varBind(BASE + ".1.0", ber::integer(1)),
                           ber::varBind(BASE + ".2.0", ber::octets("z"))});
    EXPECT_EQ(m.status, SMP_READ_ONLY);
    EXPECT_EQ(m.index, 1);
    EXPECT_EQ(m.binds.size(), 2u);
    EXPECT_EQ(setCalls, 0);
    EXPECT_EQ(smpStatRead(SMP_STAT_IN_READ_ONLYS), readOnlys + 1);
}

// The request id goes back as its octets came, not re-encoded (the header
// integers the engine builds go out unsigned: -1 would become 00 FF FF FF FF).
TEST_F(AgentOpsTest, ReplyEchoesTheRequestIdOctets) {
    for (Bytes id : {Bytes{0x02, 0x01, 0xFF}, Bytes{0x02, 0x01, 0x80},
                     Bytes{0x02, 0x02, 0x00, 0x80}, Bytes{0x02, 0x04, 0x7F, 0xFF, 0xFF, 0xFF}}) {
        Bytes list = ber::tlv(0x30, nullBind(BASE + ".1.0"));
        Bytes pdu = ber::tlv(GET, ber::cat({id, ber::integer(0), ber::integer(0), list}));
        Bytes message = ber::tlv(0x30, ber::cat({ber::integer(0), ber::octets("public"), pdu}));
        exchange(message);
        ASSERT_FALSE(sent.empty());
        const Bytes &reply = sent.back();
        // 30 L 02 01 00 04 06 public A2 L, then the id.
        size_t at = 2 + 3 + 8;
        at += reply[at + 1] & 0x80 ? 2 + (reply[at + 1] & 0x7F) : 2;
        ASSERT_GE(reply.size(), at + id.size());
        EXPECT_EQ(Bytes(reply.begin() + static_cast<long>(at),
                        reply.begin() + static_cast<long>(at + id.size())),
                  id);
    }
}

// Every request of at most 2048 octets is answered, however many bindings it
// packs; a longer one is not read.
TEST_F(AgentOpsTest, DensestRequestsAreAnswered) {
    struct Case {
        unsigned char tag;
        Bytes binding;
        int count;
        size_t size;
        int64_t status, index;
    };
    const Case cases[] = {
        // Empty names, found nowhere: noSuchName with the request's bindings.
        {GET, {0x30, 0x04, 0x06, 0x00, 0x05, 0x00}, 336, 2048, SMP_NO_SUCH_NAME, 1},
        // Each answer is longer than its name: tooBig.
        {NEXT, nullBind("1.3.6.1.4.1.1"), 168, 2048, SMP_TOO_BIG, 0},
        {GET, {0x30, 0x04, 0x06, 0x00, 0x05, 0x00}, 337, 2054, -1, 0},
    };
    for (const Case &c : cases) {
        Bytes m = ber::message("public", c.tag, 9, 0, 0, std::vector<Bytes>(c.count, c.binding));
        ASSERT_EQ(m.size(), c.size) << c.count;
        if (c.status < 0) {
            uint32_t errors = smpStatRead(SMP_STAT_IN_ASN_PARSE_ERRS);
            SmpObject *o = smpNew(nullptr, captureSend, ignoreUpcall);
            EXPECT_EQ(smpInput(o, LOOPBACK, m.data(), static_cast<int16_t>(m.size())), 1);
            smpFree(o);
            EXPECT_EQ(smpStatRead(SMP_STAT_IN_ASN_PARSE_ERRS), errors + 1);
            continue;
        }
        auto reply = exchange(m);
        EXPECT_EQ(reply.status, c.status) << c.count;
        EXPECT_EQ(reply.index, c.index) << c.count;
        EXPECT_EQ(reply.binds.size(), static_cast<size_t>(c.count));
        EXPECT_LE(sent.back().size(), static_cast<size_t>(SMP_MESSAGE_MAX));
    }
}

// RFC 1157, 4.1.2: a reply that does not fit in a message becomes a tooBig
// reply with index 0 and the request's bindings.
TEST_F(AgentOpsTest, ReplyOverTheMessageSizeIsTooBig) {
    auto one = request(GET, {nullBind(BASE + ".3.0")});
    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(textOf(one.binds.at(0)).size(), 1500u);

    uint32_t tooBigs = smpStatRead(SMP_STAT_IN_TOO_BIGS);
    auto two = request(GET, {nullBind(BASE + ".3.0"), nullBind(BASE + ".3.0")});
    EXPECT_EQ(two.status, SMP_TOO_BIG);
    EXPECT_EQ(two.index, 0);
    ASSERT_EQ(two.binds.size(), 2u);
    EXPECT_EQ(two.binds[0].value.tag, 0x05);
    EXPECT_LE(sent.back().size(), static_cast<size_t>(SMP_MESSAGE_MAX));
    EXPECT_EQ(smpStatRead(SMP_STAT_IN_TOO_BIGS), tooBigs + 1);

    auto next = request(NEXT, {nullBind(BASE + ".2.0"), nullBind(BASE + ".2.0")});
    EXPECT_EQ(next.status, SMP_TOO_BIG);
    EXPECT_EQ(next.binds.at(1).name, BASE + ".2.0");

    // The reply list fills before any message is formed: index 0 as well.
    strings[3] = std::string(ASN_CAPACITY / 2 + 16, 'x');
    auto full = request(GET, {nullBind(BASE + ".3.0"), nullBind(BASE + ".3.0")});
    EXPECT_EQ(full.status, SMP_TOO_BIG);
    EXPECT_EQ(full.index, 0);
}

} // namespace
