#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "agent/comm.h"
#include "platform/log.h"
#include "smp/aps.h"
#include "smp/smp.h"
#include "tests/support.h"

namespace {

using testing_support::ConfigSetup;
using testing_support::EventCapture;
using testing_support::hiveText;
using testing_support::writeFile;

constexpr uint32_t ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return a << 24 | b << 16 | c << 8 | d;
}

ApsRec *handleOf(const std::string &name) {
    for (ApsRec *h = apsHandles(); h; h = h->next)
        if (h->name == name)
            return h;
    return nullptr;
}

// The reports of the community module only, without the registry's traces.
std::string reports(const EventCapture &capture) {
    std::string all;
    for (const std::string &m : capture.messages)
        if (m != "failure exit\n")
            all += m;
    return all;
}

// The configuration set-up, a fresh handle list, the program /usr/sbin/mibagent.
struct CommTest : ::testing::Test {
    ConfigSetup s;
    const char *savedProgram = programName;
    void SetUp() override {
        apsInit();
        ASSERT_EQ(apsTrivialInit(), 0);
        programName = "/usr/sbin/mibagent";
    }
    void TearDown() override {
        commSetFileName(nullptr);
        programName = savedProgram;
        logLevel = 0;
    }
};

TEST_F(CommTest, FileDeclaresHostsAndRequestsAreJudged) {
    writeFile(s.etc("mibagent.cmm"), "# communities\n"
                                     "public 0.0.0.0 READ\n"
                                     "private 10.0.0.1 WRITE\n"
                                     "private 10.0.0.1 READ\n"           // 4: WRITE kept
                                     "ro 10.0.0.2 readonly\n"            // 5: READ
                                     "ignored 10.0.0.3 Nonesuch\n"       // 6: silently ignored
                                     "bad 10.0.0.4 RW\n"                 // 7
                                     "  two words\n"                     // 8
                                     " \t# a comment after blanks\n"     // 9
                                     "\n"                                // 10
                                     "tabs\t10.0.0.5\tWRITE\tmore\n"     // 11
                                     "crlf 10.0.0.6\r\n"                 // 12: two words
                                     "cr 10.0.0.7 write\r\n"             // 13
                                     "seventeen-chars-x 10.0.0.8 READ\n" // 14: no handle
                                     "nohost no-such-host.invalid READ\n"
                                     "ignored no-such-host.invalid NONE\n" // rights first
                                     "any 0.0.0.0 WRITE\nany 10.0.0.1 READ\n"
                                     "own 10.0.0.1 READ\nown 0.0.0.0 WRITE\n");
    EventCapture capture;
    EXPECT_EQ(commReadFile(), 0);
    const std::string h = "/usr/sbin/mibagent : community configuration file error\n\tline ";
    EXPECT_EQ(reports(capture), h + "4 : host already declared for community :  10.0.0.1\n" + h +
                                    "7 : bad rights arg :  RW\n" + h +
                                    "8 : bad arg list :  two words\n" + h +
                                    "12 : bad arg list :  crlf 10.0.0.6\n" + h +
                                    "14 : host already declared for community :  10.0.0.8\n" + h +
                                    "15 : no such host name :  no-such-host.invalid\n");
    const struct {
        const char *community;
        uint32_t address;
        int operation, allowed;
    } cases[] = {
        {"public", ip(192, 168, 1, 1), SMP_OP_READ, 1}, // 0.0.0.0 reads from anywhere
        {"public", ip(192, 168, 1, 1), SMP_OP_WRITE, 0},
        {"public", 0, SMP_OP_READ, 0},     // host 0 is refused before the list is looked at
        {"public", ip(10, 0, 0, 1), 3, 0}, // an unknown operation
        {"private", ip(10, 0, 0, 1), SMP_OP_WRITE, 1},
        {"private", ip(10, 0, 0, 2), SMP_OP_READ, 0},
        {"ro", ip(10, 0, 0, 2), SMP_OP_READ, 1},
        {"ro", ip(10, 0, 0, 2), SMP_OP_WRITE, 0},
        {"tabs", ip(10, 0, 0, 5), SMP_OP_WRITE, 1},
        {"cr", ip(10, 0, 0, 7), SMP_OP_WRITE, 1},
        // A host's own entry is judged before the any-host entry, in either order.
        {"any", ip(10, 0, 0, 1), SMP_OP_WRITE, 0},
        {"any", ip(10, 0, 0, 9), SMP_OP_WRITE, 1},
        {"own", ip(10, 0, 0, 1), SMP_OP_WRITE, 0},
        {"own", ip(10, 0, 0, 1), SMP_OP_READ, 1},
        {"own", ip(10, 0, 0, 9), SMP_OP_WRITE, 1},
    };
    for (const auto &c : cases) {
        ApsRec *handle = handleOf(c.community);
        ASSERT_NE(handle, nullptr) << c.community;
        EXPECT_EQ(commVerify(c.address, c.operation, handle), c.allowed)
            << c.community << " " << c.address << " " << c.operation;
    }
    EXPECT_EQ(commVerify(ip(10, 0, 0, 1), SMP_OP_READ, nullptr), 0);
    for (const char *none : {"ignored", "bad", "crlf"})
        EXPECT_EQ(handleOf(none), nullptr) << none;
    EXPECT_EQ(handleOf("private")->refCount, 1); // the refused duplicate gave its reference back
    logLevel = 2;                                // the traces of a reading and of the refusals
    EventCapture traces;
    EXPECT_EQ(commVerify(ip(10, 0, 0, 1), SMP_OP_READ, handleOf("ro")), 0);
    EXPECT_EQ(traces.joined(), "unknown host 0xa000001 for community ro\n");
    for (const auto &c : cases)
        commVerify(c.address, c.operation, handleOf(c.community));
    commReadFile();

    writeFile(s.etc("mibagent.cmm"), "private 10.0.0.1 READ\n# nothing\nonly two\n\n");
    logLevel = 0;
    EventCapture again; // reading again: every host is present already
    EXPECT_EQ(commInit(), -2);
    EXPECT_EQ(reports(again), h + "1 : host already declared for community :  10.0.0.1\n" + h +
                                  "3 : bad arg list :  only two\n" + h +
                                  "4 : declared communities number =  0\n");
}

