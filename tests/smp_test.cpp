// The protocol engine: requests sent, datagrams handed to the upcall or answered.
#include "agent/comm.h"
#include "agent/mib.h"
#include "asn/asn.h"
#include "ber_craft.h"
#include "platform/log.h"
#include "smp/agentside.h"
#include "smp/aps.h"
#include "smp/msg3.h"
#include "smp/smp.h"
#include "smx/stats.h"
#include "support.h"
#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {
using ber::Bytes;
using ber::hex;
constexpr uint32_t LOOPBACK = 0x7F000001;
const std::string BASE = "1.3.6.1.4.1.32473.1"; // the test entry
constexpr unsigned char GET = 0xA0, NEXT = 0xA1, RESPONSE = 0xA2, SET = 0xA3;
std::string hexOf(const uint8_t *p, int n) {
    std::string s;
    char two[3];
    for (int i = 0; i < n; ++i)
        s += (std::snprintf(two, sizeof two, "%02X", p[i]), two);
    return s;
}
Bytes message(unsigned char tag, const std::vector<Bytes> &binds,
              const std::string &community = "public", int64_t version = 0,
              const Bytes &id = ber::integer(9), int64_t status = 0, int64_t index = 0) {
    Bytes list;
    for (const Bytes &b : binds)
        list.insert(list.end(), b.begin(), b.end());
    Bytes pdu = ber::tlv(
        tag, ber::cat({id, ber::integer(status), ber::integer(index), ber::tlv(0x30, list)}));
    return ber::tlv(0x30, ber::cat({ber::integer(version), ber::octets(community), pdu}));
}
Bytes message(const Bytes &pdu) {
    return ber::tlv(0x30, ber::cat({ber::integer(0), ber::octets("public"), pdu}));
}

// Bindings from a text "kName[=value] ...": kind n null, s text, i integer;
// a name from "." on lies below the entry.
std::vector<Bytes> binds(const std::string &text, const std::string &longName = "") {
    std::vector<Bytes> out;
    std::istringstream in(text);
    for (std::string t; in >> t;) {
        size_t eq = t.find('=');
        std::string name = t.substr(1, eq - 1), value = eq == t.npos ? "" : t.substr(eq + 1);
        name = name == "long" ? longName : name[0] == '.' ? BASE + name : name;
        out.push_back(ber::varBind(name, t[0] == 'n'   ? ber::null()
                                         : t[0] == 's' ? ber::octets(value)
                                                       : ber::integer(std::stoll(value))));
    }
    return out;
}

// The entry's instances column.0: 1 an Integer, the others OctetStrings;
// column 2 is writable, column 8 too long for two copies in one message.
std::map<uint32_t, Bytes> columns;
AsnNode *valueOf(std::map<uint32_t, Bytes>::iterator it) {
    if (it == columns.end())
        return nullptr;
    bool integer = it->first == 1, counter64 = it->first == 5;
    return asnNewPrimitive(counter64 ? uint32_t{ASN_APPLICATION} : 0u,
                           integer     ? 2
                           : counter64 ? 6
                                       : 4,
                           integer || counter64 ? ASN_INTEGER : ASN_OCTETS, it->second.data(),
                           static_cast<int>(it->second.size()));
}
AsnNode *entryGet(const uint32_t *ids, int count, uintptr_t) {
    return count == 2 && ids[1] == 0 ? valueOf(columns.find(ids[0])) : nullptr;
}
AsnNode *entryNext(uint32_t *ids, int *count, uintptr_t) {
    auto it = *count == 0   ? columns.begin()
              : *count == 1 ? columns.lower_bound(ids[0])
                            : columns.upper_bound(ids[0]);
    ids[0] = it == columns.end() ? 0 : it->first;
    ids[1] = 0;
    *count = 2;
    return valueOf(it);
}
int entryTestSet(const uint32_t *ids, int count, AsnNode *value, uintptr_t) {
    if (count != 2 || ids[0] != 2 || ids[1] != 0)
        return SMP_NO_SUCH_NAME;
    return asnClass(value) == 0 && asnTag(value) == 4 ? 0 : SMP_BAD_VALUE;
}
int entrySet(const uint32_t *ids, int, AsnNode *value, uintptr_t) {
    columns[ids[0]].assign(asnValue(value), asnValue(value) + asnValueLength(value));
    return 0;
}
constexpr MibOps entryOps = {entryGet, entryNext, entryTestSet, entrySet, nullptr};

