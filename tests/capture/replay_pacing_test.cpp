// Replay pacing on a clock the test drives, and who this host and the gateway are in a capture
// that no adapter describes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <vector>

#include "capture/adapter_inference.h"
#include "capture/frame_source.h"
#include "capture/replay_pacer.h"
#include "capture/stream_source.h"
#include "support/test_support.h"

namespace tessel {
namespace {

using namespace std::chrono_literals;
using Clock = cReplayPacer::Clock;

constexpr std::int64_t kHalfSecondUs = 500'000;
constexpr std::int64_t kEpochUs = 1'700'000'000'000'000;

// Milliseconds from `start` to when the frame taken last is due.
long long dueMs(const cReplayPacer& pacer, Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(pacer.due() - start).count();
}

TEST(ReplayPacer, FramesHalfASecondApartAreDueAtTheirPaceTimesTheSpeed) {
    for (double speed : {1.0, 10.0}) {
        SCOPED_TRACE(speed);
        cReplayPacer pacer;
        const Clock::time_point start{};
        pacer.setSpeed(speed, start);
        for (int i = 0; i < 5; ++i) {
            // The frame is admitted late (the reader was slow); its due time does not drift.
            EXPECT_EQ(pacer.admit(kEpochUs + i * kHalfSecondUs, start + i * 700ms), 0);
            EXPECT_EQ(dueMs(pacer, start), static_cast<long long>(i * 500 / speed));
        }
    }
}

TEST(ReplayPacer, PauseStopsTheClockAndSpeedChangesFromNowOn) {
    cReplayPacer pacer;
    const Clock::time_point start{};
    pacer.admit(kEpochUs, start);
    pacer.admit(kEpochUs + 4 * kHalfSecondUs, start);  // 2 s of capture ahead
    EXPECT_EQ(dueMs(pacer, start), 2000);

    pacer.setPaused(true, start + 1s);  // 1 s of capture played
    EXPECT_EQ(pacer.due(), Clock::time_point::max());
    pacer.setPaused(false, start + 31s);  // 30 s later, one second still to play
    EXPECT_EQ(dueMs(pacer, start), 32000);

    pacer.setSpeed(4, start + 31500ms);  // half of it played, the other half four times as fast
    EXPECT_EQ(dueMs(pacer, start), 31625);
}

TEST(ReplayPacer, LongGapsAndBackwardStampsDoNotHoldTheReplay) {
    cReplayPacer pacer;
    const Clock::time_point start{};
    pacer.admit(kEpochUs, start);
    EXPECT_EQ(pacer.admit(kEpochUs + 10'000'000, start), 0);  // exactly 10 s: played out
    EXPECT_EQ(dueMs(pacer, start), 10000);
    EXPECT_EQ(pacer.admit(kEpochUs + 70'000'000, start), 60'000'000);  // a minute: skipped
    EXPECT_EQ(dueMs(pacer, start), 10000);
    EXPECT_EQ(pacer.admit(kEpochUs + 70'500'000, start), 0);
    EXPECT_EQ(dueMs(pacer, start), 10500);
    EXPECT_EQ(pacer.admit(kEpochUs + 5'000'000, start), 0);  // runs backwards: due at once
    EXPECT_EQ(dueMs(pacer, start), 10500);
    EXPECT_EQ(pacer.admit(kEpochUs + 5'500'000, start), 0);
    EXPECT_EQ(dueMs(pacer, start), 11000);

    pacer.restart();  // a looped file: its first frame starts the timeline again
    pacer.admit(kEpochUs, start + 20s);
    EXPECT_EQ(dueMs(pacer, start), 20000);
}

AdapterGuess guessFor(const std::string& file, const std::string& host = "",
                      const std::string& netmask = "", const std::string& gateway = "") {
    std::string error;
    std::unique_ptr<cFrameSource> source = openReplaySource(file, &error);
    EXPECT_NE(source, nullptr) << error;
    if (!source) return AdapterGuess();
    return guessAdapter(*source, host, netmask, gateway);
}

TEST(AdapterInference, HostAndGatewayComeFromTheTrafficUnlessGiven) {
    // The demo: a workstation behind a home router, which answers ARP and carries the web.
    const std::string demo = test::runDir() + "/demo.pcap";
    AdapterGuess g = guessFor(demo);
    EXPECT_EQ(g.host, "192.168.1.10") << g.hostReason;
    EXPECT_EQ(g.netmask, "255.255.255.0");
    EXPECT_EQ(g.gateway, "192.168.1.1") << g.gatewayReason;

    g = guessFor(demo, "192.168.1.20", "255.255.0.0", "192.168.1.254");
    EXPECT_EQ(g.host, "192.168.1.20");
    EXPECT_EQ(g.netmask, "255.255.0.0");
    EXPECT_EQ(g.gateway, "192.168.1.254");

    // Two hosts on one link, nothing beyond it: a host (the first to talk), no gateway.
    const std::string captures = test::sourceDir() + "/tests/captures/";
    g = guessFor(captures + "real_veth_clients.pcap");
    EXPECT_EQ(g.host, "10.78.0.1") << g.hostReason;
    EXPECT_EQ(g.gateway, "") << g.gatewayReason;
    // No IPv4 traffic at all.
    g = guessFor(captures + "ipv6.pcap");
    EXPECT_EQ(g.host, "");
    EXPECT_EQ(g.gateway, "");
}

// A stream's first frames are read ahead for the guess, kept, and given first; what is already
// in the read buffer counts without waiting for more, and the read-ahead never outwaits 5 s.
TEST(AdapterInference, AStreamIsJudgedByFramesItThenReplays) {
    const std::string file = test::runDir() + "/demo.pcap";
    char err[PCAP_ERRBUF_SIZE] = "";
    pcap_t* p = pcap_open_offline(file.c_str(), err);
    ASSERT_NE(p, nullptr) << err;
    std::vector<std::vector<u_char>> expected;
    pcap_pkthdr* h = nullptr;
    const u_char* data = nullptr;
    while (expected.size() < 40 && pcap_next_ex(p, &h, &data) == 1)
        expected.emplace_back(data, data + h->caplen);
    pcap_close(p);
    ASSERT_EQ(expected.size(), 40u);
    // The file's first 40 frames, with its header, in one write; the writer stays open.
    const std::string whole = test::readFile(file);
    std::size_t end = 24;
    for (std::size_t i = 0; i < expected.size(); ++i) end += 16 + expected[i].size();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], whole.data(), end), ssize_t(end));

    cLiveStreamSource source("test stream");
    std::string error;
    ASSERT_TRUE(source.open(fds[0], 1000, &error)) << error;
    const auto started = std::chrono::steady_clock::now();
    const AdapterGuess g = guessAdapter(source, "", "", "");
    const double waited =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(g.host, "192.168.1.10") << g.hostReason;
    EXPECT_GT(waited, 4.5);  // the stream stayed open: the read-ahead ends at 5 s
    EXPECT_LT(waited, 6.0);
    for (const auto& frame : expected) {
        ASSERT_EQ(source.waitFd(), -1);  // kept frames: nothing to wait for
        const pcap_pkthdr* header = nullptr;
        const u_char* bytes = nullptr;
        ASSERT_EQ(source.next(&header, &bytes), 1);
        EXPECT_EQ(std::vector<u_char>(bytes, bytes + header->caplen), frame);
    }
    EXPECT_EQ(source.waitFd(), fds[0]);  // now the pipe
    close(fds[1]);
    const pcap_pkthdr* header = nullptr;
    const u_char* bytes = nullptr;
    EXPECT_EQ(source.next(&header, &bytes), PCAP_ERROR_BREAK);
}

}  // namespace
}  // namespace tessel
