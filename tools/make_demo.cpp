// Writes the demo capture that "tessel --demo" plays: a minute of a home network's traffic as
// tcpdump would record it on this host's Ethernet adapter (headers kept, 96 bytes a frame): name
// look-ups through the router, web pages fetched from many servers, a download, a long-lived
// remote shell, pings, time, and the neighbours on the LAN. Every address beyond the LAN is in
// the ranges set aside for documentation and tests, and the same run always writes the same
// bytes.
//   make_demo OUTPUT.pcap
#include <pcap/pcap.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kSnapLength = 96;
constexpr std::int64_t kSecondUs = 1000000;
constexpr std::int64_t kLengthUs = 60 * kSecondUs;

std::uint32_t ip(int a, int b, int c, int d) {
    return (std::uint32_t(a) << 24) | (std::uint32_t(b) << 16) | (std::uint32_t(c) << 8) |
           std::uint32_t(d);
}

struct Host {
    std::uint32_t address;
    std::uint8_t mac[6];
};

const Host kSelf{ip(192, 168, 1, 10), {0x02, 0x00, 0x5e, 0x10, 0x00, 0x0a}};
const Host kRouter{ip(192, 168, 1, 1), {0x02, 0x00, 0x5e, 0x10, 0x00, 0x01}};
const Host kNas{ip(192, 168, 1, 20), {0x02, 0x00, 0x5e, 0x10, 0x00, 0x14}};
const Host kPrinter{ip(192, 168, 1, 30), {0x02, 0x00, 0x5e, 0x10, 0x00, 0x1e}};
const Host kLaptop{ip(192, 168, 1, 42), {0x02, 0x00, 0x5e, 0x10, 0x00, 0x2a}};

// The classic linear-congruential rule: the same draws on every machine.
struct Random {
    std::uint32_t state = 20261208;
    int next(int below) {
        state = state * 214013u + 2531011u;
        return int((state >> 16) & 0x7FFF) % below;
    }
};

struct Frame {
    std::int64_t atUs;
    Bytes bytes;  // the whole frame; written cut to the snapshot length
};

std::vector<Frame> frames;

void put16(Bytes& b, std::size_t at, unsigned v) {
    b[at] = std::uint8_t(v >> 8);
    b[at + 1] = std::uint8_t(v);
}
void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + std::size_t(i)] = std::uint8_t(v >> (24 - 8 * i));
}

// Ethernet frame from `from` to `to` (link-layer addresses; beyond the LAN the router's).
Bytes ethernet(const Host& from, const Host& to, unsigned type, std::size_t payload) {
    Bytes b(14 + payload, 0);
    std::memcpy(&b[0], to.mac, 6);
    std::memcpy(&b[6], from.mac, 6);
    put16(b, 12, type);
    return b;
}

bool onLan(std::uint32_t a) { return (a & 0xFFFFFF00u) == (kSelf.address & 0xFFFFFF00u); }

const Host& linkOf(std::uint32_t address) {
    for (const Host* h : {&kSelf, &kRouter, &kNas, &kPrinter, &kLaptop})
        if (h->address == address) return *h;
    return kRouter;  // everything beyond the LAN is reached through the router
}

// An IPv4 datagram of `total` bytes with `protocol`, its transport header filled by `fill`.
template <typename Fill>
void datagram(std::int64_t atUs, std::uint32_t src, std::uint32_t dst, int protocol,
              std::size_t total, Fill fill) {
    static std::uint16_t id = 1;
    const Host& fromLink = onLan(src) ? linkOf(src) : kRouter;
    const Host& toLink = onLan(dst) ? linkOf(dst) : kRouter;
    Bytes b = ethernet(fromLink, toLink, 0x0800, total);
    b[14] = 0x45;
    put16(b, 16, unsigned(total));
    put16(b, 18, id++);
    b[22] = 64;
    b[23] = std::uint8_t(protocol);
    put32(b, 26, src);
    put32(b, 30, dst);
    std::uint32_t sum = 0;
    for (std::size_t i = 14; i < 34; i += 2) sum += (std::uint32_t(b[i]) << 8) | b[i + 1];
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    put16(b, 24, ~sum & 0xFFFF);
    fill(b, std::size_t(34));
    frames.push_back(Frame{atUs, b});
}

void udp(std::int64_t atUs, std::uint32_t src, int sport, std::uint32_t dst, int dport,
         std::size_t data) {
    datagram(atUs, src, dst, 17, 20 + 8 + data, [&](Bytes& b, std::size_t at) {
        put16(b, at, unsigned(sport));
        put16(b, at + 2, unsigned(dport));
        put16(b, at + 4, unsigned(8 + data));
    });
}

