#include "platform/log.h"
#include "tests/support.h"

#include <gtest/gtest.h>
#include <string>

using namespace testing_support;

namespace {

// Restores the sink switches and closes the log file after each test.
struct LogTest : ::testing::Test {
    void TearDown() override {
        logSetEventLog(1);
        logSetFile(0);
        logSetConsole(0);
        if (logFile) {
            fclose(logFile);
            logFile = nullptr;
        }
    }
};

TEST_F(LogTest, InitialFlagsSendToEventLogOnly) {
    EventCapture capture;
    TempDir dir;
    ScopedCwd cwd(dir.path);
    testing::internal::CaptureStdout();
    logPrintf("hello %d\n", 42);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ASSERT_EQ(capture.messages.size(), 1u);
    EXPECT_EQ(capture.headers[0], "TarnoqSnmp log : ");
    EXPECT_EQ(capture.messages[0], "hello 42\n");
    EXPECT_FALSE(fileExists(dir.file("TarnoqSnmp.log")));
}

TEST_F(LogTest, FileSinkCreatesDefaultFileAndFlushes) {
    TempDir dir;
    ScopedCwd cwd(dir.path);
    logSetEventLog(0);
    EXPECT_EQ(logSetFile(1), 1);
    logPrintf("one %s\n", "two");
    EXPECT_EQ(readFile(dir.file("TarnoqSnmp.log")), "one two\n");
    logPrintf("%02X ", 0xAB);
    EXPECT_EQ(readFile(dir.file("TarnoqSnmp.log")), "one two\nAB ");
}

TEST_F(LogTest, OpenFileTruncatesAndEmptyNameMeansDefault) {
    TempDir dir;
    ScopedCwd cwd(dir.path);
    logSetEventLog(0);
    logSetFile(1);
    logOpenFile("");
    logPrintf("first\n");
    logOpenFile(nullptr);
    logPrintf("second\n");
    EXPECT_EQ(readFile(dir.file("TarnoqSnmp.log")), "second\n");
    logOpenFile(dir.file("named.log").c_str());
    logPrintf("third\n");
    EXPECT_EQ(readFile(dir.file("named.log")), "third\n");
}

TEST_F(LogTest, ConsoleSinkWritesStdout) {
    logSetEventLog(0);
    logSetConsole(1);
    testing::internal::CaptureStdout();
    logPrintf("to %s", "console");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "to console");
}

TEST_F(LogTest, UnopenableFileIsRetriedLater) {
    TempDir dir;
    ScopedCwd cwd(dir.path);
    logSetEventLog(0);
    logSetFile(1);
    logOpenFile(dir.file("missing/x.log").c_str());
    EXPECT_EQ(logFile, nullptr);
    logPrintf("retry\n"); // opens the default file
    EXPECT_EQ(readFile(dir.file("TarnoqSnmp.log")), "retry\n");
}

TEST_F(LogTest, OverlongEventMessageIsCut) {
    EventCapture capture;
    std::string big(5000, 'x');
    logPrintf("%s", big.c_str());
    ASSERT_EQ(capture.messages.size(), 1u);
    EXPECT_EQ(capture.messages[0], std::string(LOG_EVENT_BUFFER - 1, 'x'));
}

} // namespace
