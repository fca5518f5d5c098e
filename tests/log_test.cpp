#include "platform/log.h"
#include "tests/support.h"

#include <gtest/gtest.h>
#include <string>

using namespace testing_support;

namespace {

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
        EXPECT_EQ(capture.headers, (std::vector<std::string>(2, "TarnoqSnmp log : ")));
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
    EXPECT_EQ(readFile(dir.file("TarnoqSnmp.log")), "one two\n");
    logOpenFile(""); // truncates; an empty name is the default
    logPrintf("first\n");
    logOpenFile(nullptr);
    logPrintf("second\n");
    EXPECT_EQ(readFile(dir.file("TarnoqSnmp.log")), "second\n");
    logOpenFile(dir.file("named.log").c_str());
    logPrintf("third\n");
    EXPECT_EQ(readFile(dir.file("named.log")), "third\n");
    logOpenFile(dir.file("missing/x.log").c_str());
    EXPECT_EQ(logFile, nullptr);
    logPrintf("retry\n"); // opens the default file again
    EXPECT_EQ(readFile(dir.file("TarnoqSnmp.log")), "retry\n");

    logSetEventLog(1);
    logSetFile(0);
    fclose(logFile);
    logFile = nullptr;
}

} // namespace
