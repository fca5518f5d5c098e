#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "agent/trap.h"
#include "asn/asx.h"
#include "ber_craft.h"
#include "platform/log.h"
#include "platform/net.h"
#include "smp/aps.h"
#include "smx/stats.h"
#include "support.h"

namespace {

using ber::Bytes;
using namespace testing_support;

TimeOfDay fakeNow{1000000000, 0};
int fakeClock(TimeOfDay *now, TimeZoneRec *) {
    *now = fakeNow;
    return 0;
}

struct TrapTest : ::testing::Test {
    TempDir dir;
    ScopedCwd cwd{dir.path};
    const char *savedName = programName;
    void SetUp() override {
        std::filesystem::create_directory(dir.file("etc"));
        programName = "/usr/local/bin/trapper.bin";
        trapSetClock(fakeClock);
        apsInit();
        apsTrivialInit();
        shmLocalInit();
    }
    void TearDown() override {
        trapSetClock(nullptr);
        trapSetFileName(nullptr);
        programName = savedName;
    }
    // Reads text as the trap file; the error lines it reported.
    std::string load(const std::string &text) {
        writeFile(dir.file("etc/trapper.trp"), text);
        EventCapture capture;
        EXPECT_EQ(trapInit(), 0);
        std::string errors;
        for (const std::string &m : capture.messages)
            if (m.rfind("\tline ", 0) == 0)
                errors += m;
        return errors;
    }
};

TEST_F(TrapTest, FileEntriesAndWhichFileIsRead) {
    std::string many; // 25 destinations, all the file can hold
    for (int i = 0; i < 25; ++i)
        many += "public 127.0.0.1 " + std::to_string(1000 + i) + "\n";
    const std::tuple<std::string, int, std::string> cases[] = {
        {"# comment\n\n  \t \npublic\t127.0.0.1\t\t162\r\n", 1, ""},
        {"enterprise 3.1\n", 0, "\tline 1 : bad enterprise ObjectId 3.1\n"},
        {"public 127.0.0.1 162 extra\n", 0,
         "\tline 1 : bad arg list :  public 127.0.0.1 162 extra\n"},
        {many + "# a comment\n", 25, "\tline 25 : File is too big \n"},
        {many, 25, ""},
        // A line is a line: a long comment is ignored whole, a long line reported once.
        {std::string(254, '#') + " evil 127.0.0.1 162\nx" + std::string(260, 'y') +
             "\npublic 127.0.0.1 162\n",
         1, "\tline 2 : line too long :  x" + std::string(253, 'y') + "\n"},
    };
    for (const auto &[text, count, errors] : cases) {
        EXPECT_EQ(load(text), errors) << text;
        EXPECT_EQ(trapDestCount(), count) << text;
    }
    remove("etc/trapper.trp"); // which file is read
    auto read = [](const char *setting, int result, int count) {
        trapSetFileName(setting);
        EXPECT_EQ(trapInit(), result);
        EXPECT_EQ(trapDestCount(), count);
        int length = 0; // the default enterprise with the file, none without
        EXPECT_EQ(trapEnterpriseOid(&length) != nullptr, count > 0);
    };
    read(nullptr, 0, 0);
    std::filesystem::create_directory("etc/trapper.trp"); // a directory does not hide the bare name
    writeFile("trapper.trp", "public 127.0.0.1 162\n");
    read(nullptr, 0, 1);
    read("mine.trp", -1, 0);
    // A stem longer than its buffer names no file; it is not cut to one.
    programName = "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx";
    writeFile("etc/" + std::string(TRAP_STEM_MAX, 'x') + ".trp", "public 127.0.0.1 162\n");
    read(nullptr, 0, 0);
}

// The Trap message sent to each destination (RFC 1157, 4.1.6).
Bytes trapMessage(const std::string &community, int64_t stamp, const Bytes &binds, int generic = 0,
                  int specific = 0, const char *enterprise = TRAP_DEFAULT_ENTERPRISE) {
    uint8_t agent[4];
    asxIpAddressToByte(agent, sizeof agent, hostGetLocalAddress());
    Bytes pdu = ber::cat({ber::oid(enterprise), ber::tlv(0x40, Bytes(agent, agent + 4)),
                          ber::integer(generic), ber::integer(specific), ber::ticks(stamp),
                          ber::tlv(0x30, binds)});
    return ber::tlv(0x30, ber::cat({ber::integer(0), ber::octets(community), ber::tlv(0xA4, pdu)}));
}

TEST_F(TrapTest, SendCarriesEveryKindOfBinding) {
    UdpPeer rx;
    fakeNow = {1700000000, 250000};
    const std::string port = std::to_string(rx.port);
    load("public 127.0.0.1 " + port + "\nsecond 127.0.0.1 " + port + "\n");
    fakeNow.seconds += 12; // twelve seconds after the start
    const std::string name = "1.3.6.1.2.1.1.5.0";
    const Bytes n = ber::oidContent(name);
    const int nl = static_cast<int>(n.size());
    const uint8_t ip[] = {10, 0, 0, 1}, oid[] = {0x2B, 6, 1}, host[] = {'h', 'o', 's', 't'};
    logLevel = 2; // the list's traces run too, into a capture
    EventCapture traces;
    TrapBindType *list = trapListNew(9);
    const std::pair<int, Bytes> added[] = {
        {trapListAddInteger(list, n.data(), nl, -5), ber::integer(-5)},
        {trapListAddUnsigned(list, n.data(), nl, 9), ber::integer(9)},
        {trapListAddCounter(list, n.data(), nl, 7), ber::counter(7)},
        {trapListAddGauge(list, n.data(), nl, 0xFFFFFFFF), ber::gauge(0xFFFFFFFF)},
        {trapListAddTimeTicks(list, n.data(), nl, 100), ber::ticks(100)},
        {trapListAddNull(list, n.data(), nl), ber::null()},
        {trapListAddIpAddress(list, n.data(), nl, ip), ber::ipAddress({10, 0, 0, 1})},
        {trapListAddObjectId(list, n.data(), nl, oid, 3), ber::oid("1.3.6.1")},
        {trapListAddOctetString(list, n.data(), nl, host, 4), ber::octets("host")},
        {trapListAddNull(list, n.data(), nl), {}}, // full
        {trapListAddNull(list, nullptr, nl), {}},  // no name
    };
    Bytes binds;
    for (const auto &[status, value] : added) {
        EXPECT_EQ(status, value.empty() ? -1 : 0);
        binds = value.empty() ? binds : ber::cat({binds, ber::varBind(name, value)});
    }
    auto open = [] {
        // Linux lists the open descriptors; Windows has no such list to count.
        return ON_WINDOWS ? 0
                          : std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    };
    auto before = open();
    EXPECT_EQ(trapSend(6, 42, static_cast<uint16_t>(list->count), list->items), 0);
    EXPECT_EQ(open(), before) << "the socket is closed";
    trapListFree(list);
    logLevel = 0;
    std::vector<unsigned char> got;
    int from = 0;
    for (const char *community : {"public", "second"}) { // one time stamp for every destination
        ASSERT_TRUE(rx.receive(got, from, 2000));
        EXPECT_EQ(got, trapMessage(community, 1200, binds, 6, 42)) << community;
    }
    // Hundredths of a second overflow 31 bits after 248 days, 32 after 497: wide, then wrapped.
    fakeNow = {1700000000, 0}; // and the last enterprise line wins
    load("enterprise 1.3.6.1.4.1.9\nenterprise 1.3.6.1.4.1.311\npublic 127.0.0.1 " + port + "\n");
    for (auto [seconds, microseconds, stamp] : {std::tuple{300 * 86400, 0, 2592000000LL},
                                                {500 * 86400, 0, 4320000000LL - (1LL << 32)},
                                                {0, 999999, 99LL}}) {
        fakeNow = {1700000000 + seconds, microseconds};
        EXPECT_EQ(trapSend(0, 0, 0, nullptr), 0);
        ASSERT_TRUE(rx.receive(got, from, 2000));
        EXPECT_EQ(got, trapMessage("public", stamp, {}, 0, 0, "1.3.6.1.4.1.311")) << seconds;
    }
}

TEST_F(TrapTest, SnmptrapdReceivesTheTrap) {
    LINUX_ONLY("the peer is Debian's snmptrapd");
    const std::string snmptrapd = findProgram("snmptrapd"), log = dir.file("traps.log");
    if (snmptrapd.empty())
        GTEST_SKIP() << "snmptrapd is not installed (Debian package snmptrapd)";
    writeFile(dir.file("snmptrapd.conf"), "disableAuthorization yes\n");
    auto logged = [&](const char *text) {
        for (int i = 0; i < 50; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(100)))
            if (readFile(log).find(text) != std::string::npos)
                return true;
        return false;
    };
    std::unique_ptr<BackgroundProcess> daemon;
    int port = 0; // a port that was free a moment ago; another try if it was taken meanwhile
    for (int attempt = 0; attempt < 5 && !daemon; ++attempt) {
        port = freeUdpPort();
        daemon = std::make_unique<BackgroundProcess>(
            std::vector<std::string>{snmptrapd, "-f", "-n", "-On", "-C", "-c",
                                     dir.file("snmptrapd.conf"), "-Lf", log,
                                     "udp:127.0.0.1:" + std::to_string(port)},
            dir.path, Env{{"MIBS", ""}, {"MIBDIRS", "/nonexistent"}});
        if (!logged("NET-SNMP version") || !daemon->running())
            daemon.reset();
    }
    ASSERT_TRUE(daemon) << "snmptrapd did not start: " << readFile(log);
    trapSetClock(nullptr);
    load("public 127.0.0.1 " + std::to_string(port) + "\n");
    EXPECT_EQ(trapSend(0, 0, 0, nullptr), 0); // coldStart
    logged("Uptime:");
    daemon->stop();
    const std::string seen = readFile(log);
    char address[16];
    asxIpAddressToText(address, sizeof address, hostGetLocalAddress());
    // The agent address is the Trap's, not the sender's; the stamp is within a second.
    EXPECT_NE(seen.find(std::string("[") + address + "] (via UDP"), std::string::npos) << seen;
    EXPECT_NE(seen.find("TRAP, SNMP v1, community public"), std::string::npos) << seen;
    EXPECT_NE(seen.find(std::string(".") + TRAP_DEFAULT_ENTERPRISE +
                        " Cold Start Trap (0) Uptime: 0:00:0"),
              std::string::npos)
        << seen;
}

} // namespace
