// Helpers shared by the tests: scratch files, configuration, processes, UDP peers, event log.
#pragma once

#include <initializer_list>
#include <map>
#include <sstream>
#include <string>
#include <vector>

// Marks a test that can only run on Linux: on Windows it is skipped, with why.
#ifdef _WIN32
#define LINUX_ONLY(why) GTEST_SKIP() << "Linux only: " why
inline constexpr bool ON_WINDOWS = true;
#else
inline constexpr bool ON_WINDOWS = false;
#define LINUX_ONLY(why) (void)0
#endif

namespace testing_support {

// The programs under test, as built (empty where the build has none); each
// test file has its own copy, from its own compile definitions.
#ifdef MIBWALK_PATH
static const std::string mibwalk = MIBWALK_PATH;
#else
static const std::string mibwalk;
#endif
#ifdef MIBAGENT_PATH
static const std::string mibagent = MIBAGENT_PATH;
#else
static const std::string mibagent;
#endif

// The space-separated rows of a table written a few to a line.
inline std::vector<std::string> words(std::initializer_list<const char *> lines) {
    std::vector<std::string> out;
    std::string w;
    for (const char *line : lines)
        for (std::istringstream in(line); in >> w;)
            out.push_back(w);
    return out;
}

struct NoCopy { // each helper undoes something when it dies: a copy would undo it twice
    NoCopy() = default;
    NoCopy(const NoCopy &) = delete;
    NoCopy &operator=(const NoCopy &) = delete;
};

struct TempDir : NoCopy { // a scratch folder under /tmp, removed with its contents
    std::string path;
    TempDir();
    ~TempDir();
    std::string file(const std::string &name) const { return path + "/" + name; }
};

void writeFile(const std::string &path, const std::string &content);
// The registry the programs read: on Linux the hive file, on Windows also its
// keys below HKEY_LOCAL_MACHINE (removed with the ConfigSetup).
void writeHive(const std::string &file, const std::string &text);
std::string readFile(const std::string &path); // empty when it does not open
// Text written in text mode: on Windows its CR LF line ends are read as LF.
std::string lfText(std::string text);
bool fileExists(const std::string &path);

struct ScopedCwd : NoCopy { // the working directory for the object's life
    std::string previous;
    explicit ScopedCwd(const std::string &dir);
    ~ScopedCwd();
};

struct ScopedEnv : NoCopy { // a variable set (or, with a null value, removed) for its life
    std::string name, previous;
    bool had;
    ScopedEnv(const std::string &name, const char *value);
    ~ScopedEnv();
};

// A hive naming configDir as the configuration directory; extra goes before "etc".
std::string hiveText(const std::string &configDir, const std::string &extra = "Installed=1\n",
                     const std::string &version = "1");

// config/etc that the hive names (or a hive naming none), a current working
// directory with an etc/, and the caller an administrator.
struct ConfigSetup : NoCopy {
    TempDir config, work;
    ScopedEnv registry;
    ScopedCwd cwd;
    explicit ConfigSetup(bool directoryKnown = true);
    ~ConfigSetup();
    std::string etc(const std::string &name) const { return config.file("etc/" + name); }
};

using Env = std::map<std::string, std::string>; // an empty value removes the variable

// A child (argv[0] on PATH) in cwd, env added, stdin /dev/null, outputs in files.
struct BackgroundProcess : NoCopy {
    int pid = -1;
    void *handle = nullptr; // Windows: the process
    int status = -1;        // once ended: exit status, or 128 + signal
    TempDir logs;
    BackgroundProcess(const std::vector<std::string> &argv, const std::string &cwd = "",
                      const Env &env = {});
    ~BackgroundProcess() { stop(); }
    bool running() { return !wait(0); }
    bool wait(int timeoutMs);  // true when it ended within timeoutMs
    int stop(int signal = 15); // signal, then SIGKILL after two seconds; the status
    std::string out() const { return lfText(readFile(logs.file("stdout"))); }
    std::string err() const { return lfText(readFile(logs.file("stderr"))); }
    bool waitForOutput(const std::string &text, int timeoutMs);
};

struct ProcessResult {
    int status = -1; // exit status, or 128 + signal
    std::string out, err;
};

ProcessResult runProcess(const std::vector<std::string> &argv, const std::string &cwd = "",
                         const Env &env = {}, int timeoutSeconds = 30);

// Full path of a program on PATH or in /usr/sbin, /sbin; empty when none.
std::string findProgram(const std::string &name);

struct EventCapture : NoCopy { // the event-log sink's records while alive; syslog after
    EventCapture();
    ~EventCapture();
    std::vector<std::string> headers, messages;
    std::string joined() const; // every message, in order, run together
};

void registerAgentSide(); // the whole agent side, registered with the engine as mibagent does

struct UdpPeer : NoCopy { // a UDP socket on 127.0.0.1, on a port the system chose (0 when none)
    int fd = -1, port = 0;
    UdpPeer();
    ~UdpPeer();
    bool receive(std::vector<unsigned char> &data, int &fromPort, int timeoutMs); // false: silence
    bool sendTo(int toPort, const std::vector<unsigned char> &data);
};

int freeUdpPort(); // a UDP port on 127.0.0.1 that was free a moment ago

} // namespace testing_support
