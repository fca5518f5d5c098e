#include "platform/log.h"
#include "platform/net.h"
#include "smx/def.h"
#include "tests/support.h"
#include "tool/tool.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace testing_support;

namespace {

const std::string USAGE =
    "Usage: mibwalk [-d] [-h fhost] [-p fport] [-t timeout] [-i requestId] [-c community]"
    " [-df definitionFile] [-di definitionIncludeDir] [name] ...\n";

// Runs the settings step in-process on "mibwalk" plus args, capturing stdout.
struct SettingsRun {
    std::vector<std::string> args;
    std::vector<char *> argv;
    ToolSettings settings = {};
    int status = -1;
    std::string out;
    int level = 0;

    explicit SettingsRun(std::vector<std::string> given) : args(std::move(given)) {
        args.insert(args.begin(), "mibwalk");
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int saved = logLevel;
        logLevel = 0;
        testing::internal::CaptureStdout();
        status = toolParseSettings(&settings, static_cast<int>(args.size()), argv.data());
        out = testing::internal::GetCapturedStdout();
        level = logLevel;
        logLevel = saved;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> n;
        for (int i = 0; i < settings.nameCount; ++i)
            n.emplace_back(settings.names[i]);
        return n;
    }
};

TEST(CommandLine, UsageErrors) {
    const std::vector<std::vector<std::string>> cases = {
        {"-x"},
        {"--"},
        {"-dd"},
        {"-dx"},
        {"-d-"},
        {"-df"},
        {"-di"},
        {"-dfx", "defs"}, // the letter after the skipped "f" must be an option
        {"-c"},
        {"-h"},
        {"-p"},
        {"-t"},
        {"-i"},
        {"-ch", "public"}, // the host has no argument left
        {"-h", "10.1.2.3", "-q", "name"},
        {"-d", "-x", "-t", "5s"}, // syntax is judged before any value
    };
    for (const auto &args : cases) {
        SettingsRun run(args);
        EXPECT_EQ(run.status, 1) << args[0];
        EXPECT_EQ(run.out, USAGE) << args[0];
    }
}

TEST(CommandLine, PrintUsageUsesTheProgramNameAndReturnsOne) {
    const char *saved = programName;
    programName = "walker";
    testing::internal::CaptureStdout();
    EXPECT_EQ(printUsage(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Usage: walker [-d] [-h fhost] [-p fport] [-t timeout] [-i requestId] "
              "[-c community] [-df definitionFile] [-di definitionIncludeDir] [name] ...\n");
    programName = saved;
}

TEST(CommandLine, RejectedValuesFirstFailureOnly) {
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const std::vector<Case> cases = {
        {{"-h", "no-such-host.invalid"}, "mibwalk: Bad foreign host: no-such-host.invalid\n"},
        {{"-h", "255.255.255.255"}, "mibwalk: Bad foreign host: 255.255.255.255\n"},
        {{"-h", "bad.invalid", "-p", "nosuchservice", "-t", "x"},
         "mibwalk: Bad foreign host: bad.invalid\n"},
        {{"-h", "10.1.2.3", "-p", "nosuchservice"}, "mibwalk: Bad remote port: nosuchservice\n"},
        {{"-h", "10.1.2.3", "-p", "161abc", "-t", "5s"}, "mibwalk: Bad remote port: 161abc\n"},
        {{"-h", "10.1.2.3", "-t", "5s"}, "mibwalk: Bad timeout value: 5s\n"},
        {{"-h", "10.1.2.3", "-t", "-1"}, "mibwalk: Bad timeout value: -1\n"},
        {{"-h", "10.1.2.3", "-t", "08"}, "mibwalk: Bad timeout value: 08\n"},
        {{"-h", "10.1.2.3", "-t", "5s", "-i", "x"}, "mibwalk: Bad timeout value: 5s\n"},
        {{"-h", "10.1.2.3", "-i", "12z"}, "mibwalk: Bad requestId value: 12z\n"},
        {{"-h", "10.1.2.3", "-i", "0xg"}, "mibwalk: Bad requestId value: 0xg\n"},
    };
    for (const Case &c : cases) {
        SettingsRun run(c.args);
        EXPECT_EQ(run.status, 2) << c.out;
        EXPECT_EQ(run.out, c.out);
    }
}

TEST(CommandLine, DefaultsWhenNothingIsGiven) {
    SettingsRun run({});
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.settings.agentAddress, hostGetLocalAddress());
    EXPECT_EQ(run.settings.agentPort, hostSnmpPort());
    EXPECT_EQ(run.settings.timeout, 0u);
    EXPECT_EQ(run.settings.requestId, 0);
    EXPECT_STREQ(run.settings.community, "public");
    EXPECT_EQ(run.settings.nameCount, 0);
    EXPECT_EQ(run.level, 0);
    EXPECT_EQ(defGetDefinitionFile(), nullptr);
    EXPECT_STREQ(defGetDefinitionIncludeDir(), "/etc");
    EXPECT_STREQ(programName, "mibwalk");
}

TEST(CommandLine, SettingsThatStand) {
    struct Case {
        std::vector<std::string> args;
        uint32_t address;
        int port;
        uint32_t timeout;
        int32_t requestId;
        const char *community;
        int level;
        std::vector<std::string> names;
    };
    const uint32_t host = 0x0A010203u;
    const std::vector<Case> cases = {
        {{"-h", "10.1.2.3", "-t", "010"}, host, 161, 8, 0, "public", 0, {}},
        {{"-h", "10.1.2.3", "-t", "0x1e"}, host, 161, 30, 0, "public", 0, {}},
        {{"-h", "10.1.2.3", "-t", ""}, host, 161, 0, 0, "public", 0, {}},
        {{"-h", "10.1.2.3", "-i", "0xffffffff"}, host, 161, 0, -1, "public", 0, {}},
        {{"-h", "10.1.2.3", "-i", "5"}, host, 161, 0, 5, "public", 0, {}},
        {{"-h", "localhost"}, 0x7F000001u, 161, 0, 0, "public", 0, {}},
        {{"-h", "10.1.2.3", "-p", "1234"}, host, 1234, 0, 0, "public", 0, {}},
        {{"-h", "10.1.2.3", "-p", "snmp-trap"}, host, 162, 0, 0, "public", 0, {}},
        {{"-h", "10.1.2.3", "-p", "70000"}, host, 70000, 0, 0, "public", 0, {}},
        {{"-h", "10.1.2.3", "-c", "-d"}, host, 161, 0, 0, "-d", 0, {}},
        {{"-h", "10.1.2.3", "-c", "a", "-c", "b"}, host, 161, 0, 0, "b", 0, {}},
        {{"-ch", "private", "10.1.2.3"}, host, 161, 0, 0, "private", 0, {}},
        {{"-hpti", "10.1.2.3", "99", "3", "4"}, host, 99, 3, 4, "public", 0, {}},
        {{"-d", "-d", "-h", "10.1.2.3"}, host, 161, 0, 0, "public", 2, {}},
        {{"-cd", "x", "-h", "10.1.2.3"}, host, 161, 0, 0, "x", 1, {}},
        {{"-", "-h", "10.1.2.3", "-", "sysDescr"}, host, 161, 0, 0, "public", 0, {"sysDescr"}},
        {{"-h", "10.1.2.3", "system", "-d", "-x", "1.3.6"},
         host,
         161,
         0,
         0,
         "public",
         0,
         {"system", "-d", "-x", "1.3.6"}},
        {{"-h", "10.1.2.3", "", "-d"}, host, 161, 0, 0, "public", 0, {"", "-d"}},
    };
    for (const Case &c : cases) {
        SettingsRun run(c.args);
        std::string label = c.args.empty() ? "" : c.args[0] + " " + c.args.back();
        ASSERT_EQ(run.status, 0) << label << ": " << run.out;
        EXPECT_EQ(run.out, "") << label;
        EXPECT_EQ(run.settings.agentAddress, c.address) << label;
        EXPECT_EQ(run.settings.agentPort, c.port) << label;
        EXPECT_EQ(run.settings.timeout, c.timeout) << label;
        EXPECT_EQ(run.settings.requestId, c.requestId) << label;
        EXPECT_STREQ(run.settings.community, c.community) << label;
        EXPECT_EQ(run.level, c.level) << label;
        EXPECT_EQ(run.names(), c.names) << label;
    }
}

TEST(CommandLine, SettingsAreTheArgumentStringsThemselves) {
    SettingsRun run({"-h", "10.1.2.3", "-c", "secret", "one", "two"});
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.settings.community, run.argv[4]);
    EXPECT_EQ(run.settings.names, run.argv.data() + 5);
}

