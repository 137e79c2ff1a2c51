#include "capture/flow_player.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "capture/packet_decoder.h"

namespace tessel {
namespace {

constexpr std::int64_t kSecond = 1'000'000;
constexpr std::int64_t kT0 = 1'700'000'000LL * kSecond;
constexpr std::uint8_t kFin = 0x01, kSyn = 0x02, kRst = 0x04, kPsh = 0x08, kAck = 0x10;

FlowRecord flow(const std::string& src, const std::string& dst, std::uint16_t sp, std::uint16_t dp,
                std::uint8_t protocol = 6, std::uint8_t flags = 0) {
    FlowRecord r;
    r.ipVersion = src.find(':') == std::string::npos ? 4 : 6;
    const int family = r.ipVersion == 6 ? AF_INET6 : AF_INET;
    EXPECT_EQ(inet_pton(family, src.c_str(), r.src), 1);
    EXPECT_EQ(inet_pton(family, dst.c_str(), r.dst), 1);
    r.srcPort = sp;
    r.dstPort = dp;
    r.protocol = protocol;
    r.tcpFlags = flags;
    r.packets = 1;
    r.octets = 500;
    return r;
}

FlowExporter exporter(std::uint8_t last) {
    FlowExporter e;
    e.address[15] = last;
    return e;
}

std::int64_t tsUs(const FeedFrame& f) {
    return std::int64_t(f.header.ts.tv_sec) * kSecond + f.header.ts.tv_usec;
}

std::vector<FeedFrame> drain(cFlowPlayer& player, std::int64_t nowUs) {
    std::vector<FeedFrame> out;
    FeedFrame f;
    while (player.next(nowUs, &f)) out.push_back(f);
    return out;
}

DecodedFrame decode(const FeedFrame& f) {
    return decodeFrame(DLT_EN10MB, f.bytes, f.header.caplen);
}

std::uint64_t weights(const std::vector<FeedFrame>& frames) {
    std::uint64_t sum = 0;
    for (const FeedFrame& f : frames) sum += f.weight;
    return sum;
}

TEST(FlowPlayer, WeightsAddUpToPacketsTimesSamplingWithoutLoopingOverPackets) {
    cFlowPlayer player{cFlowPlayer::Options()};
    FlowRecord r = flow("10.0.0.1", "10.0.0.2", 1000, 53, 17);
    r.packets = 5;  // no sampling interval: 1 in 1
    player.add(exporter(1), r, kT0);
    std::vector<FeedFrame> frames = drain(player, kT0);
    EXPECT_EQ(frames.size(), 5u);
    EXPECT_EQ(weights(frames), 5u);

    r.packets = 1'000'003;
    r.samplingInterval = 7;
    player.add(exporter(1), r, kT0);
    frames = drain(player, kT0);
    ASSERT_EQ(frames.size(), cFlowPlayer::kMaxFramesPerFlow);
    EXPECT_EQ(weights(frames), 7'000'021u);
    for (const FeedFrame& f : frames) {  // the remainder spread, not heaped on one frame
        EXPECT_GE(f.weight, 7'000'021u / 16);
        EXPECT_LE(f.weight, 7'000'021u / 16 + 1);
    }

    r.packets = 0;  // not exported: one packet
    r.samplingInterval = 0;
    player.add(exporter(1), r, kT0);
    frames = drain(player, kT0);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].weight, 1u);
    EXPECT_EQ(frames[0].header.len, 500u);

    // Beyond what 32-bit weights carry, each frame weighs the most it can.
    r.packets = UINT64_MAX;
    r.samplingInterval = UINT32_MAX;
    player.add(exporter(1), r, kT0);
    frames = drain(player, kT0);
    ASSERT_EQ(frames.size(), cFlowPlayer::kMaxFramesPerFlow);
    for (const FeedFrame& f : frames) EXPECT_EQ(f.weight, UINT32_MAX);
    EXPECT_EQ(player.totals().frames, 5u + 16 + 1 + 16);
    EXPECT_EQ(player.totals().dropped, 0u);
}

