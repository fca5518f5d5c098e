#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "agent/comm.h"
#include "platform/log.h"
#include "platform/net.h"
#include "platform/token.h"
#include "smp/aps.h"
#include "smp/smp.h"
#include "smx/cfg.h"
#include "tests/support.h"

namespace {

using testing_support::EventCapture;
using testing_support::ScopedCwd;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::writeFile;

constexpr uint32_t ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return a << 24 | b << 16 | c << 8 | d;
}

// The captured messages without those of the modules this one calls (the
// registry lookup, the handles, the host look-up).
std::vector<std::string> own(const EventCapture &capture) {
    static const char *const foreign[] = {
        "readCfgPath", "abPathBuffer", "RegOpenKeyEx", "RegQueryValueEx",    "lResult",
        "GetAppKeys",  "failure exit", "apsNew",       "hostGetHostAddress",
    };
    std::vector<std::string> kept;
    for (const std::string &m : capture.messages) {
        bool theirs = false;
        for (const char *prefix : foreign)
            theirs = theirs || m.rfind(prefix, 0) == 0;
        if (!theirs)
            kept.push_back(m);
    }
    return kept;
}

std::string ownJoined(const EventCapture &capture) {
    std::string all;
    for (const std::string &m : own(capture))
        all += m;
    return all;
}

// A scratch working directory, no registry (unless a test writes one), a
// fresh handle list, and the program named /usr/sbin/mibagent.
struct CommTest : ::testing::Test {
    TempDir dir;
    ScopedCwd cwd{dir.path};
    ScopedEnv registry{"TARNOQSNMP_REGISTRY", (dir.path + "/no-registry").c_str()};
    const char *savedProgram = programName;
    int savedLevel = logLevel;

    void SetUp() override {
        apsInit();
        ASSERT_EQ(apsTrivialInit(), 0);
        tokenSetOverride(1);
        programName = "/usr/sbin/mibagent";
        logLevel = 0;
    }
    void TearDown() override {
        commSetFileName(nullptr);
        tokenSetOverride(-1);
        programName = savedProgram;
        logLevel = savedLevel;
    }
    // The handle of a community, without keeping a reference.
    static ApsRec *handleOf(const char *name) {
        for (ApsRec *h = apsHandles(); h; h = h->next)
            if (std::string(h->name) == name)
                return h;
        return nullptr;
    }
    static int hostCount(const ApsRec *h) {
        int n = 0;
        for (const CommHost *e = h ? h->hosts : nullptr; e; e = e->next)
            ++n;
        return n;
    }
    void writeRegistry(const std::string &etc) {
        writeFile(dir.file("registry"),
                  "[Software\\Velmora\\TarnoqSnmp\\CurrentVersion]\nVersion=1\n"
                  "[Software\\Velmora\\TarnoqSnmp\\1\\TarnoqSnmp]\nInstalled=1\netc=" +
                      etc + "\n");
    }
};

