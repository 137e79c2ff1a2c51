#include "capture/stats_loop.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "capture/frame_reader.h"
#include "capture/rate_history.h"
#include "platform/wake_signal.h"

namespace tessel {

namespace {

// Without a wake descriptor the stop flag is looked at at least this often.
constexpr int kStopCheckMs = 250;
// Immediate mode makes the handle readable for every frame; reading it at most this often counts
// the same bytes with one wake-up per read instead of one per frame (10,000 a second in a
// flood). The ring holds what arrives meanwhile, and each sample drains it first.
constexpr std::chrono::milliseconds kReadPause{50};

struct CountContext {
    std::uint64_t packets = 0;
    std::uint64_t bytes = 0;
};

void countFrame(u_char* user, const struct pcap_pkthdr* header, const u_char*) {
    CountContext* c = reinterpret_cast<CountContext*>(user);
    c->packets += 1;
    c->bytes += header->len;
}

void putLe64(std::uint64_t v, u_char* out) {
    for (int i = 0; i < 8; ++i) out[i] = u_char(v >> (8 * i));
}

}  // namespace

bool statsSampleRate(StatsState* state, const timeval& when, std::uint64_t bytes,
                     std::int64_t* bitsPerSecond) {
    bool had = state->havePrevious;
    timeval prev = state->previous;
    state->previous = when;
    state->havePrevious = true;
    if (!had) return false;
    // Microseconds since the previous sample, as a 32-bit unsigned number.
    std::uint32_t delay =
        std::uint32_t((std::uint32_t(when.tv_sec) - std::uint32_t(prev.tv_sec)) * 1000000u -
                      std::uint32_t(prev.tv_usec) + std::uint32_t(when.tv_usec));
    if (delay == 0) return false;
    *bitsPerSecond = std::int64_t(bytes * 8000000ull / delay);
    return true;
}

void onStatsSample(u_char* user, const struct pcap_pkthdr* header, const u_char* data) {
    if (!user || !header || !data) return;
    FrameReader sample(data, header->caplen);
    std::uint64_t bytes = 0;
    if (!sample.le64(8, &bytes)) return;
    std::int64_t bps = 0;
    if (statsSampleRate(reinterpret_cast<StatsState*>(user), header->ts, bytes, &bps))
        appendRateSample(bps);
}

long runStatsLoop(pcap_t* handle, pcap_handler handler, u_char* user, const WakeSignal* stop,
                  int intervalMs) {
    using clock = std::chrono::steady_clock;
    const int fd = pcap_get_selectable_fd(handle);
    if (fd < 0) return 0;
    const auto interval = std::chrono::milliseconds(intervalMs);
    auto deadline = clock::now() + interval;
    auto nextRead = clock::time_point{};
    CountContext counted;
    u_char* countedUser = reinterpret_cast<u_char*>(&counted);
    long samples = 0;
    while (!(stop && stop->raised())) {
        auto now = clock::now();
        if (now >= deadline) {
            // What waits in the ring arrived in this interval.
            int n = pcap_dispatch(handle, -1, countFrame, countedUser);
            if (n == PCAP_ERROR || n == PCAP_ERROR_BREAK) break;
            struct pcap_pkthdr header {};
            gettimeofday(&header.ts, nullptr);
            u_char data[16];
            putLe64(counted.packets, data);
            putLe64(counted.bytes, data + 8);
            header.caplen = header.len = sizeof data;
            handler(user, &header, data);
            ++samples;
            counted = CountContext();
            deadline += interval;
            if (deadline <= now) deadline = now + interval;  // we fell behind: restart the beat
            continue;
        }
        const bool pausing = now < nextRead;
        const auto until = pausing ? std::min(deadline, nextRead) : deadline;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count() + 1;
        struct pollfd p[2] = {};
        p[0].fd = pausing ? -1 : fd;
        p[0].events = POLLIN;
        p[1].fd = stop ? stop->fd() : -1;  // a negative fd is ignored by poll
        p[1].events = POLLIN;
        const long long wait = p[1].fd >= 0 ? left : std::min<long long>(left, kStopCheckMs);
        int r = ::poll(p, 2, int(wait));
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (!(p[0].revents & POLLIN)) continue;
        int n = pcap_dispatch(handle, -1, countFrame, countedUser);
        if (n == PCAP_ERROR || n == PCAP_ERROR_BREAK) break;
        nextRead = clock::now() + kReadPause;
    }
    return samples;
}

}  // namespace tessel
