#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "scene/node_labels.h"
#include "scene/scene_context.h"

namespace tessel {

class HandOffChannel;
class cCaptureSession;
struct SUiState;

// What the dump reads besides the scene: the lists (through the scene context), the UI state,
// the hand-off channel, the frames drawn so far and the capture session (may be null), whose
// counters it shows.
struct SDumpSources {
    SSceneContext& scene;
    const SUiState& ui;
    const HandOffChannel& channel;
    std::uint64_t frames = 0;
    const cCaptureSession* capture = nullptr;
    const std::vector<SDrawnLabel>* labels = nullptr;  // drawn in the last frame
    const std::vector<float>* frameMs = nullptr;       // the last frames' times, in any order
};

// A plain-text picture of what the scene holds (nodes, beams, sprites, counters), written to
// "scene-dump.txt" in the working folder when the process gets SIGUSR1. For checking a live run
// from outside; nothing in the program reads it.
void installSceneDumpSignal();
// Main loop, once per frame: writes the dump when one was asked for.
void serviceSceneDump(const SDumpSources& sources);
// The dump's text, now (main thread).
std::string sceneDumpText(const SDumpSources& sources);

}  // namespace tessel
