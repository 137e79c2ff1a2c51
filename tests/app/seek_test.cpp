// The real program seeking in a replay: the scene at a moment (--start, which takes the same road
// as a key or a click) holds the connections open at it and the hosts seen in the minute before,
// for pcap and pcapng alike; a moment outside the capture, or standard input, ends it with
// status 2 and a line that says why. Runs headless; look-ups stay on the machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "capture/capture_index.h"
#include "capture/file_source.h"
#include "core/replay_state.h"
#include "support/headless_run.h"
#include "support/timed_capture.h"

namespace tessel {
namespace {

constexpr std::int64_t kT0 = 1700000000;  // 2023-11-14 22:13:20 UTC
constexpr std::uint8_t kSyn = 0x02, kFinAck = 0x11, kPshAck = 0x18;
const std::string kHost = "192.168.1.10", kGateway = "192.168.1.1";

// 400 s of capture: a datagram to the gateway every second, and
//   t 0        a datagram to 198.51.100.1
//   t 5..20    A: connection to 203.0.113.1:80, data at 6, FIN at 20
//   t 100..200 B: connection to 203.0.113.2:443, data every 5 s to 195, FIN at 200
//   t 300..    C: connection to 203.0.113.3:22, data every 10 s, never closed
//   t 390      a datagram from 203.0.113.4
std::vector<test::TimedFrame> timeline() {
    std::vector<test::TimedFrame> f;
    auto at = [&](int second, int us, test::Bytes bytes) {
        f.push_back({(kT0 + second) * 1000000 + us, std::move(bytes)});
    };
    for (int t = 0; t <= 400; ++t) {
        at(t, 0, test::udpFrame(kHost, kGateway, 5353, 53, 30));
        if (t == 0) at(t, 10, test::udpFrame(kHost, "198.51.100.1", 123, 123, 48));
        if (t == 5) at(t, 10, test::tcpFrame(kHost, "203.0.113.1", 40001, 80, kSyn, 4));
        if (t == 6) at(t, 10, test::tcpFrame(kHost, "203.0.113.1", 40001, 80, kPshAck, 0, 100));
        if (t == 20) at(t, 10, test::tcpFrame(kHost, "203.0.113.1", 40001, 80, kFinAck));
        if (t == 100) at(t, 10, test::tcpFrame(kHost, "203.0.113.2", 40002, 443, kSyn, 4));
        if (t > 100 && t <= 195 && t % 5 == 1)
            at(t, 10, test::tcpFrame("203.0.113.2", kHost, 443, 40002, kPshAck, 0, 200));
        if (t == 200) at(t, 10, test::tcpFrame(kHost, "203.0.113.2", 40002, 443, kFinAck));
        if (t == 300) at(t, 10, test::tcpFrame(kHost, "203.0.113.3", 40003, 22, kSyn, 4));
        if (t > 300 && t % 10 == 1)
            at(t, 10, test::tcpFrame(kHost, "203.0.113.3", 40003, 22, kPshAck, 0, 64));
        if (t == 390) at(t, 10, test::udpFrame("203.0.113.4", kHost, 53, 5353, 80));
    }
    return f;
}

struct Scene {
    std::set<std::string> nodes, beams;
    std::int64_t clockUs = -1;
};

Scene sceneOf(const std::string& dump) {
    Scene s;
    std::istringstream in(dump);
    std::string line;
    std::smatch m;
    const std::regex node("^node [0-9]+ ([^ ]+) "), beam("^beam ([^ ]+) ([^ ]+) "),
        clock("^replay clock (-?[0-9]+) ");
    while (std::getline(in, line)) {
        if (std::regex_search(line, m, node)) s.nodes.insert(m[1]);
        if (std::regex_search(line, m, beam)) s.beams.insert(m[1].str() + " " + m[2].str());
        if (std::regex_search(line, m, clock)) s.clockUs = std::stoll(m[1]);
    }
    return s;
}

std::string joined(const std::set<std::string>& set) {
    std::string out;
    for (const std::string& s : set) out += s + "; ";
    return out;
}

class SeekProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(test::writeTimedCapture(dir.file("timeline.pcap"), timeline(), false));
        ASSERT_TRUE(test::writeTimedCapture(dir.file("timeline.pcapng"), timeline(), true));
    }
    test::TempDir dir;
};