constexpr int kFin = 0x01, kSyn = 0x02, kPush = 0x08, kAck = 0x10;

void tcp(std::int64_t atUs, std::uint32_t src, int sport, std::uint32_t dst, int dport, int flags,
         std::size_t data) {
    const bool syn = flags & kSyn;
    const std::size_t header = syn ? 24 : 20;  // a SYN carries its MSS option
    datagram(atUs, src, dst, 6, 20 + header + data, [&](Bytes& b, std::size_t at) {
        put16(b, at, unsigned(sport));
        put16(b, at + 2, unsigned(dport));
        b[at + 12] = std::uint8_t((header / 4) << 4);
        b[at + 13] = std::uint8_t(flags);
        put16(b, at + 14, 64240);
        if (syn) b[at + 20] = 2, b[at + 21] = 4, put16(b, at + 22, 1460);
    });
}

void ping(std::int64_t atUs, std::uint32_t from, std::uint32_t to, int sequence) {
    for (int reply = 0; reply < 2; ++reply)
        datagram(atUs + reply * 18000, reply ? to : from, reply ? from : to, 1, 20 + 64,
                 [&](Bytes& b, std::size_t at) {
                     b[at] = reply ? 0 : 8;
                     put16(b, at + 4, 0x1234);
                     put16(b, at + 6, unsigned(sequence));
                 });
}

void arp(std::int64_t atUs, const Host& asker, const Host& answer) {
    for (int reply = 0; reply < 2; ++reply) {
        const Host& from = reply ? answer : asker;
        Host broadcast{0, {0xff, 0xff, 0xff, 0xff, 0xff, 0xff}};
        Bytes b = ethernet(from, reply ? asker : broadcast, 0x0806, 28);
        put16(b, 14, 1);
        put16(b, 16, 0x0800);
        b[18] = 6, b[19] = 4;
        put16(b, 20, reply ? 2 : 1);
        std::memcpy(&b[22], from.mac, 6);
        put32(b, 28, from.address);
        if (reply) std::memcpy(&b[32], asker.mac, 6);
        put32(b, 38, reply ? asker.address : answer.address);
        frames.push_back(Frame{atUs + reply * 300, b});
    }
}

// A TCP connection from `client` to `server`: handshake, `exchanges` request/answer rounds of
// the given sizes `gapUs` apart, and the client's close. Gives the time it ends.
std::int64_t connection(std::int64_t atUs, std::uint32_t client, int cport, std::uint32_t server,
                        int sport, int exchanges, std::size_t request, std::size_t answer,
                        int answerSegments, std::int64_t gapUs, Random& r) {
    const std::int64_t rtt = 12000 + r.next(40000);
    std::int64_t t = atUs;
    tcp(t, client, cport, server, sport, kSyn, 0);
    tcp(t + rtt, server, sport, client, cport, kSyn | kAck, 0);
    t += rtt + 200;
    tcp(t, client, cport, server, sport, kAck, 0);
    for (int e = 0; e < exchanges; ++e) {
        tcp(t, client, cport, server, sport, kPush | kAck, request);
        t += rtt;
        for (int s = 0; s < answerSegments; ++s) {
            tcp(t, server, sport, client, cport, kPush | kAck, answer);
            if (s % 2 == 1) tcp(t + 300, client, cport, server, sport, kAck, 0);
            t += 120 + r.next(400);
        }
        t += gapUs;
    }
    tcp(t, client, cport, server, sport, kFin | kAck, 0);
    tcp(t + rtt, server, sport, client, cport, kFin | kAck, 0);
    tcp(t + rtt + 200, client, cport, server, sport, kAck, 0);
    return t + rtt + 200;
}

