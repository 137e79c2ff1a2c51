#include "capture/packet_dispatch.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "capture/intel_writer.h"
#include "core/hand_off.h"
#include "platform/wake_signal.h"

namespace tessel {

CaptureCounters captureCounters;

namespace {
// Without a wake descriptor the stop flag is looked at at least this often.
constexpr int kStopCheckMs = 250;
}  // namespace

void dispatchFrame(const DecodedFrame& d, PacketSink& sink) {
    if (d.outcome != FrameOutcome::Packet) return;
    const TrafficRecord& r = d.record;
    if (sink.channel) {
        if (d.startsBeam)
            sink.channel->pushBeam(BeamEvent{true, r.src, r.dst, r.srcport, r.dstport});
        if (d.endsBeam)
            sink.channel->pushBeam(BeamEvent{false, r.src, r.dst, r.srcport, r.dstport});
    }
    if (sink.channel && sink.channel->tracing()) sink.channel->pushTrace(traceLine(d));
    if (d.recorded && sink.writer) sink.writer->write(r, std::chrono::steady_clock::now());
}

void onPacket(u_char* user, const struct pcap_pkthdr* header, const u_char* frame) {
    if (!user || !header || !frame) return;
    PacketSink& sink = *reinterpret_cast<PacketSink*>(user);
    DecodedFrame d = decodeFrame(sink.linkType, frame, header->caplen);
    switch (d.outcome) {
        case FrameOutcome::Packet:
            captureCounters.packets.fetch_add(1, std::memory_order_relaxed);
            dispatchFrame(d, sink);
            break;
        case FrameOutcome::Short:
            captureCounters.droppedShort.fetch_add(1, std::memory_order_relaxed);
            break;
        case FrameOutcome::Malformed:
            captureCounters.droppedMalformed.fetch_add(1, std::memory_order_relaxed);
            break;
        case FrameOutcome::SameAddresses:
            break;
        case FrameOutcome::NotIP:
        case FrameOutcome::UnsupportedLink:
            captureCounters.notIP.fetch_add(1, std::memory_order_relaxed);
            captureCounters.ignored.fetch_add(1, std::memory_order_relaxed);
            break;
        case FrameOutcome::Fragment:
            captureCounters.fragments.fetch_add(1, std::memory_order_relaxed);
            captureCounters.ignored.fetch_add(1, std::memory_order_relaxed);
            break;
        default:
            captureCounters.ignored.fetch_add(1, std::memory_order_relaxed);
            break;
    }
}

void runCaptureLoop(pcap_t* handle, PacketSink& sink, const WakeSignal& stop) {
    using Clock = std::chrono::steady_clock;
    char errbuf[PCAP_ERRBUF_SIZE];
    const int fd = pcap_setnonblock(handle, 1, errbuf) == 0 ? pcap_get_selectable_fd(handle) : -1;
    u_char* user = reinterpret_cast<u_char*>(&sink);
    while (!stop.raised() && fd >= 0) {
        int waitMs = stop.fd() >= 0 ? -1 : kStopCheckMs;
        if (sink.writer && sink.writer->hasPending()) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(sink.writer->deadline() -
                                                                     Clock::now());
            waitMs = int(std::max<long long>(0, left.count()));
            if (stop.fd() < 0) waitMs = std::min(waitMs, kStopCheckMs);
        }
        struct pollfd p[2] = {};
        p[0].fd = fd;
        p[0].events = POLLIN;
        p[1].fd = stop.fd();
        p[1].events = POLLIN;
        int r = ::poll(p, 2, waitMs);
        if (r < 0 && errno != EINTR) break;
        if (r > 0 && (p[0].revents & POLLIN)) {
            int n = pcap_dispatch(handle, -1, onPacket, user);
            if (n == PCAP_ERROR || n == PCAP_ERROR_BREAK) break;
        } else if (r > 0 && (p[0].revents & (POLLERR | POLLHUP | POLLNVAL))) {
            break;  // the interface went away
        }
        if (sink.writer) sink.writer->flushIfDue(Clock::now());
    }
    if (fd < 0) pcap_loop(handle, 0, onPacket, user);  // no descriptor to wait on: block
    if (sink.writer) sink.writer->flush();
}

}  // namespace tessel
