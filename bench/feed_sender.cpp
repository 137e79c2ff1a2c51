// Replays the sFlow v5 datagrams of a capture taken from a real exporter (pmacctd's sfprobe) to
// a collector on loopback, as N exporters at a total rate for a time. Each exporter sends from a
// socket of its own and walks the capture from its own place; per exporter the agent address
// becomes 10.200.0.<k>, the datagram sequence number counts 1, 2, 3 ... without a gap and the
// uptime is the sender's, so a collector that counts sequence gaps sees none but its own drops.
// Paced with clock_nanosleep on absolute deadlines (sleeping, not spinning): every wake-up sends
// the datagrams that have fallen due, at most one wake-up per millisecond.
//   feed_sender --capture FILE --port PORT [--rate N] [--seconds S] [--exporters N]
//               [--to 127.0.0.1] [--capture-port P]
// --rate is datagrams a second in all (1..100000), --seconds 1..3600, --exporters 1..200;
// --capture-port takes only the capture's datagrams sent to that UDP port. Only loopback
// destinations are accepted. Prints one line:
//   sent datagrams D samples S flow-samples F exporters N seconds T rate R errors E
// (samples: the samples the sent datagrams declare; flow-samples: those of them that are flow
// samples, the ones that carry sampled packets; errors: sends the kernel refused, not counted
// as sent).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr long kMaxRate = 100000;
constexpr long kMaxSeconds = 3600;
constexpr int kMaxExporters = 200;
constexpr std::int64_t kBillion = 1'000'000'000;
constexpr std::int64_t kTickNs = 1'000'000;  // the shortest time between two wake-ups
// sFlow v5 with an IPv4 agent: version, address type, agent, sub-agent, sequence, uptime,
// number of samples.
constexpr std::size_t kAgentAt = 8, kSequenceAt = 16, kUptimeAt = 20, kSamplesAt = 24;
constexpr std::size_t kHeaderBytes = 28;

struct Datagram {
    std::vector<std::uint8_t> bytes;
    std::uint32_t samples = 0;
    std::uint32_t flowSamples = 0;
};

std::uint32_t get32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

void put32(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v >> 24), p[1] = std::uint8_t(v >> 16), p[2] = std::uint8_t(v >> 8);
    p[3] = std::uint8_t(v);
}

// The UDP payload of a captured frame sent to `port` (0: any), or nullptr.
const std::uint8_t* udpPayload(int linkType, const std::uint8_t* p, std::size_t n, int port,
                               std::size_t* length) {
    std::size_t at = 0;
    int etherType = 0;
    switch (linkType) {
        case DLT_EN10MB:
            if (n < 14) return nullptr;
            etherType = p[12] << 8 | p[13];
            at = 14;
            while ((etherType == 0x8100 || etherType == 0x88A8) && n >= at + 4) {
                etherType = p[at + 2] << 8 | p[at + 3];
                at += 4;
            }
            break;
        case DLT_LINUX_SLL:
            if (n < 16) return nullptr;
            etherType = p[14] << 8 | p[15];
            at = 16;
            break;
        case DLT_LINUX_SLL2:
            if (n < 20) return nullptr;
            etherType = p[0] << 8 | p[1];
            at = 20;
            break;
        case DLT_NULL:
            if (n < 5) return nullptr;
            etherType = (p[4] >> 4) == 6 ? 0x86DD : 0x0800;
            at = 4;
            break;
        case DLT_RAW:
        case DLT_IPV4:
        case DLT_IPV6:
            if (n < 1) return nullptr;
            etherType = (p[0] >> 4) == 6 ? 0x86DD : 0x0800;
            break;
        default:
            return nullptr;
    }
    std::size_t udp = 0;
    if (etherType == 0x0800) {
        if (n < at + 20 || (p[at] >> 4) != 4 || p[at + 9] != 17) return nullptr;
        if ((p[at + 6] & 0x3F) != 0 || p[at + 7] != 0) return nullptr;  // a fragment
        udp = at + std::size_t(p[at] & 0x0F) * 4;
    } else if (etherType == 0x86DD) {
        if (n < at + 40 || p[at + 6] != 17) return nullptr;
        udp = at + 40;
    } else {
        return nullptr;
    }
    if (n < udp + 8) return nullptr;
    if (port && (p[udp + 2] << 8 | p[udp + 3]) != port) return nullptr;
    const std::size_t udpLength = std::size_t(p[udp + 4] << 8 | p[udp + 5]);
    if (udpLength < 8 || n < udp + udpLength) return nullptr;  // cut short by the snap length
    *length = udpLength - 8;
    return p + udp + 8;
}

