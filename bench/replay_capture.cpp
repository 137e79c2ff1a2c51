// Writes the capture files the real-program figure replays with tcpreplay (Ethernet, libpcap
// format): "open.pcap" holds one SYN from this host to each of --connections foreign hosts, as a
// browser opens them (held open: no FIN follows, so each keeps its beam), "flood.pcap" one second
// of --rate UDP datagrams (60 bytes on the wire, as a DNS-sized exchange) from --hosts other
// foreign hosts to this host, in turn, and "flood-large.pcap" the same second as a download
// looks: frames of 900 to 1,500 bytes on the wire from the same hosts to this host, TCP data
// segments and UDP datagrams in turn. Every address is one the test network routes nowhere.
//   replay_capture DIR --local A.B.C.D [--connections N] [--hosts N] [--rate N]
#include <pcap/pcap.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void putAddress(Bytes& f, std::size_t at, std::uint32_t address) {
    for (int i = 0; i < 4; ++i) f[at + std::size_t(i)] = std::uint8_t(address >> (24 - 8 * i));
}

// Ethernet II + IPv4 (no options) + `l4` bytes of transport header and data.
Bytes frame(std::uint32_t src, std::uint32_t dst, int protocol, const Bytes& l4) {
    Bytes f(14 + 20 + l4.size(), 0);
    const std::uint8_t dstMac[6] = {0x02, 0, 0, 0, 0, 0x02}, srcMac[6] = {0x02, 0, 0, 0, 0, 0x01};
    std::memcpy(&f[0], dstMac, 6);
    std::memcpy(&f[6], srcMac, 6);
    f[12] = 0x08;
    f[14] = 0x45;
    const std::size_t total = 20 + l4.size();
    f[16] = std::uint8_t(total >> 8);
    f[17] = std::uint8_t(total & 0xFF);
    f[22] = 64;
    f[23] = std::uint8_t(protocol);
    putAddress(f, 26, src);
    putAddress(f, 30, dst);
    std::uint32_t sum = 0;
    for (std::size_t i = 14; i < 34; i += 2) sum += (std::uint32_t(f[i]) << 8) | f[i + 1];
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    f[24] = std::uint8_t(~sum >> 8);
    f[25] = std::uint8_t(~sum & 0xFF);
    std::copy(l4.begin(), l4.end(), f.begin() + 34);
    return f;
}

Bytes ports(int src, int dst, std::size_t length) {
    Bytes b(length, 0);
    b[0] = std::uint8_t(src >> 8), b[1] = std::uint8_t(src), b[2] = std::uint8_t(dst >> 8);
    b[3] = std::uint8_t(dst);
    return b;
}

// Foreign host number i: 198.18.0.0/15, the benchmarking range, never routed anywhere.
std::uint32_t foreign(int i) { return (198u << 24) | (18u << 16) | std::uint32_t(1 + i); }

bool write(const std::string& path, const std::vector<Bytes>& frames, int ratePerSecond) {
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* out = dead ? pcap_dump_open(dead, path.c_str()) : nullptr;
    if (!out) {
        std::fprintf(stderr, "replay_capture: cannot write %s\n", path.c_str());
        return false;
    }
    long micros = 0;
    for (const Bytes& f : frames) {
        pcap_pkthdr h{};
        h.ts.tv_sec = 1700000000 + micros / 1000000;
        h.ts.tv_usec = micros % 1000000;
        h.caplen = h.len = bpf_u_int32(f.size());
        pcap_dump(reinterpret_cast<u_char*>(out), &h, f.data());
        micros += 1000000 / ratePerSecond;
    }
    pcap_dump_close(out);
    pcap_close(dead);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: replay_capture DIR --local A.B.C.D [--connections N] "
                     "[--hosts N] [--rate N]\n");
        return 2;
    }
    const std::string dir = argv[1];
    unsigned a = 10, b = 98, c = 0, d = 2;
    int connections = 200, hosts = 300, rate = 10000;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--local") std::sscanf(argv[i + 1], "%u.%u.%u.%u", &a, &b, &c, &d);
        if (flag == "--connections") connections = std::atoi(argv[i + 1]);
        if (flag == "--hosts") hosts = std::atoi(argv[i + 1]);
        if (flag == "--rate") rate = std::atoi(argv[i + 1]);
    }
    if (connections < 1 || connections > 5000 || hosts < 1 || hosts > 20000 || rate < 1 ||
        rate > 100000)
        return 2;
    const std::uint32_t local = (a << 24) | (b << 16) | (c << 8) | d;

    std::vector<Bytes> open;
    for (int i = 0; i < connections; ++i) {
        Bytes tcp = ports(40000 + i, 443, 24);
        tcp[12] = 0x60;  // 24-byte header: a SYN with one option, recorded as well
        tcp[13] = 0x02;
        tcp[20] = 2, tcp[21] = 4, tcp[22] = 0x05, tcp[23] = 0xB4;  // MSS 1460
        open.push_back(frame(local, foreign(i), 6, tcp));
    }
    std::vector<Bytes> flood;
    for (int i = 0; i < rate; ++i)
        flood.push_back(frame(foreign(connections + i % hosts), local, 17,
                              ports(53, 30000 + i % 20000, 8 + 32)));
    // Sizes step through 900..1,500 bytes on the wire (Ethernet 14 + IPv4 20 + transport) with
    // a stride prime to the range, so each host sees the whole range.
    std::vector<Bytes> large;
    for (int i = 0; i < rate; ++i) {
        const std::size_t wire = 900 + std::size_t(i) * 37 % 601;
        const bool tcp = i % 2 == 0;
        Bytes l4 = ports(443, 40000 + i % 20000, wire - 34);
        if (tcp) {
            l4[12] = 0x50;  // 20-byte header, ACK + PSH: a data segment, no beam event
            l4[13] = 0x18;
        }
        large.push_back(frame(foreign(connections + i % hosts), local, tcp ? 6 : 17, l4));
    }
    return write(dir + "/open.pcap", open, 1000) && write(dir + "/flood.pcap", flood, rate) &&
                   write(dir + "/flood-large.pcap", large, rate)
               ? 0
               : 1;
}
