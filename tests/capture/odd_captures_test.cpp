// Capture files replayed through the real capture library into onPacket: the committed odd
// captures against tests/captures/TESTLIST, and real clients recorded by tcpdump on a veth of
// the test's own against tcpdump's own reading of the same file.
#include "support/odd_captures.h"

#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "capture/intel_reader.h"
#include "support/capture_sink.h"
#include "support/test_support.h"
#include "support/veth_pair.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int starts = 0, ends = 0, records = 0;
    std::uint64_t shortDrops = 0, malformed = 0, ignored = 0;
    std::string srcports = "-";  // sorted distinct source ports of the records
};

bool operator==(const Outcome& a, const Outcome& b) {
    return a.starts == b.starts && a.ends == b.ends && a.records == b.records &&
           a.shortDrops == b.shortDrops && a.malformed == b.malformed && a.ignored == b.ignored &&
           a.srcports == b.srcports;
}

std::ostream& operator<<(std::ostream& o, const Outcome& x) {
    return o << x.starts << " " << x.ends << " " << x.records << " " << x.shortDrops << " "
             << x.malformed << " " << x.ignored << " " << x.srcports;
}

std::string joinPorts(const std::set<int>& ports) {
    std::string text;
    for (int port : ports) text += (text.empty() ? "" : ",") + std::to_string(port);
    return text.empty() ? "-" : text;
}

// Replays `file` with the current directory holding an empty intel/ folder; gives what came of it
// and the file's link type. Beam events and intel records are taken up, so calls add nothing to
// each other.
Outcome replay(const std::string& file, int* linkType) {
    Outcome o;
    char err[PCAP_ERRBUF_SIZE] = "";
    pcap_t* p = pcap_open_offline(file.c_str(), err);
    EXPECT_NE(p, nullptr) << err;
    if (!p) return o;
    *linkType = pcap_datalink(p);
    test::CaptureSink capture(*linkType);
    EXPECT_EQ(pcap_loop(p, 0, onPacket, capture.user()), 0) << pcap_geterr(p);
    pcap_close(p);
    for (const BeamEvent& e : capture.takeBeams()) (e.start ? o.starts : o.ends) += 1;
    o.shortDrops = capture.counters.droppedShort;
    o.malformed = capture.counters.droppedMalformed;
    o.ignored = capture.counters.ignored;
    std::set<int> ports;
    for (const TrafficRecord& a : capture.takeRecords()) {
        ++o.records;
        ports.insert(a.srcport);
    }
    o.srcports = joinPorts(ports);
    return o;
}

// What tcpdump itself reads in a capture file, counted the way the decoder should: IPv4 and
// IPv6 TCP, UDP, ICMP and ICMPv6 (first fragments only) are packets, the rest is ignored; SYN
// starts, FIN/RST ends, a bare TCP segment (IPv4 length 40, IPv6 payload 20) is not recorded.
bool haveTcpdump() { return test::runProcess({"tcpdump", "--version"}, "", {}, 5000).status == 0; }

