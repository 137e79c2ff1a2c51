#pragma once
#include <irrlicht.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/status_figures.h"
#include "core/traffic_record.h"
#include "scene/scene_context.h"
#include "ui/host_labels.h"

namespace tessel {

struct HandOffBatch;
class HandOffChannel;
class cCaptureSession;
class cNameResolver;
class cReplayRecording;
struct SUiState;

// The render loop: one frame per call while the device runs, with the 26-frame job cycle, the
// caption, the scene (or the pause picture), the GUI and the rate graph, and the one point of
// the frame where the worker threads' hand-off is applied. Main thread only.
class cRenderLoop {
  public:
    // `context` names the node and connection lists; `ui` holds the user's switches and the
    // message list; `channel` is drained once a frame and `resolver` woken every kJobCycle
    // frames; `capture` (may be null) gives the status line's and the scene dump's capture
    // counters; all outlive the loop. `maxFps` 0 renders as fast as the driver allows; otherwise
    // frames are spaced to at most that many a second.
    cRenderLoop(irr::IrrlichtDevice* device, SSceneContext& context, SUiState& ui,
                HandOffChannel& channel, cNameResolver& resolver, int maxFps,
                const cCaptureSession* capture = nullptr);
    ~cRenderLoop();
    cRenderLoop(const cRenderLoop&) = delete;
    cRenderLoop& operator=(const cRenderLoop&) = delete;

    // Records the frames into `recording` (outlives the loop) instead of pacing them: the
    // window counts as never active (no mouse view, no information panel), the status line's
    // figures go by the recording's clock, and run() ends when the recording is done.
    void recordInto(cReplayRecording* recording) { recording_ = recording; }

    // Runs frames until the device stops (or the recording is done).
    void run();
    // One frame (the device's run() has been called and was true).
    void frame();

    static constexpr int kJobCycle = 26;
    // Frames the scene dump's median and worst frame look back over: ten job cycles.
    static constexpr std::size_t kFrameWindow = 10 * kJobCycle;

  private:
    void applyHandOff(const HandOffBatch& batch);
    void runFrameJob(int step, const HandOffBatch& batch);
    void drawPausePicture();
    void updateCaption();
    void waitForFrameSlot();

    irr::IrrlichtDevice* device_;
    SSceneContext& context_;
    SUiState& ui_;
    HandOffChannel& channel_;
    cNameResolver& resolver_;
    const cCaptureSession* capture_;
    cReplayRecording* recording_ = nullptr;
    std::chrono::steady_clock::duration framePeriod_{};
    std::chrono::steady_clock::time_point nextFrame_{};
    int frameJobStep_ = 0;
    std::uint64_t framesDrawn_ = 0;
    // Start-to-start times of the last frames (ms), a ring, for the scene dump.
    std::vector<float> frameMs_;
    std::size_t nextFrameMs_ = 0;
    std::chrono::steady_clock::time_point lastFrameStart_{};
    irr::s32 shownFps_ = -1;
    int fadeCounter_ = 1;
    irr::video::ITexture* pauseTexture_ = nullptr;
    int pauseTextureGeneration_ = -1;
    cStatusGatherer status_;
    cHostLabels labels_;
};

// The intel pass of the cycle's step 1: the records the intel reader handed over become
// particle impacts. When the reader could not list the folder it shows "Failed to open 'intel'
// folder. Failing...", closes the log and ends the process with status 0.
void loadIntelFiles(SSceneContext& context, const std::vector<TrafficRecord>& records,
                    bool folderMissing);

}  // namespace tessel
