// Capture-side throughput: recorded packets per second through onPacket (decode + the intel
// writer), and the intel reader's cost per 1,000 waiting single-record files. Runs in a scratch
// folder under /tmp.
#include <benchmark/benchmark.h>
#include <pcap/pcap.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "capture/intel_reader.h"
#include "capture/intel_writer.h"
#include "capture/packet_dispatch.h"
#include "core/hand_off.h"
#include "platform/directory.h"

namespace {

struct Scratch {
    Scratch() {
        char pattern[] = "/tmp/tessel-bench-XXXXXX";
        dir = mkdtemp(pattern);
        chdir(dir.c_str());
        mkdir("intel", 0755);
    }
    ~Scratch() {
        tessel::emptyDirectory("intel");
        rmdir("intel");
        chdir("/");
        rmdir(dir.c_str());
    }
    std::string dir;
};

// Ethernet + IPv4 + UDP 53 -> 1025 with 32 bytes of data: a recorded packet.
std::vector<std::uint8_t> udpFrame() {
    std::vector<std::uint8_t> f(14 + 20 + 8 + 32, 0);
    f[12] = 0x08;
    f[14] = 0x45;
    f[17] = 60;
    f[22] = 64;
    f[23] = 17;
    const std::uint8_t src[] = {10, 0, 0, 1}, dst[] = {10, 0, 0, 2};
    for (int i = 0; i < 4; ++i) f[26 + i] = src[i], f[30 + i] = dst[i];
    f[35] = 53;
    f[36] = 0x04;
    f[37] = 0x01;
    return f;
}

void BM_RecordedPacketThroughOnPacket(benchmark::State& state) {
    Scratch scratch;
    tessel::HandOffChannel channel;
    tessel::cIntelWriter writer;
    tessel::PacketSink sink;
    sink.channel = &channel;
    sink.writer = &writer;
    std::vector<std::uint8_t> frame = udpFrame();
    pcap_pkthdr header{};
    header.caplen = header.len = bpf_u_int32(frame.size());
    long written = 0;
    for (auto _ : state) {
        tessel::onPacket(reinterpret_cast<u_char*>(&sink), &header, frame.data());
        if (++written % 5000 == 0) {  // keep the folder at a realistic size
            state.PauseTiming();
            tessel::emptyDirectory("intel");
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecordedPacketThroughOnPacket)->Unit(benchmark::kMicrosecond);

void BM_DecodeOnly(benchmark::State& state) {
    std::vector<std::uint8_t> frame = udpFrame();
    for (auto _ : state) {
        tessel::DecodedFrame d = tessel::decodeFrame(DLT_EN10MB, frame.data(), frame.size());
        benchmark::DoNotOptimize(d);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeOnly);

void BM_LoadThousandIntelFiles(benchmark::State& state) {
    Scratch scratch;
    tessel::TrafficRecord r;
    r.udp = 1;
    r.src = "10.0.0.1";
    r.dst = "10.0.0.2";
    r.srcport = 53;
    r.dstport = 1025;
    r.size = 15360;
    long records = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < 1000; ++i) tessel::writeIntelRecords({r});
        state.ResumeTiming();
        tessel::consumeIntelFolder("intel", [&](const tessel::TrafficRecord&) { ++records; });
    }
    state.counters["records"] =
        benchmark::Counter(double(records), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_LoadThousandIntelFiles)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
