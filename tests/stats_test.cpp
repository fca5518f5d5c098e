#include "platform/log.h"
#include "platform/shm.h"
#include "platform/token.h"
#include "smx/stats.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using testing_support::EventCapture;
using testing_support::fileExists;
using testing_support::readFile;
using testing_support::ScopedCwd;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::writeFile;

using Lines = std::vector<std::string>;

// A configuration directory (CONFIG/etc) known to the registry, or none, and a
// working directory with an etc/ of its own.
struct StatsSetup {
    TempDir config;
    TempDir work;
    std::unique_ptr<ScopedEnv> registry;
    std::unique_ptr<ScopedCwd> cwd;
    explicit StatsSetup(bool directoryKnown = true, bool workEtc = true) {
        mkdir(config.file("etc").c_str(), 0755);
        if (workEtc)
            mkdir(work.file("etc").c_str(), 0755);
        writeFile(config.file("registry"),
                  directoryKnown ? "[Software\\Velmora\\TarnoqSnmp\\CurrentVersion]\nVersion=1\n"
                                   "[Software\\Velmora\\TarnoqSnmp\\1\\TarnoqSnmp]\nInstalled=1\n"
                                   "etc=" +
                                       config.path + "\n"
                                 : "");
        registry =
            std::make_unique<ScopedEnv>("TARNOQSNMP_REGISTRY", config.file("registry").c_str());
        cwd = std::make_unique<ScopedCwd>(work.path);
        tokenSetOverride(directoryKnown ? 1 : 0);
    }
    ~StatsSetup() { tokenSetOverride(-1); }
    std::string etc(const std::string &name) const { return config.file("etc/" + name); }
};

uint32_t setting() {
    uint32_t value = 0;
    authReadSetting(&value);
    return value;
}

TEST(AuthSetting, FileContentDecides) {
    const struct {
        const char *content;
        uint32_t setting;
    } cases[] = {
        {"AUTHENTICATIONTRAP=disabled\n", 2},
        {"AUTHENTICATIONTRAP=disabled\nAUTHENTICATIONTRAP=enabled\n", 1},
        {"authenticationtrap=disabled\n", 2},
        {"  AuthenticationTrap = disabled\n", 1}, // the value is " disabled"
        {"AUTHENTICATIONTRAP=disabled\nAUTHENTICATIONTRAP= enabled\n", 2},
        {"AUTHENTICATIONTRAP=disabled\nAUTHENTICATIONTRAP=ENABLED\n", 2},
        {"AUTHENTICATIONTRAP=disabled \n", 1},
        {"AUTHENTICATIONTRAP=disabled\r\n", 2}, // written on Windows
        {"# AUTHENTICATIONTRAP=disabled\n", 1},
        {"OTHER=disabled\nAUTHENTICATIONTRAP\n", 1},
        {"", 1},
    };
    for (const auto &c : cases) {
        StatsSetup s;
        writeFile(s.etc("snmp.aut"), c.content);
        EXPECT_EQ(setting(), c.setting) << c.content;
    }
}

TEST(AuthSetting, PlacesInOrder) {
    StatsSetup s;
    EXPECT_EQ(setting(), 1u); // none anywhere
    writeFile(s.work.file("snmp.aut"), "AUTHENTICATIONTRAP=disabled\n");
    EXPECT_EQ(setting(), 2u);
    mkdir(s.work.file("etc/snmp.aut").c_str(), 0755); // no file: passed over
    EXPECT_EQ(setting(), 2u);
    rmdir(s.work.file("etc/snmp.aut").c_str());
    writeFile(s.work.file("etc/snmp.aut"), "AUTHENTICATIONTRAP=enabled\n");
    EXPECT_EQ(setting(), 1u);
    writeFile(s.etc("snmp.aut"), "AUTHENTICATIONTRAP=disabled\n");
    EXPECT_EQ(setting(), 2u);
}

