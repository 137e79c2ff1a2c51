// Figure 12: seeking in a 1 GB capture. The benchmark writes a capture of 1 GiB in a scratch
// folder (pcap, then pcapng; each deleted after its run): ten minutes of capture time at about
// 1.8 MB/s, frames of 1,000 bytes (UDP between 3,000 foreign hosts, a connection opened every 10
// ms and closed 2 s later). It opens the file as a replay does, times the index to its end, then
// runs the program's replay loop (paused, as a user may be) and asks it for seeks to five
// moments, timing each from the request until the replay stands at the moment: the file
// positioned from the index and the minute before the moment read again, its hosts and open
// connections handed to the channel. Target: at most 2 s a seek.
#include <sys/resource.h>

#include <thread>

#include "bench_support.h"
#include "capture/capture_index.h"
#include "capture/file_source.h"
#include "capture/packet_dispatch.h"
#include "capture/replay_loop.h"
#include "core/hand_off.h"
#include "core/replay_state.h"
#include "platform/wake_signal.h"

namespace {

constexpr long long kFileBytes = 1LL << 30;
constexpr int kFrameBytes = 1000;
constexpr std::int64_t kSpanUs = 600'000'000;
constexpr std::int64_t kStartUs = 1'700'000'000'000'000;

void put32(std::FILE* f, std::uint32_t v) { std::fwrite(&v, 4, 1, f); }
void put16(std::FILE* f, std::uint16_t v) { std::fwrite(&v, 2, 1, f); }

std::vector<std::uint8_t> frameOf(long n) {
    std::uint8_t src[4], dst[4];
    std::vector<std::uint8_t> f;
    const long connection = n / 18;  // one every 18 frames: about every 10 ms
    if (n % 18 == 0 || n % 18 == 1) {
        // Opened now (slot 0), or the one opened 200 connections (2 s) ago closed (slot 1).
        const long c = n % 18 == 0 ? connection : connection - 200;
        bench::addressBytes(bench::foreignAddress(int(c % 3000)), src);
        bench::addressBytes(bench::foreignAddress(int((c + 7) % 3000)), dst);
        f = bench::ipFrame(src, dst, 6, 20000 + int(c % 40000), 443, n % 18 == 0 ? 0x02 : 0x11,
                           kFrameBytes - 54);
    } else {
        bench::addressBytes(bench::foreignAddress(int((n * 7919) % 3000)), src);
        bench::addressBytes(bench::foreignAddress(int((n * 104729 + 1) % 3000)), dst);
        f = bench::ipFrame(src, dst, 17, 1024 + int(n % 5000), 53);
        f.resize(kFrameBytes, 0);
    }
    return f;
}

// Writes the capture; gives its frame count.
long writeCapture(const std::string& path, bool pcapng) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        std::exit(2);
    }
    std::vector<char> buffer(1 << 20);
    std::setvbuf(f, buffer.data(), _IOFBF, buffer.size());
    if (pcapng) {
        put32(f, 0x0A0D0D0A), put32(f, 28), put32(f, 0x1A2B3C4D), put16(f, 1), put16(f, 0);
        put32(f, 0xFFFFFFFF), put32(f, 0xFFFFFFFF), put32(f, 28);
        put32(f, 1), put32(f, 20), put16(f, 1), put16(f, 0), put32(f, 65535), put32(f, 20);
    } else {
        put32(f, 0xA1B2C3D4), put16(f, 2), put16(f, 4), put32(f, 0), put32(f, 0);
        put32(f, 65535), put32(f, 1);
    }
    const long frames = long(kFileBytes / (kFrameBytes + (pcapng ? 32 : 16)));
    for (long n = 0; n < frames; ++n) {
        const std::vector<std::uint8_t> frame = frameOf(n);
        const std::uint64_t ts = std::uint64_t(kStartUs + kSpanUs * n / frames);
        const std::uint32_t len = std::uint32_t(frame.size());
        if (pcapng) {
            const std::uint32_t total = 32 + ((len + 3) & ~3u);
            put32(f, 6), put32(f, total), put32(f, 0), put32(f, std::uint32_t(ts >> 32));
            put32(f, std::uint32_t(ts)), put32(f, len), put32(f, len);
            std::fwrite(frame.data(), 1, len, f);
            static const char pad[4] = {};
            std::fwrite(pad, 1, (4 - len % 4) % 4, f);
            put32(f, total);
        } else {
            put32(f, std::uint32_t(ts / 1000000)), put32(f, std::uint32_t(ts % 1000000));
            put32(f, len), put32(f, len);
            std::fwrite(frame.data(), 1, len, f);
        }
    }
    std::fclose(f);
    return frames;
}

// CPU time of the whole process (the replay thread does the seek; this one sleeps meanwhile), so
// that a figure taken on a busy machine can be told from the work a seek takes.
double processCpuSeconds() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

void measure(const std::string& path, bool pcapng) {
    const char* format = pcapng ? "pcapng" : "pcap";
    auto start = bench::Clock::now();
    writeCapture(path, pcapng);
    std::fprintf(stderr, "%s: wrote 1 GiB in %.1f s\n", format, bench::secondsSince(start));

    tessel::ReplayState& state = tessel::replayState();
    auto source = std::make_unique<tessel::cCaptureFileSource>();
    std::string error;
    if (!source->open(path, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(2);
    }
    start = bench::Clock::now();
    source->startIndex(&state.timeline);
    source->index()->waitToCover(kStartUs + kSpanUs);
    const double indexSeconds = bench::secondsSince(start);
    bench::row("12", std::string("index of a 1 GiB ") + format + " file", indexSeconds, "s", "-",
               "-");

    tessel::HandOffChannel channel;
    tessel::PacketSink sink;
    sink.channel = &channel;
    tessel::WakeSignal stop;
    state.paused.store(true);
    std::thread replay([&] { tessel::runReplayLoop(*source, sink, stop, false); });
    double worst = 0, worstCpu = 0;
    for (double at : {0.9, 0.1, 0.5, 0.95, 0.3}) {
        const std::int64_t target = kStartUs + std::int64_t(at * double(kSpanUs));
        start = bench::Clock::now();
        const double cpuBefore = processCpuSeconds();
        state.seekToUs.store(target);
        while (state.captureClockUs.load() != target)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        const double took = bench::secondsSince(start);
        const double cpu = processCpuSeconds() - cpuBefore;
        const tessel::HandOffBatch batch = channel.drain(true);
        std::fprintf(
            stderr, "%s: seek to %.0f%% in %.3f s, CPU %.3f s (%zu hosts, %zu open connections)\n",
            format, at * 100, took, cpu, batch.seek ? batch.seek->hosts.size() : std::size_t(0),
            batch.seek ? batch.seek->openBeams.size() : std::size_t(0));
        worst = std::max(worst, took);
        worstCpu = std::max(worstCpu, cpu);
    }
    stop.raise();
    replay.join();
    source.reset();
    bench::row("12", std::string("seek in a 1 GiB ") + format + " file (worst of 5)", worst, "s",
               "<= 2", bench::verdict(worst <= 2.0));
    bench::row("12", std::string("CPU time of a seek in a 1 GiB ") + format + " file (worst of 5)",
               worstCpu, "s", "-", "-");
    std::remove(path.c_str());
}

}  // namespace

int main() {
    bench::Scratch scratch;
    measure(scratch.dir + "/seek.pcap", false);
    measure(scratch.dir + "/seek.pcapng", true);
    return 0;
}
