#include "tests/support.h"

#include "agent/comm.h"
#include "agent/mib.h"
#include "agent/trap.h"
#include "platform/log.h"
#include "platform/token.h"
#include "smp/agentside.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testing_support {

TempDir::TempDir() {
    char pattern[] = "/tmp/tarnoq-test-XXXXXX";
    path = mkdtemp(pattern) ? pattern : "/tmp";
}
TempDir::~TempDir() {
    std::error_code ec;
    if (path != "/tmp")
        std::filesystem::remove_all(path, ec);
}
void writeFile(const std::string &path, const std::string &content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}
std::string readFile(const std::string &path) {
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}
bool fileExists(const std::string &path) {
    return access(path.c_str(), F_OK) == 0;
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
    previous = (had = old != nullptr) ? old : "";
    value ? setenv(n.c_str(), value, 1) : unsetenv(n.c_str());
}
ScopedEnv::~ScopedEnv() {
    had ? setenv(name.c_str(), previous.c_str(), 1) : unsetenv(name.c_str());
}
std::string hiveText(const std::string &configDir, const std::string &extra,
                     const std::string &version) {
    return "[Software\\Velmora\\TarnoqSnmp\\CurrentVersion]\nVersion=" + version +
           "\n[Software\\Velmora\\TarnoqSnmp\\" + version + "\\TarnoqSnmp]\n" + extra +
           "etc=" + configDir + "\n";
}
namespace {
// The hive is written, and the working etc/ made, before the members that need them.
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
BackgroundProcess::BackgroundProcess(const std::vector<std::string> &argv, const std::string &cwd,
                                     const Env &env) {
    std::string outPath = logs.file("stdout"), errPath = logs.file("stderr");
    if (argv.empty() || (pid = fork()) != 0)
        return;
    int in = open("/dev/null", O_RDONLY);
    int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || o < 0 || e < 0 || dup2(in, 0) < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0 ||
        (!cwd.empty() && chdir(cwd.c_str()) != 0))
        _exit(126);
    for (const auto &[k, v] : env)
        v.empty() ? unsetenv(k.c_str()) : setenv(k.c_str(), v.c_str(), 1);
    std::vector<char *> args;
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}
bool BackgroundProcess::wait(int timeoutMs) {
    if (pid <= 0)
        return true;
    // A pidfd turns readable when the child ends: no polling loop.
    int pfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pfd >= 0) {
        pollfd p{pfd, POLLIN, 0};
        poll(&p, 1, timeoutMs);
        close(pfd);
    }
    int st = 0;
    if (waitpid(pid, &st, WNOHANG) != pid)
        return false;
    status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    pid = -1;
    return true;
}
int BackgroundProcess::stop(int signal) {
    if (pid > 0 && kill(pid, signal) == 0 && !wait(2000)) {
        kill(pid, SIGKILL);
        wait(-1);
    }
    return status;
}
bool BackgroundProcess::waitForOutput(const std::string &text, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline || !running())
            return out().find(text) != std::string::npos;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}
ProcessResult runProcess(const std::vector<std::string> &argv, const std::string &cwd,
                         const Env &env, int timeoutSeconds) {
    BackgroundProcess p(argv, cwd, env);
    if (!p.wait(timeoutSeconds * 1000))
        p.stop(SIGKILL);
    return {p.status, p.out(), p.err()};
}
std::string findProgram(const std::string &name) {
    const char *path = getenv("PATH");
    std::stringstream dirs(std::string(path ? path : "/usr/bin:/bin") + ":/usr/sbin:/sbin");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (access((dir + "/" + name).c_str(), X_OK) == 0)
            return dir + "/" + name;
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
void registerAgentSide() {
    smpRegisterCommunityCheck(commVerify);
    smpRegisterTrapSender(trapSend);
    smpRegisterStore(&mibStoreOps);
}
namespace {
sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
}
} // namespace
UdpPeer::UdpPeer() : fd(socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        port = ntohs(a.sin_port);
}
UdpPeer::~UdpPeer() {
    if (fd >= 0)
        close(fd);
}
bool UdpPeer::receive(std::vector<unsigned char> &data, int &fromPort, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    if (port == 0 || poll(&p, 1, timeoutMs) <= 0)
        return false;
    data.resize(65535);
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n =
        recvfrom(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr *>(&from), &len);
    data.resize(n < 0 ? 0 : static_cast<size_t>(n));
    fromPort = ntohs(from.sin_port);
    return n >= 0;
}
bool UdpPeer::sendTo(int toPort, const std::vector<unsigned char> &data) {
    sockaddr_in to = loopback(toPort);
    return port != 0 && sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr *>(&to),
                               sizeof to) == static_cast<ssize_t>(data.size());
}
int freeUdpPort() {
    return UdpPeer().port;
}
} // namespace testing_support
