#include "support/odd_captures.h"

#include <pcap/pcap.h>

namespace tessel::test {

namespace {

constexpr std::uint8_t kSyn = 0x02, kSynAck = 0x12, kAck = 0x10, kFinAck = 0x11, kRst = 0x04,
                       kPshAck = 0x18;

IpFields ipFields(const std::string& src, const std::string& dst, std::uint8_t protocol) {
    IpFields s;
    s.src = src;
    s.dst = dst;
    s.protocol = protocol;
    return s;
}

Bytes tcp(const std::string& src, const std::string& dst, std::uint16_t sp, std::uint16_t dp,
          std::uint8_t flags, int optionBytes = 0, int dataBytes = 0) {
    Bytes seg = tcpHeader(sp, dp, flags, optionBytes);
    seg.resize(seg.size() + std::size_t(dataBytes), 0x41);
    return ipPacket(ipFields(src, dst, 6), seg);
}

Bytes udp(const std::string& src, const std::string& dst, std::uint16_t sp, std::uint16_t dp,
          int dataBytes = 32) {
    return ipPacket(ipFields(src, dst, 17), udpHeader(sp, dp, dataBytes));
}

Bytes icmp(const std::string& src, const std::string& dst) {
    return ipPacket(ipFields(src, dst, 1), icmpEcho());
}

// An IPv6 header (next header TCP) with a SYN behind it: nothing here may read it as IPv4.
Bytes ipv6Syn() {
    Bytes b(40, 0);
    b[0] = 0x60;
    b[5] = 20;  // payload length
    b[6] = 6;   // next header
    b[7] = 64;
    b[23] = 1;  // ::1 -> ::2
    b[39] = 2;
    Bytes seg = tcpHeader(40000, 80, kSyn);
    b.insert(b.end(), seg.begin(), seg.end());
    return b;
}

// An ARP request or reply for 10.0.0.2 (as it follows an Ethernet header).
Bytes arp(bool reply) {
    Bytes b{0, 1, 8, 0, 6, 4, 0, std::uint8_t(reply ? 2 : 1)};
    Bytes tail{0, 1, 2, 3, 4, 5, 10, 0, 0, 1, 0, 0, 0, 0, 0, 0, 10, 0, 0, 2};
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
}

Bytes padTo(Bytes b, std::size_t size) {
    if (b.size() < size) b.resize(size, 0);
    return b;
}

CaptureFrame whole(Bytes b) { return CaptureFrame{std::move(b), 0}; }

CaptureFrame cut(Bytes b, std::size_t captured) {
    auto wire = std::uint32_t(b.size());
    b.resize(captured);
    return CaptureFrame{std::move(b), wire};
}

Bytes withIp(Bytes ip, std::size_t at, std::uint8_t value) {
    ip[at] = value;
    return ip;
}

Bytes withTotal(Bytes ip, std::uint16_t total) {
    ip[2] = std::uint8_t(total >> 8);
    ip[3] = std::uint8_t(total);
    return ip;
}

Bytes withFragment(Bytes ip, std::uint16_t word) {
    ip[6] = std::uint8_t(word >> 8);
    ip[7] = std::uint8_t(word);
    return ip;
}

Bytes loopLink(const Bytes& ip, bool bigEndian, std::uint32_t family = 2) {
    Bytes b(4, 0);
    for (int i = 0; i < 4; ++i)
        b[std::size_t(bigEndian ? 3 - i : i)] = std::uint8_t(family >> (8 * i));
    b.insert(b.end(), ip.begin(), ip.end());
    return b;
}

Bytes vlanTagged(const Bytes& payload, std::uint16_t outer, std::uint16_t inner) {
    Bytes b{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    for (std::uint16_t w : {outer, std::uint16_t(0x0005), inner}) {
        b.push_back(std::uint8_t(w >> 8));
        b.push_back(std::uint8_t(w));
    }
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

const std::string A = "10.0.0.1", B = "10.0.0.2";

// The same three frames on every link type: a SYN with a 4-byte option (a beam and a record),
// a UDP datagram (a record) and a third frame: an IPv6 SYN (a beam; a bare segment, so no
// record) where the link carries IPv6, a frame that is not IP otherwise.
template <typename Wrap>
std::vector<CaptureFrame> linkTrio(Wrap wrap, const Bytes& third) {
    return {whole(wrap(tcp(A, B, 1025, 80, kSyn, 4))), whole(wrap(udp(A, B, 53, 1025))),
            whole(third)};
}

}  // namespace

std::vector<CraftedCapture> craftedCaptures() {
    std::vector<CraftedCapture> list;
    auto add = [&list](const char* file, int link, std::vector<CaptureFrame> frames,
                       int snap = 65535) {
        list.push_back(CraftedCapture{file, link, snap, std::move(frames)});
    };

    // A whole TCP session: the responder's FIN comes first and must not end the beam.
    add("eth_tcp_session.pcap", DLT_EN10MB,
        {whole(ethernet(tcp(A, B, 1025, 80, kSyn))),
         whole(ethernet(tcp(B, A, 80, 1025, kSynAck, 4))),
         whole(padTo(ethernet(tcp(A, B, 1025, 80, kAck)), 60)),  // link padding: still 40 bytes
         whole(ethernet(tcp(A, B, 1025, 80, kPshAck, 0, 100))),
         whole(ethernet(tcp(B, A, 80, 1025, kFinAck))),
         whole(ethernet(tcp(A, B, 1025, 80, kFinAck))),
         whole(ethernet(tcp(A, B, 1026, 443, kSyn, 20))),
         whole(ethernet(tcp(A, B, 1026, 443, kRst)))});

    // UDP and ICMP are recorded; same addresses and IGMP have no effect.
    add("eth_udp_icmp.pcap", DLT_EN10MB,
        {whole(ethernet(udp(A, B, 53, 1025, 32))), whole(ethernet(icmp(A, B))),
         whole(ethernet(udp(A, A, 7, 7))),
         whole(ethernet(ipPacket(ipFields(A, B, 2), Bytes(8, 0))))});

    // Snapshot length 42: a UDP datagram keeps its ports, a TCP segment loses its flags.
    add("truncated_snapshot.pcap", DLT_EN10MB,
        {cut(ethernet(udp(A, B, 53, 1025, 100)), 42), cut(ethernet(tcp(A, B, 1025, 80, kSyn)), 42),
         cut(ethernet(icmp(A, B)), 34), cut(ethernet(icmp(A, B)), 33),
         cut(ethernet(udp(A, B, 53, 1025)), 10)},
        42);

    // IP options move the ports: 24 and 60 byte headers.
    {
        IpFields s = ipFields(A, B, 6);
        s.headerLength = 24;
        Bytes synWithOptions = ipPacket(s, tcpHeader(2000, 22, kSyn));
        IpFields u = ipFields(A, B, 17);
        u.headerLength = 60;
        Bytes udpLongHeader = ipPacket(u, udpHeader(5353, 5354, 4));
        add("ip_options.pcap", DLT_EN10MB,
            {whole(ethernet(synWithOptions)), whole(ethernet(udpLongHeader)),
             whole(ethernet(withTotal(udpLongHeader, 40)))});
    }

    // The first fragment has the ports; later ones carry data that looks like a SYN.
    {
        Bytes first = withFragment(udp(A, B, 4000, 4001, 200), 0x2000);
        Bytes later = withFragment(udp(A, B, 4000, 4001, 200), 0x0019);
        Bytes tcpLater = withFragment(tcp(A, B, 9, 9, kSyn, 0, 20), 0x0003);
        add("fragments.pcap", DLT_EN10MB,
            {whole(ethernet(first)), whole(ethernet(later)), whole(ethernet(tcpLater))});
    }

    add("vlan.pcap", DLT_EN10MB,
        {whole(ethernetVlan(tcp(A, B, 1030, 8080, kSyn, 4))),
         whole(vlanTagged(arp(false), 0x8100, 0x0806)),
         whole(vlanTagged(udp(A, B, 53, 1025), 0x88A8, 0x0800))});

    add("arp.pcap", DLT_EN10MB,
        {whole(padTo(ethernet(arp(false), 0x0806), 60)),
         whole(padTo(ethernet(arp(true), 0x0806), 60))});

    // IPv6, and an IPv4 ethertype in front of an IPv6 header.
    add("ipv6.pcap", DLT_EN10MB,
        {whole(ethernet(ipv6Syn(), 0x86DD)), whole(ethernet(ipv6Syn(), 0x0800))});

    // Header lengths that contradict each other or the captured bytes.
    {
        Bytes u = udp(A, B, 53, 1025, 32);
        IpFields longHeader = ipFields(A, B, 17);
        longHeader.headerLength = 60;
        add("bad_ip_header_length.pcap", DLT_EN10MB,
            {whole(ethernet(withIp(u, 0, 0x44))),  // IHL 4: 16 bytes
             whole(ethernet(withIp(u, 0, 0x40))),  // IHL 0
             whole(ethernet(withTotal(u, 19))),    // shorter than its own header
             whole(ethernet(withTotal(u, 0))),
             // IHL 15 and a total of 100, but only 74 bytes captured: the ports are not there.
             cut(ethernet(ipPacket(longHeader, udpHeader(53, 1025, 32))), 74)});
    }

    // Transport headers of zero or partial length.
    {
        Bytes bareIp = ipPacket(ipFields(A, B, 17), {});
        Bytes bareTcp = ipPacket(ipFields(A, B, 6), {});
        Bytes partialTcp = ipPacket(ipFields(A, B, 6), Bytes{0x04, 0x01, 0, 80, 0, 0, 0, 0, 0, 0});
        Bytes bareIcmp = ipPacket(ipFields(A, B, 1), {});
        Bytes udpNoData = udp(A, B, 53, 1025, 0);
        Bytes noDataOffset = withIp(tcp(A, B, 1031, 25, kSyn), 20 + 12, 0);
        add("zero_length_transport.pcap", DLT_EN10MB,
            {whole(padTo(ethernet(bareIp), 60)), whole(padTo(ethernet(bareTcp), 60)),
             whole(padTo(ethernet(partialTcp), 60)), whole(padTo(ethernet(bareIcmp), 60)),
             whole(padTo(ethernet(udpNoData), 60)), whole(padTo(ethernet(noDataOffset), 60))});
    }

    // Every link type the decoder knows, and one it does not.
    add("link_linux_sll.pcap", DLT_LINUX_SLL,
        linkTrio([](const Bytes& ip) { return linuxSll(ip); },
                 [] {
                     Bytes b = linuxSll(ipv6Syn());
                     b[14] = 0x86;  // protocol IPv6
                     b[15] = 0xDD;
                     return b;
                 }()));
    add("link_linux_sll2.pcap", DLT_LINUX_SLL2,
        linkTrio([](const Bytes& ip) { return linuxSll2(ip); },
                 [] {
                     Bytes b = linuxSll2(arp(false));
                     b[0] = 0x08;
                     b[1] = 0x06;
                     return b;
                 }()));
    add("link_null.pcap", DLT_NULL,
        linkTrio([](const Bytes& ip) { return loopLink(ip, false); },
                 loopLink(ipv6Syn(), false, 24)));
    add("link_loop.pcap", DLT_LOOP,
        linkTrio([](const Bytes& ip) { return loopLink(ip, true); },
                 loopLink(ipv6Syn(), true, 30)));
    add("link_raw.pcap", DLT_RAW, linkTrio([](const Bytes& ip) { return ip; }, ipv6Syn()));
    add("link_ipv4.pcap", DLT_IPV4,
        linkTrio([](const Bytes& ip) { return ip; }, withIp(udp(A, B, 53, 1025), 0, 0x65)));
    add("link_unsupported.pcap", DLT_IEEE802_11,
        {whole(ethernet(tcp(A, B, 1025, 80, kSyn, 4))), whole(ethernet(udp(A, B, 53, 1025)))});
    return list;
}

bool writeCaptureFile(const std::string& path, const CraftedCapture& capture) {
    pcap_t* dead = pcap_open_dead(capture.linkType, capture.snapLength);
    if (!dead) return false;
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
    if (!dumper) {
        pcap_close(dead);
        return false;
    }
    long second = 1700000000;
    for (const CaptureFrame& f : capture.frames) {
        pcap_pkthdr h{};
        h.ts.tv_sec = second++;
        h.caplen = bpf_u_int32(f.bytes.size());
        h.len = f.wireLength ? f.wireLength : h.caplen;
        pcap_dump(reinterpret_cast<u_char*>(dumper), &h, f.bytes.data());
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
    return true;
}

}  // namespace tessel::test
