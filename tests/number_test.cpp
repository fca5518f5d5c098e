#include "smx/number.h"

#include <gtest/gtest.h>

namespace {

struct NumberCase {
    const char *text;
    int result;
    uint32_t value;
};

TEST(NumberText, ParseNumberForms) {
    const NumberCase cases[] = {
        {"10", 0, 10},         {"010", 0, 8},
        {"0x1f", 0, 31},       {"0x1E", 0, 30},
        {"0X1F", -1, 0},       {"08", -1, 0},
        {"12a", -1, 12},       {"", 0, 0},
        {"0", 0, 0},           {"0x", 0, 0},
        {"4294967296", 0, 0},  {"4294967295", 0, 0xFFFFFFFFu},
        {"5s", -1, 5},         {" 5", -1, 0},
        {"-5", -1, 0},         {"0xffffffff", 0, 0xFFFFFFFFu},
        {"0x100000001", 0, 1}, {"0777", 0, 511},
    };
    for (const auto &c : cases) {
        uint32_t v = 12345;
        EXPECT_EQ(smxParseNumber(&v, c.text), c.result) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
        uint32_t u = 12345;
        EXPECT_EQ(smxTextToUnsigned(&u, c.text), c.result) << c.text;
        EXPECT_EQ(u, c.value) << c.text;
    }
}

TEST(NumberText, NoTextGivesZero) {
    uint32_t v = 7;
    EXPECT_EQ(smxParseNumber(&v, nullptr), 0);
    EXPECT_EQ(v, 0u);
}

TEST(NumberText, DigitParsersKeepTheirBase) {
    uint32_t v;
    EXPECT_EQ(smxParseOctal(&v, "78"), -1);
    EXPECT_EQ(v, 7u);
    EXPECT_EQ(smxParseHex(&v, "fG"), -1);
    EXPECT_EQ(v, 15u);
    EXPECT_EQ(smxParseDecimal(&v, "0x1"), -1);
    EXPECT_EQ(v, 0u);
    EXPECT_EQ(smxParseHex(&v, "DeadBeef"), 0);
    EXPECT_EQ(v, 0xDEADBEEFu);
}

TEST(NumberText, TextToInteger) {
    struct {
        const char *text;
        int result;
        int32_t value;
    } cases[] = {
        {"-10", 0, -10},
        {"-0x10", 0, -16},
        {"-", 0, 0},
        {"42", 0, 42},
        {"-2147483648", 0, INT32_MIN},
        {"4294967295", 0, -1},
        {"-1x", -1, -1},
    };
    for (const auto &c : cases) {
        int32_t v = 99;
        EXPECT_EQ(smxTextToInteger(&v, c.text), c.result) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
    }
    int32_t v;
    EXPECT_EQ(smxTextToInteger(&v, nullptr), -1);
}

} // namespace
