// mibwalk against Debian's snmpd, held against snmpwalk -v1 -On (mibwalk -v 2c
// against snmpbulkwalk -v2c -On); values are compared only where the runs
// before and after agree.
#include "tests/support.h"
#include "tests/walk_output.h"

#include <gtest/gtest.h>

#include <regex>

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
// socket or process; nsCacheTable: its caches expire and fill again meanwhile.
bool moving(const std::string &name) {
    static const std::regex tables(
        "^1\\.3\\.6\\.1\\.(2\\.1\\.(7\\.[57]|25\\.[45])|4\\.1\\.8072\\.1\\.5\\.3)\\..*");
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

} // namespace