// The index points at the records it names, through libpcap, in both formats and in a capture
// tcpdump wrote.
TEST_F(SeekProgram, IndexEntriesLeadToTheirFrames) {
    for (const std::string& file : {dir.file("timeline.pcap"), dir.file("timeline.pcapng"),
                                    test::sourceDir() + "/tests/captures/real_veth_clients.pcap"}) {
        SCOPED_TRACE(file);
        ReplayTimeline shown;
        cCaptureFileSource source;
        std::string error;
        ASSERT_TRUE(source.open(file, &error)) << error;
        source.startIndex(&shown);
        const cCaptureIndex& index = *source.index();
        index.waitToCover(std::numeric_limits<std::int64_t>::max());
        ASSERT_TRUE(index.complete());
        std::int64_t first = 0, last = 0;
        ASSERT_TRUE(index.span(&first, &last));
        EXPECT_EQ(shown.read(0).firstUs, first);
        EXPECT_EQ(shown.read(0).lastUs, last);
        const ReplayTimeline::View slices = shown.read(300);
        ASSERT_EQ(slices.buckets.size(), 300u);
        EXPECT_EQ(*std::max_element(slices.buckets.begin(), slices.buckets.end()), 1.0f);
        // Backwards, so each seek goes against the way the file reads.
        const bool everySecond = file.find("/timeline") != std::string::npos;
        std::vector<cCaptureIndex::Entry> entries;
        const std::int64_t step = std::max<std::int64_t>(1000000, (last - first) / 1000);
        for (std::int64_t t = last; t >= first; t -= step) {
            cCaptureIndex::Entry e;
            ASSERT_TRUE(index.entryBefore(t, &e));
            EXPECT_LE(e.timeUs, t);
            if (everySecond) {
                EXPECT_GT(e.timeUs, t - 1000000);
            }
            entries.push_back(e);
        }
        for (const cCaptureIndex::Entry& e : entries) {
            ASSERT_TRUE(source.seekToOffset(e.offset)) << source.errorText();
            const pcap_pkthdr* h = nullptr;
            const u_char* data = nullptr;
            ASSERT_EQ(source.next(&h, &data), 1) << source.errorText();
            EXPECT_EQ(std::int64_t(h->ts.tv_sec) * 1000000 + h->ts.tv_usec, e.timeUs);
        }
    }
}

TEST_F(SeekProgram, SceneAtAMomentIsWhatTheTimelineImplies) {
    struct Moment {
        std::string start;
        std::int64_t second;
        std::set<std::string> foreign, beams;
    };
    const std::vector<Moment> moments = {
        {"10", 10, {"198.51.100.1", "203.0.113.1"}, {kHost + ":40001 203.0.113.1:80"}},
        {"2:30", 150, {"203.0.113.2"}, {kHost + ":40002 203.0.113.2:443"}},
        {"0:04:10", 250, {"203.0.113.2"}, {}},
        // 22:19:10 UTC is 350 s in.
        {"@22:19:10", 350, {"203.0.113.3"}, {kHost + ":40003 203.0.113.3:22"}},
    };
    for (const char* file : {"timeline.pcap", "timeline.pcapng"}) {
        for (const Moment& at : moments) {
            SCOPED_TRACE(std::string(file) + " --start " + at.start);
            test::HeadlessRun tessel(
                {"env", "TZ=UTC"},
                {"-r", dir.file(file), "--start", at.start, "--speed", "0.01", "--maxfps", "30",
                 "--host", kHost, "--netmask", "255.255.255.0", "--gateway", kGateway});
            std::set<std::string> nodes = at.foreign;
            nodes.insert(kHost);
            nodes.insert(kGateway);
            std::string dump;
            Scene seen;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (std::chrono::steady_clock::now() < deadline && tessel.tessel->running()) {
                dump = tessel.dump();
                seen = sceneOf(dump);
                if (seen.nodes == nodes && seen.beams == at.beams &&
                    seen.clockUs >= (kT0 + at.second) * 1000000)
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            EXPECT_EQ(joined(seen.nodes), joined(nodes)) << dump << tessel.tessel->output();
            EXPECT_EQ(joined(seen.beams), joined(at.beams)) << dump;
            // Paced from the moment on, at a hundredth of the capture's pace.
            EXPECT_GE(seen.clockUs, (kT0 + at.second) * 1000000) << dump;
            EXPECT_LT(seen.clockUs, (kT0 + at.second + 2) * 1000000) << dump;
        }
    }
}

TEST_F(SeekProgram, AStartOutsideTheCaptureOrOnStandardInputEndsWithStatusTwo) {
    struct Case {
        std::vector<std::string> args;
        std::string said;
    };
    const std::vector<Case> cases = {
        {{"-r", dir.file("timeline.pcapng"), "--start", "6:41"},
         "tessel: --start: '6:41' is beyond the end of the capture (it lasts 0:06:40)"},
        {{"-r", dir.file("timeline.pcap"), "--start", "2023-11-14 22:13:19"},
         "tessel: --start: '2023-11-14 22:13:19' is before the capture starts"},
        {{"-r", "-", "--start", "10"},
         "tessel: --start: standard input cannot seek; replay a file to start later"},
        {{"--start", "10"}, "tessel: --start: only a replay of a file can start later"},
        {{"-r", dir.file("timeline.pcap"), "--start", "1:5"},
         "tessel: --start: '1:5' is not an offset (90, 1:30, 1:02:03)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.said);
        test::TesselRun t;
        const test::ProcessResult r = t.run(c.args, {{"TESSEL_NULL_DRIVER", "1"}, {"TZ", "UTC"}});
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    }
    // The last second of the capture is still in it.
    test::HeadlessRun tessel({}, {"-r", dir.file("timeline.pcap"), "--start", "6:40"});
    std::string dump;
    EXPECT_TRUE(tessel.waitDump("\nmessage 0 Replay finished\n", 20, &dump))
        << dump << tessel.tessel->output();
}

}  // namespace
}  // namespace tessel
