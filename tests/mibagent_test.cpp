// mibagent in a scratch working directory, driven by mibwalk, snmpget and snmpset.
#include "platform/net.h"
#include "smp/usmcrypto.h"
#include "tests/ber_craft.h"
#include "tests/support.h"
#include "tests/walk_output.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace testing_support;
using namespace walkout;

namespace {

const std::string definitions =
    "system = 1.3.6.1.2.1.1\ninterfaces = 1.3.6.1.2.1.2\nifNumber = 1.3.6.1.2.1.2.1\n"
    "sysDescr = 1.3.6.1.2.1.1.1\nsysObjectID = 1.3.6.1.2.1.1.2\nsysUpTime = 1.3.6.1.2.1.1.3\n"
    "sysContact = 1.3.6.1.2.1.1.4\nsysName = 1.3.6.1.2.1.1.5\nsysLocation = 1.3.6.1.2.1.1.6\n"
    "sysServices = 1.3.6.1.2.1.1.7\nifDescr = 1.3.6.1.2.1.2.2.1.2\nifMtu = 1.3.6.1.2.1.2.2.1.4\n";

struct Agent {
    TempDir dir;
    std::unique_ptr<BackgroundProcess> process;
    int port = 0;
    Env env{{"TARNOQSNMP_REGISTRY", dir.file("no-registry")}};
    explicit Agent(std::vector<std::string> extra = {}) {
        std::filesystem::create_directory(dir.file("etc"));
        writeFile(dir.file("etc/mibagent.cmm"),
                  readFile(std::string(SOURCE_DIR) + "/etc/mibagent.cmm"));
        writeFile(dir.file("etc/mibagent.trp"), "# no destination\n");
        writeFile(dir.file("etc/snmp.def"), definitions);
        start(extra);
    }
    void start(std::vector<std::string> extra = {}) { // again in the same place: a restart
        process.reset();
        port = 0;
        extra.insert(extra.begin(), {mibagent, "-h", "127.0.0.1", "-p", "0"});
        process = std::make_unique<BackgroundProcess>(extra, dir.path, env);
        const std::string mark = "mibagent: listening on 127.0.0.1 port ";
        if (process->waitForOutput(mark, 5000)) {
            std::string out = process->out();
            port = std::stoi(out.substr(out.find(mark) + mark.size()));
        }
    }
    ProcessResult walk(std::vector<std::string> args) {
        args.insert(args.begin(),
                    {mibwalk, "-h", "127.0.0.1", "-p", std::to_string(port), "-t", "5"});
        return runProcess(args, dir.path, env, 60);
    }
};

class MibagentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (mibagent.empty() || mibwalk.empty())
            GTEST_SKIP() << "mibagent or mibwalk is not built";
    }
};

