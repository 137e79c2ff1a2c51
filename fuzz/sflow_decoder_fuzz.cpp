// The input is one sFlow datagram. Every visited sample also goes through the frame it makes and
// the frame decoder, as it does in the program.
#include <cstdint>
#include <vector>

#include "capture/feed_frame.h"
#include "capture/packet_decoder.h"
#include "capture/sflow_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy: a read past the datagram is a sanitizer error.
    std::vector<std::uint8_t> datagram(data, data + size);
    const std::uint8_t* begin = datagram.data();
    const std::uint8_t* end = begin + datagram.size();
    tessel::SflowDatagramInfo info;
    std::uint32_t visited = 0;
    tessel::SflowOutcome outcome = tessel::decodeSflow(
        begin, datagram.size(), &info, [&](const tessel::SflowPacketSample& sample) {
            ++visited;
            // The sampled bytes lie inside the datagram.
            if (sample.headerLength > datagram.size()) __builtin_trap();
            if (sample.headerLength && (sample.header < begin || sample.header > end ||
                                        std::size_t(end - sample.header) < sample.headerLength))
                __builtin_trap();
            if (sample.samplingRate == 0) __builtin_trap();
            tessel::FeedFrame frame;
            if (!tessel::frameFromSample(sample, 1700000000000000, &frame)) __builtin_trap();
            if (frame.header.caplen > tessel::FeedFrame::kMaxBytes) __builtin_trap();
            if (frame.header.len < frame.header.caplen) __builtin_trap();
            if (frame.weight != sample.samplingRate) __builtin_trap();
            std::vector<std::uint8_t> bytes(frame.bytes, frame.bytes + frame.header.caplen);
            tessel::DecodedFrame d = tessel::decodeFrame(DLT_EN10MB, bytes.data(), bytes.size());
            if (d.outcome == tessel::FrameOutcome::Packet &&
                d.record.tcp + d.record.udp + d.record.icmp != 1)
                __builtin_trap();
        });
    if (outcome != tessel::SflowOutcome::Ok) {
        // Nothing visited and nothing reported for a datagram that is not read.
        if (visited != 0 || info.samples != 0 || info.packetSamples != 0) __builtin_trap();
        return 0;
    }
    if (visited != info.packetSamples) __builtin_trap();
    // Each sample and each record takes at least eight bytes of the datagram.
    if (std::uint64_t(info.packetSamples) + info.skippedRecords > datagram.size() / 8)
        __builtin_trap();
    if (info.samples > datagram.size() / 8) __builtin_trap();
    // A second read gives the same: the check pass and the visit pass agree.
    tessel::SflowDatagramInfo again;
    if (tessel::decodeSflow(begin, datagram.size(), &again, nullptr) != outcome ||
        again.packetSamples != info.packetSamples || again.skippedRecords != info.skippedRecords)
        __builtin_trap();
    return 0;
}
