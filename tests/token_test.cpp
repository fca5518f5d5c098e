#include "platform/token.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The answer of a child that dropped to user and group nobody, with or without
// supplementary group 0: its exit status carries it, 2 when the drop failed.
int answerWithoutRoot(bool keepGroupZero) {
    pid_t pid = fork();
    if (pid == 0) {
        gid_t groups[1] = {0};
        if (setgroups(keepGroupZero ? 1 : 0, groups) != 0 || setgid(65534) != 0 ||
            setuid(65534) != 0)
            _exit(2);
        _exit(tokenIsAdministrator());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 3;
}

TEST(Token, RootAndGroupZeroAreAdministrators) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to drop privileges";
    EXPECT_EQ(tokenIsAdministrator(), 1);
    EXPECT_EQ(answerWithoutRoot(false), 0);
    EXPECT_EQ(answerWithoutRoot(true), 1);
}

} // namespace