std::vector<Bytes> sent;
int sendResult = 0, negativeSends = 0;
std::vector<std::string> seen;
int captureSend(void *, const uint8_t *octets, int length) {
    if (length < 0)
        return ++negativeSends, 1;
    if (sendResult == 0)
        sent.emplace_back(octets, octets + length);
    return sendResult;
}
int recordingUpcall(SmpObject *, SmpPdu *r) {
    char text[160];
    std::snprintf(text, sizeof text, "%d id %d err %d/%u n %u %s", r->type, r->requestId,
                  r->errorStatus, r->errorIndex, r->count, r->auth ? r->auth->name : "none");
    std::string s = text;
    if (r->type == SMP_TRAP) {
        std::snprintf(text, sizeof text, " %d/%d at %d", r->genericTrap, r->specificTrap,
                      r->timeStamp);
        s += " " + ber::oidText(Bytes(r->enterprise, r->enterprise + r->enterpriseLen)) + " " +
             hexOf(r->agentAddr, r->agentAddrLen) + text;
    }
    for (const SmpBind *b = r->binds; b < r->binds + r->count; ++b)
        s += " | " + ber::oidText(Bytes(b->name, b->name + b->nameLen)) + " " +
             std::to_string(b->kind) + " " + std::to_string(b->number) + ":" +
             (b->value ? hexOf(b->value, b->valueLen) : "absent" + std::to_string(b->valueLen));
    seen.push_back(s);
    return 0;
}

SmpPdu record(int32_t type, ApsRec *auth, uint16_t count = 0, SmpBind *list = nullptr) {
    SmpPdu r{};
    std::tie(r.type, r.auth, r.count, r.binds) = std::tie(type, auth, count, list);
    return r;
}
std::vector<int64_t> words() {
    std::vector<int64_t> out(SMP_STATS_WORDS + 1);
    for (int w = 1; w <= SMP_STATS_WORDS; ++w)
        out[w] = smpStatRead(w);
    return out;
}
// "w" for one up since before, "w+n" otherwise.
std::string moved(const std::vector<int64_t> &before) {
    std::string s;
    for (int w = 1; w <= SMP_STATS_WORDS; ++w)
        if (int64_t d = smpStatRead(w) - before[w]; d != 0) // std::string first: GCC 12 warns
            s += std::string(s.empty() ? "" : " ") + std::to_string(w) + // on "x" + std::string
                 (d == 1 ? "" : std::string("+") + std::to_string(d));
    return s;
}

struct Engine : ::testing::Test {
    ApsRec *pub = nullptr;
    static void SetUpTestSuite() { // once a process, for every suite of the fixture
        static bool ready = false;
        if (std::exchange(ready, true))
            return;
        logLevel = 0;
        testing_support::registerAgentSide();
        apsInit();
        apsTrivialInit();
        shmLocalInit();
        community("public", LOOPBACK, COMM_WRITE);
        community("reader", LOOPBACK, COMM_READ);
        ASSERT_NE(mibInit(), nullptr);
        ASSERT_EQ(mibRegister(BASE.c_str(), &entryOps, 0), 0);
    }
    void SetUp() override {
        columns = {{1, {42}}, {2, {'s', 't', 'a', 'r', 't'}}, {8, Bytes(1500, 'x')}};
        mibSetWritable(1);
        smpStatWrite(SMP_STAT_ENABLE_AUTHEN_TRAPS, 2);
        sent.clear(), seen.clear();
        sendResult = negativeSends = 0;
        pub = apsNew("public", "trivial", nullptr);
    }
    void TearDown() override { apsFree(pub); }
    static int input(const Bytes &d, uint32_t host = LOOPBACK, int length = 65535) {
        SmpObject *o = smpNew(nullptr, captureSend, recordingUpcall);
        int16_t n = static_cast<int16_t>(std::min(length, static_cast<int>(d.size())));
        int r = smpInput(o, host, d.data(), n);
        smpFree(o);
        return r;
    }
    static ber::Message exchange(const Bytes &request) {
        size_t before = sent.size();
        input(request);
        EXPECT_EQ(sent.size(), before + 1) << "one reply";
        auto m = sent.size() == before + 1 ? ber::parse(sent.back()) : std::nullopt;
        EXPECT_TRUE(m.has_value());
        return m.value_or(ber::Message{});
    }
};
uint8_t systemOid[] = {0x2B, 0x06, 0x01, 0x02, 0x01, 0x01};

TEST_F(Engine, RequestsGoOutAsInRfc1157WithTheirCounters) {
    uint8_t ab[] = {'a', 'b'};
    SmpBind bind{6, systemOid, SMP_KIND_OPAQUE, 2, ab, 0};
    struct Row {
        int32_t type, id, status;
        uint16_t count;
        std::string pdu, counters;
    } rows[] = {
        {SMP_GET_NEXT_REQUEST, 0, 0, 1,
         "A1 19 020100 020100 020100 300E 300C 06062B0601020101 44026162", "2 26"},
        {SMP_GET_REQUEST, 200, 0, 0, "A0 0C 020200C8 020100 020100 3000", "2 25"},
        // Header integers go out unsigned: ids past 2^31 take five octets.
        {SMP_GET_REQUEST, INT32_MIN, 0, 0, "A0 0F 02050080000000 020100 020100 3000", "2 25"},
        {SMP_SET_REQUEST, 0, SMP_TOO_BIG, 0, "A3 0B 020100 020101 020100 3000", "2 20 27"},
        {SMP_GET_RESPONSE, 0, SMP_NO_SUCH_NAME, 0, "A2 0B 020100 020102 020100 3000", "2 21 28"},
        {SMP_GET_RESPONSE, 0, 6, 0, "A2 0B 020100 020106 020100 3000", "2 28"},
    };
    SmpObject *object = smpNew(nullptr, captureSend, nullptr);
    for (const Row &r : rows) {
        SmpPdu pdu = record(r.type, pub, r.count, &bind);
        pdu.requestId = r.id;
        pdu.errorStatus = r.status;
        auto before = words();
        ASSERT_EQ(smpRequest(object, &pdu), 0);
        EXPECT_EQ(sent.back(), message(hex(r.pdu)));
        EXPECT_EQ(moved(before), r.counters) << r.pdu;
    }
    smpFree(object);
}