void makeTraffic() {
    Random r;
    arp(100000, kSelf, kRouter);
    arp(400000, kSelf, kNas);
    // Web servers, content networks and APIs beyond the LAN.
    std::vector<std::uint32_t> servers;
    for (int i = 0; i < 24; ++i) servers.push_back(ip(203, 0, 113, 10 + 9 * i));
    for (int i = 0; i < 16; ++i) servers.push_back(ip(198, 51, 100, 7 + 13 * i));
    for (int i = 0; i < 12; ++i) servers.push_back(ip(198, 18, 40 + i, 80));
    int port = 40100;
    // Browsing: every few seconds a page, its names looked up, then several connections.
    for (std::int64_t t = 500000; t < kLengthUs - 4 * kSecondUs;
         t += 1500000 + r.next(2500) * 1000) {
        const int pageServers = 2 + r.next(4);
        for (int k = 0; k < pageServers; ++k) {
            const std::uint32_t server = servers[std::size_t(r.next(int(servers.size())))];
            const std::int64_t at = t + k * 90000;
            const int query = 50000 + r.next(10000);
            udp(at, kSelf.address, query, kRouter.address, 53, 40);
            udp(at + 9000 + r.next(20000), kRouter.address, 53, kSelf.address, query, 120);
            connection(at + 40000, kSelf.address, port++, server, r.next(3) ? 443 : 80,
                       1 + r.next(3), 500 + r.next(300), 1400, 2 + r.next(10), 50000, r);
        }
    }
    // A download: one long connection with a steady stream of full segments.
    connection(8 * kSecondUs, kSelf.address, port++, ip(198, 51, 100, 200), 443, 40, 400, 1448, 40,
               180000, r);
    // A remote shell that stays open the whole minute: keystrokes and echoes.
    {
        const std::uint32_t shell = ip(192, 0, 2, 22);
        const int cport = port++;
        tcp(300000, kSelf.address, cport, shell, 22, kSyn, 0);
        tcp(330000, shell, 22, kSelf.address, cport, kSyn | kAck, 0);
        tcp(330500, kSelf.address, cport, shell, 22, kAck, 0);
        for (std::int64_t t = kSecondUs; t < kLengthUs - kSecondUs;
             t += 250000 + r.next(900) * 1000) {
            tcp(t, kSelf.address, cport, shell, 22, kPush | kAck, 36);
            tcp(t + 31000, shell, 22, kSelf.address, cport, kPush | kAck, 36 + r.next(200));
        }
    }
    // Pings to a server, once a second for half a minute.
    for (int s = 0; s < 30; ++s)
        ping(20 * kSecondUs + s * kSecondUs, kSelf.address, ip(192, 0, 2, 1), s);
    // Time, now and then.
    for (std::int64_t t = 2 * kSecondUs; t < kLengthUs; t += 16 * kSecondUs) {
        udp(t, kSelf.address, 123, ip(203, 0, 113, 123), 123, 48);
        udp(t + 25000, ip(203, 0, 113, 123), 123, kSelf.address, 123, 48);
    }
    // The LAN: a backup to the NAS in bursts, the printer asked for its state, a laptop's
    // name announcements, and the router's own look-ups.
    for (std::int64_t t = 5 * kSecondUs; t < kLengthUs; t += 9 * kSecondUs)
        connection(t, kSelf.address, port++, kNas.address, 445, 6, 200, 1448, 6, 30000, r);
    for (std::int64_t t = 3 * kSecondUs; t < kLengthUs; t += 10 * kSecondUs) {
        udp(t, kSelf.address, 50161, kPrinter.address, 161, 60);
        udp(t + 4000, kPrinter.address, 161, kSelf.address, 50161, 140);
    }
    for (std::int64_t t = 7 * kSecondUs; t < kLengthUs; t += 12 * kSecondUs) {
        udp(t, kLaptop.address, 5353, kSelf.address, 5353, 90);
        ping(t + 500000, kLaptop.address, kSelf.address, int(t / kSecondUs));
    }
    for (std::int64_t t = 4 * kSecondUs; t < kLengthUs; t += 20 * kSecondUs) {
        const int query = 33000 + r.next(1000);
        udp(t, kRouter.address, query, ip(198, 18, 0, 53), 53, 45);
        udp(t + 21000, ip(198, 18, 0, 53), 53, kRouter.address, query, 160);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_demo OUTPUT.pcap\n");
        return 2;
    }
    makeTraffic();
    std::stable_sort(frames.begin(), frames.end(),
                     [](const Frame& a, const Frame& b) { return a.atUs < b.atUs; });
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, int(kSnapLength));
    pcap_dumper_t* out = dead ? pcap_dump_open(dead, argv[1]) : nullptr;
    if (!out) {
        std::fprintf(stderr, "make_demo: cannot write %s\n", argv[1]);
        return 1;
    }
    const std::int64_t epoch = 1796731200LL * kSecondUs;  // 2026-12-08 12:00 UTC
    for (const Frame& f : frames) {
        if (f.atUs >= kLengthUs) continue;
        pcap_pkthdr h{};
        h.ts.tv_sec = (epoch + f.atUs) / kSecondUs;
        h.ts.tv_usec = (epoch + f.atUs) % kSecondUs;
        h.len = bpf_u_int32(f.bytes.size());
        h.caplen = std::min<bpf_u_int32>(h.len, kSnapLength);
        pcap_dump(reinterpret_cast<u_char*>(out), &h, f.bytes.data());
    }
    pcap_dump_close(out);
    pcap_close(dead);
    return 0;
}
