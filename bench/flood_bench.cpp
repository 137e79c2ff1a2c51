// Figures 1 and 2: the capture path under a bounded loopback flood.
//
// A sender thread sends UDP datagrams from 127.0.0.2 to a socket on 127.0.0.1 that nobody
// reads (the kernel drops them there silently, so no ICMP comes back), at a fixed rate for a
// fixed time, then stops by itself. A capture thread, pinned to one core, captures on "lo"
// opened exactly as the program opens its adapter: either a pcap_loop with a handler that only
// counts (the bare loop), or a loop of this file's own that hands every frame to the program's
// decoding and dispatch (onPacket, the intel writer), as the program did before the helper,
// with the program's intel reader thread beside it; a stand-in for the render loop takes the
// records from the hand-off channel every 433 ms (26 frames at 60 FPS). The third variant is
// what the program does: the capture helper (tessel-capture, beside the program or
// $TESSEL_CAPTURE_HELPER) captures and pipes a pcap stream, which the same loop decodes. Needs
// capture rights (root or cap_net_raw).
//
//   flood_bench [path|latency|drops|all]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

#include "bench_support.h"
#include "capture/frame_source.h"
#include "capture/helper_capture.h"
#include "capture/helper_feeds.h"
#include "capture/intel_reader.h"
#include "capture/intel_writer.h"
#include "capture/packet_dispatch.h"
#include "capture/replay_loop.h"
#include "core/hand_off.h"
#include "platform/helper_protocol.h"
#include "platform/process.h"
#include "platform/wake_signal.h"

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

// Bare: a counting pcap_loop. InProcess: onPacket on a handle of this process. Helper: the
// program's capture loop on the helper's stream, as the program captures.
enum class Path { Bare, InProcess, Helper };

std::atomic<long> g_bareHandled{0};
// What onPacket made of the frames, in every variant but the bare one.
tessel::CaptureCounters g_counters;

void countOnly(u_char*, const pcap_pkthdr*, const u_char*) {
    g_bareHandled.fetch_add(1, std::memory_order_relaxed);
}

// Frames handled so far by the variant under test.
long handledSoFar(Path path) {
    return path != Path::Bare ? long(g_counters.packets.load()) : g_bareHandled.load();
}

// `device` opened as the capture helper opens its adapter.
pcap_t* openLikeTheHelper(const char* device, char* errbuf) {
    pcap_t* h = pcap_create(device, errbuf);
    if (!h) return nullptr;
    pcap_set_snaplen(h, tessel::kHelperSnapLength);
    pcap_set_promisc(h, 1);
    pcap_set_timeout(h, 1000);
    pcap_set_buffer_size(h, tessel::kHelperFramesBufferBytes);
    if (pcap_activate(h) < 0) {
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s", pcap_geterr(h));
        pcap_close(h);
        return nullptr;
    }
    return h;
}

// The in-process capture loop: waits in poll() for frames of the nonblocking `handle`, hands
// them to onPacket and links the writer's gathered records into place on time, until `stop`.
void inProcessLoop(pcap_t* handle, tessel::PacketSink& sink, const tessel::WakeSignal& stop) {
    using Clock = std::chrono::steady_clock;
    char errbuf[PCAP_ERRBUF_SIZE];
    const int fd = pcap_setnonblock(handle, 1, errbuf) == 0 ? pcap_get_selectable_fd(handle) : -1;
    u_char* user = reinterpret_cast<u_char*>(&sink);
    while (!stop.raised() && fd >= 0) {
        int waitMs = 250;
        if (sink.writer->hasPending()) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(sink.writer->deadline() -
                                                                     Clock::now());
            waitMs = int(std::clamp<long long>(left.count(), 0, 250));
        }
        struct pollfd p[2] = {};
        p[0].fd = fd;
        p[0].events = POLLIN;
        p[1].fd = stop.fd();
        p[1].events = POLLIN;
        const int r = ::poll(p, 2, waitMs);
        if (r < 0 && errno != EINTR) break;
        if (r > 0 && (p[0].revents & POLLIN) &&
            pcap_dispatch(handle, -1, tessel::onPacket, user) < 0)
            break;
        sink.writer->flushIfDue(Clock::now());
    }
    sink.writer->flush();
}