TEST_F(Engine, RequestsThatCannotBeBuiltOrSentCountNothing) {
    static uint8_t big[1500] = {};
    SmpBind bad[] = {{6, systemOid, SMP_KIND_NULL, 0, nullptr, 0},
                     {6, systemOid, 42, 0, nullptr, 0}};
    SmpObject *object = smpNew(nullptr, captureSend, nullptr);
    auto before = words();
    SmpPdu pdu = record(SMP_GET_REQUEST, pub, 2, bad), orphan = record(SMP_GET_REQUEST, nullptr);
    EXPECT_EQ(smpRequest(object, &pdu), 1);
    EXPECT_EQ(smpRequest(nullptr, &pdu), 1);
    EXPECT_EQ(smpRequest(object, nullptr), 1);
    EXPECT_EQ(smpRequest(object, &orphan), 1);
    pdu = record(5, pub);
    EXPECT_EQ(smpRequest(object, &pdu), 1);
    pdu = record(SMP_SET_REQUEST, pub);
    sendResult = 7;
    EXPECT_EQ(smpRequest(object, &pdu), 7);
    // A message over the datagram limit reaches the send function as a failure.
    SmpBind two[2] = {{6, systemOid, SMP_KIND_OCTET_STRING, 1500, big, 0}, {}};
    two[1] = two[0];
    pdu = record(SMP_GET_RESPONSE, pub, 2, two);
    sendResult = 0;
    EXPECT_NE(smpRequest(object, &pdu), 0);
    EXPECT_EQ(negativeSends, 1);
    EXPECT_EQ(moved(before), "");
    EXPECT_TRUE(sent.empty());
    pdu.count = 1;
    EXPECT_EQ(smpRequest(object, &pdu), 0);
    smpFree(object);
}

// Header integers keep their low 32 bits; the error index its low 16.
TEST_F(Engine, ResponsesAndTrapsReachTheUpcall) {
    ApsRec *sixteen = apsNew("0123456789abcdef", "trivial", nullptr);
    auto v = [](const char *name, const char *value) { return ber::varBind(name, hex(value)); };
    const std::pair<Bytes, std::string> rows[] = {
        {ber::response(200, {v("1.3.1", "0403626F78"), v("1.3.2", "430210E1")}, 2, 1),
         "2 id 200 err 2/1 n 2 public | 1.3.1 2 0:626F78 | 1.3.2 7 4321:10E1"},
        {ber::response(2147483648, {}), "2 id -2147483648 err 0/0 n 0 public"},
        {ber::response(4294967301, {}), "2 id 5 err 0/0 n 0 public"},
        {ber::response(1, binds("n1.3.1 n1.3.2 n1.3.3"), SMP_TOO_BIG, 70000),
         "2 id 1 err 1/4464 n 3 public | 1.3.1 9 0: | 1.3.2 9 0: | 1.3.3 9 0:"},
        {ber::response(1, {}, 0, 0, "0123456789abcdef"), "2 id 1 err 0/0 n 0 0123456789abcdef"},
        {ber::response(3, {v("1.3.9", "2480 04026162 0403636465 0000")}), // segments: no value
         "2 id 3 err 0/0 n 1 public | 1.3.9 2 0:absent5"},
        {message(ber::tlv(0xA4, hex("06062B0601020101 40047F000001 020106 020111 430204B0 3000"))),
         "4 id 0 err 0/0 n 0 public 1.3.6.1.2.1.1 7F000001 6/17 at 1200"},
    };
    for (const auto &[datagram, text] : rows) {
        seen.clear();
        auto before = words();
        EXPECT_EQ(input(datagram), 0);
        EXPECT_EQ(seen, std::vector<std::string>{text});
        EXPECT_EQ(moved(before), text[0] == '4' ? "1 19" : "1 18");
    }
    EXPECT_EQ(pub->refCount, 2) << "the references apsVerify took are given back";
    EXPECT_TRUE(sent.empty());
    apsFree(sixteen);
}
int traps = 0; // authenticationFailure Traps the engine asked for
int countTrap(int32_t generic, int32_t specific, uint16_t, SmpBind *) {
    traps += generic == SMP_TRAP_AUTHENTICATION_FAILURE && specific == 0;
    return 0;
}

