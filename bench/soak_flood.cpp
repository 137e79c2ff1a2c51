// The soak's traffic: UDP datagrams at a fixed rate from 127.0.0.1 to eight loopback hosts and
// to a few "foreign" ones (10.99.0.0/16, which the soak routes locally) that change every few
// seconds, so nodes come and go; plus one short TCP connection every --tcp-ms (a beam that the
// client's FIN ends). Stops by itself after --seconds; every wait is bounded.
//   soak_flood --seconds S --rate PPS [--tcp-ms MS] [--report FILE]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kUdpPort = 5000;
constexpr int kTcpPort = 7000;
constexpr int kLocalHosts = 8;      // 127.0.0.2 .. 127.0.0.9
constexpr int kForeignPerSlot = 2;  // foreign hosts in use at a time
constexpr int kForeignSlotSeconds = 5;
constexpr int kMaxBurst = 2000;  // datagrams sent at most in one 1 ms tick (catching up)

sockaddr_in address(const std::string& text, int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    inet_pton(AF_INET, text.c_str(), &a.sin_addr);
    return a;
}

std::string foreignHost(long slot, int i) {
    const long n = (slot * kForeignPerSlot + i) % 60000;
    return "10.99." + std::to_string(n / 250) + "." + std::to_string(n % 250 + 1);
}

// Drains what the flood sends so the datagrams are taken, not refused with ICMP errors.
void udpSink(int fd, const std::atomic<bool>* stop) {
    char buffer[2048];
    timeval tv{0, 200000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    while (!stop->load()) recv(fd, buffer, sizeof buffer, 0);
}

// Accepts the flood's connections and reads each to its end; the client closes first.
void tcpServer(int listener, const std::atomic<bool>* stop) {
    timeval tv{0, 200000};
    setsockopt(listener, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char buffer[256];
    while (!stop->load()) {
        int c = accept(listener, nullptr, nullptr);
        if (c < 0) continue;
        setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        for (int i = 0; i < 10 && recv(c, buffer, sizeof buffer, 0) > 0; ++i) {
        }
        close(c);
    }
}

bool oneConnection(const std::string& host) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    timeval tv{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    sockaddr_in from = address("127.0.0.1", 0);
    bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
    sockaddr_in to = address(host, kTcpPort);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
              send(fd, "tessel soak", 11, MSG_NOSIGNAL) == 11;
    close(fd);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 60, rate = 5000;
    int tcpMs = 250;
    std::string report;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string k = argv[i];
        if (k == "--seconds")
            seconds = std::atof(argv[i + 1]);
        else if (k == "--rate")
            rate = std::atof(argv[i + 1]);
        else if (k == "--tcp-ms")
            tcpMs = std::atoi(argv[i + 1]);
        else if (k == "--report")
            report = argv[i + 1];
    }
    // Bounded whatever the caller asks: at most an hour at at most 50k datagrams per second.
    seconds = std::clamp(seconds, 1.0, 3600.0);
    rate = std::clamp(rate, 1.0, 50000.0);
    tcpMs = std::clamp(tcpMs, 10, 60000);

    int sink = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in any = address("0.0.0.0", kUdpPort);
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in anyTcp = address("0.0.0.0", kTcpPort);
    int sender = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in from = address("127.0.0.1", 0);
    if (sink < 0 || listener < 0 || sender < 0 ||
        bind(sink, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 ||
        bind(listener, reinterpret_cast<sockaddr*>(&anyTcp), sizeof anyTcp) != 0 ||
        listen(listener, 64) != 0 ||
        bind(sender, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
        std::perror("soak_flood: sockets");
        return 1;
    }
    std::atomic<bool> stop{false};
    std::thread sinkThread(udpSink, sink, &stop);
    std::thread serverThread(tcpServer, listener, &stop);

    sockaddr_in local[kLocalHosts];
    for (int i = 0; i < kLocalHosts; ++i)
        local[i] = address("127.0.0." + std::to_string(i + 2), kUdpPort);
    char payload[32];
    std::memset(payload, 'x', sizeof payload);

    unsigned long long sent = 0, failed = 0, connections = 0, connectFailed = 0;
    const auto start = Clock::now();
    const auto end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    auto nextTick = start, nextTcp = start;
    long slot = -1;
    sockaddr_in foreign[kForeignPerSlot];
    while (Clock::now() < end) {
        const auto now = Clock::now();
        const double elapsed = std::chrono::duration<double>(now - start).count();
        if (long s = long(elapsed) / kForeignSlotSeconds; s != slot) {
            slot = s;
            for (int i = 0; i < kForeignPerSlot; ++i)
                foreign[i] = address(foreignHost(slot, i), kUdpPort);
        }
        const auto due = static_cast<unsigned long long>(elapsed * rate);
        for (int burst = 0; sent + failed < due && burst < kMaxBurst; ++burst) {
            const unsigned long long n = sent + failed;
            const sockaddr_in& to =
                (n % 10 < 8) ? local[n % kLocalHosts] : foreign[n % kForeignPerSlot];
            if (sendto(sender, payload, sizeof payload, 0, reinterpret_cast<const sockaddr*>(&to),
                       sizeof to) == ssize_t(sizeof payload))
                ++sent;
            else
                ++failed;
        }
        if (now >= nextTcp) {
            const bool toForeign = connections % 4 == 3;
            if (oneConnection(toForeign ? foreignHost(slot, 0) : "127.0.0.2"))
                ++connections;
            else
                ++connectFailed;
            nextTcp += std::chrono::milliseconds(tcpMs);
        }
        nextTick += std::chrono::milliseconds(1);
        std::this_thread::sleep_until(nextTick);
    }
    stop = true;
    sinkThread.join();
    serverThread.join();
    char line[256];
    std::snprintf(
        line, sizeof line,
        "udp-sent %llu udp-failed %llu tcp-connections %llu tcp-failed %llu seconds %.1f\n", sent,
        failed, connections, connectFailed,
        std::chrono::duration<double>(Clock::now() - start).count());
    std::fputs(line, stdout);
    if (!report.empty()) {
        if (std::FILE* f = std::fopen(report.c_str(), "w")) {
            std::fputs(line, f);
            std::fclose(f);
        }
    }
    return 0;
}
