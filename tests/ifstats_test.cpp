// The readers of /proc/net/dev with /sys/class/net and of /proc/net/tcp,
// against written files.
#include "agent/mib2.h"
#include "platform/ifstats.h"
#include "platform/sysnet.h"

#include "tests/support.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testing_support;

namespace {

// Counters in the kernel's 64 bits, names cut to IFS_NAME_MAX; short, empty, unnamed and
// overlong lines skipped; every interface read, and under a bound the last
// ones by index left out.
TEST(IfsRead, ReadsRowsAndCompletesThemFromSys) {
    TempDir d;
    std::string text = "Inter-| Receive | Transmit\n face |bytes packets errs ...\n";
    text.append(600, 'x');
    text += ": 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1\n\n: 1 2 3\neth0: 1 2 3\n"
            "eth0: 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 x\n"
            "  lo:4294967297 4294967316 3 4 5 6 7 8   4294967296 4294967306 11 12 13 14 15 16\n"
            "  eth0: 20 2 0 0 0 0 0 0 30 3 0 0 0 0 0 0\n";
    text.append(40, 'n');
    text += ": 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n";
    writeFile(d.file("dev"), text);
    const std::vector<std::array<std::string, 3>> sys = {
        {"lo", "type", "772"},        {"lo", "mtu", "65536"},      {"lo", "operstate", "unknown"},
        {"lo", "flags", "0x9"},       {"eth0", "type", "1"},       {"eth0", "speed", "10000"},
        {"eth0", "mtu", "1500"},      {"eth0", "operstate", "up"}, {"eth0", "flags", "0x1103"},
        {"eth0", "ifalias", "uplink"}};
    for (const auto &[dev, leaf, value] : sys) {
        std::filesystem::create_directories(d.file("sys/" + dev));
        writeFile(d.file("sys/" + dev + "/" + leaf), value + "\n");
    }
    std::filesystem::create_directory(d.file("sys/eth0/device"));
    std::vector<IfsRow> t;
    const std::string dev = d.file("dev"), sysDir = d.file("sys");
    ASSERT_EQ(ifsRead(&t, MIB2_ROWS_MAX, dev.c_str(), sysDir.c_str()), 3);
    // Per row: name/alias, in octets, packets (less multicast: RFC 1213 ifInUcastPkts),
    // multicast, errors, out octets, packets, errors, type, mtu, speed (10 Gb/s does not fit a
    // Gauge), in Mb/s, operStatus ("unknown" but IFF_UP is up; nothing in /sys is other and
    // down), promiscuous, connector.
    std::string rows;
    for (const IfsRow &r : t) {
        rows.append(r.name).append("/").append(r.alias);
        for (uint64_t v : std::initializer_list<uint64_t>{
                 r.inOctets, r.inPackets, r.inMulticast, r.inErrors, r.outOctets, r.outPackets,
                 r.outErrors, r.type, r.mtu, r.speed, r.highSpeed, r.operStatus, r.promiscuous,
                 r.connector})
            rows.append(" ").append(std::to_string(v));
        rows.append("\n");
    }
    EXPECT_EQ(rows, "lo/ 4294967297 4294967308 8 3 4294967296 4294967306 11 24 65536 0 0 1 0 0\n"
                    "eth0/uplink 20 2 0 0 30 3 0 6 1500 4294967295 10000 1 1 1\n" +
                        std::string(IFS_NAME_MAX, 'n') + "/ 0 0 0 0 0 0 0 1 0 0 0 2 0 0\n");

    // Against an earlier reading: lo's counters went back, eth0's only rose, the
    // third row had another name.
    std::vector<IfsRow> earlier = t;
    for (IfsRow &r : earlier)
        r.discontinuity = 7;
    earlier[0].outErrors += 1, earlier[1].inOctets -= 1, earlier[2].name[0] = 'm';
    ifsCarryDiscontinuities(earlier, &t, 9);
    EXPECT_EQ(std::to_string(t[0].discontinuity) + std::to_string(t[1].discontinuity) +
                  std::to_string(t[2].discontinuity),
              "979");

    // 80 more, listed against the order of their kernel indexes.
    for (int i = 0; i < 80; ++i) {
        std::string name = "if" + std::to_string(i);
        text += name + ": 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n";
        std::filesystem::create_directories(d.file("sys/" + name));
        writeFile(d.file("sys/" + name + "/ifindex"), std::to_string(1000 - i) + "\n");
    }
    writeFile(d.file("dev"), text);
    EXPECT_EQ(ifsRead(&t, MIB2_ROWS_MAX, dev.c_str(), sysDir.c_str()), 83);
    EXPECT_EQ(ifsRead(&t, 6, dev.c_str(), sysDir.c_str()), 6);
    std::string kept;
    for (const IfsRow &r : t)
        kept += std::to_string(r.index) + " " + std::string(r.name, 2) + ",";
    EXPECT_EQ(kept, "1 lo,2 et,3 nn,921 if,922 if,923 if,");
    EXPECT_EQ(ifsRead(&t, MIB2_ROWS_MAX, d.file("missing").c_str(), nullptr), -1);
    EXPECT_TRUE(t.empty());
}

// Sockets listed from the highest port down, one twice: all read, in index
// order, once each; under a bound the highest are left out.
TEST(SnetRead, ReadsEverySocketInIndexOrder) {
    LINUX_ONLY("the socket tables are read from /proc/net; the Windows agent serves none");
    TempDir d;
    std::string text = "  sl  local_address rem_address   st\n";
    for (int port = 4207; port >= 0; --port) {
        char line[64];
        snprintf(line, sizeof line, "%4d: 0100007F:%04X 00000000:0000 0A\n", port,
                 port ? port : 4207);
        text += line;
    }
    writeFile(d.file("tcp"), text);
    std::vector<SnetSocket> rows;
    auto portsFromOne = [&] {
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].localAddress != 0x7F000001 || rows[i].localPort != i + 1 ||
                rows[i].state != 10)
                return false;
        return true;
    };
    EXPECT_EQ(snetReadSockets(&rows, MIB2_ROWS_MAX, d.file("tcp").c_str()), 4207);
    EXPECT_TRUE(portsFromOne());
    EXPECT_EQ(snetReadSockets(&rows, 4000, d.file("tcp").c_str()), 4000);
    EXPECT_TRUE(portsFromOne());
    EXPECT_EQ(snetReadSockets(&rows, 10, d.file("missing").c_str()), -1);
}

} // namespace