// Repeated so that LeakSanitizer reports any tree or handle left.
TEST_F(Engine, RefusedDatagramsAreCountedUnansweredAndLeaveNothing) {
    smpRegisterTrapSender(countTrap);
    smpStatWrite(SMP_STAT_ENABLE_AUTHEN_TRAPS, 1);
    const Bytes get = message(GET, binds("n.1.0")), whole = ber::response(7, binds("n1.3.6"));
    const struct Row {
        Bytes datagram;
        uint32_t host;
        std::string counters;
        int traps, length = 65535; // the octets handed over, at most the datagram's
    } rows[] = {
        {whole, LOOPBACK, "1 6", 0, 0},
        {whole, LOOPBACK, "1 6", 0, static_cast<int>(whole.size() / 2)},
        {hex("0400"), LOOPBACK, "1 6", 0},       // not a SEQUENCE
        {message(0xA7, {}), LOOPBACK, "1 6", 0}, // no such PDU
        // RFC 2578, 7.1.3: a sub-identifier of 2^32 names nothing; it is not read as 0.
        {message(GET, {hex("300B 0607 2B06 9080808000 0500")}), LOOPBACK, "1 6", 0},
        {Bytes(get.begin(), get.begin() + 20), LOOPBACK, "1 6", 0},
        {ber::cat({get, hex("00")}), LOOPBACK, "1 6", 0}, // an octet after the message
        {message(GET, {}, "public", 3), LOOPBACK, "1 3", 0},
        {message(RESPONSE, {}, "public", -7), LOOPBACK, "1 3", 0},
        {message(RESPONSE, {}, "private"), LOOPBACK, "1 4", 1},
        {message(GET, {}, "pub"), LOOPBACK, "1 4", 1},
        {message(GET, {}, std::string("public\0x", 8)), LOOPBACK, "1 4", 1}, // octets, not text
        {message(GET, {}, "publicpublicpubli"), LOOPBACK, "1 4", 1},         // longer than any name
        {get, 0, "1 4", 1},                                                  // host not identified
        {message(SET, {}, "reader"), LOOPBACK, "1 5", 1}, // a write with read rights
    };
    for (const Row &r : rows) {
        auto before = words();
        traps = 0;
        EXPECT_EQ(input(r.datagram, r.host, r.length), 1);
        EXPECT_EQ(moved(before), r.counters) << hexOf(r.datagram.data(), 24) << " " << r.length;
        EXPECT_EQ(traps, r.traps) << hexOf(r.datagram.data(), 24);
    }
    smpStatWrite(SMP_STAT_ENABLE_AUTHEN_TRAPS, 2);
    traps = 0;
    for (int i = 0; i < 100000; ++i) {
        const Row &r = rows[static_cast<size_t>(i) % std::size(rows)];
        ASSERT_EQ(input(r.datagram, r.host, r.length), 1) << i;
    }
    // A failed object stays failed: the rest, or even a whole message, is not looked at.
    SmpObject *o = smpNew(nullptr, captureSend, recordingUpcall);
    auto before = words();
    EXPECT_EQ(smpInput(o, LOOPBACK, whole.data(), 9), 1);
    EXPECT_EQ(smpInput(o, LOOPBACK, whole.data(), static_cast<int16_t>(whole.size())), 1);
    EXPECT_EQ(moved(before), "1+2 6");
    EXPECT_EQ(smpInput(nullptr, LOOPBACK, whole.data(), static_cast<int16_t>(whole.size())), 1);
    smpFree(o);
    EXPECT_EQ(traps, 0);
    testing_support::registerAgentSide();
    EXPECT_TRUE(seen.empty());
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(pub->refCount, 2); // the fixture's and the community module's
}

// A reply as "status/index name=value ...": names below the entry by their
// column, values as numbers, texts (long ones by their length) or null.
std::string show(const ber::Message &m) {
    std::string s = std::to_string(m.status) + "/" + std::to_string(m.index);
    for (const ber::Bind &b : m.binds) {
        const Bytes &c = b.value.content;
        std::string name = b.name.rfind(BASE + ".", 0) == 0 ? b.name.substr(BASE.size())
                           : b.name.size() > 40             ? "long"
                                                            : b.name;
        std::string value = b.value.tag == 0x02 || b.value.tag == 0x46
                                ? std::to_string(ber::toInt(c))
                            : b.value.tag == 0x05 ? "null"
                            : b.value.tag >= 0x80 && b.value.tag <= 0x82
                                ? smxKindName(SMP_KIND_NO_SUCH_OBJECT + b.value.tag - 0x80)
                            : c.size() > 16 ? "#" + std::to_string(c.size())
                                            : std::string(c.begin(), c.end());
        s += " " + name + "=" + value;
    }
    return s;
}

