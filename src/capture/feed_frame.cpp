#include "capture/feed_frame.h"

#include <cstring>

#include "capture/ip_numbers.h"

namespace tessel {

bool frameFromSample(const SflowPacketSample& sample, std::int64_t tsUs, FeedFrame* out) {
    std::size_t prefix = 0;
    std::uint16_t etherType = 0;
    if (sample.headerProtocol == kHeaderIPv4) {
        prefix = kEthernetLength;
        etherType = kEtherTypeIPv4;
    } else if (sample.headerProtocol == kHeaderIPv6) {
        prefix = kEthernetLength;
        etherType = kEtherTypeIPv6;
    } else if (sample.headerProtocol != kHeaderEthernet) {
        return false;
    }
    *out = FeedFrame();
    if (prefix) {
        out->bytes[12] = std::uint8_t(etherType >> 8);
        out->bytes[13] = std::uint8_t(etherType);
    }
    std::size_t kept = sample.header ? sample.headerLength : 0;
    if (kept > FeedFrame::kMaxBytes - prefix) kept = FeedFrame::kMaxBytes - prefix;
    if (kept) std::memcpy(out->bytes + prefix, sample.header, kept);
    const std::size_t caplen = prefix + kept;
    out->header.caplen = bpf_u_int32(caplen);
    out->header.len = sample.frameLength < caplen ? bpf_u_int32(caplen) : sample.frameLength;
    // Floor division, so a time before 1970 still has microseconds in [0, 1e6).
    std::int64_t seconds = tsUs / 1000000, micros = tsUs % 1000000;
    if (micros < 0) {
        micros += 1000000;
        --seconds;
    }
    out->header.ts.tv_sec = seconds;
    out->header.ts.tv_usec = micros;
    out->weight = sample.samplingRate ? sample.samplingRate : 1;
    return true;
}

}  // namespace tessel
