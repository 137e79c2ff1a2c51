// Replay pacing on a clock the test drives, a recording's replay stepped frame by frame, and who
// this host and the gateway are in a capture that no adapter describes.
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <vector>

#include "capture/adapter_inference.h"
#include "capture/frame_source.h"
#include "capture/packet_dispatch.h"
#include "capture/replay_pacer.h"
#include "capture/replay_stepper.h"
#include "capture/stream_source.h"
#include "core/hand_off.h"
#include "core/replay_state.h"
#include "support/capture_frames.h"
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

TEST(ReplayStepper, EachStepReleasesExactlyTheFramesDueByThen) {
    // Frames at 0, 0.5, 1 and 1 s, then 20 s of silence (skipped), then 21 and 21.5 s; each
    // carries its number as its source port.
    test::TempDir dir;
    const std::string file = dir.file("steps.pcap");
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* out = pcap_dump_open(dead, file.c_str());
    ASSERT_NE(out, nullptr);
    const std::int64_t stampsMs[] = {0, 500, 1000, 1000, 21000, 21500};
    for (int i = 0; i < 6; ++i) {
        const test::Bytes frame = test::udpFrame("10.0.0.1", "10.0.0.2", 1000 + i, 53, 20);
        pcap_pkthdr h{};
        h.ts.tv_sec = 1700000000 + stampsMs[i] / 1000;
        h.ts.tv_usec = (stampsMs[i] % 1000) * 1000;
        h.caplen = h.len = bpf_u_int32(frame.size());
        pcap_dump(reinterpret_cast<u_char*>(out), &h, frame.data());
    }
    pcap_dump_close(out);
    pcap_close(dead);

    std::string error;
    std::unique_ptr<cFrameSource> source = openReplaySource(file, &error);
    ASSERT_NE(source, nullptr) << error;
    HandOffChannel channel;
    CaptureCounters counters;
    PacketSink sink;
    sink.channel = &channel;
    sink.counters = &counters;
    cReplayStepper stepper(*source, sink, 2.0);  // twice as fast: due at half the capture time
    const auto never = [] { return false; };
    std::vector<int> ports;
    std::vector<std::string> messages;
    auto step = [&](std::chrono::milliseconds elapsed) {
        const bool more = stepper.releaseUntil(elapsed, never);
        HandOffBatch batch = channel.drain(true);
        for (const TrafficRecord& r : batch.records) ports.push_back(r.srcport);
        messages.insert(messages.end(), batch.messages.begin(), batch.messages.end());
        return more;
    };
    EXPECT_TRUE(step(0ms));
    EXPECT_EQ(ports, (std::vector<int>{1000}));
    EXPECT_TRUE(step(249ms));
    EXPECT_EQ(counters.packets, 1u);
    EXPECT_TRUE(step(250ms));  // due exactly now: released
    EXPECT_EQ(counters.packets, 2u);
    EXPECT_TRUE(step(500ms));  // both frames of 1 s, and the one after the skipped silence
    EXPECT_EQ(ports, (std::vector<int>{1000, 1001, 1002, 1003, 1004}));
    EXPECT_EQ(messages, (std::vector<std::string>{"Skipped 20 s without traffic"}));
    EXPECT_EQ(replayState().captureClockUs.load(), 1'700'000'021'000'000);
    EXPECT_FALSE(replayState().finished.load());
    EXPECT_TRUE(step(749ms));
    // The last frame, and the end of the file found in the same step.
    EXPECT_FALSE(step(750ms));
    EXPECT_EQ(ports, (std::vector<int>{1000, 1001, 1002, 1003, 1004, 1005}));
    EXPECT_TRUE(replayState().finished.load());
    EXPECT_EQ(replayState().progressPermille.load(), 1000);
    EXPECT_FALSE(step(10s));
    EXPECT_EQ(counters.packets, 6u);
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