// Rows in order: each sees the store the rows before it left. The request
// id goes back as its octets came, not re-encoded.
TEST_F(Engine, RequestsAreAnsweredBindingByBinding) {
    std::string longName = "1.3.6.1.4.1";
    for (int i = 0; i < 520; ++i)
        longName += ".1";
    const struct Row {
        unsigned char tag;
        std::string binds, reply, counters, id = "020109";
        bool writable = true;
        size_t eighth = 1500; // the length of column 8
    } rows[] = {
        {GET, "n.1.0 n.2.0", "0/0 .1.0=42 .2.0=start", "1 2 13+2 15 28"},
        {GET, "n.1.0 n.9.0", "2/2 .1.0=null .9.0=null", "1 2 15 21 28"},
        {GET, "", "0/0", "1 2 15 28", "0201FF"},
        {NEXT, "n1.3.6.1.4.1 n.1.0", "0/0 .1.0=42 .2.0=start", "1 2 13+2 16 28", "020180"},
        {NEXT, "n.8.0", "2/1 .8.0=null", "1 2 16 21 28", "02020080"}, // the store's end
        // A name past the store's old 512-octet buffer still has its successor.
        {NEXT, "n" + BASE + " nlong", "0/0 .1.0=42 .1.0=42", "1 2 13+2 16 28", "02047FFFFFFF"},
        // RFC 1157, 4.1.5: every binding is tested before any is set.
        {SET, "s.2.0=new i.1.0=7", "2/2 .2.0=new .1.0=7", "1 2 17 21 28", "02050080000000"},
        {GET, "n.2.0", "0/0 .2.0=start", "1 2 13 15 28", "020500FFFFFFFF"},
        {SET, "i.2.0=1", "3/1 .2.0=1", "1 2 17 22 28", "020480000000"},
        {SET, "s.2.0=abc", "0/0 .2.0=abc", "1 2 14 17 28"},
        {SET, "s.2.0=z", "4/1 .2.0=z", "1 2 17 28", "020109", false},
        {GET, "n.2.0", "0/0 .2.0=abc", "1 2 13 15 28"},
        // RFC 1157, 4.1.2: a reply that does not fit is tooBig, index 0, the request's bindings.
        {GET, "n.8.0", "0/0 .8.0=#1500", "1 2 13 15 28"},
        {GET, "n.8.0 n.8.0", "1/0 .8.0=null .8.0=null", "1 2 15 20 28"},
        {NEXT, "n.3.0 n.3.0", "1/0 .3.0=null .3.0=null", "1 2 16 20 28"},
        // The reply list fills before any message is formed: index 0 as well.
        {GET, "n.8.0 n.8.0", "1/0 .8.0=null .8.0=null", "1 2 15 20 28", "020109", true,
         ASN_CAPACITY / 2 + 16},
    };
    for (const Row &r : rows) {
        mibSetWritable(r.writable);
        columns[8].assign(r.eighth, 'x');
        auto before = words();
        ber::Message m = exchange(message(r.tag, binds(r.binds, longName), "public", 0, hex(r.id)));
        EXPECT_EQ(show(m), r.reply);
        EXPECT_EQ(moved(before), r.counters) << r.reply;
        EXPECT_EQ(m.pduTag, RESPONSE);
        EXPECT_LE(sent.back().size(), static_cast<size_t>(SMP_MESSAGE_MAX));
        Bytes id = hex(r.id);
        EXPECT_EQ(m.requestId, ber::toInt(Bytes(id.begin() + 2, id.end()))) << r.id;
    }
}

// Version 2c (RFC 3416, 4.2; RFC 3584, 4.2.2 for version 1 beside it): rows in
// order as above, column 5 a Counter64. Bulk rows give non-repeaters and
// max-repetitions.
TEST_F(Engine, Version2cAnswersWithExceptionsAndBulk) {
    columns[5] = {0x01, 0x00};
    const struct Row {
        int version;
        unsigned char tag;
        std::string binds, reply, community = "public";
        int nonRepeaters = 0, maxRepetitions = 0;
        size_t eighth = 1500;
        bool writable = true;
    } rows[] = {
        {1, GET, "n.1.0 n.9.0 n1.3.9", "0/0 .1.0=42 .9.0=noSuchInstance 1.3.9=noSuchObject"},
        {1, NEXT, "n.8.0", "0/0 .8.0=endOfMibView"},
        {1, GET, "n.5.0", "0/0 .5.0=256"},
        {0, GET, "n.5.0", "2/1 .5.0=null"},   // no Counter64 for version 1
        {0, NEXT, "n.2.0", "0/0 .8.0=#1500"}, // passed over
        {1, NEXT, "n.2.0", "0/0 .5.0=256"},
        {1, 0xA5, "n.1.0 n.2.0 n.5.0", // rows stop after one all at the end
         "0/0 .2.0=start .5.0=256 .8.0=x .8.0=x .8.0=endOfMibView .8.0=endOfMibView "
         ".8.0=endOfMibView",
         "public", 1, 5, 1},
        {1, 0xA5, "n.1.0 n.1.0", "0/0 .2.0=start .2.0=start .5.0=256 .5.0=256 .8.0=#1500", "public",
         0, 10}, // as much as fits
        {1, 0xA5, "n.1.0", "0/0", "public", -1, -1},
        {1, GET, "n.8.0 n.8.0", "1/0"}, // tooBig with no bindings
        {1, SET, "s.2.0=z", "17/1 .2.0=z", "public", 0, 0, 1500, false},
        {1, SET, "i.2.0=1", "10/1 .2.0=1"},
        {1, SET, "s.9.0=x", "17/1 .9.0=x"},
        {1, SET, "s.2.0=y", "6/1 .2.0=y", "reader"},
    };
    for (const Row &r : rows) {
        mibSetWritable(r.writable);
        columns[8].assign(r.eighth, 'x');
        // GetBulk's counts stand where status and index do.
        ber::Message m = exchange(message(r.tag, binds(r.binds), r.community, r.version,
                                          ber::integer(9), r.nonRepeaters, r.maxRepetitions));
        EXPECT_EQ(show(m), r.reply) << r.binds;
        EXPECT_EQ(m.version, r.version) << r.binds;
    }
    // A v1 walk's step that meets only Counter64s goes on past them.
    columns = {{5, {1}}};
    EXPECT_EQ(show(exchange(message(NEXT, binds("n.1.0")))), "2/1 .1.0=null");
}

