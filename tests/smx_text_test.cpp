#include "platform/log.h"
#include "smx/def.h"
#include "smx/number.h"
#include "smx/smx.h"
#include "tests/ber_craft.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using ber::Bytes;
using ber::cat;
using ber::hex;

const Bytes FAIL = {0xEE, 0xEE}; // no valid encoding is this
const char *const NONE = "<fail>";

std::string repeat(const char *text, int n) {
    std::string out;
    while (n-- > 0)
        out += text;
    return out;
}

// Installs a definitions table (name, value, ...) for the object's life, then the one before.
struct Definitions {
    std::vector<std::string> texts;
    std::vector<DefEntry> entries;
    DefEntry *oldTable = defTable;
    int oldCount = defCount;
    explicit Definitions(std::vector<std::string> pairs) : texts(std::move(pairs)) {
        for (size_t i = 0; i + 1 < texts.size(); i += 2)
            entries.push_back({static_cast<int32_t>(texts[i + 1].size()), texts[i + 1].data(),
                               static_cast<int32_t>(texts[i].size()), texts[i].data()});
        entries.push_back({0, nullptr, 0, nullptr});
        defTable = entries.data();
        defCount = static_cast<int>(entries.size()) - 1;
    }
    ~Definitions() {
        defTable = oldTable;
        defCount = oldCount;
    }
};

// system, sysDescr; two names of one value and one name of two values; a long value.
const std::vector<std::string> NAMES = {
    "system", "1.3.6.1.2.1.1", "sysDescr", "1.3.6.1.2.1.1.1", "first", "1.3.9",
    "second", "1.3.9",         "first",    "1.3.8",           "big",   "1.3" + repeat(".2", 124)};

// Dotted texts and names to identifiers (capacity 200).
TEST(SmxText, TextToObjectId) {
    Definitions table(NAMES);
    const struct {
        std::string text;
        Bytes octets;
    } rows[] = {
        {"1.3.6.1", hex("2B0601")},
        {"2.100", hex("8134")},
        {"3.1", FAIL},
        {"1.40", FAIL},
        {"0.39", hex("27")},
        {"2.999", hex("8837")},
        {"1", hex("28")},
        {"2", hex("50")},
        {"", hex("00")},
        {"1..3", hex("2803")},
        {"1.3.", hex("2B00")},
        {".", hex("00")},
        {"1.3.6.1.4.1.4294967295", hex("2B06010401 8FFFFFFF7F")},
        {"1.3.6.4294967296", hex("2B0600")}, // wraps
        {"1.3.128", hex("2B8100")},
        {"1.3.6.\"ab\"", hex("2B06 02 6162")},
        {"1.3.6.\"a\"\"b\".7", hex("2B06 03 612262 07")},
        {"1.3.\"\"", hex("2B00")},
        {"1.3.\"\xff\"", hex("2B01 817F")},
        {"1.3.6.\"ab", FAIL},
        {"1.3.6.\"ab\"\"", FAIL},
        {"1.3.6.\"ab\"x", FAIL},
        {"\"ab\".1", FAIL},
        {"1.\"ab\"", FAIL},
        {"1.3a", FAIL},
        {"1.3.6 ", FAIL},
        {"1.-3", FAIL},
        {"sysDescr.0", hex("2B06010201010100")},
        {"system", hex("2B0601020101")},
        {"system.", hex("2B060102010100")},
        {"first", hex("2B09")}, // the first of equal names
        {"sysUpTime.0", FAIL},
        {"SYSTEM.1", FAIL},                           // names compare case-sensitively
        {"sys.1", FAIL},                              // a prefix of a name is not the name
        {"big.2.2", cat({hex("2B"), Bytes(126, 2)})}, // resolves to 255 characters
        {"big.2.2.3", FAIL},                          // 257: longer than the work text
    };
    for (const auto &r : rows) {
        uint8_t out[200];
        int n = smxTextToObjectId(out, 200, r.text.c_str());
        EXPECT_EQ(n < 0 ? FAIL : Bytes(out, out + n), r.octets) << r.text;
    }
    uint8_t out[8];
    memset(out, 0xAA, sizeof out);
    EXPECT_EQ(smxTextToObjectId(out, 3, "1.3.6.1"), 3);
    EXPECT_EQ(smxTextToObjectId(out, 2, "1.3.6.1"), -1);
    EXPECT_EQ(smxTextToObjectId(out, 4, "1.3.6.1.128"), -1); // 81 00 needs 2 of 1 left
    EXPECT_EQ(smxTextToObjectId(out, 0, "1.3"), -1);
    EXPECT_EQ(smxNumericToObjectId(out, 3, "1.3.6.1.200"), -1);
    EXPECT_EQ(out[3], 0xAA); // nothing written past the capacity
}

