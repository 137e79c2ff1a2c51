#pragma once
#include <pcap/pcap.h>

#include <functional>
#include <vector>

#include "capture/replay_meter.h"
#include "capture/replay_pacer.h"
#include "core/traffic_record.h"

namespace tessel {

class cFrameSource;
struct PacketSink;

// A replay released by the caller's clock instead of the wall clock, for an offline recording:
// the main thread steps it once per video frame, so a file gives the same frames at the same
// video times on every run and every machine. Each frame is placed on the replay's timeline as
// the paced replay places it (cReplayPacer: the speed, long gaps skipped); the rate history, the
// HUD's progress and the "Skipped" messages are kept as the replay thread keeps them. Recorded
// packets go into the channel in capture order, straight from memory: the intel folder's files
// would come back in the order the folder lists them. The thread that owns it only.
class cReplayStepper {
  public:
    using Clock = cReplayPacer::Clock;

    // `sink` must keep no intel writer (its records are this stepper's); `speed` as the replay's.
    cReplayStepper(cFrameSource& source, PacketSink& sink, double speed);
    cReplayStepper(const cReplayStepper&) = delete;
    cReplayStepper& operator=(const cReplayStepper&) = delete;

    // Releases, in capture order, every frame due within `elapsed` of the first frame's release
    // (the timeline of a replay that a viewer would watch). A quiet stream is waited for (a
    // recording has nothing better to do), asking `interrupted` between waits. False once the
    // source has ended, broke or was interrupted: nothing more will come.
    bool releaseUntil(Clock::duration elapsed, const std::function<bool()>& interrupted);

  private:
    bool fetch(const std::function<bool()>& interrupted);
    void release();

    cFrameSource& source_;
    PacketSink& sink_;
    cReplayPacer pacer_;
    cCaptureRateMeter rate_;
    std::vector<TrafficRecord> records_;
    // The frame read but not yet due (valid until the source's next read).
    const pcap_pkthdr* pending_ = nullptr;
    const u_char* pendingData_ = nullptr;
    bool ended_ = false;
};

}  // namespace tessel
