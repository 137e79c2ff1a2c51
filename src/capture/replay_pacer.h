#pragma once
#include <chrono>
#include <cstdint>

namespace tessel {

// When each frame of a replay is due. Capture time runs `speed` times as fast as the wall clock
// from the first frame on and stands still while paused; a gap of more than 10 s between two
// frames is skipped, so the frame after it follows at once. Time stamps are microseconds; wall
// times are passed in, so tests drive them. Replay thread only.
class cReplayPacer {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::int64_t kLongestGapUs = 10'000'000;

    // Takes the next frame's time stamp; gives the capture time skipped before it (0 but after
    // a long gap).
    std::int64_t admit(std::int64_t captureUs, Clock::time_point now);
    // When the frame taken last is due; never while paused.
    Clock::time_point due() const;
    void setSpeed(double speed, Clock::time_point now);
    void setPaused(bool paused, Clock::time_point now);
    double speed() const { return speed_; }
    bool paused() const { return paused_; }
    // The next admit starts the timeline again (a looped file).
    void restart() { started_ = false; }

  private:
    // Where the (gap-free) capture timeline stands at `now`.
    double captureAt(Clock::time_point now) const;

    bool started_ = false;
    double speed_ = 1.0;
    bool paused_ = false;
    double anchorCapture_ = 0;  // gap-free capture microseconds at anchorWall_
    Clock::time_point anchorWall_{};
    double pausedAt_ = 0;       // gap-free capture microseconds when paused
    std::int64_t skipped_ = 0;  // capture microseconds skipped so far
    std::int64_t lastUs_ = 0;   // time stamp of the frame taken last
    std::int64_t dueUs_ = 0;    // its gap-free capture time
};

}  // namespace tessel
