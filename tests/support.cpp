#include "tests/support.h"

#include "platform/log.h"

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

bool fileExists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

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