// Identifiers to names or dotted texts at a capacity; texts of 256 characters fit the work
// text, 257 do not.
TEST(SmxText, ObjectIdToText) {
    Definitions table(NAMES);
    const std::string n256 = "1.3.11" + repeat(".1", 125), n257 = "1.3" + repeat(".1", 127);
    const struct {
        Bytes octets;
        int capacity;
        std::string text;
    } rows[] = {
        {hex("2B0601"), 256, "1.3.6.1"},
        {hex("8134"), 256, "2.100"},
        {hex("00"), 256, "0.0"},
        {hex("8FFFFFFF7F"), 256, "2.4294967215"},
        {hex("2B86"), 256, "1.3.6"}, // a cut-off sub-identifier used as far as read
        {hex("2B0601"), 7, "1.3.6.1"},
        {hex("2B0601"), 6, NONE},
        {hex("2B"), 3, "1.3"},
        {hex("2B"), 2, NONE},
        {{}, 256, NONE},
        {hex("2B06010201010100"), 10, "sysDescr.0"},
        {hex("2B06010201010100"), 9, NONE},
        {hex("2B06010201010A"), 256, "system.10"},
        {hex("2B0601020101"), 256, "system"},
        {hex("2B0905"), 256, "first.5"}, // the first of equal values
        {cat({hex("2B090B"), Bytes(124, 1)}), 256, "first.11" + repeat(".1", 124)}, // 256 numeric
        {cat({hex("2B09"), Bytes(126, 1)}), 300, "1.3.9" + repeat(".1", 126)},      // 257: no name
        {cat({hex("2B0B"), Bytes(125, 1)}), 256, n256},
        {cat({hex("2B0B"), Bytes(125, 1)}), 255, NONE},
        {cat({hex("2B"), Bytes(127, 1)}), 256, NONE},
    };
    for (const auto &r : rows) {
        std::vector<char> buf(static_cast<size_t>(r.capacity) + 1, 'x');
        int n = smxObjectIdToText(buf.data(), r.capacity, r.octets.data(),
                                  static_cast<int>(r.octets.size()));
        EXPECT_EQ(n < 0 ? NONE : std::string(buf.data(), static_cast<size_t>(n)), r.text);
        EXPECT_TRUE(n < 0 || buf[static_cast<size_t>(n)] == '\0');
    }
    char buf[64];
    EXPECT_EQ(smxObjectIdToNumeric(buf, 2, hex("2B").data(), 1), -1);
    DefEntry *saved = defTable;
    defTable = nullptr; // a count without a table must not be walked
    uint8_t out[8];
    EXPECT_EQ(smxTextToObjectId(out, 8, "system.1"), -1);
    EXPECT_EQ(smxObjectIdToText(buf, 64, hex("2B06010201010100").data(), 8), 17);
    defTable = saved;
}

