#pragma once
// A packet sink for tests that stand in for the capture thread: frames fed to onPacket land in a
// channel, an intel writer and counters of the test's own, and can be read back.
#include <pcap/pcap.h>

#include <string>
#include <vector>

#include "capture/intel_writer.h"
#include "capture/packet_dispatch.h"
#include "core/hand_off.h"

namespace tessel::test {

class CaptureSink {
  public:
    explicit CaptureSink(int linkType = DLT_EN10MB, const std::string& folder = intelFolder);
    // onPacket's user argument.
    u_char* user() { return reinterpret_cast<u_char*>(&sink); }
    void feed(const std::vector<std::uint8_t>& frame);
    // The beam events handed over so far (taken).
    std::vector<BeamEvent> takeBeams();
    // Every record written so far, read back (the writer is flushed, the files are consumed).
    std::vector<TrafficRecord> takeRecords();

    HandOffChannel channel;
    cIntelWriter writer;
    CaptureCounters counters;
    PacketSink sink;

  private:
    std::string folder_;
};

}  // namespace tessel::test