TEST_F(CommTest, FileDeclaresHostsAndReportsEveryBadLine) {
    writeFile(dir.file("mibagent.cmm"),
              "# communities\n"                        // 1
              "public 0.0.0.0 READ\n"                  // 2
              "private 10.0.0.1 WRITE\n"               // 3
              "private 10.0.0.1 READ\n"                // 4: kept WRITE
              "ro 10.0.0.2 readonly\n"                 // 5: READ
              "ignored 10.0.0.3 Nonesuch\n"            // 6: silently ignored
              "bad 10.0.0.4 RW\n"                      // 7
              "  two words\n"                          // 8
              " \t# a comment after blanks\n"          // 9
              "\n"                                     // 10
              "tabs\t10.0.0.5\tWRITE\tfurther words\n" // 11
              "crlf 10.0.0.6\r\n"                      // 12: two words, CR dropped
              "cr 10.0.0.7 write\r\n"                  // 13
              "seventeen-chars-x 10.0.0.8 READ\n"      // 14: apsNew refuses
              "nohost no-such-host.invalid READ\n"     // 15
              "ignored no-such-host.invalid NONE\n");  // 16: rights first, no lookup
    EventCapture capture;
    EXPECT_EQ(commReadFile(), 0);

    const std::vector<std::string> expected = {
        "/usr/sbin/mibagent : community configuration file error\n",
        "\tline 4 : host already declared for community :  10.0.0.1\n",
        "/usr/sbin/mibagent : community configuration file error\n",
        "\tline 7 : bad rights arg :  RW\n",
        "/usr/sbin/mibagent : community configuration file error\n",
        "\tline 8 : bad arg list :  two words\n",
        "/usr/sbin/mibagent : community configuration file error\n",
        "\tline 12 : bad arg list :  crlf 10.0.0.6\n",
        "/usr/sbin/mibagent : community configuration file error\n",
        "\tline 14 : host already declared for community :  10.0.0.8\n",
        "/usr/sbin/mibagent : community configuration file error\n",
        "\tline 15 : no such host name :  no-such-host.invalid\n",
    };
    EXPECT_EQ(own(capture), expected);

    struct Case {
        const char *community;
        uint32_t address;
        int operation;
        int allowed;
    };
    const Case cases[] = {
        {"public", ip(192, 168, 1, 1), SMP_OP_READ, 1}, // 0.0.0.0 reads from anywhere
        {"public", ip(192, 168, 1, 1), SMP_OP_WRITE, 0},
        {"private", ip(10, 0, 0, 1), SMP_OP_WRITE, 1}, // WRITE kept over the later READ
        {"private", ip(10, 0, 0, 2), SMP_OP_READ, 0},
        {"ro", ip(10, 0, 0, 2), SMP_OP_READ, 1},
        {"ro", ip(10, 0, 0, 2), SMP_OP_WRITE, 0},
        {"tabs", ip(10, 0, 0, 5), SMP_OP_WRITE, 1},
        {"cr", ip(10, 0, 0, 7), SMP_OP_WRITE, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.community) + " " + std::to_string(c.operation));
        ApsRec *h = handleOf(c.community);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(commVerify(c.address, c.operation, h), c.allowed);
    }
    EXPECT_EQ(hostCount(handleOf("private")), 1);
    EXPECT_EQ(handleOf("ignored"), nullptr);
    EXPECT_EQ(handleOf("bad"), nullptr);
    EXPECT_EQ(handleOf("crlf"), nullptr);
}

TEST_F(CommTest, NoFileAndNoDeclarationAreReported) {
    {
        EventCapture capture;
        EXPECT_EQ(commReadFile(), -1);
        EXPECT_EQ(ownJoined(capture),
                  "/usr/sbin/mibagent : can't read community configuration file \n");
    }
    writeFile(dir.file("mibagent.cmm"), "# nothing\nonly two\n\n");
    EventCapture capture;
    EXPECT_EQ(commInit(), -2);
    ASSERT_EQ(own(capture).size(), 4u);
    EXPECT_EQ(own(capture)[3], "\tline 3 : declared communities number =  0\n");
}

TEST_F(CommTest, ReadingAgainReportsEveryHostPresent) {
    writeFile(dir.file("mibagent.cmm"), "public 10.0.0.1 READ\n");
    EXPECT_EQ(commReadFile(), 0);
    EventCapture capture;
    EXPECT_EQ(commReadFile(), -2);
    ASSERT_GE(own(capture).size(), 2u);
    EXPECT_EQ(own(capture)[1], "\tline 1 : host already declared for community :  10.0.0.1\n");
    EXPECT_EQ(hostCount(handleOf("public")), 1);
}

TEST_F(CommTest, CommunityAddsEntriesAndKeepsOneReferenceEach) {
    EXPECT_EQ(community("public", ip(10, 0, 0, 1), COMM_READ), 0);
    EXPECT_EQ(community("public", ip(10, 0, 0, 2), COMM_WRITE), 0);
    EXPECT_EQ(community("public", ip(10, 0, 0, 1), COMM_WRITE), -2);
    EXPECT_EQ(community("0123456789abcdefg", 1, COMM_READ), -1);
    ApsRec *h = handleOf("public");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->refCount, 2); // the refused duplicate gave its reference back
    ASSERT_NE(h->hosts, nullptr);
    EXPECT_EQ(h->hosts->address, ip(10, 0, 0, 2)); // newest first
    EXPECT_EQ(h->hosts->rights, COMM_WRITE);
    EXPECT_EQ(h->hosts->next->rights, COMM_READ);

    logLevel = 2;
    EventCapture capture;
    EXPECT_EQ(community("x", ip(255, 0, 0, 1), COMM_READ), 0);
    EXPECT_EQ(ownJoined(capture), "community : x host : -16777215\n");
}

