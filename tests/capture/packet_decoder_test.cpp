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
    EXPECT_EQ(decode(test::ethernet(ip, 0x0806)).outcome, FrameOutcome::NotIP);  // ARP
    EXPECT_EQ(decode(test::ethernet(ip, 0x86DD)).outcome, FrameOutcome::NotIP);  // IPv6
    test::IpFields v6;
    v6.version = 6;
    EXPECT_EQ(decode(test::ethernet(test::ipPacket(v6, test::tcpHeader(1, 2, 2)))).outcome,
              FrameOutcome::NotIP);

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

Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(PacketDecoder, IPv6WalksItsExtensionChainToTheTransport) {
    constexpr std::uint8_t kHop = 0, kDest = 60, kFrag = 44, kTcp = 6, kUdp = 17, kIcmp6 = 58;
    const std::string a = "2001:db8:0:0:0:0:0:1", b = "2001:db8::2";
    // Hop-by-hop, destination options, then a UDP datagram with 32 bytes of data.
    Bytes frame = test::ethernet(
        test::ipv6Packet(a, b, kHop,
                         joined({test::ipv6Extension(kDest), test::ipv6Extension(kUdp),
                                 test::udpHeader(53, 1025, 32)})),
        0x86DD);
    DecodedFrame d = decode(frame);
    ASSERT_EQ(d.outcome, FrameOutcome::Packet);
    EXPECT_EQ(d.version, 6);
    EXPECT_EQ(d.record.src, "2001:db8::1");  // RFC 5952 form, whatever the input looked like
    EXPECT_EQ(d.record.udp, 1);
    EXPECT_EQ(d.record.size, 0x6000);  // 40 + 16 + 8 + 32 = 96, swapped
    EXPECT_TRUE(d.recorded);
    EXPECT_EQ(traceLine(d), "[2001:db8::1]:53  ->  [2001:db8::2]:1025");
    // Every cut short of the destination port is truncated, never read past.
    for (std::size_t cut = 0; cut < 14 + 40 + 16 + 4; ++cut) {
        Bytes part(frame.begin(), frame.begin() + std::ptrdiff_t(cut));
        EXPECT_EQ(decode(part).outcome, FrameOutcome::Short) << "cut at " << cut;
    }
    // A payload length that ends inside the chain contradicts it.
    Bytes lying = frame;
    lying[14 + 5] = 12;
    EXPECT_EQ(decode(lying).outcome, FrameOutcome::Malformed);

    EXPECT_EQ(decode(test::ipv6Packet(a, b, kIcmp6, test::icmpEcho()), DLT_RAW).record.icmp, 1);
    EXPECT_EQ(decode(test::ipv6Packet(a, a, kIcmp6, test::icmpEcho()), DLT_RAW).outcome,
              FrameOutcome::SameAddresses);
    for (std::uint8_t stop : {50, 51, 59}) {  // ESP, AH, no next header
        EXPECT_EQ(decode(test::ipv6Packet(a, b, stop, Bytes(16, 0)), DLT_RAW).outcome,
                  FrameOutcome::OtherProtocol);
    }

    // Eight extension headers are walked; a ninth is refused, so a hostile chain ends early.
    for (int count : {8, 9}) {
        Bytes chain;
        for (int i = 0; i < count; ++i) {
            const Bytes e = test::ipv6Extension(i + 1 < count ? kDest : kUdp);
            chain.insert(chain.end(), e.begin(), e.end());
        }
        const Bytes udp = test::udpHeader(1, 2);
        chain.insert(chain.end(), udp.begin(), udp.end());
        EXPECT_EQ(decode(test::ipv6Packet(a, b, kDest, chain), DLT_RAW).outcome,
                  count == 8 ? FrameOutcome::Packet : FrameOutcome::Malformed);
    }

    // First fragments carry the ports; later ones do not.
    const Bytes syn = test::tcpHeader(4000, 443, 0x02, 4);
    DecodedFrame first = decode(
        test::ipv6Packet(a, b, kFrag, joined({test::ipv6Fragment(kTcp, 0x0001), syn})), DLT_RAW);
    ASSERT_EQ(first.outcome, FrameOutcome::Packet);
    EXPECT_EQ(first.record.dstport, 443);
    EXPECT_TRUE(first.startsBeam);
    EXPECT_EQ(decode(test::ipv6Packet(a, b, kFrag, joined({test::ipv6Fragment(kTcp, 0x0B98), syn})),
                     DLT_RAW)
                  .outcome,
              FrameOutcome::Fragment);

    // A bare segment (payload length 20) opens a beam but is not recorded; one with options is.
    DecodedFrame bare =
        decode(test::ipv6Packet(a, b, kTcp, test::tcpHeader(4000, 443, 0x02)), DLT_RAW);
    EXPECT_TRUE(bare.startsBeam);
    EXPECT_FALSE(bare.recorded);
    EXPECT_TRUE(decode(test::ipv6Packet(a, b, kTcp, syn), DLT_RAW).recorded);
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
    // Encapsulations the real captures lack: QinQ (two tags), a PPPoE session, and 802.11 data
    // under radiotap with LLC/SNAP.
    const Bytes qinq =
        joined({Bytes(12, 2), {0x88, 0xA8, 0, 100, 0x81, 0x00, 0, 200, 0x08, 0}, ip});
    const Bytes pppoe = joined({Bytes(12, 2), {0x88, 0x64, 0x11, 0, 0, 1, 0, 0, 0x00, 0x21}, ip});
    Bytes wifi = joined({{0, 0, 8, 0, 0, 0, 0, 0},
                         {0x08, 0x01},
                         Bytes(22, 3),
                         {0xAA, 0xAA, 0x03, 0, 0, 0, 0x08, 0x00},
                         ip});
    const Case more[] = {{DLT_EN10MB, qinq}, {DLT_EN10MB, pppoe}, {DLT_IEEE802_11_RADIO, wifi}};
    for (const Case& c : more) EXPECT_EQ(decode(c.frame, c.link).record.dstport, 80) << c.link;
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
    EXPECT_EQ(decode(sllArp, DLT_LINUX_SLL).outcome, FrameOutcome::NotIP);
    Bytes nullV6 = test::nullLink(ip);
    nullV6[0] = 10;
    EXPECT_EQ(decode(nullV6, DLT_NULL).outcome, FrameOutcome::NotIP);
    EXPECT_EQ(decode(ip, DLT_USER0).outcome, FrameOutcome::UnsupportedLink);
    // An IPv4 frame read as Ethernet with a 14-byte offset would be garbage: RAW starts at 0.
    EXPECT_EQ(decode(ip, DLT_EN10MB).outcome, FrameOutcome::NotIP);
}

}  // namespace
}  // namespace tessel
