#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "capture/feed_frame.h"
#include "capture/flow_record.h"
#include "capture/netflow_decoder.h"

namespace tessel {

// Turns flow records into frames spread over time (capture/feed_frame.h), so that a flow looks
// as its packets would have:
//  - one frame per packet, at most kMaxFramesPerFlow; their weights add up to the flow's
//    packets x its sampling interval; each as long on the wire as the flow's average packet;
//  - spread evenly from when the record arrives over the flow's duration (at most
//    Options::maxSpreadMs);
//  - TCP: the first frame carries SYN when the flow's flags have it (a beam opens), the last
//    FIN or RST when they have them (the beam closes);
//  - a beam opened by SYN whose flow then goes silent (no record of the same addresses and
//    ports) for longer than its exporter's active timeout is closed by a frame of weight 0: a
//    bare RST segment, which the frame decoder does not record. The timeout is
//    Options::flowTimeoutMs when set, else learned per exporter from the gaps between records
//    of one flow, else Options::defaultTimeoutMs.
// Memory stays bounded: at most maxScheduled frames wait and maxOpenBeams beams are followed;
// beyond, the frames are counted as dropped. A record that finds room for fewer frames than it
// wants gets that many, still weighing all its packets and still opening and closing its beam.
// A beam beyond maxOpenBeams makes room by closing the followed beam due to time out first, at
// once, by its RST frame. Timeouts are learned from the records of TCP flows only (the beams
// they serve), for a few thousand exporters. One thread; time is passed in (Unix
// microseconds), so tests drive it.
class cFlowPlayer {
  public:
    static constexpr unsigned kMaxFramesPerFlow = 16;
    struct Options {
        std::int64_t flowTimeoutMs = 0;  // 0: learned
        std::int64_t defaultTimeoutMs = 120'000;
        std::int64_t maxSpreadMs = 60'000;
        std::size_t maxScheduled = 65'536;
        std::size_t maxOpenBeams = 16'384;
    };
    struct Totals {
        std::uint64_t frames = 0;    // released
        std::uint64_t dropped = 0;   // found no room
        std::uint64_t timedOut = 0;  // beams closed by silence
    };

    explicit cFlowPlayer(const Options& options);
    ~cFlowPlayer();
    cFlowPlayer(const cFlowPlayer&) = delete;
    cFlowPlayer& operator=(const cFlowPlayer&) = delete;

    // A record from `from`, arrived at `nowUs`.
    void add(const FlowExporter& from, const FlowRecord& record, std::int64_t nowUs);
    // The next frame due at `nowUs` (earliest first); false when none is.
    bool next(std::int64_t nowUs, FeedFrame* out);
    // When the next frame (or beam time-out) falls due; INT64_MAX when none will.
    std::int64_t nextDueUs() const;
    const Totals& totals() const;
    std::size_t scheduled() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace tessel
