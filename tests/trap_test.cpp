#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
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
using testing_support::BackgroundProcess;
using testing_support::EventCapture;
using testing_support::findProgram;
using testing_support::ScopedCwd;
using testing_support::TempDir;
using testing_support::writeFile;

// The clock of the time stamps: a fixed start and a settable now.
TimeOfDay fakeNow{1700000000, 250000};
int fakeClock(TimeOfDay *now, TimeZoneRec *) {
    *now = fakeNow;
    return 0;
}

// A scratch working directory holding etc/trapper.trp, read as the file of a
// program named trapper.
struct TrapFixture : ::testing::Test {
    TempDir dir;
    std::unique_ptr<ScopedCwd> cwd;
    const char *savedName = programName;
    int savedLevel = logLevel;
    void SetUp() override {
        mkdir(dir.file("etc").c_str(), 0700);
        cwd = std::make_unique<ScopedCwd>(dir.path);
        programName = "/usr/local/bin/trapper.bin";
        logLevel = 0;
        trapSetFileName(nullptr);
        trapSetClock(fakeClock);
        apsInit();
        apsTrivialInit();
        shmLocalInit();
    }
    void TearDown() override {
        trapSetClock(nullptr);
        trapSetFileName(nullptr);
        programName = savedName;
        logLevel = savedLevel;
    }
    // Reads text as the trap file; the reports it made.
    std::vector<std::string> load(const std::string &text) {
        writeFile(dir.file("etc/trapper.trp"), text);
        EventCapture capture;
        EXPECT_EQ(trapInit(), 0);
        return capture.messages;
    }
};

std::string lineError(int line, const std::string &message, const std::string &text) {
    return "\tline " + std::to_string(line) + " : " + message + " " + text + "\n";
}

std::vector<std::string> errorLines(const std::vector<std::string> &messages) {
    std::vector<std::string> out;
    for (const std::string &m : messages)
        if (m.rfind("\tline ", 0) == 0)
            out.push_back(m);
    return out;
}

std::string repeatDestinations(int n) {
    std::string text;
    for (int i = 0; i < n; ++i)
        text += "public 127.0.0.1 " + std::to_string(1000 + i) + "\n";
    return text;
}

TEST_F(TrapFixture, FileEntriesAndTheirErrors) {
    struct Case {
        std::string text;
        int destinations;
        std::vector<std::string> errors;
    } cases[] = {
        {"# comment\n\n  \t \npublic 127.0.0.1 162\n", 1, {}},
        {"public\t127.0.0.1\t\t162\r\n", 1, {}},
        // A blank before "#" makes it a word.
        {" # 127.0.0.1 162\n", 1, {}},
        {"Enterprise 1.3.6.1.4.1.9\n",
         0,
         {lineError(1, "bad arg list : ", "Enterprise 1.3.6.1.4.1.9")}},
        {"enterprise 3.1\n", 0, {lineError(1, "bad enterprise ObjectId", "3.1")}},
        {"lonely\npublic 127.0.0.1 162 extra\n",
         0,
         {lineError(1, "bad arg list : ", "lonely"),
          lineError(2, "bad arg list : ", "public 127.0.0.1 162 extra")}},
        {"public nonesuch.invalid 162\n",
         0,
         {lineError(1, "no such host name : ", "nonesuch.invalid")}},
        {"public 127.0.0.1 nonesuch-service\n",
         0,
         {lineError(1, "no such port : ", "nonesuch-service")}},
        // The 26th entry line finds the table full, reported with the 25th's number.
        {repeatDestinations(30), 25, {lineError(25, "File is too big", "")}},
        {repeatDestinations(25) + "# a comment\n", 25, {lineError(25, "File is too big", "")}},
        {repeatDestinations(25), 25, {}},
    };
    for (const Case &c : cases) {
        auto messages = load(c.text);
        EXPECT_EQ(trapDestCount(), c.destinations) << c.text;
        EXPECT_EQ(errorLines(messages), c.errors) << c.text;
    }
    load(" # 127.0.0.1 162\n");
    ASSERT_EQ(trapDestCount(), 1);
    EXPECT_STREQ(trapDestAt(0)->community, "#");
    EXPECT_EQ(trapDestAt(0)->address, 0x7F000001u);
    EXPECT_EQ(trapDestAt(0)->port, 162);
}

