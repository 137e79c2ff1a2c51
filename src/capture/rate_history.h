#pragma once
#include <sys/time.h>

#include <cstdint>
#include <vector>

namespace tessel {

// What a feed of rate samples keeps between samples. The first sample has no predecessor: its
// time is recorded and its rate skipped.
struct StatsState {
    bool havePrevious = false;
    timeval previous{};
};

// The rate of one sample ending at `when` with `bytes` seen since the previous one; updates
// `state`. False when there is no rate: the first sample, or a delay of 0 microseconds. Pure.
bool statsSampleRate(StatsState* state, const timeval& when, std::uint64_t bytes,
                     std::int64_t* bitsPerSecond);

// The last 50 traffic-rate samples (bits per second, oldest first) and their running maximum,
// which starts at 10000 and never falls. Written by the statistics thread (a replay's capture
// thread), read by the render thread; one lock around both.
void appendRateSample(std::int64_t bitsPerSecond);
void readRateHistory(std::vector<std::int32_t>* samples, float* rateMax);
// Samples appended since the capture session started (any thread).
std::uint64_t rateSampleCount();
// Empties the history and puts the maximum back to its floor: a new capture session starts here.
void resetRateHistory();

}  // namespace tessel
