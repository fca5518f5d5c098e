#include "platform/file.h"
#include "platform/log.h"
#include "platform/registry.h"
#include "platform/token.h"
#include "smx/cfg.h"
#include "smx/def.h"
#include "smx/smx.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace testing_support;

// "{E}" stands for the configuration directory's etc/, "{W}" for the working
// directory, "{H}" for the start of a bad line's report.
std::string expand(std::string text, const ConfigSetup &s) {
    const std::pair<std::string, std::string> marks[] = {
        {"{E}/", s.config.path + FILE_SEPARATOR + "etc" + FILE_SEPARATOR}, // as the readers form it
        {"{W}", s.work.path},
        {"{H}", "mibwalk : definitions file error\n\tline "}};
    for (const auto &[mark, by] : marks)
        for (size_t at; (at = text.find(mark)) != std::string::npos;)
            text.replace(at, mark.size(), by);
    return text;
}

std::string tableText() {
    std::string all;
    for (int i = 0; defTable && i < defCount; ++i)
        all += std::string(all.empty() ? "" : " ") + defTable[i].name + "=" + defTable[i].value;
    return all;
}

struct FileCase {
    std::string files; // "@path\ncontent" for each file
    std::string named; // the -df setting
    int result;
    std::string table, reports;
    bool known = true; // the registry names the configuration directory
};

