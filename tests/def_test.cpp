#include "platform/log.h"
#include "platform/token.h"
#include "smx/def.h"
#include "smx/smx.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using testing_support::EventCapture;
using testing_support::ScopedCwd;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::writeFile;

// A configuration directory known to the registry (CONFIG/etc holds the
// files), a working directory, and the reports of one defReadFile.
struct DefSetup {
    TempDir config;
    TempDir work;
    std::unique_ptr<ScopedEnv> registry;
    std::unique_ptr<ScopedCwd> cwd;
    const char *savedProgram;
    explicit DefSetup(bool directoryKnown = true) : savedProgram(programName) {
        mkdir(config.file("etc").c_str(), 0755);
        mkdir(work.file("etc").c_str(), 0755);
        writeFile(config.file("registry"),
                  directoryKnown ? "[Software\\Velmora\\TarnoqSnmp\\CurrentVersion]\nVersion=1\n"
                                   "[Software\\Velmora\\TarnoqSnmp\\1\\TarnoqSnmp]\nInstalled=1\n"
                                   "etc=" +
                                       config.path + "\n"
                                 : "");
        registry =
            std::make_unique<ScopedEnv>("TARNOQSNMP_REGISTRY", config.file("registry").c_str());
        cwd = std::make_unique<ScopedCwd>(work.path);
        tokenSetOverride(1);
        programName = "mibwalk";
        defSetDefinitionFile(nullptr);
    }
    ~DefSetup() {
        tokenSetOverride(-1);
        programName = savedProgram;
        defSetDefinitionFile(nullptr);
    }
    std::string etc(const std::string &name) const { return config.file("etc/" + name); }
};

struct DefRun {
    int result;
    std::vector<std::string> reports;
};

DefRun readDefinitions() {
    EventCapture capture;
    DefRun run;
    run.result = defReadFile();
    run.reports = capture.messages;
    return run;
}

std::vector<std::string> tableNames() {
    std::vector<std::string> names;
    for (int i = 0; defTable && i < defCount; ++i)
        names.push_back(std::string(defTable[i].name) + "=" + defTable[i].value);
    return names;
}

using Lines = std::vector<std::string>;

std::string lineError(int line, const std::string &message, const std::string &argument) {
    return "\tline " + std::to_string(line) + " : " + message + " " + argument + "\n";
}

const std::string HEADER = "mibwalk : definitions file error\n";

TEST(DefFile, DefinitionsInFileOrder) {
    DefSetup s;
    writeFile(s.etc("snmp.def"), "# MIB-II names\n"
                                 "system = 1.3.6.1.2.1.1\n"
                                 "\n"
                                 "sysDescr=1.3.6.1.2.1.1.1 the description, a remark\n");
    DefRun run = readDefinitions();
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.reports.empty());
    EXPECT_EQ(tableNames(), (Lines{"system=1.3.6.1.2.1.1", "sysDescr=1.3.6.1.2.1.1.1"}));
    ASSERT_EQ(defCount, 2);
    EXPECT_EQ(defTable[0].valueLen, 13);
    EXPECT_EQ(defTable[0].nameLen, 6);
    EXPECT_EQ(defTable[2].valueLen, 0); // the closing record
    EXPECT_EQ(defTable[2].value, nullptr);
}

TEST(DefFile, IncludeStandsWhereItsLineStood) {
    DefSetup s;
    writeFile(s.etc("snmp.def"), "a = 1.1\ninclude <mib.def>\nc = 1.3\n");
    writeFile(s.etc("mib.def"), "b1 = 1.2.1\nb2 = 1.2.2\n");
    writeFile(s.work.file("quoted.def"), "q = 1.9\n");
    DefRun run = readDefinitions();
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.reports.empty());
    EXPECT_EQ(tableNames(), (Lines{"a=1.1", "b1=1.2.1", "b2=1.2.2", "c=1.3"}));

    // A quoted path is taken from the working directory, not the including file's.
    writeFile(s.etc("snmp.def"), "a = 1.1\nInClUdE \"quoted.def\"\n");
    run = readDefinitions();
    EXPECT_TRUE(run.reports.empty());
    EXPECT_EQ(tableNames(), (Lines{"a=1.1", "q=1.9"}));
}

