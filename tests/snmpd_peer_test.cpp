// mibwalk against Debian's snmpd, held against snmpwalk -v1 -On (mibwalk -v 2c
// against snmpbulkwalk -v2c -On); values are compared only where the runs
// before and after agree.
#include "tests/support.h"
#include "tests/walk_output.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <thread>

using namespace testing_support;
using walkout::Entry;

namespace {

const Env noMibs = {{"MIBS", ""}, {"MIBDIRS", "/nonexistent"}};

// snmpwalk -On's entries as mibwalk prints them (strings as -Ox prints them
// with hex); kind "?", no value where none compares.
std::map<std::string, Entry> parseSnmpwalk(const std::string &out, bool hex) {
    static const std::regex entry("^\\.(\\S+) = (?:([^:]+): )?(.*)$");
    static const std::map<std::string, std::string> kinds = {
        {"INTEGER", "Integer"},    {"STRING", "OctetString"},  {"Hex-STRING", "OctetString"},
        {"OID", "ObjectId"},       {"Timeticks", "TimeTicks"}, {"Counter32", "Counter"},
        {"Gauge32", "Gauge"},      {"IpAddress", "IpAddress"}, {"Opaque", "Opaque"},
        {"Counter64", "Counter64"}};
    std::vector<std::array<std::string, 3>> raw; // name, type, text
    std::istringstream in(out);
    std::smatch m;
    for (std::string line; std::getline(in, line);) {
        if (line.find("No more variables left") != std::string::npos) // v2c's endOfMibView
            continue;
        if (std::regex_match(line, m, entry))
            raw.push_back({m[1], m[2], m[3]});
        else if (!raw.empty() && line.rfind("End of MIB", 0) != 0)
            raw.back()[2] += " " + line; // a Hex-STRING goes on
    }
    std::map<std::string, Entry> entries;
    for (const auto &[name, type, text] : raw) {
        Entry &e = entries[name] = {name, kinds.count(type) ? kinds.at(type) : "?", ""};
        std::string octets, byte;
        if (type.empty() && text == "\"\"")
            e = {name, "OctetString", hex ? "" : "\"\""};
        if (type == "STRING") // "text" with \" and \\ escaped
            for (size_t i = 1; i + 1 < text.size(); ++i)
                octets += text[i] == '\\' ? text[++i] : text[i];
        if (type == "Hex-STRING")
            for (std::istringstream h(text); h >> byte;)
                octets += static_cast<char>(std::stoi(byte, nullptr, 16));
        if ((type == "STRING" || type == "Hex-STRING") && hex) {
            for (unsigned char c : octets) {
                char two[4];
                snprintf(two, sizeof two, " %02X", c);
                e.value += e.value.empty() ? two + 1 : two;
            }
        } else if (type == "STRING" || type == "Hex-STRING") {
            e.value = "\"";
            for (unsigned char c : octets) {
                char oct[8];
                snprintf(oct, sizeof oct, "\\%o", c);
                e.value += c >= 0x20 && c <= 0x7E ? std::string(1, static_cast<char>(c)) : oct;
            }
            e.value += "\"";
        } else if (type == "OID" || type == "Timeticks") { // ".1.3..." and "(123) 0:00:01.23"
            e.value = text.substr(1, type == "OID" ? std::string::npos : text.find(')') - 1);
        } else if (type == "INTEGER" || type == "Counter32" || type == "Gauge32" ||
                   type == "IpAddress" || type == "Counter64") {
            e.value = text;
        }
    }
    return entries;
}

// udpTable, udpEndpointTable, hrSWRunTable, hrSWRunPerfTable: a walker's own
// socket or process; nsCacheTable: its caches expire and fill again meanwhile;
// laTable: a load average may rise and fall back between the bracketing walks.
bool moving(const std::string &name) {
    static const std::regex tables("^1\\.3\\.6\\.1\\.(2\\.1\\.(7\\.[57]|25\\.[45])|"
                                   "4\\.1\\.(8072\\.1\\.5\\.3|2021\\.10))\\..*");
    return std::regex_match(name, tables);
}

TEST(SnmpdPeer, SubtreesAgree) {
    LINUX_ONLY("the peers are Debian's snmpd and snmpwalk");
    std::string snmpd = findProgram("snmpd"), snmpwalk = findProgram("snmpwalk"),
                bulkwalk = findProgram("snmpbulkwalk");
    if (mibwalk.empty() || snmpd.empty() || snmpwalk.empty() || bulkwalk.empty())
        GTEST_SKIP() << "mibwalk, snmpd or snmp*walk missing (Debian packages snmpd, snmp)";
    TempDir dir;
    writeFile(dir.file("snmpd.conf"), "rocommunity public 127.0.0.1\n");
    std::string address = "127.0.0.1:" + std::to_string(freeUdpPort());
    BackgroundProcess agent({snmpd, "-f", "-Lo", "-C", "-c", dir.file("snmpd.conf"), "-p",
                             dir.file("snmpd.pid"), "udp:" + address},
                            dir.path, noMibs);
    auto snmpwalkRun = [&](const std::string &oid, bool v2c, bool hex) {
        return runProcess({v2c ? bulkwalk : snmpwalk, v2c ? "-v2c" : "-v1", hex ? "-Ox" : "-On",
                           "-On", "-m", "", "-c", "public", "-t", "2", "-r", "1", address, oid},
                          "", noMibs, 60)
            .out;
    };
    auto mibwalkRun = [&](const std::string &oid, bool v2c, std::vector<std::string> options) {
        options.insert(options.end(), {"-h", "127.0.0.1", "-p", address.substr(10), "-t", "5", "-v",
                                       v2c ? "2c" : "1", "-b", "60", oid});
        options.insert(options.begin(), mibwalk);
        return runProcess(options, dir.path, {{"TARNOQSNMP_REGISTRY", dir.file("none")}}, 120);
    };
    // Printed once it listens.
    ASSERT_TRUE(agent.waitForOutput("NET-SNMP version", 5000)) << agent.out() << agent.err();

    // The system group ends silently; the whole tree with End of MIB; in v1 and
    // v2c, where some of snmpd's answers to 60 repetitions exceed 2048 octets;
    // in v1 with -On -Ox (the definitions would name the names) and -Oj.
    const std::vector<std::string> numericHex = {"-On", "-Ox", "-df",
                                                 std::string(SOURCE_DIR) + "/etc/snmp.def"};
    for (const auto &[oid, least, v2c, hex] :
         {std::tuple<std::string, size_t, bool, bool>{"1.3.6.1.2.1.1", 7, false, false},
          {"1.3.6.1", 1000, false, false},
          {"1.3.6.1", 1000, true, false},
          {"1.3.6.1", 1000, false, true}}) {
        SCOPED_TRACE(oid + (v2c ? " v2c" : "") + (hex ? " -On -Ox" : ""));
        auto before = parseSnmpwalk(snmpwalkRun(oid, v2c, hex), hex);
        ProcessResult run = mibwalkRun(oid, v2c, hex ? numericHex : std::vector<std::string>{});
        std::map<std::string, std::string> hexOf; // -Oj's, of the same walk
        std::istringstream json(hex ? walkout::jsonBindings({mibwalkRun(oid, v2c, {"-Oj"}).out})[0]
                                    : "");
        for (std::string l; std::getline(json, l);)
            hexOf[l.substr(0, l.find('='))] = l.substr(l.find('=') + 1);
        EXPECT_TRUE(!hex || hexOf.size() >= least) << json.str();
        auto mine = walkout::parseMibwalk(run.out);
        auto after = parseSnmpwalk(snmpwalkRun(oid, v2c, hex), hex);
        EXPECT_EQ(run.status, 0);
        ASSERT_GE(mine.size(), least);
        EXPECT_EQ(run.out.find("Kind: Counter64") != std::string::npos, v2c); // never in v1
        EXPECT_EQ(run.out.find("End of MIB") != std::string::npos, oid == "1.3.6.1");
        std::set<std::string> seen;
        size_t compared = 0;
        for (size_t i = 0; i < mine.size(); ++i) {
            const Entry &m = mine[i];
            seen.insert(m.name);
            ASSERT_EQ(m.name.rfind(oid + ".", 0), 0u) << m.name;
            if (i > 0) {
                EXPECT_TRUE(walkout::oidGreater(m.name, mine[i - 1].name)) << m.name;
            }
            auto b = before.find(m.name), a = after.find(m.name);
            if (moving(m.name) || (b == before.end() && a == after.end())) {
                EXPECT_TRUE(moving(m.name)) << "snmpwalk never saw " << m.name;
                continue;
            }
            const Entry &s = b != before.end() ? b->second : a->second;
            EXPECT_EQ(m.kind, s.kind) << m.name << " " << s.value;
            if (s.kind == "Opaque" || (!hex && m.name.rfind("1.3.6.1.4.1.2021.100.6", 0) == 0)) {
                EXPECT_EQ(m.value, "GARBLED") << m.name; // no text of 256 characters
            }
            if (b == before.end() || a == after.end() || b->second.value != a->second.value ||
                s.value.empty() || (!hex && s.value.size() > 256))
                continue; // moved meanwhile, or no comparable text
            EXPECT_EQ(m.value, s.value) << m.name;
            std::string octets; // -Oj's hex: the same octets
            for (char c : s.value)
                octets += c == ' ' ? "" : std::string(1, static_cast<char>(tolower(c)));
            EXPECT_TRUE(!hex || s.kind != "OctetString" || hexOf[m.name] == octets) << m.name;
            ++compared;
        }
        for (const auto &[name, e] : before) {
            if (after.count(name) && !moving(name)) {
                EXPECT_TRUE(seen.count(name)) << "mibwalk lacks " << name;
            }
        }
        EXPECT_GE(compared + 1, least); // sysUpTime moves
    }
}

// mibwalk's lines but sysUpTime's, which moves.
std::string steady(const std::string &out) {
    std::string kept, line;
    for (std::istringstream in(out); std::getline(in, line);)
        if (line.find(" 1.3.6.1.2.1.1.3.0 ") == std::string::npos)
            kept += line + "\n";
    return kept;
}

ProcessResult walk(const std::string &dir, int port, std::vector<std::string> args) {
    args.insert(args.begin(), {mibwalk, "-h", "127.0.0.1", "-p", std::to_string(port), "-t", "3"});
    return runProcess(args, dir, {{"TARNOQSNMP_REGISTRY", dir + "/none"}}, 60);
}

// Version 3 with every protocol snmpd offers, as -v 2c walks; the failures' messages.
TEST(SnmpdPeer, Version3) {
    LINUX_ONLY("the peer is Debian's snmpd");
    std::string snmpd = findProgram("snmpd");
    if (mibwalk.empty() || snmpd.empty())
        GTEST_SKIP() << "mibwalk or snmpd missing (Debian package snmpd)";
    TempDir dir;
    const auto auths = words({"MD5 SHA SHA-224 SHA-256 SHA-384 SHA-512"}),
               privs = words({"none DES AES AES-192 AES-256 AES192C AES256C"});
    // A text engineID: snmpd makes it 80001f8804 and the text.
    std::string conf = "engineID tarnoqwalk\nrocommunity public 127.0.0.1\ncreateUser plain\n"
                       "rouser plain noauth\n";
    for (const std::string &a : auths)
        for (const std::string &x : privs)
            conf += "createUser " + a + x + " " + a + " authpass123" +
                    (x == "none" ? "" : " " + x + " privpass123") + "\nrouser " + a + x +
                    " noauth\n";
    writeFile(dir.file("snmpd.conf"), conf);
    std::filesystem::create_directory(dir.file("persist"));
    int port = freeUdpPort();
    Env env = noMibs;
    env["SNMP_PERSISTENT_DIR"] = dir.file("persist");
    BackgroundProcess agent({snmpd, "-f", "-Lo", "-C", "-c", dir.file("snmpd.conf"), "-p",
                             dir.file("snmpd.pid"), "udp:127.0.0.1:" + std::to_string(port)},
                            dir.path, env);
    ASSERT_TRUE(agent.waitForOutput("NET-SNMP version", 10000)) << agent.out() << agent.err();
    ProcessResult v2c = walk(dir.path, port, {"-v", "2c", "1.3.6.1.2.1.1"});
    ASSERT_EQ(v2c.status, 0);
    ASSERT_GE(walkout::parseMibwalk(v2c.out).size(), 7u);
    const std::string expected = steady(v2c.out);
    auto v3 = [&](const std::string &user, std::vector<std::string> more) {
        more.insert(more.begin(), {"-v", "3", "-u", user});
        more.push_back("1.3.6.1.2.1.1");
        return walk(dir.path, port, more);
    };
    ProcessResult r = v3("plain", {});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(steady(r.out), expected);
    for (const std::string &a : auths) {
        for (const std::string &x : privs) {
            SCOPED_TRACE(a + x);
            r = v3(a + x, {"-l", x == "none" ? "authNoPriv" : "authPriv", "-a", a, "-x",
                           x == "none" ? "AES" : x, "-A", "authpass123", "-X", "privpass123"});
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(steady(r.out), expected);
        }
    }
    r = v3("SHA-256AES", {"-l", "authPriv", "-a", "SHA-256", "-A", "authpass123", "-X",
                          "privpass123", "-e", "80001f88047461726e6f7177616c6b"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(steady(r.out), expected);
    const std::vector<std::tuple<std::string, std::vector<std::string>, int, std::string>> fails = {
        {"SHAnone",
         {"-l", "authNoPriv", "-a", "SHA", "-A", "wrongpass1"},
         2,
         ": Authentication failure\n"},
        {"nobody", {}, 2, ": Unknown user name\n"},
        {"SHAAES",
         {"-l", "authPriv", "-a", "SHA", "-A", "authpass123", "-X", "wrongpass1"},
         4,
         "Request Timed Out (check the privacy passphrase)\n"},
        {"plain", {"-l", "authNoPriv", "-A", "authpass123"}, 2, ": Unsupported security level\n"},
        {"MD5none", {"-e", "8000000001"}, 2, ": Unknown engine ID\n"},
    };
    for (const auto &[user, args, status, out] : fails) {
        SCOPED_TRACE(user);
        r = v3(user, args);
        EXPECT_EQ(r.status, status);
        EXPECT_EQ(r.out, (status == 2 ? mibwalk : "") + out);
    }
}

// mibagent's users; restarted in the middle of a walk through a relay, whose
// request then comes with the old boots: the walk resyncs once and goes on.
TEST(MibagentPeer, Version3) {
    LINUX_ONLY("mibagent's users file is checked for its mode");
    if (mibwalk.empty() || mibagent.empty())
        GTEST_SKIP() << "mibwalk or mibagent is not built";
    TempDir dir;
    std::filesystem::create_directory(dir.file("etc"));
    writeFile(dir.file("etc/mibagent.cmm"), "public 127.0.0.1 READ\n");
    writeFile(dir.file("etc/mibagent.trp"), "# none\n");
    writeFile(dir.file("etc/mibagent.usr"), "aes SHA authpass123 AES privpass123 authPriv READ\n"
                                            "s256 SHA-256 authpass123 AES-256 privpass123 "
                                            "authPriv READ\n");
    std::filesystem::permissions(dir.file("etc/mibagent.usr"),
                                 std::filesystem::perms::owner_read |
                                     std::filesystem::perms::owner_write);
    Env env{{"TARNOQSNMP_REGISTRY", dir.file("none")}};
    int port = 0;
    auto start = [&] {
        auto p = std::make_unique<BackgroundProcess>(
            std::vector<std::string>{mibagent, "-h", "127.0.0.1", "-p", std::to_string(port)},
            dir.path, env);
        const std::string mark = "listening on 127.0.0.1 port ";
        if (p->waitForOutput(mark, 5000))
            port = std::stoi(p->out().substr(p->out().find(mark) + mark.size()));
        return p;
    };
    auto agent = start();
    ASSERT_GT(port, 0) << agent->out() << agent->err();
    ProcessResult v2c = walk(dir.path, port, {"-v", "2c", "1.3.6.1.2.1.1"});
    ASSERT_EQ(v2c.status, 0);
    const std::string expected = steady(v2c.out);
    const std::vector<std::string> aes = {"-v", "3",   "-u", "aes",         "-l", "authPriv",
                                          "-a", "SHA", "-A", "authpass123", "-X", "privpass123"};
    std::vector<std::string> args = aes;
    args.push_back("1.3.6.1.2.1.1");
    ProcessResult r = walk(dir.path, port, args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(steady(r.out), expected);
    r = walk(dir.path, port,
             {"-v", "3", "-u", "s256", "-l", "authPriv", "-a", "SHA-256", "-x", "AES-256", "-A",
              "authpass123", "-X", "privpass123", "1.3.6.1.2.1.1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(steady(r.out), expected);
    // The relay's requests, with the agent restarted before the one at restartAt.
    auto relayed = [&](int restartAt, ProcessResult *result) {
        UdpPeer front, back;
        int count = 0;
        std::thread relay([&] {
            std::vector<unsigned char> d;
            int walker = 0, from = 0;
            for (; front.receive(d, walker, 3000); ++count) {
                if (count == restartAt) {
                    agent->stop();
                    agent = start();
                }
                back.sendTo(port, d);
                if (back.receive(d, from, 2000))
                    front.sendTo(walker, d);
            }
        });
        std::vector<std::string> slow = aes; // the relay holds a request while it restarts
        slow.insert(slow.end(), {"-b", "1", "-t", "10", "-r", "1", "1.3.6.1.2.1.1"});
        *result = walk(dir.path, front.port, slow);
        relay.join();
        return count;
    };
    int plain = relayed(-1, &r);
    EXPECT_EQ(steady(r.out), expected);
    EXPECT_EQ(relayed(3, &r), plain + 1); // the resync's resend
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(steady(r.out), expected);
}

} // namespace