Outcome tcpdumpReading(const std::string& file) {
    // Through a file: runProcess keeps only the first 4 KiB of what is still in the pipe when the
    // child ends, and tcpdump writes most of its output at its end.
    test::TempDir out;
    const std::string text = out.file("reading.txt");
    test::runProcess({"sh", "-c", "tcpdump -r \"$0\" -nn -v > \"$1\" 2>/dev/null", file, text}, "",
                     {}, 20000);
    const std::regex ipLine(
        R"(\bIP \(tos \S+, ttl \d+, id \d+, offset (\d+), .*proto (TCP|UDP|ICMP) \(\d+\), length (\d+)\))");
    // IPv6 on one line: the header, then addresses and ports; ICMPv6 behind options.
    const std::regex ip6Line(
        R"(\bIP6 \(.*next-header (\S+) \(\d+\) payload length: (\d+)\) ([0-9a-f:]+)\.?(\d*) > )");
    const std::regex sourcePort(R"(^\s*\d+\.\d+\.\d+\.\d+\.(\d+) > )"),
        flags(R"(Flags \[([^\]]*)\])");
    Outcome o;
    std::set<int> ports;
    std::istringstream in(test::readFile(text));
    for (std::string line, next; std::getline(in, line);) {
        if (line.empty() || line[0] == ' ' || line[0] == '\t') continue;  // inside one packet
        std::smatch m, p, f;
        if (std::regex_search(line, m, ip6Line)) {
            const bool icmp = line.find(" ICMP6, ") != std::string::npos;
            if (!icmp && m[1] != "TCP" && m[1] != "UDP") {
                ++o.ignored;
                continue;
            }
            if (m[1] == "TCP") {
                const std::string set = std::regex_search(line, f, flags) ? f[1].str() : "";
                o.starts += set.find('S') != std::string::npos;
                o.ends += set.find_first_of("FR") != std::string::npos;
                if (m[2] == "20") continue;
            }
            ++o.records;
            ports.insert(icmp || m[4].str().empty() ? 0 : std::stoi(m[4]));
            continue;
        }
        if (!std::regex_search(line, m, ipLine) || m[1] != "0") {
            ++o.ignored;
            continue;
        }
        std::getline(in, next);  // with -v: addresses, ports and TCP flags
        bool recorded = true;
        if (m[2] == "TCP") {
            const std::string set = std::regex_search(next, f, flags) ? f[1].str() : "";
            o.starts += set.find('S') != std::string::npos;
            o.ends += set.find_first_of("FR") != std::string::npos;
            recorded = m[3] != "40";
        }
        if (!recorded) continue;
        ++o.records;
        ports.insert(std::regex_search(next, p, sourcePort) ? std::stoi(p[1]) : 0);
    }
    o.srcports = joinPorts(ports);
    return o;
}

class Replay : public ::testing::Test {
  protected:
    void SetUp() override {
        cwd = std::make_unique<test::ScopedCwd>(dir.path());
        ASSERT_EQ(mkdir(intelFolder, 0755), 0);
    }
    test::TempDir dir;
    std::unique_ptr<test::ScopedCwd> cwd;
};

TEST_F(Replay, EveryCommittedCaptureGivesItsListedOutcome) {
    const std::string folder = test::sourceDir() + "/tests/captures";
    std::ifstream list(folder + "/TESTLIST");
    ASSERT_TRUE(list) << "no TESTLIST in " << folder;
    std::map<std::string, test::CraftedCapture> crafted;
    for (test::CraftedCapture& c : test::craftedCaptures()) crafted[c.file] = c;

    std::set<std::string> listed;
    std::string line;
    while (std::getline(list, line)) {
        line = line.substr(0, line.find('#'));
        std::istringstream in(line);
        std::string file, link;
        Outcome want;
        if (!(in >> file)) continue;
        SCOPED_TRACE(file);
        ASSERT_TRUE(in >> link >> want.starts >> want.ends >> want.records >> want.shortDrops >>
                    want.malformed >> want.ignored >> want.srcports)
            << "bad TESTLIST line: " << line;
        listed.insert(file);
        const std::string path = folder + "/" + file;
        ASSERT_TRUE(test::fileExists(path));
        auto c = crafted.find(file);
        if (c != crafted.end()) {  // the committed file is what the generator makes now
            ASSERT_TRUE(test::writeCaptureFile(dir.file("fresh.pcap"), c->second));
            EXPECT_EQ(test::readFile(path), test::readFile(dir.file("fresh.pcap")))
                << "stale: rebuild tests/captures with make_captures";
        }
        int linkType = -1;
        Outcome got = replay(path, &linkType);
        EXPECT_EQ(linkType, pcap_datalink_name_to_val(link.c_str())) << link;
        EXPECT_EQ(got, want);
        if (file.rfind("real_", 0) == 0 && haveTcpdump()) {
            EXPECT_EQ(tcpdumpReading(path), want);
        }
    }
    for (const auto& c : crafted) EXPECT_EQ(listed.count(c.first), 1u) << c.first << " unlisted";
    for (const auto& e : fs::directory_iterator(folder)) {
        if (e.path().extension() != ".pcap") continue;
        EXPECT_EQ(listed.count(e.path().filename().string()), 1u) << e.path() << " unlisted";
    }
}