TEST_F(TrapFixture, EnterpriseDefaultsAndTheLastLineWins) {
    auto enterprise = [] {
        int length = 0;
        const uint8_t *oid = trapEnterpriseOid(&length);
        return oid ? ber::oidText(Bytes(oid, oid + length)) : std::string("none");
    };
    load("public 127.0.0.1 162\n");
    EXPECT_EQ(enterprise(), TRAP_DEFAULT_ENTERPRISE);
    load("enterprise 1.3.6.1.4.1.9\nenterprise 1.3.6.1.4.1.311\n");
    EXPECT_EQ(enterprise(), "1.3.6.1.4.1.311");
    // No file at all: nothing is set.
    std::remove(dir.file("etc/trapper.trp").c_str());
    EXPECT_EQ(trapInit(), 0);
    EXPECT_EQ(enterprise(), "none");
    EXPECT_EQ(trapDestCount(), 0);
}

TEST_F(TrapFixture, FileNameSettingAndProgramNames) {
    trapSetFileName(dir.file("missing.trp").c_str());
    {
        EventCapture capture;
        EXPECT_EQ(trapInit(), -1);
        EXPECT_EQ(capture.messages,
                  std::vector<std::string>{std::string(programName) +
                                           " : no such file :  " + dir.file("missing.trp") + "\n"});
    }
    trapSetFileName(nullptr);

    // A directory of the file's name is no file: the bare name is read.
    mkdir(dir.file("etc/trapper.trp").c_str(), 0755);
    writeFile(dir.file("trapper.trp"), "public 127.0.0.1 162\n");
    EXPECT_EQ(trapInit(), 0);
    EXPECT_EQ(trapDestCount(), 1);
    rmdir(dir.file("etc/trapper.trp").c_str());

    // Only "/" separates components: a Windows path is one name whose stem
    // ends at its first ".".
    programName = "C:\\snmp\\trapper.exe";
    writeFile(dir.file("etc/C:\\snmp\\trapper.trp"), "public 127.0.0.1 162\n");
    EXPECT_EQ(trapInit(), 0);
    EXPECT_EQ(trapDestCount(), 1);

    // A stem longer than its buffer names no file; it is not cut to one.
    std::string longName(40, 'x');
    writeFile(dir.file("etc/" + longName.substr(0, TRAP_STEM_MAX) + ".trp"),
              "public 127.0.0.1 162\n");
    programName = longName.c_str();
    EXPECT_EQ(trapInit(), 0);
    EXPECT_EQ(trapDestCount(), 0);
    programName = "/usr/local/bin/trapper.bin";
}

// A UDP socket on 127.0.0.1 that receives what trapSend sends.
struct Receiver {
    int sock = udpOpenSocket();
    int port = 0;
    Receiver() {
        if (sock >= 0 && udpBindSocket(sock, 0x7F000001, 0) == 0)
            port = udpGetLocalPort(sock);
    }
    ~Receiver() { udpCloseSocket(sock); }
    std::vector<Bytes> drain() {
        std::vector<Bytes> got;
        uint8_t buffer[4096];
        while (udpWaitReadable(sock, 200) == 1) {
            int n = udpReceive(sock, buffer, sizeof buffer, nullptr, nullptr);
            if (n < 0)
                break;
            got.emplace_back(buffer, buffer + n);
        }
        return got;
    }
};

struct TrapMessage {
    std::string community, enterprise;
    Bytes agent;
    int64_t generic = -1, specific = -1, timeStamp = -1;
    std::vector<ber::Element> binds;
};

