#include "capture/helper_feeds.h"

#include <poll.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "capture/rate_history.h"
#include "platform/helper_protocol.h"
#include "platform/wake_signal.h"

namespace tessel {

namespace {

// The text of one pipe not yet taken as lines.
struct PendingLines {
    std::string text;
    bool skipping = false;  // inside a line too long to be the helper's: up to its end
};

// Whole lines of `fd` appended to `pending`, handed to `take` one by one; a line longer than the
// helper writes is dropped whole, never kept growing. False at the end of the pipe.
template <typename Take>
bool readLines(int fd, PendingLines* pending, Take take) {
    char buffer[1024];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) return errno == EINTR || errno == EAGAIN;
    if (n == 0) return false;
    std::string& text = pending->text;
    text.append(buffer, std::size_t(n));
    for (std::size_t end; (end = text.find('\n')) != std::string::npos;) {
        if (!pending->skipping) take(text.substr(0, end));
        pending->skipping = false;
        text.erase(0, end + 1);
    }
    if (text.size() > kHelperLongestLine) {
        text.clear();
        pending->skipping = true;
    }
    return true;
}

}  // namespace

void runHelperFeedsLoop(int ratesFd, int countersFd, HelperCounters* counters,
                        const WakeSignal& stop) {
    StatsState state;
    PendingLines rates, counted;
    auto takeRate = [&state](const std::string& line) {
        HelperRateLine sample;
        if (!parseRateLine(line, &sample)) return;
        timeval when{};
        when.tv_sec = time_t(sample.seconds);
        when.tv_usec = suseconds_t(sample.micros);
        std::int64_t bps = 0;
        if (statsSampleRate(&state, when, sample.bytes, &bps)) appendRateSample(bps);
    };
    auto takeCounters = [counters](const std::string& line) {
        HelperCountersLine c;
        if (!parseCountersLine(line, &c)) return;
        counters->received.store(c.received);
        counters->dropped.store(c.dropped);
        counters->interfaceDropped.store(c.interfaceDropped);
        counters->known.store(true);
    };
    while (!stop.raised() && (ratesFd >= 0 || countersFd >= 0)) {
        struct pollfd p[3] = {};
        p[0].fd = ratesFd;  // a negative descriptor is ignored
        p[0].events = POLLIN;
        p[1].fd = countersFd;
        p[1].events = POLLIN;
        p[2].fd = stop.fd();
        p[2].events = POLLIN;
        const int r = ::poll(p, 3, stop.fd() >= 0 ? -1 : 250);
        if (r < 0 && errno != EINTR) break;
        if (r <= 0) continue;
        if (p[0].revents && !readLines(ratesFd, &rates, takeRate)) ratesFd = -1;
        if (p[1].revents && !readLines(countersFd, &counted, takeCounters)) countersFd = -1;
    }
}

}  // namespace tessel
