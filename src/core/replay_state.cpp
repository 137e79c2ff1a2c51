#include "core/replay_state.h"

#include <algorithm>

namespace tessel {

ReplayState& replayState() {
    static ReplayState state;
    return state;
}

double clampReplaySpeed(double speed) {
    if (!(speed == speed)) return 1.0;  // NaN
    return std::clamp(speed, ReplayState::kSlowest, ReplayState::kFastest);
}

}  // namespace tessel
