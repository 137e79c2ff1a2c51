#pragma once
#include "scene/scene_context.h"

namespace tessel {

// The scene pass (every 26 frames, main thread): gives each new node its turning cube and ages
// every node.
void createNodeObjects(SSceneContext& context);

}  // namespace tessel
