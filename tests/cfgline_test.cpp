#include "smx/cfg.h"
#include "smx/def.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// Every line read from content as "number:text|".
std::string readAll(const std::string &content) {
    testing_support::TempDir dir;
    testing_support::writeFile(dir.file("f"), content);
    FILE *f = fopen(dir.file("f").c_str(), "r");
    std::string lines;
    if (!f)
        return "not opened";
    CfgLineReader reader;
    cfgReaderInit(&reader, f);
    char buf[CFG_LINE_MAX + 1];
    for (int n; (n = cfgReadLine(&reader, buf)) >= 0;) {
        EXPECT_EQ(static_cast<size_t>(n), strlen(buf));
        lines += std::to_string(reader.lineNumber) + ":" + buf + "|";
    }
    fclose(f);
    return lines;
}

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
    for (const auto &[content, lines] : cases)
        EXPECT_EQ(readAll(content), lines) << content.size() << " " << content.substr(0, 8);
}

TEST(CfgLine, SplitsDefinitionsAndAssignments) {
    const struct {
        int (*split)(char *, char **, char **);
        const char *line;
        int result;
        const char *key, *value;
    } cases[] = {
        {defSplitLine, "# comment", 0, nullptr, nullptr},
        {defSplitLine, "", 0, nullptr, nullptr},
        {defSplitLine, "  \t \r\n", 0, nullptr, nullptr},
        {defSplitLine, "system = 1.3.6.1.2.1.1\n", 2, "system", "1.3.6.1.2.1.1"},
        {defSplitLine, "sysDescr=1.3.6.1.2.1.1.1 a remark", 2, "sysDescr", "1.3.6.1.2.1.1.1"},
        {defSplitLine, "\tName\t=\t1.3\t", 2, "Name", "1.3"},
        {defSplitLine, "include <mib.def>", 1, "INCLUDE", "<mib.def>"},
        {defSplitLine, "Include \"x y.def\"", 1, "INCLUDE", "\"x"},
        {defSplitLine, "name value", 1, "NAME", "value"},
        {defSplitLine, "  # not a comment", 1, "#", "not"},
        {defSplitLine, "word   ", -1, nullptr, nullptr},
        {defSplitLine, "name=  \n", -1, nullptr, nullptr},
        {defSplitLine, "= value", -1, nullptr, nullptr},
        {defSplitLine, "INCLUDE", -1, nullptr, nullptr},
        {cfgSplitAssignment, "authenticationtrap=disabled\n", 0, "AUTHENTICATIONTRAP", "disabled"},
        {cfgSplitAssignment, "  Key = value with blanks ", 0, "KEY", " value with blanks "},
        {cfgSplitAssignment, "KEY=", 0, "KEY", ""},
        {cfgSplitAssignment, "# KEY=x", -1, nullptr, nullptr},
        {cfgSplitAssignment, "   ", -1, nullptr, nullptr},
        {cfgSplitAssignment, "KEY value", -1, nullptr, nullptr},
        {cfgSplitAssignment, "=value", -1, nullptr, nullptr},
    };
    for (const auto &c : cases) {
        std::string line = c.line;
        char *key = nullptr, *value = nullptr;
        EXPECT_EQ(c.split(line.data(), &key, &value), c.result) << c.line;
        if (c.key && key && value)
            EXPECT_EQ(std::string(key) + "|" + value, std::string(c.key) + "|" + c.value);
        else
            EXPECT_EQ(c.key, nullptr) << c.line;
    }
}

} // namespace
