// The reader of /proc/net/dev and /sys/class/net, against files the tests
// write.
#include "platform/ifstats.h"

#include "tests/support.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testing_support;

namespace {

TEST(IfsParseLine, RefusesWhatIsNotAnInterfaceLine) {
    IfsRow row;
    for (const char *line : {"Inter-|   Receive  |  Transmit", ": 1 2 3", "eth0: 1 2 3",
                             "eth0: 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 x", ""})
        EXPECT_EQ(ifsParseLine(&row, line), -1) << line;
}

// Rows from the dev file, counters cut to 32 bits and names to IFS_NAME_MAX,
// completed from /sys; an overlong line is skipped whole, and rows are bounded.
TEST(IfsRead, ReadsRowsAndCompletesThemFromSys) {
    TempDir d;
    std::string text = "Inter-| Receive | Transmit\n face |bytes packets errs ...\n" +
                       std::string(600, 'x') + ": 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1\n" +
                       "  lo:4294967297 20 3 4 5 6 7 8   4294967296 10 11 12 13 14 15 16\n"
                       "  eth0: 20 2 0 0 0 0 0 0 30 3 0 0 0 0 0 0\n" +
                       std::string(40, 'n') + ": 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n";
    writeFile(d.file("dev"), text);
    const std::vector<std::array<std::string, 3>> sys = {
        {"lo", "type", "772"},   {"lo", "mtu", "65536"},     {"lo", "operstate", "unknown"},
        {"lo", "flags", "0x9"},  {"eth0", "type", "1"},      {"eth0", "speed", "10000"},
        {"eth0", "mtu", "1500"}, {"eth0", "operstate", "up"}};
    for (const auto &[dev, leaf, value] : sys) {
        std::filesystem::create_directories(d.file("sys/" + dev));
        writeFile(d.file("sys/" + dev + "/" + leaf), value + "\n");
    }
    IfsTable t;
    ASSERT_EQ(ifsRead(&t, d.file("dev").c_str(), d.file("sys").c_str()), 3);
    const IfsRow &lo = t.rows[0], &eth = t.rows[1], &cut = t.rows[2];
    EXPECT_STREQ(lo.name, "lo");
    EXPECT_EQ(lo.inOctets, 1u);
    EXPECT_EQ(lo.inPackets, 12u); // 20 less 8 multicast (RFC 1213 ifInUcastPkts)
    EXPECT_EQ(lo.inErrors, 3u);
    EXPECT_EQ(lo.outOctets, 0u);
    EXPECT_EQ(lo.outPackets, 10u);
    EXPECT_EQ(lo.outErrors, 11u);
    EXPECT_EQ(lo.type, 24u);
    EXPECT_EQ(lo.mtu, 65536u);
    EXPECT_EQ(lo.operStatus, 1u); // "unknown" but IFF_UP
    EXPECT_EQ(eth.type, 6u);
    EXPECT_EQ(eth.speed, 0xFFFFFFFFu); // 10 Gb/s does not fit a Gauge
    EXPECT_EQ(eth.operStatus, 1u);
    EXPECT_EQ(std::string(cut.name), std::string(IFS_NAME_MAX, 'n'));
    EXPECT_EQ(cut.type, 1u); // other and down, with nothing in /sys
    EXPECT_EQ(cut.operStatus, 2u);
    EXPECT_EQ(cut.speed, 0u);

    for (int i = 0; i < IFS_MAX_ROWS; ++i)
        text += "if" + std::to_string(i) + ": 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n";
    writeFile(d.file("dev"), text);
    EXPECT_EQ(ifsRead(&t, d.file("dev").c_str(), nullptr), IFS_MAX_ROWS);
    EXPECT_EQ(ifsRead(&t, d.file("missing").c_str(), nullptr), -1);
    EXPECT_EQ(t.count, 0);
}

} // namespace
