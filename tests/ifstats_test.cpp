// The reader of /proc/net/dev and /sys/class/net, against written files.
#include "platform/ifstats.h"

#include "tests/support.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testing_support;

namespace {

// Counters cut to 32 bits, names to IFS_NAME_MAX; short, empty, unnamed and
// overlong lines skipped; rows bounded.
TEST(IfsRead, ReadsRowsAndCompletesThemFromSys) {
    TempDir d;
    std::string text = "Inter-| Receive | Transmit\n face |bytes packets errs ...\n" +
                       std::string(600, 'x') +
                       ": 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1\n\n: 1 2 3\neth0: 1 2 3\n"
                       "eth0: 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 x\n" +
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
    // Per row: name, in octets, packets (less multicast: RFC 1213 ifInUcastPkts), errors, out
    // octets, packets, errors, type, mtu, speed (10 Gb/s does not fit a Gauge), operStatus
    // ("unknown" but IFF_UP is up; nothing in /sys is other and down).
    std::string rows;
    for (int i = 0; i < t.count; ++i) {
        const IfsRow &r = t.rows[i];
        for (uint32_t v : {r.inOctets, r.inPackets, r.inErrors, r.outOctets, r.outPackets,
                           r.outErrors, r.type, r.mtu, r.speed, r.operStatus})
            rows += " " + std::to_string(v);
        rows += std::string(" ") + r.name + "\n";
    }
    EXPECT_EQ(rows, " 1 12 3 0 10 11 24 65536 0 1 lo\n 20 2 0 30 3 0 6 1500 4294967295 1 eth0\n"
                    " 0 0 0 0 0 0 1 0 0 2 " +
                        std::string(IFS_NAME_MAX, 'n') + "\n");

    for (int i = 0; i < IFS_MAX_ROWS; ++i)
        text += "if" + std::to_string(i) + ": 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n";
    writeFile(d.file("dev"), text);
    EXPECT_EQ(ifsRead(&t, d.file("dev").c_str(), nullptr), IFS_MAX_ROWS);
    EXPECT_EQ(ifsRead(&t, d.file("missing").c_str(), nullptr), -1);
    EXPECT_EQ(t.count, 0);
}

} // namespace
