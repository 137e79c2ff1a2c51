// Rate samples of the statistics feed (the capture helper's lines as the statistics thread reads
// them), and the route-table / adapter look-up of discovery.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "capture/helper_feeds.h"
#include "capture/net_interface.h"
#include "capture/rate_history.h"
#include "platform/wake_signal.h"

namespace tessel {
namespace {

timeval at(long sec, long usec) {
    timeval t{};
    t.tv_sec = sec;
    t.tv_usec = usec;
    return t;
}

// What the statistics thread does with one sample.
void sample(StatsState* state, timeval when, std::uint64_t bytes) {
    std::int64_t bps = 0;
    if (statsSampleRate(state, when, bytes, &bps)) appendRateSample(bps);
}

TEST(StatsSamples, RateFromDelayAndBytes) {
    StatsState s;
    std::int64_t bps = -1;
    EXPECT_FALSE(statsSampleRate(&s, at(100, 500000), 5000, &bps));  // no predecessor
    EXPECT_EQ(bps, -1);
    EXPECT_TRUE(statsSampleRate(&s, at(101, 500000), 125000, &bps));
    EXPECT_EQ(bps, 1000000);
    EXPECT_FALSE(statsSampleRate(&s, at(101, 500000), 125000, &bps));  // zero delay: skipped
    EXPECT_TRUE(statsSampleRate(&s, at(102, 0), 1, &bps));             // 0.5 s, microseconds borrow
    EXPECT_EQ(bps, 16);
    EXPECT_TRUE(statsSampleRate(&s, at(102, 3), 1, &bps));  // truncated toward zero
    EXPECT_EQ(bps, 2666666);
    // Huge counts are formed in 64 bits: 2^40 bytes in one second.
    EXPECT_TRUE(statsSampleRate(&s, at(103, 3), std::uint64_t(1) << 40, &bps));
    EXPECT_EQ(bps, std::int64_t(8) << 40);
}

TEST(StatsSamples, HistoryKeepsFiftyAndThePeakNeverFalls) {
    resetRateHistory();
    StatsState s;
    sample(&s, at(10, 0), 777);  // first: recorded, not appended
    std::vector<std::int32_t> h;
    float peak = 0;
    readRateHistory(&h, &peak);
    EXPECT_TRUE(h.empty());
    EXPECT_FLOAT_EQ(peak, 10000.0f);
    sample(&s, at(11, 0), 100);  // 800 bps: below the floor
    readRateHistory(&h, &peak);
    ASSERT_EQ(h.size(), 1u);
    EXPECT_EQ(h[0], 800);
    EXPECT_FLOAT_EQ(peak, 10000.0f);
    for (int i = 0; i < 51; ++i) sample(&s, at(12 + i, 0), std::uint64_t(2000 + i));
    readRateHistory(&h, &peak);
    ASSERT_EQ(h.size(), 50u);
    EXPECT_EQ(h.front(), 8 * 2001);  // 800 and the next one fell off
    EXPECT_EQ(h.back(), 8 * 2050);
    EXPECT_FLOAT_EQ(peak, 8 * 2050.0f);
    sample(&s, at(100, 0), 0);  // a 0 sample after a 37 s gap
    readRateHistory(&h, &peak);
    EXPECT_EQ(h.back(), 0);
    EXPECT_FLOAT_EQ(peak, 8 * 2050.0f);
}

// The statistics thread on two pipes standing in for the helpers: every sound line counts, a
// line that is not the helper's (however it arrives) counts for nothing, and the thread ends
// with both pipes.
TEST(StatsSamples, HelperFeedsTakeSoundLinesOnly) {
    resetRateHistory();
    int rates[2], counters[2];
    ASSERT_EQ(pipe2(rates, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(counters, O_CLOEXEC), 0);
    HelperCounters got;
    WakeSignal stop;
    std::thread feeds([&] { runHelperFeedsLoop(rates[0], counters[0], &got, stop); });
    auto put = [](int fd, const std::string& text) {
        ASSERT_EQ(write(fd, text.data(), text.size()), ssize_t(text.size()));
    };
    put(rates[1], "100 0 1 999\n");
    put(rates[1], "101 0 7 125");  // a line in two writes
    put(rates[1], "000\n100 -5 1 1\n102 0 1 x\n");
    put(counters[1], std::string(3000, ' ') + "1 2 3\n");  // far longer than any of the helper's
    put(counters[1], "4 5\n7 8 9\n");
    close(rates[1]);
    close(counters[1]);
    feeds.join();  // both pipes ended
    std::vector<std::int32_t> h;
    readRateHistory(&h, nullptr);
    EXPECT_EQ(h, std::vector<std::int32_t>{1000000});
    EXPECT_TRUE(got.known.load());
    EXPECT_EQ(got.received.load(), 7u);
    EXPECT_EQ(got.dropped.load(), 8u);
    EXPECT_EQ(got.interfaceDropped.load(), 9u);
    close(rates[0]);
    close(counters[0]);
}

// Fields: Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT
const char* kRoutes =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
    "eth1\t00000000\t0200000A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
    "eth0\t0000A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
    "eth0\t00000000\t0100A8C0\t0001\t0\t0\t0\t00000000\t0\t0\t0\n"  // not RTF_GATEWAY
    "eth0\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";

TEST(AdapterConfig, ExactNameAddressMaskAndGatewayInMemoryOrder) {
    std::vector<InterfaceAddress> ifs = {
        {"lo", "127.0.0.1", "255.0.0.0", true, {}},
        {"eth0", "192.168.0.5", "255.255.255.0", true, {}},
        {"eth1", "", "", true, {}},
    };
    AdapterConfig c = findAdapterConfig("eth0", ifs, kRoutes);
    EXPECT_TRUE(c.exists);
    EXPECT_EQ(c.address, "192.168.0.5");
    EXPECT_EQ(c.netmask, "255.255.255.0");
    EXPECT_EQ(c.gateway, "192.168.1.1");  // 0101A8C0 read as s_addr bytes: C0 A8 01 01
    AdapterConfig none = findAdapterConfig("lo", ifs, kRoutes);
    EXPECT_TRUE(none.exists);
    EXPECT_EQ(none.gateway, "");
    // Address empty but gateway set: discovery adds nothing for it.
    AdapterConfig bare = findAdapterConfig("eth1", ifs, kRoutes);
    EXPECT_TRUE(bare.exists);
    EXPECT_EQ(bare.address, "");
    EXPECT_EQ(bare.gateway, "10.0.0.2");
    EXPECT_FALSE(findAdapterConfig("ETH0", ifs, kRoutes).exists);
    EXPECT_FALSE(findAdapterConfig("eth", ifs, kRoutes).exists);
}

}  // namespace
}  // namespace tessel