TEST(FlowPlayer, FramesSpreadOverTheDurationFromArrivalCappedAndInAddOrder) {
    cFlowPlayer::Options options;
    options.maxSpreadMs = 60'000;
    cFlowPlayer player(options);
    FlowRecord r = flow("10.0.0.1", "10.0.0.2", 1000, 80);
    r.packets = 4;
    r.startMs = 5'000;  // exporter clock: only the duration counts
    r.endMs = 8'000;
    player.add(exporter(1), r, kT0);
    EXPECT_EQ(player.scheduled(), 4u);
    EXPECT_EQ(player.nextDueUs(), kT0);
    FeedFrame f;
    ASSERT_TRUE(player.next(kT0, &f));
    EXPECT_EQ(tsUs(f), kT0);
    EXPECT_FALSE(player.next(kT0 + kSecond - 1, &f));
    EXPECT_EQ(player.nextDueUs(), kT0 + kSecond);
    std::vector<FeedFrame> rest = drain(player, kT0 + 10 * kSecond);
    ASSERT_EQ(rest.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(tsUs(rest[i]), kT0 + (i + 1) * kSecond);
    EXPECT_EQ(player.nextDueUs(), INT64_MAX);

    // A ten-minute flow is spread over a minute at most.
    r.endMs = r.startMs + 600'000;
    player.add(exporter(1), r, kT0);
    std::vector<FeedFrame> capped = drain(player, kT0 + 3600 * kSecond);
    ASSERT_EQ(capped.size(), 4u);
    EXPECT_EQ(tsUs(capped.back()), kT0 + 60 * kSecond);

    // Without a duration everything is due at once; ties keep the order of adding, and an
    // earlier frame added later still goes first.
    FlowRecord a = flow("10.0.0.1", "10.0.0.2", 1, 2, 17),
               b = flow("10.0.0.3", "10.0.0.4", 3, 4, 17);
    a.packets = b.packets = 2;
    player.add(exporter(1), a, kT0 + kSecond);
    player.add(exporter(1), b, kT0 + kSecond);
    player.add(exporter(1), a, kT0);
    std::vector<FeedFrame> order = drain(player, kT0 + kSecond);
    ASSERT_EQ(order.size(), 6u);
    const std::uint16_t expected[] = {1, 1, 1, 1, 3, 3};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(decode(order[i]).record.srcport, expected[i]) << i;
    EXPECT_EQ(tsUs(order[0]), kT0);
}

TEST(FlowPlayer, FramesDecodeToTheFlowWithItsBeamOpenedAndClosed) {
    cFlowPlayer player{cFlowPlayer::Options()};
    FlowRecord tcp = flow("192.0.2.1", "198.51.100.7", 40000, 443, 6, kSyn | kAck | kPsh | kFin);
    tcp.packets = 4;
    tcp.octets = 4 * 1500;
    player.add(exporter(1), tcp, kT0);
    std::vector<FeedFrame> frames = drain(player, kT0);
    ASSERT_EQ(frames.size(), 4u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const DecodedFrame d = decode(frames[i]);
        ASSERT_EQ(d.outcome, FrameOutcome::Packet) << i;
        EXPECT_EQ(d.record.src, "192.0.2.1");
        EXPECT_EQ(d.record.dst, "198.51.100.7");
        EXPECT_EQ(d.record.srcport, 40000);
        EXPECT_EQ(d.record.dstport, 443);
        EXPECT_EQ(d.record.tcp, 1);
        EXPECT_TRUE(d.recorded);
        EXPECT_EQ(d.startsBeam, i == 0) << i;
        EXPECT_EQ(d.endsBeam, i == 3) << i;
        EXPECT_EQ(frames[i].header.len, 1500u);
    }
    EXPECT_EQ(decode(frames[1]).tcpFlags, kAck | kPsh);

    // One packet that opened and closed its flow; a reset flow ends with RST.
    FlowRecord single = tcp;
    single.packets = 1;
    single.tcpFlags = kSyn | kFin;
    player.add(exporter(1), single, kT0);
    FlowRecord reset = tcp;
    reset.tcpFlags = kAck | kRst;
    player.add(exporter(1), reset, kT0);
    frames = drain(player, kT0);
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_TRUE(decode(frames[0]).startsBeam);
    EXPECT_TRUE(decode(frames[0]).endsBeam);
    EXPECT_FALSE(decode(frames[1]).startsBeam);
    EXPECT_EQ(decode(frames[4]).tcpFlags, kRst);

    FlowRecord udp6 = flow("2001:db8::1", "2001:db8::2", 5353, 53, 17);
    udp6.octets = 20;  // shorter than its headers: as long as they are
    FlowRecord icmp = flow("10.0.0.1", "10.0.0.2", 0, 0x0800, 1);
    FlowRecord tcp6 = flow("2001:db8::a", "2001:db8::b", 1234, 22, 6, kAck);
    tcp6.octets = 100'000;  // longer than a frame can be
    player.add(exporter(1), udp6, kT0);
    player.add(exporter(1), icmp, kT0);
    player.add(exporter(1), tcp6, kT0);
    frames = drain(player, kT0);
    ASSERT_EQ(frames.size(), 3u);
    DecodedFrame d = decode(frames[0]);
    ASSERT_EQ(d.outcome, FrameOutcome::Packet);
    EXPECT_EQ(d.version, 6);
    EXPECT_EQ(d.record.src, "2001:db8::1");
    EXPECT_EQ(d.record.dst, "2001:db8::2");
    EXPECT_EQ(d.record.udp, 1);
    EXPECT_EQ(d.record.srcport, 5353);
    EXPECT_EQ(d.record.dstport, 53);
    EXPECT_EQ(frames[0].header.len, 14u + 40 + 8);
    d = decode(frames[1]);
    ASSERT_EQ(d.outcome, FrameOutcome::Packet);
    EXPECT_EQ(d.record.icmp, 1);
    EXPECT_EQ(frames[1].bytes[34], 8);  // echo request: type 8, code 0
    EXPECT_EQ(frames[1].bytes[35], 0);
    d = decode(frames[2]);
    ASSERT_EQ(d.outcome, FrameOutcome::Packet);
    EXPECT_EQ(d.record.dst, "2001:db8::b");
    EXPECT_EQ(d.record.dstport, 22);
    EXPECT_TRUE(d.recorded);
    EXPECT_EQ(frames[2].header.len, 65'535u);
}

TEST(FlowPlayer, SilentOpenBeamIsClosedByABareResetAfterTheTimeout) {
    cFlowPlayer::Options options;
    options.flowTimeoutMs = 10'000;
    cFlowPlayer player(options);
    FlowRecord syn = flow("10.0.0.1", "10.0.0.2", 40000, 80, 6, kSyn | kAck);
    player.add(exporter(1), syn, kT0);
    ASSERT_EQ(drain(player, kT0).size(), 1u);
    EXPECT_EQ(player.nextDueUs(), kT0 + 10 * kSecond);

    // A record of the other direction refreshes it.
    FlowRecord reply = flow("10.0.0.2", "10.0.0.1", 80, 40000, 6, kAck);
    player.add(exporter(1), reply, kT0 + 5 * kSecond);
    ASSERT_EQ(drain(player, kT0 + 5 * kSecond).size(), 1u);
    EXPECT_EQ(player.nextDueUs(), kT0 + 15 * kSecond);
    EXPECT_TRUE(drain(player, kT0 + 15 * kSecond - 1).empty());
    std::vector<FeedFrame> closing = drain(player, kT0 + 15 * kSecond);
    ASSERT_EQ(closing.size(), 1u);
    EXPECT_EQ(closing[0].weight, 0u);
    EXPECT_EQ(tsUs(closing[0]), kT0 + 15 * kSecond);
    EXPECT_EQ(closing[0].header.len, 54u);
    DecodedFrame d = decode(closing[0]);
    ASSERT_EQ(d.outcome, FrameOutcome::Packet);
    EXPECT_EQ(d.record.src, "10.0.0.1");  // as it opened
    EXPECT_EQ(d.record.srcport, 40000);
    EXPECT_EQ(d.record.dstport, 80);
    EXPECT_EQ(d.tcpFlags, kRst);
    EXPECT_TRUE(d.endsBeam);
    EXPECT_FALSE(d.recorded);
    EXPECT_EQ(player.totals().timedOut, 1u);
    EXPECT_EQ(player.nextDueUs(), INT64_MAX);

    // IPv6; a flow spread longer than its timeout is closed after its last frame only; a flow
    // whose record ends it is not closed again.
    FlowRecord syn6 = flow("2001:db8::1", "2001:db8::2", 40000, 443, 6, kSyn);
    syn6.packets = 3;
    syn6.endMs = 30'000;
    player.add(exporter(1), syn6, kT0);
    FlowRecord ended = flow("10.0.0.5", "10.0.0.6", 1, 2, 6, kSyn);
    player.add(exporter(1), ended, kT0);
    ended.tcpFlags = kFin | kAck;
    player.add(exporter(1), ended, kT0 + kSecond);
    std::vector<FeedFrame> frames = drain(player, kT0 + 100 * kSecond);
    ASSERT_EQ(frames.size(), 3u + 2 + 1);
    const FeedFrame& rst6 = frames.back();
    EXPECT_EQ(tsUs(rst6), kT0 + 30 * kSecond);
    EXPECT_EQ(rst6.header.len, 14u + 40 + 20);
    d = decode(rst6);
    ASSERT_EQ(d.outcome, FrameOutcome::Packet);
    EXPECT_EQ(d.record.src, "2001:db8::1");
    EXPECT_TRUE(d.endsBeam);
    EXPECT_FALSE(d.recorded);
    EXPECT_EQ(player.totals().timedOut, 2u);
}

TEST(FlowPlayer, TimeoutLearnedPerExporterFromGapsUnlessSet) {
    // Exporter 1 reports a long flow again after 30 s (its beam timed out in between);
    // exporter 2 only after half a second, which teaches nothing.
    auto teach = [](cFlowPlayer& player) {
        FlowRecord longFlow = flow("10.0.0.1", "10.0.0.2", 40000, 22, 6, kSyn);
        player.add(exporter(1), longFlow, kT0);
        player.add(exporter(2), longFlow, kT0);
        longFlow.tcpFlags = kAck;
        player.add(exporter(2), longFlow, kT0 + kSecond / 2);
        drain(player, kT0 + 20 * kSecond);
        player.add(exporter(1), longFlow, kT0 + 30 * kSecond);
        drain(player, kT0 + 30 * kSecond);
    };
    const std::int64_t t1 = kT0 + 100 * kSecond;
    const FlowRecord opened = flow("10.0.0.3", "10.0.0.4", 40001, 22, 6, kSyn);

    cFlowPlayer::Options options;
    options.defaultTimeoutMs = 10'000;
    cFlowPlayer player(options);
    teach(player);
    player.add(exporter(1), opened, t1);
    player.add(exporter(2), opened, t1);
    drain(player, t1);
    EXPECT_EQ(player.nextDueUs(), t1 + 10 * kSecond);
    ASSERT_EQ(drain(player, t1 + 10 * kSecond).size(), 1u);
    EXPECT_EQ(player.nextDueUs(), t1 + 45 * kSecond);  // 1.5 x 30 s
    EXPECT_TRUE(drain(player, t1 + 45 * kSecond - 1).empty());

    // Learned shorter than the default: a beam queued before is not closed in the past, behind
    // frames already released.
    cFlowPlayer shorter{cFlowPlayer::Options()};
    FlowRecord before = flow("10.0.0.5", "10.0.0.6", 40002, 22, 6, kSyn);
    FlowRecord quick = flow("10.0.0.7", "10.0.0.8", 40003, 22, 6, kSyn);
    shorter.add(exporter(1), before, kT0);
    shorter.add(exporter(1), quick, kT0 + 50 * kSecond);
    drain(shorter, kT0 + 50 * kSecond);
    quick.tcpFlags = kAck;
    shorter.add(exporter(1), quick, kT0 + 52 * kSecond);  // learns 3 s
    std::vector<FeedFrame> frames = drain(shorter, kT0 + 52 * kSecond);
    std::vector<FeedFrame> closing = drain(shorter, kT0 + 200 * kSecond);
    ASSERT_EQ(closing.size(), 2u);
    EXPECT_EQ(tsUs(closing[0]), kT0 + 55 * kSecond);
    EXPECT_EQ(decode(closing[0]).record.srcport, 40003);
    EXPECT_GE(tsUs(closing[1]), tsUs(frames.back()));
    EXPECT_EQ(decode(closing[1]).record.srcport, 40002);

    options.flowTimeoutMs = 5'000;
    cFlowPlayer overridden(options);
    teach(overridden);
    overridden.add(exporter(1), opened, t1);
    drain(overridden, t1);
    EXPECT_EQ(overridden.nextDueUs(), t1 + 5 * kSecond);
}

TEST(FlowPlayer, ScheduleAndOpenBeamsStayBounded) {
    cFlowPlayer::Options options;
    options.maxScheduled = 20;
    options.maxOpenBeams = 2;
    cFlowPlayer player(options);
    FlowRecord big = flow("10.0.0.1", "10.0.0.2", 1000, 80, 6, kSyn | kFin | kAck);
    big.packets = 1000;
    player.add(exporter(1), big, kT0);
    big.srcPort = 1001;
    player.add(exporter(1), big, kT0);  // room for 4 frames: they carry the whole flow
    player.add(exporter(1), big, kT0);  // none
    EXPECT_EQ(player.scheduled(), 20u);
    EXPECT_EQ(player.totals().dropped, 12u + 16);
    std::vector<FeedFrame> frames = drain(player, kT0);
    ASSERT_EQ(frames.size(), 20u);
    std::vector<FeedFrame> shrunk(frames.begin() + 16, frames.end());
    EXPECT_EQ(weights(shrunk), 1000u);
    EXPECT_TRUE(decode(shrunk.front()).startsBeam);
    EXPECT_TRUE(decode(shrunk.back()).endsBeam);
    EXPECT_EQ(player.scheduled(), 0u);

    // A third open beam closes the one due to time out first, at once.
    for (std::uint16_t port = 1; port <= 3; ++port) {
        FlowRecord syn = flow("10.0.1.1", "10.0.1.2", port, 443, 6, kSyn);
        player.add(exporter(1), syn, kT0 + port * kSecond);
    }
    frames = drain(player, kT0 + 3 * kSecond);
    ASSERT_EQ(frames.size(), 4u);
    const DecodedFrame evicted = decode(frames[3]);
    EXPECT_EQ(evicted.record.srcport, 1);
    EXPECT_TRUE(evicted.endsBeam);
    EXPECT_EQ(frames[3].weight, 0u);
    frames = drain(player, kT0 + 1000 * kSecond);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(player.totals().timedOut, 2u);
}

}  // namespace
}  // namespace tessel
