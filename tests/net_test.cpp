#include "platform/net.h"
#include "tests/support.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

constexpr uint32_t LOOPBACK = 0x7F000001u;

TEST(Host, PortsAndAddresses) {
    EXPECT_EQ(netStartup() + netStartup(), 0);
    const std::vector<std::pair<const char *, int>> ports = {
        // no range check
        {"snmp", 161}, {"snmp-trap", 162}, {"0x10", 16}, {"010", 8},    {"161abc", -1},
        {"", 0},       {"70000", 70000},   {"-5", -1},   {nullptr, -1}, {"4294967294", -2}};
    for (const auto &[text, port] : ports)
        EXPECT_EQ(hostGetServicePort(text), port) << (text ? text : "(none)");
    // inet_addr's short and hexadecimal forms; all ones is indistinguishable from failure.
    const uint32_t NO = HOST_NO_ADDRESS;
    const std::vector<std::pair<const char *, uint32_t>> addresses = {
        {"10.1.2.3", 0x0A010203u},    {"localhost", LOOPBACK},
        {"10.1", 0x0A000001u},        {"0x7f.1", LOOPBACK},
        {"255.255.255.255", NO},      {"10.1.2.3.4", NO},
        {"no-such-host.invalid", NO}, {nullptr, NO}};
    for (const auto &[text, address] : addresses)
        EXPECT_EQ(hostGetHostAddress(text), address) << (text ? text : "(none)");
    EXPECT_EQ(hostSnmpTrapPort(), 162);
    EXPECT_EQ(hostGetLoopbackAddress(), LOOPBACK);
    // The limit is the text's length; an address without a name gives its dotted text.
    char name[300];
    int length = hostGetHostName(name, 255, LOOPBACK);
    ASSERT_GT(length, 0);
    EXPECT_EQ(hostGetHostName(name, length - 1, LOOPBACK), -1);
    EXPECT_EQ(hostGetHostName(name, 10, 0xC0000237u), 10);
    EXPECT_STREQ(name, "192.0.2.55");
    EXPECT_EQ(hostGetHostName(name, 9, 0xC0000237u), -1);
}

TEST(Udp, SendReceiveAndFailures) {
    int receiver = udpOpenSocket(), sender = udpOpenSocket(), other = udpOpenSocket();
    ASSERT_EQ(udpBindSocket(receiver, LOOPBACK, 0), 0);
    ASSERT_EQ(udpBindSocket(sender, LOOPBACK, 0), 0);
    int port = udpGetLocalPort(receiver);
    EXPECT_EQ(udpBindSocket(other, LOOPBACK, static_cast<uint16_t>(port)), -1); // taken
    // A port above 16 bits uses its low bits.
    UdpEndpoint *to = udpNew(sender, LOOPBACK, static_cast<uint32_t>(port + 65536));
    EXPECT_EQ(udpRef(to), to);
    EXPECT_EQ(udpFree(to), nullptr); // one reference left
    const uint8_t data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(udpSend(to, data, 10), 0);
    EXPECT_EQ(udpSend(to, data, 0), 0); // an empty datagram is a datagram too
    EXPECT_EQ(udpSend(to, data, -1), 1);
    EXPECT_EQ(udpSend(nullptr, data, 4), 1);
    uint8_t got[16];
    uint32_t from = 0;
    uint16_t fromPort = 0;
    ASSERT_EQ(udpWaitReadable(receiver, 1000), 1);
    EXPECT_EQ(udpReceive(receiver, got, 4, &from, &fromPort), 5); // longer than the buffer
    EXPECT_EQ(from, LOOPBACK);
    EXPECT_EQ(fromPort, udpGetLocalPort(sender));
    ASSERT_EQ(udpWaitReadable(receiver, 1000), 1);
    EXPECT_EQ(udpReceive(receiver, got, 16, nullptr, nullptr), 0);
    EXPECT_EQ(udpSend(to, data, 10), 0);
    ASSERT_EQ(udpWaitReadable(receiver, 1000), 1);
    EXPECT_EQ(udpReceive(receiver, got, 10, nullptr, nullptr), 10); // exactly fits
    EXPECT_EQ(udpWaitReadable(receiver, 50), 0);
    // A receive timeout ends a receive that nothing answers, not one that waits.
    ASSERT_EQ(udpSetReceiveTimeout(receiver, 50), 0);
    EXPECT_EQ(udpReceive(receiver, got, 16, nullptr, nullptr), UDP_TIMED_OUT);
    EXPECT_EQ(udpSend(to, data, 3), 0);
    EXPECT_EQ(udpReceive(receiver, got, 16, nullptr, nullptr), 3);
    EXPECT_EQ(udpReceive(receiver, nullptr, 4, nullptr, nullptr), -1);
    EXPECT_EQ(udpReceive(-1, got, 4, nullptr, nullptr), -1);
    EXPECT_EQ(udpWaitReadable(-1, 0), -1);
    EXPECT_EQ(udpGetLocalPort(-1), -1);
    // Broadcast is refused without SO_BROADCAST.
    udpSetSocket(to, sender);
    UdpEndpoint *broadcast = udpNew(udpGetSocket(to), HOST_NO_ADDRESS, 5555);
    EXPECT_EQ(udpSend(broadcast, data, 1), 1);
    udpFree(broadcast);
    udpFree(to);
    for (int s : {receiver, sender, other})
        EXPECT_EQ(udpCloseSocket(s), 0);
    EXPECT_EQ(udpCloseSocket(-1), -1);
}

} // namespace
