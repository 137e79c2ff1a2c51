#pragma once
#include <string>

#include "scene/scene_context.h"

namespace tessel {

// A plain-text picture of what the scene holds (nodes, beams, sprites, counters), written to
// "scene-dump.txt" in the working folder when the process gets SIGUSR1. For checking a live run
// from outside; nothing in the program reads it.
void installSceneDumpSignal();
// Main loop, once per frame: writes the dump when one was asked for.
void serviceSceneDump(SSceneContext& context);
// The dump's text, now (main thread).
std::string sceneDumpText(SSceneContext& context);

}  // namespace tessel
