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