TEST(DefFile, EachReportInItsPass) {
    DefSetup s;
    const std::string file = s.etc("snmp.def");
    writeFile(file, "ok = 1.3\n"
                    "INCLUDE <missing.def>\n"
                    "INCLUDE mib.def\n"
                    "name 1.3.6\n"
                    "name =\n"
                    "   # after blanks\n"
                    "word\n"
                    "OTHER arg\n");
    DefRun run = readDefinitions();
    EXPECT_EQ(run.result, 0);
    // Counting pass: include problems; storing pass: the invalid form again and bad lines.
    const Lines expected = {
        HEADER, lineError(2, "can't access", s.etc("missing.def")),
        HEADER, lineError(3, "invalid include file : ", "mib.def"),
        HEADER, lineError(3, "invalid include file : ", "mib.def"),
        HEADER, lineError(4, "bad arg list in", file),
        HEADER, lineError(5, "bad arg list in", file),
        HEADER, lineError(6, "bad arg list in", file),
        HEADER, lineError(7, "bad arg list in", file),
        HEADER, lineError(8, "bad arg list in", file),
    };
    EXPECT_EQ(run.reports, expected);
    EXPECT_EQ(tableNames(), (Lines{"ok=1.3"}));
}

TEST(DefFile, ReportsUseTheIncludedFilesOwnLines) {
    DefSetup s;
    writeFile(s.etc("snmp.def"), "\n\n\nINCLUDE <mib.def>\n");
    writeFile(s.etc("mib.def"), "x = 1.3\nbroken\n");
    DefRun run = readDefinitions();
    EXPECT_EQ(run.reports, (Lines{HEADER, lineError(2, "bad arg list in", s.etc("mib.def"))}));
}

TEST(DefFile, EmptyFileDeclaresZero) {
    DefSetup s;
    writeFile(s.etc("snmp.def"), "# nothing here\n");
    DefRun run = readDefinitions();
    EXPECT_EQ(run.result, -2);
    EXPECT_EQ(run.reports, (Lines{"mibwalk : declared definition number =  0\n"}));
    ASSERT_NE(defTable, nullptr);
    EXPECT_EQ(defCount, 0);
    EXPECT_EQ(defTable[0].valueLen, 0);
}

TEST(DefFile, SearchOrderAndMissingFile) {
    DefSetup s;
    writeFile(s.work.file("snmp.def"), "bare = 1.1\n");
    DefRun run = readDefinitions();
    EXPECT_EQ(tableNames(), (Lines{"bare=1.1"}));
    writeFile(s.work.file("etc/snmp.def"), "relative = 1.2\n");
    run = readDefinitions();
    EXPECT_EQ(tableNames(), (Lines{"relative=1.2"}));
    writeFile(s.etc("snmp.def"), "configured = 1.3\n");
    run = readDefinitions();
    EXPECT_EQ(tableNames(), (Lines{"configured=1.3"}));

    DefSetup none;
    run = readDefinitions();
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.reports, (Lines{"error: open: File Name: snmp.def\n",
                                  "mibwalk : can't read definition file \n"}));
    ASSERT_NE(defTable, nullptr);
    EXPECT_EQ(defTable[0].valueLen, 0);
    uint8_t oid[16];
    EXPECT_EQ(smxTextToObjectId(oid, sizeof oid, "configured.1"), -1);
}

TEST(DefFile, NamedFileIsTheOnlyPlace) {
    DefSetup s;
    writeFile(s.etc("snmp.def"), "configured = 1.3\n");
    writeFile(s.work.file("snmp.def"), "bare = 1.1\n");
    defSetDefinitionFile(s.work.file("missing.def").c_str());
    DefRun run = readDefinitions();
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.reports, (Lines{"mibwalk : can't read definition file \n"}));
    EXPECT_TRUE(tableNames().empty());

    // A directory opens on Linux and reads nothing: it is no definitions file.
    defSetDefinitionFile("/etc");
    run = readDefinitions();
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.reports, (Lines{"mibwalk : can't read definition file \n"}));

    writeFile(s.work.file("mine.def"), "INCLUDE \"/tmp\"\nmine = 1.4\n");
    defSetDefinitionFile("mine.def");
    run = readDefinitions();
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.reports, (Lines{HEADER, lineError(1, "can't access", "/tmp")}));
    EXPECT_EQ(tableNames(), (Lines{"mine=1.4"}));
}

