#include "capture/adapter_inference.h"

#include <pcap/pcap.h>

#include <cstdio>

#include "capture/frame_reader.h"
#include "capture/frame_source.h"
#include "capture/packet_decoder.h"

namespace tessel {

namespace {

constexpr const char* kDefaultNetmask = "255.255.255.0";

std::uint32_t fromBytes(const std::uint8_t b[4]) {
    return (std::uint32_t(b[0]) << 24) | (std::uint32_t(b[1]) << 16) | (std::uint32_t(b[2]) << 8) |
           std::uint32_t(b[3]);
}

std::string dotted(std::uint32_t a) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", a >> 24, (a >> 16) & 255, (a >> 8) & 255,
                  a & 255);
    return text;
}

bool parseDotted(const std::string& text, std::uint32_t* out) {
    unsigned a, b, c, d;
    char tail;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4) return false;
    if (a > 255 || b > 255 || c > 255 || d > 255) return false;
    *out = (a << 24) | (b << 16) | (c << 8) | d;
    return true;
}

// A link-layer address of up to 8 bytes as one number (never 0 for a real one: the length is
// folded in).
std::uint64_t linkAddress(const FrameReader& frame, std::size_t offset, std::size_t length) {
    std::uint64_t v = length;
    for (std::size_t i = 0; i < length && i < 8; ++i) {
        std::uint8_t b = 0;
        if (!frame.u8(offset + i, &b)) return 0;
        v = (v << 8) | b;
    }
    return v;
}

constexpr std::uint16_t kSllOutgoing = 4;

}  // namespace

void cAdapterInference::addFrame(int linkType, const std::uint8_t* bytes, std::size_t length) {
    if (frames_ >= kMaxFrames) return;
    ++frames_;
    const FrameReader frame(bytes, length);
    Hop hop;
    std::uint16_t type = 0;
    std::size_t ethertypeAt = 12;
    if (linkType == DLT_EN10MB) {
        hop.dstLink = linkAddress(frame, 0, 6);
        hop.srcLink = linkAddress(frame, 6, 6);
        if (frame.be16(12, &type) && type == 0x8100) ethertypeAt = 16;
        // ARP: the sender's hardware and protocol addresses say who stands behind a link address.
        if (frame.be16(ethertypeAt, &type) && type == 0x0806) {
            const FrameReader arp = frame.from(ethertypeAt + 2);
            std::uint8_t ip[4];
            const std::uint64_t sender = linkAddress(arp, 8, 6);
            if (sender && arp.bytes(14, 4, ip)) ++sendersByLink_[sender][fromBytes(ip)];
            return;
        }
    } else if (linkType == DLT_LINUX_SLL) {
        std::uint16_t packetType = 0, addressLength = 0;
        if (frame.be16(0, &packetType) && frame.be16(4, &addressLength) &&
            packetType != kSllOutgoing && addressLength <= 8)
            hop.srcLink = linkAddress(frame, 6, addressLength);
    }
    const DecodedFrame d = decodeFrame(linkType, bytes, length);
    if (d.outcome != FrameOutcome::Packet || d.version != 4) return;  // the rule is IPv4's
    hop.src = fromBytes(d.srcBytes);
    hop.dst = fromBytes(d.dstBytes);
    for (std::uint32_t a : {hop.src, hop.dst}) {
        auto found = addresses_.find(a);
        if (found == addresses_.end()) addresses_[a].order = seenOrder();
    }
    addresses_[hop.src].peers[hop.dst] = true;
    addresses_[hop.dst].peers[hop.src] = true;
    if (hop.srcLink) ++sendersByLink_[hop.srcLink][hop.src];
    hops_.push_back(hop);
}

std::size_t cAdapterInference::seenOrder() { return order_++; }

AdapterGuess cAdapterInference::guess(const std::string& host, const std::string& netmask,
                                      const std::string& gateway) const {
    AdapterGuess g;
    g.netmask = netmask.empty() ? kDefaultNetmask : netmask;
    g.host = host;
    g.hostReason = "given";
    if (host.empty()) {
        const Seen* best = nullptr;
        std::uint32_t bestAddress = 0;
        for (const auto& [address, seen] : addresses_) {
            if (!best || seen.peers.size() > best->peers.size() ||
                (seen.peers.size() == best->peers.size() && seen.order < best->order)) {
                best = &seen;
                bestAddress = address;
            }
        }
        if (!best) return g;
        g.host = dotted(bestAddress);
        g.hostReason =
            "the address with the most peers (" + std::to_string(best->peers.size()) + ")";
    }
    g.gateway = gateway;
    g.gatewayReason = "given";
    if (!gateway.empty()) return g;

    std::uint32_t self = 0, mask = 0;
    if (!parseDotted(g.host, &self) || !parseDotted(g.netmask, &mask)) return g;
    auto inSubnet = [&](std::uint32_t a) { return (a & mask) == (self & mask); };
    // The link address on the far side of this host's traffic with the world beyond its subnet.
    std::map<std::uint64_t, int> farLinks;
    for (const Hop& h : hops_) {
        if (h.src == self && !inSubnet(h.dst) && h.dstLink) ++farLinks[h.dstLink];
        if (h.dst == self && !inSubnet(h.src) && h.srcLink) ++farLinks[h.srcLink];
    }
    std::uint64_t link = 0;
    int most = 0;
    for (const auto& [address, count] : farLinks)
        if (count > most) link = address, most = count;
    g.gatewayReason = "none: no traffic beyond the subnet through one link-layer address";
    if (!link) return g;
    auto senders = sendersByLink_.find(link);
    std::uint32_t best = 0;
    int sent = 0;
    if (senders != sendersByLink_.end())
        for (const auto& [address, count] : senders->second)
            if (address != self && inSubnet(address) && count > sent) best = address, sent = count;
    g.gatewayReason = "none: the next hop beyond the subnet never sent from its own address";
    if (!sent) return g;
    g.gateway = dotted(best);
    g.gatewayReason = "the next hop of " + std::to_string(most) + " frames beyond the subnet";
    return g;
}

AdapterGuess guessAdapter(cFrameSource& source, const std::string& host, const std::string& netmask,
                          const std::string& gateway) {
    cAdapterInference inference;
    const int linkType = source.linkType();
    source.preview([&inference, linkType](const pcap_pkthdr& header, const u_char* data) {
        inference.addFrame(linkType, data, header.caplen);
        return !inference.full();
    });
    return inference.guess(host, netmask, gateway);
}

}  // namespace tessel
