#pragma once
#include <chrono>
#include <cstdint>

#include "capture/capture_session.h"
#include "ui/status_line.h"

namespace tessel {

class cCaptureSession;
class cConnectionList;
class cNodeManager;

// The capture's frame counters and the kernel's (as the capture helper reports them), read at
// one moment. readCaptureCounters is the one place that reads them: the status line's figures
// and the scene dump both come from it. `capture` may be null (no session: all zero).
struct CaptureReading {
    std::uint64_t packets = 0, truncated = 0, malformed = 0, ignored = 0, notIP = 0, fragments = 0;
    bool kernelKnown = false;  // a live capture's kernel statistics could be read
    KernelCaptureStats kernel;
    std::uint64_t intelWritten = 0, intelLost = 0, intelRead = 0;  // recorded packets as files
    FeedReading feed;  // a flow collector's counters (kind None for a capture)
};
CaptureReading readCaptureCounters(const cCaptureSession* capture);

// Gathers the status line's figures from the capture session's counters, the node list, the
// beams and the impacts, at most twice a second: each gathering is a handful of counter reads.
// Main thread.
class cStatusGatherer {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kPeriod{500};

    // Both lists outlive the gatherer.
    cStatusGatherer(const cNodeManager& nodes, const cConnectionList& connections)
        : nodes_(nodes), connections_(connections) {}

    // New figures when a period has passed since the last ones; false otherwise.
    bool due(Clock::time_point now) const { return now >= next_; }
    // `capture` (may be null) gives the frame and kernel counters.
    StatusFigures gather(Clock::time_point now, const cCaptureSession* capture = nullptr);

  private:
    const cNodeManager& nodes_;
    const cConnectionList& connections_;
    Clock::time_point next_{};
    Clock::time_point last_{};
    std::uint64_t lastFrames_ = 0;
    std::uint64_t lastDatagrams_ = 0, lastEstimated_ = 0;
    bool started_ = false;
};

}  // namespace tessel
