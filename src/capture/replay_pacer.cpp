#include "capture/replay_pacer.h"

namespace tessel {

double cReplayPacer::captureAt(Clock::time_point now) const {
    if (paused_) return pausedAt_;
    const double wallUs = std::chrono::duration<double, std::micro>(now - anchorWall_).count();
    return anchorCapture_ + wallUs * speed_;
}

std::int64_t cReplayPacer::admit(std::int64_t captureUs, Clock::time_point now) {
    std::int64_t skipped = 0;
    if (!started_) {
        started_ = true;
        skipped_ = 0;
        anchorCapture_ = pausedAt_ = double(captureUs);
        anchorWall_ = now;
    } else {
        const std::int64_t gap = captureUs - lastUs_;
        // A long pause in the capture is skipped, and a time stamp that runs backwards (a merged
        // or edited file) does not hold the replay up either.
        if (gap > kLongestGapUs || gap < 0) {
            skipped_ += gap;
            if (gap > 0) skipped = gap;
        }
    }
    lastUs_ = captureUs;
    dueUs_ = captureUs - skipped_;
    return skipped;
}

cReplayPacer::Clock::time_point cReplayPacer::due() const {
    if (paused_) return Clock::time_point::max();
    const double waitUs = (double(dueUs_) - anchorCapture_) / speed_;
    return anchorWall_ + std::chrono::duration_cast<Clock::duration>(
                             std::chrono::duration<double, std::micro>(waitUs));
}

void cReplayPacer::setSpeed(double speed, Clock::time_point now) {
    if (speed <= 0 || speed == speed_) return;
    if (!paused_) {
        anchorCapture_ = captureAt(now);
        anchorWall_ = now;
    }
    speed_ = speed;
}

void cReplayPacer::setPaused(bool paused, Clock::time_point now) {
    if (paused == paused_) return;
    if (paused) {
        pausedAt_ = captureAt(now);
    } else {
        anchorCapture_ = pausedAt_;
        anchorWall_ = now;
    }
    paused_ = paused;
}

}  // namespace tessel
