#pragma once
#include <pcap/pcap.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "capture/intel_files.h"

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

// Side effects of one decoded Packet, in order: beam start, beam end (both queued for the main
// thread), trace line while logging is on, intel file unless the segment was a bare 40 bytes.
// Capture thread (or a test standing in for it).
void dispatchFrame(const DecodedFrame& decoded);

// The link type onPacket decodes with; set by startCapture before the capture thread starts
// (tests replaying a file set it from pcap_datalink). Default DLT_EN10MB.
void setCaptureLinkType(int linkType);
int captureLinkType();

// libpcap handler of the capture handle: decodeFrame + dispatchFrame, counting drops.
// Capture thread only; the user argument is unused.
void onPacket(u_char* user, const struct pcap_pkthdr* header, const u_char* frame);

// Frames dropped by onPacket since start (any thread may read them).
struct CaptureCounters {
    std::atomic<std::uint64_t> droppedShort{0};      // truncated captures
    std::atomic<std::uint64_t> droppedMalformed{0};  // contradicting header lengths
    std::atomic<std::uint64_t> ignored{0};  // non-IPv4, fragments, other protocols, other links
    std::atomic<std::uint64_t> packets{0};  // dispatched packets
};
extern CaptureCounters captureCounters;

}  // namespace tessel
