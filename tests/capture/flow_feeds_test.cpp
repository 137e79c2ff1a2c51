// Real exporters from Debian (pmacctd's sfprobe and nfprobe, softflowd) send to the collector on
// loopback, inside the test's own network namespace; what the collector makes of their datagrams
// equals what tshark reads from the same datagrams, which tcpdump captures on the way.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "capture/feed_counters.h"
#include "capture/flow_collector_source.h"
#include "support/capture_sink.h"
#include "support/test_support.h"

namespace tessel {
namespace {

using Clock = std::chrono::steady_clock;

bool have(const std::string& program) {
    return test::runProcess({"sh", "-c", "command -v " + program}, "", {}, 5000).status == 0;
}

// A port of this test process's own, so that parallel tests do not meet.
std::uint16_t testPort(int offset) { return std::uint16_t(20000 + (getpid() % 4000) * 4 + offset); }

std::string recordLine(const TrafficRecord& r) {
    std::ostringstream line;
    line << r.src << " " << r.dst << " "
         << (r.tcp   ? "tcp"
             : r.udp ? "udp"
                     : "icmp")
         << " " << r.srcport << " " << r.dstport << " " << ((r.size >> 8) | ((r.size & 0xFF) << 8));
    return line.str();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) out.push_back(line);
    std::sort(out.begin(), out.end());
    return out;
}

// tcpdump on loopback, keeping the datagrams sent to one port.
class DatagramTap {
  public:
    DatagramTap(const test::TempDir& dir, std::uint16_t port) : path_(dir.file("datagrams.pcap")) {
        tcpdump_ = std::make_unique<test::BackgroundProcess>(
            std::vector<std::string>{"tcpdump", "-Z", "root", "-i", "lo", "-U", "-w", path_, "udp",
                                     "dst", "port", std::to_string(port)},
            "", std::map<std::string, std::string>{});
        for (int k = 0; k < 100 && tcpdump_->output().find("listening on") == std::string::npos;
             ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // Ends the capture (every datagram is written as it comes) and names the file.
    const std::string& finish() {
        kill(tcpdump_->pid(), SIGINT);
        tcpdump_->wait(5000);
        return path_;
    }
    bool listening() const { return tcpdump_->output().find("listening on") != std::string::npos; }

  private:
    std::string path_;
    std::unique_ptr<test::BackgroundProcess> tcpdump_;
};

// Feeds the collector's frames to `sink` until none has come for `quietMs` after the exporter
// ended (at most `limitMs` in all).
void drain(cFlowCollectorSource& source, test::CaptureSink& sink, test::BackgroundProcess* exporter,
           int quietMs, int limitMs) {
    const auto start = Clock::now();
    auto last = Clock::now();
    while (Clock::now() - start < std::chrono::milliseconds(limitMs)) {
        const pcap_pkthdr* h = nullptr;
        const u_char* d = nullptr;
        const int r = source.next(&h, &d);
        if (r == 1) {
            onPacket(sink.user(), h, d);
            last = Clock::now();
            continue;
        }
        const bool exporterDone = !exporter || !exporter->running();
        if (exporterDone && Clock::now() - last > std::chrono::milliseconds(quietMs)) return;
        struct pollfd p {};
        p.fd = source.waitFd();
        p.events = POLLIN;
        if (p.fd >= 0)
            ::poll(&p, 1, 20);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (exporter && !exporter->running()) exporter->wait(0);
    }
}

std::unique_ptr<cFlowCollectorSource> collector(FeedKind kind, std::uint16_t port,
                                                std::int64_t timeoutMs = 0) {
    cFlowCollectorSource::Options o;
    o.kind = kind;
    o.listen.address = "127.0.0.1";
    o.listen.port = port;
    o.flowTimeoutMs = timeoutMs;
    auto source = std::make_unique<cFlowCollectorSource>(o);
    std::string error;
    EXPECT_TRUE(source->open(&error)) << error;
    return source;
}

std::string tsharkRecords(const char* kind, std::uint16_t port, const std::string& capture) {
    return test::shellOutput("python3 " + test::sourceDir() +
                                 "/tests/captures/feeds/tshark_feed_records.py " + kind + " " +
                                 std::to_string(port) + " " + capture,
                             {}, 60000);
}

void skipWithoutTools(const std::vector<std::string>& tools) {
    for (const std::string& t : tools)
        if (!have(t)) GTEST_SKIP() << t << " is not installed (scripts/setup.sh installs it)";
}

TEST(FlowFeeds, SflowFromPmacctdGivesTheRecordsTsharkReadsInTheSamples) {
    skipWithoutTools({"pmacctd", "tcpdump", "tshark"});
    const std::uint16_t port = testPort(0);
    test::TempDir dir;
    DatagramTap tap(dir, port);
    ASSERT_TRUE(tap.listening());
    auto source = collector(FeedKind::Sflow, port);
    std::filesystem::create_directories(dir.file("intel"));
    test::CaptureSink sink(DLT_EN10MB, dir.file("intel"));
    const std::string captures = test::sourceDir() + "/tests/captures/";
    int sent = 0;
    // IPv4 and IPv6, TCP, UDP and ICMP, each file a run of its own exporter.
    for (const char* file :
         {"eth_tcp_session.pcap", "real_veth_clients.pcap", "ipv6.pcap", "eth_udp_icmp.pcap"}) {
        const std::string conf = dir.file("pmacctd.conf");
        test::writeFile(
            conf, "daemonize: false\npcap_savefile: " + captures + file +
                      "\nplugins: sfprobe\nsfprobe_receiver: 127.0.0.1:" + std::to_string(port) +
                      "\nsfprobe_agentip: 10.1.0.1\nsampling_rate: 1\n");
        test::BackgroundProcess pmacctd({"pmacctd", "-f", conf}, dir.path(), {});
        drain(*source, sink, &pmacctd, 500, 30000);
        ++sent;
    }
    const std::string& datagrams = tap.finish();
    std::vector<std::string> ours;
    for (const TrafficRecord& r : sink.takeRecords()) ours.push_back(recordLine(r));
    std::sort(ours.begin(), ours.end());
    const std::vector<std::string> theirs = lines(tsharkRecords("sflow", port, datagrams));
    EXPECT_GT(theirs.size(), 20u);
    EXPECT_EQ(ours, theirs);
    const FeedCounters& c = *source->feedCounters();
    EXPECT_GE(c.datagrams.load(), std::uint64_t(sent));
    EXPECT_EQ(c.malformed.load(), 0u);
    EXPECT_EQ(c.lost.load(), 0u);
    EXPECT_EQ(c.rates[0].load(), 1u);
}

// What tshark read of the flows: the 5-tuples, and the totals the estimates must reach.
struct FlowTotals {
    std::vector<std::string> tuples;    // "src dst proto sport dport", sorted, distinct
    std::vector<std::string> recorded;  // those whose packets carry more than bare headers
    std::uint64_t packets = 0, octets = 0;
    int tcpWithSyn = 0, tcpWithEnd = 0;
};

FlowTotals tsharkFlows(std::uint16_t port, const std::string& capture) {
    FlowTotals t;
    for (const std::string& line : lines(tsharkRecords("cflow", port, capture))) {
        std::istringstream in(line);
        std::string src, dst;
        int proto = 0, sport = 0, dport = 0, flags = 0;
        std::uint64_t packets = 0, octets = 0;
        in >> src >> dst >> proto >> sport >> dport >> packets >> octets >> flags;
        const char* name = proto == 6 ? "tcp" : proto == 17 ? "udp" : "icmp";
        const bool ports = proto == 6 || proto == 17;
        const std::string tuple = src + " " + dst + " " + name + " " +
                                  std::to_string(ports ? sport : 0) + " " +
                                  std::to_string(ports ? dport : 0);
        t.tuples.push_back(tuple);
        // Bare TCP segments (no payload) are not recorded, captured or not.
        const std::uint64_t bare = src.find(':') == std::string::npos ? 40 : 60;
        if (!(proto == 6 && packets && octets / packets <= bare)) t.recorded.push_back(tuple);
        t.packets += packets;
        t.octets += octets;
        if (proto == 6 && (flags & 0x02)) ++t.tcpWithSyn;
        if (proto == 6 && (flags & 0x05)) ++t.tcpWithEnd;
    }
    std::sort(t.tuples.begin(), t.tuples.end());
    t.tuples.erase(std::unique(t.tuples.begin(), t.tuples.end()), t.tuples.end());
    std::sort(t.recorded.begin(), t.recorded.end());
    t.recorded.erase(std::unique(t.recorded.begin(), t.recorded.end()), t.recorded.end());
    return t;
}

// One export of `capture` by `exporter` ("softflowd-5", "softflowd-9", "softflowd-10",
// "pmacctd-9", "pmacctd-10") into a fresh collector, checked against tshark.
void checkFlowExport(const std::string& exporter, const std::string& capture, int portOffset) {
    SCOPED_TRACE(exporter + " " + capture);
    const std::uint16_t port = testPort(portOffset);
    test::TempDir dir;
    DatagramTap tap(dir, port);
    ASSERT_TRUE(tap.listening());
    // Long enough that no beam closes by silence while the test reads.
    auto source = collector(FeedKind::Netflow, port, 3'600'000);
    std::filesystem::create_directories(dir.file("intel"));
    test::CaptureSink sink(DLT_EN10MB, dir.file("intel"));
    const std::string file = test::sourceDir() + "/tests/captures/" + capture;
    const std::string version = exporter.substr(exporter.find('-') + 1);
    std::vector<std::string> argv;
    if (exporter.rfind("softflowd", 0) == 0) {
        argv = {"softflowd", "-r",    file, "-n",  "127.0.0.1:" + std::to_string(port),
                "-v",        version, "-T", "full"};
    } else {
        const std::string conf = dir.file("pmacctd.conf");
        test::writeFile(conf, "daemonize: false\npcap_savefile: " + file +
                                  "\nplugins: nfprobe\nnfprobe_receiver: 127.0.0.1:" +
                                  std::to_string(port) + "\nnfprobe_version: " + version + "\n");
        argv = {"pmacctd", "-f", conf};
    }
    test::BackgroundProcess run(argv, dir.path(), {});
    // Flows are spread over their durations: read until the last frame has been released.
    drain(*source, sink, &run, 1500, 60000);
    const FlowTotals theirs = tsharkFlows(port, tap.finish());
    ASSERT_FALSE(theirs.tuples.empty()) << run.output();

    std::vector<std::string> tuples;
    for (const TrafficRecord& r : sink.takeRecords()) {
        std::istringstream in(recordLine(r));
        std::string src, dst, proto, sport, dport;
        in >> src >> dst >> proto >> sport >> dport;
        tuples.push_back(src + " " + dst + " " + proto + " " + sport + " " + dport);
    }
    std::sort(tuples.begin(), tuples.end());
    tuples.erase(std::unique(tuples.begin(), tuples.end()), tuples.end());
    // Every flow with payload is recorded, and nothing that tshark did not see.
    for (const std::string& t : theirs.recorded)
        EXPECT_TRUE(std::binary_search(tuples.begin(), tuples.end(), t)) << t;
    for (const std::string& t : tuples)
        EXPECT_TRUE(std::binary_search(theirs.tuples.begin(), theirs.tuples.end(), t)) << t;
    const FeedCounters& c = *source->feedCounters();
    EXPECT_EQ(c.malformed.load(), 0u);
    EXPECT_EQ(c.samples.load() > 0, true);
    EXPECT_EQ(c.estimatedPackets.load(), theirs.packets);
    EXPECT_EQ(c.estimatedBytes.load(), theirs.octets);
    int starts = 0, ends = 0;
    for (const BeamEvent& e : sink.takeBeams()) (e.start ? starts : ends) += 1;
    EXPECT_EQ(starts, theirs.tcpWithSyn);
    EXPECT_EQ(ends, theirs.tcpWithEnd);
}

TEST(FlowFeeds, NetflowAndIpfixFromSoftflowdAndPmacctdAgreeWithTshark) {
    skipWithoutTools({"softflowd", "pmacctd", "tcpdump", "tshark"});
    // The capture holds IPv4 (TCP, UDP, ICMP) and IPv6 (ICMPv6) flows; v5 carries IPv4 only.
    int offset = 1;
    for (const char* exporter :
         {"softflowd-5", "softflowd-9", "softflowd-10", "pmacctd-9", "pmacctd-10"})
        checkFlowExport(exporter, "real_veth_clients.pcap", offset++ % 3 + 1);
}

// The UDP payloads of a loopback capture (IPv4), with the agent each came from (the source port
// tells exporters apart).
struct Datagram {
    int sourcePort = 0;
    std::vector<std::uint8_t> payload;
};
std::vector<Datagram> datagramsOf(const std::string& path) {
    std::vector<Datagram> out;
    char err[PCAP_ERRBUF_SIZE] = "";
    pcap_t* p = pcap_open_offline(path.c_str(), err);
    if (!p) return out;
    pcap_pkthdr* h = nullptr;
    const u_char* d = nullptr;
    while (pcap_next_ex(p, &h, &d) == 1) {
        if (h->caplen < 14 + 20 + 8 || d[12] != 0x08 || d[13] != 0x00) continue;
        const std::size_t ip = 14, udp = ip + (d[ip] & 0x0F) * 4u;
        if (udp + 8 > h->caplen) continue;
        Datagram g;
        g.sourcePort = d[udp] << 8 | d[udp + 1];
        g.payload.assign(d + udp + 8, d + h->caplen);
        out.push_back(std::move(g));
    }
    pcap_close(p);
    return out;
}

void sendTo(std::uint16_t port, const std::vector<std::uint8_t>& payload, std::size_t length) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::sendto(fd, payload.data(), length, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    ::close(fd);
}

// Two pmacctd agents at different sampling rates; every fifth datagram of the first is held
// back, then each datagram is sent cut in half: the collector counts the exporters, both rates,
// exactly the datagrams held back as lost, and every cut one as malformed.
TEST(FlowFeeds, SeveralSflowAgentsLossAndMalformedDatagramsCountedExactly) {
    skipWithoutTools({"pmacctd", "tcpdump"});
    const std::uint16_t exportPort = testPort(0), collectPort = testPort(1);
    test::TempDir dir;
    DatagramTap tap(dir, exportPort);
    ASSERT_TRUE(tap.listening());
    const std::string capture = test::runDir() + "/demo.pcap";
    std::vector<std::unique_ptr<test::BackgroundProcess>> agents;
    for (const char* agent : {"1", "2"}) {
        const std::string conf = dir.file(std::string("pmacctd") + agent + ".conf");
        test::writeFile(conf, "daemonize: false\npcap_savefile: " + capture +
                                  "\nplugins: sfprobe\nsfprobe_receiver: 127.0.0.1:" +
                                  std::to_string(exportPort) + "\nsfprobe_agentip: 10.1.0." +
                                  agent + "\nsampling_rate: " + (agent[0] == '1' ? "1" : "8") +
                                  "\n");
        agents.push_back(std::make_unique<test::BackgroundProcess>(
            std::vector<std::string>{"pmacctd", "-f", conf}, dir.path(),
            std::map<std::string, std::string>{}));
    }
    for (auto& a : agents) {
        // Under load pmacctd's core may see its sfprobe plugin gone before it exits itself ("no
        // more plugins active") and exit 1 instead of 0; either way the plugin ended on the
        // core's request, after the whole file.
        EXPECT_GE(a->wait(60000), 0) << a->output();
        EXPECT_NE(a->output().find("Shutting down on user request"), std::string::npos)
            << a->output();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::vector<Datagram> all = datagramsOf(tap.finish());
    ASSERT_GT(all.size(), 20u);

    auto source = collector(FeedKind::Sflow, collectPort);
    std::filesystem::create_directories(dir.file("intel"));
    test::CaptureSink sink(DLT_EN10MB, dir.file("intel"));
    std::map<int, int> seen;
    const int first = all.front().sourcePort;
    int heldBack = 0, sent = 0, lastOfFirst = 0;
    // Datagrams the capture itself missed on a busy machine are gaps as well: the sequence
    // numbers (IPv4 agents: bytes 16-19) say how many.
    std::map<int, std::uint32_t> lastSequence;
    std::uint64_t missedByTap = 0;
    for (const Datagram& g : all) {
        if (g.sourcePort == first) ++lastOfFirst;
        if (g.payload.size() < 20) continue;
        const std::uint32_t seq = std::uint32_t(g.payload[16]) << 24 | g.payload[17] << 16 |
                                  g.payload[18] << 8 | g.payload[19];
        auto it = lastSequence.find(g.sourcePort);
        if (it != lastSequence.end() && seq > it->second) missedByTap += seq - it->second - 1;
        lastSequence[g.sourcePort] = seq;
    }
    for (const Datagram& g : all) {
        const int n = ++seen[g.sourcePort];
        if (g.sourcePort == first && n % 5 == 0 && n < lastOfFirst) {
            ++heldBack;
            continue;
        }
        sendTo(collectPort, g.payload, g.payload.size());
        ++sent;
        if (sent % 16 == 0) drain(*source, sink, nullptr, 0, 1000);
    }
    for (const Datagram& g : all) sendTo(collectPort, g.payload, g.payload.size() / 2);
    drain(*source, sink, nullptr, 500, 10000);
    const FeedCounters& c = *source->feedCounters();
    EXPECT_EQ(c.datagrams.load(), std::uint64_t(sent) + all.size());
    EXPECT_EQ(c.exporters.load(), 2u);
    EXPECT_EQ(c.lost.load(), heldBack + missedByTap);
    EXPECT_EQ(c.malformed.load(), all.size());
    EXPECT_EQ(c.socketDrops.load(), 0u);
    std::vector<std::uint32_t> rates{c.rates[0].load(), c.rates[1].load()};
    std::sort(rates.begin(), rates.end());
    EXPECT_EQ(rates, (std::vector<std::uint32_t>{1, 8}));
    EXPECT_GT(sink.takeRecords().size(), 100u);
}

// A flood the socket cannot hold while nobody reads: every datagram is read or counted as dropped,
// also those dropped after the last one that found room (no datagram states them).
TEST(FlowFeeds, DatagramsTheSocketCouldNotHoldAreCounted) {
    const std::uint16_t port = testPort(2);
    auto source = collector(FeedKind::Sflow, port);
    const std::vector<std::uint8_t> big(60000, 0xAB);
    constexpr int kSent = 1500;  // 90 MB: more than the receive buffer holds
    for (int k = 0; k < kSent; ++k) sendTo(port, big, big.size());
    test::TempDir dir;
    std::filesystem::create_directories(dir.file("intel"));
    test::CaptureSink sink(DLT_EN10MB, dir.file("intel"));
    // Past a second, the collector asks the socket for its count.
    const auto until = Clock::now() + std::chrono::milliseconds(1500);
    while (Clock::now() < until) drain(*source, sink, nullptr, 0, 100);
    const FeedCounters& c = *source->feedCounters();
    EXPECT_GT(c.socketDrops.load(), 0u);
    EXPECT_EQ(c.datagrams.load() + c.socketDrops.load(), std::uint64_t(kSent));
    EXPECT_EQ(c.foreign.load(), c.datagrams.load());  // not sFlow: counted, never read as it
}

}  // namespace
}  // namespace tessel