TEST(DefFile, UnknownDirectoryFallsBackToTheWorkingDirectory) {
    DefSetup s(false);
    writeFile(s.work.file("etc/snmp.def"), "relative = 1.2\n");
    DefRun run = readDefinitions();
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.reports, (Lines{"failure exit\n"}));
    EXPECT_EQ(tableNames(), (Lines{"relative=1.2"}));
}

TEST(DefFile, IncludeCyclesEnd) {
    DefSetup s;
    // Directly: the file includes itself; through others: a -> b -> a.
    writeFile(s.etc("snmp.def"), "top = 1.1\nINCLUDE <snmp.def>\nINCLUDE <a.def>\nend = 1.9\n");
    writeFile(s.etc("a.def"), "a = 1.2\nINCLUDE <b.def>\n");
    writeFile(s.etc("b.def"), "b = 1.3\nINCLUDE \"" + s.etc("a.def") + "\"\n");
    DefRun run = readDefinitions();
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(tableNames(), (Lines{"top=1.1", "a=1.2", "b=1.3", "end=1.9"}));
    const Lines expected = {
        HEADER,
        lineError(2, "include cycle, not read again :", s.etc("snmp.def")),
        HEADER,
        lineError(2, "include cycle, not read again :", s.etc("a.def")),
    };
    EXPECT_EQ(run.reports, expected);
}

TEST(DefFile, IncludeDepthIsBounded) {
    DefSetup s;
    // A chain of distinct files deeper than the bound.
    const int files = DEF_INCLUDE_DEPTH + 4;
    writeFile(s.etc("snmp.def"), "d0 = 1.0\nINCLUDE <d1.def>\n");
    for (int i = 1; i < files; ++i)
        writeFile(s.etc("d" + std::to_string(i) + ".def"), "d" + std::to_string(i) + " = 1." +
                                                               std::to_string(i) + "\nINCLUDE <d" +
                                                               std::to_string(i + 1) + ".def>\n");
    DefRun run = readDefinitions();
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(defCount, DEF_INCLUDE_DEPTH);
    const std::string deepest = s.etc("d" + std::to_string(DEF_INCLUDE_DEPTH) + ".def");
    EXPECT_EQ(run.reports, (Lines{HEADER, lineError(2, "includes nested too deep :", deepest)}));
}

TEST(DefFile, LongLinesAreReadInPieces) {
    DefSetup s;
    const std::string file = s.etc("snmp.def");
    // 254 characters exactly: one line, its line feed no further line.
    std::string exact = "exact = 1.3";
    exact += std::string(254 - exact.size() - 1, ' ') + "x";
    ASSERT_EQ(exact.size(), 254u);
    // 300 characters: the second piece is a bad line of its own, on the same line.
    std::string longer = "long = 1.4 " + std::string(289, 'r');
    writeFile(file, exact + "\n" + longer + "\r\nlast = 1.5\r\n");
    DefRun run = readDefinitions();
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(tableNames(), (Lines{"exact=1.3", "long=1.4", "last=1.5"}));
    EXPECT_EQ(run.reports, (Lines{HEADER, lineError(2, "bad arg list in", file)}));
}

TEST(DefFile, OverlongPathsAreRefused) {
    DefSetup s;
    const std::string name(300, 'p');
    defSetDefinitionFile(name.c_str());
    DefRun run = readDefinitions();
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.reports, (Lines{"mibwalk : definition file path too long : " + name + "\n",
                                  "mibwalk : can't read definition file \n"}));

    defSetDefinitionFile(nullptr);
    const std::string word(240, 'w'); // the line fits, the path does not
    writeFile(s.etc("snmp.def"), "x = 1.3\nINCLUDE <" + word + ">\n");
    run = readDefinitions();
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.reports,
              (Lines{HEADER, lineError(2, "include path too long :", "<" + word + ">")}));
}

TEST(DefFile, StoreEntryCopiesBothTexts) {
    DefSetup s;
    writeFile(s.etc("snmp.def"), "one = 1.1\n");
    ASSERT_EQ(readDefinitions().result, 0);
    char value[] = "1.3.6";
    char name[] = "other";
    EXPECT_EQ(defStoreEntry(0, value, name), 0);
    value[0] = '9';
    EXPECT_STREQ(defTable[0].value, "1.3.6");
    EXPECT_STREQ(defTable[0].name, "other");
    EXPECT_EQ(defTable[0].valueLen, 5);
    EXPECT_EQ(defStoreEntry(1, value, name), -1); // the closing record stays closed
    EXPECT_EQ(defStoreEntry(-1, value, name), -1);
}

