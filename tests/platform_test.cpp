#include "platform/log.h"
#include "platform/token.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace testing_support;

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
    EXPECT_EQ(readFile(dir.file("TarnoqSnmp.log")), "one two\n");
    logOpenFile(""); // truncates; an empty name is the default
    logPrintf("second\n");
    EXPECT_EQ(readFile(dir.file("TarnoqSnmp.log")), "second\n");
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

// A child dropped to user and group nobody, with or without supplementary
// group 0, answers in its exit status (2: the drop failed).
TEST(Token, RootAndGroupZeroAreAdministrators) {
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
}
