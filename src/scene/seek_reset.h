#pragma once
#include "core/hand_off.h"
#include "scene/scene_context.h"

namespace tessel {

// A replay went to another moment: every beam, every node but this host and the gateway (with
// their cubes) and every sprite go, then the hosts of the minute before the moment are listed
// again (their cubes follow at the next scene pass) and the connections open at it get their
// beams. Main thread, where the hand-off is applied.
void resetSceneForSeek(SSceneContext& context, const SeekReset& reset);

}  // namespace tessel
