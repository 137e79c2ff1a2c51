#pragma once
#include <atomic>
#include <cstdint>
#include <string>

namespace tessel {

// What the user controls of a replay and what the HUD shows of it. Set up by start-up before the
// replay thread starts; then the main thread writes the controls and the replay thread the
// progress, each value alone.
struct ReplayState {
    bool active = false;  // set once at start-up, before any thread reads it
    std::string source;   // the file's name, or "standard input"; set with `active`

    static constexpr double kSlowest = 0.01;
    static constexpr double kFastest = 1000.0;
    std::atomic<double> speed{1.0};  // capture seconds per wall-clock second
    std::atomic<bool> paused{false};

    std::atomic<std::int64_t> captureClockUs{-1};  // time stamp of the newest frame released
    std::atomic<int> progressPermille{-1};         // through the file; -1 for a stream
    std::atomic<bool> finished{false};
};

// The process's replay; inactive while capturing live.
ReplayState& replayState();

// `speed` kept within ReplayState's bounds.
double clampReplaySpeed(double speed);

}  // namespace tessel
