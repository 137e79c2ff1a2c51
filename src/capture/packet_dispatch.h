#pragma once
#include <pcap/pcap.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "capture/packet_decoder.h"

namespace tessel {

class HandOffChannel;
class cIntelWriter;
class cSocketOwnersWorker;

// Frames seen by onPacket, per capture session (any thread may read them).
struct CaptureCounters {
    std::atomic<std::uint64_t> droppedShort{0};      // truncated captures
    std::atomic<std::uint64_t> droppedMalformed{0};  // contradicting header lengths
    std::atomic<std::uint64_t> ignored{0};  // not IP, fragments, other protocols, other links
    // Of `ignored`: not IP at all (other EtherTypes, encrypted MACsec, link types not decoded),
    // and later fragments; the rest are IP protocols other than TCP, UDP and ICMP.
    std::atomic<std::uint64_t> notIP{0};
    std::atomic<std::uint64_t> fragments{0};
    std::atomic<std::uint64_t> packets{0};  // dispatched packets
};

// Where the decoded packets of one capture go. Owned by whoever runs the capture loop; used on
// that one thread.
struct PacketSink {
    int linkType = DLT_EN10MB;
    HandOffChannel* channel = nullptr;  // beam events and trace lines for the main thread
    cIntelWriter* writer = nullptr;     // recorded packets; none: records are not kept
    // Without a writer: recorded packets kept here in capture order (an offline recording).
    std::vector<TrafficRecord>* records = nullptr;
    CaptureCounters* counters = nullptr;    // none: frames are not counted
    cSocketOwnersWorker* owners = nullptr;  // TCP and UDP flows whose program is looked for
};

// Side effects of one decoded Packet, in order: beam start, beam end (both handed to the main
// thread), the flow noted for its program's look-up (a live capture), trace line in the log and
// the message list while the channel's trace is on, intel record unless the segment was a bare
// 40 bytes (to the writer, or the sink's records). Capture thread (or a test standing in for it).
void dispatchFrame(const DecodedFrame& decoded, PacketSink& sink);

// libpcap handler: `user` is the PacketSink. decodeFrame + dispatchFrame, counting every frame
// in the sink's counters.
void onPacket(u_char* user, const struct pcap_pkthdr* header, const u_char* frame);

}  // namespace tessel
