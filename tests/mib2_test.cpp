// MIB-II: mibagent beside Debian's snmpd, both walked with snmpwalk -v1 -On;
// ifXTable's values as the store encodes them.
#include "agent/mib.h"
#include "agent/mib2.h"
#include "tests/ber_craft.h"
#include "tests/support.h"
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <thread>
#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

using namespace testing_support;
namespace {

using Values = std::map<std::string, std::string>; // name: "TYPE: value"
const std::string M2 = "1.3.6.1.2.1.";
ProcessResult netsnmp(const std::string &tool, int port, std::vector<std::string> args,
                      const std::string &community = "public") {
    std::string to = "127.0.0.1:" + std::to_string(port);
    std::vector<std::string> argv = {
        findProgram(tool), "-v1", "-On", "-m", "", "-t", "2", "-r", "1", "-c", community, to};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, "", {{"MIBS", ""}, {"MIBDIRS", "/nonexistent"}}, 60);
}

// snmpwalk -On lines as name -> "TYPE: value"; a value that spans lines goes on.
Values walk(int port, const std::string &oid) {
    Values v;
    std::istringstream in(netsnmp("snmpwalk", port, {oid}).out);
    std::string last;
    for (std::string line; std::getline(in, line);) {
        size_t eq = line.find(" = ");
        if (line.rfind(".", 0) == 0 && eq != std::string::npos)
            v[last = line.substr(1, eq - 1)] = line.substr(eq + 3);
        else if (!last.empty() && line.rfind("End of MIB", 0) != 0)
            v[last] += "\n" + line;
    }
    return v;
}

