#include "platform/log.h"
#include "platform/net.h"
#include "smx/def.h"
#include "tests/support.h"
#include "tool/tool.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

// The upstream version of debian/changelog's first entry, as --version prints it.
const std::string changelog = readFile(SOURCE_DIR "/debian/changelog"),
                  version =
                      changelog.substr(changelog.find('(') + 1,
                                       changelog.find_first_of("-)") - changelog.find('(') - 1);
const std::string H = "10.1.2.3",
                  USAGE = " [-d] [-h fhost] [-p fport] [-t timeout] [-i requestId] [-c community]"
                          " [-v 1|2c|3] [-b maxRepetitions] [-r retries] [-u user]"
                          " [-l noAuthNoPriv|authNoPriv|authPriv]"
                          " [-a MD5|SHA|SHA-224|SHA-256|SHA-384|SHA-512] [-A authPassphrase]"
                          " [-x AES|AES-192|AES-256|AES192C|AES256C|DES(old devices only)]"
                          " [-X privPassphrase] [-e engineId] [-n context]"
                          " [-df definitionFile] [-di definitionIncludeDir] [name] ...\n";

// toolParseSettings on "mibwalk" plus args: its status and output, or the settings as text.
std::string settingsOf(std::vector<std::string> args) {
    args.insert(args.begin(), "mibwalk");
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    ToolSettings s = {};
    int saved = logLevel;
    logLevel = 0;
    testing::internal::CaptureStdout();
    int status = toolParseSettings(&s, static_cast<int>(args.size()), argv.data());
    std::string out = testing::internal::GetCapturedStdout();
    char text[128];
    std::swap(saved, logLevel);
    if (status != 0)
        return std::to_string(status) + " " + out;
    snprintf(text, sizeof text, "%08X:%d t%u i%d c=%s d%d df=%s di=%s", s.agentAddress, s.agentPort,
             s.timeout, s.requestId, s.community, saved,
             defGetDefinitionFile() ? defGetDefinitionFile() : "-", defGetDefinitionIncludeDir());
    std::string all = text + out;
    if (s.flags != 0)
        all += " O" + std::to_string(s.flags);
    if (s.version != 0 || s.repetitions != 10 || s.retries != 0) // not the defaults
        all += " v" + std::to_string(s.version) + " b" + std::to_string(s.repetitions) + " r" +
               std::to_string(s.retries);
    if (s.version == 3) {
        all += " u=" + std::string(s.user) + " l" + std::to_string(s.level) + " a" +
               std::to_string(s.auth) + " x" + std::to_string(s.priv) +
               " A=" + (s.authPassphrase ? s.authPassphrase : "-") +
               " X=" + (s.privPassphrase ? s.privPassphrase : "-") + " e=";
        for (int i = 0; i < s.engineIdLength; ++i)
            all += std::to_string(s.engineId[i]) + ".";
        all += " n=" + std::string(s.context);
    }
    for (int i = 0; i < s.nameCount; ++i)
        all += " [" + std::string(s.names[i]) + "]";
    return all;
}

