#include "platform/log.h"
#include "smx/def.h"
#include "smx/smx.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Octets = std::vector<uint8_t>;

// Installs a definitions table for the test's life, then restores the one before.
struct ScopedTable {
    std::vector<std::string> values, names;
    std::vector<DefEntry> entries;
    DefEntry *oldTable;
    int oldCount;
    ScopedTable(std::initializer_list<std::pair<const char *, const char *>> defs)
        : oldTable(defTable), oldCount(defCount) {
        for (const auto &[name, value] : defs) {
            names.emplace_back(name);
            values.emplace_back(value);
        }
        for (size_t i = 0; i < names.size(); ++i)
            entries.push_back({static_cast<int32_t>(values[i].size()), values[i].data(),
                               static_cast<int32_t>(names[i].size()), names[i].data()});
        entries.push_back({0, nullptr, 0, nullptr});
        defTable = entries.data();
        defCount = static_cast<int>(names.size());
    }
    ~ScopedTable() {
        defTable = oldTable;
        defCount = oldCount;
    }
};

Octets encode(const char *text, int capacity = 64, int *result = nullptr) {
    Octets out(static_cast<size_t>(capacity > 0 ? capacity : 1));
    int n = smxTextToObjectId(out.data(), capacity, text);
    if (result)
        *result = n;
    if (n < 0)
        return {0xEE, 0xEE}; // no valid encoding is this
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string toText(const Octets &oid, int capacity = 256) {
    std::vector<char> buf(static_cast<size_t>(capacity) + 1);
    int n = smxObjectIdToText(buf.data(), capacity, oid.data(), static_cast<int>(oid.size()));
    if (n < 0)
        return "<fail>";
    EXPECT_EQ(static_cast<size_t>(n), strlen(buf.data()));
    return buf.data();
}

const Octets FAIL = {0xEE, 0xEE};

TEST(SmxText, DottedTextToIdentifier) {
    const struct {
        const char *text;
        Octets octets;
    } cases[] = {
        {"1.3.6.1", {0x2B, 0x06, 0x01}},
        {"2.100", {0x81, 0x34}},
        {"3.1", FAIL},
        {"1.40", FAIL},
        {"0.39", {0x27}},
        {"2.999", {0x88, 0x37}},
        {"1", {0x28}},
        {"2", {0x50}},
        {"", {0x00}},
        {"1..3", {0x28, 0x03}},
        {"1.3.", {0x2B, 0x00}},
        {".", {0x00}},
        {"1.3.6.1.4.1.4294967295", {0x2B, 0x06, 0x01, 0x04, 0x01, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}},
        {"1.3.6.4294967296", {0x2B, 0x06, 0x00}}, // wraps
        {"1.3.128", {0x2B, 0x81, 0x00}},
        {"1.3.6.\"ab\"", {0x2B, 0x06, 0x02, 0x61, 0x62}},
        {"1.3.6.\"a\"\"b\".7", {0x2B, 0x06, 0x03, 0x61, 0x22, 0x62, 0x07}},
        {"1.3.\"\"", {0x2B, 0x00}},
        {"1.3.\"\xff\"", {0x2B, 0x01, 0x81, 0x7F}},
        {"1.3.6.\"ab", FAIL},
        {"1.3.6.\"ab\"\"", FAIL},
        {"1.3.6.\"ab\"x", FAIL},
        {"\"ab\".1", FAIL},
        {"1.\"ab\"", FAIL},
        {"1.3a", FAIL},
        {"1.3.6 ", FAIL},
        {"1.-3", FAIL},
    };
    for (const auto &c : cases)
        EXPECT_EQ(encode(c.text), c.octets) << c.text;
}

TEST(SmxText, DottedTextCapacity) {
    int result = 0;
    EXPECT_EQ(encode("1.3.6.1", 3, &result), (Octets{0x2B, 0x06, 0x01}));
    EXPECT_EQ(encode("1.3.6.1", 2, &result), FAIL);
    EXPECT_EQ(encode("1.3.6.1.128", 4, &result), FAIL); // 81 00 needs 2 of 1 left
    EXPECT_EQ(encode("1.3", 0, &result), FAIL);
    // Nothing is written past the capacity on failure.
    uint8_t out[8];
    memset(out, 0xAA, sizeof out);
    EXPECT_EQ(smxNumericToObjectId(out, 3, "1.3.6.1.200"), -1);
    EXPECT_EQ(out[3], 0xAA);
}

TEST(SmxText, EncodeSubIdLengthsAndCapacity) {
    const struct {
        uint32_t value;
        Octets octets;
    } cases[] = {
        {0, {0x00}},
        {127, {0x7F}},
        {128, {0x81, 0x00}},
        {16383, {0xFF, 0x7F}},
        {16384, {0x81, 0x80, 0x00}},
        {0xFFFFFFFFu, {0x8F, 0xFF, 0xFF, 0xFF, 0x7F}},
    };
    for (const auto &c : cases) {
        uint8_t out[5];
        ASSERT_EQ(smxEncodeSubId(out, 5, c.value), static_cast<int>(c.octets.size()));
        EXPECT_EQ(Octets(out, out + c.octets.size()), c.octets);
        uint8_t small[5] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
        int tight = static_cast<int>(c.octets.size()) - 1;
        EXPECT_EQ(smxEncodeSubId(small, tight, c.value), tight + 1);
        EXPECT_EQ(small[0], 0xAA) << "wrote although it did not fit";
    }
}

TEST(SmxText, IdentifierToDottedText) {
    const struct {
        Octets octets;
        int capacity;
        const char *text;
    } cases[] = {
        {{0x2B, 0x06, 0x01}, 256, "1.3.6.1"},
        {{0x81, 0x34}, 256, "2.100"},
        {{0x00}, 256, "0.0"},
        {{0x27}, 256, "0.39"},
        {{0x8F, 0xFF, 0xFF, 0xFF, 0x7F}, 256, "2.4294967215"},
        {{0x2B, 0x86}, 256, "1.3.6"}, // cut-off sub-identifier used as far as read
        {{0x2B, 0x06, 0x01}, 7, "1.3.6.1"},
        {{0x2B, 0x06, 0x01}, 6, "<fail>"},
        {{0x2B}, 3, "1.3"},
        {{0x2B}, 2, "<fail>"},
        {{}, 256, "<fail>"},
    };
    for (const auto &c : cases) {
        std::vector<char> buf(static_cast<size_t>(c.capacity) + 1, 'x');
        int n = smxObjectIdToNumeric(buf.data(), c.capacity, c.octets.data(),
                                     static_cast<int>(c.octets.size()));
        std::string got = n < 0 ? "<fail>" : std::string(buf.data());
        EXPECT_EQ(got, c.text);
        if (n >= 0) {
            EXPECT_EQ(n, static_cast<int>(got.size()));
        }
    }
}

TEST(SmxText, NamesBothWays) {
    ScopedTable table{{"system", "1.3.6.1.2.1.1"}, {"sysDescr", "1.3.6.1.2.1.1.1"}};
    EXPECT_EQ(encode("sysDescr.0"), (Octets{0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x01, 0x00}));
    EXPECT_EQ(toText({0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x01, 0x00}), "sysDescr.0");
    EXPECT_EQ(toText({0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x0A}), "system.10");
    EXPECT_EQ(toText({0x2B, 0x06, 0x01, 0x02, 0x01, 0x01}), "system");
    EXPECT_EQ(toText({0x2B, 0x06, 0x01, 0x04}), "1.3.6.1.4");
    EXPECT_EQ(encode("system."), encode("system.0"));
    EXPECT_EQ(encode("system"), (Octets{0x2B, 0x06, 0x01, 0x02, 0x01, 0x01}));
    EXPECT_EQ(encode("sysUpTime.0"), FAIL);
    EXPECT_EQ(encode("SYSTEM.1"), FAIL); // names compare case-sensitively
    EXPECT_EQ(encode("sys.1"), FAIL);    // a prefix of a name is not the name
    // The result of the shortened print must fit the caller's capacity.
    EXPECT_EQ(toText({0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x01, 0x00}, 10), "sysDescr.0");
    EXPECT_EQ(toText({0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x01, 0x00}, 9), "<fail>");
}

TEST(SmxText, FirstOfEqualEntriesWins) {
    ScopedTable table{{"first", "1.3.6.1"}, {"second", "1.3.6.1"}, {"first", "1.3.6.2"}};
    EXPECT_EQ(toText({0x2B, 0x06, 0x01, 0x05}), "first.5");
    EXPECT_EQ(encode("first"), (Octets{0x2B, 0x06, 0x01}));
}

TEST(SmxText, ResolvedNameLongerThanWorkTextFails) {
    std::string longValue = "1.3";
    while (longValue.size() < 250)
        longValue += ".1";
    ScopedTable table{{"big", longValue.c_str()}};
    std::string fits = "big";
    while (longValue.size() + fits.size() - 3 < 256)
        fits += ".2";
    if (longValue.size() + fits.size() - 3 > 256)
        fits.resize(fits.size() - 2);
    int result = 0;
    encode(fits.c_str(), 256, &result);
    EXPECT_GT(result, 0) << fits.size();
    encode((fits + ".3").c_str(), 256, &result);
    EXPECT_EQ(result, -1);
}

TEST(SmxText, NoTableMeansNoNames) {
    DefEntry *saved = defTable;
    int savedCount = defCount;
    defTable = nullptr;
    defCount = 5; // a count without a table must not be walked
    EXPECT_EQ(encode("system.1"), FAIL);
    EXPECT_EQ(toText({0x2B, 0x06, 0x01}), "1.3.6.1");
    defTable = saved;
    defCount = savedCount;
}

TEST(SmxText, LookUpResults) {
    ScopedTable table{{"system", "1.3.6.1.2.1.1"}};
    char buf[64];
    EXPECT_EQ(defNameToNumeric(buf, 63, "system.4"), 13);
    EXPECT_STREQ(buf, "1.3.6.1.2.1.1.4");
    EXPECT_EQ(defNameToNumeric(buf, 63, "other.4"), 0);
    EXPECT_STREQ(buf, "other.4");
    EXPECT_EQ(defNameToNumeric(buf, 14, "system.4"), -1);
    EXPECT_EQ(defNameToNumeric(buf, 15, "system.4"), 13);
    EXPECT_EQ(defNumericToName(buf, 63, "1.3.6.1.2.1.1.4"), 8);
    EXPECT_STREQ(buf, "system.4");
    EXPECT_EQ(defNumericToName(buf, 63, "1.3.6.1.2.1.10"), 14); // no arc boundary
    EXPECT_STREQ(buf, "1.3.6.1.2.1.10");
    EXPECT_EQ(defNumericToName(buf, 7, "1.3.6.1.2.1.1.4"), -1);
}

TEST(SmxText, TextAndArcs) {
    ScopedTable table{{"ifDescr", "1.3.6.1.2.1.2.2.1.2"}};
    uint8_t out[32];
    const uint32_t arcs[] = {7, 300};
    int n = smxTextAndOidToObjectId(out, sizeof out, "ifDescr", arcs, 2);
    EXPECT_EQ(Octets(out, out + (n < 0 ? 0 : n)),
              (Octets{0x2B, 0x06, 0x01, 0x02, 0x01, 0x02, 0x02, 0x01, 0x02, 0x07, 0x82, 0x2C}));
    const uint32_t big[] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
    EXPECT_EQ(smxTextAndOidToObjectId(out, sizeof out, "1.3", big, 3), 16);
    EXPECT_EQ(smxTextAndOidToObjectId(out, sizeof out, "1.3", nullptr, 0), 1);
    EXPECT_EQ(smxTextAndOidToObjectId(out, sizeof out, "nosuch", arcs, 2), -1);
    EXPECT_EQ(smxTextAndOidToObjectId(out, 11, "ifDescr", arcs, 2), -1);
}

TEST(SmxText, TextAndArcsTracesItsSize) {
    testing_support::EventCapture capture;
    int saved = logLevel;
    logLevel = 1;
    uint8_t out[16];
    const uint32_t arcs[] = {1};
    smxTextAndOidToObjectId(out, sizeof out, "1.3", arcs, 1);
    logLevel = saved;
    EXPECT_EQ(capture.joined(), "smxTextAndOidToObjectId : allocated size = 16\n");
}

TEST(SmxText, SubIdArrays) {
    const Octets oid = {0x2B, 0x06, 0x01, 0x82, 0x2C, 0x00};
    uint32_t ids[8];
    EXPECT_EQ(smxObjectIdToSubIds(ids, 8, oid.data(), static_cast<int>(oid.size())), 5);
    EXPECT_EQ(std::vector<uint32_t>(ids, ids + 5), (std::vector<uint32_t>{43, 6, 1, 300, 0}));
    EXPECT_EQ(smxObjectIdToSubIds(ids, 2, oid.data(), static_cast<int>(oid.size())), 2);
    EXPECT_EQ(smxObjectIdToSubIds(ids, -1, oid.data(), 6), -1);
    EXPECT_EQ(smxObjectIdToSubIds(ids, 8, oid.data(), -1), -1);
    EXPECT_EQ(smxObjectIdToSubIds(ids, 8, oid.data(), 0), 0);

    uint8_t out[8];
    const uint32_t back[] = {43, 6, 1, 300, 0};
    EXPECT_EQ(smxSubIdsToObjectId(out, 8, back, 5), 6);
    EXPECT_EQ(Octets(out, out + 6), oid);
    EXPECT_EQ(smxSubIdsToObjectId(out, 5, back, 5), -1);
    EXPECT_EQ(smxSubIdsToObjectId(out, 8, back, -1), -1);

    const struct {
        std::vector<uint32_t> a, b;
        int result;
    } order[] = {
        {{1, 2, 3}, {1, 2, 3}, 0}, {{1, 2, 4}, {1, 2, 3}, 1}, {{1, 2, 3}, {1, 2, 4}, 2},
        {{1, 2, 3}, {1, 2}, 1},    {{1, 2}, {1, 2, 3}, 2},    {{}, {}, 0},
        {{0xFFFFFFFFu}, {1}, 1},   {{2}, {1, 9}, 1},
    };
    for (const auto &c : order)
        EXPECT_EQ(smxCompareSubIds(c.a.data(), static_cast<int>(c.a.size()), c.b.data(),
                                   static_cast<int>(c.b.size())),
                  c.result);

    uint32_t *block = smxAllocSubIds(3);
    ASSERT_NE(block, nullptr);
    smxCopySubIds(block, back, 3);
    EXPECT_EQ(std::vector<uint32_t>(block, block + 3), (std::vector<uint32_t>{43, 6, 1}));
    EXPECT_EQ(smxFreeSubIds(block), 0);
    EXPECT_EQ(smxFreeSubIds(nullptr), 0);
}

TEST(SmxText, DigitFormatting) {
    const struct {
        int (*fn)(char *, int, uint32_t);
        uint32_t value;
        int capacity;
        const char *text; // nullptr: fails
    } cases[] = {
        {smxFormatDecimal, 0, 1, "0"},
        {smxFormatDecimal, 4294967295u, 10, "4294967295"},
        {smxFormatDecimal, 4294967295u, 9, nullptr},
        {smxFormatDecimal, 5, 0, nullptr},
        {smxFormatDecimal, 5, -3, nullptr},
        {smxFormatOctal, 8, 2, "10"},
        {smxFormatOctal, 255, 3, "377"},
        {smxFormatOctal, 255, 2, nullptr},
        {smxUnsignedToText, 123, 3, "123"},
    };
    for (const auto &c : cases) {
        char buf[16];
        memset(buf, 'x', sizeof buf);
        int n = c.fn(buf, c.capacity, c.value);
        if (!c.text) {
            EXPECT_EQ(n, -1) << c.value;
            continue;
        }
        EXPECT_EQ(n, static_cast<int>(strlen(c.text)));
        EXPECT_STREQ(buf, c.text);
    }
    char buf[16];
    EXPECT_EQ(smxIntegerToText(buf, 11, INT32_MIN), 11);
    EXPECT_STREQ(buf, "-2147483648");
    EXPECT_EQ(smxIntegerToText(buf, 10, INT32_MIN), -1);
    EXPECT_EQ(smxIntegerToText(buf, 2, -5), 2);
    EXPECT_STREQ(buf, "-5");
    EXPECT_EQ(smxIntegerToText(buf, 1, -5), -1);
    EXPECT_EQ(smxIntegerToText(buf, 0, 5), -1);
}

TEST(SmxText, AddressTexts) {
    const struct {
        const char *text;
        Octets octets;
    } cases[] = {
        {"10.0.0.1", {10, 0, 0, 1}},
        {"0x0a.0.0.01", {10, 0, 0, 1}},
        {"1..2.3", {1, 0, 2, 3}},
        {"255.255.255.0xff", {255, 255, 255, 255}},
        {"...1", {0, 0, 0, 1}},
        {"1.2.3", FAIL},
        {"1.2.3.", FAIL},
        {"1.2.3.4.5", FAIL},
        {"256.1.1.1", FAIL},
        {"1.1.1.256", FAIL},
        {"1.2.3.4x", FAIL},
        {"1.2a.3.4", FAIL},
        {"08.1.1.1", FAIL},
        {"000000000000000000000000000000001.2.3.4", FAIL}, // a part of 33 characters
        {"00000000000000000000000000000001.2.3.4", {1, 2, 3, 4}},
    };
    for (const auto &c : cases) {
        uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        int n = smxTextToIpAddress(out, 4, c.text);
        if (c.octets == FAIL)
            EXPECT_EQ(n, -1) << c.text;
        else {
            EXPECT_EQ(n, 4) << c.text;
            EXPECT_EQ(Octets(out, out + 4), c.octets) << c.text;
        }
    }
    uint8_t out[4];
    EXPECT_EQ(smxTextToIpAddress(out, 3, "1.2.3.4"), -1);

    const uint8_t wide[4] = {255, 255, 255, 255};
    char buf[16];
    EXPECT_EQ(smxIpAddressToText(buf, 15, wide, 4), 15);
    EXPECT_STREQ(buf, "255.255.255.255");
    EXPECT_EQ(smxIpAddressToText(buf, 14, wide, 4), -1);
    const uint8_t narrow[4] = {1, 0, 0, 9};
    EXPECT_EQ(smxIpAddressToText(buf, 7, narrow, 4), 7);
    EXPECT_STREQ(buf, "1.0.0.9");
    EXPECT_EQ(smxIpAddressToText(buf, 15, narrow, 3), -1);
    EXPECT_EQ(smxIpAddressToText(buf, 15, narrow, 5), -1);
}

TEST(SmxText, OctetStrings) {
    const struct {
        Octets octets;
        int capacity;
        const char *text;
    } cases[] = {
        {{'a', 'b', 0x0A}, 16, "\"ab\\12\""},
        {{'a', 'b', 0x0A}, 7, "\"ab\\12\""},
        {{'a', 'b', 0x0A}, 6, nullptr},
        {{0x00, 0xFF, '"', '\\'}, 16, "\"\\0\\377\"\\\""},
        {{}, 2, "\"\""},
        {{}, 1, nullptr},
        {{'a', 'b'}, 1, nullptr}, // longer than the capacity at once
        {{0x7F, 0x1F, 0x20, 0x7E}, 32, "\"\\177\\37 ~\""},
    };
    for (const auto &c : cases) {
        std::vector<char> buf(static_cast<size_t>(c.capacity) + 1, 'x');
        int n = smxOctetStringToText(buf.data(), c.capacity, c.octets.data(),
                                     static_cast<int>(c.octets.size()));
        if (!c.text) {
            EXPECT_EQ(n, -1) << c.capacity;
            continue;
        }
        EXPECT_EQ(n, static_cast<int>(strlen(c.text)));
        EXPECT_STREQ(buf.data(), c.text);
    }
    uint8_t out[4];
    EXPECT_EQ(smxTextToOctetString(out, 4, "ab\\n"), 4);
    EXPECT_EQ(Octets(out, out + 4), (Octets{'a', 'b', '\\', 'n'}));
    EXPECT_EQ(smxTextToOctetString(out, 3, "abcd"), -1);
    EXPECT_EQ(smxTextToOctetString(out, 0, ""), 0);
}

SmpBind bindOf(int32_t kind, Octets *octets, int32_t number) {
    SmpBind b{};
    b.kind = kind;
    b.value = octets ? octets->data() : nullptr;
    b.valueLen = octets ? static_cast<int32_t>(octets->size()) : 0;
    b.number = number;
    return b;
}

std::string valueText(const SmpBind &b, int capacity = 64) {
    std::vector<char> buf(static_cast<size_t>(capacity) + 1);
    int n = smxValueToText(buf.data(), capacity, &b);
    if (n < 0)
        return "<fail>";
    EXPECT_EQ(static_cast<size_t>(n), strlen(buf.data()));
    return buf.data();
}

TEST(SmxText, ValueToText) {
    Octets five = {0x01, 0x02, 0x03, 0x04, 0x05};
    Octets negative = {0x80, 0x00};
    Octets counter5 = {0x00, 0xFF, 0xFF, 0xFF, 0xFF};
    Octets minus1 = {0xFF};
    Octets text = {'a', 'b', 0x0A};
    Octets addr3 = {10, 0, 0};
    Octets addr = {10, 0, 0, 1};
    Octets oid = {0x2B, 0x06, 0x01};
    Octets none;
    const struct {
        SmpBind bind;
        const char *text;
    } cases[] = {
        {bindOf(SMP_KIND_INTEGER, &five, 0), "OVERFLOW"},
        {bindOf(SMP_KIND_INTEGER, &minus1, -1), "-1"},
        {bindOf(SMP_KIND_INTEGER, nullptr, INT32_MIN), "-2147483648"},
        {bindOf(SMP_KIND_COUNTER, &negative, 0), "NEGATIVE"},
        {bindOf(SMP_KIND_GAUGE, &five, 0), "OVERFLOW"},
        {bindOf(SMP_KIND_COUNTER, &counter5, -1), "4294967295"},
        {bindOf(SMP_KIND_TIME_TICKS, &none, 0), "0"},
        {bindOf(SMP_KIND_TIME_TICKS, nullptr, 360000), "360000"},
        {bindOf(SMP_KIND_NULL, nullptr, 0), "<fail>"},
        {bindOf(SMP_KIND_NONE, nullptr, 0), "<fail>"},
        {bindOf(SMP_KIND_OPAQUE, &text, 0), "<fail>"},
        {bindOf(42, &text, 0), "<fail>"},
        {bindOf(SMP_KIND_OCTET_STRING, &text, 0), "\"ab\\12\""},
        {bindOf(SMP_KIND_OCTET_STRING, &none, 0), "\"\""},
        {bindOf(SMP_KIND_IP_ADDRESS, &addr3, 0), "<fail>"},
        {bindOf(SMP_KIND_IP_ADDRESS, &addr, 0), "10.0.0.1"},
        {bindOf(SMP_KIND_OBJECT_ID, &oid, 0), "1.3.6.1"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(valueText(c.bind), c.text) << c.bind.kind;

    SmpBind overflow = bindOf(SMP_KIND_INTEGER, &five, 0);
    EXPECT_EQ(valueText(overflow, 9), "OVERFLOW");
    EXPECT_EQ(valueText(overflow, 8), "<fail>");
    SmpBind neg = bindOf(SMP_KIND_COUNTER, &negative, 0);
    EXPECT_EQ(valueText(neg, 8), "<fail>");

    // Octets that arrived in constructed form are absent: no text.
    for (int32_t kind : {SMP_KIND_OCTET_STRING, SMP_KIND_IP_ADDRESS, SMP_KIND_OBJECT_ID}) {
        SmpBind absent = bindOf(kind, nullptr, 0);
        absent.valueLen = 4;
        EXPECT_EQ(valueText(absent), "<fail>") << kind;
    }
}

TEST(SmxText, ValueToTextTraces) {
    testing_support::EventCapture capture;
    int saved = logLevel;
    logLevel = 2;
    Octets negative = {0x80};
    valueText(bindOf(SMP_KIND_COUNTER, &negative, 0));
    logLevel = saved;
    EXPECT_EQ(capture.joined(),
              "smxValueToText: Kind 5 Len 1\nsmxValueToText 3\nsmxValueToText 4\n");
}

TEST(SmxText, TextToValue) {
    uint8_t storage[8];
    SmpBind b{};
    b.kind = SMP_KIND_INTEGER;
    b.value = storage;
    b.valueLen = 8;
    EXPECT_EQ(smxTextToValue(&b, "-0x10"), 0);
    EXPECT_EQ(b.number, -16);
    EXPECT_EQ(b.valueLen, 0);
    EXPECT_EQ(b.value, nullptr);

    b = {};
    b.kind = SMP_KIND_GAUGE;
    EXPECT_EQ(smxTextToValue(&b, "4294967295"), 0);
    EXPECT_EQ(static_cast<uint32_t>(b.number), 4294967295u);
    EXPECT_EQ(smxTextToValue(&b, "12x"), -1);

    b = {};
    b.kind = SMP_KIND_OCTET_STRING;
    b.value = storage;
    b.valueLen = 3;
    b.number = 9;
    EXPECT_EQ(smxTextToValue(&b, "abc"), 3);
    EXPECT_EQ(b.valueLen, 3);
    EXPECT_EQ(b.number, 0);
    EXPECT_EQ(smxTextToValue(&b, "abcd"), -1);
    EXPECT_EQ(b.valueLen, -1);

    b = {};
    b.kind = SMP_KIND_IP_ADDRESS;
    b.value = storage;
    b.valueLen = 4;
    EXPECT_EQ(smxTextToValue(&b, "1.2.3.4"), 4);
    EXPECT_EQ(Octets(storage, storage + 4), (Octets{1, 2, 3, 4}));
    b.valueLen = 3;
    EXPECT_EQ(smxTextToValue(&b, "1.2.3.4"), -1);
    EXPECT_EQ(b.valueLen, -1);

    b = {};
    b.kind = SMP_KIND_OBJECT_ID;
    b.value = storage;
    b.valueLen = 8;
    EXPECT_EQ(smxTextToValue(&b, "1.3.6.1"), 3);
    EXPECT_EQ(b.valueLen, 3);

    b = {};
    b.kind = SMP_KIND_NULL;
    b.value = storage;
    b.valueLen = 5;
    b.number = 3;
    EXPECT_EQ(smxTextToValue(&b, "anything"), 0);
    EXPECT_EQ(b.valueLen, 0);
    EXPECT_EQ(b.value, nullptr);
    EXPECT_EQ(b.number, 0);

    for (int32_t kind : {int32_t{SMP_KIND_NONE}, int32_t{SMP_KIND_OPAQUE}, int32_t{77}}) {
        SmpBind o{};
        o.kind = kind;
        o.value = storage;
        o.valueLen = 5;
        o.number = 3;
        EXPECT_EQ(smxTextToValue(&o, "1"), -1);
        EXPECT_EQ(o.valueLen, 5);
        EXPECT_EQ(o.number, 3);
    }
}

TEST(SmxText, NameTables) {
    const char *kinds[] = {"None",    "Integer", "OctetString", "IpAddress", "Opaque",
                           "Counter", "Gauge",   "TimeTicks",   "ObjectId",  "Null"};
    for (int i = 0; i < 10; ++i) {
        EXPECT_STREQ(smxKindName(i), kinds[i]);
        EXPECT_EQ(smxKindCode(kinds[i]), i);
    }
    const char *statuses[] = {"noError", "tooBig", "noSuchName", "badValue", "readOnly", "genErr"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_STREQ(smxErrorStatusName(i), statuses[i]);
        EXPECT_EQ(smxErrorStatusCode(statuses[i]), i);
    }
    EXPECT_EQ(smxKindCode("integer"), 0);
    EXPECT_EQ(smxKindCode(""), 0);
    EXPECT_EQ(smxErrorStatusCode("GENERR"), 0);
    EXPECT_STREQ(smxErrorStatusName(18), "unknown(18)");
    EXPECT_STREQ(smxErrorStatusName(-1), "unknown(-1)");
    EXPECT_STREQ(smxKindName(10), "unknown(10)");
    EXPECT_STREQ(smxKindName(INT32_MIN), "unknown(-2147483648)");
    // Two out-of-table names used in one statement stay distinct.
    const char *a = smxErrorStatusName(6);
    const char *b = smxErrorStatusName(7);
    EXPECT_STREQ(a, "unknown(6)");
    EXPECT_STREQ(b, "unknown(7)");
}

} // namespace
