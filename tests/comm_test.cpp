#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "agent/comm.h"
#include "platform/log.h"
#include "smp/aps.h"
#include "smp/smp.h"
#include "tests/support.h"

namespace {

using testing_support::ConfigSetup;
using testing_support::EventCapture;
using testing_support::writeFile;

ApsRec *handleOf(const std::string &name) {
    ApsRec *h = apsHandles();
    while (h && h->name != name)
        h = h->next;
    return h;
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
    writeFile(s.etc("mibagent.cmm"), "# communities\npublic 0.0.0.0 READ\n"
                                     "private 10.0.0.1 WRITE\nprivate 10.0.0.1 READ\n"
                                     "ro 10.0.0.2 readonly\nignored 10.0.0.3 Nonesuch\n"
                                     "bad 10.0.0.4 RW\n  two words\n"
                                     " \t# a comment after blanks\n\n"
                                     "tabs\t10.0.0.5\tWRITE\tmore\ncrlf 10.0.0.6\r\n"
                                     "cr 10.0.0.7 write\r\nseventeen-chars-x 10.0.0.8 READ\n"
                                     "nohost no-such-host.invalid READ\n"
                                     "ignored no-such-host.invalid NONE\n" // rights first
                                     "any 0.0.0.0 WRITE\nany 10.0.0.1 READ\n"
                                     "own 10.0.0.1 READ\nown 0.0.0.0 WRITE\n");
    EventCapture capture;
    EXPECT_EQ(commReadFile(), 0);
    const std::string h = "/usr/sbin/mibagent : community configuration file error\n\tline ";
    const std::string dup = " : host already declared for community :  10.0.0.";
    EXPECT_EQ(capture.joined(), h + "4" + dup + "1\n" + h + "7 : bad rights arg :  RW\n" + h +
                                    "8 : bad arg list :  two words\n" + h +
                                    "12 : bad arg list :  crlf 10.0.0.6\n" + h + "14" + dup +
                                    "8\n" + h + "15 : no such host name :  no-such-host.invalid\n");
    const struct {
        const char *community;
        uint32_t address;
        int operation, allowed;
    } cases[] = {
        {"public", 0xC0A80101, SMP_OP_READ, 1}, // 0.0.0.0 reads from anywhere
        {"public", 0xC0A80101, SMP_OP_WRITE, 0},
        {"public", 0, SMP_OP_READ, 0},            // host 0 is refused before the list is looked at
        {"public", 0x0A000001, 3, 0},             // an unknown operation
        {"private", 0x0A000001, SMP_OP_WRITE, 1}, // the duplicate READ was refused
        {"private", 0x0A000002, SMP_OP_READ, 0},
        {"ro", 0x0A000002, SMP_OP_WRITE, 0},
        {"tabs", 0x0A000005, SMP_OP_WRITE, 1},
        {"cr", 0x0A000007, SMP_OP_WRITE, 1},
        // A host's own entry is judged before the any-host entry, in either order.
        {"any", 0x0A000001, SMP_OP_WRITE, 0},
        {"any", 0x0A000009, SMP_OP_WRITE, 1},
        {"own", 0x0A000001, SMP_OP_WRITE, 0},
        {"own", 0x0A000009, SMP_OP_WRITE, 1},
    };
    for (const auto &c : cases) {
        ASSERT_NE(handleOf(c.community), nullptr) << c.community;
        EXPECT_EQ(commVerify(c.address, c.operation, handleOf(c.community)), c.allowed)
            << c.community << " " << c.address << " " << c.operation;
    }
    EXPECT_EQ(commVerify(0x0A000001, SMP_OP_READ, nullptr), 0);
    for (const char *none : {"ignored", "bad", "crlf"})
        EXPECT_EQ(handleOf(none), nullptr) << none;
    EXPECT_EQ(handleOf("private")->refCount, 1); // the refused duplicate gave its reference back
    logLevel = 2;                                // the trace of a refusal
    EventCapture traces;
    EXPECT_EQ(commVerify(0x0A000001, SMP_OP_READ, handleOf("ro")), 0);
    EXPECT_EQ(traces.joined(), "unknown host 0xa000001 for community ro\n");
    logLevel = 0;
    writeFile(s.etc("mibagent.cmm"), "private 10.0.0.1 READ\n# nothing\n");
    EventCapture again; // reading again: every host is present already
    EXPECT_EQ(commInit(), -2);
    EXPECT_EQ(again.joined(), h + "1" + dup + "1\n" + h + "2 : declared communities number =  0\n");
}

// Which of the "@path" files is read (a path ending in "/" is a directory, {E}
// the configuration's etc/): the index of the one read, or -1.
TEST_F(CommTest, WhichFileIsRead) {
    const std::string stem = "a23456789012345678901234567890b"; // 31 characters
    const struct {
        std::string files;
        int result, read;
        std::string program = "mibagent", setting = "";
        const char *hive = nullptr; // the directory the registry names; "" none
    } cases[] = {
        {"@{E}/mibagent.cmm@etc/mibagent.cmm@mibagent.cmm", 0, 0},
        {"@etc/mibagent.cmm/@mibagent.cmm", 0, 1},
        {"@{E}/mibagent.cmm@mibagent.cmm", 0, 1, "mibagent", "", ""},
        {"", -1, -1},
        {"@mibagent.cmm", -1, -1, "mibagent", "missing.cfg"},
        {"@mibagent.cmm@other.cfg", 0, 1, "mibagent", "other.cfg"},
        {"@mibagent.cmm", -1, -1, "mibagent", std::string(256, 'a')},
        {"@mibagent.cmm", 0, 0, "/usr/sbin/mibagent.exe.old"},
        // Only "/" separates components: the backslashes stay in the stem.
        {"@C:\\bin\\mibagent.cmm", 0, 0, "C:\\bin\\mibagent.exe"},
        {"@" + stem + ".cmm", 0, 0, "/opt/" + stem + ".x"},
        // A stem of 32 characters: cut to 31 it would name the first file.
        {"@" + stem + ".cmm@" + stem + "c.cmm", -1, -1, "/opt/" + stem + "c"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.files);
        ConfigSetup each;
        if (c.hive)
            writeFile(each.config.file("registry"),
                      *c.hive ? testing_support::hiveText(c.hive) : "");
        apsInit();
        ASSERT_EQ(apsTrivialInit(), 0);
        programName = c.program.c_str();
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
            EXPECT_NE(capture.joined().find("can't read community"), std::string::npos);
        }
    }
}

} // namespace
