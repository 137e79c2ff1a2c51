#pragma once
#include <chrono>
#include <cstdint>

#include "ui/status_line.h"

namespace tessel {

class cConnectionList;
class cNodeManager;

// Gathers the status line's figures from the capture counters, the kernel, the node list, the
// beams and the impacts, at most twice a second: each gathering is a handful of counter reads
// and one kernel statistics call. Main thread.
class cStatusGatherer {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kPeriod{500};

    // Both lists outlive the gatherer.
    cStatusGatherer(const cNodeManager& nodes, const cConnectionList& connections)
        : nodes_(nodes), connections_(connections) {}

    // New figures when a period has passed since the last ones; false otherwise.
    bool due(Clock::time_point now) const { return now >= next_; }
    StatusFigures gather(Clock::time_point now);

  private:
    const cNodeManager& nodes_;
    const cConnectionList& connections_;
    Clock::time_point next_{};
    Clock::time_point last_{};
    std::uint64_t lastFrames_ = 0;
    bool started_ = false;
};

}  // namespace tessel
