// The table of flows and their programs: one record per flow whichever way its packets go, the
// last minute of each program, a name never taken back, and look-ups tried again a bounded
// number of times.
#include "core/program_table.h"

#include <gtest/gtest.h>

namespace tessel {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using Kind = ProgramOwner::Kind;

FlowEnds flow(int port, int protocol = 6) {
    return FlowEnds{protocol, "10.0.0.1", "10.0.0.2", port, 80};
}
FlowEnds reversed(const FlowEnds& e) {
    return FlowEnds{e.protocol, e.destination, e.source, e.destinationPort, e.sourcePort};
}

TEST(ProgramTable, CountsEachProgramsLastMinuteAndKeepsANameOnceFound) {
    cProgramTable table;
    const auto t0 = cProgramTable::Clock::time_point() + seconds(1000);
    EXPECT_TRUE(table.notePacket(flow(1), 100, false, t0));
    EXPECT_FALSE(table.notePacket(reversed(flow(1)), 900, false, t0));  // the same flow
    EXPECT_TRUE(table.notePacket(flow(1, 17), 1, false, t0));           // UDP is another flow
    EXPECT_TRUE(table.notePacket(flow(2), 3000, false, t0));
    EXPECT_TRUE(table.notePacket(flow(3), 5000, false, t0));
    EXPECT_TRUE(table.notePacket(flow(4), 99999, false, t0));
    const ProgramOwner curl{Kind::Named, "curl", 42, 0};
    table.setOwner(reversed(flow(1)), curl, false);
    table.setOwner(flow(2), curl, false);
    table.setOwner(flow(3), ProgramOwner{Kind::OtherUser, "", 0, 65534}, false);
    table.setOwner(flow(4), ProgramOwner{Kind::NotKnown, "", 0, 0}, true);

    std::vector<ProgramUse> top = table.busiest(t0 + seconds(5), 3);
    ASSERT_EQ(top.size(), 2u) << "flows without a known owner are not a program";
    EXPECT_EQ(top[0].owner.kind, Kind::OtherUser);
    EXPECT_EQ(top[0].bytes, 5000u);
    EXPECT_EQ(top[1].owner.name, "curl");  // both of its flows
    EXPECT_EQ(top[1].bytes, 4000u);
    EXPECT_EQ(top[1].packets, 3u);
    EXPECT_EQ(ownerText(top[1].owner), "curl (pid 42)");
    EXPECT_EQ(ownerText(top[0].owner), "another user's program (uid 65534)");
    EXPECT_EQ(table.busiest(t0 + seconds(5), 1).size(), 1u);

    // A later look-up that finds the socket closed does not take the name back.
    table.setOwner(flow(1), ProgramOwner{Kind::NotKnown, "", 0, 0}, false);
    EXPECT_EQ(table.ownerOf(flow(1)).name, "curl");
    EXPECT_EQ(table.ownerOf(flow(9)).kind, Kind::NotKnown);  // never seen

    // Traffic older than a minute no longer counts; the open TCP flows are still kept.
    table.notePacket(flow(2), 10, false, t0 + seconds(65));
    top = table.busiest(t0 + seconds(65), 3);
    ASSERT_EQ(top.size(), 1u);
    EXPECT_EQ(top[0].bytes, 10u);
    EXPECT_EQ(table.ownerOf(flow(3)).uid, 65534u);

    const ProgramCounts c = table.counts();
    EXPECT_EQ(c.flows, 5u);
    EXPECT_EQ(c.named, 2u);
    EXPECT_EQ(c.otherUser, 1u);
    EXPECT_EQ(c.notKnown, 1u);
}

TEST(ProgramTable, TriesUnknownAndDroppedLookUpsAgainABoundedNumberOfTimes) {
    cProgramTable table;
    const auto t0 = cProgramTable::Clock::time_point() + seconds(1000);
    table.notePacket(flow(1), 60, false, t0);  // its look-up was dropped: still pending
    table.notePacket(flow(2), 60, false, t0);
    table.setOwner(flow(2), ProgramOwner{Kind::NotKnown, "", 0, 0}, true);
    table.notePacket(flow(3), 60, false, t0);
    table.setOwner(flow(3), ProgramOwner{Kind::NotKnown, "", 0, 0}, false);  // a stranger's
    EXPECT_EQ(table.unresolved(t0 + milliseconds(100), 10).size(), 1u) << "pending for 100 ms";
    std::size_t tries = 1;
    for (std::size_t n; (n = table.unresolved(t0 + seconds(2), 10).size()) > 0;) tries += n;
    EXPECT_EQ(tries, 2u * cProgramTable::kAttempts);
    // A quiet flow is not tried at all.
    table.notePacket(flow(4), 60, false, t0);
    EXPECT_TRUE(table.unresolved(t0 + seconds(30), 10).empty());
}

TEST(ProgramTable, ForgetsClosedFlowsAndRefusesPastItsLimit) {
    cProgramTable table;
    const auto t0 = cProgramTable::Clock::time_point() + seconds(1000);
    table.notePacket(flow(1), 60, true, t0);                  // closed
    table.notePacket(flow(2), 60, false, t0);                 // open
    table.notePacket(flow(3), 60, false, t0 + seconds(200));  // sweeps
    EXPECT_TRUE(table.notePacket(flow(1), 60, false, t0 + seconds(200))) << "forgotten";
    EXPECT_FALSE(table.notePacket(flow(2), 60, false, t0 + seconds(200))) << "still open";
    for (int i = 0; i < static_cast<int>(cProgramTable::kFlowLimit) + 10; ++i)
        table.notePacket(FlowEnds{17, "10.1.0.1", "10.1.0.2", i, 53}, 1, false, t0 + seconds(200));
    EXPECT_GT(table.counts().refused, 0u);
}

}  // namespace
}  // namespace tessel
