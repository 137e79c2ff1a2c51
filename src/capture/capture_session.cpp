#include "capture/capture_session.h"

#include "capture/replay_loop.h"
#include "platform/process.h"

namespace tessel {

namespace {
std::mutex g_currentLock;
const cCaptureSession* g_current = nullptr;
}  // namespace

cCaptureSession::cCaptureSession(pcap_t* captureHandle, HandOffChannel& channel, std::string folder)
    : capture_(captureHandle), channel_(channel), writer_(folder), reader_(folder, channel) {
    sink_.linkType = capture_ ? pcap_datalink(capture_) : DLT_EN10MB;
    sink_.channel = &channel_;
    sink_.writer = &writer_;
}

cCaptureSession::cCaptureSession(std::unique_ptr<cReplaySource> source, bool loop,
                                 HandOffChannel& channel, std::string folder)
    : replay_(std::move(source)),
      loop_(loop),
      channel_(channel),
      writer_(folder),
      reader_(folder, channel) {
    sink_.linkType = replay_ ? replay_->linkType() : DLT_EN10MB;
    sink_.channel = &channel_;
    sink_.writer = &writer_;
}

cCaptureSession::cCaptureSession(std::unique_ptr<cHelperCapture> helper, HandOffChannel& channel,
                                 std::string folder)
    : cCaptureSession(helper->takeFrames(), false, channel, std::move(folder)) {
    helper_ = std::move(helper);
}

cCaptureSession::~cCaptureSession() { stop(); }

void cCaptureSession::start() {
    if (capture_ || replay_) captureThread_ = std::thread([this] { captureThreadBody(); });
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
    std::lock_guard<std::mutex> guard(g_currentLock);
    g_current = this;
}

void cCaptureSession::captureThreadBody() {
    nameThisThread(kCaptureThreadName);
    if (replay_ && helper_) {
        runLiveStreamLoop(*replay_, sink_, stop_);
        return;
    }
    if (replay_) {
        runReplayLoop(*replay_, sink_, stop_, loop_);
        return;
    }
    runCaptureLoop(capture_, sink_, stop_);
    // The loop ends on a stop or a failed handle; either way this feed is over.
    std::lock_guard<std::mutex> guard(closeLock_);
    pcap_close(capture_);
    capture_ = nullptr;
}

void cCaptureSession::stop() {
    {
        std::lock_guard<std::mutex> guard(g_currentLock);
        if (g_current == this) g_current = nullptr;
    }
    stop_.raise();
    {
        std::lock_guard<std::mutex> guard(closeLock_);
        if (capture_) pcap_breakloop(capture_);
    }
    reader_.requestStop();
    // A replay thread may wait on a quiet stream: ending the stream wakes it.
    if (replay_) replay_->endStream();
    if (captureThread_.joinable()) captureThread_.join();
    if (statsThread_.joinable()) statsThread_.join();
    if (readerThread_.joinable()) readerThread_.join();
    if (helper_) {  // its readers are gone: end it
        replay_.reset();
        helper_->stop();
    }
    std::lock_guard<std::mutex> guard(closeLock_);
    if (capture_) {  // never started
        writer_.flush();
        pcap_close(capture_);
        capture_ = nullptr;
    }
}

bool cCaptureSession::kernelStats(KernelCaptureStats* stats) const {
    if (helper_) {  // as the helper last reported them; 0 until its first report
        stats->received = helperCounters_.received.load();
        stats->dropped = helperCounters_.dropped.load();
        stats->interfaceDropped = helperCounters_.interfaceDropped.load();
        return true;
    }
    std::lock_guard<std::mutex> guard(closeLock_);
    // On Linux pcap_stats reads the socket's counters and touches nothing the capture loop uses.
    struct pcap_stat s {};
    if (!capture_ || pcap_stats(capture_, &s) != 0) return false;
    stats->received = s.ps_recv;
    stats->dropped = s.ps_drop;
    stats->interfaceDropped = s.ps_ifdrop;
    return true;
}

bool captureKernelStats(KernelCaptureStats* stats) {
    std::lock_guard<std::mutex> guard(g_currentLock);
    return g_current && g_current->kernelStats(stats);
}

}  // namespace tessel
