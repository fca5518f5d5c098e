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
    const std::string ok = hiveText("/opt/tarnoq", "Installed=1\n", "2.1");
    std::string otherVersion = ok;
    otherVersion.replace(otherVersion.find("=2.1"), 4, "=9.9");
    const struct {
        const char *what;
        std::string hive;
        int admin, result;
        std::string path, reports;
        int (*read)(const char *, char *) = readCfgPath;
    } cases[] = {
        {"found", ok, 1, 0, "/opt/tarnoq", ""},
        {"no Installed", hiveText("/opt/tarnoq", ""), 1, 1, "", "failure exit\n"},
        {"version names no key", otherVersion, 1, 1, "", "failure exit\n"},
        {"no version key", ok.substr(ok.find("\n[")), 1, 1, "", "failure exit\n"},
        {"no hive", "", 1, 1, "", "failure exit\n"},
        {"259 characters", hiveText(std::string(259, 'd')), 1, 0, std::string(259, 'd'), ""},
        {"260 characters", hiveText(std::string(260, 'd')), 1, 1, "", "failure exit\n"},
        // Not an administrator: no registry access, so no report even of a bad hive.
        {"not administrator", "garbage\n", 0, 1, "", ""},
        // The user's path comes from the same key, Installed not examined.
        {"user", hiveText("/opt", "Installed=0\nyours=/home/u\n"), 1, 0, "/home/u", "",
         readYourPath},
    };
    for (const auto &c : cases) {
        ConfigSetup s;
        writeFile(s.config.file("registry"), c.hive);
        tokenSetOverride(c.admin);
        EventCapture capture;
        char path[CFG_DIR_BUFFER] = "stale";
        EXPECT_EQ(c.read(appName, path), c.result) << c.what;
        EXPECT_EQ(path, c.path) << c.what;
        EXPECT_EQ(capture.joined(), c.reports) << c.what;
        EXPECT_EQ(regOpenKeyCount(), 0) << c.what;
    }
}

std::string opened(const char *name, unsigned forms, unsigned *form = nullptr) {
    CfgSearch search;
    FILE *f = cfgOpenFirst(&search, name, forms, "r");
    if (form)
        *form = search.form;
    char text[64] = "";
    if (f && !fgets(text, sizeof text, f))
        text[0] = '\0';
    if (f)
        fclose(f);
    return text;
}

// Search order: DIR/etc/NAME, etc/NAME, NAME; the first that opens is taken.
TEST(CfgSearch, OrderOfCandidates) {
    ConfigSetup s;
    const unsigned all = CFG_FORM_DIR | CFG_FORM_ETC | CFG_FORM_BARE;
    writeFile("x.cmm", "bare");
    EXPECT_EQ(opened("x.cmm", all), "bare");
    EXPECT_EQ(opened("x.cmm", CFG_FORM_DIR | CFG_FORM_ETC), "");
    writeFile("etc/x.cmm", "relative");
    EXPECT_EQ(opened("x.cmm", all), "relative");
    writeFile(s.etc("x.cmm"), "configured");
    unsigned form = 0;
    EXPECT_EQ(opened("x.cmm", all, &form), "configured");
    EXPECT_EQ(form, CFG_FORM_DIR);
    EXPECT_EQ(opened("x.cmm", CFG_FORM_ETC | CFG_FORM_BARE), "relative");

    // A directory whose candidate path exceeds 255 characters is passed over.
    writeFile(s.config.file("registry"), hiveText(s.config.path + "/" + std::string(225, 'a')));
    EventCapture capture;
    EXPECT_EQ(opened("x.cmm", CFG_FORM_DIR | CFG_FORM_BARE, &form), "bare");
    EXPECT_EQ(form, CFG_FORM_BARE);
    EXPECT_NE(capture.joined().find("path too long for x.cmm"), std::string::npos);
    // Bare and etc/ forms at and past 255 characters.
    char path[CFG_PATH_MAX + 1];
    for (auto [limitForm, length, result] : {std::tuple{CFG_FORM_BARE, 255, 0},
                                             {CFG_FORM_BARE, 256, -1},
                                             {CFG_FORM_ETC, 251, 0},
                                             {CFG_FORM_ETC, 252, -1}})
        EXPECT_EQ(cfgFormPath(path, "/d", limitForm, std::string(length, 'n').c_str()), result);
}

TEST(CfgSearch, UnknownDirectoryNeverFormsARootPath) {
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
    tried.clear();
    EXPECT_EQ(cfgSearch(&search, "passwd", CFG_FORM_DIR, record, &tried), 0u);
    EXPECT_TRUE(tried.empty());
    EXPECT_STREQ(search.path, "");
}

} // namespace
