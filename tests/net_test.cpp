#include "platform/log.h"
#include "platform/net.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

constexpr uint32_t LOOPBACK = 0x7F000001u;

// A UDP socket for the test's life; closed at the end.
struct Socket {
    int fd = udpOpenSocket();
    ~Socket() {
        if (fd >= 0)
            udpCloseSocket(fd);
    }
    Socket() = default;
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
};

// A receiver bound to 127.0.0.1 on a port the system chose.
struct Receiver {
    Socket socket;
    int port = -1;
    Receiver() {
        if (socket.fd >= 0 && udpBindSocket(socket.fd, LOOPBACK, 0) == 0)
            port = udpGetLocalPort(socket.fd);
    }
    // The next datagram within a second, or nothing when none came.
    bool next(std::vector<uint8_t> &data, int capacity = 2048, uint32_t *from = nullptr,
              uint16_t *fromPort = nullptr) {
        if (udpWaitReadable(socket.fd, 1000) != 1)
            return false;
        data.assign(static_cast<size_t>(capacity), 0);
        int n = udpReceive(socket.fd, data.data(), capacity, from, fromPort);
        if (n < 0)
            return false;
        data.resize(static_cast<size_t>(n));
        return true;
    }
    bool quiet() { return udpWaitReadable(socket.fd, 100) == 0; }
};

struct LevelGuard {
    int saved = logLevel;
    ~LevelGuard() { logLevel = saved; }
};

TEST(NetStartup, SecondCallSucceedsToo) {
    EXPECT_EQ(netStartup(), 0);
    EXPECT_EQ(netStartup(), 0);
}

TEST(HostServicePort, NamesAndNumbers) {
    struct Case {
        const char *text;
        int port;
    };
    const Case cases[] = {
        {"snmp", 161},      {"snmp-trap", 162}, {"1234", 1234}, {"0x10", 16},
        {"010", 8},         {"abc", -1},        {"161abc", -1}, {"", 0},
        {"70000", 70000},   {"0x", 0},          {"-5", -1},     {nullptr, -1},
        {"4294967294", -2}, // parsed as is: no range check
    };
    for (const Case &c : cases)
        EXPECT_EQ(hostGetServicePort(c.text), c.port) << (c.text ? c.text : "(none)");
    EXPECT_EQ(hostSnmpPort(), 161);
    EXPECT_EQ(hostSnmpTrapPort(), 162);
}

TEST(HostAddress, DottedTextAndNames) {
    struct Case {
        const char *text;
        uint32_t address;
    };
    const Case cases[] = {
        {"10.1.2.3", 0x0A010203u},
        {"127.0.0.1", LOOPBACK},
        {"localhost", LOOPBACK},
        {"10.1", 0x0A000001u},                // inet_addr's short form
        {"0x7f.1", LOOPBACK},                 // and its hexadecimal parts
        {"255.255.255.255", HOST_NO_ADDRESS}, // indistinguishable from failure
        {"no-such-host.invalid", HOST_NO_ADDRESS},
        {"10.1.2.3.4", HOST_NO_ADDRESS},
        {"", HOST_NO_ADDRESS},
        {nullptr, HOST_NO_ADDRESS},
    };
    for (const Case &c : cases)
        EXPECT_EQ(hostGetHostAddress(c.text), c.address) << (c.text ? c.text : "(none)");
    EXPECT_EQ(hostGetLoopbackAddress(), LOOPBACK);
}

TEST(HostAddress, TraceOnlyWhenLogLevelIsSet) {
    LevelGuard level;
    EventCapture capture;
    logLevel = 0;
    hostGetHostAddress("10.1.2.3");
    EXPECT_TRUE(capture.messages.empty());
    logLevel = 1;
    hostGetHostAddress("10.1.2.3");
    EXPECT_EQ(capture.joined(), "hostGetHostAddress = 10.1.2.3\n");
}

TEST(HostName, LimitIsTheTextLength) {
    char name[300];
    int length = hostGetHostName(name, 255, LOOPBACK);
    ASSERT_GT(length, 0);
    EXPECT_EQ(static_cast<size_t>(length), strlen(name));
    EXPECT_EQ(hostGetHostAddress(name), LOOPBACK) << name;
    char exact[300];
    EXPECT_EQ(hostGetHostName(exact, length, LOOPBACK), length);
    EXPECT_STREQ(exact, name);
    EXPECT_EQ(hostGetHostName(exact, length - 1, LOOPBACK), -1);
}

