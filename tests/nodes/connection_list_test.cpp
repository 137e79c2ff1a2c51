#include "nodes/connection_list.h"

#include <gtest/gtest.h>

namespace tessel {
namespace {

TEST(ConnectionListTest, LookupsByAddressPairAndIdentifier) {
    beamList.clear();
    EXPECT_EQ(nextBeamPickId(), 1999 | 0x02000000);
    EXPECT_FALSE(findConnection("10.0.0.1", "10.0.0.2", 1025, 80));
    for (const char* source : {"10.0.0.1", "10.0.0.3", "10.0.0.4"}) {
        STrafficBeam b;
        b.source = source;
        b.destination = "10.0.0.2";
        b.sourcePort = 1025;
        b.destinationPort = 80;
        b.pickId = nextBeamPickId();
        ASSERT_TRUE(beamList.append(b));
    }
    EXPECT_EQ(beamList.find("10.0.0.1", "10.0.0.2", 1025, 80), &beamList.at(0));
    EXPECT_EQ(beamList.find("10.0.0.2", "10.0.0.1", 80, 1025), &beamList.at(0));
    EXPECT_FALSE(findConnection("10.0.0.1", "10.0.0.2", 80, 1025));
    EXPECT_FALSE(findConnection("010.0.0.1", "10.0.0.2", 1025, 80));
    EXPECT_EQ(beamList.find("10.0.0.2", "10.0.0.3", 80, 1025), &beamList.at(1));
    EXPECT_FALSE(beamList.append(beamList.at(1)));  // each connection once
    EXPECT_TRUE(isBeamEndpoint("10.0.0.3"));
    EXPECT_TRUE(isBeamEndpoint("10.0.0.2"));
    EXPECT_FALSE(isBeamEndpoint("10.0.0.5"));

    // After a removal the next identifier repeats one still listed; look-ups take the first.
    EXPECT_FALSE(beamList.removeDirected("10.0.0.2", "10.0.0.1", 80, 1025, nullptr));
    ASSERT_TRUE(beamList.removeDirected("10.0.0.1", "10.0.0.2", 1025, 80, nullptr));
    EXPECT_FALSE(isBeamEndpoint("10.0.0.1"));
    EXPECT_TRUE(isBeamEndpoint("10.0.0.2"));
    EXPECT_EQ(nextBeamPickId(), 2001 | 0x02000000);
    STrafficBeam repeat = beamList.at(1);
    repeat.sourcePort = 1026;
    ASSERT_TRUE(beamList.append(repeat));
    EXPECT_EQ(beamList.findByPickId(2001 | 0x02000000), &beamList.at(1));
    EXPECT_EQ(beamList.findByPickId(1999 | 0x02000000), nullptr);
    beamList.clear();
}

}  // namespace
}  // namespace tessel