TEST(AuthSetting, ReadTraces) {
    StatsSetup s;
    writeFile(s.etc("snmp.aut"), "AUTHENTICATIONTRAP=disabled\nAUTHENTICATIONTRAP=maybe\n");
    int level = logLevel;
    logLevel = 1;
    EventCapture capture;
    uint32_t value = 0;
    authReadSetting(&value);
    logLevel = level;
    ASSERT_GE(capture.messages.size(), 5u);
    // The lookup's own traces come first.
    Lines tail(capture.messages.end() - 5, capture.messages.end());
    EXPECT_EQ(tail,
              (Lines{"authABFile: " + s.etc("snmp.aut") + "\n", "from " + s.etc("snmp.aut") + " : ",
                     "Authentication trap disabled", "\n", "\n"}));
}

const std::string FIVE_LINES = "# \n"
                               "# AUTHENTICATIONTRAP status :\n"
                               "# - enabled\n"
                               "# - disabled\n";

TEST(AuthSetting, WriterWritesFiveLines) {
    StatsSetup s;
    writeFile(s.etc("snmp.aut"),
              "old content that is longer than the new one ......................"
              "..........................................................\n");
    EXPECT_EQ(authWriteSetting(2), 0);
    EXPECT_EQ(readFile(s.etc("snmp.aut")), FIVE_LINES + "AUTHENTICATIONTRAP=disabled\n");
    EXPECT_EQ(authWriteSetting(1), 0);
    EXPECT_EQ(readFile(s.etc("snmp.aut")), FIVE_LINES + "AUTHENTICATIONTRAP=enabled\n");
    EXPECT_EQ(authWriteSetting(7), 0);
    EXPECT_EQ(readFile(s.etc("snmp.aut")), FIVE_LINES + "AUTHENTICATIONTRAP=disabled\n");
    EXPECT_EQ(setting(), 2u);
    EXPECT_FALSE(fileExists(s.work.file("etc/snmp.aut")));
}

TEST(AuthSetting, WriterFallsBackAndFails) {
    {
        StatsSetup s;
        rmdir(s.config.file("etc").c_str()); // the configured place cannot be opened
        int level = logLevel;
        logLevel = 1;
        EventCapture capture;
        EXPECT_EQ(authWriteSetting(2), 0);
        logLevel = level;
        EXPECT_EQ(readFile(s.work.file("etc/snmp.aut")),
                  FIVE_LINES + "AUTHENTICATIONTRAP=disabled\n");
        ASSERT_GE(capture.messages.size(), 2u);
        Lines tail(capture.messages.end() - 2, capture.messages.end());
        EXPECT_EQ(tail, (Lines{"authABFile: " + s.etc("snmp.aut") + "\n",
                               "authABFile: " + s.etc("snmp.aut") + " errBad\n"}));
    }
    {
        // No directory known and no etc/ here: nowhere to write, and never the bare name.
        StatsSetup s(false, false);
        int level = logLevel;
        logLevel = 1;
        EventCapture capture;
        EXPECT_EQ(authWriteSetting(2), 1);
        EXPECT_EQ(authCheckWritable(), 1);
        logLevel = level;
        EXPECT_FALSE(fileExists(s.work.file("snmp.aut")));
        EXPECT_EQ(capture.messages.back(), "buffer: etc/snmp.aut errBad\n");
    }
}

TEST(AuthSetting, CheckWritable) {
    StatsSetup s;
    EXPECT_EQ(authCheckWritable(), 0);
    EXPECT_FALSE(fileExists(s.etc("snmp.aut"))); // the probe leaves nothing behind
    rmdir(s.config.file("etc").c_str());
    EXPECT_EQ(authCheckWritable(), 0); // etc/ below the working directory
    rmdir(s.work.file("etc").c_str());
    EXPECT_EQ(authCheckWritable(), 1);
}

TEST(AuthSetting, FileWritable) {
    TempDir dir;
    const std::string absent = dir.file("absent");
    EXPECT_EQ(authFileWritable(absent.c_str()), 1);
    EXPECT_FALSE(fileExists(absent));
    const std::string present = dir.file("present");
    writeFile(present, "keep me\n");
    EXPECT_EQ(authFileWritable(present.c_str()), 1);
    EXPECT_EQ(readFile(present), "keep me\n");
    EXPECT_EQ(authFileWritable(dir.file("no/such/dir").c_str()), 0);
    EXPECT_EQ(authFileWritable(dir.path.c_str()), 0); // a directory does not open for appending
}