TEST(HostName, AddressWithoutNameGivesDottedText) {
    char text[64];
    // 192.0.2.0/24 is reserved for documentation and has no names.
    EXPECT_EQ(hostGetHostName(text, 63, 0xC0000237u), 10);
    EXPECT_STREQ(text, "192.0.2.55");
    EXPECT_EQ(hostGetHostName(text, 10, 0xC0000237u), 10);
    EXPECT_EQ(hostGetHostName(text, 9, 0xC0000237u), -1);
}

TEST(LocalHost, NameAddressAndUname) {
    char name[256];
    int length = hostGetLocalName(name, 255);
    ASSERT_GT(length, 0);
    EXPECT_EQ(hostGetLocalName(name, length - 1), -1);
    EXPECT_EQ(hostGetLocalName(name, length), length);
    EXPECT_EQ(hostGetLocalAddress(), hostGetHostAddress(name));
    EXPECT_NE(hostGetLocalAddress(), HOST_NO_ADDRESS) << "local host " << name << " unresolved";

    UnameRec record;
    memset(&record, 'x', sizeof record);
    EXPECT_EQ(net::uname(&record), 0);
    std::string cut = std::string(name).substr(0, UNAME_FIELD - 1);
    EXPECT_EQ(std::string(record.systemName), cut);
    EXPECT_EQ(std::string(record.nodeName), cut);
    EXPECT_STREQ(record.release, " ");
    EXPECT_GT(strnlen(record.version, UNAME_FIELD), 0u);
    EXPECT_LT(strnlen(record.version, UNAME_FIELD), static_cast<size_t>(UNAME_FIELD));
    EXPECT_GT(strnlen(record.machine, UNAME_FIELD), 0u);
    EXPECT_LT(strnlen(record.machine, UNAME_FIELD), static_cast<size_t>(UNAME_FIELD));
    EXPECT_EQ(net::uname(nullptr), 0);
}

// Run only by LongHostNameIsReadWhole, inside a namespace whose host name is
// NET_TEST_LONG_NAME and whose hosts file gives it the address 10.9.8.7.
TEST(LocalHost, DISABLED_LongNameChild) {
    const char *expected = getenv("NET_TEST_LONG_NAME");
    ASSERT_NE(expected, nullptr);
    char name[256];
    EXPECT_EQ(hostGetLocalName(name, 255), static_cast<int>(strlen(expected)));
    EXPECT_STREQ(name, expected);
    EXPECT_EQ(hostGetLocalName(name, 15), -1);
    EXPECT_EQ(hostGetLocalAddress(), 0x0A090807u); // the whole name was resolved
    UnameRec record;
    EXPECT_EQ(net::uname(&record), 0);
    EXPECT_EQ(std::string(record.nodeName), std::string(expected, UNAME_FIELD - 1));
    EXPECT_EQ(std::string(record.systemName), std::string(expected, UNAME_FIELD - 1));
}

TEST(LocalHost, LongHostNameIsReadWhole) {
    if (findProgram("unshare").empty())
        GTEST_SKIP() << "unshare is not installed";
    const std::string name = "a-host-name-of-forty-three-characters-00042";
    ASSERT_EQ(name.size(), 43u);
    TempDir dir;
    writeFile(dir.file("hosts"), "127.0.0.1 localhost\n10.9.8.7 " + name + "\n");
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string script = "mount --bind " + dir.file("hosts") + " /etc/hosts && hostname " +
                               name + " && exec " + self +
                               " --gtest_also_run_disabled_tests"
                               " --gtest_filter=LocalHost.DISABLED_LongNameChild";
    ProcessResult probe = runProcess({"unshare", "--uts", "--mount", "true"});
    if (probe.status != 0)
        GTEST_SKIP() << "no permission for new UTS and mount namespaces: " << probe.err;
    ProcessResult result = runProcess({"unshare", "--uts", "--mount", "sh", "-c", script}, "",
                                      {{"NET_TEST_LONG_NAME", name}});
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("[  PASSED  ] 1 test"), std::string::npos) << result.out;
}

