#include "capture/packet_decoder.h"

#include <cstdio>

#include "capture/frame_reader.h"

namespace tessel {

namespace {

constexpr std::uint16_t kEtherTypeIPv4 = 0x0800;
constexpr std::uint16_t kEtherTypeVlan = 0x8100;
constexpr std::uint8_t kProtoIcmp = 1;
constexpr std::uint8_t kProtoTcp = 6;
constexpr std::uint8_t kProtoUdp = 17;
constexpr std::uint8_t kTcpFin = 0x01;
constexpr std::uint8_t kTcpSyn = 0x02;
constexpr std::uint8_t kTcpRst = 0x04;
// The total-length field read with its bytes swapped: 0x2800 is a datagram of exactly 40 bytes,
// a TCP segment without options or data (bare ACKs and the like), which is not recorded.
constexpr std::uint16_t kBareSegmentWord = 0x2800;

DecodedFrame outcome(FrameOutcome o) {
    DecodedFrame d;
    d.outcome = o;
    return d;
}

// Where the IPv4 header starts, or a non-Packet outcome. Every link type is checked for an
// IPv4 payload before any IP byte is looked at.
FrameOutcome locateIPv4(int linkType, const FrameReader& frame, std::size_t* ipOffset) {
    std::uint16_t type = 0;
    switch (linkType) {
        case DLT_EN10MB:
            if (!frame.be16(12, &type)) return FrameOutcome::Short;
            *ipOffset = 14;
            if (type == kEtherTypeVlan) {  // one 802.1Q tag
                if (!frame.be16(16, &type)) return FrameOutcome::Short;
                *ipOffset = 18;
            }
            return type == kEtherTypeIPv4 ? FrameOutcome::Packet : FrameOutcome::NotIPv4;
        case DLT_LINUX_SLL:
            if (!frame.be16(14, &type)) return FrameOutcome::Short;
            *ipOffset = 16;
            return type == kEtherTypeIPv4 ? FrameOutcome::Packet : FrameOutcome::NotIPv4;
#ifdef DLT_LINUX_SLL2
        case DLT_LINUX_SLL2:
            if (!frame.be16(0, &type)) return FrameOutcome::Short;
            *ipOffset = 20;
            if (!frame.has(0, 20)) return FrameOutcome::Short;
            return type == kEtherTypeIPv4 ? FrameOutcome::Packet : FrameOutcome::NotIPv4;
#endif
        case DLT_NULL:
        case DLT_LOOP: {
            // The family word is in the capturing host's order for NULL and network order for
            // LOOP; files travel between hosts, so accept AF_INET (2) in either order.
            std::uint32_t family = 0;
            if (!frame.le32(0, &family)) return FrameOutcome::Short;
            *ipOffset = 4;
            return (family == 2 || family == 0x02000000u) ? FrameOutcome::Packet
                                                          : FrameOutcome::NotIPv4;
        }
        case DLT_RAW:
#ifdef DLT_IPV4
        case DLT_IPV4:
#endif
            *ipOffset = 0;
            return FrameOutcome::Packet;
        default:
            return FrameOutcome::UnsupportedLink;
    }
}

}  // namespace

DecodedFrame decodeFrame(int linkType, const std::uint8_t* bytes, std::size_t length) {
    FrameReader frame(bytes, length);
    std::size_t ipOffset = 0;
    FrameOutcome link = locateIPv4(linkType, frame, &ipOffset);
    if (link != FrameOutcome::Packet) return outcome(link);

    // From here on offsets are relative to the IP header.
    FrameReader ip = frame.from(ipOffset);
    std::uint8_t versionAndLength = 0;
    if (!ip.u8(0, &versionAndLength)) return outcome(FrameOutcome::Short);
    if ((versionAndLength >> 4) != 4) return outcome(FrameOutcome::NotIPv4);
    if (!ip.has(0, 20)) return outcome(FrameOutcome::Short);

    DecodedFrame d;
    std::uint16_t totalLength = 0, word = 0, fragment = 0;
    std::uint8_t protocol = 0;
    ip.be16(2, &totalLength);
    ip.le16(2, &word);
    ip.be16(6, &fragment);
    ip.u8(9, &protocol);
    ip.bytes(12, 4, d.srcBytes);
    ip.bytes(16, 4, d.dstBytes);

    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", d.srcBytes[0], d.srcBytes[1], d.srcBytes[2],
                  d.srcBytes[3]);
    d.record.src = text;
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", d.dstBytes[0], d.dstBytes[1], d.dstBytes[2],
                  d.dstBytes[3]);
    d.record.dst = text;
    if (d.record.src == d.record.dst) return outcome(FrameOutcome::SameAddresses);

    if (protocol != kProtoIcmp && protocol != kProtoTcp && protocol != kProtoUdp)
        return outcome(FrameOutcome::OtherProtocol);

    const std::size_t headerLength = std::size_t(versionAndLength & 0x0F) * 4;
    if (headerLength < 20 || totalLength < headerLength) return outcome(FrameOutcome::Malformed);
    if ((fragment & 0x1FFF) != 0) return outcome(FrameOutcome::Fragment);

    d.record.size = word;
    d.recorded = true;
    if (protocol == kProtoIcmp) {
        d.record.icmp = 1;
        d.outcome = FrameOutcome::Packet;
        return d;
    }

    // Ports (and TCP flags) are located from the real header length and must lie inside both
    // the captured bytes and the datagram; bytes past the total length are link padding.
    const std::size_t transportNeeded = protocol == kProtoTcp ? 14 : 4;
    if (totalLength < headerLength + transportNeeded) return outcome(FrameOutcome::Malformed);
    FrameReader transport = ip.from(headerLength);
    if (!transport.has(0, transportNeeded)) return outcome(FrameOutcome::Short);
    transport.be16(0, &d.record.srcport);
    transport.be16(2, &d.record.dstport);
    if (protocol == kProtoTcp) {
        transport.u8(13, &d.tcpFlags);
        d.startsBeam = (d.tcpFlags & kTcpSyn) != 0;
        if (word == kBareSegmentWord) d.recorded = false;
        d.endsBeam = (d.tcpFlags & (kTcpFin | kTcpRst)) != 0;
        d.record.tcp = 1;
    } else {
        d.record.udp = 1;
    }
    d.outcome = FrameOutcome::Packet;
    return d;
}

std::string traceLine(const DecodedFrame& d) {
    char line[64];
    std::snprintf(line, sizeof line, "%d.%d.%d.%d:%d  ->  %d.%d.%d.%d:%d", d.srcBytes[0],
                  d.srcBytes[1], d.srcBytes[2], d.srcBytes[3], int(d.record.srcport), d.dstBytes[0],
                  d.dstBytes[1], d.dstBytes[2], d.dstBytes[3], int(d.record.dstport));
    return line;
}

}  // namespace tessel