TrapMessage parseTrap(const Bytes &m) {
    TrapMessage t;
    size_t pos = 0;
    auto outer = ber::read(m, pos);
    EXPECT_TRUE(outer && outer->tag == 0x30);
    if (!outer)
        return t;
    size_t p = 0;
    auto version = ber::read(outer->content, p);
    auto community = ber::read(outer->content, p);
    auto pdu = ber::read(outer->content, p);
    EXPECT_TRUE(version && community && pdu && pdu->tag == 0xA4);
    if (!version || !community || !pdu)
        return t;
    EXPECT_EQ(ber::toInt(version->content), 0);
    t.community.assign(community->content.begin(), community->content.end());
    size_t q = 0;
    auto enterprise = ber::read(pdu->content, q);
    auto agent = ber::read(pdu->content, q);
    auto generic = ber::read(pdu->content, q);
    auto specific = ber::read(pdu->content, q);
    auto stamp = ber::read(pdu->content, q);
    auto list = ber::read(pdu->content, q);
    EXPECT_TRUE(enterprise && agent && generic && specific && stamp && list);
    if (!list)
        return t;
    EXPECT_EQ(agent->tag, 0x40);
    EXPECT_EQ(stamp->tag, 0x43);
    t.enterprise = ber::oidText(enterprise->content);
    t.agent = agent->content;
    t.generic = ber::toInt(generic->content);
    t.specific = ber::toInt(specific->content);
    // TimeTicks are unsigned: read the content without a sign.
    t.timeStamp = 0;
    for (unsigned char b : stamp->content)
        t.timeStamp = t.timeStamp << 8 | b;
    size_t r = 0;
    while (r < list->content.size())
        if (auto vb = ber::read(list->content, r))
            t.binds.push_back(*vb);
        else
            break;
    return t;
}

Bytes localAddressOctets() {
    uint8_t octets[4];
    asxIpAddressToByte(octets, sizeof octets, hostGetLocalAddress());
    return Bytes(octets, octets + 4);
}

int openDescriptors() {
    int n = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}

TEST_F(TrapFixture, SendCarriesEnterpriseAddressTimeAndBindings) {
    Receiver rx;
    ASSERT_GT(rx.port, 0);
    fakeNow = {1700000000, 250000};
    load("public 127.0.0.1 " + std::to_string(rx.port) + "\nsecond 127.0.0.1 " +
         std::to_string(rx.port) + "\n");
    fakeNow.seconds += 12; // twelve seconds later

    TrapBindType *list = trapListNew(2);
    const Bytes name = ber::oidContent("1.3.6.1.2.1.1.5.0");
    const uint8_t host[] = {'h', 'o', 's', 't'};
    ASSERT_EQ(trapListAddOctetString(list, name.data(), static_cast<int>(name.size()), host, 4), 0);
    ASSERT_EQ(trapListAddCounter(list, name.data(), static_cast<int>(name.size()), 7), 0);
    int before = openDescriptors();
    EXPECT_EQ(trapSend(6, 42, static_cast<uint16_t>(list->count), list->items), 0);
    EXPECT_EQ(openDescriptors(), before) << "the socket is closed";
    trapListFree(list);

    auto got = rx.drain();
    ASSERT_EQ(got.size(), 2u);
    TrapMessage first = parseTrap(got[0]), second = parseTrap(got[1]);
    EXPECT_EQ(first.community, "public");
    EXPECT_EQ(second.community, "second");
    EXPECT_EQ(first.enterprise, TRAP_DEFAULT_ENTERPRISE);
    EXPECT_EQ(first.agent, localAddressOctets());
    EXPECT_EQ(first.generic, 6);
    EXPECT_EQ(first.specific, 42);
    EXPECT_EQ(first.timeStamp, 1200);
    EXPECT_EQ(second.timeStamp, 1200) << "one time stamp for every destination";
    ASSERT_EQ(first.binds.size(), 2u);
    EXPECT_EQ(first.binds[0].content,
              ber::cat({ber::oid("1.3.6.1.2.1.1.5.0"), ber::octets("host")}));
    EXPECT_EQ(first.binds[1].content, ber::cat({ber::oid("1.3.6.1.2.1.1.5.0"), ber::counter(7)}));
}