TEST(DefFile, ReadsTablesAndReports) {
    // A chain of distinct files deeper than the bound: the deepest is not read.
    std::string chain, chainTable;
    for (int i = 0; i < DEF_INCLUDE_DEPTH + 4; ++i) {
        const std::string n = std::to_string(i);
        chain += (i ? "@{E}/d" + n + ".def\n" : "@{E}/snmp.def\n") + "d" + n + " = 1." + n +
                 "\nINCLUDE <d" + std::to_string(i + 1) + ".def>\n";
        if (i < DEF_INCLUDE_DEPTH)
            chainTable += (i ? " d" : "d") + n + "=1." + n;
    }
    const std::string unread = "mibwalk : can't read definition file \n";
    const std::string badLine = " : bad arg list in {E}/snmp.def\n";
    const FileCase cases[] = {
        {"@{E}/snmp.def\n# MIB-II\nsystem = 1.3.6.1.2.1.1\n\nsysDescr=1.3.6.1 remark\ninclude "
         "<mib.def>\nc = 1.3\n@{E}/mib.def\nb1 = 1.2.1\nb2 = 1.2\n",
         "", 0, "system=1.3.6.1.2.1.1 sysDescr=1.3.6.1 b1=1.2.1 b2=1.2 c=1.3", ""},
        // Counting pass: include problems; storing pass: the invalid form again and bad lines.
        {"@{E}/snmp.def\nok = 1.3\nINCLUDE <missing.def>\nINCLUDE mib.def\nname 1.3.6\n"
         "name =\n   # after blanks\nword\nOTHER arg\n",
         "", 0, "ok=1.3",
         "{H}2 : can't access {E}/missing.def\n{H}3 : invalid include file :  mib.def\n"
         "{H}3 : invalid include file :  mib.def\n{H}4" +
             badLine + "{H}5" + badLine + "{H}6" + badLine + "{H}7" + badLine + "{H}8" + badLine},
        {"@{E}/snmp.def\n\n\n\nINCLUDE <mib.def>\n@{E}/mib.def\nx = 1.3\nbroken\n", "", 0, "x=1.3",
         "{H}2 : bad arg list in {E}/mib.def\n"},
        {"@{W}/etc/snmp.def\nrel = 1.2\n@{E}/snmp.def\ncf = 1.3\n", "", 0, "rel=1.2",
         "failure exit\n", false},
        {"", "", -1, "", "error: open: File Name: snmp.def\n" + unread},
        {"@{E}/snmp.def\ncf = 1.3\n@{W}/snmp.def\nbare = 1.1\n", "{W}/missing.def", -1, "", unread},
        // A directory opens on Linux and reads nothing: it is no definitions file.
        {"@{E}/snmp.def\ncf = 1.3\n", "/etc", -1, "", unread},
        {"@{W}/mine.def\nINCLUDE \"/tmp\"\nmine = 1.4\n", "mine.def", 0, "mine=1.4",
         "{H}1 : can't access /tmp\n"},
        {"@{E}/snmp.def\ntop = 1.1\nINCLUDE <snmp.def>\nINCLUDE <a.def>\nend = 1.9\n"
         "@{E}/a.def\na = 1.2\nINCLUDE <b.def>\n@{E}/b.def\nb = 1.3\nINCLUDE \"{E}/a.def\"\n",
         "", 0, "top=1.1 a=1.2 b=1.3 end=1.9",
         "{H}2 : include cycle, not read again : {E}/snmp.def\n"
         "{H}2 : include cycle, not read again : {E}/a.def\n"},
        {chain, "", 0, chainTable, "{H}2 : includes nested too deep : {E}/d16.def\n"},
        // 254 characters and a line feed: one line; 300: reported once and skipped; a long
        // comment is ignored whole.
        {"@{E}/snmp.def\nexact = 1.3" + std::string(242, ' ') + "x\nlong = 1.4 " +
             std::string(289, 'r') + "\r\n#" + std::string(260, '-') +
             " evil = 1.6\nlast = 1.5\r\n",
         "", 0, "exact=1.3 last=1.5", "{H}2 : line too long in {E}/snmp.def\n"},
    };
    const char *savedProgram = programName;
    programName = "mibwalk";
    for (const FileCase &c : cases) {
        SCOPED_TRACE(c.files);
        ConfigSetup s(c.known);
        const std::string files = expand(c.files, s);
        for (size_t at = files.find('@'); at != std::string::npos;) {
            size_t line = files.find('\n', at), next = files.find('@', line);
            writeFile(files.substr(at + 1, line - at - 1), files.substr(line + 1, next - line - 1));
            at = next;
        }
        defSetDefinitionFile(c.named.empty() ? nullptr : expand(c.named, s).c_str());
        EventCapture capture;
        EXPECT_EQ(defReadFile(), c.result);
        EXPECT_EQ(capture.joined(), expand(c.reports, s));
        EXPECT_EQ(tableText(), c.table);
        ASSERT_NE(defTable, nullptr);
        EXPECT_EQ(defTable[defCount].valueLen, 0); // the closing record
    }
    defSetDefinitionFile(nullptr);
    programName = savedProgram;
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
    ConfigSetup s;
    std::mt19937 random(1);
    auto pick = [&](std::vector<std::string> from) { return from[random() % from.size()]; };
    // Values that end mid-arc of others (2, 20); texts not in standard form (06).
    auto arcs = [&](const std::string &start, int count, bool standard = false) {
        std::string text = start;
        for (int i = 0; i < count; ++i) {
            text += '.';
            text += standard ? pick({"1", "3", "6", "2", "20", "0"})
                             : pick({"1", "3", "6", "2", "20", "0", "06"});
        }
        return text;
    };
    for (int size : {0, 1, 2, 7, 40, 300, 300}) {
        std::vector<std::pair<std::string, std::string>> table; // name, value in file order
        std::string lines[2], read;
        for (int i = 0; i < size; ++i) {
            std::string value =
                !table.empty() && random() % 4 == 0
                    ? table[random() % table.size()].second // a duplicate
                    : arcs("1", static_cast<int>(random() % 7)) + (random() % 8 == 0 ? "." : "");
            // Appended piece by piece: GCC 12 takes "n" + a temporary for an overlapping copy.
            std::string name = "n";
            name += std::to_string(i);
            table.emplace_back(name, value);
            read += (read.empty() ? "" : " ") + name + "=" + value;
            if (i == size / 3) // the included file's entries stand at its INCLUDE line
                lines[0] += "INCLUDE \"" + s.work.file("inc.def") + "\"\n";
            lines[i < size / 3 || i >= size * 2 / 3 ? 0 : 1] += name + " = " + value + "\n";
        }
        writeFile(s.work.file("top.def"), "# random table\n" + lines[0]);
        writeFile(s.work.file("inc.def"), lines[1]);
        defSetDefinitionFile(s.work.file("top.def").c_str());
        EventCapture capture;
        EXPECT_EQ(defReadFile(), size > 0 ? 0 : -2);
        ASSERT_EQ(tableText(), read);
        for (int round = 0; round < 2; ++round) {
            if (round == 1 && size > 0) { // a changed entry after the read
                int at = static_cast<int>(random() % table.size());
                table[at].second = arcs("1.3", 2);
                ASSERT_EQ(defStoreEntry(at, table[at].second.c_str(), table[at].first.c_str()), 0);
                EXPECT_EQ(defStoreEntry(size, "1.3", "closing"), -1); // the closing record stays
            }
            for (int n = 0; n < 300; ++n) {
                std::string text = size > 0 && n % 3 == 0
                                       ? table[random() % table.size()].second
                                       : arcs("1", static_cast<int>(random() % 4));
                text = arcs(text, static_cast<int>(random() % 4));
                std::string expected = modelName(table, text);
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
                EXPECT_EQ(buf, standard.size() > 256 ? standard : modelName(table, standard));
            }
        }
    }
    defSetDefinitionFile(nullptr);
}

