#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "capture/listen_address.h"

namespace tessel {

// What a flow collector has heard since it started: written by the capture thread, read by any
// thread (the status line, the scene dump).
struct FeedCounters {
    FeedKind kind = FeedKind::None;
    std::atomic<std::uint64_t> datagrams{0};  // read from the socket
    std::atomic<std::uint64_t> exporters{0};  // distinct agents (sFlow) or exporters heard
    std::atomic<std::uint64_t> samples{0};    // packet samples (sFlow) or flow records
    std::atomic<std::uint64_t> malformed{0};  // datagrams dropped as malformed
    std::atomic<std::uint64_t> foreign{0};    // datagrams of another protocol or version
    std::atomic<std::uint64_t> skipped{0};    // counter samples, other records, options
    std::atomic<std::uint64_t> lost{0};       // sequence gaps (sFlow datagrams; NetFlow: its unit)
    std::atomic<std::uint64_t> waiting{0};    // data sets waiting for their template now
    std::atomic<std::uint64_t> evicted{0};    // data sets dropped without their template
    std::atomic<std::uint64_t> socketDrops{0};    // datagrams the kernel dropped (SO_RXQ_OVFL)
    std::atomic<std::uint64_t> framesDropped{0};  // frames that found the flow schedule full
    std::atomic<std::uint64_t> framesWaiting{0};  // flows' frames waiting for their time
    // Estimates of the traffic the samples stand for: each frame times its weight.
    std::atomic<std::uint64_t> estimatedPackets{0};
    std::atomic<std::uint64_t> estimatedBytes{0};
    // The first distinct sampling rates seen (0: unused slot).
    static constexpr std::size_t kRatesShown = 4;
    std::atomic<std::uint32_t> rates[kRatesShown] = {};
    std::atomic<bool> moreRates{false};  // more than kRatesShown were seen
};

// Notes `rate` among the rates seen. Capture thread.
void noteSamplingRate(FeedCounters& counters, std::uint32_t rate);

}  // namespace tessel
