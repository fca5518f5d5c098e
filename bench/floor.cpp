// The floor under any UDP agent: a request and its answer on 127.0.0.1 with
// nothing else done. A server process answers each datagram with one recvfrom
// and one sendto; a client process sends and receives one after another.
// Each side prints its own CPU (user + system) microseconds per round trip.
//
// Usage: floor [round trips] [octets] [server cpu] [client cpu]
// (100000 round trips of 48 octets, neither side pinned, when not given; a
// cpu of -1 leaves that side unpinned).
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr long WARM_UP = 2000; // round trips before the clock starts

double cpuMicroseconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e6 + u.ru_utime.tv_usec + u.ru_stime.tv_usec;
}

void pin(long cpu) {
    if (cpu < 0)
        return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(static_cast<int>(cpu), &set);
    if (sched_setaffinity(0, sizeof set, &set) != 0)
        perror("floor: sched_setaffinity");
}

int boundSocket(sockaddr_in *where) {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    if (s < 0 || bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr *>(&a), &n) != 0) {
        perror("floor: socket");
        exit(1);
    }
    *where = a;
    return s;
}

} // namespace

int main(int argc, char **argv) {
    long trips = argc > 1 ? atol(argv[1]) : 100000;
    long octets = argc > 2 ? atol(argv[2]) : 48;
    long serverCpu = argc > 3 ? atol(argv[3]) : -1;
    long clientCpu = argc > 4 ? atol(argv[4]) : -1;
    if (trips <= 0 || octets <= 0 || octets > 1400) {
        fprintf(stderr, "usage: floor [round trips] [octets] [server cpu] [client cpu]\n");
        return 2;
    }
    sockaddr_in serverAddress, clientAddress;
    int server = boundSocket(&serverAddress);
    int client = boundSocket(&clientAddress);
    char buf[1500] = {};
    pid_t child = fork();
    if (child == 0) {
        pin(serverCpu);
        close(client);
        double start = 0;
        for (long i = 0; i < WARM_UP + trips; ++i) {
            if (i == WARM_UP)
                start = cpuMicroseconds();
            sockaddr_in from;
            socklen_t n = sizeof from;
            ssize_t got =
                recvfrom(server, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &n);
            if (got < 0 || sendto(server, buf, static_cast<size_t>(got), 0,
                                  reinterpret_cast<sockaddr *>(&from), n) < 0)
                _exit(1);
        }
        printf("floor server: %.2f us CPU per round trip\n", (cpuMicroseconds() - start) / trips);
        fflush(stdout);
        _exit(0);
    }
    pin(clientCpu);
    close(server);
    double start = 0;
    for (long i = 0; i < WARM_UP + trips; ++i) {
        if (i == WARM_UP)
            start = cpuMicroseconds();
        if (sendto(client, buf, static_cast<size_t>(octets), 0,
                   reinterpret_cast<sockaddr *>(&serverAddress), sizeof serverAddress) < 0 ||
            recvfrom(client, buf, sizeof buf, 0, nullptr, nullptr) < 0) {
            perror("floor: client");
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
            return 1;
        }
    }
    double used = cpuMicroseconds() - start;
    int status = 0;
    waitpid(child, &status, 0);
    printf("floor client: %.2f us CPU per round trip\n", used / trips);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
