#include "scene/rate_graph.h"

#include <gtest/gtest.h>

#include "capture/rate_history.h"

namespace tessel {
namespace {
using irr::core::position2di;

TEST(RateGraphTest, LinesFromSamples) {
    EXPECT_TRUE(rateGraphLines({}, 10000.0f, 800, 600).empty());
    auto one = rateGraphLines({0}, 1.0e9f, 800, 600);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].start, position2di(580, 589));
    EXPECT_EQ(one[0].end, position2di(584, 589));  // 0 stays on the base line

    // rateMax is 100 px up, half of it 50; truncation toward zero (99.995 -> 99, 0.025 -> 0).
    auto lines = rateGraphLines({20000, 10000, 19999, 5}, 20000.0f, 800, 600);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].end, position2di(584, 489));
    EXPECT_EQ(lines[1].start, lines[0].end);
    EXPECT_EQ(lines[1].end, position2di(588, 539));
    EXPECT_EQ(lines[2].end, position2di(592, 490));
    EXPECT_EQ(lines[3].end, position2di(596, 589));
}

TEST(RateGraphTest, HistoryKeepsFiftyAndAPeakThatNeverFalls) {
    std::vector<std::int32_t> samples;
    float peak = 0;
    appendRateSample(9000);
    readRateHistory(&samples, &peak);
    EXPECT_EQ(peak, 10000.0f);
    appendRateSample(25000);
    for (int i = 0; i < 60; ++i) appendRateSample(i);
    readRateHistory(&samples, &peak);
    ASSERT_EQ(samples.size(), 50u);
    EXPECT_EQ(samples.front(), 10);
    EXPECT_EQ(peak, 25000.0f);
    appendRateSample((std::int64_t(1) << 32) + 7);  // low 32 bits kept as the sample
    readRateHistory(&samples, &peak);
    EXPECT_EQ(samples.back(), 7);
    EXPECT_GT(peak, 4.0e9f);
}

}  // namespace
}  // namespace tessel
