#include "platform/helper_protocol.h"

#include <limits>

namespace tessel {

namespace {

// Reads exactly `count` unsigned decimal numbers, one space apart, filling the whole of `line`
// (its length counts, not a terminating zero: a NUL inside is not the end).
bool numbers(const std::string& line, int count, std::uint64_t* out) {
    if (line.size() > kHelperLongestLine) return false;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    std::size_t at = 0;
    for (int i = 0; i < count; ++i) {
        if (i > 0 && (at >= line.size() || line[at++] != ' ')) return false;
        const std::size_t first = at;
        std::uint64_t v = 0;
        for (; at < line.size() && line[at] >= '0' && line[at] <= '9'; ++at) {
            const unsigned digit = unsigned(line[at] - '0');
            if (v > (kMax - digit) / 10) return false;  // 2^64 or more
            v = v * 10 + digit;
        }
        if (at == first) return false;
        out[i] = v;
    }
    return at == line.size();
}

}  // namespace

bool parseRateLine(const std::string& line, HelperRateLine* out) {
    std::uint64_t v[4];
    if (!numbers(line, 4, v) || v[0] > std::uint64_t(std::numeric_limits<long long>::max()) ||
        v[1] >= 1000000)
        return false;
    out->seconds = (long long)v[0];
    out->micros = long(v[1]);
    out->packets = v[2];
    out->bytes = v[3];
    return true;
}

bool parseCountersLine(const std::string& line, HelperCountersLine* out) {
    std::uint64_t v[3];
    if (!numbers(line, 3, v)) return false;
    out->received = v[0];
    out->dropped = v[1];
    out->interfaceDropped = v[2];
    return true;
}

}  // namespace tessel