TEST_F(CommTest, OwnEntryIsJudgedBeforeTheAnyHostEntry) {
    // Both orders: the any-host entry met first or last in the list.
    for (bool anyFirst : {true, false}) {
        SCOPED_TRACE(anyFirst);
        apsInit();
        ASSERT_EQ(apsTrivialInit(), 0);
        if (anyFirst) {
            ASSERT_EQ(community("c", 0, COMM_WRITE), 0);
        }
        ASSERT_EQ(community("c", ip(10, 0, 0, 1), COMM_READ), 0);
        if (!anyFirst) {
            ASSERT_EQ(community("c", 0, COMM_WRITE), 0);
        }
        ApsRec *h = handleOf("c");
        EXPECT_EQ(commVerify(ip(10, 0, 0, 1), SMP_OP_WRITE, h), 0);
        EXPECT_EQ(commVerify(ip(10, 0, 0, 1), SMP_OP_READ, h), 1);
        EXPECT_EQ(commVerify(ip(10, 0, 0, 9), SMP_OP_WRITE, h), 1);
    }
}

TEST_F(CommTest, VerifyRefusalsAndTheirMessages) {
    ASSERT_EQ(community("public", 0, COMM_READ), 0);
    ASSERT_EQ(community("local", ip(127, 0, 0, 1), COMM_WRITE), 0);
    ApsRec *pub = handleOf("public");
    ApsRec *local = handleOf("local");
    struct Case {
        uint32_t address;
        int operation;
        const ApsRec *handle;
        const char *message; // at logLevel 1
    };
    const Case cases[] = {
        {0, SMP_OP_READ, local, "commVerify : host = 0\n"}, // before the list is looked at
        {ip(127, 0, 0, 1), 3, local, "commVerify : operation unknown 3\n"},
        {ip(127, 0, 0, 1), SMP_OP_READ, nullptr, "commVerify : ap = 0\n"},
        {ip(10, 0, 0, 1), SMP_OP_READ, local, "unknown host 0xa000001 for community local\n"},
        {ip(10, 0, 0, 1), SMP_OP_WRITE, pub, "bad rights for 0xa000001\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        logLevel = 0;
        {
            EventCapture quiet;
            EXPECT_EQ(commVerify(c.address, c.operation, c.handle), 0);
            EXPECT_TRUE(quiet.messages.empty());
        }
        logLevel = 1;
        EventCapture capture;
        EXPECT_EQ(commVerify(c.address, c.operation, c.handle), 0);
        EXPECT_EQ(capture.joined(), c.message);
    }
    EXPECT_EQ(commVerify(ip(127, 0, 0, 1), SMP_OP_WRITE, local), 1);
}

TEST_F(CommTest, SearchOrderDirectoryThenEtcThenBareName) {
    writeRegistry(dir.path + "/conf");
    std::filesystem::create_directories(dir.path + "/conf/etc");
    std::filesystem::create_directories(dir.path + "/etc");
    const std::string inDir = dir.path + "/conf/etc/mibagent.cmm";
    writeFile(inDir, "dir 10.0.0.1 READ\n");
    writeFile(dir.file("etc/mibagent.cmm"), "etc 10.0.0.1 READ\n");
    writeFile(dir.file("mibagent.cmm"), "bare 10.0.0.1 READ\n");
    ScopedEnv hive("TARNOQSNMP_REGISTRY", dir.file("registry").c_str());

    FILE *file = nullptr;
    char path[CFG_PATH_MAX + 1];
    logLevel = 1;
    {
        EventCapture capture;
        ASSERT_EQ(cmmABFile("mibagent", nullptr, &file, path), 0);
        fclose(file);
        EXPECT_EQ(std::string(path), inDir);
        EXPECT_NE(capture.joined().find("cmmABFile: " + inDir + "\n"), std::string::npos);
    }
    logLevel = 0;
    std::filesystem::remove(inDir);
    {
        EventCapture capture;
        ASSERT_EQ(cmmABFile("mibagent", nullptr, &file, path), 0);
        fclose(file);
        EXPECT_STREQ(path, "etc/mibagent.cmm");
        // Logged whatever logLevel is.
        EXPECT_EQ(capture.joined(), "cmmABFile: " + inDir + " Error not found\n");
    }
    // A directory of the file's name is no file: the search goes on.
    std::filesystem::remove(dir.file("etc/mibagent.cmm"));
    std::filesystem::create_directories(dir.file("etc/mibagent.cmm"));
    ASSERT_EQ(cmmABFile("mibagent", nullptr, &file, path), 0);
    fclose(file);
    EXPECT_STREQ(path, "mibagent.cmm");
    std::filesystem::remove(dir.file("mibagent.cmm"));
    EXPECT_EQ(cmmABFile("mibagent", nullptr, &file, path), -2);
    EXPECT_EQ(file, nullptr);
}

TEST_F(CommTest, WithoutRegistryTheDirectoryCandidateIsNotTried) {
    writeFile(dir.file("mibagent.cmm"), "bare 10.0.0.1 READ\n");
    EventCapture capture;
    FILE *file = nullptr;
    char path[CFG_PATH_MAX + 1];
    ASSERT_EQ(cmmABFile("mibagent", nullptr, &file, path), 0);
    fclose(file);
    EXPECT_STREQ(path, "mibagent.cmm");
    EXPECT_EQ(capture.joined().find("/etc/mibagent.cmm"), std::string::npos);
}

TEST_F(CommTest, FileNameSettingTriesOnlyThatFile) {
    writeFile(dir.file("mibagent.cmm"), "bare 10.0.0.1 READ\n");
    writeFile(dir.file("other.cfg"), "other 10.0.0.1 READ\n");
    commSetFileName("missing.cfg");
    EXPECT_STREQ(commGetFileName(), "missing.cfg");
    EXPECT_EQ(commReadFile(), -1);
    EXPECT_EQ(handleOf("bare"), nullptr);
    commSetFileName("other.cfg");
    EXPECT_EQ(commReadFile(), 0);
    EXPECT_NE(handleOf("other"), nullptr);

    FILE *file = nullptr;
    char path[CFG_PATH_MAX + 1];
    const std::string tooLong(CFG_PATH_MAX + 1, 'a');
    EXPECT_EQ(cmmABFile("mibagent", tooLong.c_str(), &file, path), -1);
}

TEST_F(CommTest, StemIsTheBaseNameUpToItsFirstDot) {
    struct Case {
        const char *program;
        const char *file; // the file that must be read
    };
    const Case cases[] = {
        {"/usr/sbin/mibagent.exe.old", "mibagent.cmm"},
        {"mibagent", "mibagent.cmm"},
        // Only "/" separates components: the backslashes stay in the stem.
        {"C:\\snmp\\bin\\mibagent.exe", "C:\\snmp\\bin\\mibagent.cmm"},
        {"/opt/a23456789012345678901234567890b.x", "a23456789012345678901234567890b.cmm"}, // 31
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.program);
        apsInit();
        ASSERT_EQ(apsTrivialInit(), 0);
        programName = c.program;
        writeFile(dir.file(c.file), "found 10.0.0.1 READ\n");
        EXPECT_EQ(commReadFile(), 0);
        EXPECT_NE(handleOf("found"), nullptr);
        std::filesystem::remove(dir.file(c.file));
    }
}

