#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>

#include "agent/comm.h"
#include "agent/engine.h"
#include "agent/usr.h"
#include "platform/file.h"
#include "platform/log.h"
#include "smp/aps.h"
#include "smp/smp.h"
#include "tests/support.h"

namespace {

using testing_support::ConfigSetup;
using testing_support::EventCapture;
using testing_support::readFile;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::writeFile;

ApsRec *handleOf(const std::string &name, ApsRec *h = apsHandles()) {
    return !h || h->name == name ? h : handleOf(name, h->next);
}

struct CommTest : ::testing::Test {
    ConfigSetup s;
    const char *savedProgram = programName;
    void SetUp() override {
        apsInit();
        ASSERT_EQ(apsTrivialInit(), 0);
        programName = "/usr/sbin/mibagent";
    }
    void TearDown() override {
        commSetFileName(nullptr);
        programName = savedProgram;
    }
};

TEST_F(CommTest, FileDeclaresHostsAndRequestsAreJudged) {
    // A line is a line: a long comment is ignored whole, a long line reported once.
    const std::string tooLong = "toolong 10.0.0.5 READ " + std::string(240, 'x');
    writeFile(s.etc("mibagent.cmm"), "# communities\npublic 0.0.0.0 READ\n"
                                     "private 10.0.0.1 WRITE\nprivate 10.0.0.1 READ\n"
                                     "ro 10.0.0.2 readonly\nignored 10.0.0.3 Nonesuch\n"
                                     "bad 10.0.0.4 RW\n  two words\n"
                                     " \t# a comment after blanks\n\n"
                                     "crlf 10.0.0.6\r\n"
                                     "seventeen-chars-x 10.0.0.8 READ\n"
                                     "nohost no-such-host.invalid READ\n"
                                     "ignored no-such-host.invalid NONE\n" // rights first
                                     "any 0.0.0.0 WRITE\nany 10.0.0.1 READ\n"
                                     "own 10.0.0.1 READ\nown 0.0.0.0 WRITE\n#" +
                                         std::string(252, '-') + " evil 127.0.0.1 WRITE\n" +
                                         tooLong + "\n");
    EventCapture capture;
    EXPECT_EQ(commReadFile(), 0);
    const std::string h = "/usr/sbin/mibagent : community configuration file error\n\tline ";
    const std::string dup = " : host already declared for community :  10.0.0.";
    EXPECT_EQ(capture.joined(), h + "4" + dup + "1\n" + h + "7 : bad rights arg :  RW\n" + h +
                                    "8 : bad arg list :  two words\n" + h +
                                    "11 : bad arg list :  crlf 10.0.0.6\n" + h + "12" + dup +
                                    "8\n" + h + "13 : no such host name :  no-such-host.invalid\n" +
                                    h + "20 : line too long :  " + tooLong.substr(0, 254) + "\n");
    const std::tuple<const char *, uint32_t, int, int> cases[] = {
        {"public", 0xC0A80101, SMP_OP_READ, 1},   // 0.0.0.0 reads from anywhere
        {"public", 0, SMP_OP_READ, 0},            // host 0 is refused before the list is looked at
        {"public", 0x0A000001, 3, 0},             // an unknown operation
        {"private", 0x0A000001, SMP_OP_WRITE, 1}, // the duplicate READ was refused
        {"ro", 0x0A000002, SMP_OP_WRITE, SMP_CHECK_BAD_USE},
        // A host's own entry is judged before the any-host entry, in either order.
        {"any", 0x0A000001, SMP_OP_WRITE, SMP_CHECK_BAD_USE},
        {"any", 0x0A000009, SMP_OP_WRITE, 1},
        {"own", 0x0A000001, SMP_OP_WRITE, SMP_CHECK_BAD_USE},
        {"own", 0x0A000009, SMP_OP_WRITE, 1},
    };
    for (auto [community, address, operation, allowed] : cases) {
        ASSERT_NE(handleOf(community), nullptr) << community;
        EXPECT_EQ(commVerify(address, operation, handleOf(community)), allowed)
            << community << " " << address << " " << operation;
    }
    for (const char *none : {"ignored", "bad", "crlf", "evil", "toolong"})
        EXPECT_EQ(handleOf(none), nullptr) << none;
    EXPECT_EQ(handleOf("private")->refCount, 1); // the refused duplicate gave its reference back
    logLevel = 2;                                // the trace of a refusal
    EventCapture traces;
    EXPECT_EQ(commVerify(0x0A000001, SMP_OP_READ, handleOf("ro")), 0);
    EXPECT_EQ(traces.joined(), "unknown host 0xa000001 for community ro\n");
    logLevel = 0;
    EventCapture again; // reading again: every host is present already, no community declared
    EXPECT_EQ(commInit(), -2);
    EXPECT_NE(again.joined().find("declared communities number =  0"), std::string::npos);
}

// Which file is read: the configured etc/ first, never a directory, or only the one named.
TEST_F(CommTest, WhichFileIsRead) {
    auto read = [](const std::string &program, const std::string &setting, int result,
                   const std::string &community) {
        apsInit();
        ASSERT_EQ(apsTrivialInit(), 0);
        programName = program.c_str();
        commSetFileName(setting.empty() ? nullptr : setting.c_str());
        EXPECT_EQ(commReadFile(), result) << program << " " << setting;
        std::string names; // the handles made from the file
        for (ApsRec *h = apsHandles(); h; h = h->next)
            names += h->hosts ? h->name : "";
        EXPECT_EQ(names, community) << program << " " << setting;
        programName = "mibagent";
    };
    auto file = [](const std::string &path, const std::string &community) {
        writeFile(path, community + " 10.0.0.1 READ\n");
    };
    read("mibagent", "", -1, "");
    file("mibagent.cmm", "bare");
    std::filesystem::create_directories("etc/mibagent.cmm"); // does not hide the bare name
    read("mibagent", "", 0, "bare");
    file(s.etc("mibagent.cmm"), "configured");
    read("/usr/sbin/mibagent.exe.old", "", 0, "configured"); // the stem ends at the first dot
    file("C:\\bin\\mibagent.cmm", "windows"); // on Linux a name; on Windows a path to mibagent
    read("C:\\bin\\mibagent.exe", "", 0, ON_WINDOWS ? "configured" : "windows");
    read("mibagent", "missing.cfg", -1, "");
    file("other.cfg", "other");
    read("mibagent", "other.cfg", 0, "other");
    read("mibagent", std::string(256, 'a'), -1, "");
    file("big.cfg", "big"); // past the bound it is no community file: nothing is declared
    std::filesystem::resize_file("big.cfg", FILE_CONFIG_MAX + 1);
    read("mibagent", "big.cfg", -1, "");
    const std::string stem = "a23456789012345678901234567890b"; // 31 characters
    file(stem + ".cmm", "long");
    read("/opt/" + stem + ".x", "", 0, "long");
    read("/opt/" + stem + "c", "", -1, ""); // cut to 31 characters it would name that file
    ConfigSetup unknown(false);             // the registry names no directory: its etc/ is not read
    file(unknown.etc("mibagent.cmm"), "configured");
    file("mibagent.cmm", "bare");
    read("mibagent", "", 0, "bare");
}

// Users: what each line declares, and every line refused with why, never
// showing a secret.
TEST_F(CommTest, UsersFileDeclaresUsers) {
    const std::string key = std::string(64, 'a'); // 32 octets: a SHA-256 key
    const std::string path = s.etc("mibagent.usr");
    writeFile(path, "# users\n"
                    "plain none - none - noAuthNoPriv READ\n"
                    "md5 MD5 maplesyrup none - authNoPriv write\n"
                    "  # a comment after blanks\n"
                    "keyed sha-256 0x" +
                        key + " AES 0X" + key +
                        " authPriv WRITE\n"
                        "short SHA secret7 none - authNoPriv READ\n"
                        "wronglength MD5 0x" +
                        key +
                        " none - authNoPriv READ\n"
                        "nothex SHA-256 0x" +
                        std::string(64, 'g') +
                        " none - authNoPriv READ\n"
                        "privonly none - AES passphrase noAuthNoPriv READ\n"
                        "toohigh SHA passphrase none - authPriv READ\n"
                        "nosecret SHA - none - authNoPriv READ\n"
                        "badauth SHA1 passphrase none - authNoPriv READ\n"
                        "badpriv SHA passphrase AES128 passphrase authPriv READ\n"
                        "badlevel SHA passphrase none - auth READ\n"
                        "badrights SHA passphrase none - authNoPriv NONE\n"
                        "six words are not seven here\n" +
                        std::string(33, 'n') +
                        " none - none - noAuthNoPriv READ\n"
                        "md5 none - none - noAuthNoPriv READ\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_write);
    EventCapture capture;
    ASSERT_EQ(usrReadFile(), USR_READ);
    const std::string h = "/usr/sbin/mibagent : users file error\n\tline ";
    EXPECT_EQ(capture.joined(),
              h + "6 : passphrase shorter than 8 characters for user : short\n" + h +
                  "7 : key of the wrong length for user : wronglength\n" + h +
                  "8 : key not in hexadecimal for user : nothex\n" + h +
                  "9 : protocols, secrets and level disagree for user : privonly\n" + h +
                  "10 : protocols, secrets and level disagree for user : toohigh\n" + h +
                  "11 : protocols, secrets and level disagree for user : nosecret\n" + h +
                  "12 : bad authentication protocol : SHA1\n" + h +
                  "13 : bad privacy protocol : AES128\n" + h + "14 : bad security level : auth\n" +
                  h + "15 : bad rights arg : NONE\n" + h + "16 : bad arg list : six\n" + h +
                  "17 : user name too long : " + std::string(33, 'n') + "\n" + h +
                  "18 : user already declared : md5\n");
    EXPECT_EQ(usrCount(), 3);
    const std::tuple<const char *, int, int, int, int, int, int> users[] = {
        {"plain", USM_AUTH_NONE, USM_PRIV_NONE, USM_NO_AUTH_NO_PRIV, COMM_READ, 0, 0},
        {"md5", USM_AUTH_MD5, USM_PRIV_NONE, USM_AUTH_NO_PRIV, COMM_WRITE, 10, 0},
        {"keyed", USM_AUTH_SHA256, USM_PRIV_AES, USM_AUTH_PRIV, COMM_WRITE, 32, 32},
    };
    for (auto [name, auth, priv, level, access, authLength, privLength] : users) {
        const UsrUser *u =
            usrFind(reinterpret_cast<const uint8_t *>(name), static_cast<int>(strlen(name)));
        ASSERT_NE(u, nullptr) << name;
        EXPECT_EQ(std::make_tuple(u->auth, u->priv, u->level, u->access, u->authSecret.length,
                                  u->privSecret.length),
                  std::make_tuple(auth, priv, level, access, authLength, privLength))
            << name;
    }
    EXPECT_EQ(usrFind(reinterpret_cast<const uint8_t *>("md"), 2), nullptr);
    if (!ON_WINDOWS) { // secrets every account may read are not loaded, and the users forgotten
        std::filesystem::permissions(path, std::filesystem::perms::others_read,
                                     std::filesystem::perm_options::add);
        EXPECT_EQ(usrReadFile(), USR_OPEN_TO_ALL);
        EXPECT_EQ(usrCount(), 0);
    }
}

// The engine's state: made once, boots raised at every start and latched,
// and a file the agent cannot trust left as it is, with no SNMPv3 served.
TEST_F(CommTest, EngineStateIsKeptAndBootsRise) {
    auto random = [](uint8_t *octets, int n) {
        for (int i = 0; i < n; ++i)
            octets[i] = static_cast<uint8_t>(0x11 * (i + 1));
        return 0;
    };
    auto noRandom = [](uint8_t *, int) { return 1; };
    const std::string path = s.etc("mibagent.eng");
    auto text = [](const std::string &id, const std::string &boots) {
        return "# The SNMP engine of this agent, kept by the agent itself: not configuration.\n"
               "engineID " +
               id + "\nengineBoots " + boots + "\n";
    };
    const std::string made = "80007ed9051122334455667788";
    EXPECT_EQ(engStart(noRandom), -1); // a new identifier needs random octets
    programName = "/usr/sbin/mibagent.exe";
    ASSERT_EQ(engStart(random), 0);
    EXPECT_TRUE(std::filesystem::equivalent(engState()->path, path)) << engState()->path;
    EXPECT_EQ(readFile(path), text(made, "1"));
    ASSERT_EQ(engStart(noRandom), 0); // kept: no new identifier
    EXPECT_EQ(readFile(path), text(made, "2"));
    EXPECT_TRUE(engState()->ready);
    EXPECT_EQ(engBoots(), 2);
    EXPECT_EQ(engTime(), 0);
    writeFile(path, text("8000000001", "2147483647"));
    ASSERT_EQ(engStart(random), 0);
    EXPECT_EQ(readFile(path), text("8000000001", "2147483647"));
    for (const std::string &bad :
         {text("80000000", "3"), text("800000000g", "3"), text("8000000001", "0"),
          text("8000000001", "2147483648"), std::string("engineBoots 3\n"),
          text("8000000001", "3 4"), text("8000000001", "3") + "other 1\n", std::string("")}) {
        writeFile(path, bad);
        EXPECT_EQ(engStart(random), -1) << bad;
        EXPECT_FALSE(engState()->ready) << bad;
        EXPECT_EQ(readFile(path), bad);
    }
    if (!ON_WINDOWS) { // the service manager's state directory comes first
        TempDir state;
        ScopedEnv env("STATE_DIRECTORY", (state.path + ":/elsewhere").c_str());
        ASSERT_EQ(engStart(random), 0);
        EXPECT_EQ(readFile(state.file("mibagent.eng")), text(made, "1"));
        ScopedEnv missing("STATE_DIRECTORY", "/nonexistent/mibagent");
        EXPECT_EQ(engStart(random), -1);
    }
}

} // namespace
