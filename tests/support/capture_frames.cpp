#include "support/capture_frames.h"

#include <arpa/inet.h>

namespace tessel::test {

namespace {
void put16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = std::uint8_t(v >> 8);
    b[at + 1] = std::uint8_t(v);
}
void append16(Bytes& b, std::uint16_t v) {
    b.push_back(std::uint8_t(v >> 8));
    b.push_back(std::uint8_t(v));
}
}  // namespace

Bytes ipPacket(const IpFields& s, const Bytes& payload) {
    Bytes b(std::size_t(s.headerLength), 0);
    b[0] = std::uint8_t((s.version << 4) | ((s.headerLength / 4) & 0x0F));
    int total = s.totalLength >= 0 ? s.totalLength : s.headerLength + int(payload.size());
    put16(b, 2, std::uint16_t(total));
    put16(b, 6, s.fragment);
    b[8] = 64;
    b[9] = s.protocol;
    in_addr a{};
    inet_pton(AF_INET, s.src.c_str(), &a);
    const auto* p = reinterpret_cast<const std::uint8_t*>(&a.s_addr);
    for (int i = 0; i < 4; ++i) b[12 + i] = p[i];
    inet_pton(AF_INET, s.dst.c_str(), &a);
    for (int i = 0; i < 4; ++i) b[16 + i] = p[i];
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

Bytes ipv6Packet(const std::string& src, const std::string& dst, std::uint8_t next,
                 const Bytes& afterHeader) {
    Bytes b(40, 0);
    b[0] = 0x60;
    put16(b, 4, std::uint16_t(afterHeader.size()));
    b[6] = next;
    b[7] = 64;
    inet_pton(AF_INET6, src.c_str(), &b[8]);
    inet_pton(AF_INET6, dst.c_str(), &b[24]);
    b.insert(b.end(), afterHeader.begin(), afterHeader.end());
    return b;
}

Bytes ipv6Extension(std::uint8_t next) { return Bytes{next, 0, 1, 4, 0, 0, 0, 0}; }

Bytes ipv6Fragment(std::uint8_t next, std::uint16_t offsetWord) {
    Bytes b{next, 0, 0, 0, 0, 0, 0, 7};
    put16(b, 2, offsetWord);
    return b;
}

Bytes tcpHeader(std::uint16_t sp, std::uint16_t dp, std::uint8_t flags, int optionBytes) {
    Bytes b(std::size_t(20 + optionBytes), 0);
    put16(b, 0, sp);
    put16(b, 2, dp);
    b[12] = std::uint8_t(((20 + optionBytes) / 4) << 4);
    b[13] = flags;
    put16(b, 14, 65535);
    return b;
}

Bytes udpHeader(std::uint16_t sp, std::uint16_t dp, int payloadBytes) {
    Bytes b(8, 0);
    put16(b, 0, sp);
    put16(b, 2, dp);
    put16(b, 4, std::uint16_t(8 + payloadBytes));
    b.resize(std::size_t(8 + payloadBytes), 0x55);
    return b;
}

Bytes icmpEcho() { return Bytes{8, 0, 0, 0, 0, 1, 0, 1}; }

Bytes ethernet(const Bytes& ip, std::uint16_t etherType) {
    Bytes b{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    append16(b, etherType);
    b.insert(b.end(), ip.begin(), ip.end());
    return b;
}

Bytes ethernetVlan(const Bytes& ip) {
    Bytes b{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    append16(b, 0x8100);
    append16(b, 0x0005);  // VLAN 5
    append16(b, 0x0800);
    b.insert(b.end(), ip.begin(), ip.end());
    return b;
}

Bytes linuxSll(const Bytes& ip) {
    Bytes b(14, 0);
    b[1] = 0;  // packet type: to us
    b[3] = 1;  // ARPHRD_ETHER
    b[5] = 6;  // address length
    append16(b, 0x0800);
    b.insert(b.end(), ip.begin(), ip.end());
    return b;
}

Bytes linuxSll2(const Bytes& ip) {
    Bytes b;
    append16(b, 0x0800);
    b.resize(20, 0);
    b[9] = 1;   // ARPHRD_ETHER (low byte)
    b[11] = 6;  // address length
    b.insert(b.end(), ip.begin(), ip.end());
    return b;
}

Bytes nullLink(const Bytes& ip) {
    Bytes b{2, 0, 0, 0};  // AF_INET in little-endian host order
    b.insert(b.end(), ip.begin(), ip.end());
    return b;
}

Bytes tcpFrame(const std::string& src, const std::string& dst, std::uint16_t sp, std::uint16_t dp,
               std::uint8_t flags, int optionBytes, int dataBytes) {
    IpFields s;
    s.src = src;
    s.dst = dst;
    s.protocol = 6;
    Bytes seg = tcpHeader(sp, dp, flags, optionBytes);
    seg.resize(seg.size() + std::size_t(dataBytes), 0x41);
    return ethernet(ipPacket(s, seg));
}

Bytes udpFrame(const std::string& src, const std::string& dst, std::uint16_t sp, std::uint16_t dp,
               int dataBytes) {
    IpFields s;
    s.src = src;
    s.dst = dst;
    s.protocol = 17;
    return ethernet(ipPacket(s, udpHeader(sp, dp, dataBytes)));
}

}  // namespace tessel::test
