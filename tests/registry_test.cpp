#include "platform/registry.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using testing_support::ScopedEnv;
using testing_support::TempDir;

TEST(Registry, QueriesAgainstAHive) {
    TempDir dir;
    ScopedEnv env("TARNOQSNMP_REGISTRY", dir.file("registry").c_str());
    RegKey *none = reinterpret_cast<RegKey *>(1); // no file: not found, and no key
    EXPECT_EQ(regOpenKey("Software\\Velmora\\TarnoqSnmp\\CurrentVersion", &none), REG_NOT_FOUND);
    EXPECT_EQ(none, nullptr);
    testing_support::writeFile(
        dir.file("registry"),
        "# installation record\n[Software\\Velmora\\TarnoqSnmp\\CurrentVersion]\nVersion=2.1\r\n"
        "\n[Software\\Velmora\\TarnoqSnmp\\2.1\\TarnoqSnmp]\nInstalled=0\nSmall=ab\nWord=abcd\n"
        "etc=/opt/tarnoq\nEmpty=\n#etc=/commented\nLong=" +
            std::string(2000, 'x') + "\n[Other]\nVersion=9\n");
    const char *const version = "software\\VELMORA\\tarnoqsnmp\\currentversion"; // any case
    const char *const component = "Software\\Velmora\\TarnoqSnmp\\2.1\\TarnoqSnmp";
    const struct {
        const char *key, *value;
        int limit; // 0: read as a number
        int status;
        std::string text;
    } cases[] = {
        {version, "Version", 16, REG_OK, "2.1"}, // CR of a Windows line end dropped
        {component, "etc", 32, REG_OK, "/opt/tarnoq"},
        {component, "Version", 32, REG_NOT_FOUND, "-"}, // values stay inside their key
        {component, "Empty", 32, REG_OK, ""},
        {component, "Long", 32, REG_NOT_FOUND, "-"}, // overlong lines are ignored
        {component, "etc", 11, REG_MORE_DATA, "-"},  // the limit counts the terminator
        {component, "etc", 12, REG_OK, "/opt/tarnoq"},
        {component, "Installed", 0, REG_OK, "0"},
        {component, "Small", 0, REG_OK, std::to_string('a' | 'b' << 8)}, // "ab" and NUL fit
        {component, "Word", 0, REG_MORE_DATA, "-"},
        {component, "Missing", 0, REG_NOT_FOUND, "-"},
        {"Software\\Velmora\\TarnoqSnmp", "Version", 0, REG_NOT_FOUND, "no key"},
        {"Software\\Velmora\\TarnoqSnmp\\CurrentVersion\\More", "x", 0, REG_NOT_FOUND, "no key"},
    };
    for (const auto &c : cases) {
        RegKey *key = nullptr;
        int opened = regOpenKey(c.key, &key);
        char text[32] = "-";
        uint32_t number = 0;
        int status = opened != REG_OK ? opened
                     : c.limit        ? regQueryString(key, c.value, text, c.limit)
                                      : regQueryNumber(key, c.value, &number);
        if (c.limit == 0 && status == REG_OK)
            snprintf(text, sizeof text, "%u", number);
        EXPECT_EQ(status, c.status) << c.value;
        EXPECT_EQ(opened != REG_OK ? "no key" : text, c.text) << c.value;
        if (key) {
            EXPECT_EQ(regCloseKey(key), REG_OK);
        }
    }
    EXPECT_EQ(regOpenKeyCount(), 0);
    EXPECT_EQ(regCloseKey(nullptr), REG_BAD_ARGUMENT);
}

} // namespace