TEST_F(Engine, UnregisteredPartsAreIdle) {
    smpRegisterCommunityCheck(nullptr);
    smpRegisterTrapSender(nullptr);
    smpRegisterStore(nullptr);
    smpStatWrite(SMP_STAT_ENABLE_AUTHEN_TRAPS, 1);
    EXPECT_EQ(input(message(GET, binds("n.1.0"))), 1);
    EXPECT_TRUE(sent.empty());
    smpRegisterCommunityCheck(commVerify);
    EXPECT_EQ(show(exchange(message(GET, binds("n.1.0")))), "2/1 .1.0=null");
    EXPECT_EQ(show(exchange(message(NEXT, binds("n.1.0")))), "2/1 .1.0=null");
    EXPECT_EQ(show(exchange(message(SET, binds("s.2.0=x")))), "4/1 .2.0=x");
    EXPECT_EQ(smpAgentSide.store.testSet(nullptr, nullptr, 0, nullptr), SMP_GEN_ERR);
    testing_support::registerAgentSide();
}

TEST_F(Engine, DensestRequestsAreAnswered) {
    const Bytes empty = hex("3004 0600 0500"); // an empty name, found nowhere
    const struct Row {
        unsigned char tag;
        Bytes binding;
        int count;
        size_t size;
        int64_t status, index;
    } rows[] = {
        {GET, empty, 336, 2048, SMP_NO_SUCH_NAME, 1},
        {NEXT, binds("n1.3.6.1.4.1.1")[0], 168, 2048, SMP_TOO_BIG, 0}, // answers outgrow names
    };
    for (const Row &r : rows) {
        Bytes m = message(r.tag, std::vector<Bytes>(r.count, r.binding));
        ASSERT_EQ(m.size(), r.size) << r.count;
        auto reply = exchange(m);
        EXPECT_EQ(std::make_tuple(reply.status, reply.index, reply.binds.size()),
                  std::make_tuple(r.status, r.index, static_cast<size_t>(r.count)));
        EXPECT_LE(sent.back().size(), static_cast<size_t>(SMP_MESSAGE_MAX));
    }
    Bytes m = message(GET, std::vector<Bytes>(337, empty));
    ASSERT_EQ(m.size(), 2054u);
    auto before = words();
    EXPECT_EQ(input(m), 1);
    EXPECT_EQ(moved(before), "1 6");
}

// A decoded version-3 message as "msgID maxSize flags engine boots time user auth LEN@OFFSET
// priv PRIV", then "encrypted N" or the context and the PDU as the engine cracks it.
std::string fieldsOf(const Msg3 &m) {
    const Msg3Usm &u = m.usm;
    const Msg3Scoped &c = m.scoped;
    char text[200];
    std::snprintf(text, sizeof text, "%d %d %02X %s %d %d %.*s auth %d@%d priv %s", m.msgId,
                  m.maxSize, m.flags, hexOf(u.engineId, u.engineIdLen).c_str(), u.boots, u.time,
                  u.userNameLen, reinterpret_cast<const char *>(u.userName), u.authLen,
                  u.authOffset, hexOf(u.privParams, u.privLen).c_str());
    if (m.encrypted)
        return text + (" encrypted " + std::to_string(m.dataLen));
    std::string s = std::string(text) + " | " + hexOf(c.contextEngineId, c.contextEngineIdLen) +
                    " '" + std::string(c.contextName, c.contextName + c.contextNameLen) + "' " +
                    std::to_string(asnTag(c.pdu)) + " id " +
                    std::to_string(smpComponentInt(c.pdu, 1));
    AsnNode *list = asnComponent(c.pdu, 4);
    uint16_t count = 0;
    SmpBind *b = smpCrackList(list, &count);
    for (uint16_t i = 0; i < count; ++i)
        s += " " + ber::oidText(Bytes(b[i].name, b[i].name + b[i].nameLen)) + "=" +
             std::to_string(b[i].kind) + ":" + hexOf(b[i].value, b[i].valueLen);
    smpFreeBinds(b);
    asnFree(list);
    return s;
}

