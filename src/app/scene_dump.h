#pragma once
#include <string>

#include "scene/scene_context.h"

namespace tessel {

class cCaptureSession;

// A plain-text picture of what the scene holds (nodes, beams, sprites, counters), written to
// "scene-dump.txt" in the working folder when the process gets SIGUSR1. For checking a live run
// from outside; nothing in the program reads it.
void installSceneDumpSignal();
// Main loop, once per frame: writes the dump when one was asked for. `capture` (may be null)
// gives the frame and kernel counters.
void serviceSceneDump(SSceneContext& context, const cCaptureSession* capture);
// The dump's text, now (main thread).
std::string sceneDumpText(SSceneContext& context, const cCaptureSession* capture);

}  // namespace tessel
