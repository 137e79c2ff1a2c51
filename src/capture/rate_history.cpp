#include "capture/rate_history.h"

#include <mutex>

namespace tessel {

namespace {

constexpr std::size_t kRateHistoryLength = 50;
constexpr float kInitialRateMax = 10000.0f;

// Written by the statistics thread, read by the render thread: one lock around both values.
std::mutex rateMutex;
std::vector<std::int32_t> rateHistory;
float rateMax = kInitialRateMax;
std::uint64_t samplesAppended = 0;

}  // namespace

bool statsSampleRate(StatsState* state, const timeval& when, std::uint64_t bytes,
                     std::int64_t* bitsPerSecond) {
    bool had = state->havePrevious;
    timeval prev = state->previous;
    state->previous = when;
    state->havePrevious = true;
    if (!had) return false;
    // Microseconds since the previous sample, as a 32-bit unsigned number.
    std::uint32_t delay =
        std::uint32_t((std::uint32_t(when.tv_sec) - std::uint32_t(prev.tv_sec)) * 1000000u -
                      std::uint32_t(prev.tv_usec) + std::uint32_t(when.tv_usec));
    if (delay == 0) return false;
    *bitsPerSecond = std::int64_t(bytes * 8000000ull / delay);
    return true;
}

void appendRateSample(std::int64_t bitsPerSecond) {
    std::lock_guard<std::mutex> lock(rateMutex);
    const float asFloat = static_cast<float>(bitsPerSecond);
    if (asFloat > rateMax) rateMax = asFloat;
    // The low 32 bits, as the history holds signed 32-bit samples.
    rateHistory.push_back(static_cast<std::int32_t>(static_cast<std::uint32_t>(bitsPerSecond)));
    if (rateHistory.size() > kRateHistoryLength) rateHistory.erase(rateHistory.begin());
    ++samplesAppended;
}

std::uint64_t rateSampleCount() {
    std::lock_guard<std::mutex> lock(rateMutex);
    return samplesAppended;
}

void readRateHistory(std::vector<std::int32_t>* samples, float* maxOut) {
    std::lock_guard<std::mutex> lock(rateMutex);
    if (samples) *samples = rateHistory;
    if (maxOut) *maxOut = rateMax;
}

void resetRateHistory() {
    std::lock_guard<std::mutex> lock(rateMutex);
    rateHistory.clear();
    rateMax = kInitialRateMax;
    samplesAppended = 0;
}

}  // namespace tessel