// By name, from /proc/net/dev, and the whole tree in increasing order to its end.
TEST_F(MibagentTest, Walks) {
    Agent a({"-b", "50"});
    ASSERT_GT(a.port, 0) << a.process->out() << a.process->err();
    auto r = a.walk({"system"});
    std::string seen;
    for (const auto &e : parseMibwalk(r.out))
        seen += e.name + " " + e.kind + (e.kind == "OctetString" ? "\n" : " " + e.value + "\n");
    EXPECT_EQ(seen, "sysDescr.0 OctetString\nsysObjectID.0 ObjectId 1.3.6.1.4.1.32473\n"
                    "sysUpTime.0 TimeTicks " +
                        parseMibwalk(r.out).at(2).value +
                        "\nsysContact.0 OctetString\nsysName.0 OctetString\n"
                        "sysLocation.0 OctetString\nsysServices.0 Integer 72\n");
    EXPECT_EQ(r.out.rfind("Name: sysDescr.0 Kind: OctetString Value: \"" +
                              std::string(UNAME_SYSTEM) + " ",
                          0),
              0u);
    std::vector<std::string> interfaces; // /proc/net/dev's, in its order; on Windows the agent's
    if (ON_WINDOWS)
        for (const auto &l : parseMibwalk(a.walk({"ifDescr"}).out))
            interfaces.push_back(l.value.substr(1, l.value.size() - 2));
    std::ifstream dev(ON_WINDOWS ? "" : "/proc/net/dev");
    for (std::string line; std::getline(dev, line);)
        if (size_t colon = line.find(':'), start = line.find_first_not_of(' '); colon != line.npos)
            interfaces.push_back(line.substr(start, colon - start));
    EXPECT_EQ(a.walk({"ifNumber"}).out,
              "Name: ifNumber.0 Kind: Integer Value: " + std::to_string(interfaces.size()) + " \n");
    r = a.walk({"ifDescr", "ifMtu"});
    EXPECT_EQ(a.walk({"-v", "2c", "ifDescr", "ifMtu"}).out, r.out);
    auto lines = parseMibwalk(r.out);
    ASSERT_EQ(lines.size(), 2 * interfaces.size()) << r.out;
    for (size_t i = 0; i < interfaces.size(); ++i) {
        EXPECT_EQ(lines[2 * i].name, "ifDescr." + std::to_string(i + 1));
        EXPECT_EQ(lines[2 * i].value, "\"" + interfaces[i] + "\"");
        std::string mtu = readFile("/sys/class/net/" + interfaces[i] + "/mtu");
        if (!mtu.empty()) {
            EXPECT_EQ(lines[2 * i + 1].value, mtu.substr(0, mtu.find('\n')));
        }
    }
    std::remove(a.dir.file("etc/snmp.def").c_str()); // numeric names, to check their order
    r = a.walk({"1.3.6.1"});
    EXPECT_EQ(r.status, 0);
    lines = parseMibwalk(r.out);
    for (size_t i = 1; i < lines.size(); ++i)
        ASSERT_TRUE(oidGreater(lines[i].name, lines[i - 1].name)) << lines[i].name;
    // Every MIB-II group with a source on any Linux host (on Windows: those
    // the IP helper's interface table or no source fills), and the test table.
    std::set<std::string> groups;
    size_t table = 0;
    for (const auto &l : lines) {
        groups.insert(l.name.substr(0, l.name.find('.', 12)));
        table += l.name.rfind("1.3.6.1.4.1.32473.1.1.1.", 0) == 0;
    }
    for (std::string g : words({"1 2 11", ON_WINDOWS ? "" : "4 5 6 7"})) {
        g = "1.3.6.1.2.1." + g;
        EXPECT_EQ(groups.count(g), 1u) << g;
    }
    EXPECT_EQ(table, 50u);
    EXPECT_EQ(r.out.substr(r.out.size() - 64),
              "Name: 1.3.6.1.6.3.15.1.1.6.0 Kind: Counter Value: 0 \nEnd of MIB\n");
    // v2c walks the same objects to the same end, and the Counter64 ones v1 never shows.
    auto v2 = a.walk({"-v", "2c", "-b", "25", "1.3.6.1"});
    std::string names, v2names;
    for (const auto &l : lines)
        names += l.name + " " + l.kind + "\n";
    for (const auto &l : parseMibwalk(v2.out))
        v2names += l.kind == "Counter64" ? "" : l.name + " " + l.kind + "\n";
    EXPECT_EQ(v2names, names);
    EXPECT_EQ(v2.out.substr(v2.out.size() - 69), r.out.substr(r.out.size() - 69));
    if (!ON_WINDOWS) { // -Oj: every line JSON, each value as its hex says
        std::string json = jsonBindings({a.walk({"-Oj", "-v", "2c", "1.3.6.1"}).out})[0];
        EXPECT_GE(std::count(json.begin(), json.end(), '\n'), lines.size()) << json;
    }
}