#ifndef _WIN32
// A TCP socket on 127.0.0.1 at a port the system chose: listening, or connected to `to`.
struct Tcp {
    int fd = socket(AF_INET, SOCK_STREAM, 0), port = 0;
    explicit Tcp(int to = 0) {
        sockaddr_in a{AF_INET, htons(static_cast<uint16_t>(to)), {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t n = sizeof a;
        auto *sa = reinterpret_cast<sockaddr *>(&a);
        if (!(to ? connect(fd, sa, n) : bind(fd, sa, n) || listen(fd, 1)))
            port = getsockname(fd, sa, &n) == 0 ? ntohs(a.sin_port) : 0;
    }
    ~Tcp() { close(fd); }
};
#endif
class Mib2Peer : public ::testing::Test {
  protected:
    // snmpd answering on `port` once it reads the system, or none.
    static BackgroundProcess *startSnmpd(int port) {
        auto *p = new BackgroundProcess({findProgram("snmpd"), "-f", "-Lo", "-C", "-c",
                                         dir->file("snmpd.conf"),
                                         "udp:127.0.0.1:" + std::to_string(port)},
                                        dir->path, {{"MIBS", ""}, {"MIBDIRS", "/nonexistent"}});
        ready = p->waitForOutput("NET-SNMP version", 5000); // printed once it listens
        return p;
    }
    static void SetUpTestSuite() {
        if (mibagent.empty() || findProgram("snmpd").empty() || findProgram("snmpwalk").empty())
            return;
        dir = new TempDir;
        writeFile(dir->file("snmpd.conf"), "rocommunity public 127.0.0.1\n");
        std::filesystem::create_directory(dir->file("etc"));
        writeFile(dir->file("etc/mibagent.cmm"),
                  readFile(std::string(SOURCE_DIR) + "/etc/mibagent.cmm"));
        writeFile(dir->file("etc/mibagent.trp"), "# no destination\n");
        agent = new BackgroundProcess({mibagent, "-h", "127.0.0.1", "-p", "0"}, dir->path,
                                      {{"TARNOQSNMP_REGISTRY", dir->file("no-registry")}});
        const std::string mark = "mibagent: listening on 127.0.0.1 port ";
        if (agent->waitForOutput(mark, 5000))
            agentPort = std::stoi(agent->out().substr(agent->out().find(mark) + mark.size()));
        snmpd_ = startSnmpd(snmpdPort = freeUdpPort());
    }
    static void TearDownTestSuite() { delete agent, delete snmpd_, delete dir; }
    void SetUp() override {
        LINUX_ONLY("the peers are Debian's snmpd and snmpwalk; the figures come from /proc");
        if (!dir)
            GTEST_SKIP() << "mibagent, snmpd or snmpwalk is missing (Debian packages snmpd, snmp)";
        ASSERT_TRUE(ready && agentPort > 0) << "snmpd or mibagent did not answer";
    }
    static inline TempDir *dir = nullptr;
    static inline BackgroundProcess *snmpd_ = nullptr, *agent = nullptr;
    static inline int snmpdPort = 0, agentPort = 0;
    static inline bool ready = false;
};

// Then the rows of our own UDP and TCP sockets, which both must hold alike.
TEST_F(Mib2Peer, StableObjectsAgree) {
#ifndef _WIN32 // skipped by the fixture
    UdpPeer udp;
    Tcp listener, client(listener.port);
    ASSERT_GT(client.port, 0);
    usleep(1100 * 1000); // past the agent's once-a-second snapshot
    std::istringstream same("4.1 4.2 4.20.1.1 4.20.1.2 4.20.1.3 4.20.1.4 4.21.1.1 2.2.1.2 "
                            "2.2.1.3 2.2.1.4 31.1.1.1.1 31.1.1.1.16 31.1.1.1.18");
    for (std::string oid; same >> oid;) {
        Values mine = walk(agentPort, M2 + oid);
        EXPECT_FALSE(mine.empty()) << oid;
        EXPECT_EQ(mine, walk(snmpdPort, M2 + oid)) << oid;
    }
    std::string lo = "127.0.0.1.", u = lo + std::to_string(udp.port),
                ours = lo + std::to_string(client.port),
                theirs = lo + std::to_string(listener.port);
    Values mine = walk(agentPort, M2 + "7.5.1"), peer = walk(snmpdPort, M2 + "7.5.1");
    mine.merge(walk(agentPort, M2 + "6.13.1"));
    peer.merge(walk(snmpdPort, M2 + "6.13.1"));
    for (const std::string &n :
         {"7.5.1.1." + u, "7.5.1.2." + u, "6.13.1.1." + theirs + ".0.0.0.0.0",
          "6.13.1.1." + ours + "." + theirs, "6.13.1.3." + ours + "." + theirs,
          "6.13.1.5." + theirs + "." + ours}) {
        EXPECT_TRUE(mine.count(M2 + n) && peer.count(M2 + n)) << n;
        EXPECT_EQ(mine[M2 + n], peer[M2 + n]) << n;
    }
#endif
}

// Counters of /proc/net/snmp: the agent's value between a reading of snmpd's
// before it and one of a second snmpd started after it, which has nothing cached.
TEST_F(Mib2Peer, CountersLieBetweenSnmpdReadings) {
    auto read = [&](int port) {
        std::map<std::string, unsigned long> c;
        for (const char *g : {"4", "5", "6", "7"})
            for (const auto &[name, value] : walk(port, M2 + g))
                if (value.rfind("Counter32: ", 0) == 0 && name.size() > 2 &&
                    name.substr(name.size() - 2) == ".0")
                    c[name] = std::stoul(value.substr(11));
        return c;
    };
    // Past the agent's snapshot of an earlier test in this process.
    auto past = std::chrono::steady_clock::now() + std::chrono::milliseconds(1100);
    int latePort = freeUdpPort();
    std::unique_ptr<BackgroundProcess> late(startSnmpd(latePort));
    ASSERT_TRUE(ready);
    std::this_thread::sleep_until(past);
    auto before = read(snmpdPort), mine = read(agentPort), after = read(latePort);
    int compared = 0;
    for (const auto &[name, v] : mine)
        if (before.count(name) && after.count(name)) {
            EXPECT_LE(before[name], v) << name;
            EXPECT_LE(v, after[name]) << name;
            ++compared;
        }
    EXPECT_GE(compared, 50);
}

TEST_F(Mib2Peer, EnableAuthenTrapsIsWrittenToSnmpAut) {
    const std::string oid = M2 + "11.30.0";
    auto r = netsnmp("snmpset", agentPort, {oid, "i", "2"}, "private");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(netsnmp("snmpget", agentPort, {oid}).out, "." + oid + " = INTEGER: 2\n");
    EXPECT_NE(readFile(dir->file("etc/snmp.aut")).find("\nAUTHENTICATIONTRAP=disabled\n"),
              std::string::npos);
    r = netsnmp("snmpset", agentPort, {oid, "i", "3"}, "private");
    EXPECT_NE(r.err.find("badValue"), std::string::npos) << r.err;
    EXPECT_EQ(netsnmp("snmpget", agentPort, {oid}).out, "." + oid + " = INTEGER: 2\n");
}

// sysContact, sysName and sysLocation: a NUL is refused with badValue and
// leaves the value as it was; UTF-8 is kept octet for octet.
TEST_F(Mib2Peer, DisplayStringsRefuseNul) {
    for (const char *column : {"4", "5", "6"}) {
        const std::string oid = M2 + "1." + column + ".0";
        auto r = netsnmp("snmpset", agentPort, {oid, "s", "Z\xC3\xBCrich"}, "private");
        EXPECT_EQ(r.status, 0) << r.err;
        r = netsnmp("snmpset", agentPort, {oid, "x", "61 00 62"}, "private");
        EXPECT_NE(r.err.find("badValue"), std::string::npos) << r.err;
        EXPECT_EQ(netsnmp("snmpget", agentPort, {"-Ox", oid}).out,
                  "." + oid + " = Hex-STRING: 5A C3 BC 72 69 63 68 \n");
    }
}

// ifXTable from written files (not served on Windows): the HC counters in their 64 bits, as
// Counter64 (0x46); ifTable's the low 32; ifName the interface's name, as ifDescr.
TEST(Mib2Store, IfXTableBesideIfTable) {
    TempDir d;
    writeFile(d.file("dev"), "eth0: 4294967306 8589934604 0 0 0 0 0 4294967304 2 3 0 0 0 0 0 0\n");
    std::filesystem::create_directories(d.file("sys/eth0"));
    writeFile(d.file("sys/eth0/ifindex"), "7\n");
    MibEntry *store = mibInit();
    ASSERT_TRUE(store && mib2Register() == 0);
    mib2ReadInterfacesFrom(d.file("dev").c_str(), d.file("sys").c_str());
    const std::string eth0 = "04 04 65 74 68 30";
    for (const auto &[oid, value] : std::vector<std::pair<std::string, std::string>>{
             {"2.2.1.2.7", eth0},
             {"2.2.1.10.7", "41 01 0A"},
             {"2.2.1.11.7", "41 01 04"},
             {"31.1.1.1.1.7", ON_WINDOWS ? "" : eth0},
             {"31.1.1.1.6.7", ON_WINDOWS ? "" : "46 05 01 00 00 00 0A"},
             {"31.1.1.1.2.7", ON_WINDOWS ? "" : "41 01 08"},
             {"31.1.1.1.7.7", ON_WINDOWS ? "" : "46 05 01 00 00 00 04"},
             {"31.1.1.1.8.7", ON_WINDOWS ? "" : "46 05 01 00 00 00 08"}}) {
        ber::Bytes name = ber::oidContent("1.3.6.1.2.1." + oid);
        AsnNode *v = mibGet(store, name.data(), static_cast<int>(name.size()));
        uint8_t buf[32];
        int n = v ? asnEncode(v, buf, sizeof buf) : 0;
        asnFree(v);
        EXPECT_EQ(ber::Bytes(buf, buf + n), ber::hex(value)) << oid;
    }
    mib2ReadInterfacesFrom(nullptr, nullptr);
}

} // namespace
