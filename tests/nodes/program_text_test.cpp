// The panel's lines about programs: a beam's program, this host's busiest programs, and what a
// replay or a flow feed says instead.
#include "nodes/program_text.h"

#include <gtest/gtest.h>

#include "core/program_table.h"
#include "nodes/connection_list.h"

namespace tessel {
namespace {

TEST(ProgramText, BeamsNameTheirProgramAndThisHostItsBusiest) {
    cProgramTable table;
    STrafficBeam beam;
    beam.source = "10.0.0.1";
    beam.destination = "10.0.0.2";
    beam.sourcePort = 40000;
    beam.destinationPort = 443;
    const auto now = cProgramTable::Clock::now();
    EXPECT_EQ(beamProgramLine(nullptr, beam), "");
    EXPECT_EQ(beamProgramLine(&table, beam), "program: not known (not captured on this host)");
    EXPECT_EQ(hostProgramLines(&table, now), "programs: not known (not captured on this host)");

    table.setLive(true);
    EXPECT_EQ(hostProgramLines(&table, now), "Top programs (1 min):\nnone seen yet");
    // The flow as the capture saw it, the answer packet first.
    const FlowEnds seen{6, "10.0.0.2", "10.0.0.1", 443, 40000};
    table.notePacket(seen, 1500, false, now);
    EXPECT_EQ(beamProgramLine(&table, beam), "program: looking...");
    table.setOwner(seen, ProgramOwner{ProgramOwner::Kind::Named, "firefox", 4242, 1000}, false);
    EXPECT_EQ(beamProgramLine(&table, beam), "program: firefox (pid 4242)");
    const FlowEnds other{17, "10.0.0.1", "10.0.0.3", 5353, 5353};
    table.notePacket(other, 2500000, false, now);
    table.setOwner(other, ProgramOwner{ProgramOwner::Kind::OtherUser, "", 0, 65534}, false);
    EXPECT_EQ(hostProgramLines(&table, now),
              "Top programs (1 min):\nanother user (uid 65534) 2.5 MB\nfirefox (pid 4242) 1.5 kB");
    beam.sourcePort = 40001;  // a connection never seen
    EXPECT_EQ(beamProgramLine(&table, beam), "program: not known");
    EXPECT_EQ(byteCountText(999), "999 B");
}

}  // namespace
}  // namespace tessel
