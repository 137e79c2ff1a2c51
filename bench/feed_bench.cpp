// Flow feeds: packet samples per second out of real sFlow datagrams (pmacctd's, kept in
// tests/captures/feeds/), decoded alone and then on to the frames the capture road takes.
#include <benchmark/benchmark.h>
#include <pcap/pcap.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture/feed_frame.h"
#include "capture/packet_decoder.h"
#include "capture/sflow_decoder.h"

namespace {

using Datagram = std::vector<std::uint8_t>;

std::string feedsFolder() {
    if (const char* top = std::getenv("TESSEL_SOURCE_DIR"))
        return std::string(top) + "/tests/captures/feeds/";
    std::string here = __FILE__;
    return here.substr(0, here.rfind('/')) + "/../tests/captures/feeds/";
}

// The UDP payloads of the Ethernet frames of a capture, the datagrams that decode.
std::vector<Datagram> datagrams(const std::string& file) {
    std::vector<Datagram> out;
    char err[PCAP_ERRBUF_SIZE] = "";
    pcap_t* p = pcap_open_offline((feedsFolder() + file).c_str(), err);
    if (!p) return out;
    pcap_pkthdr* h = nullptr;
    const u_char* data = nullptr;
    while (pcap_next_ex(p, &h, &data) == 1) {
        const std::size_t udp = data[12] == 0x86 ? 14 + 40 : 14 + (data[14] & 0x0F) * 4;
        Datagram d(data + udp + 8, data + h->caplen);
        if (tessel::decodeSflow(d.data(), d.size(), nullptr, nullptr) == tessel::SflowOutcome::Ok)
            out.push_back(d);
    }
    pcap_close(p);
    return out;
}

const std::vector<Datagram>& pmacctd() {
    static const std::vector<Datagram> all = [] {
        std::vector<Datagram> a = datagrams("sflow_pmacctd.pcap");
        std::vector<Datagram> b = datagrams("sflow_pmacctd_v6agent.pcap");
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }();
    return all;
}

void BM_SflowDecode(benchmark::State& state) {
    const std::vector<Datagram>& all = pmacctd();
    if (all.empty()) {
        state.SkipWithError("no datagrams in tests/captures/feeds/");
        return;
    }
    std::uint64_t samples = 0, bytes = 0;
    tessel::SflowDatagramInfo info;
    const tessel::SflowSampleVisitor visit = [&](const tessel::SflowPacketSample& s) {
        benchmark::DoNotOptimize(s.header);
        ++samples;
    };
    for (auto _ : state) {
        for (const Datagram& d : all) {
            benchmark::DoNotOptimize(tessel::decodeSflow(d.data(), d.size(), &info, visit));
            bytes += d.size();
        }
    }
    state.counters["samples"] = benchmark::Counter(double(samples), benchmark::Counter::kIsRate);
    state.counters["datagrams"] =
        benchmark::Counter(double(state.iterations() * all.size()), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(std::int64_t(bytes));
}
BENCHMARK(BM_SflowDecode);

// What a collector does with each sample: the frame, then the frame decoder.
void BM_SflowToDecodedFrames(benchmark::State& state) {
    const std::vector<Datagram>& all = pmacctd();
    if (all.empty()) {
        state.SkipWithError("no datagrams in tests/captures/feeds/");
        return;
    }
    std::uint64_t samples = 0, packets = 0;
    tessel::FeedFrame frame;
    const tessel::SflowSampleVisitor visit = [&](const tessel::SflowPacketSample& s) {
        ++samples;
        if (!tessel::frameFromSample(s, 1700000000000000, &frame)) return;
        const tessel::DecodedFrame d =
            tessel::decodeFrame(DLT_EN10MB, frame.bytes, frame.header.caplen);
        packets += d.outcome == tessel::FrameOutcome::Packet;
    };
    for (auto _ : state)
        for (const Datagram& d : all) tessel::decodeSflow(d.data(), d.size(), nullptr, visit);
    benchmark::DoNotOptimize(packets);
    state.counters["samples"] = benchmark::Counter(double(samples), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SflowToDecodedFrames);

}  // namespace

BENCHMARK_MAIN();
