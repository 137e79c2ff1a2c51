#pragma once
#include <atomic>
#include <cstdint>

namespace tessel {

class WakeSignal;

// The kernel's counters of the frames helper's handle, as it last reported them.
struct HelperCounters {
    std::atomic<bool> known{false};
    std::atomic<std::uint64_t> received{0}, dropped{0}, interfaceDropped{0};
};

// The statistics thread of a capture through the helper: reads the rates helper's lines into the
// rate history and the frames helper's counters lines into *counters (both formats in
// platform/helper_protocol.h; a line that is not one is skipped), until `stop` is raised or
// both pipes end. Either descriptor may be -1.
void runHelperFeedsLoop(int ratesFd, int countersFd, HelperCounters* counters,
                        const WakeSignal& stop);

}  // namespace tessel