TEST(SmxText, NameLookUpsAndArcs) {
    Definitions table({"system", "1.3.6.1.2.1.1", "ifDescr", "1.3.6.1.2.1.2.2.1.2"});
    char buf[64];
    EXPECT_EQ(defNameToNumeric(buf, 63, "system.4"), 13);
    EXPECT_STREQ(buf, "1.3.6.1.2.1.1.4");
    EXPECT_EQ(defNameToNumeric(buf, 63, "other.4"), 0);
    EXPECT_STREQ(buf, "other.4");
    EXPECT_EQ(defNameToNumeric(buf, 14, "system.4"), -1);
    EXPECT_EQ(defNumericToName(buf, 63, "1.3.6.1.2.1.10"), 14); // no arc boundary
    EXPECT_EQ(defNumericToName(buf, 7, "1.3.6.1.2.1.1.4"), -1);
    uint8_t out[32];
    const uint32_t arcs[] = {7, 300}, big[] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
    int n = smxTextAndOidToObjectId(out, sizeof out, "ifDescr", arcs, 2);
    EXPECT_EQ(Bytes(out, out + (n < 0 ? 0 : n)), hex("2B0601020102020102 07822C"));
    EXPECT_EQ(smxTextAndOidToObjectId(out, sizeof out, "1.3", big, 3), 16);
    EXPECT_EQ(smxTextAndOidToObjectId(out, sizeof out, "1.3", nullptr, 0), 1);
    EXPECT_EQ(smxTextAndOidToObjectId(out, sizeof out, "nosuch", arcs, 2), -1);
    EXPECT_EQ(smxTextAndOidToObjectId(out, 11, "ifDescr", arcs, 2), -1);
}

TEST(SmxText, SubIds) {
    const struct {
        uint32_t value;
        const char *octets;
    } rows[] = {{0, "00"},       {127, "7F"},       {128, "8100"},
                {16383, "FF7F"}, {16384, "818000"}, {0xFFFFFFFFu, "8FFFFFFF7F"}};
    for (const auto &r : rows) {
        uint8_t out[5] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
        int n = static_cast<int>(hex(r.octets).size());
        EXPECT_EQ(smxEncodeSubId(out, n - 1, r.value), n); // wrote nothing though it did not fit
        EXPECT_EQ(out[0], 0xAA);
        EXPECT_EQ(smxEncodeSubId(out, 5, r.value), n);
        EXPECT_EQ(Bytes(out, out + n), hex(r.octets));
    }
    const Bytes oid = hex("2B0601822C00");
    const uint32_t back[] = {43, 6, 1, 300, 0};
    uint32_t ids[8];
    EXPECT_EQ(smxObjectIdToSubIds(ids, 8, oid.data(), 6), 5);
    EXPECT_EQ(std::vector<uint32_t>(ids, ids + 5), std::vector<uint32_t>(back, back + 5));
    EXPECT_EQ(smxObjectIdToSubIds(ids, 2, oid.data(), 6), 2);
    EXPECT_EQ(smxObjectIdToSubIds(ids, -1, oid.data(), 6), -1);
    EXPECT_EQ(smxObjectIdToSubIds(ids, 8, oid.data(), -1), -1);
    uint8_t out[8];
    EXPECT_EQ(smxSubIdsToObjectId(out, 8, back, 5), 6);
    EXPECT_EQ(Bytes(out, out + 6), oid);
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
    smxCopySubIds(block, back, 3);
    EXPECT_EQ(std::vector<uint32_t>(block, block + 3), std::vector<uint32_t>(back, back + 3));
    EXPECT_EQ(smxFreeSubIds(block) + smxFreeSubIds(nullptr), 0);
}

