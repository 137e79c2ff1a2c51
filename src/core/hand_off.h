#pragma once
// The one way work reaches the main thread from the worker threads: a bounded channel of plain
// values that the render loop drains at one point of its frame. The run (runTessel) owns one and
// hands it to the capture session and the render loop. Any thread may push; only the
// main thread drains. Each kind of value says what happens when its part of the channel is full.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/traffic_record.h"

namespace tessel {

class cLog;

// One TCP connection event, in capture order.
struct BeamEvent {
    bool start = false;  // SYN; false: FIN or RST
    std::string source;
    std::string destination;
    int sourcePort = 0;
    int destinationPort = 0;
};

// A replay went to another moment: the scene starts again from what was there at `atUs`. The
// hosts seen in the minute before it (in order of first sight) and the connections open at it (in
// order of opening), each bounded.
struct SeekReset {
    std::int64_t atUs = 0;
    std::vector<std::string> hosts;
    std::vector<BeamEvent> openBeams;  // starts only
    static constexpr std::size_t kHostLimit = 999;
    static constexpr std::size_t kBeamLimit = 4096;
};

// What one drain hands the main thread.
struct HandOffBatch {
    std::optional<SeekReset> seek;       // applied first: every beam below came after it
    std::vector<BeamEvent> beams;        // in capture order
    std::vector<std::string> messages;   // oldest first
    std::vector<TrafficRecord> records;  // in file order; only when records were asked for
    bool intelFolderMissing = false;     // the intel reader could not list its folder
};

class HandOffChannel {
  public:
    // If the main loop stalls (a modal box, a long frame) beam events must not pile up without
    // bound. Past kBeamStartLimit waiting events new starts are dropped (a lost beam); ends are
    // still taken up to kBeamHardLimit, because a dropped end would leave a beam standing for
    // the rest of the run. Beyond that everything is dropped. Drops are counted.
    static constexpr std::size_t kBeamStartLimit = 100000;
    static constexpr std::size_t kBeamHardLimit = 200000;
    // Only the newest messages can still be seen once applied: the list shows far fewer lines.
    static constexpr std::size_t kMessageLimit = 64;
    // Records are taken every 26 frames. The intel reader stops reading while this many wait, so
    // the folder stays the buffer and nothing is dropped.
    static constexpr std::size_t kRecordLimit = 65536;

    void pushBeam(BeamEvent event);
    void pushMessage(std::string text);
    // A replay's seek: the beam events and records still waiting belong to the moment left and
    // are dropped; a newer seek replaces one not yet drained. Messages stay.
    void pushSeek(SeekReset reset);

    // The packet trace, switched by the user on the main thread: while it is on, the capture
    // thread writes a line per packet to the trace log (when one is set) and posts it as a
    // message.
    void setTracing(bool on) { tracing_.store(on, std::memory_order_relaxed); }
    bool tracing() const { return tracing_.load(std::memory_order_relaxed); }
    // The event log the trace goes to; set on the main thread while no worker runs (before the
    // capture starts and after it stopped). Null: lines only go to the message list.
    void setTraceLog(cLog* log) { traceLog_ = log; }
    // One trace line: into the log and the message list (any thread).
    void pushTrace(std::string line);

    // Intel reader: room left before the record limit (0 when full).
    std::size_t recordRoom() const;
    // Takes every record; the limit is the reader's to respect (one file may overshoot it).
    void pushRecords(std::vector<TrafficRecord>&& records);
    void reportIntelFolderMissing();

    // Main thread, once per frame. Records are only taken when `withRecords` is set.
    HandOffBatch drain(bool withRecords);

    std::uint64_t droppedBeamEvents() const;
    std::uint64_t droppedMessages() const;
    std::size_t waitingRecords() const;

  private:
    mutable std::mutex lock_;
    std::vector<BeamEvent> beams_;
    std::vector<std::string> messages_;
    std::vector<TrafficRecord> records_;
    std::optional<SeekReset> seek_;
    bool intelFolderMissing_ = false;
    std::atomic<bool> tracing_{false};
    cLog* traceLog_ = nullptr;
    std::uint64_t droppedBeams_ = 0;
    std::uint64_t droppedMessages_ = 0;
};

}  // namespace tessel
