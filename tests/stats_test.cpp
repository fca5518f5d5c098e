#include "platform/shm.h"
#include "smx/stats.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using testing_support::ConfigSetup;
using testing_support::fileExists;
using testing_support::readFile;
using testing_support::writeFile;

uint32_t setting(uint32_t value = 0) {
    authReadSetting(&value);
    return value;
}

TEST(AuthSetting, ReadFromTheFirstPlaceThatIsAFile) {
    const std::pair<const char *, uint32_t> contents[] = {
        {"AUTHENTICATIONTRAP=disabled\n", 2},
        {"AUTHENTICATIONTRAP=disabled\nAUTHENTICATIONTRAP=enabled\n", 1}, // the last line wins
        {"  AuthenticationTrap = disabled\n", 1}, // the value is " disabled"
        {"AUTHENTICATIONTRAP=disabled\r\n", 2},   // written on Windows
        {"# AUTHENTICATIONTRAP=disabled\nAUTHENTICATIONTRAP\n", 1},
    };
    for (const auto &[content, expected] : contents) {
        ConfigSetup s;
        writeFile(s.etc("snmp.aut"), content);
        EXPECT_EQ(setting(), expected) << content;
    }
    ConfigSetup s;
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

TEST(AuthSetting, WrittenWhereItCanBe) {
    const std::string five = "# \n# AUTHENTICATIONTRAP status :\n# - enabled\n# - disabled\n";
    ConfigSetup s;
    writeFile(s.etc("snmp.aut"), std::string(120, '.') + "\n"); // longer than the new content
    EXPECT_EQ(authWriteSetting(7), 0);
    EXPECT_EQ(readFile(s.etc("snmp.aut")), five + "AUTHENTICATIONTRAP=disabled\n");
    // The configured place cannot be opened: etc/ below the working directory.
    remove(s.etc("snmp.aut").c_str());
    rmdir(s.config.file("etc").c_str());
    EXPECT_EQ(authCheckWritable(), 0);
    EXPECT_FALSE(fileExists(s.work.file("etc/snmp.aut"))); // the probe leaves nothing behind
    EXPECT_EQ(authWriteSetting(1), 0);
    EXPECT_EQ(readFile(s.work.file("etc/snmp.aut")), five + "AUTHENTICATIONTRAP=enabled\n");
    // Nowhere to write, and never the bare name.
    remove(s.work.file("etc/snmp.aut").c_str());
    rmdir(s.work.file("etc").c_str());
    EXPECT_EQ(authWriteSetting(2), 1);
    EXPECT_EQ(authCheckWritable(), 1);
    EXPECT_FALSE(fileExists(s.work.file("snmp.aut")));
    EXPECT_EQ(authFileWritable(s.work.path.c_str()), 0); // a directory does not open to append
}

// A System V segment of the test's own, removed when the test ends.
struct Segment {
    int id;
    uint8_t *address = nullptr;
    explicit Segment(uint32_t size, const char *signature = "SNMP SHARED MEMORY") {
        id = shmSegmentCreate(size);
        void *a = id >= 0 ? shmSegmentAttach(id) : SHM_ATTACH_FAILED;
        if (a != SHM_ATTACH_FAILED) {
            address = static_cast<uint8_t *>(a);
            memset(address, 0, size);
            memcpy(address, signature, strlen(signature) + 1);
        }
    }
    ~Segment() {
        if (smpStats != shmLocalBlock) { // back to the local block before the segment goes
            void *attached = reinterpret_cast<uint8_t *>(smpStats) - SHM_BLOCK_OFFSET;
            smpStats = shmLocalBlock;
            shmSegmentDetach(attached);
        }
        if (address)
            shmSegmentDetach(address);
        shmSegmentRemove(id);
    }
    uint32_t *block() const { return reinterpret_cast<uint32_t *>(address + SHM_BLOCK_OFFSET); }
};

TEST(SharedStats, OnlyASegmentThatPassesEveryCheckIsUsed) {
    ConfigSetup s;
    writeFile(s.etc("snmp.aut"), "AUTHENTICATIONTRAP=disabled\n");
    Segment small(120), large(141), unsigned_(SHM_SEGMENT_SIZE, "SNMP SHARED MEMORX");
    Segment shortSig(SHM_SEGMENT_SIZE, "SNMP SHARED"), seg(SHM_SEGMENT_SIZE);
    ASSERT_TRUE(small.address && large.address && unsigned_.address && shortSig.address);
    memcpy(shortSig.address, "SNMP SHARED MEMORY!", 19); // the signature's NUL is compared
    for (const std::string &key :
         {std::to_string(small.id), std::to_string(large.id), std::to_string(unsigned_.id),
          std::to_string(shortSig.id), std::string("not a number"), std::string(),
          std::string("99999999999999999999"), std::string("-1"), std::string("2147483647")}) {
        writeFile(s.work.file("key"), key);
        shmLocalBlock[0] = 77;
        shminit(s.work.file("key").c_str());
        EXPECT_EQ(smpStats, shmLocalBlock) << key;
        EXPECT_EQ(shmLocalBlock[0], 0u) << key; // the local block starts at zero
        EXPECT_EQ(smpStatRead(SMP_STAT_ENABLE_AUTHEN_TRAPS), 2u) << key;
    }
    ASSERT_NE(seg.address, nullptr);
    seg.address[19] = 'X'; // the twentieth byte is not examined
    seg.block()[SMP_STAT_ENABLE_AUTHEN_TRAPS - 1] = 1;
    seg.block()[0] = 41;
    writeFile(s.etc("snmp.shm"), "  " + std::to_string(seg.id) + " trailing words\n");
    shminit(nullptr); // the default key file is in the configuration directory
    ASSERT_NE(smpStats, shmLocalBlock);
    smpStatRaise(SMP_STAT_IN_PKTS);
    EXPECT_EQ(seg.block()[0], 42u);                           // seen through another attach
    EXPECT_EQ(smpStatRead(SMP_STAT_ENABLE_AUTHEN_TRAPS), 1u); // the file is not read
    // Word numbers outside the block are ignored: the signature and the word past stay.
    smpStatRaise(0);
    smpStatWrite(-1, 5);
    smpStatWrite(31, 5);
    EXPECT_EQ(smpStatRead(31) + smpStatRead(0), 0u);
    EXPECT_STREQ(reinterpret_cast<char *>(seg.address), "SNMP SHARED MEMORY");
    EXPECT_EQ(seg.block()[30], 0u); // still in the attached page
}

TEST(SharedStats, ProcessesSharingTheBlockLoseNoIncrement) {
    ConfigSetup s;
    Segment seg(SHM_SEGMENT_SIZE);
    ASSERT_NE(seg.address, nullptr);
    writeFile(s.work.file("key"), std::to_string(seg.id));
    shminit(s.work.file("key").c_str());
    ASSERT_NE(smpStats, shmLocalBlock);
    constexpr int each = 200000;
    pid_t children[2];
    for (pid_t &child : children) {
        if ((child = fork()) == 0) {
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

} // namespace
