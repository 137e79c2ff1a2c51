#pragma once
#include <memory>
#include <string>

#include "capture/frame_source.h"
#include "platform/child_process.h"

namespace tessel {

// tessel-capture, the small program that alone holds capture rights: where it is
// ($TESSEL_CAPTURE_HELPER, else beside this program).
std::string captureHelperPath();

// How starting the helper on an adapter went; its exit statuses, one per failure.
enum class HelperResult { Ok, NoAdapter, NoRights, BadFilter, Failed };

// Asks the helper (mode "check") whether `nic` can be opened for capture with `filter`; *message
// holds its line when not.
HelperResult checkAdapterWithHelper(const std::string& nic, const std::string& filter,
                                    std::string* message);

// A live capture through two helpers (platform/helper_protocol.h): one writes the frames (a pcap
// stream, and the kernel's counters on a second pipe), the other the rate samples. Main thread,
// at start-up; the session then owns it (its frames as the session's source).
class cHelperCapture {
  public:
    cHelperCapture() = default;
    ~cHelperCapture();
    cHelperCapture(const cHelperCapture&) = delete;
    cHelperCapture& operator=(const cHelperCapture&) = delete;

    // Starts both and waits (bounded) until the frames arrive or a helper ends. On failure
    // *message holds the helper's line.
    HelperResult start(const std::string& nic, const std::string& filter, std::string* message);
    // The frames helper's stream, a live source named after the adapter (once; it owns the pipe
    // from then on).
    std::unique_ptr<cFrameSource> takeFrames() { return std::move(frames_); }
    int ratesFd() const { return rates_.out; }
    int countersFd() const { return framesChild_.extra; }
    // Ends both helpers and reaps them. Their readers must have stopped.
    void stop();

  private:
    ChildProcess framesChild_, rates_;
    std::unique_ptr<cFrameSource> frames_;
};

}  // namespace tessel
