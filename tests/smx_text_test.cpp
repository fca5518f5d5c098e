#include "platform/log.h"
#include "smx/def.h"
#include "smx/number.h"
#include "smx/smx.h"
#include "tests/ber_craft.h"
#include "tests/support.h"

using testing_support::words;

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

using ber::Bytes;
using ber::hex;

std::string repeat(const char *text, int n) {
    std::string out;
    while (n-- > 0)
        out += text;
    return out;
}
// The text of a result of n octets or characters; "!" when it failed.
std::string got(const void *out, int n, bool asHex = false) {
    const auto *p = static_cast<const unsigned char *>(out);
    std::string s;
    for (int i = 0; i < n; i++)
        s += asHex ? "0123456789ABCDEF"[p[i] >> 4] + std::string(1, "0123456789ABCDEF"[p[i] & 15])
                   : std::string(1, static_cast<char>(p[i]));
    return n < 0 ? "!" : s;
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

// Names: two of one value, one of two values, a long value; texts of 256 characters fit the
// work text, 257 do not.
TEST(SmxText, TextsAndObjectIds) {
    Definitions table({"system", "1.3.6.1.2.1.1", "sysDescr", "1.3.6.1.2.1.1.1", "first", "1.3.9",
                       "second", "1.3.9", "first", "1.3.8", "big", "1.3" + repeat(".2", 124)});
    // Rows "TEXT op HEX[@capacity]": op ">" text to identifier (capacity 200), "<" identifier
    // to text (capacity 256 unless given), "=" both; "!" is a failure. 2^32 wraps; "2B86" is a
    // cut-off sub-identifier, used as far as read.
    std::vector<std::string> rows =
        words({"1.3.6.1=2B0601 2.100=8134 3.1>! 1.40>! 0.39>27 2.999>8837 1>28 2>50 >00 0.0<00",
               "1..3>2803 1.3.>2B00 .>00 1.3.6.4294967296>2B0600 1.3.128>2B8100",
               "1.3.6.1.4.1.4294967295>2B060104018FFFFFFF7F 1.3.6.\"ab\">2B06026162",
               "1.3.6.\"a\"\"b\".7>2B060361226207 1.3.\"\">2B00 1.3.\"\xff\">2B01817F 1.3.6.\"ab>!",
               "1.3.6.\"ab\"\">! 1.3.6.\"ab\"x>! \"ab\".1>! 1.\"ab\">! 1.3a>! 1.-3>! first>2B09",
               "sysDescr.0=2B06010201010100 system=2B0601020101 system.>2B060102010100",
               "sysUpTime.0>! SYSTEM.1>! sys.1>! big.2.2.3>! 2.4294967215<8FFFFFFF7F 1.3.6<2B86",
               "1.3.6.1<2B0601@7 !<2B0601@6 1.3<2B@3 !<2B@2 !< sysDescr.0<2B06010201010100@10",
               "!<2B06010201010100@9 system.10<2B06010201010A first.5<2B0905"});
    rows.push_back("big.2.2>2B" + repeat("02", 126));
    rows.push_back("first.11" + repeat(".1", 124) + "<2B090B" + repeat("01", 124));
    rows.push_back("1.3.9" + repeat(".1", 126) + "<2B09" + repeat("01", 126) + "@300");
    rows.push_back("1.3.11" + repeat(".1", 125) + "<2B0B" + repeat("01", 125));
    rows.push_back("!<2B0B" + repeat("01", 125) + "@255");
    rows.push_back("!<2B" + repeat("01", 127));
    for (const std::string &row : rows) {
        size_t at = row.find_first_of("<=>");
        std::string text = row.substr(0, at), octets = row.substr(at + 1);
        int capacity = 256;
        if (size_t c = octets.find('@'); c != std::string::npos) {
            capacity = std::stoi(octets.substr(c + 1));
            octets.resize(c);
        }
        if (row[at] != '<') {
            uint8_t out[200];
            EXPECT_EQ(got(out, smxTextToObjectId(out, 200, text.c_str()), true), octets) << row;
        }
        if (row[at] != '>') {
            Bytes in = hex(octets);
            std::vector<char> buf(static_cast<size_t>(capacity) + 1, 'x');
            int n = smxObjectIdToText(buf.data(), capacity, in.data(), static_cast<int>(in.size()));
            EXPECT_EQ(got(buf.data(), n), text) << row;
            EXPECT_TRUE(n < 0 || buf[static_cast<size_t>(n)] == '\0') << row;
        }
    }
    uint8_t out[8];
    memset(out, 0xAA, sizeof out);
    EXPECT_EQ(smxTextToObjectId(out, 3, "1.3.6.1"), 3);
    EXPECT_EQ(smxTextToObjectId(out, 2, "1.3.6.1"), -1);
    EXPECT_EQ(smxTextToObjectId(out, 4, "1.3.6.1.128"), -1); // 81 00 needs 2 of 1 left
    EXPECT_EQ(smxTextToObjectId(out, 0, "1.3"), -1);
    EXPECT_EQ(smxTextToObjectId(out, 8, "1.3.6 "), -1);
    EXPECT_EQ(smxNumericToObjectId(out, 3, "1.3.6.1.200"), -1);
    EXPECT_EQ(out[3], 0xAA); // nothing written past the capacity
    char buf[64];
    EXPECT_EQ(smxObjectIdToNumeric(buf, 2, hex("2B").data(), 1), -1);
    defTable = nullptr; // a count without a table must not be walked
    EXPECT_EQ(smxTextToObjectId(out, 8, "system.1"), -1);
    EXPECT_EQ(smxObjectIdToText(buf, 64, hex("2B06010201010100").data(), 8), 17);
    defTable = table.entries.data();
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
    EXPECT_EQ(got(out, smxTextAndOidToObjectId(out, 32, "ifDescr", arcs, 2), true),
              "2B060102010202010207822C");
    EXPECT_EQ(smxTextAndOidToObjectId(out, sizeof out, "1.3", big, 3), 16);
    EXPECT_EQ(smxTextAndOidToObjectId(out, sizeof out, "1.3", nullptr, 0), 1);
    EXPECT_EQ(smxTextAndOidToObjectId(out, sizeof out, "nosuch", arcs, 2), -1);
    EXPECT_EQ(smxTextAndOidToObjectId(out, 11, "ifDescr", arcs, 2), -1);
}

TEST(SmxText, SubIds) {
    for (const char *row :
         {"0 00", "127 7F", "128 8100", "16383 FF7F", "16384 818000", "4294967295 8FFFFFFF7F"}) {
        uint8_t out[5] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
        const char *octets = strchr(row, ' ') + 1;
        auto value = static_cast<uint32_t>(std::stoul(row));
        int n = static_cast<int>(strlen(octets) / 2);
        EXPECT_EQ(smxEncodeSubId(out, n - 1, value), n); // wrote nothing though it did not fit
        EXPECT_EQ(out[0], 0xAA);
        EXPECT_EQ(got(out, smxEncodeSubId(out, 5, value), true), octets);
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
    EXPECT_EQ(got(out, smxSubIdsToObjectId(out, 8, back, 5), true), "2B0601822C00");
    EXPECT_EQ(smxSubIdsToObjectId(out, 5, back, 5), -1);
    EXPECT_EQ(smxSubIdsToObjectId(out, 8, back, -1), -1);
    const struct {
        std::vector<uint32_t> a, b;
        int result;
    } order[] = {{{1, 2, 3}, {1, 2, 3}, 0}, {{1, 2, 4}, {1, 2, 3}, 1}, {{1, 2, 3}, {1, 2, 4}, 2},
                 {{1, 2, 3}, {1, 2}, 1},    {{1, 2}, {1, 2, 3}, 2},    {{}, {}, 0},
                 {{0xFFFFFFFFu}, {1}, 1},   {{2}, {1, 9}, 1}};
    for (const auto &c : order)
        EXPECT_EQ(smxCompareSubIds(c.a.data(), static_cast<int>(c.a.size()), c.b.data(),
                                   static_cast<int>(c.b.size())),
                  c.result);
    uint32_t *block = smxAllocSubIds(3);
    smxCopySubIds(block, back, 3);
    EXPECT_EQ(std::vector<uint32_t>(block, block + 3), std::vector<uint32_t>(back, back + 3));
    EXPECT_EQ(smxFreeSubIds(block) + smxFreeSubIds(nullptr), 0);
}

// Numbers, addresses and octets to text at a capacity, and address texts to octets.
TEST(SmxText, ScalarTexts) {
    const struct {
        int (*fn)(char *, int, uint32_t);
        uint32_t value;
        int capacity;
        const char *text;
    } numbers[] = {
        {smxFormatDecimal, 0, 1, "0"},           {smxFormatDecimal, 4294967295u, 10, "4294967295"},
        {smxFormatDecimal, 4294967295u, 9, "!"}, {smxFormatDecimal, 5, 0, "!"},
        {smxFormatDecimal, 5, -3, "!"},          {smxFormatOctal, 8, 2, "10"},
        {smxFormatOctal, 255, 3, "377"},         {smxFormatOctal, 255, 2, "!"},
        {smxUnsignedToText, 123, 3, "123"}};
    char buf[32];
    for (const auto &r : numbers)
        EXPECT_EQ(got(buf, r.fn(buf, r.capacity, r.value)), r.text) << r.value;
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
    std::vector<std::string> addresses =
        words({"10.0.0.1=0A000001 0x0a.0.0.01=0A000001 1..2.3=01000203 ...1=00000001 1.2.3=!",
               "255.255.255.0xff=FFFFFFFF 1.2.3.=! 1.2.3.4.5=! 256.1.1.1=! 1.1.1.256=! 1.2.3.4x=!",
               "1.2a.3.4=! 08.1.1.1=!"});
    addresses.push_back(repeat("0", 32) + "1.2.3.4=!");
    addresses.push_back(repeat("0", 31) + "1.2.3.4=01020304"); // a part of 32 characters
    for (const std::string &r : addresses) {
        uint8_t out[4];
        std::string text = r.substr(0, r.find('='));
        EXPECT_EQ(got(out, smxTextToIpAddress(out, 4, text.c_str()), true),
                  r.substr(r.find('=') + 1));
    }
    uint8_t out[4];
    EXPECT_EQ(smxTextToIpAddress(out, 3, "1.2.3.4"), -1);
}

SmpBind bind(int32_t kind, const Bytes *octets, int32_t number = 0) {
    auto *value = octets ? const_cast<uint8_t *>(octets->data()) : nullptr;
    return {0, nullptr, kind, octets ? static_cast<int32_t>(octets->size()) : 0, value, number};
}

// Values to text at a capacity: an OctetString of 254 octets fills 256 characters, one of 255
// does not fit. Octets that arrived in constructed form are absent: no text.
TEST(SmxText, ValueToText) {
    const Bytes five = hex("0102030405"), negative = hex("8000"), counter5 = hex("00FFFFFFFF"),
                minus1 = hex("FF"), text = hex("61620A"), addr3 = hex("0A0000"),
                addr = hex("0A000001"), oid = hex("2B0601"), none, a254(254, 'a'), a255(255, 'a'),
                odd = hex("00FF225C7F1F207E");
    const SmpBind absent[] = {{0, nullptr, SMP_KIND_OCTET_STRING, 4, nullptr, 0},
                              {0, nullptr, SMP_KIND_IP_ADDRESS, 4, nullptr, 0},
                              {0, nullptr, SMP_KIND_OBJECT_ID, 4, nullptr, 0}};
    const struct {
        SmpBind bind;
        int capacity;
        std::string text;
    } rows[] = {
        {bind(SMP_KIND_INTEGER, &five), 9, "OVERFLOW"},
        {bind(SMP_KIND_INTEGER, &five), 8, "!"},
        {bind(SMP_KIND_INTEGER, &minus1, -1), 64, "-1"},
        {bind(SMP_KIND_INTEGER, nullptr, INT32_MIN), 64, "-2147483648"},
        {bind(SMP_KIND_COUNTER, &negative), 64, "NEGATIVE"},
        {bind(SMP_KIND_COUNTER, &negative), 8, "!"},
        {bind(SMP_KIND_GAUGE, &five), 64, "OVERFLOW"},
        {bind(SMP_KIND_COUNTER, &counter5, -1), 64, "4294967295"},
        {bind(SMP_KIND_TIME_TICKS, &none), 64, "0"},
        {bind(SMP_KIND_TIME_TICKS, nullptr, 360000), 64, "360000"},
        {bind(SMP_KIND_NULL, nullptr), 64, "!"},
        {bind(SMP_KIND_NONE, nullptr), 64, "!"},
        {bind(SMP_KIND_OPAQUE, &text), 64, "!"},
        {bind(42, &text), 64, "!"},
        {bind(SMP_KIND_OCTET_STRING, &text), 7, "\"ab\\12\""},
        {bind(SMP_KIND_OCTET_STRING, &text), 6, "!"},
        {bind(SMP_KIND_OCTET_STRING, &odd), 64, "\"\\0\\377\"\\\\177\\37 ~\""},
        {bind(SMP_KIND_OCTET_STRING, &none), 2, "\"\""},
        {bind(SMP_KIND_OCTET_STRING, &none), 1, "!"},
        {bind(SMP_KIND_OCTET_STRING, &text), 2, "!"}, // longer than the capacity at once
        {bind(SMP_KIND_OCTET_STRING, &a254), 256, "\"" + repeat("a", 254) + "\""},
        {bind(SMP_KIND_OCTET_STRING, &a255), 256, "!"},
        {bind(SMP_KIND_IP_ADDRESS, &addr3), 64, "!"},
        {bind(SMP_KIND_IP_ADDRESS, &addr), 64, "10.0.0.1"},
        {bind(SMP_KIND_OBJECT_ID, &oid), 64, "1.3.6.1"},
        {absent[0], 64, "!"},
        {absent[1], 64, "!"},
        {absent[2], 64, "!"},
    };
    testing_support::EventCapture capture;
    int saved = logLevel;
    for (const auto &r : rows) {
        logLevel = 2; // the module's one trace test, over every row
        std::vector<char> buf(static_cast<size_t>(r.capacity) + 1);
        int n = smxValueToText(buf.data(), r.capacity, &r.bind);
        logLevel = saved;
        EXPECT_EQ(got(buf.data(), n), r.text);
        EXPECT_TRUE(n < 0 || buf[static_cast<size_t>(n)] == '\0');
    }
    EXPECT_NE(capture.joined().find("smxValueToText: Kind 5 Len 2\nsmxValueToText 3\n"
                                    "smxValueToText 4\n"),
              std::string::npos);
}

// Rows "KIND:ROOM:TEXT:RESULT:LENGTH:NUMBER:STORED" (STORED "-": no value pointer left).
TEST(SmxText, TextToValue) {
    uint8_t storage[8];
    for (const std::string &row : words(
             {"1:8:-0x10:0:0:-16:- 6:0:4294967295:0:0:-1:- 7:0:12x:-1:0:12:- 2:3:abc:3:3:0:616263",
              "2:3:abcd:-1:-1:0: 3:4:1.2.3.4:4:4:0:01020304 3:3:1.2.3.4:-1:-1:0:",
              "8:8:1.3.6.1:3:3:0:2B0601 9:5:anything:0:0:0:- 0:5:1:-1:5:3: 4:5:1:-1:5:3:",
              "77:5:1:-1:5:3:"})) {
        std::vector<std::string> f(1);
        for (char c : row)
            c == ':' ? f.emplace_back() : f.back() += c;
        SmpBind b{0, nullptr, std::stoi(f[0]), std::stoi(f[1]), storage, 3};
        int result = smxTextToValue(&b, f[2].c_str());
        EXPECT_EQ(result, std::stoi(f[3])) << row;
        EXPECT_EQ(b.valueLen, std::stoi(f[4])) << row;
        EXPECT_EQ(b.number, std::stoi(f[5])) << row;
        EXPECT_EQ(b.value, f[6] == "-" ? nullptr : storage) << row;
        EXPECT_TRUE(result <= 0 || got(storage, result, true) == f[6]) << row;
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

// Rows "TEXT:RESULT:VALUE", unsigned (both parsers) then signed.
TEST(NumberText, Forms) {
    const auto split = [](const std::string &row, std::string &text, int &result) {
        size_t a = row.find(':'), b = row.find(':', a + 1);
        text = row.substr(0, a);
        result = std::stoi(row.substr(a + 1, b - a - 1));
        return std::stoll(row.substr(b + 1));
    };
    std::string text;
    int result;
    for (const std::string &row :
         words({"10:0:10 010:0:8 0x1f:0:31 0x1E:0:30 0X1F:-1:0 08:-1:0 12a:-1:12 :0:0 0:0:0",
                "0x:0:0 4294967296:0:0 4294967295:0:4294967295 5s:-1:5 -5:-1:0 0777:0:511",
                "0xffffffff:0:4294967295 0x100000001:0:1"})) {
        auto value = static_cast<uint32_t>(split(row, text, result));
        uint32_t v = 12345, u = 12345;
        EXPECT_EQ(smxParseNumber(&v, text.c_str()), result) << row;
        EXPECT_EQ(smxTextToUnsigned(&u, text.c_str()), result) << row;
        EXPECT_EQ(v, value) << row;
        EXPECT_EQ(u, value) << row;
    }
    for (const std::string &row : words({"-10:0:-10 -0x10:0:-16 -:0:0 42:0:42 -1x:-1:-1",
                                         "4294967295:0:-1 -2147483648:0:-2147483648"})) {
        auto value = static_cast<int32_t>(split(row, text, result));
        int32_t v = 99;
        EXPECT_EQ(smxTextToInteger(&v, text.c_str()), result) << row;
        EXPECT_EQ(v, value) << row;
    }
    uint32_t u = 12345;
    EXPECT_EQ(smxParseNumber(&u, " 5"), -1);
    EXPECT_EQ(u, 0u);
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
