#include "support/capture_sink.h"

#include "capture/intel_reader.h"

namespace tessel::test {

CaptureSink::CaptureSink(int linkType, const std::string& folder)
    : writer(folder), folder_(folder) {
    sink.linkType = linkType;
    sink.channel = &channel;
    sink.writer = &writer;
    sink.counters = &counters;
}

void CaptureSink::feed(const std::vector<std::uint8_t>& frame) {
    pcap_pkthdr h{};
    h.caplen = h.len = bpf_u_int32(frame.size());
    onPacket(user(), &h, frame.data());
}

std::vector<BeamEvent> CaptureSink::takeBeams() { return channel.drain(false).beams; }

std::vector<TrafficRecord> CaptureSink::takeRecords() {
    writer.flush();
    std::vector<TrafficRecord> records;
    consumeIntelFolder(folder_, [&records](const TrafficRecord& a) { records.push_back(a); });
    return records;
}

}  // namespace tessel::test
