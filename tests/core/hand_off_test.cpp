// The channel from the worker threads to the main thread: what each kind of value does when its
// part is full, and that a producer thread's values arrive whole and in order.
#include "core/hand_off.h"

#include <gtest/gtest.h>

#include <thread>

namespace tessel {
namespace {

BeamEvent beam(bool start, int port) { return BeamEvent{start, "a", "b", port, 1}; }

TEST(HandOff, AStalledMainThreadKeepsBeamEndsLongerThanStarts) {
    HandOffChannel channel;
    for (std::size_t i = 0; i < HandOffChannel::kBeamStartLimit; ++i)
        channel.pushBeam(beam(true, int(i)));
    channel.pushBeam(beam(true, -1));  // over the start limit: dropped
    channel.pushBeam(beam(false, 7));  // still taken
    EXPECT_EQ(channel.droppedBeamEvents(), 1u);
    std::vector<BeamEvent> taken = channel.drain(false).beams;
    ASSERT_EQ(taken.size(), HandOffChannel::kBeamStartLimit + 1);
    EXPECT_FALSE(taken.back().start);
    EXPECT_EQ(taken.back().sourcePort, 7);
    EXPECT_EQ(taken[5].sourcePort, 5);  // in order
    channel.pushBeam(beam(true, 1));    // drained: starts are taken again
    EXPECT_EQ(channel.drain(false).beams.size(), 1u);
    for (std::size_t i = 0; i < HandOffChannel::kBeamHardLimit + 3; ++i)
        channel.pushBeam(beam(false, 1));
    EXPECT_EQ(channel.drain(false).beams.size(), HandOffChannel::kBeamHardLimit);
}

TEST(HandOff, MessagesKeepTheNewestAndRecordsWaitForTheIntelPass) {
    HandOffChannel channel;
    for (std::size_t i = 0; i < HandOffChannel::kMessageLimit + 2; ++i)
        channel.pushMessage("m" + std::to_string(i));
    channel.pushRecords(std::vector<TrafficRecord>(3));
    HandOffBatch frame = channel.drain(false);
    ASSERT_EQ(frame.messages.size(), HandOffChannel::kMessageLimit);
    EXPECT_EQ(frame.messages.front(), "m2");  // the two oldest are gone
    EXPECT_EQ(frame.messages.back(), "m" + std::to_string(HandOffChannel::kMessageLimit + 1));
    EXPECT_EQ(channel.droppedMessages(), 2u);
    EXPECT_TRUE(frame.records.empty());  // only the intel pass takes them
    EXPECT_EQ(channel.recordRoom(), HandOffChannel::kRecordLimit - 3);
    channel.reportIntelFolderMissing();
    EXPECT_FALSE(channel.drain(false).intelFolderMissing);
    HandOffBatch pass = channel.drain(true);
    EXPECT_EQ(pass.records.size(), 3u);
    EXPECT_TRUE(pass.intelFolderMissing);
}

TEST(HandOff, AWorkersValuesArriveWholeAndInOrder) {
    HandOffChannel channel;
    constexpr int kEach = 20000;
    std::thread worker([&channel] {
        for (int i = 0; i < kEach; ++i) {
            channel.pushBeam(beam(i % 2 == 0, i));
            TrafficRecord a;
            a.srcport = i;
            channel.pushRecords({a});
        }
    });
    int beams = 0, records = 0;
    bool ordered = true;
    auto take = [&](bool withRecords) {
        HandOffBatch b = channel.drain(withRecords);
        for (const BeamEvent& e : b.beams) ordered = ordered && e.sourcePort == beams++;
        for (const TrafficRecord& a : b.records) ordered = ordered && a.srcport == records++;
    };
    for (int frame = 0; frame < 1000000 && (beams < kEach || records < kEach); ++frame)
        take(frame % 26 == 1);
    worker.join();
    take(true);
    EXPECT_TRUE(ordered);
    EXPECT_EQ(beams, kEach);
    EXPECT_EQ(records, kEach);
}

}  // namespace
}  // namespace tessel
