#include "capture/helper_feeds.h"

#include <poll.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "capture/rate_history.h"
#include "capture/stats_loop.h"
#include "platform/wake_signal.h"

namespace tessel {

namespace {

// A line longer than this is no line of the helper's: it is dropped, never kept growing.
constexpr std::size_t kLongestLine = 256;

// Reads "N N N ..." (exactly `count` unsigned decimal numbers, single spaces) from `line`.
bool numbers(const std::string& line, int count, unsigned long long* out) {
    const char* at = line.c_str();
    for (int i = 0; i < count; ++i) {
        if (*at < '0' || *at > '9') return false;
        char* end = nullptr;
        errno = 0;
        out[i] = std::strtoull(at, &end, 10);
        if (errno != 0) return false;
        at = end;
        if (i + 1 < count && *at++ != ' ') return false;
    }
    return *at == '\0';
}

// Whole lines of `fd` appended to `pending`, handed to `take` one by one. False at the end of
// the pipe.
template <typename Take>
bool readLines(int fd, std::string* pending, Take take) {
    char buffer[1024];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) return errno == EINTR || errno == EAGAIN;
    if (n == 0) return false;
    pending->append(buffer, std::size_t(n));
    for (std::size_t end; (end = pending->find('\n')) != std::string::npos;) {
        take(pending->substr(0, end));
        pending->erase(0, end + 1);
    }
    if (pending->size() > kLongestLine) pending->clear();
    return true;
}

}  // namespace

bool parseRateLine(const std::string& line, long long* seconds, long* micros,
                   std::uint64_t* bytes) {
    unsigned long long v[4];
    if (!numbers(line, 4, v) || v[1] >= 1000000) return false;
    *seconds = (long long)v[0];
    *micros = long(v[1]);
    *bytes = v[3];
    return true;
}

bool parseCountersLine(const std::string& line, std::uint64_t* received, std::uint64_t* dropped,
                       std::uint64_t* interfaceDropped) {
    unsigned long long v[3];
    if (!numbers(line, 3, v)) return false;
    *received = v[0];
    *dropped = v[1];
    *interfaceDropped = v[2];
    return true;
}

void runHelperFeedsLoop(int ratesFd, int countersFd, HelperCounters* counters,
                        const WakeSignal& stop) {
    StatsState state;
    std::string rates, counted;
    auto takeRate = [&state](const std::string& line) {
        long long seconds = 0;
        long micros = 0;
        std::uint64_t bytes = 0;
        if (!parseRateLine(line, &seconds, &micros, &bytes)) return;
        timeval when{};
        when.tv_sec = time_t(seconds);
        when.tv_usec = suseconds_t(micros);
        std::int64_t bps = 0;
        if (statsSampleRate(&state, when, bytes, &bps)) appendRateSample(bps);
    };
    auto takeCounters = [counters](const std::string& line) {
        std::uint64_t r = 0, d = 0, i = 0;
        if (!parseCountersLine(line, &r, &d, &i)) return;
        counters->received.store(r);
        counters->dropped.store(d);
        counters->interfaceDropped.store(i);
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
