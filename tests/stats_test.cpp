#include "platform/log.h"
#include "platform/shm.h"
#include "platform/token.h"
#include "smx/stats.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#ifndef _WIN32
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using namespace testing_support;

uint32_t setting(uint32_t value = 0) {
    authReadSetting(&value);
    return value;
}

TEST(AuthSetting, ReadFromTheFirstPlaceThatIsAFile) {
    const std::pair<const char *, uint32_t> contents[] = {
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
    std::filesystem::create_directory(s.work.file("etc/snmp.aut")); // no file: passed over
    EXPECT_EQ(setting(), 2u);
    std::filesystem::remove(s.work.file("etc/snmp.aut"));
    writeFile(s.work.file("etc/snmp.aut"), "AUTHENTICATIONTRAP=enabled\n");
    EXPECT_EQ(setting(), 1u);
    writeFile(s.etc("snmp.aut"), "AUTHENTICATIONTRAP=disabled\n");
    EXPECT_EQ(setting(), 2u);
}

TEST(AuthSetting, WrittenWhereItIsRead) {
    const std::string five = "# \n# AUTHENTICATIONTRAP status :\n# - enabled\n# - disabled\n";
    ConfigSetup s; // the configured place cannot be opened: etc/ below the working directory
    rmdir(s.config.file("etc").c_str());
    EXPECT_EQ(authCheckWritable(), 0);
    EXPECT_FALSE(fileExists(s.work.file("etc/snmp.aut"))); // the probe leaves nothing behind
    writeFile(s.work.file("etc/snmp.aut"), std::string(120, '.') + "\n"); // longer than the new
    std::filesystem::create_directory(s.config.file("etc")); // writable, but read after
    EXPECT_EQ(authWriteSetting(1), 0);
    EXPECT_EQ(lfText(readFile(s.work.file("etc/snmp.aut"))), five + "AUTHENTICATIONTRAP=enabled\n");
    if (!ON_WINDOWS) { // read through a link: not written through, nor anywhere else
        writeFile(s.work.file("target"), "AUTHENTICATIONTRAP=disabled\n");
        std::filesystem::create_symlink(s.work.file("target"), s.etc("snmp.aut"));
        EXPECT_EQ(authCheckWritable(), 1);
        EXPECT_EQ(authWriteSetting(1), 1);
        EXPECT_EQ(readFile(s.work.file("target")), "AUTHENTICATIONTRAP=disabled\n");
    }
    std::filesystem::remove_all(s.work.file("etc")); // none read: the first place to create
    std::filesystem::remove_all(s.config.file("etc"));
    EXPECT_EQ(authWriteSetting(2), 0);
    EXPECT_EQ(lfText(readFile(s.work.file("snmp.aut"))), five + "AUTHENTICATIONTRAP=disabled\n");
    std::filesystem::remove(s.work.file("snmp.aut"));
    std::filesystem::create_directory(s.work.file("snmp.aut")); // nowhere
    EXPECT_EQ(authWriteSetting(2), 1);
    EXPECT_EQ(authCheckWritable(), 1);
    EXPECT_EQ(authFileWritable(s.work.path.c_str()), 0); // a directory does not open to append
}

struct Segment {
    int id;
    uint8_t *address = nullptr;
    explicit Segment(uint32_t size, const char *signature = "SNMP SHARED MEMORY") {
        id = shmSegmentCreate(size); // new segments are zeroed
        void *a = id >= 0 ? shmSegmentAttach(id) : SHM_ATTACH_FAILED;
        if (a != SHM_ATTACH_FAILED)
            address = static_cast<uint8_t *>(memcpy(a, signature, strlen(signature) + 1));
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
    if (ON_WINDOWS) { // no segment ever attaches: each process keeps its local block
        writeFile(s.etc("snmp.shm"), "1\n");
        shminit(nullptr);
        EXPECT_EQ(smpStats, shmLocalBlock);
        EXPECT_EQ(smpStatRead(SMP_STAT_ENABLE_AUTHEN_TRAPS), 2u);
        return;
    }
    Segment small(120), large(141), wrong(SHM_SEGMENT_SIZE, "SNMP SHARED MEMORX");
    Segment cut(SHM_SEGMENT_SIZE, "SNMP SHARED"), seg(SHM_SEGMENT_SIZE);
    ASSERT_TRUE(small.address && large.address && wrong.address && cut.address && seg.address);
    memcpy(cut.address, "SNMP SHARED MEMORY!", 19); // the signature's NUL is compared
    for (const std::string &key :
         {std::to_string(small.id), std::to_string(large.id), std::to_string(wrong.id),
          std::to_string(cut.id), std::string("not a number"), std::string(),
          std::string("99999999999999999999"), std::string("-1"), std::string("2147483647")}) {
        writeFile(s.work.file("key"), key);
        shmLocalBlock[0] = 77;
        shminit(s.work.file("key").c_str());
        EXPECT_EQ(smpStats, shmLocalBlock) << key;
        EXPECT_EQ(shmLocalBlock[0], 0u) << key; // the local block starts at zero
        EXPECT_EQ(smpStatRead(SMP_STAT_ENABLE_AUTHEN_TRAPS), 2u) << key;
    }
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
    smpStatWrite(SMP_STAT_LAST + 1, 5);
    EXPECT_EQ(smpStatRead(SMP_STAT_LAST + 1) + smpStatRead(0), 0u);
    smpStatWrite(SMP_STAT_SILENT_DROPS, 5); // the process's own, not the segment's
    EXPECT_EQ(smpStatRead(SMP_STAT_SILENT_DROPS), 5u);
    EXPECT_STREQ(reinterpret_cast<char *>(seg.address), "SNMP SHARED MEMORY");
    EXPECT_EQ(seg.block()[30], 0u); // still in the attached page
}

TEST(SharedStats, ProcessesSharingTheBlockLoseNoIncrement) {
    LINUX_ONLY("System V shared memory and fork");
#ifndef _WIN32
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
#endif
}

// Each sink on its own, from the initial switches (event log only) on.
TEST(Log, SinksAndTheirFiles) {
    TempDir dir;
    ScopedCwd cwd(dir.path);
    {
        EventCapture capture;
        testing::internal::CaptureStdout();
        logPrintf("hello %d\n", 42);
        logPrintf("%s", std::string(5000, 'x').c_str()); // an overlong message is cut
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(capture.headers[0], "TarnoqSnmp log : ");
        EXPECT_EQ(capture.joined(), "hello 42\n" + std::string(LOG_EVENT_BUFFER - 1, 'x'));
        EXPECT_FALSE(fileExists(dir.file("TarnoqSnmp.log")));
    }
    logSetEventLog(0);
    logSetConsole(1);
    testing::internal::CaptureStdout();
    logPrintf("to %s", "console");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "to console");
    logSetConsole(0);
    EXPECT_EQ(logSetFile(1), 1);
    logPrintf("one %s\n", "two"); // the default file, flushed at once
    EXPECT_EQ(lfText(readFile(dir.file("TarnoqSnmp.log"))), "one two\n");
    logOpenFile(dir.file("missing/x.log").c_str());
    EXPECT_EQ(logFile, nullptr);
    logPrintf("retry\n"); // opens the default file again, truncated
    EXPECT_EQ(lfText(readFile(dir.file("TarnoqSnmp.log"))), "retry\n");
    logSetEventLog(1);
    logSetFile(0);
    fclose(logFile);
    logFile = nullptr;
}

} // namespace

// A child as user nobody, with or without group 0, answers in its exit status.
TEST(Token, RootAndGroupZeroAreAdministrators) {
    LINUX_ONLY("user and group ids, dropped in a forked child");
#ifndef _WIN32
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to drop privileges";
    EXPECT_EQ(tokenIsAdministrator(), 1);
    for (int keepGroupZero : {0, 1}) {
        pid_t pid = fork();
        if (pid == 0) {
            gid_t groups[1] = {0};
            if (setgroups(keepGroupZero, groups) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
                _exit(2);
            _exit(tokenIsAdministrator());
        }
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : 3, keepGroupZero);
    }
#endif
}
