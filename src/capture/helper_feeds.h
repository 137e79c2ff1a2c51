#pragma once
#include <atomic>
#include <cstdint>
#include <string>

namespace tessel {

class WakeSignal;

// The kernel's counters of the frames helper's handle, as it last reported them.
struct HelperCounters {
    std::atomic<bool> known{false};
    std::atomic<std::uint64_t> received{0}, dropped{0}, interfaceDropped{0};
};

// Parses one line of the rates helper, "SECONDS MICROSECONDS PACKETS BYTES"; false when it is
// not one. Pure.
bool parseRateLine(const std::string& line, long long* seconds, long* micros, std::uint64_t* bytes);
// Parses one counters line, "RECEIVED DROPPED IFDROPPED"; false when it is not one. Pure.
bool parseCountersLine(const std::string& line, std::uint64_t* received, std::uint64_t* dropped,
                       std::uint64_t* interfaceDropped);

// The statistics thread of a capture through the helper: reads the rates helper's samples into
// the rate history and the frames helper's counters into *counters, until `stop` is raised or
// both pipes end. Either descriptor may be -1.
void runHelperFeedsLoop(int ratesFd, int countersFd, HelperCounters* counters,
                        const WakeSignal& stop);

}  // namespace tessel
