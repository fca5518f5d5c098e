#include "tests/support.h"

#include "agent/comm.h"
#include "agent/mib.h"
#include "agent/trap.h"
#include "platform/log.h"
#include "platform/token.h"
#include "smp/agentside.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testing_support {

TempDir::TempDir() {
    char pattern[] = "/tmp/tarnoq-test-XXXXXX";
    char *made = mkdtemp(pattern);
    path = made ? made : "/tmp";
}

TempDir::~TempDir() {
    if (path != "/tmp") {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
}

void writeFile(const std::string &path, const std::string &content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool fileExists(const std::string &path) {
    return access(path.c_str(), F_OK) == 0;
}

std::string hiveText(const std::string &configDir, const std::string &extra,
                     const std::string &version) {
    return "[Software\\Velmora\\TarnoqSnmp\\CurrentVersion]\nVersion=" + version +
           "\n[Software\\Velmora\\TarnoqSnmp\\" + version + "\\TarnoqSnmp]\n" + extra +
           "etc=" + configDir + "\n";
}

namespace {
// The hive is written before the environment names it.
std::string writtenHive(const TempDir &config, bool directoryKnown) {
    std::filesystem::create_directories(config.file("etc"));
    writeFile(config.file("registry"), directoryKnown ? hiveText(config.path) : "");
    return config.file("registry");
}
std::string madeWork(const TempDir &work) {
    std::filesystem::create_directories(work.file("etc"));
    return work.path;
}
} // namespace

ConfigSetup::ConfigSetup(bool directoryKnown)
    : registry("TARNOQSNMP_REGISTRY", writtenHive(config, directoryKnown).c_str()),
      cwd(madeWork(work)) {
    tokenSetOverride(1);
}

ConfigSetup::~ConfigSetup() {
    tokenSetOverride(-1);
}

ScopedCwd::ScopedCwd(const std::string &dir) {
    char buf[4096];
    previous = getcwd(buf, sizeof buf) ? buf : "/";
    if (chdir(dir.c_str()) != 0)
        std::abort();
}

ScopedCwd::~ScopedCwd() {
    if (chdir(previous.c_str()) != 0)
        std::abort();
}

ScopedEnv::ScopedEnv(const std::string &n, const char *value) : name(n) {
    const char *old = getenv(n.c_str());
    had = old != nullptr;
    if (had)
        previous = old;
    if (value)
        setenv(n.c_str(), value, 1);
    else
        unsetenv(n.c_str());
}

ScopedEnv::~ScopedEnv() {
    if (had)
        setenv(name.c_str(), previous.c_str(), 1);
    else
        unsetenv(name.c_str());
}

namespace {

// In a forked child: moves to cwd, adjusts the environment and runs argv; never returns.
[[noreturn]] void execChild(const std::vector<std::string> &argv, const std::string &cwd,
                            const std::map<std::string, std::string> &env) {
    if (!cwd.empty() && chdir(cwd.c_str()) != 0)
        _exit(126);
    for (const auto &[k, v] : env) {
        if (v.empty())
            unsetenv(k.c_str());
        else
            setenv(k.c_str(), v.c_str(), 1);
    }
    std::vector<char *> args;
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

void drain(int fd, std::string &into) {
    char buf[4096];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0)
        into.append(buf, static_cast<size_t>(n));
}

} // namespace

ProcessResult runProcess(const std::vector<std::string> &argv, const std::string &cwd,
                         const std::map<std::string, std::string> &env, int timeoutSeconds) {
    ProcessResult result;
    int outPipe[2], errPipe[2];
    if (argv.empty() || pipe(outPipe) != 0)
        return result;
    if (pipe(errPipe) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(outPipe[0]);
        close(errPipe[0]);
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0)
            dup2(devnull, 0);
        execChild(argv, cwd, env);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(left)) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                std::string &into = i == 0 ? result.out : result.err;
                size_t before = into.size();
                drain(fds[i].fd, into);
                if (into.size() == before)
                    (i == 0 ? outOpen : errOpen) = false;
            }
        }
        if (!outOpen)
            fds[0].fd = -1;
        if (!errOpen)
            fds[1].fd = -1;
    }
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.status = 128 + WTERMSIG(status);
    return result;
}

