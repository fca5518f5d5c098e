// Helpers shared by the unit tests: scratch folders, files, child processes
// and a capture of the event-log sink.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace testing_support {

// A scratch folder under /tmp, removed with everything in it when the object dies.
struct TempDir {
    std::string path;
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    std::string file(const std::string &name) const { return path + "/" + name; }
};

void writeFile(const std::string &path, const std::string &content);
std::string readFile(const std::string &path); // empty when it does not open
bool fileExists(const std::string &path);

// Changes the working directory for the object's life.
struct ScopedCwd {
    std::string previous;
    explicit ScopedCwd(const std::string &dir);
    ~ScopedCwd();
    ScopedCwd(const ScopedCwd &) = delete;
    ScopedCwd &operator=(const ScopedCwd &) = delete;
};

// Sets (or with unset, removes) an environment variable for the object's life.
struct ScopedEnv {
    std::string name, previous;
    bool had;
    ScopedEnv(const std::string &name, const char *value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;
};

// The registry hive text that names configDir as the configuration directory
// (version key "Version", component key with "Installed" and "etc"); extra
// lines go into the component key before "etc".
std::string hiveText(const std::string &configDir, const std::string &extra = "Installed=1\n",
                     const std::string &version = "1");

// The set-up of the configuration readers' tests: a configuration directory
// (config/etc made) that the hive names, or a hive that names none; a working
// directory with an etc/ of its own, made current; the caller taken for an
// administrator while the object lives.
struct ConfigSetup {
    TempDir config;
    TempDir work;
    ScopedEnv registry;
    ScopedCwd cwd;
    explicit ConfigSetup(bool directoryKnown = true);
    ~ConfigSetup();
    ConfigSetup(const ConfigSetup &) = delete;
    ConfigSetup &operator=(const ConfigSetup &) = delete;
    std::string etc(const std::string &name) const { return config.file("etc/" + name); }
};

struct ProcessResult {
    int status = -1; // exit status, or 128 + signal
    std::string out; // standard output
    std::string err; // standard error
};

// Runs argv[0] with argv, in cwd when it is not empty, with env added to the
// environment (an empty value removes the variable), and waits at most
// timeoutSeconds before killing it.
ProcessResult runProcess(const std::vector<std::string> &argv, const std::string &cwd = "",
                         const std::map<std::string, std::string> &env = {},
                         int timeoutSeconds = 30);

// Full path of a program on PATH, or empty.
std::string findProgram(const std::string &name);

// Captures the event-log sink's records while alive; restores syslog after.
struct EventCapture {
    EventCapture();
    ~EventCapture();
    EventCapture(const EventCapture &) = delete;
    EventCapture &operator=(const EventCapture &) = delete;
    std::vector<std::string> headers;
    std::vector<std::string> messages;
    std::string joined() const; // every message, in order, run together
};

} // namespace testing_support

namespace testing_support {

// Registers the whole agent side with the engine, as mibagent does: the
// community check, the trap sender and the process store.
void registerAgentSide();

// A UDP socket bound to 127.0.0.1 on a port the system chose, for tests that
// play an agent, a manager or a trap receiver. Closed when the object dies.
struct UdpPeer {
    int fd = -1;
    int port = 0; // the bound port, 0 when the socket could not be made
    UdpPeer();
    ~UdpPeer();
    UdpPeer(const UdpPeer &) = delete;
    UdpPeer &operator=(const UdpPeer &) = delete;
    // Waits at most timeoutMs for one datagram (of at most 65535 octets);
    // false on silence. fromPort is the sender's port.
    bool receive(std::vector<unsigned char> &data, int &fromPort, int timeoutMs);
    // Sends one datagram to 127.0.0.1:toPort; false when the send fails.
    bool sendTo(int toPort, const std::vector<unsigned char> &data);
};

// A UDP port on 127.0.0.1 that was free a moment ago (bound, read back,
// released), for peers that must be told their port on the command line.
int freeUdpPort();

// A child process that runs while the object lives: standard output and error
// go to files in a scratch folder; the destructor stops it (SIGTERM, then
// SIGKILL after two seconds) unless stop() was called.
struct BackgroundProcess {
    int pid = -1;
    int status = -1; // after stop(): exit status, or 128 + signal
    TempDir logs;
    BackgroundProcess(const std::vector<std::string> &argv, const std::string &cwd = "",
                      const std::map<std::string, std::string> &env = {});
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess &) = delete;
    BackgroundProcess &operator=(const BackgroundProcess &) = delete;
    bool running();            // false once it has ended
    int stop(int signal = 15); // sends the signal, waits, returns status
    std::string out() const;   // standard output so far
    std::string err() const;   // standard error so far
    // Waits at most timeoutMs until standard output holds text; true when it does.
    bool waitForOutput(const std::string &text, int timeoutMs);
};

} // namespace testing_support
