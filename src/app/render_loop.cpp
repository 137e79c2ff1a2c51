#include "app/render_loop.h"

#include <thread>

#include "app/replay_recording.h"
#include "app/scene_dump.h"
#include "capture/rate_history.h"
#include "core/event_log.h"
#include "core/fatal_exit.h"
#include "core/hand_off.h"
#include "core/process_flags.h"
#include "nodes/name_resolver.h"
#include "nodes/node_manager.h"
#include "scene/collision_worlds.h"
#include "scene/node_objects.h"
#include "scene/particle_impacts.h"
#include "scene/rate_graph.h"
#include "scene/seek_reset.h"
#include "scene/traffic_beams.h"
#include "ui/fading_text_list.h"
#include "ui/frame_requests.h"
#include "ui/hud.h"
#include "ui/status_line.h"
#include "ui/ui_state.h"

namespace tessel {

using namespace irr;

void loadIntelFiles(SSceneContext& context, const std::vector<TrafficRecord>& records,
                    bool folderMissing) {
    if (folderMissing) endAfterFatal("Failed to open 'intel' folder. Failing...", false);
    addParticleImpacts(context, records);
}

cRenderLoop::cRenderLoop(IrrlichtDevice* device, SSceneContext& context, SUiState& ui,
                         HandOffChannel& channel, cNameResolver& resolver, int maxFps,
                         const cCaptureSession* capture)
    : device_(device),
      context_(context),
      ui_(ui),
      channel_(channel),
      resolver_(resolver),
      capture_(capture),
      status_(*context.nodes, *context.connections) {
    if (maxFps > 0)
        framePeriod_ = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(1.0 / maxFps));
}

cRenderLoop::~cRenderLoop() = default;

void cRenderLoop::run() {
    while (device_->run()) {
        frame();
        if (recording_ && recording_->done()) break;
    }
}

void cRenderLoop::applyHandOff(const HandOffBatch& batch) {
    // A seek comes first: the beam events of the batch came after it.
    if (batch.seek) resetSceneForSeek(context_, *batch.seek);
    applyBeamEvents(context_, batch.beams);
    if (CFadingTextList* messages = ui_.messages.get()) {
        // Only the newest lines can still be seen once all are posted.
        const std::size_t lines = static_cast<std::size_t>(messages->lineCount());
        const std::size_t first = batch.messages.size() > lines ? batch.messages.size() - lines : 0;
        for (std::size_t i = first; i < batch.messages.size(); ++i)
            messages->addMessage(batch.messages[i]);
    }
}

void cRenderLoop::runFrameJob(int step, const HandOffBatch& batch) {
    switch (step) {
        case 0:
            createNodeObjects(context_);
            break;
        case 1:
            loadIntelFiles(context_, batch.records, batch.intelFolderMissing);
            break;
        case 2:
            resolver_.wake();
            break;
        case 3:
            if (std::optional<SNetNode> gone = context_.nodes->pruneOneNode(*context_.connections))
                removeNodeCube(context_, *gone);
            break;
        default:
            break;
    }
}

void cRenderLoop::drawPausePicture() {
    video::IVideoDriver* driver = context_.videoDriver;
    if (pauseTextureGeneration_ != pausePictureGeneration()) {
        // Always the picture of the latest pause, never a cached earlier one.
        if (pauseTexture_) driver->removeTexture(pauseTexture_);
        pauseTexture_ = driver->getTexture("pausepicture.png");
        pauseTextureGeneration_ = pausePictureGeneration();
    }
    if (pauseTexture_) driver->draw2DImage(pauseTexture_, core::position2d<s32>(0, 0));
}

void cRenderLoop::updateCaption() {
    video::IVideoDriver* driver = context_.videoDriver;
    const s32 fps = driver->getFPS();
    if (fps == shownFps_) return;
    core::stringw caption = L"Tessel [";
    caption += driver->getName();
    caption += L"] FPS:";
    caption += fps;
    device_->setWindowCaption(caption.c_str());
    shownFps_ = fps;
}