// snmpget -v3 -d of Debian's net-snmp 5.9.3 against its snmpd (engineID v3codectest; SHA,
// AES): discovery, its Report of usmStatsUnknownEngineIDs, a noAuthNoPriv Response, an
// authNoPriv Get (the MAC at 65), an authPriv Get. Each encodes back to its octets with the
// MAC zeroed; a plaintext ScopedPDU also alone, and decodes alone with DES padding after it.
TEST(Msg3, NetSnmpMessagesDecodeAndEncodeBack) {
    const std::string engine = "80001F88047633636F64656374657374";
    const struct Row {
        std::string octets, fields;
    } rows[] = {
        {"303E0201033011020437487DC3020300FFE30401040201030410300E0400020100020100040004000400"
         "301404000400A00E02040E206B6D0201000201003000",
         "927497667 65507 04  0 0  auth 0@40 priv  |  '' 0 id 237005677"},
        {"306F0201033011020437487DC3020300FFE30401000201030420301E041080001F88047633636F646563"
         "746573740201010201050400040004003035041080001F88047633636F646563746573740400A81F0204"
         "0E206B6D0201000201003011300F060A2B060106030F01010400410101",
         "927497667 65507 00 " + engine + " 1 5  auth 0@56 priv  | " + engine +
             " '' 8 id 237005677 1.3.6.1.6.3.15.1.1.4.0=5:01"},
        {"30740201033011020437487DC2020300FFE304010002010304263024041080001F88047633636F646563"
         "7465737402010102010504066E6F61757468040004003034041080001F88047633636F64656374657374"
         "0400A21E02040E206B6C0201000201003010300E06082B060102010105000402766D",
         "927497666 65507 00 " + engine + " 1 5 noauth auth 0@62 priv  | " + engine +
             " '' 2 id 237005676 1.3.6.1.2.1.1.5.0=2:766D"},
        {"3081800201033011020448992F9D020300FFE304010502010304343032041080001F88047633636F6465"
         "637465737402010102010704086175746875736572040C302E5BF77A7F06670BBAD48E04003032041080"
         "001F88047633636F646563746573740400A01C02046193C116020100020100300E300C06082B06010201"
         "0105000500",
         "1217998749 65507 05 " + engine + " 1 7 authuser auth 12@65 priv  | " + engine +
             " '' 0 id 1637073174 1.3.6.1.2.1.1.5.0=9:"},
        {"30818A02010330110204600DA426020300FFE3040107020103043C303A041080001F88047633636F6465"
         "637465737402010102010704087072697675736572040C163BCD9138CFD3D4ED1DD33204083FF8290E2B"
         "50D8C00434D11F72B4B23E44C3645CA4D35D7E93B3A29B5A3B119C134E833F57B27031A51C3E1335DF41"
         "651B9ADBB554B1694AE962E8169199",
         "1611506726 65507 07 " + engine +
             " 1 7 privuser auth 12@65 priv 3FF8290E2B50D8C0 "
             "encrypted 52"},
    };
    for (const Row &r : rows) {
        const Bytes d = hex(r.octets);
        Msg3 m{};
        ASSERT_EQ(msg3Decode(d.data(), static_cast<int>(d.size()), &m), MSG3_OK) << r.fields;
        EXPECT_EQ(fieldsOf(m), r.fields);
        Bytes zeroed = d, out(SMP_MESSAGE_MAX, 0xFF), alone(SMP_MESSAGE_MAX);
        std::fill_n(zeroed.begin() + m.usm.authOffset, m.usm.authLen, 0);
        int16_t at = -1;
        int n = msg3Encode(&m, out.data(), SMP_MESSAGE_MAX, &at);
        EXPECT_EQ(hexOf(out.data(), n), hexOf(zeroed.data(), static_cast<int>(zeroed.size())));
        EXPECT_EQ(at, m.usm.authOffset);
        EXPECT_EQ(msg3Encode(&m, out.data(), n - 1, &at), -MSG3_UNFIT);
        if (!m.encrypted) {
            int k = msg3EncodeScoped(&m.scoped, alone.data(), SMP_MESSAGE_MAX);
            EXPECT_EQ(hexOf(alone.data(), k), hexOf(m.data, m.dataLen));
            EXPECT_EQ(msg3EncodeScoped(&m.scoped, alone.data(), k - 1), -MSG3_UNFIT);
            Msg3 again = m;
            Bytes padded(m.data, m.data + m.dataLen);
            padded.insert(padded.end(), 7, 0x07);
            testing_support::EventCapture capture; // no decrypted octet in a trace, at any level
            int saved = std::exchange(logLevel, 3);
            EXPECT_EQ(
                msg3DecodeScoped(padded.data(), static_cast<int>(padded.size()), &again.scoped),
                MSG3_OK);
            logLevel = saved;
            EXPECT_EQ(capture.joined(), "");
            EXPECT_EQ(fieldsOf(again), r.fields);
            asnFree(again.scoped.pdu);
            EXPECT_EQ(msg3DecodeScoped(padded.data(), m.dataLen - 1, &again.scoped),
                      MSG3_PARSE_ERROR);
        }
        asnFree(m.scoped.pdu);
    }
}