TEST(CfgPath, DirectoryFromTheRegistry) {
    const std::string ok = hiveText("/opt/tarnoq", "Installed=1\n", "2.1"), fail = "failure exit\n";
    std::string otherVersion = ok, crlf, upper;
    otherVersion.replace(otherVersion.find("=2.1"), 4, "=9.9");
    for (char c : ok) // Windows line ends; keys and value names in any case
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c), upper += char(toupper(c));
    struct {
        std::string hive;
        int admin, result;
        std::string path, reports;
        int (*read)(const char *, char *) = readCfgPath;
    } const cases[] = {
        {ok, 1, 0, "/opt/tarnoq", ""},
        {crlf, 1, 0, "/opt/tarnoq", ""},
        {upper, 1, 0, "/OPT/TARNOQ", ""},
        {hiveText("/t", "Installed=1\nL=" + std::string(2000, 'x') + "\n"), 1, 0, "/t", ""},
        // 1024 characters and CR LF: one line. A hive past the bound does not open (on Linux).
        {hiveText("/t", "Installed=" + std::string(1013, '0') + "1\r\n"), 1, 0, "/t", ""},
        {std::string(FILE_CONFIG_MAX, '#') + "\n" + ok, 1, ON_WINDOWS ? 0 : 1,
         ON_WINDOWS ? "/opt/tarnoq" : "", ON_WINDOWS ? "" : fail},
        {hiveText("/opt/tarnoq", ""), 1, 1, "", fail}, // no Installed
        {otherVersion, 1, 1, "", fail},
        {ok.substr(ok.find("\n[")), 1, 1, "", fail}, // no version key
        {"", 1, 1, "", fail},
        {hiveText(std::string(259, 'd')), 1, 0, std::string(259, 'd'), ""},
        {hiveText(std::string(260, 'd')), 1, 1, "", fail},
        {"garbage\n", 0, 1, "", ""}, // not an administrator: no registry access, no report
        {hiveText("/opt", "Installed=0\nyours=/home/u\n"), 1, 0, "/home/u", "", readYourPath},
    };
    for (const auto &c : cases) {
        const std::string hive = c.hive.substr(0, 200); // what a failure shows
        ConfigSetup s;
        writeHive(s.config.file("registry"), c.hive);
        tokenSetOverride(c.admin);
        EventCapture capture;
        char path[CFG_DIR_BUFFER] = "stale";
        EXPECT_EQ(c.read(appName, path), c.result) << hive;
        EXPECT_EQ(path, c.path) << hive;
        EXPECT_EQ(capture.joined(), c.reports) << hive;
        EXPECT_EQ(regOpenKeyCount(), 0) << hive;
    }
}

// The order of the candidates is the readers' (definitions, communities, traps); here
// the bounds of a candidate's path, and no root path when the directory is unknown.
TEST(CfgSearch, BoundsAndUnknownDirectory) {
    char path[CFG_PATH_MAX + 1];
    for (auto [form, length, result] : {std::tuple{CFG_FORM_BARE, 255, 0},
                                        {CFG_FORM_BARE, 256, -1},
                                        {CFG_FORM_ETC, 251, 0},
                                        {CFG_FORM_ETC, 252, -1}})
        EXPECT_EQ(cfgFormPath(path, "/d", form, std::string(length, 'n').c_str()), result);
    ConfigSetup s(false);
    CfgSearch search;
    std::vector<std::string> tried;
    auto record = [](CfgSearch *se, void *c) {
        static_cast<std::vector<std::string> *>(c)->push_back(se->path);
        return 0;
    };
    const unsigned all = CFG_FORM_DIR | CFG_FORM_ETC | CFG_FORM_BARE;
    EXPECT_EQ(cfgSearch(&search, "passwd", all, record, &tried), 0u);
    EXPECT_EQ(tried, (std::vector<std::string>{"etc/passwd", "passwd"}));
    EXPECT_EQ(search.directoryFound, 0);
    writeFile("passwd", "");
    FILE *f = cfgOpenFirst(&search, "passwd", all, "r");
    EXPECT_STREQ(f ? search.path : "none", "passwd");
    if (f)
        fclose(f);
}

} // namespace