TEST(CommandLine, DefinitionOptions) {
    struct Case {
        std::vector<std::string> args;
        const char *file;
        const char *includeDir;
        int32_t requestId;
        int level;
    };
    const std::vector<Case> cases = {
        {{"-df", "defs", "-di", "incl"}, "defs", "incl", 0, 0},
        {{"-dfi", "defs", "7"}, "defs", "/etc", 7, 0},
        {{"-dfd", "defs"}, "defs", "/etc", 0, 1},
        {{"-did", "incl"}, nullptr, "incl", 0, 1},
        {{"-df", "a", "-df", "b"}, "b", "/etc", 0, 0},
        {{"-df", "-x"}, "-x", "/etc", 0, 0},
    };
    for (const Case &c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), {"-h", "10.1.2.3"});
        SettingsRun run(args);
        ASSERT_EQ(run.status, 0) << c.args[0] << ": " << run.out;
        if (c.file)
            EXPECT_STREQ(defGetDefinitionFile(), c.file) << c.args[0];
        else
            EXPECT_EQ(defGetDefinitionFile(), nullptr) << c.args[0];
        EXPECT_STREQ(defGetDefinitionIncludeDir(), c.includeDir) << c.args[0];
        EXPECT_EQ(run.settings.requestId, c.requestId) << c.args[0];
        EXPECT_EQ(run.level, c.level) << c.args[0];
    }
    // A new run starts from the defaults again.
    SettingsRun plain({"-h", "10.1.2.3"});
    EXPECT_EQ(defGetDefinitionFile(), nullptr);
    EXPECT_STREQ(defGetDefinitionIncludeDir(), "/etc");
}

