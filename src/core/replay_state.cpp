#include "core/replay_state.h"

#include <algorithm>

namespace tessel {

void ReplayTimeline::clear() {
    std::lock_guard<std::mutex> guard(lock_);
    firstUs_ = lastUs_ = -1;
    complete_ = false;
    sliceBytes_.clear();
}

void ReplayTimeline::publish(std::int64_t firstUs, std::int64_t lastUs,
                             const std::vector<std::uint64_t>& sliceBytes, bool complete) {
    std::lock_guard<std::mutex> guard(lock_);
    firstUs_ = firstUs;
    lastUs_ = lastUs;
    complete_ = complete;
    sliceBytes_ = sliceBytes;
}

ReplayTimeline::View ReplayTimeline::read(int buckets) const {
    View view;
    std::lock_guard<std::mutex> guard(lock_);
    view.firstUs = firstUs_;
    view.lastUs = lastUs_;
    view.complete = complete_;
    if (buckets <= 0 || sliceBytes_.empty()) return view;
    // Fewer, wider slices of the ones known so far; each the largest within it, so a burst shows.
    view.buckets.assign(std::size_t(buckets), 0.0f);
    const std::size_t slices = sliceBytes_.size();
    std::uint64_t top = 1;
    for (std::size_t s = 0; s < slices; ++s) {
        const std::size_t b = s * std::size_t(buckets) / slices;
        view.buckets[b] = std::max(view.buckets[b], float(sliceBytes_[s]));
        top = std::max(top, sliceBytes_[s]);
    }
    for (float& v : view.buckets) v /= float(top);
    return view;
}

ReplayState& replayState() {
    static ReplayState state;
    return state;
}

double clampReplaySpeed(double speed) {
    if (!(speed == speed)) return 1.0;  // NaN
    return std::clamp(speed, ReplayState::kSlowest, ReplayState::kFastest);
}

SeekAsk askReplaySeek(ReplayState& state, std::int64_t* targetUs) {
    if (!state.active) return SeekAsk::NotReplaying;
    if (!state.seekable) return SeekAsk::NotSeekable;
    const ReplayTimeline::View span = state.timeline.read(0);
    if (span.firstUs < 0) return SeekAsk::NotIndexed;
    *targetUs = std::clamp(*targetUs, span.firstUs, std::max(span.firstUs, span.lastUs));
    state.seekToUs.store(*targetUs);
    return SeekAsk::Asked;
}

SeekAsk askReplaySeekBy(ReplayState& state, std::int64_t deltaUs, std::int64_t* targetUs) {
    const std::int64_t waiting = state.seekToUs.load();
    const std::int64_t from =
        waiting != ReplayState::kNoSeek ? waiting : state.captureClockUs.load();
    if (from < 0) {
        // Nothing released yet: from the first frame.
        const ReplayTimeline::View span = state.timeline.read(0);
        *targetUs = span.firstUs + deltaUs;
    } else {
        *targetUs = from + deltaUs;
    }
    return askReplaySeek(state, targetUs);
}

}  // namespace tessel