// Public may only read: its Set gets no answer; a wrong community is counted.
TEST_F(MibagentTest, GetAndSet) {
    LINUX_ONLY("the peers are Debian's snmpget and snmpset");
    if (findProgram("snmpget").empty() || findProgram("snmpset").empty())
        GTEST_SKIP() << "snmpget/snmpset are not installed (Debian package snmp)";
    Agent a({"-b", "2"});
    ASSERT_GT(a.port, 0);
    const std::string contact = "1.3.6.1.2.1.1.4.0";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"snmpget", "public", "1.3.6.1.2.1.1.7.0"}, ".1.3.6.1.2.1.1.7.0 = INTEGER: 72\n"},
        {{"snmpset", "private", contact, "s", "ops@example.org"}, "STRING: \"ops@example.org\""},
        {{"snmpset", "public", contact, "s", "intruder"}, "Timeout"},
        {{"snmpget", "public", contact}, ".1.3.6.1.2.1.1.4.0 = STRING: \"ops@example.org\"\n"},
        {{"snmpset", "private", "1.3.6.1.2.1.1.1.0", "s", "x"}, "noSuchName"},
        {{"snmpset", "private", "1.3.6.1.2.1.1.5.0", "i", "5"}, "badValue"},
        {{"snmpget", "public", "1.3.6.1.2.1.1.99.0"}, "noSuchName"},
        {{"snmpget", "wrong", "1.3.6.1.2.1.1.7.0"}, "Timeout"},
        {{"snmpget", "public", "1.3.6.1.2.1.11.4.0"}, ".1.3.6.1.2.1.11.4.0 = Counter32: 1\n"},
        {{"snmpget", "public", "1.3.6.1.4.1.32473.1.1.1.2"}, " = INTEGER: 2\n"},
        {{"snmpset", "private", "1.3.6.1.4.1.32473.1.1.1.2", "i", "5"}, "noSuchName"},
        // Version 2c (RFC 3416, 4.2) beside it; version 1 sees no Counter64 (RFC 3584).
        {{"snmpget 2c", "public", "1.3.6.1.2.1.1.1.1"}, "No Such Instance"},
        {{"snmpget 2c", "public", "1.3.6.1.2.1.1.99.0"}, "No Such Object"},
        {{"snmpset 2c", "private", "1.3.6.1.2.1.1.1.0", "s", "x"}, "notWritable"},
        {{"snmpset 2c", "public", contact, "s", "x"}, "noAccess"},
        {{"snmpset 2c", "private", "1.3.6.1.2.1.1.5.0", "i", "5"}, "wrongType"},
        {{"snmpset 2c", "private", "1.3.6.1.2.1.11.30.0", "i", "3"}, "wrongValue"},
        {{"snmpget 2c", "public", "1.3.6.1.2.1.31.1.1.1.6.1"}, " = Counter64: "},
        {{"snmpget", "public", "1.3.6.1.2.1.31.1.1.1.6.1"}, "noSuchName"},
    };
    for (const auto &[args, expected] : cases) {
        std::vector<std::string> argv = {findProgram(args[0].substr(0, args[0].find(' '))),
                                         args[0].ends_with(" 2c") ? "-v2c" : "-v1"};
        argv.insert(argv.end(), {"-On", "-m", "", "-t", "1", "-r", "0", "-c", args[1],
                                 "127.0.0.1:" + std::to_string(a.port)});
        argv.insert(argv.end(), args.begin() + 2, args.end());
        auto r = runProcess(argv, "", {{"MIBS", ""}, {"MIBDIRS", "/nonexistent"}}, 30);
        EXPECT_NE((r.out + r.err).find(expected), std::string::npos) << args[2] << r.out << r.err;
    }
}