std::string findProgram(const std::string &name) {
    const char *path = getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        std::string candidate = dir + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    for (const char *extra : {"/usr/sbin/", "/sbin/"}) {
        std::string candidate = extra + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return "";
}

namespace {
EventCapture *activeCapture = nullptr;
void captureSink(const char *header, const char *message) {
    if (activeCapture) {
        activeCapture->headers.emplace_back(header);
        activeCapture->messages.emplace_back(message);
    }
}
} // namespace

EventCapture::EventCapture() {
    activeCapture = this;
    logSetEventSink(captureSink);
}

EventCapture::~EventCapture() {
    logSetEventSink(nullptr);
    activeCapture = nullptr;
}

std::string EventCapture::joined() const {
    std::string all;
    for (const auto &m : messages)
        all += m;
    return all;
}

} // namespace testing_support

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace testing_support {

UdpPeer::UdpPeer() {
    fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        close(fd);
        fd = -1;
        return;
    }
    port = ntohs(a.sin_port);
}

UdpPeer::~UdpPeer() {
    if (fd >= 0)
        close(fd);
}

bool UdpPeer::receive(std::vector<unsigned char> &data, int &fromPort, int timeoutMs) {
    if (fd < 0)
        return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0)
        return false;
    data.resize(65535);
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n =
        recvfrom(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr *>(&from), &len);
    if (n < 0) {
        data.clear();
        return false;
    }
    data.resize(static_cast<size_t>(n));
    fromPort = ntohs(from.sin_port);
    return true;
}

bool UdpPeer::sendTo(int toPort, const std::vector<unsigned char> &data) {
    if (fd < 0)
        return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(toPort));
    return sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) ==
           static_cast<ssize_t>(data.size());
}

void registerAgentSide() {
    smpRegisterCommunityCheck(commVerify);
    smpRegisterTrapSender(trapSend);
    smpRegisterStore(&mibStoreOps);
}

int freeUdpPort() {
    UdpPeer peer;
    return peer.port;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string> &argv, const std::string &cwd,
                                     const std::map<std::string, std::string> &env) {
    if (argv.empty())
        return;
    std::string outPath = logs.file("stdout"), errPath = logs.file("stderr");
    pid_t child = fork();
    if (child == 0) {
        int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int devnull = open("/dev/null", O_RDONLY);
        if (o < 0 || e < 0)
            _exit(126);
        dup2(o, 1);
        dup2(e, 2);
        if (devnull >= 0)
            dup2(devnull, 0);
        execChild(argv, cwd, env);
    }
    pid = child;
}

BackgroundProcess::~BackgroundProcess() {
    if (pid > 0)
        stop();
}

bool BackgroundProcess::running() {
    if (pid <= 0)
        return false;
    int st = 0;
    pid_t r = waitpid(pid, &st, WNOHANG);
    if (r == 0)
        return true;
    if (r == pid)
        status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    pid = -1;
    return false;
}

int BackgroundProcess::stop(int signal) {
    if (pid <= 0)
        return status;
    kill(pid, signal);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int st = 0;
    pid_t r = 0;
    while ((r = waitpid(pid, &st, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (r == 0) {
        kill(pid, SIGKILL);
        r = waitpid(pid, &st, 0);
    }
    if (r == pid)
        status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    pid = -1;
    return status;
}

std::string BackgroundProcess::out() const {
    return readFile(logs.file("stdout"));
}
std::string BackgroundProcess::err() const {
    return readFile(logs.file("stderr"));
}

bool BackgroundProcess::waitForOutput(const std::string &text, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        if (out().find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < deadline);
    return out().find(text) != std::string::npos;
}

} // namespace testing_support
