#include "platform/log.h"
#include "platform/registry.h"
#include "platform/token.h"
#include "smx/cfg.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

using testing_support::ConfigSetup;
using testing_support::EventCapture;
using testing_support::hiveText;
using testing_support::writeFile;

TEST(CfgPath, DirectoryFromTheRegistry) {
    const std::string ok = hiveText("/opt/tarnoq", "Installed=1\n", "2.1"), fail = "failure exit\n";
    std::string otherVersion = ok;
    otherVersion.replace(otherVersion.find("=2.1"), 4, "=9.9");
    const struct {
        std::string hive;
        int admin, result;
        std::string path, reports;
        int (*read)(const char *, char *) = readCfgPath;
    } cases[] = {
        {ok, 1, 0, "/opt/tarnoq", ""},
        {hiveText("/opt/tarnoq", ""), 1, 1, "", fail}, // no Installed
        {otherVersion, 1, 1, "", fail},
        {ok.substr(ok.find("\n[")), 1, 1, "", fail}, // no version key
        {"", 1, 1, "", fail},
        {hiveText(std::string(259, 'd')), 1, 0, std::string(259, 'd'), ""},
        {hiveText(std::string(260, 'd')), 1, 1, "", fail},
        {"garbage\n", 0, 1, "", ""}, // not an administrator: no registry access, no report
        // The user's path comes from the same key, Installed not examined.
        {hiveText("/opt", "Installed=0\nyours=/home/u\n"), 1, 0, "/home/u", "", readYourPath},
    };
    for (const auto &c : cases) {
        ConfigSetup s;
        writeFile(s.config.file("registry"), c.hive);
        tokenSetOverride(c.admin);
        EventCapture capture;
        char path[CFG_DIR_BUFFER] = "stale";
        EXPECT_EQ(c.read(appName, path), c.result) << c.hive;
        EXPECT_EQ(path, c.path) << c.hive;
        EXPECT_EQ(capture.joined(), c.reports) << c.hive;
        EXPECT_EQ(regOpenKeyCount(), 0) << c.hive;
    }
}

// The order of the candidates is the readers' (definitions, communities, traps): here their bounds.
TEST(CfgSearch, PathsAtAndPastTheLimit) {
    ConfigSetup s;
    writeFile("x.cmm", "bare");
    // A directory whose candidate path exceeds 255 characters is passed over.
    writeFile(s.config.file("registry"), hiveText(s.config.path + "/" + std::string(225, 'a')));
    EventCapture capture;
    CfgSearch search;
    FILE *f = cfgOpenFirst(&search, "x.cmm", CFG_FORM_DIR | CFG_FORM_BARE, "r");
    EXPECT_NE(f, nullptr);
    if (f)
        fclose(f);
    EXPECT_EQ(search.form, CFG_FORM_BARE);
    EXPECT_NE(capture.joined().find("path too long for x.cmm"), std::string::npos);
    char path[CFG_PATH_MAX + 1];
    for (auto [form, length, result] : {std::tuple{CFG_FORM_BARE, 255, 0},
                                        {CFG_FORM_BARE, 256, -1},
                                        {CFG_FORM_ETC, 251, 0},
                                        {CFG_FORM_ETC, 252, -1}})
        EXPECT_EQ(cfgFormPath(path, "/d", form, std::string(length, 'n').c_str()), result);
}

TEST(CfgSearch, UnknownDirectoryNeverFormsARootPath) {
    ConfigSetup s(false);
    CfgSearch search;
    std::vector<std::string> tried;
    auto record = [](CfgSearch *se, void *c) {
        static_cast<std::vector<std::string> *>(c)->push_back(se->path);
        return 0;
    };
    EXPECT_EQ(
        cfgSearch(&search, "passwd", CFG_FORM_DIR | CFG_FORM_ETC | CFG_FORM_BARE, record, &tried),
        0u);
    EXPECT_EQ(tried, (std::vector<std::string>{"etc/passwd", "passwd"}));
    EXPECT_EQ(search.directoryFound, 0);
}

// Every line read as "number:text|".
TEST(CfgLine, LineEndsAndLongLines) {
    const std::string full(254, 'x'), over(300, 'y'), z(254, 'z');
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"a\nb\n", "1:a|2:b|"},
        {"a\nb", "1:a|2:b|"},
        {"\n\n", "1:|2:|"},
        {"a\r\nb\r\n", "1:a|2:b|"},
        {"a\r", "1:a|"},
        {"a\rb\n", "1:a\rb|"},
        {"a\r\r\n", "1:a\r|"},
        // The line feed after exactly 254 characters belongs to that line.
        {full + "\nnext\n", "1:" + full + "|2:next|"},
        {full + "\r\nnext\n", "1:" + full + "|2:next|"},
        {full + "\r", "1:" + full + "|"},
        {full, "1:" + full + "|"},
        {over + "\nnext\n", "1:" + over.substr(0, 254) + "|1:" + over.substr(254) + "|2:next|"},
        {full + "\rz\n", "1:" + full + "|1:\rz|"},
        {z + z + "\n", "1:" + z + "|1:" + z + "|"},
    };
    testing_support::TempDir dir;
    for (const auto &[content, lines] : cases) {
        testing_support::writeFile(dir.file("f"), content);
        FILE *f = fopen(dir.file("f").c_str(), "r");
        ASSERT_NE(f, nullptr);
        CfgLineReader reader;
        cfgReaderInit(&reader, f);
        char buf[CFG_LINE_MAX + 1];
        std::string got;
        for (int n; (n = cfgReadLine(&reader, buf)) >= 0;)
            got += std::to_string(reader.lineNumber) + ":" + std::string(buf, n) + "|";
        fclose(f);
        EXPECT_EQ(got, lines) << content.size() << " " << content.substr(0, 8);
    }
}

} // namespace
