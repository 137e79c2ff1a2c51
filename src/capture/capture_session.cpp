#include "capture/capture_session.h"

#include "capture/feed_counters.h"
#include "capture/rate_history.h"
#include "capture/replay_loop.h"
#include "core/replay_state.h"
#include "platform/process.h"

namespace tessel {

cCaptureSession::cCaptureSession(std::unique_ptr<cFrameSource> source, HandOffChannel& channel,
                                 CaptureOptions options)
    : source_(std::move(source)),
      paced_(options.paced),
      loop_(options.loop),
      stepped_(options.stepped && options.paced),
      helper_(std::move(options.helper)),
      channel_(channel),
      writer_(options.folder),
      reader_(options.folder, channel) {
    sink_.linkType = source_ ? source_->linkType() : DLT_EN10MB;
    feed_ = source_ ? source_->feedCounters() : nullptr;
    sink_.channel = &channel_;
    sink_.writer = stepped_ ? nullptr : &writer_;
    sink_.counters = &counters_;
    if (options.programs) {
        owners_ = std::make_unique<cSocketOwnersWorker>(*options.programs);
        sink_.owners = owners_.get();
    }
}

cCaptureSession::~cCaptureSession() { stop(); }

void cCaptureSession::start() {
    // The graph shows this session's traffic only.
    resetRateHistory();
    if (owners_) owners_->start();
    if (stepped_) {
        if (source_)
            stepper_ =
                std::make_unique<cReplayStepper>(*source_, sink_, replayState().speed.load());
        running_.store(true);
        return;
    }
    if (source_) captureThread_ = std::thread([this] { captureThreadBody(); });
    if (helper_) {
        statsThread_ = std::thread([this] {
            nameThisThread(kStatsThreadName);
            runHelperFeedsLoop(helper_->ratesFd(), helper_->countersFd(), &helperCounters_, stop_);
        });
    }
    readerThread_ = std::thread([this] {
        nameThisThread(kIntelThreadName);
        reader_.run();
    });
    running_.store(true);
}

void cCaptureSession::captureThreadBody() {
    nameThisThread(kCaptureThreadName);
    if (paced_)
        runReplayLoop(*source_, sink_, stop_, loop_);
    else
        runLiveStreamLoop(*source_, sink_, stop_);
}

void cCaptureSession::stop() {
    running_.store(false);
    stop_.raise();
    reader_.requestStop();
    // The capture thread may wait on a quiet stream: ending the stream wakes it.
    if (source_) source_->endStream();
    if (captureThread_.joinable()) captureThread_.join();
    if (statsThread_.joinable()) statsThread_.join();
    if (readerThread_.joinable()) readerThread_.join();
    if (owners_) owners_->stop();  // after the capture thread, its only feeder
    if (helper_) {                 // its readers are gone: end it
        source_.reset();
        helper_->stop();
    }
}

bool cCaptureSession::advanceReplay(cReplayStepper::Clock::duration elapsed,
                                    const std::function<bool()>& interrupted) {
    return stepper_ && stepper_->releaseUntil(elapsed, interrupted);
}

bool cCaptureSession::kernelStats(KernelCaptureStats* stats) const {
    if (!running_.load()) return false;
    if (feed_) {
        *stats = KernelCaptureStats();
        stats->dropped = feed_->socketDrops.load();
        return true;
    }
    if (!helper_) return false;
    stats->received = helperCounters_.received.load();
    stats->dropped = helperCounters_.dropped.load();
    stats->interfaceDropped = helperCounters_.interfaceDropped.load();
    return true;
}

}  // namespace tessel
