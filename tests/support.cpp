#include "tests/support.h"

#include "agent/comm.h"
#include "agent/mib.h"
#include "agent/trap.h"
#include "platform/log.h"
#include "platform/net.h"
#include "platform/token.h"
#include "smp/agentside.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace testing_support {

namespace fs = std::filesystem;
TempDir::TempDir() {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    std::random_device random;
    for (int i = 0; i < 100 && path.empty(); ++i) {
        fs::path p = base / ("tarnoq-test-" + std::to_string(random()));
        if (fs::create_directory(p, ec)) // false when it exists: another test's
            path = p.string();
    }
}
TempDir::~TempDir() {
    std::error_code ec;
    if (!path.empty())
        fs::remove_all(path, ec);
}
void writeFile(const std::string &path, const std::string &content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}
std::string readFile(const std::string &path) {
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}
std::string lfText(std::string text) {
    if (ON_WINDOWS)
        for (size_t at; (at = text.find("\r\n")) != std::string::npos;)
            text.erase(at, 1);
    return text;
}
bool fileExists(const std::string &path) {
    std::error_code ec;
    return fs::exists(path, ec);
}
ScopedCwd::ScopedCwd(const std::string &dir) : previous(fs::current_path().string()) {
    fs::current_path(dir);
}
ScopedCwd::~ScopedCwd() {
    fs::current_path(previous);
}
namespace {
void setEnv(const std::string &name, const char *value) {
#ifdef _WIN32
    _putenv_s(name.c_str(), value ? value : ""); // an empty value removes it
#else
    value ? setenv(name.c_str(), value, 1) : unsetenv(name.c_str());
#endif
}
} // namespace
ScopedEnv::ScopedEnv(const std::string &n, const char *value) : name(n) {
    const char *old = getenv(n.c_str());
    previous = (had = old != nullptr) ? old : "";
    setEnv(n, value);
}
ScopedEnv::~ScopedEnv() {
    setEnv(name, had ? previous.c_str() : nullptr);
}
std::string hiveText(const std::string &configDir, const std::string &extra,
                     const std::string &version) {
    return "[Software\\Velmora\\TarnoqSnmp\\CurrentVersion]\nVersion=" + version +
           "\n[Software\\Velmora\\TarnoqSnmp\\" + version + "\\TarnoqSnmp]\n" + extra +
           "etc=" + configDir + "\n";
}
#ifdef _WIN32
// Windows reads the registry itself: the hive's keys are written below
// HKEY_LOCAL_MACHINE, the number "Installed" as a DWORD, and removed again.
void writeHive(const std::string &file, const std::string &text) {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Velmora");
    writeFile(file, text);
    std::istringstream in(text);
    HKEY key = nullptr;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t eq = line.find('=');
        if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
            if (key)
                RegCloseKey(key);
            if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, line.substr(1, line.size() - 2).c_str(), 0,
                                nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != 0)
                key = nullptr;
        } else if (key && eq != std::string::npos && eq > 0 && line[0] != '#') {
            std::string name = line.substr(0, eq), data = line.substr(eq + 1);
            DWORD number = static_cast<DWORD>(atol(data.c_str()));
            if (_stricmp(name.c_str(), "Installed") == 0)
                RegSetValueExA(key, name.c_str(), 0, REG_DWORD,
                               reinterpret_cast<const BYTE *>(&number), sizeof number);
            else
                RegSetValueExA(key, name.c_str(), 0, REG_SZ,
                               reinterpret_cast<const BYTE *>(data.c_str()),
                               static_cast<DWORD>(data.size() + 1));
        }
    }
    if (key)
        RegCloseKey(key);
}
#else
void writeHive(const std::string &file, const std::string &text) {
    writeFile(file, text);
}
#endif
namespace {
// The hive is written, and the working etc/ made, before the members that need them.
std::string writtenHive(const TempDir &config, bool directoryKnown) {
    std::filesystem::create_directories(config.file("etc"));
    writeHive(config.file("registry"), directoryKnown ? hiveText(config.path) : "");
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
#ifdef _WIN32
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Velmora");
#endif
}
#ifdef _WIN32
namespace {
// One argument as the child's runtime splits its command line again.
std::string quoted(const std::string &a) {
    if (!a.empty() && a.find_first_of(" \t\"") == std::string::npos)
        return a;
    std::string q = "\"";
    size_t slashes = 0;
    for (char c : a) {
        if (c == '"')
            q.append(slashes + 1, '\\');
        slashes = c == '\\' ? slashes + 1 : 0;
        q += c;
    }
    return q.append(slashes, '\\') + "\"";
}
HANDLE inheritable(const std::string &path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}
} // namespace
BackgroundProcess::BackgroundProcess(const std::vector<std::string> &argv, const std::string &cwd,
                                     const Env &env) {
    if (argv.empty())
        return;
    std::string command;
    for (const auto &a : argv)
        command += (command.empty() ? "" : " ") + quoted(a);
    HANDLE handles[3] = {inheritable("NUL", GENERIC_READ, OPEN_EXISTING),
                         inheritable(logs.file("stdout"), GENERIC_WRITE, CREATE_ALWAYS),
                         inheritable(logs.file("stderr"), GENERIC_WRITE, CREATE_ALWAYS)};
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = handles[0], si.hStdOutput = handles[1], si.hStdError = handles[2];
    std::vector<std::unique_ptr<ScopedEnv>> added; // the child inherits them
    for (const auto &[k, v] : env)
        added.push_back(std::make_unique<ScopedEnv>(k, v.empty() ? nullptr : v.c_str()));
    PROCESS_INFORMATION pi;
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       cwd.empty() ? nullptr : cwd.c_str(), &si, &pi)) {
        handle = pi.hProcess;
        pid = static_cast<int>(pi.dwProcessId);
        CloseHandle(pi.hThread);
    }
    for (HANDLE h : handles)
        CloseHandle(h);
}
bool BackgroundProcess::wait(int timeoutMs) {
    if (!handle)
        return true;
    if (WaitForSingleObject(handle, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs)) !=
        WAIT_OBJECT_0)
        return false;
    DWORD code = 0;
    GetExitCodeProcess(handle, &code);
    status = static_cast<int>(code);
    CloseHandle(handle);
    handle = nullptr;
    pid = -1;
    return true;
}
int BackgroundProcess::stop(int signal) { // no signals here: the process is ended at once
    if (handle && TerminateProcess(handle, static_cast<UINT>(128 + signal)))
        wait(-1);
    return status;
}
#else
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
#endif
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
        p.stop(9); // SIGKILL
    return {p.status, p.out(), p.err()};
}
std::string findProgram(const std::string &name) {
#ifdef _WIN32
    (void)name; // the peers (Debian's net-snmp) are Linux programs
    return "";
#else
    const char *path = getenv("PATH");
    std::stringstream dirs(std::string(path ? path : "/usr/bin:/bin") + ":/usr/sbin:/sbin");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (access((dir + "/" + name).c_str(), X_OK) == 0)
            return dir + "/" + name;
    return "";
#endif
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
UdpPeer::UdpPeer() : fd(udpOpenSocket()) {
    if (fd >= 0 && udpBindSocket(fd, 0x7F000001u, 0) == 0)
        port = std::max(0, udpGetLocalPort(fd));
}
UdpPeer::~UdpPeer() {
    if (fd >= 0)
        udpCloseSocket(fd);
}
bool UdpPeer::receive(std::vector<unsigned char> &data, int &fromPort, int timeoutMs) {
    if (port == 0 || udpWaitReadable(fd, timeoutMs) <= 0)
        return false;
    data.resize(65535);
    uint16_t from = 0;
    int n = udpReceive(fd, data.data(), static_cast<int>(data.size()), nullptr, &from);
    data.resize(n < 0 ? 0 : static_cast<size_t>(n));
    fromPort = from;
    return n >= 0;
}
bool UdpPeer::sendTo(int toPort, const std::vector<unsigned char> &data) {
    UdpEndpoint *to = port ? udpNew(fd, 0x7F000001u, static_cast<uint32_t>(toPort)) : nullptr;
    int saved = logLevel; // the peer's datagrams are no part of the traces under test
    logLevel = 0;
    bool sent = to && udpSend(to, data.data(), static_cast<int>(data.size())) == 0;
    logLevel = saved;
    udpFree(to);
    return sent;
}
int freeUdpPort() {
    return UdpPeer().port;
}
} // namespace testing_support
