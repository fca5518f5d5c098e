// The engine as an agent over real UDP on 127.0.0.1, questioned by Debian's
// net-snmp clients (snmpget, snmpgetnext, snmpset, snmpwalk) run as black boxes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "agent/comm.h"
#include "agent/mib.h"
#include "asn/asn.h"
#include "platform/log.h"
#include "platform/net.h"
#include "smp/aps.h"
#include "smp/smp.h"
#include "smx/stats.h"
#include "support.h"

namespace {

using testing_support::findProgram;
using testing_support::ProcessResult;
using testing_support::runProcess;

constexpr uint32_t LOOPBACK = 0x7F000001;
const std::string BASE = ".1.3.6.1.4.1.32473.2";

// Columns N.0, one value kind each; column 2 is writable with an OCTET STRING.
struct Column {
    uint32_t tagClass, tag, kind;
    std::vector<uint8_t> octets;
};
std::map<uint32_t, Column> columns;

AsnNode *columnValue(uint32_t c) {
    const Column &col = columns.at(c);
    return asnNewPrimitive(col.tagClass, col.tag, col.kind, col.octets.data(),
                           static_cast<int>(col.octets.size()));
}

AsnNode *peerGet(const uint32_t *ids, int count, uintptr_t) {
    return count == 2 && ids[1] == 0 && columns.count(ids[0]) ? columnValue(ids[0]) : nullptr;
}

AsnNode *peerNext(uint32_t *ids, int *count, uintptr_t) {
    auto it = *count == 0
                  ? columns.begin()
                  : (*count == 1 ? columns.lower_bound(ids[0]) : columns.upper_bound(ids[0]));
    if (it == columns.end())
        return nullptr;
    ids[0] = it->first;
    ids[1] = 0;
    *count = 2;
    return columnValue(it->first);
}

int peerTestSet(const uint32_t *ids, int count, AsnNode *value, uintptr_t) {
    if (count != 2 || ids[0] != 2 || ids[1] != 0)
        return SMP_NO_SUCH_NAME;
    return asnClass(value) == 0 && asnTag(value) == 4 ? 0 : SMP_BAD_VALUE;
}

int peerSet(const uint32_t *ids, int count, AsnNode *value, uintptr_t context) {
    int r = peerTestSet(ids, count, value, context);
    if (r == 0)
        columns[2].octets.assign(asnValue(value), asnValue(value) + asnValueLength(value));
    return r;
}

constexpr MibOps peerOps = {peerGet, peerNext, peerTestSet, peerSet};

int ignoreUpcall(SmpObject *, SmpPdu *) {
    return 0;
}

// The agent: one fresh protocol object per datagram, answering through an
// endpoint for that datagram's sender.
struct AgentLoop {
    int sock = -1;
    int port = 0;
    std::atomic<bool> stop{false};
    std::thread thread;

    AgentLoop() {
        sock = udpOpenSocket();
        if (sock < 0 || udpBindSocket(sock, LOOPBACK, 0) != 0)
            return;
        port = udpGetLocalPort(sock);
        thread = std::thread([this] { run(); });
    }
    ~AgentLoop() {
        stop = true;
        if (thread.joinable())
            thread.join();
        if (sock >= 0)
            udpCloseSocket(sock);
    }
    void run() {
        uint8_t datagram[SMP_MESSAGE_MAX];
        while (!stop) {
            if (udpWaitReadable(sock, 50) != 1)
                continue;
            uint32_t from = 0;
            uint16_t fromPort = 0;
            int length = udpReceive(sock, datagram, SMP_MESSAGE_MAX, &from, &fromPort);
            if (length < 0)
                continue;
            UdpEndpoint *sender = udpNew(sock, from, fromPort);
            SmpObject *object = smpNew(sender, udpSend, ignoreUpcall);
            smpInput(object, from, datagram, static_cast<int16_t>(length));
            smpFree(object);
            udpFree(sender);
        }
    }
    std::string address() const { return "127.0.0.1:" + std::to_string(port); }
};

class PeerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        logLevel = 0;
        testing_support::registerAgentSide();
        apsInit();
        apsTrivialInit();
        shmLocalInit();
        smpStatWrite(SMP_STAT_ENABLE_AUTHEN_TRAPS, 2);
        community("public", LOOPBACK, COMM_READ);
        community("private", LOOPBACK, COMM_WRITE);
        mibInit();
        mibRegister(BASE.substr(1).c_str(), &peerOps, 0);
    }
    void SetUp() override {
        for (const char *tool : {"snmpget", "snmpgetnext", "snmpset", "snmpwalk"})
            if (findProgram(tool).empty())
                GTEST_SKIP() << tool << " is not installed (Debian package snmp)";
        columns = {
            {1, {0, 2, ASN_INTEGER, {42}}},
            {2, {0, 4, ASN_OCTETS, {'s', 't', 'a', 'r', 't'}}},
            {3, {0, 6, ASN_OBJECTID, {0x2B, 6, 1, 2, 1}}},
            {4, {1, 0, ASN_OCTETS, {127, 0, 0, 1}}},
            {5, {1, 1, ASN_INTEGER, {5}}},
            {6, {1, 2, ASN_INTEGER, {0x00, 0xFF, 0xFF, 0xFF, 0xFF}}},
            {7, {1, 3, ASN_INTEGER, {0x04, 0xB0}}},
        };
        ASSERT_GT(agent.port, 0);
    }
    AgentLoop agent;

    ProcessResult netsnmp(const std::string &tool, const std::string &communityName,
                          std::vector<std::string> args) {
        std::vector<std::string> argv{
            findProgram(tool), "-v1", "-On", "-m", "", "-r", "0", "-t", "1", "-c", communityName};
        if (tool == "snmpget" || tool == "snmpgetnext")
            argv.push_back("-Cf"); // one exchange: no retry without the failed binding
        argv.push_back(agent.address());
        argv.insert(argv.end(), args.begin(), args.end());
        return runProcess(argv, "", {{"MIBS", ""}, {"MIBDIRS", "/nonexistent"}}, 30);
    }
};