TEST(UdpEndpoint, FieldsAndReferenceCount) {
    UdpEndpoint *endpoint = udpNew(7, 0x0A010203u, 0x1234);
    ASSERT_NE(endpoint, nullptr);
    EXPECT_EQ(udpGetSocket(endpoint), 7);
    EXPECT_EQ(endpoint->refCount, 1);
    EXPECT_EQ(endpoint->remote.family, 2);
    const auto *port = reinterpret_cast<const uint8_t *>(&endpoint->remote.port);
    EXPECT_EQ(port[0], 0x12); // network byte order
    EXPECT_EQ(port[1], 0x34);
    const auto *address = reinterpret_cast<const uint8_t *>(&endpoint->remote.address);
    EXPECT_EQ(address[0], 10);
    EXPECT_EQ(address[3], 3);
    for (uint8_t z : endpoint->remote.zero)
        EXPECT_EQ(z, 0);

    udpSetSocket(endpoint, 9);
    EXPECT_EQ(udpGetSocket(endpoint), 9);
    EXPECT_EQ(udpRef(endpoint), endpoint);
    EXPECT_EQ(endpoint->refCount, 2);
    EXPECT_EQ(udpFree(endpoint), nullptr);
    EXPECT_EQ(endpoint->refCount, 1);      // still alive after one release
    EXPECT_EQ(udpFree(endpoint), nullptr); // released; the sanitizer build checks it

    EXPECT_EQ(udpRef(nullptr), nullptr);
    EXPECT_EQ(udpGetSocket(nullptr), -1);
    udpSetSocket(nullptr, 3);
    EXPECT_EQ(udpFree(nullptr), nullptr);
}

TEST(UdpSend, DatagramArrivesFromTheSendingSocket) {
    Receiver receiver;
    ASSERT_GT(receiver.port, 0);
    Socket sender;
    ASSERT_EQ(udpBindSocket(sender.fd, 0, 0), 0);
    UdpEndpoint *endpoint = udpNew(sender.fd, LOOPBACK, static_cast<uint32_t>(receiver.port));
    const std::vector<uint8_t> message = {0x30, 0x03, 0x02, 0x01, 0x00};
    EXPECT_EQ(udpSend(endpoint, message.data(), static_cast<int>(message.size())), 0);
    std::vector<uint8_t> got;
    uint32_t from = 0;
    uint16_t fromPort = 0;
    ASSERT_TRUE(receiver.next(got, 2048, &from, &fromPort));
    EXPECT_EQ(got, message);
    EXPECT_EQ(from, LOOPBACK);
    EXPECT_EQ(fromPort, udpGetLocalPort(sender.fd));

    // An empty datagram is a datagram too.
    EXPECT_EQ(udpSend(endpoint, message.data(), 0), 0);
    ASSERT_TRUE(receiver.next(got));
    EXPECT_TRUE(got.empty());
    udpFree(endpoint);
}

TEST(UdpSend, PortAbove16BitsUsesItsLowBits) {
    Receiver receiver;
    ASSERT_GT(receiver.port, 0);
    Socket sender;
    int port = hostGetServicePort(std::to_string(receiver.port + 65536).c_str());
    EXPECT_EQ(port, receiver.port + 65536);
    UdpEndpoint *endpoint = udpNew(sender.fd, LOOPBACK, static_cast<uint32_t>(port));
    const uint8_t octet = 0x42;
    EXPECT_EQ(udpSend(endpoint, &octet, 1), 0);
    std::vector<uint8_t> got;
    ASSERT_TRUE(receiver.next(got));
    EXPECT_EQ(got, std::vector<uint8_t>{0x42});
    udpFree(endpoint);
}

TEST(UdpSend, NegativeLengthOrNoEndpointSendsNothing) {
    Receiver receiver;
    ASSERT_GT(receiver.port, 0);
    Socket sender;
    UdpEndpoint *endpoint = udpNew(sender.fd, LOOPBACK, static_cast<uint32_t>(receiver.port));
    const uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(udpSend(endpoint, data, -1), 1);
    EXPECT_EQ(udpSend(endpoint, data, -4096), 1);
    EXPECT_EQ(udpSend(nullptr, data, 4), 1);
    EXPECT_TRUE(receiver.quiet());
    udpFree(endpoint);
}

TEST(UdpSend, HexDumpAndEntryTraceByLogLevel) {
    LevelGuard level;
    Receiver receiver;
    ASSERT_GT(receiver.port, 0);
    Socket sender;
    UdpEndpoint *endpoint = udpNew(sender.fd, LOOPBACK, static_cast<uint32_t>(receiver.port));
    const uint8_t data[3] = {0x01, 0xAB, 0x00};
    struct Case {
        int level;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {0, {}},
        {1, {}},
        {2, {"01 ", "AB ", "00 ", "\n"}},
        {3, {"udpSend:\n", "01 ", "AB ", "00 ", "\n"}},
    };
    for (const Case &c : cases) {
        EventCapture capture;
        logLevel = c.level;
        EXPECT_EQ(udpSend(endpoint, data, 3), 0);
        EXPECT_EQ(capture.messages, c.messages) << "level " << c.level;
        std::vector<uint8_t> got;
        ASSERT_TRUE(receiver.next(got));
        EXPECT_EQ(got.size(), 3u);
    }
    udpFree(endpoint);
}