// A System V segment of the test's own, removed when the test ends.
struct Segment {
    int id;
    uint8_t *address;
    explicit Segment(uint32_t size, const char *signature = "SNMP SHARED MEMORY") {
        id = shmSegmentCreate(size);
        void *a = id >= 0 ? shmSegmentAttach(id) : reinterpret_cast<void *>(-1);
        address = a == reinterpret_cast<void *>(-1) ? nullptr : static_cast<uint8_t *>(a);
        if (address) {
            memset(address, 0, size);
            memcpy(address, signature, strlen(signature) + 1);
        }
    }
    ~Segment() {
        // Leave the statistics in the local block before the segment goes.
        if (reinterpret_cast<uint8_t *>(smpStats) != reinterpret_cast<uint8_t *>(shmLocalBlock)) {
            void *attached = reinterpret_cast<uint8_t *>(smpStats) - SHM_BLOCK_OFFSET;
            smpStats = shmLocalBlock;
            shmSegmentDetach(attached);
        }
        if (address)
            shmSegmentDetach(address);
        if (id >= 0)
            shmSegmentRemove(id);
    }
    uint32_t *block() const { return reinterpret_cast<uint32_t *>(address + SHM_BLOCK_OFFSET); }
};

std::string keyFile(const TempDir &dir, const std::string &content) {
    writeFile(dir.file("snmp.shm"), content);
    return dir.file("snmp.shm");
}

std::string initTrace(const std::string &path) {
    int level = logLevel;
    logLevel = 1;
    EventCapture capture;
    shminit(path.empty() ? nullptr : path.c_str());
    logLevel = level;
    return capture.messages.empty() ? "" : capture.messages.back();
}

TEST(SharedStats, SegmentThatPassesEveryCheckIsUsed) {
    StatsSetup s;
    writeFile(s.etc("snmp.aut"), "AUTHENTICATIONTRAP=disabled\n");
    Segment seg(SHM_SEGMENT_SIZE);
    ASSERT_NE(seg.address, nullptr);
    seg.block()[SMP_STAT_ENABLE_AUTHEN_TRAPS - 1] = 1;
    seg.block()[0] = 41;
    EXPECT_EQ(initTrace(keyFile(s.work, "  " + std::to_string(seg.id) + " trailing words\n")),
              "shared memory used\n");
    ASSERT_NE(smpStats, shmLocalBlock);
    smpStatRaise(SMP_STAT_IN_PKTS);
    // Another attach of the same segment sees the raised counter.
    EXPECT_EQ(seg.block()[0], 42u);
    EXPECT_EQ(smpStatRead(SMP_STAT_IN_PKTS), 42u);
    // The segment keeps its setting; the setting file is not read.
    EXPECT_EQ(smpStatRead(SMP_STAT_ENABLE_AUTHEN_TRAPS), 1u);
}

TEST(SharedStats, DefaultKeyFileInTheConfigurationDirectory) {
    StatsSetup s;
    Segment seg(SHM_SEGMENT_SIZE);
    ASSERT_NE(seg.address, nullptr);
    writeFile(s.etc("snmp.shm"), std::to_string(seg.id));
    EXPECT_EQ(initTrace(""), "shared memory used\n");
    seg.block()[4] = 9; // written through the test's own attach
    EXPECT_EQ(smpStatRead(5), 9u);
}

TEST(SharedStats, TwentiethByteIsNotExamined) {
    StatsSetup s;
    Segment seg(SHM_SEGMENT_SIZE, "SNMP SHARED MEMORY");
    ASSERT_NE(seg.address, nullptr);
    seg.address[19] = 'X';
    EXPECT_EQ(initTrace(keyFile(s.work, std::to_string(seg.id))), "shared memory used\n");
}

