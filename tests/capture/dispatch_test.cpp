// onPacket's fan-out: queued beam events, trace lines in log.txt, intel files; and a capture
// file written here and replayed through the real capture library.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <vector>

#include "app/event_log.h"
#include "app/globals.h"
#include "capture/intel_files.h"
#include "capture/packet_decoder.h"
#include "platform/directory.h"
#include "scene/traffic_beams.h"
#include "support/capture_frames.h"
#include "support/test_support.h"

namespace tessel {
namespace {

using test::Bytes;

class DispatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        cwd = std::make_unique<test::ScopedCwd>(dir.path());
        ASSERT_EQ(mkdir("intel", 0755), 0);
        eventLog = new cLog();
        setCaptureLinkType(DLT_EN10MB);
    }
    void TearDown() override {
        destroyEventLog();
        loggingEnabled = 0;
    }
    void feed(const Bytes& frame) {
        pcap_pkthdr h{};
        h.caplen = h.len = bpf_u_int32(frame.size());
        onPacket(nullptr, &h, frame.data());
    }
    std::vector<std::string> intelNames() {
        std::vector<std::string> names;
        listDirectory("intel", &names);
        return names;
    }
    std::string logText() {
        destroyEventLog();  // flush and close
        std::string text = test::readFile("log.txt");
        eventLog = new cLog();  // reopening empties it
        return text;
    }

    test::TempDir dir;
    std::unique_ptr<test::ScopedCwd> cwd;
};

TEST_F(DispatchTest, TcpExchangeQueuesBeamEventsInOrderAndRecordsOnlyLongSegments) {
    loggingEnabled = 1;
    feed(test::tcpFrame("10.0.0.1", "10.0.0.2", 1025, 80, 0x02));          // SYN, 40 bytes
    feed(test::tcpFrame("10.0.0.2", "10.0.0.1", 80, 1025, 0x12, 4));       // SYN-ACK, 44 bytes
    feed(test::tcpFrame("10.0.0.1", "10.0.0.2", 1025, 80, 0x18, 0, 100));  // data
    feed(test::tcpFrame("10.0.0.2", "10.0.0.1", 80, 1025, 0x11));          // reversed FIN
    feed(test::tcpFrame("10.0.0.1", "10.0.0.2", 1025, 80, 0x11));          // FIN from the opener
    feed(test::tcpFrame("10.0.0.1", "10.0.0.1", 1, 2, 0x02, 0, 50));       // same addresses

    std::vector<BeamEvent> events = takeQueuedBeamEvents();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_TRUE(events[0].start);
    EXPECT_EQ(events[0].source, "10.0.0.1");
    EXPECT_EQ(events[0].sourcePort, 1025);
    EXPECT_TRUE(events[1].start);
    EXPECT_EQ(events[1].source, "10.0.0.2");
    EXPECT_FALSE(events[2].start);
    EXPECT_EQ(events[2].source, "10.0.0.2");
    EXPECT_FALSE(events[3].start);
    EXPECT_EQ(events[3].destinationPort, 80);

    // SYN-ACK (44) and data: two files; the bare 40-byte segments none.
    EXPECT_EQ(intelNames().size(), 2u);

    std::string log = logText();
    EXPECT_NE(log.find(" - 10.0.0.1:1025  ->  10.0.0.2:80\r\n"), std::string::npos);
    EXPECT_NE(log.find(" - 10.0.0.2:80  ->  10.0.0.1:1025\r\n"), std::string::npos);
    std::size_t lines = 0;
    for (char c : log) lines += c == '\n';
    EXPECT_EQ(lines, 5u);  // every TCP segment but the same-address one
}

TEST_F(DispatchTest, LoggingOffWritesNoTraceAndDropsAreCounted) {
    std::uint64_t shortBefore = captureCounters.droppedShort;
    std::uint64_t malformedBefore = captureCounters.droppedMalformed;
    feed(test::udpFrame("10.0.0.1", "10.0.0.2", 53, 1025, 32));
    Bytes cut = test::udpFrame("10.0.0.1", "10.0.0.2", 53, 1025, 32);
    cut.resize(30);
    feed(cut);
    Bytes bad = test::udpFrame("10.0.0.1", "10.0.0.2", 53, 1025, 32);
    bad[14] = 0x43;
    feed(bad);
    EXPECT_EQ(captureCounters.droppedShort, shortBefore + 1);
    EXPECT_EQ(captureCounters.droppedMalformed, malformedBefore + 1);
    EXPECT_EQ(logText(), "");
    ASSERT_EQ(intelNames().size(), 1u);
    std::vector<IntelAnode> r = readIntelFile("intel/" + intelNames()[0]);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].udp, 1);
    EXPECT_EQ(r[0].srcport, 53);
    EXPECT_EQ(r[0].size, 15360);
}

