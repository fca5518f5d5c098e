#include "platform/log.h"
#include "smx/def.h"
#include "smx/number.h"
#include "smx/smx.h"
#include "tests/ber_craft.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ber::Bytes;
using ber::hex;
using testing_support::words;

std::string repeat(const char *text, int n) {
    std::string out;
    while (n-- > 0)
        out += text;
    return out;
}
// The fields of a table row.
std::vector<std::string> fields(const std::string &row, char separator) {
    std::vector<std::string> f(1);
    for (char c : row)
        c == separator ? f.emplace_back() : f.back() += c;
    return f;
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
    ~Definitions() { defTable = oldTable, defCount = oldCount; }
};

// Names: two of one value, one of two values, a long value; texts of 256 characters fit the
// work text, 257 do not. Names and arcs to identifiers, with a look-up at arc boundaries.
TEST(SmxText, TextsAndObjectIds) {
    Definitions table({"system", "1.3.6.1.2.1.1", "sysDescr", "1.3.6.1.2.1.1.1", "first", "1.3.9",
                       "second", "1.3.9", "first", "1.3.8", "big", "1.3" + repeat(".2", 124),
                       "ifDescr", "1.3.6.1.2.1.2.2.1.2"});
    // Rows "TEXT op HEX[@capacity]": op ">" text to identifier (capacity 200), "<" identifier
    // to text (capacity 256), unless given, "=" both; "!" is a failure. 2^32 wraps in text, but
    // an encoded arc over 2^32-1 has no text; "2B86" is a cut-off sub-identifier, used as far as
    // read.
    std::vector<std::string> rows =
        words({"1.3.6.1=2B0601 2.100=8134 3.1>! 1.40>! 0.39>27 2.999>8837 1>28 2>50 >00 0.0<00",
               "1..3>2803 1.3.>2B00 .>00 1.3.6.4294967296>2B0600 1.3.128>2B8100",
               "1.3.6.1.4.1.4294967295>2B060104018FFFFFFF7F 1.3.6.\"ab\">2B06026162",
               "1.3.6.\"a\"\"b\".7>2B060361226207 1.3.\"\">2B00 1.3.\"\xff\">2B01817F 1.3.6.\"ab>!",
               "1.3.6.\"ab\"\">! 1.3.6.\"ab\"x>! \"ab\".1>! 1.\"ab\">! 1.3a>! 1.-3>! first>2B09",
               "sysDescr.0=2B06010201010100 system=2B0601020101 system.>2B060102010100",
               "sysUpTime.0>! SYSTEM.1>! sys.1>! big.2.2.3>! 2.4294967215<8FFFFFFF7F 1.3.6<2B86",
               "1.3.6.1<2B0601@7 !<2B0601@6 1.3<2B@3 !<2B@2 !< sysDescr.0<2B06010201010100@10",
               "!<2B06010201010100@9 system.10<2B06010201010A first.5<2B0905 1.3.6.1>2B0601@3",
               "1.3.6.1>!@2 1.3.6.1.128>!@4 1.3>!@0 !<2B069080808000"});
    rows.push_back("big.2.2>2B" + repeat("02", 126));
    rows.push_back("first.11" + repeat(".1", 124) + "<2B090B" + repeat("01", 124));
    rows.push_back("1.3.9" + repeat(".1", 126) + "<2B09" + repeat("01", 126) + "@300");
    rows.push_back("1.3.11" + repeat(".1", 125) + "<2B0B" + repeat("01", 125));
    rows.push_back("!<2B0B" + repeat("01", 125) + "@255");
    rows.push_back("!<2B" + repeat("01", 127));
    for (const std::string &row : rows) {
        size_t at = row.find_first_of("<=>");
        std::string text = row.substr(0, at), octets = row.substr(at + 1);
        int capacity = row[at] == '<' ? 256 : 200;
        if (size_t c = octets.find('@'); c != std::string::npos) {
            capacity = std::stoi(octets.substr(c + 1));
            octets.resize(c);
        }
        if (row[at] != '<') {
            std::vector<uint8_t> out(201, 0xAA);
            int n = smxTextToObjectId(out.data(), capacity, text.c_str());
            EXPECT_EQ(got(out.data(), n, true), octets) << row;
            EXPECT_EQ(out[static_cast<size_t>(capacity)], 0xAA) << row; // nothing past the capacity
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
    EXPECT_EQ(smxTextToObjectId(out, 8, "1.3.6 "), -1);
    EXPECT_EQ(smxNumericToObjectId(out, 3, "1.3.6.1.200"), -1);
    char buf[64];
    EXPECT_EQ(smxObjectIdToNumeric(buf, 2, hex("2B").data(), 1), -1);
    defTable = nullptr; // a count without a table must not be walked
    EXPECT_EQ(smxTextToObjectId(out, 8, "system.1"), -1);
    EXPECT_EQ(smxObjectIdToText(buf, 64, hex("2B06010201010100").data(), 8), 17);
    defTable = table.entries.data();
    EXPECT_EQ(defNameToNumeric(buf, 63, "system.4"), 13);
    EXPECT_STREQ(buf, "1.3.6.1.2.1.1.4");
    EXPECT_EQ(defNameToNumeric(buf, 63, "other.4"), 0);
    EXPECT_STREQ(buf, "other.4");
    EXPECT_EQ(defNameToNumeric(buf, 14, "system.4"), -1);
    EXPECT_EQ(defNumericToName(buf, 63, "1.3.6.1.2.1.10"), 14); // no arc boundary
    EXPECT_EQ(defNumericToName(buf, 7, "1.3.6.1.2.1.1.4"), -1);
    uint8_t arcsOut[32];
    const uint32_t arcs[] = {7, 300}, big[] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
    EXPECT_EQ(got(arcsOut, smxTextAndOidToObjectId(arcsOut, 32, "ifDescr", arcs, 2), true),
              "2B060102010202010207822C");
    EXPECT_EQ(smxTextAndOidToObjectId(arcsOut, sizeof arcsOut, "1.3", big, 3), 16);
    EXPECT_EQ(smxTextAndOidToObjectId(arcsOut, sizeof arcsOut, "1.3", nullptr, 0), 1);
    EXPECT_EQ(smxTextAndOidToObjectId(arcsOut, sizeof arcsOut, "nosuch", arcs, 2), -1);
    EXPECT_EQ(smxTextAndOidToObjectId(arcsOut, 11, "ifDescr", arcs, 2), -1);
}

// Sub-identifier encoding is taken by the identifier rows above; here the arrays of arcs.
TEST(SmxText, SubIds) {
    const Bytes oid = hex("2B0601822C00");
    const uint32_t back[] = {43, 6, 1, 300, 0};
    uint32_t ids[8];
    EXPECT_EQ(smxObjectIdToSubIds(ids, 8, oid.data(), 6), 5);
    EXPECT_EQ(std::vector<uint32_t>(ids, ids + 5), std::vector<uint32_t>(back, back + 5));
    EXPECT_EQ(smxObjectIdToSubIds(ids, 2, oid.data(), 6), 2);
    EXPECT_EQ(smxObjectIdToSubIds(ids, -1, oid.data(), 6), -1);
    EXPECT_EQ(smxObjectIdToSubIds(ids, 8, oid.data(), -1), -1);
    EXPECT_EQ(smxObjectIdToSubIds(ids, 8, hex("2B9080808000").data(), 6), -1); // over 2^32-1
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

// Numbers, addresses and octets to text at a capacity, address texts to octets, and names.
TEST(SmxText, ScalarTexts) {
    // Rows "FORM:VALUE:CAPACITY:TEXT", FORM d decimal, o octal, u unsigned.
    char buf[32];
    for (const std::string &row :
         words({"d:0:1:0 d:4294967295:10:4294967295 d:4294967295:9:! d:5:0:!",
                "d:5:-3:! o:8:2:10 o:255:3:377 o:255:2:! u:123:3:123"})) {
        std::vector<std::string> f = fields(row, ':');
        auto *form = f[0] == "d"   ? smxFormatDecimal
                     : f[0] == "o" ? smxFormatOctal
                                   : smxUnsignedToText;
        EXPECT_EQ(got(buf, form(buf, std::stoi(f[2]), static_cast<uint32_t>(std::stoul(f[1])))),
                  f[3])
            << row;
    }
    EXPECT_EQ(smxIntegerToText(buf, 11, INT32_MIN), 11);
    EXPECT_STREQ(buf, "-2147483648");
    EXPECT_EQ(smxIntegerToText(buf, 10, INT32_MIN), -1);
    EXPECT_EQ(smxIntegerToText(buf, 0, 5), -1);
    const uint8_t wide[4] = {255, 255, 255, 255};
    EXPECT_EQ(smxIpAddressToText(buf, 15, wide, 4), 15);
    EXPECT_STREQ(buf, "255.255.255.255");
    EXPECT_EQ(smxIpAddressToText(buf, 14, wide, 4), -1);
    EXPECT_EQ(smxIpAddressToText(buf, 15, wide, 3), -1);
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
    // Kind and status names.
    for (int i = 0; i < SMP_KIND_COUNT; ++i) {
        EXPECT_EQ(smxKindCode(smxKindName(i)), i);
        EXPECT_EQ(smxErrorStatusCode(smxErrorStatusName(i % 6)), i % 6);
    }
    EXPECT_STREQ(smxKindName(3), "IpAddress");
    EXPECT_STREQ(smxErrorStatusName(5), "genErr");
    EXPECT_STREQ(smxV2ErrorStatusName(6), "noAccess");
    EXPECT_STREQ(smxV2ErrorStatusName(18), "inconsistentName");
    EXPECT_STREQ(smxV2ErrorStatusName(19), "unknown(19)");
    EXPECT_EQ(smxKindCode("integer") + smxKindCode("") + smxErrorStatusCode("GENERR"), 0);
    EXPECT_STREQ(smxKindName(INT32_MIN), "unknown(-2147483648)");
    // Two out-of-table names used in one statement stay distinct.
    const char *a = smxErrorStatusName(6), *b = smxKindName(14);
    EXPECT_STREQ(a, "unknown(6)");
    EXPECT_STREQ(b, "unknown(14)");
}

// Rows "KIND|OCTETS|NUMBER|CAPACITY|TEXT"; OCTETS "-" none, "~" four octets that arrived in
// constructed form, so absent: no text. An OctetString of 254 octets fills 256 characters.
TEST(SmxText, ValuesToTextAndBack) {
    std::vector<std::string> rows = words(
        {"1|0102030405|0|9|OVERFLOW 1|0102030405|0|8|! 1|FF|-1|64|-1",
         "1|-|-2147483648|64|-2147483648 5|8000|0|64|NEGATIVE 5|8000|0|8|!",
         "6|0102030405|0|64|OVERFLOW 5|00FFFFFFFF|-1|64|4294967295 7|-|0|64|0",
         "7|-|360000|64|360000 9|-|0|64|! 0|-|0|64|! 4|61620A|0|64|! 42|61620A|0|64|!",
         "2|61620A|0|7|\"ab\\12\" 2|61620A|0|6|! 2|-|0|2|\"\" 2|-|0|1|! 2|61620A|0|2|!",
         "3|0A0000|0|64|! 3|0A000001|0|64|10.0.0.1 8|2B0601|0|64|1.3.6.1 2|~|0|64|!",
         "3|~|0|64|! 8|~|0|64|!",
         // Counter64: the 32-bit kinds' rules at 64 bits; the exceptions have empty text.
         "10|00FFFFFFFFFFFFFFFF|-1|64|18446744073709551615 10|010000000000000000|0|64|OVERFLOW",
         "10|80|0|64|NEGATIVE 10|0100000000|4294967296|64|4294967296 10|00|0|1|0",
         "11|-|0|64| 12|-|0|1| 13|-|0|0|!"});
    rows.push_back("2|00FF225C7F1F207E|0|64|\"\\0\\377\"\\\\177\\37 ~\"");
    rows.push_back("2|" + repeat("61", 254) + "|0|256|\"" + repeat("a", 254) + "\"");
    rows.push_back("2|" + repeat("61", 255) + "|0|256|!");
    testing_support::EventCapture capture;
    int saved = logLevel;
    for (const std::string &row : rows) {
        std::vector<std::string> f = fields(row, '|');
        Bytes octets = hex(f[1]);
        int32_t len = f[1] == "~" ? 4 : static_cast<int32_t>(octets.size());
        SmpBind b{
            0, nullptr, std::stoi(f[0]), len, len ? octets.data() : nullptr, std::stoll(f[2])};
        std::vector<char> buf(std::stoul(f[3]) + 1);
        logLevel = 2; // the module's one trace test, over every row
        int n = smxValueToText(buf.data(), std::stoi(f[3]), &b);
        logLevel = saved;
        EXPECT_EQ(got(buf.data(), n), f[4]) << row;
        EXPECT_TRUE(n < 0 || buf[static_cast<size_t>(n)] == '\0') << row;
    }
    EXPECT_NE(capture.joined().find("smxValueToText: Kind 5 Len 2\nsmxValueToText 3\n"
                                    "smxValueToText 4\n"),
              std::string::npos);
    // Rows "KIND:ROOM:TEXT:RESULT:LENGTH:NUMBER:STORED" (STORED "-": no value pointer left).
    uint8_t storage[8];
    for (const std::string &row : words(
             {"1:8:-0x10:0:0:-16:- 6:0:4294967295:0:0:-1:- 7:0:12x:-1:0:12:- 2:3:abc:3:3:0:616263",
              "2:3:abcd:-1:-1:0: 3:4:1.2.3.4:4:4:0:01020304 3:3:1.2.3.4:-1:-1:0:",
              "8:8:1.3.6.1:3:3:0:2B0601 9:5:anything:0:0:0:- 0:5:1:-1:5:3: 4:5:1:-1:5:3:",
              "77:5:1:-1:5:3: 10:0:18446744073709551615:0:0:-1:- 10:0:0x100000000:0:0:4294967296:-",
              "12:5:x:0:0:0:-"})) {
        std::vector<std::string> f = fields(row, ':');
        SmpBind b{0, nullptr, std::stoi(f[0]), std::stoi(f[1]), storage, 3};
        int result = smxTextToValue(&b, f[2].c_str());
        EXPECT_EQ(result, std::stoi(f[3])) << row;
        EXPECT_EQ(b.valueLen, std::stoi(f[4])) << row;
        EXPECT_EQ(b.number, std::stoll(f[5])) << row;
        EXPECT_EQ(b.value, f[6] == "-" ? nullptr : storage) << row;
        EXPECT_TRUE(result <= 0 || got(storage, result, true) == f[6]) << row;
    }
    EXPECT_EQ(smxTextToOctetString(storage, 0, ""), 0);
    EXPECT_EQ(smxTextToValue(nullptr, "1"), -1);
}

// Rows "TEXT:RESULT:VALUE", unsigned (both parsers) then signed; a part read stays.
TEST(NumberText, Forms) {
    for (const std::string &row :
         words({"10:0:10 010:0:8 0x1f:0:31 0x1E:0:30 0X1F:-1:0 08:-1:0 12a:-1:12 :0:0 0:0:0",
                "0x:0:0 4294967296:0:0 4294967295:0:4294967295 5s:-1:5 -5:-1:0 0777:0:511",
                "0xffffffff:0:4294967295 0x100000001:0:1 078:-1:7 0xDeadBeefG:-1:3735928559"})) {
        std::vector<std::string> f = fields(row, ':');
        uint32_t v = 12345, u = 12345;
        EXPECT_EQ(smxParseNumber(&v, f[0].c_str()), std::stoi(f[1])) << row;
        EXPECT_EQ(smxTextToUnsigned(&u, f[0].c_str()), std::stoi(f[1])) << row;
        EXPECT_EQ(v, std::stoul(f[2])) << row;
        EXPECT_EQ(u, std::stoul(f[2])) << row;
    }
    for (const std::string &row : words({"-10:0:-10 -0x10:0:-16 -:0:0 42:0:42 -1x:-1:-1",
                                         "4294967295:0:-1 -2147483648:0:-2147483648"})) {
        std::vector<std::string> f = fields(row, ':');
        int32_t v = 99;
        EXPECT_EQ(smxTextToInteger(&v, f[0].c_str()), std::stoi(f[1])) << row;
        EXPECT_EQ(v, std::stoi(f[2])) << row;
    }
    uint32_t v = 7;
    EXPECT_EQ(smxParseNumber(&v, " 5"), -1);
    EXPECT_EQ(v, 0u);
    int32_t i;
    EXPECT_EQ(smxTextToInteger(&i, nullptr), -1);
    EXPECT_EQ(smxParseNumber(&v, nullptr), 0);
}

} // namespace
