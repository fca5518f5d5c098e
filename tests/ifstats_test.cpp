// The reader of /proc/net/dev and /sys/class/net, against files the tests
// write.
#include "platform/ifstats.h"

#include "tests/support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace testing_support;

namespace {

const std::string header =
    "Inter-|   Receive                                                |  Transmit\n"
    " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs "
    "drop fifo colls carrier compressed\n";

TEST(IfsParseLine, TakesTheCountersItNeeds) {
    IfsRow row;
    ASSERT_EQ(ifsParseLine(&row, "  eth0: 100 20 3 4 5 6 7 8   900 10 11 12 13 14 15 16\n"), 0);
    EXPECT_STREQ(row.name, "eth0");
    EXPECT_EQ(row.inOctets, 100u);
    EXPECT_EQ(row.inPackets, 12u); // 20 less 8 multicast
    EXPECT_EQ(row.inErrors, 3u);
    EXPECT_EQ(row.outOctets, 900u);
    EXPECT_EQ(row.outPackets, 10u);
    EXPECT_EQ(row.outErrors, 11u);
    EXPECT_EQ(row.type, 1u);       // other, until /sys says more
    EXPECT_EQ(row.operStatus, 2u); // down, likewise
}

TEST(IfsParseLine, CountersWrapAt32Bits) {
    IfsRow row;
    ASSERT_EQ(ifsParseLine(&row, "lo:4294967297 1 0 0 0 0 0 0 4294967296 1 0 0 0 0 0 0"), 0);
    EXPECT_EQ(row.inOctets, 1u);
    EXPECT_EQ(row.outOctets, 0u);
}

TEST(IfsParseLine, RefusesWhatIsNotAnInterfaceLine) {
    IfsRow row;
    for (const char *line : {"Inter-|   Receive  |  Transmit", ": 1 2 3", "eth0: 1 2 3",
                             "eth0: 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 x", ""}) {
        EXPECT_EQ(ifsParseLine(&row, line), -1) << line;
    }
}

TEST(IfsParseLine, CutsLongNames) {
    IfsRow row;
    std::string line = std::string(40, 'n') + ": 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0";
    ASSERT_EQ(ifsParseLine(&row, line.c_str()), 0);
    EXPECT_EQ(std::string(row.name), std::string(IFS_NAME_MAX, 'n'));
}

TEST(IfsRead, ReadsRowsAndCompletesThemFromSys) {
    TempDir d;
    writeFile(d.file("dev"), header + "    lo: 10 1 0 0 0 0 0 0 10 1 0 0 0 0 0 0\n"
                                      "  eth0: 20 2 0 0 0 0 0 0 30 3 0 0 0 0 0 0\n"
                                      "  wlan: 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n");
    std::string sys = d.file("sys");
    mkdir(sys.c_str(), 0700);
    auto put = [&](const std::string &dev, const std::string &leaf, const std::string &text) {
        mkdir((sys + "/" + dev).c_str(), 0700);
        writeFile(sys + "/" + dev + "/" + leaf, text);
    };
    put("lo", "type", "772\n");
    put("lo", "mtu", "65536\n");
    put("lo", "operstate", "unknown\n");
    put("lo", "flags", "0x9\n");
    put("eth0", "type", "1\n");
    put("eth0", "mtu", "1500\n");
    put("eth0", "speed", "10000\n"); // 10 Gb/s does not fit a Gauge
    put("eth0", "operstate", "up\n");
    put("wlan", "type", "801\n");
    put("wlan", "speed", "-1\n");
    put("wlan", "operstate", "down\n");

    IfsTable t;
    ASSERT_EQ(ifsRead(&t, d.file("dev").c_str(), sys.c_str()), 3);
    EXPECT_STREQ(t.rows[0].name, "lo");
    EXPECT_EQ(t.rows[0].type, 24u);
    EXPECT_EQ(t.rows[0].mtu, 65536u);
    EXPECT_EQ(t.rows[0].operStatus, 1u); // "unknown" but IFF_UP
    EXPECT_EQ(t.rows[0].speed, 0u);
    EXPECT_EQ(t.rows[1].type, 6u);
    EXPECT_EQ(t.rows[1].speed, 0xFFFFFFFFu);
    EXPECT_EQ(t.rows[1].operStatus, 1u);
    EXPECT_EQ(t.rows[1].outOctets, 30u);
    EXPECT_EQ(t.rows[2].type, 1u);
    EXPECT_EQ(t.rows[2].speed, 0u);
    EXPECT_EQ(t.rows[2].mtu, 0u);
    EXPECT_EQ(t.rows[2].operStatus, 2u);

    put("eth0", "speed", "1000\n");
    ASSERT_EQ(ifsRead(&t, d.file("dev").c_str(), sys.c_str()), 3);
    EXPECT_EQ(t.rows[1].speed, 1000000000u);
}

TEST(IfsRead, BoundsRowsAndLines) {
    TempDir d;
    std::string text = header + std::string(600, 'x') + ": 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1\n";
    for (int i = 0; i < IFS_MAX_ROWS + 5; ++i)
        text += "if" + std::to_string(i) + ": 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n";
    writeFile(d.file("dev"), text);
    IfsTable t;
    ASSERT_EQ(ifsRead(&t, d.file("dev").c_str(), nullptr), IFS_MAX_ROWS);
    EXPECT_STREQ(t.rows[0].name, "if0"); // the overlong line was skipped whole
    EXPECT_EQ(ifsRead(&t, d.file("missing").c_str(), nullptr), -1);
    EXPECT_EQ(t.count, 0);
}

} // namespace
