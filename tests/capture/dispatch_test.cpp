// onPacket's fan-out: beam events and trace lines handed to the main thread, trace lines in
// log.txt, intel records; and a capture file written here and replayed through the real capture
// library.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <vector>

#include "capture/intel_reader.h"
#include "core/event_log.h"
#include "core/hand_off.h"
#include "support/capture_frames.h"
#include "support/capture_sink.h"
#include "support/test_support.h"

namespace tessel {
namespace {

using test::Bytes;

class DispatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        cwd = std::make_unique<test::ScopedCwd>(dir.path());
        ASSERT_EQ(mkdir("intel", 0755), 0);
        log = std::make_unique<cLog>();
        capture->channel.setTraceLog(log.get());
    }
    void TearDown() override {
        capture->channel.setTraceLog(nullptr);
        log.reset();
    }
    void feed(const Bytes& frame) { capture->feed(frame); }
    std::string logText() {
        capture->channel.setTraceLog(nullptr);
        log.reset();  // flush and close
        std::string text = test::readFile("log.txt");
        log = std::make_unique<cLog>();  // reopening empties it
        capture->channel.setTraceLog(log.get());
        return text;
    }

    test::TempDir dir;
    std::unique_ptr<test::ScopedCwd> cwd;
    std::unique_ptr<test::CaptureSink> capture = std::make_unique<test::CaptureSink>();
    std::unique_ptr<cLog> log;
};

TEST_F(DispatchTest, TcpExchangeQueuesBeamEventsInOrderAndRecordsOnlyLongSegments) {
    capture->channel.setTracing(true);
    feed(test::tcpFrame("10.0.0.1", "10.0.0.2", 1025, 80, 0x02));          // SYN, 40 bytes
    feed(test::tcpFrame("10.0.0.2", "10.0.0.1", 80, 1025, 0x12, 4));       // SYN-ACK, 44 bytes
    feed(test::tcpFrame("10.0.0.1", "10.0.0.2", 1025, 80, 0x18, 0, 100));  // data
    feed(test::tcpFrame("10.0.0.2", "10.0.0.1", 80, 1025, 0x11));          // reversed FIN
    feed(test::tcpFrame("10.0.0.1", "10.0.0.2", 1025, 80, 0x11));          // FIN from the opener
    feed(test::tcpFrame("10.0.0.1", "10.0.0.1", 1, 2, 0x02, 0, 50));       // same addresses

    HandOffBatch handed = capture->channel.drain(false);
    std::vector<BeamEvent>& events = handed.beams;
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

    // SYN-ACK (44) and data: two records; the bare 40-byte segments none.
    EXPECT_EQ(capture->takeRecords().size(), 2u);
    // The trace lines went to the main thread's message list too, in order.
    std::vector<std::string>& messages = handed.messages;
    ASSERT_EQ(messages.size(), 5u);
    EXPECT_EQ(messages[0], "10.0.0.1:1025  ->  10.0.0.2:80");

    std::string log = logText();
    EXPECT_NE(log.find(" - 10.0.0.1:1025  ->  10.0.0.2:80\r\n"), std::string::npos);
    EXPECT_NE(log.find(" - 10.0.0.2:80  ->  10.0.0.1:1025\r\n"), std::string::npos);
    std::size_t lines = 0;
    for (char c : log) lines += c == '\n';
    EXPECT_EQ(lines, 5u);  // every TCP segment but the same-address one
}

TEST_F(DispatchTest, LoggingOffWritesNoTraceAndDropsAreCounted) {
    feed(test::udpFrame("10.0.0.1", "10.0.0.2", 53, 1025, 32));
    Bytes cut = test::udpFrame("10.0.0.1", "10.0.0.2", 53, 1025, 32);
    cut.resize(30);
    feed(cut);
    Bytes bad = test::udpFrame("10.0.0.1", "10.0.0.2", 53, 1025, 32);
    bad[14] = 0x43;
    feed(bad);
    EXPECT_EQ(capture->counters.droppedShort, 1u);
    EXPECT_EQ(capture->counters.droppedMalformed, 1u);
    EXPECT_EQ(capture->counters.packets, 1u);
    EXPECT_EQ(logText(), "");
    EXPECT_TRUE(capture->channel.drain(false).messages.empty());
    std::vector<TrafficRecord> r = capture->takeRecords();
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
    capture->channel.setTracing(true);
    char err[PCAP_ERRBUF_SIZE];
    pcap_t* replay = pcap_open_offline(file.c_str(), err);
    ASSERT_NE(replay, nullptr) << err;
    capture->sink.linkType = pcap_datalink(replay);
    EXPECT_EQ(pcap_loop(replay, 0, onPacket, capture->user()), 0);
    pcap_close(replay);

    std::vector<BeamEvent> events = capture->takeBeams();
    ASSERT_EQ(events.size(), 3u);  // SYN, SYN-ACK, RST
    EXPECT_TRUE(events[0].start && events[1].start);
    EXPECT_FALSE(events[2].start);
    EXPECT_EQ(events[2].source, "192.168.7.10");
    EXPECT_EQ(capture->takeRecords().size(), 2u);  // the two 60-byte SYNs
    std::string log = logText();
    EXPECT_NE(log.find("192.168.7.10:50000  ->  93.184.216.34:443"), std::string::npos);
}

}  // namespace
}  // namespace tessel
