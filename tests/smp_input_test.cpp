#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/comm.h"
#include "agent/trap.h"
#include "asn/asn.h"
#include "ber_craft.h"
#include "platform/log.h"
#include "smp/aps.h"
#include "smp/smp.h"
#include "smx/stats.h"
#include "support.h"

namespace {

using ber::Bytes;

// What the upcall saw, copied out while the record was valid.
struct SeenBind {
    std::string name;
    int32_t kind;
    bool hasValue;
    int32_t valueLen;
    Bytes value;
    int32_t number;
};
struct Seen {
    int calls = 0;
    int answer = 0; // what the upcall returns
    SmpPdu record{};
    std::vector<SeenBind> binds;
    Bytes enterprise, agentAddr;
};
Seen *seen = nullptr;

int recordingUpcall(SmpObject *, SmpPdu *r) {
    seen->calls++;
    seen->record = *r;
    seen->binds.clear();
    for (uint16_t i = 0; i < r->count; ++i) {
        const SmpBind &b = r->binds[i];
        SeenBind s{ber::oidText(Bytes(b.name, b.name + b.nameLen)),
                   b.kind,
                   b.value != nullptr,
                   b.valueLen,
                   b.value ? Bytes(b.value, b.value + b.valueLen) : Bytes{},
                   b.number};
        seen->binds.push_back(s);
    }
    if (r->enterprise)
        seen->enterprise.assign(r->enterprise, r->enterprise + r->enterpriseLen);
    if (r->agentAddr)
        seen->agentAddr.assign(r->agentAddr, r->agentAddr + r->agentAddrLen);
    return seen->answer;
}

std::vector<Bytes> *sentLog = nullptr;
int captureSend(void *, const uint8_t *octets, int length) {
    if (length < 0)
        return 1;
    sentLog->emplace_back(octets, octets + length);
    return 0;
}

constexpr uint32_t LOOPBACK = 0x7F000001;

struct InputTest : ::testing::Test {
    Seen record;
    std::vector<Bytes> sent;
    ApsRec *auth = nullptr;
    int savedLevel = logLevel;
    void SetUp() override {
        seen = &record;
        sentLog = &sent;
        testing_support::registerAgentSide();
        apsInit();
        ASSERT_EQ(apsTrivialInit(), 0);
        shmLocalInit();
        smpStatWrite(SMP_STAT_ENABLE_AUTHEN_TRAPS, 2);
        auth = apsNew("public", "trivial", nullptr);
        ASSERT_NE(auth, nullptr);
        logLevel = 1;
    }
    void TearDown() override {
        auth = apsFree(auth);
        logLevel = savedLevel;
        seen = nullptr;
        sentLog = nullptr;
    }
    // One datagram through a fresh object, as the receive loop does.
    int input(const Bytes &d, uint32_t host = LOOPBACK) {
        SmpObject *o = smpNew(nullptr, captureSend, recordingUpcall);
        int r = smpInput(o, host, d.data(), static_cast<int16_t>(d.size()));
        smpFree(o);
        return r;
    }
    static uint32_t stat(int w) { return smpStatRead(w); }
};

Bytes withVersion(int64_t version, const Bytes &m) {
    // Replace the version of a crafted message (its first element's content).
    size_t pos = 0;
    auto outer = ber::read(m, pos);
    size_t p = 0;
    ber::read(outer->content, p);
    Bytes rest(outer->content.begin() + static_cast<long>(p), outer->content.end());
    return ber::tlv(0x30, ber::cat({ber::integer(version), rest}));
}

TEST_F(InputTest, EmptyAndNegativeLengthsAreParseErrors) {
    Bytes m = ber::response(1, {});
    for (int16_t length : {int16_t{0}, int16_t{-1}}) {
        SCOPED_TRACE(length);
        uint32_t in = stat(SMP_STAT_IN_PKTS), parse = stat(SMP_STAT_IN_ASN_PARSE_ERRS);
        SmpObject *o = smpNew(nullptr, captureSend, recordingUpcall);
        EXPECT_EQ(smpInput(o, LOOPBACK, m.data(), length), 1);
        EXPECT_EQ(o->smpRecStatus, 1);
        smpFree(o);
        EXPECT_EQ(stat(SMP_STAT_IN_PKTS), in + 1);
        EXPECT_EQ(stat(SMP_STAT_IN_ASN_PARSE_ERRS), parse + 1);
    }
    EXPECT_EQ(smpInput(nullptr, LOOPBACK, m.data(), static_cast<int16_t>(m.size())), 1);
    EXPECT_EQ(record.calls, 0);
}

TEST_F(InputTest, HalfAMessageFailsAndTheObjectStaysFailed) {
    Bytes m = ber::response(7, {ber::varBind("1.3.6.1.2.1.1.3.0", ber::ticks(5))});
    size_t half = m.size() / 2;
    SmpObject *o = smpNew(nullptr, captureSend, recordingUpcall);
    uint32_t parse = stat(SMP_STAT_IN_ASN_PARSE_ERRS), in = stat(SMP_STAT_IN_PKTS);
    EXPECT_EQ(smpInput(o, LOOPBACK, m.data(), static_cast<int16_t>(half)), 1);
    // The rest is not joined to it.
    EXPECT_EQ(smpInput(o, LOOPBACK, m.data() + half, static_cast<int16_t>(m.size() - half)), 1);
    // Even a whole message is not looked at any more.
    EXPECT_EQ(smpInput(o, LOOPBACK, m.data(), static_cast<int16_t>(m.size())), 1);
    smpFree(o);
    EXPECT_EQ(stat(SMP_STAT_IN_PKTS), in + 3);
    EXPECT_EQ(stat(SMP_STAT_IN_ASN_PARSE_ERRS), parse + 1);
    EXPECT_EQ(record.calls, 0);
}

TEST_F(InputTest, MalformedOctetsAreParseErrors) {
    const std::vector<Bytes> bad = {
        {0x04, 0x00},                   // not a SEQUENCE
        {0x30, 0x03, 0x02, 0x01, 0x00}, // ends before community
        ber::tlv(0x30, ber::cat({ber::integer(0), ber::octets("public"),
                                 ber::tlv(0xA7, {})})), // no such PDU
    };
    for (const Bytes &d : bad) {
        uint32_t parse = stat(SMP_STAT_IN_ASN_PARSE_ERRS);
        EXPECT_EQ(input(d), 1);
        EXPECT_EQ(stat(SMP_STAT_IN_ASN_PARSE_ERRS), parse + 1);
    }
    EXPECT_EQ(record.calls, 0);
}

TEST_F(InputTest, GetResponseReachesTheUpcallWithItsBindings) {
    Bytes m = ber::response(200,
                            {ber::varBind("1.3.6.1.2.1.1.1.0", ber::octets("box")),
                             ber::varBind("1.3.6.1.2.1.1.3.0", ber::ticks(4321))},
                            2, 1);
    m.insert(m.end(), {0xDE, 0xAD, 0xBE, 0xEF}); // trailing octets are ignored
    uint32_t responses = stat(SMP_STAT_IN_GET_RESPONSES);
    EXPECT_EQ(input(m), 0);
    ASSERT_EQ(record.calls, 1);
    EXPECT_EQ(record.record.type, SMP_GET_RESPONSE);
    EXPECT_EQ(record.record.auth, auth);
    EXPECT_EQ(record.record.requestId, 200);
    EXPECT_EQ(record.record.errorStatus, 2);
    EXPECT_EQ(record.record.errorIndex, 1);
    ASSERT_EQ(record.binds.size(), 2u);
    EXPECT_EQ(record.binds[0].name, "1.3.6.1.2.1.1.1.0");
    EXPECT_EQ(record.binds[0].kind, SMP_KIND_OCTET_STRING);
    EXPECT_EQ(record.binds[0].value, (Bytes{'b', 'o', 'x'}));
    EXPECT_EQ(record.binds[1].name, "1.3.6.1.2.1.1.3.0");
    EXPECT_EQ(record.binds[1].kind, SMP_KIND_TIME_TICKS);
    EXPECT_EQ(record.binds[1].number, 4321);
    EXPECT_EQ(stat(SMP_STAT_IN_GET_RESPONSES), responses + 1);
    EXPECT_EQ(auth->refCount, 1); // the reference apsVerify took is given back
    EXPECT_TRUE(sent.empty());
}

TEST_F(InputTest, EmptyBindingListAndNegativeRequestId) {
    EXPECT_EQ(input(ber::response(-1, {})), 0);
    ASSERT_EQ(record.calls, 1);
    EXPECT_EQ(record.record.count, 0);
    EXPECT_EQ(record.record.requestId, -1);
}

TEST_F(InputTest, UpcallFailureIsTheResultAndIsNotCounted) {
    record.answer = 5;
    uint32_t responses = stat(SMP_STAT_IN_GET_RESPONSES);
    SmpObject *o = smpNew(nullptr, captureSend, recordingUpcall);
    Bytes m = ber::response(1, {});
    EXPECT_EQ(smpInput(o, LOOPBACK, m.data(), static_cast<int16_t>(m.size())), 5);
    EXPECT_EQ(o->smpRecStatus, 5);
    smpFree(o);
    EXPECT_EQ(stat(SMP_STAT_IN_GET_RESPONSES), responses);
}

TEST_F(InputTest, AnObjectThatSucceededTakesAnotherMessage) {
    SmpObject *o = smpNew(nullptr, captureSend, recordingUpcall);
    for (int id : {1, 2}) {
        Bytes m = ber::response(id, {});
        EXPECT_EQ(smpInput(o, LOOPBACK, m.data(), static_cast<int16_t>(m.size())), 0);
        EXPECT_EQ(record.record.requestId, id);
    }
    smpFree(o);
    EXPECT_EQ(record.calls, 2);
}

struct ValueCase {
    const char *what;
    Bytes encoded;
    int32_t kind;
    int32_t number;
    Bytes value;
};

TEST_F(InputTest, ValueKindsAndNumbers) {
    const std::vector<ValueCase> cases = {
        {"Integer -1", {0x02, 0x01, 0xFF}, SMP_KIND_INTEGER, -1, {0xFF}},
        {"Gauge of five octets",
         {0x42, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF},
         SMP_KIND_GAUGE,
         static_cast<int32_t>(0xFFFFFFFFu),
         {0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"Counter", {0x41, 0x02, 0x01, 0x00}, SMP_KIND_COUNTER, 256, {0x01, 0x00}},
        {"TimeTicks", {0x43, 0x01, 0x7F}, SMP_KIND_TIME_TICKS, 127, {0x7F}},
        {"Null", {0x05, 0x00}, SMP_KIND_NULL, 0, {}},
        {"IpAddress", {0x40, 0x04, 10, 0, 0, 1}, SMP_KIND_IP_ADDRESS, 0, {10, 0, 0, 1}},
        {"Opaque", {0x44, 0x02, 0x12, 0x34}, SMP_KIND_OPAQUE, 0, {0x12, 0x34}},
        {"ObjectId", {0x06, 0x02, 0x2B, 0x06}, SMP_KIND_OBJECT_ID, 0, {0x2B, 0x06}},
        {"OctetString", {0x04, 0x02, 'h', 'i'}, SMP_KIND_OCTET_STRING, 0, {'h', 'i'}},
    };
    for (const ValueCase &c : cases) {
        SCOPED_TRACE(c.what);
        record.calls = 0;
        EXPECT_EQ(input(ber::response(3, {ber::varBind("1.3.6.1.4.1.9.1", c.encoded)})), 0);
        ASSERT_EQ(record.calls, 1);
        ASSERT_EQ(record.binds.size(), 1u);
        EXPECT_EQ(record.binds[0].kind, c.kind);
        EXPECT_EQ(record.binds[0].number, c.number);
        EXPECT_EQ(record.binds[0].value, c.value);
    }
}

TEST_F(InputTest, ConstructedOctetsArriveWithoutAValue) {
    // The decoder takes several segments in the indefinite form only.
    Bytes constructed = {0x24, 0x80, 0x04, 0x02, 'a', 'b', 0x04, 0x03, 'c', 'd', 'e', 0x00, 0x00};
    EXPECT_EQ(input(ber::response(3, {ber::varBind("1.3.6.1.4.1.9.1", constructed),
                                      ber::varBind("1.3.6.1.4.1.9.2", ber::integer(9))})),
              0);
    ASSERT_EQ(record.binds.size(), 2u);
    EXPECT_EQ(record.binds[0].kind, SMP_KIND_OCTET_STRING);
    EXPECT_FALSE(record.binds[0].hasValue);
    EXPECT_EQ(record.binds[0].valueLen, 5);
    // The walk steps over the segments to the next binding.
    EXPECT_EQ(record.binds[1].name, "1.3.6.1.4.1.9.2");
    EXPECT_EQ(record.binds[1].number, 9);
}

TEST_F(InputTest, TrapReachesTheUpcall) {
    Bytes pdu = ber::tlv(
        0xA4, ber::cat({ber::oid("1.3.6.1.4.1.32473"), ber::ipAddress({127, 0, 0, 1}),
                        ber::integer(6), ber::integer(17), ber::ticks(1200),
                        ber::tlv(0x30, ber::varBind("1.3.6.1.2.1.1.5.0", ber::octets("x")))}));
    Bytes m = ber::tlv(0x30, ber::cat({ber::integer(0), ber::octets("public"), pdu}));
    uint32_t traps = stat(SMP_STAT_IN_TRAPS);
    EXPECT_EQ(input(m), 0);
    ASSERT_EQ(record.calls, 1);
    EXPECT_EQ(record.record.type, SMP_TRAP);
    EXPECT_EQ(ber::oidText(record.enterprise), "1.3.6.1.4.1.32473");
    EXPECT_EQ(record.agentAddr, (Bytes{127, 0, 0, 1}));
    EXPECT_EQ(record.record.genericTrap, 6);
    EXPECT_EQ(record.record.specificTrap, 17);
    EXPECT_EQ(record.record.timeStamp, 1200);
    ASSERT_EQ(record.binds.size(), 1u);
    EXPECT_EQ(record.binds[0].name, "1.3.6.1.2.1.1.5.0");
    EXPECT_EQ(stat(SMP_STAT_IN_TRAPS), traps + 1);
}

TEST_F(InputTest, AuthenticationRefusals) {
    testing_support::EventCapture events;
    Bytes good = ber::response(1, {});
    uint32_t versions = stat(SMP_STAT_IN_BAD_VERSIONS);
    uint32_t names = stat(SMP_STAT_IN_BAD_COMMUNITY_NAMES);
    EXPECT_EQ(input(withVersion(1, good)), 1);
    EXPECT_EQ(stat(SMP_STAT_IN_BAD_VERSIONS), versions + 1);
    EXPECT_EQ(input(ber::response(1, {}, 0, 0, "private")), 1);
    // Octets, not text: an embedded NUL does not stop the comparison.
    EXPECT_EQ(input(ber::response(1, {}, 0, 0, std::string("public\0x", 8))), 1);
    EXPECT_EQ(stat(SMP_STAT_IN_BAD_COMMUNITY_NAMES), names + 2);
    EXPECT_EQ(stat(SMP_STAT_IN_BAD_VERSIONS), versions + 1);
    EXPECT_EQ(record.calls, 0);
    EXPECT_NE(events.joined().find("smpInput: apsVerify failed\n"), std::string::npos);
}

TEST_F(InputTest, RequestsFromAnUnknownHostAreRefused) {
    testing_support::EventCapture events;
    ASSERT_EQ(community("public", LOOPBACK, COMM_WRITE), 0);
    int32_t references = auth->refCount;
    const unsigned char tags[] = {0xA0, 0xA1, 0xA3};
    for (unsigned char tag : tags) {
        Bytes m =
            ber::message("public", tag, 9, 0, 0, {ber::varBind("1.3.6.1.2.1.1.1.0", ber::null())});
        EXPECT_EQ(input(m, 0), 1);
    }
    EXPECT_EQ(stat(SMP_STAT_IN_GET_REQUESTS), 0u);
    EXPECT_EQ(stat(SMP_STAT_IN_GET_NEXTS), 0u);
    EXPECT_EQ(stat(SMP_STAT_IN_SET_REQUESTS), 0u);
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(auth->refCount, references);
    EXPECT_NE(events.joined().find("smpInput: commVerify failed\n"), std::string::npos);
}

// With snmpEnableAuthenTraps at 1 every authentication failure sends an
// authenticationFailure Trap to the destinations of the trap file.
TEST_F(InputTest, AuthenticationFailureSendsATrap) {
    testing_support::UdpPeer receiver;
    ASSERT_NE(receiver.port, 0);
    testing_support::TempDir dir;
    testing_support::writeFile(dir.file("t.trp"),
                               "traps 127.0.0.1 " + std::to_string(receiver.port) + "\n");
    trapSetFileName(dir.file("t.trp").c_str());
    ASSERT_EQ(trapInit(), 0);
    smpStatWrite(SMP_STAT_ENABLE_AUTHEN_TRAPS, 1);

    struct Case {
        const char *what;
        Bytes datagram;
        uint32_t host;
    };
    const std::vector<Case> cases = {
        {"wrong community", ber::response(1, {}, 0, 0, "private"), LOOPBACK},
        {"host not identified", ber::message("public", 0xA0, 9, 0, 0, {}), 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(input(c.datagram, c.host), 1);
        Bytes got;
        int from = 0;
        ASSERT_TRUE(receiver.receive(got, from, 2000));
        size_t pos = 0;
        auto outer = ber::read(got, pos);
        ASSERT_TRUE(outer.has_value());
        size_t p = 0;
        ber::read(outer->content, p);
        auto communityName = ber::read(outer->content, p);
        ASSERT_TRUE(communityName.has_value());
        EXPECT_EQ(std::string(communityName->content.begin(), communityName->content.end()),
                  "traps");
        auto trap = ber::read(outer->content, p);
        ASSERT_TRUE(trap.has_value());
        EXPECT_EQ(trap->tag, 0xA4);
        size_t q = 0;
        ber::read(trap->content, q); // enterprise
        ber::read(trap->content, q); // agent address
        auto generic = ber::read(trap->content, q);
        auto specific = ber::read(trap->content, q);
        ASSERT_TRUE(generic && specific);
        EXPECT_EQ(ber::toInt(generic->content), 4);
        EXPECT_EQ(ber::toInt(specific->content), 0);
    }
    smpStatWrite(SMP_STAT_ENABLE_AUTHEN_TRAPS, 2);
    EXPECT_EQ(input(ber::response(1, {}, 0, 0, "private")), 1);
    Bytes none;
    int from = 0;
    EXPECT_FALSE(receiver.receive(none, from, 200));
    trapSetFileName(dir.file("absent.trp").c_str());
    trapInit();
    trapSetFileName(nullptr);
}

// Hostile datagrams of every refused kind, each on a fresh object: the
// sanitizer build's LeakSanitizer reports any tree or handle left behind.
TEST_F(InputTest, HostileDatagramsLeaveNothingBehind) {
    logLevel = 0;
    ASSERT_EQ(community("public", LOOPBACK, COMM_READ), 0);
    int32_t references = auth->refCount;
    Bytes get =
        ber::message("public", 0xA0, 5, 0, 0, {ber::varBind("1.3.6.1.2.1.1.1.0", ber::null())});
    const std::vector<std::pair<Bytes, uint32_t>> hostile = {
        {withVersion(1, ber::response(1, {})), LOOPBACK},
        {withVersion(-7, ber::response(1, {})), LOOPBACK},
        {ber::response(1, {}, 0, 0, "wrong"), LOOPBACK},
        {ber::response(1, {}, 0, 0, "a-community-name-too-long"), LOOPBACK},
        {get, 0},
        {ber::message("public", 0xA3, 5, 0, 0, {}), LOOPBACK}, // a write with read rights
        {Bytes(get.begin(), get.begin() + 20), LOOPBACK},
        {Bytes{0x30, 0x80, 0x02, 0x01, 0x00}, LOOPBACK},
    };
    uint32_t in = stat(SMP_STAT_IN_PKTS);
    constexpr int ROUNDS = 100000;
    for (int i = 0; i < ROUNDS; ++i) {
        const auto &[d, host] = hostile[static_cast<size_t>(i) % hostile.size()];
        ASSERT_EQ(input(d, host), 1) << i;
    }
    EXPECT_EQ(stat(SMP_STAT_IN_PKTS), in + ROUNDS);
    EXPECT_EQ(auth->refCount, references);
    EXPECT_EQ(record.calls, 0);
    EXPECT_TRUE(sent.empty());
}

} // namespace