// Debian's bulk walker reaches the end with any max-repetitions, and sees the
// objects a version-1 walk sees, and the Counter64 columns besides.
TEST_F(MibagentTest, BulkWalksSeeTheVersion1ObjectsAndCounter64s) {
    LINUX_ONLY("the peers are Debian's snmpwalk and snmpbulkwalk");
    if (findProgram("snmpbulkwalk").empty())
        GTEST_SKIP() << "snmpbulkwalk is not installed (Debian package snmp)";
    Agent a({"-b", "30"});
    ASSERT_GT(a.port, 0);
    auto names = [&](std::vector<std::string> tool, bool hideCounter64) {
        tool.insert(tool.end(), {"-On", "-m", "", "-t", "2", "-r", "0", "-c", "public",
                                 "127.0.0.1:" + std::to_string(a.port), ".1"});
        tool[0] = findProgram(tool[0]);
        auto r = runProcess(tool, "", {{"MIBS", ""}, {"MIBDIRS", "/nonexistent"}}, 60);
        std::string seen;
        std::istringstream lines(r.out);
        for (std::string l; std::getline(lines, l);)
            if (l[0] == '.' && l.find("= No more variables") == l.npos &&
                !(hideCounter64 && l.find("= Counter64: ") != l.npos))
                seen += l.substr(0, l.find(" = ")) + "\n";
        return std::make_pair(seen, r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1));
    };
    auto v1 = names({"snmpwalk", "-v1"}, false);
    EXPECT_EQ(v1.second, "End of MIB\n");
    for (const char *repetitions : {"-Cr10", "-Cr25"}) {
        auto bulk = names({"snmpbulkwalk", "-v2c", repetitions}, true);
        EXPECT_EQ(bulk.first, v1.first) << repetitions;
        EXPECT_NE(bulk.second.find("No more variables left in this MIB View"), std::string::npos)
            << bulk.second;
        EXPECT_NE(names({"snmpbulkwalk", "-v2c", repetitions}, false).first, bulk.first);
    }
}

// RFC 1213, 6.12: each exchange moves the snmp group as the RFC defines it.
// Two readings of the whole group, each a Get of every column, frame the
// exchanges; one reading's own Get is in the difference.
TEST_F(MibagentTest, SnmpGroupCountsAsTheRfcDefines) {
    Agent a;
    ASSERT_GT(a.port, 0);
    UdpPeer peer;
    const int columns[] = {1,  2,  3,  4,  5,  6,  8,  9,  10, 11, 12, 13, 14, 15,
                           16, 17, 18, 19, 20, 21, 22, 24, 25, 26, 27, 28, 29, 30};
    std::vector<ber::Bytes> group;
    for (int c : columns)
        group.push_back(ber::varBind("1.3.6.1.2.1.11." + std::to_string(c) + ".0", ber::null()));
    auto read = [&](int64_t id) {
        peer.sendTo(a.port, ber::message("public", 0xA0, id, 0, 0, group));
        std::map<int, int64_t> words;
        ber::Bytes in;
        int from = 0;
        while (words.empty() && peer.receive(in, from, 3000))
            if (auto m = ber::parse(in); m && m->requestId == id && m->binds.size() == 28)
                for (size_t i = 0; i < 28; ++i)
                    words[columns[i]] = ber::toInt(m->binds[i].value.content);
        return words;
    };
    auto get = [](const char *community, unsigned char tag, std::vector<ber::Bytes> binds) {
        return ber::message(community, tag, 9, 0, 0, binds);
    };
    const auto name = [](const char *oid) { return ber::varBind(oid, ber::null()); };
    ber::Bytes badVersion = get("public", 0xA0, {name("1.3.6.1.2.1.1.7.0")});
    badVersion[4] = 7;
    const std::vector<ber::Bytes> exchanges = {
        get("public", 0xA0, {name("1.3.6.1.2.1.1.7.0")}),                              // 1 var
        get("public", 0xA1, {name("1.3.6.1.2.1.1.1"), name("1.3.6.1.2.1.1.2")}),       // 2 vars
        get("public", 0xA0, {name("1.3.6.1.2.1.1.99.0")}),                             // noSuchName
        get("private", 0xA3, {ber::varBind("1.3.6.1.2.1.1.5.0", ber::integer(5))}),    // badValue
        get("private", 0xA3, {ber::varBind("1.3.6.1.2.1.1.4.0", ber::octets("ops"))}), // set
        get("public", 0xA3, {ber::varBind("1.3.6.1.2.1.1.4.0", ber::octets("x"))}),    // a use
        get("wrong", 0xA0, {name("1.3.6.1.2.1.1.7.0")}),                               // a name
        get("public", 0xA0, std::vector<ber::Bytes>(120, name("1.3.6.1.2.1.1.1.0"))),  // tooBig
        get("public", 0xA2, {name("1.3.6.1.2.1.1.7.0")}), // a response comes in
        ber::hex("3000"),
        badVersion,
    };
    auto before = read(1);
    ASSERT_EQ(before.size(), 28u);
    for (const ber::Bytes &d : exchanges)
        peer.sendTo(a.port, d);
    auto after = read(2); // answered after everything sent before it
    ASSERT_EQ(after.size(), 28u);
    // Words 1 to 30 but 7 and 23; replies to 6 requests and one reading.
    const std::map<int, int64_t> expected = {
        {1, 12}, {2, 7},  {3, 1},  {4, 1},  {5, 1},  {6, 1},  {13, 1 + 2 + 28}, {14, 1},
        {15, 4}, {16, 1}, {17, 2}, {18, 1}, {20, 1}, {21, 1}, {22, 1},          {28, 7}};
    for (int c : columns)
        EXPECT_EQ(after[c] - before[c], expected.count(c) ? expected.at(c) : 0) << "snmp." << c;
}

