#include "capture/replay_loop.h"

#include <poll.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "capture/capture_index.h"
#include "capture/frame_source.h"
#include "capture/intel_writer.h"
#include "capture/packet_dispatch.h"
#include "capture/replay_meter.h"
#include "capture/replay_pacer.h"
#include "core/hand_off.h"
#include "core/replay_state.h"
#include "platform/wake_signal.h"

namespace tessel {

namespace {

using Clock = cReplayPacer::Clock;

// A wait is cut into pieces of at most this, so that a change of speed or a pause is seen.
constexpr std::chrono::milliseconds kWaitPiece{50};
constexpr std::int64_t kSecondUs = 1'000'000;
// A seek rebuilds the scene from the frames of this much capture time before its moment: the
// hosts of the last minute and the connections opened in it stand, the rate graph is full.
constexpr std::int64_t kSeekLeadUs = 60 * kSecondUs;
// A seek's fast-forward looks at its stop between this many frames.
constexpr std::uint64_t kStopCheckEvery = 4096;

std::int64_t microsOf(const timeval& t) { return std::int64_t(t.tv_sec) * kSecondUs + t.tv_usec; }

// Waits for a quiet stream's next bytes, linking the writer's gathered records into place on
// time meanwhile. False when stopped.
bool waitForInput(const cFrameSource& source, PacketSink& sink, const WakeSignal& stop) {
    const int fd = source.waitFd();
    if (fd < 0) return true;
    for (;;) {
        struct pollfd p[2] = {};
        p[0].fd = fd;
        p[0].events = POLLIN;
        p[1].fd = stop.fd();
        p[1].events = POLLIN;
        auto wait = Clock::duration(kWaitPiece);
        if (sink.writer && sink.writer->hasPending())
            wait = std::min<Clock::duration>(wait, sink.writer->deadline() - Clock::now());
        const int ms = int(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
        const int r = ::poll(p, stop.fd() >= 0 ? 2 : 1, std::max(ms, 0));
        if (stop.raised()) return false;
        if (r > 0 && p[0].revents != 0) return true;  // data, or the writer's end
        if (sink.writer) sink.writer->flushIfDue(Clock::now());
    }
}

void waitForStop(const WakeSignal& stop) {
    while (!stop.raised()) {
        struct pollfd p {};
        p.fd = stop.fd();
        p.events = POLLIN;
        ::poll(&p, stop.fd() >= 0 ? 1 : 0, 250);
    }
}

}  // namespace

void runLiveStreamLoop(cFrameSource& source, PacketSink& sink, const WakeSignal& stop) {
    u_char* user = reinterpret_cast<u_char*>(&sink);
    while (!stop.raised()) {
        if (!waitForInput(source, sink, stop)) break;
        const pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        const int r = source.next(&header, &data);
        if (r == 1) {
            onPacket(user, header, data);
            continue;
        }
        if (r == 0) continue;  // a collector between datagrams
        std::fprintf(stderr, "capture: %s: the capture helper ended: %s\n", source.name().c_str(),
                     source.errorText().c_str());
        if (sink.channel) sink.channel->pushMessage("Capture stopped");
        break;
    }
    if (sink.writer) sink.writer->flush();
    waitForStop(stop);
}

namespace {

// What a paced frame's wait came to.
enum class Wait { Due, Stopped, Seek };

// Waits until the pacer's frame is due, or `stop`, or a seek request; keeps the pacer up to date
// with the user's speed and pause, and links the writer's gathered records into place on time.
Wait waitForFrame(cReplayPacer& pacer, PacketSink& sink, const WakeSignal& stop) {
    ReplayState& state = replayState();
    for (;;) {
        if (state.seekToUs.load() != ReplayState::kNoSeek) return Wait::Seek;
        const Clock::time_point now = Clock::now();
        pacer.setPaused(state.paused.load(), now);
        pacer.setSpeed(state.speed.load(), now);
        if (sink.writer) sink.writer->flushIfDue(now);
        const Clock::time_point due = pacer.due();
        if (now >= due) return Wait::Due;
        auto wait = std::min<Clock::duration>(due - now, kWaitPiece);
        if (sink.writer && sink.writer->hasPending())
            wait = std::min<Clock::duration>(wait, sink.writer->deadline() - now);
        struct pollfd p {};
        p.fd = stop.fd();
        p.events = POLLIN;
        const int ms = int(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
        ::poll(&p, stop.fd() >= 0 ? 1 : 0, std::max(ms, 0));
        if (stop.raised()) return Wait::Stopped;
    }
}

// After the end of a replay: waits for `stop` (false) or a seek request (true).
bool waitForStopOrSeek(const WakeSignal& stop) {
    const ReplayState& state = replayState();
    while (!stop.raised()) {
        if (state.seekToUs.load() != ReplayState::kNoSeek) return true;
        struct pollfd p {};
        p.fd = stop.fd();
        p.events = POLLIN;
        ::poll(&p, stop.fd() >= 0 ? 1 : 0, int(kWaitPiece.count()));
    }
    return false;
}

// The scene of a moment, gathered from the frames of the minute before it: the hosts seen (the
// ones the records would have added) and the connections still open, as the main thread's
// connection list would hold them (a start is ignored while the pair is listed in either
// direction; an end removes exactly its direction).
class cSeekScene {
  public:
    void see(const DecodedFrame& d) {
        if (d.outcome != FrameOutcome::Packet) return;
        const TrafficRecord& r = d.record;
        if (d.recorded && r.src != r.dst && (r.tcp == 1 || r.udp == 1 || r.icmp == 1)) {
            seeHost(r.src);
            seeHost(r.dst);
        }
        const std::string key = keyOf(r.src, r.dst, r.srcport, r.dstport);
        if (d.startsBeam && !open_.count(key) &&
            !open_.count(keyOf(r.dst, r.src, r.dstport, r.srcport))) {
            open_.emplace(key, beams_.size());
            beams_.push_back(BeamEvent{true, r.src, r.dst, r.srcport, r.dstport});
        }
        if (d.endsBeam) {
            auto it = open_.find(key);
            if (it != open_.end()) {
                beams_[it->second].start = false;  // closed again
                open_.erase(it);
            }
        }
    }

    SeekReset take(std::int64_t atUs) {
        SeekReset reset;
        reset.atUs = atUs;
        // The most recently seen hosts when there are more than the list holds, in order of
        // first sight.
        std::vector<std::pair<std::uint64_t, std::size_t>> recent;  // (last seen, first seen)
        for (std::size_t i = 0; i < hosts_.size(); ++i) recent.emplace_back(lastSeen_[i], i);
        if (recent.size() > SeekReset::kHostLimit) {
            std::sort(recent.begin(), recent.end(), std::greater<>());
            recent.resize(SeekReset::kHostLimit);
            std::sort(recent.begin(), recent.end(),
                      [](const auto& a, const auto& b) { return a.second < b.second; });
        }
        for (const auto& h : recent) reset.hosts.push_back(hosts_[h.second]);
        for (BeamEvent& b : beams_)
            if (b.start) reset.openBeams.push_back(std::move(b));
        if (reset.openBeams.size() > SeekReset::kBeamLimit)
            reset.openBeams.erase(reset.openBeams.begin(),
                                  reset.openBeams.end() - std::ptrdiff_t(SeekReset::kBeamLimit));
        return reset;
    }

  private:
    static std::string keyOf(const std::string& a, const std::string& b, int pa, int pb) {
        return a + '|' + b + '|' + std::to_string(pa) + '|' + std::to_string(pb);
    }
    void seeHost(const std::string& address) {
        auto [it, added] = hostIndex_.emplace(address, hosts_.size());
        if (added) {
            hosts_.push_back(address);
            lastSeen_.push_back(0);
        }
        lastSeen_[it->second] = ++seen_;
    }

    std::vector<std::string> hosts_;
    std::vector<std::uint64_t> lastSeen_;
    std::unordered_map<std::string, std::size_t> hostIndex_;
    std::uint64_t seen_ = 0;
    std::vector<BeamEvent> beams_;  // every start taken, in order; start false once closed
    std::unordered_map<std::string, std::size_t> open_;
};

// A seek's result: whether it went, and the read that ended its fast-forward (the first frame at
// or after the moment, the end, or an error), which the loop takes as its next read.
struct SeekOutcome {
    bool done = false;
    bool stopped = false;
    int read = PCAP_ERROR_BREAK;
};

// Goes to `targetUs` (kept within what the index holds so far): from an index point a minute
// before it, the frames are read without pacing and without records (they make no sprites),
// feeding the rate history and the scene of the moment, which goes to the main thread as one
// SeekReset; the frame at the moment is left in *header and *data.
SeekOutcome seekReplay(cFrameSource& source, std::int64_t targetUs, PacketSink& sink,
                       cCaptureRateMeter& rate, const WakeSignal& stop, const pcap_pkthdr** header,
                       const u_char** data) {
    SeekOutcome out;
    const cCaptureIndex* index = source.index();
    std::int64_t firstUs = 0, lastUs = 0;
    if (!index || !index->span(&firstUs, &lastUs)) {
        if (sink.channel)
            sink.channel->pushMessage(index ? "Cannot seek yet: the file is being indexed"
                                            : "Cannot seek: replaying standard input");
        return out;
    }
    targetUs = std::clamp(targetUs, firstUs, lastUs);
    cCaptureIndex::Entry from;
    index->entryBefore(targetUs - kSeekLeadUs, &from);
    if (sink.writer) sink.writer->flush();
    out.done = true;
    if (!source.seekToOffset(from.offset)) {
        out.read = PCAP_ERROR;
        return out;
    }
    resetRateHistory();
    rate.restart();
    cSeekScene scene;
    for (std::uint64_t n = 0;; ++n) {
        if (n % kStopCheckEvery == 0 && stop.raised()) {
            out.stopped = true;
            return out;
        }
        out.read = source.next(header, data);
        if (out.read != 1) break;
        const std::int64_t at = microsOf((*header)->ts);
        if (at >= targetUs) break;
        rate.add(at, (*header)->len);
        scene.see(decodeFrame(sink.linkType, *data, (*header)->caplen));
    }
    if (sink.channel) sink.channel->pushSeek(scene.take(targetUs));
    ReplayState& state = replayState();
    state.captureClockUs.store(targetUs);
    state.progressPermille.store(source.progressPermille());
    return out;
}

}  // namespace

void runReplayLoop(cFrameSource& source, PacketSink& sink, const WakeSignal& stop, bool loop) {
    ReplayState& state = replayState();
    cReplayPacer pacer;
    cCaptureRateMeter rate;
    u_char* user = reinterpret_cast<u_char*>(&sink);
    bool ended = false;
    int held = 0;  // a read a seek made, taken instead of the next one
    const pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    while (!stop.raised()) {
        const std::int64_t seek = state.seekToUs.exchange(ReplayState::kNoSeek);
        if (seek != ReplayState::kNoSeek) {
            const SeekOutcome went = seekReplay(source, seek, sink, rate, stop, &header, &data);
            if (went.stopped) break;
            if (went.done) {
                held = went.read;
                pacer.restart();
                ended = false;
                state.finished.store(false);
            }
        }
        if (ended) {
            if (!waitForStopOrSeek(stop)) break;
            continue;
        }
        int r = held;
        if (held != 0) {
            held = 0;
        } else {
            if (!waitForInput(source, sink, stop)) break;
            r = source.next(&header, &data);
        }
        if (r == 1) {
            const std::int64_t at = microsOf(header->ts);
            const std::int64_t skipped = pacer.admit(at, Clock::now());
            if (skipped > 0) {
                rate.restart();
                if (sink.channel) sink.channel->pushMessage(skippedTimeMessage(skipped));
            }
            const Wait wait = waitForFrame(pacer, sink, stop);
            if (wait == Wait::Stopped) break;
            if (wait == Wait::Seek) continue;  // the seek takes over; this frame is not played
            rate.add(at, header->len);
            onPacket(user, header, data);
            state.captureClockUs.store(at);
            state.progressPermille.store(source.progressPermille());
            continue;
        }
        if (r == PCAP_ERROR_BREAK && loop) {
            std::string error;
            if (source.restart(&error)) {
                pacer.restart();
                rate.restart();
                continue;
            }
        }
        if (r == PCAP_ERROR) {
            std::fprintf(stderr, "replay: %s: %s\n", source.name().c_str(),
                         source.errorText().c_str());
            if (sink.channel) sink.channel->pushMessage("Capture cut short");
        }
        // The end: the scene stays until the user quits or seeks.
        ended = true;
        if (sink.writer) sink.writer->flush();
        if (!source.isStream()) state.progressPermille.store(1000);
        state.finished.store(true);
        if (sink.channel) sink.channel->pushMessage("Replay finished");
    }
    if (sink.writer) sink.writer->flush();
}

}  // namespace tessel