// Numbers, addresses and octets to text at a capacity (nullptr: fails).
TEST(SmxText, ScalarTexts) {
    const struct {
        int (*fn)(char *, int, uint32_t);
        uint32_t value;
        int capacity;
        const char *text;
    } numbers[] = {
        {smxFormatDecimal, 0, 1, "0"},
        {smxFormatDecimal, 4294967295u, 10, "4294967295"},
        {smxFormatDecimal, 4294967295u, 9, NONE},
        {smxFormatDecimal, 5, 0, NONE},
        {smxFormatDecimal, 5, -3, NONE},
        {smxFormatOctal, 8, 2, "10"},
        {smxFormatOctal, 255, 3, "377"},
        {smxFormatOctal, 255, 2, NONE},
        {smxUnsignedToText, 123, 3, "123"},
    };
    char buf[32];
    for (const auto &r : numbers) {
        int n = r.fn(buf, r.capacity, r.value);
        EXPECT_EQ(n < 0 ? NONE : std::string(buf, static_cast<size_t>(n)), r.text) << r.value;
    }
    EXPECT_EQ(smxIntegerToText(buf, 11, INT32_MIN), 11);
    EXPECT_STREQ(buf, "-2147483648");
    EXPECT_EQ(smxIntegerToText(buf, 10, INT32_MIN), -1);
    EXPECT_EQ(smxIntegerToText(buf, 1, -5), -1);
    EXPECT_EQ(smxIntegerToText(buf, 0, 5), -1);
    const uint8_t wide[4] = {255, 255, 255, 255};
    EXPECT_EQ(smxIpAddressToText(buf, 15, wide, 4), 15);
    EXPECT_STREQ(buf, "255.255.255.255");
    EXPECT_EQ(smxIpAddressToText(buf, 14, wide, 4), -1);
    EXPECT_EQ(smxIpAddressToText(buf, 15, wide, 3), -1);
    EXPECT_EQ(smxIpAddressToText(buf, 15, wide, 5), -1);
    const struct {
        std::string text;
        Bytes octets;
    } addresses[] = {
        {"10.0.0.1", hex("0A000001")},
        {"0x0a.0.0.01", hex("0A000001")},
        {"1..2.3", hex("01000203")},
        {"255.255.255.0xff", hex("FFFFFFFF")},
        {"...1", hex("00000001")},
        {"1.2.3", FAIL},
        {"1.2.3.", FAIL},
        {"1.2.3.4.5", FAIL},
        {"256.1.1.1", FAIL},
        {"1.1.1.256", FAIL},
        {"1.2.3.4x", FAIL},
        {"1.2a.3.4", FAIL},
        {"08.1.1.1", FAIL},
        {repeat("0", 32) + "1.2.3.4", FAIL},
        {repeat("0", 31) + "1.2.3.4", hex("01020304")}, // a part of 32 characters
    };
    for (const auto &r : addresses) {
        uint8_t out[4];
        EXPECT_EQ(smxTextToIpAddress(out, 4, r.text.c_str()) < 0 ? FAIL : Bytes(out, out + 4),
                  r.octets)
            << r.text;
    }
    uint8_t out[4];
    EXPECT_EQ(smxTextToIpAddress(out, 3, "1.2.3.4"), -1);
}

SmpBind bind(int32_t kind, const Bytes *octets, int32_t number) {
    auto *value = octets ? const_cast<uint8_t *>(octets->data()) : nullptr;
    return {0, nullptr, kind, octets ? static_cast<int32_t>(octets->size()) : 0, value, number};
}

