// Flow records per second through the NetFlow v9 and IPFIX decoder, over the datagrams softflowd
// and pmacctd exported (tests/captures/feeds/). The templates are learned before timing, as a
// collector has them after the first seconds.
#include <benchmark/benchmark.h>
#include <pcap/pcap.h>

#include <cstdint>
#include <string>
#include <vector>

#include "capture/netflow_decoder.h"

namespace {

const char* const kFeeds[] = {"netflow_v9_softflowd", "ipfix_softflowd", "netflow_v9_pmacctd",
                              "ipfix_pmacctd"};

std::string feedFolder() {
    std::string here = __FILE__;
    return here.substr(0, here.rfind('/')) + "/../tests/captures/feeds/";
}

// The UDP payloads of an Ethernet capture of IPv4 datagrams.
std::vector<std::vector<std::uint8_t>> readFeed(const std::string& name) {
    std::vector<std::vector<std::uint8_t>> out;
    char err[PCAP_ERRBUF_SIZE] = "";
    pcap_t* p = pcap_open_offline((feedFolder() + name + ".pcap").c_str(), err);
    if (!p) return out;
    pcap_pkthdr* h = nullptr;
    const u_char* d = nullptr;
    while (pcap_next_ex(p, &h, &d) == 1) {
        if (h->caplen < 42 || d[12] != 0x08 || d[13] != 0x00 || d[23] != 17) continue;
        const std::size_t udp = 14 + (d[14] & 0x0f) * 4u;
        if (udp + 8 > h->caplen) continue;
        out.emplace_back(d + udp + 8, d + h->caplen);
    }
    pcap_close(p);
    return out;
}

void BM_NetflowDecode(benchmark::State& state) {
    const char* name = kFeeds[state.range(0)];
    state.SetLabel(name);
    const auto feed = readFeed(name);
    if (feed.empty()) {
        state.SkipWithError("feed not found");
        return;
    }
    tessel::cNetflowDecoder decoder;
    tessel::FlowExporter from;
    std::uint64_t records = 0, octets = 0;
    const tessel::FlowRecordVisitor visit = [&](const tessel::FlowRecord& r) {
        ++records;
        octets += r.octets;
    };
    for (const auto& d : feed) decoder.decode(from, d.data(), d.size(), 0, nullptr, visit);
    records = 0;
    for (auto _ : state) {
        for (const auto& d : feed) decoder.decode(from, d.data(), d.size(), 0, nullptr, visit);
    }
    benchmark::DoNotOptimize(octets);
    state.counters["records"] = benchmark::Counter(double(records), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_NetflowDecode)->DenseRange(0, 3);

}  // namespace

BENCHMARK_MAIN();