void cRenderLoop::waitForFrameSlot() {
    if (framePeriod_ == std::chrono::steady_clock::duration::zero()) return;
    const auto now = std::chrono::steady_clock::now();
    if (nextFrame_ > now) std::this_thread::sleep_until(nextFrame_);
    // A frame that ran late starts the beat again instead of being followed by a burst.
    nextFrame_ = std::max(nextFrame_, now) + framePeriod_;
}

void cRenderLoop::frame() {
    const auto frameStart = std::chrono::steady_clock::now();
    if (lastFrameStart_ != std::chrono::steady_clock::time_point{}) {
        const float ms =
            std::chrono::duration<float, std::milli>(frameStart - lastFrameStart_).count();
        if (frameMs_.size() < kFrameWindow)
            frameMs_.push_back(ms);
        else
            frameMs_[nextFrameMs_] = ms;
        nextFrameMs_ = (nextFrameMs_ + 1) % kFrameWindow;
    }
    lastFrameStart_ = frameStart;
    video::IVideoDriver* driver = context_.videoDriver;
    scene::ISceneManager* smgr = context_.sceneManager;
    gui::IGUIEnvironment* gui = context_.guiEnvironment;
    scene::ICameraSceneNode* camera = context_.camera;

    if (recording_) recording_->beginFrame();
    if (fadeCounter_ == 1) {
        startHudFade();
        fadeCounter_ = 0;
    }
    const bool active = !recording_ && device_->isWindowActive();
    if (!active) {
        if (camera) camera->setInputReceiverEnabled(false);
        ui_.flags.enteredEnvironment = 0;
    }
    // Pause state and picture change only in the event pass and at the end of a frame.
    const bool pausePicture = ui_.flags.pauseState > 2 && !pausePicturePending();
    driver->beginScene(true, true,
                       context_.skyCleared && !pausePicture ? video::SColor(255, 0, 0, 0)
                                                            : video::SColor(0, 200, 200, 200));
    if (active)
        updateInfoPanel(device_, ui_, *context_.nodes, *context_.connections, context_.programs);
    ui_.tour.endFinishedFlight();

    // Work handed over by the worker threads lands at this one point of the frame; the intel
    // pass takes its records here, at step 1 of the cycle.
    const bool intelPass = frameJobStep_ == 1;
    const u32 nowMs = context_.timer ? context_.timer->getTime() : 0;
    HandOffBatch batch = channel_.drain(intelPass);
    applyHandOff(batch);
    if (intelPass) labels_.countRecords(batch.records, nowMs);
    runFrameJob(frameJobStep_, batch);
    // The labels follow the passes that add cubes (step 0) and take them away (step 3).
    if (frameJobStep_ == 0 || frameJobStep_ == 3) labels_.refresh(*context_.nodes);
    if (++frameJobStep_ >= kJobCycle) frameJobStep_ = 0;

    updateCaption();

    if (pausePicture) {
        drawPausePicture();
        labels_.clear();
    } else {
        smgr->drawAll();
        // Before the GUI, so that the HUD is drawn over any label.
        labels_.draw(context_, ui_.labelMode, infoPanelNodePickId(), nowMs);
    }
    updateImpactLine(nowMs);
    updateReplayLine();
    const cStatusGatherer::Clock::time_point now =
        recording_ ? cStatusGatherer::Clock::time_point(recording_->frameTime())
                   : cStatusGatherer::Clock::now();
    if (status_.due(now)) showStatus(status_.gather(now, capture_), ui_.flags, ui_.messages.get());
    gui->drawAll();
    if (ui_.flags.statsGraphShown) {
        std::vector<std::int32_t> samples;
        float rateMax = 0;
        readRateHistory(&samples, &rateMax);
        drawRateGraph(driver, ui_.flags.windowWidth, ui_.flags.windowHeight, samples, rateMax);
    }
    drawReplayTimeline(driver);
    serviceFrameRequests(driver, ui_.messages.get());
    if (recording_) recording_->takeFrame(driver);
    driver->endScene();
    if (context_.collisionWorlds) context_.collisionWorlds->refreshWorldSelector();
    serviceSceneDump(SDumpSources{context_, ui_, channel_, ++framesDrawn_, capture_,
                                  &labels_.drawn(), &frameMs_});
    if (!recording_) waitForFrameSlot();
}

}  // namespace tessel