TEST_F(Replay, RealClientsRecordedByTcpdumpMatchTcpdumpsOwnReading) {
    if (!test::isRoot()) GTEST_SKIP() << "needs root for network namespaces and capture";
    if (!haveTcpdump()) GTEST_SKIP() << "tcpdump is not installed";
    test::VethPair lab;
    ASSERT_TRUE(lab.ok);
    test::TempDir serve;
    test::writeFile(serve.file("index.html"), std::string(3000, 'x'));
    test::BackgroundProcess web(
        lab.in(lab.server, {"python3", "-m", "http.server", "8000", "--bind", "10.78.0.2"}),
        serve.path(), {});
    // One capture on the veth (Ethernet) and one on "any" (Linux cooked), each frame written as
    // it comes: frames still in the ring when tcpdump is stopped would be lost.
    const std::string veth = dir.file("real_veth_clients.pcap");
    const std::string any = dir.file("real_any_clients.pcap");
    test::BackgroundProcess dumpVeth(
        lab.in(lab.client,
               {"tcpdump", "-Z", "root", "--immediate-mode", "-U", "-i", lab.nic, "-w", veth}),
        "", {});
    test::BackgroundProcess dumpAny(lab.in(lab.client, {"tcpdump", "-Z", "root", "--immediate-mode",
                                                        "-U", "-i", "any", "-w", any}),
                                    "", {});
    ASSERT_TRUE(test::waitForOutput(dumpVeth, "listening on", 10000)) << dumpVeth.output();
    ASSERT_TRUE(test::waitForOutput(dumpAny, "listening on", 10000)) << dumpAny.output();
    std::string out;
    for (int i = 0; i < 50; ++i) {  // the server may need a moment to listen
        test::ProcessResult r = test::runProcess(
            lab.in(lab.client, {"curl", "-s", "-o", "/dev/null", "-w", "%{http_code}",
                                "http://10.78.0.2:8000/index.html"}),
            "", {}, 10000);
        out = r.out;
        if (out == "200") break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_EQ(out, "200");
    test::ProcessResult ping = test::runProcess(
        lab.in(lab.client, {"ping", "-c", "2", "-i", "0.2", "10.78.0.2"}), "", {}, 10000);
    EXPECT_NE(ping.out.find("2 received"), std::string::npos) << ping.out;
    test::runProcess(lab.in(lab.client, {"python3", "-c",
                                         "import socket\n"
                                         "s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
                                         "s.bind(('10.78.0.1', 5300))\n"
                                         "s.sendto(b'x' * 60, ('10.78.0.2', 5353))\n"}),
                     "", {}, 10000);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the last frames reach tcpdump
    for (test::BackgroundProcess* d : {&dumpVeth, &dumpAny}) {
        kill(d->pid(), SIGINT);
        EXPECT_EQ(d->wait(10000), 0) << d->output();
    }

    for (const std::string& file : {veth, any}) {
        SCOPED_TRACE(file);
        int linkType = -1;
        Outcome got = replay(file, &linkType);
        if (file == veth)
            EXPECT_EQ(linkType, DLT_EN10MB);
        else
            EXPECT_TRUE(linkType == DLT_LINUX_SLL2 || linkType == DLT_LINUX_SLL) << linkType;
        Outcome want = tcpdumpReading(file);
        EXPECT_EQ(got, want);
        EXPECT_GE(got.starts, 2);  // the client's SYN and the server's SYN-ACK
        EXPECT_GE(got.ends, 2);    // both sides close
        EXPECT_GE(got.records, 5) << "data segments, two echoes and replies, the datagram";
        EXPECT_NE(got.srcports.find("0,"), std::string::npos) << "the echoes";
        EXPECT_NE(got.srcports.find("5300"), std::string::npos) << "the datagram";
        EXPECT_EQ(got.shortDrops + got.malformed, 0u);
        if (const char* keep = std::getenv("TESSEL_KEEP_REAL_CAPTURES"))
            fs::copy_file(file, std::string(keep) + "/" + fs::path(file).filename().string(),
                          fs::copy_options::overwrite_existing);
    }
}

}  // namespace
}  // namespace tessel
