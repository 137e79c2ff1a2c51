#include "capture/packet_dispatch.h"

#include <chrono>

#include "capture/intel_writer.h"
#include "capture/socket_owners_worker.h"
#include "core/hand_off.h"

namespace tessel {

void dispatchFrame(const DecodedFrame& d, PacketSink& sink) {
    if (d.outcome != FrameOutcome::Packet) return;
    const TrafficRecord& r = d.record;
    if (sink.channel) {
        if (d.startsBeam)
            sink.channel->pushBeam(BeamEvent{true, r.src, r.dst, r.srcport, r.dstport});
        if (d.endsBeam)
            sink.channel->pushBeam(BeamEvent{false, r.src, r.dst, r.srcport, r.dstport});
    }
    if (sink.owners && (r.tcp || r.udp)) sink.owners->notePacket(r, d.endsBeam);
    if (sink.channel && sink.channel->tracing()) sink.channel->pushTrace(traceLine(d));
    if (!d.recorded) return;
    if (sink.writer)
        sink.writer->write(r, std::chrono::steady_clock::now());
    else if (sink.records)
        sink.records->push_back(r);
}

void onPacket(u_char* user, const struct pcap_pkthdr* header, const u_char* frame) {
    if (!user || !header || !frame) return;
    PacketSink& sink = *reinterpret_cast<PacketSink*>(user);
    DecodedFrame d = decodeFrame(sink.linkType, frame, header->caplen);
    if (!sink.counters) {
        if (d.outcome == FrameOutcome::Packet) dispatchFrame(d, sink);
        return;
    }
    CaptureCounters& counters = *sink.counters;
    switch (d.outcome) {
        case FrameOutcome::Packet:
            counters.packets.fetch_add(1, std::memory_order_relaxed);
            dispatchFrame(d, sink);
            break;
        case FrameOutcome::Short:
            counters.droppedShort.fetch_add(1, std::memory_order_relaxed);
            break;
        case FrameOutcome::Malformed:
            counters.droppedMalformed.fetch_add(1, std::memory_order_relaxed);
            break;
        case FrameOutcome::SameAddresses:
            break;
        case FrameOutcome::NotIP:
        case FrameOutcome::UnsupportedLink:
            counters.notIP.fetch_add(1, std::memory_order_relaxed);
            counters.ignored.fetch_add(1, std::memory_order_relaxed);
            break;
        case FrameOutcome::Fragment:
            counters.fragments.fetch_add(1, std::memory_order_relaxed);
            counters.ignored.fetch_add(1, std::memory_order_relaxed);
            break;
        default:
            counters.ignored.fetch_add(1, std::memory_order_relaxed);
            break;
    }
}

}  // namespace tessel
