#pragma once
// Crafted frames for the capture tests and the fuzz seed corpus.
#include <cstdint>
#include <string>
#include <vector>

namespace tessel::test {

using Bytes = std::vector<std::uint8_t>;

struct IpFields {
    std::string src = "10.0.0.1";
    std::string dst = "10.0.0.2";
    std::uint8_t protocol = 6;
    int headerLength = 20;       // multiple of 4; options are zero bytes
    int totalLength = -1;        // -1: header + payload
    std::uint16_t fragment = 0;  // flags and offset word
    std::uint8_t version = 4;
};

// IPv4 header followed by `payload`.
Bytes ipPacket(const IpFields& ip, const Bytes& payload);
// IPv6 header (next header `next`) followed by `afterHeader`: extension headers and transport.
Bytes ipv6Packet(const std::string& src, const std::string& dst, std::uint8_t next,
                 const Bytes& afterHeader);
// An 8-byte extension header (hop-by-hop, routing or destination options) naming `next`.
Bytes ipv6Extension(std::uint8_t next);
// A fragment header naming `next`, with its offset-and-flags word.
Bytes ipv6Fragment(std::uint8_t next, std::uint16_t offsetWord);
// A TCP header of 20 + optionBytes bytes.
Bytes tcpHeader(std::uint16_t srcPort, std::uint16_t dstPort, std::uint8_t flags,
                int optionBytes = 0);
Bytes udpHeader(std::uint16_t srcPort, std::uint16_t dstPort, int payloadBytes = 0);
Bytes icmpEcho();

// Link layers.
Bytes ethernet(const Bytes& ip, std::uint16_t etherType = 0x0800);
Bytes ethernetVlan(const Bytes& ip);
Bytes linuxSll(const Bytes& ip);
Bytes linuxSll2(const Bytes& ip);
Bytes nullLink(const Bytes& ip);

// Shorthands: Ethernet + IPv4 + TCP/UDP/ICMP.
Bytes tcpFrame(const std::string& src, const std::string& dst, std::uint16_t sp, std::uint16_t dp,
               std::uint8_t flags, int optionBytes = 0, int dataBytes = 0);
Bytes udpFrame(const std::string& src, const std::string& dst, std::uint16_t sp, std::uint16_t dp,
               int dataBytes = 0);

}  // namespace tessel::test