TEST(CommandLine, Settings) {
    const std::string usage = "1 Usage: mibwalk" + USAGE, h = "0A010203:161 ",
                      D = " d0 df=- di=/etc", bad = "2 mibwalk: Bad ";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-z"}, usage},
        {{"--"}, usage},
        {{"-dd"}, usage},
        {{"-df"}, usage},
        {{"-dfz", "defs"}, usage}, // the letter after the skipped "f" must be an option
        {{"-i"}, usage},
        {{"-ch", "public"}, usage},        // the host has no argument left
        {{"-d", "-z", "-t", "5s"}, usage}, // syntax is judged before any value
        {{"-h", "255.255.255.255"}, bad + "foreign host: 255.255.255.255\n"},
        {{"-h", "bad.invalid", "-p", "x", "-t", "x"}, bad + "foreign host: bad.invalid\n"},
        {{"-h", H, "-p", "161abc", "-t", "5s"}, bad + "remote port: 161abc\n"},
        {{"-h", H, "-t", "-1"}, bad + "timeout value: -1\n"},
        {{"-h", H, "-t", "08", "-i", "x"}, bad + "timeout value: 08\n"},
        {{"-h", H, "-i", "0xg"}, bad + "requestId value: 0xg\n"},
        {{"-h", H, "-t", "0x1e", "-i", "0xffffffff"}, h + "t30 i-1 c=public" + D},
        {{"-h", H, "-t", ""}, h + "t0 i0 c=public" + D},
        {{"-h", "localhost", "-p", "70000"}, "7F000001:70000 t0 i0 c=public" + D},
        {{"-h", H, "-p", "snmp-trap"}, "0A010203:162 t0 i0 c=public" + D},
        {{"-h", H, "-c", "a", "-c", "-d"}, h + "t0 i0 c=-d" + D},
        {{"-ch", "private", H}, h + "t0 i0 c=private" + D},
        {{"-hpti", H, "99", "3", "4"}, "0A010203:99 t3 i4 c=public" + D},
        {{"-d", "-d", "-h", H}, h + "t0 i0 c=public d2 df=- di=/etc"},
        {{"-cd", "x", "-h", H}, h + "t0 i0 c=x d1 df=- di=/etc"},
        {{"-", "-h", H, "-", "sys", "-d", ""}, h + "t0 i0 c=public d0 df=- di=/etc [sys] [-d] []"},
        {{"-h", H, "-df", "a", "-df", "defs", "-di", "incl"},
         h + "t0 i0 c=public d0 df=defs di=incl"},
        {{"-h", H, "-dfi", "defs", "7"}, h + "t0 i7 c=public d0 df=defs di=/etc"},
        {{"-h", H, "-did", "-x"}, h + "t0 i0 c=public d1 df=- di=-x"},
        {{"-h", H, "-v", "2c", "-b", "25", "-r", "2", "-t", "5"},
         h + "t5 i0 c=public" + D + " v1 b25 r2"},
        {{"-h", H, "-vbrt", "1", "0", "65535", "1"}, h + "t1 i0 c=public" + D + " v0 b0 r65535"},
        {{"-h", H, "-b", "65535"}, h + "t0 i0 c=public" + D + " v0 b65535 r0"},
        {{"-h", H, "-v", "2", "-b", "x"}, bad + "version value: 2\n"},
        {{"-h", H, "-b", "65536", "-r", "x"}, bad + "max-repetitions value: 65536\n"},
        {{"-h", H, "-r", "x"}, bad + "retries value: x\n"},
        {{"-h", H, "-r", "1"}, usage}, // no timeout: nothing would resend
        {{"-h", H, "-t", "0", "-r", "1"}, usage},
        {{"-h", H, "-v"}, usage},
        {{"-h", H, "-v", "2c", "-u", "me", "-l", "x", "-e", "x"},
         h + "t0 i0 c=public" + D + " v1 b10 r0"},
        {{"-h", H, "-Ojn", "-Ox", "-Cc", "x"}, h + "t0 i0 c=public" + D + " O15 [x]"},
        {{"-h", H, "-tOnx", "5"}, h + "t5 i0 c=public" + D + " O3"}, // O takes the rest
        {{"-O"}, usage},
        {{"-Oc"}, usage},
        {{"-Ojq"}, usage},
        {{"-C"}, usage},
        {{"-dO"}, usage},
        {{"--help", "-x"}, "-1 Usage: mibwalk" + USAGE},
        {{"-h", H, "--version", "--help"}, "-1 mibwalk " + version + "\n"},
        {{"-h", H, "-c", "--help"}, h + "t0 i0 c=--help" + D},
    };
    for (const auto &[args, expected] : cases)
        EXPECT_EQ(settingsOf(args), expected) << args[0];
    // Version 3 after "-h H -v 3": the arguments, then the settings' or the refusal's text.
    const std::string u33(33, 'u'), e66(66, '8'), p256(256, 'p'), n32(32, 'n'),
        v3 = h + "t0 i0 c=public" + D + " v3 b10 r0 u=";
    const std::vector<std::pair<std::string, std::string>> v3cases = {
        {"", "2 mibwalk: Missing user name: -u\n"},
        {"-u " + u33, bad + "user name: " + u33 + "\n"},
        {"-u me -l auth", bad + "security level: auth\n"},
        {"-u me -a none", bad + "authentication protocol: none\n"},
        {"-u me -a SHA-1 -b x", bad + "authentication protocol: SHA-1\n"},
        {"-u me -x none", bad + "privacy protocol: none\n"},
        {"-u me -l authNoPriv", "2 mibwalk: Missing passphrase: -A\n"},
        {"-u me -l authNoPriv -A 1234567", "2 mibwalk: Passphrase under 8 characters: -A\n"},
        {"-u me -l authNoPriv -A " + p256, "2 mibwalk: Passphrase over 255 characters: -A\n"},
        {"-ulAX me AUTHPRIV 12345678 1234567", "2 mibwalk: Passphrase under 8 characters: -X\n"},
        {"-u me -e 0x800000000", bad + "engine ID: 0x800000000\n"},
        {"-u me -e 80000000", bad + "engine ID: 80000000\n"},
        {"-u me -e 800000000g", bad + "engine ID: 800000000g\n"},
        {"-u me -e " + e66, bad + "engine ID: " + e66 + "\n"},
        {"-u me -n n" + n32, bad + "context name: n" + n32 + "\n"},
        {"-u me -A 12345678", v3 + "me l0 a0 x0 A=- X=- e= n="},
        {"-u me -l authNoPriv -A 12345678 -X 1", v3 + "me l1 a1 x0 A=12345678 X=- e= n="},
        {"-u me -l authpriv -a sha-512 -x aes256c -A 12345678 -X abcdefgh -e 0X0a0B0c0D0e -n " +
             n32,
         v3 + "me l2 a6 x6 A=12345678 X=abcdefgh e=10.11.12.13.14. n=" + n32},
    };
    for (const auto &[args, expected] : v3cases) {
        std::vector<std::string> all = {"-h", H, "-v", "3"};
        for (std::istringstream in(args); in >> all.emplace_back();)
            ;
        all.pop_back();
        EXPECT_EQ(settingsOf(all), expected) << args;
    }
    char local[16];
    snprintf(local, sizeof local, "%08X:161 ", hostGetLocalAddress());
    EXPECT_EQ(settingsOf({}), local + std::string("t0 i0 c=public d0 df=- di=/etc"));
    char *none[] = {nullptr};
    ToolSettings settings = {};
    EXPECT_EQ(toolParseSettings(&settings, 0, none), 0); // no argv[0]
    EXPECT_STREQ(programName, "");
}