// Debian's snmpwalk -v3 walks the system group as user of every protocol pair
// the users file offers, and snmpbulkwalk of a few, seeing what -v2c sees
// (sysUpTime apart); one user is given by keys localized for the engine. The
// engine keeps the identifier it made and counts every start.
TEST_F(MibagentTest, NetSnmpWalksWithEveryUserOverV3) {
    LINUX_ONLY("the peers are Debian's snmpwalk, snmpbulkwalk and snmpget");
    const std::string snmpget = findProgram("snmpget"), snmpwalk = findProgram("snmpwalk"),
                      bulkwalk = findProgram("snmpbulkwalk");
    if (snmpget.empty() || snmpwalk.empty() || bulkwalk.empty())
        GTEST_SKIP() << "snmpget/snmpwalk/snmpbulkwalk are not installed (Debian package snmp)";
    Agent a; // its first start makes the engine
    ASSERT_GT(a.port, 0);
    std::string state = readFile(a.dir.file("etc/mibagent.eng"));
    ASSERT_NE(state.find("engineBoots 1\n"), state.npos) << state;
    const std::string id = state.substr(state.find("engineID ") + 9, 26);
    const ber::Bytes engine = ber::hex(id);
    auto localized = [&](UsmAuth auth, const char *passphrase) {
        uint8_t ku[USM_KEY_MAX], kul[USM_KEY_MAX];
        int n = usmPassphraseToKey(auth, {reinterpret_cast<const uint8_t *>(passphrase), 11}, ku);
        n = usmLocalizeKey(auth, {ku, static_cast<size_t>(n)}, engine, kul);
        std::string hex = "0x";
        for (int i = 0; i < n; ++i)
            hex += "0123456789abcdef"[kul[i] >> 4], hex += "0123456789abcdef"[kul[i] & 15];
        return hex;
    };
    std::vector<std::vector<std::string>> users = {{"plain", "-l", "noAuthNoPriv"}};
    std::string file = "plain none - none - noAuthNoPriv READ\nkeyed SHA-256 " +
                       localized(USM_AUTH_SHA256, "authpass123") + " AES-256 " +
                       localized(USM_AUTH_SHA256, "privpass123") + " authPriv READ\n";
    for (const char *auth : {"MD5", "SHA", "SHA-224", "SHA-256", "SHA-384", "SHA-512"})
        for (const char *priv :
             {"none", "DES", "AES", "AES-192", "AES-256", "AES192C", "AES256C"}) {
            std::string name;
            for (const char *c = auth; *c; ++c)
                name += *c == '-' ? "" : std::string(1, static_cast<char>(std::tolower(*c)));
            for (const char *c = priv; *priv != 'n' && *c; ++c)
                name += *c == '-' ? "" : std::string(1, static_cast<char>(std::tolower(*c)));
            bool p = *priv != 'n';
            file += name + " " + auth + " authpass123 " + priv + (p ? " privpass123" : " -") +
                    (p ? " authPriv" : " authNoPriv") + " READ\n";
            users.push_back(
                {name, "-l", p ? "authPriv" : "authNoPriv", "-a", auth, "-A", "authpass123"});
            if (p)
                users.back().insert(users.back().end(), {"-x", priv, "-X", "privpass123"});
        }
    users.push_back({"keyed", "-l", "authPriv", "-a", "SHA-256", "-A", "authpass123", "-x",
                     "AES-256", "-X", "privpass123"});
    ASSERT_EQ(users.size(), 44u);
    writeFile(a.dir.file("etc/mibagent.usr"), file);
    namespace fs = std::filesystem;
    fs::permissions(a.dir.file("etc/mibagent.usr"), fs::perms::owner_read | fs::perms::others_read);
    auto open = runProcess({mibagent, "-p", "0"}, a.dir.path, a.env, 10);
    EXPECT_EQ(open.status, 1);
    EXPECT_NE(open.out.find("etc/mibagent.usr can be read by every user: not loaded"),
              std::string::npos)
        << open.out;
    fs::permissions(a.dir.file("etc/mibagent.usr"), fs::perms::owner_read);
    const Env tools = {{"MIBS", ""},
                       {"MIBDIRS", "/nonexistent"},
                       {"SNMP_PERSISTENT_DIR", a.dir.path},
                       {"SNMPCONFPATH", a.dir.path}};
    auto run = [&](const std::string &tool, std::vector<std::string> args, const char *oid) {
        args.insert(args.begin(), tool);
        args.insert(args.end(), {"-On", "-m", "", "-t", "2", "-r", "1",
                                 "127.0.0.1:" + std::to_string(a.port), oid});
        auto r = runProcess(args, "", tools, 60);
        std::string kept;                                        // without sysUpTime
        std::istringstream lines(r.out.empty() ? r.err : r.out); // errors where nothing came
        for (std::string l; std::getline(lines, l);)
            kept += l.rfind(".1.3.6.1.2.1.1.3.0 = ", 0) == 0 ? "" : l + "\n";
        return kept;
    };
    auto engineNow = [&] { // identifier and boots, over v3
        return run(snmpget, {"-v3", "-u", "plain", "-l", "noAuthNoPriv", "-Oqv"},
                   "1.3.6.1.6.3.10.2.1.1.0") +
               run(snmpget, {"-v3", "-u", "plain", "-l", "noAuthNoPriv", "-Oqv"},
                   "1.3.6.1.6.3.10.2.1.2.0");
    };
    std::string spaced; // the identifier as snmpget prints it
    for (size_t i = 0; i < id.size(); i += 2)
        spaced += (i ? " " : "\"") + std::string{static_cast<char>(std::toupper(id[i])),
                                                 static_cast<char>(std::toupper(id[i + 1]))};
    a.start();
    ASSERT_GT(a.port, 0);
    EXPECT_EQ(engineNow(), spaced + " \"\n2\n");
    const std::string v2c = run(snmpwalk, {"-v2c", "-c", "public"}, "1.3.6.1.2.1.1");
    ASSERT_EQ(std::count(v2c.begin(), v2c.end(), '\n'), 6) << v2c;
    for (const auto &user : users) {
        std::vector<std::string> args = {"-v3", "-u"};
        args.insert(args.end(), user.begin(), user.end());
        EXPECT_EQ(run(snmpwalk, args, "1.3.6.1.2.1.1"), v2c) << user[0];
        if (user[0] == "md5des" || user[0] == "sha512aes256c" || user[0] == "keyed") {
            args.push_back("-Cr3");
            EXPECT_EQ(run(bulkwalk, args, "1.3.6.1.2.1.1"), v2c) << user[0];
        }
    }
    a.start();
    ASSERT_GT(a.port, 0);
    EXPECT_EQ(engineNow(), spaced + " \"\n3\n");
}