TEST(DefFile, ErrorFnTracesAndReports) {
    const char *saved = programName;
    programName = "tool";
    int level = logLevel;
    logLevel = 1;
    EventCapture capture;
    defErrorFn(3, "bad arg list in", "f.def");
    defErrorFn(0, "no space memory available", "");
    logLevel = level;
    programName = saved;
    EXPECT_EQ(capture.messages,
              (Lines{"defErrorFn : (line 3) bad arg list in f.def\n",
                     "tool : definitions file error\n", "\tline 3 : bad arg list in f.def\n",
                     "defErrorFn : (line 0) no space memory available \n",
                     "tool : no space memory available \n"}));
}

TEST(DefFile, RepositoryDefinitionsLoadCleanly) {
    TempDir hiveDir;
    ScopedEnv registry("TARNOQSNMP_REGISTRY", hiveDir.file("none").c_str());
    tokenSetOverride(0); // no registry lookup: "etc/snmp.def" from the repository root
    ScopedCwd cwd(SOURCE_DIR);
    defSetDefinitionFile(nullptr);
    DefRun run = readDefinitions();
    tokenSetOverride(-1);
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.reports.empty()) << run.reports.front();
    EXPECT_GT(defCount, 200);
    const struct {
        const char *text;
        const char *numeric;
    } names[] = {
        {"iso", "1"},
        {"org", "1.3"},
        {"dod", "1.3.6"},
        {"internet", "1.3.6.1"},
        {"mgmt", "1.3.6.1.2"},
        {"mib-2", "1.3.6.1.2.1"},
        {"private", "1.3.6.1.4"},
        {"enterprises", "1.3.6.1.4.1"},
        {"sysDescr.0", "1.3.6.1.2.1.1.1.0"},
        {"sysServices", "1.3.6.1.2.1.1.7"},
        {"ifInOctets.1", "1.3.6.1.2.1.2.2.1.10.1"},
        {"ifSpecific", "1.3.6.1.2.1.2.2.1.22"},
        {"atNetAddress", "1.3.6.1.2.1.3.1.1.3"},
        {"ipForwDatagrams", "1.3.6.1.2.1.4.6"},
        {"ipRouteInfo", "1.3.6.1.2.1.4.21.1.13"},
        {"ipNetToMediaType", "1.3.6.1.2.1.4.22.1.4"},
        {"ipRoutingDiscards", "1.3.6.1.2.1.4.23"},
        {"icmpOutAddrMaskReps", "1.3.6.1.2.1.5.26"},
        {"tcpConnRemPort", "1.3.6.1.2.1.6.13.1.5"},
        {"tcpOutRsts", "1.3.6.1.2.1.6.15"},
        {"udpLocalPort", "1.3.6.1.2.1.7.5.1.2"},
        {"egpNeighEventTrigger", "1.3.6.1.2.1.8.5.1.15"},
        {"egpAs", "1.3.6.1.2.1.8.6"},
        {"transmission", "1.3.6.1.2.1.10"},
        {"snmpInPkts", "1.3.6.1.2.1.11.1"},
        {"snmpEnableAuthenTraps", "1.3.6.1.2.1.11.30"},
    };
    for (const auto &n : names) {
        uint8_t byName[64];
        uint8_t byNumber[64];
        int a = smxTextToObjectId(byName, sizeof byName, n.text);
        int b = smxTextToObjectId(byNumber, sizeof byNumber, n.numeric);
        ASSERT_GT(a, 0) << n.text;
        EXPECT_EQ(std::vector<uint8_t>(byName, byName + a),
                  std::vector<uint8_t>(byNumber, byNumber + b))
            << n.text;
        if (strcmp(n.text, "iso") == 0)
            continue; // one arc encodes as 1.0, which prints as iso.0
        char text[128];
        EXPECT_GT(smxObjectIdToText(text, 127, byNumber, b), 0);
        EXPECT_STREQ(text, n.text);
    }
}

