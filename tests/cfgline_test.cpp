#include "smx/cfg.h"
#include "smx/def.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace {

struct Line {
    int number;
    std::string text;
    bool operator==(const Line &o) const { return number == o.number && text == o.text; }
};

std::ostream &operator<<(std::ostream &os, const Line &l) {
    return os << l.number << ":" << l.text.size() << ":" << l.text.substr(0, 20);
}

std::vector<Line> readAll(const std::string &content) {
    testing_support::TempDir dir;
    testing_support::writeFile(dir.file("f"), content);
    FILE *f = fopen(dir.file("f").c_str(), "r");
    std::vector<Line> lines;
    if (!f)
        return lines;
    CfgLineReader reader;
    cfgReaderInit(&reader, f);
    char buf[CFG_LINE_MAX + 1];
    int n;
    while ((n = cfgReadLine(&reader, buf)) >= 0) {
        EXPECT_EQ(static_cast<size_t>(n), strlen(buf));
        lines.push_back({reader.lineNumber, std::string(buf, static_cast<size_t>(n))});
    }
    fclose(f);
    return lines;
}

TEST(CfgLine, LineEndsAndCarriageReturns) {
    const struct {
        std::string content;
        std::vector<Line> lines;
    } cases[] = {
        {"", {}},
        {"a\nb\n", {{1, "a"}, {2, "b"}}},
        {"a\nb", {{1, "a"}, {2, "b"}}},
        {"\n\n", {{1, ""}, {2, ""}}},
        {"a\r\nb\r\n", {{1, "a"}, {2, "b"}}},
        {"a\r", {{1, "a"}}},
        {"a\rb\n", {{1, "a\rb"}}},
        {"a\r\r\n", {{1, "a\r"}}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(readAll(c.content), c.lines) << c.content;
}

TEST(CfgLine, LongLinesComeInPieces) {
    const std::string full(254, 'x');
    const std::string over(300, 'y');
    const struct {
        std::string content;
        std::vector<Line> lines;
    } cases[] = {
        // The line feed after exactly 254 characters belongs to that line.
        {full + "\nnext\n", {{1, full}, {2, "next"}}},
        {full + "\r\nnext\n", {{1, full}, {2, "next"}}},
        {full + "\r", {{1, full}}},
        {full, {{1, full}}},
        {over + "\nnext\n", {{1, over.substr(0, 254)}, {1, over.substr(254)}, {2, "next"}}},
        {full + "\rz\n", {{1, full}, {1, "\rz"}}},
        {std::string(508, 'z') + "\n", {{1, std::string(254, 'z')}, {1, std::string(254, 'z')}}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(readAll(c.content), c.lines) << c.content.size();
}

struct Split {
    const char *line;
    int result;
    const char *key;
    const char *value;
};

TEST(CfgTokens, DefinitionLines) {
    const Split cases[] = {
        {"# comment", 0, nullptr, nullptr},
        {"", 0, nullptr, nullptr},
        {"  \t \r\n", 0, nullptr, nullptr},
        {"system = 1.3.6.1.2.1.1\n", 2, "system", "1.3.6.1.2.1.1"},
        {"sysDescr=1.3.6.1.2.1.1.1 a remark", 2, "sysDescr", "1.3.6.1.2.1.1.1"},
        {"\tName\t=\t1.3\t", 2, "Name", "1.3"},
        {"include <mib.def>", 1, "INCLUDE", "<mib.def>"},
        {"Include \"x y.def\"", 1, "INCLUDE", "\"x"},
        {"name value", 1, "NAME", "value"},
        {"word", -1, nullptr, nullptr},
        {"word   ", -1, nullptr, nullptr},
        {"name =", -1, nullptr, nullptr},
        {"name=  \n", -1, nullptr, nullptr},
        {"= value", -1, nullptr, nullptr},
        {"INCLUDE", -1, nullptr, nullptr},
        {"  # not a comment", 1, "#", "not"},
    };
    for (const auto &c : cases) {
        std::string line = c.line;
        char *key = nullptr;
        char *value = nullptr;
        EXPECT_EQ(defSplitLine(line.data(), &key, &value), c.result) << c.line;
        if (c.key) {
            ASSERT_NE(key, nullptr) << c.line;
            EXPECT_STREQ(key, c.key) << c.line;
            EXPECT_STREQ(value, c.value) << c.line;
        }
    }
    char *key;
    char *value;
    EXPECT_EQ(defSplitLine(nullptr, &key, &value), 0);
}

TEST(CfgTokens, Assignments) {
    const Split cases[] = {
        {"authenticationtrap=disabled\n", 0, "AUTHENTICATIONTRAP", "disabled"},
        {"  Key = value with blanks ", 0, "KEY", " value with blanks "},
        {"KEY=", 0, "KEY", ""},
        {"# KEY=x", -1, nullptr, nullptr},
        {"", -1, nullptr, nullptr},
        {"   ", -1, nullptr, nullptr},
        {"KEY", -1, nullptr, nullptr},
        {"KEY value", -1, nullptr, nullptr},
        {"KEY  ", -1, nullptr, nullptr},
        {"=value", -1, nullptr, nullptr},
    };
    for (const auto &c : cases) {
        std::string line = c.line;
        char *key = nullptr;
        char *value = nullptr;
        EXPECT_EQ(cfgSplitAssignment(line.data(), &key, &value), c.result) << c.line;
        if (c.key) {
            ASSERT_NE(key, nullptr) << c.line;
            EXPECT_STREQ(key, c.key) << c.line;
            EXPECT_STREQ(value, c.value) << c.line;
        }
    }
}

TEST(CfgTokens, SmallHelpers) {
    char text[] = "abz-AZ{09";
    cfgUpperCase(text);
    EXPECT_STREQ(text, "ABZ-AZ{09");
    cfgUpperCase(nullptr);
    for (int c : {' ', '\t', '\n', '\r'})
        EXPECT_TRUE(cfgIsBlank(c));
    for (int c : {'\v', '\f', 'a', '\0'})
        EXPECT_FALSE(cfgIsBlank(c));
    const struct {
        const char *text;
        const char *last;
    } parts[] = {
        {"/usr/bin/mibwalk", "mibwalk"},
        {"mibwalk", "mibwalk"},
        {"dir/", "dir/"},
        {"a/dir/", "dir/"},
        {"/", "/"},
        {"", ""},
        {"/x", "x"},
    };
    for (const auto &p : parts)
        EXPECT_STREQ(cfgLastComponent(p.text, '/'), p.last) << p.text;
    EXPECT_EQ(cfgLastComponent(nullptr, '/'), nullptr);
}

} // namespace
