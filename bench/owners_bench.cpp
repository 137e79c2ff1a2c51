// The cost of finding the program of a new connection while 5,000 sockets are open on the
// machine (2,500 loopback connections held by another process): the kernel's answer for the
// connection alone, the whole look-up when its program made the last connections too (the usual
// case, no walk of /proc), when every process's open files must be walked with nothing read
// before, and when they were read before (the steady state); and the kernel's whole socket table.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "capture/socket_owners_worker.h"

namespace {

using namespace tessel;

constexpr int kHeldConnections = 2500;  // two sockets each

sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    return a;
}

int listener(int* port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    socklen_t length = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), length) != 0 || listen(fd, 4096) != 0)
        std::abort();
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    *port = ntohs(a.sin_port);
    return fd;
}

int connectTo(int port, int* localPort) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(port);
    socklen_t length = sizeof a;
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), length) != 0) std::abort();
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    *localPort = ntohs(a.sin_port);
    return fd;
}

// A child process holding 5,000 connected sockets until the benchmark ends.
struct HeldSockets {
    pid_t child = -1;
    HeldSockets() {
        rlimit limit{16384, 16384};
        setrlimit(RLIMIT_NOFILE, &limit);
        int ready[2];
        if (pipe(ready) != 0) std::abort();
        child = fork();
        if (child == 0) {
            prctl(PR_SET_NAME, "socket-holder");
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            int port = 0, unused = 0;
            const int l = listener(&port);
            for (int i = 0; i < kHeldConnections; ++i) {
                connectTo(port, &unused);
                if (accept(l, nullptr, nullptr) < 0) _exit(1);
            }
            char c = 1;
            if (write(ready[1], &c, 1) != 1) _exit(1);
            pause();
            _exit(0);
        }
        char c = 0;
        if (read(ready[0], &c, 1) != 1) std::abort();
        close(ready[0]);
        close(ready[1]);
    }
    ~HeldSockets() {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
};

HeldSockets& held() {
    static HeldSockets sockets;
    return sockets;
}

// Times `look` on a fresh connection per iteration. `keep`: the connections stay open to the end,
// so that no iteration's sockets take descriptor numbers an earlier one had.
template <typename Look>
void timeNewConnections(benchmark::State& state, Look look, bool keep = false) {
    held();
    int port = 0;
    const int l = listener(&port);
    cSockDiag diag;
    cSocketProcessCache warm;
    const std::vector<HostAddress> host = listHostAddresses();
    std::vector<int> kept;
    double worst = 0;
    for (auto _ : state) {
        int clientPort = 0;
        const int client = connectTo(port, &clientPort);
        const int server = accept(l, nullptr, nullptr);
        const FlowEnds ends{6, "127.0.0.1", "127.0.0.1", clientPort, port};
        const auto start = std::chrono::steady_clock::now();
        const bool named = look(diag, warm, host, ends);
        const auto end = std::chrono::steady_clock::now();
        const double seconds = std::chrono::duration<double>(end - start).count();
        state.SetIterationTime(seconds);
        worst = std::max(worst, seconds);
        if (!named) state.SkipWithError("the program was not found");
        const linger reset{1, 0};  // no TIME_WAIT left behind per iteration
        setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        if (keep) {
            kept.push_back(client);
            kept.push_back(server);
        } else {
            close(client);
            close(server);
        }
    }
    for (int fd : kept) close(fd);
    close(l);
    state.counters["worst_us"] = worst * 1e6;
}

bool findOwnerAt(cSockDiag& diag, cSocketProcessCache& cache, const std::vector<HostAddress>& host,
                 const FlowEnds& ends, std::chrono::steady_clock::time_point now) {
    bool retry = false;
    return findFlowOwner(diag, cache, host, ends, static_cast<std::uint32_t>(geteuid()), now,
                         &retry)
               .kind == ProgramOwner::Kind::Named;
}

bool findOwner(cSockDiag& diag, cSocketProcessCache& cache, const std::vector<HostAddress>& host,
               const FlowEnds& ends) {
    return findOwnerAt(diag, cache, host, ends, std::chrono::steady_clock::now());
}

void BM_SockDiagExactQuery(benchmark::State& state) {
    timeNewConnections(state, [](cSockDiag& diag, cSocketProcessCache&,
                                 const std::vector<HostAddress>&, const FlowEnds& ends) {
        SocketTuple t;
        SocketEntry e;
        return socketTupleFromText(6, ends.source, ends.sourcePort, ends.destination,
                                   ends.destinationPort, &t) &&
               diag.find(t, &e) && e.inode != 0;
    });
}

void BM_OwnerOfNewConnectionKnownProgram(benchmark::State& state) {
    timeNewConnections(state, findOwner);
}

void BM_OwnerOfNewConnectionWalkingProc(benchmark::State& state) {
    timeNewConnections(state, [](cSockDiag& diag, cSocketProcessCache&,
                                 const std::vector<HostAddress>& host, const FlowEnds& ends) {
        cSocketProcessCache cold;
        return findOwner(diag, cold, host, ends);
    });
}

// A walk whose processes were all read before: no process remembered as a recent holder, the
// clock a second on per look-up so that every one may walk.
void BM_OwnerOfNewConnectionWarmWalk(benchmark::State& state) {
    held();
    cSocketProcessCache cache("/proc", 0);
    auto now = std::chrono::steady_clock::now();
    // One walk reads everything first, over a connection kept open like the timed ones.
    cSockDiag diag;
    int port = 0, clientPort = 0;
    const int l = listener(&port);
    const int client = connectTo(port, &clientPort);
    const int server = accept(l, nullptr, nullptr);
    if (!findOwnerAt(diag, cache, listHostAddresses(),
                     {6, "127.0.0.1", "127.0.0.1", clientPort, port}, now))
        state.SkipWithError("the program was not found");
    timeNewConnections(
        state,
        [&](cSockDiag& diag, cSocketProcessCache&, const std::vector<HostAddress>& host,
            const FlowEnds& ends) {
            now += std::chrono::seconds(1);
            return findOwnerAt(diag, cache, host, ends, now);
        },
        true);
    for (int fd : {client, server, l}) close(fd);
}

// The four socket tables (TCP and UDP, both families), as the owner worker reads them now and
// then (only those of the flows it saw lately).
void BM_SockDiagDump(benchmark::State& state) {
    held();
    cSockDiag diag;
    std::size_t sockets = 0;
    for (auto _ : state) {
        sockets = 0;
        for (int protocol : {IPPROTO_TCP, IPPROTO_UDP})
            for (int family : {AF_INET, AF_INET6})
                if (!diag.dump(protocol, family,
                               [&](const SocketTuple&, const SocketEntry&) { ++sockets; }))
                    state.SkipWithError("the kernel did not answer");
    }
    state.counters["sockets"] = static_cast<double>(sockets);
}

BENCHMARK(BM_SockDiagExactQuery)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(2000);
BENCHMARK(BM_OwnerOfNewConnectionKnownProgram)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(2000);
BENCHMARK(BM_OwnerOfNewConnectionWalkingProc)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(200);
BENCHMARK(BM_OwnerOfNewConnectionWarmWalk)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(200);
BENCHMARK(BM_SockDiagDump)->Unit(benchmark::kMicrosecond)->Iterations(200);

}  // namespace

BENCHMARK_MAIN();
