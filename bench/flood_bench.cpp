// Figures 1 and 2: the capture path under a bounded loopback flood.
//
// A sender thread sends UDP datagrams from 127.0.0.2 to a socket on 127.0.0.1 that nobody
// reads (the kernel drops them there silently, so no ICMP comes back), at a fixed rate for a
// fixed time, then stops by itself. A capture thread, pinned to one core, runs pcap_loop on
// "lo" opened exactly as the program opens its adapter, with either a handler that only
// counts (the bare loop) or the program's own onPacket (decode, dispatch, one intel file per
// recorded packet). A reader thread stands in for the render loop's intel pass and empties the
// folder every 433 ms (26 frames at 60 FPS). Needs capture rights (root or cap_net_raw).
//
//   flood_bench [path|drops|all]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <time.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "bench_support.h"
#include "capture/capture_threads.h"
#include "capture/intel_files.h"
#include "capture/packet_decoder.h"

namespace {

using bench::Clock;
using bench::secondsSince;

// Hard bounds of every flood, whatever is asked.
constexpr double kMaxRate = 400000.0;
constexpr double kMaxSeconds = 12.0;

void pinToCpu(int cpu) {
    const int cpus = int(std::thread::hardware_concurrency());
    if (cpus < 2) return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu % cpus, &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

struct FloodResult {
    long sent = 0;
    long handled = 0;
    double handledPerSecond = 0;
    unsigned kernelDrops = 0;
    unsigned received = 0;
};

struct CaptureState {
    std::atomic<long> handled{0};
    bool tessel = false;
    Clock::time_point first, last;
};

void handler(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
    auto* state = reinterpret_cast<CaptureState*>(user);
    if (state->tessel) tessel::onPacket(nullptr, header, bytes);
    const Clock::time_point now = Clock::now();
    if (state->handled.fetch_add(1, std::memory_order_relaxed) == 0) state->first = now;
    state->last = now;
}

// Sends `rate` datagrams per second for `seconds` (both clamped), in bursts of up to 64 paced
// against the clock.
long sendFlood(double rate, double seconds, int port, const std::atomic<bool>& abort) {
    rate = std::min(rate, kMaxRate);
    seconds = std::min(seconds, kMaxSeconds);
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(0x7F000002);
    if (bind(s, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
        std::perror("bind 127.0.0.2");
        close(s);
        return 0;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(std::uint16_t(port));
    to.sin_addr.s_addr = htonl(0x7F000001);
    char payload[32] = "tessel benchmark flood";
    long sent = 0;
    const Clock::time_point start = Clock::now();
    for (;;) {
        const double elapsed = secondsSince(start);
        if (elapsed >= seconds || abort) break;
        const long due = long(rate * elapsed) + 1;
        if (sent >= due) {
            timespec pause{0, 50000};
            nanosleep(&pause, nullptr);
            continue;
        }
        for (long burst = std::min(due - sent, 64L); burst > 0; --burst, ++sent)
            sendto(s, payload, sizeof payload, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    close(s);
    return sent;
}

FloodResult runFlood(bool tessel, double rate, double seconds) {
    bench::Scratch scratch;
    FloodResult result;
    // The sink: bound, never read, with a small buffer so it overflows at once.
    int sink = socket(AF_INET, SOCK_DGRAM, 0);
    int small = 4096;
    setsockopt(sink, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(0x7F000001);
    bind(sink, reinterpret_cast<sockaddr*>(&at), sizeof at);
    socklen_t len = sizeof at;
    getsockname(sink, reinterpret_cast<sockaddr*>(&at), &len);
    const int port = ntohs(at.sin_port);

    char errbuf[PCAP_ERRBUF_SIZE] = "";
    // As startCapture opens the chosen adapter.
    bool denied = false;
    pcap_t* handle = tessel::openHandle("lo", false, errbuf, &denied);
    if (!handle) {
        std::fprintf(stderr, "opening lo: %s (needs capture rights)\n", errbuf);
        std::exit(3);
    }
    tessel::setCaptureLinkType(pcap_datalink(handle));
    CaptureState state;
    state.tessel = tessel;
    std::thread capture([&] {
        pinToCpu(1);
        pcap_loop(handle, -1, handler, reinterpret_cast<u_char*>(&state));
    });
    std::atomic<bool> stopReader{false};
    std::thread reader([&] {
        pinToCpu(0);
        while (!stopReader) {
            tessel::consumeIntelFolder("intel", [](const tessel::IntelAnode&) {});
            for (int i = 0; i < 43 && !stopReader; ++i) {
                timespec tick{0, 10000000};
                nanosleep(&tick, nullptr);
            }
        }
    });
    // Let the capture settle before the flood starts.
    timespec settle{0, 200000000};
    nanosleep(&settle, nullptr);
    std::atomic<bool> abort{false};
    pinToCpu(0);
    result.sent = sendFlood(rate, seconds, port, abort);
    // Drain what the kernel buffer still holds: until nothing arrives for 300 ms (at most 5 s).
    for (int i = 0; i < 50; ++i) {
        long before = state.handled;
        timespec wait{0, 300000000};
        nanosleep(&wait, nullptr);
        if (state.handled == before) break;
    }
    pcap_stat stats{};
    if (pcap_stats(handle, &stats) == 0) {
        result.kernelDrops = stats.ps_drop;
        result.received = stats.ps_recv;
    }
    pcap_breakloop(handle);
    // Wake the loop in case the library waits for one more packet.
    int poke = socket(AF_INET, SOCK_DGRAM, 0);
    sendto(poke, "x", 1, 0, reinterpret_cast<sockaddr*>(&at), sizeof at);
    close(poke);
    capture.join();
    stopReader = true;
    reader.join();
    pcap_close(handle);
    close(sink);
    result.handled = state.handled;
    const double span = std::chrono::duration<double>(state.last - state.first).count();
    result.handledPerSecond = span > 0 ? double(result.handled) / span : 0;
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "all";
    if (what == "path" || what == "all") {
        // As fast as the sender goes (within the bound), 3 s each.
        FloodResult bare = runFlood(false, kMaxRate, 3.0);
        FloodResult ours = runFlood(true, kMaxRate, 3.0);
        std::fprintf(stderr, "bare: sent %ld handled %ld (%.0f/s) drops %u\n", bare.sent,
                     bare.handled, bare.handledPerSecond, bare.kernelDrops);
        std::fprintf(stderr, "tessel: sent %ld handled %ld (%.0f/s) drops %u\n", ours.sent,
                     ours.handled, ours.handledPerSecond, ours.kernelDrops);
        bench::row("1", "bare libpcap loop", bare.handledPerSecond, "packets/s", "-", "-");
        bench::row("1", "onPacket path (decode+dispatch+intel file)", ours.handledPerSecond,
                   "packets/s", ">= 50000", bench::verdict(ours.handledPerSecond >= 50000));
        const double ratio =
            bare.handledPerSecond > 0 ? ours.handledPerSecond / bare.handledPerSecond : 0;
        bench::row("1", "onPacket path / bare loop", ratio, "ratio", ">= 0.5",
                   bench::verdict(ratio >= 0.5));
    }
    if (what == "drops" || what == "all") {
        for (double rate : {20000.0, 50000.0}) {
            FloodResult r = runFlood(true, rate, 10.0);
            std::fprintf(stderr, "%.0f/s: sent %ld handled %ld drops %u\n", rate, r.sent, r.handled,
                         r.kernelDrops);
            const bool at20k = rate == 20000.0;
            bench::row("2", "kernel drops at " + std::to_string(int(rate / 1000)) + "k/s for 10 s",
                       r.kernelDrops, "packets", at20k ? "0" : "-",
                       at20k ? bench::verdict(r.kernelDrops == 0) : "-");
        }
    }
    return 0;
}