TEST_F(DispatchTest, ReplayedCaptureFileDrivesTheSameFanOut) {
    const std::string file = dir.file("exchange.pcap");
    {
        pcap_t* dead = pcap_open_dead(DLT_LINUX_SLL, 65536);
        ASSERT_NE(dead, nullptr);
        pcap_dumper_t* dumper = pcap_dump_open(dead, file.c_str());
        ASSERT_NE(dumper, nullptr);
        auto put = [&](const Bytes& ip) {
            Bytes f = test::linuxSll(ip);
            pcap_pkthdr h{};
            h.caplen = h.len = bpf_u_int32(f.size());
            pcap_dump(reinterpret_cast<u_char*>(dumper), &h, f.data());
        };
        test::IpFields a;
        a.src = "192.168.7.10";
        a.dst = "93.184.216.34";
        test::IpFields b;
        b.src = a.dst;
        b.dst = a.src;
        put(test::ipPacket(a, test::tcpHeader(50000, 443, 0x02, 20)));  // SYN with options
        put(test::ipPacket(b, test::tcpHeader(443, 50000, 0x12, 20)));
        put(test::ipPacket(a, test::tcpHeader(50000, 443, 0x10)));  // bare ACK
        Bytes arp(28, 0);
        put(arp);  // IP version 0: dropped as not IPv4
        put(test::ipPacket(a, test::tcpHeader(50000, 443, 0x04)));  // RST
        pcap_dump_close(dumper);
        pcap_close(dead);
    }
    loggingEnabled = 1;
    char err[PCAP_ERRBUF_SIZE];
    pcap_t* replay = pcap_open_offline(file.c_str(), err);
    ASSERT_NE(replay, nullptr) << err;
    setCaptureLinkType(pcap_datalink(replay));
    EXPECT_EQ(pcap_loop(replay, 0, onPacket, nullptr), 0);
    pcap_close(replay);

    std::vector<BeamEvent> events = takeQueuedBeamEvents();
    ASSERT_EQ(events.size(), 3u);  // SYN, SYN-ACK, RST
    EXPECT_TRUE(events[0].start && events[1].start);
    EXPECT_FALSE(events[2].start);
    EXPECT_EQ(events[2].source, "192.168.7.10");
    EXPECT_EQ(intelNames().size(), 2u);  // the two 60-byte SYNs
    std::string log = logText();
    EXPECT_NE(log.find("192.168.7.10:50000  ->  93.184.216.34:443"), std::string::npos);
}

TEST(BeamQueue, StallKeepsEndsLongerThanStarts) {
    std::uint64_t dropped = droppedBeamEvents();
    for (std::size_t i = 0; i < kBeamQueueStartLimit; ++i) queueBeamStart("a", "b", int(i), 1);
    queueBeamStart("a", "b", -1, 1);  // over the start limit: dropped
    queueBeamEnd("a", "b", 7, 1);     // still taken
    EXPECT_EQ(droppedBeamEvents(), dropped + 1);
    std::vector<BeamEvent> taken = takeQueuedBeamEvents();
    ASSERT_EQ(taken.size(), kBeamQueueStartLimit + 1);
    EXPECT_FALSE(taken.back().start);
    EXPECT_EQ(taken.back().sourcePort, 7);
    EXPECT_EQ(taken[5].sourcePort, 5);  // in order
    // Drained: new starts are accepted again.
    queueBeamStart("a", "b", 1, 1);
    EXPECT_EQ(takeQueuedBeamEvents().size(), 1u);
    for (std::size_t i = 0; i < kBeamQueueHardLimit + 3; ++i) queueBeamEnd("a", "b", 1, 1);
    EXPECT_EQ(takeQueuedBeamEvents().size(), kBeamQueueHardLimit);
}

}  // namespace
}  // namespace tessel
