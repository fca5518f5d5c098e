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
    std::string otherVersion = ok, crlf, upper;
    otherVersion.replace(otherVersion.find("=2.1"), 4, "=9.9");
    for (char c : ok) // Windows line ends; keys and value names in any case
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c), upper += char(toupper(c));
    const struct {
        std::string hive;
        int admin, result;
        std::string path, reports;
        int (*read)(const char *, char *) = readCfgPath;
    } cases[] = {
        {ok, 1, 0, "/opt/tarnoq", ""},
        {crlf, 1, 0, "/opt/tarnoq", ""},
        {upper, 1, 0, "/OPT/TARNOQ", ""},
        {hiveText("/opt/t", "Installed=1\nLong=" + std::string(2000, 'x') + "\n"), 1, 0, "/opt/t",
         ""},
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

// The order of the candidates is the readers' (definitions, communities, traps); here
// the bounds of a candidate's path.
TEST(CfgSearch, PathsAtAndPastTheLimit) {
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

} // namespace