// -A and -X win over the variables; the wipe leaves neither source readable.
TEST(CommandLine, Passphrases) {
    ScopedEnv a(TOOL_AUTH_PASSPHRASE_VARIABLE, "authenv1"),
        x(TOOL_PRIV_PASSPHRASE_VARIABLE, "privenv1");
    const std::string v3 = "0A010203:161 t0 i0 c=public d0 df=- di=/etc v3 b10 r0 u=me l2 a1 x2 A=";
    EXPECT_EQ(settingsOf({"-h", H, "-v", "3", "-u", "me", "-l", "authPriv"}),
              v3 + "authenv1 X=privenv1 e= n=");
    std::vector<std::string> args = {"mibwalk",  "-v", "3", "-u", "me",      "-l",
                                     "authPriv", "-h", H,   "-A", "given123"};
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    ToolSettings s = {};
    testing::internal::CaptureStdout();
    EXPECT_EQ(toolParseSettings(&s, static_cast<int>(argv.size()), argv.data()), 0);
    testing::internal::GetCapturedStdout();
    toolWipePassphrases(&s);
    EXPECT_EQ(args[10], std::string(8, '\0'));
    EXPECT_STREQ(getenv(TOOL_PRIV_PASSPHRASE_VARIABLE), "");
    EXPECT_STREQ(getenv(TOOL_AUTH_PASSPHRASE_VARIABLE), "authenv1"); // -A was taken
}

#ifdef MIBWALK_PATH
// The program itself: messages carry argv[0] as given, and the exit statuses.
TEST(Mibwalk, ExitStatusesAndMessages) {
    const std::string P = MIBWALK_PATH, c17(17, 'c'),
                      unsent = P + ": Error sending protocol request\n";
    const std::vector<std::tuple<std::vector<std::string>, int, std::string>> cases = {
        {{"-dd"}, 1, "Usage: " + P + USAGE},
        {{"--help"}, 0, "Usage: " + P + USAGE},
        {{"--version"}, 0, "mibwalk " + version + "\n"},
        {{"-h", "nowhere.invalid", "-p", "x"}, 2, P + ": Bad foreign host: nowhere.invalid\n"},
        // Settings that stand reach the walk; a 17-character community stops it unsent.
        {{"-h", H, "-t", "010", "-i", "0x1e", "-c", c17, "1.3.6.1"}, 2, unsent},
        {{"-h", H, "-df", "/dev/zero", "-c", c17, "1.3.6.1"}, 2, unsent}, // never ends if read
    };
    for (auto [args, status, out] : cases) {
        args.insert(args.begin(), P);
        ProcessResult result = runProcess(args);
        EXPECT_EQ(result.status, status) << args[1];
        EXPECT_EQ(result.out + result.err, out) << args[1];
    }
}

// Without -h the local host's name must resolve; a UTS namespace renames the host.
TEST(Mibwalk, LocalHostNotFound) {
    LINUX_ONLY("a UTS namespace (unshare) renames the host");
    if (runProcess({"unshare", "--uts", "true"}).status != 0)
        GTEST_SKIP() << "no permission for a new UTS namespace";
    const std::string program = MIBWALK_PATH;
    ProcessResult result = runProcess(
        {"unshare", "--uts", "sh", "-c", "hostname nowhere.invalid && exec " + program + " -t 5s"});
    EXPECT_EQ(result.status, 2) << result.err;
    EXPECT_EQ(result.out, program + ": Can't find out local host\n");
}
#endif

} // namespace
