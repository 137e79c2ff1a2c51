#include "capture/replay_meter.h"

#include <sys/time.h>

namespace tessel {

namespace {

constexpr std::int64_t kSecondUs = 1'000'000;

std::string durationText(std::int64_t us) {
    const std::int64_t s = us / kSecondUs;
    if (s < 60) return std::to_string(s) + " s";
    if (s < 3600) return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
    return std::to_string(s / 3600) + " h " + std::to_string(s / 60 % 60) + " min";
}

}  // namespace

void cCaptureRateMeter::add(std::int64_t atUs, std::uint32_t bytes) {
    if (!started_) {
        started_ = true;
        state_ = StatsState();
        secondEndUs_ = atUs + kSecondUs;
        sample(atUs, 0);  // the first sample has no predecessor: it only starts the clock
    }
    while (atUs >= secondEndUs_) {
        sample(secondEndUs_, bytes_);
        bytes_ = 0;
        secondEndUs_ += kSecondUs;
    }
    bytes_ += bytes;
}

void cCaptureRateMeter::sample(std::int64_t atUs, std::uint64_t bytes) {
    timeval when{};
    when.tv_sec = atUs / kSecondUs;
    when.tv_usec = atUs % kSecondUs;
    std::int64_t bps = 0;
    if (statsSampleRate(&state_, when, bytes, &bps)) appendRateSample(bps);
}

std::string skippedTimeMessage(std::int64_t us) {
    return "Skipped " + durationText(us) + " without traffic";
}

}  // namespace tessel