TEST(SharedStats, FallsBackToTheLocalBlock) {
    StatsSetup s;
    writeFile(s.etc("snmp.aut"), "AUTHENTICATIONTRAP=disabled\n");
    Segment small(120);
    Segment large(141);
    Segment unsigned_(SHM_SEGMENT_SIZE, "SNMP SHARED MEMORX");
    Segment shortSig(SHM_SEGMENT_SIZE, "SNMP SHARED");
    ASSERT_TRUE(small.address && large.address && unsigned_.address && shortSig.address);
    // The signature's NUL is part of the comparison.
    memcpy(shortSig.address, "SNMP SHARED MEMORY!", 19);
    const std::string keys[] = {
        std::to_string(small.id),
        std::to_string(large.id),
        std::to_string(unsigned_.id),
        std::to_string(shortSig.id),
        "not a number",
        "",
        "99999999999999999999",
        "-1",
        "2147483647",
    };
    for (const auto &key : keys) {
        shmLocalBlock[0] = 77;
        EXPECT_EQ(initTrace(keyFile(s.work, key)), "local memory used\n") << key;
        EXPECT_EQ(smpStats, shmLocalBlock) << key;
        EXPECT_EQ(shmLocalBlock[0], 0u) << key; // the local block starts at zero
        EXPECT_EQ(smpStatRead(SMP_STAT_ENABLE_AUTHEN_TRAPS), 2u) << key;
    }
    EXPECT_EQ(initTrace(s.work.file("missing.shm")), "local memory used\n");
}

TEST(SharedStats, UnknownDirectoryUsesLocalMemory) {
    StatsSetup s(false);
    // A key file where an empty directory would point is never consulted.
    EXPECT_EQ(initTrace(""), "local memory used\n");
    EXPECT_EQ(smpStats, shmLocalBlock);
    EXPECT_EQ(smpStatRead(SMP_STAT_ENABLE_AUTHEN_TRAPS), 1u);
}

TEST(SharedStats, ProcessesSharingTheBlockLoseNoIncrement) {
    StatsSetup s;
    Segment seg(SHM_SEGMENT_SIZE);
    ASSERT_NE(seg.address, nullptr);
    ASSERT_EQ(initTrace(keyFile(s.work, std::to_string(seg.id))), "shared memory used\n");
    constexpr int each = 200000;
    pid_t children[2];
    for (pid_t &child : children) {
        child = fork();
        if (child == 0) {
            for (int i = 0; i < each; ++i)
                smpStatRaise(SMP_STAT_OUT_PKTS);
            _exit(0);
        }
    }
    for (int i = 0; i < each; ++i)
        smpStatRaise(SMP_STAT_OUT_PKTS);
    for (pid_t child : children)
        waitpid(child, nullptr, 0);
    EXPECT_EQ(smpStatRead(SMP_STAT_OUT_PKTS), 3u * each);
}

TEST(SharedStats, WordNumbersOutsideTheBlockAreIgnored) {
    smpStats = shmLocalBlock;
    memset(shmLocalBlock, 0, sizeof shmLocalBlock);
    smpStatRaise(0);
    smpStatRaise(31);
    smpStatWrite(-1, 5);
    for (uint32_t word : shmLocalBlock)
        EXPECT_EQ(word, 0u);
    EXPECT_EQ(smpStatRead(31), 0u);
    smpStatWrite(30, 2);
    EXPECT_EQ(shmLocalBlock[29], 2u);
    smpStatRaise(1);
    EXPECT_EQ(shmLocalBlock[0], 1u);
}

TEST(SharedStats, StatusReportsTheSize) {
    Segment seg(SHM_SEGMENT_SIZE);
    ASSERT_GE(seg.id, 0);
    ShmStatusRec status{};
    EXPECT_EQ(shmStatus(seg.id, 0, &status), 0);
    EXPECT_EQ(status.size, 140u);
    EXPECT_EQ(shmStatus(-1, 0, &status), -1);
    EXPECT_EQ(shmAttach(-1, 0, 0), SHM_ATTACH_FAILED);
}

} // namespace