// Hundredths of a second overflow 31 bits after 248 days: the stamp is
// computed wide and wrapped to the 32 bits of TimeTicks.
TEST_F(TrapFixture, TimeStampsDoNotOverflow) {
    Receiver rx;
    ASSERT_GT(rx.port, 0);
    fakeNow = {1000000000, 0};
    load("public 127.0.0.1 " + std::to_string(rx.port) + "\n");
    struct Case {
        int32_t seconds, microseconds;
        int64_t expected;
    } cases[] = {
        {300 * 86400, 0, 2592000000LL},                    // past 2^31 hundredths
        {500 * 86400, 0, (500LL * 8640000) % (1LL << 32)}, // past 2^32: wraps
        {0, 999999, 99},
    };
    for (const Case &c : cases) {
        fakeNow = {1000000000 + c.seconds, c.microseconds};
        EXPECT_EQ(trapSend(0, 0, 0, nullptr), 0);
        auto got = rx.drain();
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(parseTrap(got[0]).timeStamp, c.expected) << c.seconds;
    }
}

TEST_F(TrapFixture, SendWithoutDestinationsSendsNothing) {
    EXPECT_EQ(trapInit(), 0); // no file
    int before = openDescriptors();
    EXPECT_EQ(trapSend(0, 0, 0, nullptr), 0);
    EXPECT_EQ(openDescriptors(), before);
}

TEST_F(TrapFixture, ListsOwnTheirCopiesAndKeepTheirBounds) {
    const Bytes name = ber::oidContent("1.3.6.1.4.1.32473.1");
    const uint8_t *n = name.data();
    int nl = static_cast<int>(name.size());
    struct Case {
        int (*add)(TrapBindType *, const uint8_t *, int);
        int32_t kind, valueLen, number;
    } cases[] = {
        {[](TrapBindType *l, const uint8_t *a, int b) { return trapListAddInteger(l, a, b, -5); },
         SMP_KIND_INTEGER, 0, -5},
        {[](TrapBindType *l, const uint8_t *a, int b) { return trapListAddUnsigned(l, a, b, 9); },
         SMP_KIND_INTEGER, 0, 9},
        {[](TrapBindType *l, const uint8_t *a, int b) { return trapListAddCounter(l, a, b, 9); },
         SMP_KIND_COUNTER, 0, 9},
        {[](TrapBindType *l, const uint8_t *a, int b) { return trapListAddGauge(l, a, b, 9); },
         SMP_KIND_GAUGE, 0, 9},
        {[](TrapBindType *l, const uint8_t *a, int b) { return trapListAddTimeTicks(l, a, b, 9); },
         SMP_KIND_TIME_TICKS, 0, 9},
        {[](TrapBindType *l, const uint8_t *a, int b) { return trapListAddNull(l, a, b); },
         SMP_KIND_NULL, 0, 0},
        {[](TrapBindType *l, const uint8_t *a, int b) {
             const uint8_t ip[] = {10, 0, 0, 1};
             return trapListAddIpAddress(l, a, b, ip);
         },
         SMP_KIND_IP_ADDRESS, 4, 0},
        {[](TrapBindType *l, const uint8_t *a, int b) {
             const uint8_t oid[] = {0x2B, 6, 1};
             return trapListAddObjectId(l, a, b, oid, 3);
         },
         SMP_KIND_OBJECT_ID, 3, 0},
        {[](TrapBindType *l, const uint8_t *a, int b) {
             return trapListAddOctetString(l, a, b, nullptr, 0);
         },
         SMP_KIND_OCTET_STRING, 0, 0},
    };
    for (const Case &c : cases) {
        TrapBindType *list = trapListNew(1);
        ASSERT_EQ(c.add(list, n, nl), 0);
        const TrapBindRec &item = list->items[0];
        EXPECT_EQ(item.kind, c.kind);
        EXPECT_EQ(item.valueLen, c.valueLen);
        EXPECT_EQ(item.value != nullptr, c.valueLen > 0);
        EXPECT_EQ(item.number, c.number);
        EXPECT_NE(item.name, n) << "a copy";
        EXPECT_EQ(Bytes(item.name, item.name + item.nameLen), name);
        EXPECT_EQ(c.add(list, n, nl), -1) << "full";
        EXPECT_EQ(c.add(list, nullptr, nl), -1);
        trapListFree(list);
    }
}

