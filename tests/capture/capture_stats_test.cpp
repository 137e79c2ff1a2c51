// Rate samples of the statistics feed, and the route-table / adapter look-up of discovery.
#include <gtest/gtest.h>

#include "capture/capture_handles.h"
#include "capture/net_interface.h"
#include "capture/rate_history.h"
#include "capture/stats_loop.h"

namespace tessel {
namespace {

timeval at(long sec, long usec) {
    timeval t{};
    t.tv_sec = sec;
    t.tv_usec = usec;
    return t;
}

void sample(StatsState* state, timeval when, std::uint64_t bytes) {
    u_char data[16] = {};
    for (int i = 0; i < 8; ++i) data[8 + i] = u_char(bytes >> (8 * i));
    data[0] = 99;  // the packet count is not used
    pcap_pkthdr h{};
    h.ts = when;
    h.caplen = h.len = 16;
    onStatsSample(reinterpret_cast<u_char*>(state), &h, data);
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
    // A sample whose data is cut short is ignored.
    pcap_pkthdr cut{};
    cut.ts = at(101, 0);
    cut.caplen = 12;
    u_char data[16] = {};
    onStatsSample(reinterpret_cast<u_char*>(&s), &cut, data);
    readRateHistory(&h, nullptr);
    EXPECT_EQ(h.size(), 50u);
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

TEST(AdapterConfig, PermissionErrorsAreRecognised) {
    EXPECT_TRUE(isPermissionError(
        "eth0: You don't have permission to capture on that device (socket: Operation not "
        "permitted)"));
    EXPECT_TRUE(isPermissionError("socket: Operation not permitted"));
    EXPECT_FALSE(isPermissionError("eth9: No such device exists (SIOCGIFHWADDR: No such device)"));
}

}  // namespace
}  // namespace tessel
