#include "capture/link_layers.h"

#include <pcap/pcap.h>

#include <cstdint>

#include "capture/ip_numbers.h"

namespace tessel {

namespace {

using Result = NetworkStart::Result;

// Encapsulations inside one frame, at most (tags, label stacks, shims, inner Ethernet).
constexpr int kMaxLayers = 8;
// Link-layer TLVs of one NFLOG frame, at most.
constexpr int kMaxNflogTlvs = 64;

constexpr std::uint16_t kIPv4 = kEtherTypeIPv4, kIPv6 = kEtherTypeIPv6;
constexpr std::uint16_t kVlan = 0x8100, kQinQ = 0x88A8, kQinQOld = 0x9100;
constexpr std::uint16_t kMplsUnicast = 0x8847, kMplsMulticast = 0x8848;
constexpr std::uint16_t kPppoeSession = 0x8864;
constexpr std::uint16_t kMacsec = 0x88E5;
constexpr std::uint16_t kNsh = 0x894F;
constexpr std::uint16_t kPppIPv4 = 0x0021, kPppIPv6 = 0x0057;
constexpr std::uint16_t kPppMplsUnicast = 0x0281, kPppMplsMulticast = 0x0283;
// Largest value of an 802.3 length field; above it the field is an EtherType.
constexpr std::uint16_t kMaxLength8023 = 1500;

NetworkStart found(std::size_t offset, int version) { return {Result::Found, offset, version}; }
NetworkStart verdict(Result r) { return {r, 0, 0}; }

NetworkStart afterEtherType(const FrameReader& f, std::uint16_t type, std::size_t at, int depth);

// An 802.2 LLC header with a SNAP extension (AA AA 03, OUI, EtherType) at `at`.
NetworkStart afterLlc(const FrameReader& f, std::size_t at, int depth) {
    std::uint8_t dsap = 0, ssap = 0, control = 0;
    std::uint16_t type = 0;
    if (!f.u8(at, &dsap) || !f.u8(at + 1, &ssap) || !f.u8(at + 2, &control))
        return verdict(Result::Short);
    if (dsap != 0xAA || ssap != 0xAA || control != 0x03) return verdict(Result::NotIP);
    if (!f.be16(at + 6, &type)) return verdict(Result::Short);
    return afterEtherType(f, type, at + 8, depth + 1);
}

// A PPP protocol field at `at` (two bytes, or one when compressed).
NetworkStart afterPppProtocol(const FrameReader& f, std::size_t at) {
    std::uint8_t first = 0;
    if (!f.u8(at, &first)) return verdict(Result::Short);
    std::uint16_t protocol = first;
    std::size_t length = 1;
    if ((first & 1) == 0) {  // an uncompressed field: its first byte is even
        if (!f.be16(at, &protocol)) return verdict(Result::Short);
        length = 2;
    }
    if (protocol == kPppIPv4) return found(at + length, 4);
    if (protocol == kPppIPv6) return found(at + length, 6);
    if (protocol == kPppMplsUnicast || protocol == kPppMplsMulticast)
        return afterEtherType(f, kMplsUnicast, at + length, 1);
    return verdict(Result::NotIP);
}

// An Ethernet frame (destination, source, EtherType or 802.3 length) at `at`.
NetworkStart afterEthernetHeader(const FrameReader& f, std::size_t at, int depth) {
    std::uint16_t type = 0;
    if (!f.be16(at + 12, &type)) return verdict(Result::Short);
    if (type <= kMaxLength8023) return afterLlc(f, at + 14, depth);
    return afterEtherType(f, type, at + 14, depth);
}

NetworkStart afterEtherType(const FrameReader& f, std::uint16_t type, std::size_t at, int depth) {
    if (depth > kMaxLayers) return verdict(Result::NotIP);
    switch (type) {
        case kIPv4:
            return found(at, 4);
        case kIPv6:
            return found(at, 6);
        case kVlan:
        case kQinQ:
        case kQinQOld: {
            std::uint16_t inner = 0;
            if (!f.be16(at + 2, &inner)) return verdict(Result::Short);
            return afterEtherType(f, inner, at + 4, depth + 1);
        }
        case kMplsUnicast:
        case kMplsMulticast: {
            // Labels until the bottom of the stack; what follows says its IP version itself.
            for (int label = 0; label < kMaxLayers; ++label) {
                std::uint32_t entry = 0;
                if (!f.be32(at, &entry)) return verdict(Result::Short);
                at += 4;
                if (entry & 0x100) {
                    std::uint8_t first = 0;
                    if (!f.u8(at, &first)) return verdict(Result::Short);
                    if ((first >> 4) == 4) return found(at, 4);
                    if ((first >> 4) == 6) return found(at, 6);
                    return verdict(Result::NotIP);
                }
            }
            return verdict(Result::NotIP);
        }
        case kPppoeSession:
            return afterPppProtocol(f, at + 6);
        case kMacsec: {
            // SecTAG: TCI/AN, short length, packet number, and the SCI when the SC bit is set.
            // Encrypted (E) or changed (C) user data cannot be read.
            std::uint8_t tci = 0;
            if (!f.u8(at, &tci)) return verdict(Result::Short);
            if (tci & 0x0C) return verdict(Result::NotIP);
            const std::size_t tag = 6 + ((tci & 0x20) ? 8 : 0);
            std::uint16_t inner = 0;
            if (!f.be16(at + tag, &inner)) return verdict(Result::Short);
            return afterEtherType(f, inner, at + tag + 2, depth + 1);
        }
        case kNsh: {
            // Base header: version, flags, TTL and the header's length in 4-byte words; the
            // next protocol in its fourth byte.
            std::uint16_t word = 0;
            std::uint8_t next = 0;
            if (!f.be16(at, &word) || !f.u8(at + 3, &next)) return verdict(Result::Short);
            const std::size_t length = std::size_t(word & 0x3F) * 4;
            if (length < 8) return verdict(Result::NotIP);
            if (next == 1) return found(at + length, 4);
            if (next == 2) return found(at + length, 6);
            if (next == 3) return afterEthernetHeader(f, at + length, depth + 1);
            return verdict(Result::NotIP);
        }
        default:
            return verdict(Result::NotIP);
    }
}

// BSD loopback: the address family, in the capturing host's order (NULL) or network order
// (LOOP); files travel between hosts, so either order is taken.
NetworkStart loopback(const FrameReader& f) {
    std::uint32_t family = 0;
    if (!f.le32(0, &family)) return verdict(Result::Short);
    if (family > 0xFFFF) family = (family >> 24) | ((family >> 8) & 0xFF00);
    if (family == 2) return found(4, 4);
    // AF_INET6 of Linux, NetBSD and OpenBSD, FreeBSD, and macOS.
    if (family == 10 || family == 24 || family == 28 || family == 30) return found(4, 6);
    return verdict(Result::NotIP);
}

NetworkStart ppp(const FrameReader& f, bool serial) {
    std::uint8_t address = 0, control = 0;
    if (!f.u8(0, &address)) return verdict(Result::Short);
    if (serial && (address == 0x0F || address == 0x8F)) {  // Cisco HDLC framing on a PPP link
        std::uint16_t type = 0;
        if (!f.be16(2, &type)) return verdict(Result::Short);
        return afterEtherType(f, type, 4, 0);
    }
    if (address == 0xFF && f.u8(1, &control) && control == 0x03) return afterPppProtocol(f, 2);
    return afterPppProtocol(f, 0);
}

// Linux netfilter log: family, version, resource id, then TLVs (length and type in this host's
// order, as libpcap hands them over, each padded to 4 bytes); the packet is the payload TLV.
NetworkStart nflog(const FrameReader& f) {
    constexpr std::uint16_t kPayload = 9;
    std::uint8_t family = 0;
    if (!f.u8(0, &family)) return verdict(Result::Short);
    std::size_t at = 4;
    for (int i = 0; i < kMaxNflogTlvs; ++i) {
        std::uint16_t length = 0, type = 0;
        if (!f.le16(at, &length) || !f.le16(at + 2, &type)) return verdict(Result::Short);
        if (length < 4) return verdict(Result::NotIP);
        if ((type & 0x7FFF) == kPayload) {
            if (family == 2) return found(at + 4, 4);
            if (family == 10) return found(at + 4, 6);
            return verdict(Result::NotIP);
        }
        at += (std::size_t(length) + 3) & ~std::size_t(3);
    }
    return verdict(Result::NotIP);
}

// ARCNET: source, destination (Linux: and a 2-byte offset), the protocol, and for the protocols
// of RFC 1201 a split flag and a sequence number (an exception frame repeats the header).
NetworkStart arcnet(const FrameReader& f, bool linux) {
    constexpr std::uint8_t kIPOld = 240, kARPOld = 241, kDiagnose = 128, kIP = 212, kIPv6 = 196;
    const std::size_t protocolAt = linux ? 4 : 2;
    std::uint8_t protocol = 0;
    if (!f.u8(protocolAt, &protocol)) return verdict(Result::Short);
    std::size_t header = protocolAt + 1;
    if (protocol != kIPOld && protocol != kARPOld && protocol != kDiagnose) {
        header = protocolAt + 4;
        std::uint8_t split = 0;
        if (!linux && f.u8(protocolAt + 1, &split) && split == 0xFF) {
            header = protocolAt + 8;
            if (!f.u8(protocolAt + 4, &protocol)) return verdict(Result::Short);
        }
    }
    if (!f.has(0, header)) return verdict(Result::Short);
    if (protocol == kIPOld || protocol == kIP) return found(header, 4);
    if (protocol == kIPv6) return found(header, 6);
    return verdict(Result::NotIP);
}

// 802.11 data frames: the header (longer between two access points, with QoS and with HT
// control), unprotected, then LLC/SNAP. `padded`: the header is padded to 4 bytes.
NetworkStart ieee80211(const FrameReader& f, std::size_t at, bool padded) {
    std::uint8_t control = 0, flags = 0;
    if (!f.u8(at, &control) || !f.u8(at + 1, &flags)) return verdict(Result::Short);
    const int type = (control >> 2) & 3, subtype = control >> 4;
    if (type != 2 || (subtype & 0x4)) return verdict(Result::NotIP);  // not data, or no body
    if (flags & 0x40) return verdict(Result::NotIP);                  // protected
    std::size_t header = (flags & 0x03) == 0x03 ? 30 : 24;
    if (subtype & 0x8) {
        header += 2;                    // QoS control
        if (flags & 0x80) header += 4;  // HT control
    }
    if (padded) header = (header + 3) & ~std::size_t(3);
    return afterLlc(f, at + header, 0);
}

// Radiotap: version 0, its length, the present bitmaps (chained by bit 31); the Flags field
// (present bit 1, after the 8-byte, 8-aligned TSFT of bit 0) says whether the 802.11 header is
// padded.
NetworkStart radiotap(const FrameReader& f) {
    constexpr int kMaxPresentWords = 8;
    std::uint16_t length = 0;
    std::uint32_t present = 0;
    if (!f.le16(2, &length) || !f.le32(4, &present)) return verdict(Result::Short);
    std::size_t fields = 8;
    std::uint32_t word = present;
    for (int i = 1; (word & 0x80000000u) && i < kMaxPresentWords; ++i, fields += 4)
        if (!f.le32(fields, &word)) return verdict(Result::Short);
    bool padded = false;
    if (present & 0x2) {
        std::size_t at = fields;
        if (present & 0x1) at = ((at + 7) & ~std::size_t(7)) + 8;
        std::uint8_t flags = 0;
        if (at < length && f.u8(at, &flags)) padded = (flags & 0x20) != 0;
    }
    return ieee80211(f, length, padded);
}

}  // namespace

NetworkStart locateNetwork(int linkType, const FrameReader& f) {
    std::uint16_t type = 0;
    std::uint8_t family = 0;
    switch (linkType) {
        case DLT_EN10MB:
            return afterEthernetHeader(f, 0, 0);
        case DLT_LINUX_SLL:
            if (!f.be16(14, &type)) return verdict(Result::Short);
            return afterEtherType(f, type, 16, 0);
#ifdef DLT_LINUX_SLL2
        case DLT_LINUX_SLL2:
            if (!f.be16(0, &type) || !f.has(0, 20)) return verdict(Result::Short);
            return afterEtherType(f, type, 20, 0);
#endif
        case DLT_NULL:
        case DLT_LOOP:
            return loopback(f);
        case DLT_RAW:
            return found(0, 0);
#ifdef DLT_IPV4
        case DLT_IPV4:
            return found(0, 4);
#endif
#ifdef DLT_IPV6
        case DLT_IPV6:
            return found(0, 6);
#endif
        case DLT_PPP:
            return ppp(f, false);
        case DLT_PPP_SERIAL:
            return ppp(f, true);
        case DLT_C_HDLC:
            if (!f.be16(2, &type)) return verdict(Result::Short);
            return afterEtherType(f, type, 4, 0);
#ifdef DLT_NFLOG
        case DLT_NFLOG:
            return nflog(f);
#endif
#ifdef DLT_IPNET
        case DLT_IPNET:
            // Solaris: version, family (2 IPv4, 26 IPv6), and 22 bytes more.
            if (!f.u8(1, &family) || !f.has(0, 24)) return verdict(Result::Short);
            if (family == 2) return found(24, 4);
            if (family == 26) return found(24, 6);
            return verdict(Result::NotIP);
#endif
#ifdef DLT_IPOIB
        case DLT_IPOIB:
            // A 40-byte pseudo header (the hardware address), then the EtherType and 2 spare
            // bytes.
            if (!f.be16(40, &type) || !f.has(0, 44)) return verdict(Result::Short);
            return afterEtherType(f, type, 44, 0);
#endif
        case DLT_ARCNET:
            return arcnet(f, false);
        case DLT_ARCNET_LINUX:
            return arcnet(f, true);
        case DLT_IEEE802_11:
            return ieee80211(f, 0, false);
        case DLT_IEEE802_11_RADIO:
            return radiotap(f);
        default:
            return verdict(Result::UnsupportedLink);
    }
}

}  // namespace tessel
