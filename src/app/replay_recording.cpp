#include "app/replay_recording.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "capture/capture_session.h"
#include "core/irr_ptr.h"
#include "core/replay_state.h"
#include "ui/frame_requests.h"

namespace tessel {

using namespace irr;

namespace {

// The signal handlers' flag: the one piece of state a handler can reach.
std::atomic<int> g_stopRecording{0};

void onStopSignal(int) { g_stopRecording.store(1); }

void installStopSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool stopAsked() { return g_stopRecording.load() != 0; }

// The progress line is redrawn at most this often.
constexpr std::chrono::milliseconds kProgressPeriod{250};

}  // namespace

cReplayRecording::cReplayRecording(IrrlichtDevice* device, cCaptureSession& session,
                                   RecordingOptions options)
    : device_(device), session_(session), options_(std::move(options)) {}

cReplayRecording::~cReplayRecording() = default;

bool cReplayRecording::start(std::string* error) {
    ITimer* timer = device_->getTimer();
    if (!timer->isStopped()) timer->stop();
    timer->setTime(0);
    installStopSignals();
    if (!video_.open(options_.path, options_.width, options_.height, options_.fps, error))
        return false;
    started_ = shown_ = std::chrono::steady_clock::now();
    return true;
}

void cReplayRecording::beginFrame() {
    const std::int64_t fps = options_.fps;
    frameMs_ = u32((frame_ * 1000 + fps / 2) / fps);
    device_->getTimer()->setTime(frameMs_);
    const auto elapsed = std::chrono::nanoseconds(frame_ * 1'000'000'000 / fps);
    if (!replayEnded_ && !session_.advanceReplay(elapsed, stopAsked)) replayEnded_ = true;
}

void cReplayRecording::takeFrame(video::IVideoDriver* driver) {
    if (failed_) return;
    IrrPtr<video::IImage> shot = captureFrame(driver);
    // The encoder takes the software driver's 16-bit pixels as they are (a copy into 32 bits
    // would cost as much as drawing); anything else it does not read is converted first.
    const video::ECOLOR_FORMAT format = shot ? shot->getColorFormat() : video::ECF_A8R8G8B8;
    const PixelLayout layout = format == video::ECF_A1R5G5B5 ? PixelLayout::Argb1555
                               : format == video::ECF_R8G8B8 ? PixelLayout::Rgb24
                                                             : PixelLayout::Bgra32;
    if (shot && layout == PixelLayout::Bgra32 && format != video::ECF_A8R8G8B8) {
        IrrPtr<video::IImage> converted(
            driver->createImage(video::ECF_A8R8G8B8, shot->getDimension()));
        if (converted) shot->copyTo(converted.get());
        shot = std::move(converted);
    }
    if (!shot) {
        failed_ = true;
        error_ = "the video driver gives no pictures of its frames";
        return;
    }
    const core::dimension2d<u32> size = shot->getDimension();
    const auto* pixels = static_cast<const unsigned char*>(shot->lock());
    const bool ok = pixels && video_.addFrame(pixels, layout, int(size.Width), int(size.Height),
                                              int(shot->getPitch()), &error_);
    shot->unlock();
    if (!ok) {
        failed_ = true;
        return;
    }
    ++frame_;
    if (replayEnded_) lastTaken_ = true;
    showProgress(false);
}

bool cReplayRecording::done() const { return lastTaken_ || failed_ || stopAsked(); }

void cReplayRecording::showProgress(bool last) {
    const auto now = std::chrono::steady_clock::now();
    if (!last && now - shown_ < kProgressPeriod) return;
    shown_ = now;
    const double wall = std::chrono::duration<double>(now - started_).count();
    const double video = double(video_.frames()) / options_.fps;
    const int permille = replayState().progressPermille.load();
    char line[160];
    if (permille >= 0)
        std::snprintf(line, sizeof line, "\rrecording %3d%%  %.1f s of video  %.1f fps ",
                      permille / 10, video, wall > 0 ? video_.frames() / wall : 0.0);
    else
        std::snprintf(line, sizeof line, "\rrecording  %.1f s of video  %.1f fps ", video,
                      wall > 0 ? video_.frames() / wall : 0.0);
    std::fputs(line, stderr);
    if (last) std::fputc('\n', stderr);
    std::fflush(stderr);
}

int cReplayRecording::finish() {
    showProgress(true);
    std::string error;
    const bool written = video_.finish(&error);
    if (failed_ || !written) {
        std::fprintf(stderr, "tessel: --record: %s\n", (failed_ ? error_ : error).c_str());
        return kFailed;
    }
    std::fprintf(stderr, "tessel: %s: %lld frames at %d fps%s\n", options_.path.c_str(),
                 static_cast<long long>(video_.frames()), options_.fps,
                 lastTaken_ ? "" : ", stopped before the end of the replay");
    return lastTaken_ ? 0 : kStoppedEarly;
}

}  // namespace tessel
