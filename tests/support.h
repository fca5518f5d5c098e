// Helpers shared by the tests: scratch folders and files, the configuration
// set-up, child processes, UDP peers and a capture of the event-log sink.
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

// Sets (or with a null value, removes) an environment variable for the object's life.
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

// The configuration readers' set-up: a configuration directory (config/etc
// made) that the hive names, or a hive that names none; a working directory
// with an etc/ of its own, made current; the caller an administrator.
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

using Env = std::map<std::string, std::string>; // an empty value removes the variable

// A child process (argv[0] looked up on PATH) run in cwd when not empty, with
// env added, its standard input /dev/null and its outputs in files of logs;
// the destructor stops it unless stop() was called.
struct BackgroundProcess {
    int pid = -1;
    int status = -1; // once ended: exit status, or 128 + signal
    TempDir logs;
    BackgroundProcess(const std::vector<std::string> &argv, const std::string &cwd = "",
                      const Env &env = {});
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess &) = delete;
    BackgroundProcess &operator=(const BackgroundProcess &) = delete;
    bool running();            // false once it has ended
    bool wait(int timeoutMs);  // true when it ended within timeoutMs
    int stop(int signal = 15); // signal, then SIGKILL after two seconds; the status
    std::string out() const;   // standard output so far
    std::string err() const;   // standard error so far
    bool waitForOutput(const std::string &text, int timeoutMs);
};

struct ProcessResult {
    int status = -1; // exit status, or 128 + signal
    std::string out, err;
};

// Runs a program to its end, killed after timeoutSeconds.
ProcessResult runProcess(const std::vector<std::string> &argv, const std::string &cwd = "",
                         const Env &env = {}, int timeoutSeconds = 30);

// Full path of a program on PATH or in /usr/sbin, /sbin; empty when none.
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

// Registers the whole agent side with the engine, as mibagent does.
void registerAgentSide();

// A UDP socket bound to 127.0.0.1 on a port the system chose (port 0 when it
// could not be made); closed when the object dies.
struct UdpPeer {
    int fd = -1;
    int port = 0;
    UdpPeer();
    ~UdpPeer();
    UdpPeer(const UdpPeer &) = delete;
    UdpPeer &operator=(const UdpPeer &) = delete;
    // One datagram within timeoutMs; false on silence.
    bool receive(std::vector<unsigned char> &data, int &fromPort, int timeoutMs);
    bool sendTo(int toPort, const std::vector<unsigned char> &data);
};

// A UDP port on 127.0.0.1 that was free a moment ago.
int freeUdpPort();

} // namespace testing_support
