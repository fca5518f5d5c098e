#include "platform/registry.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::writeFile;

const char *HIVE = "# installation record\n"
                   "[Software\\Velmora\\TarnoqSnmp\\CurrentVersion]\n"
                   "Version=2.1\r\n"
                   "\n"
                   "[Software\\Velmora\\TarnoqSnmp\\2.1\\TarnoqSnmp]\n"
                   "Installed=0\n"
                   "Small=ab\n"
                   "Word=abcd\n"
                   "etc=/opt/tarnoq\n"
                   "Empty=\n"
                   "#etc=/commented\n"
                   "[Other]\n"
                   "Version=9\n";

struct Hive {
    TempDir dir;
    ScopedEnv env;
    explicit Hive(const std::string &content)
        : env("TARNOQSNMP_REGISTRY", (dir.path + "/registry").c_str()) {
        writeFile(dir.file("registry"), content);
    }
};

TEST(Registry, KeysCompareWithoutCase) {
    Hive hive(HIVE);
    RegKey *key = nullptr;
    ASSERT_EQ(regOpenKey("software\\VELMORA\\tarnoqsnmp\\currentversion", &key), REG_OK);
    char text[16];
    EXPECT_EQ(regQueryString(key, "Version", text, sizeof text), REG_OK);
    EXPECT_STREQ(text, "2.1"); // CR of a Windows line end dropped
    EXPECT_EQ(regCloseKey(key), REG_OK);
    EXPECT_EQ(regOpenKeyCount(), 0);
}

TEST(Registry, ValuesStayInsideTheirKey) {
    Hive hive(HIVE);
    RegKey *key = nullptr;
    ASSERT_EQ(regOpenKey("Software\\Velmora\\TarnoqSnmp\\2.1\\TarnoqSnmp", &key), REG_OK);
    char text[32];
    EXPECT_EQ(regQueryString(key, "etc", text, sizeof text), REG_OK);
    EXPECT_STREQ(text, "/opt/tarnoq");
    EXPECT_EQ(regQueryString(key, "Version", text, sizeof text), REG_NOT_FOUND);
    EXPECT_EQ(regQueryString(key, "yours", text, sizeof text), REG_NOT_FOUND);
    EXPECT_EQ(regQueryString(key, "Empty", text, sizeof text), REG_OK);
    EXPECT_STREQ(text, "");
    regCloseKey(key);
}

TEST(Registry, LimitCountsTheTerminator) {
    Hive hive(HIVE);
    RegKey *key = nullptr;
    ASSERT_EQ(regOpenKey("Software\\Velmora\\TarnoqSnmp\\2.1\\TarnoqSnmp", &key), REG_OK);
    char text[16] = "untouched";
    EXPECT_EQ(regQueryString(key, "etc", text, 11), REG_MORE_DATA); // 11 characters + NUL
    EXPECT_STREQ(text, "untouched");
    EXPECT_EQ(regQueryString(key, "etc", text, 12), REG_OK);
    regCloseKey(key);
}

TEST(Registry, Numbers) {
    Hive hive(HIVE);
    RegKey *key = nullptr;
    ASSERT_EQ(regOpenKey("Software\\Velmora\\TarnoqSnmp\\2.1\\TarnoqSnmp", &key), REG_OK);
    uint32_t number = 99;
    EXPECT_EQ(regQueryNumber(key, "Installed", &number), REG_OK);
    EXPECT_EQ(number, 0u);
    EXPECT_EQ(regQueryNumber(key, "Small", &number), REG_OK); // "ab" and NUL fit in 4 bytes
    EXPECT_EQ(regQueryNumber(key, "Word", &number), REG_MORE_DATA);
    EXPECT_EQ(regQueryNumber(key, "Missing", &number), REG_NOT_FOUND);
    regCloseKey(key);
}

TEST(Registry, MissingFileOrKey) {
    TempDir dir;
    {
        ScopedEnv env("TARNOQSNMP_REGISTRY", dir.file("absent").c_str());
        RegKey *key = reinterpret_cast<RegKey *>(1);
        EXPECT_EQ(regOpenKey("Software\\Velmora\\TarnoqSnmp\\CurrentVersion", &key), REG_NOT_FOUND);
        EXPECT_EQ(key, nullptr);
    }
    Hive hive(HIVE);
    RegKey *key = nullptr;
    EXPECT_EQ(regOpenKey("Software\\Velmora\\TarnoqSnmp", &key), REG_NOT_FOUND);
    EXPECT_EQ(regOpenKey("Software\\Velmora\\TarnoqSnmp\\CurrentVersion\\More", &key),
              REG_NOT_FOUND);
    EXPECT_EQ(regOpenKeyCount(), 0);
    EXPECT_EQ(regCloseKey(nullptr), REG_BAD_ARGUMENT);
}

TEST(Registry, OverlongHiveLinesAreIgnored) {
    std::string hive = "[K]\n" + std::string("Long=") + std::string(2000, 'x') + "\nShort=y\n";
    Hive h(hive);
    RegKey *key = nullptr;
    ASSERT_EQ(regOpenKey("k", &key), REG_OK);
    char text[8];
    EXPECT_EQ(regQueryString(key, "Long", text, sizeof text), REG_NOT_FOUND);
    EXPECT_EQ(regQueryString(key, "Short", text, sizeof text), REG_OK);
    regCloseKey(key);
}

} // namespace
