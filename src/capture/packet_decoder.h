#pragma once
#include <pcap/pcap.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/traffic_record.h"

namespace tessel {

// What one captured frame amounts to.
enum class FrameOutcome {
    Packet,           // an ICMP, TCP or UDP packet between two different addresses
    SameAddresses,    // source equals destination: no effect at all
    OtherProtocol,    // IPv4, but not ICMP/TCP/UDP (IGMP, ...): no effect
    NotIPv4,          // ARP, IPv6, other ethertypes, IP version other than 4
    Fragment,         // a non-first IPv4 fragment: it carries no ports
    UnsupportedLink,  // a link type this decoder does not know
    Short,            // captured bytes end before the fields that must be read
    Malformed,        // header lengths that contradict each other (IHL < 5, total < header ...)
};

struct DecodedFrame {
    FrameOutcome outcome = FrameOutcome::Short;
    TrafficRecord record;           // filled for Packet
    std::uint8_t srcBytes[4] = {};  // for the trace line
    std::uint8_t dstBytes[4] = {};
    std::uint8_t tcpFlags = 0;
    bool startsBeam = false;  // TCP SYN (whatever the other flags)
    bool endsBeam = false;    // TCP FIN or RST
    bool recorded = false;    // false for a 40-byte TCP segment (W == 0x2800)
};

// Pure: reads `length` captured bytes of a frame of libpcap link type `linkType` (DLT_*).
// Touches nothing else, so tests and fuzzers can call it freely from any thread.
DecodedFrame decodeFrame(int linkType, const std::uint8_t* frame, std::size_t length);

// "a.b.c.d:p  ->  e.f.g.h:q"
std::string traceLine(const DecodedFrame& decoded);

}  // namespace tessel