TEST_F(TrapFixture, ListMessages) {
    const Bytes name = ber::oidContent("1.3.6.1.4.1.32473.1");
    int nl = static_cast<int>(name.size());
    logLevel = 2;
    EventCapture capture;
    TrapBindType *list = trapListNew(2);
    EXPECT_EQ(trapListAddInteger(list, name.data(), nl, 1), 0);
    // The value is printed to its length only, without a terminator.
    const char text[] = {'a', 'b', 'c', 'd', 'e', 'f'};
    EXPECT_EQ(
        trapListAddOctetString(list, name.data(), nl, reinterpret_cast<const uint8_t *>(text), 3),
        0);
    EXPECT_EQ(trapListAddInteger(list, name.data(), nl, 3), -1);
    EXPECT_EQ(trapListAddOctetString(list, name.data(), 0, nullptr, 0), -1);
    trapListFree(list);
    TrapBindType *other = trapListNew(1);
    EXPECT_EQ(trapListAddNull(other, name.data(), -3), -1);
    trapListFree(other);
    logLevel = 0;
    EXPECT_EQ(capture.messages,
              (std::vector<std::string>{
                  "trapListAddInteger : 1\n", "trapListAddOctetString : abc\n",
                  "trapListAddInteger: count overflow 2\n",
                  "trapListAddOctetString: bad name (namelen=0)\n", "trapListFree:\n",
                  ">>> free name\n", ">>> free name\n", ">>> free value\n",
                  ">> free TrapBindRec structure\n", "> free TrapBindType structure\n",
                  "trapListAddNull : namelen = -3\n", "trapListFree:\n",
                  ">> free TrapBindRec structure\n", "> free TrapBindType structure\n"}));
}

// Debian's snmptrapd receives the Trap and prints what it carried.
TEST_F(TrapFixture, SnmptrapdReceivesTheTrap) {
    std::string snmptrapd = findProgram("snmptrapd");
    if (snmptrapd.empty() && access("/usr/sbin/snmptrapd", X_OK) == 0)
        snmptrapd = "/usr/sbin/snmptrapd";
    if (snmptrapd.empty())
        GTEST_SKIP() << "snmptrapd is not installed (Debian package snmptrapd)";
    writeFile(dir.file("snmptrapd.conf"), "disableAuthorization yes\n");
    std::string log = dir.file("traps.log");
    std::unique_ptr<BackgroundProcess> daemon;
    int port = 0;
    // A port that was free a moment ago; another try if it was taken meanwhile.
    for (int attempt = 0; attempt < 5 && !daemon; ++attempt) {
        Receiver probe;
        port = probe.port;
        udpCloseSocket(probe.sock);
        probe.sock = -1;
        auto d = std::make_unique<BackgroundProcess>(
            std::vector<std::string>{snmptrapd, "-f", "-n", "-On", "-C", "-c",
                                     dir.file("snmptrapd.conf"), "-Lf", log,
                                     "udp:127.0.0.1:" + std::to_string(port)},
            dir.path,
            std::map<std::string, std::string>{{"MIBS", ""}, {"MIBDIRS", "/nonexistent"}});
        for (int i = 0; i < 50 && d->running(); ++i) {
            if (testing_support::readFile(log).find("NET-SNMP version") != std::string::npos)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (d->running() &&
            testing_support::readFile(log).find("NET-SNMP version") != std::string::npos)
            daemon = std::move(d);
    }
    ASSERT_TRUE(daemon) << "snmptrapd did not start: " << testing_support::readFile(log);

    trapSetClock(nullptr);
    load("public 127.0.0.1 " + std::to_string(port) + "\n");
    EXPECT_EQ(trapSend(0, 0, 0, nullptr), 0); // coldStart
    std::string seen;
    for (int i = 0; i < 50; ++i) {
        seen = testing_support::readFile(log);
        if (seen.find("Uptime:") != std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    daemon->stop();
    uint32_t local = hostGetLocalAddress();
    char address[16];
    asxIpAddressToText(address, sizeof address, local);
    // The agent address is the Trap's, not the sender's; the time stamp has
    // a resolution of one second.
    EXPECT_NE(seen.find(std::string("[") + address + "] (via UDP"), std::string::npos) << seen;
    EXPECT_NE(seen.find("TRAP, SNMP v1, community public"), std::string::npos) << seen;
    EXPECT_NE(seen.find(std::string(".") + TRAP_DEFAULT_ENTERPRISE +
                        " Cold Start Trap (0) Uptime: 0:00:0"),
              std::string::npos)
        << seen;
}

} // namespace
