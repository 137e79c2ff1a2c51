#include "capture/packet_decoder.h"

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include "support/capture_frames.h"

namespace tessel {
namespace {

using test::Bytes;

DecodedFrame decode(const Bytes& frame, int link = DLT_EN10MB) {
    return decodeFrame(link, frame.data(), frame.size());
}

TEST(PacketDecoder, SameAddressesAndOtherProtocolsHaveNoEffect) {
    EXPECT_EQ(decode(test::tcpFrame("10.0.0.1", "10.0.0.1", 1025, 80, 0x02)).outcome,
              FrameOutcome::SameAddresses);
    test::IpFields igmp;
    igmp.protocol = 2;
    EXPECT_EQ(decode(test::ethernet(test::ipPacket(igmp, Bytes(8, 0)))).outcome,
              FrameOutcome::OtherProtocol);
}

TEST(PacketDecoder, IcmpEchoHasZeroPortsAndTraceLine) {
    test::IpFields s;
    s.protocol = 1;
    DecodedFrame d = decode(test::ethernet(test::ipPacket(s, test::icmpEcho())));
    ASSERT_EQ(d.outcome, FrameOutcome::Packet);
    EXPECT_EQ(d.record.icmp, 1);
    EXPECT_EQ(d.record.tcp + d.record.udp, 0);
    EXPECT_EQ(d.record.srcport, 0);
    EXPECT_EQ(d.record.dstport, 0);
    EXPECT_TRUE(d.recorded);
    EXPECT_EQ(traceLine(d), "10.0.0.1:0  ->  10.0.0.2:0");
}

TEST(PacketDecoder, UdpPortsInHostOrderAndSwappedSize) {
    // 60-byte datagram: 20 IP + 8 UDP + 32 data.
    DecodedFrame d = decode(test::udpFrame("10.0.0.1", "10.0.0.2", 53, 1025, 32));
    ASSERT_EQ(d.outcome, FrameOutcome::Packet);
    EXPECT_EQ(d.record.udp, 1);
    EXPECT_EQ(d.record.srcport, 53);
    EXPECT_EQ(d.record.dstport, 1025);
    EXPECT_EQ(d.record.size, 15360);  // 0x003C swapped
    EXPECT_EQ(d.record.src, "10.0.0.1");
    EXPECT_EQ(d.record.dst, "10.0.0.2");
    EXPECT_EQ(traceLine(d), "10.0.0.1:53  ->  10.0.0.2:1025");
}

TEST(PacketDecoder, TcpPortsAndFlagsFollowIpHeaderLength) {
    test::IpFields s;
    s.headerLength = 24;
    Bytes frame = test::ethernet(test::ipPacket(s, test::tcpHeader(4000, 443, 0x02)));
    // The ports sit at 38 and 40 and the flags at 51, not at the 20-byte positions.
    ASSERT_EQ(frame[38] << 8 | frame[39], 4000);
    ASSERT_EQ(frame[51], 0x02);
    DecodedFrame d = decode(frame);
    ASSERT_EQ(d.outcome, FrameOutcome::Packet);
    EXPECT_EQ(d.record.srcport, 4000);
    EXPECT_EQ(d.record.dstport, 443);
    EXPECT_TRUE(d.startsBeam);
    EXPECT_FALSE(d.endsBeam);
}

TEST(PacketDecoder, BareFortyByteSegmentIsNotRecorded) {
    DecodedFrame syn40 = decode(test::tcpFrame("10.0.0.1", "10.0.0.2", 1025, 80, 0x02));
    EXPECT_TRUE(syn40.startsBeam);
    EXPECT_FALSE(syn40.recorded);
    EXPECT_EQ(syn40.record.size, 10240);
    DecodedFrame syn44 = decode(test::tcpFrame("10.0.0.1", "10.0.0.2", 1025, 80, 0x02, 4));
    EXPECT_TRUE(syn44.startsBeam);
    EXPECT_TRUE(syn44.recorded);
    EXPECT_EQ(syn44.record.size, 0x2C00);
    DecodedFrame synAck = decode(test::tcpFrame("10.0.0.2", "10.0.0.1", 80, 1025, 0x12));
    EXPECT_TRUE(synAck.startsBeam);
    DecodedFrame finAck = decode(test::tcpFrame("10.0.0.1", "10.0.0.2", 1025, 80, 0x11));
    EXPECT_TRUE(finAck.endsBeam);
    EXPECT_FALSE(finAck.startsBeam);
    DecodedFrame rst = decode(test::tcpFrame("10.0.0.1", "10.0.0.2", 1025, 80, 0x04, 0, 10));
    EXPECT_TRUE(rst.endsBeam);
    EXPECT_TRUE(rst.recorded);
    // 1500-byte datagram: the swapped word, not the length.
    DecodedFrame big = decode(test::tcpFrame("10.0.0.1", "10.0.0.2", 1025, 80, 0x10, 0, 1460));
    EXPECT_EQ(big.record.size, 56325);
}

TEST(PacketDecoder, EveryTruncationIsDroppedAsShort) {
    const Bytes frames[] = {
        test::tcpFrame("10.0.0.1", "10.0.0.2", 1025, 80, 0x02),
        test::udpFrame("10.0.0.1", "10.0.0.2", 53, 1025, 0),
    };
    for (const Bytes& full : frames) {
        ASSERT_EQ(decode(full).outcome, FrameOutcome::Packet);
        // The last byte read is the TCP flags (47) or the UDP destination port (37).
        const std::size_t needed = full[23] == 6 ? 48 : 38;
        for (std::size_t cut = 0; cut < needed; ++cut) {
            // A copy of exactly `cut` bytes, so the sanitizers see any read past it.
            Bytes part(full.begin(), full.begin() + std::ptrdiff_t(cut));
            EXPECT_EQ(decodeFrame(DLT_EN10MB, part.data(), part.size()).outcome,
                      FrameOutcome::Short)
                << "cut at " << cut;
        }
        Bytes enough(full.begin(), full.begin() + std::ptrdiff_t(needed));
        EXPECT_EQ(decode(enough).outcome, FrameOutcome::Packet);
    }
    EXPECT_EQ(decodeFrame(DLT_EN10MB, nullptr, 100).outcome, FrameOutcome::Short);
}

TEST(PacketDecoder, NonIPv4AndFragmentsAreDropped) {
    Bytes ip = test::ipPacket(test::IpFields(), test::tcpHeader(1, 2, 0x02));
    EXPECT_EQ(decode(test::ethernet(ip, 0x0806)).outcome, FrameOutcome::NotIPv4);  // ARP
    EXPECT_EQ(decode(test::ethernet(ip, 0x86DD)).outcome, FrameOutcome::NotIPv4);  // IPv6
    test::IpFields v6;
    v6.version = 6;
    EXPECT_EQ(decode(test::ethernet(test::ipPacket(v6, test::tcpHeader(1, 2, 2)))).outcome,
              FrameOutcome::NotIPv4);

    test::IpFields later;
    later.fragment = 0x00B9;  // offset 185 * 8: payload bytes are not a TCP header
    EXPECT_EQ(decode(test::ethernet(test::ipPacket(later, test::tcpHeader(1, 2, 2)))).outcome,
              FrameOutcome::Fragment);
    test::IpFields first;
    first.fragment = 0x2000;  // more fragments, offset 0: the ports are there
    DecodedFrame d = decode(test::ethernet(test::ipPacket(first, test::tcpHeader(7, 8, 2))));
    EXPECT_EQ(d.outcome, FrameOutcome::Packet);
    EXPECT_EQ(d.record.srcport, 7);
}

TEST(PacketDecoder, ContradictingLengthsAreMalformed) {
    test::IpFields tiny;
    tiny.headerLength = 20;
    Bytes ip = test::ipPacket(tiny, test::tcpHeader(1, 2, 2));
    ip[0] = 0x44;  // IHL 4: 16 bytes, less than any IPv4 header
    EXPECT_EQ(decode(test::ethernet(ip)).outcome, FrameOutcome::Malformed);
    test::IpFields shortTotal;
    shortTotal.totalLength = 24;  // the "TCP header" would be Ethernet padding
    EXPECT_EQ(decode(test::ethernet(test::ipPacket(shortTotal, test::tcpHeader(1, 2, 2)))).outcome,
              FrameOutcome::Malformed);
    test::IpFields belowHeader;
    belowHeader.protocol = 1;
    belowHeader.totalLength = 10;
    EXPECT_EQ(decode(test::ethernet(test::ipPacket(belowHeader, test::icmpEcho()))).outcome,
              FrameOutcome::Malformed);
}

TEST(PacketDecoder, LinkTypesPlaceTheIpHeader) {
    Bytes ip = test::ipPacket(test::IpFields(), test::tcpHeader(1025, 80, 0x02));
    struct Case {
        int link;
        Bytes frame;
    } cases[] = {
        {DLT_EN10MB, test::ethernet(ip)},
        {DLT_EN10MB, test::ethernetVlan(ip)},
        {DLT_LINUX_SLL, test::linuxSll(ip)},
        {DLT_LINUX_SLL2, test::linuxSll2(ip)},
        {DLT_NULL, test::nullLink(ip)},
        {DLT_LOOP, Bytes{0, 0, 0, 2}},
        {DLT_RAW, ip},
    };
    cases[5].frame.insert(cases[5].frame.end(), ip.begin(), ip.end());
    for (const Case& c : cases) {
        DecodedFrame d = decode(c.frame, c.link);
        ASSERT_EQ(d.outcome, FrameOutcome::Packet) << "link " << c.link;
        EXPECT_EQ(d.record.srcport, 1025);
        EXPECT_EQ(d.record.dstport, 80);
        EXPECT_EQ(d.record.src, "10.0.0.1");
        EXPECT_TRUE(d.startsBeam);
    }
    Bytes sllArp = test::linuxSll(ip);
    sllArp[14] = 0x08;
    sllArp[15] = 0x06;
    EXPECT_EQ(decode(sllArp, DLT_LINUX_SLL).outcome, FrameOutcome::NotIPv4);
    Bytes nullV6 = test::nullLink(ip);
    nullV6[0] = 10;
    EXPECT_EQ(decode(nullV6, DLT_NULL).outcome, FrameOutcome::NotIPv4);
    EXPECT_EQ(decode(ip, DLT_IEEE802_11).outcome, FrameOutcome::UnsupportedLink);
    // An IPv4 frame read as Ethernet with a 14-byte offset would be garbage: RAW starts at 0.
    EXPECT_EQ(decode(ip, DLT_EN10MB).outcome, FrameOutcome::NotIPv4);
}

}  // namespace
}  // namespace tessel
