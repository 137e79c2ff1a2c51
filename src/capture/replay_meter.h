#pragma once
#include <cstdint>
#include <string>

#include "capture/rate_history.h"

namespace tessel {

// One traffic-rate sample per second of capture time, from the replayed frames' lengths, into
// the rate history. The thread that releases a replay's frames owns one.
class cCaptureRateMeter {
  public:
    void add(std::int64_t atUs, std::uint32_t bytes);
    // After skipped capture time or a new round: no sample spans the jump.
    void restart() {
        started_ = false;
        bytes_ = 0;
    }

  private:
    void sample(std::int64_t atUs, std::uint64_t bytes);

    bool started_ = false;
    StatsState state_;
    std::int64_t secondEndUs_ = 0;
    std::uint64_t bytes_ = 0;
};

// The message list's line for `us` microseconds of capture skipped without traffic.
std::string skippedTimeMessage(std::int64_t us);

}  // namespace tessel