TEST_F(PeerTest, GetAnswersEveryKind) {
    std::vector<std::string> names;
    for (int c = 1; c <= 7; ++c)
        names.push_back(BASE + "." + std::to_string(c) + ".0");
    auto r = netsnmp("snmpget", "public", names);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, BASE + ".1.0 = INTEGER: 42\n" + BASE + ".2.0 = STRING: \"start\"\n" + BASE +
                         ".3.0 = OID: .1.3.6.1.2.1\n" + BASE + ".4.0 = IpAddress: 127.0.0.1\n" +
                         BASE + ".5.0 = Counter32: 5\n" + BASE + ".6.0 = Gauge32: 4294967295\n" +
                         BASE + ".7.0 = Timeticks: (1200) 0:00:12.00\n");
}

TEST_F(PeerTest, GetOfAMissingNameIsNoSuchName) {
    auto r = netsnmp("snmpget", "public", {BASE + ".1.0", BASE + ".9.0"});
    EXPECT_NE(r.status, 0);
    EXPECT_NE((r.out + r.err).find("noSuchName"), std::string::npos) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(BASE + ".9.0"), std::string::npos) << "the failed binding";
}

TEST_F(PeerTest, GetNextAndWalkFollowTheStore) {
    auto r = netsnmp("snmpgetnext", "public", {BASE + ".2.0"});
    EXPECT_EQ(r.out, BASE + ".3.0 = OID: .1.3.6.1.2.1\n") << r.err;
    r = netsnmp("snmpwalk", "public", {BASE});
    EXPECT_EQ(r.status, 0) << r.err;
    size_t lines = 0;
    for (char ch : r.out)
        lines += ch == '\n';
    EXPECT_EQ(lines, 8u) << r.out;
    // The store's end answers noSuchName, which snmpwalk reports so.
    EXPECT_NE(r.out.find("End of MIB"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(BASE + ".7.0 = Timeticks"), std::string::npos);
}

TEST_F(PeerTest, SetRoundTripsWithTheWriteCommunityOnly) {
    auto r = netsnmp("snmpset", "private", {BASE + ".2.0", "s", "changed"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, BASE + ".2.0 = STRING: \"changed\"\n");
    EXPECT_EQ(netsnmp("snmpget", "public", {BASE + ".2.0"}).out,
              BASE + ".2.0 = STRING: \"changed\"\n");

    // A read-only community's Set is dropped unanswered.
    r = netsnmp("snmpset", "public", {BASE + ".2.0", "s", "intruder"});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("Timeout"), std::string::npos) << r.err;

    r = netsnmp("snmpset", "private", {BASE + ".2.0", "i", "5"});
    EXPECT_NE((r.out + r.err).find("badValue"), std::string::npos) << r.out << r.err;
    r = netsnmp("snmpset", "private", {BASE + ".1.0", "i", "5"});
    EXPECT_NE((r.out + r.err).find("noSuchName"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(netsnmp("snmpget", "public", {BASE + ".2.0"}).out,
              BASE + ".2.0 = STRING: \"changed\"\n");
}

TEST_F(PeerTest, WrongCommunityIsDroppedAndCounted) {
    uint32_t before = smpStatRead(SMP_STAT_IN_BAD_COMMUNITY_NAMES);
    auto r = netsnmp("snmpget", "nonesuch", {BASE + ".1.0"});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("Timeout"), std::string::npos) << r.err;
    EXPECT_EQ(smpStatRead(SMP_STAT_IN_BAD_COMMUNITY_NAMES), before + 1);
}

} // namespace