// The helper's last report of the kernel's drops, read from its counters pipe.
unsigned helperDrops(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
    const std::size_t end = text.rfind('\n');
    const std::size_t start = end == std::string::npos ? end : text.rfind('\n', end - 1);
    if (end == std::string::npos) return 0;
    const std::string line = text.substr(start == std::string::npos ? 0 : start + 1,
                                         end - (start == std::string::npos ? 0 : start + 1));
    tessel::HelperCountersLine counters;
    tessel::parseCountersLine(line, &counters);
    return unsigned(counters.dropped);
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

FloodResult runFlood(Path path, double rate, double seconds) {
    const bool tessel = path != Path::Bare;
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
    pcap_t* handle = nullptr;
    std::unique_ptr<tessel::cHelperCapture> helper;
    std::unique_ptr<tessel::cFrameSource> frames;
    if (path == Path::Helper) {  // as startCapture opens the chosen adapter
        helper = std::make_unique<tessel::cHelperCapture>();
        std::string message;
        if (helper->start("lo", "", &message) != tessel::HelperResult::Ok) {
            std::fprintf(stderr, "capture helper on lo: %s\n", message.c_str());
            std::exit(3);
        }
        frames = helper->takeFrames();
        fcntl(helper->countersFd(), F_SETFL, O_NONBLOCK);
    } else {
        handle = openLikeTheHelper("lo", errbuf);
        if (!handle) {
            std::fprintf(stderr, "opening lo: %s (needs capture rights)\n", errbuf);
            std::exit(3);
        }
    }
    tessel::HandOffChannel channel;
    tessel::cIntelWriter writer;
    tessel::cIntelReaderWorker reader(tessel::intelFolder, channel);
    tessel::PacketSink packets;
    packets.linkType = handle ? pcap_datalink(handle) : frames->linkType();
    packets.channel = &channel;
    packets.writer = &writer;
    packets.counters = &g_counters;
    tessel::WakeSignal stop;
    const long base = handledSoFar(path);
    std::thread capture([&] {
        pinToCpu(1);
        if (path == Path::Helper)
            tessel::runLiveStreamLoop(*frames, packets, stop);
        else if (tessel)
            inProcessLoop(handle, packets, stop);
        else
            pcap_loop(handle, -1, countOnly, nullptr);
    });
    std::thread readerThread([&] {
        pinToCpu(0);
        if (tessel) reader.run();
    });
    // The render loop's part: take the records every 26 frames at 60 FPS.
    std::atomic<bool> stopMain{false};
    std::atomic<long> taken{0};
    std::thread mainLoop([&] {
        pinToCpu(0);
        while (!stopMain) {
            taken += long(channel.drain(true).records.size());
            for (int i = 0; i < 43 && !stopMain; ++i) {
                timespec tick{0, 10000000};
                nanosleep(&tick, nullptr);
            }
        }
    });
    // Watches the handled count: the time of the first frame and of the last.
    std::atomic<bool> stopWatch{false};
    Clock::time_point first{}, last{};
    long lastCount = base;
    std::thread watch([&] {
        while (!stopWatch) {
            const long now = handledSoFar(path);
            if (now != lastCount) {
                if (lastCount == base) first = Clock::now();
                last = Clock::now();
                lastCount = now;
            }
            timespec tick{0, 200000};
            nanosleep(&tick, nullptr);
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
        long before = handledSoFar(path);
        timespec wait{0, 300000000};
        nanosleep(&wait, nullptr);
        if (handledSoFar(path) == before) break;
    }
    pcap_stat stats{};
    if (handle && pcap_stats(handle, &stats) == 0) {
        result.kernelDrops = stats.ps_drop;
        result.received = stats.ps_recv;
    }
    if (helper) {
        nanosleep(&settle, nullptr);  // one more report of the helper's counters
        timespec second{1, 0};
        nanosleep(&second, nullptr);
        result.kernelDrops = helperDrops(helper->countersFd());
    }
    stop.raise();
    if (handle) pcap_breakloop(handle);
    // Wake the loop in case the library waits for one more packet.
    int poke = socket(AF_INET, SOCK_DGRAM, 0);
    sendto(poke, "x", 1, 0, reinterpret_cast<sockaddr*>(&at), sizeof at);
    close(poke);
    capture.join();
    reader.requestStop();
    readerThread.join();
    stopMain = true;
    mainLoop.join();
    stopWatch = true;
    watch.join();
    if (handle) pcap_close(handle);
    frames.reset();
    if (helper) helper->stop();
    close(sink);
    result.handled = lastCount - base;
    const double span = std::chrono::duration<double>(last - first).count();
    result.handledPerSecond = span > 0 ? double(result.handled) / span : 0;
    return result;
}

// How long a lone frame takes from the sender to onPacket through the helper, at 10 frames a
// second (where no batch fills and only the helper's read time-out and the pipe carry it).
// Gives the milliseconds of each of `count` frames, sorted.
std::vector<double> helperLatencies(int count) {
    tessel::cHelperCapture helper;
    std::string message;
    if (helper.start("lo", "udp port 9", &message) != tessel::HelperResult::Ok) {
        std::fprintf(stderr, "capture helper on lo: %s\n", message.c_str());
        std::exit(3);
    }
    std::unique_ptr<tessel::cFrameSource> frames = helper.takeFrames();
    tessel::PacketSink packets;
    packets.linkType = frames->linkType();
    packets.counters = &g_counters;
    tessel::WakeSignal stop;
    std::thread capture([&] { tessel::runLiveStreamLoop(*frames, packets, stop); });
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in from{};  // from another address: a frame between equal ones is not a packet
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(0x7F000002);
    bind(s, reinterpret_cast<sockaddr*>(&from), sizeof from);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(0x7F000001);
    to.sin_port = htons(9);
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        timespec gap{0, 100000000};
        nanosleep(&gap, nullptr);
        const long before = long(g_counters.packets.load());
        const Clock::time_point sent = Clock::now();
        sendto(s, "x", 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        while (long(g_counters.packets.load()) == before && secondsSince(sent) < 1.0) {
            timespec tick{0, 100000};
            nanosleep(&tick, nullptr);
        }
        ms.push_back(secondsSince(sent) * 1000.0);
    }
    close(s);
    stop.raise();
    capture.join();
    frames.reset();
    helper.stop();
    std::sort(ms.begin(), ms.end());
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "all";
    // The helper of the ready-to-run folder beside this one, unless told otherwise.
    setenv("TESSEL_CAPTURE_HELPER", (tessel::programDirectory() + "/../run/tessel-capture").c_str(),
           0);
    if (what == "path" || what == "all") {
        // As fast as the sender goes (within the bound), 3 s each.
        FloodResult bare = runFlood(Path::Bare, kMaxRate, 3.0);
        FloodResult inProcess = runFlood(Path::InProcess, kMaxRate, 3.0);
        FloodResult ours = runFlood(Path::Helper, kMaxRate, 3.0);
        std::fprintf(stderr, "bare: sent %ld handled %ld (%.0f/s) drops %u\n", bare.sent,
                     bare.handled, bare.handledPerSecond, bare.kernelDrops);
        std::fprintf(stderr, "in process: sent %ld handled %ld (%.0f/s) drops %u\n", inProcess.sent,
                     inProcess.handled, inProcess.handledPerSecond, inProcess.kernelDrops);
        std::fprintf(stderr, "through the helper: sent %ld handled %ld (%.0f/s) drops %u\n",
                     ours.sent, ours.handled, ours.handledPerSecond, ours.kernelDrops);
        bench::row("1", "bare libpcap loop", bare.handledPerSecond, "packets/s", "-", "-");
        bench::row("1", "capture path in one process (before the helper)",
                   inProcess.handledPerSecond, "packets/s", "-", "-");
        bench::row("1", "capture path through the helper", ours.handledPerSecond, "packets/s",
                   ">= 50000", bench::verdict(ours.handledPerSecond >= 50000));
        const double ratio =
            bare.handledPerSecond > 0 ? ours.handledPerSecond / bare.handledPerSecond : 0;
        bench::row("1", "capture path through the helper / bare loop", ratio, "ratio", ">= 0.5",
                   bench::verdict(ratio >= 0.5));
    }
    if (what == "latency" || what == "all") {
        const std::vector<double> ms = helperLatencies(50);
        std::fprintf(stderr, "frame to decoder through the helper: median %.2f ms, worst %.2f ms\n",
                     ms[ms.size() / 2], ms.back());
        bench::row("1", "frame to decoder through the helper at 10/s, median", ms[ms.size() / 2],
                   "ms", "-", "-");
        bench::row("1", "frame to decoder through the helper at 10/s, worst", ms.back(), "ms",
                   "<= 50", bench::verdict(ms.back() <= 50));
    }
    if (what == "drops" || what == "all") {
        for (double rate : {20000.0, 50000.0}) {
            FloodResult r = runFlood(Path::Helper, rate, 10.0);
            std::fprintf(stderr, "%.0f/s: sent %ld handled %ld drops %u\n", rate, r.sent, r.handled,
                         r.kernelDrops);
            bench::row("2", "kernel drops at " + std::to_string(int(rate / 1000)) + "k/s for 10 s",
                       r.kernelDrops, "packets", "0", bench::verdict(r.kernelDrops == 0));
        }
    }
    return 0;
}