// Each refusal with the counter it names (RFC 3412, 7.2; RFC 3414, 3.2 step 1), in that order.
TEST(Msg3, RefusalsNameTheirCounter) {
    using ber::integer, ber::tlv, ber::cat;
    const Bytes scoped = hex("3011 0400 0400 A00B 020101 020100 020100 3000");
    auto usm = [](size_t engine, int64_t boots, int64_t time, size_t user, const Bytes &tail = {}) {
        return tlv(0x04, cat({tlv(0x30, cat({tlv(0x04, Bytes(engine, 0x80)), integer(boots),
                                             integer(time), tlv(0x04, Bytes(user, 'u')),
                                             tlv(0x04, Bytes(12, 0)), tlv(0x04, {})})),
                              tail}));
    };
    auto v3 = [&](int64_t id, int64_t max, const Bytes &flags, int64_t model, const Bytes &security,
                  const Bytes &data, int64_t version = 3) {
        return tlv(
            0x30,
            cat({integer(version),
                 tlv(0x30, cat({integer(id), integer(max), tlv(0x04, flags), integer(model)})),
                 security, data}));
    };
    const Bytes good = usm(5, 0, 0, 32), auth{0x05}, big = usm(16, 1, 5, 33);
    const int64_t top = 2147483647;
    const Bytes cut = Bytes(good.begin(), good.end() - 1);
    const struct Row {
        Bytes datagram;
        int status;
    } rows[] = {
        {v3(0, 484, auth, 3, good, scoped), MSG3_OK},
        {v3(top, top, auth, 3, usm(32, top, top, 0), tlv(0x04, {})), MSG3_OK},
        {v3(-1, 484, auth, 3, good, scoped), MSG3_PARSE_ERROR},
        {v3(top + 1, 484, auth, 3, good, scoped), MSG3_PARSE_ERROR},
        {v3(int64_t{1} << 32, 484, auth, 3, good, scoped), MSG3_PARSE_ERROR}, // low bits 0
        {v3(0, 483, auth, 3, good, scoped), MSG3_PARSE_ERROR},
        {v3(0, top + 1, auth, 3, good, scoped), MSG3_PARSE_ERROR},
        {v3(0, 484, auth, 0, good, scoped), MSG3_PARSE_ERROR},
        {v3(0, 484, auth, 3, good, scoped, 1), MSG3_PARSE_ERROR},
        {v3(0, 484, auth, 1, good, scoped), MSG3_UNKNOWN_MODEL},
        {v3(0, 484, auth, 2, good, scoped), MSG3_UNKNOWN_MODEL},
        {v3(0, 484, {4, 5}, 99, good, scoped), MSG3_UNKNOWN_MODEL},
        {v3(0, 484, {4, 5}, 3, good, scoped), MSG3_INVALID},
        {v3(0, 484, {}, 3, good, scoped), MSG3_INVALID},
        {v3(0, 484, {0x06}, 3, good, scoped), MSG3_INVALID},
        {v3(0, 484, auth, 3, usm(33, 0, 0, 0), scoped), MSG3_PARSE_ERROR},
        {v3(0, 484, auth, 3, usm(4, 0, 0, 0), scoped), MSG3_PARSE_ERROR},
        {v3(0, 484, auth, 3, big, scoped), MSG3_PARSE_ERROR},
        {v3(0, 484, auth, 3, usm(5, -1, 0, 0), scoped), MSG3_PARSE_ERROR},
        {v3(0, 484, auth, 3, usm(5, 0, top + 1, 0), scoped), MSG3_PARSE_ERROR},
        {v3(0, 484, auth, 3, tlv(0x04, Bytes(cut.begin() + 2, cut.end())), scoped),
         MSG3_PARSE_ERROR},
        {v3(0, 484, auth, 3, usm(5, 0, 0, 0, {0}), scoped), MSG3_PARSE_ERROR},
        {cat({v3(0, 484, auth, 3, good, scoped), {0}}), MSG3_PARSE_ERROR},
        {v3(0, 484, auth, 3, good, integer(0)), MSG3_PARSE_ERROR},
    };
    for (const Row &r : rows) {
        Msg3 m{};
        EXPECT_EQ(msg3Decode(r.datagram.data(), static_cast<int>(r.datagram.size()), &m), r.status)
            << hexOf(r.datagram.data(), static_cast<int>(r.datagram.size()));
        asnFree(m.scoped.pdu);
    }
    // What the encoder refuses to send.
    Msg3 m{};
    ASSERT_EQ(msg3Decode(rows[0].datagram.data(), static_cast<int>(rows[0].datagram.size()), &m),
              MSG3_OK);
    uint8_t out[SMP_MESSAGE_MAX];
    int16_t at = 0;
    for (auto change : std::vector<void (*)(Msg3 &)>{
             [](Msg3 &x) { x.usm.userNameLen = 33; }, [](Msg3 &x) { x.usm.authLen = 49; },
             [](Msg3 &x) { x.flags = MSG3_FLAG_PRIV; }, [](Msg3 &x) { x.encrypted = true; },
             [](Msg3 &x) { x.usm.engineIdLen = 4; }, [](Msg3 &x) { x.maxSize = 483; }}) {
        Msg3 bad = m;
        change(bad);
        EXPECT_EQ(msg3Encode(&bad, out, SMP_MESSAGE_MAX, &at), -MSG3_BAD_ARGUMENT);
    }
    EXPECT_GT(msg3Encode(&m, out, SMP_MESSAGE_MAX, &at), 0);
    asnFree(m.scoped.pdu);
}

} // namespace