// An sFlow v5 datagram with an IPv4 agent, its samples counted; false for anything else.
bool readSflow(const std::uint8_t* p, std::size_t n, Datagram* d) {
    if (n < kHeaderBytes || get32(p) != 5 || get32(p + 4) != 1) return false;
    d->samples = get32(p + kSamplesAt);
    std::size_t at = kHeaderBytes;
    for (std::uint32_t k = 0; k < d->samples; ++k) {
        if (n < at + 8) return false;
        const std::uint32_t format = get32(p + at), length = get32(p + at + 4);
        if (length > n - at - 8) return false;
        // Enterprise 0, format 1 (flow sample) or 3 (expanded flow sample).
        if (format == 1 || format == 3) ++d->flowSamples;
        at += 8 + length;
    }
    d->bytes.assign(p, p + n);
    return true;
}

std::int64_t nowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * kBillion + t.tv_nsec;
}

void sleepUntil(std::int64_t ns) {
    timespec t{};
    t.tv_sec = time_t(ns / kBillion);
    t.tv_nsec = long(ns % kBillion);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
    }
}

[[noreturn]] void usage(const char* why) {
    std::fprintf(stderr,
                 "feed_sender: %s\nusage: feed_sender --capture FILE --port PORT [--rate N] "
                 "[--seconds S] [--exporters N] [--to 127.0.0.1] [--capture-port P]\n",
                 why);
    std::exit(2);
}