// Which file is read, from "@path" files (a path ending in "/" is a directory,
// {E} the configuration's etc/): the index of the one read, or -1.
TEST_F(CommTest, WhichFileIsRead) {
    const std::string stem = "a23456789012345678901234567890b"; // 31 characters
    const std::string deep = "/" + std::string(250, 'd');
    const struct {
        const char *program;
        std::string setting, files;
        int result, read;
        const char *hive = nullptr; // the directory the registry names; "" none
    } cases[] = {
        {"mibagent", "", "@{E}/mibagent.cmm@etc/mibagent.cmm@mibagent.cmm", 0, 0},
        {"mibagent", "", "@etc/mibagent.cmm@mibagent.cmm", 0, 0},
        {"mibagent", "", "@etc/mibagent.cmm/@mibagent.cmm", 0, 1},
        {"mibagent", "", "@{E}/mibagent.cmm@mibagent.cmm", 0, 1, ""},
        {"mibagent", "", "@etc/mibagent.cmm", 0, 0,
         "/dddddddddddddddddddddddddddddddddddddddddd"
         "ddddddddddddddddddddddddddddddddddddddddddd"
         "ddddddddddddddddddddddddddddddddddddddddddd"
         "ddddddddddddddddddddddddddddddddddddddddddd"
         "ddddddddddddddddddddddddddddddddddddddd"},
        {"mibagent", "", "", -1, -1},
        {"mibagent", "missing.cfg", "@mibagent.cmm", -1, -1},
        {"mibagent", "other.cfg", "@mibagent.cmm@other.cfg", 0, 1},
        {"mibagent", std::string(256, 'a'), "@mibagent.cmm", -1, -1},
        {"/usr/sbin/mibagent.exe.old", "", "@mibagent.cmm", 0, 0},
        // Only "/" separates components: the backslashes stay in the stem.
        {"C:\\bin\\mibagent.exe", "", "@C:\\bin\\mibagent.cmm", 0, 0},
        {"/opt/a23456789012345678901234567890b.x", "", "@" + stem + ".cmm", 0, 0},
        // A stem of 32 characters: cut to 31 it would name the first file.
        {"/opt/a23456789012345678901234567890bc", "", "@" + stem + ".cmm@" + stem + "c.cmm", -1,
         -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.files);
        ConfigSetup each;
        if (c.hive)
            writeFile(each.config.file("registry"), *c.hive ? hiveText(c.hive) : "");
        apsInit();
        ASSERT_EQ(apsTrivialInit(), 0);
        programName = c.program;
        commSetFileName(c.setting.empty() ? nullptr : c.setting.c_str());
        std::string files = c.files + "@";
        int n = 0;
        for (size_t at = 0, next; (next = files.find('@', at + 1)) != std::string::npos;
             at = next, ++n) {
            std::string path = files.substr(at + 1, next - at - 1);
            if (path.rfind("{E}", 0) == 0)
                path = each.etc(path.substr(4));
            if (path.back() == '/')
                std::filesystem::create_directories(path);
            else
                writeFile(path, "f" + std::to_string(n) + " 10.0.0.1 READ\n");
        }
        EventCapture capture;
        EXPECT_EQ(commReadFile(), c.result);
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ(handleOf("f" + std::to_string(i)) != nullptr, i == c.read) << i;
        }
        if (c.result < 0) {
            EXPECT_NE(capture.joined().find("can't read community configuration file"),
                      std::string::npos);
        }
    }
}

} // namespace