// The look-up as a walk of the table in file order, as it was before the index.
std::string modelName(const std::vector<std::pair<std::string, std::string>> &table,
                      const std::string &text) {
    const std::pair<std::string, std::string> *best = nullptr;
    for (const auto &e : table) {
        size_t v = e.second.size();
        if (v > 0 && v <= text.size() && (!best || v > best->second.size()) &&
            (v == text.size() || text[v] == '.') && text.compare(0, v, e.second) == 0)
            best = &e;
    }
    return best ? best->first + text.substr(best->second.size()) : text;
}

TEST(DefFile, IndexedLookUpsMatchTheWalk) {
    DefSetup s;
    std::mt19937 random(1);
    auto pick = [&](std::vector<std::string> from) { return from[random() % from.size()]; };
    // Arcs that make values end mid-arc of others (2, 20) and texts not in
    // standard form (06); standard ones leave 06 out.
    auto arcs = [&](const std::string &start, int count, bool standard = false) {
        std::string text = start;
        for (int i = 0; i < count; ++i)
            text += "." + (standard ? pick({"1", "3", "6", "2", "20", "0"})
                                    : pick({"1", "3", "6", "2", "20", "0", "06"}));
        return text;
    };
    for (int size : {0, 1, 2, 7, 40, 300, 300}) {
        std::vector<std::pair<std::string, std::string>> table; // name, value in file order
        std::string lines[2];
        for (int i = 0; i < size; ++i) {
            std::string value =
                !table.empty() && random() % 4 == 0
                    ? table[random() % table.size()].second // a duplicate
                    : arcs("1", static_cast<int>(random() % 7)) + (random() % 8 == 0 ? "." : "");
            table.emplace_back("n" + std::to_string(i), value);
            if (i == size / 3) // the included file's entries stand at its INCLUDE line
                lines[0] += "INCLUDE \"" + s.work.file("inc.def") + "\"\n";
            lines[i < size / 3 || i >= size * 2 / 3 ? 0 : 1] +=
                "n" + std::to_string(i) + " = " + value + "\n";
        }
        writeFile(s.work.file("top.def"), "# random table\n" + lines[0]);
        writeFile(s.work.file("inc.def"), lines[1]);
        defSetDefinitionFile(s.work.file("top.def").c_str());
        EXPECT_EQ(readDefinitions().result, size > 0 ? 0 : -2);
        Lines read;
        for (const auto &[name, value] : table)
            read.push_back(name + "=" + value);
        ASSERT_EQ(tableNames(), read);
        for (int round = 0; round < 3; ++round) {
            if (round == 2 && size > 0) { // a changed entry after the read
                int at = static_cast<int>(random() % table.size());
                table[at].second = arcs("1.3", 2);
                ASSERT_EQ(defStoreEntry(at, table[at].second.c_str(), table[at].first.c_str()), 0);
            }
            DefEntry *saved = defTable;
            if (round == 1) // no table
                defTable = nullptr;
            const auto &model = round == 1 ? decltype(table){} : table;
            for (int n = 0; n < 300; ++n) {
                std::string text = size > 0 && n % 3 == 0
                                       ? table[random() % table.size()].second
                                       : arcs("1", static_cast<int>(random() % 4));
                text = arcs(text, static_cast<int>(random() % 4));
                std::string expected = modelName(model, text);
                int capacity = static_cast<int>(random() % 40);
                char buf[400];
                EXPECT_EQ(defNumericToName(buf, capacity, text.c_str()),
                          expected.size() > static_cast<size_t>(capacity)
                              ? -1
                              : static_cast<int>(expected.size()))
                    << text;
                EXPECT_GE(defNumericToName(buf, 299, text.c_str()), 0);
                EXPECT_EQ(buf, expected) << text;
                // Through the encoded form, in standard text; no names past 256 characters.
                std::string standard = arcs("1.3", static_cast<int>(random() % 8), true);
                if (n % 50 == 0)
                    standard = arcs(standard, 110 + static_cast<int>(random() % 20), true);
                uint8_t oid[400];
                int length = smxNumericToObjectId(oid, sizeof oid, standard.c_str());
                EXPECT_GT(length, 0) << standard;
                EXPECT_GE(smxObjectIdToText(buf, 399, oid, length), 0);
                EXPECT_EQ(buf, standard.size() > 256 ? standard : modelName(model, standard));
            }
            defTable = saved;
        }
    }
}

} // namespace
