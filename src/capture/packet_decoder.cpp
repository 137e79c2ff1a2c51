#include "capture/packet_decoder.h"

#include <arpa/inet.h>

#include <cstdio>

#include "capture/frame_reader.h"
#include "capture/ip_numbers.h"
#include "capture/link_layers.h"
#include "core/address_text.h"

namespace tessel {

namespace {

// The total-length field read with its bytes swapped: 0x2800 is a datagram of exactly 40 bytes,
// a TCP segment without options or data (bare ACKs and the like), which is not recorded.
constexpr std::uint16_t kBareSegmentWord = 0x2800;
// The IPv6 counterpart: a payload of exactly a 20-byte TCP header.
constexpr std::uint16_t kBareSegmentPayload = 20;
constexpr std::size_t kIPv6HeaderLength = 40;
// IPv6 extension headers walked before the transport, at most.
constexpr int kMaxExtensionHeaders = 8;

DecodedFrame outcome(FrameOutcome o) {
    DecodedFrame d;
    d.outcome = o;
    return d;
}

std::uint16_t swapped(std::uint16_t v) { return std::uint16_t((v >> 8) | (v << 8)); }

// Ports and TCP flags from the transport header at `transport`, which must lie inside both the
// captured bytes and the datagram (`datagramEnd` bytes from the IP header); bytes past it are
// link padding.
DecodedFrame readTransport(DecodedFrame d, std::uint8_t protocol, const FrameReader& ip,
                           std::size_t transport, std::size_t datagramEnd, bool bareSegment) {
    d.recorded = true;
    if (protocol == kProtoIcmp || protocol == kProtoIcmpv6) {
        d.record.icmp = 1;
        d.outcome = FrameOutcome::Packet;
        return d;
    }
    const std::size_t needed = protocol == kProtoTcp ? 14 : 4;
    if (datagramEnd < transport + needed) return outcome(FrameOutcome::Malformed);
    FrameReader header = ip.from(transport);
    if (!header.has(0, needed)) return outcome(FrameOutcome::Short);
    std::uint16_t srcport = 0, dstport = 0;
    header.be16(0, &srcport);
    header.be16(2, &dstport);
    d.record.srcport = srcport;
    d.record.dstport = dstport;
    if (protocol == kProtoTcp) {
        header.u8(13, &d.tcpFlags);
        d.startsBeam = (d.tcpFlags & kTcpSyn) != 0;
        d.endsBeam = (d.tcpFlags & (kTcpFin | kTcpRst)) != 0;
        if (bareSegment) d.recorded = false;
        d.record.tcp = 1;
    } else {
        d.record.udp = 1;
    }
    d.outcome = FrameOutcome::Packet;
    return d;
}

DecodedFrame decodeIPv4(const FrameReader& ip) {
    if (!ip.has(0, 20)) return outcome(FrameOutcome::Short);
    DecodedFrame d;
    std::uint8_t versionAndLength = 0, protocol = 0;
    std::uint16_t totalLength = 0, word = 0, fragment = 0;
    ip.u8(0, &versionAndLength);
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

    // A total length of 0 is a segmentation offload's giant datagram (BIG TCP): its length is
    // what was captured.
    std::size_t datagram = totalLength;
    if (totalLength == 0) {
        datagram = ip.length();
        word = swapped(std::uint16_t(datagram));
    }
    const std::size_t headerLength = std::size_t(versionAndLength & 0x0F) * 4;
    if (headerLength < 20 || datagram < headerLength) return outcome(FrameOutcome::Malformed);
    if ((fragment & 0x1FFF) != 0) return outcome(FrameOutcome::Fragment);

    d.record.size = word;
    return readTransport(d, protocol, ip, headerLength, datagram, word == kBareSegmentWord);
}

DecodedFrame decodeIPv6(const FrameReader& ip) {
    if (!ip.has(0, kIPv6HeaderLength)) return outcome(FrameOutcome::Short);
    DecodedFrame d;
    d.version = 6;
    std::uint16_t payload = 0;
    std::uint8_t next = 0, src[16], dst[16];
    ip.be16(4, &payload);
    ip.u8(6, &next);
    ip.bytes(8, 16, src);
    ip.bytes(24, 16, dst);
    char text[INET6_ADDRSTRLEN];
    d.record.src = inet_ntop(AF_INET6, src, text, sizeof text) ? text : "";
    d.record.dst = inet_ntop(AF_INET6, dst, text, sizeof text) ? text : "";
    if (d.record.src == d.record.dst) return outcome(FrameOutcome::SameAddresses);

    // A payload length of 0 is a jumbogram or a segmentation offload's giant datagram (BIG
    // TCP): the datagram is what was captured.
    constexpr std::uint8_t kHopByHop = 0, kRouting = 43, kFragment = 44, kDestination = 60;
    const std::size_t datagram = payload == 0 ? ip.length() : kIPv6HeaderLength + payload;
    std::size_t at = kIPv6HeaderLength;
    for (int i = 0;; ++i) {
        if (next == kProtoTcp || next == kProtoUdp || next == kProtoIcmpv6) break;
        if (i == kMaxExtensionHeaders) return outcome(FrameOutcome::Malformed);
        std::uint8_t following = 0, length = 0;
        if (next == kHopByHop || next == kRouting || next == kDestination) {
            if (!ip.u8(at, &following) || !ip.u8(at + 1, &length))
                return outcome(FrameOutcome::Short);
            at += (std::size_t(length) + 1) * 8;
        } else if (next == kFragment) {
            std::uint16_t offset = 0;
            if (!ip.u8(at, &following) || !ip.be16(at + 2, &offset))
                return outcome(FrameOutcome::Short);
            if ((offset & 0xFFF8) != 0) return outcome(FrameOutcome::Fragment);
            at += 8;
        } else {
            return outcome(FrameOutcome::OtherProtocol);  // AH, ESP, no next header, others
        }
        if (at > datagram) return outcome(FrameOutcome::Malformed);
        next = following;
    }
    d.record.size = swapped(std::uint16_t(kIPv6HeaderLength + payload));
    // A UDP length below its own header's 8 bytes is bogus, except 0, which says "as long as
    // the datagram"; that cannot be told past 65,535 bytes without a jumbo option (as tshark).
    std::uint16_t udpLength = 0;
    if (next == kProtoUdp && ip.be16(at + 4, &udpLength) && udpLength < 8 &&
        (udpLength != 0 || datagram - at > 0xFFFF))
        return outcome(FrameOutcome::Malformed);
    return readTransport(d, next, ip, at, datagram,
                         next == kProtoTcp && payload == kBareSegmentPayload);
}

}  // namespace

DecodedFrame decodeFrame(int linkType, const std::uint8_t* bytes, std::size_t length) {
    const FrameReader frame(bytes, length);
    const NetworkStart start = locateNetwork(linkType, frame);
    switch (start.result) {
        case NetworkStart::Result::Found:
            break;
        case NetworkStart::Result::NotIP:
            return outcome(FrameOutcome::NotIP);
        case NetworkStart::Result::UnsupportedLink:
            return outcome(FrameOutcome::UnsupportedLink);
        default:
            return outcome(FrameOutcome::Short);
    }
    // From here on offsets are relative to the IP header.
    const FrameReader ip = frame.from(start.offset);
    std::uint8_t first = 0;
    if (!ip.u8(0, &first)) return outcome(FrameOutcome::Short);
    const int version = first >> 4;
    // The link layer's word and the header's own must agree.
    if (start.version != 0 && start.version != version) return outcome(FrameOutcome::NotIP);
    if (version == 4) return decodeIPv4(ip);
    if (version == 6) return decodeIPv6(ip);
    return outcome(FrameOutcome::NotIP);
}

std::string traceLine(const DecodedFrame& d) {
    return addressWithPort(d.record.src, d.record.srcport) + "  ->  " +
           addressWithPort(d.record.dst, d.record.dstport);
}

}  // namespace tessel
