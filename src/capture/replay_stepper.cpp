#include "capture/replay_stepper.h"

#include <poll.h>

#include <cstdint>
#include <cstdio>

#include "capture/frame_source.h"
#include "capture/packet_dispatch.h"
#include "core/hand_off.h"
#include "core/replay_state.h"

namespace tessel {

namespace {

// The fixed origin of the stepped timeline: due times are measured from here.
constexpr cReplayStepper::Clock::time_point kOrigin{};
constexpr int kQuietPollMs = 100;

std::int64_t microsOf(const timeval& t) { return std::int64_t(t.tv_sec) * 1'000'000 + t.tv_usec; }

}  // namespace

cReplayStepper::cReplayStepper(cFrameSource& source, PacketSink& sink, double speed)
    : source_(source), sink_(sink) {
    pacer_.setSpeed(speed, kOrigin);
    sink_.records = &records_;
}

bool cReplayStepper::fetch(const std::function<bool()>& interrupted) {
    for (;;) {
        // A quiet stream is waited for in pieces, so an interruption is seen.
        if (const int fd = source_.waitFd(); fd >= 0) {
            struct pollfd p {};
            p.fd = fd;
            p.events = POLLIN;
            if (::poll(&p, 1, kQuietPollMs) <= 0) {
                if (interrupted()) return false;
                continue;
            }
        }
        const pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        const int r = source_.next(&header, &data);
        if (r == 1) {
            pending_ = header;
            pendingData_ = data;
            const std::int64_t skipped = pacer_.admit(microsOf(header->ts), kOrigin);
            if (skipped > 0) {
                rate_.restart();
                if (sink_.channel) sink_.channel->pushMessage(skippedTimeMessage(skipped));
            }
            return true;
        }
        if (r == 0) {
            if (interrupted()) return false;
            continue;
        }
        if (r == PCAP_ERROR) {
            std::fprintf(stderr, "replay: %s: %s\n", source_.name().c_str(),
                         source_.errorText().c_str());
            if (sink_.channel) sink_.channel->pushMessage("Capture cut short");
        }
        return false;
    }
}

void cReplayStepper::release() {
    ReplayState& state = replayState();
    const std::int64_t at = microsOf(pending_->ts);
    rate_.add(at, pending_->len);
    onPacket(reinterpret_cast<u_char*>(&sink_), pending_, pendingData_);
    state.captureClockUs.store(at);
    state.progressPermille.store(source_.progressPermille());
    pending_ = nullptr;
    pendingData_ = nullptr;
}

bool cReplayStepper::releaseUntil(Clock::duration elapsed,
                                  const std::function<bool()>& interrupted) {
    while (!ended_) {
        if (!pending_ && !fetch(interrupted)) {
            ended_ = true;
            ReplayState& state = replayState();
            if (!source_.isStream()) state.progressPermille.store(1000);
            state.finished.store(true);
            break;
        }
        if (pacer_.due() > kOrigin + elapsed) break;
        release();
    }
    if (!records_.empty() && sink_.channel) {
        sink_.channel->pushRecords(std::move(records_));
        records_.clear();
    }
    return !ended_;
}

}  // namespace tessel
