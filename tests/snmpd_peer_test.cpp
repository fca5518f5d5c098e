// mibwalk against Debian's snmpd, held against snmpwalk -v1 -On over the same
// agent. The agent moves while it is walked (counters, sysUpTime, the sockets
// and processes of the moment), so values are compared only where two
// snmpwalk runs around the mibwalk run agree.
#include "tests/support.h"
#include "tests/walk_output.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <set>
#include <thread>

using namespace testing_support;
using namespace walkout;

namespace {

#ifdef MIBWALK_PATH
const std::string mibwalk = MIBWALK_PATH;
#else
const std::string mibwalk;
#endif

// Tables that list what is open or running at the moment, a walker's own
// socket or process among them: udpTable, udpEndpointTable, hrSWRunTable,
// hrSWRunPerfTable.
const std::vector<std::string> movingTables = {"1.3.6.1.2.1.7.5", "1.3.6.1.2.1.7.7",
                                               "1.3.6.1.2.1.25.4", "1.3.6.1.2.1.25.5"};

bool moving(const std::string &name) {
    for (const auto &t : movingTables)
        if (under(name, t))
            return true;
    return false;
}

// One mibwalk run between two snmpwalk runs of the same subtree.
struct Compared {
    std::vector<Entry> mine;
    std::vector<SnmpEntry> before, after;
    bool endBefore = false, endAfter = false;
    ProcessResult run;
};

class SnmpdPeer : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        snmpd = findProgram("snmpd");
        snmpwalk = findProgram("snmpwalk");
        if (mibwalk.empty() || snmpd.empty() || snmpwalk.empty())
            return;
        dir = new TempDir;
        writeFile(dir->file("snmpd.conf"), "rocommunity public 127.0.0.1\n");
        mkdir(dir->file("cwd").c_str(), 0700);
        port = freeUdpPort();
        agent =
            new BackgroundProcess({snmpd, "-f", "-Lo", "-C", "-c", dir->file("snmpd.conf"), "-p",
                                   dir->file("snmpd.pid"), "udp:127.0.0.1:" + std::to_string(port)},
                                  dir->path, {{"MIBS", ""}, {"MIBDIRS", "/nonexistent"}});
        // Ready once it answers.
        for (int i = 0; i < 100 && agent->running(); ++i) {
            if (snmpwalkRun("1.3.6.1.2.1.1.1", 1).find("1.3.6.1.2.1.1.1.0") != std::string::npos) {
                ready = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    static void TearDownTestSuite() {
        delete agent; // stops snmpd
        agent = nullptr;
        delete dir;
        dir = nullptr;
    }
    void SetUp() override {
        if (mibwalk.empty())
            GTEST_SKIP() << "mibwalk is not built";
        if (snmpd.empty() || snmpwalk.empty())
            GTEST_SKIP() << "snmpd or snmpwalk is not installed (Debian packages snmpd, snmp)";
        ASSERT_TRUE(ready) << "snmpd did not answer on port " << port << ": "
                           << (agent ? agent->out() + agent->err() : "");
    }

    static std::string snmpwalkRun(const std::string &oid, int waitSeconds = 2) {
        auto r = runProcess({snmpwalk, "-v1", "-On", "-m", "", "-c", "public", "-t",
                             std::to_string(waitSeconds), "-r", "1",
                             "127.0.0.1:" + std::to_string(port), oid},
                            "", {{"MIBS", ""}, {"MIBDIRS", "/nonexistent"}}, 60);
        return r.out;
    }
    // No definitions in the working directory and a registry naming no file:
    // names print in dotted form, as with -On.
    static ProcessResult mibwalkRun(const std::string &oid) {
        return runProcess({mibwalk, "-h", "127.0.0.1", "-p", std::to_string(port), "-t", "5", oid},
                          dir->file("cwd"), {{"TARNOQSNMP_REGISTRY", dir->file("no-registry")}},
                          120);
    }

    static Compared compare(const std::string &oid) {
        Compared c;
        c.before = parseSnmpwalk(snmpwalkRun(oid), &c.endBefore);
        c.run = mibwalkRun(oid);
        c.mine = parseMibwalk(c.run.out);
        c.after = parseSnmpwalk(snmpwalkRun(oid), &c.endAfter);
        return c;
    }

    static std::string snmpd, snmpwalk;
    static TempDir *dir;
    static BackgroundProcess *agent;
    static int port;
    static bool ready;
};

std::string SnmpdPeer::snmpd, SnmpdPeer::snmpwalk;
TempDir *SnmpdPeer::dir = nullptr;
BackgroundProcess *SnmpdPeer::agent = nullptr;
int SnmpdPeer::port = 0;
bool SnmpdPeer::ready = false;

// Every name comes in increasing order and lies under the walked subtree.
void expectIncreasing(const std::vector<Entry> &mine, const std::string &oid) {
    for (size_t i = 0; i < mine.size(); ++i) {
        ASSERT_FALSE(mine[i].name.empty()) << "line " << i << " has no name";
        EXPECT_TRUE(under(mine[i].name, oid)) << mine[i].name;
        if (i > 0) {
            EXPECT_TRUE(oidGreater(mine[i].name, mine[i - 1].name))
                << mine[i].name << " after " << mine[i - 1].name;
        }
    }
}

// Names and kinds agree, and values where snmpd held them still; returns the
// number of values compared.
int expectAgreement(const Compared &c, bool (*valueCompared)(const std::string &)) {
    std::map<std::string, const SnmpEntry *> before, after;
    for (const auto &e : c.before)
        before[e.name] = &e;
    for (const auto &e : c.after)
        after[e.name] = &e;
    std::set<std::string> mine;
    for (const auto &e : c.mine)
        mine.insert(e.name);
    // Present in both snmpwalk runs: present in mibwalk's too.
    for (const auto &[name, e] : before) {
        if (after.count(name) && !moving(name)) {
            EXPECT_TRUE(mine.count(name)) << "mibwalk lacks " << name;
        }
    }
    int compared = 0;
    for (const auto &m : c.mine) {
        auto b = before.find(m.name);
        auto a = after.find(m.name);
        if (moving(m.name))
            continue;
        EXPECT_TRUE(b != before.end() || a != after.end()) << "snmpwalk never saw " << m.name;
        const SnmpEntry *s = b != before.end() ? b->second : a != after.end() ? a->second : nullptr;
        if (!s)
            continue;
        EXPECT_EQ(m.kind, s->kind) << m.name << " = " << s->type << ": " << s->value;
        if (!valueCompared(m.name) || b == before.end() || a == after.end() ||
            b->second->value != a->second->value || b->second->type != a->second->type)
            continue;
        std::string expected = asMibwalkValue(*s);
        if (expected.empty() || expected.size() > 256)
            continue; // no comparable text, or too long for mibwalk's 256
        EXPECT_EQ(m.value, expected) << m.name;
        ++compared;
    }
    return compared;
}

TEST_F(SnmpdPeer, SystemGroupAgrees) {
    auto c = compare("1.3.6.1.2.1.1");
    EXPECT_EQ(c.run.status, 0) << c.run.out;
    ASSERT_GE(c.mine.size(), 7u);
    expectIncreasing(c.mine, "1.3.6.1.2.1.1");
    int compared =
        expectAgreement(c, [](const std::string &n) { return n != "1.3.6.1.2.1.1.3.0"; });
    EXPECT_GE(compared, static_cast<int>(c.mine.size()) - 1);   // all but sysUpTime
    EXPECT_EQ(c.run.out.find("End of MIB"), std::string::npos); // it left the subtree
}

TEST_F(SnmpdPeer, InterfacesGroupAgrees) {
    auto c = compare("1.3.6.1.2.1.2");
    EXPECT_EQ(c.run.status, 0) << c.run.out;
    ASSERT_FALSE(c.mine.empty());
    expectIncreasing(c.mine, "1.3.6.1.2.1.2");
    // ifNumber and the columns that do not count traffic: ifIndex .. ifLastChange,
    // ifSpecific.
    int compared = expectAgreement(c, [](const std::string &n) {
        if (n == "1.3.6.1.2.1.2.1.0")
            return true;
        for (int col : {1, 2, 3, 4, 5, 6, 7, 8, 22})
            if (under(n, "1.3.6.1.2.1.2.2.1." + std::to_string(col)))
                return true;
        return false;
    });
    EXPECT_GT(compared, 8);
}

TEST_F(SnmpdPeer, WholeTreeAgrees) {
    auto c = compare("1.3.6.1");
    EXPECT_EQ(c.run.status, 0);
    ASSERT_GT(c.mine.size(), 1000u);
    expectIncreasing(c.mine, "1.3.6.1");
    // Octet strings, identifiers and addresses where snmpd holds them still;
    // Counter, Gauge and TimeTicks by kind only.
    int compared = expectAgreement(c, [](const std::string &) { return true; });
    EXPECT_GT(compared, 1000);
    EXPECT_TRUE(c.endBefore && c.endAfter);
    ASSERT_GE(c.run.out.size(), 11u);
    EXPECT_EQ(c.run.out.substr(c.run.out.size() - 11), "End of MIB\n");

    // Values that have no text of 256 characters print as GARBLED: the
    // Opaque load averages and the long configure line of the version info.
    std::map<std::string, std::string> values;
    for (const auto &e : c.mine)
        values[e.name] = e.value;
    for (const auto &e : c.before) {
        if (e.type == "Opaque" || under(e.name, "1.3.6.1.4.1.2021.100.6")) {
            ASSERT_TRUE(values.count(e.name)) << e.name;
            EXPECT_EQ(values[e.name], "GARBLED") << e.name;
        }
    }
}

} // namespace
