// Replay pacing on a clock the test drives, and who this host and the gateway are in a capture
// that no adapter describes.
#include <gtest/gtest.h>

#include <chrono>

#include "capture/replay_pacer.h"
#include "capture/replay_source.h"
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
    cReplaySource source;
    std::string error;
    EXPECT_TRUE(source.open(file, &error)) << error;
    return source.guessAdapter(host, netmask, gateway);
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

}  // namespace
}  // namespace tessel
