#include "platform/log.h"
#include "platform/registry.h"
#include "platform/token.h"
#include "smx/cfg.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using testing_support::EventCapture;
using testing_support::ScopedCwd;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::writeFile;

std::string hiveText(const std::string &etc, const std::string &versionKeyExtra = "",
                     const std::string &version = "2.1") {
    return "[Software\\Velmora\\TarnoqSnmp\\CurrentVersion]\nVersion=" + version +
           "\n[Software\\Velmora\\TarnoqSnmp\\2.1\\TarnoqSnmp]\n" + versionKeyExtra + "etc=" + etc +
           "\nyours=/home/user\n";
}

struct RegistrySetup {
    TempDir dir;
    ScopedEnv env;
    int savedLevel;
    explicit RegistrySetup(const std::string &hive, int level = 0, int admin = 1)
        : env("TARNOQSNMP_REGISTRY", (dir.path + "/registry").c_str()), savedLevel(logLevel) {
        writeFile(dir.file("registry"), hive);
        tokenSetOverride(admin);
        logLevel = level;
    }
    ~RegistrySetup() {
        tokenSetOverride(-1);
        logLevel = savedLevel;
    }
};

TEST(CfgPath, FindsTheDirectoryWithEveryTrace) {
    RegistrySetup s(hiveText("/opt/tarnoq", "Installed=1\n"), 1);
    EventCapture capture;
    char path[CFG_DIR_BUFFER];
    EXPECT_EQ(readCfgPath(appName, path), 0);
    EXPECT_STREQ(path, "/opt/tarnoq");
    const std::vector<std::string> expected = {
        "readCfgPath ()\n",
        "abPathBuffer: Software\\Velmora\\TarnoqSnmp\\CurrentVersion\n",
        "RegOpenKeyEx\n",
        "lResult: 0\n",
        "RegQueryValueEx\n",
        "lResult: 0, Version: 2.1\n",
        "abPathBuffer: Software\\Velmora\\TarnoqSnmp\\2.1\\TarnoqSnmp\n",
        "RegOpenKeyEx\n",
        "lResult: 0\n",
        "RegQueryValueEx\n",
        "lResult: 0, fInstalled: 1\n",
        "RegQueryValueEx\n",
        "lResult: 0, Path: /opt/tarnoq\n",
        "GetAppKeys for configuration path: /opt/tarnoq\n",
    };
    EXPECT_EQ(capture.messages, expected);
    EXPECT_EQ(regOpenKeyCount(), 0);
}

TEST(CfgPath, UserPathReadsYoursFromTheSameKey) {
    RegistrySetup s(hiveText("/opt/tarnoq", "Installed=0\n"), 1);
    EventCapture capture;
    char path[CFG_DIR_BUFFER];
    EXPECT_EQ(readYourPath(appName, path), 0); // Installed 0 is not examined
    EXPECT_STREQ(path, "/home/user");
    ASSERT_FALSE(capture.messages.empty());
    EXPECT_EQ(capture.messages.front(), "readYourPath ()\n");
    EXPECT_EQ(capture.messages.back(), "GetAppKeys for user's path: /home/user\n");
}

TEST(CfgPath, FailuresReportFailureExitOnce) {
    const struct {
        const char *what;
        std::string hive;
    } cases[] = {
        {"no Installed", hiveText("/opt/tarnoq")},
        {"version names no key", hiveText("/opt/tarnoq", "Installed=1\n", "9.9")},
        {"no version key", "[Software\\Velmora\\TarnoqSnmp\\2.1\\TarnoqSnmp]\nInstalled=1\n"},
        {"directory over 259 characters", hiveText(std::string(260, 'd'), "Installed=1\n")},
    };
    for (const auto &c : cases) {
        RegistrySetup s(c.hive);
        EventCapture capture;
        char path[CFG_DIR_BUFFER];
        EXPECT_EQ(readCfgPath(appName, path), 1) << c.what;
        EXPECT_STREQ(path, "") << c.what;
        EXPECT_EQ(capture.joined(), "failure exit\n") << c.what;
        EXPECT_EQ(regOpenKeyCount(), 0) << c.what;
    }
    RegistrySetup longest(hiveText(std::string(259, 'd'), "Installed=1\n"));
    char path[CFG_DIR_BUFFER];
    EXPECT_EQ(readCfgPath(appName, path), 0);
    EXPECT_EQ(std::string(path), std::string(259, 'd'));
}

TEST(CfgPath, MissingHiveFails) {
    TempDir dir;
    ScopedEnv env("TARNOQSNMP_REGISTRY", dir.file("none").c_str());
    tokenSetOverride(1);
    EventCapture capture;
    char path[CFG_DIR_BUFFER];
    EXPECT_EQ(GetAppKeys(0, appName, path), 0);
    tokenSetOverride(-1);
    EXPECT_EQ(capture.joined(), "failure exit\n");
}