TEST_F(CommTest, StemThatDoesNotFitOpensNothing) {
    // 32 characters: cut to 31 it would name this other file.
    programName = "/opt/a23456789012345678901234567890bc";
    writeFile(dir.file("a23456789012345678901234567890b.cmm"), "cut 10.0.0.1 READ\n");
    writeFile(dir.file("a23456789012345678901234567890bc.cmm"), "whole 10.0.0.1 READ\n");
    EXPECT_EQ(commReadFile(), -1);
    EXPECT_EQ(handleOf("cut"), nullptr);
    EXPECT_EQ(handleOf("whole"), nullptr);
}

TEST_F(CommTest, DirectoryTooLongForAPathFallsBackToEtc) {
    writeRegistry("/" + std::string(250, 'd'));
    ScopedEnv hive("TARNOQSNMP_REGISTRY", dir.file("registry").c_str());
    std::filesystem::create_directories(dir.path + "/etc");
    writeFile(dir.file("etc/mibagent.cmm"), "etc 10.0.0.1 READ\n");
    FILE *file = nullptr;
    char path[CFG_PATH_MAX + 1];
    ASSERT_EQ(cmmABFile("mibagent", nullptr, &file, path), 0);
    fclose(file);
    EXPECT_STREQ(path, "etc/mibagent.cmm");
}

TEST_F(CommTest, TracesAtEachLevel) {
    writeFile(dir.file("mibagent.cmm"), "public 10.0.0.1 READ\nbad line\n");
    logLevel = 2;
    EventCapture capture;
    EXPECT_EQ(commReadFile(), 0);
    const std::vector<std::string> expected = {
        "commReadFile ()\n",
        "from mibagent.cmm : \n",
        "community : public host : 167772161\n",
        "commErrorFn : (line 2) bad arg list :  bad line\n",
        "/usr/sbin/mibagent : community configuration file error\n",
        "\tline 2 : bad arg list :  bad line\n",
    };
    EXPECT_EQ(own(capture), expected);
}

} // namespace