long number(const char* text, long low, long high, const char* what) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno || end == text || *end || v < low || v > high) {
        std::fprintf(stderr, "feed_sender: %s must be %ld..%ld\n", what, low, high);
        std::exit(2);
    }
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    std::string capture, to = "127.0.0.1";
    long port = 0, rate = 1000, seconds = 10, exporters = 1, capturePort = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) usage(("missing the value of " + a).c_str());
        const char* v = argv[++i];
        if (a == "--capture")
            capture = v;
        else if (a == "--port")
            port = number(v, 1, 65535, "--port");
        else if (a == "--rate")
            rate = number(v, 1, kMaxRate, "--rate");
        else if (a == "--seconds")
            seconds = number(v, 1, kMaxSeconds, "--seconds");
        else if (a == "--exporters")
            exporters = number(v, 1, kMaxExporters, "--exporters");
        else if (a == "--to")
            to = v;
        else if (a == "--capture-port")
            capturePort = number(v, 0, 65535, "--capture-port");
        else
            usage(("unknown option " + a).c_str());
    }
    if (capture.empty() || port == 0) usage("--capture and --port are needed");
    sockaddr_in dst{};
    dst.sin_family = AF_INET;
    dst.sin_port = htons(std::uint16_t(port));
    // Loopback only: nothing this benchmark sends may leave the machine.
    if (inet_pton(AF_INET, to.c_str(), &dst.sin_addr) != 1 ||
        (ntohl(dst.sin_addr.s_addr) >> 24) != 127)
        usage("--to must be an IPv4 loopback address (127.0.0.0/8)");

    char error[PCAP_ERRBUF_SIZE] = "";
    pcap_t* file = pcap_open_offline(capture.c_str(), error);
    if (!file) {
        std::fprintf(stderr, "feed_sender: %s\n", error);
        return 1;
    }
    std::vector<Datagram> datagrams;
    std::size_t passedOver = 0;
    const int linkType = pcap_datalink(file);
    pcap_pkthdr* header = nullptr;
    const u_char* frame = nullptr;
    while (pcap_next_ex(file, &header, &frame) == 1) {
        std::size_t length = 0;
        const std::uint8_t* payload =
            udpPayload(linkType, frame, header->caplen, int(capturePort), &length);
        Datagram d;
        if (payload && readSflow(payload, length, &d))
            datagrams.push_back(std::move(d));
        else
            ++passedOver;
    }
    pcap_close(file);
    if (datagrams.empty()) {
        std::fprintf(stderr, "feed_sender: no sFlow v5 datagram with an IPv4 agent in %s\n",
                     capture.c_str());
        return 1;
    }
    std::fprintf(stderr,
                 "feed_sender: %zu sFlow datagrams from %s (%zu other frames passed over)\n",
                 datagrams.size(), capture.c_str(), passedOver);

    struct Exporter {
        int fd = -1;
        std::size_t next = 0;        // its next datagram of the capture
        std::uint32_t sequence = 0;  // its last sequence number
    };
    std::vector<Exporter> senders(static_cast<std::size_t>(exporters));
    for (std::size_t k = 0; k < senders.size(); ++k) {
        Exporter& e = senders[k];
        // Bound, not connected: its source port stays its own, and an ICMP error from a
        // collector that is not listening yet cannot refuse a later send.
        sockaddr_in self{};
        self.sin_family = AF_INET;
        self.sin_addr = dst.sin_addr;
        e.fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (e.fd < 0 || ::bind(e.fd, reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0) {
            std::perror("feed_sender: socket");
            return 1;
        }
        e.next = k * datagrams.size() / senders.size();
    }

    const std::uint64_t total = std::uint64_t(rate) * std::uint64_t(seconds);
    std::uint64_t sent = 0, samples = 0, flowSamples = 0, errors = 0, attempts = 0;
    std::vector<std::uint8_t> out;
    const std::int64_t start = nowNs();
    // A sender that cannot keep up stops at twice its time rather than running on.
    const std::int64_t giveUp = start + 2 * std::int64_t(seconds) * kBillion + 5 * kBillion;
    std::int64_t wake = start;
    while (attempts < total) {
        const std::int64_t now = nowNs();
        if (now >= giveUp) break;
        // Datagram i falls due at start + i / rate.
        std::uint64_t due = std::uint64_t((now - start) * double(rate) / double(kBillion)) + 1;
        if (due > total) due = total;
        for (; attempts < due; ++attempts) {
            Exporter& e = senders[attempts % senders.size()];
            const Datagram& d = datagrams[e.next];
            e.next = (e.next + 1) % datagrams.size();
            out = d.bytes;
            const std::uint32_t k = std::uint32_t(&e - senders.data()) + 1;
            const std::uint8_t agent[4] = {10, 200, std::uint8_t(k >> 8), std::uint8_t(k)};
            std::memcpy(&out[kAgentAt], agent, 4);
            put32(&out[kSequenceAt], e.sequence + 1);
            put32(&out[kUptimeAt], std::uint32_t((now - start) / 1'000'000));
            if (::sendto(e.fd, out.data(), out.size(), 0, reinterpret_cast<const sockaddr*>(&dst),
                         sizeof dst) == ssize_t(out.size())) {
                ++e.sequence;  // a refused send leaves no gap behind it
                ++sent;
                samples += d.samples;
                flowSamples += d.flowSamples;
            } else {
                ++errors;
            }
        }
        if (attempts >= total) break;
        const std::int64_t nextDue =
            start + std::int64_t(double(attempts) * double(kBillion) / double(rate));
        wake = std::max(nextDue, wake + kTickNs);
        sleepUntil(wake);
    }
    const double elapsed = double(nowNs() - start) / double(kBillion);
    for (Exporter& e : senders) ::close(e.fd);
    std::printf(
        "sent datagrams %llu samples %llu flow-samples %llu exporters %ld seconds %.3f rate %.0f "
        "errors %llu\n",
        static_cast<unsigned long long>(sent), static_cast<unsigned long long>(samples),
        static_cast<unsigned long long>(flowSamples), exporters, elapsed,
        elapsed > 0 ? double(sent) / elapsed : 0.0, static_cast<unsigned long long>(errors));
    return sent == total ? 0 : 1;
}
