#pragma once
#include <cstdint>
#include <vector>

namespace tessel {

// The last 50 traffic-rate samples (bits per second, oldest first) and their running maximum,
// which starts at 10000 and never falls. Written by the statistics thread, read by the render
// thread; one lock around both.
void appendRateSample(std::int64_t bitsPerSecond);
void readRateHistory(std::vector<std::int32_t>* samples, float* rateMax);
// Samples appended since start (any thread).
std::uint64_t rateSampleCount();
void resetRateHistory();  // tests

}  // namespace tessel
