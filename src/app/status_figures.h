#pragma once
#include <chrono>
#include <cstdint>

#include "ui/status_line.h"

namespace tessel {

class cCaptureSession;

// Gathers the status line's figures from the capture session's counters (with the kernel's, as
// the capture helper reports them), the node list, the beams and the impacts, at most twice a
// second: each gathering is a handful of counter reads. Main thread.
class cStatusGatherer {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kPeriod{500};

    // New figures when a period has passed since the last ones; false otherwise.
    bool due(Clock::time_point now) const { return now >= next_; }
    // `capture` (may be null) gives the frame and kernel counters.
    StatusFigures gather(Clock::time_point now, const cCaptureSession* capture = nullptr);

  private:
    Clock::time_point next_{};
    Clock::time_point last_{};
    std::uint64_t lastFrames_ = 0;
    bool started_ = false;
};

}  // namespace tessel