TEST_F(MibagentTest, HostileDatagramsDoNotStopIt) {
    auto usage = runProcess({mibagent, "-x"}, "", {}, 10); // nor does it start on a bad option
    EXPECT_EQ(usage.status, 1);
    EXPECT_EQ(usage.out.rfind("Usage: ", 0), 0u) << usage.out;
    Agent a;
    ASSERT_GT(a.port, 0);
    UdpPeer peer;
    const std::vector<ber::Bytes> hostile = {
        {},
        {0x30},
        ber::hex("30 84 FF FF FF FF"),
        ber::Bytes(5000, 0x30),
        ber::message("public", 0xA1, 1, 0, 0,
                     {ber::tlv(0x30, ber::cat({ber::tlv(0x06, {0x2B, 0x86}), ber::null()}))}),
        ber::message("public", 0xA3, 2, 0, 0,
                     {ber::varBind("1.3.6.1.2.1.1.5.0", ber::octets(std::string(1500, 'n')))}),
        ber::message("public", 0xA7, 3, 0, 0, {}),
        ber::message("public", 0xA2, 4, 0, 0, {ber::varBind("1.3.6.1.2.1.1.7.0", ber::null())}),
    };
    for (const auto &d : hostile)
        peer.sendTo(a.port, d);
    peer.sendTo(a.port, ber::message("public", 0xA0, 77, 0, 0,
                                     {ber::varBind("1.3.6.1.2.1.1.7.0", ber::null())}));
    ber::Bytes in;
    int from = 0;
    std::optional<ber::Message> m;
    while (!(m && m->requestId == 77) && peer.receive(in, from, 500))
        m = ber::parse(in);
    ASSERT_TRUE(m && m->requestId == 77 && m->binds.size() == 1);
    EXPECT_EQ(m->pduTag, 0xA2);
    EXPECT_EQ(ber::toInt(m->binds[0].value.content), 72);
}

