#include "capture/replay_loop.h"

#include <poll.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

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

std::int64_t microsOf(const timeval& t) { return std::int64_t(t.tv_sec) * kSecondUs + t.tv_usec; }

// Waits until `due`, or `stop`; keeps the pacer up to date with the user's speed and pause, and
// links the writer's gathered records into place on time. False when stopped.
bool waitForFrame(cReplayPacer& pacer, PacketSink& sink, const WakeSignal& stop) {
    ReplayState& state = replayState();
    for (;;) {
        const Clock::time_point now = Clock::now();
        pacer.setPaused(state.paused.load(), now);
        pacer.setSpeed(state.speed.load(), now);
        if (sink.writer) sink.writer->flushIfDue(now);
        const Clock::time_point due = pacer.due();
        if (now >= due) return true;
        auto wait = std::min<Clock::duration>(due - now, kWaitPiece);
        if (sink.writer && sink.writer->hasPending())
            wait = std::min<Clock::duration>(wait, sink.writer->deadline() - now);
        struct pollfd p {};
        p.fd = stop.fd();
        p.events = POLLIN;
        const int ms = int(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
        ::poll(&p, stop.fd() >= 0 ? 1 : 0, std::max(ms, 0));
        if (stop.raised()) return false;
    }
}

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

}  // namespace

namespace {

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

void runReplayLoop(cFrameSource& source, PacketSink& sink, const WakeSignal& stop, bool loop) {
    ReplayState& state = replayState();
    cReplayPacer pacer;
    cCaptureRateMeter rate;
    u_char* user = reinterpret_cast<u_char*>(&sink);
    bool ended = false;
    while (!stop.raised() && !ended) {
        if (!waitForInput(source, sink, stop)) break;
        const pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        const int r = source.next(&header, &data);
        if (r == 1) {
            const std::int64_t at = microsOf(header->ts);
            const std::int64_t skipped = pacer.admit(at, Clock::now());
            if (skipped > 0) {
                rate.restart();
                if (sink.channel) sink.channel->pushMessage(skippedTimeMessage(skipped));
            }
            if (!waitForFrame(pacer, sink, stop)) break;
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
        ended = true;
    }
    if (sink.writer) sink.writer->flush();
    if (!ended) return;
    if (!source.isStream()) state.progressPermille.store(1000);
    state.finished.store(true);
    if (sink.channel) sink.channel->pushMessage("Replay finished");
    // The scene stays until the user quits; nothing more to do but wait to be stopped.
    waitForStop(stop);
}

}  // namespace tessel