// Values to text at a capacity: an OctetString of 254 octets fills 256 characters, one of 255
// does not fit.
TEST(SmxText, ValueToText) {
    const Bytes five = hex("0102030405"), negative = hex("8000"), counter5 = hex("00FFFFFFFF"),
                minus1 = hex("FF"), text = hex("61620A"), addr3 = hex("0A0000"),
                addr = hex("0A000001"), oid = hex("2B0601"), none, a254(254, 'a'), a255(255, 'a'),
                odd = hex("00FF225C7F1F207E");
    const struct {
        SmpBind bind;
        int capacity;
        std::string text;
    } rows[] = {
        {bind(SMP_KIND_INTEGER, &five, 0), 9, "OVERFLOW"},
        {bind(SMP_KIND_INTEGER, &five, 0), 8, NONE},
        {bind(SMP_KIND_INTEGER, &minus1, -1), 64, "-1"},
        {bind(SMP_KIND_INTEGER, nullptr, INT32_MIN), 64, "-2147483648"},
        {bind(SMP_KIND_COUNTER, &negative, 0), 64, "NEGATIVE"},
        {bind(SMP_KIND_COUNTER, &negative, 0), 8, NONE},
        {bind(SMP_KIND_GAUGE, &five, 0), 64, "OVERFLOW"},
        {bind(SMP_KIND_COUNTER, &counter5, -1), 64, "4294967295"},
        {bind(SMP_KIND_TIME_TICKS, &none, 0), 64, "0"},
        {bind(SMP_KIND_TIME_TICKS, nullptr, 360000), 64, "360000"},
        {bind(SMP_KIND_NULL, nullptr, 0), 64, NONE},
        {bind(SMP_KIND_NONE, nullptr, 0), 64, NONE},
        {bind(SMP_KIND_OPAQUE, &text, 0), 64, NONE},
        {bind(42, &text, 0), 64, NONE},
        {bind(SMP_KIND_OCTET_STRING, &text, 0), 7, "\"ab\\12\""},
        {bind(SMP_KIND_OCTET_STRING, &text, 0), 6, NONE},
        {bind(SMP_KIND_OCTET_STRING, &odd, 0), 64, "\"\\0\\377\"\\\\177\\37 ~\""},
        {bind(SMP_KIND_OCTET_STRING, &none, 0), 2, "\"\""},
        {bind(SMP_KIND_OCTET_STRING, &none, 0), 1, NONE},
        {bind(SMP_KIND_OCTET_STRING, &text, 0), 2, NONE}, // longer than the capacity at once
        {bind(SMP_KIND_OCTET_STRING, &a254, 0), 256, "\"" + repeat("a", 254) + "\""},
        {bind(SMP_KIND_OCTET_STRING, &a255, 0), 256, NONE},
        {bind(SMP_KIND_IP_ADDRESS, &addr3, 0), 64, NONE},
        {bind(SMP_KIND_IP_ADDRESS, &addr, 0), 64, "10.0.0.1"},
        {bind(SMP_KIND_OBJECT_ID, &oid, 0), 64, "1.3.6.1"},
        // Octets that arrived in constructed form are absent: no text.
        {{0, nullptr, SMP_KIND_OCTET_STRING, 4, nullptr, 0}, 64, NONE},
        {{0, nullptr, SMP_KIND_IP_ADDRESS, 4, nullptr, 0}, 64, NONE},
        {{0, nullptr, SMP_KIND_OBJECT_ID, 4, nullptr, 0}, 64, NONE},
    };
    testing_support::EventCapture capture;
    int saved = logLevel;
    for (const auto &r : rows) {
        logLevel = 2; // the module's one trace test, over every row
        std::vector<char> buf(static_cast<size_t>(r.capacity) + 1);
        int n = smxValueToText(buf.data(), r.capacity, &r.bind);
        logLevel = saved;
        EXPECT_EQ(n < 0 ? NONE : std::string(buf.data(), static_cast<size_t>(n)), r.text);
        EXPECT_TRUE(n < 0 || buf[static_cast<size_t>(n)] == '\0');
    }
    EXPECT_NE(capture.joined().find("smxValueToText: Kind 5 Len 2\nsmxValueToText 3\n"
                                    "smxValueToText 4\n"),
              std::string::npos);
}

TEST(SmxText, TextToValue) {
    uint8_t storage[8];
    const struct {
        int32_t kind, room;
        const char *text;
        int result, valueLen, number;
        const char *stored;
    } rows[] = {
        {SMP_KIND_INTEGER, 8, "-0x10", 0, 0, -16, nullptr},
        {SMP_KIND_GAUGE, 0, "4294967295", 0, 0, -1, nullptr},
        {SMP_KIND_TIME_TICKS, 0, "12x", -1, 0, 12, nullptr},
        {SMP_KIND_OCTET_STRING, 3, "abc", 3, 3, 0, "616263"},
        {SMP_KIND_OCTET_STRING, 3, "abcd", -1, -1, 0, ""},
        {SMP_KIND_IP_ADDRESS, 4, "1.2.3.4", 4, 4, 0, "01020304"},
        {SMP_KIND_IP_ADDRESS, 3, "1.2.3.4", -1, -1, 0, ""},
        {SMP_KIND_OBJECT_ID, 8, "1.3.6.1", 3, 3, 0, "2B0601"},
        {SMP_KIND_NULL, 5, "anything", 0, 0, 0, nullptr},
        {SMP_KIND_NONE, 5, "1", -1, 5, 3, ""},
        {SMP_KIND_OPAQUE, 5, "1", -1, 5, 3, ""},
        {77, 5, "1", -1, 5, 3, ""},
    };
    for (const auto &r : rows) {
        SmpBind b{0, nullptr, r.kind, r.room, storage, 3};
        EXPECT_EQ(smxTextToValue(&b, r.text), r.result) << r.kind << r.text;
        EXPECT_EQ(b.valueLen, r.valueLen) << r.kind << r.text;
        EXPECT_EQ(b.number, r.number) << r.kind << r.text;
        EXPECT_EQ(b.value, r.stored ? storage : nullptr) << r.kind << r.text;
        EXPECT_TRUE(r.result <= 0 || !r.stored ||
                    Bytes(storage, storage + r.result) == hex(r.stored));
    }
    EXPECT_EQ(smxTextToOctetString(storage, 0, ""), 0);
    EXPECT_EQ(smxTextToValue(nullptr, "1"), -1);
}