TEST(CommandLine, ToolRunReturnsTheSettingsStatus) {
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const std::vector<Case> cases = {{{"-x"}, 1}, {{"-h", "10.1.2.3", "-t", "5s"}, 2}};
    for (const Case &c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "mibwalk");
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int saved = logLevel;
        testing::internal::CaptureStdout();
        EXPECT_EQ(toolRun(static_cast<int>(args.size()), argv.data()), c.status) << c.args[0];
        testing::internal::GetCapturedStdout();
        logLevel = saved;
    }
}

TEST(CommandLine, NoArgumentVectorAtAll) {
    char *argv[] = {nullptr};
    ToolSettings settings = {};
    testing::internal::CaptureStdout();
    EXPECT_EQ(toolParseSettings(&settings, 0, argv), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_STREQ(programName, "");
    EXPECT_EQ(settings.nameCount, 0);
}

#ifdef MIBWALK_PATH
// The program itself: messages carry argv[0] as given, and the exit statuses.
TEST(Mibwalk, ExitStatusesAndMessages) {
    const std::string program = MIBWALK_PATH;
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
    };
    const std::string usage =
        "Usage: " + program + USAGE.substr(std::string("Usage: mibwalk").size());
    const std::vector<Case> cases = {
        {{"-x"}, 1, usage},
        {{"-dd"}, 1, usage},
        {{"-h", "10.1.2.3", "-t", "5s"}, 2, program + ": Bad timeout value: 5s\n"},
        {{"-h", "nowhere.invalid", "-p", "x"},
         2,
         program + ": Bad foreign host: nowhere.invalid\n"},
        // Settings that stand reach the walk, which a 17-character community
        // stops at its first request, before anything is sent.
        {{"-h", "10.1.2.3", "-t", "010", "-i", "0x1e", "-c", "ccccccccccccccccc", "1.3.6.1"},
         2,
         program + ": Error sending protocol request\n"},
        // A device is no definitions file: read, it would never end.
        {{"-h", "10.1.2.3", "-df", "/dev/zero", "-c", "ccccccccccccccccc", "1.3.6.1"},
         2,
         program + ": Error sending protocol request\n"},
    };
    for (const Case &c : cases) {
        std::vector<std::string> argv = c.args;
        argv.insert(argv.begin(), program);
        ProcessResult result = runProcess(argv);
        EXPECT_EQ(result.status, c.status) << c.args[0];
        EXPECT_EQ(result.out, c.out) << c.args[0];
        EXPECT_EQ(result.err, "") << c.args[0];
    }
}

// Without -h the local host's name must resolve; a namespace of its own lets
// the test give the host a name that does not.
TEST(Mibwalk, LocalHostNotFound) {
    if (findProgram("unshare").empty())
        GTEST_SKIP() << "unshare is not installed";
    if (runProcess({"unshare", "--uts", "true"}).status != 0)
        GTEST_SKIP() << "no permission for a new UTS namespace";
    const std::string program = MIBWALK_PATH;
    ProcessResult result = runProcess(
        {"unshare", "--uts", "sh", "-c", "hostname nowhere.invalid && exec " + program + " -t 5s"});
    EXPECT_EQ(result.status, 2) << result.err;
    EXPECT_EQ(result.out, program + ": Can't find out local host\n");
    // With -h the local name is not needed.
    result = runProcess(
        {"unshare", "--uts", "sh", "-c",
         "hostname nowhere.invalid && exec " + program + " -h 10.1.2.3 -c ccccccccccccccccc"});
    EXPECT_EQ(result.status, 2) << result.out << result.err;
    EXPECT_EQ(result.out, program + ": Error sending protocol request\n");
}
#endif

} // namespace
