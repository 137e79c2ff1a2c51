#pragma once
#include <pcap/pcap.h>
#include <sys/time.h>

#include <cstdint>

namespace tessel {

class WakeSignal;

// State the statistics handler keeps between samples (the handler's user argument). The first
// sample has no predecessor: its time is recorded and its rate skipped.
struct StatsState {
    bool havePrevious = false;
    timeval previous{};
};

// The rate of one sample ending at `when` with `bytes` seen since the previous one; updates
// `state`. False when there is no rate: the first sample, or a delay of 0 microseconds.
bool statsSampleRate(StatsState* state, const timeval& when, std::uint64_t bytes,
                     std::int64_t* bitsPerSecond);

// libpcap-style handler of one statistics sample: `user` is a StatsState, `data` 16 bytes
// (packets, then bytes, each 64-bit little-endian). Appends the rate to the history.
// Statistics thread only.
void onStatsSample(u_char* user, const struct pcap_pkthdr* header, const u_char* data);

// Counts the frames of a nonblocking, immediate-mode `handle` and emits one sample per
// `intervalMs` through `handler` (empty intervals give a 0 sample), stamped with the wall
// clock at the interval's end. On Linux the read time-out does not fire on an idle interface,
// so poll() up to each deadline is the clock. Runs until `stop` (may be null) is raised or the
// handle fails; returns the number of samples emitted.
long runStatsLoop(pcap_t* handle, pcap_handler handler, u_char* user, const WakeSignal* stop,
                  int intervalMs = 1000);

}  // namespace tessel