TEST(SmxText, NameTables) {
    const char *kinds[] = {"None",    "Integer", "OctetString", "IpAddress", "Opaque",
                           "Counter", "Gauge",   "TimeTicks",   "ObjectId",  "Null"};
    const char *statuses[] = {"noError", "tooBig", "noSuchName", "badValue", "readOnly", "genErr"};
    for (int i = 0; i < 10; ++i) {
        EXPECT_STREQ(smxKindName(i), kinds[i]);
        EXPECT_EQ(smxKindCode(kinds[i]), i);
        EXPECT_STREQ(smxErrorStatusName(i), i < 6 ? statuses[i] : smxErrorStatusName(i));
        EXPECT_EQ(smxErrorStatusCode(statuses[i % 6]), i % 6);
    }
    EXPECT_EQ(smxKindCode("integer") + smxKindCode("") + smxErrorStatusCode("GENERR"), 0);
    EXPECT_STREQ(smxErrorStatusName(-1), "unknown(-1)");
    EXPECT_STREQ(smxKindName(INT32_MIN), "unknown(-2147483648)");
    // Two out-of-table names used in one statement stay distinct.
    const char *a = smxErrorStatusName(6), *b = smxKindName(10);
    EXPECT_STREQ(a, "unknown(6)");
    EXPECT_STREQ(b, "unknown(10)");
}

TEST(NumberText, Forms) {
    const struct {
        const char *text;
        int result;
        uint32_t value;
    } rows[] = {
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
    for (const auto &r : rows) {
        uint32_t v = 12345, u = 12345;
        EXPECT_EQ(smxParseNumber(&v, r.text), r.result) << r.text;
        EXPECT_EQ(smxTextToUnsigned(&u, r.text), r.result) << r.text;
        EXPECT_EQ(v, r.value) << r.text;
        EXPECT_EQ(u, r.value) << r.text;
    }
    const struct {
        const char *text;
        int result;
        int32_t value;
    } signedRows[] = {{"-10", 0, -10},
                      {"-0x10", 0, -16},
                      {"-", 0, 0},
                      {"42", 0, 42},
                      {"-1x", -1, -1},
                      {"4294967295", 0, -1},
                      {"-2147483648", 0, INT32_MIN}};
    for (const auto &r : signedRows) {
        int32_t v = 99;
        EXPECT_EQ(smxTextToInteger(&v, r.text), r.result) << r.text;
        EXPECT_EQ(v, r.value) << r.text;
    }
    int32_t i;
    uint32_t v = 7;
    EXPECT_EQ(smxTextToInteger(&i, nullptr), -1);
    EXPECT_EQ(smxParseNumber(&v, nullptr), 0);
    EXPECT_EQ(v, 0u);
    // The digit parsers keep their base and stop at the first other character.
    EXPECT_EQ(smxParseOctal(&v, "78"), -1);
    EXPECT_EQ(v, 7u);
    EXPECT_EQ(smxParseHex(&v, "fG"), -1);
    EXPECT_EQ(v, 15u);
    EXPECT_EQ(smxParseDecimal(&v, "0x1"), -1);
    EXPECT_EQ(v, 0u);
    EXPECT_EQ(smxParseHex(&v, "DeadBeef"), 0);
    EXPECT_EQ(v, 0xDEADBEEFu);
}

} // namespace