TEST(UdpSend, FailureIsReportedWithBothAddresses) {
    LevelGuard level;
    Socket sender;
    ASSERT_EQ(udpBindSocket(sender.fd, LOOPBACK, 0), 0);
    int local = udpGetLocalPort(sender.fd);
    // Broadcast is refused on a socket without SO_BROADCAST.
    UdpEndpoint *endpoint = udpNew(sender.fd, HOST_NO_ADDRESS, 5555);
    const uint8_t octet = 7;
    {
        EventCapture capture;
        logLevel = 0;
        EXPECT_EQ(udpSend(endpoint, &octet, 1), 1);
        EXPECT_TRUE(capture.messages.empty());
    }
    {
        EventCapture capture;
        logLevel = 1;
        EXPECT_EQ(udpSend(endpoint, &octet, 1), 1);
        EXPECT_EQ(capture.joined(), "udpSend: Error in sendto()\n");
    }
    {
        EventCapture capture;
        logLevel = 2;
        EXPECT_EQ(udpSend(endpoint, &octet, 1), 1);
        EXPECT_EQ(capture.joined(), "07 \nudpSend: Error in sendto()\n"
                                    "Local: address = 127.0.0.1, port = " +
                                        std::to_string(local) +
                                        ".\n"
                                        "Remote: address = 255.255.255.255, port = 5555.\n");
    }
    // A socket that is not there: its local address cannot be read either.
    udpSetSocket(endpoint, -1);
    {
        EventCapture capture;
        logLevel = 1;
        EXPECT_EQ(udpSend(endpoint, &octet, 1), 1);
        EXPECT_EQ(capture.joined(), "udpSend: Error in sendto()\nudpSend: can't getsockname()\n");
    }
    udpFree(endpoint);
}

TEST(UdpSocket, LongerDatagramIsTruncatedToTheCapacity) {
    Receiver receiver;
    ASSERT_GT(receiver.port, 0);
    Socket sender;
    UdpEndpoint *endpoint = udpNew(sender.fd, LOOPBACK, static_cast<uint32_t>(receiver.port));
    const uint8_t data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    ASSERT_EQ(udpSend(endpoint, data, 10), 0);
    std::vector<uint8_t> got;
    ASSERT_TRUE(receiver.next(got, 4));
    EXPECT_EQ(got, (std::vector<uint8_t>{0, 1, 2, 3}));
    EXPECT_TRUE(receiver.quiet()); // the rest is gone, not a second datagram
    udpFree(endpoint);
}

TEST(UdpSocket, BadUsesFail) {
    Receiver receiver;
    ASSERT_GT(receiver.port, 0);
    Socket other;
    EXPECT_EQ(udpBindSocket(other.fd, LOOPBACK, static_cast<uint16_t>(receiver.port)), -1);
    EXPECT_EQ(udpBindSocket(-1, 0, 0), -1);
    EXPECT_EQ(udpGetLocalPort(-1), -1);
    uint8_t buffer[4];
    EXPECT_EQ(udpReceive(-1, buffer, 4, nullptr, nullptr), -1);
    EXPECT_EQ(udpReceive(receiver.socket.fd, nullptr, 4, nullptr, nullptr), -1);
    EXPECT_EQ(udpWaitReadable(-1, 0), -1);
    EXPECT_EQ(udpWaitReadable(receiver.socket.fd, 0), 0);
    EXPECT_EQ(udpCloseSocket(-1), -1);
}

TEST(TimeOfDay, SecondsNowAndZoneCleared) {
    time_t before = time(nullptr);
    TimeOfDay now = {0, 99};
    TimeZoneRec zone = {5, 6};
    EXPECT_EQ(timeOfDay(&now, &zone), 0);
    time_t after = time(nullptr);
    EXPECT_GE(now.seconds, static_cast<int32_t>(before));
    EXPECT_LE(now.seconds, static_cast<int32_t>(after));
    EXPECT_EQ(now.microseconds, 0);
    EXPECT_EQ(zone.minutesWest, 0);
    EXPECT_EQ(zone.dstType, 0);
    EXPECT_EQ(timeOfDay(&now, nullptr), 0);
}

} // namespace
