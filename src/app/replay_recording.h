#pragma once
#include <irrlicht.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "app/video_recorder.h"

namespace tessel {

class cCaptureSession;

// What --record asks for.
struct RecordingOptions {
    std::string path;
    int fps = 30;
    int width = 0, height = 0;  // even
};

// An offline recording of a replay: the video is the same on every machine and is made as fast
// as the machine draws. The engine's clock stands still and is set to each video frame's time,
// so every animation (cubes, sprites, fades) follows the video's clock; before the frame's
// hand-off the replay's frames due by then are released on this thread and handed over whole
// (this is the one place the main thread waits on a replay's input, which only an offline
// recording may do); the drawn frame goes to the encoder. SIGINT and SIGTERM end it after the
// frame under way, with the file finished. Main thread.
class cReplayRecording {
  public:
    // Exit statuses of a recording run besides 0 (the whole replay recorded).
    static constexpr int kStoppedEarly = 3;  // a signal, Esc or the window closed it first
    static constexpr int kFailed = 1;        // no picture could be had, or the file not written

    // `session` is a stepped replay's (CaptureOptions::stepped); both outlive the recording.
    cReplayRecording(irr::IrrlichtDevice* device, cCaptureSession& session,
                     RecordingOptions options);
    ~cReplayRecording();
    cReplayRecording(const cReplayRecording&) = delete;
    cReplayRecording& operator=(const cReplayRecording&) = delete;

    // Stops the engine's clock, opens the video and takes over SIGINT and SIGTERM. False with
    // *error when the video cannot be made.
    bool start(std::string* error);
    // Before the frame's hand-off: the engine's clock and the replay stand at this frame's time.
    void beginFrame();
    // After the GUI, before endScene: the drawn frame goes into the video.
    void takeFrame(irr::video::IVideoDriver* driver);
    // The replay's end was drawn, a frame failed, or a signal came: no more frames.
    bool done() const;
    // Finishes the file and ends the progress line; gives the run's exit status.
    int finish();
    // The engine's clock at this frame, for what the frame shows that goes by time.
    std::chrono::milliseconds frameTime() const { return std::chrono::milliseconds(frameMs_); }

  private:
    void showProgress(bool last);

    irr::IrrlichtDevice* device_;
    cCaptureSession& session_;
    RecordingOptions options_;
    cVideoRecorder video_;
    std::int64_t frame_ = 0;  // the frame under way (begun, not yet taken)
    irr::u32 frameMs_ = 0;
    bool replayEnded_ = false;
    bool lastTaken_ = false;
    bool failed_ = false;
    std::string error_;
    std::chrono::steady_clock::time_point started_{}, shown_{};
};

}  // namespace tessel
