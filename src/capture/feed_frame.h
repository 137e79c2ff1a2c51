#pragma once
#include <pcap/pcap.h>

#include <cstddef>
#include <cstdint>

#include "capture/sflow_decoder.h"

namespace tessel {

// A frame made from a feed (an sFlow sample, a NetFlow/IPFIX flow) for the road captured frames
// travel: Ethernet (DLT_EN10MB), with libpcap's header, so the frame decoder, the beams, the
// records and the log take it as they take a captured one.
struct FeedFrame {
    // The bytes kept of a sample; an sFlow agent sends 128 unless told otherwise, and the
    // decoder reads headers only.
    static constexpr std::size_t kMaxBytes = 256;
    pcap_pkthdr header{};      // ts: when it is released; caplen: bytes used; len: on the wire
    std::uint32_t weight = 1;  // packets it stands for (samples x rate); 0 closes a beam only
    std::uint8_t bytes[kMaxBytes] = {};
};

// The frame of one sFlow packet sample, released at `tsUs` (Unix microseconds): an Ethernet
// header as sampled, or for IPv4 and IPv6 headers an Ethernet header without link addresses
// (all zero) in front; at most kMaxBytes kept, the wire length as the agent reports it, weighed
// by its sampling rate. False for other header protocols. Pure.
bool frameFromSample(const SflowPacketSample& sample, std::int64_t tsUs, FeedFrame* out);

}  // namespace tessel
