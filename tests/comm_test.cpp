#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>

#include "agent/comm.h"
#include "platform/file.h"
#include "platform/log.h"
#include "smp/aps.h"
#include "smp/smp.h"
#include "tests/support.h"

namespace {

using testing_support::ConfigSetup;
using testing_support::EventCapture;
using testing_support::writeFile;

ApsRec *handleOf(const std::string &name, ApsRec *h = apsHandles()) {
    return !h || h->name == name ? h : handleOf(name, h->next);
}

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
    }
};

TEST_F(CommTest, FileDeclaresHostsAndRequestsAreJudged) {
    // A line is a line: a long comment is ignored whole, a long line reported once.
    const std::string tooLong = "toolong 10.0.0.5 READ " + std::string(240, 'x');
    writeFile(s.etc("mibagent.cmm"), "# communities\npublic 0.0.0.0 READ\n"
                                     "private 10.0.0.1 WRITE\nprivate 10.0.0.1 READ\n"
                                     "ro 10.0.0.2 readonly\nignored 10.0.0.3 Nonesuch\n"
                                     "bad 10.0.0.4 RW\n  two words\n"
                                     " \t# a comment after blanks\n\n"
                                     "crlf 10.0.0.6\r\n"
                                     "seventeen-chars-x 10.0.0.8 READ\n"
                                     "nohost no-such-host.invalid READ\n"
                                     "ignored no-such-host.invalid NONE\n" // rights first
                                     "any 0.0.0.0 WRITE\nany 10.0.0.1 READ\n"
                                     "own 10.0.0.1 READ\nown 0.0.0.0 WRITE\n#" +
                                         std::string(252, '-') + " evil 127.0.0.1 WRITE\n" +
                                         tooLong + "\n");
    EventCapture capture;
    EXPECT_EQ(commReadFile(), 0);
    const std::string h = "/usr/sbin/mibagent : community configuration file error\n\tline ";
    const std::string dup = " : host already declared for community :  10.0.0.";
    EXPECT_EQ(capture.joined(), h + "4" + dup + "1\n" + h + "7 : bad rights arg :  RW\n" + h +
                                    "8 : bad arg list :  two words\n" + h +
                                    "11 : bad arg list :  crlf 10.0.0.6\n" + h + "12" + dup +
                                    "8\n" + h + "13 : no such host name :  no-such-host.invalid\n" +
                                    h + "20 : line too long :  " + tooLong.substr(0, 254) + "\n");
    const std::tuple<const char *, uint32_t, int, int> cases[] = {
        {"public", 0xC0A80101, SMP_OP_READ, 1},   // 0.0.0.0 reads from anywhere
        {"public", 0, SMP_OP_READ, 0},            // host 0 is refused before the list is looked at
        {"public", 0x0A000001, 3, 0},             // an unknown operation
        {"private", 0x0A000001, SMP_OP_WRITE, 1}, // the duplicate READ was refused
        {"ro", 0x0A000002, SMP_OP_WRITE, SMP_CHECK_BAD_USE},
        // A host's own entry is judged before the any-host entry, in either order.
        {"any", 0x0A000001, SMP_OP_WRITE, SMP_CHECK_BAD_USE},
        {"any", 0x0A000009, SMP_OP_WRITE, 1},
        {"own", 0x0A000001, SMP_OP_WRITE, SMP_CHECK_BAD_USE},
        {"own", 0x0A000009, SMP_OP_WRITE, 1},
    };
    for (auto [community, address, operation, allowed] : cases) {
        ASSERT_NE(handleOf(community), nullptr) << community;
        EXPECT_EQ(commVerify(address, operation, handleOf(community)), allowed)
            << community << " " << address << " " << operation;
    }
    for (const char *none : {"ignored", "bad", "crlf", "evil", "toolong"})
        EXPECT_EQ(handleOf(none), nullptr) << none;
    EXPECT_EQ(handleOf("private")->refCount, 1); // the refused duplicate gave its reference back
    logLevel = 2;                                // the trace of a refusal
    EventCapture traces;
    EXPECT_EQ(commVerify(0x0A000001, SMP_OP_READ, handleOf("ro")), 0);
    EXPECT_EQ(traces.joined(), "unknown host 0xa000001 for community ro\n");
    logLevel = 0;
    EventCapture again; // reading again: every host is present already, no community declared
    EXPECT_EQ(commInit(), -2);
    EXPECT_NE(again.joined().find("declared communities number =  0"), std::string::npos);
}

// Which file is read: the configured etc/ first, never a directory, or only the one named.
TEST_F(CommTest, WhichFileIsRead) {
    auto read = [](const std::string &program, const std::string &setting, int result,
                   const std::string &community) {
        apsInit();
        ASSERT_EQ(apsTrivialInit(), 0);
        programName = program.c_str();
        commSetFileName(setting.empty() ? nullptr : setting.c_str());
        EXPECT_EQ(commReadFile(), result) << program << " " << setting;
        std::string names; // the handles made from the file
        for (ApsRec *h = apsHandles(); h; h = h->next)
            names += h->hosts ? h->name : "";
        EXPECT_EQ(names, community) << program << " " << setting;
        programName = "mibagent";
    };
    auto file = [](const std::string &path, const std::string &community) {
        writeFile(path, community + " 10.0.0.1 READ\n");
    };
    read("mibagent", "", -1, "");
    file("mibagent.cmm", "bare");
    std::filesystem::create_directories("etc/mibagent.cmm"); // does not hide the bare name
    read("mibagent", "", 0, "bare");
    file(s.etc("mibagent.cmm"), "configured");
    read("/usr/sbin/mibagent.exe.old", "", 0, "configured"); // the stem ends at the first dot
    file("C:\\bin\\mibagent.cmm", "windows"); // on Linux a name; on Windows a path to mibagent
    read("C:\\bin\\mibagent.exe", "", 0, ON_WINDOWS ? "configured" : "windows");
    read("mibagent", "missing.cfg", -1, "");
    file("other.cfg", "other");
    read("mibagent", "other.cfg", 0, "other");
    read("mibagent", std::string(256, 'a'), -1, "");
    file("big.cfg", "big"); // past the bound it is no community file: nothing is declared
    std::filesystem::resize_file("big.cfg", FILE_CONFIG_MAX + 1);
    read("mibagent", "big.cfg", -1, "");
    const std::string stem = "a23456789012345678901234567890b"; // 31 characters
    file(stem + ".cmm", "long");
    read("/opt/" + stem + ".x", "", 0, "long");
    read("/opt/" + stem + "c", "", -1, ""); // cut to 31 characters it would name that file
    ConfigSetup unknown(false);             // the registry names no directory: its etc/ is not read
    file(unknown.etc("mibagent.cmm"), "configured");
    file("mibagent.cmm", "bare");
    read("mibagent", "", 0, "bare");
}

} // namespace