// A stop signal ends the agent blocked in its receive within stop()'s two
// seconds (else it is killed: 137): at start, idle, or busy.
TEST_F(MibagentTest, EndsCleanlyOnSigintAndSigtermWheneverTheyCome) {
    LINUX_ONLY("signals; a console's control events cannot be sent to a child under Wine");
    enum When { AtStart, Idle, Busy };
    const std::pair<int, When> cases[] = {{2, AtStart}, {15, AtStart}, {2, Idle},
                                          {15, Idle},   {2, Busy},     {15, Busy}};
    const ber::Bytes get =
        ber::message("public", 0xA0, 5, 0, 0, {ber::varBind("1.3.6.1.2.1.1.7.0", ber::null())});
    for (const auto &[sig, when] : cases) {
        Agent a;
        ASSERT_GT(a.port, 0);
        UdpPeer peer;
        if (when == Idle) {
            ber::Bytes in;
            int from = 0;
            peer.sendTo(a.port, get);
            ASSERT_TRUE(peer.receive(in, from, 2000)); // answered, then nothing to do
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        for (int i = 0; when == Busy && i < 300; ++i)
            peer.sendTo(a.port, get);
        EXPECT_EQ(a.process->stop(sig), 0) << "signal " << sig << ", case " << when;
    }
}

// A stop while the agent starts (held there once it catches SIGTERM: its
// warning of no community goes to a full pipe) ends it cleanly.
TEST_F(MibagentTest, StopDuringStartUpEndsCleanly) {
    LINUX_ONLY("signals, and the caught ones read in /proc");
#ifndef _WIN32
    int p[2]; // the write end inherited: the agent's stderr
    ASSERT_EQ(pipe2(p, O_NONBLOCK), 0);
    for (char fill[4096]{}; write(p[1], fill, sizeof fill) > 0;) {
    }
    fcntl(p[1], F_SETFL, 0);
    TempDir dir;
    BackgroundProcess agent({"sh", "-c", "exec \"$0\" -p 0 2>&" + std::to_string(p[1]), mibagent},
                            dir.path, {{"TARNOQSNMP_REGISTRY", dir.file("none")}});
    close(p[1]);
    auto catching = [&] { // SIGTERM is among the signals it catches
        std::string s = readFile("/proc/" + std::to_string(agent.pid) + "/status");
        return s.find("SigCgt:") != s.npos &&
               std::stoull(s.substr(s.find("SigCgt:") + 7), 0, 16) & 0x4000;
    };
    for (int i = 0; i < 500 && !catching(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(agent.pid, SIGTERM);
    for (char drained[4096]; read(p[0], drained, sizeof drained) > 0;) {
    }
    EXPECT_TRUE(agent.wait(5000));
    EXPECT_EQ(agent.status, 0); // not 143, ended by the signal
    close(p[0]);
#endif
}

} // namespace
