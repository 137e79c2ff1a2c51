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
    OtherProtocol,    // IP, but not ICMP/TCP/UDP (IGMP, ESP, AH, ...): no effect
    NotIP,            // ARP, other EtherTypes, encrypted MACsec, IP versions other than 4 and 6
    Fragment,         // a non-first fragment: it carries no ports
    UnsupportedLink,  // a link type this decoder does not know
    Short,            // captured bytes end before the fields that must be read
    Malformed,        // lengths that contradict each other (IHL < 5, total < header, ...)
};

struct DecodedFrame {
    FrameOutcome outcome = FrameOutcome::Short;
    TrafficRecord record;           // filled for Packet; addresses as text (IPv6 in RFC 5952 form)
    int version = 4;                // of the IP header: 4 or 6
    std::uint8_t srcBytes[4] = {};  // IPv4 only: the addresses as bytes
    std::uint8_t dstBytes[4] = {};
    std::uint8_t tcpFlags = 0;
    bool startsBeam = false;  // TCP SYN (whatever the other flags)
    bool endsBeam = false;    // TCP FIN or RST
    bool recorded = false;    // false for a bare TCP segment: IPv4 total length 40 (W == 0x2800),
                              // IPv6 payload length 20
};

// Pure: reads `length` captured bytes of a frame of libpcap link type `linkType` (DLT_*).
// Touches nothing else, so tests and fuzzers can call it freely from any thread.
DecodedFrame decodeFrame(int linkType, const std::uint8_t* frame, std::size_t length);

// "a.b.c.d:p  ->  e.f.g.h:q"; IPv6 addresses in brackets: "[2001:db8::1]:443  ->  ..."
std::string traceLine(const DecodedFrame& decoded);

}  // namespace tessel