TEST(CfgPath, NonAdministratorIsSilentAndTouchesNoRegistry) {
    RegistrySetup s(hiveText("/opt/tarnoq", "Installed=1\n"), 0, 0);
    // A hive that would make any access log "failure exit".
    writeFile(s.dir.file("registry"), "garbage\n");
    EventCapture capture;
    char path[CFG_DIR_BUFFER] = "stale";
    EXPECT_EQ(readCfgPath(appName, path), 1);
    EXPECT_STREQ(path, "");
    EXPECT_TRUE(capture.messages.empty());
}

// Search order: DIR/etc/NAME, etc/NAME, NAME; the first that opens is taken.
struct SearchSetup {
    TempDir work;
    TempDir config;
    std::unique_ptr<RegistrySetup> registry;
    std::unique_ptr<ScopedCwd> cwd;
    explicit SearchSetup(bool directoryKnown) {
        registry = std::make_unique<RegistrySetup>(
            directoryKnown ? hiveText(config.path, "Installed=1\n") : "[nothing]\n");
        mkdir(config.file("etc").c_str(), 0755);
        mkdir(work.file("etc").c_str(), 0755);
        cwd = std::make_unique<ScopedCwd>(work.path);
    }
};

std::string opened(const char *name, unsigned forms, unsigned *form = nullptr) {
    CfgSearch search;
    FILE *f = cfgOpenFirst(&search, name, forms, "r");
    if (form)
        *form = search.form;
    if (!f)
        return "";
    char text[64] = "";
    if (!fgets(text, sizeof text, f))
        text[0] = '\0';
    fclose(f);
    return text;
}

TEST(CfgSearch, OrderOfCandidates) {
    SearchSetup s(true);
    const unsigned all = CFG_FORM_DIR | CFG_FORM_ETC | CFG_FORM_BARE;
    writeFile("x.cmm", "bare");
    EXPECT_EQ(opened("x.cmm", all), "bare");
    EXPECT_EQ(opened("x.cmm", CFG_FORM_DIR | CFG_FORM_ETC), "");
    writeFile("etc/x.cmm", "relative");
    EXPECT_EQ(opened("x.cmm", all), "relative");
    writeFile(s.config.file("etc/x.cmm"), "configured");
    unsigned form = 0;
    EXPECT_EQ(opened("x.cmm", all, &form), "configured");
    EXPECT_EQ(form, CFG_FORM_DIR);
    EXPECT_EQ(opened("x.cmm", CFG_FORM_ETC | CFG_FORM_BARE), "relative");
}

TEST(CfgSearch, UnknownDirectoryNeverFormsARootPath) {
    SearchSetup s(false);
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
    EXPECT_STREQ(search.path, "passwd"); // the last candidate formed
    tried.clear();
    EXPECT_EQ(cfgSearch(&search, "passwd", CFG_FORM_DIR, record, &tried), 0u);
    EXPECT_TRUE(tried.empty());
    EXPECT_STREQ(search.path, "");
}

TEST(CfgSearch, OverlongCandidateIsSkippedWithAReport) {
    TempDir config;
    // A directory whose candidate path exceeds 255 characters.
    std::string deep = config.path + "/" + std::string(225, 'a');
    RegistrySetup registry(hiveText(deep, "Installed=1\n"));
    TempDir work;
    ScopedCwd cwd(work.path);
    writeFile("x.trp", "bare");
    EventCapture capture;
    CfgSearch search;
    FILE *f = cfgOpenFirst(&search, "x.trp", CFG_FORM_DIR | CFG_FORM_BARE, "r");
    ASSERT_NE(f, nullptr);
    fclose(f);
    EXPECT_EQ(search.form, CFG_FORM_BARE);
    EXPECT_NE(capture.joined().find("path too long for x.trp"), std::string::npos);

    char path[CFG_PATH_MAX + 1];
    EXPECT_EQ(cfgFormPath(path, "/d", CFG_FORM_BARE, std::string(255, 'n').c_str()), 0);
    EXPECT_EQ(cfgFormPath(path, "/d", CFG_FORM_BARE, std::string(256, 'n').c_str()), -1);
    EXPECT_EQ(cfgFormPath(path, "/d", CFG_FORM_ETC, std::string(251, 'n').c_str()), 0);
    EXPECT_EQ(cfgFormPath(path, "/d", CFG_FORM_ETC, std::string(252, 'n').c_str()), -1);
    EXPECT_EQ(cfgFormPath(path, "/d", CFG_FORM_DIR, "snmp.def"), 0);
    EXPECT_STREQ(path, "/d/etc/snmp.def");
    EXPECT_EQ(cfgFormPath(path, "", CFG_FORM_DIR, "snmp.def"), -1);
    EXPECT_EQ(cfgFormPath(path, nullptr, CFG_FORM_DIR, "snmp.def"), -1);
}

} // namespace
